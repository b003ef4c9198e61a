// CSV text of a held result, imported as the page imports it: the engine's export dialect.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import * as ctx from '../../../pages/query/csv.js';

test('csvText writes what the engine writes: quotes only where needed, NULL as an empty field, LF', () => {
  const nulls = new Set(['1,1']);
  const isNull = (r, c) => nulls.has(r + ',' + c);
  const cases = [
    // [columns, rows, expected]
    [['a', 'b "q"'], [['1', ''], ['x,y', '']], 'a,"b ""q"""\n1,""\n"x,y",\n'],
    [['t'], [['two\nlines'], ['cr\rx']], 't\n"two\nlines"\n"cr\rx"\n'],
    [['h,1'], [[' sp '], ['NULL']], '"h,1"\n sp \nNULL\n'],
    [['only'], [], 'only\n'],
  ];
  for (const [columns, rows, want] of cases) assert.equal(ctx.csvText(columns, rows, isNull), want);
  // Without NULL cells known, an empty cell is an empty text.
  assert.equal(ctx.csvText(['a'], [['']]), 'a\n""\n');
});
