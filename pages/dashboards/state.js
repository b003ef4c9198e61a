// Page state: lives as long as the window, since the pane is only hidden and shown. This module
// is its one owner: only the functions below change it, and `dashState` hands out copies, so no
// reader can change it behind the owner's back.
import { bridgeCall } from '../common/bridge.js';
import { freeHeld } from '../common/held.js';
import { readRecordArray, recordFileType, recordPath } from './rules.js';

const state = {
  // The shown or edited dashboard's stored record; null for one never saved.
  dashboard: null,
  editingName: null,
  pathToFiles: '',
  fileType: 'parquet',
  filters: [],
  schema: [],
  savedQueries: [],
  // The active chart click: { condition, column (the chart's first column, in words), label,
  // words (what the indicator says), source (the clicked panel's key), owner (the dashboard it
  // belongs to: name and layout text) }; and the clicked element (mark, label, series, key).
  click: null,
  selection: null,
  rowIds: 0,
  cellIds: 0,
  // True while the editor is displayed.
  editing: false,
  // The dashboard shown when the editor opened, with the filter values in force then, so the
  // editor starts from them and Cancel puts them back; null when none was shown.
  shownBeforeEditor: null,
  // True from a Save's click until its answer: a second click stores nothing twice.
  saving: false,
  // Every opening and closing of the editor takes the next turn: a fill whose turn has passed
  // is dropped, so a double click fills the editor once and a closed editor is never filled.
  editorTurn: 0,
  // The open calendar: the month shown, its target filter end and its typed text. `view` is
  // "days" or "months"; `onToday` while it opened on today for want of a nearer date.
  calendar: {
    currentMonth: new Date().getMonth(),
    currentYear: new Date().getFullYear(),
    selectedDate: null,
    targetColumn: null,
    targetMode: null,
    targetField: null,
    view: 'days',
    typed: '',
    typedError: '',
    onToday: false,
  },
};

// Each date filter column's first and last day, and the answers by statement they came from.
const dateRanges = new Map();
const dateRangeAnswers = new Map();
// Each paginated table by its panel key: { el, sql, page, pageSize, isSmall, sqlWithDropdown }.
const pagedTables = new Map();

const copy = (value) => (value == null ? value : structuredClone(value));

export const dashState = Object.freeze({
  get dashboard() {
    return copy(state.dashboard);
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
    return copy(state.filters);
  },
  get schema() {
    return copy(state.schema);
  },
  get savedQueries() {
    return copy(state.savedQueries);
  },
  get clickFilter() {
    return state.click ? state.click.condition : null;
  },
  get click() {
    return copy(state.click);
  },
  // The mark's functions do not clone; the record itself is a copy.
  get selection() {
    return state.selection ? { ...state.selection } : null;
  },
  get editing() {
    return state.editing;
  },
  get editorTurn() {
    return state.editorTurn;
  },
  get saving() {
    return state.saving;
  },
  get calendar() {
    return { ...state.calendar };
  },
});

// Ranges read for one dashboard's data never open another's calendars.
function forgetDateRanges() {
  dateRanges.clear();
  dateRangeAnswers.clear();
}

// What a click filter belongs to: a dashboard as stored, so a changed layout, whose panel keys
// may name other panels now, is another dashboard.
function clickOwner(record) {
  return { name: record && record.name, layout: JSON.stringify(readRecordArray(record && record.layout)) };
}

function dropClick() {
  state.click = null;
  state.selection = null;
}

// A stored record becomes the dashboard in hand: its folder, file type and, when asked, filters.
// A click filter of another dashboard goes.
export function takeDashboard(record, withFilters) {
  const owner = clickOwner(record);
  if (state.click && (state.click.owner.name !== owner.name || state.click.owner.layout !== owner.layout)) dropClick();
  state.dashboard = record;
  state.pathToFiles = recordPath(record);
  state.fileType = recordFileType(record);
  if (withFilters) state.filters = readRecordArray(record && record.filters);
  forgetDateRanges();
}

export function dropDashboard() {
  dropClick();
  state.dashboard = null;
  state.filters = [];
  forgetDateRanges();
}

export function startNewDashboard() {
  dropClick();
  state.dashboard = null;
  state.editingName = null;
  state.filters = [];
  state.schema = [];
  state.pathToFiles = '';
  state.fileType = 'parquet';
  forgetDateRanges();
}

export function setEditingName(name) {
  state.editingName = name;
}

// Filters are kept as stored, so a kind this page does not know survives the next save.
export function setFilters(list) {
  state.filters = copy(readRecordArray(list));
}

function liveFilter(column, type) {
  return state.filters.find((f) => f && f.column === column && (!type || f.type === type)) || null;
}

export function findFilter(column, type) {
  return copy(liveFilter(column, type));
}

export function addFilter(filter) {
  state.filters.push(copy(filter));
}

export function removeFilter(column) {
  state.filters = state.filters.filter((f) => !f || f.column !== column);
}

// Sets fields of the column's filter of `type`; returns it as changed, or null when there is none.
export function changeFilter(column, type, changes) {
  const f = liveFilter(column, type);
  if (f) Object.assign(f, copy(changes));
  return copy(f);
}

export function setSchema(columns) {
  state.schema = Array.isArray(columns) ? copy(columns) : [];
}

export function setPathToFiles(path) {
  state.pathToFiles = String(path);
  forgetDateRanges();
}

export function toggleFileType() {
  state.fileType = state.fileType === 'csv' ? 'parquet' : 'csv';
  forgetDateRanges();
}

export function setSavedQueries(list) {
  state.savedQueries = Array.isArray(list) ? list : [];
}

// The click filter of the dashboard in hand, or none: { condition, column, label, words, source }.
export function setClickFilter(click) {
  state.click = click && click.condition ? { ...copy(click), owner: clickOwner(state.dashboard) } : null;
}

export function setSelection(selection) {
  state.selection = selection ? { ...selection } : null;
}

export function setEditing(on) {
  state.editing = !!on;
}

// Kept once per opening of the editor: a second Edit while it is open keeps the first view.
export function keepShownBeforeEditor() {
  if (state.editing) return;
  state.shownBeforeEditor = state.dashboard ? { name: state.dashboard.name, filters: copy(state.filters) } : null;
}

// The filter values the named dashboard was shown with before the editor opened, or null.
export function shownFilters(name) {
  const shown = state.shownBeforeEditor;
  return shown && shown.name === name ? copy(shown.filters) : null;
}

export function forgetShownBeforeEditor() {
  state.shownBeforeEditor = null;
}

export function setSaving(on) {
  state.saving = !!on;
}

// Starts a new turn of the editor and returns it.
export function nextEditorTurn() {
  return ++state.editorTurn;
}

export function nextRowId() {
  return state.rowIds++;
}

export function nextCellId() {
  return state.cellIds++;
}

export function resetEditorIds() {
  state.rowIds = 0;
  state.cellIds = 0;
}

export function setCalendar(changes) {
  Object.assign(state.calendar, changes);
}

export function dateRange(column) {
  return copy(dateRanges.get(column));
}

export function keepDateRange(column, range) {
  dateRanges.set(column, copy(range));
}

export function rangeAnswer(statement) {
  return copy(dateRangeAnswers.get(statement));
}

export function keepRangeAnswer(statement, range) {
  dateRangeAnswers.set(statement, copy(range));
}

// Draws of a paginated table: the element it draws in and what it shows. A table drawn in a
// new element starts afresh; one drawn again in its element keeps its SQL without a click filter.
export function setPagedTable(key, el, fields) {
  const old = pagedTables.get(key);
  const kept = old && old.el === el ? old : { el, sqlWithDropdown: null };
  pagedTables.set(key, { ...kept, ...fields, el });
}

export function setPagedSqlWithDropdown(key, sql) {
  const entry = pagedTables.get(key);
  if (entry) entry.sqlWithDropdown = sql;
}

// The table of a panel key; none once its element has left the page.
export function pagedTable(key) {
  const entry = pagedTables.get(String(key));
  if (!entry) return null;
  if (!entry.el.isConnected) {
    pagedTables.delete(String(key));
    return null;
  }
  return { ...entry, key: String(key) };
}

// Every paginated table on the page now, in the order they were first drawn.
export function allPagedTables() {
  return Array.from(pagedTables.keys()).map(pagedTable).filter(Boolean);
}

// Render tags. Each piece of work that runs the engine for the page (a panel, a table's page, a
// value list) holds a slot; starting new work in a slot stops the engine runs of the work it
// replaces, and only the current tag of a slot may write what it drew.
const renderWork = new Map();
let renderSeq = 0;
// A panel's held answer lives in a place named after its key.
const DASH_HOLD_PLACE = 'dash:';
// The latest answer held for each slot.
const heldBySlot = new Map();
// The folders each slot's latest answer had to leave out because they could not be read.
const unreadableBySlot = new Map();

// A stop that fails costs only time: the old runs finish and their answers are ignored.
function stopTagged(tag) {
  bridgeCall('stopQueryCpp', tag);
}

export function startWork(slot) {
  const old = renderWork.get(slot);
  if (old) stopTagged(old);
  const tag = 'dash-' + ++renderSeq;
  renderWork.set(slot, tag);
  unreadableBySlot.delete(slot);
  return tag;
}

export function isCurrentWork(slot, tag) {
  return renderWork.get(slot) === tag;
}

// Whether newer work has taken the slot since `tag`'s (ended or not).
export function tookOverWork(slot, tag) {
  const now = renderWork.get(slot);
  return now !== undefined && now !== tag;
}

export function endWork(slot, tag) {
  if (renderWork.get(slot) === tag) renderWork.delete(slot);
}

// Runs sql (one statement, or a list run side by side) on the engine as the work of slot tagged
// tag: the bridge answer (a list for a list), or null when newer work took the slot meanwhile or
// a run was stopped (its answer is then ignored). The work ends with the answer unless `more`
// runs are to follow.
export async function queryAsWork(slot, tag, sql, more) {
  const list = Array.isArray(sql);
  const replies = await Promise.all((list ? sql : [sql]).map((s) => bridgeCall('queryDuckCpp', s, tag)));
  if (!isCurrentWork(slot, tag) || replies.some((r) => r.cancelled)) return null;
  if (!more) endWork(slot, tag);
  keepUnreadable(slot, replies);
  return list ? replies : replies[0];
}

// As queryAsWork for one statement, with its whole answer held natively in the slot's own place
// (a newer hold there frees it): the hold reply, or null as queryAsWork answers. An answer no
// one will draw is freed at once.
export async function holdAsWork(slot, tag, sql) {
  const reply = await bridgeCall('holdQueryCpp', sql, DASH_HOLD_PLACE + slot, tag);
  const id = reply.value && typeof reply.value.answer === 'string' ? reply.value.answer : '';
  if (!isCurrentWork(slot, tag) || reply.cancelled) {
    if (id) freeHeld(id);
    return null;
  }
  keepUnreadable(slot, [reply]);
  if (id) heldBySlot.set(slot, id);
  return reply;
}

// The page going frees its panels' answers at once instead of after a while unused.
export function freeHeldAnswers() {
  for (const id of heldBySlot.values()) freeHeld(id);
  heldBySlot.clear();
}

function keepUnreadable(slot, replies) {
  const paths = new Set();
  for (const r of replies) {
    const answer = r.value || r.reply;
    const list = answer && typeof answer === 'object' ? answer.unreadable : null;
    if (Array.isArray(list)) list.forEach((p) => paths.add(String(p)));
  }
  if (paths.size) unreadableBySlot.set(slot, Array.from(paths).sort());
}

// The folders left out of the slot's latest answer, sorted; empty when none.
export function unreadableOf(slot) {
  return (unreadableBySlot.get(slot) || []).slice();
}

// A new render of the whole page: everything still running for the old one stops.
export function stopAllWork() {
  for (const tag of new Set(renderWork.values())) stopTagged(tag);
  renderWork.clear();
}

function workRunning() {
  return renderWork.size > 0;
}
