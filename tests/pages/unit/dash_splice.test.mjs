// Dashboard filter and chart click conditions spliced into saved SQL, and the spliced statements
// checked on the engine program against hand-written references.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import * as clickRules from '../../../pages/dashboards/click_rules.js';
import * as filterRules from '../../../pages/dashboards/filter_rules.js';
import * as filterTypes from '../../../pages/dashboards/filter_types.js';
import * as splice from '../../../pages/dashboards/sql_splice.js';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.join(here, '../../..');
const ctx = { ...splice, ...clickRules, ...filterRules, ...filterTypes };
const DEV = path.resolve(root, process.env.PLINTHOS_DEV || 'build/plinthos-dev');
const ENGINE = path.join(path.dirname(DEV), 'Plinthos.app/Contents/Resources/duckdb');

const K = '"r" = \'x\'';
const text = (column, value) => ({ column, type: 'text', value });
const only = (sql) => ctx.applyFiltersToSql(sql, [text('r', 'x')]);
const click = (sql) => ctx.applyChartClickFilterToSql(sql, K);

test('buildFilterWhereClause: literals and names quoted, empty filters skipped, own column excluded', () => {
  const filters = [text('region', 'North'), { column: 'product', type: 'multiselect', value: null, values: ['A', "B's"] },
    { column: 'day', type: 'date', value: null, from: '2024-01-01', to: null }, text('we"ird', "O'Brien"),
    text('empty', null), text('blank', ''), { column: 'none', type: 'multiselect', value: null, values: [] },
    { column: 'open', type: 'date', value: null, from: null, to: null }];
  assert.equal(ctx.buildFilterWhereClause(filters),
    `"region" = 'North' AND "product" IN ('A', 'B''s') AND "day" >= '2024-01-01' AND "we""ird" = 'O''Brien'`);
  assert.equal(ctx.buildFilterWhereClause(filters, 'region').startsWith('"product"'), true);
  assert.equal(ctx.buildFilterWhereClause(filters.slice(4)), null);
  assert.equal(ctx.buildFilterWhereClause([]), null);
  const date = (from, to) => ctx.buildFilterWhereClause([{ column: 'd', type: 'date', value: null, from, to }]);
  assert.equal(date(null, '2024-01-31'), `"d" < CAST('2024-01-31' AS DATE) + 1`);
  assert.equal(date('2024-01-01', '2024-01-31'), `"d" >= '2024-01-01' AND "d" < CAST('2024-01-31' AS DATE) + 1`);
});

test('applyFiltersToSql: WHERE and end words only as top-level whole words of the statement', () => {
  const cases = [
    ['SELECT * FROM t', `SELECT * FROM t WHERE ${K}`],
    ['SELECT a, COUNT(x) FROM t WHERE b > 0 GROUP BY a', `SELECT a, COUNT(x) FROM t WHERE (b > 0) AND (${K}) GROUP BY a`],
    ['SELECT a FROM t GROUP BY a', `SELECT a FROM t WHERE ${K} GROUP BY a`],
    ['SELECT a FROM t WHERE a = 1 OR b = 2', `SELECT a FROM t WHERE (a = 1 OR b = 2) AND (${K})`],
    ['SELECT a FROM t WHERE\n\ta = 1 OR b = 2\nGROUP   BY a',
      `SELECT a FROM t WHERE\n\t(a = 1 OR b = 2) AND (${K})\nGROUP   BY a`],
    ['SELECT a, COUNT(*) FILTER (WHERE b > 1) FROM t GROUP BY a',
      `SELECT a, COUNT(*) FILTER (WHERE b > 1) FROM t WHERE ${K} GROUP BY a`],
    [`SELECT * FROM t WHERE note = 'GROUP BY' OR "limit" = 1 OR order_by_x = credit_limit -- LIMIT\nORDER BY a`,
      `SELECT * FROM t WHERE (note = 'GROUP BY' OR "limit" = 1 OR order_by_x = credit_limit) AND (${K}) -- LIMIT\nORDER BY a`],
    ['SELECT * FROM (SELECT * FROM t WHERE a > 1 ORDER BY a LIMIT 3) s ORDER BY a',
      `SELECT * FROM (SELECT * FROM t WHERE a > 1 ORDER BY a LIMIT 3) s WHERE ${K} ORDER BY a`],
    ['WITH x AS (SELECT * FROM t WHERE a > 1 LIMIT 5)\nSELECT * FROM x;',
      `WITH x AS (SELECT * FROM t WHERE a > 1 LIMIT 5)\nSELECT * FROM x WHERE ${K};`],
    ['SELECT * FROM a JOIN b USING (id) USING SAMPLE 5', `SELECT * FROM a JOIN b USING (id) WHERE ${K} USING SAMPLE 5`],
    ['SELECT * FROM t -- all rows', `SELECT * FROM t WHERE ${K} -- all rows`],
    ['SELECT * FROM t WHERE a = 1;\n-- note', `SELECT * FROM t WHERE (a = 1) AND (${K});\n-- note`],
    ['SELECT a FROM t UNION ALL SELECT a FROM u', `SELECT a FROM t WHERE ${K} UNION ALL SELECT a FROM u`],
    ['SELECT a AS limit, t.order FROM t QUALIFY a > 1', `SELECT a AS limit, t.order FROM t WHERE ${K} QUALIFY a > 1`],
    [`SELECT E'it\\'s LIMIT', $$ WHERE $$ /* a /* LIMIT */ WHERE */ FROM t`,
      `SELECT E'it\\'s LIMIT', $$ WHERE $$ /* a /* LIMIT */ WHERE */ FROM t WHERE ${K}`],
    ['SELECT * FROM t;', `SELECT * FROM t WHERE ${K};`],
  ];
  for (const [sql, want] of cases) assert.equal(only(sql), want, sql);
  for (const sql of ['SELECT 1', '', '-- only a comment']) assert.equal(ctx.applyFiltersToSql(sql, [text('r', null)]), sql);
  assert.equal(only('-- only a comment'), '-- only a comment');
});

test('applyChartClickFilterToSql: set operators are no end words, the clause words are', () => {
  assert.equal(click('SELECT a FROM t UNION SELECT a FROM u ORDER BY a'), `SELECT a FROM t UNION SELECT a FROM u WHERE ${K} ORDER BY a`);
  assert.equal(click('SELECT * FROM t WHERE a > 1 OR b\nLIMIT 10'), `SELECT * FROM t WHERE (a > 1 OR b) AND (${K})\nLIMIT 10`);
  assert.equal(click('SELECT * FROM t'), `SELECT * FROM t WHERE ${K}`);
  assert.equal(ctx.applyChartClickFilterToSql('SELECT 1', ''), 'SELECT 1');
});

const TEMPLATES = {
  agg: ['SELECT ', '    product_category,', '    COUNT(*) AS total_sales,',
    '    COUNT(*) FILTER (WHERE sale_amount > 100) AS high_value_sales,',
    "    -- Now you can directly use the alias 'high_value_sales' in a new calculation",
    '    ROUND(100.0 * high_value_sales / total_sales, 2) AS high_value_percentage',
    'FROM {path-to-files}', 'WHERE sale_amount > 0', 'GROUP BY product_category;'].join('\n'),
  range: ['SELECT', '    CASE', "        WHEN column_name < 30000 THEN '< 30k'", "        ELSE '90k+'", '    END AS bucket,',
    '    COUNT(*) AS total', 'FROM {path-to-files}', 'GROUP BY bucket', 'ORDER BY bucket;'].join('\n'),
  dategroup: ['SELECT', "    CAST(DATE_TRUNC('month', timestamp_column) AS DATE) AS month,", '    COUNT(*) AS total',
    'FROM {path-to-files}', 'GROUP BY month', 'ORDER BY month;', '',
    "-- Other options: 'year', 'quarter', 'month', 'week', 'day', 'hour'"].join('\n'),
};

test('parseQueryForClickFilters: the Query page templates, CTEs and balanced series conditions', () => {
  const agg = ctx.parseQueryForClickFilters(TEMPLATES.agg);
  assert.equal(agg.xAxis.type, 'column');
  assert.equal(agg.xAxis.column, 'product_category');
  assert.deepEqual({ ...agg.series }, { total_sales: null, high_value_sales: 'sale_amount > 100', high_value_percentage: null });
  assert.equal(ctx.parseQueryForClickFilters(TEMPLATES.range).xAxis.type, 'case');
  const dg = ctx.parseQueryForClickFilters(TEMPLATES.dategroup).xAxis;
  assert.deepEqual([dg.type, dg.expression, dg.column, dg.precision],
    ['date_trunc', "CAST(DATE_TRUNC('month', timestamp_column) AS DATE)", 'timestamp_column', 'month']);
  const cte = ctx.parseQueryForClickFilters(
    'WITH s AS (SELECT a FROM t)\nSELECT region, EXTRACT(year FROM d) AS y, SUM(x) FILTER (WHERE amount IN (1, 2)) AS "s"\nFROM s');
  assert.equal(cte.xAxis.column, 'region');
  assert.deepEqual({ ...cte.series }, { y: null, s: 'amount IN (1, 2)' });
  for (const sql of ['', 'SELECT 1', 'DESCRIBE t']) assert.deepEqual(ctx.parseQueryForClickFilters(sql).xAxis, null, sql);
});

test('parseXAxisExpression: every pattern, with and without alias and quotes', () => {
  const cases = [
    ['CAST(DATE_TRUNC(\'week\', "ts") AS TIMESTAMP) AS w', 'date_trunc', 'CAST(DATE_TRUNC(\'week\', "ts") AS TIMESTAMP)', 'ts'],
    ["date_trunc( 'month' , d )", 'date_trunc', "date_trunc( 'month' , d )", 'd'],
    ['DATE_TRUNC(\'day\', "d") as day', 'date_trunc', 'DATE_TRUNC(\'day\', "d")', 'd'],
    ['year(d) AS y', 'date_func', 'year(d)', 'd'],
    ['HOUR( "ts" )', 'date_func', 'HOUR( "ts" )', 'ts'],
    ['"region"', 'column', 'region', 'region'],
    ['region AS r', 'column', 'region', 'region'],
    ['region AS "r"', 'column', 'region', 'region'],
    ['"Origin State" origin', 'column', 'Origin State', 'Origin State'],
    ['t."we""ird $ Größe"', 'column', 'we"ird $ Größe', 'we"ird $ Größe'],
    ['case when a then 1 end', 'case', 'case when a then 1 end', null],
    ["CASE WHEN a > 1 THEN 'big' END status", 'case', "CASE WHEN a > 1 THEN 'big' END", null],
    ['CAST(ts AS DATE) day', 'expression', 'CAST(ts AS DATE)', null],
    ['x::DATE', 'expression', 'x::DATE', null],
    ['a + b AS c', 'expression', 'a + b', null],
    ['COUNT(*) AS n', 'expression', null, null],
    ['coalesce(max(a), 0)', 'expression', null, null],
    ['row_number() OVER (ORDER BY a) AS k', 'expression', null, null],
    ['(SELECT 1) AS k', 'expression', null, null],
    ['*', 'unknown', null, null],
  ];
  for (const [expr, type, expression, column] of cases) {
    const x = ctx.parseXAxisExpression(expr);
    assert.deepEqual([x.type, x.expression, x.column], [type, expression, column], expr);
  }
  assert.equal(ctx.parseXAxisExpression('year(d) AS y').func, 'YEAR');
  assert.deepEqual({ ...ctx.parseSeriesExpression('SUM(x) FILTER (WHERE f(a, \')\') > 0)') },
    { name: null, condition: "f(a, ')') > 0" });
  assert.deepEqual({ ...ctx.parseSeriesExpression('MAX(\'FILTER (WHERE a)\') AS "a b"') }, { name: 'a b', condition: null });
});

test('buildChartClickFilter: every label a literal, empty label IS NULL, series condition bracketed', () => {
  const meta = (xAxis, series = {}) => ({ xAxis, series });
  const col = meta(ctx.parseXAxisExpression('region'), { eu: "region = 'EU' OR id = 1", n: null, pie: '' });
  assert.equal(ctx.buildChartClickFilter(col, 'EU', 'n'), `"region" = 'EU'`);
  assert.equal(ctx.buildChartClickFilter(col, '2024', null), `"region" = '2024'`);
  assert.equal(ctx.buildChartClickFilter(col, "O'Brien"), `"region" = 'O''Brien'`);
  assert.equal(ctx.buildChartClickFilter(col, '', 'eu'), `"region" IS NULL AND (region = 'EU' OR id = 1)`);
  assert.equal(ctx.buildChartClickFilter(col, 'x', 'constructor'), `"region" = 'x'`);
  const dt = meta(ctx.parseXAxisExpression("CAST(DATE_TRUNC('month', d) AS DATE)"));
  assert.equal(ctx.buildChartClickFilter(dt, '2024-03-01'), "CAST(DATE_TRUNC('month', d) AS DATE) = '2024-03-01'");
  assert.equal(ctx.buildChartClickFilter(meta(ctx.parseXAxisExpression('YEAR(d)')), 2024), "YEAR(d) = '2024'");
  const caseAxis = meta(ctx.parseXAxisExpression('CASE WHEN a THEN 1 END'), { s: 'a > 1' });
  assert.equal(ctx.buildChartClickFilter(caseAxis, 'x', 's'), "(CASE WHEN a THEN 1 END) = 'x' AND (a > 1)");
  assert.equal(ctx.buildChartClickFilter(caseAxis, ''), '(CASE WHEN a THEN 1 END) IS NULL');
  const summed = meta(ctx.parseXAxisExpression('SUM(a)'), { s: 'a > 1' });
  assert.equal(ctx.buildChartClickFilter(summed, 'x'), null);
  assert.equal(ctx.buildChartClickFilter(summed, 'x', 's'), 'a > 1');
});

test('parseQueryForClickFilters: why a chart cannot be clicked', () => {
  const reason = (sql) => ctx.parseQueryForClickFilters(sql).reason;
  assert.equal(reason('SELECT "Cost Total $", COUNT(*) AS "n of rows" FROM t GROUP BY 1'), null);
  assert.deepEqual({ ...ctx.parseQueryForClickFilters('SELECT DISTINCT ON (a) a, b AS "the b" FROM t').series }, { 'the b': null });
  assert.match(reason('SELECT COUNT(*) AS n, region FROM t GROUP BY region'), /aggregate COUNT\(\)/);
  assert.match(reason('SELECT SUM(x) OVER () AS s, a FROM t'), /aggregate SUM\(\)/);
  assert.match(reason('SELECT rank() OVER w AS r, a FROM t'), /aggregate rank\(\)/);
  assert.match(reason('FROM t SELECT a, COUNT(*)'), /could not be read/);
  assert.match(reason(''), /could not be read/);
});

// Rows of the table `t` cover text, integer, date and timestamp columns, NULLs, apostrophes,
// numeric-looking text and a name holding a double quote.
const SETUP = `CREATE TABLE t AS SELECT * FROM (VALUES
  (1, 'EU', DATE '2024-03-01', TIMESTAMP '2024-03-01 08:00:00', 'A1', 50, 100, 'x'),
  (2, 'US', DATE '2024-03-15', TIMESTAMP '2024-03-31 23:30:00', '2024', 150, 200, 'y'),
  (3, 'EU', DATE '2024-04-02', TIMESTAMP '2024-04-01 00:00:00', '2024', 250, 300, 'x'),
  (4, 'O''Brien', DATE '2024-04-20', TIMESTAMP '2024-04-20 12:00:00', NULL, 80, 100, 'z'),
  (5, NULL, DATE '2024-05-05', TIMESTAMP '2024-05-05 05:00:00', 'B''s', 120, 200, 'GROUP BY'),
  (6, 'US', DATE '2024-05-31', TIMESTAMP '2024-05-31 18:00:00', 'A1', 300, 300, 'y')
) v(id, region, d, ts, code, amount, credit_limit, "ta""g");
CREATE TABLE u AS SELECT * FROM t WHERE id > 3;
CREATE TABLE w AS SELECT id, region AS "Origin State", amount AS "Cost Total $", code AS "Grö""ße", ts FROM t;
`;

function engineJson(sql, cwd) {
  const r = spawnSync(ENGINE, [':memory:', '-json'],
    { cwd, env: { ...process.env, HOME: cwd }, input: SETUP + sql + '\n', encoding: 'utf8' });
  assert.equal(r.status, 0, `${sql}\n${r.stderr}`);
  return r.stdout.trim() ? JSON.parse(r.stdout) : [];
}

function engineRows(sql, cwd) {
  return engineJson(sql, cwd).map((row) => JSON.stringify(row)).sort();
}

const F = {
  eu: [text('region', 'EU')],
  ob: [text('region', "O'Brien")],
  code: [{ column: 'code', type: 'multiselect', value: null, values: ['2024', "B's"] }],
  mar: [{ column: 'ts', type: 'date', value: null, from: '2024-03-01', to: '2024-03-31' }],
  dto: [{ column: 'd', type: 'date', value: null, from: null, to: '2024-04-20' }, text('ta"g', 'x')],
  us: [text('region', 'US')],
  dfrom: [{ column: 'd', type: 'date', value: null, from: '2024-04-20', to: null }],
  dboth: [{ column: 'd', type: 'date', value: null, from: '2024-03-15', to: '2024-04-20' }],
  tag: [{ column: 'ta"g', type: 'multiselect', value: null, values: ['y', 'x'] }, text('code', '2024')],
  a1: [{ column: 'code', type: 'multiselect', value: null, values: ['A1'] }],
  euob: [{ column: 'region', type: 'multiselect', value: null, values: ["O'Brien", 'EU'] }],
  gb: [text('ta"g', 'GROUP BY')],
};
// [saved SQL, filters or a click condition, the same query filtered by hand]
const ENGINE_CASES = [
  ['SELECT id FROM t WHERE amount > 100 OR id = 1', F.eu, "SELECT id FROM t WHERE (amount > 100 OR id = 1) AND region = 'EU'"],
  ['SELECT id\nFROM t\nWHERE\n  amount > 100\n  OR id = 1\nORDER BY id;\n-- done', F.eu,
    "SELECT id FROM t WHERE region = 'EU' AND (amount > 100 OR id = 1)"],
  ['SELECT region, COUNT(*) AS n FROM t WHERE "ta""g" <> \'GROUP BY\' GROUP BY region HAVING COUNT(*) > 0', F.code,
    "SELECT region, COUNT(*) AS n FROM t WHERE code IN ('2024', 'B''s') AND \"ta\"\"g\" <> 'GROUP BY' GROUP BY region"],
  ['SELECT id, credit_limit FROM t -- LIMIT 1', F.ob, "SELECT id, credit_limit FROM t WHERE region = 'O''Brien'"],
  ['SELECT id FROM t WHERE id IN (SELECT id FROM u WHERE amount > 100 ORDER BY id LIMIT 5)', F.code,
    "SELECT id FROM t WHERE id IN (5) AND code IN ('2024', 'B''s')"],
  ['SELECT * FROM (SELECT id, ts FROM t ORDER BY id LIMIT 4) s', F.mar, 'SELECT id, ts FROM t WHERE id IN (1, 2)'],
  ['WITH x AS (SELECT id, region, d, "ta""g" FROM t WHERE id > 1) SELECT id FROM x;', F.dto,
    "SELECT id FROM t WHERE id > 1 AND d <= DATE '2024-04-20' AND \"ta\"\"g\" = 'x'"],
  ['SELECT id FROM t UNION ALL SELECT id FROM u ORDER BY id', F.eu, 'SELECT * FROM (VALUES (1), (3), (4), (5), (6)) v(id)'],
  ['SELECT SUM(amount) FILTER (WHERE amount > 100) AS s FROM t;', F.eu, 'SELECT 250 AS s'],
  ['SELECT id FROM t', 'id IN (2)', 'SELECT 2 AS id'],
  ['SELECT id FROM t WHERE id > 4 OR id = 1 LIMIT 10', 'region IS NULL', 'SELECT 5 AS id'],
  ['WITH big AS (\n  -- only large sales\n  SELECT * FROM t WHERE amount > 100\n)\nSELECT id, region\nFROM big\nORDER BY id', F.us,
    "SELECT id, region FROM t WHERE amount > 100 AND region = 'US'"],
  ['WITH a AS (SELECT * FROM t), b AS (SELECT id FROM u)\nSELECT id FROM a WHERE id IN (SELECT id FROM b) OR amount < 60', F.eu,
    'SELECT 1 AS id'],
  ['SELECT region, COUNT(*) AS n FROM (SELECT * FROM t WHERE amount >= 80) AS s GROUP BY region ORDER BY region', F.code,
    "SELECT region, COUNT(*) AS n FROM t WHERE amount >= 80 AND code IN ('2024', 'B''s') GROUP BY region"],
  ['SELECT id FROM t WHERE amount > 200 UNION SELECT id FROM u', F.us,
    "SELECT id FROM t WHERE amount > 200 AND region = 'US' UNION SELECT id FROM u"],
  ['SELECT region, SUM(amount) AS s FROM t GROUP BY region HAVING SUM(amount) > 0 ORDER BY s DESC LIMIT 2', F.mar,
    "SELECT * FROM (VALUES ('EU', 50), ('US', 150)) v(region, s)"],
  ['SELECT region, COUNT(*) FILTER (WHERE amount > 100) AS big, COUNT(*) AS n FROM t GROUP BY ALL', F.code,
    "SELECT * FROM (VALUES ('US', 1, 1), ('EU', 1, 1), (NULL, 1, 1)) v(region, big, n)"],
  ['/* report */ SELECT id -- the key\nFROM t -- all of them\n;', F.ob, 'SELECT 4 AS id'],
  ['SELECT id FROM t WHERE amount > 100;  -- big ones', F.us, 'SELECT * FROM (VALUES (2), (6)) v(id)'],
  ['SELECT "id", "ta""g" FROM "t" WHERE "ta""g" = \'y\' OR "id" = 1', F.tag, 'SELECT 2 AS id, \'y\' AS "ta""g"'],
  ['SELECT id, credit_limit FROM t WHERE credit_limit >= 200 ORDER BY credit_limit, id', F.eu, 'SELECT 3 AS id, 300 AS credit_limit'],
  ['SELECT id FROM t WHERE "ta""g" <> \'ORDER BY\' AND region <> \'LIMIT 1\' OR id = 4', F.eu,
    'SELECT * FROM (VALUES (1), (3)) v(id)'],
  ['SELECT id\nFROM t\nWHERE\n\tamount > 100 OR\n\tid = 1\nORDER BY id', F.dto, 'SELECT * FROM (VALUES (1), (3)) v(id)'],
  ['select id from t where amount > 100 order by id limit 3', F.us, 'SELECT * FROM (VALUES (2), (6)) v(id)'],
  ['SELECT id FROM t WHERE region IN (SELECT region FROM t GROUP BY region HAVING COUNT(*) > 1)', F.code,
    'SELECT * FROM (VALUES (2), (3)) v(id)'],
  ['SELECT id, region FROM t QUALIFY ROW_NUMBER() OVER (PARTITION BY region ORDER BY id) = 1', F.us, "SELECT 2 AS id, 'US' AS region"],
  ['SELECT t.id FROM t JOIN (SELECT id AS uid FROM u) x ON t.id = x.uid WHERE t.amount > 90', F.us, 'SELECT 6 AS id'],
  ['SELECT region, COUNT(*) AS n FROM t GROUP BY region ORDER BY region NULLS LAST LIMIT 10', F.dfrom,
    "SELECT * FROM (VALUES ('O''Brien', 1), ('US', 1), (NULL, 1)) v(region, n)"],
  ['SELECT id FROM t', F.dboth, 'SELECT * FROM (VALUES (2), (3), (4)) v(id)'],
  ['SELECT id FROM t ORDER BY id LIMIT 2 OFFSET 1', F.us, 'SELECT 6 AS id'],
  ['SELECT DISTINCT region FROM t WHERE "ta""g" <> \';\' ORDER BY region', F.code,
    "SELECT * FROM (VALUES ('EU'), ('US'), (NULL)) v(region)"],
  ['SELECT id FROM t EXCEPT SELECT id FROM u', F.eu, 'SELECT * FROM (VALUES (1), (3)) v(id)'],
  ['SELECT id FROM t WHERE (amount > 100 AND (region = \'US\' OR region IS NULL)) OR id = 1', F.a1,
    'SELECT * FROM (VALUES (1), (6)) v(id)'],
  ['SELECT id FROM t', F.gb, 'SELECT 5 AS id'],
  ['SELECT id, amount FROM t ORDER BY amount DESC LIMIT 5', F.euob, 'SELECT * FROM (VALUES (1, 50), (3, 250), (4, 80)) v(id, amount)'],
  ['SELECT * FROM t WHERE id > 1 -- note: ORDER BY\n', F.us, "SELECT * FROM t WHERE id IN (2, 6)"],
  ['SELECT id FROM t WHERE amount > 100 -- big', F.eu, 'SELECT 3 AS id'],
  ['SELECT\n  id,\n  SUM(amount) OVER (ORDER BY id ROWS BETWEEN UNBOUNDED PRECEDING AND CURRENT ROW) AS running\nFROM t\nORDER BY id', F.us,
    'SELECT * FROM (VALUES (2, 150), (6, 450)) v(id, running)'],
];

const CLICKS = [
  ['region', '', [5]], ['region', "O'Brien", [4]], ['code', '2024', [2, 3]], ['id', '3', [3]],
  ['d', '2024-04-02', [3]], ['MONTH(d)', '4', [3, 4]],
  ["CAST(DATE_TRUNC('month', ts) AS DATE) AS m", '2024-03-01', [1, 2]],
  ["DATE_TRUNC('month', d)", '2024-05-01', [5, 6]],
  ['"ta""g"', 'GROUP BY', [5]], ['t.region', 'US', [2, 6]], ['lower(region) AS r', "o'brien", [4]],
  ["CASE WHEN amount > 100 THEN 'big' ELSE 'small' END AS size", 'big', [2, 3, 5, 6]],
  ['CAST(ts AS DATE) AS day', '2024-03-31', [2]], ['EXTRACT(month FROM d) m', '4', [3, 4]],
  ['amount % 100 AS rest', '50', [1, 2, 3]], ['"Origin State"', 'EU', [1, 3], 'w'], ['"Cost Total $" AS c', '150', [2], 'w'],
  ['"Grö""ße"', "B's", [5], 'w'], ['date_trunc(\'month\', ts)::DATE AS mo', '2024-04-01', [3, 4], 'w'],
];

test('spliced statements give the hand-filtered rows on the engine', (t) => {
  if (!fs.existsSync(ENGINE)) {
    t.skip(`engine program not found at ${ENGINE}; build it or set PLINTHOS_DEV`);
    return;
  }
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'dash-splice-'));
  try {
    for (const [sql, filter, ref] of ENGINE_CASES) {
      const spliced = typeof filter === 'string'
        ? ctx.applyChartClickFilterToSql(sql, filter) : ctx.applyFiltersToSql(sql, filter);
      assert.deepEqual(engineRows(spliced, dir), engineRows(ref, dir), spliced);
    }
    const meta = ctx.parseQueryForClickFilters(
      'SELECT region, SUM(amount) FILTER (WHERE amount IN (120, 250, 300)) AS big FROM t GROUP BY region');
    const cond = ctx.buildChartClickFilter(meta, 'EU', 'big');
    assert.deepEqual(engineRows(ctx.applyChartClickFilterToSql('SELECT id FROM t WHERE id > 1 OR id = 1', cond), dir),
      engineRows('SELECT 3 AS id', dir));
    for (const [axis, label, ids, table = 't'] of CLICKS) {
      const meta = ctx.parseQueryForClickFilters(`SELECT ${axis}, COUNT(*) FROM ${table} t GROUP BY ALL`);
      // The chart's own query runs, and the label is one of its categories.
      assert.ok(engineJson(`SELECT ${axis}, COUNT(*) FROM ${table} t GROUP BY ALL`, dir).length > 0, axis);
      const c = ctx.buildChartClickFilter(meta, label, null);
      const rows = engineRows(ctx.applyChartClickFilterToSql(`SELECT id FROM ${table} ORDER BY id`, c), dir);
      assert.deepEqual(rows, ids.map((id) => JSON.stringify({ id })), c);
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('value-list query on the engine: ascending, no NULL, at most 1000 with the count of all, narrowed by the other filters and a search only', (t) => {
  if (!fs.existsSync(ENGINE)) {
    t.skip(`engine program not found at ${ENGINE}; build it or set PLINTHOS_DEV`);
    return;
  }
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'dash-values-'));
  try {
    engineJson("COPY t TO 't.parquet' (FORMAT PARQUET);\n" +
      "COPY (SELECT printf('%04d', 1499 - i) AS c FROM range(1500) r(i)) TO 'big.parquet' (FORMAT PARQUET);", dir);
    const src = ctx.findDataSource("SELECT region, COUNT(*) FROM read_parquet('t.parquet') GROUP BY region");
    const values = (column, filters, search) => engineJson(
      ctx.distinctValuesSql(src, column, ctx.buildFilterWhereClause(filters, column), search), dir).map((row) => row.v);
    assert.deepEqual(values('region', []), ['EU', "O'Brien", 'US']);
    // The search reads the text of the value, ignores case, and takes its own wildcards literally.
    for (const [search, want] of [["o'b", ["O'Brien"]], ['u', ['EU', 'US']], ['%', []], ['_', []], ['E_', []]]) {
      assert.deepEqual(values('region', [], search), want, search);
    }
    const chosen = [text('region', 'EU'), { column: 'code', type: 'multiselect', value: null, values: ['2024'] }];
    assert.deepEqual(values('region', chosen), ['EU', 'US']);
    assert.deepEqual(values('code', chosen), ['2024', 'A1']);
    assert.deepEqual(values('ta"g', [{ column: 'd', type: 'date', value: null, from: '2024-04-20', to: null }, text('ta"g', 'z')]),
      ['GROUP BY', 'y', 'z']);
    const bigRows = engineJson(ctx.distinctValuesSql("read_parquet('big.parquet')", 'c', null), dir);
    const big = bigRows.map((row) => row.v);
    assert.equal(big.length, 1000);
    assert.deepEqual([big[0], big[999]], ['0000', '0999']);
    assert.deepEqual(new Set(bigRows.map((row) => Number(row.n))), new Set([1500]));
    const found = engineJson(ctx.distinctValuesSql("read_parquet('big.parquet')", 'c', null, '149'), dir);
    assert.deepEqual(found.map((row) => [row.v, Number(row.n)]).slice(0, 2), [['0149', 12], ['1149', 12]]);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
