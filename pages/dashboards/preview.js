// The shown dashboard: title, the preview filter bar, and one panel per layout cell, each
// filled with its saved query's answer.
import { bridgeCall } from '../common/bridge.js';
import { chartType, isChartType } from '../common/chart_types.js';
import { engineErrorHtml, mapEngineError } from '../common/engine_error.js';
import { escapeHtml } from '../common/escape.js';
import { freeHeld } from '../common/held.js';
import { loadHeldChart } from '../common/held_chart.js';
import { hasAggregation, sqlPieces } from '../common/sql.js';
import { unreadableNoteText } from '../common/unreadable.js';
import { renderChart } from './charts.js';
import { showChartFilterIndicator, showClickReason } from './click_filter.js';
import { parseQueryForClickFilters } from './click_rules.js';
import { clickPiece, filterPieces, notFilteredText, runWithPieces, sqlWithPieces } from './conditions.js';
import { dashboardSql } from './filters.js';
import { cellFlex, DASH_PAGE_SIZE, loadingBarHtml, NOTE_GREY, NOTE_RED, noteHtml, readRecordArray } from './rules.js';
import {
  dashState,
  endWork,
  holdAsWork,
  isCurrentWork,
  pagedTable,
  queryAsWork,
  setPagedSqlWithDropdown,
  startWork,
  tookOverWork,
  unreadableOf,
} from './state.js';
import { renderPaginatedTable } from './tables.js';

export const PANEL_LOADING_WIDTH = 100;

// The note under a panel or editor preview whose answer left out folders it could not read, as
// the Query page shows it; kept beside the content, so page turns of a table leave it in place.
export function showUnreadable(contentEl, panelKey) {
  const paths = unreadableOf(panelKey);
  let note = contentEl.nextElementSibling;
  if (!note || !note.classList.contains('panel-unreadable')) note = null;
  if (!paths.length) {
    if (note) note.remove();
    return;
  }
  if (!note) {
    note = document.createElement('div');
    note.className = 'panel-unreadable';
    note.setAttribute('role', 'note');
    contentEl.after(note);
  }
  note.textContent = unreadableNoteText(paths, dashState.pathToFiles);
  note.title = paths.join('\n');
}

function panelHtml(cell, r, c) {
  const flex = cellFlex(cell);
  const title = cell && cell.name ? String(cell.name) : 'Untitled';
  return (
    '<div class="preview-panel" data-row="' + r + '" data-col="' + c + '" style="flex:' + flex + ' 1 0;' +
    'max-width:calc(' + flex + ' / 12 * 100% - 24px)">' +
    '<div class="preview-panel-header"><span class="dash-panel-title">' + escapeHtml(title) + '</span>' +
    '<span class="dash-panel-note"></span></div>' +
    '<div class="panel-content">' + loadingBarHtml(PANEL_LOADING_WIDTH) + '</div></div>'
  );
}

export function renderDashboardPreview(dashboard) {
  const rows = readRecordArray(dashboard && dashboard.layout);
  let body = '';
  rows.forEach((row, r) => {
    const cells = row && Array.isArray(row.cells) ? row.cells : [];
    body += '<div class="dash-preview-row">' + cells.map((cell, c) => panelHtml(cell, r, c)).join('') + '</div>';
  });
  const preview = document.getElementById('dashboardPreview');
  preview.innerHTML =
    '<div class="dash-title-row"><div class="dash-title">' + escapeHtml(dashboard && dashboard.name) + '</div>' +
    '<div id="chartFilterIndicator" style="display:none"></div></div>' +
    '<div id="filterBarPreview" style="display:none"><div class="dash-filter-wrap">' +
    '<div id="activeFiltersPreview"></div></div></div>' +
    '<div class="dash-body">' + body + '</div>';
  preview.classList.add('dash-shown');
  showChartFilterIndicator();

  preview.querySelectorAll('.preview-panel').forEach((panel) => {
    const r = Number(panel.dataset.row);
    const c = Number(panel.dataset.col);
    const cell = rows[r].cells[c] || {};
    const content = panel.querySelector('.panel-content');
    if (cell.query) {
      loadPanelData(content, String(cell.query), cell.chartType || 'table', 'preview-' + r + '-' + c);
    } else {
      content.innerHTML = noteHtml('No query', NOTE_GREY);
    }
  });
}

// Loads every panel of the shown dashboard anew but the one of skipKey, leaving the title and
// filter bar alone.
export function reloadPanels(skipKey) {
  const preview = document.getElementById('dashboardPreview');
  const rows = readRecordArray(dashState.dashboard && dashState.dashboard.layout);
  if (!preview || dashState.editing) return;
  preview.querySelectorAll('.preview-panel').forEach((panel) => reloadPanelOf(panel, rows, skipKey));
}

function reloadPanelOf(panel, rows, skipKey) {
  const r = Number(panel.dataset.row);
  const c = Number(panel.dataset.col);
  const key = 'preview-' + r + '-' + c;
  const cell = rows[r] && Array.isArray(rows[r].cells) ? rows[r].cells[c] : null;
  const content = panel.querySelector('.panel-content');
  if (key === skipKey || !cell || !cell.query || !content) return;
  content.innerHTML = loadingBarHtml(PANEL_LOADING_WIDTH);
  loadPanelData(content, String(cell.query), cell.chartType || 'table', key);
}

// The panel holding `el` loaded anew: a table whose held answer was freed runs again.
export function reloadPanel(el) {
  const panel = el.closest('.preview-panel');
  if (panel && !dashState.editing) reloadPanelOf(panel, readRecordArray(dashState.dashboard && dashState.dashboard.layout), null);
}

// The note beside a panel's title naming the conditions it is drawn without.
function setPanelNote(el, names, shown) {
  const panel = el.closest('.preview-panel');
  const note = panel && panel.querySelector('.dash-panel-note');
  if (!note) return;
  note.textContent = [notFilteredText(names), shown || ''].filter(Boolean).join(' · ');
  note.title = names.length ? 'This panel\'s data has no column ' + names.join(', ') + ', so it shows all of its rows' : '';
}

// The empty state of the markup, kept at start to put back when nothing is selected.
let emptyPreviewHtml = '';

export function keepEmptyPreview() {
  emptyPreviewHtml = document.getElementById('dashboardPreview').innerHTML;
}

export function showEmptyPreview() {
  const preview = document.getElementById('dashboardPreview');
  preview.classList.remove('dash-shown');
  preview.innerHTML = emptyPreviewHtml;
}

// The conditions of a panel: the dashboard's filters, and the click unless the panel is the
// chart clicked, which keeps all of its elements.
function panelPieces(panelKey) {
  const pieces = filterPieces(dashState.filters);
  const click = dashState.click;
  const piece = click && click.source !== panelKey ? clickPiece(click) : null;
  return piece ? pieces.concat([piece]) : pieces;
}

// The work of `key` run with as many of the pieces as its data can take ({ reply, sql, dropped }
// as runWithPieces answers), ended with its answer; null when newer work took the key. With
// `hold`, the answer is held natively (holdAsWork).
export async function queryWithPieces(key, tag, sql, pieces, hold) {
  const run = hold ? (s) => holdAsWork(key, tag, s) : (s) => queryAsWork(key, tag, s, true);
  const ran = await runWithPieces(sql, pieces, run, (r) => r.error);
  if (ran) endWork(key, tag);
  return ran;
}

// Whether the panel key's table still draws in this element (no newer load replaced it).
function isCurrentTable(el, panelKey) {
  const table = pagedTable(panelKey);
  return !!table && table.el === el && el.isConnected;
}

// A panel is a paged table unless its query aggregates, so no panel loads a whole table.
// Loading is the work of the panel key: a newer load of the panel stops this one's engine run.
export async function loadPanelData(el, queryName, type, panelKey) {
  const tag = startWork(panelKey);
  showClickReason(el, null);
  const listed = await bridgeCall('getSavedQueriesCpp');
  if (!isCurrentWork(panelKey, tag)) return;
  if (listed.error) {
    endWork(panelKey, tag);
    el.innerHTML = noteHtml('Error loading data: ' + listed.error, NOTE_RED, '0.75rem');
    return;
  }
  const queries = listed.value;
  const query = Array.isArray(queries) ? queries.find((q) => q && q.name === queryName) : null;
  if (!query) {
    endWork(panelKey, tag);
    el.innerHTML = noteHtml('Query not found', NOTE_RED);
    return;
  }
  const stored = String(query.sql == null ? '' : query.sql);
  // The dashboard's own folder and file type stand for the path variable, then the conditions go in.
  const base = dashboardSql(stored);
  const pieces = panelPieces(panelKey);
  setPanelNote(el, []);
  if (!hasAggregation(stored) || (chartType(type) && chartType(type).paged)) {
    endWork(panelKey, tag);
    const without = await renderPaginatedTable(el, base, 1, DASH_PAGE_SIZE, false, panelKey, pieces);
    if (!without) return;
    setPanelNote(el, without);
    setPagedSqlWithDropdown(panelKey, sqlWithPieces(base, pieces.filter((p) => !p.click && !without.includes(p.name))));
    if (isCurrentTable(el, panelKey)) showUnreadable(el, panelKey);
    return;
  }
  const clickMeta = parseQueryForClickFilters(stored);
  // A whole table or a chart may be long: the answer is held natively and the table fetches its
  // rows as they come into sight, a chart what it can show.
  const ran = await queryWithPieces(panelKey, tag, base, pieces, type === 'table' || isChartType(type));
  if (!ran) return;
  let res = ran.reply;
  let shown = '';
  if (isChartType(type) && !res.error && res.value && typeof res.value.answer === 'string') {
    const held = res.value;
    const loaded = await loadHeldChart(held, type);
    // The chart keeps what it fetched; the answer itself is not needed any more.
    freeHeld(held.answer);
    if (tookOverWork(panelKey, tag) || !el.isConnected) return;
    res = loaded.error ? loaded : { value: loaded.value.result };
    if (!loaded.error && loaded.value.result !== held) shown = loaded.value.note;
  }
  showUnreadable(el, panelKey);
  const result = res.value;
  setPanelNote(el, ran.dropped, shown);
  if (res.error) {
    el.innerHTML = engineErrorHtml(mapEngineError(res.error, sqlPieces([{ text: ran.sql, at: 0 }]), ran.sql), 'dash-engine-error');
  } else if (!result || !Array.isArray(result.rows) || !result.rows.length) {
    el.innerHTML = noteHtml('No data', NOTE_GREY);
  } else {
    renderChart(el, result, type, false, clickMeta, panelKey);
    if (isChartType(type)) showClickReason(el, clickMeta);
  }
}
