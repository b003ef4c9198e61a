// Scripts split with the shared scanner, and engine messages mapped back to the user's text:
// the statements are run on the engine program, so the positions are the engine's own.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import * as escape from '../../../pages/common/escape.js';
import * as sql from '../../../pages/common/sql.js';
import * as engineErrors from '../../../pages/common/engine_error.js';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.join(here, '../../..');
const ctx = { ...escape, ...sql, ...engineErrors };
const DEV = path.resolve(root, process.env.PLINTHOS_DEV || 'build/plinthos-dev');
const ENGINE = path.join(path.dirname(DEV), 'Plinthos.app/Contents/Resources/duckdb');

function engineError(sql) {
  const r = spawnSync(ENGINE, [':memory:', '-json'], { input: sql, encoding: 'utf8' });
  assert.notEqual(r.status, 0, sql);
  return r.stdout + r.stderr;
}

function caret(message) {
  const lines = message.split('\n');
  const k = lines.findIndex((l) => /^LINE \d+: /.test(l));
  if (k < 0) return [message];
  const col = lines[k + 1].indexOf('^');
  return [Number(/^LINE (\d+)/.exec(lines[k])[1]), lines[k].slice(col).match(/^\S+/)[0]];
}

test('splitSqlStatements: semicolons of code only; empty stretches left out', () => {
  const cases = [
    ['SELECT 1', [[0, 8]]],
    ["SELECT ';' AS a; SELECT 2;  -- done; really", [[0, 15], [16, 25]]],
    ['/* ; */ SELECT "a;b" ;; SELECT $$;$$', [[0, 21], [23, 36]]],
    ['  ;\n-- only a comment\n', []],
  ];
  for (const [sql, want] of cases) {
    assert.deepEqual(JSON.parse(JSON.stringify(ctx.splitSqlStatements(sql).map((s) => [s.start, s.end]))), want, sql);
  }
  const one = ctx.sqlScript('SELECT 1; -- note');
  assert.deepEqual([one.setup.length, one.last.text], [0, 'SELECT 1; -- note']);
  const s = ctx.sqlScript('SELECT 1 AS a;\nCREATE TEMP TABLE t AS SELECT 2 AS b;\nFROM t;');
  assert.equal(ctx.sqlPieces(s.setup).sql,
    'SELECT * FROM (\nSELECT 1 AS a\n) WHERE false;\n\nCREATE TEMP TABLE t AS SELECT 2 AS b;\n');
  assert.deepEqual([s.last.text, s.last.at], ['\nFROM t;', 52]);
  const st = ctx.scriptStatements(s, 2, 10, 100);
  assert.match(st.page.sql, /SELECT \* FROM \(\n\nFROM t\n\) AS _paginated_subq\nLIMIT 10 OFFSET 10$/);
  assert.match(st.capped.sql, /SELECT \* FROM \(\n\nFROM t\n\) AS _paginated_subq\nLIMIT 100$/);
});

test('mapEngineError: LINE and caret of wrapped statements and scripts point into the user text', () => {
  const cases = [
    // [user text, which statement the page sends, line, word]
    ['SELECT nope FROM range(3)', 'count', 1, 'nope'],
    ['SELECT range\nFROM range(3)\nWHERE nope = 1', 'count', 3, 'nope'],
    ['SELECT range\nFROM range(3)\nWHERE nope = 1', 'page', 3, 'nope'],
    // A later statement's place, short or long, on its own line or after another statement.
    ['SELECT 1 AS a;\nSELECT nope FROM range(2)', 'whole', 2, 'nope'],
    ['SELECT 1 AS a; SELECT nope FROM range(2)', 'count', 1, 'nope'],
    ["SELECT ';' AS a; /* ; */\n\nSELECT range,\n nope FROM range(2)", 'page', 4, 'nope'],
    ['SELECT 1 AS a;\nSELECT\n  range, nope FROM range(2) AS a_name_as_long_as_a_folder_path', 'count', 3, 'nope'],
    ['CREATE TEMP TABLE t AS FROM range(2);\n\nSELECT nope FROM t AS a_name_as_long_as_a_folder_path', 'page', 3, 'nope'],
    ['CREATE TEMP TABLE t AS SELECT nope FROM range(2);\nFROM t', 'whole', 1, 'nope'],
    ['SELECT 1 AS a;\nSELECT range FROM range(2) ORDER BY LIMIT 2', 'whole', 2, 'LIMIT'],
    ["SELECT '日本語' AS x,\n nope FROM range(1)", 'capped', 2, 'nope'],
  ];
  for (const [text, kind, line, word] of cases) {
    const sent = ctx.scriptStatements(ctx.sqlScript(text), 1, 10, 100)[kind];
    const mapped = ctx.mapEngineError(engineError(sent.sql), sent, text);
    assert.deepEqual(caret(mapped), [line, word], text + '\n' + mapped);
    assert.doesNotMatch(mapped, /^\[/, text);
  }
  // Messages without a place are kept; rows printed before them are not.
  assert.equal(ctx.mapEngineError('[{"a":1}]\nCatalog Error: no t\n', { sql: '', map: [] }, ''), 'Catalog Error: no t\n');
  const long = 'SELECT ' + 'range + '.repeat(10) + 'nope FROM range(1) AS ' + 'r'.repeat(50);
  const sent = ctx.scriptStatements(ctx.sqlScript(long), 1, 10, 100).count;
  assert.deepEqual(caret(ctx.mapEngineError(engineError(sent.sql), sent, long).replace(/\.\.\./g, '   ')), [1, 'nope']);
});
