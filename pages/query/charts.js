// Charts of the Query page: the chart-type selector, and the chart of the held answer drawn by
// the shared chart module (chart.js) in a box as wide as the result area.

function rebuildChartOptions(sel, selectedChart, isAgg) {
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

function applyChart() {
  const area = document.getElementById('queryResult');
  chartReleaseIn(area);
  const type = document.getElementById('chartType').value;
  if (type === 'paginated') {
    paginationState.page = 1;
    drawPaginatedTable();
    return;
  }
  if (!lastResult) return;
  if (type === 'bar' || type === 'line' || type === 'area' || type === 'pie') drawChart(area, type);
  else drawTable(lastResult.columns, lastResult.rows, lastResult.numericCols);
}

function drawChart(area, type) {
  area.innerHTML = '';
  const box = document.createElement('div');
  box.className = 'query-chart';
  area.appendChild(box);
  if (!chartDraw(box, lastResult, type, 'query')) area.innerHTML = resultNote('#6c7086', CHART_NO_NUMERIC);
}
