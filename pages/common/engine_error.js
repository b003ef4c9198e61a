// Engine messages as the user should read them: their "LINE n" and caret point into the text the
// user wrote, not into the statement the page built around it, and they show in a monospace
// block so the caret stands under the right character.
import { escapeHtml } from './escape.js';
import { scriptStatements } from './sql.js';

const ENGINE_CONTEXT_RE = /^LINE (\d+): (.*)\n( *)\^[ \t]*$/m;
const ENGINE_CONTEXT_WIDTH = 40;
const ENGINE_ELLIPSIS = '...';

// Columns a character takes in a monospace font: wide East Asian forms take two, combining
// marks none, as the engine counts them when it places its caret.
function engineCharWidth(ch) {
  const c = ch.codePointAt(0);
  if (/\p{Mn}|\p{Me}/u.test(ch)) return 0;
  if ((c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0xa4cf) || (c >= 0xac00 && c <= 0xd7a3) ||
    (c >= 0xf900 && c <= 0xfaff) || (c >= 0xfe30 && c <= 0xfe4f) || (c >= 0xff00 && c <= 0xff60) ||
    (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x1f300 && c <= 0x1faff) || (c >= 0x20000 && c <= 0x3fffd)) {
    return 2;
  }
  return 1;
}

function engineTextWidth(text) {
  let w = 0;
  for (const ch of text) w += engineCharWidth(ch);
  return w;
}

// Index in `text` after walking `width` columns from `from`.
function engineIndexAtWidth(text, from, width) {
  let i = from;
  let w = 0;
  while (i < text.length && w < width) {
    const ch = String.fromCodePoint(text.codePointAt(i));
    w += engineCharWidth(ch);
    i += ch.length;
  }
  return i;
}

// Offset in `text` of the engine's caret, or -1. The engine shows line `line` of the text (the
// engine program counts a later statement's lines in the whole script too, and shows its first
// line from the statement's start), cut to a window around the caret and marked with "..."
// where it was cut.
function engineCaretOffset(text, line, shown, caretColumn) {
  const lines = text.split('\n');
  if (line < 1 || line > lines.length) return -1;
  const lineStart = lines.slice(0, line - 1).reduce((n, l) => n + l.length + 1, 0);
  const lineText = lines[line - 1];
  let core = shown;
  let cutStart = false;
  if (core.startsWith(ENGINE_ELLIPSIS) && !lineText.startsWith(core)) {
    core = core.slice(ENGINE_ELLIPSIS.length);
    cutStart = true;
  }
  if (core.endsWith(ENGINE_ELLIPSIS) && !lineText.includes(core)) core = core.slice(0, -ENGINE_ELLIPSIS.length);
  const at = lineText.indexOf(core);
  const width = caretColumn - (cutStart ? ENGINE_ELLIPSIS.length : 0);
  if (at < 0 || width < 0) return -1;
  return lineStart + engineIndexAtWidth(lineText, at, width);
}

// The user's position for an offset of the sent text: inside a piece copied from the user's
// text, its source; in added text, the nearest copied character before it (else after it).
function engineUserOffset(map, offset) {
  let best = null;
  for (const m of map) {
    if (offset >= m.start && offset < m.end) return m.at + (offset - m.start);
    if (m.end > m.start && m.end <= offset) best = m.at + (m.end - m.start - 1);
  }
  if (best !== null) return best;
  const next = map.find((m) => m.end > m.start);
  return next ? next.at : null;
}

// "LINE n: text" and its caret for `offset` in `text`, cut like the engine cuts it.
function engineContext(text, offset) {
  const lineStart = text.lastIndexOf('\n', offset - 1) + 1;
  const nl = text.indexOf('\n', offset);
  const lineEnd = nl < 0 ? text.length : nl;
  const line = text.slice(lineStart, lineEnd);
  const col = Math.min(offset, lineEnd) - lineStart;
  const number = text.slice(0, lineStart).split('\n').length;
  const before = Array.from(line.slice(0, col));
  const after = Array.from(line.slice(col));
  let from = 0;
  let w = 0;
  for (let k = before.length - 1; k >= 0; k--) {
    w += engineCharWidth(before[k]);
    if (w >= ENGINE_CONTEXT_WIDTH) {
      from = k;
      break;
    }
  }
  let to = after.length;
  w = 0;
  for (let k = 0; k < after.length; k++) {
    w += engineCharWidth(after[k]);
    if (w >= ENGINE_CONTEXT_WIDTH) {
      to = k;
      break;
    }
  }
  const head = 'LINE ' + number + ': ' + (from > 0 ? ENGINE_ELLIPSIS : '');
  const shownBefore = before.slice(from).join('');
  const shown = head + shownBefore + after.slice(0, to).join('') + (to < after.length ? ENGINE_ELLIPSIS : '');
  return shown + '\n' + ' '.repeat(head.length + engineTextWidth(shownBefore)) + '^';
}

// Rows printed by statements before the failing one come first in the engine's output; the
// message is what follows them.
function engineOwnMessage(text) {
  const lines = String(text).split('\n');
  let k = 0;
  while (k < lines.length - 1 && /^\s*[[{]/.test(lines[k])) k++;
  const own = lines.slice(k).join('\n');
  // Output that is rows alone (answers the service could not read) is all there is to show.
  return own.trim() ? own : String(text);
}

// `message` of the engine for `sent` ({ sql, map } from sqlPieces), told in terms of `userText`.
// A message without a position, or one that cannot be placed, is only cleared of earlier rows.
export function mapEngineError(message, sent, userText) {
  return placeEngineError(message, sent, userText).text;
}

// The same, with `offset`, the error's place in `userText` (null when it has none). `own`, when
// `userText` was made from the user's text with words replaced (the path variable by its file
// call), is { text, offsetOf(offset) }: the quoted line is then that text's, as it was typed.
export function placeEngineError(message, sent, userText, origin) {
  const text = engineOwnMessage(message == null ? '' : message);
  const m = ENGINE_CONTEXT_RE.exec(text);
  if (!m || !sent || !Array.isArray(sent.map)) return { text, offset: null };
  const head = 'LINE ' + m[1] + ': ';
  const at = engineCaretOffset(sent.sql, Number(m[1]), m[2], m[3].length - head.length);
  if (at < 0) return { text, offset: null };
  const offset = engineUserOffset(sent.map, at);
  if (offset === null) return { text, offset: null };
  const context = origin ? engineContext(String(origin.text), origin.offsetOf(offset)) : engineContext(String(userText), offset);
  return { text: text.slice(0, m.index) + context + text.slice(m.index + m[0].length), offset };
}

// The block an engine message is shown in.
export function engineErrorHtml(text, extraClass) {
  return '<pre class="engine-error' + (extraClass ? ' ' + extraClass : '') + '">' + escapeHtml(text) + '</pre>';
}

// The error of a paged table's count or page statement (the count's first) for `base`, the
// statement paged, told in terms of `base` itself; null when both answered.
export function pagedEngineError(countRes, pageRes, base, page, pageSize) {
  const stmts = scriptStatements({ setup: [], last: { text: base, at: 0 } }, page, pageSize, 0);
  if (countRes && countRes.error) return mapEngineError(countRes.error, stmts.count, base);
  if (pageRes && pageRes.error) return mapEngineError(pageRes.error, stmts.page, base);
  return null;
}
