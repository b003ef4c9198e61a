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
