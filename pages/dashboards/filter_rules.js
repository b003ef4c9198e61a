// Text rules of the dashboard filters and their pickers: dates and month grids, the labels and
// counts of the controls, and the value-list statements. No DOM here.
import { sqlString } from '../common/sql.js';
import { sqlIdentifier } from './sql_splice.js';

export const MONTH_NAMES = ['January', 'February', 'March', 'April', 'May', 'June', 'July', 'August', 'September',
  'October', 'November', 'December'];
export const WEEKDAY_NAMES = ['Sun', 'Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat'];
const DATE_TEXT_RE = /^(\d{4})-(\d{2})-(\d{2})$/;
const SELECTION_MAX = 25;
const SELECTION_CUT = 22;

function pad2(n) {
  return String(n).padStart(2, '0');
}

// YYYY-MM-DD of a local date.
export function dateText(date) {
  return String(date.getFullYear()).padStart(4, '0') + '-' + pad2(date.getMonth() + 1) + '-' + pad2(date.getDate());
}

// A local date; years below 100 stay themselves instead of becoming 19xx.
function localDate(year, month, day) {
  const d = new Date(2000, 0, 1);
  d.setFullYear(year, month, day);
  return d;
}

export function dateTextOf(year, month, day) {
  return dateText(localDate(year, month, day));
}

// { year, month (0-11), day } of a YYYY-MM-DD text that names a real day, else null.
export function parseDateText(text) {
  const m = DATE_TEXT_RE.exec(typeof text === 'string' ? text : '');
  if (!m) return null;
  const year = Number(m[1]);
  const month = Number(m[2]) - 1;
  const day = Number(m[3]);
  const d = localDate(year, month, day);
  if (d.getFullYear() !== year || d.getMonth() !== month || d.getDate() !== day) return null;
  return { year, month, day };
}

// MM/DD/YYYY by reordering the stored text; text of another form is shown as it is.
export function displayDate(text) {
  const m = DATE_TEXT_RE.exec(String(text));
  return m ? m[2] + '/' + m[3] + '/' + m[1] : String(text);
}

export function dateButtonLabel(text, field) {
  if (text == null || text === '') return field === 'from' ? 'Start date' : 'End date';
  return displayDate(text);
}

export function shiftMonth(year, month, delta) {
  const d = localDate(year, month + delta, 1);
  return { year: d.getFullYear(), month: d.getMonth() };
}

// The month a calendar opens on: the stored date's, marked selected; else the month of the first
// of `near` that is a date (the range's other end, the data's latest day); else today's.
export function calendarStart(stored, today, near) {
  const d = parseDateText(stored);
  if (d) return { year: d.year, month: d.month, selected: stored };
  for (const text of near || []) {
    const n = parseDateText(text);
    if (n) return { year: n.year, month: n.month, selected: null };
  }
  return { year: today.getFullYear(), month: today.getMonth(), selected: null };
}

const CALENDAR_YEAR_MARGIN = 10;

// The years a calendar's year list offers: the data's years, this year and the shown one, with a
// margin on both sides; other years are a few steps or a typed date away.
export function calendarYears(shownYear, todayYear, range) {
  const years = [shownYear, todayYear];
  for (const text of range ? [range.min, range.max] : []) {
    const d = parseDateText(text);
    if (d) years.push(d.year);
  }
  const first = Math.max(1, Math.min(...years) - CALENDAR_YEAR_MARGIN);
  const last = Math.min(9999, Math.max(...years) + CALENDAR_YEAR_MARGIN);
  const list = [];
  for (let y = first; y <= last; y++) list.push(y);
  return list;
}

// A year a calendar can show (1 to 9999), from typed text or a number; else null.
export function calendarYearOf(value) {
  const text = String(value == null ? '' : value).trim();
  if (!/^\d{1,4}$/.test(text)) return null;
  const year = Number(text);
  return year >= 1 ? year : null;
}

// The typed date when it names a real day as YYYY-MM-DD, else null.
export function typedDate(text) {
  const t = String(text == null ? '' : text).trim();
  return parseDateText(t) ? t : null;
}

// The days of a month's calendar in weeks from Sunday: the previous month's last days before
// the 1st, the next month's first days after the last. Only days of the month itself carry
// `today` and `selected`.
export function monthGrid(year, month, todayText, selectedText) {
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

export function calendarTitle(year, month) {
  return MONTH_NAMES[month] + ' ' + year;
}

// "All", or the chosen values joined, cut to its first 22 characters and "..." beyond 25.
export function multiSelectionText(values) {
  if (!Array.isArray(values) || !values.length) return 'All';
  const text = values.join(', ');
  return text.length > SELECTION_MAX ? text.slice(0, SELECTION_CUT) + '...' : text;
}

export function multiButtonLabel(values) {
  return multiSelectionText(values) + ' ▼';
}

export function countText(chosen, total, format) {
  return chosen + '/' + (format || String)(total);
}

// The value lists come from the first query's data source: a read_csv or read_parquet call with
// one quoted path (a doubled quote inside it, as a folder name with an apostrophe is written),
// with the options of a folder's files call when the path variable wrote it.
const DATA_SOURCE_RES = [/read_csv\('(?:[^']|'')+'(?:, union_by_name = true)?\)/i,
  /read_parquet\('(?:[^']|'')+'(?:, union_by_name = true)?\)/i];

export function findDataSource(sql) {
  for (const re of DATA_SOURCE_RES) {
    const m = re.exec(String(sql));
    if (m) return m[0];
  }
  return null;
}

export const VALUE_LIST_CAP = 1000;

// A LIKE pattern that finds the text anywhere, its own % _ and \ taken as themselves.
export function containsPattern(text) {
  return '%' + String(text).replace(/[\\%_]/g, '\\$&') + '%';
}

// A column's first distinct values, each row with the count of all of them, narrowed by the other
// filters' condition and by a search in the values' text when there is one.
export function distinctValuesSql(source, column, otherClause, search) {
  const col = sqlIdentifier(column);
  let where = col + ' IS NOT NULL' + (otherClause ? ' AND ' + otherClause : '');
  if (search) where += ' AND CAST(' + col + ' AS VARCHAR) ILIKE ' + sqlString(containsPattern(search)) + " ESCAPE '\\'";
  return 'SELECT v, COUNT(*) OVER () AS n FROM (SELECT DISTINCT ' + col + ' AS v FROM ' + source + ' WHERE ' + where +
    ') ORDER BY v LIMIT ' + VALUE_LIST_CAP;
}

// The line under a value list cut short: "1,000 of 6,077", and what typing does.
export function listedText(listed, total, searching, format) {
  const f = format || String;
  return f(listed) + ' of ' + f(total) + (searching ? ' matching: type more to narrow' : ': type to search them all');
}

// The first and last day of a date column, narrowed by the other filters' condition.
export function dateRangeSql(source, column, otherClause) {
  const col = sqlIdentifier(column);
  return 'SELECT CAST(MIN(' + col + ') AS DATE) AS lo, CAST(MAX(' + col + ') AS DATE) AS hi FROM ' + source +
    (otherClause ? ' WHERE ' + otherClause : '');
}

// The query names of a layout's cells in layout order, each once.
export function layoutQueryNames(rows) {
  const names = [];
  for (const row of Array.isArray(rows) ? rows : []) {
    for (const cell of row && Array.isArray(row.cells) ? row.cells : []) {
      const q = cell && cell.query;
      if (typeof q === 'string' && q && !names.includes(q)) names.push(q);
    }
  }
  return names;
}
