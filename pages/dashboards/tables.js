// Tables of dashboard panels and editor previews: the plain table of a whole result, and the
// paginated table, whose SQL, page and key state.js keeps by its key so that page buttons, the
// CSV export and chart click filters can find and redraw it.
import { nullCells, tableHtml } from '../common/cells.js';
import { exportPagedCsv } from '../common/csv_export.js';
import { engineErrorHtml, pagedEngineError } from '../common/engine_error.js';
import { escapeHtml } from '../common/escape.js';
import { freeHeld } from '../common/held.js';
import { HELD_BLOCK_ROWS, heldRowSource } from '../common/held_rows.js';
import { formatNumber } from '../common/numbers.js';
import { pagedBaseSql, paginatedStatements } from '../common/sql.js';
import { THEME } from '../common/theme.js';
import { drawVirtualTable } from '../common/virtual_table.js';
import { runWithPieces, sqlWithPieces } from './conditions.js';
import { DASH_PAGE_SIZE, loadingBarHtml, NOTE_GREY, NOTE_RED, noteHtml } from './rules.js';
import { endWork, isCurrentWork, pagedTable, queryAsWork, setPagedTable, startWork } from './state.js';

const DASH_TABLE_BACKGROUND = THEME.base;
const DASH_TABLE_ERROR_FONT = '0.7rem';
const DASH_TABLE_LOADING_WIDTH = 120;


function dashSizeClass(isSmall) {
  return isSmall ? ' dash-small' : '';
}

// Only the rows in sight are in the document; cells are never number-formatted here, numbers
// are right-aligned and NULL shown apart from an empty text. A held answer (a hold reply) longer
// than its first rows is fetched as it comes into sight; a shorter one is all in the reply and
// is freed at once.
export function renderTable(el, result, isSmall) {
  const columns = result && Array.isArray(result.columns) ? result.columns : [];
  const rows = result && Array.isArray(result.rows) ? result.rows : [];
  el.innerHTML = '<div class="dash-table-box' + dashSizeClass(isSmall) + '"></div>';
  const numeric = result && Array.isArray(result.numericCols) ? result.numericCols : [];
  const id = result && typeof result.answer === 'string' ? result.answer : '';
  if (id && Number(result.rowCount) > rows.length) {
    drawHeldRows(el.firstChild, result, columns, numeric);
  } else {
    if (id) freeHeld(id);
    drawVirtualTable(el.firstChild, 'dash-table', columns, rows, numeric, nullCells(result), false);
  }
  el.style.alignItems = 'flex-start';
  el.style.background = DASH_TABLE_BACKGROUND;
}

// The last rows are fetched before the first drawing: a sorted answer's widest texts are at
// either end, and the columns are sized by the rows known. A box replaced meanwhile is left alone.
async function drawHeldRows(box, held, columns, numeric) {
  const source = heldRowSource(held);
  const failed = (f) => {
    if (!box.isConnected) return;
    box.innerHTML = noteHtml(f.error, NOTE_RED, DASH_TABLE_ERROR_FONT) +
      (f.gone ? '<button class="dash-rerun-btn" data-click="dashReloadPanel">Run again</button>' : '');
  };
  box.innerHTML = loadingBarHtml(DASH_TABLE_LOADING_WIDTH);
  const tail = await source.load(held.rowCount - HELD_BLOCK_ROWS, held.rowCount);
  if (!box.isConnected) return;
  if (tail.error) {
    failed(tail);
    return;
  }
  source.onError(failed);
  drawVirtualTable(box, 'dash-table', columns, source, numeric, null, false);
}

function dashPagerButton(label, key, target, enabled) {
  return (
    '<button class="dash-pager-btn"' + (enabled ? '' : ' disabled') + ' data-click="dashPaginatedGo" data-key="' +
    escapeHtml(key) + '" data-page="' + target + '">' + label + '</button>'
  );
}

function dashPaginatedFooter(key, page, pages, range) {
  return (
    '<div class="dash-paged-footer"><div class="dash-page-group dash-page-nav">' +
    dashPagerButton('⟨⟨', key, 1, page > 1) +
    dashPagerButton('⟨', key, page - 1, page > 1) +
    '</div><div class="dash-page-group"><span class="dash-paged-range">' + range + '</span>' +
    '<button class="dash-csv-btn" title="Download all rows as CSV" data-click="downloadDashPaginatedCsv" data-key="' +
    escapeHtml(key) + '">⬇ CSV</button></div><div class="dash-page-group dash-page-nav">' +
    dashPagerButton('⟩', key, page + 1, page < pages) +
    dashPagerButton('⟩⟩', key, pages, page < pages) +
    '</div></div>'
  );
}

// A page below 1 or a size that is not a positive whole number would make an OFFSET or LIMIT
// the engine rejects. Each drawing is the work of the panel key: a newer one (another page, a
// click filter, a new render) stops its engine runs, and only the newest writes the table.
// `pieces`, when given, are conditions spliced into sql that the table may do without (see
// conditions.js). Resolves to the names of those it did without, or null when superseded.
export async function renderPaginatedTable(el, sql, page, pageSize, isSmall, panelKey, pieces) {
  const n = Math.floor(Number(page));
  const size = Math.floor(Number(pageSize));
  page = n >= 1 ? n : 1;
  pageSize = size >= 1 ? size : DASH_PAGE_SIZE;
  const key = panelKey == null ? '' : String(panelKey);
  const first = pagedBaseSql(sqlWithPieces(sql == null ? '' : sql, pieces || []));
  setPagedTable(key, el, { sql: first, page, pageSize, isSmall: !!isSmall });
  el.innerHTML = loadingBarHtml(DASH_TABLE_LOADING_WIDTH);
  const tag = startWork(key);
  try {
    const runPage = (statement) => {
      const stmts = paginatedStatements(pagedBaseSql(statement), page, pageSize);
      return queryAsWork(key, tag, [stmts.count, stmts.page], true);
    };
    const ran = await runWithPieces(sql == null ? '' : sql, pieces || [], runPage, (r) => r[0].error || r[1].error);
    if (!ran) return null;
    endWork(key, tag);
    const base = pagedBaseSql(ran.sql);
    const stmts = paginatedStatements(base, page, pageSize);
    // Paging and the export go on with what the table could take.
    setPagedTable(key, el, { sql: base });
    drawPage(el, key, ran.reply, base, stmts.offset, page, pageSize, isSmall);
    return ran.dropped;
  } catch (e) {
    if (isCurrentWork(key, tag)) el.innerHTML = noteHtml('Error loading data', NOTE_RED, DASH_TABLE_ERROR_FONT);
    return null;
  }
}

function drawPage(el, key, [counted, paged], base, offset, page, pageSize, isSmall) {
  const error = pagedEngineError(counted, paged, base, page, pageSize);
  if (error) {
    el.innerHTML = engineErrorHtml(error, 'dash-engine-error');
    return;
  }
  const countRes = counted.value;
  const pageRes = paged.value;
  const countRows = countRes && Array.isArray(countRes.rows) ? countRes.rows : [];
  const total = countRows.length && Array.isArray(countRows[0]) ? parseInt(countRows[0][0], 10) || 0 : 0;
  if (total <= 0) {
    el.innerHTML = noteHtml('No data', NOTE_GREY);
    return;
  }
  const pages = Math.max(1, Math.ceil(total / pageSize));
  const rows = pageRes && Array.isArray(pageRes.rows) ? pageRes.rows : [];
  const columns = pageRes && Array.isArray(pageRes.columns) ? pageRes.columns : [];
  const last = Math.min(offset + rows.length, total);
  const range = formatNumber(offset + 1) + '-' + formatNumber(last) + ' of ' + formatNumber(total);
  el.innerHTML =
    '<div class="dash-paged' + dashSizeClass(isSmall) + '"><div class="dash-paged-body">' +
    tableHtml('dash-table', columns, rows, pageRes.numericCols, nullCells(pageRes)) + '</div>' + dashPaginatedFooter(key, page, pages, range) + '</div>';
  el.style.alignItems = 'stretch';
  el.style.background = DASH_TABLE_BACKGROUND;
}

// The stored SQL already holds every filter merged in when the table was drawn.
export function dashPaginatedGo(panelKey, page) {
  const table = pagedTable(panelKey);
  if (!table) return undefined;
  const target = Math.max(1, Number(page) || 1);
  return renderPaginatedTable(table.el, table.sql, target, table.pageSize, table.isSmall, table.key);
}

// "⬇ CSV" of a panel's paginated table.
export async function downloadDashPaginatedCsv(panelKey) {
  const table = pagedTable(panelKey);
  if (table && table.sql) await exportPagedCsv(table.sql);
}

export const TABLE_ACTIONS = {
  dashPaginatedGo: (el) => dashPaginatedGo(el.dataset.key, el.dataset.page),
  downloadDashPaginatedCsv: (el) => downloadDashPaginatedCsv(el.dataset.key),
};
