// SQL text rules of both pages: aggregation test, trailing LIMIT/OFFSET removal,
// the {path-to-files} call and the two statements of a paginated page.

const PATH_VARIABLE = '{path-to-files}';
const AGGREGATION_RE = /\b(GROUP\s+BY|COUNT\s*\(|SUM\s*\(|AVG\s*\(|MIN\s*\(|MAX\s*\(|STDDEV|VARIANCE|MEDIAN|QUANTILE|HISTOGRAM)\b/;
const TRAILING_LIMIT_RE = /\s+(LIMIT\s+\d+(\s*,\s*\d+)?(\s+OFFSET\s+\d+)?|\s*OFFSET\s+\d+(\s+LIMIT\s+\d+)?)\s*$/i;

function hasAggregation(sql) {
  return AGGREGATION_RE.test(String(sql).toUpperCase());
}

function stripLimitOffset(sql) {
  return String(sql).replace(TRAILING_LIMIT_RE, '');
}

// A closing semicolon, with white space or "--" comments after it. The paged statements wrap
// the user's statement or append to it, where a semicolon would end it early.
const TRAILING_SEMICOLON_RE = /;(?:\s|--[^\n]*)*$/;

function stripTrailingSemicolon(sql) {
  return String(sql).replace(TRAILING_SEMICOLON_RE, '');
}

// The statement a paginated table pages through: the user's own LIMIT and OFFSET give way to
// the pages.
function pagedBaseSql(sql) {
  return stripLimitOffset(stripTrailingSemicolon(sql));
}

// A path inside a SQL string literal: an apostrophe in a file or folder name must not end the
// literal early (or let the name rewrite the query).
function sqlString(text) {
  return "'" + String(text).replace(/'/g, "''") + "'";
}

// read_parquet('/folder/**/*.parquet') or read_csv('/folder/**/*.csv').
function pathFilesCall(parquet, folder) {
  const fn = parquet ? 'read_parquet' : 'read_csv';
  const ext = parquet ? 'parquet' : 'csv';
  return fn + '(' + sqlString(folder + '/**/*.' + ext) + ')';
}

function substitutePathVariable(sql, parquet, folder) {
  return String(sql).split(PATH_VARIABLE).join(pathFilesCall(parquet, folder));
}

// Line breaks keep a trailing "--" comment from swallowing the added text.
function paginatedStatements(base, page, pageSize) {
  const offset = (page - 1) * pageSize;
  return {
    count: 'SELECT COUNT(*) as cnt FROM (\n' + base + '\n) AS _paginated_subq',
    page: base + '\nLIMIT ' + pageSize + ' OFFSET ' + offset,
    offset,
  };
}
