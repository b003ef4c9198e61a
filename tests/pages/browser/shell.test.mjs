// The shell page: tabs fetch each page once, keep their state, and the context menu is off.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { withApp } from './harness.mjs';

test('tabs load once, keep the editor text, and right-click opens no menu', async () => {
  await withApp({ data: { 'a.csv': 'x\n1\n' } }, async ({ page }) => {
    const gets = [];
    page.on('request', (r) => { if (r.url().endsWith('/bridge/getPage')) gets.push(r.postData()); });
    await page.fill('#queryInput', 'SELECT 1');
    await page.click('#tab-bucket');
    await page.click('#tab-coming');
    await page.waitForSelector('#pane-coming');
    await page.click('#tab-bucket');
    await page.click('#tab-coming');
    await page.click('#tab-bucket');
    assert.deepEqual(gets, ['["coming"]']);
    assert.equal(await page.$eval('#queryInput', (e) => e.value), 'SELECT 1');
    assert.equal(await page.isVisible('#pane-coming'), false);
    const prevented = await page.evaluate(() => {
      const e = new MouseEvent('contextmenu', { bubbles: true, cancelable: true });
      document.getElementById('bucketOut').dispatchEvent(e);
      return e.defaultPrevented;
    });
    assert.equal(prevented, true);
  });
});

test('a page that arrives after another tab was chosen stays hidden, and is fetched once', async () => {
  await withApp({ data: { 'a.csv': 'x\n1\n' } }, async ({ browser, server }) => {
    const page = await browser.newPage({ viewport: { width: 1400, height: 900 } });
    // Holds the Query page back until released, whatever carries the bridge calls.
    await page.addInitScript(() => {
      let bound = null;
      const held = new Promise((r) => { window.__releaseQueryPage = r; });
      window.__pagesAsked = [];
      Object.defineProperty(window, 'getPage', {
        configurable: true,
        set(fn) { bound = fn; },
        get() {
          return (name) => {
            window.__pagesAsked.push(name);
            return name === 'bucket' ? held.then(() => bound(name)) : bound(name);
          };
        },
      });
    });
    await page.goto(server.url);
    await page.click('#tab-coming');
    await page.waitForSelector('#pane-coming #dashboardDropdown');
    // Back and forth while the Query page is still on its way: one fetch, no second pane.
    await page.click('#tab-bucket');
    await page.click('#tab-coming');
    await page.evaluate(() => window.__releaseQueryPage());
    await page.waitForSelector('#pane-bucket', { state: 'attached' });
    await page.waitForFunction(() => document.getElementById('bucketOut').textContent.includes('a.csv'));
    assert.equal(await page.isVisible('#pane-bucket'), false);
    assert.equal(await page.isVisible('#pane-coming'), true);
    assert.equal(await page.locator('.tab-pane').count(), 2);
    assert.deepEqual(await page.evaluate(() => window.__pagesAsked.sort()), ['bucket', 'coming']);
    await page.click('#tab-bucket');
    assert.equal(await page.isVisible('#pane-bucket'), true);
    assert.equal(await page.isVisible('#pane-coming'), false);
  });
});

test('the chart library starts once the tree is drawn, or at the first chart when no idle moment came', async () => {
  await withApp({ data: { 'k.csv': 'k,v\nA,1\nB,2\n' } }, async ({ page, data }) => {
    await page.waitForFunction(() => typeof window.echarts === 'object' && !document.getElementById('library-echarts'));
    await page.addInitScript(() => { window.requestIdleCallback = () => 0; });
    await page.reload();
    await page.waitForFunction(() => /k\.csv/.test(document.getElementById('bucketOut')?.textContent || ''));
    assert.equal(await page.evaluate(() => typeof window.echarts), 'undefined');
    await page.fill('#queryInput', `SELECT k, SUM(v) AS v FROM read_csv('${data}/k.csv') GROUP BY k ORDER BY k`);
    await page.click('#runQueryBtn');
    await page.waitForSelector('#downloadBtn', { state: 'visible' });
    await page.selectOption('#chartType', 'bar');
    await page.waitForFunction(() => window.echarts && echarts.getInstanceByDom(document.querySelector('#queryResult .query-chart')));
    assert.deepEqual(page.__errors || [], []);
  });
});
