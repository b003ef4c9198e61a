// Text rules of the Dashboards page, with the shared SQL rules it runs on.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import * as sqlRules from '../../../pages/common/sql.js';
import * as rules from '../../../pages/dashboards/rules.js';

const ctx = { ...sqlRules, ...rules };

test('the path variable takes the dashboard folder as a literal, or stays when there is none', () => {
  const sql = 'SELECT * FROM {path-to-files} a JOIN {path-to-files} b USING (id)';
  assert.equal(ctx.replacePathVariableForDashboard(sql, '/d/my data', 'parquet'),
    "SELECT * FROM read_parquet('/d/my data/**/*.parquet', union_by_name = true) a JOIN read_parquet('/d/my data/**/*.parquet', union_by_name = true) b USING (id)");
  assert.equal(ctx.replacePathVariableForDashboard('FROM {path-to-files}', '/d', 'csv'), "FROM read_csv('/d/**/*.csv', union_by_name = true)");
  // Anything but "parquet" reads CSV, as a missing file type does.
  assert.equal(ctx.replacePathVariableForDashboard('FROM {path-to-files}', '/d', undefined), "FROM read_csv('/d/**/*.csv', union_by_name = true)");
  assert.equal(ctx.replacePathVariableForDashboard(sql, '', 'csv'), sql);
  assert.equal(ctx.replacePathVariableForDashboard('SELECT 1', '/d', 'csv'), 'SELECT 1');
  // An apostrophe cannot end the literal, so a folder name cannot rewrite the query.
  assert.equal(ctx.replacePathVariableForDashboard('FROM {path-to-files}', "/d/x'); DROP TABLE t; --", 'csv'),
    "FROM read_csv('/d/x''); DROP TABLE t; --/**/*.csv', union_by_name = true)");
});

test('aggregation test and trailing LIMIT removal as both pages use them', () => {
  assert.equal(ctx.hasAggregation('SELECT COUNT(*) FROM t'), false);
  assert.equal(ctx.hasAggregation('SELECT COUNT(x) FROM t'), true);
  assert.equal(ctx.hasAggregation('select region from t group   by region'), true);
  assert.equal(ctx.stripLimitOffset('SELECT * FROM t LIMIT 10;'), 'SELECT * FROM t LIMIT 10;');
  assert.equal(ctx.stripLimitOffset('SELECT * FROM t LIMIT 10 \n '), 'SELECT * FROM t');
  assert.equal(ctx.stripLimitOffset('SELECT * FROM t offset 5 limit 2'), 'SELECT * FROM t');
});

test('column types, ids and stored record fields', () => {
  for (const t of ['VARCHAR', 'varchar[]', 'CHAR(3)', 'TEXT', 'STRING']) assert.equal(ctx.isTextType(t), true, t);
  for (const t of ['INTEGER', 'DATE', 'DOUBLE', '', null]) assert.equal(ctx.isTextType(t), false, String(t));
  for (const t of ['DATE', 'TIMESTAMP WITH TIME ZONE', 'time', 'TIMESTAMP_NS']) assert.equal(ctx.isDateType(t), true, t);
  for (const t of ['VARCHAR', 'INTERVAL', 'BIGINT']) assert.equal(ctx.isDateType(t), false, t);
  assert.equal(ctx.sanitizeId("région 'x'-1"), 'r_gion__x__1');
  assert.equal(ctx.sanitizeId('😀'), '__');

  const rows = [{ cells: [{ query: 'q' }] }];
  assert.equal(JSON.stringify(ctx.readRecordArray(JSON.stringify(rows))), JSON.stringify(rows));
  assert.equal(ctx.readRecordArray(rows), rows);
  for (const bad of ['{"cells":[]}', 'not json', 42, null, undefined, { a: 1 }]) {
    assert.deepEqual(Array.from(ctx.readRecordArray(bad)), [], String(bad));
  }
  assert.equal(ctx.recordPath({}), '');
  assert.equal(ctx.recordPath({ pathToFiles: '/d' }), '/d');
  assert.equal(ctx.recordFileType({ fileType: '' }), 'csv');
  assert.equal(ctx.recordFileType({ fileType: 'parquet' }), 'parquet');
  assert.deepEqual([{}, { flex: 0 }, { flex: 4 }, { flex: 40 }, { flex: -3 }, { flex: 'x' }, { flex: '8' }].map(ctx.cellFlex),
    [6, 6, 4, 12, 1, 6, 8]);
});

test('notes and the loading bar carry data only as text', () => {
  assert.equal(ctx.noteHtml('<b>x</b>', '#f38ba8', '0.75rem'),
    '<div class="dash-panel-note" style="color:#f38ba8;font-size:0.75rem">&lt;b&gt;x&lt;/b&gt;</div>');
  assert.match(ctx.loadingBarHtml(100), /width:100px.*Loading\.\.\./);
});
