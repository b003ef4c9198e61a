// Chart arithmetic of both pages: scales, ticks, bar and point positions, pie angles, pointer
// hit tests and tooltip texts. Pure functions without the DOM, so Node can run them. Sizes that
// differ between the pages come in a table from the caller: minBarWidth, labelChars (category
// label cut), labelGap (label anchor below the plot), tickSkip (how far outside the plot a tick
// may fall) and, for the Query page's pie, pieLegendSpace, pieOffsetX, pieOffsetY and pieInset.

const CHART_COLORS = ['#cba6f7', '#89b4fa', '#a6e3a1', '#fab387', '#f38ba8', '#94e2d5', '#f9e2af'];
const CHART_VALUE_HEADROOM = 1.1;
const CHART_TICK_TOLERANCE = 1e-9;
const CHART_TICK_LIMIT = 1000;
const CHART_POINT_HIT_DIST_SQ = 400;

function chartColor(i) {
  return CHART_COLORS[i % CHART_COLORS.length];
}

// The leading decimal number of a cell, or null. Infinities count as no number: they would
// leave the value axis without a finite range.
function parseNum(text) {
  const v = parseFloat(text);
  return Number.isFinite(v) ? v : null;
}

// Category labels from the first column; a series for every further column holding at least
// one number. Values keep null for cells without a number.
function chartSeriesOf(columns, rows) {
  const labels = rows.map((r) => (r[0] == null ? '' : String(r[0])));
  const series = [];
  for (let c = 1; c < columns.length; c++) {
    const values = rows.map((r) => parseNum(r[c]));
    if (values.some((v) => v !== null)) {
      series.push({ name: String(columns[c]), values, color: chartColor(series.length) });
    }
  }
  return { labels, series };
}

// The value range handed to the axes, or null when there are no values at all. When every
// value is negative the upper bound is zero, so bars keep their length from the zero line at
// the top of the plot instead of starting outside it.
function chartValueBounds(series) {
  let max = -Infinity;
  let min = Infinity;
  for (const s of series) {
    for (const v of s.values) {
      const x = v === null ? 0 : v;
      if (x > max) max = x;
      if (x < min) min = x;
    }
  }
  if (max === -Infinity) return null;
  let upper = max * CHART_VALUE_HEADROOM;
  if (upper === 0) upper = 1;
  if (upper < 0) upper = 0;
  if (!Number.isFinite(upper)) upper = max;
  return { min: Math.min(min, 0), max: upper };
}

// Whole-number tick steps of 1, 2 or 5 times a power of ten covering minV..maxV.
// Without a finite range there are no ticks.
function niceAxisTicks(minV, maxV, targetTicks) {
  if (!Number.isFinite(minV) || !Number.isFinite(maxV) || maxV - minV < 0) {
    return { ticks: [], min: 0, max: 1 };
  }
  const range = maxV - minV || 1;
  const rawStep = range / targetTicks;
  const magnitude = Math.pow(10, Math.floor(Math.log10(rawStep)));
  const fraction = rawStep / magnitude;
  let step;
  if (fraction <= 1) step = magnitude;
  else if (fraction <= 2) step = 2 * magnitude;
  else if (fraction <= 5) step = 5 * magnitude;
  else step = 10 * magnitude;
  step = Math.max(step, 1);
  // Adding 0 turns -0 (from a cell such as -0.0) into 0, so no axis reads "-0".
  const min = Math.floor(minV / step) * step + 0;
  const max = Math.ceil(maxV / step) * step + 0;
  const snap = step / 1e9;
  const ticks = [];
  for (let t = min; t <= max + step * CHART_TICK_TOLERANCE && ticks.length < CHART_TICK_LIMIT; ) {
    ticks.push(t);
    t = Math.round((t + step) / snap) * snap + 0;
  }
  return { ticks, min, max };
}

function chartPlotRect(w, h, margins) {
  const width = Math.max(0, w - margins.left - margins.right);
  const height = Math.max(0, h - margins.top - margins.bottom);
  return {
    left: margins.left,
    top: margins.top,
    width,
    height,
    right: margins.left + width,
    bottom: margins.top + height,
  };
}

// The first maxChars characters of a label (code points, so a surrogate pair is never split).
function chartCutLabel(text, maxChars) {
  const chars = Array.from(String(text));
  return chars.length > maxChars ? chars.slice(0, maxChars).join('') : chars.join('');
}

function chartFormatNumber(v) {
  return v.toLocaleString();
}

// Pixels per value unit on the value axis; the whole plot height for an empty range.
function chartAxisScale(plot, axisMin, axisMax) {
  const span = axisMax - axisMin;
  return span > 0 ? plot.height / span : plot.height;
}

// Anchors of category labels at slot centres, below the plot: every `every`-th label from the
// first (every label by default), cut to sizes.labelChars.
function chartLabelAnchors(plot, labels, sizes, every) {
  const k = every > 1 ? every : 1;
  const slot = labels.length ? plot.width / labels.length : 0;
  const anchors = [];
  for (let i = 0; i < labels.length; i += k) {
    anchors.push({
      index: i,
      x: plot.left + slot * i + slot / 2,
      y: plot.bottom + sizes.labelGap,
      text: chartCutLabel(labels[i], sizes.labelChars),
    });
  }
  return anchors;
}

// Positions of everything the axes draw: a tick per step with its height and text (ticks
// further than sizes.tickSkip outside the plot left out), category label anchors, the widened
// range and the vertical scale.
function chartAxisLayout(plot, labels, minV, maxV, targetTicks, sizes) {
  const nice = niceAxisTicks(minV, maxV, targetTicks);
  const scale = chartAxisScale(plot, nice.min, nice.max);
  const ticks = [];
  for (const t of nice.ticks) {
    const y = plot.bottom - (t - nice.min) * scale;
    if (y < plot.top - sizes.tickSkip || y > plot.bottom + sizes.tickSkip) continue;
    ticks.push({ value: t, y, text: chartFormatNumber(t) });
  }
  const labelAnchors = chartLabelAnchors(plot, labels, sizes, 1);
  return { ticks, labels: labelAnchors, min: nice.min, max: nice.max, scale };
}

// Bar rectangles in drawing order (series by series, row by row), each a hit record.
// Bars of one row sit side by side around the centre of its slot, none narrower than
// sizes.minBarWidth.
function chartBarRects(plot, labels, series, axisMin, axisMax, sizes) {
  const n = labels.length;
  if (!n) return [];
  const span = axisMax - axisMin || 1;
  const slot = plot.width / n;
  const barW = Math.max(sizes.minBarWidth, slot / (series.length + 1));
  const zeroY = plot.bottom - plot.height * (-axisMin / span);
  const hits = [];
  series.forEach((s, si) => {
    for (let r = 0; r < n; r++) {
      const v = s.values[r] === null ? 0 : s.values[r];
      const bh = (plot.height * Math.abs(v)) / span;
      const x = plot.left + slot * r + slot / 2 - (series.length * barW) / 2 + si * barW;
      const y = v >= 0 ? zeroY - bh : zeroY;
      hits.push({ x, y, w: barW, h: bh, label: labels[r], value: v, series: s.name, color: s.color });
    }
  });
  return hits;
}

// Point positions of one series: spread from the plot's left edge to its right edge.
function chartLinePoints(plot, labels, s, axisMin, axisMax) {
  const n = labels.length;
  const span = axisMax - axisMin || 1;
  const step = n > 1 ? plot.width / (n - 1) : plot.width;
  const points = [];
  for (let r = 0; r < n; r++) {
    const v = s.values[r];
    const y = plot.bottom - (plot.height * ((v === null ? 0 : v) - axisMin)) / span;
    points.push({ x: plot.left + step * r, y, label: labels[r], value: v, series: s.name, color: s.color });
  }
  return points;
}

// Centre and radius of the Query page's pie, left of its legend; null when the canvas leaves
// no room for it.
function chartPieGeometry(w, h, sizes) {
  const cx = (w - sizes.pieLegendSpace) / 2 + sizes.pieOffsetX;
  const cy = h / 2 - sizes.pieOffsetY;
  const r = Math.min(cx - sizes.pieInset, cy - sizes.pieInset);
  return r > 0 ? { cx, cy, r } : null;
}

// Slices from the second column, clockwise from 12 o'clock. Angles are in radians measured
// that way; the canvas angle is the same minus a quarter turn. share is the slice's part of
// the whole (0 to 1).
function chartPieSlices(columns, rows) {
  const labels = rows.map((r) => (r[0] == null ? '' : String(r[0])));
  const values = rows.map((r) => {
    const v = columns.length > 1 ? parseNum(r[1]) : null;
    return v === null ? 0 : Math.abs(v);
  });
  let total = 0;
  for (const v of values) total += v;
  if (total === 0) total = 1;
  const slices = [];
  let start = 0;
  values.forEach((v, i) => {
    const end = start + (v / total) * 2 * Math.PI;
    slices.push({
      start,
      end,
      label: labels[i],
      value: v.toFixed(2),
      pct: ((v / total) * 100).toFixed(1),
      share: v / total,
      color: chartColor(i),
    });
    start = end;
  });
  // Close the circle exactly, so no pointer angle falls between the last slice and 12 o'clock.
  if (slices.length && start > 0) slices[slices.length - 1].end = 2 * Math.PI;
  return slices;
}

function chartPieLegendText(slice) {
  return slice.label + ' (' + slice.pct + '%)';
}

function chartHitBar(hits, px, py) {
  for (const h of hits) {
    if (px >= h.x && px <= h.x + h.w && py >= h.y && py <= h.y + h.h) return h;
  }
  return null;
}

function chartHitPoint(hits, px, py) {
  let best = null;
  let bestD = CHART_POINT_HIT_DIST_SQ;
  for (const h of hits) {
    const d = (px - h.x) * (px - h.x) + (py - h.y) * (py - h.y);
    if (d < bestD) {
      best = h;
      bestD = d;
    }
  }
  return best;
}

// Slice hit records carry the pie's centre (cx, cy) and radius r.
// undefined: no slices, the tooltip keeps its state; null: outside the pie.
function chartHitSlice(hits, px, py) {
  if (!hits.length) return undefined;
  const dx = px - hits[0].cx;
  const dy = py - hits[0].cy;
  if (dx * dx + dy * dy > hits[0].r * hits[0].r) return null;
  let a = Math.atan2(dy, dx) + Math.PI / 2;
  if (a < 0) a += 2 * Math.PI;
  for (const h of hits) {
    if (a >= h.start && a <= h.end) return h;
  }
  return null;
}

function chartHitTest(type, hits, px, py) {
  if (type === 'bar') return chartHitBar(hits, px, py);
  if (type === 'pie') return chartHitSlice(hits, px, py);
  return chartHitPoint(hits, px, py);
}

// The tooltip's parts: a title line in the series colour (bars and points) and the
// label with its value; the value of a slice loses its trailing zeros.
function chartTipParts(type, hit) {
  let valueText;
  if (hit.value === null || hit.value === undefined) valueText = chartFormatNumber(0);
  else if (typeof hit.value === 'number') valueText = chartFormatNumber(hit.value);
  else {
    const v = parseNum(hit.value);
    valueText = v === null ? String(hit.value) : chartFormatNumber(v);
  }
  if (type === 'pie') {
    return { title: null, color: null, label: hit.label, value: valueText, pct: hit.pct ? hit.pct + '%' : '' };
  }
  return { title: hit.series, color: hit.color, label: hit.label, value: valueText, pct: '' };
}
