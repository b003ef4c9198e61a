// Charts of dashboard panels and editor previews, drawn by the shared chart module over the
// element's content box; on panels with click metadata a click on a bar, point or slice
// reaches the click filter through chartElementClicked.
import { chartDraw, chartReleaseIn } from '../common/chart.js';
import { CHART_NO_NUMERIC } from '../common/chart_model.js';
import { chartType, isChartType } from '../common/chart_types.js';
import { applyChartClickFilter, clearChartClickFilter, drawSelectionHighlight } from './click_filter.js';
import { buildChartClickFilter } from './click_rules.js';
import { NOTE_GREY, noteHtml } from './rules.js';
import { dashState } from './state.js';
import { renderTable } from './tables.js';

// The least height of an element holding a chart: room for a plot of about 120px between the
// axis labels and title.
const DASH_CHART_MIN_HEIGHT = { panel: '250px', small: '230px' };

export function renderChart(el, result, chartType, isSmall, clickMeta) {
  chartReleaseIn(el);
  el.innerHTML = '';
  el.style.minHeight = '';
  if (chartType === 'table') renderTable(el, result, isSmall);
  else if (isChartType(chartType)) renderChartBox(el, result, chartType, isSmall, clickMeta);
}

function renderChartBox(el, result, chartType, isSmall, clickMeta) {
  const columns = result && Array.isArray(result.columns) ? result.columns : [];
  const rows = result && Array.isArray(result.rows) ? result.rows : [];
  if (columns.length < 2 || !rows.length) {
    el.innerHTML = noteHtml('Need 2+ columns', NOTE_GREY);
    return;
  }
  // The box covers the element's content box, out of the flow, so a drawn chart never lends
  // the panel its size.
  el.style.minHeight = DASH_CHART_MIN_HEIGHT[isSmall ? 'small' : 'panel'];
  const style = getComputedStyle(el);
  if (style.position === 'static') el.style.position = 'relative';
  const pad = ['Left', 'Right', 'Top', 'Bottom'].map((side) => parseFloat(style['padding' + side]) || 0);
  const box = document.createElement('div');
  box.className = 'dash-chart';
  Object.assign(box.style, {
    left: pad[0] + 'px',
    top: pad[2] + 'px',
    width: 'calc(100% - ' + (pad[0] + pad[1]) + 'px)',
    height: 'calc(100% - ' + (pad[2] + pad[3]) + 'px)',
  });
  el.appendChild(box);
  const clickable = !!(clickMeta && clickMeta.xAxis && clickMeta.xAxis.expression);
  const onPick = clickable ? (label, seriesName, mark) => chartElementClicked(clickMeta, label, seriesName, mark) : null;
  // A chart that cannot filter says why over each element, as the panel's own hover text does.
  const reason = !clickable && clickMeta ? clickMeta.reason : null;
  if (!chartDraw(box, result, chartType, isSmall ? 'small' : 'panel', onPick, reason)) {
    chartReleaseIn(el);
    el.style.minHeight = '';
    el.innerHTML = noteHtml(CHART_NO_NUMERIC, NOTE_GREY);
    return;
  }
  box.style.cursor = clickable ? 'pointer' : '';
}

function dashSameSelection(label, seriesName) {
  const sel = dashState.selection;
  if (!sel) return false;
  const a = sel.series === undefined ? null : sel.series;
  const b = seriesName === undefined ? null : seriesName;
  return sel.label === label && a === b;
}

// The hand-off from a chart to the click filter: the clicked category label (the first cell of
// its row, as text), its series name (undefined for a pie slice) and the element's mark.
// Returns whether the element stays marked as the selection.
function chartElementClicked(clickMeta, label, seriesName, mark) {
  if (dashSameSelection(label, seriesName)) {
    clearChartClickFilter();
    return false;
  }
  const condition = buildChartClickFilter(clickMeta, label, seriesName);
  if (!condition) return false;
  drawSelectionHighlight(mark, label, seriesName);
  applyChartClickFilter(condition);
  return true;
}
