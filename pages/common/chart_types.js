// The chart types of both pages, in the order their menus list them: the two tables, then each
// chart with its drawing rule (`option`: the chart library's options for a model in a box of
// width by height pixels) and its click rule (`clickTarget`: the category label and series name
// behind a clicked element, or null), after its answer rule (`model`: what of the answer it
// draws). A new chart type is one entry here.
import {
  CHART_BACKGROUND,
  CHART_COLORS,
  CHART_FONT_FAMILY,
  CHART_LARGE_BARS,
  CHART_OUTLINED_SLICES,
  CHART_SELECT_COLOR,
  CHART_SYMBOL_LIMIT,
  CHART_TITLE_COLOR,
  CHART_AXIS_COLOR,
  chartAllIntegers,
  chartAxisFromZero,
  chartCategoryLabels,
  chartColor,
  chartCountsUp,
  chartGuessWidth,
  chartModel,
  chartLegend,
  chartLegendTip,
  chartLegendWidth,
  chartPieSlices,
  chartRoundLabels,
  chartSeriesAxes,
  chartShortLabel,
  chartSplitModel,
  chartTextStyle,
  chartTickCount,
  chartTipHtml,
  chartTooltip,
  chartWidestLabel,
} from './chart_model.js';
import { chartTimeTicks } from './chart_time.js';
import { formatFixed, formatNumber } from './numbers.js';

const CHART_AREA_OPACITY = 0.2;
const CHART_SELECT_STYLE = { itemStyle: { borderColor: CHART_SELECT_COLOR, borderWidth: 1.5 } };
// Per model: the widest drawn category label, and whether the labels count up.
const CHART_LABEL_FACTS = new WeakMap();

// The category axis' labels: shortened texts, turned and thinned by their measured widths so
// that no two drawn ones meet; whole numbers counting up (years) level, at round steps. span:
// pixels from the first category to the last.
function categoryLabels(model, span, size, measure) {
  const n = model.labels.length;
  const short = (label) => chartShortLabel(label, size.labelChars);
  // The same for every pass over one model.
  let known = CHART_LABEL_FACTS.get(model);
  if (!known || known.measure !== measure) {
    known = { measure, widest: chartWidestLabel(model.labels.map(short), measure), round: chartCountsUp(model.labels) };
    CHART_LABEL_FACTS.set(model, known);
  }
  const fit = chartCategoryLabels(known.widest, n > 1 ? span / (n - 1) : 0, size, known.round);
  const drawn = known.round ? { customValues: chartRoundLabels(model.labels, fit.every) } : { interval: fit.every - 1 };
  return {
    room: fit.rotate ? known.widest * Math.sin((fit.rotate * Math.PI) / 180) : 0,
    axisLabel: Object.assign({ rotate: fit.rotate, formatter: short }, drawn),
  };
}

// The time axis' labels: round calendar ticks over the data's times, each labelled with what
// changed since the one before.
function timeLabels(model, span, size, measure) {
  let lo = Infinity;
  let hi = -Infinity;
  for (const t of model.times) {
    lo = Math.min(lo, t);
    hi = Math.max(hi, t);
  }
  const ticks = chartTimeTicks(lo, hi, span, size, measure);
  const text = new Map(ticks.map((k) => [k.t, k.label]));
  const at = ticks.map((k) => k.t);
  return {
    room: 0,
    axisLabel: { rotate: 0, customValues: at, formatter: (v) => text.get(v) ?? '' },
    axisTick: { show: true, customValues: at, lineStyle: { color: CHART_AXIS_COLOR } },
    min: 'dataMin',
    max: 'dataMax',
  };
}

// Options for bars or lines (an area is a filled line) of the model in a box of width by height
// pixels; look is { bars, area }. fit, when given: measure(text), a label's width in pixels in
// the chart's font, and span, the pixels from the first category or time to the last as last
// drawn (guessed from the box when missing).
function seriesOption(model, look, width, height, size, clickable, fit) {
  const n = model.labels.length;
  const legend = model.series.length > 1;
  const shortName = (name) => chartShortLabel(name, size.labelChars);
  const legendWidth = legend ? chartLegendWidth(model.series.map((s) => shortName(s.name)), size, width) : 0;
  // The library grows the plot until its labels meet these bounds, so they are the margins.
  const bounds = { left: 4, right: legend ? legendWidth + 12 : 12, top: 12, bottom: 4 };
  const grid = Object.assign({ outerBoundsMode: 'auto', outerBounds: bounds }, bounds);
  const plotWidth = Math.max(1, width - grid.left - grid.right - 6 * size.font);
  const measure = (fit && fit.measure) || ((text) => chartGuessWidth(text, size));
  const span = fit && fit.span > 0 ? fit.span : look.bars && n > 0 ? (plotWidth * (n - 1)) / n : plotWidth;
  const time = model.times !== null;
  const labels = time ? timeLabels(model, span, size, measure) : categoryLabels(model, span, size, measure);
  const plotHeight = Math.max(1, height - grid.top - grid.bottom - 3 * size.font - labels.room);
  const big = n > CHART_SYMBOL_LIMIT;
  const xAxis = {
    type: time ? 'time' : 'category',
    name: model.title,
    nameLocation: 'middle',
    nameGap: 2 * size.font,
    nameTextStyle: { color: CHART_TITLE_COLOR, fontWeight: 'bold', fontSize: size.titleFont, fontFamily: CHART_FONT_FAMILY },
    axisLine: { lineStyle: { color: CHART_AXIS_COLOR } },
    axisTick: labels.axisTick || { show: false },
    axisLabel: Object.assign(chartTextStyle(size), { hideOverlap: true }, labels.axisLabel),
    splitLine: { show: false },
  };
  if (time) Object.assign(xAxis, { min: labels.min, max: labels.max });
  else Object.assign(xAxis, { boundaryGap: look.bars, data: model.labels });
  // Series of very different sizes each get an axis; a second one stands right, without grid
  // lines of its own, in the colour of its first series.
  const axisOf = chartSeriesAxes(model.series);
  const yAxis = [0, 1].filter((a) => a === 0 || axisOf.includes(1)).map((a) => {
    const onAxis = model.series.filter((_, i) => axisOf[i] === a);
    const first = axisOf.indexOf(a);
    return {
      type: 'value',
      position: a === 0 ? 'left' : 'right',
      scale: !look.bars && !chartAxisFromZero(onAxis.flatMap((s) => s.values)),
      splitNumber: chartTickCount(plotHeight),
      minInterval: chartAllIntegers(onAxis) ? 1 : 0,
      axisLine: { show: true, lineStyle: { color: a === 0 ? CHART_AXIS_COLOR : chartColor(first) } },
      axisLabel: Object.assign(chartTextStyle(size), { hideOverlap: true, formatter: (v) => formatNumber(v) }),
      splitLine: { show: a === 0, lineStyle: { color: CHART_AXIS_COLOR, opacity: 0.5 } },
    };
  });
  const series = model.series.map((s, i) => {
    const data = time ? s.values.map((v, r) => [model.times[r], v]) : s.values;
    const common = { type: look.bars ? 'bar' : 'line', name: s.name, data, color: chartColor(i), yAxisIndex: axisOf[i] };
    if (clickable) Object.assign(common, { selectedMode: 'single', select: CHART_SELECT_STYLE });
    if (look.bars) {
      return Object.assign(common, { large: n > CHART_LARGE_BARS, largeThreshold: CHART_LARGE_BARS, barMaxWidth: 60 });
    }
    return Object.assign(common, {
      showSymbol: !big,
      symbol: 'circle',
      symbolSize: size.symbol,
      sampling: 'lttb',
      lineStyle: { width: 2 },
      // Overlapping areas show through each other.
      areaStyle: look.area ? { opacity: CHART_AREA_OPACITY } : undefined,
      emphasis: { scale: 1.4 },
    });
  });
  const tooltip = chartTooltip();
  // Without markers the pointer finds a line by its x position.
  tooltip.trigger = !look.bars && big ? 'axis' : 'item';
  tooltip.formatter = (p) =>
    chartLegendTip(p) ??
    (Array.isArray(p) ? p : [p])
      .map((q) => chartTipHtml(model.labels[q.dataIndex], model.series[q.seriesIndex].values[q.dataIndex], q.seriesName, q.color))
      .join('<br>');
  return {
    backgroundColor: CHART_BACKGROUND,
    color: CHART_COLORS,
    animation: false,
    useUTC: true,
    textStyle: { fontFamily: CHART_FONT_FAMILY },
    grid,
    tooltip,
    legend: legend ? chartLegend(size, legendWidth, model.series.map((s) => s.name), shortName) : { show: false },
    xAxis,
    yAxis,
    series,
  };
}

// Options for a pie of the first numeric column, largest slice first, legend to the right.
function pieOption(model, width, height, size, clickable) {
  const slices = chartPieSlices(model);
  const pctText = (s) => formatFixed(s.pct, size.pieDecimals);
  const byName = new Map(slices.map((s) => [s.label, s]));
  const legendText = (name) => {
    const s = byName.get(name);
    return chartShortLabel(name, size.labelChars) + (s ? ' (' + pctText(s) + '%)' : '');
  };
  const legendWidth = chartLegendWidth(slices.map((s) => legendText(s.label)), size, width);
  const centerX = (width - legendWidth) / 2;
  const radius = Math.max(0, Math.min(centerX - 12, height / 2 - 2 * size.titleFont - 12));
  const tooltip = chartTooltip();
  tooltip.trigger = 'item';
  tooltip.formatter = (p) => {
    if (p.componentType === 'legend') return chartLegendTip(p);
    const s = slices[p.dataIndex];
    return chartTipHtml(s.label, s.value, null, null, pctText(s));
  };
  const series = {
    type: 'pie',
    radius,
    center: [centerX, height / 2 - size.titleFont],
    data: slices.map((s, i) => ({ name: s.label, value: s.value, itemStyle: { color: chartColor(i) } })),
    label: { show: false },
    labelLine: { show: false },
    itemStyle: { borderColor: CHART_BACKGROUND, borderWidth: slices.length > CHART_OUTLINED_SLICES ? 0 : 2 },
    emphasis: { scale: true, scaleSize: 4 },
  };
  if (clickable) Object.assign(series, { selectedMode: 'single', selectedOffset: 6, select: CHART_SELECT_STYLE });
  return {
    backgroundColor: CHART_BACKGROUND,
    color: CHART_COLORS,
    animation: false,
    textStyle: { fontFamily: CHART_FONT_FAMILY },
    title: {
      text: model.title,
      left: centerX,
      textAlign: 'center',
      top: height / 2 - size.titleFont + radius + 6,
      textStyle: { color: CHART_TITLE_COLOR, fontWeight: 'bold', fontSize: size.titleFont, fontFamily: CHART_FONT_FAMILY },
    },
    tooltip,
    legend: chartLegend(size, legendWidth, slices.map((s) => s.label), legendText),
    series: [series],
  };
}

// A bar or point stands for its row's first column in its series.
function seriesClickTarget(model, params) {
  const label = model.labels[params.dataIndex];
  return label === undefined ? null : { label, series: params.seriesName };
}

// A slice stands for its label; slices are drawn largest first, not in row order.
function pieClickTarget(model, params) {
  const s = chartPieSlices(model)[params.dataIndex];
  return s ? { label: s.label, series: undefined } : null;
}

// The element a click target names again, once the chart is drawn anew: { seriesIndex,
// dataIndex }, or null when the answer no longer holds it.
function seriesElementAt(model, label, series) {
  const seriesIndex = model.series.findIndex((s) => s.name === series);
  const dataIndex = model.labels.indexOf(label);
  return seriesIndex >= 0 && dataIndex >= 0 ? { seriesIndex, dataIndex } : null;
}

function pieElementAt(model, label) {
  const dataIndex = chartPieSlices(model).findIndex((s) => s.label === label);
  return dataIndex >= 0 ? { seriesIndex: 0, dataIndex } : null;
}

function seriesChart(id, label, look) {
  return {
    id,
    label,
    paged: false,
    chart: true,
    model: chartModel,
    option: (model, width, height, size, clickable, fit) => seriesOption(model, look, width, height, size, clickable, fit),
    clickTarget: seriesClickTarget,
    elementAt: seriesElementAt,
  };
}

// One series per value of the second column. A click stands for its label alone: the series is
// a value, not a column a click filter could name.
function splitChart(id, label, look) {
  return Object.assign(seriesChart(id, label, look), {
    model: chartSplitModel,
    clickTarget: (model, params) => {
      const target = seriesClickTarget(model, params);
      return target && { label: target.label, series: undefined };
    },
    elementAt: (model, label) => {
      const dataIndex = model.labels.indexOf(label);
      const seriesIndex = dataIndex < 0 ? -1 : model.series.findIndex((s) => s.values[dataIndex] !== null);
      return seriesIndex >= 0 ? { seriesIndex, dataIndex } : null;
    },
  });
}

export const CHART_TYPES = Object.freeze([
  { id: 'table', label: 'Table', paged: false, chart: false },
  { id: 'paginated', label: 'Paginated Table', paged: true, chart: false },
  seriesChart('bar', 'Bar Chart', { bars: true, area: false }),
  seriesChart('line', 'Line Chart', { bars: false, area: false }),
  seriesChart('area', 'Area Chart', { bars: false, area: true }),
  { id: 'pie', label: 'Pie Chart', paged: false, chart: true, model: chartModel, option: pieOption,
    clickTarget: pieClickTarget, elementAt: pieElementAt },
  splitChart('bar-split', 'Bar Chart, a series per 2nd-column value', { bars: true, area: false }),
  splitChart('line-split', 'Line Chart, a line per 2nd-column value', { bars: false, area: false }),
  splitChart('area-split', 'Area Chart, an area per 2nd-column value', { bars: false, area: true }),
]);

export function chartType(id) {
  return CHART_TYPES.find((t) => t.id === id);
}

export function isChartType(id) {
  const t = chartType(id);
  return Boolean(t && t.chart);
}

// The types a query allows and the one a menu of them shows. hasAgg undefined: the query has not
// been looked at, everything is on offer; false: only the paged table; true: everything else, a
// paged table becoming the whole table.
export function chartChoices(selected, hasAgg) {
  let values = CHART_TYPES.map((t) => t.id);
  let wanted = selected;
  if (hasAgg === false) {
    values = values.filter((v) => chartType(v).paged);
    wanted = values[0];
  } else if (hasAgg === true) {
    values = values.filter((v) => !chartType(v).paged);
    if (chartType(wanted) && chartType(wanted).paged) wanted = 'table';
  }
  return { values, selected: values.includes(wanted) ? wanted : values[0] };
}
