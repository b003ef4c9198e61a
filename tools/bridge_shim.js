// The page-side stand-in for the web view's bindings, injected before the shell's own script:
// one promise per call, the reply parsed as JSON. Each call is handed to the server's dispatcher
// only after the one before it, so each of its lanes keeps call order; the replies come back
// through one long poll as their calls end, so any number of pending calls hold a single
// connection and the stop function, which skips the lanes, always gets through. The server fills
// in the two name lists.
(() => {
  const QUEUED = __QUEUED_NAMES__;
  const AT_ONCE = __AT_ONCE_NAMES__;
  const POLL_RETRY_MS = 200;
  const page = Date.now().toString(36) + Math.random().toString(36).slice(2);
  const waiting = new Map();
  let count = 0;
  let handedOver = Promise.resolve();
  let polling = false;

  const body = (args) => JSON.stringify(args.map((a) => (a === undefined ? null : a)));

  async function poll() {
    if (polling) return;
    polling = true;
    while (waiting.size) {
      let replies;
      try {
        replies = await (await fetch('/replies?page=' + page)).json();
      } catch (e) {
        await new Promise((r) => setTimeout(r, POLL_RETRY_MS));
        continue;
      }
      for (const [id, value] of replies) {
        const resolve = waiting.get(id);
        waiting.delete(id);
        if (resolve) resolve(value);
      }
    }
    polling = false;
  }

  const queued = (name, args) =>
    new Promise((resolve) => {
      const id = page + ':' + count++;
      waiting.set(id, resolve);
      const request = { method: 'POST', headers: { 'X-Plinthos-Call': id }, body: body(args) };
      handedOver = handedOver
        .then(() => fetch('/bridge/' + encodeURIComponent(name), request))
        .then((r) => {
          if (!r.ok) waiting.delete(id); // an unknown name is never answered
        })
        .catch(() => waiting.delete(id));
      poll();
    });

  const atOnce = (name, args) =>
    fetch('/bridge/' + encodeURIComponent(name), { method: 'POST', body: body(args) })
      .then((r) => r.text())
      .then((t) => JSON.parse(t));

  for (const name of QUEUED) window[name] = (...args) => queued(name, args);
  // For tests: how many calls still wait for their reply.
  window.__bridgePending = () => waiting.size;
  for (const name of AT_ONCE) window[name] = (...args) => atOnce(name, args);
})();
