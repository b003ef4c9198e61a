// Browser-test harness: a real `plinthos-dev serve` on loopback with a temporary HOME, and headless
// Chromium driven by playwright-core.
//
//   import { withApp, runEngine, writeConfig } from './harness.mjs';
//   test('…', () => withApp({ data: { 'a.csv': 'x\n1\n' } }, async ({ page, server, home, data }) => {
//     await server.dialog('/some/path');        // the next native dialog's answer ('cancel' cancels)
//     await server.call('queryDuckCpp', ['SELECT 1']); // a bridge call straight from the test
//     …
//   }));
//
// withApp options: data (files to create in a fresh data folder: name -> text), bucket (true by
// default: configure the data folder as bucketPath before the page opens), config (extra config
// keys), dialogs (answers queued before the page opens), servePrefix (a command the server is
// started through). The page is opened on the shell and waits
// until the Query page's tree has loaded. Everything made is removed afterwards.
// The page's own text escaping helper is `escapeHtml` (pages/common/escape.js).
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

export const DEV = path.resolve(process.env.PLINTHOS_DEV || 'build/plinthos-dev');
export const ENGINE = path.join(path.dirname(DEV), 'Plinthos.app/Contents/Resources/duckdb');
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const START_TIMEOUT_MS = 15000;

export function makeTemp(prefix) {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

export function configPath(home) {
  return path.join(home, '.config', 'plinthos', 'config.json');
}

export function writeConfig(home, config) {
  fs.mkdirSync(path.dirname(configPath(home)), { recursive: true });
  fs.writeFileSync(configPath(home), JSON.stringify(config, null, 2));
}

export function readConfig(home) {
  return JSON.parse(fs.readFileSync(configPath(home), 'utf8'));
}

// Runs SQL on the engine program in `cwd`; returns stdout (throws on failure).
export function runEngine(sql, cwd, json = false) {
  const args = [':memory:'];
  if (json) args.push('-json');
  const r = spawnSync(ENGINE, args, { cwd, input: sql, encoding: 'utf8' });
  if (r.error) throw r.error;
  if (r.status !== 0) throw new Error(`engine failed: ${r.stdout}${r.stderr}`);
  return r.stdout;
}

// Engine processes started by `pid` or its descendants that still run (zombies run nothing).
export function runningEngines(pid) {
  const children = new Map();
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
      const [state, ppid] = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      if (!children.has(ppid)) children.set(ppid, []);
      children.get(ppid).push({ pid: entry, state });
    } catch {
      // ended meanwhile
    }
  }
  const found = [];
  const walk = (p) => {
    for (const child of children.get(String(p)) || []) {
      let argv0 = '';
      try {
        argv0 = fs.readFileSync(`/proc/${child.pid}/cmdline`, 'utf8').split('\0')[0];
      } catch {
        // ended meanwhile
      }
      if (argv0 === ENGINE && child.state !== 'Z') found.push(child.pid);
      walk(child.pid);
    }
  };
  walk(pid);
  return found;
}

export function writeFiles(root, files) {
  for (const [name, text] of Object.entries(files || {})) {
    const p = path.join(root, name);
    fs.mkdirSync(path.dirname(p), { recursive: true });
    fs.writeFileSync(p, text);
  }
}

// Waits until a file that the app writes exists and its size has stopped changing.
export async function waitForFile(file, timeoutMs = 10000) {
  let last = -1;
  for (const end = Date.now() + timeoutMs; Date.now() < end; await new Promise((r) => setTimeout(r, 100))) {
    const size = fs.existsSync(file) ? fs.statSync(file).size : -1;
    if (size >= 0 && size === last) return;
    last = size;
  }
  throw new Error(`${file} was not written`);
}

// `prefix` runs the server through another program first (for example setpriv); `dev` may name
// another build's plinthos-dev (the benchmarks compare with one).
export async function startServe(home, extraArgs = [], prefix = [], dev = DEV) {
  const argv = [...prefix, dev, ...extraArgs, 'serve'];
  const child = spawn(argv[0], argv.slice(1), {
    env: { ...process.env, HOME: home, XDG_CONFIG_HOME: '', XDG_DATA_HOME: '' },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let stderr = '';
  child.stderr.on('data', (d) => { stderr += d; });
  const url = await new Promise((resolve, reject) => {
    let out = '';
    const timer = setTimeout(() => reject(new Error('serve did not start: ' + stderr)), START_TIMEOUT_MS);
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/listening on (http:\/\/127\.0\.0\.1:\d+\/)/);
      if (m) { clearTimeout(timer); resolve(m[1]); }
    });
    child.on('exit', (code) => { clearTimeout(timer); reject(new Error(`serve exited ${code}: ${stderr}`)); });
  });
  return {
    url,
    child,
    async dialog(answer) {
      await fetch(url + 'dialog', { method: 'POST', body: answer });
    },
    async call(name, args = []) {
      const r = await fetch(url + 'bridge/' + name, { method: 'POST', body: JSON.stringify(args) });
      return JSON.parse(await r.text());
    },
    async stop() {
      if (child.exitCode !== null) return;
      const done = new Promise((r) => child.once('exit', r));
      child.kill('SIGTERM');
      await done;
    },
  };
}

export async function launchBrowser() {
  // Playwright gives Chromium a temporary profile of its own and removes it on close.
  return chromium.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// Opens the shell page and waits until the Query page has listed its folder.
export async function openApp(browser, server, viewport = { width: 1400, height: 900 }) {
  const page = await browser.newPage({ viewport });
  page.on('pageerror', (e) => { page.__errors = (page.__errors || []).concat(String(e)); });
  await page.goto(server.url);
  await page.waitForSelector('#pane-bucket #bucketOut');
  await page.waitForFunction(() => {
    const out = document.getElementById('bucketOut');
    return out && out.textContent.trim() !== '' && out.textContent.trim() !== 'Loading...';
  });
  return page;
}

export async function withApp(options, fn) {
  const home = makeTemp('plinthos-home-');
  const data = makeTemp('plinthos-data-');
  let server;
  let browser;
  try {
    writeFiles(data, options.data);
    const config = { ...(options.config || {}) };
    if (options.bucket !== false) config.bucketPath = data;
    if (Object.keys(config).length) writeConfig(home, config);
    server = await startServe(home, [], options.servePrefix);
    for (const answer of options.dialogs || []) await server.dialog(answer);
    browser = await launchBrowser();
    const page = await openApp(browser, server, options.viewport);
    await fn({ page, server, home, data, browser });
  } finally {
    if (browser) await browser.close();
    if (server) await server.stop();
    fs.rmSync(home, { recursive: true, force: true });
    fs.rmSync(data, { recursive: true, force: true });
  }
}

// Records the arguments of every call of the bridge function `name` from now on in
// window.__calls[name], still answering as before.
export async function recordCalls(page, name) {
  await page.evaluate((n) => {
    window.__calls = window.__calls || {};
    const calls = (window.__calls[n] = []);
    const real = window[n];
    window[n] = (...args) => {
      calls.push(args);
      return real(...args);
    };
  }, name);
}

// The first arguments of the recorded calls of `name`.
export function recordedCalls(page, name) {
  return page.evaluate((n) => ((window.__calls || {})[n] || []).map((a) => a[0]), name);
}

// The absolute path of the folder drawn selected in the tree, or '' when none is.
export function selectedFolder(page) {
  return page.evaluate(() => {
    const row = document.querySelector('#bucketOut .folder-row.selected');
    return row ? row.dataset.path : '';
  });
}

// Types `sql` into the Query page's editor and runs it.
export async function run(page, sql) {
  await page.fill('#queryInput', sql);
  await page.click('#runQueryBtn');
}

// The text of `sel` once it matches `pattern`.
export async function waitText(page, sel, pattern) {
  await page.waitForFunction(([s, p]) => {
    const el = document.querySelector(s);
    return el && new RegExp(p).test(el.textContent);
  }, [sel, pattern.source]);
  return page.textContent(sel);
}
