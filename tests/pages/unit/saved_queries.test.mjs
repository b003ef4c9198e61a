// Saved-queries panel logic against a small stand-in DOM and bridge: record filtering,
// escaping, and the store failures the real store rarely produces.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const pageDir = path.join(here, '../../../pages/query');
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
    contains: () => false,
  };
}

// Loads escape.js, util.js and saved_queries.js; bridge maps a bridge name to a function.
function page(bridge) {
  const els = {};
  for (const id of IDS) els[id] = element(id);
  const alerts = [];
  const document = {
    getElementById: (id) => els[id] || null,
    createElement: () => element(''),
    addEventListener() {},
  };
  for (const id of ['saveQueryPanel']) {
    els[id].appendChild = (child) => {
      els[child.id] = child;
      return child;
    };
  }
  const ctx = vm.createContext({ document, alert: (t) => alerts.push(t), setTimeout: () => 0 });
  ctx.window = ctx;
  Object.assign(ctx, bridge);
  for (const f of ['../common/escape.js', '../common/numbers.js', 'util.js', 'saved_queries.js']) {
    vm.runInContext(fs.readFileSync(path.join(pageDir, f), 'utf8'), ctx, { filename: f });
  }
  return { ctx, els, alerts };
}

test('listing keeps only records with a text name and shows names as text', async () => {
  const { ctx, els } = page({
    getSavedQueriesCpp: async () => [
      { name: '<b>x</b> & "q"', sql: "SELECT '\\n'" },
      { name: 7, sql: 'bad' },
      'junk',
      { name: 'no sql' },
      { name: 'Sales', sql: 'SELECT 1', extra: true },
    ],
  });
  await ctx.loadSavedQueries();
  const data = JSON.parse(JSON.stringify(vm.runInContext('savedQueriesData', ctx)));
  assert.deepEqual(data, [
    { name: '<b>x</b> & "q"', sql: "SELECT '\\n'" },
    { name: 'no sql', sql: '' },
    { name: 'Sales', sql: 'SELECT 1' },
  ]);
  const html = els.savedQueriesList.innerHTML;
  assert.ok(!html.includes('<b>x</b>'));
  assert.ok(html.includes('&lt;b&gt;x&lt;/b&gt;'));
  assert.ok(html.includes('onclick="selectSavedQuery(savedQueriesData[0].name, savedQueriesData[0].sql)"'));

  ctx.renderSavedQueriesList('SAL');
  assert.ok(els.savedQueriesList.innerHTML.includes('Sales'));
  assert.ok(!els.savedQueriesList.innerHTML.includes('no sql'));
  ctx.renderSavedQueriesList('zzz');
  assert.ok(els.savedQueriesList.innerHTML.includes('No queries found'));

  // A null list (after deleting from a file without any) is an empty list.
  const empty = page({ getSavedQueriesCpp: async () => null });
  await empty.ctx.loadSavedQueries();
  assert.ok(empty.els.savedQueriesList.innerHTML.includes('No queries found'));
});

test('store failures show and leave the save panel open', async () => {
  let saves = 0;
  const { ctx, els, alerts } = page({
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
  assert.equal(vm.runInContext('selectedQueryName', ctx), 'Old');

  const broken = page({ getSavedQueriesCpp: async () => ({ error: 'unreadable' }) });
  await broken.ctx.loadSavedQueries();
  assert.ok(broken.els.savedQueriesList.innerHTML.includes('Could not load saved queries: unreadable'));
});
