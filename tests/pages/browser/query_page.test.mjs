// The Query page as a user drives it: tree, folder selection, file queries, conversion, paging,
// export, aggregated runs, errors, templates, the switch and escaping of hostile names.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { getSnippets } from '../../../pages/query/snippets.js';
import { withApp, runEngine, makeTemp, waitForFile, recordCalls, recordedCalls, selectedFolder, run } from './harness.mjs';

const ROWS_CSV = 'id,name\n' + Array.from({ length: 1234 }, (_, i) => `${i + 1},n${i + 1}`).join('\n') + '\n';

async function resultText(page, pattern) {
  await page.waitForFunction(([p, f]) => new RegExp(p, f).test(document.getElementById('queryResult').textContent),
    [pattern.source, pattern.flags]);
  return page.textContent('#queryResult');
}

test('choosing a folder shows the tree in order with sizes, dates and badges', async () => {
  const other = makeTemp('plinthos-other-');
  try {
    fs.mkdirSync(path.join(other, 'z'));
    fs.mkdirSync(path.join(other, 'M'));
    fs.writeFileSync(path.join(other, 'b.csv'), 'x\n1\n');
    fs.writeFileSync(path.join(other, 'notes.txt'), 'n');
    runEngine("COPY (SELECT 1 AS x) TO 'A.parquet' (FORMAT PARQUET)", other);
    // A configured folder that is gone falls back to the bucket folder beside the bundle.
    await withApp({ bucket: false, config: { bucketPath: path.join(other, 'gone') } }, async ({ page, server }) => {
      assert.match(await page.textContent('#bucketPathLabel'), /\/bucket$/);
      await server.dialog(other);
      await page.click('button[title="Change Path"]');
      await page.waitForFunction((p) => document.getElementById('bucketPathLabel').textContent === p
        && document.getElementById('bucketOut').textContent.includes('b.csv'), other);
      const rows = await page.$$eval('#bucketOut .folder-row, #bucketOut .file-row', (els) => els.map((e) => e.textContent));
      assert.equal(rows.length, 4);
      assert.match(rows[0], /M$/);
      assert.match(rows[1], /z$/);
      assert.match(rows[2], /^PARQUETA\.parquet\d+ B/);
      assert.match(rows[3], /^CSVb\.csv4 B.*→ Parquet$/);
      assert.notEqual(await page.textContent('.file-row .file-date'), '');
    });
  } finally {
    fs.rmSync(other, { recursive: true, force: true });
  }
});

test('folder selection, collapsing, file queries and conversion', async () => {
  await withApp({ data: { 'sub/inner/a.csv': 'id\n1\n2\n' } }, async ({ page, data }) => {
    await page.waitForSelector('#folder-row-2');
    const sel = () => selectedFolder(page);
    await page.click('#folder-row-2');
    assert.equal(await sel(), data + '/sub/inner');
    await page.click('#arrow-1');
    assert.equal(await page.isVisible('#folder-1'), false);
    assert.equal(await page.textContent('#arrow-1'), '▸');
    assert.equal(await sel(), data + '/sub/inner');
    await page.click('#arrow-1');
    await page.click('#folder-row-2');
    assert.equal(await sel(), '');
    await page.click('#folder-row-1');
    await page.fill('#queryInput', 'SELECT COUNT(id) AS n FROM {path-to-files}');
    await page.click('#labelCsv');
    await page.click('#formatSwitch');
    await recordCalls(page, 'holdQueryCpp');
    await page.click('#runQueryBtn');
    await resultText(page, /2/);
    assert.deepEqual(await recordedCalls(page, 'holdQueryCpp'), [`SELECT COUNT(id) AS n FROM read_csv('${data}/sub/**/*.csv', union_by_name = true)`]);
    await page.click('.file-row .file-name');
    assert.equal(await page.$eval('#queryInput', (e) => e.value), `SELECT *\nFROM read_csv('${data}/sub/inner/a.csv')\nLIMIT 10`);
    await page.click('.convert-btn');
    await page.waitForFunction(() => document.getElementById('bucketOut').textContent.includes('a.parquet'));
    assert.ok(fs.existsSync(path.join(data, 'sub/inner/a.parquet')));
    assert.equal(await sel(), data + '/sub');
  });
});

test('paging through 1,234 rows, a trailing LIMIT, and exporting every row', async () => {
  await withApp({ data: { 'rows.csv': ROWS_CSV } }, async ({ page, server, data }) => {
    await page.click('#formatSwitch');
    await run(page, 'SELECT * FROM {path-to-files} ORDER BY id');
    assert.match(await resultText(page, /1-10 of 1,234 rows/), /1-10 of 1,234 rows/);
    const disabled = () => page.$$eval('.pager-btn', (b) => b.map((x) => x.disabled));
    assert.deepEqual(await disabled(), [true, true, false, false]);
    // The footer's three groups sit on one line; enabled and disabled buttons look different.
    const look = await page.$$eval('.pager-btn', (b) => b.map((x) => {
      const c = getComputedStyle(x);
      return [c.backgroundColor, c.color, c.width, Math.round(x.getBoundingClientRect().top)];
    }));
    assert.deepEqual(look.map((l) => l.slice(0, 3)), [
      ['rgb(49, 50, 68)', 'rgb(108, 112, 134)', '32px'], ['rgb(49, 50, 68)', 'rgb(108, 112, 134)', '32px'],
      ['rgb(69, 71, 90)', 'rgb(205, 214, 244)', '32px'], ['rgb(69, 71, 90)', 'rgb(205, 214, 244)', '32px']]);
    assert.equal(new Set(look.map((l) => l[3])).size, 1);
    await page.click('button[title="Next Page"]');
    await resultText(page, /11-20 of 1,234 rows/);
    assert.deepEqual(await disabled(), [false, false, false, false]);
    await page.click('button[title="Last Page"]');
    assert.match(await resultText(page, /1,231-1,234 of 1,234 rows/), /n1234/);
    assert.deepEqual(await disabled(), [false, false, true, true]);
    assert.match(await page.textContent('#queryTime'), /^\d{1,3}(,\d{3})* ms$/);
    const out = path.join(data, 'export.csv');
    await server.dialog(out);
    await page.click('.paged-csv-btn');
    await waitForFile(out);
    const expected = runEngine(`COPY (SELECT * FROM read_csv('${data}/rows.csv') ORDER BY id) TO '${data}/want.csv' (FORMAT CSV, HEADER)`, data);
    assert.equal(expected, '');
    assert.equal(fs.readFileSync(out, 'utf8'), fs.readFileSync(path.join(data, 'want.csv'), 'utf8'));
    // A trailing LIMIT is the statement's own: its rows are all there is to page.
    await run(page, 'SELECT * FROM {path-to-files} ORDER BY id LIMIT 10');
    await resultText(page, /1-10 of 10 rows/);
    assert.deepEqual(await disabled(), [true, true, true, true]);
  });
});

test('aggregated runs, saving the held result, errors, the folder alert and Ctrl+Enter', async () => {
  await withApp({ data: { 'rows.csv': ROWS_CSV } }, async ({ page, server, data, browser }) => {
    await page.click('#formatSwitch');
    await run(page, 'SELECT COUNT(id) AS n, SUM(id) AS s FROM {path-to-files}');
    await resultText(page, /1,234/);
    assert.match(await page.textContent('#queryResult'), /761,995/);
    assert.match(await page.textContent('#queryTime'), /^\d{1,3}(,\d{3})* ms$/);
    assert.equal(await page.isVisible('#downloadBtn'), true);
    // The held result saved as CSV text; a destination that cannot be written says so.
    const saved = path.join(data, 'held.csv');
    await server.dialog(saved);
    await page.click('#downloadBtn');
    await waitForFile(saved);
    assert.equal(fs.readFileSync(saved, 'utf8'), 'n,s\n1234,761995\n');
    await server.dialog(path.join(data, 'missing', 'held.csv'));
    const failed = new Promise((r) => page.once('dialog', async (d) => { r(d.message()); await d.dismiss(); }));
    await page.click('#downloadBtn');
    // The failure names the file and the system's reason.
    assert.equal(await failed, 'Save failed: Could not write the CSV file ' + path.join(data, 'missing', 'held.csv') + ': No such file or directory');
    await run(page, 'SELECT SUM(nope) FROM {path-to-files}');
    await page.waitForSelector('#queryError', { state: 'visible' });
    assert.match(await page.textContent('#queryError'), /^⚠ .*nope/s);
    assert.equal(await page.textContent('#queryResult'), '');
    await run(page, 'SELECT nope FROM {path-to-files}');
    const look = await page.waitForFunction(() => {
      const d = document.querySelector('#queryResult .engine-error');
      return d && /nope/.test(d.textContent) && [getComputedStyle(d).color, getComputedStyle(d).fontFamily];
    });
    assert.deepEqual(await look.jsonValue(), ['rgb(243, 139, 168)', 'monospace']);
    assert.equal(await page.isVisible('#queryError'), false);
    await page.fill('#queryInput', 'SELECT 42 AS answer');
    await page.focus('#queryInput');
    await page.keyboard.press('Control+Enter');
    await resultText(page, /1-1 of 1 rows/);
    // A page that never learnt a data folder: its listing answers that none is set.
    const bare = await browser.newPage();
    await bare.addInitScript(() => Object.defineProperty(window, 'listBucketCpp', {
      configurable: true,
      set() {},
      get: () => async () => ({ error: 'No bucket path set', bucketPath: '' }),
    }));
    await bare.goto(server.url);
    await bare.waitForFunction(() => /No bucket path selected/.test((document.getElementById('bucketOut') || {}).textContent));
    await run(bare, 'SELECT 42 AS answer');
    await resultText(bare, /1-1 of 1 rows/);
    const dialog = new Promise((r) => bare.once('dialog', async (d) => { r(d.message()); await d.dismiss(); }));
    await run(bare, 'SELECT * FROM {path-to-files}');
    assert.equal(await dialog, 'Please select a folder in the Bucket Browser first');
    assert.match(await bare.textContent('#queryResult'), /answer/);
    await bare.close();
  });
});

test('edge cases of running: blank text, COUNT(*), semicolons, comments, empty and exact-page answers', async () => {
  const eleven = 'id\n' + Array.from({ length: 11 }, (_, i) => i + 1).join('\n') + '\n';
  await withApp({ data: { 'eleven.csv': eleven } }, async ({ page, server, data }) => {
    const grey = async () => page.$eval('#queryResult div', (d) => [d.textContent, getComputedStyle(d).color]);
    await page.click('#formatSwitch');
    await run(page, 'SELECT * FROM {path-to-files} WHERE id <= 10 -- first ten');
    await resultText(page, /1-10 of 10 rows/);
    assert.deepEqual(await page.$$eval('.pager-btn', (b) => b.map((x) => x.disabled)), [true, true, true, true]);
    // Blank text changes nothing, not even the result on screen.
    await run(page, '   \n  ');
    assert.match(await page.textContent('#queryResult'), /1-10 of 10 rows/);
    await run(page, 'SELECT * FROM {path-to-files} ORDER BY id LIMIT 3');
    await resultText(page, /1-3 of 3 rows/);
    await run(page, 'SELECT * FROM {path-to-files} ORDER BY id');
    await resultText(page, /1-10 of 11 rows/);
    await page.click('button[title="Last Page"]');
    await resultText(page, /11-11 of 11 rows/);
    // COUNT(*) is not an aggregation by the page's rule: one paginated row.
    await run(page, 'SELECT COUNT(*) AS n FROM {path-to-files}');
    await resultText(page, /1-1 of 1 rows/);
    assert.deepEqual(await page.$$eval('#chartType option', (o) => o.map((x) => x.value)),
      ['paginated', 'table', 'bar', 'line', 'area', 'pie', 'bar-split', 'line-split', 'area-split']);
    assert.equal(await page.inputValue('#chartType'), 'paginated');
    await run(page, 'SELECT * FROM {path-to-files} WHERE id > 100');
    await resultText(page, /No rows returned\./);
    assert.deepEqual(await grey(), ['No rows returned.', 'rgb(108, 112, 134)']);
    assert.equal(await page.$$eval('.pager-btn', (b) => b.length), 0);
    // The Distinct template ends in a semicolon, and so may a user's query with a comment after it:
    // the paged statements are built without it.
    await page.selectOption('#examplesDropdown', 'filter');
    await page.fill('#queryInput', (await page.$eval('#queryInput', (e) => e.value)).replace(/column_name/g, 'id'));
    await page.click('#runQueryBtn');
    await resultText(page, /1-10 of 11 rows/);
    await run(page, 'SELECT * FROM {path-to-files} WHERE id > 5 ORDER BY id; -- note');
    await resultText(page, /1-6 of 6 rows/);
    assert.equal(await page.isVisible('#queryError'), false);
    const exported = path.join(data, 'after-semicolon.csv');
    await server.dialog(exported);
    await page.click('.paged-csv-btn');
    await waitForFile(exported);
    assert.equal(fs.readFileSync(exported, 'utf8').trim().split('\n').length, 7);
    // An aggregated statement the engine answers with nothing: no rows, no error box.
    await run(page, 'CREATE TABLE t AS SELECT SUM(id) AS s FROM {path-to-files}');
    await resultText(page, /No rows returned\./);
    assert.equal(await page.isVisible('#queryError'), false);
    assert.equal(await page.isVisible('#downloadBtn'), false);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('the CSV/Parquet switch restyles itself and only changes the next run', async () => {
  await withApp({ data: { 'a.csv': 'x\n1\n' } }, async ({ page }) => {
    const look = () => page.evaluate(() => [
      getComputedStyle(document.getElementById('switchThumb')).left,
      getComputedStyle(document.getElementById('formatSwitch')).backgroundColor,
      getComputedStyle(document.getElementById('labelCsv')).color,
      getComputedStyle(document.getElementById('labelParquet')).color]);
    const parquet = ['18px', 'rgb(250, 179, 135)', 'rgb(108, 112, 134)', 'rgb(250, 179, 135)'];
    const csv = ['2px', 'rgb(166, 227, 161)', 'rgb(166, 227, 161)', 'rgb(108, 112, 134)'];
    assert.deepEqual(await look(), parquet);
    await recordCalls(page, 'queryDuckCpp');
    await page.click('#formatSwitch');
    await page.waitForTimeout(300);
    assert.deepEqual(await look(), csv);
    await run(page, 'SELECT x FROM {path-to-files}');
    await resultText(page, /1-1 of 1 rows/);
    await page.click('#formatSwitch');
    await page.waitForTimeout(300);
    assert.deepEqual(await look(), parquet);
    // The editor reads the engine's words once for completion; every run of the user's reads CSV.
    const sent = (await recordedCalls(page, 'queryDuckCpp')).filter((sql) => !/duckdb_keywords\(\)/.test(sql));
    assert.ok(sent.length && sent.every((sql) => /read_csv\(/.test(sql)), sent.join('\n'));
  });
});

test('every template is offered exactly and the menu resets', async () => {
  await withApp({ data: { 'a.csv': 'x\n1\n' } }, async ({ page }) => {
    const labels = await page.$$eval('#examplesDropdown option', (o) => o.map((x) => x.textContent));
    assert.deepEqual(labels, ['— Examples —', 'Schema', 'Select', 'Group by Column', 'Group by Column Range', 'Group by Date Column', 'Distinct', 'Join']);
    const snippets = getSnippets();
    for (const key of Object.keys(snippets)) {
      await page.selectOption('#examplesDropdown', key);
      assert.equal(await page.$eval('#queryInput', (e) => e.value), snippets[key]);
      assert.equal(await page.inputValue('#examplesDropdown'), '');
      assert.ok(snippets[key].includes('{path-to-files}'));
    }
    assert.ok(snippets.agg.startsWith('SELECT \n    product_category,'));
    await page.fill('#queryInput', '');
    const attrs = await page.$eval('#queryInput', (t) => [t.parentElement.querySelector('.cm-placeholder').textContent, t.getAttribute('spellcheck'), t.getAttribute('autocomplete')]);
    assert.deepEqual(attrs, ['SELECT * FROM {path-to-files} LIMIT 10', 'false', 'off']);
  });
});

test('hostile names and cells show as text and run no script', async () => {
  const evil = '<img src=x onerror="window.__pwned=1">\'q"';
  const dir = `d${evil}`.replace(/\//g, '');
  await withApp({ data: { [`${dir}/f${evil}.csv`]: `"c${evil.replace(/"/g, '""')}"\n"v${evil.replace(/"/g, '""')}"\n` } }, async ({ page, data }) => {
    await page.waitForSelector('#folder-row-1');
    assert.match(await page.textContent('#folder-row-1'), /<img src=x/);
    await page.click('#folder-row-1');
    assert.equal(await selectedFolder(page), `${data}/${dir}`);
    await page.click('.file-row .file-name');
    // The path reaches the editor whole, its apostrophes doubled inside the SQL literal, and runs.
    const file = `${data}/${dir}/f${evil}.csv`.replace(/'/g, "''");
    assert.equal(await page.$eval('#queryInput', (e) => e.value), `SELECT *\nFROM read_csv('${file}')\nLIMIT 10`);
    await page.click('#runQueryBtn');
    await resultText(page, /1-1 of 1 rows/);
    await page.click('#formatSwitch');
    await run(page, 'SELECT * FROM {path-to-files}');
    await resultText(page, /1-1 of 1 rows/);
    assert.equal(await page.textContent('#queryResult th'), `c${evil}`);
    assert.equal(await page.textContent('#queryResult td'), `v${evil}`);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    assert.deepEqual(page.__errors || [], []);
  });
});

// With PLINTHOS_SCREENSHOTS=<folder> this also writes query-page.png of the sample data there.
test('the sample data beside the bundle pages through every Parquet and CSV row', async () => {
  await withApp({ bucket: false, viewport: { width: 1400, height: 1120 } }, async ({ page }) => {
    assert.match(await page.textContent('#bucketPathLabel'), /\/bucket$/);
    assert.match(await page.textContent('#pathVariableLine'), /, Parquet files$/);
    await run(page, 'SELECT * FROM {path-to-files}');
    await resultText(page, /1-10 of 3,200 rows/);
    assert.equal(await page.$$eval('#queryResult tbody tr', (r) => r.length), 10);
    const shots = process.env.PLINTHOS_SCREENSHOTS;
    if (shots) await page.screenshot({ path: path.join(shots, 'query-page.png') });
    await page.click('#formatSwitch');
    await run(page, 'SELECT region, COUNT(order_id) AS orders FROM {path-to-files} GROUP BY region ORDER BY region');
    await resultText(page, /north east/i);
    assert.equal(await page.$$eval('#queryResult tbody tr', (r) => r.length), 5);
    assert.deepEqual(page.__errors || [], []);
  });
});
