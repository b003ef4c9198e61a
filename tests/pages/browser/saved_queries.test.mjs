// The saved-queries panel driven in the real page against plinthos-dev: saving, the overwrite
// question, searching, loading, deleting, a reload, and hostile names and SQL.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { withApp, readConfig } from './harness.mjs';

async function runSql(page, sql) {
  await page.fill('#queryInput', sql);
  await page.click('#runQueryBtn');
  await page.waitForSelector('#saveQueryBtn', { state: 'visible' });
}

const stored = (home) => (readConfig(home).savedQueries || []).map((q) => [q.name, q.sql]);

// The list is drawn unfiltered after every load, hidden or not: a row per record.
async function waitStored(page, count) {
  await page.waitForFunction((n) => document.querySelectorAll('#savedQueriesList .saved-query-row').length === n, count);
}

async function saveAs(page, name) {
  await page.click('#saveQueryBtn');
  await page.fill('#saveQueryName', name);
  await page.click('#saveQueryPanel .save-confirm');
}

async function openMenu(page) {
  await page.click('#savedQueriesDropdownBtn');
  await page.waitForSelector('#savedQueriesDropdownMenu', { state: 'visible' });
}

// Background, text colour and top border of an element.
const looks = (page, sel) =>
  page.$eval(sel, (e) => {
    const c = getComputedStyle(e);
    return [c.backgroundColor, c.color, c.borderTopWidth + ' ' + c.borderTopColor];
  });

// The page's buttons must win over the theme's generic button and button:hover rules.
async function sameOnHover(page, sel, expected) {
  assert.deepEqual(await looks(page, sel), expected, sel);
  await page.hover(sel);
  assert.deepEqual(await looks(page, sel), expected, sel + ' hovered');
}

const DARK = 'rgb(30, 30, 46)';
const GREY = 'rgb(108, 112, 134)';
const NONE = 'rgba(0, 0, 0, 0)';

const rowNames = (page) => page.$$eval('#savedQueriesList .saved-query-row .saved-query-name', (els) => els.map((e) => e.textContent));

test('save, overwrite after the question, search, load, delete and reload', async () => {
  await withApp({}, async ({ page, home }) => {
    assert.equal(await page.isVisible('#saveQueryBtn'), false);
    await runSql(page, 'SELECT 1 AS a');
    await saveAs(page, '  Sales  ');
    await waitStored(page, 1);
    assert.equal(await page.isVisible('#saveQueryPanel'), false);
    assert.equal(await page.isVisible('#saveQueryBtn'), false);
    assert.equal(await page.inputValue('#saveQueryName'), '');

    await runSql(page, 'SELECT 2 AS b');
    await saveAs(page, 'Costs');
    await waitStored(page, 2);
    assert.deepEqual(stored(home), [
      ['Sales', 'SELECT 1 AS a'],
      ['Costs', 'SELECT 2 AS b'],
    ]);

    // Existing name: the question names it; Cancel keeps the panel open with the typed name.
    await runSql(page, 'SELECT 3 AS c');
    await saveAs(page, 'Sales');
    await page.waitForSelector('#overwriteConfirm', { state: 'visible' });
    assert.equal(await page.textContent('#overwriteConfirm b'), '"Sales"');
    assert.equal(
      await page.evaluate(() => document.getElementById('overwriteConfirm').innerText.replace(/\s+/g, ' ').trim()),
      'A query named "Sales" already exists. Overwrite? Overwrite Cancel'
    );
    await sameOnHover(page, '#savedQueriesDropdownBtn', ['rgb(49, 50, 68)', 'rgb(205, 214, 244)', '1px rgb(69, 71, 90)']);
    await sameOnHover(page, '#saveQueryBtn', ['rgb(30, 74, 46)', 'rgb(166, 227, 161)', '1px rgb(166, 227, 161)']);
    await sameOnHover(page, '#saveQueryPanel .save-confirm', ['rgb(166, 227, 161)', DARK, '0px ' + DARK]);
    await sameOnHover(page, '#saveQueryPanel .save-cancel', [NONE, GREY, '1px rgb(69, 71, 90)']);
    await sameOnHover(page, '#overwriteConfirm .overwrite-yes', ['rgb(250, 179, 135)', DARK, '0px ' + DARK]);
    await sameOnHover(page, '#overwriteConfirm .overwrite-no', [NONE, GREY, '1px ' + GREY]);
    assert.equal(await page.$eval('#overwriteConfirm .overwrite-yes', (e) => getComputedStyle(e).fontWeight), '600');
    await page.click('#overwriteConfirm .overwrite-no');
    assert.equal(await page.isVisible('#overwriteConfirm'), false);
    assert.equal(await page.isVisible('#saveQueryPanel'), true);
    assert.equal(await page.inputValue('#saveQueryName'), 'Sales');
    // Another case is another query.
    await page.fill('#saveQueryName', 'sales');
    await page.click('#saveQueryPanel .save-confirm');
    await waitStored(page, 3);

    // The question keeps the SQL of its moment, and Overwrite keeps the record's place.
    await runSql(page, 'SELECT 4 AS d');
    await saveAs(page, 'Sales');
    await page.waitForSelector('#overwriteConfirm', { state: 'visible' });
    await page.fill('#queryInput', 'edited afterwards');
    await page.click('#overwriteConfirm .overwrite-yes');
    // The notice follows the reload of the list.
    await page.waitForFunction(() => document.getElementById('queryNotice').textContent === 'Saved query "Sales"');
    assert.equal(await page.isVisible('#saveQueryPanel'), false);
    assert.deepEqual(stored(home), [
      ['Sales', 'SELECT 4 AS d'],
      ['Costs', 'SELECT 2 AS b'],
      ['sales', 'SELECT 3 AS c'],
    ]);
    // A new opening of the panel brings back neither the question nor the old name.
    await runSql(page, 'SELECT 5');
    await page.click('#saveQueryBtn');
    assert.equal(await page.isVisible('#overwriteConfirm'), false);
    await page.click('#saveQueryPanel .save-cancel');

    // Search ignores case; nothing found; reopening empties the search; focus lands in it.
    await openMenu(page);
    await page.waitForFunction(() => document.activeElement.id === 'savedQueriesSearch');
    await page.fill('#savedQueriesSearch', 'SAL');
    assert.deepEqual(await rowNames(page), ['Sales', 'sales']);
    await page.fill('#savedQueriesSearch', 'nothing like it');
    assert.equal(await page.textContent('#savedQueriesList'), 'No queries found');
    await page.click('#savedQueriesDropdownBtn');
    assert.equal(await page.isVisible('#savedQueriesDropdownMenu'), false);
    await openMenu(page);
    assert.equal(await page.inputValue('#savedQueriesSearch'), '');
    assert.deepEqual(await rowNames(page), ['Sales', 'Costs', 'sales']);
    // A click elsewhere closes the menu.
    await page.click('h2');
    assert.equal(await page.isVisible('#savedQueriesDropdownMenu'), false);

    // Loading: editor text, label, delete button, marked row.
    await openMenu(page);
    await page.click('#savedQueriesList .saved-query-row:nth-child(2)');
    assert.equal(await page.isVisible('#savedQueriesDropdownMenu'), false);
    assert.equal(await page.$eval('#queryInput', (e) => e.value), 'SELECT 2 AS b');
    assert.equal(await page.textContent('#savedQueriesDropdownLabel'), 'Costs');
    assert.equal(await page.isVisible('#deleteQueryBtn'), true);
    assert.equal(await page.textContent('#savedQueriesList .selected'), 'Costs✓');
    assert.equal(
      await page.$eval('#savedQueriesList .selected', (e) => getComputedStyle(e).backgroundColor),
      'rgb(30, 58, 95)'
    );
    assert.equal(await page.$eval('#savedQueriesList .saved-query-check', (e) => getComputedStyle(e).color), 'rgb(137, 180, 250)');
    await openMenu(page);
    await page.hover('#savedQueriesList .selected');
    assert.equal(await page.$eval('#savedQueriesList .selected', (e) => getComputedStyle(e).backgroundColor), 'rgb(69, 71, 90)');
    await page.click('#savedQueriesDropdownBtn');
    await sameOnHover(page, '#deleteQueryBtn', ['rgb(59, 26, 26)', 'rgb(243, 139, 168)', '1px rgb(243, 139, 168)']);

    // Deleting: gone at once, the editor keeps its text, the selection is cleared.
    await page.click('#deleteQueryBtn');
    await waitStored(page, 2);
    assert.deepEqual(stored(home).map((q) => q[0]), ['Sales', 'sales']);
    assert.equal(await page.$eval('#queryInput', (e) => e.value), 'SELECT 2 AS b');
    assert.equal(await page.textContent('#savedQueriesDropdownLabel'), '— Saved Queries —');
    assert.equal(await page.isVisible('#deleteQueryBtn'), false);

    // The list comes back from the configuration file after a reload.
    await page.reload();
    await waitStored(page, 2);
    await openMenu(page);
    assert.deepEqual(await rowNames(page), ['Sales', 'sales']);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('names and SQL with markup, quotes, backslashes and line breaks stay text', async () => {
  const name = `<img src=x onerror="window.__pwned=1">it's "q" \\ & </script>`;
  const sql = `SELECT 'it''s' AS "odd ""col""",\n  '\\n' AS bs, '<b>x</b>' AS m -- </script>\nFROM (SELECT 1)`;
  await withApp({}, async ({ page, home }) => {
    await runSql(page, sql);
    assert.equal(await page.$eval('#queryInput', (e) => e.value), sql);
    await saveAs(page, name);
    await waitStored(page, 1);
    assert.deepEqual(stored(home), [[name, sql]]);

    await page.fill('#queryInput', 'something else');
    await openMenu(page);
    assert.deepEqual(await rowNames(page), [name]);
    assert.equal(await page.$$eval('#savedQueriesList img', (els) => els.length), 0);
    await page.click('#savedQueriesList .saved-query-row');
    assert.equal(await page.$eval('#queryInput', (e) => e.value), sql);
    assert.equal(await page.textContent('#savedQueriesDropdownLabel'), name);

    // The overwrite question shows the name as text too.
    await runSql(page, sql);
    await saveAs(page, name);
    await page.waitForSelector('#overwriteConfirm', { state: 'visible' });
    assert.equal(await page.textContent('#overwriteConfirm b'), `"${name}"`);
    assert.equal(await page.$$eval('#overwriteConfirm img', (els) => els.length), 0);
    await page.click('#overwriteConfirm .overwrite-yes');
    await page.waitForSelector('#saveQueryPanel', { state: 'hidden' });
    assert.deepEqual(stored(home), [[name, sql]]);
    // The saved query is the one selected afterwards, its name shown as text.
    await page.waitForFunction((n) => document.getElementById('savedQueriesDropdownLabel').textContent === n, name);
    assert.equal(await page.isVisible('#deleteQueryBtn'), true);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    assert.deepEqual(page.__errors || [], []);
  });
});
