// The chart-type registry both pages and the dashboard editor read: names, menus, drawing and
// click rules.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { CHART_SIZES, chartModel } from '../../../pages/common/chart_model.js';
import { CHART_TYPES, chartChoices, chartType, isChartType } from '../../../pages/common/chart_types.js';

const plain = (v) => JSON.parse(JSON.stringify(v));
const byMonth = chartModel({
  columns: ['month', 'n', 'm'],
  numericCols: [false, true, true],
  rows: [['2024-01', '3', '1'], ['2024-02', '9', '2'], ['2024-03', '5', '4']],
});

test('the types in menu order, with their labels and kinds', () => {
  assert.deepEqual(CHART_TYPES.map((t) => [t.id, t.label, t.paged, t.chart]), [
    ['table', 'Table', false, false],
    ['paginated', 'Paginated Table', true, false],
    ['bar', 'Bar Chart', false, true],
    ['line', 'Line Chart', false, true],
    ['area', 'Area Chart', false, true],
    ['pie', 'Pie Chart', false, true],
    ['bar-split', 'Bar Chart, a series per 2nd-column value', false, true],
    ['line-split', 'Line Chart, a line per 2nd-column value', false, true],
    ['area-split', 'Area Chart, an area per 2nd-column value', false, true],
  ]);
  // Every chart carries both rules: chart.js calls them without asking.
  for (const t of CHART_TYPES.filter((c) => c.chart)) {
    assert.equal(typeof t.model, 'function', t.id);
    assert.equal(typeof t.option, 'function', t.id);
    assert.equal(typeof t.clickTarget, 'function', t.id);
  }
});

test('lookups: unknown and inherited names are no type', () => {
  for (const [id, entry, chart] of [
    ['bar', 'bar', true],
    ['pie', 'pie', true],
    ['table', 'table', false],
    ['paginated', 'paginated', false],
    ['Bar', undefined, false],
    ['', undefined, false],
    [undefined, undefined, false],
    ['toString', undefined, false],
  ]) {
    assert.equal(chartType(id)?.id, entry, String(id));
    assert.equal(isChartType(id), chart, String(id));
  }
});

test('the choices a query allows keep the selection where they can', () => {
  const split = ['bar-split', 'line-split', 'area-split'];
  const all = ['table', 'paginated', 'bar', 'line', 'area', 'pie', ...split];
  const whole = ['table', 'bar', 'line', 'area', 'pie', ...split];
  for (const [selected, hasAgg, values, shown] of [
    ['bar', undefined, all, 'bar'],
    ['paginated', undefined, all, 'paginated'],
    ['gone', undefined, all, 'table'],
    [undefined, undefined, all, 'table'],
    ['bar', false, ['paginated'], 'paginated'],
    ['table', false, ['paginated'], 'paginated'],
    ['pie', true, whole, 'pie'],
    ['paginated', true, whole, 'table'],
    ['gone', true, whole, 'table'],
  ]) {
    assert.deepEqual(chartChoices(selected, hasAgg), { values, selected: shown }, `${selected} ${hasAgg}`);
  }
});

test('each chart draws its own series; dates stand on a time axis', () => {
  for (const [id, series, axis, area] of [
    ['bar', 'bar', 'time', false],
    ['line', 'line', 'time', false],
    ['area', 'line', 'time', true],
  ]) {
    const o = chartType(id).option(byMonth, 600, 300, CHART_SIZES.query, false);
    assert.deepEqual(o.series.map((s) => s.type), [series, series], id);
    assert.equal(o.xAxis.type, axis, id);
    assert.equal(o.series.every((s) => Boolean(s.areaStyle) === area), true, id);
    assert.equal(o.series[0].selectedMode, undefined, id);
    assert.equal(chartType(id).option(byMonth, 600, 300, CHART_SIZES.query, true).series[0].selectedMode, 'single', id);
  }
  const pie = chartType('pie').option(byMonth, 600, 300, CHART_SIZES.panel, true);
  assert.equal(pie.series[0].type, 'pie');
  assert.deepEqual(pie.series[0].data.map((d) => [d.name, d.value]), [['2024-02', 9], ['2024-03', 5], ['2024-01', 3]]);
  assert.equal(pie.series[0].selectedMode, 'single');
});

test('click rules name the row behind the element, or nothing', () => {
  for (const [id, params, target] of [
    ['bar', { dataIndex: 2, seriesName: 'm' }, { label: '2024-03', series: 'm' }],
    ['line', { dataIndex: 0, seriesName: 'n' }, { label: '2024-01', series: 'n' }],
    ['area', { dataIndex: 3, seriesName: 'n' }, null],
    // Slices are largest first: the first is February's.
    ['pie', { dataIndex: 0 }, { label: '2024-02' }],
    ['pie', { dataIndex: 3 }, null],
  ]) {
    assert.deepEqual(plain(chartType(id).clickTarget(byMonth, params)), target, `${id} ${params.dataIndex}`);
  }
});

test('a selection is found again in a new drawing by its label and series, or not at all', () => {
  for (const [id, label, series, at] of [
    ['bar', '2024-03', 'm', { seriesIndex: 1, dataIndex: 2 }],
    ['line', '2024-01', 'n', { seriesIndex: 0, dataIndex: 0 }],
    ['area', '2024-09', 'n', null],
    ['bar', '2024-01', 'gone', null],
    // Slices are largest first: January's is the last.
    ['pie', '2024-01', undefined, { seriesIndex: 0, dataIndex: 2 }],
    ['pie', '2024-09', undefined, null],
  ]) {
    assert.deepEqual(chartType(id).elementAt(byMonth, label, series), at, `${id} ${label}`);
  }
});

test('lines and areas start near data far from zero, bars at zero; very different series get two axes', () => {
  const co2 = chartModel({ columns: ['year', 'ppm', 'anomaly'], numericCols: [false, true, true],
    rows: [['1960', '317', '0.1'], ['1990', '354', '0.4'], ['2020', '414', '1.2']] });
  for (const [id, scale, area] of [['bar', false, false], ['line', true, false], ['area', true, true]]) {
    const o = chartType(id).option(co2, 600, 300, CHART_SIZES.query, false);
    assert.deepEqual(o.yAxis.map((a) => [a.position, a.scale, a.splitLine.show]), [['left', scale, true], ['right', false, false]], id);
    assert.deepEqual(o.series.map((s) => s.yAxisIndex), [0, 1], id);
    assert.equal(o.series.every((s) => (area ? s.areaStyle.opacity < 1 : s.areaStyle === undefined)), true, id);
  }
  // Series of one size share the one axis.
  assert.deepEqual(chartType('line').option(byMonth, 600, 300, CHART_SIZES.query, false).yAxis.length, 1);
});
