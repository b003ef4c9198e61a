// The one native call wrapper: every outcome of a bridge function becomes a value, an error or a
// cancellation, and it never rejects.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const source = fs.readFileSync(path.join(here, '../../../pages/common/bridge.js'), 'utf8');

async function call(fn) {
  const ctx = vm.createContext({});
  ctx.window = ctx;
  if (fn) ctx.fnCpp = fn;
  vm.runInContext(source, ctx);
  return JSON.parse(JSON.stringify(await ctx.bridgeCall('fnCpp', 'a')));
}

test('bridge outcomes are told apart', async () => {
  const notFound = { error: 'Bucket folder not found.', bucketPath: '/x' };
  const cases = [
    ['a text reply', async () => 'ok', { value: 'ok' }],
    ['an array reply', async () => [{ name: 'q' }], { value: [{ name: 'q' }] }],
    ['an error reply keeps the reply', async () => notFound, { error: 'Bucket folder not found.', reply: notFound }],
    ['an empty error text is a value', async () => ({ error: '', rows: [] }), { value: { error: '', rows: [] } }],
    ['a stopped query', async () => ({ cancelled: true }), { cancelled: true }],
    ['a rejected call', () => Promise.reject(new Error('Failed to parse binding result as JSON')),
      { error: 'Failed to parse binding result as JSON' }],
    ['a call that throws', () => { throw 'boom'; }, { error: 'boom' }],
    ['the arguments reach the function', async (...args) => args, { value: ['a'] }],
    ['a missing function', null, { error: 'fnCpp is not available' }],
  ];
  for (const [name, fn, want] of cases) assert.deepEqual(await call(fn), want, name);
});
