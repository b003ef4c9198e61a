// Chart rules of the Dashboards page that the Query page does not have: its two look tables
// (normal panels and the editor's small previews), six evenly spaced value labels, every k-th
// category label, and the pie's geometry and legend. Pure, so Node can run them; the shared
// arithmetic is in chart_math.js, which reads minBarWidth, labelChars and labelGap from a look.

const DASH_CHART_BASE_LOOK = {
  fontFamily: '-apple-system, sans-serif',
  background: '#1e1e2e',
  axisColor: '#45475a',
  textColor: '#cdd6f4',
  titleColor: '#a6adc8',
  noteColor: '#6c7086',
  fallbackWidth: 300,
  fallbackHeight: 150,
  targetTicks: 5,
  valueLabelCount: 6,
  valueLabelDx: 6,
  valueLabelDy: 3,
  gridAlpha: 0.3,
  labelGap: 8,
  labelChars: 10,
  rightMarginLegend: 110,
  rightMarginPlain: 20,
  minBarWidth: 3,
  lineWidth: 2,
  areaAlpha: '33',
  legendGap: 8,
  legendPitchExtra: 6,
  legendSquareLess: 2,
  legendTextDx: 4,
  pieInset: 15,
  pieOutline: 2,
  pieLegendGap: 20,
  pieLegendMax: 8,
  pieLegendRowHalf: 9,
  pieLegendPitchExtra: 5,
  pieLegendTextDx: 2,
  pieLegendBaselineLess: 3,
  pieLabelChars: 12,
};

// The pie's centre is at xShare × width − xShift; the small legend sits at a share of the
// width, the normal one right of the pie (legendXShare null).
const DASH_CHART_LOOKS = {
  normal: Object.assign({}, DASH_CHART_BASE_LOOK, {
    margins: { top: 20, bottom: 75, left: 65 },
    valueFont: 10,
    labelFont: 10,
    maxLabels: 10,
    titleFont: 11,
    titleBottom: 6,
    pointRadius: 4,
    legendFont: 11,
    pieXShare: 0.5,
    pieXShift: 60,
    pieYShift: 14,
    pieLegendXShare: null,
    pieLegendTop: null,
    pieFont: 11,
    pieTitleGap: 26,
  }),
  small: Object.assign({}, DASH_CHART_BASE_LOOK, {
    margins: { top: 20, bottom: 65, left: 50 },
    rightMarginLegend: 90,
    valueFont: 8,
    labelFont: 8,
    maxLabels: 6,
    titleFont: 9,
    titleBottom: 4,
    pointRadius: 3,
    legendFont: 9,
    pieXShare: 0.35,
    pieXShift: 0,
    pieYShift: 10,
    pieLegendXShare: 0.6,
    pieLegendTop: 10,
    pieFont: 9,
    pieTitleGap: 20,
  }),
};

function dashChartLook(isSmall) {
  return isSmall ? DASH_CHART_LOOKS.small : DASH_CHART_LOOKS.normal;
}

function dashChartMargins(look, seriesCount) {
  return Object.assign({}, look.margins, {
    right: seriesCount > 1 ? look.rightMarginLegend : look.rightMarginPlain,
  });
}

// Evenly spaced between the axis ends, whatever the tick step. Multiplying before dividing
// keeps 0..8 at exactly 1.6, 3.2, 4.8 and 6.4.
function dashValueLabels(axisMin, axisMax, count) {
  const n = count - 1;
  const values = [];
  for (let i = 0; i <= n; i++) values.push(axisMin + ((axisMax - axisMin) * i) / n);
  return values;
}

// Draw every k-th category label so that at most maxLabels are drawn.
function dashLabelEvery(labelCount, look) {
  return Math.max(1, Math.ceil(labelCount / look.maxLabels));
}

// Everything the axes draw. Without a finite value range (no series) there are no value
// labels, only the category labels.
function dashAxisLayout(plot, labels, minV, maxV, look) {
  const nice = niceAxisTicks(minV, maxV, look.targetTicks);
  const scale = chartAxisScale(plot, nice.min, nice.max);
  const finite = Number.isFinite(minV) && Number.isFinite(maxV);
  const values = finite
    ? dashValueLabels(nice.min, nice.max, look.valueLabelCount).map((v) => ({
        value: v,
        y: plot.bottom - (v - nice.min) * scale,
        text: chartFormatNumber(v),
      }))
    : [];
  const anchors = chartLabelAnchors(plot, labels, look, dashLabelEvery(labels.length, look));
  return { values, labels: anchors, min: nice.min, max: nice.max };
}

// Centre and radius of the pie; null when the element leaves no room for a positive radius.
function dashPieGeometry(w, h, look) {
  const cx = w * look.pieXShare - look.pieXShift;
  const cy = h / 2 - look.pieYShift;
  const r = Math.min(cx - look.pieInset, cy - look.pieInset);
  return r > 0 ? { cx, cy, r } : null;
}

// Legend entries of the first rows only, each with its square and text position. The normal
// legend is centred on the entries it shows; without a pie it starts where the pie would be.
function dashPieLegend(slices, w, h, pie, look) {
  const shown = slices.slice(0, look.pieLegendMax);
  const font = look.pieFont;
  let x;
  let y;
  if (look.pieLegendXShare !== null) x = w * look.pieLegendXShare;
  else if (pie) x = pie.cx + pie.r + look.pieLegendGap;
  else x = Math.max(0, w * look.pieXShare - look.pieXShift) + look.pieLegendGap;
  if (look.pieLegendTop !== null) y = look.pieLegendTop;
  else y = Math.max(0, h / 2 - look.pieLegendRowHalf * shown.length);
  const pitch = font + look.pieLegendPitchExtra;
  return shown.map((s, i) => ({
    x,
    y: y + i * pitch,
    size: font - look.legendSquareLess,
    textX: x + font + look.pieLegendTextDx,
    textY: y + i * pitch + font - look.pieLegendBaselineLess,
    text: chartCutLabel(s.label, look.pieLabelChars) + ' (' + (s.share * 100).toFixed(0) + '%)',
    color: s.color,
  }));
}
