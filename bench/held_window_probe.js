// Runs inside the main window's page (PLINTHOS_TIMING_PROBE) after the benchmark's settings,
// window.plinthosHeldBench = {cases: [{name, place, statements, kind, waitForKey, scrollAfter}],
// scrolls, scrollFrames, pointsMax, columnReads}:
// for each case, each statement held and its first view drawn, timed by the page from the call
// to the first task after the next frame, with the longest task (or frame gap) meanwhile; then
// scrolls of the last held table to random places and reads of its first column. One line per figure through
// plinthosProbeCpp; the last says "done".
(() => {
  if (window.top !== window || !window.plinthosHeldBench) return;
  const settings = window.plinthosHeldBench;
  const BASE = 'plinthos://answer/';
  const VISIBLE_ROWS = 40; // about what the table shows on the maximised window
  const SCROLL_COUNT = 200;
  const FRAME_MS = 1000 / 60;
  const TIMER_MS = 10;

  const say = (line) => window.plinthosProbeCpp(JSON.stringify(line));
  const drawnAfterFrame = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
  const keyPressed = (key) => new Promise((resolve) => {
    const on = (event) => {
      if (event.key !== key) return;
      event.preventDefault();
      window.removeEventListener('keydown', on, true);
      resolve();
    };
    window.addEventListener('keydown', on, true);
  });

  // The longest task while a figure is taken: from the long-task entries where the engine has
  // them, else from how late a 10 ms timer fires (a task that runs holds it back). The longest
  // gap between frames beside it also counts what the window's drawing waited for. Split at the
  // reply: before it the page only waits, so a delay there is the machine's, not the page's.
  const longTasks = (PerformanceObserver.supportedEntryTypes || []).includes('longtask');
  function watchTasks() {
    let longest = 0;
    let longestFrame = 0;
    let waiting = 0;
    let running = true;
    let observer = null;
    if (longTasks) {
      observer = new PerformanceObserver((list) => {
        for (const entry of list.getEntries()) longest = Math.max(longest, entry.duration);
      });
      observer.observe({ type: 'longtask' });
    } else {
      let due = performance.now() + TIMER_MS;
      const late = () => {
        const now = performance.now();
        longest = Math.max(longest, now - due);
        due = now + TIMER_MS;
        if (running) setTimeout(late, TIMER_MS);
      };
      setTimeout(late, TIMER_MS);
    }
    let lastFrame = performance.now();
    const frame = (now) => {
      longestFrame = Math.max(longestFrame, now - lastFrame - FRAME_MS);
      lastFrame = now;
      if (running) requestAnimationFrame(frame);
    };
    requestAnimationFrame(frame);
    return {
      replied() {
        waiting = Math.max(0, longest);
        longest = 0;
      },
      stop() {
        running = false;
        if (observer) observer.disconnect();
        return { waiting, longest: Math.max(0, longest), longestFrame: Math.max(0, longestFrame) };
      },
    };
  }

  // What the page draws: a table of the rows in sight, a line of the points; over the page, so
  // they are painted.
  const stage = document.createElement('div');
  stage.style.cssText = 'position:fixed;left:0;top:0;right:0;bottom:0;z-index:99999;background:#1e1e2e;color:#cdd6f4;font:12px monospace;overflow:hidden';
  function drawRows(columns, rows) {
    const table = document.createElement('table');
    const head = table.createTHead().insertRow();
    for (const name of columns) head.insertCell().textContent = name;
    const body = table.createTBody();
    for (const row of rows.slice(0, VISIBLE_ROWS)) {
      const line = body.insertRow();
      for (const cell of row) line.insertCell().textContent = cell;
    }
    stage.replaceChildren(table);
  }
  function drawLine(points) {
    const canvas = document.createElement('canvas');
    const width = Math.max(300, window.innerWidth - 100);
    const height = 400;
    canvas.width = width * devicePixelRatio;
    canvas.height = height * devicePixelRatio;
    canvas.style.width = `${width}px`;
    const ctx = canvas.getContext('2d');
    ctx.scale(devicePixelRatio, devicePixelRatio);
    const xs = points.rows.map((row) => Number(row[0]));
    const ys = points.rows.map((row) => Number(row[1]));
    const [x0, x1] = [Math.min(...xs), Math.max(...xs)];
    const [y0, y1] = [Math.min(...ys), Math.max(...ys)];
    ctx.strokeStyle = '#89b4fa';
    ctx.beginPath();
    xs.forEach((x, i) => {
      const px = ((x - x0) / (x1 - x0 || 1)) * width;
      const py = height - ((ys[i] - y0) / (y1 - y0 || 1)) * height;
      if (i) ctx.lineTo(px, py);
      else ctx.moveTo(px, py);
    });
    ctx.stroke();
    stage.replaceChildren(canvas);
  }
  async function fetched(path) {
    const response = await fetch(BASE + path);
    if (!response.ok) throw new Error(`${path}: ${response.status} ${await response.text()}`);
    return response.json();
  }

  async function runCase(run) {
    let held = null;
    for (let rep = 0; rep < run.statements.length; rep++) {
      if (run.waitForKey) {
        const go = keyPressed(run.waitForKey);
        await say({ ready: run.name, rep });
        await go;
      }
      const tasks = watchTasks();
      const started = performance.now();
      held = await window.holdQueryCpp(run.statements[rep], run.place, `bench-${run.name}`);
      const arrived = performance.now();
      tasks.replied();
      if (held.error) throw new Error(`${run.name}: ${held.error}`);
      let fetchedAt = arrived;
      if (run.kind === 'line') {
        const points = await fetched(`${held.answer}/points?x=0&y=1&max=${settings.pointsMax}`);
        fetchedAt = performance.now();
        drawLine(points);
      } else {
        drawRows(held.columns, held.rows);
      }
      await drawnAfterFrame();
      const drawn = performance.now();
      await say({
        case: run.name, rep, reply: arrived - started, fetched: fetchedAt - arrived,
        drawn: drawn - started, rows: held.rowCount, ...tasks.stop(), tasksFrom: longTasks ? 'longtask' : 'timer',
      });
    }
    return held;
  }

  async function scroll(held) {
    // A fixed sequence of places, so two runs scroll alike.
    let seed = 12345;
    const random = () => (seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648;
    for (let i = 0; i <= settings.scrolls; i++) {
      const from = Math.floor(random() * (held.rowCount - SCROLL_COUNT));
      // A page being scrolled is drawn frame after frame; an idle one first wakes its frames.
      const tasks = settings.scrollFrames ? watchTasks() : null;
      if (tasks) await drawnAfterFrame();
      const started = performance.now();
      const page = await fetched(`${held.answer}/rows?from=${from}&count=${SCROLL_COUNT}`);
      const arrived = performance.now();
      drawRows(held.columns, page.rows);
      await drawnAfterFrame();
      const drawn = performance.now();
      if (tasks) tasks.stop();
      await say({ case: 'scroll', rep: i, from, fetched: arrived - started, drawn: drawn - started });
    }
  }

  // A whole numeric column of the held table as the charts read it: what a big read costs
  // through the scheme.
  async function column(held) {
    for (let i = 0; i <= settings.columnReads; i++) {
      const started = performance.now();
      const response = await fetch(`${BASE}${held.answer}/column?c=0`);
      if (!response.ok) throw new Error(`column: ${response.status} ${await response.text()}`);
      const bytes = (await response.arrayBuffer()).byteLength;
      await say({ case: 'column', rep: i, bytes, fetched: performance.now() - started });
    }
  }

  window.addEventListener('load', async () => {
    document.body.appendChild(stage);
    try {
      let lastTable = null;
      for (const run of settings.cases) {
        const held = await runCase(run);
        if (run.scrollAfter) lastTable = held;
      }
      if (lastTable) {
        await scroll(lastTable);
        await column(lastTable);
      }
    } catch (error) {
      await say({ error: String(error) });
    }
    say({ done: true });
  });
})();
