// Charts of dashboard panels and editor previews, drawn by the shared chart module over the
// element's content box; on panels with click metadata a click on a bar, point or slice
// reaches the click filter through chartElementClicked.
import { chartDraw, chartReleaseIn } from '../common/chart.js';
import { CHART_NO_NUMERIC } from '../common/chart_model.js';
import { chartType, isChartType } from '../common/chart_types.js';
import { applyChartClickFilter, clearChartClickFilter, drawSelectionHighlight } from './click_filter.js';
import { buildChartClickFilter, clickFilterWords } from './click_rules.js';
import { NOTE_GREY, noteHtml } from './rules.js';
import { dashState, setSelection } from './state.js';
import { renderTable } from './tables.js';

// The least height of an element holding a chart: room for a plot of about 120px between the
// axis labels and title.
const DASH_CHART_MIN_HEIGHT = { panel: '250px', small: '230px' };

// panelKey names the dashboard panel a clickable chart stands in: its click filter's source, and
// where the clicked element is marked again when the panel is drawn anew.
export function renderChart(el, result, chartType, isSmall, clickMeta, panelKey) {
  chartReleaseIn(el);
  el.innerHTML = '';
  el.style.minHeight = '';
  if (chartType === 'table') renderTable(el, result, isSmall);
  else if (isChartType(chartType)) renderChartBox(el, result, chartType, isSmall, clickMeta, panelKey);
}

// The selection of this panel, to mark again on its new chart.
function keptSelection(panelKey) {
  const sel = dashState.selection;
  if (!sel || panelKey == null || sel.key !== panelKey) return null;
  return { label: sel.label, series: sel.series, marked: (mark) => setSelection({ ...sel, mark }) };
}

function renderChartBox(el, result, chartType, isSmall, clickMeta, panelKey) {
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
  const column = columns[0];
  const onPick = clickable ?
    (label, seriesName, mark) => chartElementClicked({ clickMeta, column, key: panelKey }, label, seriesName, mark) :
    null;
  // A chart that cannot filter says why over each element, as the panel's own hover text does.
  const reason = !clickable && clickMeta ? clickMeta.reason : null;
  const selected = clickable ? keptSelection(panelKey) : null;
  if (!chartDraw(box, result, chartType, isSmall ? 'small' : 'panel', onPick, reason, selected)) {
    chartReleaseIn(el);
    el.style.minHeight = '';
    el.innerHTML = noteHtml(CHART_NO_NUMERIC, NOTE_GREY);
    return;
  }
  box.style.cursor = clickable ? 'pointer' : '';
}

// The same element of the same panel: other panels show only the selection's rows, so one of
// their elements with the same label is a new choice there, not this one again.
function dashSameSelection(key, label, seriesName) {
  const sel = dashState.selection;
  if (!sel || sel.key !== key) return false;
  const a = sel.series === undefined ? null : sel.series;
  const b = seriesName === undefined ? null : seriesName;
  return sel.label === label && a === b;
}

// The hand-off from a chart to the click filter: the chart (its click metadata, first column and
// panel key), the clicked category label (the first cell of its row, as text), its series name
// (undefined for a pie slice) and the element's mark. Returns whether the element stays marked
// as the selection.
function chartElementClicked(chart, label, seriesName, mark) {
  if (dashSameSelection(chart.key, label, seriesName)) {
    clearChartClickFilter();
    return false;
  }
  const condition = buildChartClickFilter(chart.clickMeta, label, seriesName);
  if (!condition) return false;
  drawSelectionHighlight(mark, label, seriesName, chart.key);
  applyChartClickFilter({
    condition,
    column: String(chart.column),
    label,
    words: clickFilterWords(chart.column, label, chart.clickMeta, seriesName),
    source: chart.key,
  });
  return true;
}
