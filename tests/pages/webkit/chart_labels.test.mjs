// Long category labels in WebKitGTK, the window's own engine, in a 1600px window: measured in its
// fonts, no two drawn labels of 187 country names or 229 airport names meet.
// Driven by WebKitWebDriver by script; needs a display (xvfb-run); skipped where the driver or
// the browser is missing.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { missingWebKit, withWebKit } from './driver.mjs';
import { AIRPORTS, chartViewIn, COUNTRIES, labelsCsv as csv, overlapping } from '../browser/chart_helpers.mjs';


const RUN = "document.getElementById('queryInput').value = arguments[0]; document.getElementById('runQueryBtn').click();";
const SHOW = "const s = document.getElementById('chartType'); s.value = arguments[0]; s.dispatchEvent(new Event('change', { bubbles: true }));";
// The answer of arguments[1] categories drawn as arguments[0] at the box's width.
const DRAWN = `const box = document.querySelector('#queryResult .query-chart');
  const chart = box && echarts.getInstanceByDom(box);
  const o = chart && chart.getOption();
  return !!o && box.clientWidth > 1000 && Math.abs(chart.getWidth() - box.clientWidth) <= 1 &&
    o.series[0].type === arguments[0] && o.xAxis[0].data.length === arguments[1]`;

test('long category labels stand apart in WebKitGTK', { skip: missingWebKit }, async () => {
  const files = { 'countries.csv': csv('country,population', COUNTRIES), 'airports.csv': csv('airport,flights', AIRPORTS) };
  await withWebKit(files, async ({ js, until, resize, data }) => {
    await resize(1600, 1000);
    await until("return (document.getElementById('bucketOut') || {}).textContent?.includes('countries.csv')");
    for (const [file, key, value, type, names] of [['countries.csv', 'country', 'population', 'bar', COUNTRIES],
      ['airports.csv', 'airport', 'flights', 'line', AIRPORTS]]) {
      await js(RUN, `SELECT ${key}, SUM(${value}) AS v FROM read_csv('${path.join(data, file)}') GROUP BY 1 ORDER BY 1`);
      await js(SHOW, type);
      const drawn = () => js(`return (() => { ${DRAWN} })()`, type, names.length);
      for (let i = 0; i < 100 && !(await drawn()); i++) await new Promise((r) => setTimeout(r, 200));
      assert.ok(await drawn(), `${type} drawn`);
      await js('return new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(() => r(true))))');
      const view = await js(`return (${chartViewIn.toString()})(arguments[0])`, '#queryResult');
      const labels = view.texts.filter((t) => names.some((n) => n.startsWith(t.text.replace(/…$/, ''))));
      assert.ok(labels.length >= 10, `${type}: ${labels.length} labels drawn in a ${view.w}px chart`);
      assert.deepEqual(overlapping(view.texts), [], `${type}: texts apart`);
    }
  });
});
