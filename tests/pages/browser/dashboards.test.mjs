// The Dashboards page as a user meets it: the dropdown, the empty state, panels of every kind
// and every failure text, widths, paging, the CSV export, the dashboard's own folder, Delete,
// and hostile names and cells. Dashboards and saved queries are stored through the bridge.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { withApp, runEngine, readConfig, makeTemp, waitForFile } from './harness.mjs';
import { SALES_CSV, storeQuery, storeDashboard, openDashboards, choose, content, panelText, watchBridge, answerBridge, openDashboard, checkModalOverlay, settle } from './dashboard_helpers.mjs';

const HOSTILE = '<img src=x onerror="window.__pwned=1">';

test('dropdown in stored order, empty state, and Edit and Delete only with a selection', async () => {
  await withApp({ data: { 'sales.csv': SALES_CSV } }, async ({ page, server }) => {
    for (const n of ['Zeta', 'alpha', 'Mid']) await storeDashboard(server, n, [{ cells: [] }]);
    await openDashboards(page);
    const options = await page.$$eval('#dashboardDropdown option', (os) => os.map((o) => [o.value, o.textContent]));
    assert.deepEqual(options, [['', '— Select Dashboard —'], ['Zeta', 'Zeta'], ['alpha', 'alpha'], ['Mid', 'Mid']]);
    assert.equal(await page.inputValue('#dashboardDropdown'), '');
    assert.equal(await page.innerText('#dashboardPreview'), 'Select a dashboard or create a new one');
    assert.equal(await page.$eval('#dashboardPreview .dash-empty svg', (s) => s.getAttribute('width')), '48');
    assert.equal(await page.isVisible('#editDashboardBtn'), false);
    assert.equal(await page.isVisible('#deleteDashboardBtn'), false);
    assert.equal(await page.isVisible('#createPanel'), false);
    assert.equal(await page.getAttribute('button[title="New Dashboard"]', 'data-click'), 'dashShowCreatePanel');

    await choose(page, 'alpha');
    assert.equal(await page.isVisible('#editDashboardBtn'), true);
    assert.equal(await page.isVisible('#deleteDashboardBtn'), true);
    assert.equal(await page.locator('.preview-panel').count(), 0);
    assert.equal(await page.isVisible('#filterBarPreview'), false);
    const look = await page.$eval('#dashboardPreview', (el) => {
      const s = getComputedStyle(el);
      return [s.backgroundColor, s.borderTopColor, s.flexDirection];
    });
    assert.deepEqual(look, ['rgb(24, 24, 37)', 'rgb(49, 50, 68)', 'column']);

    await page.selectOption('#dashboardDropdown', '');
    await page.waitForSelector('#dashboardPreview .dash-empty');
    assert.equal(await page.isVisible('#editDashboardBtn'), false);
    const bg = await page.$eval('#dashboardPreview', (el) => getComputedStyle(el).backgroundColor);
    assert.equal(bg, 'rgba(0, 0, 0, 0)');
    // Only the page's published names reach window.
    const leaked = await page.evaluate(() => ['renderChart', 'renderPaginatedTable', 'loadPanelData', 'activeFilters',
      'renderDashboardPreview', 'replacePathVariableForDashboard', 'dashboardPathToFiles'].filter((n) => n in window));
    assert.deepEqual(leaked, []);
  });
});

test('panels: every kind and failure text, widths, titles, and hostile names and cells', async () => {
  await withApp({ data: { 'sales.csv': SALES_CSV } }, async ({ page, server, data }) => {
    const file = path.join(data, 'sales.csv');
    await storeQuery(server, 'by region', `SELECT region, SUM(amount) AS total FROM read_csv('${file.replace(/'/g, "''")}') GROUP BY region ORDER BY region`);
    await storeQuery(server, 'broken', 'SELECT SUM(nope) FROM missing_table GROUP BY 1');
    await storeQuery(server, 'empty', `SELECT region, SUM(amount) AS s FROM read_csv('${file}') WHERE amount > 1000 GROUP BY region`);
    await storeQuery(server, HOSTILE, `SELECT '${HOSTILE.replace(/'/g, "''")}' AS "${HOSTILE.replace(/"/g, '""')}", COUNT(id) AS n FROM read_csv('${file}') GROUP BY 1`);
    await storeDashboard(server, HOSTILE, [
      { cells: [
        { name: 'Totals', query: 'by region', chartType: 'table', flex: 4 },
        { name: HOSTILE, query: HOSTILE, chartType: 'table', flex: 8 },
      ] },
      { cells: [
        { name: 'Nothing', query: '', chartType: 'bar', flex: 12 },
      ] },
      { cells: [
        { query: 'gone', chartType: 'bar', flex: 4 },
        { name: 'Broken', query: 'broken', chartType: 'bar' },
        { name: 'Empty', query: 'empty', chartType: 'pie', flex: 0 },
      ] },
    ]);
    await openDashboard(page, HOSTILE);

    assert.match(await panelText(page, 0, 0), /east.*north.*o'west.*south/s);
    const header = await page.$$eval(`${content(0, 0)} th`, (ths) => ths.map((t) => t.textContent));
    assert.deepEqual(header, ['region', 'total']);
    assert.equal(await panelText(page, 1, 0), 'No query');
    assert.equal(await panelText(page, 2, 0), 'Query not found');
    assert.match(await panelText(page, 2, 1), /missing_table/);
    assert.equal(await panelText(page, 2, 2), 'No data');
    const colours = await page.evaluate((sels) => sels.map((s) => getComputedStyle(document.querySelector(s).firstElementChild).color),
      [content(1, 0), content(2, 0), content(2, 1), content(2, 2)]);
    assert.deepEqual(colours, ['rgb(108, 112, 134)', 'rgb(243, 139, 168)', 'rgb(243, 139, 168)', 'rgb(108, 112, 134)']);

    // Hostile text shows as text everywhere: option, title, panel title, column header and cell.
    assert.equal(await panelText(page, 0, 1).then((t) => t.includes(HOSTILE)), true);
    assert.equal(await page.$eval(`${content(0, 1)} th`, (th) => th.textContent), HOSTILE);
    assert.equal(await page.textContent('.preview-panel[data-row="0"][data-col="1"] .preview-panel-header'), HOSTILE);
    assert.equal(await page.textContent('.preview-panel[data-row="2"][data-col="0"] .preview-panel-header'), 'Untitled');
    assert.equal(await page.$$eval('#dashboardPreview img, #dashboardDropdown img', (l) => l.length), 0);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);

    // Widths: a 4 is at most a third of the row less 24 px; a 12 takes the row; 0 counts as 6.
    const widths = await page.$$eval('.preview-panel', (ps) => ps.map((p) => {
      const row = p.parentElement.getBoundingClientRect().width;
      return { r: p.dataset.row, c: p.dataset.col, w: p.getBoundingClientRect().width, row, grow: getComputedStyle(p).flexGrow };
    }));
    const w = (r, c) => widths.find((x) => x.r === String(r) && x.c === String(c));
    assert.ok(Math.abs(w(0, 0).w - (w(0, 0).row / 3 - 24)) < 2, JSON.stringify(w(0, 0)));
    assert.ok(Math.abs(w(0, 1).w - (w(0, 1).row * 2 / 3 - 24)) < 2, JSON.stringify(w(0, 1)));
    assert.ok(Math.abs(w(1, 0).w - (w(1, 0).row - 24)) < 2);
    assert.deepEqual([w(2, 0).grow, w(2, 1).grow, w(2, 2).grow], ['4', '6', '6']);
    const minH = await page.$eval('.preview-panel', (p) => getComputedStyle(p).minHeight);
    assert.equal(minH, '220px');
  });
});

test('a query without aggregation stored as a chart pages through its rows, and CSV writes them all', async () => {
  const out = makeTemp('plinthos-out-');
  try {
    await withApp({ data: { 'sales.csv': SALES_CSV } }, async ({ page, server, data }) => {
      const file = path.join(data, 'sales.csv');
      // COUNT(*) alone is not aggregated.
      await storeQuery(server, 'rows', `SELECT id, region, COUNT(*) OVER () AS n FROM read_csv('${file}') ORDER BY id`);
      await storeDashboard(server, 'Paged', [{ cells: [{ name: 'All rows', query: 'rows', chartType: 'bar', flex: 12 }] }]);
      await openDashboard(page, 'Paged');
      const sel = content(0, 0);
      const range = () => page.textContent(`${sel} .dash-paged-range`);
      await page.waitForSelector(`${sel} table`);
      assert.equal(await page.locator(`${sel} tbody tr`).count(), 10);
      assert.equal(await range(), '1-10 of 1,234');
      const buttons = async () => page.$$eval(`${sel} .dash-pager-btn`, (bs) => bs.map((b) => b.disabled));
      assert.deepEqual(await buttons(), [true, true, false, false]);
      await page.click(`${sel} .dash-pager-btn >> nth=2`);
      await page.waitForFunction((s) => document.querySelector(s + ' .dash-paged-range')?.textContent === '11-20 of 1,234', sel);
      assert.equal(await page.textContent(`${sel} tbody tr td`), '11');
      await page.click(`${sel} .dash-pager-btn >> nth=3`);
      await page.waitForFunction((s) => document.querySelector(s + ' .dash-paged-range')?.textContent === '1,231-1,234 of 1,234', sel);
      assert.equal(await page.locator(`${sel} tbody tr`).count(), 4);
      assert.deepEqual(await buttons(), [false, false, true, true]);
      await page.click(`${sel} .dash-pager-btn >> nth=0`);
      await page.waitForFunction((s) => document.querySelector(s + ' .dash-paged-range')?.textContent === '1-10 of 1,234', sel);

      // "⬇ CSV" exports every row of the panel's query, not the page, through the save dialog.
      const target = path.join(out, 'panel.csv');
      await server.dialog(target);
      await page.click(`${sel} button:has-text("⬇ CSV")`);
      await waitForFile(target);
      const expected = runEngine(`COPY (SELECT id, region, COUNT(*) OVER () AS n FROM read_csv('${file}') ORDER BY id) TO '${path.join(out, 'engine.csv')}' (FORMAT CSV, HEADER)`, out);
      assert.equal(expected, '');
      assert.equal(fs.readFileSync(target, 'utf8'), fs.readFileSync(path.join(out, 'engine.csv'), 'utf8'));
      assert.equal(fs.readFileSync(target, 'utf8').trim().split('\n').length, 1235);
    });
  } finally {
    fs.rmSync(out, { recursive: true, force: true });
  }
});

test("the dashboard's own folder and file type stand for {path-to-files}, apostrophes included", async () => {
  await withApp({ data: { "it's here/2024/a.csv": SALES_CSV } }, async ({ page, server, data }) => {
    const folder = path.join(data, "it's here");
    runEngine(`COPY (SELECT * FROM read_csv('2024/a.csv') WHERE id <= 100) TO '2024/a.parquet' (FORMAT PARQUET)`, folder);
    await storeQuery(server, 'count', 'SELECT region, COUNT(id) AS n FROM {path-to-files} GROUP BY region ORDER BY region');
    const rows = [{ cells: [{ name: 'n', query: 'count', chartType: 'table', flex: 12 }] }];
    await storeDashboard(server, 'csv', rows, folder, 'csv');
    await storeDashboard(server, 'parquet', rows, folder, 'parquet');
    await storeDashboard(server, 'no folder', rows, '', 'parquet');
    await openDashboard(page, 'csv');
    assert.match(await panelText(page, 0, 0), /east308north309o'west308south309/);
    await choose(page, 'parquet');
    assert.match(await panelText(page, 0, 0), /east25north25o'west25south25/);
    // Without a folder the variable stays and the engine's complaint shows in the panel.
    await choose(page, 'no folder');
    assert.match(await panelText(page, 0, 0), /path-to-files|syntax|Parser/i);
  });
});

test('panels over a folder with a part that cannot be read say which part they left out', async () => {
  // Root reads every folder; without these capabilities a folder of mode 000 is closed to it too.
  const withoutOverride = ['setpriv', '--bounding-set=-dac_override,-dac_read_search', '--'];
  await withApp({ data: { 'shop/a.csv': SALES_CSV, 'shop/locked/b.csv': SALES_CSV, 'other/c.csv': SALES_CSV },
    servePrefix: withoutOverride }, async ({ page, server, data }) => {
    fs.chmodSync(path.join(data, 'shop', 'locked'), 0);
    await storeQuery(server, 'count', 'SELECT COUNT(id) AS n FROM {path-to-files}');
    await storeQuery(server, 'rows', 'SELECT id, region FROM {path-to-files} ORDER BY id');
    const rows = [{ cells: [{ name: 'n', query: 'count', chartType: 'table', flex: 6 }, { name: 'r', query: 'rows', chartType: 'paginated', flex: 6 }] }];
    await storeDashboard(server, 'Shop', rows, path.join(data, 'shop'), 'csv');
    await storeDashboard(server, 'Other', rows, path.join(data, 'other'), 'csv');
    const notes = () => Array.from(document.querySelectorAll('.preview-panel')).map((p) => p.querySelector('.panel-unreadable')?.textContent ?? '');
    const note = 'These folders could not be read and were left out: locked/.';
    await openDashboard(page, 'Shop');
    assert.match(await panelText(page, 0, 0), /1234/);
    assert.match(await panelText(page, 0, 1), / of 1,234/);
    await settle(page, notes, null, [note, note]);
    // A page turn keeps the note; a dashboard that reads no such folder shows none.
    await page.click(`${content(0, 1)} .dash-pager-btn >> text="⟩"`);
    await page.waitForFunction((s) => /\b11-20 of /.test(document.querySelector(s).textContent), content(0, 1));
    assert.deepEqual(await page.evaluate(notes), [note, note]);
    await choose(page, 'Other');
    assert.match(await panelText(page, 0, 1), / of 1,234/);
    assert.deepEqual(await page.evaluate(notes), ['', '']);
  });
});

test('Delete: cancel keeps it, confirm removes it from the configuration, a store failure keeps it shown', async () => {
  await withApp({ data: { 'sales.csv': SALES_CSV } }, async ({ page, server, home }) => {
    await storeDashboard(server, 'Keep', [{ cells: [] }]);
    await storeDashboard(server, 'Go "now"', [{ cells: [] }]);
    await openDashboard(page, 'Go "now"');
    await page.click('#deleteDashboardBtn');
    assert.equal(await page.textContent('.dash-modal-text'), 'Delete "Go "now""?');
    await checkModalOverlay(page);
    assert.equal(await page.$eval('#confirmDeleteBtn', (b) => getComputedStyle(b).backgroundColor), 'rgb(243, 139, 168)');
    await page.click('#cancelDeleteBtn');
    assert.equal(await page.locator('.dash-modal-overlay').count(), 0);
    assert.deepEqual(readConfig(home).dashboards.map((d) => d.name), ['Keep', 'Go "now"']);

    // The store cannot write: the error shows and the dashboard stays selected and drawn.
    await watchBridge(page, ['deleteDashboardCpp']);
    await answerBridge(page, 'deleteDashboardCpp', { error: 'disk full' });
    const alerted = page.waitForEvent('dialog', { timeout: 15000 }).then(async (d) => {
      await d.dismiss();
      return d.message();
    });
    await page.click('#deleteDashboardBtn');
    await page.click('#confirmDeleteBtn');
    assert.equal(await alerted, 'Could not delete the dashboard: disk full');
    assert.equal(await page.inputValue('#dashboardDropdown'), 'Go "now"');
    assert.equal(await page.textContent('#dashboardPreview .dash-title'), 'Go "now"');
    await answerBridge(page, 'deleteDashboardCpp');

    await page.click('#deleteDashboardBtn');
    await page.click('#confirmDeleteBtn');
    await page.waitForSelector('#dashboardPreview .dash-empty');
    assert.deepEqual(readConfig(home).dashboards.map((d) => d.name), ['Keep']);
    assert.deepEqual(await page.$$eval('#dashboardDropdown option', (os) => os.map((o) => o.value)), ['', 'Keep']);
    assert.equal(await page.inputValue('#dashboardDropdown'), '');
    assert.equal(await page.isVisible('#deleteDashboardBtn'), false);
  });
});
