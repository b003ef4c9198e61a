// Dashboard filters as a user meets them, on the real engine: the menu, each filter kind in the
// editor and in the shown dashboard, cascading value lists, the calendar, the multi-value
// dropdown, lists that cannot load, and hostile column names and values. Every expected panel
// is the engine's answer to the same query filtered by hand.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { withApp, runEngine, readConfig } from './harness.mjs';
import { storeQueries, storeDashboard, openDashboard, choose, settle } from './dashboard_helpers.mjs';

const HOSTILE = '<img src=x onerror="window.__pwned=1">';
const HCOL = 'we"ird <b>col</b>';
const HCOL_SQL = '"we""ird <b>col</b>"';
const ROWS = 3000;
const MONTHS = ['January', 'February', 'March', 'April', 'May', 'June', 'July', 'August', 'September', 'October',
  'November', 'December'];

// 3000 rows: four regions, three products, 90 days from 2024-01-01, 1500 codes, and a column with
// a hostile name whose values include markup and two values with the same sanitised id.
function makeSales(dir) {
  runEngine(`COPY (SELECT i AS id, ['north', 'south', 'east', 'o''west'][i % 4 + 1] AS region,
      ['alpha', 'beta', 'gamma'][i % 3 + 1] AS product, DATE '2024-01-01' + (i % 90)::INT AS day,
      printf('c%05d', i % 1500) AS code, (i % 50) + 1 AS amount,
      CASE i % 7 WHEN 0 THEN '${HOSTILE.replace(/'/g, "''")}' WHEN 1 THEN 'it''s "q"' WHEN 2 THEN 'it_s__q_' ELSE 'plain' END
        AS ${HCOL_SQL}
    FROM range(${ROWS}) r(i)) TO 'sales.parquet' (FORMAT PARQUET)`, dir);
  return `read_parquet('${path.join(dir, 'sales.parquet').replace(/'/g, "''")}')`;
}

// The engine's rows for `sql` over the view `sales`, every cell as text.
function ref(dir, sql) {
  const out = runEngine(`CREATE VIEW sales AS SELECT * FROM read_parquet('sales.parquet');\n${sql};`, dir, true);
  return (out.trim() ? JSON.parse(out) : []).map((row) => Object.values(row).map(String));
}
const refCount = (dir, where) => Number(ref(dir, `SELECT COUNT(*) FROM sales WHERE ${where}`)[0][0]);
const refTotals = (dir, where) => ref(dir, `SELECT region, SUM(amount) FROM sales WHERE ${where} GROUP BY region ORDER BY region`);

async function storeSalesQueries(server, src) {
  const queries = {
    totals: `SELECT region, SUM(amount) AS total FROM ${src} GROUP BY region ORDER BY region`,
    rows: `SELECT id, region, product, day, code FROM ${src}\nORDER BY id`,
    products: `SELECT product, COUNT(id) AS n FROM ${src} GROUP BY product ORDER BY product`,
  };
  await storeQueries(server, queries);
}

const LAYOUT = [{ cells: [
  { name: 'Totals', query: 'totals', chartType: 'table', flex: 4 },
  { name: 'Rows', query: 'rows', chartType: 'paginated', flex: 8 },
] }];

const storeFiltered = (server, name, filters, layout = LAYOUT) => storeDashboard(server, name, layout, '', 'csv', filters);

// Page-side readers.
function tableRows(sel) {
  const el = document.querySelector(sel);
  if (!el || el.querySelector('.dash-loading')) return null;
  return Array.from(el.querySelectorAll('tbody tr')).map((tr) => Array.from(tr.cells).map((td) => td.textContent));
}
function pagedTotal(sel) {
  const el = document.querySelector(sel);
  if (!el || el.querySelector('.dash-loading')) return null;
  if (el.textContent.trim() === 'No data') return 0;
  const m = / of ([\d,]+)/.exec(el.textContent);
  return m ? Number(m[1].replace(/,/g, '')) : el.textContent;
}
function selectState(id) {
  const s = document.getElementById(id);
  if (!s) return null;
  return { value: s.value, options: Array.from(s.options).map((o) => o.value), count: s.parentElement.querySelector('.filter-count').textContent };
}
function selectSize(id) {
  const s = document.getElementById(id);
  return s ? [s.options.length, s.parentElement.querySelector('.filter-count').textContent] : null;
}
function multiState(ids) {
  const list = document.getElementById(ids.list);
  if (!list) return null;
  return {
    button: document.getElementById(ids.button).textContent,
    count: document.getElementById(ids.count).textContent,
    options: Array.from(list.querySelectorAll('label')).filter((l) => l.style.display !== 'none').map((l) =>
      [l.textContent, l.querySelector('input').checked, getComputedStyle(l).backgroundColor]),
  };
}
function multiSize(ids) {
  const list = document.getElementById(ids.list);
  return list ? [list.querySelectorAll('label').length, document.getElementById(ids.count).textContent] : null;
}
function calendar() {
  const p = document.querySelector('.calendar-popup');
  if (!p) return null;
  const days = (cls) => Array.from(p.querySelectorAll('.calendar-day.' + cls)).map((d) => d.textContent);
  return { title: p.querySelector('.calendar-title').textContent, today: days('today'), selected: days('selected'),
    popups: document.querySelectorAll('.calendar-popup').length };
}
function dateLabels(ids) {
  return ids.map((id) => document.getElementById(id)?.querySelector('.date-text').textContent);
}

const sanitize = (s) => s.replace(/[^A-Za-z0-9]/g, '_');
const multiIds = (mode, column) => {
  const s = mode + '-' + sanitize(column);
  return { button: 'multiselect-btn-' + s, list: 'multiselect-list-' + s, count: 'multiselect-count-' + s };
};
// Ticks an option and moves the pointer away, so the option shows its own shade, not the hover one.
async function tick(page, sel) {
  await page.click(sel);
  await page.mouse.move(1, 1);
}
const previewPanel = (c) => `.preview-panel[data-row="0"][data-col="${c}"] .panel-content`;
const editCell = (id) => `.dash-cell[data-cell-id="${id}"] .cell-preview`;
const CHOSEN = 'rgb(30, 58, 95)';
const CLEAR = 'rgba(0, 0, 0, 0)';

test('edit mode: the menu, each filter kind narrows every editor preview, and Save keeps the values', async () => {
  await withApp({}, async ({ page, server, home, data }) => {
    await storeSalesQueries(server, makeSales(data));
    await storeFiltered(server, 'Sales', []);
    await openDashboard(page, 'Sales');
    await page.click('#editDashboardBtn');
    await page.waitForSelector('#filterBarEdit', { state: 'visible' });

    await page.click('#addFilterBtn');
    const menu = () => page.$$eval('#filterMenuContent > div', (els) => els.map((e) =>
      [e.className, e.querySelector('.filter-menu-name')?.textContent ?? e.textContent, e.querySelector('input')?.id ?? null]));
    assert.deepEqual(await menu(), [
      ['filter-menu-heading', 'Text Fields', null],
      ['filter-menu-item', 'region', 'multiselect-check-0'], ['filter-menu-item', 'product', 'multiselect-check-1'],
      ['filter-menu-item', 'code', 'multiselect-check-2'], ['filter-menu-item', HCOL, 'multiselect-check-3'],
      ['filter-menu-heading', 'Date Fields', null], ['filter-menu-item', 'day', null]]);
    assert.equal(await page.$eval('.filter-menu-heading', (h) => getComputedStyle(h).textTransform), 'uppercase');
    // A click elsewhere closes the menu; a click on a row adds that column's filter.
    await page.click('#dashboardName');
    assert.equal(await page.isVisible('#filterMenu'), false);
    await page.click('#addFilterBtn');
    await page.click('.filter-menu-item:has-text("region")');
    assert.equal(await page.isVisible('#filterMenu'), false);
    await settle(page, selectState, 'filter-select-edit-region',
      { value: '', options: ['', 'east', 'north', "o'west", 'south'], count: '0/4' });

    await page.selectOption('[id="filter-select-edit-region"]', 'north');
    const allRows = `region = 'north'`;
    await settle(page, tableRows, editCell(0), refTotals(data, allRows));
    await settle(page, pagedTotal, editCell(1), refCount(data, allRows));
    await settle(page, selectState, 'filter-select-edit-region',
      { value: 'north', options: ['', 'east', 'north', "o'west", 'south'], count: '1/4' });

    // The Multi tick makes a multi-value filter; region is no longer offered.
    await page.click('#addFilterBtn');
    assert.deepEqual((await menu()).slice(1, 4).map((r) => r[1]), ['product', 'code', HCOL]);
    await page.check('#multiselect-check-0');
    assert.equal(await page.isVisible('#filterMenu'), true);
    await page.click('.filter-menu-item:has-text("product") .filter-menu-name');
    const product = multiIds('edit', 'product');
    await settle(page, multiState, product, { button: 'All ▼', count: '0/3',
      options: [['alpha', false, CLEAR], ['beta', false, CLEAR], ['gamma', false, CLEAR]] });
    await page.click('#' + product.button);
    await tick(page, `#${product.list} label:has-text("beta")`);
    await settle(page, multiState, product, { button: 'beta ▼', count: '1/3',
      options: [['alpha', false, CLEAR], ['beta✓', true, CHOSEN], ['gamma', false, CLEAR]] });
    const two = `${allRows} AND product IN ('beta')`;
    await settle(page, tableRows, editCell(0), refTotals(data, two));
    await settle(page, pagedTotal, editCell(1), refCount(data, two));
    // The editor's bar is not drawn anew, so the dropdown stays open for the next tick.
    assert.equal(await page.isVisible(`#multiselect-dropdown-edit-product`), true);

    // A date filter from the menu; the calendar opens on the month of the data's latest day
    // (March 2024) and steps back to February 2024.
    await page.click('#addFilterBtn');
    await page.click('.filter-menu-item:has-text("day")');
    assert.deepEqual(await page.evaluate(dateLabels, ['date-picker-from-edit-day', 'date-picker-to-edit-day']), ['Start date', 'End date']);
    // The bar is drawn anew for the new filter, and every list comes back with its choice.
    await settle(page, selectState, 'filter-select-edit-region',
      { value: 'north', options: ['', 'east', 'north', "o'west", 'south'], count: '1/4' });
    await settle(page, multiState, product, { button: 'beta ▼', count: '1/3',
      options: [['alpha', false, CLEAR], ['beta✓', true, CHOSEN], ['gamma', false, CLEAR]] });
    await page.click('#date-picker-from-edit-day');
    await settle(page, () => document.querySelector('.calendar-title')?.textContent, null, 'March 2024');
    await page.click('.calendar-popup [title="Previous Month"]');
    assert.equal((await page.evaluate(calendar)).title, 'February 2024');
    await page.click('.calendar-day:not(.other-month):text-is("15")');
    assert.equal(await page.evaluate(calendar), null);
    const three = `${two} AND day >= DATE '2024-02-15'`;
    await settle(page, tableRows, editCell(0), refTotals(data, three));
    await settle(page, pagedTotal, editCell(1), refCount(data, three));
    assert.deepEqual(await page.evaluate(dateLabels, ['date-picker-from-edit-day']), ['02/15/2024']);

    // Saved with their values, and restored when the dashboard is shown again.
    await page.click('.dash-create-actions .dash-btn-primary');
    await page.waitForSelector('#filterBarPreview', { state: 'visible' });
    const stored = readConfig(home).dashboards[0].filters;
    assert.deepEqual(typeof stored === 'string' ? JSON.parse(stored) : stored, [
      { column: 'region', type: 'text', value: 'north' },
      { column: 'product', type: 'multiselect', value: null, values: ['beta'] },
      { column: 'day', type: 'date', value: null, from: '2024-02-15', to: null }]);
    await settle(page, pagedTotal, previewPanel(1), refCount(data, three));
    await settle(page, tableRows, previewPanel(0), refTotals(data, three));
    await settle(page, selectState, 'filter-select-preview-region',
      { value: 'north', options: ['', 'east', 'north', "o'west", 'south'], count: '1/4' });
    assert.equal((await page.evaluate(multiState, multiIds('preview', 'product'))).button, 'beta ▼');
    assert.deepEqual(await page.evaluate(dateLabels, ['date-picker-from-preview-day', 'date-picker-to-preview-day']), ['02/15/2024', 'End date']);
    assert.equal(await page.locator('#activeFiltersPreview .filter-remove-btn').count(), 0);

    // Removing a filter in the editor widens every preview and offers the column again.
    await page.click('#editDashboardBtn');
    await page.waitForSelector('#filterBarEdit', { state: 'visible' });
    await settle(page, pagedTotal, editCell(1), refCount(data, three));
    await page.click('#activeFiltersEdit .filter-control[data-column="region"] .filter-remove-btn');
    const rest = `product IN ('beta') AND day >= DATE '2024-02-15'`;
    await settle(page, pagedTotal, editCell(1), refCount(data, rest));
    await settle(page, tableRows, editCell(0), refTotals(data, rest));
    assert.equal(await page.locator('#activeFiltersEdit .filter-control').count(), 2);
    await page.click('#addFilterBtn');
    assert.equal((await menu())[1][1], 'region');
    assert.deepEqual(page.__errors || [], []);
  });
});

test('shown dashboard: a value narrows every panel and every other list, never its own; "— All —"; 1000 values listed', async () => {
  await withApp({}, async ({ page, server, data }) => {
    await storeSalesQueries(server, makeSales(data));
    await storeFiltered(server, 'Sales', [
      { column: 'region', type: 'text', value: null },
      { column: 'code', type: 'multiselect', value: null, values: [] },
      { column: 'product', type: 'text', value: null }]);
    const engineCalls = [];
    // The table panel's run holds its answer; every other run answers at once.
    page.on('request', (r) => {
      if (/\/(queryDuckCpp|holdQueryCpp)$/.test(new URL(r.url()).pathname)) engineCalls.push(JSON.parse(r.postData())[0]);
    });
    await openDashboard(page, 'Sales');
    const code = multiIds('preview', 'code');
    await settle(page, multiSize, code, [1000, '0/1,500']);
    await settle(page, selectSize, 'filter-select-preview-region', [5, '0/4']);
    await settle(page, selectSize, 'filter-select-preview-product', [4, '0/3']);
    const firstCode = await page.$eval(`#${code.list} label`, (l) => l.textContent);
    assert.equal(firstCode, 'c00000');

    // A text value: the dashboard and its bar are drawn anew, each panel and list loaded once.
    engineCalls.length = 0;
    await page.selectOption('[id="filter-select-preview-region"]', 'north');
    await settle(page, tableRows, previewPanel(0), refTotals(data, `region = 'north'`));
    await settle(page, pagedTotal, previewPanel(1), refCount(data, `region = 'north'`));
    await settle(page, multiSize, code, [375, '0/375']);
    await settle(page, selectState, 'filter-select-preview-region',
      { value: 'north', options: ['', 'east', 'north', "o'west", 'south'], count: '1/4' });
    await settle(page, selectSize, 'filter-select-preview-product', [4, '0/3']);
    // One run for the table panel, two for the paginated one, one per value list.
    assert.equal(engineCalls.length, 6, engineCalls.join('\n'));

    // A tick reloads the panels only: the dropdown stays open; the other lists narrow.
    await page.click('#' + code.button);
    await tick(page, `#${code.list} label:has-text("c00000")`);
    const both = `region = 'north' AND code IN ('c00000')`;
    await settle(page, pagedTotal, previewPanel(1), refCount(data, both));
    await settle(page, tableRows, previewPanel(0), refTotals(data, both));
    assert.equal(await page.isVisible(`#multiselect-dropdown-preview-code`), true);
    await settle(page, selectState, 'filter-select-preview-region', { value: 'north', options: ['', 'north'], count: '1/1' });
    await settle(page, selectState, 'filter-select-preview-product', { value: '', options: ['', 'alpha'], count: '0/1' });
    const state = await page.evaluate(multiState, code);
    assert.deepEqual([state.button, state.count, state.options.length, state.options[0]], ['c00000 ▼', '1/375', 375, ['c00000✓', true, CHOSEN]]);

    // Unticking the last value gives "All" again.
    await tick(page, `#${code.list} label:has-text("c00000")`);
    await settle(page, pagedTotal, previewPanel(1), refCount(data, `region = 'north'`));
    const untick = await page.evaluate(multiState, code);
    assert.deepEqual([untick.button, untick.count, untick.options[0]], ['All ▼', '0/375', ['c00000', false, CLEAR]]);
    await page.click('.dash-title');
    assert.equal(await page.isVisible(`#multiselect-dropdown-preview-code`), false);

    // "— All —" removes the condition.
    await page.selectOption('[id="filter-select-preview-region"]', '');
    await settle(page, pagedTotal, previewPanel(1), ROWS);
    await settle(page, selectSize, 'filter-select-preview-region', [5, '0/4']);
    await settle(page, multiSize, code, [1000, '0/1,500']);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('calendar: stored month, steps across the year, adjacent days, Today, Clear, the × and one calendar at a time', async () => {
  await withApp({}, async ({ page, server, data }) => {
    await storeSalesQueries(server, makeSales(data));
    await storeFiltered(server, 'Days', [{ column: 'day', type: 'date', value: null, from: '2024-02-10', to: null }]);
    await openDashboard(page, 'Days');
    await settle(page, pagedTotal, previewPanel(1), refCount(data, `day >= DATE '2024-02-10'`));
    const buttons = ['date-picker-from-preview-day', 'date-picker-to-preview-day'];
    assert.deepEqual(await page.evaluate(dateLabels, buttons), ['02/10/2024', 'End date']);

    await page.click('#' + buttons[0]);
    assert.deepEqual(await page.evaluate(calendar), { title: 'February 2024', today: [], selected: ['10'], popups: 1 });
    assert.deepEqual(await page.$$eval('.calendar-weekday', (ws) => ws.map((w) => w.textContent)),
      ['Sun', 'Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat']);
    // February 2024 starts on a Thursday: the last four days of January lead.
    assert.deepEqual(await page.$$eval('.calendar-day.other-month', (ds) => ds.map((d) => d.textContent)),
      ['28', '29', '30', '31', '1', '2']);
    const look = await page.$eval('.calendar-popup', (p) => {
      const s = getComputedStyle(p);
      return [s.zIndex, s.minWidth, s.backgroundColor, p.parentElement.className];
    });
    assert.deepEqual(look, ['2000', '280px', 'rgb(49, 50, 68)', 'filter-control']);
    await page.click('[title="Previous Month"]');
    await page.click('[title="Previous Month"]');
    assert.equal((await page.evaluate(calendar)).title, 'December 2023');
    await page.click('[title="Next Month"]');
    await page.click('[title="Next Month"]');
    assert.equal((await page.evaluate(calendar)).title, 'February 2024');

    // A leading day picks that day of January; the whole dashboard is drawn anew.
    await page.click('.calendar-day.other-month:text-is("31")');
    await settle(page, pagedTotal, previewPanel(1), refCount(data, `day >= DATE '2024-01-31'`));
    assert.deepEqual(await page.evaluate(dateLabels, buttons), ['01/31/2024', 'End date']);

    // An empty "to" opens on the month of "from"; Today picks the local date.
    await page.click('#' + buttons[1]);
    const now = new Date();
    const todayText = `${now.getFullYear()}-${String(now.getMonth() + 1).padStart(2, '0')}-${String(now.getDate()).padStart(2, '0')}`;
    assert.deepEqual(await page.evaluate(calendar), { title: 'January 2024', today: [], selected: [], popups: 1 });
    await page.click('.calendar-footer [title="Select Today"]');
    const range = `day BETWEEN DATE '2024-01-31' AND DATE '${todayText}'`;
    await settle(page, pagedTotal, previewPanel(1), refCount(data, range));
    assert.deepEqual(await page.evaluate(dateLabels, buttons), ['01/31/2024', todayText.slice(5, 7) + '/' + todayText.slice(8) + '/' + todayText.slice(0, 4)]);

    // A second calendar replaces the first; a click elsewhere closes it.
    await page.click('#' + buttons[0]);
    await page.click('#' + buttons[1]);
    assert.deepEqual(await page.evaluate(calendar),
      { title: `${MONTHS[now.getMonth()]} ${now.getFullYear()}`, today: [String(now.getDate())], selected: [String(now.getDate())], popups: 1 });
    await page.click('.dash-title');
    assert.equal(await page.evaluate(calendar), null);

    // Clear empties only the end being edited; the × empties both.
    await page.click('#' + buttons[0]);
    await page.click('.calendar-footer [title="Clear Date"]');
    await settle(page, pagedTotal, previewPanel(1), refCount(data, `day <= DATE '${todayText}'`));
    assert.equal((await page.evaluate(dateLabels, buttons))[0], 'Start date');
    await page.click('#activeFiltersPreview [title="Clear dates"]');
    await settle(page, pagedTotal, previewPanel(1), ROWS);
    assert.deepEqual(await page.evaluate(dateLabels, buttons), ['Start date', 'End date']);

    // With no date of its own a calendar opens on the month of the data's latest day. The title
    // leads to a year and a month: ten years back is three clicks away, and a day applies it.
    await page.click('#' + buttons[0]);
    await settle(page, () => document.querySelector('.calendar-title')?.textContent, null, 'March 2024');
    const back = now.getFullYear() - 10;
    await page.click('.calendar-title');
    await page.click(`.calendar-year[data-year="${back}"]`);
    await page.click('.calendar-month[title="May"]');
    assert.equal((await page.evaluate(calendar)).title, `May ${back}`);
    await page.click('.calendar-day:not(.other-month):text-is("31")');
    await settle(page, dateLabels, buttons, [`05/31/${back}`, 'End date']);
    await settle(page, pagedTotal, previewPanel(1), ROWS);

    // A typed date: a wrong one is refused with a message and changes nothing; a right one applies.
    await page.click('#' + buttons[1]);
    for (const wrong of ['2024-02-30', '24-2-1', 'soon']) {
      await page.fill('.calendar-input', wrong);
      await page.press('.calendar-input', 'Enter');
      assert.match(await page.textContent('.calendar-error'), /YYYY-MM-DD/);
      assert.equal(await page.inputValue('.calendar-input'), wrong);
    }
    assert.deepEqual(await page.evaluate(dateLabels, buttons), [`05/31/${back}`, 'End date']);
    await page.fill('.calendar-input', '2024-02-29');
    await page.click('.calendar-set');
    assert.equal(await page.evaluate(calendar), null);
    await settle(page, pagedTotal, previewPanel(1), refCount(data, `day <= DATE '2024-02-29'`));
    assert.deepEqual(await page.evaluate(dateLabels, buttons), [`05/31/${back}`, '02/29/2024']);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('multi-value search keeps the choices, Clear all, and hostile names and values stay text', async () => {
  await withApp({}, async ({ page, server, data }) => {
    await storeSalesQueries(server, makeSales(data));
    await storeFiltered(server, HOSTILE, [
      { column: HCOL, type: 'multiselect', value: null, values: [] },
      { column: 'product', type: 'text', value: null }]);
    await openDashboard(page, HOSTILE);
    const ids = multiIds('preview', HCOL);
    assert.equal(ids.button, 'multiselect-btn-preview-we_ird__b_col__b_');
    const all = [[HOSTILE, false, CLEAR], ['it\'s "q"', false, CLEAR], ['it_s__q_', false, CLEAR], ['plain', false, CLEAR]];
    await settle(page, multiState, ids, { button: 'All ▼', count: '0/4', options: all });
    assert.equal(await page.textContent(`.filter-control[data-column='${HCOL.replace(/'/g, "\\'")}'] .filter-name`), HCOL + ':');

    // Two values with one sanitised id: ticking the second marks the second.
    await page.click('#' + ids.button);
    await tick(page, `#${ids.list} label:has-text("it_s__q_")`);
    const one = `${HCOL_SQL} IN ('it_s__q_')`;
    await settle(page, pagedTotal, previewPanel(1), refCount(data, one));
    await settle(page, multiState, ids, { button: 'it_s__q_ ▼', count: '1/4',
      options: [all[0], all[1], ['it_s__q_✓', true, CHOSEN], all[3]] });
    await tick(page, `#${ids.list} label:has-text("onerror")`);
    const two = `${HCOL_SQL} IN ('it_s__q_', '${HOSTILE.replace(/'/g, "''")}')`;
    await settle(page, pagedTotal, previewPanel(1), refCount(data, two));
    await settle(page, tableRows, previewPanel(0), refTotals(data, two));
    // The button text is cut after 22 characters.
    assert.equal((await page.evaluate(multiState, ids)).button, 'it_s__q_, <img src=x o... ▼');

    // A search that matches nothing hides every option and keeps the choices; it ignores case.
    await page.fill(`#multiselect-search-preview-${sanitize(HCOL)}`, 'zzz');
    assert.deepEqual((await page.evaluate(multiState, ids)).options, []);
    await page.fill(`#multiselect-search-preview-${sanitize(HCOL)}`, 'PLA');
    assert.deepEqual((await page.evaluate(multiState, ids)).options, [all[3]]);
    await page.fill(`#multiselect-search-preview-${sanitize(HCOL)}`, '');
    assert.equal((await page.evaluate(multiState, ids)).count, '2/4');
    await settle(page, pagedTotal, previewPanel(1), refCount(data, two));

    // The other filter's list holds only values that occur with the choice.
    await settle(page, selectSize, 'filter-select-preview-product', [4, '0/3']);
    await page.selectOption('[id="filter-select-preview-product"]', 'beta');
    const three = `${two} AND product = 'beta'`;
    await settle(page, pagedTotal, previewPanel(1), refCount(data, three));
    await settle(page, multiSize, ids, [4, '2/4']);

    // Clear all: nothing chosen, nothing ticked or shaded.
    await page.click('#activeFiltersPreview [title="Clear all"]');
    await settle(page, pagedTotal, previewPanel(1), refCount(data, `product = 'beta'`));
    await settle(page, multiState, ids, { button: 'All ▼', count: '0/4', options: all });

    assert.equal(await page.locator('#dashboardPreview img').count(), 0);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('value lists that cannot load say so, with the reason, instead of loading forever', async () => {
  await withApp({}, async ({ page, server, data }) => {
    const src = makeSales(data);
    await storeSalesQueries(server, src);
    assert.equal(await server.call('saveQueryCpp', ['no source', `SELECT * FROM read_csv('${path.join(data, 'x.csv')}', header = true)`]), 'ok');
    assert.equal(await server.call('saveQueryCpp', ['gone', `SELECT * FROM read_parquet('${path.join(data, 'gone.parquet')}')`]), 'ok');
    const filters = [{ column: 'region', type: 'text', value: 'north' }, { column: 'code', type: 'multiselect', value: null, values: [] }];
    const firstIs = (query) => [{ cells: [{ name: 'First', query, chartType: 'table', flex: 4 }, LAYOUT[0].cells[1]] }];
    await storeFiltered(server, 'No source', filters, firstIs('no source'));
    await storeFiltered(server, 'Gone', filters, firstIs('gone'));
    await storeFiltered(server, 'Missing query', filters, firstIs('nowhere'));

    const unavailable = async (reason) => {
      const read = () => {
        const s = document.getElementById('filter-select-preview-region');
        const list = document.getElementById('multiselect-list-preview-code');
        if (!s || !list) return null;
        return { options: Array.from(s.options).map((o) => o.value), value: s.value, list: list.textContent,
          counts: Array.from(document.querySelectorAll('#activeFiltersPreview .filter-count')).map((c) => c.textContent) };
      };
      // The chosen value stays listed, so the condition in force shows and can be removed.
      await settle(page, read, null, { options: ['', 'north'], value: 'north', list: 'Values not available',
        counts: ['Values not available', 'Values not available'] });
      const tips = await page.evaluate(() => [document.getElementById('filter-select-preview-region').title,
        document.querySelector('#multiselect-list-preview-code .multiselect-note').title,
        ...Array.from(document.querySelectorAll('#activeFiltersPreview .filter-count')).map((c) => c.title)]);
      for (const tip of tips) assert.match(tip, reason);
    };
    await openDashboard(page, 'No source');
    await unavailable(/reads no read_csv/);
    await settle(page, pagedTotal, previewPanel(1), refCount(data, `region = 'north'`));
    await choose(page, 'Gone');
    await unavailable(/gone\.parquet/);
    await choose(page, 'Missing query');
    await unavailable(/"nowhere" is not stored/);

    // A new dashboard, never saved, lists values from its editor's first query.
    await page.click('#newDashboardBtn');
    await page.click('.dash-cell .query-dropdown-btn');
    await page.click('.query-dropdown-item:has-text("totals")');
    await page.waitForSelector('#filterBarEdit', { state: 'visible' });
    await page.click('#addFilterBtn');
    await page.click('.filter-menu-item:has-text("product") .filter-menu-name');
    await settle(page, selectState, 'filter-select-edit-product', { value: '', options: ['', 'alpha', 'beta', 'gamma'], count: '0/3' });
    await page.selectOption('[id="filter-select-edit-product"]', 'beta');
    await settle(page, tableRows, editCell(0), refTotals(data, `product = 'beta'`));

    // Once every filterable column has a filter the menu says so.
    for (const name of ['region', 'code', HCOL, 'day']) {
      await page.click('#addFilterBtn');
      await page.click(`.filter-menu-item[data-column='${name.replace(/'/g, "\\'")}'] .filter-menu-name`);
    }
    await page.click('#addFilterBtn');
    assert.equal(await page.textContent('#filterMenuContent'), 'No filterable columns available');
    assert.deepEqual(page.__errors || [], []);
  });
});

const TEXT_REGIONS = ['', 'east', 'north', "o'west", 'south'];
const buttonText = (id) => document.getElementById(id)?.textContent;

test('Edit starts from the values the dashboard is shown with, and Cancel shows it with them again', async () => {
  await withApp({}, async ({ page, server, home, data }) => {
    await storeSalesQueries(server, makeSales(data));
    await storeFiltered(server, 'Sales', [
      { column: 'region', type: 'text', value: null },
      { column: 'product', type: 'multiselect', value: null, values: [] }]);
    await openDashboard(page, 'Sales');
    await settle(page, selectSize, 'filter-select-preview-region', [5, '0/4']);
    await page.selectOption('[id="filter-select-preview-region"]', 'north');
    const product = multiIds('preview', 'product');
    await settle(page, multiSize, product, [3, '0/3']);
    await page.click('#' + product.button);
    await tick(page, `#${product.list} label:has-text("beta")`);
    const shownWith = `region = 'north' AND product IN ('beta')`;
    await settle(page, pagedTotal, previewPanel(1), refCount(data, shownWith));

    // The editor's bar reads what its previews use: the shown values, not the stored ones.
    const inEditor = async (where, region, button) => {
      await settle(page, pagedTotal, editCell(1), refCount(data, where));
      await settle(page, tableRows, editCell(0), refTotals(data, where));
      await settle(page, selectState, 'filter-select-edit-region', { value: region, options: TEXT_REGIONS, count: region ? '1/4' : '0/4' });
      assert.equal(await page.evaluate(buttonText, multiIds('edit', 'product').button), button);
    };
    await page.click('#editDashboardBtn');
    await page.waitForSelector('#filterBarEdit', { state: 'visible' });
    await inEditor(shownWith, 'north', 'beta ▼');

    // Values changed in the editor and then cancelled: the dashboard comes back as it was shown.
    await page.selectOption('[id="filter-select-edit-region"]', 'south');
    await inEditor(`region = 'south' AND product IN ('beta')`, 'south', 'beta ▼');
    await page.click('#createPanel .dash-create-actions >> text="Cancel"');
    await settle(page, pagedTotal, previewPanel(1), refCount(data, shownWith));
    await settle(page, tableRows, previewPanel(0), refTotals(data, shownWith));
    await settle(page, selectState, 'filter-select-preview-region', { value: 'north', options: TEXT_REGIONS, count: '1/4' });
    assert.equal(await page.evaluate(buttonText, product.button), 'beta ▼');
    // Nothing was stored, and choosing the dashboard anew shows its stored values.
    const stored = readConfig(home).dashboards[0].filters;
    assert.deepEqual((typeof stored === 'string' ? JSON.parse(stored) : stored).map((f) => f.value), [null, null]);
    await page.selectOption('#dashboardDropdown', '');
    await choose(page, 'Sales');
    await settle(page, pagedTotal, previewPanel(1), ROWS);
    await settle(page, selectState, 'filter-select-preview-region', { value: '', options: TEXT_REGIONS, count: '0/4' });
    assert.deepEqual(page.__errors || [], []);
  });
});

// The shown options of a multi-value list, or a select's option values, after the first `skip`.
function listedValues([id, skip]) {
  const el = document.getElementById(id);
  if (!el) return null;
  const items = el.tagName === 'SELECT' ? Array.from(el.options).map((o) => o.value)
    : Array.from(el.querySelectorAll('label')).filter((l) => l.style.display !== 'none').map((l) => l.textContent);
  return items.slice(skip);
}
// The search whose answer a list shows.
const shownSearch = (id) => document.getElementById(id)?.dataset.search ?? null;
const moreText = (id) => document.getElementById(id)?.querySelector('.value-list-more')?.textContent ?? null;
const LAST_TEN = Array.from({ length: 10 }, (_, i) => 'c0149' + i);

test('value lists: the first thousand and the count of all; a search in the engine finds any value, which stays picked', async () => {
  await withApp({}, async ({ page, server, data }) => {
    await storeSalesQueries(server, makeSales(data));
    await storeFiltered(server, 'Codes', [{ column: 'code', type: 'multiselect', value: null, values: [] }]);
    await storeFiltered(server, 'One code', [{ column: 'code', type: 'text', value: null }]);
    const engineCalls = [];
    page.on('request', (r) => {
      if (/\/queryDuckCpp$/.test(new URL(r.url()).pathname)) engineCalls.push(JSON.parse(r.postData())[0]);
    });
    await openDashboard(page, 'Codes');
    const code = multiIds('preview', 'code');
    const search = '#multiselect-search-preview-code';
    await settle(page, multiSize, code, [1000, '0/1,500']);
    assert.equal(await page.evaluate(moreText, code.list), '1,000 of 1,500: type to search them all');

    // Typing searches every value in the engine; a search that finds nothing is an answer too.
    await page.click('#' + code.button);
    for (const [typed, want, more] of [
      ['C0149', LAST_TEN, null],
      ['%', [], null],
      ['c01', Array.from({ length: 500 }, (_, i) => 'c01' + String(i).padStart(3, '0')), null],
      ['c0', null, '1,000 of 1,500 matching: type more to narrow'],
    ]) {
      engineCalls.length = 0;
      await page.fill(search, typed);
      await settle(page, shownSearch, code.list, typed);
      if (want) assert.deepEqual(await page.evaluate(listedValues, [code.list, 0]), want, typed);
      assert.equal(await page.evaluate(moreText, code.list), more, typed);
      assert.ok(engineCalls.some((sql) => sql.includes('ILIKE')), typed);
    }
    assert.equal(await page.textContent('#' + code.count), '0/1,500');
    await page.fill(search, 'c0149');
    await settle(page, shownSearch, code.list, 'c0149');
    await tick(page, `#${code.list} label:has-text("c01497")`);
    await settle(page, pagedTotal, previewPanel(1), refCount(data, `code IN ('c01497')`));
    assert.equal(await page.evaluate(buttonText, code.button), 'c01497 ▼');
    // Cleared, the list shows the first thousand again with the choice on top, still ticked.
    await page.fill(search, '');
    await settle(page, multiSize, code, [1001, '1/1,500']);
    assert.deepEqual(await page.evaluate(multiState, code).then((st) => st.options.slice(0, 2)),
      [['c01497✓', true, CHOSEN], ['c00000', false, CLEAR]]);

    // A single choice: its search field shows for a list cut short, and a found value is chosen.
    await choose(page, 'One code');
    const select = 'filter-select-preview-code';
    await settle(page, selectSize, select, [1002, '0/1,500']);
    assert.equal(await page.$eval(`[id="${select}"] option:last-child`, (o) => [o.textContent, o.disabled].join()),
      '1,000 of 1,500: type to search them all,true');
    const field = '#activeFiltersPreview .filter-control[data-column="code"] .value-search';
    await page.fill(field, 'c0149');
    await settle(page, shownSearch, select, 'c0149');
    assert.deepEqual(await page.evaluate(listedValues, [select, 0]), ['', ...LAST_TEN]);
    await page.selectOption(`[id="${select}"]`, 'c01493');
    await settle(page, pagedTotal, previewPanel(1), refCount(data, `code = 'c01493'`));
    await settle(page, selectSize, select, [1003, '1/1,500']);
    assert.deepEqual(await page.evaluate(listedValues, [select, 0]).then((v) => v.slice(0, 3)), ['', 'c01493', 'c00000']);
    assert.equal(await page.inputValue(`[id="${select}"]`), 'c01493');
    assert.deepEqual(page.__errors || [], []);
  });
});

test('calendar: a typed year or a step of ten years reaches any year in two acts', async () => {
  await withApp({}, async ({ page, server, data }) => {
    await storeSalesQueries(server, makeSales(data));
    await storeFiltered(server, 'Days', [{ column: 'day', type: 'date', value: null, from: null, to: null }]);
    await openDashboard(page, 'Days');
    await page.click('#date-picker-from-preview-day');
    const title = () => document.querySelector('.calendar-popup .calendar-title')?.textContent;
    await settle(page, title, null, 'March 2024');
    await page.click('.calendar-popup .calendar-title');
    const year = '.calendar-popup .calendar-year-input';
    const steps = [
      // [act, what, title]
      ['fill', '1965', 'March 1965'],
      ['click', '-10', 'March 1955'],
      ['click', '10', 'March 1965'],
      ['fill', '812', 'March 1965'],
      ['press', 'Enter', 'March 812'],
      ['fill', '19x5', 'March 812'],
      ['fill', '1965', 'March 1965'],
    ];
    for (const [act, what, want] of steps) {
      if (act === 'fill') await page.fill(year, what);
      else if (act === 'press') await page.press(year, what);
      else await page.click(`.calendar-popup .calendar-decade[data-step="${what}"]`);
      assert.equal(await page.evaluate(title), want, `${act} ${what}`);
    }
    assert.equal(await page.$eval('.calendar-popup .calendar-year.selected', (b) => b.textContent), '1965');
    await page.click('.calendar-popup .calendar-month[title="June"]');
    assert.equal(await page.evaluate(title), 'June 1965');
    await page.click('.calendar-day:not(.other-month):text-is("15")');
    assert.deepEqual(await page.evaluate(dateLabels, ['date-picker-from-preview-day']), ['06/15/1965']);
    await settle(page, pagedTotal, previewPanel(1), ROWS);
    assert.deepEqual(page.__errors || [], []);
  });
});
