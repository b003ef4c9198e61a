// Dashboard charts in the real page, read from the chart library's model and drawn texts: the
// four charts in panels and in the editor's small previews (series, colours, tooltips, plot
// height, texts apart, round ticks), many categories and slices, following the window's size,
// the guards for one-column and text-only answers, and a click on the sample data.
// With PLINTHOS_SCREENSHOTS=<folder> the sample-data test writes dashboard.png and
// dashboard-editor.png there.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { withApp, DEV, runEngine } from './harness.mjs';
import { storeQuery, storeDashboard, content, panelText, openDashboard } from './dashboard_helpers.mjs';
import { chartView, overlapping, pointAt, tipText, roundStep, waitDrawn } from './chart_helpers.mjs';

const PALETTE = ['#cba6f7', '#89b4fa', '#a6e3a1', '#fab387'];
const LONG = 'Gamma ray burst';
const SALES = `cat,a,b,note\nAlpha,1000,6500.5,x\nBeta,5000,3250.25,y\n${LONG},7000,1000,z\n`;
const ITEMS = Array.from({ length: 25 }, (_, i) => `item ${String(i + 1).padStart(2, '0')} long name`);
const ITEMS_CSV = 'label,v\n' + ITEMS.map((l, i) => `${l},${i + 10}`).join('\n') + '\n';
const MIN_PLOT = 120;

function checkReadable(view, what) {
  assert.deepEqual(overlapping(view.texts), [], `${what}: texts apart`);
  for (const t of view.texts) assert.ok(t.x >= -0.5 && t.x + t.w <= view.w + 0.5, `${what}: ${t.text} inside`);
  if (!view.plot) return;
  assert.ok(view.plot.height >= MIN_PLOT, `${what}: plot ${view.plot.height}px high`);
  const steps = view.ticks.slice(1).map((t, i) => +(t - view.ticks[i]).toPrecision(12));
  assert.ok(steps.every((s) => s === steps[0] && roundStep(s)), `${what}: ticks ${view.ticks}`);
}

// Bars, lines, area and pie of the same answer; `sel(i)` is the i-th chart's element.
async function checkFourCharts(page, sel, small) {
  const what = small ? 'small' : 'panel';
  const views = [];
  for (let i = 0; i < 4; i++) {
    const view = await chartView(page, sel(i));
    checkReadable(view, `${what} ${i}`);
    views.push(view);
  }
  const [bar, line, area, pie] = views;
  assert.deepEqual(bar.series.map((s) => [s.name, s.type, s.items[0].color]), [['a', 'bar', PALETTE[0]], ['b', 'bar', PALETTE[1]]]);
  assert.deepEqual(bar.legend, ['a', 'b']);
  assert.ok(bar.texts.some((t) => t.text === 'cat'), 'the x-axis title');
  assert.deepEqual(line.series.map((s) => s.type), ['line', 'line']);
  assert.deepEqual(area.series.map((s) => s.name), ['a']);
  assert.deepEqual(pie.series[0].items.map((s) => [s.name, s.value, s.color]), [[LONG, 7000, PALETTE[0]], ['Beta', 5000, PALETTE[1]], ['Alpha', 1000, PALETTE[2]]]);
  // Where the element is now: a shown tooltip may have moved the page.
  const hover = async (i, s, r, text) => {
    await pointAt(page, sel(i), (await chartView(page, sel(i))).series[s].items[r].at);
    assert.equal(await tipText(page, text), text);
  };
  await hover(0, 1, 1, 'b\nBeta: 3,250.25');
  await hover(1, 0, 2, `a\n${LONG}: 7,000`);
  await hover(3, 0, 2, 'Alpha: 1,000 (8%)');
  await page.mouse.move(2, 2);
  assert.equal(await tipText(page, null), null, 'hidden when the pointer leaves');
  return bar;
}

test('bar, line, area and pie in panels and editor previews: series, colours, tooltips, room to read', async () => {
  await withApp({ data: { 'sales.csv': SALES } }, async ({ page, server, data }) => {
    const src = `read_csv('${path.join(data, 'sales.csv')}')`;
    await storeQuery(server, 'two', `SELECT cat, SUM(a) AS a, SUM(b) AS b, MIN(note) AS note FROM ${src} GROUP BY cat ORDER BY cat`);
    await storeQuery(server, 'one', `SELECT cat, SUM(a) AS a FROM ${src} GROUP BY cat ORDER BY cat`);
    await storeDashboard(server, 'Charts', [
      { cells: [{ name: 'Bars', query: 'two', chartType: 'bar', flex: 6 }, { name: 'Lines', query: 'two', chartType: 'line', flex: 6 }] },
      { cells: [{ name: 'Area', query: 'one', chartType: 'area', flex: 6 }, { name: 'Pie', query: 'one', chartType: 'pie', flex: 6 }] },
    ]);
    await openDashboard(page, 'Charts');
    const panels = [content(0, 0), content(0, 1), content(1, 0), content(1, 1)];
    await waitDrawn(page, panels);
    const bar = await checkFourCharts(page, (i) => panels[i], false);
    assert.equal(bar.cursor, 'pointer', 'panel charts of a plain column are clickable');

    await page.click('#editDashboardBtn');
    await page.waitForFunction(() => document.querySelectorAll('#rowsContainer .dash-cell').length === 4);
    await page.waitForSelector('#filterBarEdit', { state: 'visible' });
    const cells = await page.$$eval('#rowsContainer .dash-cell', (cs) => cs.map((c) => c.dataset.cellId));
    const previews = cells.map((id) => `#rowsContainer .dash-cell[data-cell-id="${id}"] .cell-preview`);
    await waitDrawn(page, previews);
    const small = await checkFourCharts(page, (i) => previews[i], true);
    assert.equal(small.cursor, '');
    assert.deepEqual(page.__errors || [], []);
  });
});

test('25 categories keep every bar with labels apart, a pie lists its largest slices first, and charts follow the window', async () => {
  await withApp({ data: { 'items.csv': ITEMS_CSV } }, async ({ page, server, data }) => {
    const src = `read_csv('${path.join(data, 'items.csv')}')`;
    await storeQuery(server, 'many', `SELECT label, SUM(v) AS v FROM ${src} GROUP BY label ORDER BY label`);
    await storeQuery(server, 'list', `SELECT * FROM ${src} ORDER BY label`);
    await storeDashboard(server, 'Many', [
      { cells: [{ name: 'Bars', query: 'many', chartType: 'bar', flex: 6 }, { name: 'List', query: 'list', chartType: 'paginated', flex: 6 }] },
      { cells: [{ name: 'Pie', query: 'many', chartType: 'pie', flex: 12 }] },
    ]);
    await openDashboard(page, 'Many');
    assert.equal(await panelText(page, 0, 1).then((t) => t.includes('1-10 of 25')), true);
    const sels = [content(0, 0), content(0, 1), content(1, 0)];
    const check = async (bars, pie, what) => {
      await waitDrawn(page, bars === content(0, 0) ? sels : [bars, pie]);
      const b = await chartView(page, bars);
      checkReadable(b, `${what} bars`);
      assert.equal(b.series[0].items.filter((i) => i.at.w > 0 && i.at.h > 0).length, 25, `${what}: every bar`);
      const p = await chartView(page, pie);
      checkReadable(p, `${what} pie`);
      assert.deepEqual(p.legend.slice(0, 3), [ITEMS[24], ITEMS[23], ITEMS[22]]);
      return b;
    };
    const wide = await check(content(0, 0), content(1, 0), 'panel');

    await page.setViewportSize({ width: 1000, height: 900 });
    await page.waitForFunction(([sel, before]) => {
      const chart = echarts.getInstanceByDom(document.querySelector(`${sel} .dash-chart`));
      return chart && chart.getWidth() < before - 100;
    }, [content(0, 0), wide.w]);
    await check(content(0, 0), content(1, 0), 'narrow panel');

    await page.click('#editDashboardBtn');
    await page.waitForFunction(() => document.querySelectorAll('#rowsContainer .dash-cell').length === 3);
    await page.waitForSelector('#filterBarEdit', { state: 'visible' });
    const cells = await page.$$eval('#rowsContainer .dash-cell', (cs) => cs.map((c) => c.dataset.cellId));
    const preview = (i) => `#rowsContainer .dash-cell[data-cell-id="${cells[i]}"] .cell-preview`;
    await waitDrawn(page, [0, 1, 2].map(preview));
    await check(preview(0), preview(2), 'small');
    assert.deepEqual(page.__errors || [], []);
  });
});

test('one column says "Need 2+ columns" and text alone "Nothing to chart", except in a table', async () => {
  await withApp({ data: { 'sales.csv': SALES } }, async ({ page, server, data }) => {
    const src = `read_csv('${path.join(data, 'sales.csv')}')`;
    await storeQuery(server, 'cats', `SELECT cat FROM ${src} GROUP BY cat ORDER BY cat`);
    await storeQuery(server, 'notes', `SELECT cat, MIN(note) AS note FROM ${src} GROUP BY cat ORDER BY cat`);
    const cell = (query, chartType) => ({ name: chartType, query, chartType, flex: 3 });
    await storeDashboard(server, 'Edges', [
      { cells: ['bar', 'line', 'area', 'pie'].map((t) => cell('cats', t)) },
      { cells: ['bar', 'line', 'area', 'pie'].map((t) => cell('notes', t)) },
      { cells: [cell('notes', 'table')] },
    ]);
    await openDashboard(page, 'Edges');
    for (let c = 0; c < 4; c++) {
      assert.equal(await panelText(page, 0, c), 'Need 2+ columns');
      assert.equal(await panelText(page, 1, c), 'Nothing to chart: no numeric column');
      assert.equal(await page.$eval(content(1, c), (el) => getComputedStyle(el.firstElementChild).color), 'rgb(108, 112, 134)');
    }
    assert.equal(await page.locator('.panel-content canvas').count(), 0);
    await page.waitForSelector(`${content(2, 0)} table`);
    assert.deepEqual(await page.$$eval(`${content(2, 0)} td`, (tds) => tds.map((t) => t.textContent)), ['Alpha', 'x', 'Beta', 'y', LONG, 'z']);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('sample data: a bar chart, a pie, an area chart and a paginated table, and a chart click', async () => {
  const sample = path.resolve(path.dirname(DEV), 'bucket');
  await withApp({ bucket: false, config: { bucketPath: sample } }, async ({ page, server }) => {
    const bySql = 'SELECT region, SUM(sale_amount) AS total_sales, SUM(sale_amount) FILTER (WHERE sale_amount > 100) AS ' +
      'high_value_sales FROM {path-to-files} GROUP BY region ORDER BY region';
    await storeQuery(server, 'Sales by region', bySql);
    await storeQuery(server, 'Units by category',
      'SELECT product_category, SUM(quantity) AS units FROM {path-to-files} GROUP BY product_category ORDER BY units DESC');
    await storeQuery(server, 'Monthly sales',
      "SELECT CAST(DATE_TRUNC('month', sale_date) AS DATE) AS month, SUM(sale_amount) AS sales FROM {path-to-files} GROUP BY 1 ORDER BY 1");
    await storeQuery(server, 'Latest orders',
      'SELECT order_id, sale_date, region, product, quantity, sale_amount, channel FROM {path-to-files} ORDER BY sale_date DESC, order_id');
    await storeDashboard(server, 'Sales overview', [
      { cells: [{ name: 'Sales by region', query: 'Sales by region', chartType: 'bar', flex: 7 },
        { name: 'Units by category', query: 'Units by category', chartType: 'pie', flex: 5 }] },
      { cells: [{ name: 'Monthly sales', query: 'Monthly sales', chartType: 'area', flex: 5 },
        { name: 'Latest orders', query: 'Latest orders', chartType: 'paginated', flex: 7 }] },
    ], sample, 'parquet');
    await openDashboard(page, 'Sales overview');
    const panels = [content(0, 0), content(0, 1), content(1, 0), content(1, 1)];
    await waitDrawn(page, panels);
    for (const sel of panels.slice(0, 3)) checkReadable(await chartView(page, sel), sel);
    assert.equal((await chartView(page, panels[2])).xType, 'time', 'months on a time axis');
    const src = `read_parquet('${sample}/**/*.parquet')`;
    const count = (where) => JSON.parse(runEngine(`SELECT COUNT(*) AS n FROM ${src} ${where}`, sample, true))[0].n;
    assert.equal(await page.textContent(`${panels[3]} .dash-paged-range`), `1-10 of ${count('').toLocaleString('en-US')}`);

    // A click on the first region's total bar filters the table, and the indicator shows it.
    const rows = JSON.parse(runEngine(bySql.replace('{path-to-files}', src), sample, true));
    const bars = await chartView(page, panels[0]);
    await pointAt(page, panels[0], bars.series[0].items[0].at, true);
    const expected = `1-10 of ${count(`WHERE region = '${rows[0].region}'`).toLocaleString('en-US')}`;
    await page.waitForFunction(([sel, text]) => document.querySelector(`${sel} .dash-paged-range`)?.textContent === text,
      [panels[3], expected]);
    assert.equal(await page.textContent('#chartFilterIndicator'), `Filter: region = ${rows[0].region}Clear`);
    assert.equal(await page.isVisible('#chartFilterIndicator'), true);
    await page.mouse.move(2, 2);
    await tipText(page, null);
    const shots = process.env.PLINTHOS_SCREENSHOTS;
    if (shots) await page.screenshot({ path: path.join(shots, 'dashboard.png'), fullPage: true });
    // The same dashboard in the editor: every cell previews its query in the small size.
    await page.click('#editDashboardBtn');
    await page.waitForFunction(() => {
      const cells = document.querySelectorAll('#rowsContainer .dash-cell');
      return cells.length === 4 && document.querySelectorAll('#rowsContainer .dash-chart canvas').length === 3 &&
        !document.querySelector('#rowsContainer .dash-loading');
    });
    if (shots) await page.screenshot({ path: path.join(shots, 'dashboard-editor.png'), fullPage: true });
    assert.deepEqual(page.__errors || [], []);
  });
});
