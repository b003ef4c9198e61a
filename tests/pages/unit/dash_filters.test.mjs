// Text rules of the dashboard filters and pickers, imported directly: month grids, date texts,
// button labels, selection texts, the columns the menu offers and the value-list query.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import * as filterRules from '../../../pages/dashboards/filter_rules.js';
import * as filterTypes from '../../../pages/dashboards/filter_types.js';

const ctx = { ...filterRules, ...filterTypes };
// The grid as week lines of "D", "(D)" for other months, "D*" today, "D!" selected.
function weeks(year, month, today = '', selected = null) {
  const days = ctx.monthGrid(year, month, today, selected);
  const cells = days.map((d) => (d.other ? `(${d.day})` : `${d.day}${d.today ? '*' : ''}${d.selected ? '!' : ''}`));
  const out = [];
  for (let i = 0; i < cells.length; i += 7) out.push(cells.slice(i, i + 7).join(' '));
  return { out, days };
}

test('month grid: whole weeks from Sunday with the adjacent months around, four to six weeks', () => {
  // February 2026 starts on a Sunday and ends on a Saturday: exactly four weeks.
  const feb = weeks(2026, 1);
  assert.equal(feb.out.length, 4);
  assert.equal(feb.out[0], '1 2 3 4 5 6 7');
  assert.equal(feb.out[3], '22 23 24 25 26 27 28');
  assert.equal(feb.days.some((d) => d.other), false);

  // August 2026 starts on a Saturday: six leading July days, then five trailing September days.
  const aug = weeks(2026, 7);
  assert.equal(aug.out.length, 6);
  assert.equal(aug.out[0], '(26) (27) (28) (29) (30) (31) 1');
  assert.equal(aug.out[5], '30 31 (1) (2) (3) (4) (5)');
  assert.deepEqual([aug.days[0].date, aug.days[41].date], ['2026-07-26', '2026-09-05']);

  // January's leading days are December of the year before; December's trailing days January after.
  const jan = weeks(2027, 0);
  assert.deepEqual(jan.days.slice(0, 5).map((d) => d.date), ['2026-12-27', '2026-12-28', '2026-12-29', '2026-12-30', '2026-12-31']);
  const dec = weeks(2026, 11);
  assert.deepEqual(dec.days.slice(-2).map((d) => d.date), ['2027-01-01', '2027-01-02']);
  assert.equal(dec.out.length, 5);

  // today and selected mark days of the month itself, never a leading or trailing day.
  const marked = weeks(2026, 7, '2026-08-03', '2026-08-31');
  assert.equal(marked.out[1], '2 3* 4 5 6 7 8');
  assert.equal(marked.out[5], '30 31! (1) (2) (3) (4) (5)');
  const outside = weeks(2026, 7, '2026-07-31', '2026-09-01');
  assert.equal(outside.days.some((d) => d.today || d.selected), false);
  // A leap February.
  assert.equal(weeks(2028, 1).days.filter((d) => !d.other).length, 29);
});

test('month steps roll the year over; a calendar opens on the stored date or on today', () => {
  assert.deepEqual(ctx.shiftMonth(2026, 0, -1), { year: 2025, month: 11 });
  assert.deepEqual(ctx.shiftMonth(2026, 11, 1), { year: 2027, month: 0 });
  assert.deepEqual(ctx.shiftMonth(2026, 5, 1), { year: 2026, month: 6 });
  assert.equal(ctx.calendarTitle(2025, 11), 'December 2025');
  const today = new Date(2026, 2, 9);
  assert.deepEqual(ctx.calendarStart('2023-11-30', today), { year: 2023, month: 10, selected: '2023-11-30' });
  for (const stored of [null, '', '2023-02-30', '11/30/2023', 20231130]) {
    assert.deepEqual(ctx.calendarStart(stored, today), { year: 2026, month: 2, selected: null }, String(stored));
  }
  // Without a date of its own: the first real date near it, else today.
  assert.deepEqual(ctx.calendarStart(null, today, [null, '2001-04-30']), { year: 2001, month: 3, selected: null });
  assert.deepEqual(ctx.calendarStart(null, today, ['2001-03-01', '2009-01-01']), { year: 2001, month: 2, selected: null });
  assert.deepEqual(ctx.calendarStart('2020-01-01', today, ['2001-03-01']), { year: 2020, month: 0, selected: '2020-01-01' });
  assert.deepEqual(ctx.calendarStart(null, today, ['x', null]), { year: 2026, month: 2, selected: null });
});

test('year list and typed dates: the data, this year and the shown one with a margin; only real days', () => {
  const years = (shown, range) => { const y = ctx.calendarYears(shown, 2026, range); return [y[0], y[y.length - 1], y.length]; };
  assert.deepEqual(years(2026, null), [2016, 2036, 21]);
  assert.deepEqual(years(2026, { min: '2001-01-01', max: '2001-12-31' }), [1991, 2036, 46]);
  assert.deepEqual(years(1850, { min: null, max: '2001-12-31' }), [1840, 2036, 197]);
  const cases = [['2001-03-01', '2001-03-01'], [' 2024-02-29 ', '2024-02-29'], ['0099-01-31', '0099-01-31'], ['2023-02-29', null],
    ['2001-3-1', null], ['03/01/2001', null], ['', null], [null, null], ['2001-13-01', null]];
  for (const [typed, want] of cases) assert.equal(ctx.typedDate(typed), want, String(typed));
  assert.equal(ctx.dateTextOf(99, 0, 31), '0099-01-31');
  const typedYears = [['1965', 1965], [' 800 ', 800], [1965, 1965], ['0', null], ['12345', null], ['19x5', null], ['-5', null], ['', null]];
  for (const [typed, want] of typedYears) assert.equal(ctx.calendarYearOf(typed), want, String(typed));
});

test('date texts: local YYYY-MM-DD, MM/DD/YYYY on buttons, placeholders for open ends', () => {
  assert.equal(ctx.dateText(new Date(2024, 0, 5)), '2024-01-05');
  assert.equal(ctx.dateText(new Date(2024, 11, 31, 23, 59)), '2024-12-31');
  assert.equal(ctx.displayDate('2024-03-09'), '03/09/2024');
  assert.equal(ctx.dateButtonLabel('2024-03-09', 'from'), '03/09/2024');
  assert.equal(ctx.dateButtonLabel(null, 'from'), 'Start date');
  assert.equal(ctx.dateButtonLabel('', 'to'), 'End date');
  assert.equal(ctx.dateButtonLabel(undefined, 'to'), 'End date');
  // A stored text of another form is shown as it is rather than reordered into nonsense.
  assert.equal(ctx.dateButtonLabel('soon', 'to'), 'soon');
  assert.deepEqual(ctx.parseDateText('2024-02-29'), { year: 2024, month: 1, day: 29 });
  for (const bad of ['2023-02-29', '2024-13-01', '2024-1-5', ' 2024-01-05', null, 5]) assert.equal(ctx.parseDateText(bad), null, String(bad));
});

test('multi-value selection text: All, the values joined, cut to 22 characters and "..." beyond 25', () => {
  assert.equal(ctx.multiSelectionText([]), 'All');
  assert.equal(ctx.multiSelectionText(undefined), 'All');
  assert.equal(ctx.multiSelectionText(['North', "B's"]), "North, B's");
  const exactly25 = ['abcdefghij', 'klmnopqrstuvw'];
  assert.equal(exactly25.join(', ').length, 25);
  assert.equal(ctx.multiSelectionText(exactly25), 'abcdefghij, klmnopqrstuvw');
  assert.equal(ctx.multiSelectionText(['abcdefghij', 'klmnopqrstuvwx']), 'abcdefghij, klmnopqrst...');
  assert.equal(ctx.multiButtonLabel([]), 'All ▼');
  assert.equal(ctx.multiButtonLabel(['<b>']), '<b> ▼');
  assert.equal(ctx.countText(2, 1000), '2/1000');
  assert.equal(ctx.countText(0, 6077, (n) => n.toLocaleString('en-US')), '0/6,077');
});

test('value search: the typed text is a quoted literal found anywhere, its wildcards taken as themselves', () => {
  const cases = [
    ['c01', `'%c01%'`],
    ["it's", `'%it''s%'`],
    ['50%_off', `'%50\\%\\_off%'`],
    ['a\\b', `'%a\\\\b%'`],
    ["'); DROP TABLE t; --", `'%''); DROP TABLE t; --%'`],
  ];
  for (const [typed, literal] of cases) {
    const sql = ctx.distinctValuesSql("read_csv('s.csv')", 'zip', null, typed);
    assert.ok(sql.includes(`CAST("zip" AS VARCHAR) ILIKE ${literal} ESCAPE '\\'`), sql);
  }
  const format = (n) => n.toLocaleString('en-US');
  assert.equal(ctx.listedText(1000, 6077, false, format), '1,000 of 6,077: type to search them all');
  assert.equal(ctx.listedText(1000, 3210, true, format), '1,000 of 3,210 matching: type more to narrow');
});

test('menu columns: text columns, then date columns that hold days, none that has a filter', () => {
  const schema = [{ name: 'region', type: 'VARCHAR' }, { name: 'amount', type: 'BIGINT' }, { name: 'day', type: 'DATE' },
    { name: 'tags', type: 'VARCHAR[]' }, { name: 'at', type: 'TIMESTAMP WITH TIME ZONE' }, { name: 'clock', type: 'TIME' },
    { name: 'we"ird', type: 'varchar' }, null, { type: 'VARCHAR' }, { name: 'code', type: 'CHAR(3)' }];
  const none = ctx.filterableColumns(schema, []);
  assert.deepEqual(none, { text: ['region', 'tags', 'we"ird', 'code'], date: ['day', 'at'] });
  const some = ctx.filterableColumns(schema, [ctx.newFilter('region', 'text'), ctx.newFilter('day', 'date')]);
  assert.deepEqual(some, { text: ['tags', 'we"ird', 'code'], date: ['at'] });
  assert.deepEqual(ctx.filterableColumns(null, []), { text: [], date: [] });
  assert.deepEqual(ctx.filterableColumns([{ name: 'n', type: 'INTEGER' }, { name: 't', type: 'TIME' }], []), { text: [], date: [] });
});

test('new filters carry their keys in order; the value query reads the first query source', () => {
  assert.deepEqual(Object.keys(ctx.newFilter('a', 'text')), ['column', 'type', 'value']);
  assert.deepEqual(ctx.newFilter('d', 'date'), { column: 'd', type: 'date', value: null, from: null, to: null });
  assert.deepEqual(ctx.newFilter('m', 'multiselect'), { column: 'm', type: 'multiselect', value: null, values: [] });

  // read_csv anywhere wins over an earlier read_parquet; a folder with an apostrophe is one path.
  assert.equal(ctx.findDataSource("SELECT * FROM read_parquet('a.parquet') JOIN READ_CSV('b.csv') USING (id)"), "READ_CSV('b.csv')");
  assert.equal(ctx.findDataSource("FROM read_parquet('/d/it''s/**/*.parquet') x"), "read_parquet('/d/it''s/**/*.parquet')");
  for (const sql of ["FROM read_csv('x.csv', header = true)", 'FROM t', "FROM read_csv( 'x.csv' )", "FROM read_csv('')"]) {
    assert.equal(ctx.findDataSource(sql), null, sql);
  }
  // Each row carries the count of all the values, so a list cut at 1000 knows how many there are.
  const head = (col) => `SELECT v, COUNT(*) OVER () AS n FROM (SELECT DISTINCT ${col} AS v FROM read_csv('s.csv') WHERE ${col} IS NOT NULL`;
  assert.equal(ctx.distinctValuesSql("read_csv('s.csv')", 'region', null), `${head('"region"')}) ORDER BY v LIMIT 1000`);
  assert.equal(ctx.distinctValuesSql("read_csv('s.csv')", 'a"b', `"c" = 'x'`), `${head('"a""b"')} AND "c" = 'x') ORDER BY v LIMIT 1000`);
  assert.deepEqual(ctx.layoutQueryNames([{ cells: [{ query: '' }, { query: 'b' }] }, null, { cells: [{ query: 'a' }, { query: 'b' }, {}] }]),
    ['b', 'a']);
  assert.deepEqual(ctx.layoutQueryNames('nope'), []);
});
