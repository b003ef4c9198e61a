// Axes that show the data, on both pages: lines and areas far from zero start near their values
// while bars keep zero, a series tenfold smaller than another gets an axis of its own, and areas
// show through each other.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { withApp, run } from './harness.mjs';
import { chartView } from './chart_helpers.mjs';
import { storeQuery, storeDashboard, openDashboard, content } from './dashboard_helpers.mjs';

// Monthly CO2 in ppm and a temperature anomaly in degrees, and two close series.
const FILES = {
  'co2.csv': 'month,ppm,anomaly\n' + Array.from({ length: 24 }, (_, i) =>
    `20${10 + Math.floor(i / 12)}-${String((i % 12) + 1).padStart(2, '0')},${(390 + i * 1.1 + (i % 5)).toFixed(1)},${(0.6 + (i % 7) / 20).toFixed(2)}`).join('\n') + '\n',
  'close.csv': 'k,a,b\n' + Array.from({ length: 8 }, (_, i) => `k${i},${10 + i},${11 + i}`).join('\n') + '\n',
};

// The plot height a series' points span, as a share of the plot.
function spread(view, s) {
  const ys = view.series[s].items.map((it) => it.at.y);
  return (Math.max(...ys) - Math.min(...ys)) / view.plot.height;
}

// Lower end of each value axis, the series' spread, and the area fills' opacity.
function axesOf(page, sel) {
  return page.evaluate((s) => {
    const host = document.querySelector(s);
    const box = host.matches('.query-chart, .dash-chart') ? host : host.querySelector('.query-chart, .dash-chart');
    const model = echarts.getInstanceByDom(box).getModel();
    return {
      lows: [0, 1].map((i) => model.getComponent('yAxis', i)).filter(Boolean).map((a) => a.axis.scale.getExtent()[0]),
      fills: [0, 1].map((i) => model.getSeriesByIndex(i)).filter(Boolean).map((m) => (m.get('areaStyle') ? m.get('areaStyle').opacity : null)),
    };
  }, sel);
}

async function queryChart(page, sql, type) {
  await run(page, sql);
  await page.waitForSelector('#downloadBtn', { state: 'visible' });
  await page.selectOption('#chartType', type);
  await page.waitForSelector('#queryResult canvas');
  return ['#queryResult', await chartView(page, '#queryResult'), await axesOf(page, '#queryResult')];
}

test('value axes show the data on the Query page and in dashboard panels', async () => {
  await withApp({ data: FILES }, async ({ page, server, data }) => {
    const src = (f) => `read_csv('${path.join(data, f)}')`;
    const co2 = `SELECT month, MAX(ppm) AS ppm, MAX(anomaly) AS anomaly FROM ${src('co2.csv')} GROUP BY month ORDER BY month`;
    const close = `SELECT k, SUM(a) AS a, SUM(b) AS b FROM ${src('close.csv')} GROUP BY k ORDER BY k`;
    await storeQuery(server, 'co2', co2);
    await storeQuery(server, 'close', close);
    await storeDashboard(server, 'Axes', [{ cells: [{ name: 'L', query: 'co2', chartType: 'line', flex: 6 },
      { name: 'B', query: 'co2', chartType: 'bar', flex: 6 }] }, { cells: [{ name: 'A', query: 'close', chartType: 'area', flex: 12 }] }],
    data, 'csv');

    const views = [];
    for (const type of ['line', 'bar']) views.push([type, 'query', ...(await queryChart(page, co2, type))]);
    views.push(['area', 'query', ...(await queryChart(page, close, 'area'))]);
    await openDashboard(page, 'Axes');
    for (const [type, r, c] of [['line', 0, 0], ['bar', 0, 1], ['area', 1, 0]]) {
      await page.waitForSelector(`${content(r, c)} canvas`);
      views.push([type, 'panel', content(r, c), await chartView(page, content(r, c)), await axesOf(page, content(r, c))]);
    }
    for (const [type, where, , view, axes] of views) {
      const what = `${type} on the ${where}`;
      if (type === 'area') {
        assert.equal(axes.lows.length, 1, what);
        assert.ok(axes.fills.every((o) => o > 0 && o < 1), `${what}: fills ${axes.fills}`);
        continue;
      }
      // CO2 starts near 390 on lines and at zero on bars; the anomaly has its own axis, and on a
      // line both fill much of the plot's height instead of a flat line at the top or bottom.
      assert.equal(axes.lows.length, 2, what);
      if (type === 'line') assert.ok(axes.lows[0] >= 300, `${what}: ${axes.lows}`);
      else assert.equal(axes.lows[0], 0, what);
      if (type === 'bar') continue;
      assert.ok(spread(view, 1) > 0.3, `${what}: anomaly spread ${spread(view, 1)}`);
      assert.ok(spread(view, 0) > 0.3, `${what}: ppm spread ${spread(view, 0)}`);
    }
  });
});

// Long-format rows (year, source, value): one line per source on both pages, with a gap where a
// year lacks a source, instead of one line jumping back in time.
test('long-format rows split by their second column on the Query page and in a panel', async () => {
  const sources = ['coal', 'gas', 'oil'];
  const rows = [];
  for (let y = 2000; y < 2010; y++) for (const s of sources) if (!(s === 'oil' && y === 2004)) rows.push(`${y},${s},${y - 1990 + s.length}`);
  await withApp({ data: { 'long.csv': 'year,source,value\n' + rows.join('\n') + '\n' } }, async ({ page, server, data }) => {
    const src = `read_csv('${path.join(data, 'long.csv')}', types={'year': 'VARCHAR'})`;
    const agg = `SELECT year, source, SUM(value) AS value FROM ${src} GROUP BY ALL ORDER BY year, source`;
    await storeQuery(server, 'long', agg);
    await storeDashboard(server, 'Long', [{ cells: [{ name: 'L', query: 'long', chartType: 'line-split', flex: 12 }] }], data, 'csv');
    const lines = (view) => view.series.map((s) => [s.name, s.items.length, s.items.filter((i) => i.value == null || Number.isNaN(i.value)).length]);
    const want = [['coal', 10, 0], ['gas', 10, 0], ['oil', 10, 1]];
    const [, query] = await queryChart(page, agg, 'line-split');
    assert.deepEqual(lines(query), want);
    await openDashboard(page, 'Long');
    await page.waitForSelector(`${content(0, 0)} canvas`);
    assert.deepEqual(lines(await chartView(page, content(0, 0))), want);
  });
});
