// Saved-queries panel logic against a small stand-in DOM and bridge: record filtering,
// escaping, and the store failures the real store rarely produces.
import { test } from 'node:test';
import assert from 'node:assert/strict';

const IDS = [
  'savedQueriesDropdownContainer',
  'savedQueriesDropdownLabel',
  'savedQueriesDropdownMenu',
  'savedQueriesSearch',
  'savedQueriesList',
  'deleteQueryBtn',
  'saveQueryBtn',
  'saveQueryPanel',
  'saveQueryName',
  'queryInput',
];

function element(id) {
  return {
    id,
    style: {},
    value: '',
    textContent: '',
    innerHTML: '',
    focus() {},
    addEventListener() {},
    contains: () => false,
  };
}

// A fresh copy of saved_queries.js over its own stand-in document; bridge maps a bridge name to a
// function.
let loads = 0;
async function page(bridge) {
  const els = {};
  for (const id of IDS) els[id] = element(id);
  const alerts = [];
  for (const id of ['saveQueryPanel']) {
    els[id].appendChild = (child) => {
      els[child.id] = child;
      return child;
    };
  }
  globalThis.document = {
    getElementById: (id) => els[id] || null,
    createElement: () => element(''),
    addEventListener() {},
    // The editor library the page imports reads this once when it loads.
    documentElement: { style: {} },
  };
  globalThis.window = { ...bridge };
  globalThis.alert = (t) => alerts.push(t);
  const ctx = await import('../../../pages/query/saved_queries.js?copy=' + ++loads);
  return { ctx, els, alerts };
}

test('listing keeps only records with a text name and shows names as text', async () => {
  const { ctx, els } = await page({
    getSavedQueriesCpp: async () => [
      { name: '<b>x</b> & "q"', sql: "SELECT '\\n'" },
      { name: 7, sql: 'bad' },
      'junk',
      { name: 'no sql' },
      { name: 'Sales', sql: 'SELECT 1', extra: true },
    ],
  });
  await ctx.loadSavedQueries();
  const data = JSON.parse(JSON.stringify(ctx.savedQueriesData));
  assert.deepEqual(data, [
    { name: '<b>x</b> & "q"', sql: "SELECT '\\n'" },
    { name: 'no sql', sql: '' },
    { name: 'Sales', sql: 'SELECT 1' },
  ]);
  const html = els.savedQueriesList.innerHTML;
  assert.ok(!html.includes('<b>x</b>'));
  assert.ok(html.includes('&lt;b&gt;x&lt;/b&gt;'));
  assert.ok(html.includes('data-index="0"'));

  ctx.renderSavedQueriesList('SAL');
  assert.ok(els.savedQueriesList.innerHTML.includes('Sales'));
  assert.ok(!els.savedQueriesList.innerHTML.includes('no sql'));
  ctx.renderSavedQueriesList('zzz');
  assert.ok(els.savedQueriesList.innerHTML.includes('No queries found'));

  // A null list (after deleting from a file without any) is an empty list.
  const empty = await page({ getSavedQueriesCpp: async () => null });
  await empty.ctx.loadSavedQueries();
  assert.ok(empty.els.savedQueriesList.innerHTML.includes('No queries found'));
});

test('store failures show and leave the save panel open', async () => {
  let saves = 0;
  const { ctx, els, alerts } = await page({
    getSavedQueriesCpp: async () => [{ name: 'Old', sql: 'SELECT 1' }],
    saveQueryCpp: async () => {
      saves++;
      return { error: 'disk full' };
    },
    deleteQueryCpp: async () => {
      throw new Error('bridge gone');
    },
  });
  await ctx.loadSavedQueries();
  ctx.promptSaveQuery();
  els.saveQueryName.value = '  New  ';
  els.queryInput.value = ' SELECT 2 ';
  await ctx.confirmSaveQuery();
  assert.equal(saves, 1);
  assert.equal(els.saveQueryPanel.style.display, 'flex');
  assert.equal(els.saveQueryError.textContent, 'Could not save the query: disk full');
  assert.equal(els.saveQueryName.value, '  New  ');

  // The overwrite question remembers the SQL of its moment; a failed overwrite also shows.
  els.saveQueryName.value = 'Old';
  await ctx.confirmSaveQuery();
  assert.equal(els.overwriteConfirm.style.display, 'flex');
  assert.ok(els.overwriteConfirm.innerHTML.includes('<b>"Old"</b>'));
  await ctx.doOverwrite();
  assert.equal(saves, 2);
  assert.equal(els.overwriteConfirm.style.display, 'none');
  assert.equal(els.saveQueryPanel.style.display, 'flex');

  // Cancelling drops the error and the question.
  ctx.cancelSaveQuery();
  assert.equal(els.saveQueryError.style.display, 'none');
  assert.equal(els.saveQueryPanel.style.display, 'none');
  assert.equal(els.saveQueryName.value, '');

  ctx.selectSavedQuery('Old', 'SELECT 1');
  await ctx.deleteSavedQuery();
  assert.deepEqual(alerts, ['Could not delete the query: bridge gone']);
  assert.equal(ctx.selectedQueryName, 'Old');

  const broken = await page({ getSavedQueriesCpp: async () => ({ error: 'unreadable' }) });
  await broken.ctx.loadSavedQueries();
  assert.ok(broken.els.savedQueriesList.innerHTML.includes('Could not load saved queries: unreadable'));
});
