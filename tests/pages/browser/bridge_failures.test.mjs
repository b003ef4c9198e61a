// Native calls that fail, by rejecting or by an error reply, are told on the page, never
// swallowed or replaced by another message.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { withApp, readConfig } from './harness.mjs';
import { storeQuery, storeDashboard, openDashboards, choose, panelText } from './dashboard_helpers.mjs';

// Replaces one bridge function in the page: 'reject' makes it reject with `text`, anything else
// is its reply.
const failWith = (page, name, how, text) =>
  page.evaluate(([n, h, t]) => {
    window[n] = h === 'reject' ? () => Promise.reject(new Error(t)) : async () => h;
  }, [name, how, text]);

const nextAlert = (page) => page.waitForEvent('dialog').then(async (d) => {
  const text = d.message();
  await d.dismiss();
  return text;
});

test('a failed folder change is told and the tree stays', () =>
  withApp({ data: { 'a.csv': 'x\n1\n' } }, async ({ page, home, data }) => {
    for (const [how, text] of [['reject', 'no <b>bus</b>'], [{ error: 'disk full' }, 'disk full']]) {
      await page.evaluate(() => (window.chooseFolderCpp = async () => '/elsewhere'));
      await failWith(page, 'setBucketPathCpp', how, text);
      const alerted = nextAlert(page);
      await page.click('button[title="Change Path"]');
      assert.equal(await alerted, 'Could not change the data folder:\n' + text);
      assert.match(await page.textContent('#bucketOut'), /a\.csv/);
      assert.equal(readConfig(home).bucketPath, data);
    }
  }));

test('a listing error is shown; only a missing folder asks for one', () =>
  withApp({ data: { 'a.csv': 'x\n1\n' } }, async ({ page }) => {
    const cases = [
      ['reject', 'no <b>bus</b>', 'Could not list the data folder: no <b>bus</b>'],
      [{ error: 'Permission denied' }, '', 'Could not list the data folder: Permission denied'],
      [{ error: 'Bucket folder not found. Please select a folder.', bucketPath: '/gone' }, '', 'No bucket path selected.'],
    ];
    for (const [how, text, shown] of cases) {
      await failWith(page, 'listBucketCpp', how, text);
      await page.click('button[title="Refresh"]');
      await page.waitForFunction((s) => document.getElementById('bucketOut').textContent.includes(s), shown);
    }
  }));

test('a failed panel query replaces the loading bar with the failure', () =>
  withApp({ data: { 's.csv': 'k,v\na,1\nb,2\n' } }, async ({ page, server, data }) => {
    await storeQuery(server, 'sum', `SELECT k, SUM(v) AS v FROM read_csv('${data}/s.csv') GROUP BY k`);
    await storeQuery(server, 'rows', `SELECT * FROM read_csv('${data}/s.csv')`);
    const cells = [{ name: 'Chart', query: 'sum', chartType: 'bar', flex: 6 }, { name: 'Rows', query: 'rows', chartType: 'paginated', flex: 6 }];
    for (const name of ['D1', 'D2']) await storeDashboard(server, name, [{ cells }]);
    await openDashboards(page);
    for (const [fn, name, shown] of [
      ['queryDuckCpp', 'D1', 'engine went away'],
      ['getSavedQueriesCpp', 'D2', 'Error loading data: engine went away'],
    ]) {
      await failWith(page, fn, 'reject', 'engine went away');
      await choose(page, name);
      for (const col of [0, 1]) assert.match(await panelText(page, 0, col), new RegExp(shown));
    }
  }));
