// Chart rules of the Dashboards page on top of the shared chart arithmetic, run in a bare vm
// context (no DOM).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const ctx = vm.createContext({});
for (const f of ['common/chart_math.js', 'dashboards/chart_rules.js']) {
  vm.runInContext(fs.readFileSync(path.join(here, '../../../pages', f), 'utf8'), ctx);
}
const M = ctx;
const NORMAL = vm.runInContext('dashChartLook(false)', ctx);
const SMALL = vm.runInContext('dashChartLook(true)', ctx);
const plain = (x) => JSON.parse(JSON.stringify(x));
const near = (a, b) => assert.ok(Math.abs(a - b) < 1e-9, `${a} != ${b}`);

// A 600 by 300 panel with one series: plot 515 wide and 205 high.
const PLOT = M.chartPlotRect(600, 300, M.dashChartMargins(NORMAL, 1));

test('value labels: always six, evenly spaced between the axis ends', () => {
  assert.deepEqual(plain(M.dashValueLabels(0, 8, 6)), [0, 1.6, 3.2, 4.8, 6.4, 8]);
  // 7.7 widens to 0..8; the labels need not be multiples of the tick step.
  const a = M.dashAxisLayout(PLOT, ['x'], 0, 7.7, NORMAL);
  assert.deepEqual([a.min, a.max], [0, 8]);
  assert.deepEqual(
    plain(a.values.map((v) => v.text)),
    [0, 1.6, 3.2, 4.8, 6.4, 8].map((v) => v.toLocaleString())
  );
  a.values.forEach((v, i) => near(v.y, PLOT.bottom - (PLOT.height * i) / 5));
  // Both signs: -20..55 widens to -20..60.
  const b = M.dashAxisLayout(PLOT, ['x'], -20, 55, NORMAL);
  assert.deepEqual(plain(b.values.map((v) => v.value)), [-20, -4, 12, 28, 44, 60]);
  near(b.values[0].y, PLOT.bottom);
  near(b.values[5].y, PLOT.top);
  // No series, no value range: no value labels at all rather than NaN texts.
  assert.equal(M.dashAxisLayout(PLOT, ['x'], NaN, NaN, NORMAL).values.length, 0);
});

test('category labels: every k-th from the first, cut to ten characters', () => {
  const labels = Array.from({ length: 25 }, (_, i) => String(i + 1));
  const normal = M.dashAxisLayout(PLOT, labels, 0, 1, NORMAL).labels;
  assert.deepEqual(
    plain(normal.map((l) => l.text)),
    ['1', '4', '7', '10', '13', '16', '19', '22', '25']
  );
  const slot = PLOT.width / 25;
  near(normal[1].x, PLOT.left + slot * 3.5);
  assert.equal(normal[1].y, PLOT.bottom + 8);
  const small = M.dashAxisLayout(PLOT, labels, 0, 1, SMALL).labels;
  assert.deepEqual(
    plain(small.map((l) => l.text)),
    ['1', '6', '11', '16', '21']
  );
  // Up to the limit every label is drawn; one more halves them.
  assert.equal(M.dashLabelEvery(10, NORMAL), 1);
  assert.equal(M.dashLabelEvery(11, NORMAL), 2);
  assert.equal(M.dashLabelEvery(6, SMALL), 1);
  assert.equal(M.dashLabelEvery(0, NORMAL), 1);
  assert.equal(M.dashAxisLayout(PLOT, ['A very long category'], 0, 1, NORMAL).labels[0].text, 'A very lon');
});

test('margins and bars: minimum width 3, empty range counts as 1, negatives stay in the plot', () => {
  assert.deepEqual(plain(M.dashChartMargins(NORMAL, 2)), { top: 20, bottom: 75, left: 65, right: 110 });
  assert.deepEqual(plain(M.dashChartMargins(SMALL, 2)), { top: 20, bottom: 65, left: 50, right: 90 });
  assert.deepEqual(plain(M.dashChartMargins(SMALL, 1)), { top: 20, bottom: 65, left: 50, right: 20 });

  const labels = Array.from({ length: 500 }, (_, i) => 'r' + i);
  const thin = M.chartBarRects(PLOT, labels, [{ name: 's', values: labels.map(() => 1), color: 'A' }], 0, 2, NORMAL);
  assert.equal(thin[0].w, 3);

  // An empty axis range gives finite bars and points instead of infinities.
  const flat = M.chartBarRects(PLOT, ['x'], [{ name: 's', values: [2], color: 'A' }], 5, 5, NORMAL);
  near(flat[0].h, PLOT.height * 2);
  assert.ok(Number.isFinite(flat[0].y));
  const pts = M.chartLinePoints(PLOT, ['x'], { name: 's', values: [6], color: 'A' }, 5, 5);
  near(pts[0].y, PLOT.bottom - PLOT.height);

  // Every value negative: the axis tops out at zero, and bars hang from the plot top.
  const series = [{ name: 's', values: [-3, -7], color: 'A' }];
  const bounds = M.chartValueBounds(series);
  const axis = M.dashAxisLayout(PLOT, ['a', 'b'], bounds.min, bounds.max, NORMAL);
  assert.deepEqual([axis.min, axis.max], [-8, 0]);
  for (const b of M.chartBarRects(PLOT, ['a', 'b'], series, axis.min, axis.max, NORMAL)) {
    near(b.y, PLOT.top);
    assert.ok(b.y + b.h <= PLOT.bottom + 1e-9);
  }
  for (const p of M.chartLinePoints(PLOT, ['a', 'b'], series[0], axis.min, axis.max)) {
    assert.ok(p.y >= PLOT.top && p.y <= PLOT.bottom);
  }
});

test('pie geometry: normal and small, none without room for a positive radius', () => {
  assert.deepEqual(plain(M.dashPieGeometry(600, 300, NORMAL)), { cx: 240, cy: 136, r: 121 });
  assert.deepEqual(plain(M.dashPieGeometry(400, 200, SMALL)), { cx: 140, cy: 90, r: 75 });
  // Width 150 puts the centre 15 from the edge: radius 0.
  assert.equal(M.dashPieGeometry(150, 300, NORMAL), null);
  assert.equal(M.dashPieGeometry(600, 50, SMALL), null);
  assert.equal(M.dashPieGeometry(0, 0, NORMAL), null);
});

test('pie legend: first eight rows, whole percentages, labels cut to twelve characters', () => {
  const rows = Array.from({ length: 10 }, (_, i) => ['Category number ' + (i + 1), String(i + 1)]);
  const slices = M.chartPieSlices(['k', 'v'], rows);
  const pie = M.dashPieGeometry(600, 300, NORMAL);
  const legend = M.dashPieLegend(slices, 600, 300, pie, NORMAL);
  assert.equal(legend.length, 8);
  // 1/55 is 1.8% and 8/55 is 14.5%: whole numbers, rounded.
  assert.equal(legend[0].text, 'Category num (2%)');
  assert.equal(legend[7].text, 'Category num (15%)');
  assert.equal(legend[7].color, '#cba6f7');
  assert.equal(legend[0].x, pie.cx + pie.r + 20);
  assert.equal(legend[0].y, 150 - 9 * 8);
  assert.equal(legend[1].y - legend[0].y, 16);
  assert.deepEqual([legend[0].size, legend[0].textX - legend[0].x, legend[1].textY - legend[1].y], [9, 13, 8]);
  // The two slices left out of the legend are still drawn and can be pointed at.
  const hits = slices.map((s) => Object.assign({ cx: 100, cy: 100, r: 50 }, s));
  const last = slices[9];
  const mid = (last.start + last.end) / 2;
  assert.equal(M.chartHitTest('pie', hits, 100 + Math.sin(mid) * 30, 100 - Math.cos(mid) * 30).label, 'Category number 10');

  const small = M.dashPieLegend(M.chartPieSlices(['k', 'v'], rows.slice(0, 2)), 400, 200, M.dashPieGeometry(400, 200, SMALL), SMALL);
  assert.deepEqual(
    plain(small.map((e) => [e.x, e.y, e.size, e.textX, e.textY, e.text])),
    [
      [240, 10, 7, 251, 16, 'Category num (33%)'],
      [240, 24, 7, 251, 30, 'Category num (67%)'],
    ]
  );
  // Without a pie the legend still starts inside the element.
  for (const [w, h] of [[100, 300], [600, 20]]) {
    const e = M.dashPieLegend(slices, w, h, M.dashPieGeometry(w, h, NORMAL), NORMAL)[0];
    assert.ok(e.x >= 0 && e.y >= 0, `${w}x${h}: ${e.x},${e.y}`);
  }
});

test('hit tests of area points and tooltip texts are those of the line chart', () => {
  const s = { name: 'total', values: [3, null], color: '#89b4fa' };
  const pts = M.chartLinePoints(PLOT, ['a', 'b'], s, 0, 5);
  assert.equal(M.chartHitTest('area', pts, pts[1].x + 5, pts[1].y).label, 'b');
  assert.equal(M.chartHitTest('area', pts, pts[1].x + 20, pts[1].y), null);
  const parts = M.chartTipParts('area', pts[1]);
  assert.deepEqual([parts.title, parts.color, parts.label, parts.value], ['total', '#89b4fa', 'b', '0']);
});
