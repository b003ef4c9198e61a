// The Dashboards page's state owner and filter-type registry, imported directly: copies handed
// out, caches forgotten with their dashboard, paged tables by key, tagged engine runs, and the
// menu sections and bar rule of the filter kinds.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import * as state from '../../../pages/dashboards/state.js';
import { filterBarShown, filterMenuSections } from '../../../pages/dashboards/filter_types.js';

test('readers get copies: changing them leaves the state alone', () => {
  state.setFilters([{ column: 'region', type: 'multiselect', value: null, values: ['a'] }]);
  state.dashState.filters[0].values.push('b');
  state.findFilter('region').values.push('c');
  state.changeFilter('region', 'multiselect', { values: ['x'] }).values.push('d');
  assert.deepEqual(state.dashState.filters[0].values, ['x']);
  state.setSelection({ label: 'north', mark: { off() {} } });
  state.dashState.selection.label = 'south';
  assert.equal(state.dashState.selection.label, 'north');
});

test('date ranges are forgotten when the dashboard, its folder or its file type changes', () => {
  for (const [change, kept] of [[() => state.takeDashboard({ name: 'b' }, true), false], [state.dropDashboard, false],
    [state.startNewDashboard, false], [() => state.setPathToFiles('/c'), false], [state.toggleFileType, false],
    [() => state.setFilters([]), true]]) {
    state.keepDateRange('day', { min: '2024-01-01', max: '2024-03-30' });
    state.keepRangeAnswer('SELECT 1', { min: null, max: null });
    change();
    assert.deepEqual([!!state.dateRange('day'), !!state.rangeAnswer('SELECT 1')], [kept, kept], change.toString());
  }
});

test('a paged table keeps its SQL without a click filter while drawn in the same element', () => {
  const [el, fresh] = [{ isConnected: true }, { isConnected: true }];
  state.setPagedTable('p', el, { sql: 'A', page: 1, pageSize: 10, isSmall: false });
  state.setPagedSqlWithDropdown('p', 'A');
  state.setPagedTable('p', el, { sql: 'A AND click', page: 1, pageSize: 10, isSmall: false });
  assert.equal(state.pagedTable('p').sqlWithDropdown, 'A');
  // A new render draws the panel in a new element: nothing of the old one carries over.
  state.setPagedTable('p', fresh, { sql: 'B', page: 2, pageSize: 10, isSmall: true });
  assert.deepEqual({ ...state.pagedTable('p'), el: 0 }, { el: 0, key: 'p', sql: 'B', page: 2, pageSize: 10, isSmall: true, sqlWithDropdown: null });
  fresh.isConnected = false;
  assert.deepEqual([state.pagedTable('p'), state.allPagedTables()], [null, []]);
});

test('tagged runs: newer work stops the older and only the current answer counts', async () => {
  const [stops, pending] = [[], []];
  globalThis.window = {
    queryDuckCpp: (sql, tag) => new Promise((done) => pending.push(() => done(sql === 'STOP' ? { cancelled: true } : [sql, tag]))),
    stopQueryCpp: (tag) => stops.push(tag),
  };
  const first = state.startWork('panel');
  const old = state.queryAsWork('panel', first, 'old');
  const second = state.startWork('panel');
  const both = state.queryAsWork('panel', second, ['count', 'page']);
  const stopped = state.queryAsWork('list', state.startWork('list'), 'STOP');
  pending.forEach((answer) => answer());
  assert.deepEqual(stops, [first]);
  assert.deepEqual([await old, await both, await stopped], [null, [{ value: ['count', second] }, { value: ['page', second] }], null]);
  assert.equal(state.isCurrentWork('panel', second), false);
  delete globalThis.window;
});

test('the menu offers each base kind with its variants; the editor bar shows for any filterable column', () => {
  assert.deepEqual(filterMenuSections(), [
    { type: 'text', heading: 'Text Fields', variants: ['multiselect'] },
    { type: 'date', heading: 'Date Fields', variants: [] },
  ]);
  // A time of day gets no calendar, but shows the bar as before.
  for (const [types, shown] of [[['VARCHAR'], true], [['TIMESTAMP WITH TIME ZONE'], true], [['TIME'], true], [['INTEGER', null], false], [[], false]]) {
    assert.equal(filterBarShown(types.map((type, i) => type && { name: 'c' + i, type })), shown, types.join());
  }
  assert.equal(filterBarShown(null), false);
});

test('a click filter belongs to its dashboard as stored: only the same name and layout keep it', () => {
  const layout = [{ cells: [{ query: 'q', chartType: 'bar' }] }];
  const shown = { name: 'Sales', layout: JSON.stringify(layout) };
  for (const [what, next, kept] of [
    ['the same record again (Edit, Cancel)', () => state.takeDashboard({ ...shown }, true), true],
    ['its layout as an array', () => state.takeDashboard({ name: 'Sales', layout }, false), true],
    ['another dashboard', () => state.takeDashboard({ name: 'Other', layout: shown.layout }, true), false],
    ['the same name saved with another layout', () => state.takeDashboard({ name: 'Sales', layout: '[]' }, true), false],
    ['a new dashboard', () => state.startNewDashboard(), false],
    ['none shown (deleted)', () => state.dropDashboard(), false],
  ]) {
    state.takeDashboard(shown, true);
    state.setClickFilter({ condition: `"region" = 'north'`, column: 'region', words: 'region = north', source: 'preview-0-0' });
    state.setSelection({ label: 'north', key: 'preview-0-0' });
    next();
    assert.equal(state.dashState.clickFilter, kept ? `"region" = 'north'` : null, what);
    assert.equal(state.dashState.selection && state.dashState.selection.label, kept ? 'north' : null, what);
  }
});
