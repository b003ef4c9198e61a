// Shared by the dashboard browser suites: generated sales data, storing queries and dashboards
// through the bridge, opening the Dashboards tab, choosing a dashboard and reading its panels.
import assert from 'node:assert/strict';
import { chartView, pointAt } from './chart_helpers.mjs';
import { runEngine } from './harness.mjs';

export const REGIONS = ['north', 'south', 'east', "o'west"];
export const SALES_CSV =
  'id,region,amount,day\n' +
  Array.from({ length: 1234 }, (_, i) =>
    `${i + 1},${REGIONS[i % 4].includes("'") ? '"' + REGIONS[i % 4] + '"' : REGIONS[i % 4]},${(i % 50) + 1},2024-0${(i % 9) + 1}-15`
  ).join('\n') + '\n';

export async function storeQuery(server, name, sql) {
  assert.equal(await server.call('saveQueryCpp', [name, sql]), 'ok');
}

export async function storeQueries(server, queries) {
  for (const [name, sql] of Object.entries(queries)) await storeQuery(server, name, sql);
}

export async function storeDashboard(server, name, rows, folder = '', fileType = 'csv', filters = []) {
  const reply = await server.call('saveDashboardCpp', [name, JSON.stringify(rows), JSON.stringify(filters), folder, fileType]);
  assert.deepEqual(reply, { ok: true });
}

// Opens the Dashboards tab; the dropdown is filled once the page has started.
export async function openDashboards(page) {
  await page.click('#tab-coming');
  await page.waitForSelector('#pane-coming #dashboardDropdown');
  await page.waitForFunction(() => document.getElementById('dashboardDropdown').options.length > 0);
}

// Opens the Dashboards tab and shows the dashboard of this name.
export async function openDashboard(page, name) {
  await openDashboards(page);
  await choose(page, name);
}

export async function choose(page, name) {
  await page.selectOption('#dashboardDropdown', name);
  await page.waitForFunction((n) => {
    const t = document.querySelector('#dashboardPreview .dash-title');
    return t && t.textContent === n;
  }, name);
}

export const content = (r, c) => `.preview-panel[data-row="${r}"][data-col="${c}"] .panel-content`;

// Waits until a panel shows something other than its loading bar; returns its text.
export async function panelText(page, r, c) {
  const sel = content(r, c);
  await page.waitForFunction((s) => {
    const el = document.querySelector(s);
    return el && !el.querySelector('.dash-loading') && el.textContent.trim() !== '';
  }, sel);
  return page.textContent(sel);
}

// Rows of `source` (a table function call) meeting every condition given, as the engine counts them.
export function engineCount(cwd, source, ...conditions) {
  const where = conditions.filter(Boolean).map((c) => `(${c})`).join(' AND ') || 'true';
  return JSON.parse(runEngine(`SELECT COUNT(*) AS n FROM ${source} WHERE ${where}`, cwd, true))[0].n;
}

// Waits until the paginated table in `sel` shows its first page of `total` rows.
export async function waitRange(page, sel, total) {
  assert.ok(total > 0, 'a test condition leaves rows');
  const text = `1-${Math.min(10, total)} of ${total.toLocaleString('en-US')}`;
  await page.waitForFunction(([s, t]) => {
    const el = document.querySelector(s);
    return el && !el.querySelector('.dash-loading') && el.querySelector('.dash-paged-range')?.textContent === t;
  }, [sel, text]);
}

// The chart click filter's indicator text, or null while it is hidden.
export async function indicator(page) {
  return page.evaluate(() => {
    const box = document.getElementById('chartFilterIndicator');
    return box && getComputedStyle(box).display !== 'none' ? box.textContent : null;
  });
}

// Where the chart in `sel` drew the element of series s (0 for a pie) at category `label`.
export async function elementAt(page, sel, label, s = 0) {
  const view = await chartView(page, sel);
  // Points on a time axis stand at their label's time.
  const item = view.series[s].items.find((i) => (view.xType === 'time' ? i.x === Date.parse(label) : i.name === label));
  assert.ok(item, `${label} drawn in ${sel}`);
  return item.at;
}

export async function clickAt(page, sel, label, s = 0) {
  await pointAt(page, sel, await elementAt(page, sel, label, s), true);
}

// A modal dims the whole window above everything else.
export async function checkModalOverlay(page) {
  const look = await page.$eval('.dash-modal-overlay', (el) => ((s) => [s.position, s.backgroundColor, s.zIndex])(getComputedStyle(el)));
  assert.deepEqual(look, ['fixed', 'rgba(0, 0, 0, 0.7)', '9999']);
}

// Records the page's calls of the named bridge functions in call order; one given a reply with
// answerBridge gets it instead of the native answer until it is called again without one. The
// page looks its bindings up on window at each call, whatever carries them.
export async function watchBridge(page, names) {
  await page.evaluate((list) => {
    window.__watched = [];
    window.__answers = {};
    for (const n of list) {
      const native = window[n];
      window[n] = (...args) => {
        window.__watched.push([n, ...args]);
        return n in window.__answers ? Promise.resolve(window.__answers[n]) : native(...args);
      };
    }
  }, names);
}
// The watched calls since the last look.
export const bridgeCalls = (page) => page.evaluate(() => window.__watched.splice(0));
export const answerBridge = (page, name, reply) =>
  page.evaluate(([n, r]) => (r === undefined ? delete window.__answers[n] : (window.__answers[n] = r)), [name, reply]);

// Waits until the page-side reader `fn(arg)` gives `want`; when it never does, compares the last
// value, so a miss shows what the page holds.
export async function settle(page, fn, arg, want) {
  const src = fn.toString();
  try {
    await page.waitForFunction(([f, a, w]) => JSON.stringify((0, eval)('(' + f + ')')(a)) === w,
      [src, arg, JSON.stringify(want)], { timeout: 20000 });
    return;
  } catch (e) {
    if (e.name !== 'TimeoutError') throw e;
  }
  assert.deepEqual(await page.evaluate(([f, a]) => (0, eval)('(' + f + ')')(a), [src, arg]), want);
}

// Holds the page's calls of a bridge function until released, so a test can look at the page
// while they are on their way; released calls get the native answer.
export async function holdBridge(page, name) {
  await page.evaluate((n) => {
    const native = window[n];
    window.__held = { ...window.__held, [n]: { native, waiting: [] } };
    window[n] = (...args) => new Promise((resolve) => window.__held[n].waiting.push(() => resolve(native(...args))));
  }, name);
}
export const heldCalls = (page, name) => page.evaluate((n) => window.__held[n].waiting.length, name);
export async function releaseBridge(page, name) {
  await page.evaluate((n) => {
    window[n] = window.__held[n].native;
    for (const go of window.__held[n].waiting.splice(0)) go();
  }, name);
}
