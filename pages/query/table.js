// Result tables: the whole-result table, the paginated table with its footer, and CSV export.
import { bridgeCall } from '../common/bridge.js';
import { nullCells, tableHtml } from '../common/cells.js';
import { escapeHtml } from '../common/escape.js';
import { formatMs, formatNumber, rowsText } from '../common/numbers.js';
import { drawVirtualTable } from '../common/virtual_table.js';
import {
  answerErrorText,
  exportAnswerCsv,
  noteUnreadable,
  runStatements,
  showQueryNotice,
  showResultError,
} from './answer.js';
import { csvText } from './csv.js';
import { pageQuery, showCancelled } from './editor.js';
import { state } from './state.js';
import { fmtPageCell } from './util.js';

// Only the rows in sight are in the document, so an answer of any length shows at once.
export function drawTable(result) {
  drawVirtualTable(document.getElementById('queryResult'), 'duck-table', result.columns, result.rows, result.numericCols,
    nullCells(result));
}

export function resultNote(color, text) {
  return '<div style="color:' + color + ';white-space:pre-wrap">' + escapeHtml(text) + '</div>';
}

function pagerButton(label, title, target, enabled) {
  return (
    '<button class="pager-btn" title="' + title + '"' + (enabled ? '' : ' disabled') +
    ' data-page="' + target + '">' + label + '</button>'
  );
}

export async function drawPaginatedTable() {
  if (state.lastSql === null) return;
  const seq = state.runSeq;
  const out = document.getElementById('queryResult');
  out.innerHTML = resultNote('var(--muted)', 'Loading...');
  const P = state.paginationState.pageSize;
  const N = state.paginationState.page;
  const stmts = runStatements(N);
  try {
    const started = performance.now();
    const [counted, paged] = await Promise.all([pageQuery(stmts.count.sql), pageQuery(stmts.page.sql)]);
    if (seq !== state.runSeq) return;
    document.getElementById('queryTime').textContent = formatMs(performance.now() - started);
    if (counted.cancelled || paged.cancelled) {
      showCancelled();
      return;
    }
    if (counted.error) {
      showResultError(answerErrorText(counted.error, stmts.count));
      return;
    }
    if (paged.error) {
      showResultError(answerErrorText(paged.error, stmts.page));
      return;
    }
    noteUnreadable(seq, counted, paged);
    const countRes = counted.value;
    const pageRes = paged.value || {};
    const countRows = countRes && Array.isArray(countRes.rows) ? countRes.rows : [];
    const total = countRows.length && countRows[0].length ? parseInt(countRows[0][0], 10) || 0 : 0;
    const pages = Math.max(1, Math.ceil(total / P));
    state.lastTotal = total;
    if (total === 0) {
      out.innerHTML = resultNote('var(--muted)', 'No rows returned.');
      return;
    }
    const rows = pageRes && Array.isArray(pageRes.rows) ? pageRes.rows : [];
    const first = stmts.offset + 1;
    const last = Math.min(stmts.offset + rows.length, total);
    const range = formatNumber(first) + '-' + formatNumber(last) + ' of ' + formatNumber(total) + ' rows';
    out.innerHTML =
      '<div class="paged-layout"><div class="paged-body">' +
      tableHtml('duck-table', pageRes.columns, rows, pageRes.numericCols, nullCells(pageRes), (cell) => fmtPageCell(cell)) +
      '</div><div class="paged-footer"><div class="page-group">' +
      pagerButton('⟨⟨', 'First Page', 1, N > 1) +
      pagerButton('⟨', 'Previous Page', N - 1, N > 1) +
      '</div><div class="page-group"><span class="paged-range">' + range + '</span>' +
      '<button class="paged-csv-btn" title="Download all rows as CSV">⬇ CSV</button>' +
      '</div><div class="page-group">' +
      pagerButton('⟩', 'Next Page', N + 1, N < pages) +
      pagerButton('⟩⟩', 'Last Page', pages, N < pages) +
      '</div></div></div>';
  } catch (e) {
    out.innerHTML = resultNote('var(--error)', 'Error loading data');
  }
}

export function bucketPaginatedGo(page) {
  state.paginationState.page = Math.max(1, Number(page) || 1);
  drawPaginatedTable();
}

// A cancelled dialog stays silent; a file that could not be written must not look saved. The
// first rows of an answer that is not aggregated are not the whole answer: the engine writes
// every row instead.
async function downloadResult() {
  if (!state.lastResult) return;
  if (!state.lastAgg) {
    await exportAnswerCsv();
    return;
  }
  const count = state.lastResult.rows.length;
  const res = await bridgeCall('saveCsvCpp', csvText(state.lastResult.columns, state.lastResult.rows, nullCells(state.lastResult)));
  if (res.error) {
    alert('Save failed: ' + res.error);
    showQueryNotice('Save failed', true);
  } else if (res.value && res.value.ok) {
    showQueryNotice('Exported ' + rowsText(count) + ' to ' + res.value.ok);
  }
}

// The pager's buttons and "⬇ CSV" are drawn anew with each page; one listener serves them all.
function onResultClick(e) {
  const pager = e.target.closest('.pager-btn');
  if (pager && !pager.disabled) {
    bucketPaginatedGo(Number(pager.dataset.page));
  } else if (e.target.closest('.paged-csv-btn') && state.lastSql !== null) {
    exportAnswerCsv();
  }
}

export function bindTables() {
  document.getElementById('queryResult').addEventListener('click', onResultClick);
  document.getElementById('downloadBtn').addEventListener('click', downloadResult);
}
