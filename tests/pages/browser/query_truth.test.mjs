// The Query page tells the truth: engine errors point into the user's own text (also in
// dashboard panels), scripts run as scripts, the folder in use is named, folders of mixed
// files answer every column, any answer can be drawn, and every success says so.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { withApp, waitForFile as waitFile, run, waitText } from './harness.mjs';
import { storeQuery, storeDashboard, openDashboards, choose, content } from './dashboard_helpers.mjs';

const ELEVEN = 'id,name\n' + Array.from({ length: 11 }, (_, i) => `${i + 1},n${i + 1}`).join('\n') + '\n';

// The line number of an engine message and the word its caret stands under.
function caretWord(message) {
  const lines = message.split('\n');
  const k = lines.findIndex((l) => /^LINE \d+: /.test(l));
  assert.ok(k >= 0 && /^ *\^$/.test(lines[k + 1]), message);
  const col = lines[k + 1].indexOf('^');
  return [Number(lines[k].match(/^LINE (\d+)/)[1]), lines[k].slice(col).match(/^\w+/)[0]];
}

test('engine errors name the line and word of the text the user wrote, on both pages', async () => {
  await withApp({ data: { 'e.csv': ELEVEN } }, async ({ page, server, data }) => {
    await page.click('#formatSwitch');
    const cases = [
      // [sql, error element, line, word]
      ['SELECT nope FROM {path-to-files}', '#queryResult .engine-error', 1, 'nope'],
      ["SELECT *\nFROM {path-to-files}\nWHERE column_name = 'value'\nLIMIT 10", '#queryResult .engine-error', 3, 'column_name'],
      ['SELECT SUM(nope) AS s FROM {path-to-files}', '#queryError', 1, 'nope'],
      ['SELECT id,\n  SUM(x) AS s\nFROM {path-to-files} GROUP BY id', '#queryError', 2, 'x'],
      // A script: the failing statement is the second one, after one that answered rows.
      ['SELECT 1 AS a;\nSELECT\n  id, nope FROM {path-to-files}', '#queryResult .engine-error', 3, 'nope'],
      // A short later statement, the path variable on the line shown as the user typed it.
      ['SELECT 1 AS a; SELECT nope FROM {path-to-files}', '#queryResult .engine-error', 1, 'nope'],
    ];
    for (const [sql, sel, line, word] of cases) {
      await run(page, sql);
      const text = await waitText(page, sel, /\^/);
      assert.deepEqual(caretWord(text), [line, word], sql);
      assert.doesNotMatch(text, /\[\{/, sql);
      assert.doesNotMatch(text, /read_csv\(/, sql);
      assert.equal(await page.$eval(sel, (e) => getComputedStyle(e).fontFamily), 'monospace');
    }

    await storeQuery(server, 'bad one', 'SELECT nope FROM {path-to-files}');
    await storeQuery(server, 'bad three', 'SELECT name,\n  SUM(id) AS total\nFROM {path-to-files} GROUP BY nope');
    await storeDashboard(server, 'Broken', [{ cells: [{ name: 'A', query: 'bad one', chartType: 'paginated' },
      { name: 'B', query: 'bad three', chartType: 'bar' }] }], data, 'csv');
    await openDashboards(page);
    await choose(page, 'Broken');
    for (const [c, line, word] of [[0, 1, 'nope'], [1, 3, 'nope']]) {
      const sel = content(0, c) + ' .engine-error';
      const text = await waitText(page, sel, /\^/);
      assert.deepEqual(caretWord(text), [line, word]);
      assert.equal(await page.$eval(sel, (e) => getComputedStyle(e).fontFamily), 'monospace');
    }
  });
});

test('scripts run in order and show the last answer, paged, exported and drawn', async () => {
  await withApp({ data: { 'e.csv': ELEVEN } }, async ({ page, server, data }) => {
    await page.click('#formatSwitch');
    await run(page, 'SELECT 1 AS a; SELECT 2 AS b');
    await waitText(page, '#queryResult', /1-1 of 1 rows/);
    assert.equal(await page.textContent('#queryResult th'), 'b');
    const script = 'CREATE TEMP TABLE t AS SELECT * FROM {path-to-files};\n-- the table made above\nSELECT * FROM t ORDER BY id;';
    await run(page, script);
    await waitText(page, '#queryResult', /1-10 of 11 rows/);
    await page.click('button[title="Last Page"]');
    await waitText(page, '#queryResult', /11-11 of 11 rows/);
    const out = path.join(data, 'script.out');
    await server.dialog(out);
    await page.click('.paged-csv-btn');
    await waitFile(out);
    assert.equal(fs.readFileSync(out, 'utf8').trim().split('\n').length, 12);
    assert.equal(await waitText(page, '#queryNotice', /Exported/), `Exported 11 rows to ${out}`);
    // An aggregated last statement runs whole, after the temporary table is made.
    await run(page, 'CREATE TEMP TABLE t AS SELECT * FROM {path-to-files}; SELECT SUM(id) AS s FROM t');
    await waitText(page, '#queryResult', /66/);
    assert.equal(await page.textContent('#answerNote'), '1 row');
    // An error names the failing statement's message only.
    await run(page, 'SELECT 1 AS a; SELECT * FROM missing_table');
    const text = await waitText(page, '#queryResult .engine-error', /missing_table/);
    assert.match(text, /^Catalog Error/);
  });
});

test('the folder line follows selection, the switch, Refresh, conversion and a folder gone', async () => {
  await withApp({ data: { 'sub/a.csv': 'x\n1\n', 'b.csv': 'x\n2\n' } }, async ({ page, data }) => {
    const line = () => page.textContent('#pathVariableLine');
    const steps = [
      [async () => {}, '{path-to-files} = the whole data folder, Parquet files'],
      [() => page.click('#folder-row-1'), '{path-to-files} = sub/, Parquet files'],
      [() => page.click('#formatSwitch'), '{path-to-files} = sub/, CSV files'],
      [() => page.click('button[title="Refresh"]'), '{path-to-files} = sub/, CSV files'],
      // The line stays as it was, so the table written is what says the conversion ended.
      [async () => {
        await page.click('.file-row:has(.file-name:text-is("a.csv")) .convert-btn');
        await page.waitForSelector('.file-row:has(.file-name:text-is("a.parquet"))');
      }, '{path-to-files} = sub/, CSV files'],
      [async () => {
        fs.rmSync(path.join(data, 'sub'), { recursive: true });
        await page.click('button[title="Refresh"]');
      }, '{path-to-files} = the whole data folder, CSV files (sub/ is gone)'],
      [() => page.click('#formatSwitch'), '{path-to-files} = the whole data folder, Parquet files (sub/ is gone)'],
    ];
    for (const [act, want] of steps) {
      await act();
      await page.waitForFunction((w) => document.getElementById('pathVariableLine').textContent === w, want)
        .catch(async () => assert.equal(await line(), want));
    }
    assert.ok(fs.existsSync(path.join(data, 'b.csv')));
    await page.click('#formatSwitch');
    await run(page, 'SELECT x FROM {path-to-files}');
    await waitText(page, '#queryResult', /1-1 of 1 rows/);
  });
});

test('a folder of files with different columns answers every column, CSV and Parquet', async () => {
  await withApp({ data: { 'w/seattle-weather.csv': 'date,temp\n2024-01-01,5\n',
    'w/weather.csv': 'date,temp,location\n2024-01-02,7,Oslo\n' } }, async ({ page }) => {
    await page.click('#folder-row-1');
    await page.click('#formatSwitch');
    for (const parquet of [false, true]) {
      if (parquet) {
        for (const f of ['seattle-weather.csv', 'weather.csv']) {
          await page.click(`.file-row:has(.file-name:text-is("${f}")) .convert-btn`);
          await page.waitForFunction((n) => document.getElementById('bucketOut').textContent.includes(n), f.replace('.csv', '.parquet'));
        }
        await page.click('#formatSwitch');
      }
      await run(page, 'SELECT * FROM {path-to-files} ORDER BY date');
      await waitText(page, '#queryResult', /1-2 of 2 rows/);
      assert.deepEqual(await page.$$eval('#queryResult th', (t) => t.map((x) => x.textContent)), ['date', 'temp', 'location']);
      assert.deepEqual(await page.$$eval('#queryResult td', (t) => t.map((x) => x.textContent)),
        ['2024-01-01', '5', 'NULL', '2024-01-02', '7', 'Oslo']);
    }
  });
});

test('any answer can be drawn: a line chart of plain rows and a whole table of every row', async () => {
  await withApp({ data: { 'p.csv': 'date,price,symbol\n2024-01-01,10,AAPL\n2024-01-02,12,AAPL\n2024-01-02,9,MSFT\n' } }, async ({ page }) => {
    await page.click('#formatSwitch');
    await run(page, "SELECT date, price FROM {path-to-files} WHERE symbol = 'AAPL' ORDER BY date");
    await waitText(page, '#queryResult', /1-2 of 2 rows/);
    await page.selectOption('#chartType', 'line');
    await page.waitForSelector('#queryResult canvas');
    assert.equal(await page.textContent('#answerNote'), '2 rows');
    await page.selectOption('#chartType', 'table');
    await waitText(page, '#queryResult', /AAPL|2024-01-02/);
    assert.equal(await page.$$eval('#queryResult tbody tr td:first-child', (t) => t.filter((x) => x.textContent).length), 2);
    await run(page, 'SELECT range AS n, range % 7 AS m FROM range(100005)');
    await waitText(page, '#queryResult', /1-10 of 100,005 rows/);
    await page.selectOption('#chartType', 'table');
    assert.equal(await waitText(page, '#answerNote', /100,005/), '100,005 rows');
    await page.selectOption('#chartType', 'paginated');
    await waitText(page, '#queryResult', /1-10 of 100,005 rows/);
    assert.equal(await page.textContent('#answerNote'), '');
  });
});

test('saving a query and both exports say that they happened', async () => {
  await withApp({ data: { 'e.csv': ELEVEN } }, async ({ page, server, data }) => {
    await page.click('#formatSwitch');
    await run(page, 'SELECT name, SUM(id) AS s FROM {path-to-files} GROUP BY name ORDER BY name');
    await waitText(page, '#queryResult', /n1/);
    assert.equal(await page.textContent('#answerNote'), '11 rows');
    await page.click('#saveQueryBtn');
    await page.fill('#saveQueryName', 'sums');
    await page.click('.save-confirm');
    assert.equal(await waitText(page, '#queryNotice', /Saved/), 'Saved query "sums"');
    assert.equal(await page.textContent('#savedQueriesDropdownLabel'), 'sums');
    assert.equal(await page.isVisible('#deleteQueryBtn'), true);
    const held = path.join(data, 'held.out');
    await server.dialog(held);
    await page.click('#downloadBtn');
    assert.equal(await waitText(page, '#queryNotice', /Exported/), `Exported 11 rows to ${held}`);
    await waitFile(held);
    await server.dialog(path.join(data, 'no', 'such', 'dir.csv'));
    const failed = new Promise((r) => page.once('dialog', async (d) => { r(d.message()); await d.dismiss(); }));
    await run(page, 'SELECT * FROM {path-to-files}');
    await waitText(page, '#queryResult', /1-10 of 11 rows/);
    await page.click('.paged-csv-btn');
    assert.match(await failed, /^Export failed: /);
    assert.equal(await waitText(page, '#queryNotice', /failed/), 'Export failed');
  });
});
