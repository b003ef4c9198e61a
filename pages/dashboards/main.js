// The Dashboards page's entry: binds the page's events, and publishes on window the operations
// that outside code and checks call, each a thin alias of a module function.
import { clearChartClickFilter } from './click_filter.js';
import {
  bindEditor,
  dashAddCell,
  dashAddRow,
  dashAdjustWidth,
  dashFilterQueryDropdown,
  dashMoveCellLeft,
  dashMoveCellRight,
  dashMoveRowDown,
  dashMoveRowUp,
  dashPreviewCell,
  dashRemoveCell,
  dashRemoveRow,
  dashSelectQuery,
  dashToggleQueryDropdown,
  EDITOR_ACTIONS,
} from './editor.js';
import {
  addFilterFromMenu,
  addFilterOf,
  bindFilterMenu,
  filterActions,
  removeFilterOf,
  toggleFilterMenu,
  updateTextFilter,
} from './filters.js';
import {
  dashChoosePath,
  dashDeleteDashboard,
  dashEditDashboard,
  dashHideCreatePanel,
  dashLoadDashboard,
  dashLoadDashboardList,
  dashSaveAsNewDashboard,
  dashSaveDashboard,
  dashShowCreatePanel,
  dashToggleFileType,
} from './lifecycle.js';
import {
  bindPickers,
  calendarMonth,
  calendarMonthView,
  calendarYear,
  clearDate,
  clearDateFilter,
  clearMultiSelect,
  filterMultiSelect,
  moveCalendar,
  openCalendar,
  selectDate,
  selectToday,
  toggleMultiSelect,
  toggleMultiSelectOption,
} from './pickers.js';
import { keepEmptyPreview, reloadPanel } from './preview.js';
import { dashState, freeHeldAnswers } from './state.js';
import { dashPaginatedGo, downloadDashPaginatedCsv, TABLE_ACTIONS } from './tables.js';

// Clicks, changes and input on an element carrying data-click, data-change or data-input run the
// action of that name with the element and the event; "stop" only keeps a click from going on.
function delegate(root, type, actions) {
  const attr = 'data-' + type;
  root.addEventListener(type, (e) => {
    const el = e.target instanceof Element ? e.target.closest('[' + attr + ']') : null;
    if (!el || !root.contains(el)) return;
    const name = el.getAttribute(attr);
    if (name === 'stop') e.stopPropagation();
    else if (Object.prototype.hasOwnProperty.call(actions, name)) actions[name](el, e);
  });
}

const PAGE_ACTIONS = {
  dashLoadDashboard: () => dashLoadDashboard(),
  dashEditDashboard: () => dashEditDashboard(),
  dashDeleteDashboard: () => dashDeleteDashboard(),
  dashShowCreatePanel: () => dashShowCreatePanel(),
  dashChoosePath: () => dashChoosePath(),
  dashToggleFileType: () => dashToggleFileType(),
  dashSaveDashboard: () => dashSaveDashboard(),
  dashSaveAsNewDashboard: () => dashSaveAsNewDashboard(),
  dashHideCreatePanel: () => dashHideCreatePanel(),
  dashAddRow: () => dashAddRow(),
  dashReloadPanel: (el) => reloadPanel(el),
};

const ACTIONS = { ...PAGE_ACTIONS, ...EDITOR_ACTIONS, ...filterActions(), ...TABLE_ACTIONS };

keepEmptyPreview();
const root = document.getElementById('dashboardsPage');
for (const type of ['click', 'change', 'input']) delegate(root, type, ACTIONS);
bindFilterMenu();
bindPickers();
bindEditor();
window.addEventListener('pagehide', freeHeldAnswers);

Object.assign(window, {
  dashLoadDashboardList,
  dashLoadDashboard,
  dashShowCreatePanel,
  dashEditDashboard,
  dashHideCreatePanel,
  dashSaveDashboard,
  dashSaveAsNewDashboard,
  dashDeleteDashboard,
  dashChoosePath,
  dashToggleFileType,
  dashAddRow,
  dashAddCell,
  dashRemoveRow,
  dashRemoveCell,
  dashMoveRowUp,
  dashMoveRowDown,
  dashMoveCellLeft,
  dashMoveCellRight,
  dashAdjustWidth,
  dashToggleQueryDropdown,
  dashFilterQueryDropdown,
  dashSelectQuery,
  dashPreviewCell,
  dashToggleFilterMenu: toggleFilterMenu,
  dashAddFilterFromMenu: addFilterFromMenu,
  dashAddFilter: addFilterOf,
  dashUpdateFilter: (column, value) => updateTextFilter(column, value, 'edit'),
  dashUpdateFilterPreview: (column, value) => updateTextFilter(column, value, 'preview'),
  dashRemoveFilter: removeFilterOf,
  dashOpenCalendar: openCalendar,
  dashCalendarPrev: () => moveCalendar(-1),
  dashCalendarNext: () => moveCalendar(1),
  dashCalendarMonthView: calendarMonthView,
  dashCalendarYear: calendarYear,
  dashCalendarMonth: calendarMonth,
  dashSelectDate: selectDate,
  dashSelectToday: selectToday,
  dashClearDate: clearDate,
  dashClearDateFilter: clearDateFilter,
  dashToggleMultiSelect: toggleMultiSelect,
  dashFilterMultiSelect: filterMultiSelect,
  dashToggleMultiSelectOption: toggleMultiSelectOption,
  dashClearMultiSelect: clearMultiSelect,
  dashPaginatedGo,
  downloadDashPaginatedCsv,
  clearChartClickFilter,
});
// The chart click's condition and selection belong to the page state; window only reads them.
Object.defineProperty(window, 'chartClickFilter', { get: () => dashState.clickFilter, configurable: true });
Object.defineProperty(window, 'chartSelection', { get: () => dashState.selection, configurable: true });

// Page start: the dropdown lists the stored dashboards and nothing is selected.
dashLoadDashboardList();
