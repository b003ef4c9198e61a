// The dashboard editor and lifecycle as a user meets them: a dashboard built from nothing through
// the page and compared with the stored record, Edit, Cancel, rename, Save As, Delete, the data
// folder and file type, stored records read back, failed writes and hostile names.
// (The helpers of dashboards.test.mjs are not imported: importing a test file runs its tests.)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { withApp, runEngine, readConfig, configPath } from './harness.mjs';
import {
  storeQuery,
  storeDashboard,
  openDashboards,
  watchBridge,
  bridgeCalls,
  answerBridge,
  checkModalOverlay,
  holdBridge,
  heldCalls,
  releaseBridge,
} from './dashboard_helpers.mjs';

const REGIONS = ['north', 'south', 'east', "o'west"];
const SALES_CSV =
  'id,region,amount\n' +
  Array.from({ length: 1234 }, (_, i) => `${i + 1},"${REGIONS[i % 4]}",${(i % 50) + 1}`).join('\n') + '\n';
const RED = 'rgb(243, 139, 168)';
const GREY = 'rgb(108, 112, 134)';
const PARQUET_LOOK = ['18px', 'rgb(250, 179, 135)', GREY, 'rgb(250, 179, 135)'];
const CSV_LOOK = ['2px', 'rgb(137, 180, 250)', 'rgb(137, 180, 250)', GREY];

const SAVE = '#createPanel .dash-create-actions >> text="Save"';
const SAVE_AS = '#createPanel .dash-create-actions >> text="Save As"';
const CANCEL = '#createPanel .dash-create-actions >> text="Cancel"';
const FOLDER_BTN = '#createPanel button[title="Choose Data Folder"]';
const cell = (id) => `#rowsContainer .dash-cell[data-cell-id="${id}"]`;
const row = (id) => `#rowsContainer .dash-row[data-row-id="${id}"]`;
const panelTitles = (page) => page.$$eval('#dashboardPreview .preview-panel-header', (hs) => hs.map((h) => h.textContent));
const storedNames = (home) => readConfig(home).dashboards.map((d) => d.name);
const cellsOf = (name, chartType, query, flex) => ({ name, query, chartType, flex });

// Every bridge call made so far has its answer (calls of different lanes may end in any order).
const settle = (page) => page.waitForFunction(() => window.__bridgePending() === 0);

const WRITES = ['saveDashboardCpp', 'deleteDashboardCpp'];

async function choose(page, name) {
  await page.selectOption('#dashboardDropdown', name);
  await shown(page, name);
}

// Waits for a newly drawn dashboard of this name with the editor closed. Each drawing counts
// once, so a title left from before the last action never passes for the new one. After a save
// the dropdown is refilled and set after the first drawing: settling waits for that too.
async function shown(page, name) {
  await page.waitForFunction((n) => {
    const t = document.querySelector('#dashboardPreview .dash-title');
    return t && !t.dataset.seen && t.textContent === n && getComputedStyle(document.getElementById('createPanel')).display === 'none';
  }, name);
  await page.$eval('#dashboardPreview .dash-title', (t) => (t.dataset.seen = '1'));
  await settle(page);
}

// Answers the question a save asks before replacing the stored dashboard of that name.
async function answerReplace(page, name, how) {
  await page.waitForSelector('.dash-modal #confirmReplaceBtn');
  await checkModalOverlay(page);
  assert.equal(await page.textContent('.dash-modal-text'), `A dashboard named "${name}" already exists. Replace it with this one?`);
  if (how === 'Escape') await page.keyboard.press('Escape');
  else await page.click(how);
  assert.equal(await page.locator('.dash-modal-overlay').count(), 0);
}

async function cellCount(page, n) {
  await page.waitForFunction((k) => document.querySelectorAll('#rowsContainer .dash-cell').length === k, n);
}

async function newDashboard(page) {
  await page.click('button[title="New Dashboard"]');
  await cellCount(page, 1);
}

// Edit of a stored dashboard (click or dblclick); waits for its newly built cells and every
// call they started. The old cells stay until the record has been fetched, so they are marked.
async function edit(page, cells, how = 'click') {
  await page.$$eval('#rowsContainer .dash-cell', (cs) => cs.forEach((c) => (c.dataset.old = '1')));
  await page[how]('#editDashboardBtn');
  await page.waitForFunction((k) => {
    const cs = document.querySelectorAll('#rowsContainer .dash-cell');
    return cs.length >= k && Array.from(cs).every((c) => !c.dataset.old);
  }, cells);
  await settle(page);
  assert.equal(await page.locator('#rowsContainer .dash-cell').count(), cells);
}

// Waits until the cell's preview has finished and its text matches; returns the text.
async function cellPreview(page, id, pattern = /\S/) {
  const sel = `${cell(id)} .cell-preview`;
  await page.waitForFunction(([s, source]) => {
    const el = document.querySelector(s);
    if (!el || el.querySelector('.dash-loading')) return false;
    return new RegExp(source, 's').test(el.textContent) || (source === '\\S' && el.querySelector('canvas'));
  }, [sel, pattern.source]);
  return page.textContent(sel);
}

// Opens a cell's query dropdown, searches, and clicks the row carrying exactly this name.
async function pickQuery(page, id, name, search) {
  await page.click(`${cell(id)} .query-dropdown-btn`);
  const menu = `${cell(id)} .query-dropdown-menu`;
  await page.waitForSelector(menu, { state: 'visible' });
  if (search !== undefined) await page.fill(`${menu} .query-dropdown-search`, search);
  const items = page.locator(`${menu} .query-dropdown-item`);
  const names = await items.evaluateAll((els) => els.map((e) => e.dataset.name));
  assert.ok(names.includes(name), `${JSON.stringify(name)} not in ${JSON.stringify(names)}`);
  await items.nth(names.indexOf(name)).click();
  await page.waitForSelector(menu, { state: 'hidden' });
}

function editorState(page) {
  return page.$$eval('#rowsContainer > .dash-row', (rows) =>
    rows.map((r) =>
      Array.from(r.querySelectorAll('.dash-cell')).map((c) => ({
        title: c.querySelector('.cell-title').value,
        query: c.querySelector('.query-select').value,
        label: c.querySelector('.query-dropdown-label').textContent,
        chart: c.querySelector('.chart-select').value,
        flex: c.dataset.flex,
        width: c.querySelector('.width-label').textContent,
      }))
    )
  );
}

// Which row and cell arrows show: per row [up, down, [[left, right] per cell]].
function arrows(page) {
  return page.$$eval('#rowsContainer > .dash-row', (rows) => {
    const on = (el) => getComputedStyle(el).display !== 'none';
    return rows.map((r) => [on(r.querySelector('.row-up-btn')), on(r.querySelector('.row-down-btn')),
      Array.from(r.querySelectorAll('.dash-cell')).map((c) => [on(c.querySelector('.cell-left-btn')), on(c.querySelector('.cell-right-btn'))])]);
  });
}

// Read once the track's colour transition has run.
function switchLook(page) {
  return page.evaluate(async () => {
    const el = (id) => document.getElementById(id);
    await Promise.all(el('dashFormatSwitch').getAnimations().map((a) => a.finished));
    return [el('dashSwitchThumb').style.left, getComputedStyle(el('dashFormatSwitch')).backgroundColor,
      getComputedStyle(el('dashLabelCsv')).color, getComputedStyle(el('dashLabelParquet')).color];
  });
}

const chartOptions = (page, id) => page.$$eval(`${cell(id)} .chart-select option`, (os) => os.map((o) => o.value));
const borderColor = (page, sel) => page.$eval(sel, (el) => getComputedStyle(el).borderTopColor);
const isShown = (page, sel) => page.$eval(sel, (el) => getComputedStyle(el).display !== 'none');

// A folder holding the sales as CSV and its first hundred rows as Parquet, so the two file
// types give different answers.
function shopFolder(data) {
  const folder = path.join(data, 'shop');
  fs.mkdirSync(path.join(folder, '2024'), { recursive: true });
  fs.writeFileSync(path.join(folder, '2024', 'a.csv'), SALES_CSV);
  runEngine(`COPY (SELECT * FROM read_csv('2024/a.csv') WHERE id <= 100) TO '2024/a.parquet' (FORMAT PARQUET)`, folder);
  return folder;
}

// The shop folder with its three stored queries.
async function shopWithQueries(server, data) {
  await storeQuery(server, 'Sales by region', 'SELECT region, COUNT(id) AS n FROM {path-to-files} GROUP BY region ORDER BY region');
  await storeQuery(server, 'Regional totals', 'SELECT region, SUM(amount) AS total FROM {path-to-files} GROUP BY region ORDER BY region');
  await storeQuery(server, 'All rows', 'SELECT id, region FROM {path-to-files} ORDER BY id');
  return shopFolder(data);
}

test('a dashboard built from nothing through the page is stored as built, and Edit reproduces it', async () => {
  await withApp({}, async ({ page, server, home, data }) => {
    const folder = await shopWithQueries(server, data);
    await storeDashboard(server, 'Other', [{ cells: [cellsOf('x', 'table', 'All rows', 6)] }]);
    await openDashboards(page);
    await watchBridge(page, WRITES);
    await newDashboard(page);

    // A new dashboard: empty name, no folder, Parquet, one row with one empty cell and no arrows.
    assert.equal(await page.inputValue('#dashboardName'), '');
    assert.equal(await page.getAttribute('#dashboardName', 'placeholder'), 'My Dashboard');
    assert.equal(await page.textContent('#dashPathDisplay'), 'Not set');
    assert.deepEqual(await switchLook(page), PARQUET_LOOK);
    assert.equal(await isShown(page, '#dashboardPreview'), false);
    assert.deepEqual(await editorState(page), [[{ title: '', query: '', label: '— Select Query —', chart: 'table', flex: '6', width: '6' }]]);
    assert.deepEqual(await chartOptions(page, 0), ['table', 'paginated', 'bar', 'line', 'area', 'pie', 'bar-split', 'line-split', 'area-split']);
    assert.equal(await cellPreview(page, 0), 'Select a query to preview');
    assert.deepEqual(await arrows(page), [[false, false, [[false, false]]]]);
    const tips = await page.$$eval(`${cell(0)} .dash-cell-header button`, (bs) => bs.map((b) => b.title));
    assert.deepEqual(tips, ['Move left', 'Move right', '', '', 'Remove panel']);

    // A cancelled folder chooser changes nothing.
    await server.dialog('cancel');
    await page.click(FOLDER_BTN);
    await settle(page);
    assert.equal(await page.textContent('#dashPathDisplay'), 'Not set');

    // The searchable query dropdown: case-insensitive, in store order, the chosen row marked.
    await page.fill(`${cell(0)} .cell-title`, 'Region counts');
    await page.click(`${cell(0)} .query-dropdown-btn`);
    await page.waitForFunction((s) => document.activeElement === document.querySelector(s), `${cell(0)} .query-dropdown-search`);
    const listed = () => page.$$eval(`${cell(0)} .query-dropdown-list > div`, (ds) => ds.map((d) => d.textContent));
    assert.deepEqual(await listed(), ['Sales by region', 'Regional totals', 'All rows']);
    await page.fill(`${cell(0)} .query-dropdown-search`, 'REGION');
    assert.deepEqual(await listed(), ['Sales by region', 'Regional totals']);
    await page.fill(`${cell(0)} .query-dropdown-search`, 'zzz');
    assert.deepEqual(await listed(), ['No queries found']);
    // A click outside closes the menu.
    await page.click('#dashboardName');
    assert.equal(await isShown(page, `${cell(0)} .query-dropdown-menu`), false);
    await pickQuery(page, 0, 'Sales by region', 'by reg');
    assert.equal(await page.textContent(`${cell(0)} .query-dropdown-label`), 'Sales by region');
    await page.click(`${cell(0)} .query-dropdown-btn`);
    assert.deepEqual(await page.$$eval(`${cell(0)} .query-dropdown-item.selected`, (ds) => ds.map((d) => d.textContent)), ['Sales by region✓']);
    await page.click(`${cell(0)} .query-dropdown-btn`);
    // Without a folder the variable stays and the engine's complaint shows, red and small.
    assert.match(await cellPreview(page, 0), /path-to-files|syntax|Parser/i);
    const errLook = await page.$eval(`${cell(0)} .cell-preview > div`, (d) => [getComputedStyle(d).color, d.style.fontSize]);
    assert.deepEqual(errLook, [RED, '0.7rem']);
    assert.deepEqual(await chartOptions(page, 0), ['table', 'bar', 'line', 'area', 'pie', 'bar-split', 'line-split', 'area-split']);
    await page.selectOption(`${cell(0)} .chart-select`, 'bar');

    // Cells added to a row keep the widths until a width button shares the row out.
    await page.click(`${row(0)} button[title="Add Panel"]`);
    await page.fill(`${cell(1)} .cell-title`, 'Every row');
    await pickQuery(page, 1, 'All rows');
    assert.deepEqual(await chartOptions(page, 1), ['paginated']);
    await page.click(`${row(0)} button[title="Add Panel"]`);
    await page.fill(`${cell(2)} .cell-title`, '  Share  ');
    await pickQuery(page, 2, 'Regional totals', 'totals');
    await page.selectOption(`${cell(2)} .chart-select`, 'pie');
    const widths = async () => (await editorState(page)).map((r) => r.map((c) => [c.flex, c.width]));
    assert.deepEqual(await widths(), [[['6', '6'], ['6', '6'], ['6', '6']]]);
    await page.click(`${cell(0)} .cell-width-btn >> nth=0`);
    assert.deepEqual(await widths(), [[['5', '5'], ['4', '4'], ['4', '4']]]);
    assert.equal(await page.$eval(cell(0), (c) => c.style.maxWidth), 'calc(41.6667% - 20px)');

    // Moves within the row, rows added, emptied, removed and moved.
    await page.click(`${cell(2)} .cell-left-btn`);
    assert.deepEqual(await arrows(page), [[false, false, [[false, true], [true, true], [true, false]]]]);
    await page.click('#dashboardBuilder .dash-add-row');
    await page.click('#dashboardBuilder .dash-add-row');
    await page.click(`${cell(4)} .cell-remove-btn`);
    assert.equal(await page.locator(row(2)).count(), 0);
    await page.click('#dashboardBuilder .dash-add-row');
    await page.click('#dashboardBuilder .dash-add-row');
    await page.click(`${row(4)} button[title="Remove Row"]`);
    await page.click(`${row(3)} .row-up-btn`);
    assert.deepEqual(await page.$$eval('#rowsContainer > .dash-row', (rs) => rs.map((r) => r.dataset.rowId)), ['0', '3', '1']);
    assert.deepEqual((await arrows(page)).map((r) => r.slice(0, 2)), [[false, true], [true, true], [true, false]]);
    await page.fill(`${cell(3)} .cell-title`, 'Counts table');
    await pickQuery(page, 3, 'Sales by region');
    // A lone cell goes from 6 up to 12 and no further.
    for (let i = 0; i < 7; i++) await page.click(`${cell(3)} .cell-width-btn >> nth=1`);
    assert.equal(await page.textContent(`${cell(3)} .width-label`), '12');

    // The chosen folder and the switch preview every cell again.
    await server.dialog(folder);
    await page.click(FOLDER_BTN);
    await page.waitForFunction((f) => document.getElementById('dashPathDisplay').textContent === f, folder);
    assert.equal(await page.getAttribute('#dashPathDisplay', 'title'), folder);
    assert.match(await cellPreview(page, 3, /east25/), /east25.*north25/s);
    assert.match(await cellPreview(page, 1, /of 100/), /1-10 of 100/);
    await page.waitForSelector(`${cell(0)} .cell-preview canvas`);
    await page.click('#dashFormatSwitch');
    assert.deepEqual(await switchLook(page), CSV_LOOK);
    assert.match(await cellPreview(page, 3, /east308/), /east308.*north309/s);
    assert.match(await cellPreview(page, 1, /of 1,234/), /1-10 of 1,234/);
    await settle(page);

    const built = await editorState(page);
    await page.fill('#dashboardName', '  Sales overview ');
    await bridgeCalls(page);
    await page.click(SAVE);
    await shown(page, 'Sales overview');
    const layout = [
      { cells: [cellsOf('Region counts', 'bar', 'Sales by region', 5), cellsOf('Share', 'pie', 'Regional totals', 4), cellsOf('Every row', 'paginated', 'All rows', 4)] },
      { cells: [cellsOf('Untitled', 'table', '', 6)] },
      { cells: [cellsOf('Counts table', 'table', 'Sales by region', 12)] },
    ];
    // Keys in the order name, query, chartType, flex: the layout text is compared as written.
    assert.deepEqual(await bridgeCalls(page), [['saveDashboardCpp', 'Sales overview', JSON.stringify(layout), '[]', folder, 'csv']]);
    const record = { name: 'Sales overview', layout, filters: [], pathToFiles: folder, fileType: 'csv' };
    assert.deepEqual(readConfig(home).dashboards[1], record);
    assert.equal(await page.inputValue('#dashboardDropdown'), 'Sales overview');
    assert.deepEqual(await panelTitles(page), ['Region counts', 'Share', 'Every row', 'Untitled', 'Counts table']);

    // Edit shows what was built (the blank title now reads as stored) and saves it unchanged.
    await edit(page, 5);
    built[0][1].title = 'Share';
    built[1][0].title = 'Untitled';
    assert.deepEqual(await editorState(page), built);
    assert.equal(await page.inputValue('#dashboardName'), 'Sales overview');
    assert.equal(await page.textContent('#dashPathDisplay'), folder);
    assert.deepEqual(await switchLook(page), CSV_LOOK);
    const storedTips = await page.$$eval(`${cell(0)} .dash-cell-header button`, (bs) => bs.map((b) => b.title));
    assert.deepEqual(storedTips, ['Move Panel Left', 'Move Panel Right', 'Decrease Width', 'Increase Width', 'Remove Panel']);
    assert.match(await cellPreview(page, 4, /east308/), /north309/);
    await page.click(SAVE);
    await shown(page, 'Sales overview');
    assert.deepEqual(readConfig(home).dashboards.slice(1), [record]);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('rename, Save As, empty names and empty layouts', async () => {
  await withApp({}, async ({ page, server, home, data }) => {
    const folder = await shopWithQueries(server, data);
    const one = (title) => [{ cells: [cellsOf(title, 'table', 'Sales by region', 12)] }];
    await storeDashboard(server, 'Alpha', one('a'), folder);
    await storeDashboard(server, 'Beta', one('b'), folder);
    await storeDashboard(server, 'Gamma', one('g'), folder, 'parquet');
    await openDashboards(page);
    await watchBridge(page, WRITES);

    // Rename: the new record is stored before the old one goes, and it ends up last.
    await choose(page, 'Beta');
    await edit(page, 1);
    await page.fill('#dashboardName', 'Beta 2');
    await bridgeCalls(page);
    await page.click(SAVE);
    await shown(page, 'Beta 2');
    assert.deepEqual((await bridgeCalls(page)).map((c) => c.slice(0, 2)), [['saveDashboardCpp', 'Beta 2'], ['deleteDashboardCpp', 'Beta']]);
    assert.deepEqual(storedNames(home), ['Alpha', 'Gamma', 'Beta 2']);
    assert.deepEqual(await page.$$eval('#dashboardDropdown option', (os) => os.map((o) => o.value)), ['', 'Alpha', 'Gamma', 'Beta 2']);

    // Renaming onto a stored name asks first: Cancel keeps both as they are and the editor open;
    // Replace replaces that record in place.
    await choose(page, 'Gamma');
    await edit(page, 1);
    await page.fill('#dashboardName', 'Alpha');
    await bridgeCalls(page);
    await page.click(SAVE);
    await page.waitForSelector('.dash-modal #cancelReplaceBtn');
    // The question is asked with Save off, but nothing is said to be saving yet.
    assert.deepEqual(await page.$eval('#dashSaveBtn', (b) => [b.textContent, b.disabled]), ['Save', true]);
    await answerReplace(page, 'Alpha', '#cancelReplaceBtn');
    assert.deepEqual(await page.$eval('#dashSaveBtn', (b) => [b.textContent, b.disabled]), ['Save', false]);
    assert.deepEqual(await bridgeCalls(page), []);
    assert.deepEqual(storedNames(home), ['Alpha', 'Gamma', 'Beta 2']);
    assert.equal(await isShown(page, '#createPanel'), true);
    assert.equal(await page.inputValue('#dashboardName'), 'Alpha');
    await page.click(SAVE);
    await answerReplace(page, 'Alpha', '#confirmReplaceBtn');
    await shown(page, 'Alpha');
    const stored = readConfig(home).dashboards;
    assert.deepEqual(stored.map((d) => [d.name, d.layout[0].cells[0].name, d.fileType]), [['Alpha', 'g', 'parquet'], ['Beta 2', 'b', 'csv']]);

    // Save As while editing: the modal refuses empty and stored names, Escape keeps the editor.
    await edit(page, 1);
    await page.fill(`${cell(0)} .cell-title`, 'copy');
    await page.fill('#dashboardName', '');
    await page.click(SAVE_AS);
    await checkModalOverlay(page);
    assert.equal(await page.textContent('.dash-modal-text'), 'Enter name for the new dashboard:');
    assert.equal(await page.getAttribute('#saveAsNameInput', 'placeholder'), 'My Dashboard');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'saveAsNameInput');
    await page.fill('#saveAsNameInput', '   ');
    await page.click('#confirmSaveAsBtn');
    assert.equal(await borderColor(page, '#saveAsNameInput'), RED);
    assert.equal(await page.locator('.dash-modal .error-msg').count(), 0);
    await page.fill('#saveAsNameInput', 'Beta 2');
    await page.click('#confirmSaveAsBtn');
    await page.waitForSelector('.dash-modal .error-msg');
    await page.press('#saveAsNameInput', 'Enter');
    await settle(page);
    assert.deepEqual(await page.$$eval('.dash-modal .error-msg', (ps) => ps.map((p) => [p.tagName, p.textContent, getComputedStyle(p).color])),
      [['P', 'A dashboard with this name already exists', RED]]);
    await page.press('#saveAsNameInput', 'Escape');
    assert.equal(await page.locator('.dash-modal-overlay').count(), 0);
    assert.equal(await isShown(page, '#createPanel'), true);
    await page.click(SAVE_AS);
    await page.fill('#saveAsNameInput', 'Alpha copy');
    await page.click('#cancelSaveAsBtn');
    assert.equal(await page.locator('.dash-modal-overlay').count(), 0);
    await page.click(SAVE_AS);
    await page.fill('#saveAsNameInput', ' Alpha copy ');
    await page.press('#saveAsNameInput', 'Enter');
    await shown(page, 'Alpha copy');
    // The copy is stored with the editor's content; the dashboard being edited stays as it was.
    const after = readConfig(home).dashboards;
    assert.deepEqual(after.map((d) => [d.name, d.layout[0].cells[0].name, d.pathToFiles, d.fileType]),
      [['Alpha', 'g', folder, 'parquet'], ['Beta 2', 'b', folder, 'csv'], ['Alpha copy', 'copy', folder, 'parquet']]);
    assert.deepEqual(await panelTitles(page), ['copy']);

    // Save with a blank name turns the field red and stores nothing; so does a layout without
    // cells, silently, for Save and Save As alike.
    await newDashboard(page);
    await bridgeCalls(page);
    await page.fill('#dashboardName', '  ');
    await page.click(SAVE);
    assert.equal(await borderColor(page, '#dashboardName'), RED);
    await page.fill('#dashboardName', 'Nothing');
    await page.click(`${cell(0)} .cell-remove-btn`);
    assert.equal(await page.locator('#rowsContainer .dash-row').count(), 0);
    await page.click(SAVE);
    await page.click(SAVE_AS);
    await settle(page);
    assert.equal(await page.locator('.dash-modal-overlay').count(), 0);
    assert.equal(await isShown(page, '#createPanel'), true);
    assert.deepEqual(await bridgeCalls(page), []);
    assert.deepEqual(storedNames(home), ['Alpha', 'Beta 2', 'Alpha copy']);

    // A new dashboard saved under a stored name asks too: Escape keeps the stored one, Replace
    // replaces it in place.
    await page.click('#dashboardBuilder .dash-add-row');
    await pickQuery(page, 1, 'All rows');
    await page.fill('#dashboardName', 'Beta 2');
    await page.click(SAVE);
    await answerReplace(page, 'Beta 2', 'Escape');
    assert.deepEqual(await bridgeCalls(page), []);
    assert.equal(await isShown(page, '#createPanel'), true);
    await page.click(SAVE);
    await answerReplace(page, 'Beta 2', '#confirmReplaceBtn');
    await shown(page, 'Beta 2');
    assert.deepEqual(readConfig(home).dashboards.map((d) => [d.name, d.layout[0].cells[0].query]),
      [['Alpha', 'Sales by region'], ['Beta 2', 'All rows'], ['Alpha copy', 'Sales by region']]);
  });
});

test('New, Cancel, Edit twice, the dropdown and Delete while the editor is open', async () => {
  await withApp({}, async ({ page, server, home, data }) => {
    const folder = await shopWithQueries(server, data);
    await storeDashboard(server, 'Alpha', [{ cells: [cellsOf('Counts', 'table', 'Sales by region', 12)] }], folder);
    await storeDashboard(server, 'Beta', [{ cells: [cellsOf('B1', 'table', 'Sales by region', 6), cellsOf('B2', 'bar', 'Regional totals', 6)] }], folder);
    await openDashboards(page);
    await watchBridge(page, WRITES);
    await choose(page, 'Alpha');
    await edit(page, 1);
    const stored = await editorState(page);
    await page.click(CANCEL);
    await shown(page, 'Alpha');

    // New while Alpha is shown: Alpha stays selected with its buttons; Cancel shows it again.
    await newDashboard(page);
    assert.equal(await page.inputValue('#dashboardDropdown'), 'Alpha');
    assert.equal(await page.isVisible('#editDashboardBtn'), true);
    assert.equal(await page.isVisible('#deleteDashboardBtn'), true);
    await page.click(CANCEL);
    await shown(page, 'Alpha');
    assert.deepEqual(await panelTitles(page), ['Counts']);

    // Cancel drops the changes and redraws the stored dashboard.
    await edit(page, 1);
    await page.fill(`${cell(0)} .cell-title`, 'changed');
    await page.click('#dashboardBuilder .dash-add-row');
    await page.click(CANCEL);
    await shown(page, 'Alpha');
    assert.deepEqual(await panelTitles(page), ['Counts']);

    // Edit again while editing reloads the stored state.
    await edit(page, 1);
    await page.fill(`${cell(0)} .cell-title`, 'changed');
    await page.click('#dashboardBuilder .dash-add-row');
    await page.click('#editDashboardBtn');
    await page.waitForFunction(() => document.querySelectorAll('#rowsContainer .dash-cell').length === 1 &&
      document.querySelector('#rowsContainer .cell-title').value === 'Counts');
    await settle(page);
    assert.deepEqual(await editorState(page), stored);

    // Pressed twice in a row, Edit and New each fill the editor once.
    await edit(page, 1, 'dblclick');
    assert.deepEqual(await editorState(page), stored);
    await page.dblclick('button[title="New Dashboard"]');
    await cellCount(page, 1);
    await settle(page);
    assert.equal(await page.locator('#rowsContainer .dash-row').count(), 1);

    // Another dashboard chosen while editing closes the editor and drops its changes.
    await edit(page, 1);
    await page.fill(`${cell(0)} .cell-title`, 'changed');
    await choose(page, 'Beta');
    assert.deepEqual(await panelTitles(page), ['B1', 'B2']);
    await choose(page, 'Alpha');
    assert.deepEqual(await panelTitles(page), ['Counts']);

    // Edit then an immediate switch: the late editor content never reaches the closed editor.
    await page.click('#editDashboardBtn');
    await page.selectOption('#dashboardDropdown', 'Beta');
    await shown(page, 'Beta');
    assert.equal(await isShown(page, '#createPanel'), false);
    assert.deepEqual(await panelTitles(page), ['B1', 'B2']);

    // Delete while the editor is open: back to the empty state, the record gone.
    await edit(page, 2);
    await page.click('#deleteDashboardBtn');
    assert.equal(await page.textContent('.dash-modal-text'), 'Delete "Beta"?');
    await page.click('#confirmDeleteBtn');
    await page.waitForSelector('#dashboardPreview .dash-empty');
    assert.equal(await isShown(page, '#createPanel'), false);
    assert.equal(await page.inputValue('#dashboardDropdown'), '');
    assert.equal(await page.isVisible('#editDashboardBtn'), false);
    assert.deepEqual(storedNames(home), ['Alpha']);
    assert.deepEqual((await bridgeCalls(page)).map((c) => c.slice(0, 2)), [['deleteDashboardCpp', 'Beta']]);
  });
});

test('stored records read back: forced chart types, widths, a missing file type, a broken layout', async () => {
  const queries = [
    { name: 'Sales by region', sql: 'SELECT region, COUNT(id) AS n FROM {path-to-files} GROUP BY region ORDER BY region' },
    { name: 'All rows', sql: 'SELECT id, region FROM {path-to-files} ORDER BY id' },
  ];
  await withApp({}, async ({ page, home, data }) => {
    const folder = shopFolder(data);
    fs.writeFileSync(configPath(home), JSON.stringify({
      bucketPath: data,
      savedQueries: queries,
      dashboards: [
        // Written before file types existed: no fileType at all.
        { name: 'Legacy', pathToFiles: folder, filters: '[]', layout: JSON.stringify([{ cells: [
          { name: 'Bars', query: 'All rows', chartType: 'bar', flex: 15 },
          { query: 'Sales by region', chartType: 'paginated', flex: 0 },
          { name: 'Gone', query: 'nope', chartType: 'line', flex: 3 },
        ] }, { cells: [] }]) },
        { name: 'Broken', layout: 'not json', filters: 42 },
      ],
    }));
    await openDashboards(page);
    await choose(page, 'Legacy');
    await edit(page, 3);
    assert.deepEqual(await switchLook(page), CSV_LOOK);
    assert.match(await cellPreview(page, 0, /of 1,234/), /1-10 of 1,234/);
    assert.match(await cellPreview(page, 1, /east/), /east308/);
    assert.equal(await cellPreview(page, 2), 'Query not found');
    assert.equal(await page.$eval(`${cell(2)} .cell-preview > div`, (d) => getComputedStyle(d).color), RED);
    const state = await editorState(page);
    assert.deepEqual(state.map((r) => r.map((c) => [c.title, c.chart, c.flex])), [[['Bars', 'paginated', '12'], ['', 'table', '6'], ['Gone', 'line', '3']], []]);
    assert.deepEqual(await page.$$eval(`${cell(0)} .chart-select option`, (os) => os.map((o) => o.textContent)), ['Paginated Table']);
    assert.deepEqual(await chartOptions(page, 1), ['table', 'bar', 'line', 'area', 'pie', 'bar-split', 'line-split', 'area-split']);

    // The switch moves to Parquet and every cell is previewed again on the other files.
    await page.click('#dashFormatSwitch');
    assert.deepEqual(await switchLook(page), PARQUET_LOOK);
    assert.match(await cellPreview(page, 0, /of 100\b/), /1-10 of 100/);
    assert.match(await cellPreview(page, 1, /east25/), /north25/);
    await page.click('#dashFormatSwitch');
    await cellPreview(page, 1, /east308/);
    await page.click(SAVE);
    await shown(page, 'Legacy');
    // Saved in the corrected form; the row without cells is dropped; the file type is written.
    const legacy = readConfig(home).dashboards[0];
    assert.deepEqual(legacy.layout, [{ cells: [cellsOf('Bars', 'paginated', 'All rows', 12), cellsOf('Untitled', 'table', 'Sales by region', 6),
      cellsOf('Gone', 'line', 'nope', 3)] }]);
    assert.equal(legacy.fileType, 'csv');

    // A layout that is not a list: no panels; Edit starts with one empty row.
    await choose(page, 'Broken');
    assert.equal(await page.locator('.preview-panel').count(), 0);
    await edit(page, 1);
    assert.deepEqual(await editorState(page), [[{ title: '', query: '', label: '— Select Query —', chart: 'table', flex: '6', width: '6' }]]);
    assert.equal(await page.textContent('#dashPathDisplay'), 'Not set');
    assert.deepEqual(await switchLook(page), CSV_LOOK);
  });
});

test('a failed store write shows in the editor and loses nothing', async () => {
  await withApp({}, async ({ page, server, home, data }) => {
    const folder = await shopWithQueries(server, data);
    await storeDashboard(server, 'Alpha', [{ cells: [cellsOf('a', 'table', 'Sales by region', 12)] }], folder);
    await storeDashboard(server, 'Beta', [{ cells: [cellsOf('b', 'table', 'Sales by region', 12)] }], folder);
    const before = fs.readFileSync(configPath(home), 'utf8');
    await openDashboards(page);
    await watchBridge(page, WRITES);
    await choose(page, 'Alpha');
    await edit(page, 1);
    await page.fill('#dashboardName', 'Alpha 2');
    await page.click('#dashboardBuilder .dash-add-row');
    await page.fill(`${cell(1)} .cell-title`, 'added');
    await pickQuery(page, 1, 'All rows');
    const built = await editorState(page);
    const unchanged = async () => {
      assert.equal(await isShown(page, '#createPanel'), true);
      assert.equal(await page.inputValue('#dashboardName'), 'Alpha 2');
      assert.deepEqual(await editorState(page), built);
      assert.equal(fs.readFileSync(configPath(home), 'utf8'), before);
    };

    // The store answers with an error: shown, the editor keeps everything, the rename removed nothing.
    await answerBridge(page, 'saveDashboardCpp', { error: 'disk <b>full</b>' });
    await page.click(SAVE);
    await page.waitForSelector('#dashSaveError', { state: 'visible' });
    assert.equal(await page.textContent('#dashSaveError'), 'Could not save the dashboard: disk <b>full</b>');
    await unchanged();
    await page.evaluate(() => (document.getElementById('dashSaveError').textContent = ''));
    await page.click(SAVE_AS);
    await page.fill('#saveAsNameInput', 'Copy');
    await page.click('#confirmSaveAsBtn');
    await page.waitForFunction(() => /disk/.test(document.getElementById('dashSaveError').textContent));
    assert.equal(await page.locator('.dash-modal-overlay').count(), 0);
    await unchanged();
    await answerBridge(page, 'saveDashboardCpp');

    // A real failed write: the configuration file has become a folder.
    const file = configPath(home);
    fs.renameSync(file, file + '.kept');
    fs.mkdirSync(file);
    await page.evaluate(() => (document.getElementById('dashSaveError').textContent = ''));
    await page.click(SAVE);
    await page.waitForFunction(() => document.getElementById('dashSaveError').textContent !== '');
    assert.match(await page.textContent('#dashSaveError'), /^Could not save the dashboard: Could not save the configuration: .*cannot be read/);
    fs.rmdirSync(file);
    fs.renameSync(file + '.kept', file);
    await unchanged();

    // The new record is stored but the old one cannot be removed: both stay, and saving again
    // keeps the editor on the new name.
    await answerBridge(page, 'deleteDashboardCpp', { error: 'busy' });
    await page.click(SAVE);
    await page.waitForFunction(() => /busy/.test(document.getElementById('dashSaveError').textContent));
    assert.equal(await page.textContent('#dashSaveError'),
      'Could not save the dashboard: saved as "Alpha 2", but the old dashboard "Alpha" could not be removed: busy');
    assert.deepEqual(storedNames(home), ['Alpha', 'Beta', 'Alpha 2']);
    await answerBridge(page, 'deleteDashboardCpp');

    await page.click(SAVE);
    await shown(page, 'Alpha 2');
    assert.deepEqual(storedNames(home), ['Alpha', 'Beta', 'Alpha 2']);
    assert.deepEqual(readConfig(home).dashboards[2].layout[1].cells, [cellsOf('added', 'paginated', 'All rows', 6)]);
    // The next editor starts without the old message.
    await edit(page, 2);
    assert.equal(await isShown(page, '#dashSaveError'), false);
  });
});

test('Save shows that it works and then that it saved, stores once, and gives its buttons back after a failure', async () => {
  await withApp({}, async ({ page, server, home, data }) => {
    await shopWithQueries(server, data);
    await openDashboards(page);
    await newDashboard(page);
    await pickQuery(page, 0, 'All rows');
    await page.fill('#dashboardName', 'Fresh');
    const buttons = () => page.$$eval('#dashSaveBtn, #dashSaveAsBtn', (bs) => bs.map((b) => [b.textContent, b.disabled]));
    assert.deepEqual(await buttons(), [['Save', false], ['Save As', false]]);

    // While the store is on its way: both buttons are off, Save says so, and a second Save
    // (a click, or the page operation itself) stores nothing more.
    await holdBridge(page, 'saveDashboardCpp');
    await page.click(SAVE);
    await page.waitForFunction(() => window.__held.saveDashboardCpp.waiting.length === 1);
    assert.deepEqual(await buttons(), [['Saving…', true], ['Save As', true]]);
    await page.click('#dashSaveBtn', { force: true });
    await page.evaluate(() => window.dashSaveDashboard());
    await settle(page);
    assert.equal(await heldCalls(page, 'saveDashboardCpp'), 1);
    await releaseBridge(page, 'saveDashboardCpp');
    await shown(page, 'Fresh');
    assert.equal(await page.textContent('#dashSaveStatus'), 'Saved "Fresh".');
    assert.equal(await isShown(page, '#dashSaveStatus'), true);
    assert.deepEqual(storedNames(home), ['Fresh']);
    // The confirmation goes with the next act.
    await edit(page, 1);
    assert.equal(await isShown(page, '#dashSaveStatus'), false);

    // A failed store, or a failed look for the name, is shown; the buttons come back and the
    // editor keeps what was typed.
    await watchBridge(page, ['saveDashboardCpp', 'getDashboardsCpp']);
    await answerBridge(page, 'saveDashboardCpp', { error: 'disk full' });
    await page.click(SAVE);
    await page.waitForFunction(() => /disk full/.test(document.getElementById('dashSaveError').textContent));
    assert.deepEqual(await buttons(), [['Save', false], ['Save As', false]]);
    await answerBridge(page, 'saveDashboardCpp');
    await answerBridge(page, 'getDashboardsCpp', { error: 'cannot read <b>config</b>' });
    await page.fill('#dashboardName', 'Renamed');
    await page.click(SAVE);
    await page.waitForFunction(() => /could not check/.test(document.getElementById('dashSaveError').textContent));
    assert.equal(await page.textContent('#dashSaveError'),
      'Could not save the dashboard: could not check whether a dashboard named "Renamed" exists: cannot read <b>config</b>');
    assert.deepEqual((await bridgeCalls(page)).map((c) => c[0]), ['saveDashboardCpp', 'getDashboardsCpp']);
    assert.equal(await page.inputValue('#dashboardName'), 'Renamed');
    assert.deepEqual(await buttons(), [['Save', false], ['Save As', false]]);
    // Save As refuses the name it could not check instead of taking it for a free one.
    await page.click(SAVE_AS);
    await page.fill('#saveAsNameInput', 'Fresh');
    await page.press('#saveAsNameInput', 'Enter');
    await page.waitForSelector('.dash-modal .error-msg');
    assert.equal(await page.textContent('.dash-modal .error-msg'), 'Could not check the stored dashboards: cannot read <b>config</b>');
    await page.click('#cancelSaveAsBtn');
    assert.deepEqual((await bridgeCalls(page)).map((c) => c[0]), ['getDashboardsCpp']);
    assert.deepEqual(storedNames(home), ['Fresh']);
  });
});

test('hostile dashboard, panel and query names are stored and shown intact', async () => {
  const IMG = '<img src=x onerror="window.__pwned=1">';
  const QUOTED = `it's "quoted" \\ back\\slash`;
  const LINES = 'two\r\nlines\tand \\n';
  const DASH = `${IMG} "D" \\ 'x'`;
  const TITLE = `</div><img src=y onerror="window.__pwned=2"> \\'"`;
  await withApp({}, async ({ page, server, home }) => {
    for (const name of [IMG, QUOTED, LINES]) await storeQuery(server, name, `SELECT 'v' AS v, COUNT(*) AS n FROM range(3) GROUP BY 1`);
    await openDashboards(page);
    await newDashboard(page);
    await page.fill('#dashboardName', DASH);
    await page.fill(`${cell(0)} .cell-title`, TITLE);
    await pickQuery(page, 0, IMG, '<img');
    await page.click(`${row(0)} button[title="Add Panel"]`);
    await pickQuery(page, 1, QUOTED, '"quoted" \\');
    await page.click(`${row(0)} button[title="Add Panel"]`);
    await pickQuery(page, 2, LINES, 'lines');
    for (const id of [0, 1, 2]) assert.match(await cellPreview(page, id), /v3/);
    const labels = await page.$$eval('#rowsContainer .query-dropdown-label', (ls) => ls.map((l) => l.textContent));
    assert.deepEqual(labels, [IMG, QUOTED, LINES]);
    await page.click(SAVE);
    await shown(page, DASH);

    const record = readConfig(home).dashboards[0];
    assert.equal(record.name, DASH);
    assert.deepEqual(record.layout[0].cells.map((c) => [c.name, c.query]), [[TITLE, IMG], ['Untitled', QUOTED], ['Untitled', LINES]]);
    assert.deepEqual(await page.$$eval('#dashboardDropdown option', (os) => os.map((o) => [o.value, o.textContent])),
      [['', '— Select Dashboard —'], [DASH, DASH]]);
    assert.equal((await panelTitles(page))[0], TITLE);

    await edit(page, 3);
    assert.equal(await page.inputValue('#dashboardName'), DASH);
    assert.equal(await page.inputValue(`${cell(0)} .cell-title`), TITLE);
    const state = await editorState(page);
    assert.deepEqual(state[0].map((c) => [c.query, c.label]), [[IMG, IMG], [QUOTED, QUOTED], [LINES, LINES]]);
    // The chosen row of each list carries its name exactly and is marked.
    for (const [id, name] of [[0, IMG], [1, QUOTED], [2, LINES]]) {
      await page.click(`${cell(id)} .query-dropdown-btn`);
      const marked = await page.$$eval(`${cell(id)} .query-dropdown-item.selected`, (ds) => ds.map((d) => d.dataset.name));
      assert.deepEqual(marked, [name]);
    }
    await page.click('#dashboardName');
    await page.click('#deleteDashboardBtn');
    assert.equal(await page.textContent('.dash-modal-text'), `Delete "${DASH}"?`);
    await page.click('#cancelDeleteBtn');
    assert.equal(await page.locator('#pane-coming img').count(), 0);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
  });
});
