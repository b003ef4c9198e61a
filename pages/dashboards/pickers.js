// The pickers of the filter controls: a month calendar that sets one end of a date filter, and
// the searchable checkbox list of a multi-value filter. Dates and grids come from filter_rules.js.

const MULTI_FOCUS_DELAY_MS = 50;

// Outlives the pop-up: the header, the steps and the month view render from it, a pick writes
// to the filter it names. `view` is "days" (the month's grid) or "months" (years and months).
const calendarState = {
  currentMonth: new Date().getMonth(),
  currentYear: new Date().getFullYear(),
  selectedDate: null,
  targetColumn: null,
  targetMode: null,
  targetField: null,
  view: 'days',
  typed: '',
  typedError: '',
  // Opened on today for want of a date near it, and not moved since.
  onToday: false,
};
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
  return '<button type="button" class="' + cls + '" onclick="dashSelectDate(' + handlerArg(d.date) + ', event)">' + d.day + '</button>';
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
  const years = calendarYears(s.currentYear, new Date().getFullYear(), dateRanges.get(s.targetColumn));
  return (
    '<div class="calendar-month-view"><div class="calendar-years">' +
    years.map((y) => '<button type="button" class="calendar-year' + (y === s.currentYear ? ' selected' : '') +
      '" data-year="' + y + '" onclick="dashCalendarYear(' + y + ', event)">' + y + '</button>').join('') +
    '</div><div class="calendar-months">' +
    CALENDAR_MONTH_SHORT.map((m, i) => '<button type="button" class="calendar-month' + (i === s.currentMonth ? ' selected' : '') +
      '" title="' + MONTH_NAMES[i] + '" onclick="dashCalendarMonth(' + i + ', event)">' + m + '</button>').join('') +
    '</div></div>'
  );
}

function renderCalendar(anchorEl) {
  closeCalendar();
  const s = calendarState;
  const popup = document.createElement('div');
  popup.className = 'calendar-popup';
  popup.addEventListener('click', stopClick);
  popup.innerHTML =
    '<div class="calendar-header"><button type="button" class="calendar-nav" title="Previous Month" onclick="dashCalendarPrev(event)">◀</button>' +
    '<button type="button" class="calendar-title" title="Choose a month and year" onclick="dashCalendarMonthView(event)">' +
    escapeHtml(calendarTitle(s.currentYear, s.currentMonth)) + '</button>' +
    '<button type="button" class="calendar-nav" title="Next Month" onclick="dashCalendarNext(event)">▶</button></div>' +
    (s.view === 'months' ? calendarMonthsHtml(s) : calendarDaysHtml(s)) +
    '<div class="calendar-typed"><input type="text" class="calendar-input" placeholder="YYYY-MM-DD" maxlength="10" ' +
    'aria-label="Type a date">' +
    '<button type="button" class="calendar-footer-btn calendar-set" title="Set the typed date">Set</button></div>' +
    '<div class="calendar-error"></div>' +
    '<div class="calendar-footer">' +
    '<button type="button" class="calendar-footer-btn" title="Clear Date" onclick="dashClearDate(event)">Clear</button>' +
    '<button type="button" class="calendar-footer-btn" title="Select Today" onclick="dashSelectToday(event)">Today</button></div>';
  const input = popup.querySelector('.calendar-input');
  input.value = s.typed;
  input.addEventListener('input', () => {
    s.typed = input.value;
  });
  input.addEventListener('keydown', (e) => {
    if (e.key === 'Enter') setTypedDate(input.value);
  });
  popup.querySelector('.calendar-set').addEventListener('click', () => setTypedDate(input.value));
  showTypedError(popup, s.typedError);
  const host = calendarHost(anchorEl);
  if (!host) return;
  host.style.position = 'relative';
  host.appendChild(popup);
  const year = popup.querySelector('.calendar-year.selected');
  if (year) year.scrollIntoView({ block: 'center' });
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
  const s = calendarState;
  if (!date) {
    s.typed = String(text);
    s.typedError = TYPED_DATE_ERROR;
    showTypedError(document.querySelector('.calendar-popup'), s.typedError);
    return;
  }
  setCalendarTarget(date);
}

function redrawCalendar() {
  const s = calendarState;
  const button = datePickerButton(s.targetColumn, s.targetMode, s.targetField);
  if (button) renderCalendar(button);
  else closeCalendar();
}

window.dashOpenCalendar = function (columnName, mode, field, event) {
  stopClick(event);
  closeCalendar();
  const column = String(columnName);
  const button = field === 'from' || field === 'to' ? datePickerButton(column, mode, field) : null;
  if (!button) return;
  const f = findFilter(column, 'date');
  const start = calendarOpening(f, column, field);
  Object.assign(calendarState, {
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
};

// Where a calendar opens: its own date; for "to" the month of "from"; else the latest day of the
// column's data; else today.
function calendarOpening(f, column, field) {
  const range = dateRanges.get(column);
  const near = [field === 'to' && f ? f.from : null, range ? range.max : null];
  const start = calendarStart(f ? f[field] : null, new Date(), near);
  start.onToday = !start.selected && !near.some((d) => parseDateText(d));
  return start;
}

// The data's range came after the calendar opened on today: it moves there unless the user has.
function calendarRangeArrived(column) {
  const s = calendarState;
  if (!s.onToday || s.targetColumn !== column || !document.querySelector('.calendar-popup')) return;
  const start = calendarOpening(findFilter(column, 'date'), column, s.targetField);
  if (start.onToday) return;
  Object.assign(s, { currentYear: start.year, currentMonth: start.month, onToday: false });
  redrawCalendar();
}

function moveCalendar(event, delta) {
  stopClick(event);
  const s = calendarState;
  calendarState.onToday = false;
  const next = shiftMonth(s.currentYear, s.currentMonth, delta);
  s.currentYear = next.year;
  s.currentMonth = next.month;
  redrawCalendar();
}

window.dashCalendarPrev = function (event) {
  moveCalendar(event, -1);
};

window.dashCalendarNext = function (event) {
  moveCalendar(event, 1);
};

// The title switches between the day grid and the year and month choice.
window.dashCalendarMonthView = function (event) {
  stopClick(event);
  calendarState.onToday = false;
  calendarState.view = calendarState.view === 'months' ? 'days' : 'months';
  redrawCalendar();
};

window.dashCalendarYear = function (year, event) {
  stopClick(event);
  calendarState.onToday = false;
  calendarState.currentYear = Number(year);
  redrawCalendar();
};

window.dashCalendarMonth = function (month, event) {
  stopClick(event);
  calendarState.onToday = false;
  calendarState.currentMonth = Number(month);
  calendarState.view = 'days';
  redrawCalendar();
};

// Sets the end being edited to a date text, or null, and redraws what depends on the filter.
function setCalendarTarget(value) {
  const s = calendarState;
  const f = changeFilter(s.targetColumn, 'date', { [s.targetField]: value });
  closeCalendar();
  if (!f) return;
  setDateLabel(s.targetColumn, s.targetMode, s.targetField, value);
  afterFilterChange(s.targetColumn, false);
}

window.dashSelectDate = function (dateStr, event) {
  stopClick(event);
  if (!parseDateText(dateStr)) return;
  setCalendarTarget(dateStr);
};

window.dashSelectToday = function (event) {
  window.dashSelectDate(dateText(new Date()), event);
};

window.dashClearDate = function (event) {
  stopClick(event);
  setCalendarTarget(null);
};

window.dashClearDateFilter = function (columnName, mode) {
  const column = String(columnName);
  if (!changeFilter(column, 'date', { from: null, to: null })) return;
  setDateLabel(column, mode, 'from', null);
  setDateLabel(column, mode, 'to', null);
  afterFilterChange(column, false);
};

document.addEventListener('click', (e) => {
  const t = e.target;
  if (t instanceof Element && (t.closest('.calendar-popup') || t.closest('.date-picker-btn'))) return;
  closeCalendar();
});

function hideMultiDropdowns() {
  document.querySelectorAll('[id^="multiselect-dropdown-"]').forEach((d) => {
    d.style.display = 'none';
  });
}

window.dashToggleMultiSelect = function (columnName, mode, event) {
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
};

window.dashFilterMultiSelect = function (columnName, mode, searchText) {
  const needle = String(searchText == null ? '' : searchText).toLowerCase();
  const list = controlPart(String(columnName), mode, 'multiselect-list');
  if (!list) return;
  for (const label of list.querySelectorAll('.multiselect-option')) {
    label.style.display = label.dataset.value.includes(needle) ? '' : 'none';
  }
};

function multiOptionBoxes(list) {
  return list ? Array.from(list.querySelectorAll('.multiselect-option input[type=checkbox]')) : [];
}

// The count over the listed options; a list still loading or not available keeps its note.
function setMultiCount(column, mode, chosen) {
  const list = controlPart(column, mode, 'multiselect-list');
  if (list && !list.querySelector('.multiselect-note')) setCount(column, mode, countText(chosen, multiOptionBoxes(list).length));
}

function setMultiButton(column, mode, values) {
  const button = controlPart(column, mode, 'multiselect-btn');
  if (!button) return;
  button.textContent = multiButtonLabel(values);
  button.title = values.join(', ');
}

window.dashToggleMultiSelectOption = function (columnName, value, mode) {
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
};

window.dashClearMultiSelect = function (columnName, mode, event) {
  stopClick(event);
  const column = String(columnName);
  if (!changeFilter(column, 'multiselect', { values: [] })) return;
  setMultiButton(column, mode, []);
  const boxes = multiOptionBoxes(controlPart(column, mode, 'multiselect-list'));
  for (const box of boxes) markOption(box, false);
  setMultiCount(column, mode, 0);
  afterFilterChange(column, true);
};

document.addEventListener('click', (e) => {
  const t = e.target;
  if (t instanceof Element && t.closest('[id^="multiselect-"]')) return;
  hideMultiDropdowns();
});
