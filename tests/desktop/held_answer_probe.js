// Runs inside the main window's page (PLINTHOS_TIMING_PROBE): holds a generated answer, reads it
// back through the application's scheme and compares every read with the engine's own rows.
// Each check is one line through plinthosProbeCpp; the last says "done". Across the reload it
// asks for, the address's fragment carries the id that the new page must no longer reach.
(() => {
  if (window.top !== window) return;
  const BASE = 'plinthos://answer/';
  const ROWS = 2345;
  const SQL = `SELECT range AS id,
  CASE WHEN range % 5 = 0 THEN NULL ELSE range * 0.5 END AS half,
  'a, "b"' || chr(10) || 'c' || chr(9) || range AS label,
  9007199254740993 + range AS big,
  CASE WHEN range % 7 = 0 THEN NULL ELSE 'x' || range END AS maybe
FROM range(${ROWS}) ORDER BY id`;

  const say = (line) => window.plinthosProbeCpp(JSON.stringify(line));
  const check = (name, ok, detail) => say({ check: name, ok: !!ok, detail: ok ? undefined : detail });
  const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
  const nullKeys = (nulls) => (nulls || []).map(([r, c]) => `${r},${c}`).sort();

  async function get(path) {
    const response = await fetch(BASE + path);
    return { status: response.status, headers: response.headers, body: await response.arrayBuffer() };
  }
  const text = (reply) => new TextDecoder().decode(reply.body);
  const json = (reply) => JSON.parse(text(reply));

  async function firstPage() {
    const bound = ['holdQueryCpp', 'freeAnswerCpp', 'queryDuckCpp'].filter((name) => typeof window[name] !== 'function');
    if (bound.length) {
      check('the bridge functions are bound', false, bound);
      return false;
    }
    const ref = await window.queryDuckCpp(SQL, 'probe-ref');
    const held = await window.holdQueryCpp(SQL, 'query', 'probe-hold');
    if (held.error || ref.error) {
      check('hold and query run', false, { held: held.error, ref: ref.error });
      return false;
    }
    const id = held.answer;
    check('the id is 32 hex digits', /^[0-9a-f]{32}$/.test(id), id);
    check('the hold reply names the columns and counts the rows',
      same(held.columns, ref.columns) && same(held.numericCols, ref.numericCols) && held.rowCount === ROWS,
      { columns: held.columns, rowCount: held.rowCount });
    check('the hold reply carries the first 500 rows', same(held.rows, ref.rows.slice(0, 500)) &&
      same(nullKeys(held.nulls), nullKeys(ref.nulls).filter((k) => +k.split(',')[0] < 500)), held.rows.length);

    const refNulls = (from, count) => nullKeys((ref.nulls || [])
      .filter(([r]) => r >= from && r < from + count).map(([r, c]) => [r - from, c]));
    const ranges = [[0, 200], [1000, 345], [ROWS - 10, 200], [ROWS, 5], [0, ROWS]];
    for (const [from, count] of ranges) {
      const reply = await get(`${id}/rows?from=${from}&count=${count}`);
      const body = reply.status === 200 ? json(reply) : {};
      check(`rows from ${from}, ${count} of them, as the engine wrote them`,
        reply.status === 200 && same(body.rows, ref.rows.slice(from, from + count)) &&
        same(nullKeys(body.nulls), refNulls(from, count)),
        { status: reply.status, got: (body.rows || []).length });
      if (from === 0 && count === 200) {
        check('a read says its type and is neither cached nor closed to the null origin',
          reply.headers.get('content-type').startsWith('application/json') &&
          reply.headers.get('cache-control') === 'no-store', [...reply.headers.entries()]);
      }
    }

    for (let c = 0; c < ref.columns.length; c++) {
      if (!ref.numericCols[c]) continue;
      const reply = await get(`${id}/column?c=${c}`);
      const numbers = new Float64Array(reply.body, 0, ROWS);
      const mask = new Uint8Array(reply.body, 8 * ROWS, ROWS);
      const isNull = new Set(nullKeys(ref.nulls).filter((k) => +k.split(',')[1] === c).map((k) => +k.split(',')[0]));
      let wrong = -1;
      for (let r = 0; r < ROWS && wrong < 0; r++) {
        const expected = isNull.has(r) ? NaN : Number(ref.rows[r][c]);
        const matches = Number.isNaN(expected) ? Number.isNaN(numbers[r]) : numbers[r] === expected;
        if (!matches || mask[r] !== (isNull.has(r) ? 1 : 0)) wrong = r;
      }
      check(`column ${ref.columns[c]} as numbers with its null mask`,
        reply.status === 200 && reply.body.byteLength === 9 * ROWS && wrong < 0,
        { status: reply.status, bytes: reply.body.byteLength, row: wrong, got: numbers[wrong], mask: mask[wrong] });
    }

    const label = ref.columns.indexOf('label');
    const texts = await get(`${id}/texts?c=${label}&from=2000&count=1000`);
    check('the texts of a column with separators in its cells',
      texts.status === 200 && same(json(texts), ref.rows.slice(2000).map((row) => row[label])), texts.status);

    const refusals = [
      ['an unknown id', `${'0'.repeat(32)}/rows?from=0&count=10`, 404],
      ['a short id', 'abc/rows?from=0&count=10', 404],
      ['a column past the last', `${id}/column?c=${ref.columns.length}`, 400],
      ['rows without a count', `${id}/rows?from=0`, 400],
    ];
    for (const [what, path, status] of refusals) {
      const reply = await get(path);
      const body = (() => { try { return json(reply); } catch { return text(reply); } })();
      check(`${what} is refused with ${status}`, reply.status === status &&
        (status !== 404 || same(body, { error: 'No such answer' })), { status: reply.status, body });
    }
    const elsewhere = await fetch('plinthos://other/' + id).then((r) => r.status, (e) => String(e));
    check('a path outside the answers is not found', elsewhere === 404, elsewhere);

    // A new hold on the same place frees the old; freeAnswerCpp frees the new one.
    const again = await window.holdQueryCpp(SQL.replace(`range(${ROWS})`, 'range(3)'), 'query', 'probe-hold');
    check('a new hold on the same place frees the old answer',
      (await get(`${id}/rows?from=0&count=1`)).status === 404 && again.rowCount === 3, again);
    await window.freeAnswerCpp(again.answer);
    check('a freed answer is gone', (await get(`${again.answer}/rows?from=0&count=1`)).status === 404, again.answer);

    const kept = await window.holdQueryCpp(SQL, 'dash:kept', 'probe-kept');
    location.hash = kept.answer;
    check('held before the page goes', (await get(`${kept.answer}/rows?from=0&count=1`)).status === 200, kept);
    await say({ reloading: true });
    location.reload();
    return true;
  }

  async function secondPage(id) {
    const reply = await get(`${id}/rows?from=0&count=1`);
    check('a new page frees what the old one held', reply.status === 404, reply.status);
    say({ done: true });
  }

  window.addEventListener('load', async () => {
    try {
      const carried = location.hash.slice(1);
      if (carried) await secondPage(carried);
      else if (!(await firstPage())) say({ done: true });
    } catch (error) {
      check('the probe ran to its end', false, `${error} at ${error && error.stack}`);
      say({ done: true });
    }
  });
})();
