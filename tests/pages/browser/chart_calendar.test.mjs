// Calendar-aware axes on both pages: dates, months and timestamps, as lines and as bars, tick on
// round calendar steps, and each label reads alone (the month and year where they change and
// at the start); years as whole numbers tick at round years; a click on a timestamp's bar still
// filters by the row's own text.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { withApp, run } from './harness.mjs';
import { chartView, overlapping, pointAt, tipText } from './chart_helpers.mjs';
import { storeQuery, storeDashboard, openDashboard, content, indicator } from './dashboard_helpers.mjs';

const pad = (n) => String(n).padStart(2, '0');
const stamp = (t) => new Date(t).toISOString().slice(0, 19).replace('T', ' ');
const HOUR = 3600e3;
const FILES = {
  // Monthly values from March 1958 to December 2020, as text months.
  'co2.csv': 'month,ppm\n' + Array.from({ length: 754 }, (_, i) =>
    `${1958 + Math.floor((i + 2) / 12)}-${pad(((i + 2) % 12) + 1)},${(315 + i * 0.13).toFixed(2)}`).join('\n') + '\n',
  'temps.csv': 'year,anomaly\n' + Array.from({ length: 135 }, (_, i) => `${1880 + i},${((i % 17) / 20 - 0.3).toFixed(2)}`).join('\n') + '\n',
  // A week of hourly flights from March 1, 2015.
  'flights.csv': 'ts,flights\n' + Array.from({ length: 168 }, (_, i) => `${stamp(Date.UTC(2015, 2, 1) + i * HOUR)},${(i * 37) % 90}`).join('\n') + '\n',
  'day.csv': 'ts,flights\n' + Array.from({ length: 24 }, (_, i) => `${stamp(Date.UTC(2015, 0, 1) + i * HOUR)},${i + 1}`).join('\n') + '\n',
  'winter.csv': 'day,sales\n' + Array.from({ length: 150 }, (_, i) => `${stamp(Date.UTC(2014, 10, 1) + i * 24 * HOUR).slice(0, 10)},${i % 13}`).join('\n') + '\n',
};

async function queryChart(page, sql, type) {
  await run(page, sql);
  await page.waitForSelector('#downloadBtn', { state: 'visible' });
  await page.selectOption('#chartType', type);
  await page.waitForSelector('#queryResult canvas');
  return chartView(page, '#queryResult');
}

// Years at one round step (1, 2 or 5 times a power of ten), each a multiple of it.
function roundYears(labels, what, step) {
  const years = labels.map(Number);
  assert.ok(years.length >= 3 && years.every(Number.isInteger), `${what}: ${labels}`);
  const steps = new Set(years.slice(1).map((y, i) => y - years[i]));
  assert.equal(steps.size, 1, `${what}: ${labels}`);
  const [s] = steps;
  assert.ok(/^[125]0*$/.test(String(s)) && years.every((y) => y % s === 0), `${what}: ${labels}`);
  if (step) assert.equal(s, step, `${what}: ${labels}`);
}

// What each kind of answer shows on its axis, wherever it is drawn.
const CHECKS = {
  co2: (v, what) => {
    assert.equal(v.xType, 'time', what);
    roundYears(v.xLabels, what);
  },
  temps: (v, what) => roundYears(v.xLabels, what),
  // Days, the first with its month and year, then the day alone.
  week: (v, what) => {
    assert.equal(v.xType, 'time', what);
    assert.match(v.xLabels[0], /^Mar [12], 2015$/, what);
    assert.ok(v.xLabels.length >= 3 && v.xLabels.slice(1).every((l) => /^[2-7]$/.test(l)), `${what}: ${v.xLabels}`);
  },
  // Hours of one day: every label different, the first the date, the rest clock times.
  day: (v, what) => {
    assert.equal(v.xType, 'time', what);
    assert.equal(v.series[0].items.filter((b) => b.at.w > 0).length, 24, `${what}: every bar`);
    assert.equal(v.xLabels[0], 'Jan 1, 2015', what);
    assert.ok(v.xLabels.length >= 3 && v.xLabels.slice(1).every((l) => /^\d\d:00$/.test(l)), `${what}: ${v.xLabels}`);
    assert.equal(new Set(v.xLabels).size, v.xLabels.length, `${what}: distinct`);
  },
  // Across a new year: the year with the first month and with January, months alone between.
  winter: (v, what) => {
    assert.equal(v.xType, 'time', what);
    assert.deepEqual(v.xLabels, ['Nov 2014', 'Dec', 'Jan 2015', 'Feb', 'Mar'], what);
  },
};

test('time axes tick on round calendar steps with labels that read alone, on the Query page and in panels', async () => {
  await withApp({ data: FILES }, async ({ page, server, data }) => {
    const src = (f) => `read_csv('${path.join(data, f)}')`;
    const sql = {
      co2: `SELECT month, MAX(ppm) AS ppm FROM ${src('co2.csv')} GROUP BY month ORDER BY month`,
      temps: `SELECT year, MAX(anomaly) AS anomaly FROM ${src('temps.csv')} GROUP BY year ORDER BY year`,
      week: `SELECT ts, SUM(flights) AS flights FROM ${src('flights.csv')} GROUP BY ts ORDER BY ts`,
      day: `SELECT ts, SUM(flights) AS flights FROM ${src('day.csv')} GROUP BY ts ORDER BY ts`,
      winter: `SELECT CAST(DATE_TRUNC('month', day) AS DATE) AS month, SUM(sales) AS sales FROM ${src('winter.csv')} GROUP BY 1 ORDER BY 1`,
    };
    const types = { co2: 'line', temps: 'line', week: 'line', day: 'bar', winter: 'bar' };
    await page.setViewportSize({ width: 1100, height: 900 });
    for (const [name, q] of Object.entries(sql)) {
      const v = await queryChart(page, q, types[name]);
      CHECKS[name](v, `${name} on the Query page`);
      assert.deepEqual(overlapping(v.texts), [], `${name}: texts apart`);
    }
    // At this width, decades and twenty years.
    roundYears((await queryChart(page, sql.co2, 'line')).xLabels, 'co2 decades', 10);
    roundYears((await queryChart(page, sql.temps, 'line')).xLabels, 'temps twenty years', 20);
    // The hour of a bar in its tooltip.
    const day = await queryChart(page, sql.day, 'bar');
    await pointAt(page, '#queryResult', day.series[0].items[6].at);
    assert.equal(await tipText(page, 'flights\n2015-01-01 06:00:00: 7'), 'flights\n2015-01-01 06:00:00: 7');

    const names = Object.keys(sql);
    for (const name of names) await storeQuery(server, name, sql[name]);
    await storeQuery(server, 'rows', `SELECT ts, flights FROM ${src('day.csv')} ORDER BY ts`);
    const cells = names.map((name) => ({ name, query: name, chartType: types[name], flex: 6 }));
    await storeDashboard(server, 'Calendar', [{ cells: cells.slice(0, 2) }, { cells: cells.slice(2, 4) }, { cells: [cells[4],
      { name: 'rows', query: 'rows', chartType: 'paginated', flex: 6 }] }], data, 'csv');
    await openDashboard(page, 'Calendar');
    for (const [i, name] of names.entries()) {
      const sel = content(Math.floor(i / 2), i % 2);
      await page.waitForSelector(`${sel} canvas`);
      const v = await chartView(page, sel);
      CHECKS[name](v, `${name} in a panel`);
      assert.deepEqual(overlapping(v.texts), [], `${name} in a panel: texts apart`);
    }
    // A click on the 06:00 bar filters by that row's own text.
    const bars = await chartView(page, content(1, 1));
    await pointAt(page, content(1, 1), bars.series[0].items[6].at, true);
    await page.waitForFunction(() => /Filter/.test(document.getElementById('chartFilterIndicator')?.textContent || ''));
    assert.equal(await indicator(page), 'Filter: ts = 2015-01-01 06:00:00Clear');
    await page.waitForFunction((s) => /1-1 of 1\b/.test(document.querySelector(s)?.textContent || ''), content(2, 1));
    assert.deepEqual(page.__errors || [], []);
  });
});
