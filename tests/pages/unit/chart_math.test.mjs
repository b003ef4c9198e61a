// Chart arithmetic shared by both pages, with the Query page's sizes, run in a bare vm context
// (no DOM; the Query page's charts.js only declares at its top level).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const ctx = vm.createContext({});
for (const f of ['common/chart_math.js', 'query/charts.js']) {
  vm.runInContext(fs.readFileSync(path.join(here, '../../../pages', f), 'utf8'), ctx);
}
const M = ctx;
const SIZES = vm.runInContext('QUERY_CHART_SIZES', ctx);
const plain = (x) => JSON.parse(JSON.stringify(x));
const deq = (a, b) => assert.deepEqual(plain(a), plain(b));
const near = (a, b) => assert.ok(Math.abs(a - b) < 1e-9, `${a} != ${b}`);

const PLOT = M.chartPlotRect(700, 380, { top: 20, bottom: 75, left: 75, right: 20 });

test('niceAxisTicks: whole-number steps of 1, 2 and 5', () => {
  deq(plain(M.niceAxisTicks(0, 110, 5)), { ticks: [0, 50, 100, 150], min: 0, max: 150 });
  deq(plain(M.niceAxisTicks(0, 1.1, 5)), { ticks: [0, 1, 2], min: 0, max: 2 });
  deq(plain(M.niceAxisTicks(-20, 55, 5)), { ticks: [-20, 0, 20, 40, 60], min: -20, max: 60 });
  deq(plain(M.niceAxisTicks(0, 7.7, 5)), { ticks: [0, 2, 4, 6, 8], min: 0, max: 8 });
  // Empty range counts as 1; no drift over many steps.
  deq(plain(M.niceAxisTicks(3, 3, 5)).ticks, [3]);
  const big = M.niceAxisTicks(0, 1e7 * 1.1, 5);
  assert.ok(big.ticks.every((t) => t % 5e6 === 0));
  // A -0 cell never gives a "-0" tick or bound.
  const negZero = M.niceAxisTicks(-0, 5, 5);
  assert.ok(!Object.is(negZero.min, -0) && !Object.is(negZero.ticks[0], -0));
  assert.ok(!Object.is(M.niceAxisTicks(-10, -0.5, 5).max, -0));
  // No finite range (no series at all): no ticks, axis 0..1.
  deq(plain(M.niceAxisTicks(0, NaN, 5)), { ticks: [], min: 0, max: 1 });
});

test('parseNum and series selection', () => {
  assert.equal(M.parseNum('12.5'), 12.5);
  assert.equal(M.parseNum('2024-01-05'), 2024);
  assert.equal(M.parseNum(''), null);
  assert.equal(M.parseNum('abc'), null);
  assert.equal(M.parseNum('Infinity'), null);
  const { labels, series } = M.chartSeriesOf(
    ['cat', 'words', 'n', 'd'],
    [
      ['a', 'x', '3', '2024-01-05'],
      ['b', 'y', 'oops', '2023-02-01'],
      [null, 'z', '', '1999'],
    ]
  );
  deq(plain(labels), ['a', 'b', '']);
  // The all-text column is left out; the next series keeps its own column and second colour.
  deq(plain(series), [
    { name: 'n', values: [3, null, null], color: '#cba6f7' },
    { name: 'd', values: [2024, 2023, 1999], color: '#89b4fa' },
  ]);
  // Nine series: the eighth and ninth reuse the first two colours.
  const cols = ['c'].concat(Array.from({ length: 9 }, (_, i) => 's' + i));
  const many = M.chartSeriesOf(cols, [['r'].concat(Array(9).fill('1'))]).series;
  deq(
    many.map((s) => s.color),
    ['#cba6f7', '#89b4fa', '#a6e3a1', '#fab387', '#f38ba8', '#94e2d5', '#f9e2af', '#cba6f7', '#89b4fa']
  );
});

test('value bounds: headroom, zero, negatives, no series', () => {
  const s = (values) => [{ values }];
  deq(plain(M.chartValueBounds(s([10, 100]))), { min: 0, max: 110.00000000000001 });
  deq(plain(M.chartValueBounds(s([0, 0]))), { min: 0, max: 1 });
  deq(plain(M.chartValueBounds(s([-20, 50]))), { min: -20, max: 55.00000000000001 });
  deq(plain(M.chartValueBounds(s([null, 5]))), { min: 0, max: 5.5 });
  // All negative: zero stays on the axis as its top.
  deq(plain(M.chartValueBounds(s([-10, -5]))), { min: -10, max: 0 });
  assert.equal(M.chartValueBounds([]), null);
  assert.equal(M.chartValueBounds(s([])), null);
});

test('axis layout: tick heights, skipped ticks, label anchors cut at 12 characters', () => {
  const a = M.chartAxisLayout(PLOT, ['short', 'a much longer label', '😀😀😀😀😀😀😀😀😀😀😀😀😀'], 0, 110, 5, SIZES);
  deq(
    a.ticks.map((t) => t.y),
    [305, 305 - 285 / 3, 305 - (2 * 285) / 3, 20]
  );
  deq(
    a.ticks.map((t) => t.text),
    ['0', '50', '100', '150']
  );
  const slot = 605 / 3;
  deq(
    a.labels.map((l) => [l.y, l.text]),
    [
      [315, 'short'],
      [315, 'a much longe'],
      [315, '😀'.repeat(12)],
    ]
  );
  a.labels.forEach((l, i) => near(l.x, 75 + slot * (i + 0.5)));
  const none = M.chartAxisLayout(PLOT, ['x'], 0, NaN, 5, SIZES);
  assert.equal(none.ticks.length, 0);
  assert.equal(none.labels.length, 1);
});

test('bar geometry: slots, side-by-side series, zero line, negative bars', () => {
  const series = [
    { name: 'a', values: [40, -20], color: 'A' },
    { name: 'b', values: [null, 60], color: 'B' },
  ];
  // Axis -20..60 over a plot 285 high: zero line a quarter up from the bottom.
  const bars = M.chartBarRects(PLOT, ['x', 'y'], series, -20, 60, SIZES);
  const slot = 605 / 2;
  const barW = slot / 3;
  const zero = 305 - 285 * 0.25;
  assert.equal(bars.length, 4);
  deq(
    plain(bars.map((b) => [b.series, b.label, b.value])),
    [
      ['a', 'x', 40],
      ['a', 'y', -20],
      ['b', 'x', 0],
      ['b', 'y', 60],
    ]
  );
  near(bars[0].x, 75 + slot / 2 - barW);
  near(bars[2].x, 75 + slot / 2);
  near(bars[3].x, 75 + slot * 1.5);
  near(bars[0].w, barW);
  near(bars[0].y + bars[0].h, zero);
  near(bars[0].h, (285 * 40) / 80);
  near(bars[1].y, zero); // hangs down
  near(bars[1].y + bars[1].h, 305);
  near(bars[2].h, 0);
  // Many rows: bars never get narrower than 4 pixels.
  const labels = Array.from({ length: 500 }, (_, i) => 'r' + i);
  const thin = M.chartBarRects(PLOT, labels, [{ name: 's', values: labels.map(() => 1), color: 'A' }], 0, 2, SIZES);
  assert.equal(thin[0].w, 4);
  // All negative, axis -10..0: the bars hang from the top of the plot.
  const neg = M.chartBarRects(PLOT, ['x'], [{ name: 's', values: [-10], color: 'A' }], -10, 0, SIZES);
  near(neg[0].y, 20);
  near(neg[0].h, 285);
});

test('line points span the plot; one row sits on the value axis', () => {
  const s = { name: 's', values: [0, null, 8], color: 'A' };
  const pts = M.chartLinePoints(PLOT, ['a', 'b', 'c'], s, 0, 8);
  deq(
    pts.map((p) => [p.x, p.y]),
    [
      [75, 305],
      [75 + 302.5, 305],
      [680, 20],
    ]
  );
  assert.equal(pts[1].value, null);
  const one = M.chartLinePoints(PLOT, ['a'], { name: 's', values: [4], color: 'A' }, 0, 8);
  deq([one[0].x, one[0].y], [75, 305 - 142.5]);
});

test('pie: geometry, slice angles, texts, too small a canvas', () => {
  deq(plain(M.chartPieGeometry(700, 380, SIZES)), { cx: 300, cy: 174, r: 154 });
  assert.equal(M.chartPieGeometry(140, 380, SIZES), null);
  const slices = M.chartPieSlices(
    ['k', 'v'],
    [
      ['a', '25'],
      ['b', '-25'],
      ['c', 'x'],
      ['d', '50'],
    ]
  );
  deq(
    slices.map((s) => [s.label, s.value, s.pct]),
    [
      ['a', '25.00', '25.0'],
      ['b', '25.00', '25.0'],
      ['c', '0.00', '0.0'],
      ['d', '50.00', '50.0'],
    ]
  );
  near(slices[0].start, 0);
  near(slices[0].end, Math.PI / 2);
  near(slices[1].end, Math.PI);
  near(slices[2].start, slices[2].end);
  assert.equal(slices[3].end, 2 * Math.PI);
  assert.equal(M.chartPieLegendText(slices[3]), 'd (50.0%)');
  // One column: no values, every entry 0.0%.
  const empty = M.chartPieSlices(['k'], [['a'], ['b']]);
  deq(
    empty.map((s) => s.pct),
    ['0.0', '0.0']
  );
  // Slices beyond seven reuse the palette.
  const nine = M.chartPieSlices(
    ['k', 'v'],
    Array.from({ length: 9 }, (_, i) => ['r' + i, '1'])
  );
  assert.equal(nine[7].color, '#cba6f7');
});

test('tooltip hit tests for bars, points and slices', () => {
  const bars = [
    { x: 10, y: 10, w: 10, h: 10, label: 'first' },
    { x: 15, y: 10, w: 10, h: 10, label: 'second' },
  ];
  assert.equal(M.chartHitTest('bar', bars, 10, 20).label, 'first'); // edges included
  assert.equal(M.chartHitTest('bar', bars, 17, 15).label, 'first'); // first in drawing order
  assert.equal(M.chartHitTest('bar', bars, 25, 15).label, 'second');
  assert.equal(M.chartHitTest('bar', bars, 26, 15), null);

  const pts = [
    { x: 0, y: 0, label: 'p' },
    { x: 10, y: 0, label: 'q' },
    { x: 30, y: 0, label: 'r' },
  ];
  assert.equal(M.chartHitTest('line', pts, 5, 0).label, 'p'); // tie: the first
  assert.equal(M.chartHitTest('line', pts, 8, 0).label, 'q');
  assert.equal(M.chartHitTest('line', pts, 49, 0).label, 'r');
  assert.equal(M.chartHitTest('line', pts, 50, 0), null); // 20 px is too far
  assert.equal(M.chartHitTest('line', [], 0, 0), null);

  const slices = M.chartPieSlices(
    ['k', 'v'],
    [
      ['a', '1'],
      ['b', '3'],
    ]
  ).map((s) => Object.assign({ cx: 100, cy: 100, r: 50 }, s));
  assert.equal(M.chartHitTest('pie', slices, 120, 90).label, 'a'); // upper right quarter
  assert.equal(M.chartHitTest('pie', slices, 120, 110).label, 'b'); // lower right
  assert.equal(M.chartHitTest('pie', slices, 80, 90).label, 'b'); // upper left
  assert.equal(M.chartHitTest('pie', slices, 100, 60).label, 'a'); // straight up
  assert.equal(M.chartHitTest('pie', slices, 100, 151), null);
  assert.equal(M.chartHitTest('pie', [], 100, 100), undefined);
});

test('tooltip texts', () => {
  const bar = { series: 'total', color: '#cba6f7', label: 'Books', value: 1234.5 };
  deq(plain(M.chartTipParts('bar', bar)), {
    title: 'total',
    color: '#cba6f7',
    label: 'Books',
    value: (1234.5).toLocaleString(),
    pct: '',
  });
  assert.equal(M.chartTipParts('line', { series: 's', label: 'x', value: null }).value, '0');
  const slice = { label: 'Toys', value: '12.50', pct: '33.3' };
  deq(plain(M.chartTipParts('pie', slice)), {
    title: null,
    color: null,
    label: 'Toys',
    value: '12.5',
    pct: '33.3%',
  });
});
