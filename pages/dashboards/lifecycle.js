// The dashboard list and lifecycle: choose, show, create, edit, save, save as, delete, and the
// dashboard's own data folder and file type.
import { bridgeCall } from '../common/bridge.js';
import { THEME } from '../common/theme.js';
import { byId, setShown } from './dom.js';
import { addRowWithCells, collectEditorRows, dashAddRow, dashPreviewCell } from './editor.js';
import {
  collectDashboardSchema,
  reloadOtherFilterDropdowns,
  renderActiveFilters,
  showEditFilterBar,
  showPreviewFilters,
} from './filters.js';
import { renderDashboardPreview, showEmptyPreview } from './preview.js';
import { NOTE_GREY, NOTE_RED, readRecordArray } from './rules.js';
import {
  dashState,
  dropDashboard,
  forgetShownBeforeEditor,
  keepShownBeforeEditor,
  nextEditorTurn,
  resetEditorIds,
  setEditing,
  setEditingName,
  setFilters,
  setPathToFiles,
  setSavedQueries,
  setSaving,
  shownFilters,
  startNewDashboard,
  stopAllWork,
  takeDashboard,
  toggleFileType,
} from './state.js';

function dashboardList(reply) {
  return Array.isArray(reply.value) ? reply.value.filter((d) => d && typeof d.name === 'string') : [];
}

async function fetchDashboards() {
  const reply = await bridgeCall('getDashboardsCpp');
  if (reply.error) alert('Could not load the dashboards: ' + reply.error);
  return dashboardList(reply);
}

// Whether a dashboard of this name is stored: { taken } or { error }, so a failed look never
// passes for a free name.
async function nameTaken(name) {
  const reply = await bridgeCall('getDashboardsCpp');
  if (reply.error) return { error: reply.error };
  return { taken: dashboardList(reply).some((d) => d.name === name) };
}

async function findDashboard(name) {
  return (await fetchDashboards()).find((d) => d.name === name) || null;
}

export async function dashLoadDashboardList(callback) {
  const list = await fetchDashboards();
  const dropdown = byId('dashboardDropdown');
  dropdown.textContent = '';
  dropdown.add(new Option('— Select Dashboard —', ''));
  for (const d of list) dropdown.add(new Option(d.name, d.name));
  dropdown.value = '';
  if (callback) callback();
}

function selectSavedDashboard(name) {
  dashLoadDashboardList(() => {
    byId('dashboardDropdown').value = name;
    dashLoadDashboard({ saved: true });
  });
}

// What each shown filter loads: the value lists, and the date ranges its calendars open in.
function loadFilterValues() {
  reloadOtherFilterDropdowns(null);
}

// `restore` (Cancel) shows the dashboard with the filter values it had before the editor opened;
// `saved` keeps the line that confirms the save that led here.
export async function dashLoadDashboard(how) {
  const name = byId('dashboardDropdown').value;
  const kept = how && how.restore ? shownFilters(name) : null;
  forgetShownBeforeEditor();
  if (!(how && how.saved)) showSaveStatus('');
  dashHideCreatePanel(true);
  // Whatever still runs for the dashboard shown before is stopped, even if nothing replaces it.
  stopAllWork();
  if (!name) {
    setShown('editDashboardBtn', false);
    setShown('deleteDashboardBtn', false);
    setShown('filterBarPreview', false);
    setShown('filterBarEdit', false);
    dropDashboard();
    showEmptyPreview();
    return;
  }
  setShown('editDashboardBtn', true);
  setShown('deleteDashboardBtn', true);
  const record = await findDashboard(name);
  // A later choice of dashboard has taken over while the records were on their way.
  if (!record || byId('dashboardDropdown').value !== name) return;
  stopAllWork();
  takeDashboard(record, true);
  if (kept) setFilters(kept);
  setShown('filterBarEdit', false);
  renderDashboardPreview(record);
  showPreviewFilters();
  loadFilterValues();
}

function openEditor(name) {
  setShown('createPanel', true);
  setEditing(true);
  setShown('dashboardPreview', false);
  setShown('filterBarPreview', false);
  setShown('filterBarEdit', false);
  setShown('dashSaveError', false);
  const nameField = byId('dashboardName');
  nameField.value = name;
  nameField.style.borderColor = '';
  byId('rowsContainer').textContent = '';
  resetEditorIds();
  stopAllWork();
  updatePathUI();
}

export function dashShowCreatePanel() {
  keepShownBeforeEditor();
  showSaveStatus('');
  startNewDashboard();
  const turn = nextEditorTurn();
  openEditor('');
  renderActiveFilters();
  loadSavedQueries(() => {
    if (turn === dashState.editorTurn) dashAddRow();
  });
}

export async function dashEditDashboard() {
  const name = byId('dashboardDropdown').value;
  if (!name) return;
  showSaveStatus('');
  // The editor opened or closed while the record was on its way: that later act stands.
  const asked = dashState.editorTurn;
  const record = await findDashboard(name);
  if (!record || asked !== dashState.editorTurn) return;
  keepShownBeforeEditor();
  // The editor works with the values the dashboard is shown with, not those it was stored with.
  const filters = shownFilters(name) || record.filters;
  const turn = nextEditorTurn();
  setEditingName(name);
  takeDashboard(record, false);
  openEditor(record.name);
  const rows = readRecordArray(record.layout);
  loadSavedQueries(() => {
    if (turn !== dashState.editorTurn) return;
    // Set before the cells are built: their previews start at once and read them.
    setFilters(filters);
    renderActiveFilters();
    if (!rows.length) dashAddRow();
    else for (const row of rows) addRowWithCells(row && Array.isArray(row.cells) ? row.cells : []);
    collectDashboardSchema(record, () => {
      if (turn !== dashState.editorTurn) return;
      showEditFilterBar();
      loadFilterValues();
    });
  });
}

export function dashHideCreatePanel(skipReload) {
  nextEditorTurn();
  setEditingName(null);
  setShown('createPanel', false);
  setEditing(false);
  setShown('dashboardPreview', true, 'flex');
  setShown('filterBarEdit', false);
  if (skipReload !== true && byId('dashboardDropdown').value) dashLoadDashboard({ restore: true });
}

function showSaveError(text) {
  const box = byId('dashSaveError');
  box.textContent = 'Could not save the dashboard: ' + text;
  box.style.display = 'block';
}

// The line beside the dropdown that confirms a save; empty hides it.
function showSaveStatus(text) {
  const status = byId('dashSaveStatus');
  if (!status) return;
  status.textContent = text;
  status.style.display = text ? '' : 'none';
}

// While a save is on its way both save buttons are off and Save says so.
function markSaving(on) {
  setSaving(on);
  const save = byId('dashSaveBtn');
  const saveAs = byId('dashSaveAsBtn');
  if (save) save.disabled = on;
  if (saveAs) saveAs.disabled = on;
  setSaveLabel(on);
}

function setSaveLabel(saving) {
  const save = byId('dashSaveBtn');
  if (save) save.textContent = saving ? 'Saving…' : 'Save';
}

// The layout as Save stores it, or null when no row holds a cell.
function layoutToSave() {
  const rows = collectEditorRows();
  return rows.some((r) => r.cells && r.cells.length) ? rows : null;
}

export async function storeDashboard(name, rows) {
  return bridgeCall(
    'saveDashboardCpp',
    name,
    JSON.stringify(rows),
    JSON.stringify(dashState.filters),
    dashState.pathToFiles,
    dashState.fileType
  );
}

// After a confirmed save the editor closes and the stored dashboard is shown, drawn once.
function afterSave(name) {
  setEditingName(null);
  forgetShownBeforeEditor();
  dashHideCreatePanel(true);
  showSaveStatus('Saved "' + name + '".');
  selectSavedDashboard(name);
}

// Asks before a save replaces another stored dashboard; resolves true to go on.
function confirmReplace(name) {
  return new Promise((resolve) => {
    let close;
    const answer = (yes) => {
      close();
      resolve(yes);
    };
    close = openModal((box) => {
      const actions = document.createElement('div');
      actions.className = 'dash-modal-actions';
      actions.append(
        modalButton('confirmReplaceBtn', 'Replace', 'dash-btn-danger', () => answer(true)),
        modalButton('cancelReplaceBtn', 'Cancel', '', () => answer(false))
      );
      box.append(modalText('A dashboard named "' + name + '" already exists. Replace it with this one?'), actions);
      box.addEventListener('keydown', (e) => {
        if (e.key === 'Escape') answer(false);
      });
    });
    byId('cancelReplaceBtn').focus();
  });
}

export async function dashSaveDashboard() {
  if (dashState.saving) return;
  const nameField = byId('dashboardName');
  const name = nameField.value.trim();
  const rows = layoutToSave();
  if (!name) {
    nameField.style.borderColor = NOTE_RED;
    return;
  }
  if (!rows) return;
  nameField.style.borderColor = '';
  setShown('dashSaveError', false);
  markSaving(true);
  try {
    await saveUnder(name, rows);
  } finally {
    markSaving(false);
  }
}

// A rename stores the new record before removing the old one, so a failed write loses nothing.
async function saveUnder(name, rows) {
  const oldName = dashState.editingName;
  if (oldName !== name) {
    const look = await nameTaken(name);
    if (look.error) {
      showSaveError('could not check whether a dashboard named "' + name + '" exists: ' + look.error);
      return;
    }
    if (look.taken) {
      // Nothing is being saved while the question waits for its answer.
      setSaveLabel(false);
      if (!(await confirmReplace(name))) return;
      setSaveLabel(true);
    }
  }
  const saved = await storeDashboard(name, rows);
  if (saved.error) {
    showSaveError(saved.error);
    return;
  }
  if (oldName !== null && oldName !== name) {
    const removed = await bridgeCall('deleteDashboardCpp', oldName);
    if (removed.error) {
      showSaveError('saved as "' + name + '", but the old dashboard "' + oldName + '" could not be removed: ' + removed.error);
      setEditingName(name);
      return;
    }
  }
  afterSave(name);
}

function openModal(build) {
  const overlay = document.createElement('div');
  overlay.className = 'dash-modal-overlay';
  const box = document.createElement('div');
  box.className = 'dash-modal';
  overlay.appendChild(box);
  build(box);
  document.body.appendChild(overlay);
  return () => overlay.remove();
}

function modalButton(id, text, cls, onClick) {
  const b = document.createElement('button');
  b.id = id;
  b.className = 'dash-btn ' + cls;
  b.textContent = text;
  b.addEventListener('click', onClick);
  return b;
}

function modalText(text) {
  const p = document.createElement('div');
  p.className = 'dash-modal-text';
  p.textContent = text;
  return p;
}

export function dashSaveAsNewDashboard() {
  const rows = layoutToSave();
  if (!rows) return;
  let input;
  let errorMsg = null;
  let close;
  const refuse = (message) => {
    input.style.borderColor = NOTE_RED;
    if (!message) return;
    if (!errorMsg) {
      errorMsg = document.createElement('p');
      errorMsg.className = 'error-msg';
      input.after(errorMsg);
    }
    errorMsg.textContent = message;
  };
  const confirm = async () => {
    const newName = input.value.trim();
    if (!newName) return refuse(null);
    if (dashState.saving) return undefined;
    markSaving(true);
    try {
      const look = await nameTaken(newName);
      if (look.error) return refuse('Could not check the stored dashboards: ' + look.error);
      if (look.taken) return refuse('A dashboard with this name already exists');
      close();
      const saved = await storeDashboard(newName, rows);
      if (saved.error) showSaveError(saved.error);
      else afterSave(newName);
    } finally {
      markSaving(false);
    }
    return undefined;
  };
  close = openModal((box) => {
    input = document.createElement('input');
    input.type = 'text';
    input.id = 'saveAsNameInput';
    input.placeholder = 'My Dashboard';
    input.addEventListener('keydown', (e) => {
      if (e.key === 'Enter') confirm();
      else if (e.key === 'Escape') close();
    });
    const actions = document.createElement('div');
    actions.className = 'dash-modal-actions';
    actions.append(
      modalButton('confirmSaveAsBtn', 'Save', 'dash-btn-primary', confirm),
      modalButton('cancelSaveAsBtn', 'Cancel', '', () => close())
    );
    box.append(modalText('Enter name for the new dashboard:'), input, actions);
  });
  input.focus();
}

export function dashDeleteDashboard() {
  const name = byId('dashboardDropdown').value;
  if (!name) return;
  const close = openModal((box) => {
    const actions = document.createElement('div');
    actions.className = 'dash-modal-actions';
    actions.append(
      modalButton('confirmDeleteBtn', 'Delete', 'dash-btn-danger', async () => {
        close();
        const removed = await bridgeCall('deleteDashboardCpp', name);
        // The dashboard is still stored: keep it shown rather than pretend it is gone.
        if (removed.error) {
          alert('Could not delete the dashboard: ' + removed.error);
          return;
        }
        await dashLoadDashboardList();
        byId('dashboardDropdown').value = '';
        dashLoadDashboard();
      }),
      modalButton('cancelDeleteBtn', 'Cancel', '', () => close())
    );
    box.append(modalText('Delete "' + name + '"?'), actions);
  });
}

function updatePathUI() {
  const display = byId('dashPathDisplay');
  display.textContent = dashState.pathToFiles || 'Not set';
  display.title = dashState.pathToFiles || '';
  const parquet = dashState.fileType === 'parquet';
  const on = parquet ? THEME.warning : THEME.secondary;
  byId('dashSwitchThumb').style.left = parquet ? '18px' : '2px';
  byId('dashFormatSwitch').style.background = on;
  byId('dashLabelCsv').style.color = parquet ? NOTE_GREY : on;
  byId('dashLabelParquet').style.color = parquet ? on : NOTE_GREY;
}

export async function dashChoosePath() {
  const reply = await bridgeCall('chooseFolderCpp');
  if (reply.error) alert('Could not choose a folder:\n' + reply.error);
  const path = typeof reply.value === 'string' ? reply.value : '';
  if (!path) return;
  setPathToFiles(path);
  updatePathUI();
  refreshAllCellPreviews();
  reloadOtherFilterDropdowns(null);
}

export function dashToggleFileType() {
  toggleFileType();
  updatePathUI();
  refreshAllCellPreviews();
  reloadOtherFilterDropdowns(null);
}

export function refreshAllCellPreviews() {
  document.querySelectorAll('.dash-cell').forEach((cell) => {
    if (cell.dataset.cellId) dashPreviewCell(Number(cell.dataset.cellId));
  });
}

export async function loadSavedQueries(callback) {
  const reply = await bridgeCall('getSavedQueriesCpp');
  if (reply.error) alert('Could not load the saved queries: ' + reply.error);
  setSavedQueries(reply.value);
  if (callback) callback();
}
