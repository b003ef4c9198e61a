// The rows of a held answer as a whole table reads them: fetched in blocks as the view moves,
// a bounded number of blocks kept, the least recently wanted dropped first. The block
// arithmetic is pure, for tests.
import { nullCells } from './cells.js';
import { heldRows } from './held.js';

export const HELD_BLOCK_ROWS = 500;
export const HELD_MAX_BLOCKS = 40;
// A fast drag over a long answer wants a new window every frame: fetches beyond these wait,
// and only the latest window waiting is fetched.
const HELD_MAX_IN_FLIGHT = 3;

// The blocks that rows [first, last) lie in, of an answer of `count` rows.
export function blocksOf(first, last, count, size) {
  const out = [];
  const start = Math.max(0, first);
  const end = Math.min(last, count);
  for (let b = Math.floor(start / size); start < end && b * size < end; b++) out.push(b);
  return out;
}

// The blocks to drop so that at most `max` stay: the least recently used first (`order` lists
// them oldest first), never one in `keep`.
export function blocksToDrop(order, keep, max) {
  const drop = [];
  let excess = order.length - max;
  for (const b of order) {
    if (excess <= 0) break;
    if (keep.has(b)) continue;
    drop.push(b);
    excess--;
  }
  return drop;
}

// The blocks of a reply's first rows: every whole block, and a partial one only where the
// answer ends in it.
export function seedBlocks(rows, nulls, count, size) {
  const out = [];
  for (let b = 0; b * size < Math.min(rows.length, count); b++) {
    const end = Math.min((b + 1) * size, count);
    if (rows.length < end) break;
    const from = b * size;
    const inBlock = nulls.filter((p) => Array.isArray(p) && p[0] >= from && p[0] < end).map(([r, c]) => [r - from, c]);
    out.push({ block: b, rows: rows.slice(from, end), nulls: inBlock });
  }
  return out;
}

// The source of a held answer's rows (`answer` is the hold reply): rowAt(r) is the row or
// undefined while it is on its way; want(first, last) asks for the rows in sight, and
// onChange's function runs when a block arrives; onError's runs once, with the failure as
// { error, gone }, and stops further fetches. stop() drops whatever arrives later.
export function heldRowSource(answer, size = HELD_BLOCK_ROWS, maxBlocks = HELD_MAX_BLOCKS) {
  const id = answer.answer;
  const count = Number(answer.rowCount) || 0;
  const blocks = new Map();
  const inFlight = new Set();
  let keep = new Set();
  let waiting = null;
  let stopped = false;
  let failed = false;
  let changed = () => {};
  let failedWith = () => {};

  function store(b, rows, nulls) {
    blocks.delete(b);
    blocks.set(b, { rows, isNull: nullCells({ nulls }) });
  }
  for (const s of seedBlocks(answer.rows || [], answer.nulls || [], count, size)) store(s.block, s.rows, s.nulls);

  function fetchBlock(b) {
    inFlight.add(b);
    return heldRows(id, b * size, Math.min(size, count - b * size)).then((res) => {
      inFlight.delete(b);
      if (stopped || failed) return res;
      if (res.error) {
        failed = true;
        failedWith(res);
        return res;
      }
      store(b, res.value.rows, res.value.nulls);
      for (const d of blocksToDrop(Array.from(blocks.keys()), keep, maxBlocks)) blocks.delete(d);
      changed();
      if (waiting) {
        const [first, last] = waiting;
        waiting = null;
        source.want(first, last);
      }
      return res;
    });
  }

  const source = {
    count,
    rowAt(r) {
      const block = blocks.get(Math.floor(r / size));
      return block ? block.rows[r % size] : undefined;
    },
    isNull(r, c) {
      const block = blocks.get(Math.floor(r / size));
      return Boolean(block && block.isNull(r % size, c));
    },
    // The rows known now, for sizing the columns.
    known() {
      return Array.from(blocks.values()).flatMap((b) => b.rows);
    },
    want(first, last) {
      if (stopped || failed) return;
      const wanted = blocksOf(first, last, count, size);
      keep = new Set(wanted);
      for (const b of wanted) {
        if (blocks.has(b)) {
          // Wanted again: the last to be dropped.
          const block = blocks.get(b);
          blocks.delete(b);
          blocks.set(b, block);
        } else if (!inFlight.has(b)) {
          if (inFlight.size >= HELD_MAX_IN_FLIGHT) {
            waiting = [first, last];
            return;
          }
          fetchBlock(b);
        }
      }
    },
    // Fetches the blocks of rows [first, last) not yet held; resolves with the first failure, or {}.
    async load(first, last) {
      const missing = blocksOf(first, last, count, size).filter((b) => !blocks.has(b));
      const replies = await Promise.all(missing.map(fetchBlock));
      return replies.find((r) => r.error) || {};
    },
    onChange(fn) {
      changed = fn;
    },
    onError(fn) {
      failedWith = fn;
    },
    stop() {
      stopped = true;
    },
  };
  return source;
}
