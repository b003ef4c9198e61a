// Tables of whole answers that cost only what is in sight: the document holds the rows within
// the scroll box's view plus a margin, and spacer rows above and below stand in for the rest, so
// the scroll bar tells the answer's length and the sticky header stays on top. Scrolling redraws
// the rows at most once a frame. The window arithmetic and the markup are pure, for tests.
import { cellHtml, headHtml, NULL_TEXT } from './cells.js';
import { escapeHtml } from './escape.js';
import { NUMBER_FORMAT } from './numbers.js';

const VIRTUAL_MARGIN_ROWS = 20;
// Under any real row height: a draw before the first measurement shows rows to spare, never too few.
const VIRTUAL_GUESS_ROW_HEIGHT = 16;
// Browsers stop laying out boxes somewhere between 17 and 33 million pixels tall. Taller answers
// are spread over this height, a pixel of scrolling then passing more than a pixel of rows.
const VIRTUAL_MAX_HEIGHT = 15000000;
// The widest fraction a number shows, with the locale's decimal separator.
const VIRTUAL_FRACTION = NUMBER_FORMAT.format(0.888).slice(1);

// The rows to draw, [first, last), for a scroll position measured from the top of the first row,
// and the heights of the spacers above and below them.
export function virtualWindow(scrollTop, viewHeight, rowHeight, rowCount, margin, maxHeight) {
  const n = rowCount;
  const h = rowHeight;
  const capped = n * h > maxHeight;
  const total = capped ? maxHeight : n * h;
  const range = Math.max(0, total - viewHeight);
  const s = Math.min(Math.max(0, scrollTop), range);
  // The row, with its fraction, at the top of the view.
  const at = capped && range > 0 ? (s / range) * Math.max(0, n - viewHeight / h) : s / h;
  const seen = Math.min(n, Math.floor(at));
  const seenEnd = Math.min(n, Math.ceil(at + viewHeight / h));
  let first = Math.max(0, seen - margin);
  let last = Math.min(n, seenEnd + margin);
  if (!capped) return { first, last, top: first * h, bottom: (n - last) * h };
  // Spread rows pass faster than the scroll, so near either end fewer spare rows fit beside the view.
  first = Math.min(seen, Math.max(first, Math.ceil(at - s / h - 1e-9)));
  last = Math.max(seenEnd, Math.min(last, Math.floor(at + (total - s) / h + 1e-9)));
  const top = Math.max(0, s - (at - first) * h);
  return { first, last, top, bottom: Math.max(0, total - top - (last - first) * h) };
}

// The same text as toLocaleString; integers beyond double precision are grouped exactly.
export function groupedNumberText(text) {
  const t = String(text).trim();
  if (/^[+-]?\d+$/.test(t) && !Number.isSafeInteger(Number(t))) {
    try {
      return NUMBER_FORMAT.format(BigInt(t));
    } catch (e) {
      return String(text);
    }
  }
  const n = Number(t);
  if (t === '' || !Number.isFinite(n)) return String(text);
  return NUMBER_FORMAT.format(n);
}

// Per column, the text likely to be widest once shown: the longest, and for numbers the longest
// whole part, with a fraction when any has one. A hidden row of them keeps every column as wide as
// the whole answer makes it, wherever the rows in sight come from.
export function virtualSizerMarkup(rows, columnCount, numeric) {
  let html = '<tr class="virtual-sizer">';
  for (let i = 0; i < columnCount; i++) {
    let best = '';
    let fraction = false;
    for (const row of rows) {
      // An empty cell may be a NULL, shown as a word.
      const s = Array.isArray(row) && row[i] != null && row[i] !== '' ? String(row[i]) : NULL_TEXT;
      const dot = numeric[i] ? s.indexOf('.') : -1;
      fraction = fraction || dot >= 0;
      if ((dot >= 0 ? dot : s.length) > best.length) best = dot >= 0 ? s.slice(0, dot) : s;
    }
    const text = numeric[i] && best !== '' ? groupedNumberText(best) + (fraction ? VIRTUAL_FRACTION : '') : best;
    html += '<td>' + escapeHtml(text) + '</td>';
  }
  return html + '</tr>';
}

function virtualGapMarkup(height, columnCount) {
  if (!(height > 0)) return '';
  return '<tr class="virtual-gap" style="height:' + Math.round(height) + 'px"><td colspan="' + Math.max(1, columnCount) + '"></td></tr>';
}

// A row still on its way: as tall as a row of text, with nothing in it.
function virtualPendingMarkup(columnCount) {
  return '<tr class="virtual-pending">' + '<td>&nbsp;</td>'.repeat(Math.max(1, columnCount)) + '</tr>';
}

// Body rows of a window; a cell of a column flagged in `numeric` is right-aligned and, unless
// `grouped` is false, shown with locale grouping; a cell that isNull(row, column) names is NULL.
// `rows` is the rows, or a function of a row's index giving it, undefined while it is on its way.
export function virtualBodyMarkup(rows, win, columnCount, numeric, isNull, grouped = true) {
  const nul = typeof isNull === 'function' ? isNull : () => false;
  const rowAt = typeof rows === 'function' ? rows : null;
  let html = virtualGapMarkup(win.top, columnCount);
  for (let r = win.first; r < win.last; r++) {
    const got = rowAt ? rowAt(r) : rows[r];
    if (rowAt && got === undefined) {
      html += virtualPendingMarkup(columnCount);
      continue;
    }
    const row = Array.isArray(got) ? got : [];
    html += '<tr>';
    for (let i = 0; i < row.length; i++) {
      const s = row[i] == null ? '' : String(row[i]);
      html += cellHtml(grouped && numeric[i] && s !== '' ? groupedNumberText(s) : s, nul(r, i), numeric[i]);
    }
    html += '</tr>';
  }
  return html + virtualGapMarkup(win.bottom, columnCount);
}

// Draws the answer as a table of class `tableClass` filling the scroll box `box`, replacing what
// the box held. The box keeps a handle to stop the previous table's redrawing. isNull(row, column)
// tells the NULL cells (see cells.js); `grouped` false shows numbers as received. `rows` is the
// rows, or a source that fetches them as they come into sight (held_rows.js): its rows on their
// way are drawn empty and filled in when they arrive; its isNull is used.
export function drawVirtualTable(box, tableClass, columns, rows, numeric, isNull, grouped = true) {
  if (box.virtualTable) box.virtualTable.stop();
  const cols = Array.isArray(columns) ? columns : [];
  const source = rows && !Array.isArray(rows) && typeof rows.rowAt === 'function' ? rows : null;
  const all = source ? (r) => source.rowAt(r) : Array.isArray(rows) ? rows : [];
  const count = source ? source.count : all.length;
  const nulls = source ? (r, c) => source.isNull(r, c) : isNull;
  const flags = Array.isArray(numeric) ? numeric : [];
  box.innerHTML =
    '<table class="' + tableClass + '"><thead><tr>' + cols.map((c, i) => headHtml(c, flags[i])).join('') +
    '</tr></thead><tbody></tbody></table>';
  box.scrollTop = 0;
  const table = box.firstChild;
  const body = table.tBodies[0];
  let rowHeight = 0;
  let measure = true;
  let shown = null;
  let sized = false;
  let frame = 0;

  function draw() {
    frame = 0;
    // A hidden box has no height yet: draw as much as it may grow to.
    const view = Math.max(box.clientHeight, parseFloat(getComputedStyle(box).maxHeight) || 0) || window.innerHeight;
    const offset = body.getBoundingClientRect().top - box.getBoundingClientRect().top - box.clientTop + box.scrollTop;
    const win = virtualWindow(box.scrollTop - offset, view, rowHeight || VIRTUAL_GUESS_ROW_HEIGHT, count,
      VIRTUAL_MARGIN_ROWS, VIRTUAL_MAX_HEIGHT);
    if (source) source.want(win.first, win.last);
    if (!shown || win.first !== shown.first || win.last !== shown.last || Math.round(win.top) !== Math.round(shown.top)) {
      body.innerHTML = virtualBodyMarkup(all, win, cols.length, flags, nulls, grouped);
      shown = win;
    }
    if (!sized && win.last - win.first < count) {
      sized = true;
      // Of a fetched answer, only the rows it has so far can size the columns.
      table.tHead.insertAdjacentHTML('beforeend', virtualSizerMarkup(source ? source.known() : all, cols.length, grouped ? flags : []));
    }
    if (!measure || win.last === win.first) return;
    const trs = body.rows;
    const firstRow = trs[win.top > 0 ? 1 : 0].getBoundingClientRect();
    const lastRow = trs[trs.length - (win.bottom > 0 ? 2 : 1)].getBoundingClientRect();
    if (firstRow.height === 0) return;
    measure = false;
    const pitch = (lastRow.bottom - firstRow.top) / (win.last - win.first);
    if (Math.abs(pitch - rowHeight) > 0.5) {
      rowHeight = pitch;
      draw();
    }
  }
  const schedule = () => {
    if (!frame) frame = requestAnimationFrame(draw);
  };
  // A new size may come with a new row height: a box shown after being hidden, or zoomed text.
  const resized = new ResizeObserver(() => {
    measure = true;
    schedule();
  });
  const replaced = new MutationObserver(() => {
    if (table.parentNode !== box) handle.stop();
  });
  const handle = {
    stop() {
      if (source) source.stop();
      box.removeEventListener('scroll', schedule);
      resized.disconnect();
      replaced.disconnect();
      cancelAnimationFrame(frame);
      if (box.virtualTable === handle) box.virtualTable = null;
    },
  };
  box.virtualTable = handle;
  if (source) {
    source.onChange(() => {
      shown = null;
      schedule();
    });
  }
  box.addEventListener('scroll', schedule, { passive: true });
  resized.observe(box);
  replaced.observe(box, { childList: true });
  draw();
}
