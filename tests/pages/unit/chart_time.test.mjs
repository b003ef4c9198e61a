// Calendar ticks of time axes: round steps from the span and the width, labels naming what
// changed since the tick before (en-US here: Node has no navigator language).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { chartTimeLabel, chartTimeTicks } from '../../../pages/common/chart_time.js';

const SIZE = { font: 11 };
const narrow = (text) => text.length * 6.6;
const U = Date.UTC;
const labels = (lo, hi, width, measure = narrow) => chartTimeTicks(lo, hi, width, SIZE, measure).map((k) => k.label);

test('ticks fall on round calendar steps chosen from the span and the width', () => {
  for (const [what, lo, hi, width, want] of [
    ['monthly 1958-2020: decades', U(1958, 2), U(2020, 11), 1000, ['1960', '1970', '1980', '1990', '2000', '2010', '2020']],
    ['the same, narrow: twenty years', U(1958, 2), U(2020, 11), 550, ['1960', '1980', '2000', '2020']],
    ['the same, wide: five years', U(1958, 2), U(2020, 11), 1500, Array.from({ length: 13 }, (_, i) => String(1960 + 5 * i))],
    ['yearly 1880-2014: twenty years, never 24', U(1880, 0), U(2014, 0), 1000, ['1880', '1900', '1920', '1940', '1960', '1980', '2000']],
    ['yearly 1880-2014 in 400px: fifty years', U(1880, 0), U(2014, 0), 400, ['1900', '1950', '2000']],
    ['a decade: years', U(2010, 0), U(2020, 0), 1000, Array.from({ length: 11 }, (_, i) => String(2010 + i))],
    ['two years: quarters, the year where it changes', U(2010, 0), U(2011, 11), 800,
      ['Jan 2010', 'Apr', 'Jul', 'Oct', 'Jan 2011', 'Apr', 'Jul', 'Oct']],
    ['months across a year change', U(2014, 10), U(2015, 3), 600, ['Nov 2014', 'Dec', 'Jan 2015', 'Feb', 'Mar', 'Apr']],
    ['two months: the year on the axis', U(2015, 2), U(2015, 3), 300, ['Mar 2015', 'Apr']],
    ['a week of hours: days, the month and year first', U(2015, 2, 1), U(2015, 2, 7, 23), 800,
      ['Mar 1, 2015', '2', '3', '4', '5', '6', '7']],
    ['a week across a month change', U(2015, 1, 27, 5), U(2015, 2, 5, 23), 800,
      ['Feb 28, 2015', 'Mar 1', '2', '3', '4', '5']],
    ['two-day steps count from each 1st', U(2015, 0, 26), U(2015, 1, 7), 550, ['Jan 27, 2015', '29', 'Feb 1', '3', '5', '7']],
    ['a month: weeks from Mondays', U(2024, 0, 1), U(2024, 0, 31), 600, ['Jan 1, 2024', '8', '15', '22', '29']],
    ['a day of hours', U(2015, 0, 1), U(2015, 0, 1, 23), 800, ['Jan 1, 2015', '03:00', '06:00', '09:00', '12:00', '15:00', '18:00', '21:00']],
    ['two days of hours: the new day by its date', U(2015, 0, 1, 6), U(2015, 0, 2, 23), 800,
      ['Jan 1, 2015, 06:00', '12:00', '18:00', 'Jan 2', '06:00', '12:00', '18:00']],
    ['across new year: the year where it changes', U(2014, 11, 31, 12), U(2015, 0, 1, 12), 600,
      ['Dec 31, 2014, 12:00', '18:00', 'Jan 1, 2015', '06:00', '12:00']],
    ['a minute: seconds', U(2015, 0, 1, 8), U(2015, 0, 1, 8, 1), 600,
      ['Jan 1, 2015, 08:00:00', '08:00:15', '08:00:30', '08:00:45', '08:01:00']],
  ]) {
    assert.deepEqual(labels(lo, hi, width), want, what);
  }
});

test('labels too wide for their spacing take a coarser step; one time or no tick inside labels the first whole', () => {
  const wide = (text) => text.length * 40;
  for (const [what, lo, hi, width, measure, want] of [
    ['wide labels: twenty years, not ten', U(1958, 2), U(2020, 11), 1000, wide, ['1960', '1980', '2000', '2020']],
    ['one time', U(2015, 2, 2), U(2015, 2, 2), 600, narrow, ['Mar 2, 2015']],
    ['one timestamp', U(2015, 2, 2, 6, 30), U(2015, 2, 2, 6, 30), 600, narrow, ['Mar 2, 2015, 06:30']],
    ['no tick inside', U(2015, 2, 2), U(2015, 2, 20), 60, narrow, ['Mar 2, 2015']],
    ['no width', U(2015, 2, 2), U(2015, 2, 20), 0, narrow, ['Mar 2, 2015']],
  ]) {
    assert.deepEqual(labels(lo, hi, width, measure), want, what);
  }
});

test('neighbouring tick labels keep a gap wherever the step lands', () => {
  for (const [lo, hi] of [[U(1958, 2), U(2020, 11)], [U(2015, 2, 1), U(2015, 2, 7, 23)], [U(2014, 11, 31), U(2015, 0, 1, 12)], [U(2001, 0), U(2001, 0, 1, 0, 3)]]) {
    for (const width of [120, 300, 700, 1100, 1600]) {
      const ticks = chartTimeTicks(lo, hi, width, SIZE, narrow);
      assert.ok(ticks.length >= 1, `${lo} ${width}`);
      for (let i = 1; i < ticks.length; i++) {
        const apart = ((ticks[i].t - ticks[i - 1].t) * width) / (hi - lo);
        assert.ok(apart >= (narrow(ticks[i].label) + narrow(ticks[i - 1].label)) / 2 + SIZE.font, `${ticks[i - 1].label} / ${ticks[i].label} at ${width}`);
        assert.ok(ticks[i].t > ticks[i - 1].t && ticks[i].t <= hi && ticks[0].t >= lo);
      }
    }
  }
});

test('a label names only what changed since the tick before', () => {
  for (const [t, prev, unit, want] of [
    [U(2015, 3), U(2015, 2), 'month', 'Apr'],
    [U(2016, 0), U(2015, 9), 'month', 'Jan 2016'],
    [U(2015, 3), null, 'month', 'Apr 2015'],
    [U(2015, 3, 2), U(2015, 3, 1), 'day', '2'],
    [U(2015, 4, 1), U(2015, 3, 30), 'day', 'May 1'],
    [U(2015, 3, 6), U(2015, 2, 30), 'week', 'Apr 6'],
    [U(2015, 3, 2, 6), U(2015, 3, 2, 3), 'hour', '06:00'],
    [U(2015, 3, 3), U(2015, 3, 2, 18), 'hour', 'Apr 3'],
    [U(2015, 3, 3, 1), U(2015, 3, 2, 23), 'hour', 'Apr 3, 01:00'],
    [U(1990, 0), U(1980, 0), 'year', '1990'],
    [U(1990, 0), null, 'year', '1990'],
  ]) {
    assert.equal(chartTimeLabel(t, prev, unit), want, want);
  }
});
