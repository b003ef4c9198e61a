// Every answer exactly as asked: the statement's own LIMIT and OFFSET hold for paged tables,
// whole tables, charts and exports; every export writes one CSV dialect and names its file; NULL
// reads apart from an empty text and numbers stand right, on both pages.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { withApp, waitForFile, run, waitText } from './harness.mjs';
import { chartView } from './chart_helpers.mjs';
import { storeQuery, storeDashboard, openDashboard, content } from './dashboard_helpers.mjs';

const CITIES = 'id,name,pop\n' + Array.from({ length: 23 }, (_, i) => `${i + 1},c${i + 1},${(i + 1) * 1000}`).join('\n') + '\n';

async function exportTo(page, server, file, button) {
  await server.dialog(file);
  await page.click(button);
  await waitForFile(file);
  return waitText(page, '#queryNotice', /Exported/);
}

test('the statement\'s LIMIT and OFFSET hold for paging, the whole table, a pie and the export', async () => {
  await withApp({ data: { 'c.csv': CITIES } }, async ({ page, server, data }) => {
    await page.click('#formatSwitch');
    const cases = [
      // [sql, rows answered, first id]
      ['SELECT * FROM {path-to-files} ORDER BY pop DESC LIMIT 5', 5, '23'],
      ['SELECT * FROM {path-to-files} ORDER BY id LIMIT 12 OFFSET 3', 12, '4'],
      ['SELECT * FROM (SELECT * FROM {path-to-files} ORDER BY id LIMIT 7) s ORDER BY id', 7, '1'],
      ['CREATE TEMP TABLE t AS SELECT * FROM {path-to-files};\nSELECT * FROM t ORDER BY id DESC LIMIT 4;', 4, '23'],
    ];
    for (const [i, [sql, n, first]] of cases.entries()) {
      await run(page, sql);
      await waitText(page, '#queryResult', / of \d+ rows/);
      assert.equal(await page.textContent('.paged-range'), `1-${Math.min(n, 10)} of ${n} rows`, sql);
      assert.equal(await page.textContent('#queryResult tbody td'), first, sql);
      const out = path.join(data, `limit${i}.csv`);
      assert.equal(await exportTo(page, server, out, '.paged-csv-btn'), `Exported ${n} rows to ${out}`, sql);
      assert.equal(fs.readFileSync(out, 'utf8').trim().split('\n').length, n + 1, sql);
      await page.selectOption('#chartType', 'table');
      assert.equal(await waitText(page, '#answerNote', /row/), `${n} rows`, sql);
      await page.selectOption('#chartType', 'pie');
      await page.waitForSelector('#queryResult canvas');
      const view = await chartView(page, '#queryResult');
      assert.equal(view.series[0].items.length, n, sql);
    }
    // A dashboard's paged table too.
    await storeQuery(server, 'top', `SELECT * FROM read_csv('${data}/c.csv') ORDER BY id LIMIT 3 OFFSET 2`);
    await storeDashboard(server, 'Top', [{ cells: [{ name: 'T', query: 'top', chartType: 'paginated' }] }], data, 'csv');
    await openDashboard(page, 'Top');
    await page.waitForSelector(`${content(0, 0)} .dash-paged-range`);
    assert.equal(await page.textContent(`${content(0, 0)} .dash-paged-range`), '1-3 of 3');
    assert.equal(await page.textContent(`${content(0, 0)} tbody td`), '3');
  });
});

test('both exports write the engine\'s CSV dialect and name the file they wrote', async () => {
  await withApp({ data: { 'e.csv': 'x\n1\n' } }, async ({ page, server, data }) => {
    const rows = "(VALUES ('a', 'x,y', 1.5), ('b', '', 2.0), ('c', NULL, NULL), ('d', 'q\"t', 4.0)) t(k, v, n)";
    const want = 'k,v,n\na,"x,y",1.5\nb,"",2.0\nc,,\nd,"q""t",4.0\n';
    // Aggregated, the page writes the answer it holds; otherwise the engine writes it.
    const held = path.join(data, 'held.csv');
    await run(page, `SELECT k, MAX(v) AS v, MAX(n)::DOUBLE AS n FROM ${rows} GROUP BY k ORDER BY k`);
    await page.waitForSelector('#downloadBtn', { state: 'visible' });
    assert.equal(await exportTo(page, server, held, '#downloadBtn'), `Exported 4 rows to ${held}`);
    const paged = path.join(data, 'paged.csv');
    await run(page, `SELECT k, v, n::DOUBLE AS n FROM ${rows} ORDER BY k`);
    await waitText(page, '#queryResult', /1-4 of 4 rows/);
    assert.equal(await exportTo(page, server, paged, '.paged-csv-btn'), `Exported 4 rows to ${paged}`);
    assert.equal(fs.readFileSync(paged, 'utf8'), want);
    assert.equal(fs.readFileSync(held, 'utf8'), want);
  });
});

// The cells of the table in `sel`: text, whether it reads as NULL, and its alignment.
function cellLook(page, sel) {
  return page.$$eval(`${sel} tbody tr:not(.virtual-sizer):not(.virtual-gap)`, (trs) =>
    trs.map((tr) => [...tr.cells].map((td) => {
      const s = getComputedStyle(td);
      return [td.textContent, td.classList.contains('cell-null') && s.fontStyle === 'italic', s.textAlign === 'right' ? 'right' : 'left'];
    })));
}

test('NULL reads apart from an empty text and numbers stand right, in every table of both pages', async () => {
  await withApp({ data: { 'e.csv': 'x\n1\n' } }, async ({ page, server, data }) => {
    const sql = "SELECT k, v, n FROM (VALUES ('a', '', 1), ('b', NULL, NULL), ('c', 'NULL', 1234)) t(k, v, n) ORDER BY k";
    const agg = "SELECT k, MAX(v) AS v, SUM(n) AS n FROM (VALUES ('a', '', 1), ('b', NULL, NULL), ('c', 'NULL', 1234)) t(k, v, n) GROUP BY k ORDER BY k";
    const want = (grouped) => [
      [['a', false, 'left'], ['', false, 'left'], ['1', false, 'right']],
      [['b', false, 'left'], ['NULL', true, 'left'], ['NULL', true, 'right']],
      [['c', false, 'left'], ['NULL', false, 'left'], [grouped ? '1,234' : '1234', false, 'right']],
    ];
    await run(page, sql);
    await waitText(page, '#queryResult', /1-3 of 3 rows/);
    assert.deepEqual(await cellLook(page, '#queryResult'), want(true), 'paged');
    assert.equal(await page.$eval('#queryResult th:nth-child(3)', (th) => getComputedStyle(th).textAlign), 'right');
    await page.selectOption('#chartType', 'table');
    await waitText(page, '#answerNote', /3 rows/);
    assert.deepEqual(await cellLook(page, '#queryResult'), want(true), 'first rows');
    await run(page, agg);
    await waitText(page, '#answerNote', /3 rows/);
    assert.deepEqual(await cellLook(page, '#queryResult'), want(true), 'whole');

    await storeQuery(server, 'plain', sql);
    await storeQuery(server, 'summed', agg);
    await storeDashboard(server, 'Cells', [{ cells: [{ name: 'P', query: 'plain', chartType: 'paginated' },
      { name: 'T', query: 'summed', chartType: 'table' }] }], data, 'csv');
    await openDashboard(page, 'Cells');
    for (const c of [0, 1]) {
      await page.waitForSelector(`${content(0, c)} tbody td`);
      assert.deepEqual(await cellLook(page, content(0, c)), want(false), `panel ${c}`);
    }
  });
});
