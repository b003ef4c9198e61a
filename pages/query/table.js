// Result tables: the whole-result table, the paginated table with its footer, and CSV export.

function tableMarkup(columns, rows, cellText) {
  const head = (columns || []).map((c) => '<th>' + escapeHtml(c) + '</th>').join('');
  const body = (rows || [])
    .map((row, r) => '<tr>' + (row || []).map((cell, i) => '<td>' + escapeHtml(cellText(cell, i, r)) + '</td>').join('') + '</tr>')
    .join('');
  return '<table class="duck-table"><thead><tr>' + head + '</tr></thead><tbody>' + body + '</tbody></table>';
}

// Only the rows in sight are in the document, so an answer of any length shows at once.
function drawTable(columns, rows, numericCols) {
  drawVirtualTable(document.getElementById('queryResult'), 'duck-table', columns, rows, numericCols);
}

function resultNote(color, text) {
  return '<div style="color:' + color + ';white-space:pre-wrap">' + escapeHtml(text) + '</div>';
}

function pagerButton(label, title, target, enabled) {
  return (
    '<button class="pager-btn" title="' + title + '"' + (enabled ? '' : ' disabled') +
    ' onclick="bucketPaginatedGo(' + target + ')">' + label + '</button>'
  );
}

async function drawPaginatedTable() {
  if (lastSql === null) return;
  const seq = runSeq;
  const out = document.getElementById('queryResult');
  out.innerHTML = resultNote('#6c7086', 'Loading...');
  const P = paginationState.pageSize;
  const N = paginationState.page;
  const stmts = runStatements(N);
  try {
    const started = performance.now();
    const [countRes, pageRes] = await Promise.all([pageQuery(stmts.count.sql), pageQuery(stmts.page.sql)]);
    if (seq !== runSeq) return;
    document.getElementById('queryTime').textContent = (performance.now() - started).toFixed(0) + ' ms';
    if ((countRes && countRes.cancelled) || (pageRes && pageRes.cancelled)) {
      showCancelled();
      return;
    }
    if (countRes && countRes.error) {
      showResultError(answerErrorText(countRes.error, stmts.count));
      return;
    }
    if (pageRes && pageRes.error) {
      showResultError(answerErrorText(pageRes.error, stmts.page));
      return;
    }
    const countRows = countRes && Array.isArray(countRes.rows) ? countRes.rows : [];
    const total = countRows.length && countRows[0].length ? parseInt(countRows[0][0], 10) || 0 : 0;
    const pages = Math.max(1, Math.ceil(total / P));
    lastTotal = total;
    if (total === 0) {
      out.innerHTML = resultNote('#6c7086', 'No rows returned.');
      return;
    }
    const rows = pageRes && Array.isArray(pageRes.rows) ? pageRes.rows : [];
    const first = stmts.offset + 1;
    const last = Math.min(stmts.offset + rows.length, total);
    const range = formatNumber(first) + '-' + formatNumber(last) + ' of ' + formatNumber(total) + ' rows';
    out.innerHTML =
      '<div class="paged-layout"><div class="paged-body">' +
      tableMarkup(pageRes.columns, rows, (cell) => fmtPageCell(cell)) +
      '</div><div class="paged-footer"><div class="page-group">' +
      pagerButton('⟨⟨', 'First Page', 1, N > 1) +
      pagerButton('⟨', 'Previous Page', N - 1, N > 1) +
      '</div><div class="page-group"><span class="paged-range">' + range + '</span>' +
      '<button class="paged-csv-btn" title="Download all rows as CSV" onclick="downloadPaginatedCsv()">⬇ CSV</button>' +
      '</div><div class="page-group">' +
      pagerButton('⟩', 'Next Page', N + 1, N < pages) +
      pagerButton('⟩⟩', 'Last Page', pages, N < pages) +
      '</div></div></div>';
  } catch (e) {
    out.innerHTML = resultNote('#f38ba8', 'Error loading data');
  }
}

window.bucketPaginatedGo = function (page) {
  paginationState.page = Math.max(1, Number(page) || 1);
  drawPaginatedTable();
};

// A cancelled dialog stays silent; a file that could not be written must not look saved. The
// first rows of an answer that is not aggregated are not the whole answer: the engine writes
// every row instead.
async function downloadResult() {
  if (!lastResult) return;
  if (!lastAgg) {
    await exportAnswerCsv();
    return;
  }
  const count = lastResult.rows.length;
  let reply;
  try {
    reply = await saveCsvCpp(csvText(lastResult.columns, lastResult.rows));
  } catch (e) {
    reply = 'error: ' + String((e && e.message) || e);
  }
  if (typeof reply === 'string' && reply.startsWith('error')) {
    alert('Save failed: ' + reply.replace(/^error:\s*/, ''));
    showQueryNotice('Save failed', true);
  } else if (reply === 'ok') {
    showQueryNotice('Exported ' + rowsText(count));
  }
}

async function downloadPaginatedCsv() {
  if (lastSql !== null) await exportAnswerCsv();
}
