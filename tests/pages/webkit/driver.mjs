// A WebKitGTK MiniBrowser session through WebKitWebDriver's HTTP protocol, on a plinthos-dev serve
// with a temporary HOME and data folder. The driver does not support element clicks: pages are
// driven by script. Needs a display (xvfb-run).
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import { startServe, makeTemp, writeConfig, writeFiles } from '../browser/harness.mjs';

export const MINIBROWSER = process.env.MINIBROWSER || '/usr/lib/x86_64-linux-gnu/webkitgtk-6.0/MiniBrowser';
const DRIVER = 'WebKitWebDriver';
const POLL_MS = 200;
const POLLS = 150;

export const missingWebKit = (spawnSync('sh', ['-c', `command -v ${DRIVER}`]).status !== 0 || !fs.existsSync(MINIBROWSER)) &&
  `${DRIVER} or MiniBrowser missing`;

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

// A MiniBrowser session: js(script, ...args) runs a script and answers its value, jsAsync the
// same for a script that calls its last argument, until(script) polls a script until it holds,
// open(url) navigates, resize(width, height) sizes the window, close() ends it.
export async function webkitSession(env = {}) {
  const port = await freePort();
  const driver = spawn(DRIVER, [`--port=${port}`], { env: { ...process.env, ...env }, stdio: 'ignore' });
  const wd = async (method, p, body) => {
    const r = await fetch(`http://127.0.0.1:${port}${p}`, { method, headers: { 'content-type': 'application/json' }, body: body && JSON.stringify(body) });
    const j = await r.json();
    if (j.value && j.value.error) throw new Error(`${p}: ${JSON.stringify(j.value)}`);
    return j.value;
  };
  let sid = null;
  try {
    for (let i = 0; i < 50 && !sid; i++) {
      sid = await wd('POST', '/session', {
        capabilities: { alwaysMatch: { 'webkitgtk:browserOptions': { binary: MINIBROWSER, args: ['--automation'] } } },
      }).then((s) => s.sessionId, () => sleep(POLL_MS).then(() => null));
    }
    if (!sid) throw new Error('no WebKit session');
  } catch (e) {
    driver.kill();
    throw e;
  }
  const js = (script, ...args) => wd('POST', `/session/${sid}/execute/sync`, { script, args });
  return {
    js,
    jsAsync: (script, ...args) => wd('POST', `/session/${sid}/execute/async`, { script, args }),
    async until(script) {
      for (let i = 0; i < POLLS; i++) {
        if (await js(script)) return;
        await sleep(POLL_MS);
      }
      throw new Error('timed out: ' + script);
    },
    open: (url) => wd('POST', `/session/${sid}/url`, { url }),
    resize: (width, height) => wd('POST', `/session/${sid}/window/rect`, { width, height }),
    async close() {
      await wd('DELETE', `/session/${sid}`).catch(() => {});
      driver.kill();
    },
  };
}

// Runs `fn({ js, until, resize, data, server })` on the app's shell page with `files` in the data
// folder; `env` is added to the browser's environment.
export async function withWebKit(files, fn, env = {}) {
  const home = makeTemp('plinthos-home-');
  const data = makeTemp('plinthos-data-');
  writeFiles(data, files);
  writeConfig(home, { bucketPath: data });
  const server = await startServe(home);
  let session = null;
  try {
    session = await webkitSession(env);
    await session.open(server.url);
    await fn({ js: session.js, until: session.until, resize: session.resize, data, server });
  } finally {
    if (session) await session.close();
    await server.stop();
    fs.rmSync(home, { recursive: true, force: true });
    fs.rmSync(data, { recursive: true, force: true });
  }
}
