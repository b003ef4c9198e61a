// Charts of the Query page: the chart-type selector, and the chart of the held answer drawn by
// the shared chart module (chart.js) in a box as wide as the result area.
import { chartDraw, chartReleaseIn } from '../common/chart.js';
import { CHART_NO_NUMERIC } from '../common/chart_model.js';
import { chartType, isChartType } from '../common/chart_types.js';
import { state } from './state.js';
import { drawPaginatedTable, drawTable, resultNote } from './table.js';

// The menu's options, labelled as the registry names them, and its selection.
export function fillChartMenu(sel, choices) {
  sel.innerHTML = '';
  for (const id of choices.values) {
    const o = document.createElement('option');
    o.value = id;
    o.textContent = chartType(id).label;
    sel.appendChild(o);
  }
  sel.value = choices.selected;
}

export function applyChart() {
  const area = document.getElementById('queryResult');
  chartReleaseIn(area);
  const type = document.getElementById('chartType').value;
  if (chartType(type) && chartType(type).paged) {
    state.paginationState.page = 1;
    drawPaginatedTable();
    return;
  }
  if (!state.lastResult) return;
  if (isChartType(type)) drawChart(area, type);
  else drawTable(state.lastResult);
}

function drawChart(area, type) {
  area.innerHTML = '';
  const box = document.createElement('div');
  box.className = 'query-chart';
  area.appendChild(box);
  if (!chartDraw(box, state.lastResult, type, 'query')) area.innerHTML = resultNote('var(--muted)', CHART_NO_NUMERIC);
}
