// The tree and the answers stay truthful around entries that cannot be opened, a conversion that
// meets an existing Parquet file, names holding the engine's pattern characters, and a folder too
// big to draw at once.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { withApp, runEngine, run, waitText } from './harness.mjs';

// Root reads every folder; without these capabilities a folder of mode 000 is closed to it too.
const WITHOUT_OVERRIDE = ['setpriv', '--bounding-set=-dac_override,-dac_read_search', '--'];

async function useCsv(page) {
  await page.click('#formatSwitch');
  await waitText(page, '#pathVariableLine', /CSV files/);
}

async function refreshTree(page) {
  await page.click('#refreshBtn');
  await page.waitForFunction(() => !/^Loading/.test(document.getElementById('bucketOut').textContent));
}

test('entries that cannot be opened are marked with their reason and offer nothing to click', async () => {
  const hostile = '<img src=x onerror=window.__hit=1>.csv';
  await withApp({
    data: { 'a.csv': 'id\n1\n2\n', 'ok/b.csv': 'id\n3\n', 'locked/c.csv': 'id\n4\n' },
    servePrefix: WITHOUT_OVERRIDE,
  }, async ({ page, data }) => {
    fs.symlinkSync(path.join(data, 'nowhere.csv'), path.join(data, 'gone.csv'));
    fs.symlinkSync(path.join(data, 'nowhere.csv'), path.join(data, hostile));
    fs.symlinkSync('.', path.join(data, 'loop'));
    fs.chmodSync(path.join(data, 'locked'), 0);
    await refreshTree(page);
    const marked = await page.$$eval('#bucketOut .tree-problem', (els) =>
      Object.fromEntries(els.map((e) => [e.querySelector('.file-name').textContent, e.querySelector('.problem-reason').textContent])));
    const cases = [
      // [name, reason]
      ['gone.csv', /not there/],
      [hostile, /not there/],
      ['loop', /link back to a folder/],
      ['locked', /Permission denied/],
    ];
    for (const [name, reason] of cases) assert.match(marked[name] || '', reason, name);
    assert.equal(Object.keys(marked).length, cases.length);
    assert.equal(await page.evaluate(() => window.__hit), undefined);
    assert.equal(await page.$$eval('#bucketOut .tree-problem :is(.convert-btn, [data-path])', (els) => els.length), 0);
    // The rest of the tree works as usual.
    assert.deepEqual(await page.$$eval('#bucketOut .folder-row', (els) => els.map((e) => e.dataset.path)), [data + '/ok']);
    await page.fill('#queryInput', 'unchanged');
    await page.click('#bucketOut .tree-problem:has-text("gone.csv")');
    await page.click('#bucketOut .tree-problem:has-text("locked")');
    assert.equal(await page.$eval('#queryInput', (e) => e.value), 'unchanged');
    assert.equal(await page.$$eval('#bucketOut .folder-row.selected', (els) => els.length), 0);

    // A folder query that left a folder out says which, for the paged and the whole answer alike.
    await useCsv(page);
    for (const [sql, answer] of [
      ['SELECT * FROM {path-to-files}', /1-3 of 3 rows/],
      ['SELECT count(*) AS n FROM {path-to-files}', /3/],
    ]) {
      await run(page, sql);
      await waitText(page, '#queryResult', answer);
      assert.equal(await waitText(page, '#unreadableNote', /left out/),
        'These folders could not be read and were left out: locked/.', sql);
    }
    // A run that reads no folder clears the note.
    await run(page, 'SELECT 42 AS n');
    await waitText(page, '#queryResult', /42/);
    assert.equal(await page.isVisible('#unreadableNote'), false);
  });
});

test('a conversion keeps an existing Parquet file, says so, and replaces it only when asked', async () => {
  await withApp({ data: { 'keep.csv': 'id\n1\n2\n3\n' } }, async ({ page, data }) => {
    runEngine("COPY (SELECT 'old' AS id) TO 'keep.parquet' (FORMAT PARQUET)", data);
    const before = fs.readFileSync(path.join(data, 'keep.parquet'));
    await refreshTree(page);
    const rows = (file) => runEngine(`SELECT count(*) AS n FROM read_parquet('${file}')`, data, true);
    await page.click('.file-row:has(.file-name:text-is("keep.csv")) .convert-btn');
    assert.match(await waitText(page, '#conversionNotice', /already existed/),
      /^keep\.parquet already existed, so the table was written to keep \(2\)\.parquet\./);
    await page.waitForSelector('.file-row:has(.file-name:text-is("keep (2).parquet"))');
    assert.deepEqual(fs.readFileSync(path.join(data, 'keep.parquet')), before);
    assert.match(rows('keep (2).parquet'), /"n":3/);

    await page.click('#conversionNotice .conversion-replace');
    await waitText(page, '#conversionNotice', /was replaced/);
    assert.match(rows('keep.parquet'), /"n":3/);
    // Nothing else is removed.
    assert.ok(fs.existsSync(path.join(data, 'keep (2).parquet')));
    assert.equal(await page.$$eval('#conversionNotice .conversion-replace', (els) => els.length), 0);
    await page.click('#conversionNotice .conversion-notice-close');
    assert.equal(await page.$$eval('#conversionNotice', (els) => els.length), 0);
  });
});

test('names with pattern characters answer their own rows from the tree and the path variable', async () => {
  await withApp({
    data: {
      'report[1].csv': 'who\nbracket\n',
      'report1.csv': 'who\nplain\n',
      'brk[1]/a.csv': 'who\nbracket folder\n',
      'brk1/a.csv': 'who\nplain folder\n',
    },
  }, async ({ page }) => {
    await page.click('.file-row:has(.file-name:text-is("report[1].csv"))');
    await page.click('#runQueryBtn');
    const table = await waitText(page, '#queryResult', /of 1 rows/);
    assert.match(table, /bracket/);
    assert.doesNotMatch(table, /plain/);

    await useCsv(page);
    await page.click('.folder-row[data-path$="/brk[1]"]');
    await waitText(page, '#pathVariableLine', /brk\[1\]\//);
    await run(page, 'SELECT who FROM {path-to-files}');
    assert.match(await waitText(page, '#queryResult', /of 1 rows/), /bracket folder/);
  });
});

test('a folder of many sub-folders draws its first rows early and every row in the end', async () => {
  const count = 20000;
  await withApp({ data: { 'z.csv': 'id\n1\n' } }, async ({ page, data }) => {
    for (let i = 0; i < count; i++) fs.mkdirSync(path.join(data, 'd' + String(i).padStart(5, '0')));
    // Past the first listing round: drawn when the later rounds reach it.
    const last = 'd' + String(count - 1).padStart(5, '0');
    fs.mkdirSync(path.join(data, last, 'inner'));
    fs.writeFileSync(path.join(data, last, 'inner', 'deep.csv'), 'id\n1\n');
    await page.click('#refreshBtn');
    await page.waitForSelector('#folder-row-1');
    const deep = `.file-row[data-path="${data}/${last}/inner/deep.csv"]`;
    await page.waitForSelector(deep, { timeout: 120000 });
    assert.equal(await page.$$eval('#bucketOut .folder-row', (els) => els.length), count + 1);
    // A selection inside a later round survives a reload.
    await page.click(`#folder-row-${count + 1}`);
    await refreshTree(page);
    await page.waitForSelector(deep, { timeout: 120000 });
    await waitText(page, '#pathVariableLine', /inner/);
    // Rows keep the listing's order and the file comes last, drawn whole.
    assert.equal(await page.getAttribute(`#folder-row-${count}`, 'data-path'), data + '/d' + String(count - 1).padStart(5, '0'));
    await page.click('.file-row:has(.file-name:text-is("z.csv"))');
    assert.match(await page.$eval('#queryInput', (e) => e.value), /z\.csv/);
    await page.click('#folder-row-3');
    await page.click('#folder-row-7');
    assert.deepEqual(await page.$$eval('#bucketOut .folder-row.selected', (els) => els.map((e) => e.id)), ['folder-row-7']);
  });
});
