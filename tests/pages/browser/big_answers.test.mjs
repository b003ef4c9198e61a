// Whole answers of 100,000 rows on both pages: the first rows at once, the last by scrolling, with
// the header on top, hover, number formatting and the held-result CSV as for short answers.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { nullCells, tableHtml } from '../../../pages/common/cells.js';
import { fmtTableCell } from '../../../pages/query/util.js';
import { withApp, waitForFile } from './harness.mjs';
import { storeQuery, storeDashboard, openDashboards, choose, content } from './dashboard_helpers.mjs';

const ROWS = 100000;
const BIG = `SELECT range AS id, SUM(range) AS s, SUM(range) / 3 AS third, SUM(range) * 1000000000000 AS big,
  'text ' || range AS t FROM range(${ROWS}) GROUP BY range ORDER BY id`;
const HOVER_BG = 'rgb(49, 50, 68)';
const CELL_BG = 'rgb(30, 30, 46)';

// plinthos-dev compresses replies at brotli's slowest level when the browser offers it, which
// takes seconds for a reply this size; the app's own bridge has no HTTP in between.
async function plainReplies(page) {
  await page.setExtraHTTPHeaders({ 'Accept-Encoding': 'identity' });
}

// The scroll box seen from the page: rows in the document, the header's and the box's tops, and
// the cells of every drawn row that lies wholly inside the box below the header.
function boxState(sel) {
  const box = document.querySelector(sel);
  const th = box && box.querySelector('th');
  if (!th) return { cells: [] };
  const b = box.getBoundingClientRect();
  const head = th.getBoundingClientRect();
  const rows = Array.from(box.querySelectorAll('tbody tr:not(.virtual-gap)'));
  const inView = rows.filter((tr) => {
    const r = tr.getBoundingClientRect();
    return r.top >= head.bottom - 1 && r.bottom <= b.bottom + 1;
  });
  return {
    drawn: rows.length,
    headTop: head.top - b.top - box.clientTop,
    scrollable: box.scrollHeight > box.clientHeight,
    columns: Array.from(box.querySelectorAll('th')).map((h) => Math.round(h.getBoundingClientRect().left)),
    cells: inView.map((tr) => Array.from(tr.cells).map((td) => td.textContent)),
  };
}

async function scrollBox(page, sel, to) {
  await page.$eval(sel, (box, t) => { box.scrollTop = t === 'end' ? box.scrollHeight : t * box.scrollHeight; }, to);
}

// Waits until a row whose first cell is `first` lies wholly in view; returns the box state.
async function showsRow(page, sel, first) {
  const ok = await page.waitForFunction(([s, f, fn]) => {
    const st = (0, eval)('(' + fn + ')')(s);
    return st.cells.some((c) => c[0] === f) && st;
  }, [sel, first, boxState.toString()]);
  return ok.jsonValue();
}

test('Query page: a 100,000-row answer shows at once, scrolls to its last row, hovers and saves every row', async () => {
  await withApp({}, async ({ page, server, data }) => {
    await plainReplies(page);
    const run = async (sql) => {
      await page.fill('#queryInput', sql);
      await page.click('#runQueryBtn');
    };
    // A short answer is drawn exactly as the whole-row table always drew it.
    const short = "SELECT range AS id, SUM(range) * 1000.5 AS s, 'x<' || range AS t FROM range(30) GROUP BY range ORDER BY id";
    await run(short);
    await page.waitForSelector('#queryResult tbody tr');
    const held = await server.call('queryDuckCpp', [short]);
    const markup = tableHtml('duck-table', held.columns, held.rows, held.numericCols, nullCells(held),
      (c, r, i) => fmtTableCell(c, held.numericCols[i]));
    assert.equal(await page.$eval('#queryResult', (e) => e.innerHTML), markup);

    const box = '#queryResult';
    await run(BIG);
    let st = await showsRow(page, box, '0');
    assert.equal(await page.textContent('#answerNote'), `${ROWS.toLocaleString('en-US')} rows`);
    assert.ok(st.drawn < 100 && st.scrollable, JSON.stringify(st));
    assert.deepEqual(st.cells[1], ['1', '1', '0.333', '1,000,000,000,000', 'text 1']);
    assert.equal(st.headTop, 0);
    const columns = st.columns;

    // The last row, formatted: exact grouping of an integer beyond double precision. The columns
    // have not moved although their widest texts came into sight only now.
    await scrollBox(page, box, 'end');
    st = await showsRow(page, box, '99,999');
    assert.deepEqual(st.cells.at(-1), ['99,999', '99,999', '33,333', '99,999,000,000,000,000', 'text 99999']);
    assert.ok(st.drawn < 100, String(st.drawn));
    assert.equal(st.headTop, 0);
    assert.deepEqual(st.columns, columns);
    await scrollBox(page, box, 0.5);
    st = await showsRow(page, box, '50,001');
    assert.equal(st.headTop, 0);
    // Every row between the first and the last in view is there, in order.
    const ids = st.cells.map((c) => Number(c[0].replace(/,/g, '')));
    assert.deepEqual(ids, ids.map((_, i) => ids[0] + i));

    // Hover marks the row under the pointer, also among rows drawn after a scroll.
    const hovered = `${box} tbody tr:not(.virtual-gap) >> nth=25`;
    await page.hover(hovered);
    const bg = await page.$$eval(`${box} tbody tr:not(.virtual-gap)`, (trs) => trs.map((tr) => getComputedStyle(tr.cells[0]).backgroundColor));
    assert.equal(bg[25], HOVER_BG);
    assert.deepEqual(bg.filter((c) => c === HOVER_BG).length, 1);
    assert.ok(bg.includes(CELL_BG));

    // Away to another tab and back: the hidden box is drawn again where it stood.
    await page.click('#tab-coming');
    await page.click('#tab-bucket');
    st = await showsRow(page, box, '50,001');

    // The held result goes to the file whole and unformatted.
    const saved = path.join(data, 'big.csv');
    await server.dialog(saved);
    await page.click('#downloadBtn');
    await waitForFile(saved, 30000);
    const lines = fs.readFileSync(saved, 'utf8').split('\n');
    assert.equal(lines.length, ROWS + 2);
    assert.equal(lines.pop(), '');
    assert.equal(lines[0], 'id,s,third,big,t');
    assert.match(lines[1], /^0,0,0(\.0)?,0,text 0$/);
    assert.match(lines[ROWS], /^99999,99999,33333(\.0)?,99999000000000000,text 99999$/);

    // Another answer replaces the table; the old one stops following the scroll box.
    await run('SELECT 42 AS answer');
    await page.waitForFunction(() => /1-1 of 1 rows/.test(document.getElementById('queryResult').textContent));
    assert.equal(await page.evaluate(() => document.getElementById('queryResult').virtualTable), null);
    await scrollBox(page, box, 'end');
    assert.deepEqual(page.__errors || [], []);
  });
});

test('Dashboards page: the plain table of a 100,000-row answer scrolls the same way, unformatted', async () => {
  await withApp({}, async ({ page, server }) => {
    await plainReplies(page);
    await storeQuery(server, 'big', BIG);
    await storeDashboard(server, 'Big', [{ cells: [{ name: 'All', query: 'big', chartType: 'table', flex: 12 }] }]);
    await openDashboards(page);
    await choose(page, 'Big');
    const box = `${content(0, 0)} .dash-table-box`;
    await page.waitForSelector(`${box} tbody tr`, { timeout: 60000 });
    let st = await showsRow(page, box, '0');
    const columns = st.columns;
    assert.ok(st.drawn < 100 && st.scrollable, JSON.stringify(st));
    assert.equal(await page.$eval(box, (b) => b.clientHeight), 280);
    assert.deepEqual(st.cells[1], ['1', '1', '0.3333333333333333', '1000000000000', 'text 1']);
    await scrollBox(page, box, 'end');
    st = await showsRow(page, box, '99999');
    assert.deepEqual(st.cells.at(-1), ['99999', '99999', '33333.0', '99999000000000000', 'text 99999']);
    assert.equal(st.headTop, 0);
    assert.deepEqual(st.columns, columns);
    assert.ok(st.drawn < 100, String(st.drawn));
    assert.deepEqual(page.__errors || [], []);
  });
});
