// The Dashboards page's state owner and filter-type registry, imported directly: copies handed
// out, caches forgotten with their dashboard, paged tables by key, tagged engine runs, and the
// menu sections and bar rule every filter kind takes part in.
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
  state.setSelection({ label: 'north', series: 's', mark: { off() {} } });
  state.dashState.selection.label = 'south';
  assert.equal(state.dashState.selection.label, 'north');
  state.setSelection(null);
});

test('date ranges are forgotten when the dashboard, its folder or its file type changes', () => {
  const cases = [
    ['another dashboard', () => state.takeDashboard({ name: 'b', pathToFiles: '/b' }, true), false],
    ['no dashboard', () => state.dropDashboard(), false],
    ['a new dashboard', () => state.startNewDashboard(), false],
    ['another folder', () => state.setPathToFiles('/c'), false],
    ['the other file type', () => state.toggleFileType(), false],
    ['a filter value', () => state.setFilters([]), true],
  ];
  for (const [what, change, kept] of cases) {
    state.keepDateRange('day', { min: '2024-01-01', max: '2024-03-30' });
    state.keepRangeAnswer('SELECT 1', { min: null, max: null });
    change();
    assert.equal(!!state.dateRange('day'), kept, what);
    assert.equal(!!state.rangeAnswer('SELECT 1'), kept, what);
  }
});

test('a paged table keeps its SQL without a click filter while drawn in the same element', () => {
  const el = { isConnected: true };
  state.setPagedTable('preview-0-0', el, { sql: 'A', page: 1, pageSize: 10, isSmall: false });
  state.setPagedSqlWithDropdown('preview-0-0', 'A');
  state.setPagedTable('preview-0-0', el, { sql: 'A AND click', page: 1, pageSize: 10, isSmall: false });
  assert.equal(state.pagedTable('preview-0-0').sqlWithDropdown, 'A');
  // A new render draws the panel in a new element: nothing of the old one carries over.
  const fresh = { isConnected: true };
  state.setPagedTable('preview-0-0', fresh, { sql: 'B', page: 2, pageSize: 10, isSmall: true });
  assert.deepEqual({ ...state.pagedTable('preview-0-0'), el: null },
    { el: null, key: 'preview-0-0', sql: 'B', page: 2, pageSize: 10, isSmall: true, sqlWithDropdown: null });
  fresh.isConnected = false;
  assert.equal(state.pagedTable('preview-0-0'), null);
  assert.deepEqual(state.allPagedTables(), []);
});

test('tagged runs: newer work stops the older and only the current answer counts', async () => {
  const stops = [];
  const pending = [];
  globalThis.window = {
    queryDuckCpp: (sql, tag) => new Promise((resolve) => pending.push(() => resolve(sql === 'STOPPED' ? { cancelled: true } : { rows: [[sql, tag]] }))),
    stopQueryCpp: (tag) => stops.push(tag),
  };
  try {
    const first = state.startWork('panel');
    const old = state.queryAsWork('panel', first, 'old');
    const second = state.startWork('panel');
    assert.deepEqual(stops, [first]);
    const both = state.queryAsWork('panel', second, ['count', 'page']);
    const other = state.startWork('list');
    const stopped = state.queryAsWork('list', other, 'STOPPED');
    pending.forEach((answer) => answer());
    assert.equal(await old, null);
    assert.deepEqual(await both, [{ value: { rows: [['count', second]] } }, { value: { rows: [['page', second]] } }]);
    assert.equal(await stopped, null);
    assert.equal(state.isCurrentWork('panel', second), false);
  } finally {
    delete globalThis.window;
  }
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
