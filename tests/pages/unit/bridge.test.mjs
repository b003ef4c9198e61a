// The native call wrapper tells every outcome apart and never rejects.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import vm from 'node:vm';

const source = fs.readFileSync(new URL('../../../pages/common/bridge.js', import.meta.url), 'utf8');

test('bridge outcomes are told apart', async () => {
  const notFound = { error: 'not found', bucketPath: '/x' };
  const cases = [
    [async (...args) => args, { value: ['a'] }],
    [async () => notFound, { error: 'not found', reply: notFound }],
    [async () => ({ error: '', rows: [] }), { value: { error: '', rows: [] } }],
    [async () => ({ cancelled: true }), { cancelled: true }],
    [() => Promise.reject(new Error('bad JSON')), { error: 'bad JSON' }],
    [() => { throw 'boom'; }, { error: 'boom' }],
    [undefined, { error: 'fnCpp is not available' }],
  ];
  for (const [fn, want] of cases) {
    const ctx = vm.createContext({ fnCpp: fn });
    ctx.window = ctx;
    vm.runInContext(source, ctx);
    assert.deepEqual(JSON.parse(JSON.stringify(await ctx.bridgeCall('fnCpp', 'a'))), want);
  }
});
