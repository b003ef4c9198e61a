// How the latest run's answer is shown beyond the paged table: every answer may be drawn as a
// whole table or chart from the answer the native side holds for the page, engine errors told in
// terms of the editor's text, and a line for each success.
import { bridgeCall } from '../common/bridge.js';
import { exportPagedCsv } from '../common/csv_export.js';
import { engineErrorHtml, placeEngineError } from '../common/engine_error.js';
import { escapeHtml } from '../common/escape.js';
import { freeHeld } from '../common/held.js';
import { hasAggregation, PAGE_SIZE, scriptStatements, sqlScript } from '../common/sql.js';
import { chartChoices, chartType, isChartType } from '../common/chart_types.js';
import { formatMs, rowsText } from '../common/numbers.js';
import { dataFolderPath } from './bucket.js';
import { applyChart, fillChartMenu } from './charts.js';
import { markQueryError, pageHold, showCancelled, showEl, stopHolds, typedRunText } from './editor.js';
import { state } from './state.js';
import { resultNote } from './table.js';
import { unreadableNoteText } from './util.js';

export function resetAnswer(sql) {
  state.runSeq++;
  state.lastScript = sqlScript(sql);
  state.lastAgg = hasAggregation(state.lastScript.last.text);
  state.lastTotal = null;
  dropHeld();
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
  return scriptStatements(state.lastScript, page || 1, PAGE_SIZE, 0);
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
// and the charts are on offer too.
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

// The note of a whole table or chart: the table shows every row; a chart says what it shows
// once it is drawn.
export function updateAnswerNote() {
  const type = document.getElementById('chartType').value;
  if (isPaged(type) || !state.held) setAnswerNote('');
  else setAnswerNote(isChartType(type) ? state.chartNote : rowsText(state.held.rowCount));
}

// A short line beside the run button for a success (green) or a failure (red).
export function showQueryNotice(text, isError) {
  const el = document.getElementById('queryNotice');
  if (!el) return;
  el.textContent = text;
  el.classList.toggle('notice-error', Boolean(isError));
}

// The page holds one answer at a time, the latest run's; an older one is freed.
function dropHeld() {
  if (state.holding) stopHolds();
  const old = state.held;
  state.held = null;
  state.holding = null;
  state.chartData = null;
  state.chartNote = '';
  if (old) freeHeld(old.answer);
}

// The page going frees its answer at once instead of after a while unused.
export function freeHeldOnLeave() {
  window.addEventListener('pagehide', () => {
    if (state.held) freeHeld(state.held.answer);
  });
}

// Runs the latest run's script with the last statement's whole answer held natively, once per
// run: a view asked for while it runs waits for the same reply. Resolves { res, sent }; the held
// answer becomes state.held (null for an answer without rows).
export function holdAnswer() {
  if (state.holding) return state.holding;
  const seq = state.runSeq;
  const sent = runStatements(1).whole;
  const holding = pageHold(sent.sql).then((res) => {
    const answer = res.value;
    const id = answer && typeof answer.answer === 'string' ? answer.answer : '';
    if (seq !== state.runSeq) {
      // A newer run began meanwhile: this answer is nobody's.
      if (id) freeHeld(id);
    } else if (res.error || res.cancelled) {
      state.holding = null;
    } else if (id && Number(answer.rowCount) > 0) {
      state.held = Object.assign({}, answer, { rows: Array.isArray(answer.rows) ? answer.rows : [] });
    } else if (id) {
      freeHeld(id);
    }
    return { res, sent };
  });
  state.holding = holding;
  return holding;
}

// The chart-type menu's handler.
export async function chooseAnswerView() {
  const type = document.getElementById('chartType').value;
  if (state.lastAgg || isPaged(type) || state.lastScript === null || state.held) {
    await applyChart();
    updateAnswerNote();
    return;
  }
  const loaded = await loadHeldAnswer();
  if (!loaded) return;
  await applyChart();
  updateAnswerNote();
}

// Holds the whole answer of a run not held yet, saying so in the result area meanwhile.
async function loadHeldAnswer() {
  const seq = state.runSeq;
  const out = document.getElementById('queryResult');
  out.innerHTML = resultNote('var(--muted)', 'Running...');
  setAnswerNote('');
  const started = performance.now();
  const { res, sent } = await holdAnswer();
  if (seq !== state.runSeq) return false;
  document.getElementById('queryTime').textContent = formatMs(performance.now() - started);
  if (res.cancelled) {
    showCancelled();
    return false;
  }
  if (res.error) {
    showResultError(answerErrorText(res.error, sent));
    return false;
  }
  noteUnreadable(seq, res);
  if (!state.held) {
    out.innerHTML = resultNote('var(--muted)', 'No rows returned.');
    return false;
  }
  state.lastTotal = state.held.rowCount;
  showEl('downloadBtn', '');
  return true;
}

// A held answer that could not be read says why in the result area; one no longer held offers
// to run the statement again.
export function showHeldFailure(failure) {
  const out = document.getElementById('queryResult');
  out.innerHTML =
    '<div class="held-failure"><span>' + escapeHtml(failure.error) + '</span>' +
    (failure.gone ? ' <button class="held-rerun-btn">Run again</button>' : '') + '</div>';
  setAnswerNote('');
}

export async function rerunHeld() {
  state.held = null;
  state.holding = null;
  state.chartData = null;
  const loaded = await loadHeldAnswer();
  if (!loaded) return;
  await applyChart();
  updateAnswerNote();
}

// "⬇ Download CSV" of a whole table or chart: the native side writes the held answer.
export async function saveHeldCsv() {
  const held = state.held;
  if (!held) return;
  const res = await bridgeCall('saveAnswerCsvCpp', held.answer);
  if (res.error) {
    alert('Save failed: ' + res.error);
    showQueryNotice('Save failed', true);
  } else if (res.value && res.value.ok) {
    const rows = Number.isFinite(res.value.rows) ? res.value.rows : held.rowCount;
    showQueryNotice('Exported ' + rowsText(rows) + ' to ' + res.value.ok);
  }
}

// "⬇ CSV" of the paged table: the engine writes every row of the last statement, the statements
// before it run first.
export async function exportAnswerCsv() {
  if (state.lastScript === null) return;
  const res = await exportPagedCsv(state.lastScript.last.text, { script: state.lastScript, userText: state.lastSql });
  if (res.error) {
    showQueryNotice('Export failed', true);
  } else if (res.value && res.value.ok) {
    showQueryNotice('Exported ' + (state.lastTotal === null ? '' : rowsText(state.lastTotal) + ' ') + 'to ' + res.value.ok);
  }
}
