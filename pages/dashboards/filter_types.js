// The filter types: one entry per kind, with everything the page does differently for it. A
// type says which columns its menu section offers (`takes`) and whether such a column shows the
// editor's filter bar (`showsBar`); a variant (multiselect) is offered as a checkbox on its base
// type's menu rows. `create` gives the keys a new filter gets after column, type and value,
// `condition` its SQL on the quoted column (null without a value), `load` what it loads once
// shown, `fill` how its value list arrives, `draw` its control in a bar, and `actions` what the
// control's elements do (by their data-click, data-change or data-input name).
import { escapeHtml } from '../common/escape.js';
import { sqlString } from '../common/sql.js';
import { dateButtonLabel, multiButtonLabel } from './filter_rules.js';
import { attrText, fillTextSelects, loadDateRange, loadDistinctValues, searchValues, updateTextFilter } from './filters.js';
import {
  clearDateFilter,
  clearMultiSelect,
  fillMultiLists,
  openCalendar,
  showMultiUnavailable,
  toggleMultiSelect,
  typeMultiSearch,
} from './pickers.js';
import { isDateType, isTextType, sanitizeId } from './rules.js';
import { FILTER_END_WORDS, spliceSqlCondition, sqlIdentifier } from './sql_splice.js';

// A calendar picks days, so a column holding only a time of day gets no date filter: any day
// compared with it is an engine error in every panel.
function isCalendarType(type) {
  return isDateType(type) && /DATE|TIMESTAMP/.test(String(type).toUpperCase());
}

function removeButtonHtml(mode) {
  if (mode !== 'edit') return '';
  return '<button type="button" class="filter-remove-btn" title="Remove filter" data-click="dashRemoveFilter">🗑️</button>';
}

function textControlHtml(f, mode) {
  return (
    '<select id="filter-select-' + mode + '-' + attrText(f.column) + '" class="filter-select" data-change="dashUpdateFilter">' +
    '<option value="">Loading...</option></select>' +
    '<input type="search" class="value-search filter-value-search" placeholder="Search..." aria-label="Search the values" ' +
    'style="display:none" data-input="dashSearchValues">' +
    '<span id="filter-count-' + mode + '-' + sanitizeId(f.column) + '" class="filter-count"></span>' + removeButtonHtml(mode)
  );
}

function multiControlHtml(f, mode) {
  const sid = mode + '-' + sanitizeId(f.column);
  const values = Array.isArray(f.values) ? f.values : [];
  return (
    '<button type="button" id="multiselect-btn-' + sid + '" class="multiselect-btn" title="' + attrText(values.join(', ')) +
    '" data-click="dashToggleMultiSelect">' + escapeHtml(multiButtonLabel(values)) + '</button>' +
    '<div id="multiselect-dropdown-' + sid + '" class="multiselect-dropdown" style="display:none">' +
    '<input type="text" id="multiselect-search-' + sid + '" class="multiselect-search value-search" placeholder="Search..." ' +
    'data-input="dashFilterMultiSelect">' +
    '<div id="multiselect-list-' + sid + '" class="multiselect-list"><div class="multiselect-note">Loading...</div></div></div>' +
    '<span id="multiselect-count-' + sid + '" class="filter-count"></span>' +
    '<button type="button" class="filter-clear-btn" title="Clear all" data-click="dashClearMultiSelect">×</button>' +
    removeButtonHtml(mode)
  );
}

function dateButtonHtml(f, mode, field) {
  return (
    '<button type="button" id="date-picker-' + field + '-' + mode + '-' + sanitizeId(f.column) +
    '" class="date-picker-btn date-picker-' + field + '" data-click="dashOpenCalendar" data-field="' + field + '">' +
    '<span class="date-icon">📅</span><span class="date-text">' + escapeHtml(dateButtonLabel(f[field], field)) +
    '</span></button>'
  );
}

function dateControlHtml(f, mode) {
  return (
    dateButtonHtml(f, mode, 'from') + '<span class="date-sep">to</span>' + dateButtonHtml(f, mode, 'to') +
    '<button type="button" class="filter-clear-btn" title="Clear dates" data-click="dashClearDateFilter">×</button>' +
    removeButtonHtml(mode)
  );
}

export const FILTER_TYPES = {
  text: {
    heading: 'Text Fields',
    takes: isTextType,
    showsBar: isTextType,
    create: () => ({}),
    condition: (col, f) => (f.value != null && f.value !== '' ? col + ' = ' + sqlString(f.value) : null),
    load: (f) => loadDistinctValues(f.column),
    fill: (column, f, list, error, modes) => fillTextSelects(column, list, f.value, error, modes),
    draw: textControlHtml,
    actions: {
      dashUpdateFilter: (column, mode, el) => updateTextFilter(column, el.value, mode),
      dashSearchValues: (column, mode) => searchValues(column, mode),
    },
  },
  multiselect: {
    variantOf: 'text',
    variantLabel: 'Multi',
    takes: isTextType,
    showsBar: isTextType,
    create: () => ({ values: [] }),
    condition: (col, f) =>
      Array.isArray(f.values) && f.values.length ? col + ' IN (' + f.values.map((v) => sqlString(v)).join(', ') + ')' : null,
    load: (f) => loadDistinctValues(f.column),
    fill: (column, f, list, error, modes) =>
      error ? showMultiUnavailable(column, error, modes) : fillMultiLists(column, f, list, modes),
    draw: multiControlHtml,
    actions: {
      dashToggleMultiSelect: (column, mode, el, event) => toggleMultiSelect(column, mode, event),
      dashFilterMultiSelect: (column, mode, el) => typeMultiSearch(column, mode, el.value),
      dashClearMultiSelect: (column, mode, el, event) => clearMultiSelect(column, mode, event),
    },
  },
  date: {
    heading: 'Date Fields',
    takes: isCalendarType,
    // A time-of-day column shows the bar too, though its menu section offers no filter for it.
    showsBar: isDateType,
    create: () => ({ from: null, to: null }),
    condition: (col, f) => {
      const parts = [];
      if (f.from) parts.push(col + ' >= ' + sqlString(f.from));
      // Before the next day rather than <= the day itself: a timestamp later that day is in range.
      if (f.to) parts.push(col + ' < CAST(' + sqlString(f.to) + ' AS DATE) + 1');
      return parts.length ? parts.join(' AND ') : null;
    },
    load: (f) => loadDateRange(f.column),
    fill: null,
    draw: dateControlHtml,
    actions: {
      dashOpenCalendar: (column, mode, el, event) => openCalendar(column, mode, el.dataset.field, event),
      dashClearDateFilter: (column, mode) => clearDateFilter(column, mode),
    },
  },
};

export function isFilterType(type) {
  return Object.prototype.hasOwnProperty.call(FILTER_TYPES, type);
}

export function filterType(f) {
  return f && typeof f.column === 'string' && isFilterType(f.type) ? FILTER_TYPES[f.type] : null;
}

export function newFilter(column, type) {
  return Object.assign({ column, type, value: null }, FILTER_TYPES[type].create());
}

// The menu's sections, in registry order: each base type with the variants offered on its rows.
export function filterMenuSections() {
  const ids = Object.keys(FILTER_TYPES);
  return ids
    .filter((id) => !FILTER_TYPES[id].variantOf)
    .map((id) => ({ type: id, heading: FILTER_TYPES[id].heading, variants: ids.filter((v) => FILTER_TYPES[v].variantOf === id) }));
}

// The schema's columns that the menu offers, per section in schema order, leaving out those
// that already have a filter.
export function filterableColumns(schema, filters) {
  const taken = new Set((filters || []).map((f) => f && f.column));
  const sections = {};
  for (const { type } of filterMenuSections()) sections[type] = [];
  for (const c of Array.isArray(schema) ? schema : []) {
    if (!c || typeof c.name !== 'string' || taken.has(c.name)) continue;
    const section = Object.keys(sections).find((type) => FILTER_TYPES[type].takes(c.type));
    if (section) sections[section].push(c.name);
  }
  return sections;
}

// Whether the editor shows its filter bar for a schema.
export function filterBarShown(schema) {
  const types = Object.values(FILTER_TYPES);
  return (Array.isArray(schema) ? schema : []).some((c) => c && types.some((t) => t.showsBar(c.type)));
}

// The condition of the dashboard's filters, or null when none has a value. `excludeColumn`
// leaves out that column's own filter (a filter's value list is never narrowed by itself).
export function buildFilterWhereClause(filters, excludeColumn) {
  const parts = [];
  for (const f of filters || []) {
    const kind = filterType(f);
    if (!kind || f.column === '') continue;
    if (excludeColumn != null && f.column === excludeColumn) continue;
    const condition = kind.condition(sqlIdentifier(f.column), f);
    if (condition) parts.push(condition);
  }
  return parts.length ? parts.join(' AND ') : null;
}

export function applyFiltersToSql(sql, filters) {
  const clause = buildFilterWhereClause(filters);
  return clause ? spliceSqlCondition(sql, clause, FILTER_END_WORDS) : sql;
}
