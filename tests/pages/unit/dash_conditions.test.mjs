// The conditions a dashboard panel takes, each dropped alone when the engine finds no column of
// it: pieces from filters and the click, the engine's message read, and the run without them.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import * as conditions from '../../../pages/dashboards/conditions.js';
import { applyFiltersToSql } from '../../../pages/dashboards/filter_types.js';
import { applyChartClickFilterToSql } from '../../../pages/dashboards/sql_splice.js';
import { clickFilterWords, parseQueryForClickFilters } from '../../../pages/dashboards/click_rules.js';

const missing = (name) => `Binder Error: Referenced column "${name}" not found in FROM clause!\nCandidate bindings: "id"\n\nLINE 1: ...`;
const FILTERS = [
  { column: 'region', type: 'text', value: "o'west" },
  { column: 'Wildlife Size', type: 'multiselect', values: ['Large', 'Small'] },
  { column: 'day', type: 'date', from: '2024-01-01', to: null },
  { column: 'empty', type: 'text', value: null },
];
const CLICK = { condition: `"Wildlife Size" = 'Large'`, column: 'Wildlife Size' };

test('all pieces give the same SQL as the filters and the click spliced one after the other', () => {
  const pieces = conditions.filterPieces(FILTERS);
  assert.deepEqual(pieces.map((p) => p.name), ['region', 'Wildlife Size', 'day']);
  for (const sql of ['SELECT * FROM t', 'SELECT a, COUNT(*) FROM t WHERE b > 0 GROUP BY a ORDER BY 2 LIMIT 5;']) {
    const both = pieces.concat([conditions.clickPiece(CLICK)]);
    assert.equal(conditions.sqlWithPieces(sql, both), applyChartClickFilterToSql(applyFiltersToSql(sql, FILTERS), CLICK.condition));
    assert.equal(conditions.sqlWithPieces(sql, []), sql);
  }
  assert.equal(conditions.clickPiece(null), null);
});

test('a missing column drops exactly the pieces that name it, plain or quoted, in any case', () => {
  const pieces = conditions.filterPieces(FILTERS).concat([conditions.clickPiece(CLICK),
    { sql: `(CAST(DATE_TRUNC('month', "Flight Date") AS DATE)) = '2024-03-01' AND (amount > 100)`, name: 'month', click: true }]);
  for (const [error, dropped] of [
    [missing('region'), ['region']],
    [missing('REGION'), ['region']],
    [missing('wildlife size'), ['Wildlife Size', 'Wildlife Size']],
    [missing('Flight Date'), ['month']],
    [missing('amount'), ['month']],
    // The panel's own fault, a literal that reads like a name, and other errors stay errors.
    [missing('other'), null],
    [missing('Large'), null],
    ['Binder Error: Referenced table "t" not found!', null],
    ['Parser Error: syntax error at or near "region"', null],
    ['', null],
    [undefined, null],
  ]) {
    const got = conditions.dropMissing(pieces, error);
    assert.deepEqual(got && got.dropped, dropped, String(error));
    if (got) assert.equal(got.kept.length + dropped.length, pieces.length);
  }
  assert.equal(conditions.conditionUses(`"say ""hi""" = 'x'`, 'say "hi"'), true);
  assert.equal(conditions.conditionUses(`"say ""hi""" = 'x'`, 'say'), false);
});

test('runs again without what the data lacks, one column at a time, and stops on any other answer', async () => {
  const pieces = conditions.filterPieces(FILTERS).concat([conditions.clickPiece(CLICK)]);
  // A source with only the columns id and day.
  const has = new Set(['ID', 'DAY']);
  const sent = [];
  const run = async (sql) => {
    sent.push(sql);
    const name = ['region', 'Wildlife Size'].find((n) => sql.includes(`"${n}"`) && !has.has(n.toUpperCase()));
    return name ? { error: missing(name) } : { value: 'rows' };
  };
  const ran = await conditions.runWithPieces('SELECT * FROM t', pieces, run, (r) => r.error);
  assert.deepEqual(ran.dropped, ['region', 'Wildlife Size']);
  assert.deepEqual(ran.reply, { value: 'rows' });
  assert.equal(ran.sql, `SELECT * FROM t WHERE "day" >= '2024-01-01'`);
  assert.equal(sent.length, 3);
  assert.equal(conditions.notFilteredText(ran.dropped), 'Not filtered by region, Wildlife Size');
  assert.equal(conditions.notFilteredText([]), '');

  // The panel's own error is its answer; a stale run gives nothing.
  const own = await conditions.runWithPieces('SELECT x FROM t', pieces, async () => ({ error: missing('x') }), (r) => r.error);
  assert.deepEqual([own.dropped, own.reply.error], [[], missing('x')]);
  assert.equal(await conditions.runWithPieces('SELECT 1', pieces, async () => null, (r) => r.error), null);
});

test('the indicator words: the chart first column and the category, never the SQL', () => {
  const meta = parseQueryForClickFilters(
    `SELECT "Wildlife Size", COUNT(*) AS n, COUNT(*) FILTER (WHERE cost > 100) AS costly FROM t GROUP BY 1`);
  for (const [label, series, words] of [
    ['Large', 'n', 'Wildlife Size = Large'],
    ["it's <b>", 'n', "Wildlife Size = it's <b>"],
    ['', 'n', 'Wildlife Size is empty'],
    ['Large', 'costly', 'Wildlife Size = Large (costly)'],
    ['Large', undefined, 'Wildlife Size = Large'],
  ]) {
    assert.equal(clickFilterWords('Wildlife Size', label, meta, series), words);
  }
});
