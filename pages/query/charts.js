// Charts of the Query page: the chart-type selector, and the chart of the held answer drawn by
// the shared chart module (chart.js) in a box as wide as the result area.
import { chartDraw, chartReleaseIn } from '../common/chart.js';
import { CHART_NO_NUMERIC } from '../common/chart_model.js';
import { chartType, isChartType } from '../common/chart_types.js';
import { heldChartPlan, loadHeldChart } from '../common/held_chart.js';
import { showHeldFailure, updateAnswerNote } from './answer.js';
import { state } from './state.js';
import { drawHeldTable, drawPaginatedTable, resultNote } from './table.js';

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

// Draws the chosen view; resolves true once a whole table or chart is drawn.
export async function applyChart() {
  const area = document.getElementById('queryResult');
  chartReleaseIn(area);
  const view = ++state.viewSeq;
  state.chartNote = '';
  const type = document.getElementById('chartType').value;
  if (chartType(type) && chartType(type).paged) {
    state.paginationState.page = 1;
    drawPaginatedTable();
    return false;
  }
  if (!state.held) return false;
  if (isChartType(type)) return drawChart(area, type, view);
  return drawHeldTable(view);
}

// Columns or points are fetched once per held answer and plan: another chart type reading the
// same ones draws at once.
async function chartAnswer(held, type) {
  const key = JSON.stringify(heldChartPlan(held, type));
  const cached = state.chartData;
  if (cached && cached.held === held && cached.key === key) return { value: cached.value };
  const res = await loadHeldChart(held, type);
  if (!res.error && state.held === held) state.chartData = { held, key, value: res.value };
  return res;
}

async function drawChart(area, type, view) {
  const held = state.held;
  if (heldChartPlan(held, type).kind !== 'reply') area.innerHTML = resultNote('var(--muted)', 'Loading...');
  const res = await chartAnswer(held, type);
  if (view !== state.viewSeq || held !== state.held) return false;
  if (res.error) {
    showHeldFailure(res);
    return false;
  }
  area.innerHTML = '';
  const box = document.createElement('div');
  box.className = 'query-chart';
  area.appendChild(box);
  state.chartNote = res.value.note;
  updateAnswerNote();
  if (!chartDraw(box, res.value.result, type, 'query')) area.innerHTML = resultNote('var(--muted)', CHART_NO_NUMERIC);
  return true;
}
