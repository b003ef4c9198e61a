// Query page charts in the real page: bars, points, areas and slices read back from the canvas
// at the positions the layout rules give, the tooltip, the legend and the axis texts.
// With PLINTHOS_SCREENSHOTS=<folder> the last test also writes bar-chart.png and pie-chart.png
// of the sample data there.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { withApp, DEV } from './harness.mjs';

const SALES = 'category,x,y\nAlpha,10,5\nAlpha,20,5\nBeta,60,40\nA very long category name,100,-20\n';
const LONG = 'A very long category name';
const PALETTE = [
  [203, 166, 247],
  [137, 180, 250],
  [166, 227, 161],
];
const BG = [30, 30, 46];
const H = 380;

// Runs an aggregated query and records every text the canvas draws from then on.
async function runAgg(page, sql) {
  await page.evaluate(() => {
    if (window.__chartTexts) return;
    window.__chartTexts = [];
    const fill = CanvasRenderingContext2D.prototype.fillText;
    CanvasRenderingContext2D.prototype.fillText = function (t, ...rest) {
      window.__chartTexts.push(String(t));
      return fill.call(this, t, ...rest);
    };
  });
  await page.fill('#queryInput', sql);
  await page.click('#runQueryBtn');
  await page.waitForSelector('#downloadBtn', { state: 'visible' });
}

async function draw(page, type) {
  await page.evaluate(() => (window.__chartTexts.length = 0));
  await page.selectOption('#chartType', type);
  await page.waitForSelector('#queryResult canvas');
  return page.evaluate(() => {
    const c = document.querySelector('#queryResult canvas');
    return { w: c.width, h: c.height, texts: window.__chartTexts.slice() };
  });
}

const pixel = (page, x, y) =>
  page.evaluate(
    ([px, py]) =>
      Array.from(document.querySelector('#queryResult canvas').getContext('2d').getImageData(px, py, 1, 1).data.slice(0, 3)),
    [Math.round(x), Math.round(y)]
  );

// Moves the pointer to canvas coordinates; returns the tooltip's text, or null when hidden.
async function tipAt(page, x, y) {
  const canvas = page.locator('#queryResult canvas');
  await canvas.scrollIntoViewIfNeeded();
  const box = await canvas.boundingBox();
  await page.mouse.move(box.x + x, box.y + y);
  return page.evaluate(() => {
    const t = document.getElementById('chartTip');
    return t && t.style.display !== 'none' ? t.innerText : null;
  });
}

function plotOf(w, right) {
  return { left: 75, top: 20, width: w - 75 - right, bottom: H - 75, height: H - 95 };
}

test('bar chart: one series, axis texts, cut labels, tooltip, no legend', async () => {
  await withApp({ data: { 'sales.csv': SALES } }, async ({ page, data }) => {
    const options = () => page.$$eval('#chartType option', (os) => os.map((o) => o.value + ' ' + o.textContent));
    assert.equal(await page.isVisible('#chartType'), false);
    assert.deepEqual(await options(), [
      'table Table',
      'paginated Paginated Table',
      'bar Bar Chart',
      'line Line Chart',
      'area Area Chart',
      'pie Pie Chart',
    ]);
    await runAgg(
      page,
      `SELECT category, SUM(x) AS total FROM read_csv('${data}/sales.csv') GROUP BY category ORDER BY total`
    );
    assert.deepEqual(await options(), ['table Table', 'bar Bar Chart', 'line Line Chart', 'area Area Chart', 'pie Pie Chart']);
    // The selector's own colours, with the theme's drawn caret kept.
    const look = await page.$eval('#chartType', (e) => {
      const c = getComputedStyle(e);
      return [c.backgroundColor, c.color, c.borderTopColor, c.paddingTop, c.paddingLeft, c.fontSize, c.backgroundImage.includes('svg')];
    });
    assert.deepEqual(look, ['rgb(49, 50, 68)', 'rgb(205, 214, 244)', 'rgb(69, 71, 90)', '8px', '14px', '14.08px', true]);
    const { w, h, texts } = await draw(page, 'bar');
    assert.equal(h, H);
    assert.equal(w, await page.evaluate(() => {
      const a = document.getElementById('queryResult');
      const s = getComputedStyle(a);
      return Math.floor(a.clientWidth - parseFloat(s.paddingLeft) - parseFloat(s.paddingRight));
    }));
    // 30, 60, 100: upper bound 110, axis 0..150 in steps of 50.
    for (const t of ['0', '50', '100', '150', 'Alpha', 'Beta', 'A very long ', 'category']) {
      assert.ok(texts.includes(t), `missing text ${t}: ${texts}`);
    }
    assert.ok(!texts.includes(LONG));
    assert.ok(!texts.includes('total'), 'no legend for one series');

    const plot = plotOf(w, 20);
    const slot = plot.width / 3;
    const barW = slot / 2;
    const values = [30, 60, 100];
    for (let r = 0; r < 3; r++) {
      const x = plot.left + slot * r + slot / 2 - barW / 2 + barW / 2 - 1;
      const top = plot.bottom - (plot.height * values[r]) / 150;
      assert.deepEqual(await pixel(page, x, top + 3), PALETTE[0], `bar ${r}`);
      assert.deepEqual(await pixel(page, x, top - 4), BG, `above bar ${r}`);
    }
    assert.deepEqual(await pixel(page, plot.left + slot - 2, plot.bottom - 10), BG, 'gap between bars');

    const x1 = plot.left + slot * 1.5;
    assert.equal(await tipAt(page, x1, plot.bottom - 20), 'total\nBeta: 60');
    assert.equal(
      await page.$eval('#chartTip span', (e) => getComputedStyle(e).color),
      'rgb(203, 166, 247)'
    );
    assert.equal(await tipAt(page, plot.left + slot * 2.5, plot.bottom - 20), `total\n${LONG}: 100`);
    assert.equal(await tipAt(page, x1, 30), null);
    await tipAt(page, x1, plot.bottom - 20);
    await page.mouse.move(5, 5);
    assert.equal(await page.isVisible('#chartTip'), false);

    // Back to the table: no canvas left.
    await page.selectOption('#chartType', 'table');
    assert.equal(await page.$$eval('#queryResult canvas', (c) => c.length), 0);
    assert.match(await page.textContent('#queryResult'), /Beta60/);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('two series: legend, negative bars below the zero line, line and area points', async () => {
  await withApp({ data: { 'sales.csv': SALES } }, async ({ page, data }) => {
    await runAgg(
      page,
      `SELECT category, SUM(x) AS total, SUM(y) AS other FROM read_csv('${data}/sales.csv') GROUP BY category ORDER BY total`
    );
    // total 30, 60, 100 and other 10, 40, -20: bounds -20..110, axis -50..150.
    let { w, texts } = await draw(page, 'bar');
    assert.ok(texts.includes('total') && texts.includes('other'));
    assert.ok(texts.includes('-50'));
    const plot = plotOf(w, 120);
    const legendX = plot.left + plot.width + 10 + 5;
    assert.deepEqual(await pixel(page, legendX, 20 + 5), PALETTE[0]);
    assert.deepEqual(await pixel(page, legendX, 40 + 5), PALETTE[1]);
    const slot = plot.width / 3;
    const barW = slot / 3;
    const zero = plot.bottom - plot.height * (50 / 200);
    const otherX = (r) => plot.left + slot * r + slot / 2 - barW + barW + barW / 2 - 1;
    assert.deepEqual(await pixel(page, otherX(2), zero + 10), PALETTE[1], 'negative bar hangs below zero');
    assert.deepEqual(await pixel(page, otherX(2), zero + (plot.height * 20) / 200 + 3), BG);
    assert.deepEqual(await pixel(page, otherX(2), zero - 5), BG);
    assert.deepEqual(await pixel(page, otherX(0), zero - 5), PALETTE[1]);
    assert.equal(await tipAt(page, otherX(2), zero + 10), `other\n${LONG}: -20`);

    ({ w, texts } = await draw(page, 'line'));
    const step = plot.width / 2;
    const y = (v) => plot.bottom - (plot.height * (v + 50)) / 200;
    assert.deepEqual(await pixel(page, plot.left + step, y(60)), PALETTE[0]);
    assert.deepEqual(await pixel(page, plot.left + step, y(40)), PALETTE[1]);
    assert.deepEqual(await pixel(page, plot.left + step * 2, y(-20)), PALETTE[1]);
    assert.deepEqual(await pixel(page, legendX, 20 + 5), PALETTE[0]);
    assert.deepEqual(await pixel(page, plot.left + step, y(20)), BG, 'no fill under a line chart');
    assert.equal(await tipAt(page, plot.left + step + 5, y(40) + 5), 'other\nBeta: 40');
    assert.equal(await tipAt(page, plot.left + step + 15, y(40) + 15), null, 'farther than 20 pixels');

    await draw(page, 'area');
    assert.notDeepEqual(await pixel(page, plot.left + step, y(20)), BG, 'filled under the line');
    assert.deepEqual(await pixel(page, plot.left + step, 30), BG, 'nothing above the lines');
    assert.equal(await tipAt(page, plot.left + step * 2, y(100)), `total\n${LONG}: 100`);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('pie chart: slices clockwise from 12 o\'clock, legend percentages, tooltip', async () => {
  await withApp({ data: { 'sales.csv': SALES } }, async ({ page, data }) => {
    await runAgg(
      page,
      `SELECT category, SUM(x) AS total FROM read_csv('${data}/sales.csv') GROUP BY category ORDER BY total`
    );
    const { w, h, texts } = await draw(page, 'pie');
    for (const t of ['Alpha (15.8%)', 'Beta (31.6%)', `${LONG} (52.6%)`, 'category']) {
      assert.ok(texts.includes(t), `missing ${t}: ${texts}`);
    }
    const cx = (w - 140) / 2 + 20;
    const cy = h / 2 - 16;
    const r = Math.min(cx - 20, cy - 20);
    const values = [30, 60, 100];
    let start = 0;
    const tips = ['Alpha: 30 (15.8%)', 'Beta: 60 (31.6%)', `${LONG}: 100 (52.6%)`];
    for (let i = 0; i < 3; i++) {
      const end = start + (values[i] / 190) * 2 * Math.PI;
      const mid = (start + end) / 2;
      const x = cx + Math.sin(mid) * r * 0.6;
      const y = cy - Math.cos(mid) * r * 0.6;
      assert.deepEqual(await pixel(page, x, y), PALETTE[i], `slice ${i}`);
      assert.equal(await tipAt(page, x, y), tips[i]);
      start = end;
    }
    assert.equal(await tipAt(page, cx + r + 5, cy), null);
    assert.deepEqual(await pixel(page, w - 135 + 5, h / 2 - 27 + 5), PALETTE[0]);
    assert.deepEqual(await pixel(page, w - 135 + 5, h / 2 - 27 + 45), PALETTE[2]);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('one column: axes and labels without ticks; a too narrow pie draws nothing', async () => {
  await withApp({ data: { 'sales.csv': SALES } }, async ({ page, data }) => {
    await runAgg(page, `SELECT category FROM read_csv('${data}/sales.csv') GROUP BY category ORDER BY category`);
    const { texts } = await draw(page, 'bar');
    assert.deepEqual(texts.sort(), ['A very long ', 'Alpha', 'Beta', 'category']);
    const pie = await draw(page, 'pie');
    assert.ok(pie.texts.includes('Alpha (0.0%)'));
    // A canvas too narrow for a pie still draws its legend and does not fail.
    await page.evaluate(() => (document.getElementById('queryResult').style.width = '120px'));
    await page.evaluate(() => (window.__chartTexts.length = 0));
    await page.evaluate(() => applyChart());
    assert.equal(await page.$eval('#queryResult canvas', (c) => c.width), 120);
    assert.ok(!(await page.evaluate(() => window.__chartTexts)).includes('category'));
    assert.equal(await tipAt(page, 10, 10), null);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('sample data with the Group by Column template', async () => {
  const sample = path.resolve(path.dirname(DEV), 'bucket');
  await withApp({ bucket: false, config: { bucketPath: sample } }, async ({ page }) => {
    await page.selectOption('#examplesDropdown', 'agg');
    await runAgg(page, await page.inputValue('#queryInput'));
    const bar = await draw(page, 'bar');
    assert.ok(bar.texts.includes('total_sales') && bar.texts.includes('high_value_percentage'));
    const shots = process.env.PLINTHOS_SCREENSHOTS;
    const card = page.locator('.card').nth(1);
    if (shots) await card.screenshot({ path: path.join(shots, 'bar-chart.png') });
    const pie = await draw(page, 'pie');
    assert.ok(pie.texts.some((t) => /\(\d+\.\d%\)$/.test(t)));
    if (shots) await card.screenshot({ path: path.join(shots, 'pie-chart.png') });
    assert.deepEqual(page.__errors || [], []);
  });
});
