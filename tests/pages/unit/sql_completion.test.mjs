// The editor's completion rules: where the cursor stands, which sources a statement reads, the
// ranked options (each name once, quoted where needed), the data folder's paths, and placing an
// engine error back in the editor's text.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import * as c from '../../../pages/common/sql_completion.js';
import { pathVariableOffset, pathFilesCall } from '../../../pages/common/sql.js';
import { errorRange } from '../../../pages/common/sql_editor.js';

// `|` marks the cursor.
function at(text) {
  const pos = text.indexOf('|');
  return c.cursorContext(text.slice(0, pos) + text.slice(pos + 1), pos);
}

test('cursorContext: what the cursor stands in', () => {
  const cases = [
    ['SEL|', { kind: 'word', typed: 'SEL', place: 'start' }],
    ['SELECT su|', { kind: 'word', typed: 'su', place: 'expression' }],
    ['SELECT * FROM |', { kind: 'word', typed: '', place: 'source' }],
    ['SELECT * FROM a, |', { kind: 'word', place: 'source' }],
    ['SELECT a, |', { kind: 'word', place: 'expression' }],
    ['SELECT * FROM {path-to-files} |', { kind: 'word', place: 'afterSource' }],
    ['SELECT * FROM {path-to-files} f |', { kind: 'word', place: 'afterSource' }],
    ["SELECT * FROM read_csv('x.csv') |", { kind: 'word', place: 'afterSource' }],
    ['SELECT * FROM {path-to-files} AS |', { kind: 'word', place: 'alias' }],
    ['SELECT * FROM t WHERE |', { kind: 'word', place: 'expression' }],
    ['SELECT 1; SEL|', { kind: 'word', place: 'start' }],
    ['SELECT "Air|', { kind: 'word', typed: 'Air', quoted: true, from: 7 }],
    ['SELECT "a""b|', { kind: 'word', typed: 'a"b', quoted: true }],
    ['SELECT f.|', { kind: 'member', alias: 'f', typed: '' }],
    ['SELECT f.re|', { kind: 'member', alias: 'f', typed: 're', from: 9 }],
    ['SELECT "my t".re|', { kind: 'member', alias: 'my t' }],
    ['SELECT 1.|', { kind: 'none' }],
    ["SELECT * FROM read_csv('20|", { kind: 'path', typed: '20', fn: 'read_csv', from: 24 }],
    ["SELECT * FROM READ_PARQUET('|", { kind: 'path', typed: '', fn: 'read_parquet' }],
    ["SELECT * FROM read_csv('it''s|", { kind: 'path', typed: "it's" }],
    ["SELECT * FROM 'a/b|", { kind: 'path', typed: 'a/b', fn: null }],
    ["SELECT 'not a path|", { kind: 'none' }],
    ["SELECT * FROM read_csv('x.csv')|", { kind: 'word', typed: '' }],
    ['SELECT x -- a comment|', { kind: 'none' }],
    ['SELECT x /* open|', { kind: 'none' }],
    ['SELECT * FROM {pa|', { kind: 'pathvar', typed: '{pa', from: 14 }],
    ['SELECT * FROM {path-to-files}|', { kind: 'word', typed: '' }],
  ];
  for (const [text, want] of cases) {
    const got = at(text);
    for (const [k, v] of Object.entries(want)) assert.deepEqual(got[k], v, `${text}: ${k} in ${JSON.stringify(got)}`);
  }
});

test('statementSources: sources with and without aliases', () => {
  const sources = c.statementSources(
    "SELECT * FROM {path-to-files} a JOIN read_csv('f.csv', header = true) AS \"B b\" ON a.id = \"B b\".id " +
    "JOIN 'x.parquet' USING (id) LEFT JOIN sales s ON true WHERE x IN (SELECT y FROM read_parquet('p') p2)");
  assert.deepEqual(sources, [
    { source: { kind: 'pathvar' }, alias: 'a' },
    { source: { kind: 'file', fn: 'read_csv', path: 'f.csv' }, alias: 'B b' },
    { source: { kind: 'file', fn: null, path: 'x.parquet' }, alias: null },
    { source: { kind: 'table', name: 'sales' }, alias: 's' },
    { source: { kind: 'file', fn: 'read_parquet', path: 'p' }, alias: 'p2' },
  ]);
  assert.deepEqual(c.statementSources('SELECT 1'), []);
  assert.deepEqual(c.sourceOfAlias(sources, 'b B'), { kind: 'file', fn: 'read_csv', path: 'f.csv' });
  assert.equal(c.sourceOfAlias(sources, 'nope'), null);
});

test('quoteIdentifier: plain names stay, the rest is quoted with quotes doubled', () => {
  const reserved = new Set(['select', 'order']);
  const cases = [
    ['region', 'region'], ['Sale_Amount2', 'Sale_Amount2'], ['Airport Name', '"Airport Name"'],
    ['Cost Total $', '"Cost Total $"'], ['2024', '"2024"'], ['order', '"order"'], ['ORDER', '"ORDER"'],
    ['say "hi"', '"say ""hi"""'], ['été', '"été"'], ['', '""'],
  ];
  for (const [name, want] of cases) assert.equal(c.quoteIdentifier(name, reserved), want, name);
});

const CATALOG = {
  keywords: [{ name: 'select' }, { name: 'from' }, { name: 'where' }, { name: 'left' }, { name: 'region' }],
  functions: [
    { name: 'sum', kind: 'aggregate', info: 'Sums' },
    { name: 'left', kind: 'scalar', info: '' },
    { name: 'read_csv', kind: 'table', info: '' },
    { name: 'range', kind: 'table', info: '' },
  ],
  reserved: new Set(['select', 'from', 'where']),
};
const PATH_COLUMNS = [{ name: 'region', type: 'VARCHAR' }, { name: 'Airport Name', type: 'VARCHAR' }, { name: 'from', type: 'INTEGER' }];
const FILE_COLUMNS = [{ name: 'id', type: 'BIGINT' }, { name: 'region', type: 'VARCHAR' }];

function options(text, extra = {}) {
  const clean = text.replace('|', '');
  const ctx = at(text);
  const columns = (src) => (src.kind === 'pathvar' ? PATH_COLUMNS : src.kind === 'file' ? FILE_COLUMNS : null);
  const list = c.nameOptions(ctx, { ...CATALOG, sources: c.statementSources(clean), columns, ...extra });
  return list.sort((a, b) => b.boost - a.boost);
}

test('nameOptions: each name once, columns first in expressions, quoted where needed', () => {
  const list = options('SELECT r| FROM {path-to-files}');
  const labels = list.map((o) => o.label);
  assert.equal(new Set(labels.map((l) => l.toLowerCase())).size, labels.length, labels.join(','));
  assert.deepEqual(labels.slice(0, 3).sort(), ['Airport Name', 'from', 'region']);
  assert.equal(list.find((o) => o.label === 'Airport Name').apply, '"Airport Name"');
  assert.equal(list.find((o) => o.label === 'from').apply, '"from"');
  assert.equal(list.find((o) => o.label === 'region').type, 'property');
  // A name that is both a keyword and a function is offered once, as the function.
  assert.equal(list.filter((o) => o.label.toLowerCase() === 'left').length, 1);
  assert.equal(list.find((o) => o.label.toLowerCase() === 'left').type, 'function');
  // Several sources: the columns of all of them, each name once.
  const both = options("SELECT | FROM {path-to-files} JOIN read_csv('f.csv') f ON true").filter((o) => o.type === 'property');
  assert.deepEqual(both.map((o) => o.label).sort(), ['Airport Name', 'from', 'id', 'region']);
});

test('nameOptions: ranked by the clause at the cursor', () => {
  const top = (text) => options(text)[0].label;
  assert.equal(top('SELECT * FROM |'), '{path-to-files}');
  assert.equal(options('SELECT * FROM |')[1].label, 'read_csv');
  assert.ok(!options('SELECT * FROM |').some((o) => o.type === 'property'));
  assert.equal(top('SEL|'), 'SELECT');
  assert.ok(['FROM', 'WHERE', 'LEFT'].includes(top('SELECT * FROM {path-to-files} |')), top('SELECT * FROM {path-to-files} |'));
  assert.deepEqual(options('SELECT * FROM {path-to-files} AS |'), []);
  assert.equal(top('SELECT * FROM {pa|'), '{path-to-files}');
});

test('nameOptions: after alias. only that source\u2019s columns', () => {
  const cases = [
    ["SELECT f.| FROM {path-to-files} p JOIN read_csv('f.csv') AS f ON true", ['id', 'region']],
    ["SELECT P.| FROM {path-to-files} p JOIN read_csv('f.csv') AS f ON true", ['Airport Name', 'from', 'region']],
    ['SELECT x.| FROM {path-to-files} p', []],
  ];
  for (const [text, want] of cases) {
    assert.deepEqual(options(text).map((o) => o.label).sort(), want, text);
  }
  // Typed in quotes: every column, the quoted form applied.
  const quoted = options('SELECT "Air| FROM {path-to-files}');
  assert.ok(quoted.every((o) => o.type === 'property'));
  assert.equal(quoted.find((o) => o.label === 'Airport Name').apply, '"Airport Name"');
});

test('optionsMatching and validWhileTyped: a list narrowed by the first character, kept while the word keeps it', () => {
  const options = ['column 1', 'Amount', 'SELECT', 'région', '$total', 'a-b'].map((label) => ({ label }));
  const labels = (typed) => c.optionsMatching(options, typed).map((o) => o.label);
  assert.deepEqual(labels(''), options.map((o) => o.label));
  assert.deepEqual(labels('se'), ['SELECT']);
  assert.deepEqual(labels('A'), ['Amount', '$total', 'a-b']);
  assert.deepEqual(labels('É'), ['région']);
  assert.deepEqual(labels('$t'), ['$total']);
  const cases = [
    // typed, rest, text, still valid
    ['a', '[\\p{L}\\p{N}_$]*', 'amou', true],
    ['a', '[\\p{L}\\p{N}_$]*', 'Amou', true],
    ['a', '[\\p{L}\\p{N}_$]*', '', false],
    ['a', '[\\p{L}\\p{N}_$]*', 'bam', false],
    ['$t', '[\\p{L}\\p{N}_$]*', '$to', true],
    ['-x', '[^"]*', '-x y', true],
    ['(', '[^"]*', '(a"', false],
    ['', '[\\p{L}\\p{N}_$]*', '', true],
  ];
  for (const [typed, rest, text, valid] of cases) {
    assert.equal(c.validWhileTyped(typed, rest).test(text), valid, `${typed} ${text}`);
  }
});

test('pathOptions: the reader\u2019s files and every folder, quotes doubled, absolute when typed so', () => {
  const entries = [
    { rel: '2024', dir: true, ext: '' },
    { rel: '2024/north east.csv', dir: false, ext: 'csv' },
    { rel: '2024/north.parquet', dir: false, ext: 'parquet' },
    { rel: "o'brien.csv", dir: false, ext: 'csv' },
  ];
  const labels = (ctx) => c.pathOptions(ctx, entries, '/data/').map((o) => o.label);
  assert.deepEqual(labels({ typed: '', fn: 'read_csv' }), ['2024/', '2024/north east.csv', "o'brien.csv"]);
  assert.deepEqual(labels({ typed: '', fn: 'read_parquet' }), ['2024/', '2024/north.parquet']);
  assert.deepEqual(labels({ typed: 'nor', fn: null }), ['2024/north east.csv', '2024/north.parquet']);
  assert.deepEqual(labels({ typed: '2024/ne', fn: 'read_csv' }), ['2024/north east.csv']);
  assert.deepEqual(labels({ typed: '/data/2', fn: 'read_parquet' }), ['/data/2024/', '/data/2024/north.parquet']);
  assert.equal(c.pathOptions({ typed: 'o', fn: 'read_csv' }, entries, '/data').find((o) => o.label === "o'brien.csv").apply, "o''brien.csv");
  const many = Array.from({ length: 3000 }, (_, i) => ({ rel: `f${i}.csv`, dir: false, ext: 'csv' }));
  assert.equal(c.pathOptions({ typed: '', fn: 'read_csv' }, many, '/d').length, c.MAX_PATH_OPTIONS);
});

test('catalogFromRows: keywords, reserved words and functions from the engine\u2019s answer', () => {
  const cat = c.catalogFromRows([
    ['select', 'keyword', 'reserved'], ['abort', 'keyword', 'unreserved'], ['sum', 'aggregate', 'x'.repeat(500)],
    ['', 'keyword', 'reserved'], [null, 'scalar', ''], 'junk', ['lower', null, null],
  ]);
  assert.deepEqual(cat.keywords, [{ name: 'select', reserved: true }, { name: 'abort', reserved: false }]);
  assert.deepEqual([...cat.reserved], ['select']);
  assert.deepEqual(cat.functions.map((f) => [f.name, f.kind, f.info.length]), [['sum', 'aggregate', c.MAX_INFO_LENGTH], ['lower', 'scalar', 0]]);
});

test('pathVariableOffset: a place in the sent text back in the typed text', () => {
  const typed = 'SELECT x FROM {path-to-files} a JOIN {path-to-files} b';
  const call = pathFilesCall(true, '/d');
  const sent = typed.split('{path-to-files}').join(call);
  const cases = [
    [sent.indexOf('x'), typed.indexOf('x')],
    [sent.indexOf(call) + 3, typed.indexOf('{')],
    [sent.indexOf(' a '), typed.indexOf(' a ')],
    [sent.lastIndexOf(call) + call.length - 1, typed.lastIndexOf('{')],
    [sent.indexOf(' b'), typed.indexOf(' b')],
    [sent.length + 5, typed.length],
  ];
  for (const [offset, want] of cases) assert.equal(pathVariableOffset(typed, call, offset), want, String(offset));
});

test('errorRange: the word at the error, one character otherwise, never a line break', () => {
  const cases = [
    ['SELECT nope FROM t', 7, { from: 7, to: 11 }],
    ['SELECT nope FROM t', 9, { from: 9, to: 11 }],
    ['SELECT (1', 7, { from: 7, to: 8 }],
    ['SELECT 1\n', 8, { from: 7, to: 8 }],
    ['SELECT 1', 99, { from: 7, to: 8 }],
    ['\n', 0, null],
    ['', 0, null],
  ];
  for (const [text, offset, want] of cases) assert.deepEqual(errorRange(text, offset), want, JSON.stringify([text, offset]));
});
