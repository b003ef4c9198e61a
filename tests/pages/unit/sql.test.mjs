// SQL text rules shared by both pages, and the Query page's file query.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';

import * as sql from '../../../pages/common/sql.js';
import * as bucket from '../../../pages/query/bucket.js';

const ctx = { ...sql, ...bucket };

test('hasAggregation: a function counts only with a word character right after its parenthesis', () => {
  for (const sql of ['SELECT SUM(amount) FROM t', 'select count(DISTINCT x) from t', 'SELECT avg(x) FROM t',
    'SELECT STDDEV(x) FROM t', 'SELECT median(x) FROM t', 'SELECT a FROM t GROUP BY a',
    'SELECT a FROM t GROUP\n  BY a', 'SELECT max(x), min(y) FROM t']) {
    assert.equal(ctx.hasAggregation(sql), true, sql);
  }
  for (const sql of ['SELECT COUNT(*) FROM t', 'SELECT SUM( x) FROM t', 'SELECT SUM("col") FROM t',
    'SELECT STDDEV_POP(x) FROM t', 'SELECT * FROM t LIMIT 10', 'SELECT summary FROM t', 'SELECT grouping FROM t']) {
    assert.equal(ctx.hasAggregation(sql), false, sql);
  }
});

test('stripLimitOffset: removes one trailing row limit and leaves anything after it alone', () => {
  const base = 'SELECT * FROM t';
  for (const tail of [' LIMIT 10', ' limit 10, 20', ' LIMIT 5 OFFSET 10', ' OFFSET 3', ' OFFSET 3 LIMIT 4',
    '\nLIMIT 10  \n', ' LIMIT 10 OFFSET 0\t']) {
    assert.equal(ctx.stripLimitOffset(base + tail), base, JSON.stringify(tail));
  }
  for (const sql of [base + ' LIMIT 10;', base + ' LIMIT 10 -- ten', base + ' LIMIT n', base + ' LIMIT 1.5', base,
    'SELECT * FROM (SELECT * FROM t LIMIT 3) s WHERE x > 1']) {
    assert.equal(ctx.stripLimitOffset(sql), sql, sql);
  }
  // Only the last clause goes.
  assert.equal(ctx.stripLimitOffset(base + ' LIMIT 5 LIMIT 6'), base + ' LIMIT 5');
});

test('path variable and paginated statements', () => {
  assert.equal(ctx.substitutePathVariable('SELECT * FROM {path-to-files} a JOIN {path-to-files} b', true, '/d/s'),
    "SELECT * FROM read_parquet('/d/s/**/*.parquet', union_by_name = true) a JOIN read_parquet('/d/s/**/*.parquet', union_by_name = true) b");
  // An apostrophe in a folder or file name is doubled so the literal holds the whole path.
  assert.equal(ctx.substitutePathVariable('-- {path-to-files}', false, "/it's"), "-- read_csv('/it''s/**/*.csv', union_by_name = true)");
  assert.equal(ctx.fileQuery('read_parquet', "/d/x') UNION SELECT 1; --.parquet"),
    "SELECT *\nFROM read_parquet('/d/x'') UNION SELECT 1; --.parquet')\nLIMIT 10");
  const st = ctx.paginatedStatements('SELECT 1 -- c', 3, 10);
  assert.equal(st.count, 'SELECT COUNT(*) as cnt FROM (\nSELECT 1 -- c\n) AS _paginated_subq');
  assert.equal(st.page, 'SELECT * FROM (\nSELECT 1 -- c\n) AS _paginated_subq\nLIMIT 10 OFFSET 20');
  assert.equal(ctx.fileQuery('read_csv', '/d/a.csv'), "SELECT *\nFROM read_csv('/d/a.csv')\nLIMIT 10");
});

test('paged statements drop a closing semicolon and the comments after it, and keep the LIMIT', () => {
  assert.equal(ctx.pagedBaseSql('SELECT DISTINCT a FROM t;'), 'SELECT DISTINCT a FROM t');
  assert.equal(ctx.pagedBaseSql('SELECT a FROM t; -- note\n  -- more\n'), 'SELECT a FROM t');
  assert.equal(ctx.pagedBaseSql('SELECT a FROM t LIMIT 10;\n'), 'SELECT a FROM t LIMIT 10');
  // A semicolon inside a literal, or in the middle, is the user's text.
  assert.equal(ctx.pagedBaseSql("SELECT ';' AS s"), "SELECT ';' AS s");
  assert.equal(ctx.pagedBaseSql('SELECT 1; SELECT 2'), 'SELECT 1; SELECT 2');
  const st = ctx.paginatedStatements(ctx.pagedBaseSql('SELECT 1 AS x; -- c'), 1, 10);
  assert.equal(st.page, 'SELECT * FROM (\nSELECT 1 AS x\n) AS _paginated_subq\nLIMIT 10 OFFSET 0');
});
