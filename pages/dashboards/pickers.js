// The pickers of the filter controls: a month calendar that sets one end of a date filter, and
// the searchable checkbox list of a multi-value filter. Dates and grids come from filter_rules.js.

const MULTI_FOCUS_DELAY_MS = 50;

// Outlives the pop-up: previous and next render from it, a pick writes to the filter it names.
const calendarState = {
  currentMonth: new Date().getMonth(),
  currentYear: new Date().getFullYear(),
  selectedDate: null,
  targetColumn: null,
  targetMode: null,
  targetField: null,
};

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

function renderCalendar(anchorEl) {
  closeCalendar();
  const s = calendarState;
  const popup = document.createElement('div');
  popup.className = 'calendar-popup';
  popup.addEventListener('click', stopClick);
  const days = monthGrid(s.currentYear, s.currentMonth, dateText(new Date()), s.selectedDate);
  popup.innerHTML =
    '<div class="calendar-header"><button type="button" class="calendar-nav" title="Previous Month" onclick="dashCalendarPrev(event)">◀</button>' +
    '<span class="calendar-title">' + escapeHtml(calendarTitle(s.currentYear, s.currentMonth)) + '</span>' +
    '<button type="button" class="calendar-nav" title="Next Month" onclick="dashCalendarNext(event)">▶</button></div>' +
    '<div class="calendar-weekdays">' + WEEKDAY_NAMES.map((w) => '<div class="calendar-weekday">' + w + '</div>').join('') + '</div>' +
    '<div class="calendar-days">' + days.map(calendarDayHtml).join('') + '</div>' +
    '<div class="calendar-footer">' +
    '<button type="button" class="calendar-footer-btn" title="Clear Date" onclick="dashClearDate(event)">Clear</button>' +
    '<button type="button" class="calendar-footer-btn" title="Select Today" onclick="dashSelectToday(event)">Today</button></div>';
  const host = calendarHost(anchorEl);
  if (!host) return;
  host.style.position = 'relative';
  host.appendChild(popup);
}

window.dashOpenCalendar = function (columnName, mode, field, event) {
  stopClick(event);
  closeCalendar();
  const column = String(columnName);
  const button = field === 'from' || field === 'to' ? datePickerButton(column, mode, field) : null;
  if (!button) return;
  const f = firstFilter(column, 'date');
  const start = calendarStart(f ? f[field] : null, new Date());
  Object.assign(calendarState, {
    currentYear: start.year,
    currentMonth: start.month,
    selectedDate: start.selected,
    targetColumn: column,
    targetMode: mode,
    targetField: field,
  });
  renderCalendar(button);
};

function moveCalendar(event, delta) {
  stopClick(event);
  const s = calendarState;
  const next = shiftMonth(s.currentYear, s.currentMonth, delta);
  s.currentYear = next.year;
  s.currentMonth = next.month;
  const button = datePickerButton(s.targetColumn, s.targetMode, s.targetField);
  if (button) renderCalendar(button);
  else closeCalendar();
}

window.dashCalendarPrev = function (event) {
  moveCalendar(event, -1);
};

window.dashCalendarNext = function (event) {
  moveCalendar(event, 1);
};

// Sets the end being edited to a date text, or null, and redraws what depends on the filter.
function setCalendarTarget(value) {
  const s = calendarState;
  const f = firstFilter(s.targetColumn, 'date');
  closeCalendar();
  if (!f) return;
  f[s.targetField] = value;
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
  const f = firstFilter(column, 'date');
  if (!f) return;
  f.from = null;
  f.to = null;
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
  const f = firstFilter(column, 'multiselect');
  if (!f) return;
  if (!Array.isArray(f.values)) f.values = [];
  const at = f.values.indexOf(v);
  if (at >= 0) f.values.splice(at, 1);
  else f.values.push(v);
  setMultiButton(column, mode, f.values);
  const boxes = multiOptionBoxes(controlPart(column, mode, 'multiselect-list'));
  const box = boxes.find((b) => b.dataset.option === v);
  if (box) markOption(box, at < 0);
  setMultiCount(column, mode, f.values.length);
  afterFilterChange(column, true);
};

window.dashClearMultiSelect = function (columnName, mode, event) {
  stopClick(event);
  const column = String(columnName);
  const f = firstFilter(column, 'multiselect');
  if (!f) return;
  f.values = [];
  setMultiButton(column, mode, f.values);
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
