// Tables of dashboard panels and editor previews: the plain table of a whole result, and the
// paginated table that keeps its SQL, page and key on its element so that page buttons, the
// CSV export and chart click filters can find and redraw it.

const DASH_TABLE_BACKGROUND = '#1e1e2e';
const DASH_TABLE_RED = '#f38ba8';
const DASH_TABLE_GREY = '#6c7086';
const DASH_TABLE_ERROR_FONT = '0.7rem';
const DASH_TABLE_LOADING_WIDTH = 120;
const DASH_TABLE_DEFAULT_PAGE_SIZE = 10;

// Cell texts are shown as received, never formatted, always as text.
function dashTableMarkup(columns, rows) {
  const head = (columns || []).map((c) => '<th>' + escapeHtml(c) + '</th>').join('');
  const body = (rows || [])
    .map((row) => '<tr>' + (Array.isArray(row) ? row : []).map((cell) => '<td>' + escapeHtml(cell) + '</td>').join('') + '</tr>')
    .join('');
  return '<table class="dash-table"><thead><tr>' + head + '</tr></thead><tbody>' + body + '</tbody></table>';
}

function dashSizeClass(isSmall) {
  return isSmall ? ' dash-small' : '';
}

// Only the rows in sight are in the document; cells are never number-formatted here.
function renderTable(el, result, isSmall) {
  const columns = result && Array.isArray(result.columns) ? result.columns : [];
  const rows = result && Array.isArray(result.rows) ? result.rows : [];
  el.innerHTML = '<div class="dash-table-box' + dashSizeClass(isSmall) + '"></div>';
  drawVirtualTable(el.firstChild, 'dash-table', columns, rows);
  el.style.alignItems = 'flex-start';
  el.style.background = DASH_TABLE_BACKGROUND;
}

function dashPagerButton(label, key, target, enabled) {
  return (
    '<button class="dash-pager-btn"' + (enabled ? '' : ' disabled') +
    ' onclick="dashPaginatedGo(' + handlerArg(key) + ', ' + target + ')">' + label + '</button>'
  );
}

function dashPaginatedFooter(key, page, pages, range) {
  return (
    '<div class="dash-paged-footer"><div class="dash-page-group dash-page-nav">' +
    dashPagerButton('⟨⟨', key, 1, page > 1) +
    dashPagerButton('⟨', key, page - 1, page > 1) +
    '</div><div class="dash-page-group"><span class="dash-paged-range">' + range + '</span>' +
    '<button class="dash-csv-btn" title="Download all rows as CSV" onclick="downloadDashPaginatedCsv(' +
    handlerArg(key) + ')">⬇ CSV</button></div><div class="dash-page-group dash-page-nav">' +
    dashPagerButton('⟩', key, page + 1, page < pages) +
    dashPagerButton('⟩⟩', key, pages, page < pages) +
    '</div></div>'
  );
}

// A page below 1 or a size that is not a positive whole number would make an OFFSET or LIMIT
// the engine rejects.
async function renderPaginatedTable(el, sql, page, pageSize, isSmall, panelKey) {
  const n = Math.floor(Number(page));
  const size = Math.floor(Number(pageSize));
  page = n >= 1 ? n : 1;
  pageSize = size >= 1 ? size : DASH_TABLE_DEFAULT_PAGE_SIZE;
  const base = pagedBaseSql(sql == null ? '' : sql);
  const key = panelKey == null ? '' : String(panelKey);
  el.dataset.paginatedSql = base;
  el.dataset.paginatedPage = String(page);
  el.dataset.paginatedPageSize = String(pageSize);
  el.dataset.paginatedKey = key;
  el.dataset.paginatedIsSmall = isSmall ? '1' : '0';
  el.innerHTML = loadingBarHtml(DASH_TABLE_LOADING_WIDTH);
  const stmts = paginatedStatements(base, page, pageSize);
  try {
    const [countRes, pageRes] = await Promise.all([queryDuckCpp(stmts.count), queryDuckCpp(stmts.page)]);
    const error = pagedEngineError(countRes, pageRes, base, page, pageSize);
    if (error) {
      el.innerHTML = engineErrorHtml(error, 'dash-engine-error');
      return;
    }
    const countRows = countRes && Array.isArray(countRes.rows) ? countRes.rows : [];
    const total = countRows.length && Array.isArray(countRows[0]) ? parseInt(countRows[0][0], 10) || 0 : 0;
    if (total <= 0) {
      el.innerHTML = noteHtml('No data', DASH_TABLE_GREY);
      return;
    }
    const pages = Math.max(1, Math.ceil(total / pageSize));
    const rows = pageRes && Array.isArray(pageRes.rows) ? pageRes.rows : [];
    const columns = pageRes && Array.isArray(pageRes.columns) ? pageRes.columns : [];
    const first = stmts.offset + 1;
    const last = Math.min(stmts.offset + rows.length, total);
    const range = formatNumber(first) + '-' + formatNumber(last) + ' of ' + formatNumber(total);
    el.innerHTML =
      '<div class="dash-paged' + dashSizeClass(isSmall) + '"><div class="dash-paged-body">' +
      dashTableMarkup(columns, rows) + '</div>' + dashPaginatedFooter(key, page, pages, range) + '</div>';
    el.style.alignItems = 'stretch';
    el.style.background = DASH_TABLE_BACKGROUND;
  } catch (e) {
    el.innerHTML = noteHtml('Error loading data', DASH_TABLE_RED, DASH_TABLE_ERROR_FONT);
  }
}

// The element of a panel key; none once its panel has gone.
function dashPaginatedElement(panelKey) {
  const key = String(panelKey);
  for (const el of document.querySelectorAll('[data-paginated-key]')) {
    if (el.dataset.paginatedKey === key) return el;
  }
  return null;
}

// The stored SQL already holds every filter merged in when the table was drawn.
window.dashPaginatedGo = function (panelKey, page) {
  const el = dashPaginatedElement(panelKey);
  if (!el) return undefined;
  const size = parseInt(el.dataset.paginatedPageSize, 10) || DASH_TABLE_DEFAULT_PAGE_SIZE;
  const target = Math.max(1, Number(page) || 1);
  return renderPaginatedTable(el, el.dataset.paginatedSql, target, size, el.dataset.paginatedIsSmall === '1', el.dataset.paginatedKey);
};

// "⬇ CSV" of a panel's paginated table.
window.downloadDashPaginatedCsv = async function (panelKey) {
  const el = dashPaginatedElement(panelKey);
  const sql = el ? el.dataset.paginatedSql : '';
  if (sql) await exportPagedCsv(sql);
};
