// Placeholder until the charts land: every aggregated choice draws the table.
function rebuildChartOptions(sel, selectedChart, isAgg) {
  const opts = isAgg
    ? [['table', 'Table'], ['bar', 'Bar Chart'], ['line', 'Line Chart'], ['area', 'Area Chart'], ['pie', 'Pie Chart']]
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
  const type = document.getElementById('chartType').value;
  if (type === 'paginated') {
    paginationState.page = 1;
    drawPaginatedTable();
    return;
  }
  if (!lastResult) return;
  drawTable(lastResult.columns, lastResult.rows, lastResult.numericCols);
}
