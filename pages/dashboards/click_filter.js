// Chart click filters: one condition for the whole page narrows every paginated table, with the
// clicked element marked and an indicator that clears it.

window.chartClickFilter = null;
window.chartSelection = null;

function clearChartSelectionHighlight() {
  const sel = window.chartSelection;
  if (sel && sel.mark) sel.mark.off();
  window.chartSelection = null;
}

// The chart marks the clicked element itself; the selection remembers how to unmark it.
function drawSelectionHighlight(mark, label, seriesName) {
  clearChartSelectionHighlight();
  window.chartSelection = { mark, label, series: seriesName };
}

function paginatedTables() {
  return document.querySelectorAll('[data-paginated-sql]');
}

// Every table is redrawn from its SQL without a click filter, so a new click replaces the old one.
function redrawPaginatedTables(condition) {
  paginatedTables().forEach((el) => {
    const base = el.dataset.paginatedSqlWithDropdown || el.dataset.paginatedSql;
    const size = Number(el.dataset.paginatedPageSize) || PANEL_PAGE_SIZE;
    const sql = condition ? applyChartClickFilterToSql(base, condition) : base;
    renderPaginatedTable(el, sql, 1, size, el.dataset.paginatedIsSmall === '1', el.dataset.paginatedKey);
    el.dataset.paginatedSqlWithDropdown = base;
  });
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
  clear.addEventListener('click', () => window.clearChartClickFilter());
  box.replaceChildren(label, text, clear);
  box.style.display = 'flex';
}

function applyChartClickFilter(condition) {
  if (!condition) return;
  window.chartClickFilter = condition;
  redrawPaginatedTables(condition);
  showChartFilterIndicator(condition);
}

window.clearChartClickFilter = function () {
  window.chartClickFilter = null;
  clearChartSelectionHighlight();
  const box = document.getElementById('chartFilterIndicator');
  if (box) box.style.display = 'none';
  redrawPaginatedTables(null);
};
