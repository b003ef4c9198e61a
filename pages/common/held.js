// Answers held on the native side: a run replies with the answer's shape and first rows, and the
// page fetches what it shows (rows by range, a chart's columns or its reduced points) from the
// application's own answer paths, then frees the answer. Every fetch answers as bridgeCall does,
// { value } or { error }, with `gone` set when the answer is no longer held; it never rejects.
import { bridgeCall } from './bridge.js';

// The most rows one rows fetch may ask for, and the most texts one texts fetch.
export const HELD_ROWS_MAX = 10000;
export const HELD_TEXTS_MAX = 1000000;
export const HELD_GONE_NOTE = 'This answer is no longer held: a newer run replaced it, or it was left unused for half an hour.';

// Where the answer paths are: the same origin under the development server, the application's
// own scheme in the window.
export function heldBase(protocol) {
  return protocol === 'http:' || protocol === 'https:' ? '/answer/' : 'plinthos://answer/';
}

function heldUrl(id, what, params) {
  const protocol = typeof location === 'undefined' ? '' : location.protocol;
  // Every parameter is a number or numbers joined by commas, sent as they are.
  const query = Object.entries(params).map(([k, v]) => k + '=' + String(v)).join('&');
  return heldBase(protocol) + encodeURIComponent(String(id)) + '/' + what + '?' + query;
}

function errorText(e) {
  return String((e && e.message) || e || 'unknown error');
}

// A failed fetch's text for the user: a freed answer says so, others name the answer's own error
// or the status.
export function heldFailure(status, body) {
  if (status === 404) return { error: HELD_GONE_NOTE, gone: true };
  let why = '';
  try {
    const parsed = JSON.parse(body);
    if (parsed && typeof parsed.error === 'string') why = parsed.error;
  } catch (e) {
    why = '';
  }
  return { error: 'The answer could not be read: ' + (why || 'status ' + status) };
}

async function heldFetch(id, what, params, binary) {
  let res;
  try {
    res = await fetch(heldUrl(id, what, params), { cache: 'no-store' });
  } catch (e) {
    return { error: 'The answer could not be read: ' + errorText(e) };
  }
  try {
    if (!res.ok) return heldFailure(res.status, await res.text());
    return { value: binary ? await res.arrayBuffer() : await res.json() };
  } catch (e) {
    return { error: 'The answer could not be read: ' + errorText(e) };
  }
}

// Rows [from, from + count) as { rows, nulls }, nulls' rows counted from `from`; rows past the
// end are left out.
export async function heldRows(id, from, count) {
  const res = await heldFetch(id, 'rows', { from, count: Math.min(count, HELD_ROWS_MAX) }, false);
  if (res.error) return res;
  const v = res.value;
  if (!v || !Array.isArray(v.rows)) return { error: 'The answer could not be read: rows are missing' };
  return { value: { rows: v.rows, nulls: Array.isArray(v.nulls) ? v.nulls : [] } };
}

// A column's binary form: n little-endian doubles, then n bytes, 1 for a NULL cell. A buffer of
// any other length is refused rather than read wrong.
export function parseHeldColumn(buffer, rowCount) {
  const size = buffer ? buffer.byteLength : 0;
  if (size % 9 !== 0 || (rowCount !== undefined && size !== rowCount * 9)) {
    return { error: 'The answer could not be read: a column of ' + size + ' bytes' };
  }
  const n = size / 9;
  return { value: { values: new Float64Array(buffer, 0, n), nulls: new Uint8Array(buffer, 8 * n, n) } };
}

// Column c's numbers, NaN for a NULL or a cell that is not a number, and its NULL mask.
export async function heldColumn(id, c, rowCount) {
  const res = await heldFetch(id, 'column', { c }, true);
  return res.error ? res : parseHeldColumn(res.value, rowCount);
}

// Column c's cell texts of rows [from, from + count), null for NULL.
export async function heldTexts(id, c, from, count) {
  const res = await heldFetch(id, 'texts', { c, from, count: Math.min(count, HELD_TEXTS_MAX) }, false);
  if (res.error) return res;
  if (!Array.isArray(res.value)) return { error: 'The answer could not be read: texts are missing' };
  return res;
}

// At most `max` points per series of the columns `ys` against column `x`, chosen natively, as an
// answer of its own: { columns, numericCols, rows, nulls, rowCount, shown }.
export async function heldPoints(id, x, ys, max) {
  const res = await heldFetch(id, 'points', { x, y: ys.join(','), max }, false);
  if (res.error) return res;
  const v = res.value;
  if (!v || !Array.isArray(v.rows) || !Array.isArray(v.columns)) return { error: 'The answer could not be read: points are missing' };
  return res;
}

// Best effort: an answer not freed here goes with the page or after a while unused.
export function freeHeld(id) {
  if (!id) return Promise.resolve({ value: { ok: true } });
  return bridgeCall('freeAnswerCpp', id);
}
