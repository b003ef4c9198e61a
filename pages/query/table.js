// Result tables: the whole-answer table, the paginated table with its footer, and their buttons.
import { nullCells, tableHtml } from '../common/cells.js';
import { escapeHtml } from '../common/escape.js';
import { HELD_BLOCK_ROWS, heldRowSource } from '../common/held_rows.js';
import { formatMs, formatNumber } from '../common/numbers.js';
import { drawVirtualTable } from '../common/virtual_table.js';
import {
  answerErrorText,
  exportAnswerCsv,
  noteUnreadable,
  rerunHeld,
  runStatements,
  saveHeldCsv,
  showHeldFailure,
  showResultError,
} from './answer.js';
import { pageQuery, showCancelled } from './editor.js';
import { state } from './state.js';
import { fmtPageCell } from './util.js';

// Only the rows in sight are in the document, so an answer of any length shows at once. The
// hold reply's rows are all of a short answer; a longer one's rows are fetched as they come into
// sight, its last rows before the first drawing: a sorted answer's widest texts are at either end,
// and the columns are sized by the rows known. Resolves true once drawn.
export async function drawHeldTable(view) {
  const held = state.held;
  const out = document.getElementById('queryResult');
  if (held.rowCount <= held.rows.length) {
    drawVirtualTable(out, 'duck-table', held.columns, held.rows, held.numericCols, nullCells(held));
    return true;
  }
  const source = heldRowSource(held);
  const tail = await source.load(held.rowCount - HELD_BLOCK_ROWS, held.rowCount);
  if (view !== state.viewSeq || held !== state.held) return false;
  if (tail.error) {
    showHeldFailure(tail);
    return false;
  }
  source.onError(showHeldFailure);
  drawVirtualTable(out, 'duck-table', held.columns, source, held.numericCols);
  return true;
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

// The pager's buttons, "⬇ CSV" and "Run again" are drawn anew with each page; one listener
// serves them all.
function onResultClick(e) {
  const pager = e.target.closest('.pager-btn');
  if (pager && !pager.disabled) {
    bucketPaginatedGo(Number(pager.dataset.page));
  } else if (e.target.closest('.paged-csv-btn') && state.lastSql !== null) {
    exportAnswerCsv();
  } else if (e.target.closest('.held-rerun-btn') && state.lastScript !== null) {
    rerunHeld();
  }
}

export function bindTables() {
  document.getElementById('queryResult').addEventListener('click', onResultClick);
  document.getElementById('downloadBtn').addEventListener('click', saveHeldCsv);
}
