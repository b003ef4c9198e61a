// Dashboard filters: the edit and preview filter bars, the "+ Add Filter" menu, the value lists,
// and what is redrawn after a filter value changes. What differs by kind of filter is in
// filter_types.js.
import { bridgeCall } from '../common/bridge.js';
import { escapeHtml } from '../common/escape.js';
import { formatNumber } from '../common/numbers.js';
import { byId, setShown } from './dom.js';
import { collectEditorRows } from './editor.js';
import {
  countText,
  dateRangeSql,
  distinctValuesSql,
  findDataSource,
  layoutQueryNames,
  listedText,
  parseDateText,
} from './filter_rules.js';
import {
  buildFilterWhereClause,
  FILTER_TYPES,
  filterableColumns,
  filterBarShown,
  filterMenuSections,
  filterType,
  isFilterType,
  newFilter,
} from './filter_types.js';
import { refreshAllCellPreviews } from './lifecycle.js';
import { calendarRangeArrived } from './pickers.js';
import { loadPanelData, PANEL_LOADING_WIDTH, renderDashboardPreview } from './preview.js';
import { loadingBarHtml, readRecordArray, replacePathVariableForDashboard } from './rules.js';
import {
  addFilter,
  changeFilter,
  dashState,
  endWork,
  findFilter,
  isCurrentWork,
  keepDateRange,
  keepRangeAnswer,
  queryAsWork,
  rangeAnswer,
  removeFilter,
  setSchema,
  startWork,
  stopAllWork,
} from './state.js';

export const FILTER_MODES = ['edit', 'preview'];
const FILTER_LOAD_DELAY_MS = 100;
export const VALUES_UNAVAILABLE = 'Values not available';

// Attribute text that keeps carriage returns, which the HTML parser would turn into line feeds.
export function attrText(value) {
  return escapeHtml(value).replace(/\r/g, '&#13;');
}

// A column's control in one bar, found by its column: two column names can share one sanitised id.
export function filterControl(column, mode) {
  const bar = byId(mode === 'edit' ? 'activeFiltersEdit' : 'activeFiltersPreview');
  if (!bar) return null;
  return Array.from(bar.children).find((el) => el.dataset.column === column) || null;
}

export function controlPart(column, mode, cls) {
  const box = filterControl(column, mode);
  return box ? box.querySelector('.' + cls) : null;
}

export function setCount(column, mode, text, tip) {
  const count = controlPart(column, mode, 'filter-count');
  if (!count) return;
  count.textContent = text;
  count.title = tip || '';
}

// The inline position is what the calendar looks for when it attaches itself to the control.
function filterControlHtml(f, mode) {
  return (
    '<div class="filter-control" data-column="' + attrText(f.column) + '" data-mode="' + mode + '" style="position:relative">' +
    '<span class="filter-name">' + escapeHtml(f.column) + ':</span>' + filterType(f).draw(f, mode) + '</div>'
  );
}

export function renderActiveFilters() {
  const shown = dashState.filters.filter((f) => filterType(f));
  for (const mode of FILTER_MODES) {
    const bar = byId(mode === 'edit' ? 'activeFiltersEdit' : 'activeFiltersPreview');
    if (bar) bar.innerHTML = shown.map((f) => filterControlHtml(f, mode)).join('');
  }
}

export function showEditFilterBar() {
  setShown('filterBarEdit', filterBarShown(dashState.schema));
}

// The schema of the dashboard's first query: the columns that filters are offered for.
export async function collectDashboardSchema(dashboard, callback) {
  setSchema([]);
  try {
    const names = layoutQueryNames(readRecordArray(dashboard && dashboard.layout));
    if (!names.length) return;
    const reply = await bridgeCall('getSavedQueriesCpp');
    const record = Array.isArray(reply.value) ? reply.value.find((q) => q && q.name === names[0]) : null;
    if (!record) return;
    const schema = await bridgeCall('getSchemaCpp', dashboardSql(record.sql));
    const columns = schema.value && Array.isArray(schema.value.columns) ? schema.value.columns : [];
    if (columns.length) setSchema(columns);
  } finally {
    if (callback) callback();
  }
}

// The saved query's text with the dashboard's own folder in place of the path variable.
export function dashboardSql(storedSql) {
  return replacePathVariableForDashboard(String(storedSql == null ? '' : storedSql), dashState.pathToFiles, dashState.fileType);
}

// The data source the filters list their values from: that of the first query, in the editor
// its current cells (saved or not), on a shown dashboard its stored layout. { source } or { error }.
async function filterDataSource() {
  let names;
  let queries;
  if (dashState.editing) {
    names = layoutQueryNames(collectEditorRows());
    queries = dashState.savedQueries;
  } else {
    const dashboard = dashState.dashboard;
    if (!dashboard) return { error: 'No dashboard is shown.' };
    names = layoutQueryNames(readRecordArray(dashboard.layout));
  }
  if (!names.length) return { error: 'The dashboard has no query to take values from.' };
  if (!queries) {
    const reply = await bridgeCall('getSavedQueriesCpp');
    if (reply.error) return reply;
    queries = Array.isArray(reply.value) ? reply.value : [];
  }
  const record = queries.find((q) => q && q.name === names[0]);
  if (!record) return { error: 'The query "' + names[0] + '" is not stored.' };
  const source = findDataSource(dashboardSql(record.sql));
  if (!source) return { error: 'The query "' + names[0] + "\" reads no read_csv('…') or read_parquet('…') source." };
  return { source };
}

// Runs the statement that `makeSql` builds on the filters' data source, as the work of `slot`
// tagged `tag`; { rows }, { error }, { kept } when `makeSql` answered without the engine, or
// { stale } when newer work took the slot meanwhile (its answer, or the cancelled note of its
// stopped run, is then ignored).
async function filterQuery(slot, tag, makeSql) {
  const found = await filterDataSource();
  if (!isCurrentWork(slot, tag)) return { stale: true };
  const sql = found.error ? null : makeSql(found.source);
  if (typeof sql !== 'string') {
    endWork(slot, tag);
    return found.error ? found : { kept: sql };
  }
  const result = await queryAsWork(slot, tag, sql);
  if (!result) return { stale: true };
  if (result.error) return result;
  const answer = result.value;
  // An error object with an empty text is an answer without rows, as every page reads it.
  if (answer && answer.error === '') return { rows: [] };
  const rows = answer && Array.isArray(answer.rows) ? answer.rows : null;
  return rows ? { rows } : { error: 'The engine gave no answer.' };
}

const SEARCH_DELAY_MS = 250;
const searchTimers = new Map();

// The search typed into a value list's field in one bar ('' when none).
export function listSearch(column, mode) {
  const field = controlPart(column, mode, 'value-search');
  return field ? field.value.trim() : '';
}

// Whether a bar's list was cut short, so a search has to ask the engine for what it lacks.
function listCut(column, mode) {
  const box = filterControl(column, mode);
  return !!box && box.dataset.cut === '1';
}

// The search the engine runs for a bar: its typed text when its list was cut short; a list that
// holds every value narrows itself.
function engineSearch(column, mode) {
  return listCut(column, mode) ? listSearch(column, mode) : '';
}

// The count of all the column's values (under the other filters), as the last full list said.
export function listTotal(column, mode) {
  const box = filterControl(column, mode);
  return box && box.dataset.total ? Number(box.dataset.total) : null;
}

// Runs one value list statement and hands what it found to the filter's kind, for the bars whose
// search still reads `search` (a bar typed into meanwhile waits for its own answer).
async function fetchValues(column, slot, search, modes) {
  const outcome = await filterQuery(slot, startWork(slot), (source) =>
    distinctValuesSql(source, column, buildFilterWhereClause(dashState.filters, column), search));
  if (outcome.stale) return;
  const rows = outcome.rows || [];
  const values = rows.map((row) => (Array.isArray(row) && row[0] != null ? String(row[0]) : ''));
  const first = rows[0];
  const total = Array.isArray(first) && Number(first[1]) >= rows.length ? Number(first[1]) : rows.length;
  const f = findFilter(column);
  const kind = filterType(f);
  const shown = modes.filter((m) => engineSearch(column, m) === search);
  if (!kind || !kind.fill || !shown.length) return;
  if (!outcome.error && !search) {
    for (const m of shown) {
      const box = filterControl(column, m);
      if (!box) continue;
      box.dataset.total = String(total);
      box.dataset.cut = total > values.length ? '1' : '';
    }
  }
  kind.fill(column, f, { values, total, search }, outcome.error, shown);
  // Text typed before the list turned out to be cut short is searched now.
  for (const m of search ? [] : shown) {
    if (engineSearch(column, m)) searchValues(column, m, true);
  }
}

// Fills the value lists of one filter in both bars, as its kind shows them: one statement for the
// bars without a search, and each bar's own search where one is typed.
export async function loadDistinctValues(columnName) {
  const column = String(columnName);
  const plain = FILTER_MODES.filter((m) => !engineSearch(column, m));
  for (const m of FILTER_MODES) {
    if (!plain.includes(m)) searchValues(column, m, true);
  }
  if (plain.length) await fetchValues(column, 'values:' + column, '', plain);
}

// A search typed into a bar's value list: a list that holds every value narrows itself; one cut
// short asks the engine, once the typing pauses, and stops the search it replaces.
export function searchValues(columnName, mode, now) {
  const column = String(columnName);
  const key = mode + ':' + column;
  clearTimeout(searchTimers.get(key));
  searchTimers.delete(key);
  if (!listCut(column, mode)) return;
  const run = () => {
    searchTimers.delete(key);
    fetchValues(column, 'search:' + key, engineSearch(column, mode), [mode]);
  };
  if (now) run();
  else searchTimers.set(key, setTimeout(run, SEARCH_DELAY_MS));
}

// The first and last day of a date filter's column, so a calendar without a date of its own
// opens near the data; an answer is kept per statement, until the data or the other filters
// change.
export async function loadDateRange(columnName) {
  const column = String(columnName);
  const slot = 'range:' + column;
  let statement = '';
  const outcome = await filterQuery(slot, startWork(slot), (source) => {
    statement = dateRangeSql(source, column, buildFilterWhereClause(dashState.filters, column));
    return rangeAnswer(statement) || statement;
  });
  if (outcome.stale || outcome.error) return;
  let range = outcome.kept;
  if (!range) {
    const row = outcome.rows[0];
    const day = (v) => (typeof v === 'string' && parseDateText(v) ? v : null);
    range = { min: day(row && row[0]), max: day(row && row[1]) };
    keepRangeAnswer(statement, range);
  }
  keepDateRange(column, range);
  calendarRangeArrived(column);
}

// "— All —" and the values; a chosen value that is not listed (narrowed away by another filter,
// or past the first values) is listed too, so the select shows the condition in force. A list cut
// short ends with a line that says so, and its search field shows. Without values the reason shows.
export function fillTextSelects(column, list, savedValue, error, modes) {
  const saved = savedValue == null ? '' : String(savedValue);
  const { values, total, search } = list;
  for (const mode of modes || FILTER_MODES) {
    const select = controlPart(column, mode, 'filter-select');
    if (!select) continue;
    const options = [new Option('— All —', '')];
    if (saved && !values.includes(saved)) options.push(new Option(saved, saved));
    for (const v of values) options.push(new Option(v, v));
    if (!error && total > values.length) {
      const more = new Option(listedText(values.length, total, !!search, formatNumber), '');
      more.disabled = true;
      more.className = 'value-list-more';
      options.push(more);
    }
    select.replaceChildren(...options);
    select.dataset.search = search;
    select.value = saved;
    select.title = error || '';
    const field = controlPart(column, mode, 'value-search');
    if (field) field.style.display = listCut(column, mode) || field.value ? '' : 'none';
    if (error) {
      setCount(column, mode, VALUES_UNAVAILABLE, error);
    } else {
      setCount(column, mode, countText(saved ? 1 : 0, listTotal(column, mode) ?? total, formatNumber));
    }
  }
}

// Every other filter loads anew what it shows: value lists, and date ranges for the calendars.
export function reloadOtherFilterDropdowns(excludeColumn) {
  for (const f of dashState.filters) {
    const kind = filterType(f);
    if (kind && (excludeColumn == null || f.column !== excludeColumn)) kind.load(f);
  }
}

export function showPreviewFilters() {
  renderActiveFilters();
  setShown('filterBarPreview', dashState.filters.length > 0);
}

// A new render of the shown dashboard: whatever still runs for the previous one is stopped.
function refreshDashboardWithFilters() {
  if (dashState.editing) {
    refreshAllCellPreviews();
    return;
  }
  const dashboard = dashState.dashboard;
  if (!dashboard) return;
  stopAllWork();
  renderDashboardPreview(dashboard);
  showPreviewFilters();
  reloadOtherFilterDropdowns(null);
}

// Reloads the panels of the shown dashboard and leaves its filter bar, with an open dropdown, alone.
function refreshDashboardPanelsOnly() {
  const dashboard = dashState.dashboard;
  if (!dashboard) return;
  const preview = byId('dashboardPreview');
  readRecordArray(dashboard.layout).forEach((row, r) => {
    const cells = row && Array.isArray(row.cells) ? row.cells : [];
    cells.forEach((cell, c) => {
      if (!cell || !cell.query) return;
      const panel = preview && preview.querySelector('.preview-panel[data-row="' + r + '"][data-col="' + c + '"]');
      const box = panel && panel.querySelector('.panel-content');
      if (!box) return;
      box.innerHTML = loadingBarHtml(PANEL_LOADING_WIDTH);
      loadPanelData(box, String(cell.query), cell.chartType || 'table', 'preview-' + r + '-' + c);
    });
  });
}

// What follows a change of a filter's value. Drawing the preview anew reloads every value list
// already, so the other lists are not loaded a second time.
export function afterFilterChange(column, panelsOnly) {
  if (!dashState.editing && !panelsOnly) {
    refreshDashboardWithFilters();
    return;
  }
  if (dashState.editing) refreshDashboardWithFilters();
  else refreshDashboardPanelsOnly();
  reloadOtherFilterDropdowns(column);
}

function menuItemHtml(name, i, section) {
  const variants = section.variants.map((v) =>
    '<label class="filter-menu-multi" data-click="stop"><input type="checkbox" id="' + v + '-check-' + i + '" data-variant="' +
    v + '">' + escapeHtml(FILTER_TYPES[v].variantLabel) + '</label>').join('');
  return (
    '<div class="filter-menu-item" data-column="' + attrText(name) + '" data-type="' + section.type +
    '" data-click="dashAddFilterFromMenu"><span class="filter-menu-name">' + escapeHtml(name) + '</span>' + variants + '</div>'
  );
}

export function toggleFilterMenu() {
  const menu = byId('filterMenu');
  const content = byId('filterMenuContent');
  if (!menu || !content) return;
  if (menu.style.display !== 'none') {
    menu.style.display = 'none';
    return;
  }
  const cols = filterableColumns(dashState.schema, dashState.filters);
  let html = '';
  for (const section of filterMenuSections()) {
    const names = cols[section.type];
    if (!names.length) continue;
    html += '<div class="filter-menu-heading">' + section.heading + '</div>';
    html += names.map((name, i) => menuItemHtml(name, i, section)).join('');
  }
  content.innerHTML = html || '<div class="filter-menu-empty">No filterable columns available</div>';
  menu.style.display = 'block';
}

// A menu row adds its section's filter, or the variant whose box is ticked.
export function addFilterFromMenu(columnName) {
  const content = byId('filterMenuContent');
  const row = content && Array.from(content.querySelectorAll('.filter-menu-item')).find((el) => el.dataset.column === columnName);
  if (!row) return;
  const ticked = row.querySelector('input[data-variant]:checked');
  addFilterOf(columnName, ticked ? ticked.dataset.variant : row.dataset.type);
}

export function addFilterOf(columnName, kind) {
  setShown('filterMenu', false);
  const column = String(columnName);
  if (!isFilterType(kind) || findFilter(column)) return;
  addFilter(newFilter(column, kind));
  renderActiveFilters();
  // Drawing the bars anew empties every list, so all of them load again, not only the new one.
  setTimeout(() => reloadOtherFilterDropdowns(null), FILTER_LOAD_DELAY_MS);
}

export function updateTextFilter(columnName, value, mode) {
  const column = String(columnName);
  const f = changeFilter(column, 'text', { value: value == null || value === '' ? null : String(value) });
  if (!f) return;
  const total = listTotal(column, mode);
  if (total != null) setCount(column, mode, countText(f.value ? 1 : 0, total, formatNumber));
  afterFilterChange(column, false);
}

export function removeFilterOf(columnName) {
  const column = String(columnName);
  removeFilter(column);
  renderActiveFilters();
  refreshDashboardWithFilters();
  reloadOtherFilterDropdowns(null);
}

// An action of an element inside a filter control, given its column and bar; what it does
// depends on the filter's kind, except removing it.
function controlAction(name) {
  return (el, event) => {
    const box = el.closest('.filter-control');
    if (!box) return;
    const column = box.dataset.column;
    if (name === 'dashRemoveFilter') {
      removeFilterOf(column);
      return;
    }
    const kind = filterType(findFilter(column));
    const act = kind && kind.actions[name];
    if (act) act(column, box.dataset.mode, el, event);
  };
}

// The filter bars' and menu's actions by name; each kind's come from its registry entry.
export function filterActions() {
  const actions = {
    dashToggleFilterMenu: () => toggleFilterMenu(),
    dashAddFilterFromMenu: (el) => addFilterFromMenu(el.dataset.column),
    dashRemoveFilter: controlAction('dashRemoveFilter'),
  };
  for (const kind of Object.values(FILTER_TYPES)) {
    for (const name of Object.keys(kind.actions)) actions[name] = controlAction(name);
  }
  return actions;
}

export function bindFilterMenu() {
  document.addEventListener('click', (e) => {
    const menu = byId('filterMenu');
    const t = e.target;
    if (!menu || menu.style.display === 'none') return;
    if (t instanceof Element && (t.closest('#filterMenu') || t.closest('#addFilterBtn'))) return;
    menu.style.display = 'none';
  });
}
