// Browser benchmarks: headless Chromium against `plinthos-dev serve`, the whole-answer table and charts of the
// Query page and one and four quick filter changes on a dashboard over the benchmark data (BUILD/bench-data, made
// by bench/run.sh), each figure beside the engine program running the same statements in the same
// run, measured and engine runs alternating. Appends its section to the report.
//
//   PLINTHOS_DEV=build/plinthos-dev node bench/browser_bench.mjs --report FILE [--data DIR] [--quick] [--reps N]
//     [--only charts]   (the 100,000-row line and area chart figures alone)
//     [--only dashboard] (the dashboard's filter change and save figures alone)
//     [--only editor]   (the SQL editor's typing, completion-list and page-load figures alone;
//                        editor-load: the page load alone)
//     [--baseline-dev PATH]  (a plinthos-dev built before the editor: its page load, alternating,
//                             is the load figure's floor, its typing into a text area the typing
//                             figure's)
//     [--webkit]        (the editor's load figure in WebKitGTK's MiniBrowser too, the window's own
//                        engine; needs a display: run under xvfb-run -a)
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startServe, launchBrowser, openApp, makeTemp, writeConfig, runningEngines, ENGINE, DEV } from '../tests/pages/browser/harness.mjs';
import { missingWebKit, webkitSession } from '../tests/pages/webkit/driver.mjs';

const MiB = 1024 * 1024;
const WAIT_MS = 10000;
const FIRST_ROWS_GOAL = 1.5;
const SCROLL_GOAL_MS = 100;
const DASHBOARD_GOAL = 1.3;
const CHART_DRAW_GOAL_MS = 150;
const CHART_TASK_GOAL_MS = 200;
const CHART_RUN_GOAL = 2;
const MILLION_TASK_GOAL_MS = 100;
const MILLION_HEAP_GOAL_MIB = 50;
const CHART_ROWS = 'SELECT range AS x, SUM((range * 7919) % 1000) AS y FROM range(100000) GROUP BY range ORDER BY x';
const EDITOR_TASK_GOAL_MS = 16;
const COMPLETION_GOAL_MS = 50;
const LOAD_GOAL_MS = 100;
const TYPED_CHARS = 1000;
const SCRIPT_LINES = 2000;
const WIDE_COLUMNS = 2000;
const CLOCK_TICKS = 100; // the kernel's USER_HZ in /proc/PID/stat
const TEN_COLUMNS = `SELECT range AS id, SUM(range) AS total, COUNT(*) AS n, MIN(range % 97) AS m97, MAX(range * 3) AS x3,
  AVG(range) AS mean, SUM(range) / 7 AS seventh, 'item ' || range AS label,
  DATE '2020-01-01' + CAST(range % 3650 AS INTEGER) AS day, range % 2 = 0 AS even
FROM range(100000) GROUP BY range ORDER BY id`;
const MILLION = "SELECT range AS id, SUM(range) AS s, 'text ' || range AS t FROM range(1000000) GROUP BY range ORDER BY id";

function options(argv) {
  const o = { reps: 0, quick: false, report: '', only: '', data: path.join(path.dirname(DEV), 'bench-data') };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--quick') o.quick = true;
    else if (argv[i] === '--reps') o.reps = Number(argv[++i]);
    else if (argv[i] === '--report') o.report = argv[++i];
    else if (argv[i] === '--only') o.only = argv[++i];
    else if (argv[i] === '--data') o.data = path.resolve(argv[++i]);
    else if (argv[i] === '--baseline-dev') o.baselineDev = path.resolve(argv[++i]);
    else if (argv[i] === '--webkit') o.webkit = true;
  }
  return o;
}
const opts = options(process.argv.slice(2));
const reps = (normal) => opts.reps || (opts.quick ? Math.max(2, Math.floor(normal / 3)) : normal);

// ---------------------------------------------------------------------------------------------
// Statistics and the report, in the form of plinthos-bench's table.

function quantile(sorted, q) {
  if (!sorted.length) return 0;
  const pos = q * (sorted.length - 1);
  const lo = Math.floor(pos);
  const hi = Math.min(lo + 1, sorted.length - 1);
  return sorted[lo] + (sorted[hi] - sorted[lo]) * (pos - lo);
}

function stats(values) {
  const v = [...values].sort((a, b) => a - b);
  return { n: v.length, median: quantile(v, 0.5), q1: quantile(v, 0.25), q3: quantile(v, 0.75), min: v[0], max: v[v.length - 1] };
}

function fmt(v, unit) {
  if (unit === 'MiB') return (v / MiB).toFixed(1) + ' MiB';
  if (v >= 1000) return (v / 1000).toFixed(2) + ' s';
  if (v >= 100) return v.toFixed(0) + ' ms';
  if (v >= 10) return v.toFixed(1) + ' ms';
  return v.toFixed(2) + ' ms';
}

function spread(s, unit) {
  if (!s.n) return '';
  if (s.n === 1) return 'n=1';
  return `${fmt(s.min, unit)}–${fmt(s.max, unit)} (IQR ${fmt(s.q1, unit)}–${fmt(s.q3, unit)})`;
}

// row: figure, unit ('ms' or 'MiB'), measured, floor (values, or none for an absolute goal),
// floorName, goal (ratio), goalMs (absolute), goalMoreMs (at most this much over the floor), note.
function reportLine(r) {
  const cell = (t) => String(t).replace(/\|/g, '\\|').replace(/\n/g, ' ');
  if (r.error) return `| ${cell(r.figure)} | 0 | – | ${cell(r.floorName || '–')} | – | – | – | – | not measured: ${cell(r.error)} |`;
  const m = stats(r.measured);
  const note = r.note ? ` (${cell(r.note)})` : '';
  if (!r.floor) {
    const most = r.goalMs || (r.goalMiB && r.goalMiB * MiB);
    const goal = r.goalMs ? `≤ ${r.goalMs} ms` : r.goalMiB ? `≤ ${r.goalMiB} MiB` : 'report';
    const result = most ? (m.median <= most ? 'met' : 'missed') : 'report';
    return `| ${cell(r.figure)} | ${m.n} | ${fmt(m.median, r.unit)} | – | – | – | ${spread(m, r.unit)} | ${goal} | ${result}${note} |`;
  }
  const f = stats(r.floor);
  const ratio = f.median > 0 ? m.median / f.median : 0;
  let sp = spread(m, r.unit);
  if (f.min !== f.max) sp += '; ' + spread(f, r.unit);
  let result = r.goal ? (ratio <= r.goal ? 'met' : 'missed') : 'report';
  let goal = r.goal ? '≤ ' + r.goal.toFixed(2) : 'report';
  if (r.goalMs) {
    result = m.median <= r.goalMs ? 'met' : 'missed';
    goal = `≤ ${r.goalMs} ms`;
  }
  if (r.goalMoreMs) {
    result = m.median - f.median <= r.goalMoreMs ? 'met' : 'missed';
    goal = `≤ floor + ${r.goalMoreMs} ms`;
  }
  return `| ${cell(r.figure)} | ${m.n} | ${fmt(m.median, r.unit)} | ${cell(r.floorName)} | ${fmt(f.median, r.unit)} | ` +
    `${ratio.toFixed(3)} | ${sp} | ${goal} | ${result}${note} |`;
}

// ---------------------------------------------------------------------------------------------
// The engine program, as the services run it: a script on standard input, JSON out.

function engineRun(script, cwd) {
  return new Promise((resolve, reject) => {
    const input = fs.openSync(script, 'r');
    const started = process.hrtime.bigint();
    const child = spawn(ENGINE, [':memory:', '-json'], { cwd, stdio: [input, 'pipe', 'pipe'] });
    fs.closeSync(input);
    child.stdout.on('data', () => {});
    let err = '';
    child.stderr.on('data', (d) => { err += d; });
    child.on('error', reject);
    child.on('close', (code) => {
      if (code !== 0) reject(new Error('engine failed: ' + err));
      else resolve(Number(process.hrtime.bigint() - started) / 1e6);
    });
  });
}

// Each run's statement differs from the last (a numbered comment before it), so that nothing
// keyed by the text can answer a run from an earlier one.
let variation = 0;
function varied(sql) {
  variation += 1;
  return `-- run ${variation}\n${sql}`;
}

function variedScript(work, name, sql) {
  const file = path.join(work, name);
  fs.writeFileSync(file, varied(sql) + ';\n');
  return file;
}

// One unrecorded run of each first, then `n` pairs, the order swapped every pair; `measured` learns
// whether its run counts.
async function alternate(n, measured, floor) {
  const m = [];
  const f = [];
  await measured(false);
  await floor();
  for (let i = 0; i < n; i++) {
    if (i % 2 === 0) { m.push(await measured(true)); f.push(await floor()); } else { f.push(await floor()); m.push(await measured(true)); }
  }
  return [m, f];
}

// ---------------------------------------------------------------------------------------------
// In the page. Both wait on the table's own redraws and stop the clock in the first task after
// the frame that shows the rows.

// Clicks Run and waits for the first body row; resolves with the total and the bridge call's own
// time as the page shows it.
function pageRun(wait) {
  return new Promise((resolve, reject) => {
    const box = document.getElementById('queryResult');
    const t0 = performance.now();
    const timer = setTimeout(() => reject(new Error('no rows drawn')), wait);
    const mo = new MutationObserver(() => {
      if (!box.querySelector('tbody tr:not(.virtual-gap)')) return;
      mo.disconnect();
      clearTimeout(timer);
      requestAnimationFrame(() => setTimeout(() => resolve({
        total: performance.now() - t0,
        bridge: parseFloat(document.getElementById('queryTime').textContent),
      }), 0));
    });
    mo.observe(box, { childList: true, subtree: true });
    document.getElementById('runQueryBtn').click();
  });
}

// Scrolls the result box to `to` (a fraction of its height, or 1 for the very end) and waits until
// drawn rows fill the view below the header, with `lastCell` among them when given.
function pageScroll([to, lastCell, wait]) {
  return new Promise((resolve, reject) => {
    const box = document.getElementById('queryResult');
    const filled = () => {
      const viewBottom = box.getBoundingClientRect().top + box.clientTop + box.clientHeight;
      const head = box.querySelector('th').getBoundingClientRect();
      const rows = Array.from(box.querySelectorAll('tbody tr:not(.virtual-gap)'));
      if (!rows.length) return false;
      const top = rows[0].getBoundingClientRect().top;
      const bottom = rows[rows.length - 1].getBoundingClientRect().bottom;
      // At the very end the table may stop a pixel short of the box's bottom (rounding of its
      // height in the millions of pixels): there, every row up to the last is enough.
      const atEnd = !box.querySelector('tbody').lastElementChild.classList.contains('virtual-gap');
      if (top > head.bottom + 0.5 || (bottom < viewBottom - 0.5 && !atEnd)) return false;
      return !lastCell || rows.some((tr) => tr.cells[0].textContent === lastCell && tr.getBoundingClientRect().bottom <= viewBottom + 1);
    };
    const t0 = performance.now();
    const timer = setTimeout(() => reject(new Error('rows not drawn after scrolling')), wait);
    const finish = () => {
      mo.disconnect();
      clearTimeout(timer);
      setTimeout(() => resolve(performance.now() - t0), 0);
    };
    const mo = new MutationObserver(() => { if (filled()) finish(); });
    mo.observe(box, { childList: true, subtree: true });
    box.scrollTop = to >= 1 ? box.scrollHeight : to * (box.scrollHeight - box.clientHeight);
    if (filled()) finish();
  });
}

function toTop() {
  return new Promise((resolve) => {
    document.getElementById('queryResult').scrollTop = 0;
    requestAnimationFrame(() => requestAnimationFrame(() => resolve()));
  });
}

// ---------------------------------------------------------------------------------------------
// Our own processes, from /proc: the renderer's resident memory (its peak is reset before a run
// and read after) and the browser's CPU time.

// The processes below `ancestor` whose command line holds `marker`.
function ownProcesses(ancestor, marker) {
  const out = [];
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    try {
      const cmd = fs.readFileSync(`/proc/${name}/cmdline`, 'utf8');
      if (!cmd.includes(marker)) continue;
      // Of our own browser, not of another run on the machine.
      let pid = Number(name);
      while (pid > 1 && pid !== ancestor) pid = Number(fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ')[1]);
      if (pid === ancestor) out.push(Number(name));
    } catch (e) {
      // gone meanwhile
    }
  }
  return out;
}

const renderers = (ancestor) => ownProcesses(ancestor, '--type=renderer');

// CPU time (user and system, ms) of each process, by pid; processes gone meanwhile are left out.
function cpuTimes(pids) {
  const out = new Map();
  for (const pid of pids) {
    try {
      const f = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
      out.set(pid, (Number(f[11]) + Number(f[12])) * (1000 / CLOCK_TICKS));
    } catch (e) {
      // gone meanwhile
    }
  }
  return out;
}

function statusKb(pid, key) {
  const m = new RegExp('^' + key + ':\\s+(\\d+) kB', 'm').exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
  return m ? Number(m[1]) * 1024 : 0;
}

// ---------------------------------------------------------------------------------------------

async function figures(page, server, work) {
  const rows = [];
  // 1. The 10-column answer, from the click on Run to its first rows on screen.
  const parts = [];
  const [first, engine] = await alternate(reps(11), async (counts) => {
    await page.fill('#queryInput', varied(TEN_COLUMNS));
    const r = await page.evaluate(pageRun, WAIT_MS * 3);
    if (counts) parts.push(r);
    return r.total;
  }, () => engineRun(variedScript(work, 'ten.sql', TEN_COLUMNS), work));
  const bridge = stats(parts.map((p) => p.bridge)).median;
  const draw = stats(parts.map((p) => p.total - p.bridge)).median;
  // The same bridge call without the browser: how much of it is the page's own.
  const direct = [];
  for (let i = 0; i < reps(5); i++) {
    const t0 = process.hrtime.bigint();
    await (await fetch(server.url + 'bridge/queryDuckCpp', { method: 'POST', body: JSON.stringify([TEN_COLUMNS]) })).text();
    direct.push(Number(process.hrtime.bigint() - t0) / 1e6);
  }
  rows.push({
    figure: '100,000-row, 10-column aggregated answer: from the click on Run to its first rows drawn',
    unit: 'ms', measured: first, floor: engine, floorName: 'engine program, same statement', goal: FIRST_ROWS_GOAL,
    note: `of which the bridge call as the page times it, reply parsed: median ${fmt(bridge, 'ms')} ` +
      `(${fmt(stats(direct).median, 'ms')} when the test sends it to plinthos-dev itself); the table after it: ${fmt(draw, 'ms')}`,
  });

  // 2. The same table scrolled from its top to its last row.
  const lastId = await page.evaluate(() => (99999).toLocaleString());
  const scrolls = [];
  for (let i = 0; i < reps(11); i++) {
    await page.evaluate(toTop);
    scrolls.push(await page.evaluate(pageScroll, [1, lastId, WAIT_MS]));
  }
  rows.push({
    figure: 'the same answer scrolled from its top to its last row: until that row is drawn',
    unit: 'ms', measured: scrolls, goalMs: SCROLL_GOAL_MS,
  });

  // 3. A million rows: time to first rows against the engine, the longest task the page runs
  // meanwhile, scrolls anywhere, and the renderer's peak memory against the reply's size.
  const replyBytes = Buffer.byteLength(await (await fetch(server.url + 'bridge/queryDuckCpp', { method: 'POST', body: JSON.stringify([MILLION]) })).text());
  const procs = renderers(process.pid);
  if (!procs.length) throw new Error('no renderer process of this browser in /proc');
  const cdp = await page.context().newCDPSession(page);
  const heapAfterGc = async () => {
    await cdp.send('HeapProfiler.collectGarbage');
    return (await cdp.send('Runtime.getHeapUsage')).usedSize;
  };
  parts.length = 0;
  const peaks = [];
  let peakError = '';
  const held = [];
  const longest = [];
  const [millionFirst, millionEngine] = await alternate(reps(5), async (counts) => {
    // The previous answer goes first, so that only this run's own memory counts.
    await page.fill('#queryInput', varied(MILLION));
    await page.evaluate(() => { document.getElementById('queryResult').innerHTML = ''; });
    const heapBefore = await heapAfterGc();
    const before = new Map(procs.map((p) => [p, statusKb(p, 'VmRSS')]));
    try {
      for (const p of procs) fs.writeFileSync(`/proc/${p}/clear_refs`, '5');
    } catch (e) {
      peakError = 'the peak of resident memory cannot be reset here: ' + e.message;
    }
    await page.evaluate(() => {
      window.__longest = 0;
      window.__tasks = new PerformanceObserver((l) => { for (const e of l.getEntries()) window.__longest = Math.max(window.__longest, e.duration); });
      window.__tasks.observe({ type: 'longtask' });
    });
    const r = await page.evaluate(pageRun, WAIT_MS * 6);
    const task = await page.evaluate(() => { window.__tasks.disconnect(); return window.__longest; });
    const peak = Math.max(...procs.map((p) => statusKb(p, 'VmHWM') - before.get(p)));
    const heap = (await heapAfterGc()) - heapBefore;
    if (counts) {
      longest.push(task);
      peaks.push(peak);
      held.push(heap);
      parts.push(r);
    }
    return r.total;
  }, () => engineRun(variedScript(work, 'million.sql', MILLION), work));
  const jumps = [];
  for (const to of [0.5, 0.13, 0.87, 0.31, 0.69, 1, 0.05, 0.95, 0.42].slice(0, reps(9))) {
    jumps.push(await page.evaluate(pageScroll, [to, '', WAIT_MS]));
  }
  const drawn = await page.$$eval('#queryResult tbody tr:not(.virtual-gap)', (trs) => trs.length);
  await cdp.detach();
  rows.push({
    figure: '1,000,000-row aggregated answer: from the click on Run to its first rows drawn',
    unit: 'ms', measured: millionFirst, floor: millionEngine, floorName: 'engine program, same statement',
    note: `the bridge call as the page times it, reply parsed: median ${fmt(stats(parts.map((p) => p.bridge)).median, 'ms')}`,
  });
  rows.push({
    figure: "the longest task on the page's thread while it loads", unit: 'ms', measured: longest,
    goalMs: MILLION_TASK_GOAL_MS, note: 'tasks under 50 ms are not reported by the browser and count as 0',
  });
  rows.push({
    figure: 'the same answer scrolled to places across it: until the view is filled with rows',
    unit: 'ms', measured: jumps, note: `${drawn} rows in the document`,
  });
  const whole = `(the whole answer through queryDuckCpp is ${fmt(replyBytes, 'MiB')})`;
  rows.push({
    figure: `its renderer's peak memory growth during the run ${whole}`,
    unit: 'MiB', measured: peaks, error: peakError,
  });
  rows.push({
    figure: `the page's script memory holding the answer, after garbage collection ${whole}`,
    unit: 'MiB', measured: held, goalMiB: MILLION_HEAP_GOAL_MIB,
  });
  return rows;
}

// ---------------------------------------------------------------------------------------------
// A dashboard over the 10M-row data: three charts, three paginated tables, a text filter and a
// multi-value filter, both stored with a value. A change of the text filter's value draws the
// dashboard anew and reloads every panel and both value lists.

const DASH_NAME = 'Sales overview';
const DASH_FIGURE = 'dashboard of 3 charts and 3 paginated tables with 2 filters on the 10M rows: ' +
  'from a filter change until every panel and value list is drawn';
const DASH_FLOOR = 'engine program, the statements the page sent, back to back';
const QUICK_FIGURE = 'the same dashboard, four filter changes 80 ms apart: from the first change until every panel and ' +
  'value list shows the last';
const DASH_FLOOR_ONE = "engine program, one change's statements, back to back";
const DASH_FLOOR_SLOWEST = "engine program, the slowest of the change's statements alone";
const SAVE_FIGURE = 'saving a dashboard while a filter change loads its 6 panels: from the call until stored and answered';
const SAVE_FLOOR = 'the same save with nothing running';
const SAVE_GOAL_MS = 200;
const QUICK_GOAL = 1.3;
const QUICK_GAP_MS = 80;
const DASH_QUERIES = {
  'revenue by category': 'SELECT product_category, SUM(sale_amount) AS revenue FROM {path-to-files} GROUP BY product_category ORDER BY product_category',
  'units by month': "SELECT date_trunc('month', sale_date) AS month, SUM(quantity) AS units FROM {path-to-files} GROUP BY month ORDER BY month",
  'returned share': "SELECT CASE WHEN is_return THEN 'returned' ELSE 'kept' END AS outcome, COUNT(id) AS sales FROM {path-to-files}\nGROUP BY outcome ORDER BY outcome",
  sales: 'SELECT id, sale_date, product_name, region, sale_amount FROM {path-to-files} ORDER BY id',
  'top products': 'SELECT product_name, COUNT(*) AS orders, SUM(sale_amount) AS revenue FROM {path-to-files}\nGROUP BY product_name ORDER BY revenue DESC',
  returns: 'SELECT id, sale_date, customer_id, product_name, quantity FROM {path-to-files} WHERE is_return ORDER BY id',
};
const DASH_LAYOUT = [
  { cells: [
    { name: 'Revenue by category', query: 'revenue by category', chartType: 'bar', flex: 4 },
    { name: 'Units by month', query: 'units by month', chartType: 'line', flex: 4 },
    { name: 'Returned share', query: 'returned share', chartType: 'pie', flex: 4 },
  ] },
  { cells: [
    { name: 'Sales', query: 'sales', chartType: 'paginated', flex: 4 },
    { name: 'Top products', query: 'top products', chartType: 'paginated', flex: 4 },
    { name: 'Returns', query: 'returns', chartType: 'paginated', flex: 4 },
  ] },
];
const DASH_FILTERS = [
  { column: 'region', type: 'text', value: 'North' },
  { column: 'product_category', type: 'multiselect', value: null, values: ['Books', 'Toys'] },
];
// The text filter's value goes back and forth between these, starting from the stored one.
const DASH_VALUES = ['South', 'North'];

// In the page, once: the statements the page sends, each with the times it was sent and answered,
// and the state of the shown dashboard: 'wait', 'ok', or what a panel or list shows instead of
// its data.
function installDashboardProbe() {
  const send = window.queryDuckCpp;
  window.__sent = [];
  window.queryDuckCpp = (sql, ...rest) => {
    const call = { sql, sent: performance.now(), replied: 0, cancelled: false };
    window.__sent.push(call);
    return send(sql, ...rest).then((r) => {
      call.cancelled = !!(r && r.cancelled);
      return r;
    }).finally(() => { call.replied = performance.now(); });
  };
  window.__dashboardState = () => {
    const panels = document.querySelectorAll('#dashboardPreview .preview-panel .panel-content');
    if (!panels.length) return 'wait';
    for (const p of panels) {
      if (p.querySelector('.dash-loading')) return 'wait';
      const note = p.querySelector('.dash-panel-note');
      if (note) return 'a panel shows: ' + note.textContent;
      if (!p.querySelector('.dash-chart canvas, .dash-paged')) return 'wait';
    }
    const bar = document.getElementById('activeFiltersPreview');
    if (!bar || !bar.children.length) return 'wait';
    for (const count of bar.querySelectorAll('.filter-count')) {
      if (!count.textContent) return 'wait';
      if (!/^\d+\/\d+$/.test(count.textContent)) return 'a value list shows: ' + count.textContent + ' ' + count.title;
    }
    return 'ok';
  };
}

// Chooses `value` in the text filter's select of the shown dashboard and waits until every panel
// and list is drawn; resolves with the time, the statements sent, and when the first was sent and
// the last answered.
function pageFilterChange([column, value, wait]) {
  return new Promise((resolve, reject) => {
    const select = document.getElementById('filter-select-preview-' + column);
    if (!select || !Array.from(select.options).some((o) => o.value === value)) throw new Error(`${value} is not listed for ${column}`);
    window.__sent = [];
    let mo = null;
    const timer = setTimeout(() => {
      mo.disconnect();
      reject(new Error('not drawn after the change: ' + window.__dashboardState()));
    }, wait);
    const t0 = performance.now();
    mo = new MutationObserver(() => {
      const state = window.__dashboardState();
      if (state === 'wait') return;
      mo.disconnect();
      clearTimeout(timer);
      if (state !== 'ok') {
        reject(new Error(state));
        return;
      }
      requestAnimationFrame(() => setTimeout(() => {
        const calls = window.__sent;
        resolve({
          total: performance.now() - t0,
          sql: calls.map((c) => c.sql),
          firstSent: Math.min(...calls.map((c) => c.sent)) - t0,
          lastReply: Math.max(...calls.map((c) => c.replied)) - t0,
        });
      }, 0));
    });
    mo.observe(document.getElementById('dashboardPreview'), { childList: true, subtree: true, characterData: true });
    select.value = value;
    select.dispatchEvent(new Event('input', { bubbles: true }));
    select.dispatchEvent(new Event('change', { bubbles: true }));
  });
}

// Four changes of the text filter `gap` ms apart, as the select's change handler makes them; waits
// until every panel and list shows the last one and resolves with the time from the first
// change, the statements sent and how many of them were stopped.
function pageQuickChanges([column, values, gap, wait]) {
  return new Promise((resolve, reject) => {
    window.__sent = [];
    let last = false;
    let mo = null;
    const timer = setTimeout(() => {
      mo.disconnect();
      reject(new Error('not drawn after the changes: ' + window.__dashboardState()));
    }, wait);
    const t0 = performance.now();
    mo = new MutationObserver(() => {
      const state = last ? window.__dashboardState() : 'wait';
      if (state === 'wait') return;
      mo.disconnect();
      clearTimeout(timer);
      const shown = document.getElementById('filter-select-preview-' + column).value;
      if (state !== 'ok' || shown !== values[values.length - 1]) {
        reject(new Error(state !== 'ok' ? state : `the filter shows ${shown}`));
        return;
      }
      requestAnimationFrame(() => setTimeout(() => {
        const calls = window.__sent;
        resolve({ total: performance.now() - t0, sent: calls.length, stopped: calls.filter((c) => c.cancelled).length });
      }, 0));
    });
    mo.observe(document.getElementById('dashboardPreview'), { childList: true, subtree: true, characterData: true });
    values.forEach((v, i) => setTimeout(() => {
      window.dashUpdateFilterPreview(column, v);
      last = i === values.length - 1;
    }, i * gap));
  });
}

// Clicks Run with a chart type chosen and waits for the chart; resolves with the time from the
// answer's arrival to the first task after the frame that shows the chart, and the longest task
// that ended meanwhile.
function pageChartRun(wait) {
  return new Promise((resolve, reject) => {
    const box = document.getElementById('queryResult');
    const timer = setTimeout(() => reject(new Error('no chart drawn')), wait);
    const tasks = [];
    const observer = new PerformanceObserver((l) => tasks.push(...l.getEntries()));
    observer.observe({ type: 'longtask' });
    // The answer arrives through whichever call the page makes for it.
    for (const name of ['queryDuckCpp', 'holdQueryCpp']) {
      const plain = '__plain_' + name;
      if (window[plain] || typeof window[name] !== 'function') continue;
      window[plain] = window[name];
      window[name] = async (...args) => {
        const reply = await window[plain](...args);
        window.__arrived = performance.now();
        return reply;
      };
    }
    window.__arrived = null;
    const clicked = performance.now();
    box.innerHTML = '';
    const mo = new MutationObserver(() => {
      if (!box.querySelector('.query-chart canvas')) return;
      mo.disconnect();
      clearTimeout(timer);
      requestAnimationFrame(() => setTimeout(() => {
        const done = performance.now();
        observer.takeRecords().forEach((e) => tasks.push(e));
        observer.disconnect();
        const during = tasks.filter((e) => e.startTime + e.duration >= window.__arrived);
        resolve({ run: done - clicked, drawn: done - window.__arrived, longest: Math.max(0, ...during.map((e) => e.duration)) });
      }, 0));
    });
    mo.observe(box, { childList: true, subtree: true });
    document.getElementById('runQueryBtn').click();
  });
}

// A 100,000-row, two-column answer drawn as a line and as an area chart.
async function chartFigures(browser, server, work) {
  const page = await openUncompressed(browser, server);
  await page.fill('#queryInput', CHART_ROWS);
  await page.click('#runQueryBtn');
  await page.waitForSelector('#chartType', { state: 'visible', timeout: WAIT_MS * 6 });
  const rows = [];
  for (const type of ['line', 'area']) {
    await page.selectOption('#chartType', type);
    const runs = [];
    const [measured, floor] = await alternate(reps(7), async (counts) => {
      await page.fill('#queryInput', varied(CHART_ROWS));
      const r = await page.evaluate(pageChartRun, WAIT_MS * 6);
      if (counts) runs.push(r);
      return r.run;
    }, () => engineRun(variedScript(work, 'chart.sql', CHART_ROWS), work));
    const what = `100,000-row two-column answer as ${type === 'line' ? 'a line' : 'an area'} chart`;
    rows.push({
      figure: `${what}: from the click on Run to the chart drawn`, unit: 'ms', measured, floor,
      floorName: 'engine program, same statement', goal: CHART_RUN_GOAL,
    });
    rows.push({
      figure: `${what}: from the answer's arrival to the chart drawn`, unit: 'ms', measured: runs.map((r) => r.drawn),
      goalMs: CHART_DRAW_GOAL_MS,
    });
    rows.push({
      figure: `${what}: the longest task on the page's thread meanwhile`, unit: 'ms',
      measured: runs.map((r) => r.longest), goalMs: CHART_TASK_GOAL_MS,
      note: 'tasks under 50 ms are not reported by the browser and count as 0',
    });
  }
  await page.close();
  return rows;
}

async function dashboardFigure(browser, server, work) {
  const sales = path.join(opts.data, 'sales');
  if (!fs.existsSync(sales)) throw new Error(`no benchmark data in ${opts.data} (bash bench/run.sh makes it)`);
  for (const [name, sql] of Object.entries(DASH_QUERIES)) {
    const saved = await server.call('saveQueryCpp', [name, sql]);
    if (saved !== 'ok') throw new Error('saveQueryCpp: ' + JSON.stringify(saved));
  }
  const stored = await server.call('saveDashboardCpp', [DASH_NAME, JSON.stringify(DASH_LAYOUT), JSON.stringify(DASH_FILTERS), sales, 'parquet']);
  if (!stored || stored.ok !== true) throw new Error('saveDashboardCpp: ' + JSON.stringify(stored));

  const page = await openUncompressed(browser, server);
  await page.evaluate(installDashboardProbe);
  await page.click('#tab-coming');
  await page.waitForFunction((n) => Array.from(document.getElementById('dashboardDropdown')?.options || []).some((o) => o.value === n), DASH_NAME);
  await page.selectOption('#dashboardDropdown', DASH_NAME);
  await page.waitForFunction(() => window.__dashboardState() !== 'wait', null, { timeout: WAIT_MS * 6 });
  const opened = await page.evaluate(() => window.__dashboardState());
  if (opened !== 'ok') throw new Error(opened);

  // The statements of a change to each value, as scripts the floor runs. A floor that runs before
  // its change takes those of the last change to the same value, and that change must send the
  // same ones again.
  const scripts = new Map();
  const parts = [];
  const slowest = [];
  let changes = 0;
  let floors = 0;
  const [measured, floor] = await alternate(reps(11), async (counts) => {
    const value = DASH_VALUES[changes++ % DASH_VALUES.length];
    const browserPids = ownProcesses(process.pid, 'chromium');
    const cpuBefore = cpuTimes(browserPids);
    const r = await page.evaluate(pageFilterChange, ['region', value, WAIT_MS * 6]);
    if (!r.sql.length) throw new Error('the page sent no statement');
    r.browserCpu = 0;
    for (const [pid, ms] of cpuTimes(browserPids)) r.browserCpu += ms - (cpuBefore.get(pid) ?? ms);
    const key = JSON.stringify([...r.sql].sort());
    const known = scripts.get(value);
    if (known && known.key !== key) throw new Error(`the page sent other statements for ${value} than before`);
    if (!known) {
      const files = r.sql.map((sql, i) => {
        const file = path.join(work, `dashboard-${value}-${i}.sql`);
        fs.writeFileSync(file, sql);
        return file;
      });
      scripts.set(value, { key, files });
    }
    if (counts) parts.push(r);
    return r.total;
  }, async () => {
    const { files } = scripts.get(DASH_VALUES[floors++ % DASH_VALUES.length]);
    const t0 = process.hrtime.bigint();
    let longest = 0;
    for (const file of files) longest = Math.max(longest, await engineRun(file, work));
    slowest.push(longest);
    return Number(process.hrtime.bigint() - t0) / 1e6;
  });
  slowest.shift(); // the unrecorded first run
  const med = (key) => fmt(stats(parts.map((p) => p[key])).median, 'ms');
  const one = {
    figure: DASH_FIGURE, unit: 'ms', measured, floor, floorName: DASH_FLOOR, goal: DASHBOARD_GOAL,
    note: `${parts[0].sql.length} statements a change, run side by side as the engine lane allows; the page sent the first ${med('firstSent')} ` +
      `after the change and had the last answer at ${med('lastReply')}; Chromium's processes used ${med('browserCpu')} ` +
      `of CPU time meanwhile, beside the engine on ${os.cpus().length} CPUs`,
  };

  // Four changes 80 ms apart, ending on each value in turn; the floor is one change to the last
  // value, its statements back to back.
  const quick = [];
  let runs = 0;
  let quickFloors = 0;
  const [quickMeasured, quickFloor] = await alternate(reps(7), async (counts) => {
    const end = runs++ % 2;
    const values = [0, 1, 0, 1].map((k) => DASH_VALUES[(k + end + 1) % 2]);
    const r = await page.evaluate(pageQuickChanges, ['region', values, QUICK_GAP_MS, WAIT_MS * 6]);
    if (counts) quick.push(r);
    return r.total;
  }, async () => {
    const { files } = scripts.get(DASH_VALUES[quickFloors++ % 2]);
    const t0 = process.hrtime.bigint();
    for (const file of files) await engineRun(file, work);
    return Number(process.hrtime.bigint() - t0) / 1e6;
  });
  const saves = await saveWhileLoading(page, sales);
  await page.close();
  const qmed = (key) => stats(quick.map((p) => p[key])).median;
  const alone = {
    figure: 'the same filter change, against its slowest statement alone', unit: 'ms', measured, floor: slowest,
    floorName: DASH_FLOOR_SLOWEST, note: 'the closer to 1, the more the panels overlap',
  };
  return [one, alone, saves, {
    figure: QUICK_FIGURE, unit: 'ms', measured: quickMeasured, floor: quickFloor, floorName: DASH_FLOOR_ONE, goal: QUICK_GOAL,
    note: `the page sent ${qmed('sent')} statements for the four changes (median), of which ${qmed('stopped')} were ` +
      'stopped or dropped before they ended',
  }];
}

// In the page: a filter change starts the panels' statements, and once one of them runs a save of
// a copy of the dashboard is timed from its call to its answer; then waits until every panel is
// drawn. Resolves with the time and how many statements were still running at the answer.
function pageSaveWhileLoading([column, value, record, wait]) {
  return new Promise((resolve, reject) => {
    window.__sent = [];
    const timer = setTimeout(() => reject(new Error('no statement ran: ' + window.__dashboardState())), wait);
    window.dashUpdateFilterPreview(column, value);
    const look = async () => {
      if (!window.__sent.some((c) => !c.replied)) {
        requestAnimationFrame(look);
        return;
      }
      const t0 = performance.now();
      const reply = await window.saveDashboardCpp(...record);
      const ms = performance.now() - t0;
      const running = window.__sent.filter((c) => !c.replied).length;
      if (!reply || reply.ok !== true) {
        clearTimeout(timer);
        reject(new Error('saveDashboardCpp: ' + JSON.stringify(reply)));
        return;
      }
      const drawn = () => {
        if (window.__dashboardState() === 'wait') {
          requestAnimationFrame(drawn);
          return;
        }
        clearTimeout(timer);
        resolve({ ms, running });
      };
      drawn();
    };
    requestAnimationFrame(look);
  });
}

async function saveWhileLoading(page, sales) {
  const record = [DASH_NAME + ' (copy)', JSON.stringify(DASH_LAYOUT), JSON.stringify(DASH_FILTERS), sales, 'parquet'];
  const running = [];
  let changes = 0;
  const [measured, floor] = await alternate(reps(11), async (counts) => {
    const value = DASH_VALUES[changes++ % DASH_VALUES.length];
    const r = await page.evaluate(pageSaveWhileLoading, ['region', value, record, WAIT_MS * 6]);
    if (counts) running.push(r.running);
    return r.ms;
  }, () => page.evaluate(async (rec) => {
    const t0 = performance.now();
    await window.saveDashboardCpp(...rec);
    return performance.now() - t0;
  }, record));
  return {
    figure: SAVE_FIGURE, unit: 'ms', measured, floor, floorName: SAVE_FLOOR, goalMs: SAVE_GOAL_MS,
    note: `statements still running when the save answered: ${stats(running).median} (median)`,
  };
}

// Waits until the engine runs a closed page started in the background (the editor's words and
// columns) have ended, so that they never slow the next page measured.
async function settle(servers) {
  await new Promise((r) => setTimeout(r, 300));
  for (const end = Date.now() + 10000; Date.now() < end; await new Promise((r) => setTimeout(r, 20))) {
    if (servers.every((s) => !s || runningEngines(s.child.pid).length === 0)) return;
  }
}

// The SQL editor: typing into a long script, the completion list with many columns known, and
// the Query page's load until the editor takes typing.

// The renderer's main-thread tasks while `work` runs, from Chromium's own trace: every task,
// not only those over 50 ms that the page's long-task observer reports.
async function mainThreadTasks(browser, page, work) {
  await browser.startTracing(page, { categories: ['devtools.timeline', 'disabled-by-default-devtools.timeline'] });
  await work();
  const trace = JSON.parse((await browser.stopTracing()).toString('utf8'));
  const events = trace.traceEvents || trace;
  const main = new Set(events.filter((e) => e.name === 'thread_name' && e.args && e.args.name === 'CrRendererMain')
    .map((e) => `${e.pid}:${e.tid}`));
  return events.filter((e) => e.name === 'RunTask' && e.ph === 'X' && main.has(`${e.pid}:${e.tid}`)).map((e) => e.dur / 1000);
}

// Watches for the completion list drawn after the next key: installed and awaited before the key
// is sent, so the key can never arrive before the watch does. The key's event time and the frame
// after the list first is in the document are kept on window.__completionWatch.
function watchCompletion() {
  const old = document.querySelector('.cm-tooltip-autocomplete');
  const watch = { pressed: null, drawn: null };
  window.__completionWatch = watch;
  document.addEventListener('keydown', (e) => { watch.pressed = e.timeStamp; }, { capture: true, once: true });
  const observer = new MutationObserver(() => {
    const list = document.querySelector('.cm-tooltip-autocomplete li');
    if (watch.pressed === null || !list || list.closest('.cm-tooltip-autocomplete') === old) return;
    observer.disconnect();
    requestAnimationFrame(() => { watch.drawn = performance.now(); });
  });
  observer.observe(document.body, { childList: true, subtree: true });
}

// Milliseconds from the watched key's event to the frame after its completion list.
async function completionDelay(page) {
  const handle = await page.waitForFunction(() => {
    const w = window.__completionWatch;
    return w && w.drawn !== null && w.drawn - w.pressed;
  }, null, { timeout: WAIT_MS, polling: 5 }).catch(() => { throw new Error('no completion list'); });
  return handle.jsonValue();
}

// The longest task on the page's thread while 1,000 characters are typed at the end of a 2,000-line
// script, once per repetition.
async function typingLongest(browser, page) {
  await page.click('#formatSwitch');
  const script = Array.from({ length: SCRIPT_LINES }, (_, i) => `SELECT region, SUM(amount) AS s${i} FROM {path-to-files} WHERE id > ${i} GROUP BY region;`).join('\n');
  const longest = [];
  for (let r = 0; r < reps(3); r++) {
    await page.$eval('#queryInput', (e, v) => { e.value = v; }, script);
    await page.focus('#queryInput');
    await page.keyboard.press('Control+End');
    await page.keyboard.press('Enter');
    const text = 'SELECT amount, region FROM {path-to-files} WHERE amount > 10 ORDER BY region; '.repeat(20).slice(0, TYPED_CHARS);
    const tasks = await mainThreadTasks(browser, page, () => page.keyboard.type(text));
    longest.push(Math.max(0, ...tasks));
  }
  return longest;
}

// A build from before the editor keeps its settings where the macOS layout did.
function writeBaselineConfig(home, config) {
  writeConfig(home, config);
  const legacy = path.join(home, 'Library', 'Application Support', 'Plinthos');
  fs.mkdirSync(legacy, { recursive: true });
  fs.writeFileSync(path.join(legacy, 'config.json'), JSON.stringify(config));
}

// The Query page's ready moment: its tree lists wide.csv and the editor is in place. Runs in the
// page, in both browsers.
function queryPageReady() {
  return Boolean(document.getElementById('queryInput')) &&
    /wide\.csv/.test((document.getElementById('bucketOut') || {}).textContent || '');
}

// For WebDriver's asynchronous execution: answers the time of that moment once it has come.
const WEBKIT_READY = `const done = arguments[arguments.length - 1];
  const ready = ${queryPageReady.toString()};
  (function check() { if (ready()) done(performance.now()); else setTimeout(check, 5); })();`;

// The same load in WebKitGTK's MiniBrowser, alternating with the build from before the editor.
async function webkitLoadFigure(server, baseline) {
  const figure = 'in WebKitGTK (MiniBrowser), the Query page load until its tree is listed and the editor takes typing';
  if (missingWebKit) return { figure, error: missingWebKit };
  const session = await webkitSession();
  try {
    await session.js('return 0');
    const loads = [];
    const before = [];
    const loadOnce = async (srv) => {
      await session.open(srv.url);
      const ms = await session.jsAsync(WEBKIT_READY);
      await session.open('about:blank');
      await settle([server, baseline]);
      return ms;
    };
    for (let i = 0; i < reps(11); i++) {
      loads.push(await loadOnce(server));
      if (baseline) before.push(await loadOnce(baseline));
    }
    const diff = baseline ? stats(loads).median - stats(before).median : 0;
    return {
      figure, unit: 'ms', measured: loads,
      floor: baseline ? before : undefined, floorName: 'the same page before the editor', goalMoreMs: baseline ? LOAD_GOAL_MS : undefined,
      note: baseline ? `${diff.toFixed(0)} ms more than before the editor` : `goal: at most ${LOAD_GOAL_MS} ms more than before the editor`,
    };
  } catch (e) {
    return { figure, error: errorText(e) };
  } finally {
    await session.close();
  }
}

async function editorFigures(browser, server, work) {
  const rows = [];
  const header = Array.from({ length: WIDE_COLUMNS }, (_, i) => `"column ${i}"`).join(',');
  fs.writeFileSync(path.join(work, 'wide.csv'), header + '\n' + Array.from({ length: WIDE_COLUMNS }, (_, i) => i).join(',') + '\n');

  // Load: from navigation to the Query page listed and its editor in place; alternating with the
  // same load of a build from before the editor when one is given.
  const loadOnce = async (srv) => {
    const page = await browser.newPage({ viewport: { width: 1400, height: 900 } });
    await page.setExtraHTTPHeaders({ 'Accept-Encoding': 'identity' });
    await page.goto(srv.url);
    await page.waitForFunction(queryPageReady, null, { polling: 5 });
    const ms = await page.evaluate(() => performance.now());
    await page.close();
    await settle([server, baseline]);
    return ms;
  };
  let baseline = null;
  let typedBefore = null;
  try {
    if (opts.baselineDev) {
      const home = makeTemp('plinthos-bench-home-');
      writeBaselineConfig(home, { bucketPath: work });
      baseline = await startServe(home, ['--exe', path.join(path.dirname(DEV), 'Plinthos.app/Contents/MacOS/Plinthos')], [], opts.baselineDev);
      baseline.home = home;
    }
    const loads = [];
    const before = [];
    for (let i = 0; i < reps(11); i++) {
      loads.push(await loadOnce(server));
      if (baseline) before.push(await loadOnce(baseline));
    }
    const diff = baseline ? stats(loads).median - stats(before).median : 0;
    rows.push({
      figure: 'Query page load, from navigation until its tree is listed and the editor takes typing', unit: 'ms', measured: loads,
      floor: baseline ? before : undefined, floorName: 'the same page before the editor', goalMoreMs: baseline ? LOAD_GOAL_MS : undefined,
      note: baseline ? `${diff.toFixed(0)} ms more than before the editor; goal at most ${LOAD_GOAL_MS} ms more` : `goal: at most ${LOAD_GOAL_MS} ms more than before the editor`,
    });
    if (opts.webkit) rows.push(await webkitLoadFigure(server, baseline));
    if (opts.only === 'editor-load') return rows;
    // The same typing into the text area of the page before the editor: what this machine's
    // browser does with no editor at all.
    if (baseline) {
      const page = await openUncompressed(browser, baseline);
      typedBefore = await typingLongest(browser, page).finally(() => page.close());
    }
  } finally {
    if (baseline) {
      await baseline.stop();
      fs.rmSync(baseline.home, { recursive: true, force: true });
    }
  }
  const page = await openUncompressed(browser, server);
  const longest = await typingLongest(browser, page);
  rows.push({
    figure: `typing ${TYPED_CHARS.toLocaleString('en-US')} characters at the end of a ${SCRIPT_LINES.toLocaleString('en-US')}-line script: the longest task on the page's thread`,
    unit: 'ms', measured: longest, goalMs: EDITOR_TASK_GOAL_MS,
    floor: typedBefore || undefined, floorName: 'the same typing into the text area before the editor',
    note: "from Chromium's trace, every task counted",
  });

  // The completion list with 2,000 columns of {path-to-files} known.
  try {
    await page.$eval('#queryInput', (e) => { e.value = ''; });
    await page.focus('#queryInput');
    await page.keyboard.type('SELECT colu');
    await page.waitForFunction((n) => document.querySelectorAll('.cm-tooltip-autocomplete li').length > 0 &&
      [...document.querySelectorAll('.cm-completionLabel')].some((l) => l.textContent.startsWith('column ')), WIDE_COLUMNS, { timeout: WAIT_MS * 6 })
      .catch(() => {});
    const delays = [];
    for (let r = 0; r < reps(21); r++) {
      await page.focus('#queryInput');
      await page.keyboard.press('Escape');
      await page.$eval('#queryInput', (e) => { e.value = 'SELECT '; });
      await page.keyboard.press('Control+End');
      await page.evaluate(watchCompletion);
      await page.keyboard.type('c');
      delays.push(await completionDelay(page));
    }
    rows.push({
      figure: `completion list drawn after a keystroke, ${WIDE_COLUMNS.toLocaleString('en-US')} columns known`, unit: 'ms',
      measured: delays, goalMs: COMPLETION_GOAL_MS, note: 'from the key event until the frame after the list is in the document',
    });
  } catch (e) {
    rows.push({ figure: 'completion list drawn after a keystroke', error: errorText(e) });
  }
  await page.close();
  return rows;
}

const errorText = (e) => String((e && e.message) || e);

// plinthos-dev compresses replies at brotli's slowest level when the browser offers it (seconds
// for a reply of megabytes); the app's own bridge has no HTTP in between.
async function openUncompressed(browser, server) {
  const page = await openApp(browser, server);
  await page.setExtraHTTPHeaders({ 'Accept-Encoding': 'identity' });
  return page;
}

async function main() {
  const started = Date.now();
  const load = () => os.loadavg().map((l) => l.toFixed(2)).join(' ');
  const loadBefore = load();
  const home = makeTemp('plinthos-bench-home-');
  const work = makeTemp('plinthos-bench-browser-');
  let server;
  let browser;
  let rows;
  let version = '';
  try {
    writeConfig(home, { bucketPath: work });
    server = await startServe(home);
    browser = await launchBrowser();
    version = browser.version();
    rows = [];
    // --only charts measures the chart figures alone.
    if (!opts.only) {
      const page = await openUncompressed(browser, server);
      rows = await figures(page, server, work).catch((e) => [{ figure: 'Query page figures', error: errorText(e) }]);
      await page.close();
    }
    if (!opts.only || opts.only.startsWith('editor')) {
      rows.push(...(await editorFigures(browser, server, work)
        .catch((e) => [{ figure: 'SQL editor figures', error: errorText(e) }])));
    }
    if (!opts.only || opts.only === 'charts') {
      rows.push(...(await chartFigures(browser, server, work)
        .catch((e) => [{ figure: '100,000-row charts', error: errorText(e) }])));
    }
    if (!opts.only || opts.only === 'dashboard') {
      rows.push(...(await dashboardFigure(browser, server, work)
        .catch((e) => [{ figure: DASH_FIGURE, floorName: DASH_FLOOR, error: errorText(e) }])));
    }
  } catch (e) {
    rows = [{ figure: 'browser figures', error: errorText(e) }];
  } finally {
    if (browser) await browser.close();
    if (server) await server.stop();
    fs.rmSync(home, { recursive: true, force: true });
    fs.rmSync(work, { recursive: true, force: true });
  }
  const text = [
    '',
    '## Browser figures',
    '',
    `- Command: \`node bench/browser_bench.mjs\`${opts.quick ? ' --quick' : ''}; headless Chromium ${version} (playwright-core) on the Query and Dashboards pages against \`plinthos-dev serve\`, replies fetched uncompressed; dashboard data: \`${opts.data}\``,
    `- Load average before / after: ${loadBefore} / ${load()}`,
    `- Total browser bench time: ${((Date.now() - started) / 1000).toFixed(0)} s`,
    '',
    '| figure | N | median | floor | floor median | ratio | spread (measured; floor: min–max, IQR) | goal | result |',
    '|---|---|---|---|---|---|---|---|---|',
    ...rows.map(reportLine),
    '',
  ].join('\n');
  if (opts.report) fs.appendFileSync(opts.report, text);
  process.stdout.write(text);
  process.exitCode = rows.some((r) => r.error) ? 1 : 0;
}

await main();
