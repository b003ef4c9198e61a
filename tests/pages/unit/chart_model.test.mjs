// What the charts take from an answer, the chart types' rules, and the display locale.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import * as numbers from '../../../pages/common/numbers.js';
import * as chartModel from '../../../pages/common/chart_model.js';
import * as chartTypes from '../../../pages/common/chart_types.js';

const ctx = { ...numbers, ...chartModel, ...chartTypes };
const plain = (v) => JSON.parse(JSON.stringify(v));

test('the display locale: POSIX, empty and unknown locales read as en-US', () => {
  for (const [language, locale, shown] of [
    ['C', 'en-US', '3,000,000'],
    ['POSIX', 'en-US', '3,000,000'],
    ['C.UTF-8', 'en-US', '3,000,000'],
    ['', 'en-US', '3,000,000'],
    [undefined, 'en-US', '3,000,000'],
    ['de-DE', 'de-DE', '3.000.000'],
    ['de_DE.UTF-8', 'de-DE', '3.000.000'],
    ['not a locale!', 'en-US', '3,000,000'],
  ]) {
    assert.equal(ctx.displayLocale(language), locale, String(language));
    assert.equal(new Intl.NumberFormat(ctx.displayLocale(language)).format(3000000), shown, String(language));
  }
});

test('series are the numeric columns after the first; labels become times only when all are', () => {
  for (const [what, result, series, times] of [
    ['flags decide', { columns: ['k', 'when', 'note', 'n'], numericCols: [false, false, false, true], rows: [['a', '2001-01-01', 'x', '5']] }, ['n'], null],
    ['no flags: every cell a number', { columns: ['k', 'n', 't'], rows: [['a', '1', '2'], ['b', '', 'x']] }, ['n'], null],
    ['a numeric first column is the label', { columns: ['year', 'n'], numericCols: [true, true], rows: [['2024', '3']] }, ['n'], null],
    ['text only', { columns: ['k', 't'], numericCols: [false, false], rows: [['a', 'b']] }, [], null],
    ['dates', { columns: ['d', 'n'], numericCols: [false, true], rows: [['2024-01-01', '1'], ['2024-01-31', '2']] }, ['n'], [Date.UTC(2024, 0, 1), Date.UTC(2024, 0, 31)]],
    ['a NULL date keeps categories', { columns: ['d', 'n'], numericCols: [false, true], rows: [['2024-01-01', '1'], ['', '2']] }, ['n'], null],
  ]) {
    const m = ctx.chartModel(result);
    assert.deepEqual(plain(m.series.map((s) => s.name)), series, what);
    assert.deepEqual(plain(m.times), times, what);
  }
  assert.deepEqual(plain(ctx.chartModel({ columns: ['k', 'n'], numericCols: [false, true], rows: [['a', ''], ['b', '2.5']] }).series[0].values), [null, 2.5]);
});

test('split by the second column: a series per value, gaps where a label lacks it, repeats added', () => {
  const long = (rows, cols = ['year', 'source', 'value'], flags = [false, false, true]) => ({ columns: cols, numericCols: flags, rows });
  for (const [what, result, labels, series] of [
    ['long format', long([['2001', 'coal', '5'], ['2001', 'gas', '2'], ['2002', 'coal', '6'], ['2003', 'gas', '4']]),
      ['2001', '2002', '2003'], [['coal', [5, 6, null]], ['gas', [2, null, 4]]]],
    ['repeats of a label and value add up; an empty value is named', long([['a', 'x', '1'], ['a', 'x', '2'], ['a', '', '3']]),
      ['a'], [['x', [3]], ['(empty)', [3]]]],
    ['two numbers: a series per value and number', long([['a', 'x', '1', '10']], ['k', 's', 'n', 'm'], [false, false, true, true]),
      ['a'], [['x · n', [1]], ['x · m', [10]]]],
    ['a numeric second column draws as usual', long([['a', '1', '2']], ['k', 'n', 'm'], [false, true, true]),
      ['a'], [['n', [1]], ['m', [2]]]],
    ['nothing numeric after it draws as usual', long([['a', 'x', 'y']], ['k', 's', 't'], [false, false, false]), ['a'], []],
  ]) {
    const m = ctx.chartSplitModel(result);
    assert.deepEqual(plain(m.labels), labels, what);
    assert.deepEqual(plain(m.series.map((s) => [s.name, s.values])), series, what);
  }
  assert.deepEqual(plain(ctx.chartSplitModel(long([['2024-01-01', 'x', '1'], ['2024-01-02', 'y', '2']])).times), [Date.UTC(2024, 0, 1), Date.UTC(2024, 0, 2)]);
});

test('times of dates, months and timestamps, read as written', () => {
  for (const [text, t] of [
    ['2024-03-01', Date.UTC(2024, 2, 1)],
    ['2024-03', Date.UTC(2024, 2, 1)],
    ['2024-03-01 12:30:05', Date.UTC(2024, 2, 1, 12, 30, 5)],
    ['2024-03-01T12:30:05.250', Date.UTC(2024, 2, 1, 12, 30, 5, 250)],
    ['2024-03-01 12:30:00+02', Date.UTC(2024, 2, 1, 10, 30)],
    ['2024-03-01 12:30:00-05:30', Date.UTC(2024, 2, 1, 18, 0)],
    ['2024', null],
    ['March 2024', null],
    ['2024-03-01 and more', null],
  ]) {
    assert.equal(ctx.chartTimeValue(text), t, text);
  }
});

test('pie slices: largest first by size, ties in row order, shares in percent', () => {
  const m = ctx.chartModel({ columns: ['k', 'n'], numericCols: [false, true], rows: [['a', '1'], ['b', '-6'], ['c', ''], ['d', '1'], ['e', '2']] });
  const slices = ctx.chartPieSlices(m);
  assert.deepEqual(plain(slices.map((s) => [s.label, s.value, s.pct])), [['b', 6, 60], ['e', 2, 20], ['a', 1, 10], ['d', 1, 10], ['c', 0, 0]]);
  assert.deepEqual(plain(ctx.chartType('pie').clickTarget(m, { dataIndex: 1 })), { label: 'e' });
  assert.deepEqual(plain(ctx.chartType('bar').clickTarget(m, { dataIndex: 1, seriesName: 'n' })), { label: 'b', series: 'n' });
});

test('long labels are shortened at a word break, else between characters', () => {
  for (const [text, max, short] of [
    ['On time', 10, 'On time'],
    ['16-60 min late arrivals', 18, '16-60 min late…'],
    ['Cancelled or diverted flights', 12, 'Cancelled…'],
    ['Supercalifragilistic', 10, 'Supercali…'],
    ['ab cdefghijklmnop', 10, 'ab cdefgh…'],
    ['🙂🙂🙂🙂🙂🙂', 4, '🙂🙂🙂…'],
  ]) {
    assert.equal(ctx.chartShortLabel(text, max), short, text);
  }
});

test('the tooltip escapes what comes from the data', () => {
  for (const [args, html] of [
    [['<b>', 1234.5, 's<i>', '#cba6f7'], '<span style="color:#cba6f7">s&lt;i&gt;</span><br>&lt;b&gt;: <b>1,234.5</b>'],
    [["it's", 5, null, null, '5.0'], 'it&#39;s: <b>5</b> (5.0%)'],
    [['x', null, 'n', '#89b4fa'], '<span style="color:#89b4fa">n</span><br>x: <b></b>'],
  ]) {
    assert.equal(ctx.chartTipHtml(...args), html);
  }
});

test('tick counts fit the plot height; labels turn or thin when wider than their slot', () => {
  for (const [height, ticks] of [[20, 1], [60, 2], [120, 4], [400, 6]]) assert.equal(ctx.chartTickCount(height), ticks);
  const size = ctx.CHART_SIZES.panel;
  const guess = (labels) => ctx.chartWidestLabel(labels.map((l) => ctx.chartShortLabel(l, size.labelChars)), (t) => ctx.chartGuessWidth(t, size));
  for (const [what, labels, slot, layout] of [
    ['short labels with room', ['a', 'b'], 200, { rotate: 0, every: 1 }],
    ['one category has no slot: level', ['a very long category'], 0, { rotate: 0, every: 1 }],
    ['three-letter codes: every second, level', ['ATL', 'MEM', 'HPN'], 14, { rotate: 0, every: 2 }],
    ['long names with room to turn', Array.from({ length: 40 }, (_, i) => 'label number ' + i), 25, { rotate: 45, every: 1 }],
    ['long names a little closer: upright', Array.from({ length: 40 }, (_, i) => 'label number ' + i), 18, { rotate: 90, every: 1 }],
    ['long names crowded: every third, turned', Array.from({ length: 187 }, (_, i) => 'a country name ' + i), 8, { rotate: 45, every: 3 }],
    ['long names very crowded', Array.from({ length: 229 }, (_, i) => 'an airport name ' + i), 3, { rotate: 90, every: 6 }],
  ]) {
    assert.deepEqual(ctx.chartCategoryLabels(guess(labels), slot, size), layout, what);
  }
});

test('years and other whole numbers counting up are labelled level at round steps', () => {
  const years = Array.from({ length: 135 }, (_, i) => String(1880 + i));
  const drawn = (labels, every) => (ctx.chartRoundLabels(labels, every) || []).map((i) => labels[i]);
  for (const [what, labels, every, want] of [
    ['every one', years.slice(0, 4), 1, ['1880', '1881', '1882', '1883']],
    ['every third is every fifth', years, 3, drawn(years, 5)],
    ['every thirteenth: twenty years, never 24', years, 13, ['1880', '1900', '1920', '1940', '1960', '1980', '2000']],
    ['every 21st: fifty years', years, 21, ['1900', '1950', '2000']],
    ['from below zero', ['-3', '-2', '-1', '0', '1', '2'], 2, ['-2', '0', '2']],
    ['gaps are no run', ['1', '3'], 1, []],
    ['words are no run', ['a', 'b'], 1, []],
    ['decimals are no run', ['1.5', '2.5'], 1, []],
  ]) {
    assert.deepEqual(drawn(labels, every), want, what);
  }
  assert.equal(ctx.chartRoundLabels(['1', '3'], 1), null);
  // Level, however crowded, and never closer than round ticks stand.
  const size = ctx.CHART_SIZES.query;
  for (const slot of [2, 7.4, 30, 200]) {
    const { rotate, every } = ctx.chartCategoryLabels(25, slot, size, true);
    assert.equal(rotate, 0, `${slot}px`);
    assert.ok(every * slot >= 8 * size.font || every === 1 && slot >= 8 * size.font, `${slot}px: every ${every}`);
  }
});

test('the widest label: every text measured, or past a few hundred the longest ones and their widest glyphs', () => {
  const measure = (t) => Array.from(t).reduce((w, c) => w + (c === 'W' ? 10 : 5), 0);
  const many = (n, f) => Array.from({ length: n }, (_, i) => f(i));
  for (const [what, texts, widest] of [
    ['none', [], 0],
    ['a few', ['ab', 'WW', 'abc'], 20],
    ['repeats count once', many(1000, () => 'abc'), 15],
    ['many: the longest measured', many(5000, (i) => 'x'.repeat(1 + (i % 7))), 35],
    // The widest glyphs seen, as many as the longest text has, bound the rest: 'WW000' has 7px a
    // character, eleven of them make 77.
    ['many: a bound from the widest glyphs', [...many(300, (i) => 'aaaaaaaa' + String(i).padStart(3, '0')),
      ...many(300, (i) => 'WW' + String(i).padStart(3, '0'))], 77],
  ]) {
    assert.equal(ctx.chartWidestLabel(texts, measure), widest, what);
  }
});

// The corners of a label box of width w ending at x on the axis, turned by deg as drawn.
function labelBox(x, w, h, deg) {
  const a = (-deg * Math.PI) / 180;
  return [[-w, -h / 2], [0, -h / 2], [0, h / 2], [-w, h / 2]].map(([u, v]) => [x + u * Math.cos(a) - v * Math.sin(a), u * Math.sin(a) + v * Math.cos(a)]);
}

// Whether two convex boxes share area: no edge of either separates them.
function meet(a, b) {
  for (const poly of [a, b]) {
    for (let i = 0; i < 4; i++) {
      const [x1, y1] = poly[i];
      const [x2, y2] = poly[(i + 1) % 4];
      const n = [y1 - y2, x2 - x1];
      const span = (p) => p.map(([x, y]) => x * n[0] + y * n[1]);
      if (Math.max(...span(a)) <= Math.min(...span(b)) || Math.max(...span(b)) <= Math.min(...span(a))) return false;
    }
  }
  return true;
}

test('neighbouring drawn category labels never meet, whatever their widths and spacing', () => {
  for (const size of Object.values(ctx.CHART_SIZES)) {
    for (const width of [5, 20, 60, 120]) {
      for (const slot of [1, 3, 8, 15, 30, 70, 150]) {
        const { rotate, every } = ctx.chartCategoryLabels(width, slot, size);
        // Centred labels when level, ending at their category when turned.
        const at = (x) => (rotate ? x : x + width / 2);
        const a = labelBox(at(0), width, size.font * 1.2, rotate);
        const b = labelBox(at(every * slot), width, size.font * 1.2, rotate);
        assert.equal(meet(a, b), false, `${width}px labels ${slot}px apart at ${size.font}px: ${rotate}° every ${every}`);
        // And not thinned much past what a level or an upright label needs.
        assert.ok((every - 1) * slot < Math.min(width, 2 * size.font) + size.font, `${width}px ${slot}px: every ${every}`);
      }
    }
  }
});

test('value axes: zero only where the data comes near it, and a second axis for tenfold smaller series', () => {
  const fromZero = [
    // [values, starts at zero]
    [[315, 350, 415], false],
    [[5, 50, 100], true],
    [[50, 100], true],
    [[51, 100], false],
    [[-415, -315], false],
    [[-5, 20], true],
    [[0, 3], true],
    [[7, 7], false],
    [[null, 300, 310, null], false],
    [[], true],
    [[null], true],
  ];
  for (const [values, want] of fromZero) assert.equal(ctx.chartAxisFromZero(values), want, JSON.stringify(values));
  const s = (...values) => ({ values });
  const axes = [
    // [series, axis of each]
    [[s(30000, 45000), s(60, 80)], [0, 1]],
    [[s(60, 80), s(30000, 45000), s(-9000, 100)], [1, 0, 0]],
    [[s(100, 200), s(10, 20)], [0, 0]],
    [[s(100, 200), s(9.9, null)], [0, 1]],
    [[s(5)], [0]],
    [[s(0, 0), s(null)], [0, 0]],
    [[], []],
  ];
  for (const [series, want] of axes) assert.deepEqual(ctx.chartSeriesAxes(series), want, JSON.stringify(series));
});
