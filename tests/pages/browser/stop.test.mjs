// Stopping a long query on the Query page: the Stop button shows only while a query runs, Stop
// ends the engine and the result area shows the cancelled note, whether the query runs whole
// or page by page; other calls are answered while it runs, and the next query runs as usual.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { withApp, runningEngines, run } from './harness.mjs';

// Far longer than any test waits: each run is stopped.
const LONG_AGGREGATED = 'SELECT SUM(x) AS s FROM range(6000000000) t(x) WHERE x % 7 = 3';
const LONG_PAGED = 'SELECT count(*) FROM range(6000000000) t(x) WHERE x % 7 = 3';
const GREY = 'rgb(108, 112, 134)';

// Polls until `condition` holds; the limit only keeps a broken build from hanging.
async function until(condition, what) {
  for (const end = Date.now() + 60000; !condition(); await new Promise((r) => setTimeout(r, 50))) {
    if (Date.now() > end) throw new Error('gave up waiting: ' + what);
  }
}

async function stopAndExpectCancelled(page, server) {
  await page.waitForSelector('#stopQueryBtn', { state: 'visible' });
  await page.click('#stopQueryBtn');
  await page.waitForFunction(() => document.getElementById('queryResult').textContent === 'Query cancelled.');
  assert.equal(await page.$eval('#queryResult div', (d) => getComputedStyle(d).color), GREY);
  assert.equal(await page.isVisible('#queryError'), false);
  assert.equal(await page.isVisible('#stopQueryBtn'), false);
  await until(() => runningEngines(server.child.pid).length === 0, 'the engine to end');
}

async function runLong(page, server, sql) {
  await run(page, sql);
  await until(() => runningEngines(server.child.pid).length > 0, 'the engine to start');
}

test('Stop appears only while a query runs and ends it, whole or paged', async () => {
  await withApp({}, async ({ page, server }) => {
    assert.equal(await page.isVisible('#stopQueryBtn'), false);
    // Nothing runs: stopping is harmless.
    assert.deepEqual(await page.evaluate(() => stopQueryCpp('queryPage')), { stopped: 0 });

    await runLong(page, server, LONG_AGGREGATED);
    // Calls from elsewhere run beside the query: another statement and a store call are answered
    // while it still runs.
    assert.deepEqual(await server.call('queryDuckCpp', ['SELECT 7 AS n']), { columns: ['n'], numericCols: [true], rows: [['7']] });
    assert.ok(Array.isArray(await server.call('getDashboardsCpp', [])));
    assert.ok(runningEngines(server.child.pid).length > 0, 'the long query still runs');
    await stopAndExpectCancelled(page, server);

    // The count and the page statement both end: no engine is left running.
    await runLong(page, server, LONG_PAGED);
    await stopAndExpectCancelled(page, server);

    // The next query runs as usual, and Stop is gone once it has answered.
    await run(page, 'SELECT 42 AS answer');
    await page.waitForFunction(() => /1-1 of 1 rows/.test(document.getElementById('queryResult').textContent));
    assert.equal(await page.isVisible('#stopQueryBtn'), false);
    assert.deepEqual(page.__errors || [], []);
  });
});
