// Chart click filters: one condition for the whole page narrows every paginated table, with the
// clicked element marked and an indicator that clears it. The condition and the selection are
// kept by state.js.
import { DASH_PAGE_SIZE } from './rules.js';
import { applyChartClickFilterToSql } from './sql_splice.js';
import { allPagedTables, dashState, setClickFilter, setPagedSqlWithDropdown, setSelection } from './state.js';
import { renderPaginatedTable } from './tables.js';

// The chart marks the clicked element itself; the selection remembers how to unmark it.
function clearChartSelectionHighlight() {
  const sel = dashState.selection;
  if (sel && sel.mark) sel.mark.off();
  setSelection(null);
}

export function drawSelectionHighlight(mark, label, seriesName) {
  clearChartSelectionHighlight();
  setSelection({ mark, label, series: seriesName });
}

// Every table is redrawn from its SQL without a click filter, so a new click replaces the old one.
function redrawPaginatedTables(condition) {
  for (const table of allPagedTables()) {
    const base = table.sqlWithDropdown || table.sql;
    const sql = condition ? applyChartClickFilterToSql(base, condition) : base;
    renderPaginatedTable(table.el, sql, 1, table.pageSize || DASH_PAGE_SIZE, table.isSmall, table.key);
    setPagedSqlWithDropdown(table.key, base);
  }
}

function showChartFilterIndicator(condition) {
  let box = document.getElementById('chartFilterIndicator');
  if (!box) {
    box = document.createElement('div');
    box.id = 'chartFilterIndicator';
    document.body.appendChild(box);
  }
  const label = document.createElement('span');
  label.className = 'dash-filter-indicator-label';
  label.textContent = 'Filter:';
  const text = document.createElement('span');
  text.className = 'dash-filter-indicator-text';
  text.textContent = ' ' + condition;
  const clear = document.createElement('button');
  clear.textContent = 'Clear';
  clear.addEventListener('click', () => clearChartClickFilter());
  box.replaceChildren(label, text, clear);
  box.style.display = 'flex';
}

export function applyChartClickFilter(condition) {
  if (!condition) return;
  setClickFilter(condition);
  redrawPaginatedTables(condition);
  showChartFilterIndicator(condition);
}

export function clearChartClickFilter() {
  setClickFilter(null);
  clearChartSelectionHighlight();
  const box = document.getElementById('chartFilterIndicator');
  if (box) box.style.display = 'none';
  redrawPaginatedTables(null);
}

// Why a chart panel cannot be clicked, shown while the pointer is over it; nothing on a chart
// that can be.
export function showClickReason(el, clickMeta) {
  const reason = clickMeta && !(clickMeta.xAxis && clickMeta.xAxis.expression) ? clickMeta.reason || '' : '';
  if (reason) {
    el.dataset.clickReason = reason;
    el.title = reason;
  } else if (el.dataset.clickReason !== undefined) {
    delete el.dataset.clickReason;
    el.removeAttribute('title');
  }
}
