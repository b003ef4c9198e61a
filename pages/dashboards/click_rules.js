// What a chart click stands for, read from the chart's saved SQL alone: the expression its
// categories come from (the first column) and each series' own FILTER (WHERE ...) condition.

const CLICK_AXIS_CAST_TRUNC_RE =
  /^(CAST\s*\(\s*(DATE_TRUNC\s*\(\s*'(\w+)'\s*,\s*"?(\w+)"?\s*\))\s+AS\s+\w+\s*\))(\s+as\s+\w+)?$/i;
const CLICK_AXIS_TRUNC_RE = /^(DATE_TRUNC\s*\(\s*'(\w+)'\s*,\s*"?(\w+)"?\s*\))(\s+as\s+\w+)?$/i;
const CLICK_AXIS_DATE_FUNC_RE = /^((YEAR|MONTH|DAY|HOUR)\s*\(\s*"?(\w+)"?\s*\))(\s+as\s+\w+)?$/i;
const CLICK_AXIS_COLUMN_RE = /^"?(\w+)"?(\s+as\s+\w+)?$/i;
const CLICK_SERIES_ALIAS_RE = /\s+as\s+"?(\w+)"?\s*$/i;
const CLICK_SERIES_FILTER_RE = /FILTER\s*\(\s*WHERE\s+/i;

function clickAxis(type, expression, column, extra) {
  return Object.assign({ type, expression, column, precision: null, func: null, dataType: null }, extra);
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
  for (let k = sel + 1; k < from; k++) {
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

function parseQueryForClickFilters(sql) {
  const meta = { xAxis: null, series: Object.create(null) };
  const items = clickSelectItems(String(sql == null ? '' : sql));
  if (!items.length) return meta;
  meta.xAxis = parseXAxisExpression(items[0]);
  for (const item of items.slice(1)) {
    const s = parseSeriesExpression(item);
    if (s.name) meta.series[s.name] = s.condition;
  }
  return meta;
}

function parseXAxisExpression(expr) {
  const e = String(expr).trim();
  let m = CLICK_AXIS_CAST_TRUNC_RE.exec(e);
  if (m) return clickAxis('date_trunc', m[1], m[4], { precision: m[3], dataType: 'date' });
  m = CLICK_AXIS_TRUNC_RE.exec(e);
  if (m) return clickAxis('date_trunc', m[1], m[3], { precision: m[2], dataType: 'date' });
  m = CLICK_AXIS_DATE_FUNC_RE.exec(e);
  if (m) return clickAxis('date_func', m[1], m[3], { func: m[2].toUpperCase(), dataType: 'integer' });
  m = CLICK_AXIS_COLUMN_RE.exec(e);
  if (m) return clickAxis('column', m[1], m[1], { dataType: 'unknown' });
  return clickAxis(/^CASE/i.test(e) ? 'case' : 'unknown', null, null);
}

// { name, condition }: the alias at the end, and the whole condition of FILTER (WHERE ...) up to
// its own closing parenthesis, so IN (1, 2) or a nested call stays in one piece.
function parseSeriesExpression(expr) {
  const e = String(expr).trim();
  const alias = CLICK_SERIES_ALIAS_RE.exec(e);
  const m = CLICK_SERIES_FILTER_RE.exec(e);
  let condition = null;
  if (m) {
    const rest = e.slice(m.index + m[0].length);
    const close = scanSql(rest).find((t) => t.depth < 0);
    if (close) condition = rest.slice(0, close.start).trim() || null;
  }
  return { name: alias ? alias[1] : null, condition };
}

// The SQL condition for a click on `label` (the category as text) of the series `seriesName`
// (none for a pie slice), or null when the chart is not filterable that way.
function buildChartClickFilter(clickMeta, label, seriesName) {
  const parts = [];
  const axis = clickMeta && clickMeta.xAxis;
  if (axis && axis.expression) {
    const lhs = axis.type === 'column' ? sqlIdentifier(axis.column) : axis.expression;
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
