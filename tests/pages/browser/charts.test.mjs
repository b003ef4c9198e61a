// Query page charts on generated answers, read from the chart library's model and drawn texts:
// round, grouped and apart value ticks; points over their labels and dates on a time axis; many
// categories; which columns are series; pies largest first with paged legends and shortened
// labels; numbers in the user's locale. With PLINTHOS_SCREENSHOTS=<folder> the last test writes
// bar-chart.png and pie-chart.png of the sample data there.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { withApp, DEV } from './harness.mjs';
import { chartView, overlapping, pointAt, tipText, roundStep } from './chart_helpers.mjs';

const PALETTE = ['#cba6f7', '#89b4fa', '#a6e3a1', '#fab387', '#f38ba8', '#94e2d5', '#f9e2af'];
const CODES = Array.from({ length: 229 }, (_, i) => String.fromCharCode(65 + (i % 26), 65 + ((i * 7) % 26), 65 + Math.floor(i / 26)));
const LONG = ['16-60 min late arrivals', 'On time', 'Cancelled or diverted flights of the day', 'Early'];
const FILES = {
  'flights.csv': 'origin,flights\n' + CODES.map((c, i) => `${c},${(i + 1) ** 2 * 57}`).join('\n') + '\n',
  'small.csv': 'k,v\nA,0.2\nB,1.1\nC,0.7\n',
  'signed.csv': 'k,v\nA,-10\nB,14\nC,3\n',
  'two.csv': 'k,v\nfirst,1\nsecond,2\n',
  'days.csv': 'day,v\n2024-01-01,1\n2024-01-02,2\n2024-01-31,3\n',
  'mixed.csv': 'name,seen,note,n,m\nMEM,2001-05-01,x,5,1.5\nATL,2002-06-01,y,20,2.5\nHPN,2003-07-01,z,1,0.5\n',
  'late.csv': 'status,n\n' + LONG.map((l, i) => `${l},${[15, 70, 5, 10][i]}`).join('\n') + '\n',
};
const CHART = '#queryResult';

// Runs an aggregated query and shows it as the chart type; returns what the chart shows.
async function chart(page, sql, type) {
  await page.fill('#queryInput', sql);
  await page.click('#runQueryBtn');
  await page.waitForSelector('#downloadBtn', { state: 'visible' });
  await page.selectOption('#chartType', type);
  return chartView(page, CHART);
}

const src = (data, file) => `read_csv('${path.join(data, file)}')`;
const texts = (view) => view.texts.map((t) => t.text);

function checkTicks(view, what) {
  const steps = view.ticks.slice(1).map((t, i) => +(t - view.ticks[i]).toPrecision(12));
  assert.ok(steps.length >= 1 && steps.every((s) => s === steps[0]) && roundStep(steps[0]), `${what}: ticks ${view.ticks}`);
  assert.deepEqual(view.tickText, view.ticks.map((t) => t.toLocaleString('en-US')), `${what}: grouped`);
  assert.deepEqual(overlapping(view.texts), [], `${what}: texts apart`);
}

test('value ticks are round, grouped and apart; many categories thin their labels and keep every bar', async () => {
  await withApp({ data: FILES }, async ({ page, data }) => {
    const cases = [
      ['flights', `SELECT origin, SUM(flights) AS flights FROM ${src(data, 'flights.csv')} GROUP BY origin ORDER BY origin`],
      ['small', `SELECT k, SUM(v) AS v FROM ${src(data, 'small.csv')} GROUP BY k ORDER BY k`],
      ['signed', `SELECT k, SUM(v) AS v FROM ${src(data, 'signed.csv')} GROUP BY k ORDER BY k`],
    ];
    for (const [what, sql] of cases) {
      for (const type of ['bar', 'line']) checkTicks(await chart(page, sql, type), `${what} ${type}`);
    }
    const bars = await chart(page, cases[0][1], 'bar');
    assert.ok(bars.tickText.includes('3,000,000'), bars.tickText.join(' '));
    const items = bars.series[0].items;
    assert.equal(items.length, 229);
    assert.ok(items.every((b, i) => b.at.w > 0 && b.at.h > 0 && (i === 0 || b.at.x > items[i - 1].at.x)), 'every bar drawn, in order');
    const shown = texts(bars).filter((t) => CODES.includes(t));
    assert.ok(shown.length > 5 && shown.length < 229, `thinned to ${shown.length}`);
    // Hovering a bar names its series and category.
    await pointAt(page, CHART, items[228].at);
    assert.equal(await tipText(page, `flights\n${items[228].name}: ${items[228].value.toLocaleString('en-US')}`), `flights\n${items[228].name}: ${items[228].value.toLocaleString('en-US')}`);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('line and area points stand over their labels; dates are spaced by time', async () => {
  await withApp({ data: FILES }, async ({ page, data }) => {
    for (const type of ['line', 'area']) {
      const view = await chart(page, `SELECT k, SUM(v) AS v FROM ${src(data, 'two.csv')} GROUP BY k ORDER BY k`, type);
      assert.equal(view.xType, 'category');
      for (const [i, label] of ['first', 'second'].entries()) {
        const t = view.texts.find((x) => x.text === label);
        assert.ok(Math.abs(t.x + t.w / 2 - view.series[0].items[i].at.x) < 1, `${type}: ${label} under its point`);
      }
      await pointAt(page, CHART, view.series[0].items[1].at);
      assert.equal(await tipText(page, 'v\nsecond: 2'), 'v\nsecond: 2');
    }
    const days = await chart(page, `SELECT day, SUM(v) AS v FROM ${src(data, 'days.csv')} GROUP BY day ORDER BY day`, 'line');
    assert.equal(days.xType, 'time');
    const [a, b, c] = days.series[0].items.map((p) => p.at.x);
    assert.ok(Math.abs((c - b) / (b - a) - 29) < 0.1, `one day, then 29 days: ${[a, b, c]}`);
    await pointAt(page, CHART, days.series[0].items[2].at);
    assert.equal(await tipText(page, 'v\n2024-01-31: 3'), 'v\n2024-01-31: 3');
    assert.deepEqual(page.__errors || [], []);
  });
});

test('series are the numeric columns; a pie sizes by the first; no numeric column says so', async () => {
  await withApp({ data: FILES }, async ({ page, data }) => {
    const sql = `SELECT name, CAST(seen AS DATE) AS seen, note, SUM(n) AS n, SUM(m) AS m FROM ${src(data, 'mixed.csv')} GROUP BY ALL ORDER BY name`;
    const bars = await chart(page, sql, 'bar');
    assert.deepEqual(bars.series.map((s) => s.name), ['n', 'm']);
    assert.deepEqual(bars.legend, ['n', 'm']);
    assert.deepEqual(bars.series.map((s) => s.items[0].color), PALETTE.slice(0, 2));
    const pie = await chart(page, sql, 'pie');
    assert.deepEqual(pie.series[0].items.map((s) => [s.name, s.value]), [['ATL', 20], ['MEM', 5], ['HPN', 1]]);
    assert.ok(texts(pie).includes('MEM (19.2%)'), texts(pie).join('|'));
    await page.fill('#queryInput', `SELECT name, note FROM ${src(data, 'mixed.csv')} GROUP BY ALL`);
    await page.click('#runQueryBtn');
    await page.waitForFunction(() => document.getElementById('queryResult').textContent === 'Nothing to chart: no numeric column');
    assert.equal(await page.locator('#queryResult canvas').count(), 0);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('pies list their slices largest first, page long legends and shorten long labels', async () => {
  await withApp({ data: FILES }, async ({ page, data }) => {
    const late = await chart(page, `SELECT status, SUM(n) AS n FROM ${src(data, 'late.csv')} GROUP BY status ORDER BY status`, 'pie');
    assert.deepEqual(late.legend, ['On time', '16-60 min late arrivals', 'Early', 'Cancelled or diverted flights of the day']);
    assert.deepEqual(late.series[0].items.map((s) => s.color), PALETTE.slice(0, 4));
    const legendTexts = texts(late).filter((t) => t.endsWith('%)'));
    assert.deepEqual(legendTexts, ['On time (70.0%)', '16-60 min late… (15.0%)', 'Early (10.0%)', 'Cancelled or… (5.0%)']);
    await pointAt(page, CHART, late.series[0].items[3].at);
    assert.equal(await tipText(page, 'Cancelled or diverted flights of the day: 5 (5.0%)'), 'Cancelled or diverted flights of the day: 5 (5.0%)');
    assert.deepEqual(overlapping(late.texts), []);
    const entry = late.texts.find((t) => t.text.startsWith('Cancelled or…'));
    await pointAt(page, CHART, { x: entry.x + entry.w / 2, y: entry.y + entry.h / 2 });
    assert.equal(await tipText(page, LONG[2]), LONG[2], 'the whole label over its legend entry');

    const many = await chart(page, `SELECT origin, SUM(flights) AS flights FROM ${src(data, 'flights.csv')} GROUP BY origin ORDER BY origin`, 'pie');
    assert.equal(many.legendType, 'scroll');
    assert.equal(many.legend[0], CODES[228], 'the largest first');
    const view = await page.$eval('#queryResult .query-chart', (b) => b.getBoundingClientRect().height);
    const entries = many.texts.filter((t) => /%\)$/.test(t.text) && t.y >= 0 && t.y + t.h <= view);
    assert.ok(entries.length > 5, 'a page of legend entries');
    assert.equal(entries[0].text, `${CODES[228]} (1.3%)`);
    assert.ok(texts(many).some((t) => /^1\/\d+$/.test(t)), 'the legend pages');
    assert.deepEqual(page.__errors || [], []);
  });
});

test('numbers follow the locale; the POSIX locale reads as en-US', async () => {
  await withApp({ data: FILES }, async ({ page, browser, server, data }) => {
    const sql = `SELECT origin, SUM(flights) AS flights FROM ${src(data, 'flights.csv')} GROUP BY origin ORDER BY flights DESC`;
    const top = 229 ** 2 * 57;
    for (const [locale, language, grouped] of [['de-DE', 'de-DE', top.toLocaleString('de-DE')], ['en-US', 'C', top.toLocaleString('en-US')]]) {
      const other = await browser.newPage({ locale, viewport: { width: 1400, height: 900 } });
      await other.addInitScript((lang) => Object.defineProperty(Navigator.prototype, 'language', { get: () => lang }), language);
      await other.goto(server.url);
      await other.waitForSelector('#pane-bucket #bucketOut');
      const bars = await chart(other, sql, 'bar');
      assert.ok(bars.tickText.every((t) => !/\d{4}/.test(t)), `${language}: ${bars.tickText}`);
      await other.selectOption('#chartType', 'table');
      assert.equal(await other.textContent('#queryResult tbody tr:not(.virtual-sizer) td:nth-child(2)'), grouped);
      await other.close();
    }
    assert.deepEqual(page.__errors || [], []);
  });
});

test('sample data with the Group by Column template', async () => {
  const sample = path.resolve(path.dirname(DEV), 'bucket');
  await withApp({ bucket: false, config: { bucketPath: sample } }, async ({ page }) => {
    await page.selectOption('#examplesDropdown', 'agg');
    const bar = await chart(page, await page.$eval('#queryInput', (e) => e.value), 'bar');
    assert.deepEqual(bar.legend, ['total_sales', 'high_value_sales', 'high_value_percentage']);
    assert.ok(texts(bar).includes('product_category'), 'the x-axis title');
    const shots = process.env.PLINTHOS_SCREENSHOTS;
    const card = page.locator('.card').nth(1);
    if (shots) await card.screenshot({ path: path.join(shots, 'bar-chart.png') });
    await page.selectOption('#chartType', 'pie');
    const pie = await chartView(page, CHART);
    assert.ok(texts(pie).some((t) => /\(\d+\.\d%\)$/.test(t)));
    if (shots) await card.screenshot({ path: path.join(shots, 'pie-chart.png') });
    assert.deepEqual(page.__errors || [], []);
  });
});
