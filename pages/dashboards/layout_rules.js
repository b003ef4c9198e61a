// Layout arithmetic of the dashboard editor, free of the DOM: the chart select, the twelve-column
// width sharing, and the conversion between stored cells and the editor's cell data.
// Cell data, as the editor holds it: { title, query, chartType, flex }.
import { chartChoices, chartType } from '../common/chart_types.js';
import { escapeHtml } from '../common/escape.js';
import { cellFlex, DASH_COLUMNS, DASH_DEFAULT_FLEX } from './rules.js';

const DASH_UNTITLED = 'Untitled';

export function getChartOptions(selectedChart, hasAgg) {
  const { values, selected } = chartChoices(selectedChart, hasAgg);
  return values
    .map((v) => {
      const label = escapeHtml(chartType(v).label);
      return '<option value="' + v + '"' + (v === selected ? ' selected' : '') + '>' + label + '</option>';
    })
    .join('');
}

// A width written by the editor (text or number): 6 when it does not read as a non-zero number.
export function widthFromDataset(value) {
  const n = parseInt(value, 10);
  if (!Number.isFinite(n) || n === 0) return DASH_DEFAULT_FLEX;
  return Math.min(DASH_COLUMNS, Math.max(1, n));
}

export function cellMaxWidth(width) {
  return 'calc(' + (width * 100) / DASH_COLUMNS + '% - 20px)';
}

// New widths of a row after one cell is widened or narrowed by delta: the cell leaves every
// other cell at least one column, and the rest of the twelve is shared out among the others
// by their current proportions (halves round up; the sum may end up off twelve).
export function shareWidths(widths, index, delta) {
  const current = widths.map(widthFromDataset);
  const others = current.filter((_, i) => i !== index);
  let width = Math.min(DASH_COLUMNS, Math.max(1, current[index] + delta));
  // Beyond twelve cells no column is left to share; a cell never goes below one.
  if (others.length) width = Math.max(1, Math.min(width, DASH_COLUMNS - others.length));
  const total = others.reduce((a, b) => a + b, 0);
  const remaining = DASH_COLUMNS - width;
  return current.map((w, i) => {
    if (i === index) return width;
    if (total <= 0) return w;
    // Multiplying first keeps exact halves exact.
    return Math.max(1, Math.round((w * remaining) / total));
  });
}

// Query names on offer in a cell's dropdown: case-insensitive substring match, in store order.
export function queryListNames(records, searchText) {
  const needle = String(searchText || '').toLowerCase();
  return (Array.isArray(records) ? records : [])
    .filter((r) => r && typeof r.name === 'string')
    .map((r) => r.name)
    .filter((name) => !needle || name.toLowerCase().includes(needle));
}

function textOrEmpty(value) {
  return typeof value === 'string' ? value : '';
}

// A stored cell as the editor opens it; a hand-edited record may lack any field.
export function storedCellData(cell) {
  const c = cell && typeof cell === 'object' ? cell : {};
  return {
    title: textOrEmpty(c.name),
    query: textOrEmpty(c.query),
    chartType: chartChoices(c.chartType).selected,
    flex: cellFlex(c),
  };
}

// The cells of a stored row; anything but a list of cells counts as none.
export function storedRowCells(row) {
  const cells = row && typeof row === 'object' ? row.cells : null;
  return Array.isArray(cells) ? cells.map(storedCellData) : [];
}

// The stored layout from the editor's rows (arrays of cell data, top to bottom); rows without
// cells are left out.
export function serializeRows(rows) {
  return rows
    .filter((cells) => cells.length)
    .map((cells) => ({
      cells: cells.map((c) => ({
        name: String(c.title == null ? '' : c.title).trim() || DASH_UNTITLED,
        query: c.query == null ? '' : String(c.query),
        chartType: c.chartType ? String(c.chartType) : 'table',
        flex: widthFromDataset(c.flex),
      })),
    }));
}
