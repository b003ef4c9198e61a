// Chart click filters: a click on a chart element narrows every other panel of the shown
// dashboard to the rows behind it, with the clicked element marked and an indicator that clears
// it. The click and the selection are kept by state.js, and belong to the dashboard shown.
import { reloadPanels } from './preview.js';
import { dashState, setClickFilter, setSelection } from './state.js';

// The chart marks the clicked element itself; the selection remembers how to unmark it.
function clearChartSelectionHighlight() {
  const sel = dashState.selection;
  if (sel && sel.mark) sel.mark.off();
  setSelection(null);
}

export function drawSelectionHighlight(mark, label, seriesName, key) {
  clearChartSelectionHighlight();
  setSelection({ mark, label, series: seriesName, key });
}

// The indicator sits in the dashboard's title row, in the flow, so it never covers a panel; it
// says what the click chose in words, as text.
export function showChartFilterIndicator() {
  const box = document.getElementById('chartFilterIndicator');
  if (!box) return;
  const click = dashState.click;
  if (!click) {
    box.replaceChildren();
    box.style.display = 'none';
    return;
  }
  const label = document.createElement('span');
  label.className = 'dash-filter-indicator-label';
  label.textContent = 'Filter:';
  const text = document.createElement('span');
  text.className = 'dash-filter-indicator-text';
  text.textContent = ' ' + click.words;
  text.title = click.condition;
  const clear = document.createElement('button');
  clear.type = 'button';
  clear.textContent = 'Clear';
  clear.addEventListener('click', () => clearChartClickFilter());
  box.replaceChildren(label, text, clear);
  box.style.display = 'flex';
}

// The clicked chart keeps its elements; every other panel is drawn anew under the click. A chart
// drawn under an earlier click of another chart is drawn anew too, without it.
export function applyChartClickFilter(click) {
  if (!click || !click.condition) return;
  const before = dashState.click;
  setClickFilter(click);
  showChartFilterIndicator();
  reloadPanels(before && before.source !== click.source ? null : click.source);
}

export function clearChartClickFilter() {
  const before = dashState.click;
  setClickFilter(null);
  clearChartSelectionHighlight();
  showChartFilterIndicator();
  if (before) reloadPanels(before.source);
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
