// Saved queries of the Query page: the searchable dropdown that loads a query into the
// editor, the delete button, and the save panel with its overwrite question.
import { bridgeCall } from '../common/bridge.js';
import { escapeHtml } from '../common/escape.js';
import { showQueryNotice } from './answer.js';

const SAVED_QUERIES_NO_SELECTION = '— Saved Queries —';
const SAVED_QUERIES_FOCUS_DELAY_MS = 50;

export let savedQueriesData = [];
export let selectedQueryName = '';
let savedQueriesLoadError = '';
// Name and SQL captured when the overwrite question was asked.
let savedQueryOverwrite = null;

function savedQueriesEl(id) {
  return document.getElementById(id);
}

function savedQueriesShow(id, display) {
  const el = savedQueriesEl(id);
  if (el) el.style.display = display;
}

// Only records with a text name can be listed and loaded; a hand-edited file may hold others.
function savedQueriesRecords(reply) {
  if (!Array.isArray(reply)) return [];
  return reply
    .filter((r) => r && typeof r === 'object' && typeof r.name === 'string')
    .map((r) => ({ name: r.name, sql: typeof r.sql === 'string' ? r.sql : '' }));
}

export async function loadSavedQueries() {
  const res = await bridgeCall('getSavedQueriesCpp');
  if (res.error) {
    savedQueriesLoadError = res.error;
  } else {
    savedQueriesLoadError = '';
    savedQueriesData = savedQueriesRecords(res.value);
  }
  renderSavedQueriesList('');
}

// A row names its record by index, so names and SQL of any characters reach selectSavedQuery
// unchanged; names are shown as text.
export function renderSavedQueriesList(searchText) {
  const list = savedQueriesEl('savedQueriesList');
  if (!list) return;
  const needle = String(searchText || '').toLowerCase();
  let html = '';
  if (savedQueriesLoadError) {
    html += '<div class="saved-queries-error">Could not load saved queries: ' + escapeHtml(savedQueriesLoadError) + '</div>';
  }
  let shown = 0;
  savedQueriesData.forEach((q, i) => {
    if (needle && !q.name.toLowerCase().includes(needle)) return;
    const selected = q.name === selectedQueryName;
    html +=
      '<div class="saved-query-row' +
      (selected ? ' selected' : '') +
      '" data-index="' +
      i +
      '"><span class="saved-query-name">' +
      escapeHtml(q.name) +
      '</span>' +
      (selected ? '<span class="saved-query-check">✓</span>' : '') +
      '</div>';
    shown++;
  });
  if (!shown) html += '<div class="saved-queries-empty">No queries found</div>';
  list.innerHTML = html;
}

function toggleSavedQueriesDropdown(event) {
  if (event) {
    event.stopPropagation();
    event.preventDefault();
  }
  const menu = savedQueriesEl('savedQueriesDropdownMenu');
  if (!menu) return;
  if (menu.style.display === 'block') {
    menu.style.display = 'none';
    return;
  }
  menu.style.display = 'block';
  const search = savedQueriesEl('savedQueriesSearch');
  if (search) search.value = '';
  renderSavedQueriesList('');
  setTimeout(() => {
    if (search) search.focus();
  }, SAVED_QUERIES_FOCUS_DELAY_MS);
}

function filterSavedQueries(text) {
  renderSavedQueriesList(text);
}


export function selectSavedQuery(name, sql) {
  selectedQueryName = name;
  const label = savedQueriesEl('savedQueriesDropdownLabel');
  if (label) label.textContent = name || SAVED_QUERIES_NO_SELECTION;
  savedQueriesShow('savedQueriesDropdownMenu', 'none');
  const input = savedQueriesEl('queryInput');
  if (input) input.value = sql;
  savedQueriesShow('deleteQueryBtn', name ? 'inline-flex' : 'none');
  renderSavedQueriesList('');
}

function clearSavedQuerySelection() {
  selectedQueryName = '';
  const label = savedQueriesEl('savedQueriesDropdownLabel');
  if (label) label.textContent = SAVED_QUERIES_NO_SELECTION;
  savedQueriesShow('deleteQueryBtn', 'none');
  renderSavedQueriesList('');
}

export async function deleteSavedQuery() {
  if (!selectedQueryName) return;
  const res = await bridgeCall('deleteQueryCpp', selectedQueryName);
  if (res.error) {
    alert('Could not delete the query: ' + res.error);
  } else {
    clearSavedQuerySelection();
  }
  await loadSavedQueries();
}

// A store failure during saving shows in red inside the save panel, which stays open.
function savedQueriesSaveError(text) {
  const panel = savedQueriesEl('saveQueryPanel');
  if (!panel) return;
  let box = savedQueriesEl('saveQueryError');
  if (!box) {
    if (!text) return;
    box = document.createElement('div');
    box.id = 'saveQueryError';
    panel.appendChild(box);
  }
  box.textContent = text ? 'Could not save the query: ' + text : '';
  box.style.display = text ? 'block' : 'none';
}

export function promptSaveQuery() {
  savedQueriesShow('saveQueryPanel', 'flex');
  const field = savedQueriesEl('saveQueryName');
  if (field) field.focus();
}

export async function confirmSaveQuery() {
  const field = savedQueriesEl('saveQueryName');
  const name = field ? field.value.trim() : '';
  if (!name) return;
  const input = savedQueriesEl('queryInput');
  const sql = input ? input.value.trim() : '';
  savedQueriesShow('overwriteConfirm', 'none');
  savedQueriesSaveError('');
  const list = await bridgeCall('getSavedQueriesCpp');
  if (list.error) {
    savedQueriesSaveError(list.error);
    return;
  }
  if (savedQueriesRecords(list.value).some((q) => q.name === name)) {
    showOverwriteConfirm(name, sql);
    return;
  }
  await savedQueriesStore(name, sql);
}

// A stored query is the one the menu then shows as selected, and the page says it was saved.
async function savedQueriesStore(name, sql) {
  const res = await bridgeCall('saveQueryCpp', name, sql);
  if (res.error) savedQueriesSaveError(res.error);
  else cancelSaveQuery();
  await loadSavedQueries();
  if (res.error) return;
  markSavedQuerySelected(name);
  showQueryNotice('Saved query "' + name + '"');
}

function markSavedQuerySelected(name) {
  selectedQueryName = name;
  const label = savedQueriesEl('savedQueriesDropdownLabel');
  if (label) label.textContent = name;
  savedQueriesShow('deleteQueryBtn', 'inline-flex');
  renderSavedQueriesList('');
}

// Also drops a pending overwrite question and an old error, so neither comes back with the
// next opening of the panel.
export function cancelSaveQuery() {
  savedQueriesShow('saveQueryPanel', 'none');
  const field = savedQueriesEl('saveQueryName');
  if (field) field.value = '';
  savedQueriesShow('overwriteConfirm', 'none');
  savedQueryOverwrite = null;
  savedQueriesSaveError('');
  clearSavedQuerySelection();
  savedQueriesShow('saveQueryBtn', 'none');
}

function showOverwriteConfirm(name, sql) {
  const panel = savedQueriesEl('saveQueryPanel');
  if (!panel) return;
  let box = savedQueriesEl('overwriteConfirm');
  if (!box) {
    box = document.createElement('div');
    box.id = 'overwriteConfirm';
    box.addEventListener('click', (e) => {
      if (e.target.closest('.overwrite-yes')) doOverwrite();
      else if (e.target.closest('.overwrite-no')) cancelOverwrite();
    });
    panel.appendChild(box);
  }
  savedQueryOverwrite = { name, sql };
  box.innerHTML =
    '<span>A query named</span><b>"' +
    escapeHtml(name) +
    '"</b><span>already exists. Overwrite?</span>' +
    '<button class="overwrite-yes">Overwrite</button>' +
    '<button class="overwrite-no">Cancel</button>';
  box.style.display = 'flex';
}

export async function doOverwrite() {
  const pending = savedQueryOverwrite;
  if (!pending) return;
  savedQueriesShow('overwriteConfirm', 'none');
  savedQueryOverwrite = null;
  await savedQueriesStore(pending.name, pending.sql);
}

function cancelOverwrite() {
  savedQueriesShow('overwriteConfirm', 'none');
  savedQueryOverwrite = null;
}

export function bindSavedQueries() {
  const on = (id, type, fn) => savedQueriesEl(id).addEventListener(type, fn);
  on('savedQueriesDropdownBtn', 'click', toggleSavedQueriesDropdown);
  on('savedQueriesSearch', 'input', (e) => filterSavedQueries(e.target.value));
  on('savedQueriesSearch', 'click', (e) => e.stopPropagation());
  on('savedQueriesList', 'click', (e) => {
    const row = e.target.closest('.saved-query-row');
    const q = row && savedQueriesData[Number(row.dataset.index)];
    if (q) selectSavedQuery(q.name, q.sql);
  });
  on('deleteQueryBtn', 'click', deleteSavedQuery);
  on('saveQueryBtn', 'click', promptSaveQuery);
  on('saveQueryName', 'keydown', (e) => {
    if (e.key === 'Enter') confirmSaveQuery();
    else if (e.key === 'Escape') cancelSaveQuery();
  });
  savedQueriesEl('saveQueryPanel').querySelector('.save-confirm').addEventListener('click', confirmSaveQuery);
  savedQueriesEl('saveQueryPanel').querySelector('.save-cancel').addEventListener('click', cancelSaveQuery);
  document.addEventListener('click', (e) => {
    const container = savedQueriesEl('savedQueriesDropdownContainer');
    if (container && !container.contains(e.target)) savedQueriesShow('savedQueriesDropdownMenu', 'none');
  });
}
