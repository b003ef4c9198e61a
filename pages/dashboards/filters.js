// Dashboard filters: the edit and preview filter bars, the "+ Add Filter" menu, the value lists
// of text and multi-value filters, and what is redrawn after a filter value changes.

const FILTER_MODES = ['edit', 'preview'];
const FILTER_LOAD_DELAY_MS = 100;
const VALUES_UNAVAILABLE = 'Values not available';
const FILTER_TYPES = ['text', 'multiselect', 'date'];

// The page is in edit mode while the editor is displayed.
function isEditMode() {
  const panel = byId('createPanel');
  return !!panel && panel.style.display !== 'none';
}

function firstFilter(column, type) {
  return activeFilters.find((f) => f && f.column === column && (!type || f.type === type)) || null;
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

const FILTER_CONTROL_HTML = { text: textControlHtml, multiselect: multiControlHtml, date: dateControlHtml };

// The inline position is what the calendar looks for when it attaches itself to the control.
function filterControlHtml(f, mode) {
  return (
    '<div class="filter-control" data-column="' + attrText(f.column) + '" style="position:relative">' +
    '<span class="filter-name">' + escapeHtml(f.column) + ':</span>' + FILTER_CONTROL_HTML[f.type](f, mode) + '</div>'
  );
}

function renderActiveFilters() {
  const shown = activeFilters.filter((f) => f && typeof f.column === 'string' && FILTER_TYPES.includes(f.type));
  for (const mode of FILTER_MODES) {
    const bar = byId(mode === 'edit' ? 'activeFiltersEdit' : 'activeFiltersPreview');
    if (bar) bar.innerHTML = shown.map((f) => filterControlHtml(f, mode)).join('');
  }
}

// The schema of the dashboard's first query: the columns that filters are offered for.
async function collectDashboardSchema(dashboard, callback) {
  dashboardSchema = [];
  try {
    const names = layoutQueryNames(readRecordArray(dashboard && dashboard.layout));
    if (!names.length) return;
    const reply = await bridgeCall('getSavedQueriesCpp');
    const record = Array.isArray(reply.value) ? reply.value.find((q) => q && q.name === names[0]) : null;
    if (!record) return;
    const sql = replacePathVariableForDashboard(String(record.sql == null ? '' : record.sql), dashboardPathToFiles, dashboardFileType);
    const schema = await bridgeCall('getSchemaCpp', sql);
    const columns = schema.value && Array.isArray(schema.value.columns) ? schema.value.columns : [];
    if (columns.length) dashboardSchema = columns;
  } finally {
    if (callback) callback();
  }
}

// Newest load per column: an older answer that arrives later must not overwrite a newer list.
const valueLoads = new Map();

// { values } of a column, narrowed by every other filter, or { error } saying why there are none.
async function fetchDistinctValues(column) {
  if (!currentDashboard) return { error: 'Save the dashboard to list the values of its filters.' };
  const name = layoutQueryNames(readRecordArray(currentDashboard.layout))[0];
  if (!name) return { error: 'The dashboard has no query to take values from.' };
  const reply = await bridgeCall('getSavedQueriesCpp');
  if (reply.error) return reply;
  const record = Array.isArray(reply.value) ? reply.value.find((q) => q && q.name === name) : null;
  if (!record) return { error: 'The query "' + name + '" is not stored.' };
  const sql = replacePathVariableForDashboard(String(record.sql == null ? '' : record.sql), dashboardPathToFiles, dashboardFileType);
  const source = findDataSource(sql);
  if (!source) return { error: 'The query "' + name + "\" reads no read_csv('…') or read_parquet('…') source." };
  const result = await bridgeCall('queryDuckCpp', distinctValuesSql(source, column, buildFilterWhereClause(activeFilters, column)));
  if (result.error) return result;
  const rows = result.value && Array.isArray(result.value.rows) ? result.value.rows : null;
  if (!rows) return { error: 'The engine gave no answer.' };
  return { values: rows.map((row) => (Array.isArray(row) && row[0] != null ? String(row[0]) : '')) };
}

// Fills the value lists of one filter in both bars. A text filter shows the value in force when
// the answer arrives: `savedValue`, unless the user chose another while the list was loading.
async function loadDistinctValues(columnName, savedValue) {
  const column = String(columnName);
  const load = (valueLoads.get(column) || 0) + 1;
  valueLoads.set(column, load);
  const outcome = await fetchDistinctValues(column);
  if (valueLoads.get(column) !== load) return;
  const f = firstFilter(column);
  if (!f) return;
  if (f.type === 'multiselect') {
    if (outcome.error) showMultiUnavailable(column, outcome.error);
    else fillMultiLists(column, f, outcome.values);
  } else if (f.type === 'text') {
    fillTextSelects(column, outcome.values || [], f.value, outcome.error);
  }
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

function reloadOtherFilterDropdowns(excludeColumn) {
  for (const f of activeFilters) {
    if (!f || (excludeColumn != null && f.column === excludeColumn)) continue;
    if (f.type === 'text') loadDistinctValues(f.column, f.value);
    else if (f.type === 'multiselect') loadDistinctValues(f.column);
  }
}

function refreshDashboardWithFilters() {
  if (isEditMode()) {
    refreshAllCellPreviews();
    return;
  }
  if (!currentDashboard) return;
  renderDashboardPreview(currentDashboard);
  renderActiveFilters();
  setShown('filterBarPreview', activeFilters.length > 0);
  reloadOtherFilterDropdowns(null);
}

// Reloads the panels of the shown dashboard and leaves its filter bar, with an open dropdown, alone.
function refreshDashboardPanelsOnly() {
  if (!currentDashboard) return;
  const preview = byId('dashboardPreview');
  readRecordArray(currentDashboard.layout).forEach((row, r) => {
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
  const cols = filterableColumns(dashboardSchema, activeFilters);
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

window.dashAddFilter = function (columnName, filterType) {
  setShown('filterMenu', false);
  const column = String(columnName);
  if (!FILTER_TYPES.includes(filterType) || firstFilter(column)) return;
  activeFilters.push(newFilter(column, filterType));
  renderActiveFilters();
  // Drawing the bars anew empties every list, so all of them load again, not only the new one.
  setTimeout(() => reloadOtherFilterDropdowns(null), FILTER_LOAD_DELAY_MS);
};

function updateTextFilter(columnName, value, mode) {
  const column = String(columnName);
  const f = firstFilter(column, 'text');
  if (!f) return;
  f.value = value == null || value === '' ? null : String(value);
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
  activeFilters = activeFilters.filter((f) => !f || f.column !== column);
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
