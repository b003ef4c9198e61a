// The conditions a panel's SQL takes: one piece per dashboard filter with a value, and the chart
// click, each { sql, name, click }. A panel whose data lacks a piece's column is drawn without
// that piece, named in a note, rather than as the engine's error. No DOM here.
import { scanSql } from '../common/sql.js';
import { filterType } from './filter_types.js';
import { applyChartClickFilterToSql, FILTER_END_WORDS, spliceSqlCondition, sqlIdentifier } from './sql_splice.js';

// The engine names the column as the statement wrote it, inner quotes single.
const MISSING_COLUMN_RE = /^Binder Error: Referenced column "(.*)" not found/m;

export function filterPieces(filters) {
  const pieces = [];
  for (const f of filters || []) {
    const kind = filterType(f);
    if (!kind || f.column === '') continue;
    const sql = kind.condition(sqlIdentifier(f.column), f);
    if (sql) pieces.push({ sql, name: f.column, click: false });
  }
  return pieces;
}

// The click's piece: its condition, named by the words its indicator shows for the column.
export function clickPiece(click) {
  return click && click.condition ? { sql: click.condition, name: click.column, click: true } : null;
}

// The filters' condition goes in first, the click's on top of it, as each is spliced alone.
export function sqlWithPieces(sql, pieces) {
  const filters = pieces.filter((p) => !p.click).map((p) => p.sql);
  const click = pieces.find((p) => p.click);
  const filtered = filters.length ? spliceSqlCondition(sql, filters.join(' AND '), FILTER_END_WORDS) : String(sql);
  return click ? applyChartClickFilterToSql(filtered, click.sql) : filtered;
}

export function missingColumn(error) {
  const m = MISSING_COLUMN_RE.exec(typeof error === 'string' ? error : '');
  return m ? m[1] : null;
}

function identifierName(sql, t) {
  if (t.word !== null) return t.word;
  const text = sql.slice(t.start, t.end);
  return text.length >= 2 && text[0] === '"' && text.endsWith('"') ? text.slice(1, -1).replace(/""/g, '"') : null;
}

// Whether a condition names the column, plain or quoted; names match in any letter case, as in
// the engine.
export function conditionUses(sql, column) {
  const want = String(column).toUpperCase();
  const text = String(sql);
  return scanSql(text).some((t) => {
    const name = identifierName(text, t);
    return name !== null && name.toUpperCase() === want;
  });
}

// The pieces left once those naming the column the engine did not find are dropped, and the
// names of those dropped; null when the error is not about a piece, so it is the panel's own.
export function dropMissing(pieces, error) {
  const column = missingColumn(error);
  if (column === null) return null;
  const dropped = pieces.filter((p) => conditionUses(p.sql, column));
  if (!dropped.length) return null;
  return { kept: pieces.filter((p) => !dropped.includes(p)), dropped: dropped.map((p) => p.name) };
}

// Runs the SQL with every piece, then again without those whose column is missing, until the
// engine takes it or fails for a reason of its own. run(sql) gives a reply, or null once the
// work is stale (then the result is null); errorOf(reply) its error text.
export async function runWithPieces(sql, pieces, run, errorOf) {
  let kept = pieces.slice();
  for (;;) {
    const statement = sqlWithPieces(sql, kept);
    const reply = await run(statement);
    if (reply === null) return null;
    const less = dropMissing(kept, errorOf(reply));
    if (!less) {
      // Named in the pieces' order, whichever the engine reported first.
      const dropped = [];
      for (const p of pieces) if (!kept.includes(p) && !dropped.includes(p.name)) dropped.push(p.name);
      return { reply, sql: statement, dropped };
    }
    kept = less.kept;
  }
}

export function notFilteredText(names) {
  return names && names.length ? 'Not filtered by ' + names.join(', ') : '';
}
