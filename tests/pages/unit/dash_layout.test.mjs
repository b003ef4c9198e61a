// Layout arithmetic of the dashboard editor imported directly: width sharing, the chart select,
// reading stored cells and serialising the editor's rows; and the query list's markup.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { getQueryDropdown, getQueryListItems } from '../../../pages/dashboards/editor.js';
import * as layout from '../../../pages/dashboards/layout_rules.js';
import * as rules from '../../../pages/dashboards/rules.js';
import { setSavedQueries } from '../../../pages/dashboards/state.js';

const ctx = { ...rules, ...layout };

test('shareWidths: the cell keeps one column per neighbour and the rest is shared by proportion', () => {
  const cases = [
    [[6, 6], 0, 1, [7, 5]],
    [[6, 6], 0, -1, [5, 7]],
    [[4, 4, 4], 0, 1, [5, 4, 4]], // round(3.5) = 4 for each neighbour
    [[6, 6, 6], 0, -1, [5, 4, 4]],
    [[6, 6, 6], 2, 1, [3, 3, 7]], // 5 left for two neighbours: round(2.5) = 3 each
    [[9, 1, 1, 1], 0, 1, [9, 1, 1, 1]], // four cells: never past 9
    [[1, 1, 1, 9], 0, 1, [2, 1, 1, 8]],
    [[12], 0, 1, [12]],
    [[1], 0, -1, [1]],
    [['7', 'x', '0'], 0, 1, [8, 2, 2]], // unreadable or zero widths count as 6
  ];
  for (const [widths, index, delta, want] of cases) {
    assert.deepEqual(ctx.shareWidths(widths, index, delta), want, JSON.stringify([widths, index, delta]));
  }
  // A lone cell walks the whole range.
  let w = [1];
  for (let i = 2; i <= 12; i++) assert.deepEqual((w = ctx.shareWidths(w, 0, 1)), [i]);
  // Widening a cell among four stops at 9 however often it is pressed.
  let row = [3, 3, 3, 3];
  for (let i = 0; i < 10; i++) row = ctx.shareWidths(row, 1, 1);
  assert.deepEqual(row, [1, 9, 1, 1]);
});

test('shareWidths: a row of more than twelve cells never gets a width below one', () => {
  const row = new Array(14).fill(1);
  for (const delta of [1, -1]) {
    const out = ctx.shareWidths(row, 3, delta);
    assert.equal(out.length, 14);
    assert.ok(out.every((x) => Number.isInteger(x) && x >= 1 && x <= 12), JSON.stringify(out));
  }
  assert.equal(ctx.shareWidths(new Array(13).fill(6), 0, -1)[0], 1);
});

test('cell width styles and width read from the dataset', () => {
  assert.equal(ctx.cellMaxWidth(6), 'calc(50% - 20px)');
  assert.equal(ctx.cellMaxWidth(12), 'calc(100% - 20px)');
  assert.equal(ctx.cellMaxWidth(3), 'calc(25% - 20px)');
  for (const [v, want] of [['7', 7], [undefined, 6], ['', 6], ['0', 6], ['abc', 6], ['15', 12], ['-2', 1], [4, 4]]) {
    assert.equal(ctx.widthFromDataset(v), want, String(v));
  }
});

// The options of a chart select: [value, label, selected] each.
function options(html) {
  return [...html.matchAll(/<option value="([^"]*)"( selected)?>([^<]*)<\/option>/g)].map((m) => [m[1], m[3], !!m[2]]);
}

test('getChartOptions: not aggregated, aggregated and not looked at yet', () => {
  for (const asked of ['bar', 'table', 'paginated', undefined]) {
    assert.deepEqual(options(ctx.getChartOptions(asked, false)), [['paginated', 'Paginated Table', true]]);
  }
  const agg = options(ctx.getChartOptions('paginated', true));
  assert.deepEqual(agg.map((o) => o[0]), ['table', 'bar', 'line', 'area', 'pie', 'bar-split', 'line-split', 'area-split']);
  assert.deepEqual(agg.filter((o) => o[2]).map((o) => o[0]), ['table']);
  assert.deepEqual(options(ctx.getChartOptions('pie', true)).filter((o) => o[2]).map((o) => o[0]), ['pie']);
  const all = options(ctx.getChartOptions('line'));
  assert.deepEqual(all.map((o) => o[1]), ['Table', 'Paginated Table', 'Bar Chart', 'Line Chart', 'Area Chart', 'Pie Chart',
    'Bar Chart, a series per 2nd-column value', 'Line Chart, a line per 2nd-column value', 'Area Chart, an area per 2nd-column value']);
  assert.deepEqual(all.filter((o) => o[2]).map((o) => o[0]), ['line']);
  // An unknown request falls back to the first option.
  assert.deepEqual(options(ctx.getChartOptions('donut')).filter((o) => o[2]).map((o) => o[0]), ['table']);
});

test('stored layout → editor cells → stored layout keeps every field and fills in defaults', () => {
  const layout = [
    { cells: [
      { name: 'Sales by region', query: 'q "one"\\\n', chartType: 'bar', flex: 8 },
      { name: 'Raw', query: '', chartType: 'paginated', flex: 4 },
    ] },
    { cells: [{ name: '<b>x</b>', query: 'q2', chartType: 'pie', flex: 12 }] },
  ];
  const rows = layout.map((r) => ctx.storedRowCells(r));
  assert.deepEqual(ctx.serializeRows(rows), layout);
  assert.deepEqual(Object.keys(ctx.serializeRows(rows)[0].cells[0]), ['name', 'query', 'chartType', 'flex']);

  // Missing or odd fields, as a hand-edited file may hold them.
  const odd = [{}, { flex: 0 }, { flex: 15, chartType: 'donut' }, { flex: -3, name: 5 }, null, { flex: '7' }];
  const cells = odd.map((c) => ctx.storedCellData(c));
  assert.deepEqual(cells.map((c) => c.flex), [6, 6, 12, 1, 6, 7]);
  assert.deepEqual(cells.map((c) => c.chartType), ['table', 'table', 'table', 'table', 'table', 'table']);
  assert.deepEqual(cells[0], { title: '', query: '', chartType: 'table', flex: 6 });
  assert.deepEqual(ctx.serializeRows([cells])[0].cells[0], { name: 'Untitled', query: '', chartType: 'table', flex: 6 });
  for (const row of [{}, { cells: 'x' }, null, { cells: null }]) assert.deepEqual(ctx.storedRowCells(row), []);
});

test('serializeRows: titles trimmed or "Untitled", rows without cells dropped, widths read back', () => {
  const out = ctx.serializeRows([
    [],
    [{ title: '  Revenue \t', query: 'q', chartType: 'line', flex: '5' }, { title: '   ', query: undefined, chartType: undefined, flex: 'x' }],
    [],
    [{ title: 'A', query: 'q', chartType: '', flex: '0' }],
  ]);
  assert.deepEqual(out, [
    { cells: [
      { name: 'Revenue', query: 'q', chartType: 'line', flex: 5 },
      { name: 'Untitled', query: '', chartType: 'table', flex: 6 },
    ] },
    { cells: [{ name: 'A', query: 'q', chartType: 'table', flex: 6 }] },
  ]);
  assert.deepEqual(ctx.serializeRows([[], []]), []);
});

test('queryListNames: case-insensitive substring in store order, records without a name skipped', () => {
  const records = [{ name: 'Sales Total', sql: '' }, { name: 'sales by day' }, { sql: 'x' }, null, { name: 7 }, { name: 'Costs' }];
  assert.deepEqual(ctx.queryListNames(records, 'SALES'), ['Sales Total', 'sales by day']);
  assert.deepEqual(ctx.queryListNames(records, ''), ['Sales Total', 'sales by day', 'Costs']);
  assert.deepEqual(ctx.queryListNames(records, 'zzz'), []);
  assert.deepEqual(ctx.queryListNames(undefined, ''), []);
});

// Undoes the HTML escaping of an attribute value, as the browser's parser does.
function unescapeAttr(text) {
  const map = { amp: '&', lt: '<', gt: '>', quot: '"', '#39': "'", '#13': '\r' };
  return text.replace(/&(amp|lt|gt|quot|#39|#13);/g, (_, k) => map[k]);
}

test('query list rows: hostile names show as text and reach dashSelectQuery intact', () => {
  const names = ['a "b" \'c\'', 'back\\slash', 'line\r\nbreak', '<img src=x onerror=alert(1)>', '</div><script>x</script>', '&amp;'];
  setSavedQueries(names.map((name) => ({ name, sql: 'SELECT 1' })));
  const html = getQueryListItems(names[2], '');
  const rows = [...html.matchAll(/<div class="query-dropdown-item( selected)?" data-name="([^"]*)" data-click="([^"]*)">([\s\S]*?)<\/div>/g)];
  assert.equal(rows.length, names.length);
  // A click hands dashSelectQuery the row's data-name, read back as the attribute's text.
  rows.forEach((m, i) => {
    assert.equal(unescapeAttr(m[2]), names[i]);
    assert.equal(m[3], 'dashSelectQuery');
    assert.ok(!/<(img|script)/.test(m[4]), m[4]);
    assert.equal(!!m[1], i === 2);
  });
  assert.equal(getQueryListItems('', 'nothing like it'), '<div class="query-dropdown-empty">No queries found</div>');
  // The dropdown's label and hidden value are escaped too.
  const dd = getQueryDropdown(names[3]);
  assert.ok(!dd.includes('<img'), dd);
  assert.ok(getQueryDropdown('').includes('— Select Query —'));
});
