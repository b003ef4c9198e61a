// The dashboard list and lifecycle: choose, show, create, edit, save, save as, delete, and the
// dashboard's own data folder and file type.

const RED_BORDER = '#f38ba8';

// Every opening and closing of the editor takes the next turn. Filling the editor waits for
// bridge answers; a fill whose turn has passed is dropped, so a double click fills the editor
// once and a closed editor is never filled.
let editorTurn = 0;

function byId(id) {
  return document.getElementById(id);
}

function setShown(id, shown, display) {
  const el = byId(id);
  if (el) el.style.display = shown ? display || '' : 'none';
}

async function fetchDashboards() {
  const reply = await bridgeCall('getDashboardsCpp');
  if (reply.error) alert('Could not load the dashboards: ' + reply.error);
  return Array.isArray(reply.value) ? reply.value.filter((d) => d && typeof d.name === 'string') : [];
}

async function findDashboard(name) {
  return (await fetchDashboards()).find((d) => d.name === name) || null;
}

window.dashLoadDashboardList = async function (callback) {
  const list = await fetchDashboards();
  const dropdown = byId('dashboardDropdown');
  dropdown.textContent = '';
  dropdown.add(new Option('— Select Dashboard —', ''));
  for (const d of list) dropdown.add(new Option(d.name, d.name));
  dropdown.value = '';
  if (callback) callback();
};

function selectDashboard(name) {
  window.dashLoadDashboardList(() => {
    byId('dashboardDropdown').value = name;
    window.dashLoadDashboard();
  });
}

// What each shown filter loads: the value lists, and the date ranges its calendars open in.
function loadFilterValues() {
  reloadOtherFilterDropdowns(null);
}

window.dashLoadDashboard = async function () {
  const name = byId('dashboardDropdown').value;
  window.dashHideCreatePanel(true);
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
  setShown('filterBarEdit', false);
  renderDashboardPreview(record);
  showPreviewFilters();
  loadFilterValues();
};

function openEditor(name) {
  setShown('createPanel', true);
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

window.dashShowCreatePanel = function () {
  startNewDashboard();
  const turn = ++editorTurn;
  openEditor('');
  renderActiveFilters();
  loadSavedQueries(() => {
    if (turn === editorTurn) window.dashAddRow();
  });
};

window.dashEditDashboard = async function () {
  const name = byId('dashboardDropdown').value;
  if (!name) return;
  // The editor opened or closed while the record was on its way: that later act stands.
  const asked = editorTurn;
  const record = await findDashboard(name);
  if (!record || asked !== editorTurn) return;
  const turn = ++editorTurn;
  setEditingName(name);
  takeDashboard(record, false);
  openEditor(record.name);
  const rows = readRecordArray(record.layout);
  loadSavedQueries(() => {
    if (turn !== editorTurn) return;
    if (!rows.length) window.dashAddRow();
    else for (const row of rows) addRowWithCells(row && Array.isArray(row.cells) ? row.cells : []);
    setFilters(record.filters);
    renderActiveFilters();
    collectDashboardSchema(record, () => {
      if (turn !== editorTurn) return;
      setShown('filterBarEdit', dashState.schema.some((c) => c && (isTextType(c.type) || isDateType(c.type))));
      loadFilterValues();
    });
  });
};

window.dashHideCreatePanel = function (skipReload) {
  editorTurn++;
  setEditingName(null);
  setShown('createPanel', false);
  setShown('dashboardPreview', true, 'flex');
  setShown('filterBarEdit', false);
  if (skipReload !== true && byId('dashboardDropdown').value) window.dashLoadDashboard();
};

function showSaveError(text) {
  const box = byId('dashSaveError');
  box.textContent = 'Could not save the dashboard: ' + text;
  box.style.display = 'block';
}

// The layout as Save stores it, or null when no row holds a cell.
function layoutToSave() {
  const rows = collectEditorRows();
  return rows.some((r) => r.cells && r.cells.length) ? rows : null;
}

async function storeDashboard(name, rows) {
  return bridgeCall(
    'saveDashboardCpp',
    name,
    JSON.stringify(rows),
    JSON.stringify(dashState.filters),
    dashState.pathToFiles,
    dashState.fileType
  );
}

// After a confirmed save the editor closes and the stored dashboard is shown.
function afterSave(name) {
  setEditingName(null);
  window.dashHideCreatePanel();
  selectDashboard(name);
}

window.dashSaveDashboard = async function () {
  const nameField = byId('dashboardName');
  const name = nameField.value.trim();
  const rows = layoutToSave();
  if (!name) {
    nameField.style.borderColor = RED_BORDER;
    return;
  }
  if (!rows) return;
  nameField.style.borderColor = '';
  // A rename stores the new record before removing the old one, so a failed write loses nothing.
  const oldName = dashState.editingName;
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
};

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

window.dashSaveAsNewDashboard = function () {
  const rows = layoutToSave();
  if (!rows) return;
  let input;
  let errorMsg = null;
  let close;
  const refuse = (message) => {
    input.style.borderColor = RED_BORDER;
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
    if ((await fetchDashboards()).some((d) => d.name === newName)) {
      return refuse('A dashboard with this name already exists');
    }
    close();
    const saved = await storeDashboard(newName, rows);
    if (saved.error) showSaveError(saved.error);
    else afterSave(newName);
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
};

window.dashDeleteDashboard = function () {
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
        await window.dashLoadDashboardList();
        byId('dashboardDropdown').value = '';
        window.dashLoadDashboard();
      }),
      modalButton('cancelDeleteBtn', 'Cancel', '', () => close())
    );
    box.append(modalText('Delete "' + name + '"?'), actions);
  });
};

function updatePathUI() {
  const display = byId('dashPathDisplay');
  display.textContent = dashState.pathToFiles || 'Not set';
  display.title = dashState.pathToFiles || '';
  const parquet = dashState.fileType === 'parquet';
  const on = parquet ? '#fab387' : '#89b4fa';
  byId('dashSwitchThumb').style.left = parquet ? '18px' : '2px';
  byId('dashFormatSwitch').style.background = on;
  byId('dashLabelCsv').style.color = parquet ? '#6c7086' : on;
  byId('dashLabelParquet').style.color = parquet ? on : '#6c7086';
}

window.dashChoosePath = async function () {
  const reply = await bridgeCall('chooseFolderCpp');
  if (reply.error) alert('Could not choose a folder:\n' + reply.error);
  const path = typeof reply.value === 'string' ? reply.value : '';
  if (!path) return;
  setPathToFiles(path);
  updatePathUI();
  refreshAllCellPreviews();
  reloadOtherFilterDropdowns(null);
};

window.dashToggleFileType = function () {
  toggleFileType();
  updatePathUI();
  refreshAllCellPreviews();
  reloadOtherFilterDropdowns(null);
};

function refreshAllCellPreviews() {
  document.querySelectorAll('.dash-cell').forEach((cell) => {
    if (cell.dataset.cellId) window.dashPreviewCell(Number(cell.dataset.cellId));
  });
}

async function loadSavedQueries(callback) {
  const reply = await bridgeCall('getSavedQueriesCpp');
  if (reply.error) alert('Could not load the saved queries: ' + reply.error);
  setSavedQueries(reply.value);
  if (callback) callback();
}
