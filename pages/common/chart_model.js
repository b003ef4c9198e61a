// What both pages chart of an answer, and the chart library's options for it. Pure (no DOM, no
// library), so Node can run it: chart.js hands the options to ECharts.
import { escapeHtml } from './escape.js';
import { formatNumber } from './numbers.js';
import { THEME } from './theme.js';

export const CHART_COLORS = [THEME.accent, THEME.secondary, THEME.success, THEME.warning, THEME.error, '#94e2d5', '#f9e2af'];
export const CHART_NO_NUMERIC = 'Nothing to chart: no numeric column';
export const CHART_BACKGROUND = THEME.base;
export const CHART_AXIS_COLOR = THEME.border;
const CHART_TEXT_COLOR = THEME.text;
export const CHART_SELECT_COLOR = THEME.secondary;
// Axis and pie titles: between the text and the muted colour.
export const CHART_TITLE_COLOR = '#a0a8c0';
export const CHART_FONT_FAMILY = '-apple-system, sans-serif';
// Past these, points lose their markers and bars are drawn in one batch: marks no one can tell
// apart cost the most time.
export const CHART_SYMBOL_LIMIT = 500;
export const CHART_LARGE_BARS = 2000;
// Slice outlines would cover slices thinner than themselves.
export const CHART_OUTLINED_SLICES = 60;
// A value label is about this tall; ticks are spaced at least this far apart.
const CHART_TICK_SPACING = 28;
const CHART_MAX_TICKS = 6;
// Average glyph width as a share of the font size, for guessing label widths.
const CHART_GLYPH_SHARE = 0.62;
// A legend takes at most this share of the chart's width.
const CHART_LEGEND_SHARE = 0.4;

// Sizes of the three places a chart is drawn; everything else is common.
export const CHART_SIZES = {
  query: { font: 11, titleFont: 11, labelChars: 18, pieDecimals: 1, symbol: 7 },
  panel: { font: 10, titleFont: 11, labelChars: 14, pieDecimals: 0, symbol: 7 },
  small: { font: 9, titleFont: 9, labelChars: 10, pieDecimals: 0, symbol: 5 },
};

export function chartColor(i) {
  return CHART_COLORS[i % CHART_COLORS.length];
}

// A cell of a numeric column as a number; an empty (NULL) or unreadable cell is none.
function chartNumber(text) {
  if (text === null || text === undefined || text === '') return null;
  const v = Number(text);
  return Number.isFinite(v) ? v : null;
}

// Milliseconds since the epoch of a date, timestamp or month text (read as UTC, so labels come
// back as written), or null for any other text.
const CHART_TIME_PATTERN =
  /^(\d{4})-(\d{2})(?:-(\d{2})(?:[ T](\d{2}):(\d{2})(?::(\d{2})(\.\d+)?)?(Z|[+-]\d{2}(?::?\d{2})?)?)?)?$/;
export function chartTimeValue(text) {
  const m = CHART_TIME_PATTERN.exec(String(text));
  if (!m) return null;
  let t = Date.UTC(+m[1], +m[2] - 1, m[3] ? +m[3] : 1, +(m[4] || 0), +(m[5] || 0), +(m[6] || 0));
  if (m[7]) t += Math.round(Number(m[7]) * 1000);
  if (m[8] && m[8] !== 'Z') {
    const sign = m[8][0] === '-' ? -1 : 1;
    const digits = m[8].slice(1).replace(':', '');
    t -= sign * (Number(digits.slice(0, 2)) * 60 + Number(digits.slice(2) || 0)) * 60000;
  }
  return Number.isFinite(t) ? t : null;
}

// Which columns hold numbers: the answer's own flags, or for an answer without them, the
// columns whose every non-empty cell is a number.
function chartNumericColumns(columns, rows, numericCols) {
  if (Array.isArray(numericCols) && numericCols.length === columns.length) return numericCols.map(Boolean);
  return columns.map((_, c) => {
    let seen = false;
    for (const r of rows) {
      if (r[c] === '' || r[c] == null) continue;
      if (chartNumber(r[c]) === null) return false;
      seen = true;
    }
    return seen;
  });
}

// Category labels from the first column; a series for every further numeric column; the
// labels' times when every one of them is a date, timestamp or month.
export function chartModel(result) {
  const columns = result && Array.isArray(result.columns) ? result.columns.map(String) : [];
  const rows = result && Array.isArray(result.rows) ? result.rows : [];
  const labels = rows.map((r) => (r[0] == null ? '' : String(r[0])));
  const numeric = chartNumericColumns(columns, rows, result && result.numericCols);
  const series = [];
  for (let c = 1; c < columns.length; c++) {
    if (numeric[c]) series.push({ name: columns[c], values: rows.map((r) => chartNumber(r[c])) });
  }
  let times = labels.length ? labels.map(chartTimeValue) : null;
  if (times && times.some((t) => t === null)) times = null;
  return { title: columns.length ? columns[0] : '', labels, series, times };
}

// Long-format rows (label, key, numbers…) drawn as one series per value of the key column: the
// labels in first-seen order, a series per key (per key and number column when there are several),
// a gap where a label lacks a key, and rows of the same label and key added up. An answer whose
// second column is numeric, or that has no number after it, is drawn as chartModel draws it.
export function chartSplitModel(result) {
  const columns = result && Array.isArray(result.columns) ? result.columns.map(String) : [];
  const rows = result && Array.isArray(result.rows) ? result.rows : [];
  const numeric = chartNumericColumns(columns, rows, result && result.numericCols);
  const valueCols = numeric.map((n, c) => (n && c >= 2 ? c : -1)).filter((c) => c >= 0);
  if (columns.length < 3 || numeric[1] || !valueCols.length) return chartModel(result);
  const text = (v) => (v == null ? '' : String(v));
  const labelAt = new Map();
  const keyAt = new Map();
  for (const r of rows) {
    if (!labelAt.has(text(r[0]))) labelAt.set(text(r[0]), labelAt.size);
    if (!keyAt.has(text(r[1]))) keyAt.set(text(r[1]), keyAt.size);
  }
  const labels = [...labelAt.keys()];
  const series = [];
  for (const key of keyAt.keys()) {
    for (const c of valueCols) {
      const name = (key === '' ? '(empty)' : key) + (valueCols.length > 1 ? ' · ' + columns[c] : '');
      series.push({ name, key, column: c, values: labels.map(() => null) });
    }
  }
  const seriesOf = (key, c) => keyAt.get(key) * valueCols.length + valueCols.indexOf(c);
  for (const r of rows) {
    const at = labelAt.get(text(r[0]));
    for (const c of valueCols) {
      const v = chartNumber(r[c]);
      if (v === null) continue;
      const s = series[seriesOf(text(r[1]), c)];
      s.values[at] = (s.values[at] || 0) + v;
    }
  }
  let times = labels.length ? labels.map(chartTimeValue) : null;
  if (times && times.some((t) => t === null)) times = null;
  return { title: columns[0], labels, series: series.map(({ name, values }) => ({ name, values })), times };
}

// Slices of the first series, largest first (ties keep row order), each with its share in
// percent. Negative values count by their size.
export function chartPieSlices(model) {
  const values = model.series.length ? model.series[0].values : [];
  const slices = model.labels.map((label, row) => ({ label, row, value: Math.abs(values[row] || 0) }));
  slices.sort((a, b) => b.value - a.value || a.row - b.row);
  const total = slices.reduce((sum, s) => sum + s.value, 0) || 1;
  slices.forEach((s) => (s.pct = (s.value / total) * 100));
  return slices;
}

// A label of at most max characters: cut at the last word break in its second half, else
// between characters, with an ellipsis. Characters are code points, so no pair is split.
export function chartShortLabel(text, max) {
  const chars = Array.from(String(text));
  if (chars.length <= max) return chars.join('');
  const head = chars.slice(0, max - 1).join('');
  const space = head.search(/\s\S*$/);
  const cut = space >= Math.floor(max / 2) ? head.slice(0, space) : head;
  return cut.replace(/[\s.,;:\-–]+$/, '') + '…';
}

// Fractional steps only where the values need them: counts never tick at 2.5.
export function chartAllIntegers(series) {
  return series.every((s) => s.values.every((v) => v === null || Number.isInteger(v)));
}

// Whether a line's value axis starts at zero: when some value is at or across zero, or lies
// nearer to it than the values spread (5 to 100 does, 315 to 415 starts near 315). Bars always do.
export function chartAxisFromZero(values) {
  let lo = Infinity;
  let hi = -Infinity;
  for (const v of values) {
    if (v === null || v === undefined || !Number.isFinite(v)) continue;
    lo = Math.min(lo, v);
    hi = Math.max(hi, v);
  }
  if (lo === Infinity || (lo <= 0 && hi >= 0)) return true;
  return (lo > 0 ? lo : -hi) <= hi - lo;
}

// Series more than this many times smaller than the largest would hug their axis: they get one of
// their own.
const CHART_SECOND_AXIS_RATIO = 10;

// The value axis of each series, 0 or 1: a series whose largest size is more than tenfold under
// the largest series' goes on the second axis.
export function chartSeriesAxes(series) {
  const sizes = series.map((s) => s.values.reduce((m, v) => (v === null || !Number.isFinite(v) ? m : Math.max(m, Math.abs(v))), 0));
  const top = Math.max(0, ...sizes);
  if (series.length < 2 || !(top > 0)) return series.map(() => 0);
  return sizes.map((m) => (m * CHART_SECOND_AXIS_RATIO < top ? 1 : 0));
}

// Value ticks that fit the plot's height: ECharts picks round steps (1, 2, 3 or 5 times a power
// of ten) near this count.
export function chartTickCount(plotHeight) {
  return Math.max(1, Math.min(CHART_MAX_TICKS, Math.floor(plotHeight / CHART_TICK_SPACING)));
}

// A drawn label's line is about this many font sizes tall, and neighbouring labels keep this many
// font sizes between their boxes.
const CHART_LABEL_LINE = 1.25;
const CHART_LABEL_GAP = 0.4;
// Turns tried for category labels, the least turn first.
const CHART_LABEL_TURNS = [0, 45, 90];

// Round labels (calendar ticks, years) stand at least this many font sizes apart, so an axis is
// not a wall of labels.
export const CHART_ROUND_TICK_EMS = 8;

// How category labels stand along an axis whose neighbouring categories are slot pixels apart
// (none for a single category), given the widest drawn text's width: { rotate, every }, every
// every-th label drawn from the first.
// A label turned by an angle is a box ending at its category; two such boxes one step apart are
// clear of each other once the step carries them a line's height apart across the text, or a
// text's length apart along it. The turn that draws the most labels wins, the least among equals.
// Round labels stay level and CHART_ROUND_TICK_EMS apart.
export function chartCategoryLabels(widest, slot, size, round = false) {
  if (!(slot > 0)) return { rotate: 0, every: 1 };
  const gap = CHART_LABEL_GAP * size.font;
  const height = CHART_LABEL_LINE * size.font + gap;
  const width = widest + gap;
  let best = null;
  for (const rotate of round ? [0] : CHART_LABEL_TURNS) {
    const a = (rotate * Math.PI) / 180;
    const across = rotate ? height / Math.sin(a) : Infinity;
    const along = rotate === 90 ? Infinity : Math.max(width / Math.cos(a), round ? CHART_ROUND_TICK_EMS * size.font : 0);
    const every = Math.max(1, Math.ceil(Math.min(across, along) / slot - 1e-9));
    if (!best || every < best.every) best = { rotate, every };
  }
  return best;
}

// Whether labels are whole numbers counting up by one.
export function chartCountsUp(labels) {
  return labels.length > 0 && labels.every((l, i) => /^-?\d{1,15}$/.test(l) && Number(l) === Number(labels[0]) + i);
}

// The labels drawn of a run of whole numbers counting up by one (years, mostly): every every-th
// taken up to a round step (1, 2 or 5 times a power of ten), at the multiples of that step, so
// years read 1880, 1900, 1920 instead of 1880, 1904, 1928. Indices of the drawn labels, or null
// for labels of any other kind.
export function chartRoundLabels(labels, every) {
  if (!chartCountsUp(labels)) return null;
  let p = 1;
  while (10 * p < every) p *= 10;
  const step = [p, 2 * p, 5 * p, 10 * p].find((s) => s >= every);
  const first = Number(labels[0]);
  const out = [];
  for (let i = (((-first) % step) + step) % step; i < labels.length; i += step) out.push(i);
  return out;
}

// Texts measured at most for the widest label: measuring is slow (a 100,000-row answer's labels
// took seconds), and past a few hundred labels only one in many is drawn.
const CHART_MEASURED_LABELS = 400;

// The width of the widest of texts by measure(text). Past CHART_MEASURED_LABELS distinct texts,
// the longest ones are measured and the widest glyphs among them, as many as the longest text
// has, stand for the rest.
export function chartWidestLabel(texts, measure) {
  const distinct = [...new Set(texts)];
  if (distinct.length <= CHART_MEASURED_LABELS) return distinct.reduce((m, t) => Math.max(m, measure(t)), 0);
  distinct.sort((a, b) => b.length - a.length);
  let widest = 0;
  let perChar = 0;
  for (const t of distinct.slice(0, CHART_MEASURED_LABELS)) {
    const w = measure(t);
    widest = Math.max(widest, w);
    perChar = Math.max(perChar, w / Math.max(1, Array.from(t).length));
  }
  return Math.max(widest, perChar * Array.from(distinct[0]).length);
}

// A rough width of a text, for when no canvas can measure it (Node).
export function chartGuessWidth(text, size) {
  return Array.from(String(text)).length * size.font * CHART_GLYPH_SHARE;
}

// The tooltip's markup: the series name in its colour over "label: value" for a bar or point;
// "label: value (share)" for a slice. Everything from the data is escaped.
export function chartTipHtml(label, value, seriesName, color, pct) {
  const valueText = '<b>' + escapeHtml(value === null || value === undefined ? '' : formatNumber(value)) + '</b>';
  if (seriesName === null) {
    return escapeHtml(label) + ': ' + valueText + (pct === undefined ? '' : ' (' + escapeHtml(pct) + '%)');
  }
  return (
    '<span style="color:' + color + '">' + escapeHtml(seriesName) + '</span><br>' +
    escapeHtml(label) + ': ' + valueText
  );
}

// A legend entry's tooltip: its whole name, which the legend may show shortened.
export function chartLegendTip(p) {
  return p && p.componentType === 'legend' ? escapeHtml(p.name) : null;
}

export function chartTextStyle(size) {
  return { color: CHART_TEXT_COLOR, fontSize: size.font, fontFamily: CHART_FONT_FAMILY };
}

export function chartTooltip() {
  return {
    confine: false,
    appendTo: 'body',
    className: 'chart-tip',
    transitionDuration: 0,
    backgroundColor: THEME.surface,
    borderColor: CHART_AXIS_COLOR,
    borderWidth: 1,
    padding: [6, 10],
    textStyle: { color: CHART_TEXT_COLOR, fontSize: 12.8, fontFamily: CHART_FONT_FAMILY },
    extraCssText: 'border-radius:6px;white-space:nowrap;line-height:1.5;box-shadow:none;',
  };
}

// Room for the longest legend entry with its marker, within a share of the chart's width.
export function chartLegendWidth(texts, size, width) {
  let longest = 0;
  for (const t of texts) longest = Math.max(longest, Array.from(t).length);
  const wanted = Math.ceil(longest * size.font * CHART_GLYPH_SHARE) + 2 * size.font + 16;
  return Math.max(0, Math.min(wanted, Math.floor(width * CHART_LEGEND_SHARE)));
}

// A legend of names down the right edge, paged when it is longer than the chart is high; texts
// are shortened by formatter, whole in the legend's tooltip.
export function chartLegend(size, legendWidth, names, formatter) {
  return {
    type: 'scroll',
    orient: 'vertical',
    right: 6,
    top: 16,
    bottom: 16,
    width: legendWidth - 12,
    itemWidth: size.font,
    itemHeight: size.font,
    itemGap: 8,
    pageIconColor: CHART_TEXT_COLOR,
    pageIconInactiveColor: CHART_AXIS_COLOR,
    pageTextStyle: { color: CHART_TEXT_COLOR, fontSize: size.font },
    textStyle: chartTextStyle(size),
    tooltip: { show: true },
    data: names,
    formatter,
  };
}

