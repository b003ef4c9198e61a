// Answers held natively: the page fetches the rows in sight, a chart's columns or its points, and
// the held answer agrees with the engine's own rows; freed, unknown and stopped answers are
// refused or cancelled, a million rows scroll to their end, and big charts say what they show.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { withApp, run, runningEngines, waitForFile, waitText } from './harness.mjs';
import { storeQuery, storeDashboard, openDashboards, choose, content } from './dashboard_helpers.mjs';

// Rows with every awkward kind of cell: NULLs, integers past double precision, and texts with
// the CSV format's separators.
const MIXED_ROWS = 2000;
const MIXED = `SELECT range AS i,
  CASE WHEN range % 7 = 0 THEN NULL ELSE range * 1.5 END AS x,
  9007199254740993 + range AS big,
  CASE WHEN range % 5 = 0 THEN NULL WHEN range % 5 = 1 THEN 'a,b "q"' || chr(10) || 'line ' || range ELSE 't' || range END AS s
FROM range(${MIXED_ROWS}) ORDER BY i`;
const MILLION = 1000000;

// In the page: the reply of a hold and what the answer paths then give.
function holdInPage(page, sql, place) {
  return page.evaluate(([s, p]) => holdQueryCpp(s, p, 'heldTest'), [sql, place]);
}

function fetchInPage(page, url, binary) {
  return page.evaluate(async ([u, b]) => {
    const res = await fetch(u);
    if (!b || !res.ok) return { status: res.status, body: await res.text() };
    const buf = await res.arrayBuffer();
    const n = buf.byteLength / 9;
    return { status: res.status, values: Array.from(new Float64Array(buf, 0, n)), nulls: Array.from(new Uint8Array(buf, 8 * n, n)) };
  }, [url, binary]);
}

// The Query page's holds, recorded as they are answered.
async function recordHolds(page) {
  await page.evaluate(() => {
    const real = window.holdQueryCpp;
    window.__holds = [];
    window.holdQueryCpp = async (...args) => {
      const reply = await real(...args);
      window.__holds.push(reply);
      return reply;
    };
  });
}

function lastHold(page) {
  return page.evaluate(() => window.__holds.at(-1));
}

async function scrollTo(page, at) {
  await page.$eval('#queryResult', (box, t) => { box.scrollTop = t * box.scrollHeight; }, at);
}

// Waits until a row whose first cell is `first` is drawn in the result area; returns its cells.
async function drawnRow(page, first) {
  const row = await page.waitForFunction((f) => {
    const tr = Array.from(document.querySelectorAll('#queryResult tbody tr')).find((t) => t.cells[0] && t.cells[0].textContent === f);
    return tr && Array.from(tr.cells).map((td) => td.textContent);
  }, first);
  return row.jsonValue();
}

test('a held answer\'s rows, texts and columns agree with the engine\'s own rows', async () => {
  await withApp({}, async ({ page, server }) => {
    const engine = await server.call('queryDuckCpp', [MIXED]);
    const isNull = new Set((engine.nulls || []).map(([r, c]) => r + ':' + c));
    const held = await holdInPage(page, MIXED, 'probe');
    assert.match(held.answer, /^[0-9a-f]{32}$/);
    assert.deepEqual([held.columns, held.numericCols, held.rowCount], [engine.columns, engine.numericCols, MIXED_ROWS]);
    assert.deepEqual(held.rows, engine.rows.slice(0, held.rows.length));
    const ranges = [
      // [from, count]: first, middle across a NULL, last, past the end
      [0, 10],
      [993, 15],
      [MIXED_ROWS - 10, 10],
      [MIXED_ROWS - 3, 100],
    ];
    for (const [from, count] of ranges) {
      const got = await fetchInPage(page, `/answer/${held.answer}/rows?from=${from}&count=${count}`);
      assert.equal(got.status, 200);
      const body = JSON.parse(got.body);
      const want = engine.rows.slice(from, from + count);
      assert.deepEqual(body.rows, want, `rows ${from}+${count}`);
      const nulls = new Set((body.nulls || []).map(([r, c]) => from + r + ':' + c));
      for (let r = from; r < from + want.length; r++) {
        for (let c = 0; c < engine.columns.length; c++) assert.equal(nulls.has(r + ':' + c), isNull.has(r + ':' + c), `${r}:${c}`);
      }
    }
    // Large integers come whole as texts; the separators of CSV stay inside one cell.
    const texts = JSON.parse((await fetchInPage(page, `/answer/${held.answer}/texts?c=2&from=0&count=3`)).body);
    assert.deepEqual(texts, ['9007199254740993', '9007199254740994', '9007199254740995']);
    const s = JSON.parse((await fetchInPage(page, `/answer/${held.answer}/texts?c=3&from=0&count=${MIXED_ROWS}`)).body);
    assert.deepEqual(s, engine.rows.map((row, r) => (isNull.has(r + ':3') ? null : row[3])));
    assert.equal(s[1], 'a,b "q"\nline 1');
    const x = await fetchInPage(page, `/answer/${held.answer}/column?c=1`, true);
    assert.equal(x.values.length, MIXED_ROWS);
    for (let r = 0; r < MIXED_ROWS; r++) {
      assert.equal(x.nulls[r], isNull.has(r + ':1') ? 1 : 0, String(r));
      if (!x.nulls[r]) assert.equal(x.values[r], Number(engine.rows[r][1]), String(r));
    }
    assert.deepEqual(await page.evaluate((id) => freeAnswerCpp(id), held.answer), { ok: true });
  });
});

test('unknown, freed and malformed requests are refused', async () => {
  await withApp({}, async ({ page }) => {
    await recordHolds(page);
    await run(page, 'SELECT range AS n, SUM(range) AS s FROM range(3000) GROUP BY range ORDER BY n');
    await waitText(page, '#answerNote', /3,000 rows/);
    const first = await lastHold(page);
    await run(page, 'SELECT range AS n, COUNT(*) AS c FROM range(10) GROUP BY range');
    await waitText(page, '#answerNote', /10 rows/);
    const second = await lastHold(page);
    assert.notEqual(first.answer, second.answer);
    const cases = [
      // [url, status]
      [`/answer/${'0'.repeat(32)}/rows?from=0&count=1`, 404],
      [`/answer/${first.answer}/rows?from=0&count=1`, 404],
      [`/answer/${first.answer}/column?c=0`, 404],
      [`/answer/${second.answer}/rows?from=0&count=1`, 200],
      [`/answer/${second.answer}/column?c=9`, 400],
      [`/answer/${second.answer}/rows?from=-1&count=1`, 400],
    ];
    for (const [url, status] of cases) {
      const got = await fetchInPage(page, url);
      assert.equal(got.status, status, url);
      if (status === 404) assert.deepEqual(JSON.parse(got.body), { error: 'No such answer' }, url);
    }
  });
});

test('a held answer freed under the page says so and runs again on request', async () => {
  await withApp({}, async ({ page }) => {
    await recordHolds(page);
    await run(page, `SELECT range AS n, COUNT(*) AS c FROM range(${MILLION}) GROUP BY range ORDER BY n`);
    await drawnRow(page, '0');
    const held = await lastHold(page);
    await page.evaluate((id) => freeAnswerCpp(id), held.answer);
    await scrollTo(page, 0.5);
    assert.match(await waitText(page, '#queryResult', /no longer held/), /no longer held/);
    await page.click('.held-rerun-btn');
    await drawnRow(page, '0');
    assert.equal(await page.textContent('#answerNote'), '1,000,000 rows');
    assert.notEqual((await lastHold(page)).answer, held.answer);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('a dashboard table panel fetches a long answer\'s rows; one freed under it runs again on request', async () => {
  await withApp({}, async ({ page, server }) => {
    await recordHolds(page);
    await storeQuery(server, 'big', `SELECT range AS n, COUNT(*) AS c FROM range(${MILLION}) GROUP BY range ORDER BY n`);
    await storeDashboard(server, 'Big', [{ cells: [{ name: 'All', query: 'big', chartType: 'table', flex: 12 }] }]);
    await openDashboards(page);
    await choose(page, 'Big');
    const box = `${content(0, 0)} .dash-table-box`;
    await page.waitForSelector(`${box} tbody tr td`, { timeout: 60000 });
    const held = await lastHold(page);
    assert.equal(held.rowCount, MILLION);
    await page.evaluate((id) => freeAnswerCpp(id), held.answer);
    await page.$eval(box, (b) => { b.scrollTop = b.scrollHeight / 2; });
    await waitText(page, content(0, 0), /no longer held/);
    await page.click(`${content(0, 0)} .dash-rerun-btn`);
    await page.waitForSelector(`${box} tbody tr td`);
    await page.$eval(box, (b) => { b.scrollTop = b.scrollHeight; });
    await waitText(page, box, /999999/);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('a dashboard chart of a long answer draws the points chosen natively and says so', async () => {
  await withApp({}, async ({ page, server }) => {
    await recordHolds(page);
    await storeQuery(server, 'wave', 'SELECT range AS x, SUM(sin(range / 500.0)) AS y FROM range(100000) GROUP BY range ORDER BY x');
    await storeDashboard(server, 'Wave', [{ cells: [{ name: 'Wave', query: 'wave', chartType: 'line', flex: 12 }] }]);
    await openDashboards(page);
    await choose(page, 'Wave');
    await page.waitForSelector(`${content(0, 0)} canvas`, { timeout: 60000 });
    assert.match(await waitText(page, '.dash-panel-note', /points/), /^[\d,]+ of 100,000 points$/);
    assert.equal((await lastHold(page)).rowCount, 100000);
    // The chart took its points; nothing of the panel stays held.
    const held = await lastHold(page);
    const gone = await fetchInPage(page, `/answer/${held.answer}/rows?from=0&count=1`, false);
    assert.equal(gone.status, 404);
    assert.deepEqual(page.__errors || [], []);
  });
});

test('Stop ends a hold run with the cancelled note; a new run stops an older hold still running', async () => {
  await withApp({}, async ({ page, server }) => {
    const long = 'SELECT x % 1000 AS k, SUM(x) AS s FROM range(6000000000) t(x) GROUP BY k';
    const noEngine = async () => {
      for (const end = Date.now() + 30000; runningEngines(server.child.pid).length; await new Promise((r) => setTimeout(r, 50))) {
        if (Date.now() > end) throw new Error('the engine still runs');
      }
    };
    await run(page, long);
    await page.waitForSelector('#stopQueryBtn', { state: 'visible' });
    await page.click('#stopQueryBtn');
    await waitText(page, '#queryResult', /^Query cancelled\.$/);
    await noEngine();
    // The older hold never takes the newer answer's place: its rows are still there to fetch.
    await run(page, long);
    await page.waitForSelector('#stopQueryBtn', { state: 'visible' });
    await run(page, 'SELECT range AS n, SUM(range) AS s FROM range(3000) GROUP BY range ORDER BY n');
    await waitText(page, '#answerNote', /^3,000 rows$/);
    await noEngine();
    await scrollTo(page, 0.5);
    await drawnRow(page, '1,500');
  });
});

test('a million-row answer scrolls to its end, with no count run for the whole table', async () => {
  await withApp({}, async ({ page }) => {
    const cases = [
      // [sql, choose the whole table, first cell of the last row]
      [`SELECT range AS n, COUNT(*) AS c, 'row ' || range AS t FROM range(${MILLION}) GROUP BY range ORDER BY n`, false, '999,999'],
      [`SELECT range AS n, 'row ' || range AS t FROM range(${MILLION}) ORDER BY n`, true, '999,999'],
    ];
    for (const [sql, choose, last] of cases) {
      await run(page, sql);
      if (choose) {
        await waitText(page, '#queryResult', /1-10 of 1,000,000 rows/);
        await page.evaluate(() => { window.__queries = 0; const q = window.queryDuckCpp; window.queryDuckCpp = (...a) => { window.__queries++; return q(...a); }; });
        await page.selectOption('#chartType', 'table');
      }
      await drawnRow(page, '0');
      assert.equal(await page.textContent('#answerNote'), '1,000,000 rows', sql);
      await scrollTo(page, 1);
      const cells = await drawnRow(page, last);
      assert.equal(cells.at(-1), 'row 999999', sql);
      await scrollTo(page, 0.5);
      // Once the middle rows have come: every one of them, in order.
      const mid = await page.waitForFunction(() => {
        const trs = Array.from(document.querySelectorAll('#queryResult tbody tr:not(.virtual-gap)'));
        const ids = trs.map((t) => (t.classList.contains('virtual-pending') ? NaN : Number(t.cells[0].textContent.replace(/,/g, ''))));
        return trs.length > 20 && ids[0] > 400000 && ids[0] < 600000 && ids.every((id) => !Number.isNaN(id)) && ids;
      });
      const ids = await mid.jsonValue();
      assert.deepEqual(ids, ids.map((_, i) => ids[0] + i), sql);
      if (choose) assert.equal(await page.evaluate(() => window.__queries), 0);
    }
    assert.deepEqual(page.__errors || [], []);
  });
});

test('big charts say what they show: points of a long line, the first rows of other kinds', async () => {
  await withApp({}, async ({ page }) => {
    const cases = [
      // [sql, chart type, note]
      ['SELECT range AS x, SUM(sin(range / 1000.0)) AS y FROM range(100000) GROUP BY range ORDER BY x', 'line', /^([\d,]+) of 100,000 points$/],
      ['SELECT range AS x, SUM(range % 17) AS y FROM range(100000) GROUP BY range ORDER BY x', 'area', /^([\d,]+) of 100,000 points$/],
      ['SELECT range AS x, SUM(range % 17) AS y FROM range(100005) GROUP BY range ORDER BY x', 'bar', /^first 100,000 of 100,005 rows$/],
      ['SELECT range AS x, SUM(range % 17) AS y FROM range(3000) GROUP BY range ORDER BY x', 'line', /^3,000 rows$/],
    ];
    for (const [sql, type, note] of cases) {
      await run(page, sql);
      await waitText(page, '#answerNote', /rows/);
      await page.selectOption('#chartType', type);
      await page.waitForSelector('#queryResult .query-chart canvas');
      const text = await waitText(page, '#answerNote', note);
      // The points handed to the chart, before the library thins them for the pixels.
      const points = await page.evaluate(() => echarts.getInstanceByDom(document.querySelector('#queryResult .query-chart')).getOption().series[0].data.length);
      const shown = note.exec(text)[1];
      if (shown) {
        const n = Number(shown.replace(/,/g, ''));
        assert.ok(n < 100000 && n >= 1000, text);
        assert.equal(points, n, text);
      } else {
        assert.equal(points, /first/.test(text) ? 100000 : 3000, text);
      }
      // The next answer first as a table, so that no chart of this one stands for its chart.
      await page.selectOption('#chartType', 'table');
    }
    assert.deepEqual(page.__errors || [], []);
  });
});

test('the whole answer is exported natively and the page says how many rows', async () => {
  await withApp({}, async ({ page, server, data }) => {
    await run(page, `SELECT range AS n, 'a,b' AS t FROM range(${MILLION}) ORDER BY n`);
    await waitText(page, '#queryResult', /1-10 of 1,000,000 rows/);
    await page.selectOption('#chartType', 'table');
    await drawnRow(page, '0');
    // The export's replies, as they arrive: a cancel must leave the notice as it was.
    await page.evaluate(() => {
      const real = window.saveAnswerCsvCpp;
      window.__saves = 0;
      window.saveAnswerCsvCpp = async (...args) => {
        try {
          return await real(...args);
        } finally {
          window.__saves++;
        }
      };
    });
    const file = path.join(data, 'all.csv');
    const cases = [
      // [dialog answer, notice]
      [file, `Exported 1,000,000 rows to ${file}`],
      ['cancel', ''],
    ];
    for (const [i, [answer, notice]] of cases.entries()) {
      await page.evaluate(() => { document.getElementById('queryNotice').textContent = ''; });
      await server.dialog(answer);
      await page.click('#downloadBtn');
      await page.waitForFunction((n) => window.__saves === n, i + 1);
      assert.equal(await page.textContent('#queryNotice'), notice);
    }
    await waitForFile(file);
    const lines = fs.readFileSync(file, 'utf8').split('\n');
    assert.deepEqual([lines[0], lines[1], lines[MILLION], lines.length], ['n,t', '0,"a,b"', '999999,"a,b"', MILLION + 2]);
    // A file that cannot be written is an error, not an export.
    await server.dialog(path.join(data, 'no', 'such', 'dir.csv'));
    const failed = new Promise((r) => page.once('dialog', async (d) => { r(d.message()); await d.dismiss(); }));
    await page.click('#downloadBtn');
    assert.match(await failed, /^Save failed: /);
    assert.equal(await waitText(page, '#queryNotice', /failed/), 'Save failed');
  });
});
