// Held answers as the pages read them: where they are fetched from, how a failure reads, the
// binary column, the block cache of the whole table, and what a chart fetches and says.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import * as held from '../../../pages/common/held.js';
import * as rows from '../../../pages/common/held_rows.js';
import * as chart from '../../../pages/common/held_chart.js';

// A stand-in for the answer paths: `answer(url)` gives { status, body } (body: text, object or
// ArrayBuffer); every URL asked for is recorded, and replies wait until released when `hold` is set.
function fakeFetch(answer, hold = false) {
  const asked = [];
  const waiting = [];
  globalThis.fetch = (url) => {
    asked.push(String(url));
    const reply = () => {
      const { status = 200, body } = answer(new URL(String(url).replace('plinthos://', 'http://')));
      const text = typeof body === 'string' ? body : JSON.stringify(body);
      return { ok: status === 200, status, text: async () => text, json: async () => JSON.parse(text), arrayBuffer: async () => body };
    };
    if (!hold) return Promise.resolve(reply());
    return new Promise((resolve) => waiting.push(() => resolve(reply())));
  };
  return { asked, release: () => waiting.splice(0).forEach((go) => go()) };
}

const tick = () => new Promise((r) => setTimeout(r, 0));

function columnBuffer(values, nulls) {
  const buf = new ArrayBuffer(values.length * 9);
  new Float64Array(buf, 0, values.length).set(values);
  new Uint8Array(buf, values.length * 8).set(nulls);
  return buf;
}

test('answers are fetched from the same origin under the development server, else from the app\'s scheme', () => {
  const cases = [['http:', '/answer/'], ['https:', '/answer/'], ['about:', 'plinthos://answer/'], ['', 'plinthos://answer/'],
    ['plinthos:', 'plinthos://answer/'], ['file:', 'plinthos://answer/']];
  for (const [protocol, base] of cases) assert.equal(held.heldBase(protocol), base, protocol);
});

test('a failed fetch says the answer was freed, or gives its own reason', () => {
  const cases = [
    // [status, body, failure]
    [404, '{"error":"No such answer"}', { error: held.HELD_GONE_NOTE, gone: true }],
    [404, '', { error: held.HELD_GONE_NOTE, gone: true }],
    [400, '{"error":"count must be at most 10000"}', { error: 'The answer could not be read: count must be at most 10000' }],
    [500, '<html>oops</html>', { error: 'The answer could not be read: status 500' }],
  ];
  for (const [status, body, want] of cases) assert.deepEqual(held.heldFailure(status, body), want, body);
});

test('a column reads as doubles and a NULL mask; a buffer of the wrong length is refused', () => {
  const values = [1.5, NaN, 9007199254740992, -0.25, NaN];
  const got = held.parseHeldColumn(columnBuffer(values, [0, 1, 0, 0, 0]), 5).value;
  assert.deepEqual(Array.from(got.values), values);
  assert.deepEqual(Array.from(got.nulls), [0, 1, 0, 0, 0]);
  assert.deepEqual(held.parseHeldColumn(new ArrayBuffer(0), 0).value.values.length, 0);
  for (const [buf, count] of [[new ArrayBuffer(10), undefined], [columnBuffer([1, 2], [0, 0]), 3], [null, 1]]) {
    assert.match(held.parseHeldColumn(buf, count).error, /could not be read: a column of \d+ bytes/);
  }
});

test('fetches name the answer, clip their counts and pass failures on', async () => {
  const { asked } = fakeFetch((u) => (u.pathname.includes('gone') ? { status: 404, body: { error: 'No such answer' } }
    : u.pathname.endsWith('/texts') ? { body: ['a', null] } : { body: { rows: [['1']] } }));
  assert.deepEqual(await held.heldRows('ab', 20, 50000), { value: { rows: [['1']], nulls: [] } });
  assert.deepEqual(await held.heldTexts('ab', 2, 0, 5e6), { value: ['a', null] });
  assert.equal((await held.heldRows('gone', 0, 1)).gone, true);
  assert.deepEqual(asked, ['plinthos://answer/ab/rows?from=20&count=10000', 'plinthos://answer/ab/texts?c=2&from=0&count=1000000',
    'plinthos://answer/gone/rows?from=0&count=1']);
  globalThis.fetch = () => Promise.reject(new TypeError('Failed to fetch'));
  assert.deepEqual(await held.heldColumn('ab', 1), { error: 'The answer could not be read: Failed to fetch' });
});

test('block arithmetic: the blocks of a window, the first rows as blocks, the blocks to drop', () => {
  const spans = [
    // [first, last, count, size, blocks]
    [0, 60, 1000, 500, [0]],
    [480, 540, 1000, 500, [0, 1]],
    [990, 1100, 1000, 500, [1]],
    [-5, 3, 1000, 500, [0]],
    [40, 40, 1000, 500, []],
    [0, 10, 0, 500, []],
  ];
  for (const [first, last, count, size, want] of spans) assert.deepEqual(rows.blocksOf(first, last, count, size), want, `${first}-${last}`);
  const drops = [
    // [order oldest first, keep, max, dropped]
    [[1, 2, 3, 4], [], 2, [1, 2]],
    [[1, 2, 3, 4], [1], 2, [2, 3]],
    [[1, 2], [], 5, []],
    [[1, 2, 3], [1, 2, 3], 1, []],
  ];
  for (const [order, keep, max, want] of drops) assert.deepEqual(rows.blocksToDrop(order, new Set(keep), max), want);
  const r = (n) => Array.from({ length: n }, (_, i) => [String(i)]);
  // A whole block, a short answer's last block, and a reply cut short of a block.
  assert.deepEqual(rows.seedBlocks(r(4), [[3, 0], [1, 0]], 9, 2).map((b) => [b.block, b.rows.length, b.nulls]),
    [[0, 2, [[1, 0]]], [1, 2, [[1, 0]]]]);
  assert.deepEqual(rows.seedBlocks(r(3), [], 3, 2).map((b) => [b.block, b.rows.length]), [[0, 2], [1, 1]]);
  assert.deepEqual(rows.seedBlocks(r(3), [], 10, 4), []);
});

test('the row source draws what it has, fetches the rest once, keeps a bounded cache and drops late blocks', async () => {
  const fetched = fakeFetch((u) => {
    const from = Number(u.searchParams.get('from'));
    const count = Number(u.searchParams.get('count'));
    return { body: { rows: Array.from({ length: count }, (_, i) => [String(from + i), '']), nulls: [[0, 1]] } };
  }, true);
  const answer = { answer: 'f00d', rowCount: 1000, rows: [['0', 'x'], ['1', 'y']], nulls: [[1, 1]] };
  const source = rows.heldRowSource(answer, 2, 3);
  let changes = 0;
  source.onChange(() => changes++);
  assert.deepEqual([source.rowAt(1), source.isNull(1, 1), source.isNull(0, 1)], [['1', 'y'], true, false]);
  source.want(0, 5);
  source.want(1, 4);
  assert.equal(source.rowAt(2), undefined);
  assert.deepEqual(fetched.asked, ['plinthos://answer/f00d/rows?from=2&count=2', 'plinthos://answer/f00d/rows?from=4&count=2']);
  fetched.release();
  await tick();
  assert.deepEqual([source.rowAt(4), source.isNull(4, 1), source.isNull(5, 1), changes], [['4', ''], true, false, 2]);
  // Three blocks at most: the least recently wanted goes.
  source.want(998, 1000);
  fetched.release();
  await tick();
  assert.equal(source.rowAt(999)[0], '999');
  assert.equal(source.known().length, 6);
  assert.equal(source.rowAt(0), undefined);
  // Past the in-flight limit only the latest window waits, and is fetched when a block arrives.
  fetched.asked.length = 0;
  for (const at of [100, 200, 300, 400, 500]) source.want(at, at + 1);
  assert.equal(fetched.asked.length, 3);
  fetched.release();
  await tick();
  assert.deepEqual(fetched.asked.slice(3), ['plinthos://answer/f00d/rows?from=500&count=2']);
  // A stopped source keeps nothing that arrives later.
  source.want(700, 701);
  source.stop();
  fetched.release();
  await tick();
  assert.equal(source.rowAt(700), undefined);
});

test('the row source reports a freed answer once and asks no more', async () => {
  const { asked } = fakeFetch(() => ({ status: 404, body: { error: 'No such answer' } }));
  const source = rows.heldRowSource({ answer: 'dead', rowCount: 100, rows: [], nulls: [] }, 10, 4);
  const failures = [];
  source.onError((f) => failures.push(f));
  source.want(0, 30);
  await tick();
  source.want(50, 60);
  assert.deepEqual(failures, [{ error: held.HELD_GONE_NOTE, gone: true }]);
  assert.equal(asked.length, 3);
  assert.deepEqual(await rows.heldRowSource({ answer: 'dead', rowCount: 100 }, 10, 4).load(90, 100), { error: held.HELD_GONE_NOTE, gone: true });
});

const BIG = { answer: 'a1', columns: ['day', 'region', 'n', 'm'], numericCols: [false, false, true, true], rowCount: 1000000, rows: [['x', 'y', '1', '2']] };

test('what a chart of a held answer fetches', () => {
  const cases = [
    // [answer, type, plan]
    [{ ...BIG, rowCount: 1 }, 'bar', { kind: 'reply' }],
    [{ ...BIG, numericCols: [true, false, false, false] }, 'bar', { kind: 'reply' }],
    [BIG, 'line', { kind: 'points', x: 0, ys: [2, 3], max: chart.HELD_CHART_POINTS }],
    [BIG, 'area', { kind: 'points', x: 0, ys: [2, 3], max: chart.HELD_CHART_POINTS }],
    [{ ...BIG, rowCount: chart.HELD_CHART_POINTS }, 'line', { kind: 'columns', count: chart.HELD_CHART_POINTS, texts: [0], numbers: [2, 3] }],
    [BIG, 'bar', { kind: 'columns', count: chart.HELD_CHART_ROWS, texts: [0], numbers: [2, 3] }],
    [BIG, 'line-split', { kind: 'columns', count: chart.HELD_CHART_ROWS, texts: [0, 1], numbers: [2, 3] }],
    [{ ...BIG, numericCols: [true, true, true, false] }, 'bar-split', { kind: 'columns', count: chart.HELD_CHART_ROWS, texts: [0], numbers: [1, 2] }],
    [{ ...BIG, rowCount: 7000 }, 'pie', { kind: 'columns', count: 7000, texts: [0], numbers: [2, 3] }],
  ];
  for (const [answer, type, want] of cases) assert.deepEqual(chart.heldChartPlan(answer, type), want, `${type} of ${answer.rowCount}`);
});

test('a chart\'s answer from columns: labels as texts, numbers as numbers, NULL and unreadable cells as none', () => {
  const texts = new Map([[0, ['9007199254740993', null, 'c']]]);
  const numbers = new Map([[2, { values: new Float64Array([1.5, NaN, 3]), nulls: new Uint8Array([0, 1, 0]) }], [3, { values: new Float64Array([NaN, 2, 0]), nulls: new Uint8Array(3) }]]);
  assert.deepEqual(chart.heldChartAnswer(BIG, 3, texts, numbers), {
    columns: BIG.columns,
    numericCols: BIG.numericCols,
    rows: [['9007199254740993', null, 1.5, NaN], [null, null, null, 2], ['c', null, 3, 0]],
    nulls: [],
  });
});

test('the chart note says how much of the answer is shown', () => {
  const cases = [
    [{ kind: 'points' }, 1000000, 4000, '4,000 of 1,000,000 points'],
    [{ kind: 'points' }, 5000, 5000, '5,000 rows'],
    [{ kind: 'columns', count: 100000 }, 100005, 100000, 'first 100,000 of 100,005 rows'],
    [{ kind: 'columns', count: 7000 }, 7000, 7000, '7,000 rows'],
    [{ kind: 'reply' }, 1, 1, '1 row'],
  ];
  for (const [plan, count, shown, want] of cases) assert.equal(chart.heldChartNote(plan, count, shown), want);
});

test('a chart fetches its columns or its points and passes a freed answer on', async () => {
  const answer = { ...BIG, rowCount: 3 + 0, rows: [] };
  const { asked } = fakeFetch((u) => {
    if (u.pathname.endsWith('/texts')) return { body: ['a', 'b', 'c'] };
    if (u.pathname.endsWith('/column')) return { body: columnBuffer([1, 2, 3], [0, 0, 1]) };
    if (u.pathname.endsWith('/points')) return { body: { columns: ['day', 'n'], numericCols: [false, true], rows: [['a', '1']], rowCount: 9000, shown: 1 } };
    return { status: 404, body: '' };
  });
  const got = await chart.loadHeldChart(answer, 'bar');
  assert.deepEqual(got.value.result.rows, [['a', null, 1, 1], ['b', null, 2, 2], ['c', null, null, null]]);
  assert.equal(got.value.note, '3 rows');
  assert.deepEqual(asked.sort(), ['plinthos://answer/a1/column?c=2', 'plinthos://answer/a1/column?c=3', 'plinthos://answer/a1/texts?c=0&from=0&count=3']);
  const line = await chart.loadHeldChart({ ...BIG, rowCount: 9000 }, 'line');
  assert.equal(line.value.note, '1 of 9,000 points');
  assert.equal(asked.at(-1), `plinthos://answer/a1/points?x=0&y=2,3&max=${chart.HELD_CHART_POINTS}`);
  fakeFetch(() => ({ status: 404, body: '' }));
  assert.equal((await chart.loadHeldChart(BIG, 'pie')).gone, true);
});
