// Charts of both pages, drawn by ECharts (started once for both, on first use, by libraries.js):
// one chart per box, redrawn at the box's size when it changes, released when the box leaves
// the document. The model comes from chart_model.js, the options and click rules from the type's
// entry in chart_types.js.
import { CHART_FONT_FAMILY, CHART_SIZES } from './chart_model.js';
import { chartType } from './chart_types.js';
import { escapeHtml } from './escape.js';
import { chartLibrary } from './libraries.js';

const chartLive = new Set();
// Passes of drawing, measuring where the categories landed and placing their labels anew: the
// labels' turn changes the plot's width, so a second pass is usually the last.
const CHART_FIT_PASSES = 3;
let chartMeasureContext = null;
let chartMeasureFont = '';

// A label's width in pixels in the chart's font at the size, measured on a canvas as the library
// draws it; remembered per text. The font is set only when it changes: setting it costs more
// than measuring.
function chartMeasure(size) {
  if (!chartMeasureContext) chartMeasureContext = document.createElement('canvas').getContext('2d');
  const font = size.font + 'px ' + CHART_FONT_FAMILY;
  const known = new Map();
  return (text) => {
    let w = known.get(text);
    if (w === undefined) {
      if (chartMeasureFont !== font) chartMeasureContext.font = chartMeasureFont = font;
      w = chartMeasureContext.measureText(text).width;
      known.set(text, w);
    }
    return w;
  };
}

// Pixels from the first category (or time) of the drawn chart to its last, or 0.
function chartDrawnSpan(chart, model) {
  const n = model.labels.length;
  if (n < 2) return 0;
  const ends = model.times ?
    model.times.reduce(([lo, hi], t) => [Math.min(lo, t), Math.max(hi, t)], [Infinity, -Infinity]) :
    [0, n - 1];
  const px = ends.map((v) => chart.convertToPixel({ xAxisIndex: 0 }, v));
  return px.every(Number.isFinite) ? Math.abs(px[1] - px[0]) : 0;
}

// Whether the labels of option now still stand as option wanted asks: placed alike, or turned
// alike and thinned at least as much (with many categories the wanted share changes with every
// pixel, and each pass costs a whole drawing).
function chartLabelsHold(now, wanted) {
  const a = now.xAxis.axisLabel;
  const b = wanted.xAxis.axisLabel;
  if (a.rotate === b.rotate && typeof a.interval === 'number' && typeof b.interval === 'number') return a.interval >= b.interval;
  return JSON.stringify([a.rotate, a.interval, a.customValues]) === JSON.stringify([b.rotate, b.interval, b.customValues]);
}

// Draws the option for a box of width by height, then places the axis labels again by where the
// categories were drawn, until they stay put; the last pass takes the narrowest span seen, so
// labels can only stand further apart than needed.
function chartFit(chart, model, optionFor, width, height, measure, setOpts) {
  let option = optionFor(width, height, { measure });
  chart.setOption(option, setOpts);
  if (!option.xAxis) return;
  let least = Infinity;
  for (let pass = 1; pass < CHART_FIT_PASSES; pass++) {
    const span = chartDrawnSpan(chart, model);
    if (!(span > 0)) return;
    least = Math.min(least, span);
    const next = optionFor(width, height, { measure, span: pass === CHART_FIT_PASSES - 1 ? least : span });
    if (chartLabelsHold(option, next)) return;
    option = next;
    chart.setOption(option);
  }
}

function chartRelease(entry) {
  if (entry.observer) entry.observer.disconnect();
  if (!entry.chart.isDisposed()) entry.chart.dispose();
  chartLive.delete(entry);
}

// Charts inside el (all charts gone from the document when el is null); their tooltips go too.
export function chartReleaseIn(el) {
  for (const entry of Array.from(chartLive)) {
    if (!entry.box.isConnected || (el && el.contains(entry.box))) chartRelease(entry);
  }
}

function chartWithTipNote(option, note) {
  if (!note) return option;
  const base = option.tooltip.formatter;
  option.tooltip.formatter = (p) => {
    const html = base(p);
    return p && p.componentType === 'legend' ? html : html + '<div class="chart-tip-note">' + escapeHtml(note) + '</div>';
  };
  return option;
}

// Draws the answer in box as the chart type `type` (an id of CHART_TYPES) with the sizes of
// sizeName (see CHART_SIZES). Returns false, drawing nothing, when the answer has no numeric
// column or the type is no chart.
// onPick, when given, makes bars, points and slices clickable: it receives the category label,
// the series name (undefined for a slice) and the element's mark ({ off }) and returns whether
// the element stays marked as selected. tipNote, when given, closes every element's tooltip.
// selected, when given on a clickable chart, marks its element ({ label, series }) at once, if
// the answer still holds it, and hands its mark to selected.marked.
export function chartDraw(box, result, type, sizeName, onPick, tipNote, selected) {
  chartReleaseIn(null);
  const rules = chartType(type);
  if (!rules || !rules.chart) return false;
  const model = rules.model(result);
  if (!model.series.length) return false;
  const size = CHART_SIZES[sizeName];
  const clickable = typeof onPick === 'function';
  const optionFor = (w, h, fit) => chartWithTipNote(rules.option(model, w, h, size, clickable, fit), tipNote);
  const measure = chartMeasure(size);
  const chart = chartLibrary().init(box, null, { renderer: 'canvas' });
  const entry = { box, chart, observer: null };
  chartLive.add(entry);
  let drawn = [box.clientWidth, box.clientHeight];
  chartFit(chart, model, optionFor, drawn[0], drawn[1], measure, { notMerge: true });
  const actOn = (at) => (kind) => chart.isDisposed() || chart.dispatchAction(Object.assign({ type: kind }, at));
  if (clickable) {
    chart.on('click', (params) => {
      if (params.componentType !== 'series') return;
      const target = rules.clickTarget(model, params);
      if (!target) return;
      const act = actOn({ seriesIndex: params.seriesIndex, dataIndex: params.dataIndex });
      const keep = onPick(target.label, target.series, { off: () => act('unselect') });
      // After the library's own toggle of the clicked element, whichever runs first.
      setTimeout(() => act(keep ? 'select' : 'unselect'), 0);
    });
    const at = selected && rules.elementAt ? rules.elementAt(model, selected.label, selected.series) : null;
    if (at) {
      const act = actOn(at);
      act('select');
      selected.marked({ off: () => act('unselect') });
    }
  }
  if (typeof ResizeObserver !== 'undefined') {
    let pending = false;
    entry.observer = new ResizeObserver(() => {
      if (pending) return;
      pending = true;
      requestAnimationFrame(() => {
        pending = false;
        const now = [box.clientWidth, box.clientHeight];
        if (chart.isDisposed() || (Math.abs(now[0] - drawn[0]) < 1 && Math.abs(now[1] - drawn[1]) < 1)) return;
        drawn = now;
        chart.resize();
        chartFit(chart, model, optionFor, now[0], now[1], measure, {});
      });
    });
    entry.observer.observe(box);
  }
  return true;
}
