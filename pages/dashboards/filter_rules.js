// Text rules of the dashboard filters and their pickers: new filters, the columns the menu
// offers, dates and month grids, and the labels and counts of the controls. No DOM here.

const MONTH_NAMES = ['January', 'February', 'March', 'April', 'May', 'June', 'July', 'August', 'September',
  'October', 'November', 'December'];
const WEEKDAY_NAMES = ['Sun', 'Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat'];
const DATE_TEXT_RE = /^(\d{4})-(\d{2})-(\d{2})$/;
const SELECTION_MAX = 25;
const SELECTION_CUT = 22;

function newFilter(column, type) {
  const f = { column, type, value: null };
  if (type === 'date') {
    f.from = null;
    f.to = null;
  } else if (type === 'multiselect') {
    f.values = [];
  }
  return f;
}

// A calendar picks days, so a column holding only a time of day gets no date filter: any day
// compared with it is an engine error in every panel.
function isCalendarType(type) {
  return isDateType(type) && /DATE|TIMESTAMP/.test(String(type).toUpperCase());
}

// The schema's columns that the menu offers, in schema order: those without a filter, text
// columns first by kind, then date columns.
function filterableColumns(schema, filters) {
  const taken = new Set((filters || []).map((f) => f && f.column));
  const text = [];
  const date = [];
  for (const c of Array.isArray(schema) ? schema : []) {
    if (!c || typeof c.name !== 'string' || taken.has(c.name)) continue;
    if (isTextType(c.type)) text.push(c.name);
    else if (isCalendarType(c.type)) date.push(c.name);
  }
  return { text, date };
}

function pad2(n) {
  return String(n).padStart(2, '0');
}

// YYYY-MM-DD of a local date.
function dateText(date) {
  return date.getFullYear() + '-' + pad2(date.getMonth() + 1) + '-' + pad2(date.getDate());
}

function dateTextOf(year, month, day) {
  return dateText(new Date(year, month, day));
}

// { year, month (0-11), day } of a YYYY-MM-DD text that names a real day, else null.
function parseDateText(text) {
  const m = DATE_TEXT_RE.exec(typeof text === 'string' ? text : '');
  if (!m) return null;
  const year = Number(m[1]);
  const month = Number(m[2]) - 1;
  const day = Number(m[3]);
  const d = new Date(year, month, day);
  if (d.getMonth() !== month || d.getDate() !== day) return null;
  return { year, month, day };
}

// MM/DD/YYYY by reordering the stored text; text of another form is shown as it is.
function displayDate(text) {
  const m = DATE_TEXT_RE.exec(String(text));
  return m ? m[2] + '/' + m[3] + '/' + m[1] : String(text);
}

function dateButtonLabel(text, field) {
  if (text == null || text === '') return field === 'from' ? 'Start date' : 'End date';
  return displayDate(text);
}

function shiftMonth(year, month, delta) {
  const d = new Date(year, month + delta, 1);
  return { year: d.getFullYear(), month: d.getMonth() };
}

// The month a calendar opens on: the stored date's, marked selected, or today's.
function calendarStart(stored, today) {
  const d = parseDateText(stored);
  if (d) return { year: d.year, month: d.month, selected: stored };
  return { year: today.getFullYear(), month: today.getMonth(), selected: null };
}

// The days of a month's calendar in weeks from Sunday: the previous month's last days before
// the 1st, the next month's first days after the last. Only days of the month itself carry
// `today` and `selected`.
function monthGrid(year, month, todayText, selectedText) {
  const days = [];
  const lead = new Date(year, month, 1).getDay();
  const length = new Date(year, month + 1, 0).getDate();
  for (let i = lead; i > 0; i--) {
    const d = new Date(year, month, 1 - i);
    days.push({ date: dateText(d), day: d.getDate(), other: true, today: false, selected: false });
  }
  for (let day = 1; day <= length; day++) {
    const date = dateTextOf(year, month, day);
    days.push({ date, day, other: false, today: date === todayText, selected: date === selectedText });
  }
  for (let day = 1; days.length % 7 !== 0; day++) {
    days.push({ date: dateTextOf(year, month + 1, day), day, other: true, today: false, selected: false });
  }
  return days;
}

function calendarTitle(year, month) {
  return MONTH_NAMES[month] + ' ' + year;
}

// "All", or the chosen values joined, cut to its first 22 characters and "..." beyond 25.
function multiSelectionText(values) {
  if (!Array.isArray(values) || !values.length) return 'All';
  const text = values.join(', ');
  return text.length > SELECTION_MAX ? text.slice(0, SELECTION_CUT) + '...' : text;
}

function multiButtonLabel(values) {
  return multiSelectionText(values) + ' ▼';
}

function countText(chosen, total) {
  return chosen + '/' + total;
}

// The value lists come from the first query's data source: a read_csv or read_parquet call with
// one quoted path (a doubled quote inside it, as a folder name with an apostrophe is written),
// with the options of a folder's files call when the path variable wrote it.
const DATA_SOURCE_RES = [/read_csv\('(?:[^']|'')+'(?:, union_by_name = true)?\)/i,
  /read_parquet\('(?:[^']|'')+'(?:, union_by_name = true)?\)/i];

function findDataSource(sql) {
  for (const re of DATA_SOURCE_RES) {
    const m = re.exec(String(sql));
    if (m) return m[0];
  }
  return null;
}

// A column's distinct values, narrowed by the other filters' condition when there is one.
function distinctValuesSql(source, column, otherClause) {
  const col = sqlIdentifier(column);
  const where = col + ' IS NOT NULL' + (otherClause ? ' AND ' + otherClause : '');
  return 'SELECT DISTINCT ' + col + ' FROM ' + source + ' WHERE ' + where + ' ORDER BY ' + col + ' LIMIT 1000';
}

// The query names of a layout's cells in layout order, each once.
function layoutQueryNames(rows) {
  const names = [];
  for (const row of Array.isArray(rows) ? rows : []) {
    for (const cell of row && Array.isArray(row.cells) ? row.cells : []) {
      const q = cell && cell.query;
      if (typeof q === 'string' && q && !names.includes(q)) names.push(q);
    }
  }
  return names;
}
