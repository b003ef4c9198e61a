// A start-up notice from the native side shows on the Query page as text, above the tree.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { withApp } from './harness.mjs';

const cases = [
  { name: 'none', notice: undefined, shown: null },
  { name: 'not text', notice: { text: 'x' }, shown: null },
  {
    name: 'markup in the path stays text',
    notice: 'Could not open the folder "<img src=x onerror=window.__hit=1>" given on the command line: No such file or directory',
    shown: 'Could not open the folder "<img src=x onerror=window.__hit=1>" given on the command line: No such file or directory',
  },
];

test('the start-up notice: shown as text above the listing, dismissed by its button', async () => {
  await withApp({ data: { 'a.csv': 'x\n1\n' } }, async ({ browser, server }) => {
    for (const c of cases) {
      const page = await browser.newPage();
      await page.addInitScript((notice) => { window.plinthosStartupNotice = notice; }, c.notice);
      await page.goto(server.url);
      await page.waitForSelector('#bucketOut .file-row');
      const notice = await page.$('#startupNotice');
      if (c.shown === null) {
        assert.equal(notice, null, c.name);
      } else {
        assert.equal(await notice.$eval('span', (s) => s.textContent), c.shown, c.name);
        assert.equal(await page.$('#startupNotice img'), null, c.name);
        assert.equal(await page.evaluate(() => window.__hit), undefined, c.name);
        // Above the tree, which still lists the folder.
        assert.equal(await page.evaluate(() => document.getElementById('startupNotice').nextElementSibling.id), 'bucketOut');
        await page.click('#startupNotice .startup-notice-close');
        assert.equal(await page.$('#startupNotice'), null, c.name);
      }
      await page.close();
    }
  });
});
