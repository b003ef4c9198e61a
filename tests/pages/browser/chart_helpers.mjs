// Shared by the chart suites: what a chart shows, read from the chart library's own model and
// drawn elements (texts with their boxes, ticks, plot rectangle, element positions), pointing
// at an element where the library drew it, and the tooltip's text.

// Everything the chart in the element `sel` (the chart's box or an element holding it) shows.
export function chartView(page, sel) {
  return page.evaluate(chartViewIn, sel);
}

// The same, run in the page: self-contained, so a script of its text runs in any browser.
export function chartViewIn(s) {
  const host = document.querySelector(s);
  const box = host && (host.matches('.query-chart, .dash-chart') ? host : host.querySelector('.query-chart, .dash-chart'));
  const chart = box && echarts.getInstanceByDom(box);
  if (!chart) return null;
  const model = chart.getModel();
  const texts = [];
  for (const el of chart.getZr().storage.getDisplayList(true)) {
    if (el.type !== 'tspan' || el.ignore || el.invisible || !el.style.text) continue;
    // The glyph box, as tall as the font whatever the text's own box says, turned as drawn.
    const r = el.getBoundingRect();
    const size = Number((/(\d+(?:\.\d+)?)px/.exec(el.style.font || '') || [])[1]) || r.height;
    const h = Math.max(r.height, size);
    const top = r.y + r.height / 2 - h / 2;
    const m = el.getComputedTransform() || [1, 0, 0, 1, 0, 0];
    const pts = [[r.x, top], [r.x + r.width, top], [r.x + r.width, top + h], [r.x, top + h]].map(([x, y]) => [
      m[0] * x + m[2] * y + m[4],
      m[1] * x + m[3] * y + m[5],
    ]);
    const xs = pts.map((p) => p[0]);
    const ys = pts.map((p) => p[1]);
    const x = Math.min(...xs);
    const y = Math.min(...ys);
    // Texts scrolled out of a clipped area (a paged legend's other pages) are not seen.
    const cx = x + (Math.max(...xs) - x) / 2;
    const cy = y + (Math.max(...ys) - y) / 2;
    const clipped = (el.__clipPaths || []).some((cp) => {
      const c = cp.getBoundingRect().clone();
      const t = cp.getComputedTransform();
      if (t) c.applyTransform(t);
      return !c.contain(cx, cy);
    });
    if (!clipped) texts.push({ text: String(el.style.text), x, y, w: Math.max(...xs) - x, h: Math.max(...ys) - y, pts });
  }
  const view = { w: box.clientWidth, h: box.clientHeight, cursor: box.style.cursor, texts, series: [] };
  const grid = model.getComponent('grid', 0);
  if (grid) {
    const r = grid.coordinateSystem.getRect();
    view.plot = { x: r.x, y: r.y, width: r.width, height: r.height };
    const yAxis = model.getComponent('yAxis', 0).axis;
    const xAxis = model.getComponent('xAxis', 0).axis;
    view.ticks = yAxis.scale.getTicks().map((t) => t.value);
    view.xType = xAxis.type;
    // The category or time labels drawn, left to right.
    const xText = new Set((xAxis.getViewLabels() || []).map((l) => l.formattedLabel));
    view.xLabels = texts.filter((t) => xText.has(t.text) && t.y >= r.y + r.height - 1).sort((a, b) => a.x - b.x).map((t) => t.text);
    view.tickText = (yAxis.getViewLabels() || []).map((l) => l.formattedLabel);
  }
  model.eachSeries((sm) => {
    const data = sm.getData();
    const items = [];
    for (let i = 0; i < data.count(); i++) {
      const v = data.getValues(i);
      let at = null;
      if (sm.subType === 'bar') {
        const l = data.getItemLayout(i);
        at = l && { x: l.x + l.width / 2, y: l.y + l.height / 2, w: Math.abs(l.width), h: Math.abs(l.height) };
      } else if (sm.subType === 'line') {
        const p = chart.convertToPixel({ seriesIndex: sm.seriesIndex }, v);
        at = { x: p[0], y: p[1] };
      } else if (sm.subType === 'pie') {
        const l = data.getItemLayout(i);
        const mid = (l.startAngle + l.endAngle) / 2;
        at = { x: l.cx + Math.cos(mid) * l.r * 0.6, y: l.cy + Math.sin(mid) * l.r * 0.6, r: l.r, cx: l.cx, cy: l.cy };
      }
      items.push({ name: data.getName(i), x: v[0], value: v[v.length - 1], at, color: data.getItemVisual(i, 'style').fill });
    }
    view.series.push({ name: sm.name, type: sm.subType, items });
  });
  const legend = model.getComponent('legend', 0);
  view.legend = legend && legend.get('show') !== false ? legend.getData().map((d) => d.get('name')) : [];
  view.legendType = legend && legend.subType;
  return view;
}

// Whether two drawn boxes (corner lists, possibly turned) share more than half a pixel: no axis
// of either box separates them.
function boxesMeet(a, b) {
  for (const poly of [a, b]) {
    for (let i = 0; i < 4; i++) {
      const [x1, y1] = poly[i];
      const [x2, y2] = poly[(i + 1) % 4];
      const len = Math.hypot(x2 - x1, y2 - y1) || 1;
      const n = [(y1 - y2) / len, (x2 - x1) / len];
      const span = (p) => p.map(([x, y]) => x * n[0] + y * n[1]);
      const sa = span(a);
      const sb = span(b);
      if (Math.max(...sa) - 0.5 <= Math.min(...sb) || Math.max(...sb) - 0.5 <= Math.min(...sa)) return false;
    }
  }
  return true;
}

// The pairs of texts that overlap (none when every drawn text stands apart).
export function overlapping(texts) {
  const out = [];
  for (let i = 0; i < texts.length; i++) {
    for (let j = i + 1; j < texts.length; j++) {
      if (boxesMeet(texts[i].pts, texts[j].pts)) out.push(`${texts[i].text} / ${texts[j].text}`);
    }
  }
  return out;
}

// Moves the pointer to (or clicks) a point given in the chart's own pixels.
export async function pointAt(page, sel, at, click = false) {
  const box = page.locator(`${sel} .query-chart, ${sel} .dash-chart`).first();
  await box.scrollIntoViewIfNeeded();
  const b = await box.boundingBox();
  if (click) {
    await page.mouse.move(b.x + at.x, b.y + at.y, { steps: 4 });
    await page.mouse.click(b.x + at.x, b.y + at.y);
  }
  else await page.mouse.move(b.x + at.x, b.y + at.y, { steps: 4 });
}

// The shown tooltip's text, or null; the library shows and hides it a frame after the pointer
// moves, so this waits up to a second for `expected` (by default, for any text).
export async function tipText(page, expected) {
  let text = null;
  for (let i = 0; i < 20; i++) {
    text = await page.evaluate(() => {
      for (const t of document.querySelectorAll('.chart-tip')) {
        const s = getComputedStyle(t);
        if (s.display !== 'none' && s.visibility !== 'hidden' && Number(s.opacity) > 0 && t.innerText) return t.innerText;
      }
      return null;
    });
    if (expected === undefined ? text !== null : text === expected) break;
    await page.waitForTimeout(50);
  }
  return text;
}

// A round step: 1, 2, 2.5, 3 or 5 times a power of ten.
export function roundStep(step) {
  const f = step / 10 ** Math.floor(Math.log10(step) + 1e-9);
  return [1, 2, 2.5, 3, 5, 10].some((n) => Math.abs(f - n) < 1e-6);
}

// Waits until every element shows its answer and every chart fills its element's content box.
export async function waitDrawn(page, sels) {
  await page.waitForFunction((list) => list.every((sel) => {
    const el = document.querySelector(sel);
    if (!el || el.querySelector('.dash-loading') || !el.textContent.trim() && !el.querySelector('.dash-chart')) return false;
    const box = el.querySelector('.dash-chart');
    const chart = box && echarts.getInstanceByDom(box);
    if (!box) return true;
    const s = getComputedStyle(el);
    return chart && Math.abs(chart.getWidth() - (el.clientWidth - parseFloat(s.paddingLeft) - parseFloat(s.paddingRight))) <= 1 &&
      Math.abs(chart.getHeight() - (el.clientHeight - parseFloat(s.paddingTop) - parseFloat(s.paddingBottom))) <= 1;
  }), sels);
}

// The elements the charts on the page show as selected: "series:category", or the category
// alone for a slice. The library marks a clicked element a moment after the click.
export async function selection(page) {
  await page.waitForTimeout(100);
  return page.evaluate(() => {
    const out = [];
    for (const box of document.querySelectorAll('.dash-chart, .query-chart')) {
      const chart = echarts.getInstanceByDom(box);
      if (!chart) continue;
      chart.getModel().eachSeries((sm) => {
        for (const i of sm.getSelectedDataIndices()) {
          const name = sm.subType === 'pie' ? sm.getData().getName(i) : sm.getData().getName(i) || String(i);
          out.push(sm.subType === 'pie' ? name : `${sm.name}:${name}`);
        }
      });
    }
    return out;
  });
}

// Long category labels for the label tests of both engines: 187 country-like names of 4 to 40
// characters and 229 airport names, all distinct, and a CSV of them with a number each.
const WORDS = ['North', 'Saint', 'United', 'Central', 'Democratic', 'Islands', 'Republic', 'Kingdom', 'Federated', 'Lower',
  'Grand', 'New', 'East', 'Coast', 'Valley', 'Plateau', 'Highlands', 'Bay', 'Lake', 'Sound', 'Point', 'Ridge', 'Cape'];
const word = (i) => WORDS[i % WORDS.length];
export const COUNTRIES = Array.from({ length: 187 }, (_, i) =>
  (i % 5 === 0 ? `Chad ${i}` : `${word(i)} ${word(i * 7 + 3)}${i % 3 ? ' and the ' + word(i * 11 + 5) : ''} ${i}`));
export const AIRPORTS = Array.from({ length: 229 }, (_, i) => `${word(i * 3 + 1)} ${word(i + 9)} International Airport ${i}`);
export const labelsCsv = (head, names) => head + '\n' + names.map((n, i) => `"${n}",${((i * 7919) % 1000) + 1}`).join('\n') + '\n';
