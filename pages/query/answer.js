// How the latest run's answer is shown beyond the paged table: every answer may be drawn as a
// whole table or chart (a non-aggregated one from its first rows), engine errors told in terms of
// the editor's text, and a line for each success.

const ANSWER_ROW_CAP = 100000;

// The latest run as a script, whether its last statement aggregates, and its row count once
// counted.
let lastScript = null;
let lastAgg = false;
let lastTotal = null;
// The first rows of a non-aggregated answer, fetched once per run when first drawn.
let lastCapped = null;
let runSeq = 0;

function resetAnswer(sql) {
  runSeq++;
  lastScript = sqlScript(sql);
  lastAgg = hasAggregation(lastScript.last.text);
  lastTotal = null;
  lastCapped = null;
  showQueryNotice('');
  setAnswerNote('');
  return runSeq;
}

function runStatements(page) {
  return scriptStatements(lastScript, page || 1, PAGE_SIZE, ANSWER_ROW_CAP);
}

// An engine message for one of this run's statements, its position told in the editor's terms.
function answerErrorText(error, sent) {
  return mapEngineError(error, sent, lastSql);
}

function showResultError(text) {
  document.getElementById('queryResult').innerHTML = engineErrorHtml(text);
}

// The paged table stays the first choice for an answer that is not aggregated; the whole table
// and the charts draw its first rows.
function rebuildAnswerOptions(sel, agg) {
  const previous = sel.value;
  rebuildChartOptions(sel, agg ? previous : 'table', true);
  if (agg) return;
  const o = document.createElement('option');
  o.value = 'paginated';
  o.textContent = 'Paginated Table';
  sel.insertBefore(o, sel.firstChild);
  sel.value = 'paginated';
}

function setAnswerNote(text) {
  document.getElementById('answerNote').textContent = text;
}

// The row count of a whole table or chart, and whether it shows only the first rows.
function answerNoteText(shown, total) {
  if (total !== null && total > shown) {
    return 'first ' + shown.toLocaleString() + ' of ' + total.toLocaleString() + ' rows';
  }
  return shown.toLocaleString() + (shown === 1 ? ' row' : ' rows');
}

function updateAnswerNote() {
  const type = document.getElementById('chartType').value;
  if (type === 'paginated' || !lastResult) {
    setAnswerNote('');
    return;
  }
  setAnswerNote(answerNoteText(lastResult.rows.length, lastAgg ? null : lastTotal));
}

// A short line beside the run button for a success (green) or a failure (red).
function showQueryNotice(text, isError) {
  const el = document.getElementById('queryNotice');
  if (!el) return;
  el.textContent = text;
  el.classList.toggle('notice-error', Boolean(isError));
}

// The chart-type menu's handler.
async function chooseAnswerView() {
  const type = document.getElementById('chartType').value;
  if (lastAgg || type === 'paginated' || lastScript === null) {
    applyChart();
    updateAnswerNote();
    return;
  }
  if (!lastCapped) {
    const loaded = await loadCappedAnswer();
    if (!loaded) return;
  }
  lastResult = lastCapped;
  applyChart();
  updateAnswerNote();
}

// Runs the last statement limited to its first rows, counting the whole answer alongside
// when the paged table has not.
async function loadCappedAnswer() {
  const seq = runSeq;
  const stmts = runStatements(1);
  const out = document.getElementById('queryResult');
  out.innerHTML = resultNote('#6c7086', 'Running...');
  setAnswerNote('');
  let res;
  let countRes = null;
  try {
    const started = performance.now();
    [res, countRes] = await Promise.all([
      pageQuery(stmts.capped.sql),
      lastTotal === null ? pageQuery(stmts.count.sql) : Promise.resolve(null),
    ]);
    document.getElementById('queryTime').textContent = (performance.now() - started).toFixed(0) + ' ms';
  } catch (e) {
    res = { error: String((e && e.message) || e) };
  }
  if (seq !== runSeq) return false;
  if (res && res.cancelled) {
    showCancelled();
    return false;
  }
  if (res && res.error) {
    showResultError(answerErrorText(res.error, stmts.capped));
    return false;
  }
  if (!res || !Array.isArray(res.rows) || res.rows.length === 0) {
    out.innerHTML = resultNote('#6c7086', 'No rows returned.');
    return false;
  }
  if (countRes && !countRes.error && Array.isArray(countRes.rows) && countRes.rows.length) {
    lastTotal = parseInt(countRes.rows[0][0], 10) || 0;
  }
  lastCapped = { columns: res.columns || [], rows: res.rows, numericCols: res.numericCols || [] };
  showEl('downloadBtn', '');
  return true;
}

function rowsText(n) {
  return n.toLocaleString() + (n === 1 ? ' row' : ' rows');
}

// "⬇ CSV" and, for an answer that is not aggregated, "⬇ Download CSV": the engine writes every
// row of the last statement, the statements before it run first.
async function exportAnswerCsv() {
  if (lastScript === null) return;
  const res = await exportPagedCsv(lastScript.last.text, { script: lastScript, userText: lastSql });
  if (res.error) {
    showQueryNotice('Export failed', true);
  } else if (res.ok) {
    showQueryNotice('Exported ' + (lastTotal === null ? '' : rowsText(lastTotal) + ' ') + 'to ' + res.ok);
  }
}
