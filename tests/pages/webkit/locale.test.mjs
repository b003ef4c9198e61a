// The Query page in WebKitGTK's MiniBrowser under LANG=C.UTF-8, where WebKit reports the
// language "C" and would show numbers ungrouped: table cells, chart ticks, notes and messages
// read en-US.
// Driven by WebKitWebDriver (Debian's webkit2gtk-driver) over its HTTP protocol; its element
// clicks are not supported, so the page is driven by script. Needs a display (run under
// xvfb-run); skipped where the driver or the browser is missing.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { missingWebKit, withWebKit } from './driver.mjs';

test('numbers are grouped where WebKit reports the POSIX locale', { skip: missingWebKit }, async () => {
  const files = { 'f.csv': 'k,n\nA,3000000\nB,1234567\nC,2500000\n' };
  await withWebKit(files, async ({ js, until, data, server }) => {
    await until("return (document.getElementById('bucketOut') || {}).textContent?.includes('f.csv')");
    assert.equal(await js('return navigator.language'), 'C', 'the fault this guards against');

    await js("document.getElementById('queryInput').value = arguments[0]; document.getElementById('runQueryBtn').click();",
      `SELECT k, SUM(n) AS n FROM read_csv('${data}/f.csv') GROUP BY k ORDER BY k`);
    await until("return !!document.querySelector('#queryResult tbody td:nth-child(2)')");
    assert.deepEqual(await js("return [...document.querySelectorAll('#queryResult tbody tr:not(.virtual-sizer) td:nth-child(2)')].map((t) => t.textContent)"),
      ['3,000,000', '1,234,567', '2,500,000']);

    await js("const s = document.getElementById('chartType'); s.value = 'bar'; s.dispatchEvent(new Event('change', { bubbles: true }));");
    await until("return !!document.querySelector('#queryResult .query-chart canvas')");
    const ticks = await js("return echarts.getInstanceByDom(document.querySelector('#queryResult .query-chart')).getModel().getComponent('yAxis', 0).axis.getViewLabels().map((l) => l.formattedLabel)");
    assert.ok(ticks.includes('3,000,000') && ticks.every((t) => !/\d{4}/.test(t)), ticks.join(' '));

    // Notes and messages as well as cells: the count of a long answer and the export's line.
    await js("document.getElementById('queryInput').value = arguments[0]; document.getElementById('runQueryBtn').click();",
      'SELECT range AS n FROM range(100005)');
    await until("return /of 100,005 rows/.test(document.getElementById('queryResult').textContent)");
    await js("const s = document.getElementById('chartType'); s.value = 'table'; s.dispatchEvent(new Event('change', { bubbles: true }));");
    await until("return /100,005/.test(document.getElementById('answerNote').textContent)");
    assert.equal(await js("return document.getElementById('answerNote').textContent"), '100,005 rows');
    const out = data + '/n.csv';
    await server.dialog(out);
    await js("document.getElementById('downloadBtn').click()");
    await until("return /Exported/.test(document.getElementById('queryNotice').textContent)");
    assert.equal(await js("return document.getElementById('queryNotice').textContent"), `Exported 100,005 rows to ${out}`);
  }, { LANG: 'C.UTF-8', LC_ALL: 'C.UTF-8' });
});
