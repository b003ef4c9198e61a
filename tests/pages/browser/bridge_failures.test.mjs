// Native calls that fail, by rejecting or by an error reply, are told on the page.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { withApp } from './harness.mjs';
import { storeQuery, storeDashboard, openDashboards, choose, panelText } from './dashboard_helpers.mjs';

// Replaces a bridge function in the page: 'reject' rejects with `text`, else `how` is the reply.
const failWith = (page, name, how, text) =>
  page.evaluate(([n, h, t]) => (window[n] = h === 'reject' ? () => Promise.reject(new Error(t)) : async () => h), [name, how, text]);

test('a failed folder change and a listing error are told; only a missing folder asks for one', () =>
  withApp({ data: { 'a.csv': 'x\n1\n' } }, async ({ page }) => {
    await page.evaluate(() => (window.chooseFolderCpp = async () => '/elsewhere'));
    for (const how of ['reject', { error: 'disk <b>full</b>' }]) {
      await failWith(page, 'setBucketPathCpp', how, 'disk <b>full</b>');
      const alerted = page.waitForEvent('dialog').then((d) => d.dismiss().then(() => d.message()));
      await page.click('button[title="Change Path"]');
      assert.equal(await alerted, 'Could not change the data folder:\ndisk <b>full</b>');
      assert.match(await page.textContent('#bucketOut'), /a\.csv/);
    }
    for (const [how, shown] of [
      ['reject', 'Could not list the data folder: no <b>bus</b>'],
      [{ error: 'Permission denied' }, 'Could not list the data folder: Permission denied'],
      [{ error: 'Bucket folder not found. Please select a folder.', bucketPath: '/gone' }, 'No bucket path selected.'],
    ]) {
      await failWith(page, 'listBucketCpp', how, 'no <b>bus</b>');
      await page.click('button[title="Refresh"]');
      await page.waitForFunction((s) => document.getElementById('bucketOut').textContent.includes(s), shown);
    }
  }));

test('a failed panel query replaces the loading bar with the failure', () =>
  withApp({ data: { 's.csv': 'k,v\na,1\nb,2\n' } }, async ({ page, server, data }) => {
    await storeQuery(server, 'sum', `SELECT k, SUM(v) AS v FROM read_csv('${data}/s.csv') GROUP BY k`);
    await storeQuery(server, 'rows', `SELECT * FROM read_csv('${data}/s.csv')`);
    const cells = [{ name: 'C', query: 'sum', chartType: 'bar', flex: 6 }, { name: 'R', query: 'rows', chartType: 'paginated', flex: 6 }];
    for (const name of ['D1', 'D2']) await storeDashboard(server, name, [{ cells }]);
    await openDashboards(page);
    // A chart panel holds its answer, a paged table queries: both calls fail alike.
    for (const [fns, name, shown] of [[['queryDuckCpp', 'holdQueryCpp'], 'D1', /^gone$/], [['getSavedQueriesCpp'], 'D2', /^Error loading data: gone$/]]) {
      for (const fn of fns) await failWith(page, fn, 'reject', 'gone');
      await choose(page, name);
      for (const col of [0, 1]) assert.match((await panelText(page, 0, col)).trim(), shown);
    }
  }));
