// Category labels never meet: many long names, on the Query page and in a dashboard panel, at
// three window widths, measured on the boxes the chart library drew (turned as drawn).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { withApp, run } from './harness.mjs';
import { AIRPORTS, chartView, COUNTRIES, labelsCsv as csv, overlapping } from './chart_helpers.mjs';
import { storeQuery, storeDashboard, openDashboard, content } from './dashboard_helpers.mjs';

const FILES = { 'countries.csv': csv('country,population', COUNTRIES), 'airports.csv': csv('airport,flights', AIRPORTS) };
const WIDTHS = [700, 1100, 1600];

// Resizes the window and waits until each chart in sels is drawn at its box's new size.
async function resize(page, width, sels) {
  await page.setViewportSize({ width, height: 900 });
  await page.waitForFunction((list) => list.every((s) => {
    const box = document.querySelector(`${s} .query-chart, ${s} .dash-chart`);
    const chart = box && echarts.getInstanceByDom(box);
    return chart && Math.abs(chart.getWidth() - box.clientWidth) <= 1;
  }), sels);
  // The redraw at the new size waits for a frame.
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
}

// Every drawn text apart, and enough category labels drawn to read the axis.
function checkApart(view, names, what) {
  const labels = view.texts.filter((t) => names.some((n) => n.startsWith(t.text.replace(/…$/, ''))));
  assert.ok(labels.length >= 4, `${what}: ${labels.length} labels drawn`);
  assert.deepEqual(overlapping(view.texts), [], `${what}: texts apart`);
}

test('long category labels stand apart at every width, on the Query page and in panels', async () => {
  await withApp({ data: FILES }, async ({ page, server, data }) => {
    const src = (f) => `read_csv('${path.join(data, f)}')`;
    const countries = `SELECT country, SUM(population) AS population FROM ${src('countries.csv')} GROUP BY country ORDER BY country`;
    const airports = `SELECT airport, SUM(flights) AS flights FROM ${src('airports.csv')} GROUP BY airport ORDER BY airport`;
    await storeQuery(server, 'countries', countries);
    await storeQuery(server, 'airports', airports);
    await storeDashboard(server, 'Names', [{ cells: [{ name: 'C', query: 'countries', chartType: 'bar', flex: 12 }] },
      { cells: [{ name: 'A', query: 'airports', chartType: 'line', flex: 12 }] }], data, 'csv');
    for (const [sql, type, names] of [[countries, 'bar', COUNTRIES], [airports, 'line', AIRPORTS]]) {
      await page.setViewportSize({ width: 1100, height: 900 });
      await run(page, sql);
      await page.waitForSelector('#downloadBtn', { state: 'visible' });
      await page.selectOption('#chartType', type);
      await page.waitForSelector('#queryResult canvas');
      for (const width of WIDTHS) {
        await resize(page, width, ['#queryResult']);
        checkApart(await chartView(page, '#queryResult'), names, `Query page ${type} at ${width}px`);
      }
    }
    await page.setViewportSize({ width: 1100, height: 900 });
    await openDashboard(page, 'Names');
    for (const [r, names] of [[0, COUNTRIES], [1, AIRPORTS]]) await page.waitForSelector(`${content(r, 0)} canvas`);
    for (const width of WIDTHS) {
      await resize(page, width, [content(0, 0), content(1, 0)]);
      checkApart(await chartView(page, content(0, 0)), COUNTRIES, `panel bar at ${width}px`);
      checkApart(await chartView(page, content(1, 0)), AIRPORTS, `panel line at ${width}px`);
    }
    assert.deepEqual(page.__errors || [], []);
  });
});
