// Query editor: examples, the CSV/Parquet switch, {path-to-files} and running a query.

const PAGE_SIZE = 10;
const NO_FOLDER_ALERT = 'Please select a folder in the Bucket Browser first';
// Every query of this page carries this tag, so that Stop ends all of them and nothing else.
const QUERY_STOP_TAG = 'queryPage';
const STOP_OFFER_DELAY_MS = 500;
const CANCELLED_NOTE = 'Query cancelled.';

let isParquet = true;
let lastSql = null;
let lastResult = null;
let paginationState = { page: 1, pageSize: PAGE_SIZE };
let pendingQueries = 0;
let stopOfferTimer = null;

function getSnippets() {
  return {
    schema: 'DESCRIBE SELECT * FROM {path-to-files}',
    select: "SELECT *\nFROM {path-to-files}\nWHERE column_name = 'value'\nLIMIT 10",
    agg:
      'SELECT \n    product_category,\n    COUNT(*) AS total_sales,\n    COUNT(*) FILTER (WHERE sale_amount > 100) AS high_value_sales,\n    -- Now you can directly use the alias \'high_value_sales\' in a new calculation\n    ROUND(100.0 * high_value_sales / total_sales, 2) AS high_value_percentage\nFROM {path-to-files}\nWHERE sale_amount > 0\nGROUP BY product_category;',
    range:
      "SELECT\n    CASE\n        WHEN column_name < 30000 THEN '< 30k'\n        WHEN column_name < 50000 THEN '30k-50k'\n        WHEN column_name < 70000 THEN '50k-70k'\n        WHEN column_name < 90000 THEN '70k-90k'\n        ELSE '90k+'\n    END AS bucket,\n    COUNT(*) AS total\nFROM {path-to-files}\nGROUP BY bucket\nORDER BY bucket;",
    dategroup:
      "SELECT\n    CAST(DATE_TRUNC('month', timestamp_column) AS DATE) AS month,\n    COUNT(*) AS total\nFROM {path-to-files}\nGROUP BY month\nORDER BY month;\n\n-- Other options: 'year', 'quarter', 'month', 'week', 'day', 'hour'",
    filter: 'SELECT DISTINCT column_name\nFROM {path-to-files}\nORDER BY column_name;',
    join: 'SELECT a.*, b.other_col\nFROM {path-to-files} a\nJOIN {path-to-files} b\n  ON a.id = b.id\nLIMIT 10',
  };
}

function setSnippet(key) {
  const text = getSnippets()[key];
  if (text !== undefined) document.getElementById('queryInput').value = text;
}

function setSnippetFromDropdown() {
  const sel = document.getElementById('examplesDropdown');
  if (sel.value) setSnippet(sel.value);
  sel.value = '';
}

function toggleFormat() {
  isParquet = !isParquet;
  document.getElementById('switchThumb').style.left = isParquet ? '18px' : '2px';
  document.getElementById('formatSwitch').style.background = isParquet ? '#fab387' : '#a6e3a1';
  document.getElementById('labelCsv').style.color = isParquet ? '#6c7086' : '#a6e3a1';
  document.getElementById('labelParquet').style.color = isParquet ? '#fab387' : '#6c7086';
  updatePathVariableLine();
}

function replacePathVariable(sql) {
  if (!String(sql).includes(PATH_VARIABLE)) return sql;
  const base = selectedFolderPath || currentBucketPath;
  if (!base) {
    alert(NO_FOLDER_ALERT);
    return null;
  }
  return substitutePathVariable(sql, isParquet, base);
}

function showEl(id, display) {
  const el = document.getElementById(id);
  if (el) el.style.display = display;
}

// Runs one statement for this page, answering as bridgeCall does; Stop is offered once any of
// them has taken a while.
async function pageQuery(sql) {
  if (pendingQueries++ === 0) {
    stopOfferTimer = setTimeout(() => showEl('stopQueryBtn', ''), STOP_OFFER_DELAY_MS);
  }
  try {
    return await bridgeCall('queryDuckCpp', sql, QUERY_STOP_TAG);
  } finally {
    if (--pendingQueries === 0) {
      clearTimeout(stopOfferTimer);
      showEl('stopQueryBtn', 'none');
    }
  }
}

// The stopped calls answer {cancelled: true}; each run then shows the cancelled note.
function stopQuery() {
  showEl('stopQueryBtn', 'none');
  bridgeCall('stopQueryCpp', QUERY_STOP_TAG).then((res) => {
    if (res.error) showQueryNotice('Could not stop the query: ' + res.error, true);
  });
}

function showCancelled() {
  document.getElementById('queryResult').innerHTML = resultNote('#6c7086', CANCELLED_NOTE);
}

// A text of several statements runs them in order in one engine run; the last one's answer is
// what is shown.
async function runQuery() {
  const ranAt = performance.now();
  const input = document.getElementById('queryInput').value.trim();
  if (!input) return;
  const sql = replacePathVariable(input);
  if (sql === null) return;
  lastSql = sql;
  const seq = resetAnswer(sql);
  paginationState = { page: 1, pageSize: PAGE_SIZE };
  const agg = lastAgg;
  const chartSel = document.getElementById('chartType');
  showEl('chartType', '');
  showEl('downloadBtn', 'none');
  showEl('saveQueryBtn', '');
  const errBox = document.getElementById('queryError');
  errBox.style.display = 'none';
  errBox.textContent = '';
  const timeEl = document.getElementById('queryTime');
  timeEl.textContent = '';
  const out = document.getElementById('queryResult');
  out.innerHTML = resultNote('#6c7086', 'Running...');
  if (!agg) {
    rebuildAnswerOptions(chartSel, false);
    lastResult = null;
    drawPaginatedTable();
    return;
  }
  const sent = runStatements(1).whole;
  const started = performance.now();
  const res = await pageQuery(sent.sql);
  const arrived = performance.now();
  if (seq !== runSeq) return;
  timeEl.textContent = (arrived - started).toFixed(0) + ' ms';
  if (res.cancelled) {
    showCancelled();
    return;
  }
  if (res.error) {
    errBox.textContent = '⚠ ' + answerErrorText(res.error, sent);
    errBox.style.display = 'block';
    out.innerHTML = '';
    return;
  }
  const answer = res.value;
  if (!answer || !Array.isArray(answer.rows) || answer.rows.length === 0) {
    lastResult = null;
    out.innerHTML = resultNote('#6c7086', 'No rows returned.');
    return;
  }
  lastResult = { columns: answer.columns || [], rows: answer.rows, numericCols: answer.numericCols || [] };
  showEl('downloadBtn', '');
  rebuildAnswerOptions(chartSel, true);
  applyChart();
  updateAnswerNote();
  reportRunTiming(ranAt, arrived, answer.rows.length);
}

document.addEventListener('keydown', (e) => {
  if (e.key === 'Enter' && (e.metaKey || e.ctrlKey)) {
    e.preventDefault();
    runQuery();
  }
});
