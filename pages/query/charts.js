// Charts of the Query page: the chart-type selector, and the chart of the held answer drawn by
// the shared chart module (chart.js) in a box as wide as the result area.
import { chartDraw, chartReleaseIn } from '../common/chart.js';
import { CHART_NO_NUMERIC } from '../common/chart_model.js';
import { state } from './state.js';
import { drawPaginatedTable, drawTable, resultNote } from './table.js';

export function rebuildChartOptions(sel, selectedChart, isAgg) {
  const opts = isAgg
    ? [
        ['table', 'Table'],
        ['bar', 'Bar Chart'],
        ['line', 'Line Chart'],
        ['area', 'Area Chart'],
        ['pie', 'Pie Chart'],
      ]
    : [['paginated', 'Paginated Table']];
  let choice = isAgg ? (selectedChart === 'paginated' ? 'table' : selectedChart) : 'paginated';
  if (!opts.some((o) => o[0] === choice)) choice = opts[0][0];
  sel.innerHTML = '';
  for (const [value, label] of opts) {
    const o = document.createElement('option');
    o.value = value;
    o.textContent = label;
    sel.appendChild(o);
  }
  sel.value = choice;
}

export function applyChart() {
  const area = document.getElementById('queryResult');
  chartReleaseIn(area);
  const type = document.getElementById('chartType').value;
  if (type === 'paginated') {
    state.paginationState.page = 1;
    drawPaginatedTable();
    return;
  }
  if (!state.lastResult) return;
  if (type === 'bar' || type === 'line' || type === 'area' || type === 'pie') drawChart(area, type);
  else drawTable(state.lastResult.columns, state.lastResult.rows, state.lastResult.numericCols);
}

function drawChart(area, type) {
  area.innerHTML = '';
  const box = document.createElement('div');
  box.className = 'query-chart';
  area.appendChild(box);
  if (!chartDraw(box, state.lastResult, type, 'query')) area.innerHTML = resultNote('var(--muted)', CHART_NO_NUMERIC);
}
