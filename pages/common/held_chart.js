// What a chart of a held answer fetches, and the answer it hands the chart module: the same
// kind of result a reply of rows is, built from columns (numbers as numbers, read from their
// binary form) or from the points chosen natively. The plan and the assembly are pure, for tests.
import { chartModel } from './chart_model.js';
import { chartType } from './chart_types.js';
import { heldColumn, heldPoints, heldTexts } from './held.js';
import { formatNumber, rowsText } from './numbers.js';

// A chart draws at most this many of an answer's first rows.
export const HELD_CHART_ROWS = 100000;
// More points than this a line cannot show apart: beyond it, the native side picks them.
export const HELD_CHART_POINTS = 4000;
const HELD_REDUCED_TYPES = ['line', 'area'];

// { kind: 'reply' } when the hold reply's rows are the whole answer (or nothing could be
// charted); { kind: 'points', x, ys, max } for a line or area of more rows than it can show;
// else { kind: 'columns', count, texts, numbers }: the columns read as texts and as numbers of
// the first `count` rows.
export function heldChartPlan(answer, type) {
  const count = Number(answer.rowCount) || 0;
  const rows = Array.isArray(answer.rows) ? answer.rows : [];
  const columns = Array.isArray(answer.columns) ? answer.columns : [];
  const numeric = columns.map((_, c) => Boolean(answer.numericCols && answer.numericCols[c]));
  const ys = numeric.map((n, c) => (n && c >= 1 ? c : -1)).filter((c) => c >= 0);
  if (count <= rows.length || !ys.length) return { kind: 'reply' };
  if (HELD_REDUCED_TYPES.includes(type) && count > HELD_CHART_POINTS) {
    return { kind: 'points', x: 0, ys, max: HELD_CHART_POINTS };
  }
  // Labels are texts, so large integers stay exact; a chart drawn per value of the second
  // column reads that column as text too.
  const texts = [0];
  const rules = chartType(type);
  if (columns.length > 1 && !numeric[1] && rules && rules.model !== chartModel) texts.push(1);
  return { kind: 'columns', count: Math.min(count, HELD_CHART_ROWS), texts, numbers: ys };
}

// The answer a chart reads from fetched columns: `texts` and `numbers` map a column to its
// texts (null for NULL) or to { values, nulls }; other cells are NULL.
export function heldChartAnswer(answer, count, texts, numbers) {
  const columns = answer.columns.slice();
  const numericCols = columns.map((_, c) => Boolean(answer.numericCols && answer.numericCols[c]));
  const textCols = Array.from(texts.entries());
  const numberCols = Array.from(numbers.entries());
  const rows = new Array(count);
  for (let r = 0; r < count; r++) {
    const row = new Array(columns.length).fill(null);
    for (const [c, list] of textCols) row[c] = list[r] === undefined ? null : list[r];
    for (const [c, col] of numberCols) row[c] = col.nulls[r] ? null : col.values[r];
    rows[r] = row;
  }
  return { columns, numericCols, rows, nulls: [] };
}

// The note beside a chart: how much of the answer it shows.
export function heldChartNote(plan, rowCount, shown) {
  if (plan.kind === 'points' && shown < rowCount) return formatNumber(shown) + ' of ' + formatNumber(rowCount) + ' points';
  if (plan.kind === 'columns' && plan.count < rowCount) {
    return 'first ' + formatNumber(plan.count) + ' of ' + formatNumber(rowCount) + ' rows';
  }
  return rowsText(rowCount);
}

// Fetches what the plan needs: { value: { result, note } } or a failure as the fetches give it.
export async function loadHeldChart(answer, type) {
  const plan = heldChartPlan(answer, type);
  const count = Number(answer.rowCount) || 0;
  if (plan.kind === 'reply') return { value: { result: answer, note: heldChartNote(plan, count, count) } };
  const id = answer.answer;
  if (plan.kind === 'points') {
    const res = await heldPoints(id, plan.x, plan.ys, plan.max);
    if (res.error) return res;
    const shown = Number.isFinite(res.value.shown) ? res.value.shown : res.value.rows.length;
    return { value: { result: res.value, note: heldChartNote(plan, count, shown) } };
  }
  const [textReplies, numberReplies] = await Promise.all([
    Promise.all(plan.texts.map((c) => heldTexts(id, c, 0, plan.count))),
    Promise.all(plan.numbers.map((c) => heldColumn(id, c, count))),
  ]);
  const failed = textReplies.concat(numberReplies).find((r) => r.error);
  if (failed) return failed;
  const texts = new Map(plan.texts.map((c, i) => [c, textReplies[i].value]));
  const numbers = new Map(plan.numbers.map((c, i) => [c, numberReplies[i].value]));
  return { value: { result: heldChartAnswer(answer, plan.count, texts, numbers), note: heldChartNote(plan, count, plan.count) } };
}
