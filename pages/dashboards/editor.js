// The dashboard layout editor: rows of cells inside rowsContainer, each cell a panel with its
// title, query, chart type, width and a small live preview. The elements are the layout until
// collectEditorRows() reads them for saving.
import { bridgeCall } from '../common/bridge.js';
import { chartType } from '../common/chart_types.js';
import { escapeHtml } from '../common/escape.js';
import { hasAggregation } from '../common/sql.js';
import { renderChart } from './charts.js';
import { filterPieces, notFilteredText } from './conditions.js';
import { queryWithPieces, showUnreadable } from './preview.js';
import { dashboardSql, reloadOtherFilterDropdowns, showEditFilterBar } from './filters.js';
import {
  cellMaxWidth,
  getChartOptions,
  queryListNames,
  serializeRows,
  shareWidths,
  storedCellData,
} from './layout_rules.js';
import { DASH_DEFAULT_FLEX, DASH_PAGE_SIZE, loadingBarHtml, NOTE_GREY, NOTE_RED, noteHtml } from './rules.js';
import { dashState, nextCellId, nextRowId, setSchema, startWork } from './state.js';
import { renderPaginatedTable } from './tables.js';

const EDIT_NO_QUERY = '— Select Query —';
const EDIT_PREVIEW_HINT = 'Select a query to preview';
const EDIT_FOCUS_DELAY_MS = 50;

// Tooltips and preview size differ between cells opened from a stored layout and cells added
// with the row's "+" button.
const EDIT_STORED_TIPS = { left: 'Move Panel Left', right: 'Move Panel Right', dec: 'Decrease Width', inc: 'Increase Width', remove: 'Remove Panel' };
const EDIT_ADDED_TIPS = { left: 'Move left', right: 'Move right', dec: '', inc: '', remove: 'Remove panel' };

function editRowsContainer() {
  return document.getElementById('rowsContainer');
}

function editRows() {
  const container = editRowsContainer();
  return container ? Array.from(container.children).filter((el) => el.classList.contains('dash-row')) : [];
}

function editRowCells(row) {
  const box = row.querySelector('.dash-cells-container');
  return box ? Array.from(box.children).filter((el) => el.classList.contains('dash-cell')) : [];
}

function editRow(rowId) {
  return editRows().find((r) => r.dataset.rowId === String(rowId)) || null;
}

function editCell(cellId) {
  const container = editRowsContainer();
  const cells = container ? Array.from(container.querySelectorAll('.dash-cell')) : [];
  return cells.find((c) => c.dataset.cellId === String(cellId)) || null;
}

// Text for markup (attribute or content) that also keeps carriage returns, which the HTML parser
// would turn into line feeds: a label built here reads the same as one set by dashSelectQuery.
function editText(value) {
  return escapeHtml(value).replace(/\r/g, '&#13;');
}

function editTitleAttr(text) {
  return text ? ' title="' + text + '"' : '';
}

function editShow(el, shown) {
  if (el) el.style.display = shown ? '' : 'none';
}

function editNote(el, text, color, fontSize) {
  el.innerHTML = noteHtml(text, color, fontSize);
}

function updateArrowVisibility() {
  const rows = editRows();
  rows.forEach((row, i) => {
    editShow(row.querySelector('.row-up-btn'), i > 0);
    editShow(row.querySelector('.row-down-btn'), i < rows.length - 1);
    const cells = editRowCells(row);
    cells.forEach((cell, j) => {
      editShow(cell.querySelector('.cell-left-btn'), j > 0);
      editShow(cell.querySelector('.cell-right-btn'), j < cells.length - 1);
    });
  });
}

function buildRow() {
  const container = editRowsContainer();
  if (!container) return null;
  const id = nextRowId();
  const row = document.createElement('div');
  row.className = 'dash-row';
  row.dataset.rowId = String(id);
  row.innerHTML =
    '<div class="dash-cells-container"></div><div class="dash-row-actions">' +
    '<button type="button" class="dash-row-btn" title="Add Panel" data-click="dashAddCell">+</button>' +
    '<button type="button" class="dash-row-btn row-up-btn" title="Move Row Up" data-click="dashMoveRowUp">↑</button>' +
    '<button type="button" class="dash-row-btn row-down-btn" title="Move Row Down" data-click="dashMoveRowDown">↓</button>' +
    '<button type="button" class="dash-row-btn" title="Remove Row" data-click="dashRemoveRow">🗑️</button></div>';
  container.appendChild(row);
  return id;
}

export function getQueryListItems(selectedQuery, searchText) {
  const names = queryListNames(dashState.savedQueries, searchText);
  if (!names.length) return '<div class="query-dropdown-empty">No queries found</div>';
  return names
    .map((name) => {
      const selected = name === selectedQuery;
      return (
        '<div class="query-dropdown-item' + (selected ? ' selected' : '') + '" data-name="' + editText(name) +
        '" data-click="dashSelectQuery">' +
        '<span class="query-dropdown-name">' + editText(name) + '</span>' +
        (selected ? '<span class="query-dropdown-check">✓</span>' : '') + '</div>'
      );
    })
    .join('');
}

export function getQueryDropdown(selectedQuery) {
  return (
    '<div class="query-dropdown-container">' +
    '<input type="hidden" class="query-select" value="' + editText(selectedQuery || '') + '">' +
    '<button type="button" class="query-dropdown-btn" data-click="dashToggleQueryDropdown">' +
    '<span class="query-dropdown-label">' + editText(selectedQuery || EDIT_NO_QUERY) + '</span>' +
    '<span class="query-dropdown-arrow">▼</span></button>' +
    '<div class="query-dropdown-menu" style="display:none">' +
    '<input type="text" class="query-dropdown-search" placeholder="Search..." ' +
    'data-input="dashFilterQueryDropdown" data-click="stop">' +
    '<div class="query-dropdown-list"></div></div></div>'
  );
}

// Appends a cell to the row and returns its id (null when the row is gone).
function buildCell(rowId, data, stored) {
  const row = editRow(rowId);
  const box = row && row.querySelector('.dash-cells-container');
  if (!box) return null;
  const id = nextCellId();
  const tips = stored ? EDIT_STORED_TIPS : EDIT_ADDED_TIPS;
  const cell = document.createElement('div');
  cell.className = 'dash-cell';
  cell.dataset.cellId = String(id);
  cell.innerHTML =
    '<div class="dash-cell-header">' +
    '<input type="text" class="cell-title" placeholder="Panel name...">' +
    '<button type="button" class="cell-arrow cell-left-btn"' + editTitleAttr(tips.left) + ' data-click="dashMoveCellLeft">←</button>' +
    '<button type="button" class="cell-arrow cell-right-btn"' + editTitleAttr(tips.right) + ' data-click="dashMoveCellRight">→</button>' +
    '<span class="cell-col-label">Col:</span>' +
    '<button type="button" class="cell-width-btn"' + editTitleAttr(tips.dec) + ' data-click="dashAdjustWidth" data-delta="-1">−</button>' +
    '<span class="width-label"></span>' +
    '<button type="button" class="cell-width-btn"' + editTitleAttr(tips.inc) + ' data-click="dashAdjustWidth" data-delta="1">+</button>' +
    '<button type="button" class="cell-remove-btn"' + editTitleAttr(tips.remove) + ' data-click="dashRemoveCell">🗑️</button>' +
    '</div><div class="dash-cell-choices">' + getQueryDropdown(data.query) +
    '<select class="chart-select" data-change="dashPreviewCell">' + getChartOptions(data.chartType) + '</select>' +
    '</div><div class="cell-preview' + (stored ? ' cell-preview-stored' : '') + '"></div>';
  // Set as a property, so the title comes back exactly as stored.
  cell.querySelector('.cell-title').value = data.title;
  editSetWidth(cell, data.flex);
  box.appendChild(cell);
  return id;
}

function editSetWidth(cell, width) {
  cell.dataset.flex = String(width);
  cell.style.flexGrow = String(width);
  cell.style.maxWidth = cellMaxWidth(width);
  const label = cell.querySelector('.width-label');
  if (label) label.textContent = String(width);
}

function editPreviewArea(cellId) {
  const cell = editCell(cellId);
  return cell && cell.querySelector('.cell-preview');
}

export function dashAddCell(rowId) {
  const id = buildCell(rowId, { title: '', query: '', chartType: 'table', flex: DASH_DEFAULT_FLEX }, false);
  if (id === null) return;
  editNote(editPreviewArea(id), EDIT_PREVIEW_HINT, NOTE_GREY);
  updateArrowVisibility();
}

function addCellWithData(rowId, cellData) {
  const data = storedCellData(cellData);
  const id = buildCell(rowId, data, true);
  if (id === null) return;
  if (data.query) dashPreviewCell(id);
  else editNote(editPreviewArea(id), EDIT_PREVIEW_HINT, NOTE_GREY);
}

export function dashAddRow() {
  const id = buildRow();
  if (id === null) return;
  dashAddCell(id);
  updateArrowVisibility();
}

export function addRowWithCells(cells) {
  const id = buildRow();
  if (id === null) return;
  for (const cell of Array.isArray(cells) ? cells : []) addCellWithData(id, cell);
  updateArrowVisibility();
}

export function dashRemoveRow(rowId) {
  const row = editRow(rowId);
  if (row) row.remove();
  updateArrowVisibility();
}

export function dashRemoveCell(cellId) {
  const cell = editCell(cellId);
  if (!cell) return;
  const row = cell.closest('.dash-row');
  cell.remove();
  if (row && !editRowCells(row).length) row.remove();
  updateArrowVisibility();
}

// Moves el before its previous sibling (up) or the next sibling before el (down), when that
// sibling has the same class.
function editSwap(el, cls, up) {
  if (!el) return;
  const other = up ? el.previousElementSibling : el.nextElementSibling;
  if (!other || !other.classList.contains(cls)) return;
  if (up) el.parentNode.insertBefore(el, other);
  else el.parentNode.insertBefore(other, el);
  updateArrowVisibility();
}

export function dashMoveRowUp(rowId) {
  editSwap(editRow(rowId), 'dash-row', true);
}

export function dashMoveRowDown(rowId) {
  editSwap(editRow(rowId), 'dash-row', false);
}

export function dashMoveCellLeft(cellId) {
  editSwap(editCell(cellId), 'dash-cell', true);
}

export function dashMoveCellRight(cellId) {
  editSwap(editCell(cellId), 'dash-cell', false);
}

export function dashAdjustWidth(cellId, delta) {
  const cell = editCell(cellId);
  const row = cell && cell.closest('.dash-row');
  if (!row) return;
  const cells = editRowCells(row);
  const widths = shareWidths(cells.map((c) => c.dataset.flex), cells.indexOf(cell), Number(delta) || 0);
  cells.forEach((c, i) => editSetWidth(c, widths[i]));
}

function editHideQueryMenus(except) {
  for (const menu of document.querySelectorAll('.query-dropdown-menu')) {
    if (menu !== except) menu.style.display = 'none';
  }
}

function editQueryValue(cell) {
  const input = cell.querySelector('.query-select');
  return input ? input.value : '';
}

export function dashToggleQueryDropdown(cellId, event) {
  if (event) {
    event.stopPropagation();
    event.preventDefault();
  }
  const cell = editCell(cellId);
  const menu = cell && cell.querySelector('.query-dropdown-menu');
  if (!menu) return;
  editHideQueryMenus(menu);
  if (menu.style.display !== 'none') {
    menu.style.display = 'none';
    return;
  }
  menu.style.display = 'block';
  const search = menu.querySelector('.query-dropdown-search');
  if (search) search.value = '';
  dashFilterQueryDropdown(cellId, '');
  setTimeout(() => {
    if (search) search.focus();
  }, EDIT_FOCUS_DELAY_MS);
}

export function dashFilterQueryDropdown(cellId, searchText) {
  const cell = editCell(cellId);
  const list = cell && cell.querySelector('.query-dropdown-list');
  if (list) list.innerHTML = getQueryListItems(editQueryValue(cell), searchText);
}

export function dashSelectQuery(cellId, queryName) {
  const cell = editCell(cellId);
  if (!cell) return;
  const name = queryName == null ? '' : String(queryName);
  const input = cell.querySelector('.query-select');
  if (input) input.value = name;
  const label = cell.querySelector('.query-dropdown-label');
  if (label) label.textContent = name || EDIT_NO_QUERY;
  const menu = cell.querySelector('.query-dropdown-menu');
  if (menu) menu.style.display = 'none';
  dashPreviewCell(cellId);
  // The filters list their values from the editor's first query, which may be this one now.
  reloadOtherFilterDropdowns(null);
}

// A click outside a query dropdown closes the open one.
export function bindEditor() {
  document.addEventListener('click', (e) => {
    const target = e.target;
    if (target instanceof Element && target.closest('.query-dropdown-container')) return;
    editHideQueryMenus(null);
  });
}

// A new dashboard learns its filterable columns from the first query previewed while none are
// known; the first answer wins, so later previews do not swap the columns under the filters.
function editFetchSchema(sql) {
  bridgeCall('getSchemaCpp', sql)
    .then((res) => {
      const reply = res.value;
      const columns = reply && Array.isArray(reply.columns) ? reply.columns : [];
      if (!columns.length || dashState.schema.length) return;
      setSchema(columns);
      showEditFilterBar();
    })
    .catch(() => {});
}

export async function dashPreviewCell(cellId) {
  const cell = editCell(cellId);
  if (!cell) return;
  const querySelect = cell.querySelector('.query-select');
  const chartSelect = cell.querySelector('.chart-select');
  const preview = cell.querySelector('.cell-preview');
  if (!querySelect || !chartSelect || !preview) return;
  const queryName = querySelect.value;
  if (!queryName) {
    editNote(preview, EDIT_PREVIEW_HINT, NOTE_GREY);
    return;
  }
  preview.innerHTML = loadingBarHtml(120);
  const record = dashState.savedQueries.find((q) => q && q.name === queryName);
  if (!record) {
    editNote(preview, 'Query not found', NOTE_RED);
    return;
  }
  const storedSql = typeof record.sql === 'string' ? record.sql : '';
  chartSelect.innerHTML = getChartOptions(chartSelect.value, hasAggregation(storedSql));
  const type = chartSelect.value;
  let sql = dashboardSql(storedSql);
  if (!dashState.schema.length) editFetchSchema(sql);
  // A filter on a column the query lacks is left out, as on the shown dashboard.
  const pieces = filterPieces(dashState.filters);
  const key = 'edit-cell-' + cellId;
  if (chartType(type) && chartType(type).paged) {
    const without = await renderPaginatedTable(preview, sql, 1, DASH_PAGE_SIZE, true, key, pieces);
    if (!without) return;
    preview.title = notFilteredText(without);
    showUnreadable(preview, key);
    return;
  }
  // A newer preview of the cell stops this one and draws in its place.
  const ran = await queryWithPieces(key, startWork(key), sql, pieces);
  if (!ran) return;
  const res = ran.reply;
  preview.title = notFilteredText(ran.dropped);
  showUnreadable(preview, key);
  const result = res.value;
  if (res.error) {
    editNote(preview, res.error, NOTE_RED, '0.7rem');
  } else if (!result || !Array.isArray(result.rows) || !result.rows.length) {
    editNote(preview, 'No data', NOTE_GREY);
  } else {
    renderChart(preview, result, type, true);
  }
}

// The rows that Save stores, read from the elements in their current order.
export function collectEditorRows() {
  return serializeRows(
    editRows().map((row) =>
      editRowCells(row).map((cell) => {
        const title = cell.querySelector('input');
        const chart = cell.querySelector('.chart-select');
        return {
          title: title ? title.value : '',
          query: editQueryValue(cell),
          chartType: chart ? chart.value : 'table',
          flex: cell.dataset.flex,
        };
      }),
    ),
  );
}

// The rows' and cells' actions by name, each given the element acted on.
const rowOf = (el) => el.closest('.dash-row').dataset.rowId;
const cellOf = (el) => el.closest('.dash-cell').dataset.cellId;
export const EDITOR_ACTIONS = {
  dashAddCell: (el) => dashAddCell(rowOf(el)),
  dashMoveRowUp: (el) => dashMoveRowUp(rowOf(el)),
  dashMoveRowDown: (el) => dashMoveRowDown(rowOf(el)),
  dashRemoveRow: (el) => dashRemoveRow(rowOf(el)),
  dashMoveCellLeft: (el) => dashMoveCellLeft(cellOf(el)),
  dashMoveCellRight: (el) => dashMoveCellRight(cellOf(el)),
  dashAdjustWidth: (el) => dashAdjustWidth(cellOf(el), Number(el.dataset.delta)),
  dashRemoveCell: (el) => dashRemoveCell(cellOf(el)),
  dashToggleQueryDropdown: (el, e) => dashToggleQueryDropdown(cellOf(el), e),
  dashFilterQueryDropdown: (el) => dashFilterQueryDropdown(cellOf(el), el.value),
  dashSelectQuery: (el) => dashSelectQuery(cellOf(el), el.dataset.name),
  dashPreviewCell: (el) => dashPreviewCell(cellOf(el)),
};
