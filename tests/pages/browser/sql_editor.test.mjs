// The Query page's SQL editor as a user drives it on real files with the real engine: the
// `value` and fill contract, completion of spaced columns, aliases and paths, errors underlined
// where they are, the run keys, leaving the editor by keyboard, and input that must not hang it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { withApp } from './harness.mjs';

const value = (page) => page.$eval('#queryInput', (e) => e.value);
const optionLabels = (page) => page.$$eval('.cm-tooltip-autocomplete li', (li) => li.map((x) => x.querySelector('.cm-completionLabel').textContent));

async function resultText(page, pattern) {
  await page.waitForFunction(([p, f]) => new RegExp(p, f).test(document.getElementById('queryResult').textContent),
    [pattern.source, pattern.flags]);
  return page.textContent('#queryResult');
}

// Waits until the completion list shows `label`, then returns every label shown.
async function listWith(page, label) {
  await page.waitForFunction((l) => [...document.querySelectorAll('.cm-tooltip-autocomplete .cm-completionLabel')]
    .some((x) => x.textContent === l), label);
  // A list is taken by Enter only once it has been open a moment, as a person sees it first.
  await page.waitForTimeout(150);
  return optionLabels(page);
}

// Empties the editor and types `text` with the keyboard, as a user does.
async function typeFresh(page, text) {
  await page.fill('#queryInput', '');
  await page.focus('#queryInput');
  await page.keyboard.type(text);
}

const SPACED = '"Airport Name","Cost Total $",region\nOslo,12.5,north\nBergen,3,west\n';

test('value and fill: the whole text, one undo step, an input event, typing and the placeholder', async () => {
  await withApp({ data: { 'a.csv': 'x\n1\n' } }, async ({ page }) => {
    assert.equal(await value(page), '');
    assert.equal(await page.textContent('.cm-placeholder'), 'SELECT * FROM {path-to-files} LIMIT 10');
    const multi = 'SELECT 1 AS a,\n  2 AS b\n-- done';
    await page.fill('#queryInput', multi);
    assert.equal(await value(page), multi);
    await page.keyboard.type(' x');
    assert.equal(await value(page), multi + ' x');
    const fired = await page.$eval('#queryInput', (e) => {
      let n = 0;
      e.addEventListener('input', () => n++);
      e.value = 'SELECT 2';
      return n;
    });
    assert.equal(fired, 1);
    assert.equal(await value(page), 'SELECT 2');
    await page.focus('#queryInput');
    await page.keyboard.press('Control+z');
    assert.equal(await value(page), multi + ' x');
    await page.keyboard.press('Control+y');
    assert.equal(await value(page), 'SELECT 2');
    // The examples menu writes through the same property.
    await page.selectOption('#examplesDropdown', 'schema');
    assert.equal(await value(page), 'DESCRIBE SELECT * FROM {path-to-files}');
    assert.equal(await page.textContent('.cm-path-variable'), '{path-to-files}');
    // The variable is one token: one Backspace at its end removes it whole.
    await page.focus('#queryInput');
    await page.keyboard.press('Control+End');
    await page.keyboard.press('Backspace');
    assert.equal(await value(page), 'DESCRIBE SELECT * FROM ');
    assert.deepEqual(page.__errors || [], []);
  });
});

// The colour a word of the editor is drawn in, null when it is plain text.
const wordColor = (page, word) => page.evaluate((w) => {
  const span = [...document.querySelectorAll('.cm-line span')].find((s) => s.textContent === w);
  return span ? getComputedStyle(span).color : null;
}, word);

test("the engine's own functions are highlighted once read; over a long text, once the text is short again", async () => {
  await withApp({ data: { 'a.csv': 'x\n1\n' } }, async ({ page }) => {
    // The engine's words held back until a long text is in the editor.
    let release;
    const held = new Promise((r) => { release = r; });
    await page.route('**/bridge/queryDuckCpp', async (route) => {
      if ((route.request().postData() || '').includes('duckdb_keywords')) await held;
      await route.continue();
    });
    await page.reload();
    await page.waitForFunction(() => /a\.csv/.test(document.getElementById('bucketOut')?.textContent || ''));
    await page.$eval('#queryInput', (e) => { e.value = '--' + 'x'.repeat(20000) + '\nSELECT read_csv(1)'; });
    release();
    await page.focus('#queryInput');
    await page.keyboard.press('Control+End');
    await page.keyboard.type('\nSELECT read_cs');
    await listWith(page, 'read_csv');
    // Read, but a new dialect would parse the long text again under the typing.
    assert.equal(await wordColor(page, 'read_csv'), null);
    await page.keyboard.press('Escape');
    await page.keyboard.press('Control+a');
    await page.keyboard.press('Backspace');
    await page.keyboard.type('SELECT read_csv(1)');
    await page.waitForFunction(() => [...document.querySelectorAll('.cm-line span')].some((s) => s.textContent === 'read_csv'));
    assert.notEqual(await wordColor(page, 'read_csv'), await wordColor(page, 'SELECT'));
    assert.deepEqual(page.__errors || [], []);
  });
});

test('running the text closes its completion list, and typing again completes as before', async () => {
  await withApp({ data: { 'a.csv': 'amount,k\n1,2\n' } }, async ({ page }) => {
    await page.click('#formatSwitch');
    await typeFresh(page, 'SELECT amo');
    await listWith(page, 'amount');
    await page.keyboard.press('Control+Enter');
    await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
    assert.equal(await page.$('.cm-tooltip-autocomplete'), null);
    assert.equal(await value(page), 'SELECT amo');
    await page.keyboard.type('unt, k');
    await listWith(page, 'k');
  });
});

test('completion: a spaced column quoted, columns after an alias, a path inside read_csv', async () => {
  await withApp({ data: { '2024/north east.csv': SPACED, 'other.csv': 'id,amount\n1,2\n' } }, async ({ page }) => {
    await page.click('#formatSwitch');
    await page.click('#folder-row-1');
    await typeFresh(page, 'SELECT Air');
    assert.ok((await listWith(page, 'Airport Name')).length >= 1);
    await page.keyboard.press('Enter');
    assert.equal(await value(page), 'SELECT "Airport Name"');
    await page.keyboard.type(', cost');
    await listWith(page, 'Cost Total $');
    await page.keyboard.press('Enter');
    assert.equal(await value(page), 'SELECT "Airport Name", "Cost Total $"');

    // After `alias.`, the columns of that source and nothing else.
    await page.fill('#queryInput', "SELECT  FROM {path-to-files} n JOIN read_csv('other.csv') o ON true");
    await page.focus('#queryInput');
    await page.keyboard.press('Control+Home');
    for (let i = 0; i < 7; i++) await page.keyboard.press('ArrowRight');
    await page.keyboard.type('o.');
    assert.deepEqual((await listWith(page, 'amount')).sort(), ['amount', 'id']);
    await page.keyboard.press('Escape');
    await page.keyboard.type('x, n.');
    assert.deepEqual((await listWith(page, 'region')).sort(), ['Airport Name', 'Cost Total $', 'region']);
    await page.keyboard.press('Escape');

    // Inside read_csv('…'): the tree's CSV files and folders, relative to the data folder.
    await typeFresh(page, "SELECT * FROM read_csv('nor");
    await listWith(page, '2024/north east.csv');
    await page.keyboard.press('Enter');
    assert.equal(await value(page), "SELECT * FROM read_csv('2024/north east.csv')");
    await page.click('#runQueryBtn');
    await resultText(page, /1-2 of 2 rows/);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('an engine error is underlined at its place in the typed text and clears on the next change', async () => {
  await withApp({ data: { 'a.csv': 'id\n1\n' } }, async ({ page }) => {
    await page.click('#formatSwitch');
    const marked = () => page.waitForSelector('.cm-query-error').then((e) => e.textContent());
    // Paged: the error of the count statement, mapped through {path-to-files}.
    await page.fill('#queryInput', 'SELECT id,\n  nope\nFROM {path-to-files}');
    await page.click('#runQueryBtn');
    assert.equal(await marked(), 'nope');
    assert.match(await page.textContent('#queryResult'), /LINE 2:\s+nope/);
    await page.focus('#queryInput');
    await page.keyboard.type(' ');
    await page.waitForSelector('.cm-query-error', { state: 'detached' });
    // Whole: an aggregated statement after a first one; only the selection runs.
    const script = 'SELECT 1;\nSELECT SUM(missing) AS s FROM {path-to-files}';
    await page.fill('#queryInput', script);
    await page.click('#runQueryBtn');
    assert.equal(await marked(), 'missing');
    assert.equal(await page.isVisible('#queryError'), true);
    assert.equal(await value(page), script);
  });
});

test('Ctrl+Enter runs the text or the selection and inserts nothing; Escape then Tab leaves', async () => {
  await withApp({ data: { 'a.csv': 'x\n1\n' } }, async ({ page }) => {
    const script = 'SELECT 1 AS first;\nSELECT 2 AS second';
    await page.fill('#queryInput', script);
    await page.keyboard.press('Control+Enter');
    await resultText(page, /second/);
    assert.equal(await value(page), script);
    // Select the first statement with the keyboard and run only it.
    await page.keyboard.press('Control+Home');
    await page.keyboard.press('Shift+End');
    await page.keyboard.press('Control+Enter');
    await resultText(page, /first/);
    assert.equal(await value(page), script);
    assert.doesNotMatch(await page.textContent('#queryResult'), /second/);
    // Tab indents; Escape then Tab moves on to the run button.
    await page.keyboard.press('Control+End');
    await page.keyboard.press('Tab');
    assert.notEqual(await value(page), script);
    await page.keyboard.press('Escape');
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'runQueryBtn');
  });
});

test('bad input keeps the page responsive and the text whole', async () => {
  const wide = Array.from({ length: 2000 }, (_, i) => `"col ${i}"`).join(',') + '\n' + Array.from({ length: 2000 }, (_, i) => i).join(',') + '\n';
  await withApp({ data: { 'wide.csv': wide } }, async ({ page }) => {
    await page.click('#formatSwitch');
    // 5 MB in one write, then typing at its end.
    const big = 'SELECT 1 AS one\n--' + 'x'.repeat(5 * 1024 * 1024);
    await page.$eval('#queryInput', (e, v) => { e.value = v; }, big);
    await page.focus('#queryInput');
    await page.keyboard.press('Control+End');
    await page.keyboard.type('yz');
    assert.equal((await value(page)).length, big.length + 2);
    // 20,000 lines: still whole, and they run as one statement.
    const lines = 'SELECT n FROM (VALUES\n' + Array.from({ length: 20000 }, (_, i) => `(${i})`).join(',\n') + '\n) t(n) ORDER BY n DESC';
    await page.$eval('#queryInput', (e, v) => { e.value = v; }, lines);
    assert.equal(await value(page), lines);
    await page.click('#runQueryBtn');
    assert.match(await resultText(page, /of 20,000 rows/), /19,?999/);
    // NUL reaches the engine, whose error is shown; half a surrogate pair is not sent but
    // pointed at. Both texts are kept as typed.
    await page.$eval('#queryInput', (e) => { e.value = "SELECT 'a\u0000b' AS s"; });
    await page.click('#runQueryBtn');
    await resultText(page, /Error/);
    assert.equal(await value(page), "SELECT 'a\u0000b' AS s");
    await page.$eval('#queryInput', (e) => { e.value = "SELECT 1;\nSELECT '\ud800' AS s"; });
    await page.click('#runQueryBtn');
    await page.waitForSelector('#queryError', { state: 'visible' });
    assert.match(await page.textContent('#queryError'), /broken character .* line 2\./);
    assert.equal(await page.$$eval('.cm-query-error', (m) => m.length), 1);
    assert.equal(await value(page), "SELECT 1;\nSELECT '\ud800' AS s");
    // 2,000 columns known: the list comes, quoted.
    await typeFresh(page, 'SELECT col1999');
    await listWith(page, 'col 1999');
    await page.keyboard.press('Enter');
    assert.equal(await value(page), 'SELECT "col 1999"');
    assert.deepEqual(page.__errors || [], []);
  });
});
