// Charts of the Query page: the chart-type selector and the canvas drawing of bar, line,
// area and pie charts with their axes, legend and tooltip. The arithmetic is in chart_math.js,
// the tooltip element in chart_tip.js.

const CHART_CANVAS_HEIGHT = 380;
const CHART_CANVAS_FALLBACK_WIDTH = 700;
const CHART_BACKGROUND = '#1e1e2e';
const CHART_AXIS_COLOR = '#45475a';
const CHART_TEXT_COLOR = '#ffffff';
const CHART_TITLE_COLOR = '#a0a8c0';
const CHART_LEGEND_TEXT_COLOR = '#cdd6f4';
const CHART_FONT_FAMILY = '-apple-system, sans-serif';
const CHART_TARGET_TICKS = 5;
const CHART_TICK_LABEL_DX = 6;
const CHART_TICK_LABEL_DY = 4;
const CHART_TITLE_BOTTOM_GAP = 6;
const CHART_MARGINS_BASE = { top: 20, bottom: 75, left: 75 };
const CHART_RIGHT_MARGIN_LEGEND = 120;
const CHART_RIGHT_MARGIN_PLAIN = 20;
const CHART_LEGEND_GAP = 10;
const CHART_LINE_LEGEND_TOP = 20;
const CHART_LINE_WIDTH = 2;
const CHART_POINT_RADIUS = 4;
const CHART_AREA_ALPHA = '33';
const CHART_PIE_LEGEND_LEFT = 135;
const CHART_PIE_LEGEND_ROW_HALF = 9;
const CHART_PIE_TITLE_GAP = 24;
const CHART_LEGEND_ROW = 20;
const CHART_LEGEND_SWATCH = 11;
const CHART_LEGEND_TEXT_DX = 16;
const CHART_TIP_ID = 'chartTip';
// The sizes chart_math.js needs from this page.
const QUERY_CHART_SIZES = {
  minBarWidth: 4,
  labelChars: 12,
  labelGap: 10,
  tickSkip: 1,
  pieLegendSpace: 140,
  pieOffsetX: 20,
  pieOffsetY: 16,
  pieInset: 20,
};

function rebuildChartOptions(sel, selectedChart, isAgg) {
  const opts = isAgg
    ? [
        ['table', 'Table'],
        ['bar', 'Bar Chart'],
        ['line', 'Line Chart'],
        ['area', 'Area Chart'],
        ['pie', 'Pie Chart'],
      ]
    : [['paginated', 'Paginated Table']];
  let choice = isAgg ? (selectedChart === 'paginated' ? 'table' : selectedChart) : 'paginated';
  if (!opts.some((o) => o[0] === choice)) choice = opts[0][0];
  sel.innerHTML = '';
  for (const [value, label] of opts) {
    const o = document.createElement('option');
    o.value = value;
    o.textContent = label;
    sel.appendChild(o);
  }
  sel.value = choice;
}

function applyChart() {
  chartHideTip();
  const type = document.getElementById('chartType').value;
  if (type === 'paginated') {
    paginationState.page = 1;
    drawPaginatedTable();
    return;
  }
  if (!lastResult) return;
  const { columns, rows, numericCols } = lastResult;
  if (type === 'bar') drawBar(columns, rows);
  else if (type === 'line') drawLine(columns, rows, false);
  else if (type === 'area') drawLine(columns, rows, true);
  else if (type === 'pie') drawPie(columns, rows);
  else drawTable(columns, rows, numericCols);
}

// A fresh canvas as wide as the result area's content box, filled with the background.
function makeCanvas() {
  const area = document.getElementById('queryResult');
  chartHideTip();
  area.innerHTML = '';
  const style = getComputedStyle(area);
  const inner = Math.floor(
    area.clientWidth - (parseFloat(style.paddingLeft) || 0) - (parseFloat(style.paddingRight) || 0)
  );
  const w = inner > 0 ? inner : CHART_CANVAS_FALLBACK_WIDTH;
  const h = CHART_CANVAS_HEIGHT;
  const canvas = document.createElement('canvas');
  canvas.className = 'query-chart';
  canvas.width = w;
  canvas.height = h;
  canvas.style.width = w + 'px';
  canvas.style.height = h + 'px';
  area.appendChild(canvas);
  const ctx = canvas.getContext('2d');
  ctx.fillStyle = CHART_BACKGROUND;
  ctx.fillRect(0, 0, w, h);
  return { canvas, ctx, w, h };
}

function chartFont(px, bold) {
  return (bold ? 'bold ' : '') + px + 'px ' + CHART_FONT_FAMILY;
}

function drawAxes(ctx, w, h, margins, labels, minV, maxV, targetTicks, xTitle) {
  const plot = chartPlotRect(w, h, margins);
  const layout = chartAxisLayout(plot, labels, minV, maxV, targetTicks || CHART_TARGET_TICKS, QUERY_CHART_SIZES);

  chartDrawAxisLines(ctx, plot, CHART_AXIS_COLOR);

  ctx.font = chartFont(10, false);
  ctx.textAlign = 'right';
  ctx.textBaseline = 'alphabetic';
  for (const t of layout.ticks) {
    ctx.fillStyle = CHART_TEXT_COLOR;
    ctx.fillText(t.text, plot.left - CHART_TICK_LABEL_DX, t.y + CHART_TICK_LABEL_DY);
    ctx.save();
    ctx.globalAlpha = 0.5;
    ctx.strokeStyle = CHART_AXIS_COLOR;
    ctx.beginPath();
    ctx.moveTo(plot.left, t.y);
    ctx.lineTo(plot.right, t.y);
    ctx.stroke();
    ctx.restore();
  }

  ctx.fillStyle = CHART_TEXT_COLOR;
  chartDrawCategoryLabels(ctx, layout.labels);

  if (xTitle) {
    ctx.font = chartFont(11, true);
    ctx.fillStyle = CHART_TITLE_COLOR;
    ctx.textAlign = 'center';
    ctx.fillText(String(xTitle), plot.left + plot.width / 2, h - CHART_TITLE_BOTTOM_GAP);
  }
  return { min: layout.min, max: layout.max };
}

function chartMargins(seriesCount) {
  return Object.assign({}, CHART_MARGINS_BASE, {
    right: seriesCount > 1 ? CHART_RIGHT_MARGIN_LEGEND : CHART_RIGHT_MARGIN_PLAIN,
  });
}

// Without any series there is no value range: the axes then carry no ticks.
function chartAxesFor(ctx, w, h, margins, columns, labels, series) {
  const bounds = chartValueBounds(series);
  return drawAxes(
    ctx,
    w,
    h,
    margins,
    labels,
    bounds ? bounds.min : NaN,
    bounds ? bounds.max : NaN,
    CHART_TARGET_TICKS,
    columns[0]
  );
}

function drawBar(columns, rows) {
  const { canvas, ctx, w, h } = makeCanvas();
  const { labels, series } = chartSeriesOf(columns, rows);
  const margins = chartMargins(series.length);
  const axis = chartAxesFor(ctx, w, h, margins, columns, labels, series);
  const plot = chartPlotRect(w, h, margins);
  const hits = chartBarRects(plot, labels, series, axis.min, axis.max, QUERY_CHART_SIZES);
  chartFillBars(ctx, hits);
  if (series.length > 1) {
    drawLegend(
      ctx,
      series.map((s) => s.name),
      plot.right + CHART_LEGEND_GAP,
      plot.top
    );
  }
  addTooltip(canvas, hits, 'bar');
}

function drawLine(columns, rows, fill) {
  const { canvas, ctx, w, h } = makeCanvas();
  const { labels, series } = chartSeriesOf(columns, rows);
  const margins = chartMargins(series.length);
  const axis = chartAxesFor(ctx, w, h, margins, columns, labels, series);
  const hits = [];
  drawLineSeries(ctx, w, h, margins, rows, series, axis.min, axis.max, fill, hits);
  if (series.length > 1) {
    const plot = chartPlotRect(w, h, margins);
    drawLegend(
      ctx,
      series.map((s) => s.name),
      plot.right + CHART_LEGEND_GAP,
      CHART_LINE_LEGEND_TOP
    );
  }
  addTooltip(canvas, hits, 'line');
}

function drawLineSeries(ctx, w, h, margins, rows, series, axisMin, axisMax, fill, hits) {
  const plot = chartPlotRect(w, h, margins);
  const labels = rows.map((r) => (r[0] == null ? '' : String(r[0])));
  if (!labels.length) return;
  const style = { areaAlpha: CHART_AREA_ALPHA, lineWidth: CHART_LINE_WIDTH, pointRadius: CHART_POINT_RADIUS };
  for (const s of series) {
    const points = chartLinePoints(plot, labels, s, axisMin, axisMax);
    chartDrawSeriesLine(ctx, plot, points, s.color, fill, style);
    hits.push(...points);
  }
}

// A canvas too small for a positive radius draws no pie (and has nothing to point at),
// but still shows the legend.
function drawPie(columns, rows) {
  const { canvas, ctx, w, h } = makeCanvas();
  const pie = chartPieGeometry(w, h, QUERY_CHART_SIZES);
  const slices = chartPieSlices(columns, rows);
  const hits = pie ? chartDrawPieSlices(ctx, pie, slices, 2, CHART_BACKGROUND) : [];
  drawLegend(
    ctx,
    slices.map(chartPieLegendText),
    w - CHART_PIE_LEGEND_LEFT,
    h / 2 - CHART_PIE_LEGEND_ROW_HALF * slices.length
  );
  if (pie && columns.length) {
    ctx.font = chartFont(11, true);
    ctx.fillStyle = CHART_TITLE_COLOR;
    ctx.textAlign = 'center';
    ctx.textBaseline = 'alphabetic';
    ctx.fillText(String(columns[0]), pie.cx, pie.cy + pie.r + CHART_PIE_TITLE_GAP);
  }
  addTooltip(canvas, hits, 'pie');
}

function drawLegend(ctx, labels, x, y) {
  ctx.font = chartFont(11, false);
  ctx.textAlign = 'left';
  ctx.textBaseline = 'middle';
  labels.forEach((text, i) => {
    const top = y + CHART_LEGEND_ROW * i;
    ctx.fillStyle = chartColor(i);
    ctx.fillRect(x, top, CHART_LEGEND_SWATCH, CHART_LEGEND_SWATCH);
    ctx.fillStyle = CHART_LEGEND_TEXT_COLOR;
    ctx.fillText(String(text), x + CHART_LEGEND_TEXT_DX, top + CHART_LEGEND_SWATCH / 2);
  });
  ctx.textBaseline = 'alphabetic';
}

function chartHideTip() {
  chartTipHide(CHART_TIP_ID);
}

function addTooltip(canvas, hits, type) {
  canvas.addEventListener('mousemove', (e) => {
    const rect = canvas.getBoundingClientRect();
    const hit = chartHitTest(type, hits, e.clientX - rect.left, e.clientY - rect.top);
    if (hit === undefined) return;
    if (hit) chartTipShow(CHART_TIP_ID, type, hit, e.clientX, e.clientY);
    else chartHideTip();
  });
  canvas.addEventListener('mouseleave', chartHideTip);
}
