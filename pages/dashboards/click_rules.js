// What a chart click stands for, read from the chart's saved SQL alone: the expression its
// categories come from (the first column) and each series' own FILTER (WHERE ...) condition.
import { scanSql, sqlString } from '../common/sql.js';
import { sqlIdentifier } from './sql_splice.js';

const CLICK_AXIS_CAST_TRUNC_RE =
  /^(CAST\s*\(\s*(DATE_TRUNC\s*\(\s*'(\w+)'\s*,\s*"?(\w+)"?\s*\))\s+AS\s+\w+\s*\))(\s+as\s+\w+)?$/i;
const CLICK_AXIS_TRUNC_RE = /^(DATE_TRUNC\s*\(\s*'(\w+)'\s*,\s*"?(\w+)"?\s*\))(\s+as\s+\w+)?$/i;
const CLICK_AXIS_DATE_FUNC_RE = /^((YEAR|MONTH|DAY|HOUR)\s*\(\s*"?(\w+)"?\s*\))(\s+as\s+\w+)?$/i;
// Functions that fold many rows into one (or look across rows): a category made by one of them
// is no condition on a row.
const CLICK_AGGREGATES = new Set(['ANY_VALUE', 'APPROX_COUNT_DISTINCT', 'APPROX_QUANTILE', 'ARBITRARY', 'ARG_MAX',
  'ARG_MAX_NULL', 'ARG_MIN', 'ARG_MIN_NULL', 'ARGMAX', 'ARGMIN', 'ARRAY_AGG', 'AVG', 'BIT_AND', 'BIT_OR', 'BIT_XOR',
  'BITSTRING_AGG', 'BOOL_AND', 'BOOL_OR', 'CORR', 'COUNT', 'COUNT_IF', 'COUNT_STAR', 'COUNTIF', 'COVAR_POP',
  'COVAR_SAMP', 'CUME_DIST', 'DENSE_RANK', 'ENTROPY', 'FAVG', 'FIRST', 'FIRST_VALUE', 'FSUM', 'GEOMEAN',
  'GEOMETRIC_MEAN', 'GROUP_CONCAT', 'GROUPING', 'HISTOGRAM', 'KAHAN_SUM', 'KURTOSIS', 'KURTOSIS_POP', 'LAG', 'LAST',
  'LAST_VALUE', 'LEAD', 'LIST', 'LISTAGG', 'MAD', 'MAX', 'MAX_BY', 'MEAN', 'MEDIAN', 'MIN', 'MIN_BY', 'MODE',
  'NTH_VALUE', 'NTILE', 'PERCENT_RANK', 'PRODUCT', 'QUANTILE', 'QUANTILE_CONT', 'QUANTILE_DISC', 'RANK',
  'REGR_AVGX', 'REGR_AVGY', 'REGR_COUNT', 'REGR_INTERCEPT', 'REGR_R2', 'REGR_SLOPE', 'REGR_SXX', 'REGR_SXY',
  'REGR_SYY', 'RESERVOIR_QUANTILE', 'ROW_NUMBER', 'SEM', 'SKEWNESS', 'STDDEV', 'STDDEV_POP', 'STDDEV_SAMP',
  'STRING_AGG', 'SUM', 'SUM_NO_OVERFLOW', 'SUMKAHAN', 'VAR_POP', 'VAR_SAMP', 'VARIANCE']);
// Words that end an expression rather than name it, so they are never taken for a bare alias.
const CLICK_NOT_ALIAS = new Set(['END', 'NULL', 'TRUE', 'FALSE', 'AND', 'OR', 'NOT', 'IS', 'AS', 'DISTINCT']);
const CLICK_REASON_UNREAD = "Not clickable: the query's select list could not be read.";

function clickAxis(type, expression, column, extra) {
  return Object.assign({ type, expression, column, precision: null, func: null, dataType: null, reason: null }, extra);
}

// The name a quoted identifier token stands for: quotes off, doubled quotes single.
function unquoteIdentifier(text) {
  return text.length >= 2 && text[0] === '"' && text[text.length - 1] === '"' ? text.slice(1, -1).replace(/""/g, '"') : text;
}

// A plain or quoted name; a number is a word to the scanner but names nothing.
function isNameToken(text, t) {
  return !!t && t.depth === 0 && ((t.word !== null && !/^\d/.test(t.word)) || text[t.start] === '"');
}

// { body, alias } of one select item: the alias after AS (or right after a closing bracket, END
// or a lone name), quotes off; the body is the expression before it.
function splitSelectAlias(item) {
  const tokens = scanSql(item);
  const n = tokens.length;
  const last = tokens[n - 1];
  const prev = tokens[n - 2];
  const name = (t) => unquoteIdentifier(item.slice(t.start, t.end));
  if (n >= 3 && prev.word === 'AS' && prev.depth === 0 && isNameToken(item, last)) {
    return { body: item.slice(0, prev.start).trim(), alias: name(last), tokens: tokens.slice(0, n - 2) };
  }
  const implicit =
    n >= 2 && isNameToken(item, last) && !CLICK_NOT_ALIAS.has(last.word) && item[prev.start] !== '.' &&
    (item[prev.start] === ')' || prev.word === 'END' || (n === 2 && isNameToken(item, prev)));
  if (implicit) return { body: item.slice(0, last.start).trim(), alias: name(last), tokens: tokens.slice(0, n - 1) };
  return { body: item.trim(), alias: null, tokens };
}

// The first aggregate or window function called in an expression's tokens, or a subquery: the
// reason such a category cannot be a condition on rows. Null when there is none.
function rowlessPart(text, tokens) {
  for (let k = 0; k < tokens.length; k++) {
    const t = tokens[k];
    const next = tokens[k + 1];
    if (!t.word) continue;
    if (t.word === 'SELECT') return 'a subquery';
    if (t.word === 'OVER') return 'a window function';
    const called = next && text[next.start] === '(';
    const dotted = k > 0 && text[tokens[k - 1].start] === '.';
    if (called && !dotted && CLICK_AGGREGATES.has(t.word)) return 'the aggregate ' + text.slice(t.start, t.end) + '()';
  }
  return null;
}

// The items of the main query's select list, comments dropped and white space outside literals
// cut to single blanks. The main query is the first top-level SELECT, so a CTE's own select list
// or a FROM inside EXTRACT(... FROM ...) does not count.
function clickSelectItems(sql) {
  const tokens = scanSql(sql);
  const sel = tokens.findIndex((t) => t.depth === 0 && t.word === 'SELECT');
  const from = tokens.findIndex((t, k) => k > sel && t.depth === 0 && t.word === 'FROM');
  if (sel < 0 || from < 0) return [];
  const items = [''];
  let first = sel + 1;
  if (first < from && (tokens[first].word === 'DISTINCT' || tokens[first].word === 'ALL')) {
    first++;
    // DISTINCT ON (...) names no column of its own.
    if (tokens[first - 1].word === 'DISTINCT' && first < from && tokens[first].word === 'ON') {
      const close = tokens.findIndex((t, k) => k > first + 1 && t.depth === 0 && sql[t.start] === ')');
      first = close < 0 ? from : close + 1;
    }
  }
  for (let k = first; k < from; k++) {
    const t = tokens[k];
    if (t.depth === 0 && sql[t.start] === ',') {
      items.push('');
      continue;
    }
    const n = items.length - 1;
    items[n] += (items[n] && t.start > tokens[k - 1].end ? ' ' : '') + sql.slice(t.start, t.end);
  }
  return items.filter(Boolean);
}

export function parseQueryForClickFilters(sql) {
  const meta = { xAxis: null, series: Object.create(null), reason: null };
  const items = clickSelectItems(String(sql == null ? '' : sql));
  if (!items.length) {
    meta.reason = CLICK_REASON_UNREAD;
    return meta;
  }
  meta.xAxis = parseXAxisExpression(items[0]);
  for (const item of items.slice(1)) {
    const s = parseSeriesExpression(item);
    if (s.name) meta.series[s.name] = s.condition;
  }
  meta.reason = meta.xAxis.reason;
  return meta;
}

// The first select item as the chart's category: the date forms kept by their type, a column
// (bare or quoted, any characters), or any other expression without an aggregate, compared as a
// whole. `reason` says why a category that is none of these cannot be clicked.
export function parseXAxisExpression(expr) {
  const e = String(expr).trim();
  let m = CLICK_AXIS_CAST_TRUNC_RE.exec(e);
  if (m) return clickAxis('date_trunc', m[1], m[4], { precision: m[3], dataType: 'date' });
  m = CLICK_AXIS_TRUNC_RE.exec(e);
  if (m) return clickAxis('date_trunc', m[1], m[3], { precision: m[2], dataType: 'date' });
  m = CLICK_AXIS_DATE_FUNC_RE.exec(e);
  if (m) return clickAxis('date_func', m[1], m[3], { func: m[2].toUpperCase(), dataType: 'integer' });
  const { body, tokens } = splitSelectAlias(e);
  const type = tokens.length && tokens[0].word === 'CASE' ? 'case' : 'expression';
  if (!tokens.length || (tokens.length === 1 && body === '*')) {
    return clickAxis('unknown', null, null, { reason: 'Not clickable: the first column is not one column or expression.' });
  }
  // A lone name, or a qualified one (t."Origin State"): the column itself.
  const lastName = tokens[tokens.length - 1];
  const qualified = tokens.length > 1 && tokens.every((t, k) => (k % 2 ? body[t.start] === '.' : isNameToken(body, t)));
  if ((tokens.length === 1 && isNameToken(body, lastName)) || (qualified && tokens.length % 2 === 1)) {
    const column = unquoteIdentifier(body.slice(lastName.start, lastName.end));
    return clickAxis('column', column, column, { dataType: 'unknown' });
  }
  const rowless = rowlessPart(body, tokens);
  if (rowless) {
    return clickAxis(type, null, null, { reason: 'Not clickable: the first column is made by ' + rowless + ', not from single rows.' });
  }
  return clickAxis(type, body, null, { dataType: 'unknown' });
}

// { name, condition }: the alias at the end, and the whole condition of FILTER (WHERE ...) up to
// its own closing parenthesis, so IN (1, 2) or a nested call stays in one piece.
export function parseSeriesExpression(expr) {
  const e = String(expr).trim();
  const { alias, tokens } = splitSelectAlias(e);
  // FILTER ( WHERE as three tokens of code: never inside a literal or a quoted name.
  const k = tokens.findIndex((t, n) => t.word === 'FILTER' && tokens[n + 1] && e[tokens[n + 1].start] === '(' &&
    tokens[n + 2] && tokens[n + 2].word === 'WHERE');
  let condition = null;
  if (k >= 0) {
    const open = tokens[k + 1];
    const close = tokens.find((t, n) => n > k + 2 && t.depth === open.depth && e[t.start] === ')');
    if (close) condition = e.slice(tokens[k + 2].end, close.start).trim() || null;
  }
  return { name: alias, condition };
}

// The SQL condition for a click on `label` (the category as text) of the series `seriesName`
// (none for a pie slice), or null when the chart is not filterable that way.
export function buildChartClickFilter(clickMeta, label, seriesName) {
  const parts = [];
  const axis = clickMeta && clickMeta.xAxis;
  if (axis && axis.expression) {
    // A whole expression is bracketed, so that its own operators bind before the comparison.
    const simple = axis.type === 'date_trunc' || axis.type === 'date_func';
    const lhs = axis.type === 'column' ? sqlIdentifier(axis.column) : simple ? axis.expression : '(' + axis.expression + ')';
    const text = label == null ? '' : String(label);
    // Always a literal: the engine casts it to the column's type, whereas a bare number against
    // a text column is a conversion error. A NULL category reaches the chart as an empty label.
    parts.push(text === '' ? lhs + ' IS NULL' : lhs + ' = ' + sqlString(text));
  }
  const series = clickMeta && clickMeta.series;
  if (seriesName != null && series && Object.prototype.hasOwnProperty.call(series, seriesName)) {
    const cond = series[seriesName];
    // Bracketed beside the category so an OR inside it cannot bypass the category.
    if (cond) parts.push(parts.length ? '(' + cond + ')' : cond);
  }
  return parts.length ? parts.join(' AND ') : null;
}

// What the indicator says of a click, in the chart's own words: its first column and the
// clicked category, and the series when its own condition narrows the rows too.
export function clickFilterWords(column, label, clickMeta, seriesName) {
  const text = label == null ? '' : String(label);
  const name = String(column == null ? '' : column);
  const axis = clickMeta && clickMeta.xAxis && clickMeta.xAxis.expression;
  const category = axis ? (text === '' ? name + ' is empty' : name + ' = ' + text) : '';
  const series = clickMeta && clickMeta.series;
  const narrows = seriesName != null && series && Object.prototype.hasOwnProperty.call(series, seriesName) && series[seriesName];
  if (!narrows) return category;
  return category ? category + ' (' + seriesName + ')' : String(seriesName);
}
