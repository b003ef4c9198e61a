// The Query page in WebKitGTK's MiniBrowser under LANG=C.UTF-8, where WebKit reports the
// language "C" and would show numbers ungrouped: table cells and chart ticks read en-US.
// Driven by WebKitWebDriver (Debian's webkit2gtk-driver) over its HTTP protocol; its element
// clicks are not supported, so the page is driven by script. Needs a display (run under
// xvfb-run); skipped where the driver or the browser is missing.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import { startServe, makeTemp, writeConfig, writeFiles } from '../browser/harness.mjs';

const MINIBROWSER = process.env.MINIBROWSER || '/usr/lib/x86_64-linux-gnu/webkitgtk-6.0/MiniBrowser';
const DRIVER = 'WebKitWebDriver';
const missing = spawnSync('sh', ['-c', `command -v ${DRIVER}`]).status !== 0 || !fs.existsSync(MINIBROWSER);

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

test('numbers are grouped where WebKit reports the POSIX locale', { skip: missing && `${DRIVER} or MiniBrowser missing` }, async () => {
  const home = makeTemp('plinthos-home-');
  const data = makeTemp('plinthos-data-');
  writeFiles(data, { 'f.csv': 'k,n\nA,3000000\nB,1234567\nC,2500000\n' });
  writeConfig(home, { bucketPath: data });
  const server = await startServe(home);
  const port = await freePort();
  const driver = spawn(DRIVER, [`--port=${port}`], { env: { ...process.env, LANG: 'C.UTF-8', LC_ALL: 'C.UTF-8' }, stdio: 'ignore' });
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
      }).then((s) => s.sessionId, () => sleep(200).then(() => null));
    }
    assert.ok(sid, 'a WebKit session');
    const js = (script, ...args) => wd('POST', `/session/${sid}/execute/sync`, { script, args });
    const until = async (script) => {
      for (let i = 0; i < 150; i++) {
        if (await js(script)) return;
        await sleep(200);
      }
      throw new Error('timed out: ' + script);
    };
    await wd('POST', `/session/${sid}/url`, { url: server.url });
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
  } finally {
    if (sid) await wd('DELETE', `/session/${sid}`).catch(() => {});
    driver.kill();
    await server.stop();
    fs.rmSync(home, { recursive: true, force: true });
    fs.rmSync(data, { recursive: true, force: true });
  }
});
