// Charts of dashboard panels and editor previews: bar, line, area and pie on a canvas that
// fills the element, with a tooltip and, on panels with click metadata, clickable elements.
// Positions come from chart_math.js and chart_rules.js.

const DASH_TIP_ID = 'dashChartTip';

function renderChart(el, result, chartType, isSmall, clickMeta) {
  chartTipHide(DASH_TIP_ID);
  el.innerHTML = '';
  redrawOnResize(el, chartType === 'table' ? null : () => renderChart(el, result, chartType, isSmall, clickMeta));
  if (chartType === 'table') renderTable(el, result, isSmall);
  else if (chartType === 'bar') renderBarChart(el, result, isSmall, clickMeta);
  else if (chartType === 'line') renderLineChart(el, result, isSmall, false, clickMeta);
  else if (chartType === 'area') renderLineChart(el, result, isSmall, true, clickMeta);
  else if (chartType === 'pie') renderPieChart(el, result, isSmall, clickMeta);
}

// A panel grows when a neighbour in its row arrives taller, and with the window: a chart is drawn
// again at its new size instead of being stretched out of shape.
function redrawOnResize(el, redraw) {
  if (el.dashResize) el.dashResize.disconnect();
  el.dashResize = null;
  if (!redraw || typeof ResizeObserver === 'undefined') return;
  let drawnW = el.clientWidth;
  let drawnH = el.clientHeight;
  let pending = false;
  const observer = new ResizeObserver(() => {
    if (pending || !el.isConnected) return;
    if (Math.abs(el.clientWidth - drawnW) < 2 && Math.abs(el.clientHeight - drawnH) < 2) return;
    pending = true;
    requestAnimationFrame(() => {
      pending = false;
      drawnW = el.clientWidth;
      drawnH = el.clientHeight;
      if (el.dashResize === observer && el.querySelector('canvas.dash-chart')) redraw();
    });
  });
  el.dashResize = observer;
  observer.observe(el);
}

function dashChartFont(look, px, bold) {
  return (bold ? 'bold ' : '') + px + 'px ' + look.fontFamily;
}

// A canvas drawn at the element's inner size and stretched over it by layout, or null (with a
// note in the element) when there is nothing to chart.
function dashChartFrame(el, result, isSmall) {
  const look = dashChartLook(isSmall);
  const columns = result && Array.isArray(result.columns) ? result.columns : [];
  const rows = result && Array.isArray(result.rows) ? result.rows : [];
  if (columns.length < 2 || !rows.length) {
    el.innerHTML = noteHtml('Need 2+ columns', look.noteColor);
    return null;
  }
  const style = getComputedStyle(el);
  const pad = ['Left', 'Right', 'Top', 'Bottom'].map((side) => parseFloat(style['padding' + side]) || 0);
  const innerW = Math.floor(el.clientWidth - pad[0] - pad[1]);
  const innerH = Math.floor(el.clientHeight - pad[2] - pad[3]);
  const w = innerW > 0 ? innerW : look.fallbackWidth;
  const h = innerH > 0 ? innerH : look.fallbackHeight;
  const canvas = document.createElement('canvas');
  canvas.className = 'dash-chart';
  canvas.width = w;
  canvas.height = h;
  // Stretched over the content box, whatever size it was drawn at.
  if (style.position === 'static') el.style.position = 'relative';
  Object.assign(canvas.style, {
    left: pad[0] + 'px',
    top: pad[2] + 'px',
    width: 'calc(100% - ' + (pad[0] + pad[1]) + 'px)',
    height: 'calc(100% - ' + (pad[2] + pad[3]) + 'px)',
  });
  el.appendChild(canvas);
  const ctx = canvas.getContext('2d');
  ctx.fillStyle = look.background;
  ctx.fillRect(0, 0, w, h);
  return { canvas, ctx, w, h, look, columns, rows };
}

function drawAxes(ctx, w, h, margins, labels, minV, maxV, isSmall, xTitle) {
  const look = dashChartLook(isSmall);
  const plot = chartPlotRect(w, h, margins);
  const layout = dashAxisLayout(plot, labels, minV, maxV, look);

  chartDrawAxisLines(ctx, plot, look.axisColor);

  ctx.font = dashChartFont(look, look.valueFont, false);
  ctx.textAlign = 'right';
  ctx.textBaseline = 'alphabetic';
  for (const v of layout.values) {
    ctx.fillStyle = look.textColor;
    ctx.fillText(v.text, plot.left - look.valueLabelDx, v.y + look.valueLabelDy);
    ctx.save();
    ctx.globalAlpha = look.gridAlpha;
    ctx.strokeStyle = look.axisColor;
    ctx.beginPath();
    ctx.moveTo(plot.left, v.y);
    ctx.lineTo(plot.right, v.y);
    ctx.stroke();
    ctx.restore();
  }

  ctx.font = dashChartFont(look, look.labelFont, false);
  ctx.fillStyle = look.textColor;
  chartDrawCategoryLabels(ctx, layout.labels);

  if (xTitle !== undefined && xTitle !== null && xTitle !== '') {
    ctx.font = dashChartFont(look, look.titleFont, true);
    ctx.fillStyle = look.titleColor;
    ctx.textAlign = 'center';
    ctx.fillText(String(xTitle), plot.left + plot.width / 2, h - look.titleBottom);
  }
  return { min: layout.min, max: layout.max };
}

// Labels, series, margins and axes shared by the bar and line charts; null when the margins
// leave no plot, where the axes would fall outside the canvas: only the background is drawn.
function dashSeriesChart(frame, isSmall) {
  const { ctx, w, h, look, columns, rows } = frame;
  const { labels, series } = chartSeriesOf(columns, rows);
  const margins = dashChartMargins(look, series.length);
  const plot = chartPlotRect(w, h, margins);
  if (plot.width <= 0 || plot.height <= 0) return null;
  const bounds = chartValueBounds(series);
  const axis = drawAxes(ctx, w, h, margins, labels, bounds ? bounds.min : NaN, bounds ? bounds.max : NaN, isSmall, columns[0]);
  return { labels, series, plot, axis };
}

function dashSeriesLegend(frame, chart) {
  if (chart.series.length < 2) return;
  const look = frame.look;
  drawLegend(
    frame.ctx,
    chart.series.map((s) => s.name),
    CHART_COLORS,
    chart.plot.right + look.legendGap,
    chart.plot.top,
    look.legendFont
  );
}

function renderBarChart(el, result, isSmall, clickMeta) {
  const frame = dashChartFrame(el, result, isSmall);
  if (!frame) return;
  const chart = dashSeriesChart(frame, isSmall);
  if (!chart) return;
  const hits = chartBarRects(chart.plot, chart.labels, chart.series, chart.axis.min, chart.axis.max, frame.look);
  chartFillBars(frame.ctx, hits);
  dashSeriesLegend(frame, chart);
  addTooltip(frame.canvas, hits, 'bar', clickMeta);
}

function renderLineChart(el, result, isSmall, fill, clickMeta) {
  const frame = dashChartFrame(el, result, isSmall);
  if (!frame) return;
  const { ctx, look } = frame;
  const chart = dashSeriesChart(frame, isSmall);
  if (!chart) return;
  const plot = chart.plot;
  const hits = [];
  for (const s of chart.series) {
    // The hit carries the value drawn, so a missing cell reads 0 like its point.
    const points = chartLinePoints(plot, chart.labels, s, chart.axis.min, chart.axis.max).map((p) =>
      Object.assign(p, { value: p.value === null ? 0 : p.value })
    );
    chartDrawSeriesLine(ctx, plot, points, s.color, fill, look);
    hits.push(...points);
  }
  dashSeriesLegend(frame, chart);
  addTooltip(frame.canvas, hits, fill ? 'area' : 'line', clickMeta);
}

// An element too small for a positive radius gets no slices (nothing to point at) and no
// title, but keeps its legend.
function renderPieChart(el, result, isSmall, clickMeta) {
  const frame = dashChartFrame(el, result, isSmall);
  if (!frame) return;
  const { ctx, w, h, look, columns, rows } = frame;
  const slices = chartPieSlices(columns, rows);
  const pie = dashPieGeometry(w, h, look);
  const hits = pie ? chartDrawPieSlices(ctx, pie, slices, look.pieOutline, look.background) : [];
  ctx.font = dashChartFont(look, look.pieFont, false);
  ctx.textAlign = 'left';
  ctx.textBaseline = 'alphabetic';
  for (const entry of dashPieLegend(slices, w, h, pie, look)) {
    ctx.fillStyle = entry.color;
    ctx.fillRect(entry.x, entry.y, entry.size, entry.size);
    ctx.fillStyle = look.textColor;
    ctx.fillText(entry.text, entry.textX, entry.textY);
  }
  if (pie) {
    ctx.font = dashChartFont(look, look.pieFont, true);
    ctx.fillStyle = look.titleColor;
    ctx.textAlign = 'center';
    ctx.fillText(String(columns[0]), pie.cx, pie.cy + pie.r + look.pieTitleGap);
  }
  addTooltip(frame.canvas, hits, 'pie', clickMeta);
}

function drawLegend(ctx, labels, colors, x, y, fontSize) {
  const look = DASH_CHART_BASE_LOOK;
  const square = fontSize - look.legendSquareLess;
  ctx.font = dashChartFont(look, fontSize, false);
  ctx.textAlign = 'left';
  ctx.textBaseline = 'middle';
  labels.forEach((text, i) => {
    const top = y + i * (fontSize + look.legendPitchExtra);
    ctx.fillStyle = colors[i % colors.length];
    ctx.fillRect(x, top, square, square);
    ctx.fillStyle = look.textColor;
    ctx.fillText(String(text), x + fontSize + look.legendTextDx, top + square / 2);
  });
  ctx.textBaseline = 'alphabetic';
}

// The pointer in drawing pixels: layout stretches the canvas, so its shown size may differ.
function dashCanvasPoint(canvas, e) {
  const rect = canvas.getBoundingClientRect();
  const sx = rect.width > 0 ? canvas.width / rect.width : 1;
  const sy = rect.height > 0 ? canvas.height / rect.height : 1;
  return { x: (e.clientX - rect.left) * sx, y: (e.clientY - rect.top) * sy };
}

function dashSameSelection(label, seriesName) {
  const sel = window.chartSelection;
  if (!sel) return false;
  const a = sel.series === undefined ? null : sel.series;
  const b = seriesName === undefined ? null : seriesName;
  return sel.label === label && a === b;
}

function addTooltip(canvas, hits, type, clickMeta) {
  canvas.onmousemove = (e) => {
    const p = dashCanvasPoint(canvas, e);
    const hit = chartHitTest(type, hits, p.x, p.y);
    if (hit === undefined) return;
    if (hit) chartTipShow(DASH_TIP_ID, type, hit, e.clientX, e.clientY);
    else chartTipHide(DASH_TIP_ID);
  };
  canvas.onmouseleave = () => chartTipHide(DASH_TIP_ID);
  const clickable = !!(clickMeta && clickMeta.xAxis && clickMeta.xAxis.expression);
  canvas.style.cursor = clickable ? 'pointer' : '';
  canvas.onclick = clickable
    ? (e) => {
        const p = dashCanvasPoint(canvas, e);
        const hit = chartHitTest(type, hits, p.x, p.y);
        if (!hit) return;
        // Slices belong to no series.
        const seriesName = type === 'pie' ? undefined : hit.series;
        if (dashSameSelection(hit.label, seriesName)) {
          window.clearChartClickFilter();
          return;
        }
        const condition = buildChartClickFilter(clickMeta, hit.label, seriesName);
        if (!condition) return;
        drawSelectionHighlight(canvas, hit, type);
        applyChartClickFilter(condition);
      }
    : null;
}
