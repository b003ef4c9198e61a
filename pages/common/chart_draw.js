// Canvas drawing that both pages share: axis lines, bars, one line series with its points, pie
// slices.
// Positions come from chart_math.js; each page passes its own sizes.

// The value axis up the plot's left edge and the category axis along its bottom.
function chartDrawAxisLines(ctx, plot, color) {
  ctx.strokeStyle = color;
  ctx.lineWidth = 1;
  ctx.beginPath();
  ctx.moveTo(plot.left, plot.top);
  ctx.lineTo(plot.left, plot.bottom);
  ctx.lineTo(plot.right, plot.bottom);
  ctx.stroke();
}

// Category labels turned 45 degrees counter-clockwise about their anchors, in the current font
// and fill.
function chartDrawCategoryLabels(ctx, anchors) {
  for (const a of anchors) {
    ctx.save();
    ctx.translate(a.x, a.y);
    ctx.rotate(-Math.PI / 4);
    ctx.fillText(a.text, 0, 0);
    ctx.restore();
  }
}

function chartFillBars(ctx, hits) {
  for (const b of hits) {
    ctx.fillStyle = b.color;
    ctx.fillRect(b.x, b.y, b.w - 1, b.h);
  }
}

// style: areaAlpha (appended to the series colour), lineWidth, pointRadius.
function chartDrawSeriesLine(ctx, plot, points, color, fill, style) {
  if (!points.length) return;
  if (fill) {
    ctx.beginPath();
    ctx.moveTo(points[0].x, plot.bottom);
    for (const p of points) ctx.lineTo(p.x, p.y);
    ctx.lineTo(points[points.length - 1].x, plot.bottom);
    ctx.closePath();
    ctx.fillStyle = color + style.areaAlpha;
    ctx.fill();
  }
  ctx.beginPath();
  points.forEach((p, i) => (i ? ctx.lineTo(p.x, p.y) : ctx.moveTo(p.x, p.y)));
  ctx.strokeStyle = color;
  ctx.lineWidth = style.lineWidth;
  ctx.stroke();
  ctx.fillStyle = color;
  for (const p of points) {
    ctx.beginPath();
    ctx.arc(p.x, p.y, style.pointRadius, 0, 2 * Math.PI);
    ctx.fill();
  }
  ctx.lineWidth = 1;
}

// Slices from 12 o'clock, outlined in the background colour; returns their hit records.
function chartDrawPieSlices(ctx, pie, slices, outlineWidth, outlineColor) {
  const hits = [];
  for (const s of slices) {
    ctx.beginPath();
    ctx.moveTo(pie.cx, pie.cy);
    ctx.arc(pie.cx, pie.cy, pie.r, s.start - Math.PI / 2, s.end - Math.PI / 2);
    ctx.closePath();
    ctx.fillStyle = s.color;
    ctx.fill();
    ctx.lineWidth = outlineWidth;
    ctx.strokeStyle = outlineColor;
    ctx.stroke();
    hits.push(Object.assign({ cx: pie.cx, cy: pie.cy, r: pie.r }, s));
  }
  ctx.lineWidth = 1;
  return hits;
}
