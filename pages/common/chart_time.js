// Ticks of time axes on round calendar steps (decades, years, quarters, months, days, hours…):
// the finest step whose ticks stand far enough apart for their labels, and labels that name
// only what changed since the previous tick, the first naming everything, so each reads alone.
// Times are milliseconds read as UTC (chartTimeValue); texts follow the pages' locale. Pure, so
// Node runs it.
import { CHART_ROUND_TICK_EMS } from './chart_model.js';
import { DISPLAY_LOCALE } from './numbers.js';

const SECOND = 1000;
const MINUTE = 60 * SECOND;
const HOUR = 60 * MINUTE;
const DAY = 24 * HOUR;
// 1970-01-05, a Monday: weeks count from it.
const FIRST_MONDAY = 4 * DAY;

// The steps, finest first: a unit and how many of it. Units of fixed length count from the
// epoch, days of a month from its 1st, months and years from January of year 0, so quarters
// start in January and decades end in 0.
const TIME_STEPS = [
  ...[1, 2, 5, 10, 15, 30].map((n) => ['second', n]),
  ...[1, 2, 5, 10, 15, 30].map((n) => ['minute', n]),
  ...[1, 2, 3, 6, 12].map((n) => ['hour', n]),
  ['day', 1],
  ['day', 2],
  ['week', 1],
  ...[1, 3, 6].map((n) => ['month', n]),
  ...[1, 2, 5, 10, 20, 50, 100, 200, 500, 1000].map((n) => ['year', n]),
];
const UNIT_MS = { second: SECOND, minute: MINUTE, hour: HOUR, day: DAY, week: 7 * DAY, month: 30.4 * DAY, year: 365.25 * DAY };

// Labels of neighbouring ticks stand at least this many font sizes apart.
const CHART_TIME_GAP_EMS = 1;

const FORMATS = new Map();
function formatTime(t, options) {
  const key = JSON.stringify(options);
  if (!FORMATS.has(key)) FORMATS.set(key, new Intl.DateTimeFormat(DISPLAY_LOCALE, Object.assign({ timeZone: 'UTC' }, options)));
  return FORMATS.get(key).format(t);
}

const YEAR = { year: 'numeric' };
const MONTH = { month: 'short' };
const MONTH_YEAR = { year: 'numeric', month: 'short' };
const DAY_ONLY = { day: 'numeric' };
const MONTH_DAY = { month: 'short', day: 'numeric' };
const DATE = { year: 'numeric', month: 'short', day: 'numeric' };
const CLOCK = { hour: '2-digit', minute: '2-digit', hourCycle: 'h23' };
const CLOCK_SECONDS = Object.assign({ second: '2-digit' }, CLOCK);

// The tick times of a step from lo to hi, both included.
function stepTicks(unit, n, lo, hi) {
  const out = [];
  if (unit === 'month' || unit === 'year') {
    const d = new Date(lo);
    let y = d.getUTCFullYear();
    let m = unit === 'year' ? 0 : d.getUTCMonth();
    if (unit === 'year') y = Math.ceil(y / n) * n;
    else m = Math.ceil(m / n) * n;
    for (;;) {
      const t = Date.UTC(y, m, 1);
      if (t > hi) break;
      if (t >= lo) out.push(t);
      if (unit === 'year') y += n;
      else m += n;
    }
    return out;
  }
  if (unit === 'day' && n > 1) {
    // Every n-th day of each month from the 1st, none fewer than n days before the next 1st.
    for (let t = Math.ceil(lo / DAY) * DAY; t <= hi; t += DAY) {
      const d = new Date(t);
      const last = new Date(Date.UTC(d.getUTCFullYear(), d.getUTCMonth() + 1, 0)).getUTCDate();
      if ((d.getUTCDate() - 1) % n === 0 && d.getUTCDate() + n - 1 <= last) out.push(t);
    }
    return out;
  }
  const size = UNIT_MS[unit] * n;
  const from = unit === 'week' ? FIRST_MONDAY : 0;
  for (let t = Math.ceil((lo - from) / size) * size + from; t <= hi; t += size) out.push(t);
  return out;
}

// The parts of a UTC time, coarsest first.
function parts(t) {
  const d = new Date(t);
  return [d.getUTCFullYear(), d.getUTCMonth(), d.getUTCDate(), d.getUTCHours() * 60 + d.getUTCMinutes(), d.getUTCSeconds()];
}

// A tick's label on a step of the unit, after the previous tick prev (null for the first).
export function chartTimeLabel(t, prev, unit) {
  const now = parts(t);
  const before = prev === null ? null : parts(prev);
  const changed = (i) => before === null || now.slice(0, i + 1).some((v, j) => v !== before[j]);
  if (unit === 'year') return formatTime(t, YEAR);
  if (unit === 'month') return formatTime(t, changed(0) ? MONTH_YEAR : MONTH);
  if (unit === 'day' || unit === 'week') return formatTime(t, changed(0) ? DATE : changed(1) ? MONTH_DAY : DAY_ONLY);
  const clock = unit === 'second' || now[4] ? CLOCK_SECONDS : CLOCK;
  // Within a day the clock alone; a new day is named by its date, the clock added unless the
  // tick is the day's start.
  if (!changed(2)) return formatTime(t, clock);
  const date = changed(0) ? DATE : MONTH_DAY;
  return formatTime(t, now[3] || now[4] ? Object.assign({}, date, clock) : date);
}

// The ticks of a time axis from lo to hi (milliseconds) drawn over width pixels, in the font
// size of size, with measure(text) giving a label's width in pixels: [{ t, label }]. The finest
// step whose ticks are at least CHART_ROUND_TICK_EMS apart and whose neighbouring labels keep a
// gap; when no tick of it falls inside, the first time labelled whole.
export function chartTimeTicks(lo, hi, width, size, measure) {
  const labelled = (times, unit) => times.map((t, i) => ({ t, label: chartTimeLabel(t, i ? times[i - 1] : null, unit) }));
  const whole = [{ t: lo, label: chartTimeLabel(lo, null, lo % DAY ? 'minute' : 'day') }];
  if (!(hi > lo) || !(width > 0)) return whole;
  const perMs = width / (hi - lo);
  const least = CHART_ROUND_TICK_EMS * size.font;
  const gap = CHART_TIME_GAP_EMS * size.font;
  for (const [unit, n] of TIME_STEPS) {
    if (UNIT_MS[unit] * n * perMs < least) continue;
    const times = stepTicks(unit, n, lo, hi);
    if (!times.length) return whole;
    const ticks = labelled(times, unit);
    const widths = ticks.map((k) => measure(k.label));
    const apart = ticks.every((k, i) => i === 0 || (k.t - ticks[i - 1].t) * perMs >= (widths[i] + widths[i - 1]) / 2 + gap);
    if (apart) return ticks;
  }
  return whole;
}
