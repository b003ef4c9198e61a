// Pure helpers of the Query page (escaping, formatting, SQL rules, CSV text) in a bare vm context.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const ctx = vm.createContext({});
for (const f of ['util.js', 'sql.js', 'csv.js']) {
  vm.runInContext(fs.readFileSync(path.join(here, '../../../pages/query', f), 'utf8'), ctx);
}
const run = (expr) => vm.runInContext(expr, ctx);
const call = (name, ...args) => ctx[name] ? ctx[name](...args) : run(name)(...args);

test('escaping keeps markup characters as text and handler arguments intact', () => {
  assert.equal(call('escapeHtml', '<img src=x onerror="a">&\''), '&lt;img src=x onerror=&quot;a&quot;&gt;&amp;&#39;');
  assert.equal(call('escapeHtml', null), '');
  const tricky = 'a"b\'c\\d\ne';
  const attr = call('handlerArg', tricky);
  assert.ok(!attr.includes('"') && !attr.includes("'"));
  const decoded = attr.replace(/&quot;/g, '"').replace(/&#39;/g, "'").replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&amp;/g, '&');
  assert.equal(JSON.parse(decoded), tricky);
});

test('sizes and dates', () => {
  assert.equal(call('fmtSize', undefined), '');
  assert.equal(call('fmtSize', 0), '0 B');
  assert.equal(call('fmtSize', 512), '512 B');
  assert.equal(call('fmtSize', 1536), '1.5 KB');
  assert.equal(call('fmtSize', 5 * 1024 ** 3), '5120.0 MB');
  assert.equal(call('fmtDate', 0), '');
  assert.equal(call('fmtDate', undefined), '');
  assert.match(call('fmtDate', 1736089620), /2025/);
});

test('number formatting of the two table forms', () => {
  assert.equal(call('fmtTableCell', '1234567', true), '1,234,567');
  assert.equal(call('fmtTableCell', '3.14159', true), '3.142');
  assert.equal(call('fmtTableCell', '1234567', false), '1234567');
  assert.equal(call('fmtTableCell', 'abc', true), 'abc');
  assert.equal(call('fmtTableCell', '', true), '');
  assert.equal(call('fmtPageCell', '02134'), '2,134');
  assert.equal(call('fmtPageCell', '3.14159'), '3.14159');
  assert.equal(call('fmtPageCell', '2024-01-05'), '2024-01-05');
  assert.equal(call('fmtPageCell', ''), '');
  assert.equal(call('fmtPageCell', '12345678901234567890'), '12,345,678,901,234,567,890');
});

test('aggregation test', () => {
  const agg = (s) => call('hasAggregation', s);
  for (const s of ['SELECT SUM(amount) FROM t', 'select count(distinct x) from t', 'SELECT a FROM t GROUP\n\tBY a',
    'SELECT STDDEV(x) FROM t', 'SELECT COUNT(id) FROM t', 'SELECT median(x) FROM t']) assert.equal(agg(s), true, s);
  for (const s of ['SELECT COUNT(*) FROM t', 'SELECT SUM( x) FROM t', 'SELECT SUM("x") FROM t',
    'SELECT STDDEV_POP(x) FROM t', 'SELECT * FROM t']) assert.equal(agg(s), false, s);
});

test('trailing LIMIT/OFFSET removal', () => {
  const strip = (s) => call('stripLimitOffset', s);
  assert.equal(strip('SELECT * FROM t LIMIT 10'), 'SELECT * FROM t');
  assert.equal(strip('SELECT * FROM t limit 5, 10  \n'), 'SELECT * FROM t');
  assert.equal(strip('SELECT * FROM t LIMIT 5 OFFSET 20'), 'SELECT * FROM t');
  assert.equal(strip('SELECT * FROM t OFFSET 20'), 'SELECT * FROM t');
  assert.equal(strip('SELECT * FROM t OFFSET 20 LIMIT 5'), 'SELECT * FROM t');
  assert.equal(strip('SELECT * FROM t LIMIT 10;'), 'SELECT * FROM t LIMIT 10;');
  assert.equal(strip('SELECT * FROM t LIMIT 10 -- c'), 'SELECT * FROM t LIMIT 10 -- c');
  assert.equal(strip('SELECT * FROM t LIMIT n'), 'SELECT * FROM t LIMIT n');
  assert.equal(strip('SELECT * FROM t LIMIT 1 LIMIT 2'), 'SELECT * FROM t LIMIT 1');
});

test('path variable and paginated statements', () => {
  assert.equal(call('substitutePathVariable', 'SELECT * FROM {path-to-files} a JOIN {path-to-files} b', true, '/data/sales'),
    "SELECT * FROM read_parquet('/data/sales/**/*.parquet') a JOIN read_parquet('/data/sales/**/*.parquet') b");
  assert.equal(call('substitutePathVariable', '{path-to-files}', false, "/it's"), "read_csv('/it's/**/*.csv')");
  const s = call('paginatedStatements', 'SELECT 1 -- c', 3, 10);
  assert.equal(s.count, 'SELECT COUNT(*) as cnt FROM (\nSELECT 1 -- c\n) AS _paginated_subq');
  assert.equal(s.page, 'SELECT 1 -- c\nLIMIT 10 OFFSET 20');
  assert.equal(call('fileQuery', 'read_csv', '/d/a.csv'), "SELECT *\nFROM read_csv('/d/a.csv')\nLIMIT 10");
});

test('CSV text of a held result', () => {
  assert.equal(call('csvText', ['a', 'b"c'], [['1', 'say "hi"'], ['', 'x\ny']]),
    '"a","b""c"\r\n"1","say ""hi"""\r\n"","x\ny"');
  assert.equal(call('csvText', ['a'], []), '"a"');
});
