// Dashboard charts in the real page: pixels, texts and tooltips at the positions the layout rules
// give, in dashboard panels (normal size) and in the editor's previews (small size), the guards
// for one-column answers, negative values and tiny panels, and redrawing when a panel grows.
// With PLINTHOS_SCREENSHOTS=<folder> the sample-data test writes dashboard.png and
// dashboard-editor.png there.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { withApp, DEV, runEngine } from './harness.mjs';
import { storeQuery, storeDashboard, openDashboards, choose, content, panelText } from './dashboard_helpers.mjs';

const PALETTE = [
  [203, 166, 247],
  [137, 180, 250],
  [166, 227, 161],
  [250, 179, 135],
  [243, 139, 168],
  [148, 226, 213],
  [249, 226, 175],
];
const BG = [30, 30, 46];
const AREA_ALPHA = 0x33 / 255;
const LONG = 'Gamma ray burst';
const LOOKS = {
  normal: { top: 20, bottom: 75, left: 65, rightMany: 110, font: 10, maxLabels: 10, title: 11, titleBottom: 6, point: 4, legend: 11 },
  small: { top: 20, bottom: 65, left: 50, rightMany: 90, font: 8, maxLabels: 6, title: 9, titleBottom: 4, point: 3, legend: 9 },
};

// The value axis: steps of 1, 2 or 5 times a power of ten (at least 1), widened to whole steps.
function niceRange(lo, hi) {
  const raw = (hi - lo || 1) / 5;
  const mag = 10 ** Math.floor(Math.log10(raw));
  const f = raw / mag;
  const step = Math.max(1, (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * mag);
  return { min: Math.floor(lo / step) * step, max: Math.ceil(hi / step) * step };
}

// Where a bar or line chart of `series` (arrays of values, one per label) puts things.
function chartGeometry(w, h, small, labels, series) {
  const L = small ? LOOKS.small : LOOKS.normal;
  const right = series.length > 1 ? L.rightMany : 20;
  const plot = { left: L.left, top: L.top, right: w - right, bottom: h - L.bottom };
  plot.width = plot.right - plot.left;
  plot.height = plot.bottom - plot.top;
  const values = series.flat();
  const axis = niceRange(Math.min(0, ...values), Math.max(...values) * 1.1 || 1);
  const span = axis.max - axis.min || 1;
  const yOf = (v) => plot.bottom - (plot.height * (v - axis.min)) / span;
  const slot = plot.width / labels.length;
  const barW = Math.max(3, slot / (series.length + 1));
  const bar = (s, r) => {
    const v = series[s][r];
    const x = plot.left + slot * r + slot / 2 - (series.length * barW) / 2 + s * barW;
    return { x, y: Math.min(yOf(v), yOf(0)), w: barW, h: Math.abs(yOf(v) - yOf(0)) };
  };
  const step = labels.length > 1 ? plot.width / (labels.length - 1) : plot.width;
  const point = (s, r) => ({ x: plot.left + step * r, y: yOf(series[s][r]) });
  return { L, plot, axis, yOf, slot, barW, bar, point };
}

function pieGeometry(w, h, small) {
  const cx = small ? 0.35 * w : (w - 120) / 2;
  const cy = h / 2 - (small ? 10 : 14);
  return { cx, cy, r: Math.min(cx - 15, cy - 15) };
}

// The middle of slice i at a share of the radius, in drawing pixels.
function sliceMid(pie, values, i, share = 0.6) {
  const total = values.reduce((a, v) => a + Math.abs(v), 0);
  let start = 0;
  for (let k = 0; k < i; k++) start += (Math.abs(values[k]) / total) * 2 * Math.PI;
  const mid = start + (Math.abs(values[i]) / total) * Math.PI;
  return { x: pie.cx + Math.sin(mid) * pie.r * share, y: pie.cy - Math.cos(mid) * pie.r * share };
}

// Records, per canvas, every text drawn and every point a drawing call reaches, in canvas pixels.
async function recordDrawing(page) {
  await page.evaluate(() => {
    const P = CanvasRenderingContext2D.prototype;
    const at = (ctx, x, y) => {
      const p = ctx.getTransform().transformPoint(new DOMPoint(x, y));
      return [p.x, p.y];
    };
    const wrap = (name, pointsOf, extra) => {
      const original = P[name];
      P[name] = function (...a) {
        (this.canvas.__ops ||= []).push({ kind: name, pts: pointsOf(this, a), ...(extra ? extra(this, a) : {}) });
        return original.apply(this, a);
      };
    };
    const box = (c, a) => [at(c, a[0], a[1]), at(c, a[0] + a[2], a[1] + a[3])];
    const one = (c, a) => [at(c, a[0], a[1])];
    wrap('fillText', (c, a) => [at(c, a[1], a[2])], (c, a) => ({ text: String(a[0]), font: c.font, align: c.textAlign, color: c.fillStyle }));
    wrap('fillRect', box);
    wrap('strokeRect', box);
    wrap('rect', box);
    wrap('moveTo', one);
    wrap('lineTo', one);
    wrap('arc', (c, a) => [at(c, a[0] - a[2], a[1] - a[2]), at(c, a[0] + a[2], a[1] + a[2])]);
  });
}

// Waits until every element shows its answer and every chart is drawn at its element's inner
// size: a chart is drawn again, and its tooltip hidden, while panels around it still grow.
async function waitDrawn(page, sels) {
  await page.waitForFunction((list) => list.every((sel) => {
    const el = document.querySelector(sel);
    if (!el || el.querySelector('.dash-loading') || !el.textContent.trim() && !el.querySelector('canvas')) return false;
    const c = el.querySelector('canvas.dash-chart');
    if (!c) return true;
    const s = getComputedStyle(el);
    return Math.abs(c.width - (el.clientWidth - parseFloat(s.paddingLeft) - parseFloat(s.paddingRight))) <= 1 &&
      Math.abs(c.height - (el.clientHeight - parseFloat(s.paddingTop) - parseFloat(s.paddingBottom))) <= 1;
  }), sels);
}

// The chart of an element, once drawn: drawing size, shown box, cursor, texts and drawing points.
async function chartOf(page, sel) {
  await page.waitForSelector(`${sel} canvas.dash-chart`);
  await page.locator(`${sel} canvas.dash-chart`).scrollIntoViewIfNeeded();
  return page.$eval(sel, (el) => {
    const c = el.querySelector('canvas.dash-chart');
    const s = getComputedStyle(el);
    const r = c.getBoundingClientRect();
    const inner = [el.clientWidth - parseFloat(s.paddingLeft) - parseFloat(s.paddingRight),
      el.clientHeight - parseFloat(s.paddingTop) - parseFloat(s.paddingBottom)];
    const ops = c.__ops || [];
    return { w: c.width, h: c.height, inner, shown: [r.width, r.height], cursor: c.style.cursor, ops,
      texts: ops.filter((o) => o.kind === 'fillText') };
  });
}

const textAt = (chart, text) => chart.texts.find((t) => t.text === text);

function near(actual, expected, what, tol = 1) {
  assert.ok(Math.abs(actual - expected) <= tol, `${what}: ${actual} is not ${expected}`);
}

function nearColour(actual, expected, what, tol = 3) {
  assert.ok(actual.every((v, i) => Math.abs(v - expected[i]) <= tol), `${what}: ${actual} is not ${expected}`);
}

const pixel = (page, sel, x, y) =>
  page.$eval(`${sel} canvas.dash-chart`, (c, [px, py]) => Array.from(c.getContext('2d').getImageData(px, py, 1, 1).data.slice(0, 3)),
    [Math.floor(x), Math.floor(y)]);

// Moves the pointer to a point in drawing pixels, scaled to the canvas's shown size; returns the
// tooltip's text, or null when it is hidden.
async function tipAt(page, sel, x, y) {
  const canvas = page.locator(`${sel} canvas.dash-chart`);
  const box = await canvas.boundingBox();
  const [w, h] = await canvas.evaluate((c) => [c.width, c.height]);
  await page.mouse.move(box.x + (x * box.width) / w, box.y + (y * box.height) / h);
  return page.evaluate(() => {
    const t = document.getElementById('dashChartTip');
    return t && t.style.display !== 'none' ? t.innerText : null;
  });
}

// Every point any drawing call reached lies on the canvas.
function assertInside(chart, what) {
  for (const op of chart.ops) {
    for (const [x, y] of op.pts) {
      assert.ok(x >= -0.5 && x <= chart.w + 0.5 && y >= -0.5 && y <= chart.h + 0.5,
        `${what}: ${op.kind} at ${x},${y} outside ${chart.w}x${chart.h}`);
    }
  }
}

// Axes of a bar or line chart: six value labels, every k-th category label cut to 10
// characters, the title, and the series legend.
function checkAxes(chart, g, labels, seriesNames, title) {
  const { L, plot, axis } = g;
  const values = chart.texts.filter((t) => t.align === 'right' && t.pts[0][0] === plot.left - 6);
  assert.equal(values.length, 6, JSON.stringify(values.map((t) => t.text)));
  values.forEach((t, i) => {
    const v = axis.min + ((axis.max - axis.min) * i) / 5;
    assert.equal(t.text, v.toLocaleString('en-US'));
    near(t.pts[0][1], g.yOf(v) + 3, `value label ${t.text}`, 0.01);
    assert.match(t.font, new RegExp(`^${L.font}px`));
    assert.equal(t.color, '#cdd6f4');
  });
  const every = Math.ceil(labels.length / L.maxLabels);
  const drawn = chart.texts.filter((t) => Math.abs(t.pts[0][1] - (plot.bottom + 8)) < 0.01);
  assert.deepEqual(drawn.map((t) => t.text), labels.filter((_, i) => i % every === 0).map((l) => l.slice(0, 10)));
  drawn.forEach((t, n) => near(t.pts[0][0], plot.left + g.slot * n * every + g.slot / 2, `label ${t.text}`, 0.01));
  const t = textAt(chart, title);
  assert.deepEqual([t.pts[0][0], t.pts[0][1], t.font.startsWith(`bold ${L.title}px`), t.color],
    [plot.left + plot.width / 2, chart.h - L.titleBottom, true, '#a6adc8']);
  const legend = chart.texts.filter((x) => seriesNames.includes(x.text));
  assert.equal(legend.length, seriesNames.length > 1 ? seriesNames.length : 0, 'a legend only for several series');
  legend.forEach((x, i) => near(x.pts[0][0], plot.right + 8 + L.legend + 4, `legend ${x.text}`, 0.01));
}

const SALES = `cat,a,b\nAlpha,1,6\nBeta,5,3\n${LONG},7,1\n`;
const LABELS = ['Alpha', 'Beta', LONG];
const A = [1, 5, 7];
const B = [6, 3, 1];

async function storeSales(server, data) {
  const src = `read_csv('${path.join(data, 'sales.csv')}')`;
  await storeQuery(server, 'two', `SELECT cat, SUM(a) AS a, SUM(b) AS b FROM ${src} GROUP BY cat ORDER BY cat`);
  await storeQuery(server, 'one', `SELECT cat, SUM(a) AS a FROM ${src} GROUP BY cat ORDER BY cat`);
  await storeDashboard(server, 'Charts', [
    { cells: [{ name: 'Bars', query: 'two', chartType: 'bar', flex: 6 }, { name: 'Lines', query: 'two', chartType: 'line', flex: 6 }] },
    { cells: [{ name: 'Area', query: 'one', chartType: 'area', flex: 6 }, { name: 'Pie', query: 'one', chartType: 'pie', flex: 6 }] },
  ]);
}

// Bars, lines, area and pie of the same answer, checked in one size; `sel(i)` is the i-th
// chart's element in layout order.
async function checkFourCharts(page, sel, small) {
  const what = small ? 'small' : 'normal';
  const bar = await chartOf(page, sel(0));
  // Drawn at the element's inner size, shown at that size.
  near(bar.w, bar.inner[0], `${what} width`);
  near(bar.h, bar.inner[1], `${what} height`);
  near(bar.shown[0], bar.w, `${what} shown width`);
  let g = chartGeometry(bar.w, bar.h, small, LABELS, [A, B]);
  checkAxes(bar, g, LABELS, ['a', 'b'], 'cat');
  assert.deepEqual(bar.texts.filter((t) => /^\d/.test(t.text)).map((t) => t.text), ['0', '1.6', '3.2', '4.8', '6.4', '8']);
  for (let s = 0; s < 2; s++) {
    for (let r = 0; r < 3; r++) {
      const b = g.bar(s, r);
      assert.deepEqual(await pixel(page, sel(0), b.x + (b.w - 1) / 2, b.y + b.h / 2), PALETTE[s], `${what} bar ${s},${r}`);
      assert.notDeepEqual(await pixel(page, sel(0), b.x + (b.w - 1) / 2, b.y - 3), PALETTE[s], `${what} above bar ${s},${r}`);
    }
  }
  // Each bar is filled a pixel narrower than its width, which leaves a gap before the next.
  const rects = bar.ops.filter((o) => o.kind === 'fillRect').slice(1, 7);
  rects.forEach((o, i) => {
    const b = g.bar(Math.floor(i / 3), i % 3);
    near(o.pts[0][0], b.x, `${what} bar ${i} left`, 0.01);
    near(o.pts[1][0] - o.pts[0][0], b.w - 1, `${what} bar ${i} width`, 0.01);
  });
  const legendSquare = [g.plot.right + 8 + 2, g.plot.top + (g.L.legend + 6) + 2];
  assert.deepEqual(await pixel(page, sel(0), ...legendSquare), PALETTE[1], `${what} legend of b`);
  let b = g.bar(1, 1);
  assert.equal(await tipAt(page, sel(0), b.x + b.w / 2, b.y + b.h / 2), 'b\nBeta: 3');
  b = g.bar(0, 2);
  assert.equal(await tipAt(page, sel(0), b.x + b.w / 2, b.y + 1), `a\n${LONG}: 7`);
  assert.equal(await tipAt(page, sel(0), b.x + b.w / 2, g.plot.top + 1), null, 'above the bars');

  const line = await chartOf(page, sel(1));
  g = chartGeometry(line.w, line.h, small, LABELS, [A, B]);
  checkAxes(line, g, LABELS, ['a', 'b'], 'cat');
  for (let s = 0; s < 2; s++) {
    for (let r = 0; r < 3; r++) {
      const p = g.point(s, r);
      assert.deepEqual(await pixel(page, sel(1), p.x, p.y), PALETTE[s], `${what} point ${s},${r}`);
      // Just inside the radius, on the side away from the other series, is the point's colour.
      const away = [A, B][s][r] > [A, B][1 - s][r] ? -1 : 1;
      assert.deepEqual(await pixel(page, sel(1), p.x, p.y + away * (g.L.point - 1.5)), PALETTE[s], `${what} radius ${s},${r}`);
    }
  }
  const radii = line.ops.filter((o) => o.kind === 'arc').map((o) => (o.pts[1][0] - o.pts[0][0]) / 2);
  assert.deepEqual(radii, Array(6).fill(g.L.point));
  let p = g.point(1, 1);
  assert.equal(await tipAt(page, sel(1), p.x + 3, p.y + 3), 'b\nBeta: 3');
  assert.equal(await tipAt(page, sel(1), p.x + 15, p.y + 15), null, 'farther than 20 pixels');

  const area = await chartOf(page, sel(2));
  g = chartGeometry(area.w, area.h, small, LABELS, [A]);
  checkAxes(area, g, LABELS, ['a'], 'cat');
  const blend = BG.map((v, i) => Math.round(v + (PALETTE[0][i] - v) * AREA_ALPHA));
  const mid = (g.point(0, 0).x + g.point(0, 1).x) / 2;
  nearColour(await pixel(page, sel(2), mid, g.plot.bottom - 4), blend, `${what} area fill`);
  assert.deepEqual(await pixel(page, sel(2), mid, g.plot.top + 2), BG, `${what} nothing above the line`);
  p = g.point(0, 2);
  assert.deepEqual(await pixel(page, sel(2), p.x, p.y), PALETTE[0]);
  assert.equal(await tipAt(page, sel(2), p.x - 2, p.y + 2), `a\n${LONG}: 7`);

  const pie = await chartOf(page, sel(3));
  const geo = pieGeometry(pie.w, pie.h, small);
  const tips = ['Alpha: 1 (7.7%)', 'Beta: 5 (38.5%)', `${LONG}: 7 (53.8%)`];
  for (let i = 0; i < 3; i++) {
    const m = sliceMid(geo, A, i);
    assert.deepEqual(await pixel(page, sel(3), m.x, m.y), PALETTE[i], `${what} slice ${i}`);
    assert.equal(await tipAt(page, sel(3), m.x, m.y), tips[i]);
  }
  // The radius: slice colour just inside the rim at 12 o'clock (the last slice ends there), background outside.
  assert.deepEqual(await pixel(page, sel(3), geo.cx - 3, geo.cy - geo.r + 3), PALETTE[2], `${what} inside the rim`);
  assert.deepEqual(await pixel(page, sel(3), geo.cx, geo.cy - geo.r - 3), BG, `${what} outside the rim`);
  assert.equal(await tipAt(page, sel(3), geo.cx + geo.r + 3, geo.cy), null, 'outside the pie');
  const font = small ? 9 : 11;
  const lx = small ? 0.6 * pie.w : geo.cx + geo.r + 20;
  const ly = small ? 10 : pie.h / 2 - 9 * 3;
  const entries = pie.texts.filter((t) => t.text.endsWith('%)'));
  assert.deepEqual(entries.map((t) => t.text), ['Alpha (8%)', 'Beta (38%)', 'Gamma ray bu (54%)']);
  entries.forEach((t, i) => {
    assert.deepEqual(t.pts[0], [lx + font + 2, ly + i * (font + 5) + font - 3]);
    assert.match(t.font, new RegExp(`^${font}px`));
  });
  for (let i = 0; i < 3; i++) {
    assert.deepEqual(await pixel(page, sel(3), lx + 1, ly + i * (font + 5) + 1), PALETTE[i], `${what} pie legend ${i}`);
  }
  const title = textAt(pie, 'cat');
  assert.deepEqual([title.pts[0][0], title.pts[0][1], title.font.startsWith(`bold ${font}px`)],
    [geo.cx, geo.cy + geo.r + (small ? 20 : 26), true]);
  return bar;
}

test('bar, line, area and pie charts: pixels, texts and tooltips in panels and in editor previews', async () => {
  await withApp({ data: { 'sales.csv': SALES } }, async ({ page, server, data }) => {
    await storeSales(server, data);
    await recordDrawing(page);
    await openDashboards(page);
    await choose(page, 'Charts');
    const panels = [content(0, 0), content(0, 1), content(1, 0), content(1, 1)];
    await waitDrawn(page, panels);
    const bar = await checkFourCharts(page, (i) => panels[i], false);
    assert.equal(bar.cursor, 'pointer', 'panel charts of a plain column are clickable');
    assert.equal(await page.$eval('#dashChartTip', (t) => {
      const s = getComputedStyle(t);
      return [s.position, s.pointerEvents, s.backgroundColor, s.zIndex].join(' ');
    }), 'fixed none rgb(49, 50, 68) 999');

    // Shown smaller than drawn (as while its panel is being resized): the pointer is scaled.
    await page.$eval(`${panels[0]} canvas`, (c) =>
      Object.assign(c.style, { width: Math.round(c.width * 0.7) + 'px', height: Math.round(c.height * 0.6) + 'px' }));
    const stretched = await chartOf(page, panels[0]);
    assert.deepEqual([stretched.w, stretched.h], [bar.w, bar.h], 'not drawn again');
    near(stretched.shown[0], bar.w * 0.7, 'shown width');
    near(stretched.shown[1], bar.h * 0.6, 'shown height');
    const g = chartGeometry(bar.w, bar.h, false, LABELS, [A, B]);
    for (const [s, r, text] of [[0, 2, `a\n${LONG}: 7`], [1, 0, 'b\nAlpha: 6'], [0, 1, 'a\nBeta: 5']]) {
      const b = g.bar(s, r);
      assert.equal(await tipAt(page, panels[0], b.x + b.w / 2, b.y + b.h / 2), text);
    }
    await page.mouse.move(2, 2);
    assert.equal(await page.isVisible('#dashChartTip'), false, 'hidden when the pointer leaves');

    // The editor's previews: the small sizes, and not clickable.
    await page.click('#editDashboardBtn');
    await page.waitForFunction(() => document.querySelectorAll('#rowsContainer .dash-cell').length === 4);
    // The filter bar shows once the schema has arrived, and moves the cells.
    await page.waitForSelector('#filterBarEdit', { state: 'visible' });
    const cells = await page.$$eval('#rowsContainer .dash-cell', (cs) => cs.map((c) => c.dataset.cellId));
    assert.equal(cells.length, 4);
    const previews = cells.map((id) => `#rowsContainer .dash-cell[data-cell-id="${id}"] .cell-preview`);
    await waitDrawn(page, previews);
    const small = await checkFourCharts(page, (i) => previews[i], true);
    assert.equal(small.cursor, '');
    assert.deepEqual(page.__errors || [], []);
  });
});

const ITEMS = Array.from({ length: 25 }, (_, i) => `item ${String(i + 1).padStart(2, '0')} long name`);
const ITEMS_CSV = 'label,v\n' + ITEMS.map((l, i) => `${l},${i + 10}`).join('\n') + '\n';
const TEN = ITEMS.slice(0, 10).map((_, i) => i + 10);

// Ten slices: only eight legend entries, inside the canvas, but every slice drawn with its tooltip.
async function checkTenSlices(page, sel, small) {
  const pie = await chartOf(page, sel);
  const geo = pieGeometry(pie.w, pie.h, small);
  const font = small ? 9 : 11;
  const entries = pie.texts.filter((t) => t.text.endsWith('%)'));
  assert.deepEqual(entries.map((t) => t.text), ITEMS.slice(0, 8).map((l, i) => `${l.slice(0, 12)} (${Math.round((TEN[i] / 145) * 100)}%)`));
  const x = small ? 0.6 * pie.w : geo.cx + geo.r + 20;
  entries.forEach((t, i) => {
    assert.equal(t.pts[0][0], x + font + 2);
    near(t.pts[0][1] - entries[0].pts[0][1], i * (font + 5), 'legend pitch', 0.01);
  });
  if (small) assert.equal(entries[0].pts[0][1], 10 + font - 3);
  assert.ok(entries[0].pts[0][1] - font >= 0 && entries[7].pts[0][1] <= pie.h, 'the legend lies inside the canvas');
  for (let i = 0; i < 10; i++) {
    const m = sliceMid(geo, TEN, i, 0.7);
    assert.deepEqual(await pixel(page, sel, m.x, m.y), PALETTE[i % 7], `slice ${i}`);
    const pct = ((TEN[i] / 145) * 100).toFixed(1);
    assert.equal(await tipAt(page, sel, m.x, m.y), `${ITEMS[i]}: ${TEN[i]} (${pct}%)`);
  }
}

// The bars of the 25 items and every k-th label, at the chart's current size.
async function checkManyBars(page, sel, small) {
  const chart = await chartOf(page, sel);
  near(chart.w, chart.inner[0], 'width');
  near(chart.h, chart.inner[1], 'height');
  const values = ITEMS.map((_, i) => i + 10);
  const g = chartGeometry(chart.w, chart.h, small, ITEMS, [values]);
  checkAxes(chart, g, ITEMS, ['v'], 'label');
  for (const r of [0, 12, 24]) {
    const b = g.bar(0, r);
    assert.deepEqual(await pixel(page, sel, b.x + (b.w - 1) / 2, b.y + b.h / 2), PALETTE[0], `bar ${r} at ${chart.w}x${chart.h}`);
  }
  assert.equal(await tipAt(page, sel, g.bar(0, 24).x + 1, g.plot.bottom - 2), `v\n${ITEMS[24]}: 34`);
  return chart;
}

test('25 categories label every third (every fifth small), a ten-slice pie lists eight, and charts follow their panel size', async () => {
  await withApp({ data: { 'items.csv': ITEMS_CSV } }, async ({ page, server, data }) => {
    const src = `read_csv('${path.join(data, 'items.csv')}')`;
    await storeQuery(server, 'many', `SELECT label, SUM(v) AS v FROM ${src} GROUP BY label ORDER BY label`);
    await storeQuery(server, 'ten', `SELECT label, SUM(v) AS v FROM ${src} WHERE v < 20 GROUP BY label ORDER BY label`);
    await storeQuery(server, 'list', `SELECT * FROM ${src} ORDER BY label`);
    await storeDashboard(server, 'Many', [
      { cells: [{ name: 'Bars', query: 'many', chartType: 'bar', flex: 6 }, { name: 'List', query: 'list', chartType: 'paginated', flex: 6 }] },
      { cells: [{ name: 'Pie', query: 'ten', chartType: 'pie', flex: 12 }] },
    ]);
    await recordDrawing(page);
    await openDashboards(page);
    await choose(page, 'Many');
    // The table beside the chart arrives taller than the chart's first drawing: the chart is
    // drawn again at the height its panel grew to.
    assert.equal(await panelText(page, 0, 1).then((t) => t.includes('1-10 of 25')), true);
    await page.waitForFunction((sel) => {
      const el = document.querySelector(sel);
      const c = el.querySelector('canvas.dash-chart');
      return c && c.height > 200 && Math.abs(c.height - (el.clientHeight - 32)) <= 1;
    }, content(0, 0));
    await waitDrawn(page, [content(0, 0), content(0, 1), content(1, 0)]);
    const tall = await checkManyBars(page, content(0, 0), false);
    await checkTenSlices(page, content(1, 0), false);

    // A narrower window: drawn again at the new width.
    await page.setViewportSize({ width: 1000, height: 900 });
    await page.waitForFunction(([sel, before]) => {
      const el = document.querySelector(sel);
      const c = el.querySelector('canvas.dash-chart');
      return c && c.width < before - 100 && Math.abs(c.width - (el.clientWidth - 32)) <= 1;
    }, [content(0, 0), tall.w]);
    await waitDrawn(page, [content(0, 0), content(0, 1), content(1, 0)]);
    await checkManyBars(page, content(0, 0), false);

    await page.click('#editDashboardBtn');
    await page.waitForFunction(() => document.querySelectorAll('#rowsContainer .dash-cell').length === 3);
    await page.waitForSelector('#filterBarEdit', { state: 'visible' });
    const cells = await page.$$eval('#rowsContainer .dash-cell', (cs) => cs.map((c) => c.dataset.cellId));
    const preview = (i) => `#rowsContainer .dash-cell[data-cell-id="${cells[i]}"] .cell-preview`;
    await waitDrawn(page, [0, 1, 2].map(preview));
    await checkManyBars(page, preview(0), true);
    await checkTenSlices(page, preview(2), true);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('one column says "Need 2+ columns" except in a table; negative values and tiny panels stay inside the canvas', async () => {
  await withApp({ data: { 'sales.csv': SALES } }, async ({ page, server, data }) => {
    const src = `read_csv('${path.join(data, 'sales.csv')}')`;
    await storeQuery(server, 'cats', `SELECT cat FROM ${src} GROUP BY cat ORDER BY cat`);
    await storeQuery(server, 'loss', `SELECT cat, SUM(a) - 10 AS loss FROM ${src} GROUP BY cat ORDER BY cat`);
    await storeQuery(server, 'one', `SELECT cat, SUM(a) AS a FROM ${src} GROUP BY cat ORDER BY cat`);
    const cell = (query, chartType, flex) => ({ name: chartType, query, chartType, flex });
    await storeDashboard(server, 'Edges', [
      { cells: ['bar', 'line', 'area', 'pie'].map((t) => cell('cats', t, 3)) },
      { cells: [cell('cats', 'table', 12)] },
      { cells: [cell('loss', 'bar', 6), cell('loss', 'line', 6)] },
      { cells: [cell('one', 'bar', 1), cell('one', 'line', 1), cell('one', 'pie', 1), cell('one', 'area', 9)] },
    ]);
    await recordDrawing(page);
    await openDashboards(page);
    await choose(page, 'Edges');
    await waitDrawn(page, [[0, 0], [0, 1], [0, 2], [0, 3], [1, 0], [2, 0], [2, 1], [3, 0], [3, 1], [3, 2], [3, 3]].map(([r, c]) => content(r, c)));
    for (let c = 0; c < 4; c++) {
      assert.equal(await panelText(page, 0, c), 'Need 2+ columns');
      assert.equal(await page.$eval(content(0, c), (el) => getComputedStyle(el.firstElementChild).color), 'rgb(108, 112, 134)');
    }
    assert.equal(await page.locator(`${content(0, 0)} canvas`).count(), 0);
    await page.waitForSelector(`${content(1, 0)} table`);
    assert.deepEqual(await page.$$eval(`${content(1, 0)} td`, (tds) => tds.map((t) => t.textContent)), LABELS);

    // Every value negative (-9, -5, -3): the axis runs from -10 to 0 and the bars hang from the
    // zero line at the plot's top.
    const bar = await chartOf(page, content(2, 0));
    assertInside(bar, 'negative bars');
    const plot = { left: 65, top: 20, right: bar.w - 20, bottom: bar.h - 75 };
    plot.height = plot.bottom - plot.top;
    assert.deepEqual(bar.texts.filter((t) => t.pts[0][0] === plot.left - 6).map((t) => t.text), ['-10', '-8', '-6', '-4', '-2', '0']);
    const slot = (plot.right - plot.left) / 3;
    for (const [r, v] of [[0, -9], [1, -5], [2, -3]]) {
      const x = plot.left + slot * r + slot / 2;
      const end = plot.top + (plot.height * -v) / 10;
      assert.deepEqual(await pixel(page, content(2, 0), x, plot.top + 1), PALETTE[0], `bar ${r} starts at the top`);
      assert.deepEqual(await pixel(page, content(2, 0), x, end - 2), PALETTE[0], `bar ${r} reaches ${v}`);
      assert.notDeepEqual(await pixel(page, content(2, 0), x, end + 2), PALETTE[0], `bar ${r} ends at ${v}`);
      assert.deepEqual(await pixel(page, content(2, 0), x, plot.top - 3), BG, `nothing above the plot at ${r}`);
    }
    assert.equal(await tipAt(page, content(2, 0), plot.left + slot / 2, plot.top + 5), 'loss\nAlpha: -9');
    const line = await chartOf(page, content(2, 1));
    assertInside(line, 'negative line');
    for (const arc of line.ops.filter((o) => o.kind === 'arc')) {
      const cy = (arc.pts[0][1] + arc.pts[1][1]) / 2;
      assert.ok(cy >= plot.top && cy <= plot.bottom, `point at ${cy} inside the plot`);
    }

    // Panels narrower than the margins: no room to plot, nothing drawn outside the canvas.
    for (let c = 0; c < 3; c++) {
      const tiny = await chartOf(page, content(3, c));
      assert.ok(tiny.w < 100, `panel ${c} is ${tiny.w} wide`);
      assertInside(tiny, `tiny ${['bar', 'line', 'pie'][c]}`);
      // No room for a plot: the background alone, and nothing to point at.
      if (c < 2) assert.deepEqual(tiny.ops.map((o) => o.kind), ['fillRect']);
      assert.equal(await tipAt(page, content(3, c), tiny.w / 2, tiny.h / 2), null);
      const inside = await page.$eval(content(3, c), (el) => {
        const a = el.getBoundingClientRect();
        const b = el.querySelector('canvas').getBoundingClientRect();
        return b.left >= a.left && b.right <= a.right && b.top >= a.top && b.bottom <= a.bottom;
      });
      assert.ok(inside, `the canvas of panel ${c} stays inside it`);
    }
    assert.deepEqual(page.__errors || [], []);
  });
});

test('sample data: a bar chart, a pie, an area chart and a paginated table, and a chart click', async () => {
  const sample = path.resolve(path.dirname(DEV), 'bucket');
  await withApp({ bucket: false, config: { bucketPath: sample } }, async ({ page, server }) => {
    const bySql = 'SELECT region, SUM(sale_amount) AS total_sales, SUM(sale_amount) FILTER (WHERE sale_amount > 100) AS ' +
      'high_value_sales FROM {path-to-files} GROUP BY region ORDER BY region';
    await storeQuery(server, 'Sales by region', bySql);
    await storeQuery(server, 'Units by category',
      'SELECT product_category, SUM(quantity) AS units FROM {path-to-files} GROUP BY product_category ORDER BY units DESC');
    await storeQuery(server, 'Monthly sales',
      "SELECT CAST(DATE_TRUNC('month', sale_date) AS DATE) AS month, SUM(sale_amount) AS sales FROM {path-to-files} GROUP BY 1 ORDER BY 1");
    await storeQuery(server, 'Latest orders',
      'SELECT order_id, sale_date, region, product, quantity, sale_amount, channel FROM {path-to-files} ORDER BY sale_date DESC, order_id');
    await storeDashboard(server, 'Sales overview', [
      { cells: [{ name: 'Sales by region', query: 'Sales by region', chartType: 'bar', flex: 7 },
        { name: 'Units by category', query: 'Units by category', chartType: 'pie', flex: 5 }] },
      { cells: [{ name: 'Monthly sales', query: 'Monthly sales', chartType: 'area', flex: 5 },
        { name: 'Latest orders', query: 'Latest orders', chartType: 'paginated', flex: 7 }] },
    ], sample, 'parquet');
    await openDashboards(page);
    await choose(page, 'Sales overview');
    const panels = [content(0, 0), content(0, 1), content(1, 0), content(1, 1)];
    await waitDrawn(page, panels);
    for (const sel of panels.slice(0, 3)) {
      const coloured = await page.$eval(`${sel} canvas.dash-chart`, (c) => {
        const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
        let n = 0;
        for (let i = 0; i < d.length; i += 4) if (d[i] !== 30 || d[i + 1] !== 30 || d[i + 2] !== 46) n++;
        return n / (c.width * c.height);
      });
      assert.ok(coloured > 0.05, `${sel} drew ${coloured}`);
    }
    const src = `read_parquet('${sample}/**/*.parquet')`;
    const count = (where) => JSON.parse(runEngine(`SELECT COUNT(*) AS n FROM ${src} ${where}`, sample, true))[0].n;
    assert.equal(await page.textContent(`${panels[3]} .dash-paged-range`), `1-10 of ${count('').toLocaleString('en-US')}`);

    // A click on the first region's total bar filters the table, and the indicator shows it.
    const rows = JSON.parse(runEngine(bySql.replace('{path-to-files}', src), sample, true));
    const chart = await chartOf(page, panels[0]);
    const g = chartGeometry(chart.w, chart.h, false, rows.map((r) => r.region),
      [rows.map((r) => r.total_sales), rows.map((r) => r.high_value_sales)]);
    const b = g.bar(0, 0);
    const box = await page.locator(`${panels[0]} canvas.dash-chart`).boundingBox();
    await page.mouse.click(box.x + ((b.x + b.w / 2) * box.width) / chart.w, box.y + ((b.y + b.h / 2) * box.height) / chart.h);
    const expected = `1-10 of ${count(`WHERE region = '${rows[0].region}'`).toLocaleString('en-US')}`;
    await page.waitForFunction(([sel, text]) => document.querySelector(`${sel} .dash-paged-range`)?.textContent === text,
      [panels[3], expected]);
    assert.equal(await page.textContent('#chartFilterIndicator'), `Filter: "region" = '${rows[0].region}'Clear`);
    assert.equal(await page.isVisible('#chartFilterIndicator'), true);
    const shots = process.env.PLINTHOS_SCREENSHOTS;
    if (shots) await page.screenshot({ path: path.join(shots, 'dashboard.png'), fullPage: true });
    // The same dashboard in the editor: every cell previews its query in the small size.
    await page.click('#editDashboardBtn');
    await page.waitForFunction(() => {
      const cells = document.querySelectorAll('#rowsContainer .dash-cell');
      return cells.length === 4 && document.querySelectorAll('#rowsContainer canvas.dash-chart').length === 3 &&
        !document.querySelector('#rowsContainer .dash-loading');
    });
    if (shots) await page.screenshot({ path: path.join(shots, 'dashboard-editor.png'), fullPage: true });
    assert.deepEqual(page.__errors || [], []);
  });
});
