// How the latest run's answer is shown beyond the paged table: every answer may be drawn as a
// whole table or chart (a non-aggregated one from its first rows), engine errors told in terms of
// the editor's text, and a line for each success.
import { exportPagedCsv } from '../common/csv_export.js';
import { engineErrorHtml, placeEngineError } from '../common/engine_error.js';
import { hasAggregation, PAGE_SIZE, scriptStatements, sqlScript } from '../common/sql.js';
import { chartChoices, chartType } from '../common/chart_types.js';
import { formatMs, formatNumber, rowsText } from '../common/numbers.js';
import { dataFolderPath } from './bucket.js';
import { applyChart, fillChartMenu } from './charts.js';
import { markQueryError, pageQuery, showCancelled, showEl, typedRunText } from './editor.js';
import { state } from './state.js';
import { resultNote } from './table.js';
import { unreadableNoteText } from './util.js';

const ANSWER_ROW_CAP = 100000;

export function resetAnswer(sql) {
  state.runSeq++;
  state.lastScript = sqlScript(sql);
  state.lastAgg = hasAggregation(state.lastScript.last.text);
  state.lastTotal = null;
  state.lastCapped = null;
  showQueryNotice('');
  setAnswerNote('');
  setUnreadableNote([]);
  return state.runSeq;
}

function setUnreadableNote(paths) {
  const el = document.getElementById('unreadableNote');
  if (!el) return;
  el.textContent = unreadableNoteText(paths, dataFolderPath());
  el.title = paths.join('\n');
}

// An answer that had to leave out folders it could not read says so beside it, for the run
// that asked.
export function noteUnreadable(seq, ...replies) {
  if (seq !== state.runSeq) return;
  const paths = new Set();
  for (const reply of replies) {
    const list = reply && reply.value && reply.value.unreadable;
    if (Array.isArray(list)) list.forEach((p) => paths.add(String(p)));
  }
  if (paths.size) setUnreadableNote(Array.from(paths).sort());
}

export function runStatements(page) {
  return scriptStatements(state.lastScript, page || 1, PAGE_SIZE, ANSWER_ROW_CAP);
}

// An engine message for one of this run's statements, its position told in the editor's terms
// and marked there.
export function answerErrorText(error, sent) {
  const placed = placeEngineError(error, sent, state.lastSql, typedRunText());
  markQueryError(placed.offset, placed.text);
  return placed.text;
}

export function showResultError(text) {
  document.getElementById('queryResult').innerHTML = engineErrorHtml(text);
}

// The paged table stays the first choice for an answer that is not aggregated; the whole table
// and the charts draw its first rows.
export function rebuildAnswerOptions(sel, agg) {
  const whole = chartChoices(agg ? sel.value : 'table', true);
  if (agg) {
    fillChartMenu(sel, whole);
    return;
  }
  const paged = chartChoices(null, false);
  fillChartMenu(sel, { values: paged.values.concat(whole.values), selected: paged.selected });
}

function isPaged(type) {
  return Boolean(chartType(type) && chartType(type).paged);
}

function setAnswerNote(text) {
  document.getElementById('answerNote').textContent = text;
}

// The row count of a whole table or chart, and whether it shows only the first rows.
function answerNoteText(shown, total) {
  if (total !== null && total > shown) {
    return 'first ' + formatNumber(shown) + ' of ' + formatNumber(total) + ' rows';
  }
  return rowsText(shown);
}

export function updateAnswerNote() {
  const type = document.getElementById('chartType').value;
  if (isPaged(type) || !state.lastResult) {
    setAnswerNote('');
    return;
  }
  setAnswerNote(answerNoteText(state.lastResult.rows.length, state.lastAgg ? null : state.lastTotal));
}

// A short line beside the run button for a success (green) or a failure (red).
export function showQueryNotice(text, isError) {
  const el = document.getElementById('queryNotice');
  if (!el) return;
  el.textContent = text;
  el.classList.toggle('notice-error', Boolean(isError));
}

// The chart-type menu's handler.
export async function chooseAnswerView() {
  const type = document.getElementById('chartType').value;
  if (state.lastAgg || isPaged(type) || state.lastScript === null) {
    applyChart();
    updateAnswerNote();
    return;
  }
  if (!state.lastCapped) {
    const loaded = await loadCappedAnswer();
    if (!loaded) return;
  }
  state.lastResult = state.lastCapped;
  applyChart();
  updateAnswerNote();
}

// Runs the last statement limited to its first rows, counting the whole answer alongside
// when the paged table has not.
async function loadCappedAnswer() {
  const seq = state.runSeq;
  const stmts = runStatements(1);
  const out = document.getElementById('queryResult');
  out.innerHTML = resultNote('var(--muted)', 'Running...');
  setAnswerNote('');
  const started = performance.now();
  const [res, countRes] = await Promise.all([
    pageQuery(stmts.capped.sql),
    state.lastTotal === null ? pageQuery(stmts.count.sql) : Promise.resolve(null),
  ]);
  document.getElementById('queryTime').textContent = formatMs(performance.now() - started);
  if (seq !== state.runSeq) return false;
  if (res.cancelled) {
    showCancelled();
    return false;
  }
  if (res.error) {
    showResultError(answerErrorText(res.error, stmts.capped));
    return false;
  }
  noteUnreadable(seq, res, countRes);
  const answer = res.value;
  if (!answer || !Array.isArray(answer.rows) || answer.rows.length === 0) {
    out.innerHTML = resultNote('var(--muted)', 'No rows returned.');
    return false;
  }
  const counted = countRes && countRes.value;
  if (counted && Array.isArray(counted.rows) && counted.rows.length) {
    state.lastTotal = parseInt(counted.rows[0][0], 10) || 0;
  }
  state.lastCapped = { columns: answer.columns || [], rows: answer.rows, numericCols: answer.numericCols || [], nulls: answer.nulls };
  showEl('downloadBtn', '');
  return true;
}

// "⬇ CSV" and, for an answer that is not aggregated, "⬇ Download CSV": the engine writes every
// row of the last statement, the statements before it run first.
export async function exportAnswerCsv() {
  if (state.lastScript === null) return;
  const res = await exportPagedCsv(state.lastScript.last.text, { script: state.lastScript, userText: state.lastSql });
  if (res.error) {
    showQueryNotice('Export failed', true);
  } else if (res.value && res.value.ok) {
    showQueryNotice('Exported ' + (state.lastTotal === null ? '' : rowsText(state.lastTotal) + ' ') + 'to ' + res.value.ok);
  }
}
