// Superseded dashboard renders: quick filter changes and a quick change of dashboard stop the
// engine runs of the renders they replace, ignore their late answers, and end showing the last
// render's data with no engine left running.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { withApp, runEngine, runningEngines } from './harness.mjs';
import { storeQueries, storeDashboard, choose, content, openDashboard } from './dashboard_helpers.mjs';

const REGIONS = ['north', 'south', 'east', 'west'];

async function until(condition, what) {
  for (const end = Date.now() + 60000; !(await condition()); await new Promise((r) => setTimeout(r, 50))) {
    if (Date.now() > end) throw new Error('gave up waiting: ' + what);
  }
}

// In the page: every engine reply that was a stopped run (table panels hold their answers), and
// the stop calls made.
function installProbe() {
  const stop = window.stopQueryCpp;
  window.__probe = { cancelled: 0, stops: 0 };
  for (const name of ['queryDuckCpp', 'holdQueryCpp']) {
    const run = window[name];
    window[name] = (...args) => run(...args).then((r) => {
      if (r && r.cancelled) window.__probe.cancelled++;
      return r;
    });
  }
  window.stopQueryCpp = (...args) => {
    window.__probe.stops++;
    return stop(...args);
  };
}

test('four quick filter changes and a quick change of dashboard stop the older runs and show the last', async () => {
  await withApp({}, async ({ page, server, data }) => {
    runEngine(`COPY (SELECT i AS id, ['north', 'south', 'east', 'west'][i % 4 + 1] AS region, i % 50 AS amount
      FROM range(4000) r(i)) TO 'sales.parquet' (FORMAT PARQUET)`, data);
    // Slow on purpose: each run takes long enough for the next change to find it running.
    const src = `read_parquet('${data}/sales.parquet')`;
    const heavy = `SELECT region, SUM(amount * k) AS total FROM ${src}, range(40000) t(k) GROUP BY region ORDER BY region`;
    await storeQueries(server, { heavy, rows: `SELECT id, region FROM ${src} ORDER BY id` });
    const layout = [{ cells: [
      { name: 'A', query: 'heavy', chartType: 'table', flex: 4 },
      { name: 'B', query: 'heavy', chartType: 'table', flex: 4 },
      { name: 'Rows', query: 'rows', chartType: 'paginated', flex: 4 },
    ] }];
    const filters = [{ column: 'region', type: 'text', value: 'north' }];
    for (const name of ['Heavy', 'Also heavy']) await storeDashboard(server, name, layout, '', 'csv', filters);
    await page.evaluate(installProbe);
    await openDashboard(page, 'Heavy');

    // Four quick changes, as the select's change handler makes them, each once the one before
    // has the engine running, so that there is always older work to stop.
    for (const value of ['south', 'east', 'west', 'south']) {
      await until(() => runningEngines(server.child.pid).length > 0, 'a run of the render before');
      await page.evaluate((v) => window.dashUpdateFilterPreview('region', v), value);
    }
    const total = JSON.parse(runEngine(`SELECT SUM(amount * k) AS t FROM read_parquet('sales.parquet'), range(40000) t(k)
      WHERE region = 'south'`, data, true))[0].t;
    const shown = (sel) => page.evaluate((s) => document.querySelector(s)?.textContent || '', sel);
    await until(async () => (await shown(content(0, 0))).includes(total.toLocaleString('en-US')) ||
      (await shown(content(0, 0))).includes(String(total)), 'the last change drawn');
    await until(async () => (await shown(content(0, 2))).includes('1-10 of 1,000'), 'the table of the last change');
    await until(() => runningEngines(server.child.pid).length === 0, 'no engine left running');
    const probe = await page.evaluate(() => window.__probe);
    assert.ok(probe.stops > 0 && probe.cancelled > 0, JSON.stringify(probe));
    await until(async () => (await page.inputValue('[id="filter-select-preview-region"]')) === 'south', 'the filter showing the last value');

    // Another dashboard chosen while this one loads: its runs stop, the new one shows.
    await page.evaluate(() => window.dashUpdateFilterPreview('region', 'east'));
    await until(() => runningEngines(server.child.pid).length > 0, 'a run of the new render');
    const before = await page.evaluate(() => window.__probe.cancelled);
    await choose(page, 'Also heavy');
    await until(async () => /1-10 of 1,000/.test(await shown(content(0, 2))) && !(await shown(content(0, 0))).includes('Loading'),
      'the other dashboard drawn');
    await until(() => runningEngines(server.child.pid).length === 0, 'no engine left running');
    assert.ok((await page.evaluate(() => window.__probe.cancelled)) > before);
    assert.deepEqual(page.__errors || [], []);
  });
});
