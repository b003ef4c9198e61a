// Page state: lives as long as the window, since the pane is only hidden and shown. Only the
// functions below change it; other modules read it through `dashState`, whose fields cannot be
// assigned from outside.

const state = {
  // The shown or edited dashboard's stored record; null for one never saved.
  dashboard: null,
  editingName: null,
  pathToFiles: '',
  fileType: 'parquet',
  filters: [],
  schema: [],
  savedQueries: [],
  // The active chart click condition, and the clicked element it came from (label, series).
  clickFilter: null,
  selection: null,
  rowIds: 0,
  cellIds: 0,
};

const dashState = Object.freeze({
  get dashboard() {
    return state.dashboard;
  },
  get editingName() {
    return state.editingName;
  },
  get pathToFiles() {
    return state.pathToFiles;
  },
  get fileType() {
    return state.fileType;
  },
  get filters() {
    return state.filters;
  },
  get schema() {
    return state.schema;
  },
  get savedQueries() {
    return state.savedQueries;
  },
  get clickFilter() {
    return state.clickFilter;
  },
  get selection() {
    return state.selection;
  },
});

// A stored record becomes the dashboard in hand: its folder, file type and, when asked, filters.
function takeDashboard(record, withFilters) {
  state.dashboard = record;
  state.pathToFiles = recordPath(record);
  state.fileType = recordFileType(record);
  if (withFilters) state.filters = readRecordArray(record && record.filters);
}

function dropDashboard() {
  state.dashboard = null;
  state.filters = [];
}

function startNewDashboard() {
  state.dashboard = null;
  state.editingName = null;
  state.filters = [];
  state.schema = [];
  state.pathToFiles = '';
  state.fileType = 'parquet';
}

function setEditingName(name) {
  state.editingName = name;
}

// Filters are kept as stored, so a kind this page does not know survives the next save.
function setFilters(list) {
  state.filters = readRecordArray(list);
}

function findFilter(column, type) {
  return state.filters.find((f) => f && f.column === column && (!type || f.type === type)) || null;
}

function addFilter(filter) {
  state.filters.push(filter);
}

function removeFilter(column) {
  state.filters = state.filters.filter((f) => !f || f.column !== column);
}

// Sets fields of the column's filter of `type`; returns it, or null when there is none.
function changeFilter(column, type, changes) {
  const f = findFilter(column, type);
  if (f) Object.assign(f, changes);
  return f;
}

function setSchema(columns) {
  state.schema = Array.isArray(columns) ? columns : [];
}

function setPathToFiles(path) {
  state.pathToFiles = String(path);
}

function toggleFileType() {
  state.fileType = state.fileType === 'csv' ? 'parquet' : 'csv';
}

function setSavedQueries(list) {
  state.savedQueries = Array.isArray(list) ? list : [];
}

function setClickFilter(condition, selection) {
  state.clickFilter = condition || null;
  state.selection = condition ? selection || null : null;
}

function nextRowId() {
  return state.rowIds++;
}

function nextCellId() {
  return state.cellIds++;
}

function resetEditorIds() {
  state.rowIds = 0;
  state.cellIds = 0;
}

// Render tags. Each piece of work that runs the engine for the page (a panel, a table's page, a
// value list) holds a slot; starting new work in a slot stops the engine runs of the work it
// replaces, and only the current tag of a slot may write what it drew.
const renderWork = new Map();
let renderSeq = 0;

// A stop that fails costs only time: the old runs finish and their answers are ignored.
function stopTagged(tag) {
  bridgeCall('stopQueryCpp', tag);
}

function startWork(slot) {
  const old = renderWork.get(slot);
  if (old) stopTagged(old);
  const tag = 'dash-' + ++renderSeq;
  renderWork.set(slot, tag);
  return tag;
}

function isCurrentWork(slot, tag) {
  return renderWork.get(slot) === tag;
}

function endWork(slot, tag) {
  if (renderWork.get(slot) === tag) renderWork.delete(slot);
}

// Runs sql on the engine as the work of slot tagged tag: the bridge answer, or null when newer
// work took the slot meanwhile or the run was stopped (its answer is then ignored).
async function queryAsWork(slot, tag, sql) {
  const res = await bridgeCall('queryDuckCpp', sql, tag);
  if (!isCurrentWork(slot, tag) || res.cancelled) return null;
  endWork(slot, tag);
  return res;
}

// A new render of the whole page: everything still running for the old one stops.
function stopAllWork() {
  for (const tag of new Set(renderWork.values())) stopTagged(tag);
  renderWork.clear();
}

function workRunning() {
  return renderWork.size > 0;
}
