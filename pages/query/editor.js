// Query editor: examples, the CSV/Parquet switch, {path-to-files} and running a query.
import { bridgeCall } from '../common/bridge.js';
import { formatMs } from '../common/numbers.js';
import { createSqlEditor } from '../common/sql_editor.js';
import { PAGE_SIZE, PATH_VARIABLE, pathFilesCall, pathVariableOffset, substitutePathVariable } from '../common/sql.js';
import {
  holdAnswer,
  noteUnreadable,
  rebuildAnswerOptions,
  resetAnswer,
  answerErrorText,
  showQueryNotice,
  updateAnswerNote,
} from './answer.js';
import { onPathFilesChange, pathFilesFolder, updatePathVariableLine } from './bucket.js';
import { applyChart } from './charts.js';
import { attachCompletion, filesReloaded, pathFilesChanged, queryCompletion, warmUp } from './completion.js';
import { reportRunTiming } from './run_timing.js';
import { getSnippets } from './snippets.js';
import { state } from './state.js';
import { drawPaginatedTable, resultNote } from './table.js';

const NO_FOLDER_ALERT = 'Please select a folder in the Bucket Browser first';
// Every query of this page carries this tag, so that Stop ends all of them and nothing else.
const QUERY_STOP_TAG = 'queryPage';
const STOP_OFFER_DELAY_MS = 500;
// The page's one place for a held answer.
const HOLD_PLACE = 'query';
const CANCELLED_NOTE = 'Query cancelled.';
// Half of a UTF-16 pair without its other half: no character at all, and not valid text.
const LONE_SURROGATE_RE = /[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/;
const LONE_SURROGATE_NOTE = 'The query holds a broken character (half of a UTF-16 pair) and was not run: line ';

let pendingQueries = 0;
let holdCount = 0;
const holdTags = new Set();
let stopOfferTimer = null;
let queryEditor = null;
// What the latest run took from the editor: the text as it then was, where the run's text
// starts in it, and the call {path-to-files} became; engine errors are placed back through it.
let runOrigin = null;

function setSnippetFromDropdown() {
  const sel = document.getElementById('examplesDropdown');
  const text = getSnippets()[sel.value];
  if (text !== undefined) document.getElementById('queryInput').value = text;
  sel.value = '';
}

function toggleFormat() {
  const parquet = (state.isParquet = !state.isParquet);
  document.getElementById('switchThumb').style.left = parquet ? '18px' : '2px';
  document.getElementById('formatSwitch').style.background = parquet ? 'var(--warning)' : 'var(--success)';
  document.getElementById('labelCsv').style.color = parquet ? 'var(--muted)' : 'var(--success)';
  document.getElementById('labelParquet').style.color = parquet ? 'var(--warning)' : 'var(--muted)';
  updatePathVariableLine();
}

function replacePathVariable(sql) {
  if (!String(sql).includes(PATH_VARIABLE)) return sql;
  const base = pathFilesFolder();
  if (!base) {
    alert(NO_FOLDER_ALERT);
    return null;
  }
  return substitutePathVariable(sql, state.isParquet, base);
}

export function showEl(id, display) {
  const el = document.getElementById(id);
  if (el) el.style.display = display;
}

// Runs one engine call for this page, answering as bridgeCall does; Stop is offered once any of
// them has taken a while.
async function pageCall(name, ...args) {
  if (pendingQueries++ === 0) {
    stopOfferTimer = setTimeout(() => showEl('stopQueryBtn', ''), STOP_OFFER_DELAY_MS);
  }
  try {
    return await bridgeCall(name, ...args);
  } finally {
    if (--pendingQueries === 0) {
      clearTimeout(stopOfferTimer);
      showEl('stopQueryBtn', 'none');
    }
  }
}

export function pageQuery(sql) {
  return pageCall('queryDuckCpp', sql, QUERY_STOP_TAG);
}

// Runs a statement whose answer the native side holds for this page: a newer hold frees the
// older answer. Each hold has a stop tag of its own, so that a new run can stop an older hold
// still running, whose answer would otherwise take the place of the newer one's.
export async function pageHold(sql) {
  const tag = QUERY_STOP_TAG + '-hold-' + ++holdCount;
  holdTags.add(tag);
  try {
    return await pageCall('holdQueryCpp', sql, HOLD_PLACE, tag);
  } finally {
    holdTags.delete(tag);
  }
}

export function stopHolds() {
  for (const tag of holdTags) bridgeCall('stopQueryCpp', tag);
}

// The stopped calls answer {cancelled: true}; each run then shows the cancelled note.
function stopQuery() {
  showEl('stopQueryBtn', 'none');
  stopHolds();
  bridgeCall('stopQueryCpp', QUERY_STOP_TAG).then((res) => {
    if (res.error) showQueryNotice('Could not stop the query: ' + res.error, true);
  });
}

export function showCancelled() {
  document.getElementById('queryResult').innerHTML = resultNote('var(--muted)', CANCELLED_NOTE);
}

// A text of several statements runs them in order in one engine run; the last one's answer is
// what is shown.
async function runQuery() {
  const ranAt = performance.now();
  const taken = queryEditor.runText();
  const input = taken.text.trim();
  if (!input) return;
  queryEditor.settle();
  const errBox = document.getElementById('queryError');
  const lone = input.search(LONE_SURROGATE_RE);
  if (lone >= 0) {
    // Such text cannot be handed on as JSON; say where it is instead of sending it.
    const at = taken.from + (taken.text.length - taken.text.trimStart().length) + lone;
    const line = queryEditor.view.state.doc.lineAt(at).number;
    errBox.textContent = '⚠ ' + LONE_SURROGATE_NOTE + line + '.';
    errBox.style.display = 'block';
    queryEditor.markError(at, errBox.textContent);
    return;
  }
  const sql = replacePathVariable(input);
  if (sql === null) return;
  queryEditor.markError(null);
  runOrigin = {
    doc: queryEditor.view.state.doc,
    at: taken.from + (taken.text.length - taken.text.trimStart().length),
    input,
    call: input.includes(PATH_VARIABLE) ? pathFilesCall(state.isParquet, pathFilesFolder()) : '',
  };
  state.lastSql = sql;
  const seq = resetAnswer(sql);
  state.paginationState = { page: 1, pageSize: PAGE_SIZE };
  const agg = state.lastAgg;
  const chartSel = document.getElementById('chartType');
  showEl('chartType', '');
  showEl('downloadBtn', 'none');
  showEl('saveQueryBtn', '');
  errBox.style.display = 'none';
  errBox.textContent = '';
  const timeEl = document.getElementById('queryTime');
  timeEl.textContent = '';
  const out = document.getElementById('queryResult');
  out.innerHTML = resultNote('var(--muted)', 'Running...');
  if (!agg) {
    rebuildAnswerOptions(chartSel, false);
    drawPaginatedTable();
    return;
  }
  const started = performance.now();
  const { res, sent } = await holdAnswer();
  const arrived = performance.now();
  if (seq !== state.runSeq) return;
  timeEl.textContent = formatMs(arrived - started);
  if (res.cancelled) {
    showCancelled();
    return;
  }
  if (res.error) {
    errBox.textContent = '⚠ ' + answerErrorText(res.error, sent);
    errBox.style.display = 'block';
    out.innerHTML = '';
    return;
  }
  noteUnreadable(seq, res);
  if (!state.held) {
    out.innerHTML = resultNote('var(--muted)', 'No rows returned.');
    return;
  }
  showEl('downloadBtn', '');
  rebuildAnswerOptions(chartSel, true);
  const drawn = await applyChart();
  updateAnswerNote();
  if (drawn && seq === state.runSeq) reportRunTiming(ranAt, arrived, state.held.rowCount);
}

// Underlines an engine error of the latest run at `offset` of the text it ran (with
// {path-to-files} replaced), as long as the editor still holds the text that ran.
// The text of the latest run as the user typed it, for an engine message's quoted line; null
// when it ran as typed.
export function typedRunText() {
  if (!runOrigin || !runOrigin.call) return null;
  const { input, call } = runOrigin;
  return { text: input, offsetOf: (offset) => pathVariableOffset(input, call, offset) };
}

export function markQueryError(offset, message) {
  if (!queryEditor || !runOrigin || offset === null || offset === undefined) return;
  if (queryEditor.view.state.doc !== runOrigin.doc) return;
  const own = runOrigin.call ? pathVariableOffset(runOrigin.input, runOrigin.call, offset) : offset;
  queryEditor.markError(runOrigin.at + Math.min(own, runOrigin.input.length), message);
}

export function bindEditor() {
  queryEditor = createSqlEditor(document.getElementById('queryEditor'), {
    id: 'queryInput',
    label: 'SQL query',
    placeholder: 'SELECT * FROM ' + PATH_VARIABLE + ' LIMIT 10',
    onRun: runQuery,
    completion: queryCompletion,
  });
  attachCompletion(queryEditor);
  queryEditor.input.addEventListener('focus', warmUp);
  onPathFilesChange((reloaded) => (reloaded ? filesReloaded() : pathFilesChanged()));
  document.getElementById('examplesDropdown').addEventListener('change', setSnippetFromDropdown);
  document.getElementById('formatSwitch').addEventListener('click', toggleFormat);
  document.getElementById('runQueryBtn').addEventListener('click', runQuery);
  document.getElementById('stopQueryBtn').addEventListener('click', stopQuery);
  // The editor runs its own Ctrl+Enter and marks the key as handled.
  document.addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && (e.metaKey || e.ctrlKey) && !e.defaultPrevented) {
      e.preventDefault();
      runQuery();
    }
  });
}
