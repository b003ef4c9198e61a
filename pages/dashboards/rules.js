// Pure text rules of the Dashboards page: record fields, the path variable, column types,
// element ids and the loading bar.
import { escapeHtml } from '../common/escape.js';
import { PATH_VARIABLE, substitutePathVariable } from '../common/sql.js';
import { THEME } from '../common/theme.js';

const DASH_TEXT_TYPES = ['VARCHAR', 'CHAR', 'TEXT', 'STRING'];
const DASH_DATE_TYPES = ['DATE', 'TIMESTAMP', 'TIME'];
export const DASH_DEFAULT_FLEX = 6;
export const DASH_COLUMNS = 12;
// Rows per page of every paginated table.
export const DASH_PAGE_SIZE = 10;
// Notes in place of content: grey for empty states, red for errors.
export const NOTE_GREY = THEME.muted;
export const NOTE_RED = THEME.error;

// A stored layout or filter list: JSON text or an array; anything else is empty.
export function readRecordArray(value) {
  if (Array.isArray(value)) return value;
  if (typeof value !== 'string') return [];
  try {
    const parsed = JSON.parse(value);
    return Array.isArray(parsed) ? parsed : [];
  } catch (e) {
    return [];
  }
}

export function recordPath(record) {
  return record && typeof record.pathToFiles === 'string' ? record.pathToFiles : '';
}

export function recordFileType(record) {
  return record && record.fileType ? String(record.fileType) : 'csv';
}

// The folder goes in as a SQL literal, so an apostrophe in it cannot end the string early.
export function replacePathVariableForDashboard(sql, folder, fileType) {
  const text = String(sql);
  if (!text.includes(PATH_VARIABLE) || !folder) return text;
  return substitutePathVariable(text, fileType === 'parquet', folder);
}

export function isTextType(type) {
  const t = String(type || '').toUpperCase();
  return DASH_TEXT_TYPES.some((k) => t.includes(k));
}

export function isDateType(type) {
  const t = String(type || '').toUpperCase();
  return DASH_DATE_TYPES.some((k) => t.includes(k));
}

export function sanitizeId(name) {
  return String(name).replace(/[^A-Za-z0-9]/g, '_');
}

// A cell's share of its row: a whole number of twelfths, 6 when missing or zero.
export function cellFlex(cell) {
  const n = Math.round(Number(cell && cell.flex));
  if (!Number.isFinite(n) || n === 0) return DASH_DEFAULT_FLEX;
  return Math.min(DASH_COLUMNS, Math.max(1, n));
}

export function loadingBarHtml(widthPx) {
  return (
    '<div class="dash-loading"><div class="dash-loading-track" style="width:' + Number(widthPx) + 'px">' +
    '<div class="dash-loading-runner"></div></div><div class="dash-loading-text">Loading...</div></div>'
  );
}

// A one-line note in place of a panel's content: grey for empty states, red for errors.
export function noteHtml(text, color, fontSize) {
  return (
    '<div class="dash-panel-note" style="color:' + color + (fontSize ? ';font-size:' + fontSize : '') + '">' +
    escapeHtml(text) + '</div>'
  );
}
