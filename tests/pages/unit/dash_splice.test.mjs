// Dashboard filter and chart click conditions spliced into saved SQL, in a bare vm context, and
// the spliced statements checked on the engine program against hand-written references.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import vm from 'node:vm';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.join(here, '../../..');
const ctx = vm.createContext({});
for (const f of ['common/sql.js', 'dashboards/sql_splice.js', 'dashboards/click_rules.js']) {
  vm.runInContext(fs.readFileSync(path.join(root, 'pages', f), 'utf8'), ctx);
}
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
    ['region AS "r"', 'unknown', null, null],
    ['case when a then 1 end', 'case', null, null],
    ['a + b AS c', 'unknown', null, null],
  ];
  for (const [expr, type, expression, column] of cases) {
    const x = ctx.parseXAxisExpression(expr);
    assert.deepEqual([x.type, x.expression, x.column], [type, expression, column], expr);
  }
  assert.equal(ctx.parseXAxisExpression('year(d) AS y').func, 'YEAR');
  assert.deepEqual({ ...ctx.parseSeriesExpression('SUM(x) FILTER (WHERE f(a, \')\') > 0)') },
    { name: null, condition: "f(a, ')') > 0" });
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
  assert.equal(ctx.buildChartClickFilter(caseAxis, 'x'), null);
  assert.equal(ctx.buildChartClickFilter(caseAxis, 'x', 's'), 'a > 1');
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
`;

function engineRows(sql, cwd) {
  const r = spawnSync(ENGINE, [':memory:', '-json'],
    { cwd, env: { ...process.env, HOME: cwd }, input: SETUP + sql + '\n', encoding: 'utf8' });
  assert.equal(r.status, 0, `${sql}\n${r.stderr}`);
  return (r.stdout.trim() ? JSON.parse(r.stdout) : []).map((row) => JSON.stringify(row)).sort();
}

const F = {
  eu: [text('region', 'EU')],
  ob: [text('region', "O'Brien")],
  code: [{ column: 'code', type: 'multiselect', value: null, values: ['2024', "B's"] }],
  mar: [{ column: 'ts', type: 'date', value: null, from: '2024-03-01', to: '2024-03-31' }],
  dto: [{ column: 'd', type: 'date', value: null, from: null, to: '2024-04-20' }, text('ta"g', 'x')],
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
];

const CLICKS = [
  ['region', '', [5]], ['region', "O'Brien", [4]], ['code', '2024', [2, 3]], ['id', '3', [3]],
  ['d', '2024-04-02', [3]], ['MONTH(d)', '4', [3, 4]],
  ["CAST(DATE_TRUNC('month', ts) AS DATE) AS m", '2024-03-01', [1, 2]],
  ["DATE_TRUNC('month', d)", '2024-05-01', [5, 6]],
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
    for (const [axis, label, ids] of CLICKS) {
      const c = ctx.buildChartClickFilter(ctx.parseQueryForClickFilters(`SELECT ${axis}, COUNT(*) FROM t`), label, null);
      const rows = engineRows(ctx.applyChartClickFilterToSql('SELECT id FROM t ORDER BY id', c), dir);
      assert.deepEqual(rows, ids.map((id) => JSON.stringify({ id })), c);
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
