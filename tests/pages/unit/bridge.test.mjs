// The native call wrapper tells every outcome apart and never rejects.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { bridgeCall } from '../../../pages/common/bridge.js';

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
    globalThis.window = { fnCpp: fn };
    assert.deepEqual(JSON.parse(JSON.stringify(await bridgeCall('fnCpp', 'a'))), want);
  }
  delete globalThis.window;
});
