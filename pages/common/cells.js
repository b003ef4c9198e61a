// Cells of the tables of both pages: NULL shown as a dim "NULL" apart from an empty text, and
// cells of numeric columns right-aligned. Pure, for tests.
import { escapeHtml } from './escape.js';

export const NULL_TEXT = 'NULL';

// Which cells of a query result are NULL, from its "nulls" list of [row, column]: a test of
// (row, column). Every cell text stays as received.
export function nullCells(result) {
  const list = result && Array.isArray(result.nulls) ? result.nulls : [];
  if (!list.length) return () => false;
  const byRow = new Map();
  for (const pair of list) {
    if (!Array.isArray(pair)) continue;
    const [r, c] = pair;
    if (!byRow.has(r)) byRow.set(r, new Set());
    byRow.get(r).add(c);
  }
  return (r, c) => {
    const row = byRow.get(r);
    return row !== undefined && row.has(c);
  };
}

// One body cell: `shown` is the text to show for a value, escaped here.
export function cellHtml(shown, isNull, numeric) {
  if (isNull) return '<td class="cell-null' + (numeric ? ' cell-num' : '') + '">' + NULL_TEXT + '</td>';
  return (numeric ? '<td class="cell-num">' : '<td>') + escapeHtml(shown) + '</td>';
}

// One header cell, aligned as its column's cells.
export function headHtml(name, numeric) {
  return (numeric ? '<th class="cell-num">' : '<th>') + escapeHtml(name) + '</th>';
}

// A whole table: `shown(text, row, column)` gives a value's text.
export function tableHtml(tableClass, columns, rows, numeric, isNull, shown) {
  const flags = Array.isArray(numeric) ? numeric : [];
  const nul = typeof isNull === 'function' ? isNull : () => false;
  const show = typeof shown === 'function' ? shown : (t) => (t == null ? '' : String(t));
  const head = (columns || []).map((c, i) => headHtml(c, flags[i])).join('');
  const body = (rows || [])
    .map((row, r) => '<tr>' + (Array.isArray(row) ? row : []).map((cell, i) => cellHtml(show(cell, r, i), nul(r, i), flags[i])).join('') + '</tr>')
    .join('');
  return '<table class="' + tableClass + '"><thead><tr>' + head + '</tr></thead><tbody>' + body + '</tbody></table>';
}
