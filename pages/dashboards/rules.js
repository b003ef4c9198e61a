// Pure text rules of the Dashboards page: record fields, the path variable, column types,
// element ids and the loading bar.

const DASH_TEXT_TYPES = ['VARCHAR', 'CHAR', 'TEXT', 'STRING'];
const DASH_DATE_TYPES = ['DATE', 'TIMESTAMP', 'TIME'];
const DASH_DEFAULT_FLEX = 6;
const DASH_COLUMNS = 12;

// A stored layout or filter list: JSON text or an array; anything else is empty.
function readRecordArray(value) {
  if (Array.isArray(value)) return value;
  if (typeof value !== 'string') return [];
  try {
    const parsed = JSON.parse(value);
    return Array.isArray(parsed) ? parsed : [];
  } catch (e) {
    return [];
  }
}

function recordPath(record) {
  return record && typeof record.pathToFiles === 'string' ? record.pathToFiles : '';
}

function recordFileType(record) {
  return record && record.fileType ? String(record.fileType) : 'csv';
}

// The folder goes in as a SQL literal, so an apostrophe in it cannot end the string early.
function replacePathVariableForDashboard(sql, folder, fileType) {
  const text = String(sql);
  if (!text.includes(PATH_VARIABLE) || !folder) return text;
  return substitutePathVariable(text, fileType === 'parquet', folder);
}

function isTextType(type) {
  const t = String(type || '').toUpperCase();
  return DASH_TEXT_TYPES.some((k) => t.includes(k));
}

function isDateType(type) {
  const t = String(type || '').toUpperCase();
  return DASH_DATE_TYPES.some((k) => t.includes(k));
}

function sanitizeId(name) {
  return String(name).replace(/[^A-Za-z0-9]/g, '_');
}

// A cell's share of its row: a whole number of twelfths, 6 when missing or zero.
function cellFlex(cell) {
  const n = Math.round(Number(cell && cell.flex));
  if (!Number.isFinite(n) || n === 0) return DASH_DEFAULT_FLEX;
  return Math.min(DASH_COLUMNS, Math.max(1, n));
}

function loadingBarHtml(widthPx) {
  return (
    '<div class="dash-loading"><div class="dash-loading-track" style="width:' + Number(widthPx) + 'px">' +
    '<div class="dash-loading-runner"></div></div><div class="dash-loading-text">Loading...</div></div>'
  );
}

// A one-line note in place of a panel's content: grey for empty states, red for errors.
function noteHtml(text, color, fontSize) {
  return (
    '<div class="dash-panel-note" style="color:' + color + (fontSize ? ';font-size:' + fontSize : '') + '">' +
    escapeHtml(text) + '</div>'
  );
}
