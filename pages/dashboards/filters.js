// Dashboard filters: the edit and preview filter bars, the "+ Add Filter" menu, the value lists
// of text and multi-value filters, and what is redrawn after a filter value changes.

const FILTER_MODES = ['edit', 'preview'];
const FILTER_LOAD_DELAY_MS = 100;
const VALUES_UNAVAILABLE = 'Values not available';

// The page is in edit mode while the editor is displayed.
function isEditMode() {
  const panel = byId('createPanel');
  return !!panel && panel.style.display !== 'none';
}

// Attribute text that keeps carriage returns, which the HTML parser would turn into line feeds.
function attrText(value) {
  return escapeHtml(value).replace(/\r/g, '&#13;');
}

// A column's control in one bar, found by its column: two column names can share one sanitised id.
function filterControl(column, mode) {
  const bar = byId(mode === 'edit' ? 'activeFiltersEdit' : 'activeFiltersPreview');
  if (!bar) return null;
  return Array.from(bar.children).find((el) => el.dataset.column === column) || null;
}

function controlPart(column, mode, cls) {
  const box = filterControl(column, mode);
  return box ? box.querySelector('.' + cls) : null;
}

function setCount(column, mode, text, tip) {
  const count = controlPart(column, mode, 'filter-count');
  if (!count) return;
  count.textContent = text;
  count.title = tip || '';
}

function removeButtonHtml(column, mode) {
  if (mode !== 'edit') return '';
  return '<button type="button" class="filter-remove-btn" title="Remove filter" onclick="dashRemoveFilter(' +
    handlerArg(column) + ')">🗑️</button>';
}

function textControlHtml(f, mode) {
  const c = handlerArg(f.column);
  const handler = mode === 'edit' ? 'dashUpdateFilter' : 'dashUpdateFilterPreview';
  return (
    '<select id="filter-select-' + mode + '-' + attrText(f.column) + '" class="filter-select" onchange="' + handler +
    '(' + c + ', this.value)"><option value="">Loading...</option></select>' +
    '<span id="filter-count-' + mode + '-' + sanitizeId(f.column) + '" class="filter-count"></span>' +
    removeButtonHtml(f.column, mode)
  );
}

function multiControlHtml(f, mode) {
  const args = handlerArg(f.column) + ', ' + handlerArg(mode);
  const sid = mode + '-' + sanitizeId(f.column);
  const values = Array.isArray(f.values) ? f.values : [];
  return (
    '<button type="button" id="multiselect-btn-' + sid + '" class="multiselect-btn" title="' + attrText(values.join(', ')) +
    '" onclick="dashToggleMultiSelect(' + args + ', event)">' + escapeHtml(multiButtonLabel(values)) + '</button>' +
    '<div id="multiselect-dropdown-' + sid + '" class="multiselect-dropdown" style="display:none">' +
    '<input type="text" id="multiselect-search-' + sid + '" class="multiselect-search" placeholder="Search..." ' +
    'oninput="dashFilterMultiSelect(' + args + ', this.value)">' +
    '<div id="multiselect-list-' + sid + '" class="multiselect-list"><div class="multiselect-note">Loading...</div></div></div>' +
    '<span id="multiselect-count-' + sid + '" class="filter-count"></span>' +
    '<button type="button" class="filter-clear-btn" title="Clear all" onclick="dashClearMultiSelect(' + args +
    ', event)">×</button>' + removeButtonHtml(f.column, mode)
  );
}

function dateButtonHtml(f, mode, field) {
  return (
    '<button type="button" id="date-picker-' + field + '-' + mode + '-' + sanitizeId(f.column) +
    '" class="date-picker-btn date-picker-' + field + '" onclick="dashOpenCalendar(' + handlerArg(f.column) + ', ' +
    handlerArg(mode) + ', ' + handlerArg(field) + ', event)"><span class="date-icon">📅</span>' +
    '<span class="date-text">' + escapeHtml(dateButtonLabel(f[field], field)) + '</span></button>'
  );
}

function dateControlHtml(f, mode) {
  return (
    dateButtonHtml(f, mode, 'from') + '<span class="date-sep">to</span>' + dateButtonHtml(f, mode, 'to') +
    '<button type="button" class="filter-clear-btn" title="Clear dates" onclick="dashClearDateFilter(' +
    handlerArg(f.column) + ', ' + handlerArg(mode) + ')">×</button>' + removeButtonHtml(f.column, mode)
  );
}

// The inline position is what the calendar looks for when it attaches itself to the control.
function filterControlHtml(f, mode) {
  return (
    '<div class="filter-control" data-column="' + attrText(f.column) + '" style="position:relative">' +
    '<span class="filter-name">' + escapeHtml(f.column) + ':</span>' + filterType(f).draw(f, mode) + '</div>'
  );
}

function renderActiveFilters() {
  const shown = dashState.filters.filter((f) => filterType(f));
  for (const mode of FILTER_MODES) {
    const bar = byId(mode === 'edit' ? 'activeFiltersEdit' : 'activeFiltersPreview');
    if (bar) bar.innerHTML = shown.map((f) => filterControlHtml(f, mode)).join('');
  }
}

// The schema of the dashboard's first query: the columns that filters are offered for.
async function collectDashboardSchema(dashboard, callback) {
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
function dashboardSql(storedSql) {
  return replacePathVariableForDashboard(String(storedSql == null ? '' : storedSql), dashState.pathToFiles, dashState.fileType);
}

// The data source the filters list their values from: that of the first query, in the editor
// its current cells (saved or not), on a shown dashboard its stored layout. { source } or { error }.
async function filterDataSource() {
  let names;
  let queries;
  if (isEditMode()) {
    names = layoutQueryNames(collectEditorRows());
    queries = dashState.savedQueries;
  } else {
    if (!dashState.dashboard) return { error: 'No dashboard is shown.' };
    names = layoutQueryNames(readRecordArray(dashState.dashboard.layout));
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
  const rows = result.value && Array.isArray(result.value.rows) ? result.value.rows : null;
  return rows ? { rows } : { error: 'The engine gave no answer.' };
}

// Fills the value lists of one filter in both bars. A text filter shows the value in force when
// the answer arrives: `savedValue`, unless the user chose another while the list was loading.
async function loadDistinctValues(columnName, savedValue) {
  const column = String(columnName);
  const slot = 'values:' + column;
  const outcome = await filterQuery(slot, startWork(slot), (source) =>
    distinctValuesSql(source, column, buildFilterWhereClause(dashState.filters, column)));
  if (outcome.stale) return;
  const values = outcome.rows ? outcome.rows.map((row) => (Array.isArray(row) && row[0] != null ? String(row[0]) : '')) : [];
  const f = findFilter(column);
  if (!f) return;
  if (f.type === 'multiselect') {
    if (outcome.error) showMultiUnavailable(column, outcome.error);
    else fillMultiLists(column, f, values);
  } else if (f.type === 'text') {
    fillTextSelects(column, values, f.value, outcome.error);
  }
}

// The first and last day of each date filter's column. A calendar without a date of its own
// opens near the data; an answer is kept per statement, so until the data or the other filters
// change.
const dateRanges = new Map();
const dateRangeAnswers = new Map();

async function loadDateRange(columnName) {
  const column = String(columnName);
  const slot = 'range:' + column;
  let statement = '';
  const outcome = await filterQuery(slot, startWork(slot), (source) => {
    statement = dateRangeSql(source, column, buildFilterWhereClause(dashState.filters, column));
    return dateRangeAnswers.has(statement) ? dateRangeAnswers.get(statement) : statement;
  });
  if (outcome.stale || outcome.error) return;
  let range = outcome.kept;
  if (!range) {
    const row = outcome.rows[0];
    const day = (v) => (typeof v === 'string' && parseDateText(v) ? v : null);
    range = { min: day(row && row[0]), max: day(row && row[1]) };
    dateRangeAnswers.set(statement, range);
  }
  dateRanges.set(column, range);
  calendarRangeArrived(column);
}

// "— All —" and the values; a chosen value that is not listed (narrowed away by another filter)
// is listed too, so the select shows the condition in force. Without values the reason shows.
function fillTextSelects(column, values, savedValue, error) {
  const saved = savedValue == null ? '' : String(savedValue);
  for (const mode of FILTER_MODES) {
    const select = controlPart(column, mode, 'filter-select');
    if (!select) continue;
    const options = [new Option('— All —', '')];
    if (saved && !values.includes(saved)) options.push(new Option(saved, saved));
    for (const v of values) options.push(new Option(v, v));
    select.replaceChildren(...options);
    select.value = saved;
    select.title = error || '';
    if (error) {
      delete select.dataset.total;
      setCount(column, mode, VALUES_UNAVAILABLE, error);
    } else {
      select.dataset.total = String(values.length);
      setCount(column, mode, countText(saved ? 1 : 0, values.length));
    }
  }
}

function multiOption(column, value, mode, chosen) {
  const label = document.createElement('label');
  label.className = 'multiselect-option';
  label.dataset.value = value.toLowerCase();
  const box = document.createElement('input');
  box.type = 'checkbox';
  box.id = 'multiselect-cb-' + mode + '-' + sanitizeId(column) + '-' + sanitizeId(value);
  // The exact value: sanitised ids of different values can be equal.
  box.dataset.option = value;
  box.addEventListener('change', () => window.dashToggleMultiSelectOption(column, value, mode));
  const text = document.createElement('span');
  text.className = 'multiselect-option-text';
  text.textContent = value;
  label.append(box, text);
  markOption(box, chosen);
  return label;
}

// A chosen option is ticked, shaded and followed by "✓".
function markOption(box, chosen) {
  box.checked = chosen;
  const label = box.parentElement;
  label.classList.toggle('chosen', chosen);
  const tick = label.querySelector('.multiselect-tick');
  if (chosen && !tick) {
    const mark = document.createElement('span');
    mark.className = 'multiselect-tick';
    mark.textContent = '✓';
    label.appendChild(mark);
  } else if (!chosen && tick) {
    tick.remove();
  }
}

function fillMultiLists(column, f, values) {
  const chosen = Array.isArray(f.values) ? f.values : [];
  for (const mode of FILTER_MODES) {
    const list = controlPart(column, mode, 'multiselect-list');
    if (!list) continue;
    list.replaceChildren(...values.map((v) => multiOption(column, v, mode, chosen.includes(v))));
    setCount(column, mode, countText(chosen.length, values.length));
    const search = controlPart(column, mode, 'multiselect-search');
    if (search && search.value) window.dashFilterMultiSelect(column, mode, search.value);
  }
}

function showMultiUnavailable(column, reason) {
  for (const mode of FILTER_MODES) {
    const list = controlPart(column, mode, 'multiselect-list');
    if (!list) continue;
    const note = document.createElement('div');
    note.className = 'multiselect-note';
    note.textContent = VALUES_UNAVAILABLE;
    note.title = reason;
    list.replaceChildren(note);
    setCount(column, mode, VALUES_UNAVAILABLE, reason);
  }
}

// Every other filter loads anew what it shows: value lists, and date ranges for the calendars.
function reloadOtherFilterDropdowns(excludeColumn) {
  for (const f of dashState.filters) {
    const kind = filterType(f);
    if (kind && (excludeColumn == null || f.column !== excludeColumn)) kind.load(f);
  }
}

function showPreviewFilters() {
  renderActiveFilters();
  setShown('filterBarPreview', dashState.filters.length > 0);
}

// A new render of the shown dashboard: whatever still runs for the previous one is stopped.
function refreshDashboardWithFilters() {
  if (isEditMode()) {
    refreshAllCellPreviews();
    return;
  }
  if (!dashState.dashboard) return;
  stopAllWork();
  renderDashboardPreview(dashState.dashboard);
  showPreviewFilters();
  reloadOtherFilterDropdowns(null);
}

// Reloads the panels of the shown dashboard and leaves its filter bar, with an open dropdown, alone.
function refreshDashboardPanelsOnly() {
  if (!dashState.dashboard) return;
  const preview = byId('dashboardPreview');
  readRecordArray(dashState.dashboard.layout).forEach((row, r) => {
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
function afterFilterChange(column, panelsOnly) {
  if (!isEditMode() && !panelsOnly) {
    refreshDashboardWithFilters();
    return;
  }
  if (isEditMode()) refreshDashboardWithFilters();
  else refreshDashboardPanelsOnly();
  reloadOtherFilterDropdowns(column);
}

function menuHeading(text) {
  return '<div class="filter-menu-heading">' + text + '</div>';
}

window.dashToggleFilterMenu = function () {
  const menu = byId('filterMenu');
  const content = byId('filterMenuContent');
  if (!menu || !content) return;
  if (menu.style.display !== 'none') {
    menu.style.display = 'none';
    return;
  }
  const cols = filterableColumns(dashState.schema, dashState.filters);
  let html = '';
  if (cols.text.length) {
    html += menuHeading('Text Fields') + cols.text.map((name, i) =>
      '<div class="filter-menu-item" data-column="' + attrText(name) + '" onclick="dashAddFilterFromMenu(' + handlerArg(name) +
      ')"><span class="filter-menu-name">' + escapeHtml(name) + '</span>' +
      '<label class="filter-menu-multi" onclick="event.stopPropagation()"><input type="checkbox" id="multiselect-check-' + i +
      '">Multi</label></div>').join('');
  }
  if (cols.date.length) {
    html += menuHeading('Date Fields') + cols.date.map((name) =>
      '<div class="filter-menu-item" data-column="' + attrText(name) + '" onclick="dashAddFilter(' + handlerArg(name) +
      ', &quot;date&quot;)"><span class="filter-menu-name">' + escapeHtml(name) + '</span></div>').join('');
  }
  content.innerHTML = html || '<div class="filter-menu-empty">No filterable columns available</div>';
  menu.style.display = 'block';
};

window.dashAddFilterFromMenu = function (columnName) {
  const content = byId('filterMenuContent');
  const row = content && Array.from(content.querySelectorAll('.filter-menu-item')).find((el) => el.dataset.column === columnName);
  const multi = row && row.querySelector('input[type=checkbox]');
  window.dashAddFilter(columnName, multi && multi.checked ? 'multiselect' : 'text');
};

window.dashAddFilter = function (columnName, kind) {
  setShown('filterMenu', false);
  const column = String(columnName);
  if (!Object.prototype.hasOwnProperty.call(FILTER_TYPES, kind) || findFilter(column)) return;
  addFilter(newFilter(column, kind));
  renderActiveFilters();
  // Drawing the bars anew empties every list, so all of them load again, not only the new one.
  setTimeout(() => reloadOtherFilterDropdowns(null), FILTER_LOAD_DELAY_MS);
};

function updateTextFilter(columnName, value, mode) {
  const column = String(columnName);
  const f = changeFilter(column, 'text', { value: value == null || value === '' ? null : String(value) });
  if (!f) return;
  const select = controlPart(column, mode, 'filter-select');
  if (select && select.dataset.total) setCount(column, mode, countText(f.value ? 1 : 0, select.dataset.total));
  afterFilterChange(column, false);
}

window.dashUpdateFilter = function (columnName, value) {
  updateTextFilter(columnName, value, 'edit');
};

window.dashUpdateFilterPreview = function (columnName, value) {
  updateTextFilter(columnName, value, 'preview');
};

window.dashRemoveFilter = function (columnName) {
  const column = String(columnName);
  removeFilter(column);
  renderActiveFilters();
  refreshDashboardWithFilters();
  reloadOtherFilterDropdowns(null);
};

document.addEventListener('click', (e) => {
  const menu = byId('filterMenu');
  const t = e.target;
  if (!menu || menu.style.display === 'none') return;
  if (t instanceof Element && (t.closest('#filterMenu') || t.closest('#addFilterBtn'))) return;
  menu.style.display = 'none';
});
