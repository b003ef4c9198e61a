// Splicing dashboard filter and chart click conditions into the user's saved SQL. The scanner
// (pages/common/sql.js) tells code from string literals, quoted identifiers and comments, so
// keywords are matched only as whole words of the statement itself: never inside a literal, a
// comment, a longer name or a subquery.
import { scanSql } from '../common/sql.js';

// Every clause that may follow WHERE in a SELECT; a condition appended after one of them would
// be a syntax error or land in the wrong clause.
const SQL_CLAUSE_WORDS = ['GROUP BY', 'HAVING', 'WINDOW', 'QUALIFY', 'ORDER BY', 'LIMIT', 'OFFSET', 'FETCH',
  'USING SAMPLE'];
// Dashboard filters narrow the first branch of a set operation.
export const FILTER_END_WORDS = SQL_CLAUSE_WORDS.concat(['UNION', 'INTERSECT', 'EXCEPT']);
const CLICK_END_WORDS = SQL_CLAUSE_WORDS;

// A column name as a quoted identifier: a double quote inside it must not end the name early.
export function sqlIdentifier(name) {
  return '"' + String(name).replace(/"/g, '""') + '"';
}

// Index of the first top-level token in tokens[from, to) that starts one of `phrases` ("GROUP BY")
// as whole words, or `to`. A word after AS or a dot is a name there, not a keyword.
function sqlFindPhrase(tokens, sql, phrases, from, to) {
  for (let k = from; k < to; k++) {
    if (tokens[k].depth !== 0 || !tokens[k].word) continue;
    const prev = tokens[k - 1];
    if (prev && (prev.word === 'AS' || sql[prev.start] === '.')) continue;
    for (const phrase of phrases) {
      const words = phrase.split(' ');
      if (words.every((w, n) => k + n < to && tokens[k + n].word === w)) return k;
    }
  }
  return to;
}

// Adds `condition` to the statement's own WHERE, or gives it one before the first of `endWords`.
// A trailing semicolon or comment stays after the condition, and the rest of the text is kept
// as it was. The existing condition is bracketed so that its OR cannot bypass the new one.
export function spliceSqlCondition(sql, condition, endWords) {
  sql = String(sql);
  if (!condition) return sql;
  const tokens = scanSql(sql);
  let stop = tokens.findIndex((t) => t.depth === 0 && sql[t.start] === ';');
  if (stop < 0) stop = tokens.length;
  if (stop === 0) return sql;
  const end = sqlFindPhrase(tokens, sql, endWords, 0, stop);
  const where = sqlFindPhrase(tokens, sql, ['WHERE'], 0, end);
  // Right after the last code before the end word, so comments in between stay outside.
  const point = end > 0 ? tokens[end - 1].end : tokens[0].start;
  const rest = sql.slice(point);
  const gap = /^[^\s;]/.test(rest) ? ' ' : '';
  if (where === end) return sql.slice(0, point) + ' WHERE ' + condition + gap + rest;
  const open = where + 1 < end ? tokens[where + 1].start : point;
  return sql.slice(0, open) + '(' + sql.slice(open, point) + ') AND (' + condition + ')' + gap + rest;
}

export function applyChartClickFilterToSql(sql, condition) {
  return spliceSqlCondition(sql, condition, CLICK_END_WORDS);
}
