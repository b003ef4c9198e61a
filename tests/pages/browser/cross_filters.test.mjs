// Cross-filtering on generated CSV and Parquet data: a chart click narrows every other panel
// (charts, plain and paginated tables, counts from the engine itself) while the clicked chart
// keeps its elements and its mark, also through a dashboard filter change; a panel whose data
// lacks a column is drawn whole with a note instead of an engine error; and a click belongs to
// its dashboard, so choosing, creating or deleting one clears it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { withApp, runEngine } from './harness.mjs';
import { storeQueries, storeDashboard, choose, content, openDashboard, clickAt, engineCount, indicator, waitRange }
  from './dashboard_helpers.mjs';
import { chartView, waitDrawn, selection } from './chart_helpers.mjs';

const SIZES = ['Small', 'Medium', 'Large'];
const TIMES = ['Dawn', 'Day', 'Dusk', 'Night'];
const N = 2400;
const ZIPS = 700;
const STRIKES_CSV =
  'id,Wildlife Size,Time of day,airport,cost\n' +
  Array.from({ length: N }, (_, i) =>
    [i + 1, SIZES[i % 3], TIMES[Math.floor(i / 3) % 4], ['DEN', 'ORD', 'SFO', 'ATL', 'JFK'][i % 5], (i * 37) % 1000].join(',')
  ).join('\n') + '\n';

const LARGE = `"Wildlife Size" = 'Large'`;
const DUSK = `"Time of day" = 'Dusk'`;
const [bars, pie, airports, rows, cities, zips] = [content(0, 0), content(0, 1), content(0, 2), content(1, 0), content(1, 1), content(2, 0)];
const ALL = [bars, pie, airports, rows, cities, zips];

// The strike data as CSV, zip codes as Parquet written by the engine, their queries, and three
// dashboards: Strikes (every kind of panel, two over the zip codes, a filter on the time of
// day), Spare (the same) and Zips.
async function setUp(server, data) {
  runEngine(`COPY (SELECT range + 10000 AS zip, 'City ' || (range % 7) AS city, (range * 13) % 500 AS pop FROM range(${ZIPS}))
    TO 'zips.parquet' (FORMAT PARQUET)`, data);
  const S = `read_csv('${path.join(data, 'strikes.csv')}')`;
  const Z = `read_parquet('${path.join(data, 'zips.parquet')}')`;
  const sql = {
    sizes: `SELECT "Wildlife Size", COUNT(*) AS strikes FROM ${S} GROUP BY 1 ORDER BY 1`,
    times: `SELECT "Time of day", COUNT(*) AS strikes FROM ${S} GROUP BY 1 ORDER BY 1`,
    airports: `SELECT airport, COUNT(*) AS n, SUM(cost) AS cost FROM ${S} GROUP BY airport ORDER BY airport`,
    rows: `SELECT * FROM ${S} ORDER BY id`,
    cities: `SELECT city, SUM(pop) AS pop FROM ${Z} GROUP BY city ORDER BY city`,
    zips: `SELECT * FROM ${Z} ORDER BY zip`,
  };
  await storeQueries(server, sql);
  const cell = (query, chartType, flex) => ({ name: query, query, chartType, flex });
  const layout = [
    { cells: [cell('sizes', 'bar', 4), cell('times', 'pie', 4), cell('airports', 'table', 4)] },
    { cells: [cell('rows', 'paginated', 6), cell('cities', 'bar', 6)] },
    { cells: [cell('zips', 'paginated', 12)] },
  ];
  const filters = [{ column: 'Time of day', type: 'text', value: null }];
  await storeDashboard(server, 'Strikes', layout, '', 'csv', filters);
  await storeDashboard(server, 'Spare', layout, '', 'csv', filters);
  await storeDashboard(server, 'Zips', [{ cells: [cell('zips', 'paginated', 12)] }], '', 'parquet');
  // The engine's answer of a query under extra conditions, as [label, number] pairs.
  const answer = (name, ...conditions) => {
    const where = conditions.map((c) => `(${c})`).join(' AND ') || 'true';
    const narrowed = sql[name].replace(/ GROUP BY/, ` WHERE ${where} GROUP BY`);
    return JSON.parse(runEngine(narrowed, data, true)).map((r) => Object.values(r).map(String));
  };
  return { S, Z, answer };
}

// What each panel's note says, in layout order.
const notes = (page) => page.$$eval('#dashboardPreview .dash-panel-note', (els) => els.map((e) => e.textContent));
// Label and value of each element of a chart's first series, in drawing order.
const drawn = async (page, sel) => (await chartView(page, sel)).series[0].items.map((i) => [i.name, String(i.value)]);
const tableRows = (page, sel) => page.$$eval(`${sel} tbody tr:not(.virtual-sizer):not(.virtual-gap)`,
  (trs) => trs.map((tr) => Array.from(tr.cells, (td) => td.textContent)));
// Slices are drawn largest first: compared by label.
const byLabel = (pairs) => [...pairs].sort((a, b) => (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0));
const errorsShown = (page) => page.$$eval('#dashboardPreview .dash-engine-error', (els) => els.map((e) => e.textContent));

test('a click narrows every other panel as the engine counts, panels lacking the column say so, and the mark survives a filter change', async () => {
  await withApp({ data: { 'strikes.csv': STRIKES_CSV } }, async ({ page, server, data }) => {
    const { S, Z, answer } = await setUp(server, data);
    await openDashboard(page, 'Strikes');
    await waitDrawn(page, ALL);
    await waitRange(page, rows, N);
    await page.$eval(`${bars} .dash-chart`, (b) => (b.__kept = true));

    await clickAt(page, bars, 'Large');
    await waitRange(page, rows, engineCount(data, S, LARGE));
    await waitDrawn(page, ALL);
    assert.equal(await indicator(page), 'Filter: Wildlife Size = LargeClear');
    // The clicked chart is the same drawing, with all its bars and the clicked one marked.
    assert.equal(await page.$eval(`${bars} .dash-chart`, (b) => b.__kept), true);
    assert.deepEqual(await drawn(page, bars), answer('sizes'));
    assert.deepEqual(await selection(page), ['strikes:Large']);
    // Every other panel of the strikes shows the rows behind the bar.
    assert.deepEqual(byLabel(await drawn(page, pie)), byLabel(answer('times', LARGE)));
    assert.deepEqual(await tableRows(page, airports), answer('airports', LARGE));
    // Panels over the zip codes have no such column: drawn whole, with a note, never an error.
    assert.deepEqual(await drawn(page, cities), answer('cities'));
    await waitRange(page, zips, ZIPS);
    assert.deepEqual(await notes(page), ['', '', '', '', 'Not filtered by Wildlife Size', 'Not filtered by Wildlife Size']);
    assert.deepEqual(await errorsShown(page), []);
    // The indicator stands above the panels, covering none of them.
    const [box, firstPanel] = await Promise.all(['#chartFilterIndicator', '.preview-panel'].map((s) => page.locator(s).first().boundingBox()));
    assert.ok(box.y + box.height <= firstPanel.y, 'the indicator is above the panels');

    // A dashboard filter on a column the zip codes lack: the same rule, and the bar keeps its mark.
    await page.waitForFunction(() => document.getElementById('filter-select-preview-Time of day')?.options.length === 5);
    await page.selectOption('[id="filter-select-preview-Time of day"]', 'Dusk');
    await waitRange(page, rows, engineCount(data, S, LARGE, DUSK));
    await waitDrawn(page, ALL);
    assert.deepEqual(await selection(page), ['strikes:Large']);
    assert.equal(await indicator(page), 'Filter: Wildlife Size = LargeClear');
    assert.deepEqual(await drawn(page, bars), answer('sizes', DUSK));
    assert.deepEqual(await drawn(page, pie), answer('times', LARGE, DUSK));
    assert.deepEqual(await tableRows(page, airports), answer('airports', LARGE, DUSK));
    assert.deepEqual(await drawn(page, cities), answer('cities'));
    await waitRange(page, zips, engineCount(data, Z));
    const both = 'Not filtered by Time of day, Wildlife Size';
    assert.deepEqual(await notes(page), ['', '', '', '', both, both]);
    assert.deepEqual(await errorsShown(page), []);
    // Paging goes on with what the table could take, and the note stays.
    await page.click(`${zips} .dash-pager-btn >> nth=2`);
    await page.waitForFunction((s) => document.querySelector(`${s} .dash-paged-range`)?.textContent === '11-20 of 700', zips);
    assert.deepEqual(await notes(page), ['', '', '', '', both, both]);

    // The editor's previews leave the filter out of the zip codes the same way, with no error.
    await page.click('#editDashboardBtn');
    await page.waitForFunction((t) => [...document.querySelectorAll('#rowsContainer .cell-preview')]
      .filter((p) => p.title === t).length === 2, 'Not filtered by Time of day');
    assert.doesNotMatch(await page.textContent('#rowsContainer'), /Binder Error/);
    await page.click('#createPanel button:has-text("Cancel")');
    await waitRange(page, rows, engineCount(data, S, LARGE, DUSK));
    await waitDrawn(page, ALL);

    // Clearing the click: every panel under the filter alone; the zip codes still say so.
    await page.click('#chartFilterIndicator button');
    await waitRange(page, rows, engineCount(data, S, DUSK));
    await waitDrawn(page, ALL);
    assert.deepEqual(await selection(page), []);
    assert.deepEqual(await tableRows(page, airports), answer('airports', DUSK));
    const one = 'Not filtered by Time of day';
    assert.deepEqual(await notes(page), ['', '', '', '', one, one]);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('a click belongs to its dashboard: choosing, creating or deleting one clears it; Edit and Cancel keep it', async () => {
  await withApp({ data: { 'strikes.csv': STRIKES_CSV } }, async ({ page, server, data }) => {
    const { S } = await setUp(server, data);
    const large = engineCount(data, S, LARGE);
    const clickLarge = async () => {
      await waitDrawn(page, ALL);
      await clickAt(page, bars, 'Large');
      await waitRange(page, rows, large);
    };
    // Shown unfiltered, with no indicator and no mark.
    const unfiltered = async () => {
      await waitRange(page, rows, N);
      await waitDrawn(page, ALL);
      assert.equal(await indicator(page), null);
      assert.equal(await page.evaluate(() => window.chartClickFilter), null);
      assert.deepEqual(await selection(page), []);
    };
    await openDashboard(page, 'Strikes');
    await clickLarge();

    // Another dashboard over other files: its rows, not the engine's error about the column.
    await choose(page, 'Zips');
    await waitRange(page, content(0, 0), ZIPS);
    assert.equal(await indicator(page), null);
    assert.deepEqual(await errorsShown(page), []);
    assert.deepEqual(await notes(page), ['']);
    await choose(page, 'Strikes');
    await unfiltered();

    // Edit then Cancel is the same dashboard: the click and its mark stay.
    await clickLarge();
    await page.click('#editDashboardBtn');
    await page.waitForSelector('#rowsContainer .dash-cell');
    await page.click('#createPanel button:has-text("Cancel")');
    await waitRange(page, rows, large);
    await waitDrawn(page, ALL);
    assert.equal(await indicator(page), 'Filter: Wildlife Size = LargeClear');
    assert.deepEqual(await selection(page), ['strikes:Large']);

    // Creating a dashboard, even one cancelled.
    await page.click('#newDashboardBtn');
    await page.waitForSelector('#createPanel', { state: 'visible' });
    await page.click('#createPanel button:has-text("Cancel")');
    await unfiltered();

    // Deleting the dashboard clicked on.
    await choose(page, 'Spare');
    await clickLarge();
    await page.click('#deleteDashboardBtn');
    await page.click('#confirmDeleteBtn');
    await page.waitForFunction(() => !Array.from(document.getElementById('dashboardDropdown').options).some((o) => o.value === 'Spare'));
    assert.equal(await page.evaluate(() => window.chartClickFilter), null);
    await choose(page, 'Strikes');
    await unfiltered();
    assert.deepEqual(page.__errors || [], []);
  });
});
