// CSV text of a held result, run in a bare vm context.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const ctx = vm.createContext({});
vm.runInContext(fs.readFileSync(path.join(here, '../../../pages/query/csv.js'), 'utf8'), ctx);

test('csvText quotes every field, doubles quotes and joins lines with CRLF', () => {
  assert.equal(ctx.csvText(['a', 'b "q"'], [['1', ''], ['x,y', 'two\nlines']]),
    '"a","b ""q"""\r\n"1",""\r\n"x,y","two\nlines"');
  assert.equal(ctx.csvText(['only'], []), '"only"');
});
