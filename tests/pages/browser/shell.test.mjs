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
    assert.equal(await page.inputValue('#queryInput'), 'SELECT 1');
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
    const gets = [];
    let release;
    const held = new Promise((r) => { release = r; });
    await page.route('**/bridge/getPage', async (route) => {
      const body = route.request().postData();
      gets.push(body);
      if (body === '["bucket"]') await held;
      await route.continue();
    });
    await page.goto(server.url);
    // Calls answer in order, so the Dashboards page follows the held Query page.
    await page.click('#tab-coming');
    await page.click('#tab-bucket');
    await page.click('#tab-coming');
    release();
    await page.waitForSelector('#pane-coming #dashboardDropdown');
    await page.waitForFunction(() => document.getElementById('bucketOut').textContent.includes('a.csv'));
    assert.equal(await page.isVisible('#pane-bucket'), false);
    assert.equal(await page.isVisible('#pane-coming'), true);
    assert.equal(await page.locator('.tab-pane').count(), 2);
    assert.deepEqual(gets.sort(), ['["bucket"]', '["coming"]']);
    await page.click('#tab-bucket');
    assert.equal(await page.isVisible('#pane-bucket'), true);
    assert.equal(await page.isVisible('#pane-coming'), false);
  });
});
