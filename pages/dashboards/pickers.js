// The pickers of the filter controls: a month calendar that sets one end of a date filter, and
// the searchable checkbox list of a multi-value filter. Dates and grids come from filter_rules.js;
// the calendar's state is kept by state.js.
import { escapeHtml } from '../common/escape.js';
import { formatNumber } from '../common/numbers.js';
import {
  calendarStart,
  calendarTitle,
  calendarYearOf,
  calendarYears,
  countText,
  dateButtonLabel,
  dateText,
  listedText,
  MONTH_NAMES,
  monthGrid,
  multiButtonLabel,
  parseDateText,
  shiftMonth,
  typedDate,
  WEEKDAY_NAMES,
} from './filter_rules.js';
import {
  afterFilterChange,
  controlPart,
  FILTER_MODES,
  listTotal,
  searchValues,
  setCount,
  VALUES_UNAVAILABLE,
} from './filters.js';
import { sanitizeId } from './rules.js';
import { changeFilter, dashState, dateRange, findFilter, setCalendar } from './state.js';

const MULTI_FOCUS_DELAY_MS = 50;
const CALENDAR_MONTH_SHORT = MONTH_NAMES.map((m) => m.slice(0, 3));
const TYPED_DATE_ERROR = 'Not a date: type it as YYYY-MM-DD, for example 2001-03-01.';

function stopClick(event) {
  if (event && event.stopPropagation) event.stopPropagation();
}

function closeCalendar() {
  document.querySelectorAll('.calendar-popup').forEach((p) => p.remove());
}

function datePickerButton(column, mode, field) {
  return controlPart(column, mode, 'date-picker-' + field);
}

function setDateLabel(column, mode, field, text) {
  const button = datePickerButton(column, mode, field);
  const label = button && button.querySelector('.date-text');
  if (label) label.textContent = dateButtonLabel(text, field);
}

function calendarDayHtml(d) {
  const cls = 'calendar-day' + (d.other ? ' other-month' : '') + (d.today ? ' today' : '') + (d.selected ? ' selected' : '');
  return '<button type="button" class="' + cls + '" data-click="dashSelectDate" data-date="' + d.date + '">' + d.day + '</button>';
}

// The filter control's box (the nearest element with an inline position), else the anchor's parent.
function calendarHost(anchorEl) {
  for (let el = anchorEl; el && el !== document.body; el = el.parentElement) {
    if (/position/i.test(el.getAttribute('style') || '')) return el;
  }
  return anchorEl.parentElement;
}

function calendarDaysHtml(s) {
  const days = monthGrid(s.currentYear, s.currentMonth, dateText(new Date()), s.selectedDate);
  return (
    '<div class="calendar-weekdays">' + WEEKDAY_NAMES.map((w) => '<div class="calendar-weekday">' + w + '</div>').join('') + '</div>' +
    '<div class="calendar-days">' + days.map(calendarDayHtml).join('') + '</div>'
  );
}

// A year column beside the twelve months: a year and a month are two clicks from any month.
function calendarMonthsHtml(s) {
  const years = calendarYears(s.currentYear, new Date().getFullYear(), dateRange(s.targetColumn));
  return (
    '<div class="calendar-year-jump">' +
    '<button type="button" class="calendar-decade" title="Ten years back" data-click="dashCalendarDecade" data-step="-10">«</button>' +
    '<input type="text" class="calendar-year-input" inputmode="numeric" maxlength="4" aria-label="Type a year" value="' +
    s.currentYear + '">' +
    '<button type="button" class="calendar-decade" title="Ten years on" data-click="dashCalendarDecade" data-step="10">»</button>' +
    '</div>' +
    '<div class="calendar-month-view"><div class="calendar-years">' +
    years.map((y) => '<button type="button" class="calendar-year' + (y === s.currentYear ? ' selected' : '') +
      '" data-year="' + y + '" data-click="dashCalendarYear">' + y + '</button>').join('') +
    '</div><div class="calendar-months">' +
    CALENDAR_MONTH_SHORT.map((m, i) => '<button type="button" class="calendar-month' + (i === s.currentMonth ? ' selected' : '') +
      '" title="' + MONTH_NAMES[i] + '" data-month="' + i + '" data-click="dashCalendarMonth">' + m + '</button>').join('') +
    '</div></div>'
  );
}

const CALENDAR_ACTIONS = {
  dashCalendarPrev: () => moveCalendar(-1),
  dashCalendarNext: () => moveCalendar(1),
  dashCalendarMonthView: () => calendarMonthView(),
  dashCalendarYear: (el) => calendarYear(el.dataset.year),
  dashCalendarDecade: (el) => calendarYear(dashState.calendar.currentYear + Number(el.dataset.step)),
  dashCalendarMonth: (el) => calendarMonth(el.dataset.month),
  dashSelectDate: (el) => selectDate(el.dataset.date),
  dashClearDate: () => clearDate(),
  dashSelectToday: () => selectToday(),
  calendarSet: (el) => setTypedDate(el.closest('.calendar-popup').querySelector('.calendar-input').value),
};

function renderCalendar(anchorEl) {
  closeCalendar();
  const s = dashState.calendar;
  const popup = document.createElement('div');
  popup.className = 'calendar-popup';
  // Clicks inside never reach the page: its listeners would close the calendar.
  popup.addEventListener('click', (e) => {
    const el = e.target instanceof Element ? e.target.closest('[data-click]') : null;
    if (el && popup.contains(el) && CALENDAR_ACTIONS[el.dataset.click]) CALENDAR_ACTIONS[el.dataset.click](el, e);
    stopClick(e);
  });
  popup.innerHTML =
    '<div class="calendar-header"><button type="button" class="calendar-nav" title="Previous Month" data-click="dashCalendarPrev">◀</button>' +
    '<button type="button" class="calendar-title" title="Choose a month and year" data-click="dashCalendarMonthView">' +
    escapeHtml(calendarTitle(s.currentYear, s.currentMonth)) + '</button>' +
    '<button type="button" class="calendar-nav" title="Next Month" data-click="dashCalendarNext">▶</button></div>' +
    (s.view === 'months' ? calendarMonthsHtml(s) : calendarDaysHtml(s)) +
    '<div class="calendar-typed"><input type="text" class="calendar-input" placeholder="YYYY-MM-DD" maxlength="10" ' +
    'aria-label="Type a date">' +
    '<button type="button" class="calendar-footer-btn calendar-set" title="Set the typed date" data-click="calendarSet">' +
    'Set</button></div>' +
    '<div class="calendar-error"></div>' +
    '<div class="calendar-footer">' +
    '<button type="button" class="calendar-footer-btn" title="Clear Date" data-click="dashClearDate">Clear</button>' +
    '<button type="button" class="calendar-footer-btn" title="Select Today" data-click="dashSelectToday">Today</button></div>';
  const input = popup.querySelector('.calendar-input');
  input.value = s.typed;
  input.addEventListener('input', () => setCalendar({ typed: input.value }));
  input.addEventListener('keydown', (e) => {
    if (e.key === 'Enter') setTypedDate(input.value);
  });
  showTypedError(popup, s.typedError);
  bindYearInput(popup.querySelector('.calendar-year-input'));
  const host = calendarHost(anchorEl);
  if (!host) return;
  host.style.position = 'relative';
  host.appendChild(popup);
  const year = popup.querySelector('.calendar-year.selected');
  if (year) year.scrollIntoView({ block: 'center' });
}

// A typed year is shown as soon as it has four digits, or on Enter for a shorter one; the field
// keeps the focus through the redraw, so the next digits go on where they were typed.
function bindYearInput(input) {
  if (!input) return;
  const go = () => {
    const year = calendarYearOf(input.value);
    if (year === null) {
      input.classList.add('invalid');
      return;
    }
    calendarYear(year);
    const again = document.querySelector('.calendar-popup .calendar-year-input');
    if (again) {
      again.focus();
      again.select();
    }
  };
  input.addEventListener('input', () => {
    input.classList.remove('invalid');
    if (/^\d{4}$/.test(input.value.trim())) go();
  });
  input.addEventListener('keydown', (e) => {
    if (e.key === 'Enter') go();
  });
}

function showTypedError(popup, text) {
  const box = popup && popup.querySelector('.calendar-error');
  if (!box) return;
  box.textContent = text;
  box.style.display = text ? 'block' : 'none';
}

// A wrong date is refused with a message and nothing is applied; the text stays to be corrected.
function setTypedDate(text) {
  const date = typedDate(text);
  if (!date) {
    setCalendar({ typed: String(text), typedError: TYPED_DATE_ERROR });
    showTypedError(document.querySelector('.calendar-popup'), TYPED_DATE_ERROR);
    return;
  }
  setCalendarTarget(date);
}

function redrawCalendar() {
  const s = dashState.calendar;
  const button = datePickerButton(s.targetColumn, s.targetMode, s.targetField);
  if (button) renderCalendar(button);
  else closeCalendar();
}

export function openCalendar(columnName, mode, field, event) {
  stopClick(event);
  closeCalendar();
  const column = String(columnName);
  const button = field === 'from' || field === 'to' ? datePickerButton(column, mode, field) : null;
  if (!button) return;
  const f = findFilter(column, 'date');
  const start = calendarOpening(f, column, field);
  setCalendar({
    currentYear: start.year,
    currentMonth: start.month,
    selectedDate: start.selected,
    targetColumn: column,
    targetMode: mode,
    targetField: field,
    view: 'days',
    typed: '',
    typedError: '',
    onToday: start.onToday,
  });
  renderCalendar(button);
}

// Where a calendar opens: its own date; for "to" the month of "from"; else the latest day of the
// column's data; else today.
function calendarOpening(f, column, field) {
  const range = dateRange(column);
  const near = [field === 'to' && f ? f.from : null, range ? range.max : null];
  const start = calendarStart(f ? f[field] : null, new Date(), near);
  start.onToday = !start.selected && !near.some((d) => parseDateText(d));
  return start;
}

// The data's range came after the calendar opened on today: it moves there unless the user has.
export function calendarRangeArrived(column) {
  const s = dashState.calendar;
  if (!s.onToday || s.targetColumn !== column || !document.querySelector('.calendar-popup')) return;
  const start = calendarOpening(findFilter(column, 'date'), column, s.targetField);
  if (start.onToday) return;
  setCalendar({ currentYear: start.year, currentMonth: start.month, onToday: false });
  redrawCalendar();
}

export function moveCalendar(delta) {
  const s = dashState.calendar;
  const next = shiftMonth(s.currentYear, s.currentMonth, delta);
  setCalendar({ onToday: false, currentYear: next.year, currentMonth: next.month });
  redrawCalendar();
}

// The title switches between the day grid and the year and month choice.
export function calendarMonthView() {
  setCalendar({ onToday: false, view: dashState.calendar.view === 'months' ? 'days' : 'months' });
  redrawCalendar();
}

export function calendarYear(year) {
  const y = calendarYearOf(year);
  if (y === null) return;
  setCalendar({ onToday: false, currentYear: y });
  redrawCalendar();
}

export function calendarMonth(month) {
  setCalendar({ onToday: false, currentMonth: Number(month), view: 'days' });
  redrawCalendar();
}

// Sets the end being edited to a date text, or null, and redraws what depends on the filter.
function setCalendarTarget(value) {
  const s = dashState.calendar;
  const f = changeFilter(s.targetColumn, 'date', { [s.targetField]: value });
  closeCalendar();
  if (!f) return;
  setDateLabel(s.targetColumn, s.targetMode, s.targetField, value);
  afterFilterChange(s.targetColumn, false);
}

export function selectDate(dateStr) {
  if (!parseDateText(dateStr)) return;
  setCalendarTarget(dateStr);
}

export function selectToday() {
  selectDate(dateText(new Date()));
}

export function clearDate() {
  setCalendarTarget(null);
}

export function clearDateFilter(columnName, mode) {
  const column = String(columnName);
  if (!changeFilter(column, 'date', { from: null, to: null })) return;
  setDateLabel(column, mode, 'from', null);
  setDateLabel(column, mode, 'to', null);
  afterFilterChange(column, false);
}

function hideMultiDropdowns() {
  document.querySelectorAll('[id^="multiselect-dropdown-"]').forEach((d) => {
    d.style.display = 'none';
  });
}

export function toggleMultiSelect(columnName, mode, event) {
  if (event) {
    event.stopPropagation();
    event.preventDefault();
  }
  const dropdown = controlPart(String(columnName), mode, 'multiselect-dropdown');
  if (!dropdown) return;
  if (dropdown.style.display !== 'none') {
    dropdown.style.display = 'none';
    return;
  }
  hideMultiDropdowns();
  dropdown.style.display = 'block';
  const search = dropdown.querySelector('.multiselect-search');
  setTimeout(() => {
    if (search) search.focus();
  }, MULTI_FOCUS_DELAY_MS);
}

export function filterMultiSelect(columnName, mode, searchText) {
  const needle = String(searchText == null ? '' : searchText).trim().toLowerCase();
  const list = controlPart(String(columnName), mode, 'multiselect-list');
  if (!list) return;
  for (const label of list.querySelectorAll('.multiselect-option')) {
    label.style.display = label.dataset.value.includes(needle) ? '' : 'none';
  }
}

// Typing narrows the listed options at once; a list cut short is searched in the engine too.
export function typeMultiSearch(columnName, mode, searchText) {
  filterMultiSelect(columnName, mode, searchText);
  searchValues(columnName, mode);
}

function multiOptionBoxes(list) {
  return list ? Array.from(list.querySelectorAll('.multiselect-option input[type=checkbox]')) : [];
}

// The count over all the column's values; a list still loading or not available keeps its note.
function setMultiCount(column, mode, chosen) {
  const list = controlPart(column, mode, 'multiselect-list');
  if (!list || list.querySelector('.multiselect-note')) return;
  const total = listTotal(column, mode);
  setCount(column, mode, countText(chosen, total ?? multiOptionBoxes(list).length, formatNumber));
}

function setMultiButton(column, mode, values) {
  const button = controlPart(column, mode, 'multiselect-btn');
  if (!button) return;
  button.textContent = multiButtonLabel(values);
  button.title = values.join(', ');
}

export function toggleMultiSelectOption(columnName, value, mode) {
  const column = String(columnName);
  const v = String(value);
  const f = findFilter(column, 'multiselect');
  if (!f) return;
  const values = Array.isArray(f.values) ? f.values.slice() : [];
  const at = values.indexOf(v);
  if (at >= 0) values.splice(at, 1);
  else values.push(v);
  changeFilter(column, 'multiselect', { values });
  setMultiButton(column, mode, values);
  const boxes = multiOptionBoxes(controlPart(column, mode, 'multiselect-list'));
  const box = boxes.find((b) => b.dataset.option === v);
  if (box) markOption(box, at < 0);
  setMultiCount(column, mode, values.length);
  afterFilterChange(column, true);
}

export function clearMultiSelect(columnName, mode, event) {
  stopClick(event);
  const column = String(columnName);
  if (!changeFilter(column, 'multiselect', { values: [] })) return;
  setMultiButton(column, mode, []);
  const boxes = multiOptionBoxes(controlPart(column, mode, 'multiselect-list'));
  for (const box of boxes) markOption(box, false);
  setMultiCount(column, mode, 0);
  afterFilterChange(column, true);
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
  box.addEventListener('change', () => toggleMultiSelectOption(column, value, mode));
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

// Chosen values that the answer lacks (past the first values, or narrowed away) come first, so
// every choice in force can be seen and unticked; a search lists only what it found.
export function fillMultiLists(column, f, list, modes) {
  const chosen = Array.isArray(f.values) ? f.values : [];
  const { values, total, search } = list;
  const shown = search ? values : chosen.filter((v) => !values.includes(v)).concat(values);
  for (const mode of modes || FILTER_MODES) {
    const box = controlPart(column, mode, 'multiselect-list');
    if (!box) continue;
    const options = shown.map((v) => multiOption(column, v, mode, chosen.includes(v)));
    if (total > values.length) {
      const more = document.createElement('div');
      more.className = 'value-list-more';
      more.textContent = listedText(values.length, total, !!search, formatNumber);
      options.push(more);
    }
    box.replaceChildren(...options);
    box.dataset.search = search;
    setCount(column, mode, countText(chosen.length, listTotal(column, mode) ?? total, formatNumber));
    // A list that holds every value was not searched by the engine: the typed text narrows it.
    const field = controlPart(column, mode, 'multiselect-search');
    if (field && field.value && !search) filterMultiSelect(column, mode, field.value);
  }
}

export function showMultiUnavailable(column, reason, modes) {
  for (const mode of modes || FILTER_MODES) {
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

// A click elsewhere closes the calendar and the value lists.
export function bindPickers() {
  document.addEventListener('click', (e) => {
    const t = e.target;
    if (t instanceof Element && (t.closest('.calendar-popup') || t.closest('.date-picker-btn'))) return;
    closeCalendar();
  });
  document.addEventListener('click', (e) => {
    const t = e.target;
    if (t instanceof Element && t.closest('[id^="multiselect-"]')) return;
    hideMultiDropdowns();
  });
}
