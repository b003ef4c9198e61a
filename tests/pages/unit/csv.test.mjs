// CSV text of a held result, imported as the page imports it.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import * as ctx from '../../../pages/query/csv.js';

test('csvText quotes every field, doubles quotes and joins lines with CRLF', () => {
  assert.equal(ctx.csvText(['a', 'b "q"'], [['1', ''], ['x,y', 'two\nlines']]),
    '"a","b ""q"""\r\n"1",""\r\n"x,y","two\nlines"');
  assert.equal(ctx.csvText(['only'], []), '"only"');
});
