// The window arithmetic and markup of the whole-answer tablesbeside the
// Query page's cell formatting that their numbers must match.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import * as escape from '../../../pages/common/escape.js';
import * as numbers from '../../../pages/common/numbers.js';
import * as util from '../../../pages/query/util.js';
import * as virtualTable from '../../../pages/common/virtual_table.js';
import * as cells from '../../../pages/common/cells.js';

const ctx = { ...escape, ...numbers, ...util, ...virtualTable };
const MAX = 15000000;
const win = (s, view, h, n, margin, max = MAX) => ({ ...ctx.virtualWindow(s, view, h, n, margin, max) });

// The drawn rows, laid out from the top spacer, must cover the whole view, and the spacers and
// rows together must keep the box's height.
function assertCovers(s, view, h, n, margin, max = MAX) {
  const w = win(s, view, h, n, margin, max);
  const total = Math.min(n * h, max);
  const at = Math.min(Math.max(0, s), Math.max(0, total - view));
  assert.ok(w.first >= 0 && w.first <= w.last && w.last <= n && w.top >= 0 && w.bottom >= 0, JSON.stringify({ s, w }));
  assert.ok(w.top <= at + 1e-6, JSON.stringify({ s, w }));
  assert.ok(w.top + (w.last - w.first) * h >= Math.min(at + view, total) - 1e-6, JSON.stringify({ s, w }));
  assert.ok(Math.abs(w.top + (w.last - w.first) * h + w.bottom - total) < h, JSON.stringify({ s, w }));
  return w;
}

test('window of a short answer, and of a long one at its top, middle and end', () => {
  // Everything fits in the view: every row, no spacers, wherever the scroll stands.
  assert.deepEqual(win(0, 400, 27, 12, 20), { first: 0, last: 12, top: 0, bottom: 0 });
  assert.deepEqual(win(-30, 400, 27, 12, 20), { first: 0, last: 12, top: 0, bottom: 0 });
  assert.deepEqual(win(0, 400, 27, 0, 20), { first: 0, last: 0, top: 0, bottom: 0 });
  // 15 rows in sight plus the margin below; the spacer stands for the rest.
  assert.deepEqual(win(0, 400, 27, 100000, 20), { first: 0, last: 35, top: 0, bottom: 99965 * 27 });
  // A header above the rows gives a negative position, read as the top.
  assert.deepEqual(win(-33, 400, 27, 100000, 20), win(0, 400, 27, 100000, 20));
  // Half-way into row 1000: rows 1000 to 1015 are in sight, 20 more on each side.
  assert.deepEqual(win(1000.5 * 27, 400, 27, 100000, 20), { first: 980, last: 1036, top: 980 * 27, bottom: (100000 - 1036) * 27 });
  assert.deepEqual(win(1000.5 * 27, 400, 27, 100000, 0), { first: 1000, last: 1016, top: 1000 * 27, bottom: (100000 - 1016) * 27 });
  // At the end, and past it (a position left over from a longer table): the last rows, no spacer below.
  const end = win(100000 * 27 - 400, 400, 27, 100000, 20);
  assert.deepEqual([end.last, end.bottom, end.first], [100000, 0, 99985 - 20]);
  assert.deepEqual(win(1e9, 400, 27, 100000, 20), end);
  for (let s = -50; s < 100000 * 27; s += 7919) assertCovers(s, 400, 27, 100000, 20);
  for (const s of [0, 26.9, 27, 27 * 99985 - 0.5, 27 * 99985]) assertCovers(s, 400, 27, 100000, 0);
});

test('an answer taller than the layout limit is spread over it without gaps or jumps back', () => {
  const n = 1000000;
  const h = 27;
  const view = 400;
  // At the top the first rows, at the very end the last row ends at the view's bottom edge.
  assert.deepEqual(win(0, view, h, n, 20), { first: 0, last: 35, top: 0, bottom: MAX - 35 * h });
  const end = win(MAX - view, view, h, n, 20);
  assert.equal(end.last, n);
  assert.equal(end.bottom, 0);
  assert.ok(Math.abs(end.top + (n - end.first) * h - MAX) < 1e-6);
  // Half-way down the scroll range shows the rows half-way down the answer.
  const mid = win((MAX - view) / 2, view, h, n, 20);
  const topRow = mid.first + ((MAX - view) / 2 - mid.top) / h;
  assert.ok(Math.abs(topRow - (n - view / h) / 2) < 1, String(topRow));
  // Scrolling down never brings back rows above those already passed, and the view is always filled.
  const positions = [1, 50, 100, 540, 600, MAX - view - 600, MAX - view - 1];
  for (let s = 0; s <= MAX; s += 3331) positions.push(s);
  let before = -1;
  for (const s of positions.sort((a, b) => a - b)) {
    const w = assertCovers(s, view, h, n, 20);
    const at = Math.min(s, MAX - view);
    const shownTop = w.first + (at - w.top) / h;
    assert.ok(shownTop >= before - 1e-6, JSON.stringify({ s, w, before }));
    // Past the first row the row at the view's top is exactly in proportion.
    if (s >= h) assert.ok(Math.abs(shownTop - (at / (MAX - view)) * (n - view / h)) < 1e-6, JSON.stringify({ s, w }));
    before = shownTop;
  }
  // With a small box and small rows too.
  for (let s = 0; s <= MAX; s += 104729) assertCovers(s, 200, 19.5, 5000000, 5);
});

test('body markup: spacers only where rows are left out, cells escaped, numbers only where flagged', () => {
  const rows = [['1234567', '<b>', ''], ['3.14159', 'x', null], null];
  assert.equal(ctx.virtualBodyMarkup(rows, { first: 0, last: 3, top: 0, bottom: 0 }, 3, [true, true, true]),
    '<tr><td class="cell-num">' + (1234567).toLocaleString() + '</td><td class="cell-num">&lt;b&gt;</td><td class="cell-num"></td></tr>' +
    '<tr><td class="cell-num">' + (3.142).toLocaleString() + '</td><td class="cell-num">x</td><td class="cell-num"></td></tr><tr></tr>');
  assert.equal(ctx.virtualBodyMarkup(rows, { first: 1, last: 2, top: 26.6, bottom: 27 }, 3, []),
    '<tr class="virtual-gap" style="height:27px"><td colspan="3"></td></tr><tr><td>3.14159</td><td>x</td><td></td></tr>' +
    '<tr class="virtual-gap" style="height:27px"><td colspan="3"></td></tr>');
  assert.equal(ctx.virtualBodyMarkup([], { first: 0, last: 0, top: 0, bottom: 0 }, 0, []), '');
  assert.equal(ctx.virtualBodyMarkup([], { first: 0, last: 0, top: 5, bottom: 0 }, 0, []),
    '<tr class="virtual-gap" style="height:5px"><td colspan="1"></td></tr>');
});

test('the hidden row of widest texts: longest text, longest whole number with a fraction when any has one', () => {
  const rows = [['a', '5', ''], null, ['<abcd>', '-1234.5', ''], ['ab', '99999', '']];
  assert.equal(ctx.virtualSizerMarkup(rows, 3, [false, true, true]),
    '<tr class="virtual-sizer"><td>&lt;abcd&gt;</td><td>' + (-1234).toLocaleString() + (0.888).toLocaleString().slice(1) +
    '</td><td>NULL</td></tr>');
  assert.equal(ctx.virtualSizerMarkup([['1.5'], ['12']], 1, [true]), '<tr class="virtual-sizer"><td>' + (12.888).toLocaleString() + '</td></tr>');
  assert.equal(ctx.virtualSizerMarkup([['12345']], 1, [false]), '<tr class="virtual-sizer"><td>12345</td></tr>');
});

test('numeric cells read exactly as the Query page has always formatted them', () => {
  const texts = ['1234567', '-1234567.891', '3.14159', '0.0005', '-0', '007', '+5', '1e21', '1e3', ' 42 ', 'abc',
    '2024-01-05', 'Infinity', 'NaN', '12345678901234567891', '-98765432109876543210', '9007199254740993', '0x1F'];
  for (const t of texts) {
    const one = { first: 0, last: 1, top: 0, bottom: 0 };
    assert.equal(ctx.virtualBodyMarkup([[t]], one, 1, [true]), '<tr><td class="cell-num">' + ctx.escapeHtml(ctx.fmtTableCell(t, true)) + '</td></tr>', t);
    assert.equal(ctx.virtualBodyMarkup([[t]], one, 1, [false]), '<tr><td>' + ctx.escapeHtml(t) + '</td></tr>', t);
  }
  assert.equal(ctx.groupedNumberText('12345678901234567891'), BigInt('12345678901234567891').toLocaleString());
});

test('NULL cells read NULL, dim and apart from an empty text, in numeric columns too', () => {
  const result = { rows: [['', ''], ['', '5'], ['<i>', '']], nulls: [[0, 0], [2, 1], 'junk'] };
  const isNull = cells.nullCells(result);
  const all = { first: 0, last: 3, top: 0, bottom: 0 };
  assert.equal(ctx.virtualBodyMarkup(result.rows, all, 2, [false, true], isNull),
    '<tr><td class="cell-null">NULL</td><td class="cell-num"></td></tr>' +
    '<tr><td></td><td class="cell-num">5</td></tr>' +
    '<tr><td>&lt;i&gt;</td><td class="cell-null cell-num">NULL</td></tr>');
  // A text reading "NULL" is a text; an answer without the list has no NULL cells.
  const cases = [
    // [result, row, column, is NULL]
    [{ nulls: [[1, 2]] }, 1, 2, true],
    [{ nulls: [[1, 2]] }, 2, 1, false],
    [{ nulls: [] }, 0, 0, false],
    [{}, 0, 0, false],
    [null, 0, 0, false],
  ];
  for (const [res, r, c, want] of cases) assert.equal(cells.nullCells(res)(r, c), want, JSON.stringify(res));
  assert.equal(cells.tableHtml('t', ['a', 'n'], [['NULL', '1']], [false, true], () => false),
    '<table class="t"><thead><tr><th>a</th><th class="cell-num">n</th></tr></thead>' +
    '<tbody><tr><td>NULL</td><td class="cell-num">1</td></tr></tbody></table>');
});

test('rows read through a function: those on their way are empty bands, the rest as ever', () => {
  const have = new Map([[0, ['7', 'a']], [2, ['', 'b']]]);
  const win = { first: 0, last: 3, top: 0, bottom: 27 };
  assert.equal(ctx.virtualBodyMarkup((r) => have.get(r), win, 2, [true, false], (r, c) => r === 2 && c === 0),
    '<tr><td class="cell-num">7</td><td>a</td></tr>' +
    '<tr class="virtual-pending"><td>&nbsp;</td><td>&nbsp;</td></tr>' +
    '<tr><td class="cell-null cell-num">NULL</td><td>b</td></tr>' +
    '<tr class="virtual-gap" style="height:27px"><td colspan="2"></td></tr>');
  // A missing row of a list stays an empty row, as before.
  assert.equal(ctx.virtualBodyMarkup([undefined], { first: 0, last: 1, top: 0, bottom: 0 }, 2, []), '<tr></tr>');
});
