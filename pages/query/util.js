// Display formatting helpers of the Query page.
import { DISPLAY_LOCALE, formatFixed, formatNumber } from '../common/numbers.js';
import { groupedNumberText } from '../common/virtual_table.js';

export function fmtSize(bytes) {
  if (bytes === undefined || bytes === null || bytes === '') return '';
  const n = Number(bytes);
  if (!Number.isFinite(n)) return '';
  if (n < 1024) return formatNumber(n) + ' B';
  if (n < 1024 * 1024) return formatFixed(n / 1024, 1) + ' KB';
  return formatFixed(n / (1024 * 1024), 1) + ' MB';
}

export function fmtDate(ts) {
  const n = Number(ts);
  if (!ts || !Number.isFinite(n) || n === 0) return '';
  const d = new Date(n * 1000);
  if (Number.isNaN(d.getTime())) return '';
  return (
    d.toLocaleDateString(DISPLAY_LOCALE, { year: 'numeric', month: 'short', day: 'numeric' }) +
    ' ' +
    d.toLocaleTimeString(DISPLAY_LOCALE, { hour: '2-digit', minute: '2-digit' })
  );
}

// Integers beyond double precision are grouped exactly instead of being rounded.
function fmtNumberText(text) {
  return groupedNumberText(text);
}

// Whole-result cell: only numeric columns are formatted.
export function fmtTableCell(text, numeric) {
  const s = text == null ? '' : String(text);
  if (!numeric || s === '') return s;
  return fmtNumberText(s);
}

// Paginated cell: any integer-looking text is grouped; decimals and non-numbers stay as they are.
export function fmtPageCell(text) {
  const s = text == null ? '' : String(text);
  if (s === '' || s.includes('.')) return s;
  return fmtNumberText(s);
}

// A conversion that found its Parquet file there already and wrote the next free name.
export function keptNoticeText(existing, written) {
  return String(existing) + ' already existed, so the table was written to ' + String(written) + '.';
}

// Shared with the Dashboards page, whose panels carry the same note.
export { unreadableNoteText } from '../common/unreadable.js';
