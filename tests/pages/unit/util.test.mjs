// Escaping and formatting helpers of the Query page.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import * as escape from '../../../pages/common/escape.js';
import * as numbers from '../../../pages/common/numbers.js';
import * as virtualTable from '../../../pages/common/virtual_table.js';
import * as util from '../../../pages/query/util.js';

const ctx = { ...escape, ...numbers, ...virtualTable, ...util };

test('escapeHtml keeps any text inert and intact', () => {
  assert.equal(ctx.escapeHtml(`<img src=x onerror="a">&'`), '&lt;img src=x onerror=&quot;a&quot;&gt;&amp;&#39;');
  assert.equal(ctx.escapeHtml(null), '');
  assert.equal(ctx.escapeHtml(12), '12');
  // A data attribute's value, once the HTML parser decodes it, is the same text.
  const decode = (s) => s.replace(/&quot;/g, '"').replace(/&#39;/g, "'").replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&amp;/g, '&');
  for (const p of [`/a/it's "x"\\y`, '/a/<b>&amp;', '/a/\u2028line\nbreak']) {
    const attr = ctx.escapeHtml(p);
    assert.ok(!attr.includes('"') && !attr.includes('<'), attr);
    assert.equal(decode(attr), p);
  }
});

test('fmtSize and fmtDate', () => {
  assert.equal(ctx.fmtSize(undefined), '');
  assert.equal(ctx.fmtSize(0), '0 B');
  assert.equal(ctx.fmtSize(512), '512 B');
  assert.equal(ctx.fmtSize(1023), ctx.formatNumber(1023) + ' B');
  assert.equal(ctx.fmtSize(1536), '1.5 KB');
  assert.equal(ctx.fmtSize(1024 * 1024), '1.0 MB');
  assert.equal(ctx.fmtSize(5 * 1024 ** 3), ctx.formatFixed(5120, 1) + ' MB');
  assert.equal(ctx.fmtDate(0), '');
  assert.equal(ctx.fmtDate(undefined), '');
  const d = new Date(2025, 0, 5, 15, 7);
  const text = ctx.fmtDate(d.getTime() / 1000);
  assert.equal(text, d.toLocaleDateString(undefined, { year: 'numeric', month: 'short', day: 'numeric' }) + ' ' +
    d.toLocaleTimeString(undefined, { hour: '2-digit', minute: '2-digit' }));
});

// Every number a page writes, notes and messages as well as cells, follows the one locale rule:
// under LANG=C (language "C") that is en-US grouping, never none.
test('numbers in notes and messages use the display locale', () => {
  const cases = [
    // [language, formatted 3000000, 1.5 with one decimal]
    ['C', '3,000,000', '1.5'],
    ['C.UTF-8', '3,000,000', '1.5'],
    ['POSIX', '3,000,000', '1.5'],
    ['de-DE', '3.000.000', '1,5'],
    ['xx-nonsense-!!', '3,000,000', '1.5'],
  ];
  for (const [lang, grouped, fixed] of cases) {
    const f = new Intl.NumberFormat(ctx.displayLocale(lang));
    assert.equal(f.format(3000000), grouped, lang);
    assert.equal(new Intl.NumberFormat(ctx.displayLocale(lang), { minimumFractionDigits: 1, maximumFractionDigits: 1 }).format(1.5), fixed, lang);
  }
  assert.equal(ctx.rowsText(1), ctx.formatNumber(1) + ' row');
  assert.equal(ctx.rowsText(3000000), ctx.formatNumber(3000000) + ' rows');
  assert.equal(ctx.formatMs(12345.6), ctx.formatNumber(12346) + ' ms');
  assert.equal(ctx.formatFixed(12.345, 1), ctx.formatNumber(12.3));
});

test('cell formatting of the two table forms', () => {
  const n = (x) => x.toLocaleString();
  // Whole result: numeric columns only, decimals to the locale default.
  assert.equal(ctx.fmtTableCell('1234567', true), n(1234567));
  assert.equal(ctx.fmtTableCell('3.14159', true), n(3.142));
  assert.equal(ctx.fmtTableCell('1234567', false), '1234567');
  assert.equal(ctx.fmtTableCell('', true), '');
  assert.equal(ctx.fmtTableCell('abc', true), 'abc');
  // Paginated: integers grouped, leading zeros lost, decimals and dates untouched.
  assert.equal(ctx.fmtPageCell('02134'), n(2134));
  assert.equal(ctx.fmtPageCell('3.14159'), '3.14159');
  assert.equal(ctx.fmtPageCell('2024-01-05'), '2024-01-05');
  assert.equal(ctx.fmtPageCell(''), '');
  assert.equal(ctx.fmtPageCell('hello'), 'hello');
  // Big integers keep every digit.
  assert.equal(ctx.fmtPageCell('12345678901234567891'), BigInt('12345678901234567891').toLocaleString());
});

test('unreadableNoteText names folders relative to the data folder and shortens a long list', () => {
  const cases = [
    // [paths, data folder, text]
    [[], '/d', ''],
    [undefined, '/d', ''],
    [['/d/locked'], '/d', 'These folders could not be read and were left out: locked/.'],
    [['/d/a/b/', '/d/<c>'], '/d/', 'These folders could not be read and were left out: a/b/, <c>/.'],
    [['/elsewhere/x'], '/d', 'These folders could not be read and were left out: /elsewhere/x/.'],
    [['/dx/y'], '/d', 'These folders could not be read and were left out: /dx/y/.'],
    [['rel/dir'], '', 'These folders could not be read and were left out: rel/dir/.'],
    [Array.from({ length: 1205 }, (_, i) => '/d/f' + i), '/d',
      'These folders could not be read and were left out: f0/, f1/, f2/, f3/, f4/ and 1,200 more.'],
  ];
  for (const [paths, base, text] of cases) assert.equal(ctx.unreadableNoteText(paths, base), text, String(paths));
});
