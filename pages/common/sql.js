// SQL text rules of both pages: aggregation test, trailing LIMIT/OFFSET removal, the
// {path-to-files} call, the statements of a paginated page, and the scanner that tells code
// from literals, quoted names and comments.

export const PATH_VARIABLE = '{path-to-files}';
// Rows of one page of every paginated table, on both pages.
export const PAGE_SIZE = 10;
const AGGREGATION_RE = /\b(GROUP\s+BY|COUNT\s*\(|SUM\s*\(|AVG\s*\(|MIN\s*\(|MAX\s*\(|STDDEV|VARIANCE|MEDIAN|QUANTILE|HISTOGRAM)\b/;
const TRAILING_LIMIT_RE = /\s+(LIMIT\s+\d+(\s*,\s*\d+)?(\s+OFFSET\s+\d+)?|\s*OFFSET\s+\d+(\s+LIMIT\s+\d+)?)\s*$/i;

export function hasAggregation(sql) {
  return AGGREGATION_RE.test(String(sql).toUpperCase());
}

export function stripLimitOffset(sql) {
  return String(sql).replace(TRAILING_LIMIT_RE, '');
}

// A closing semicolon, with white space or "--" comments after it. The paged statements wrap
// the user's statement or append to it, where a semicolon would end it early.
const TRAILING_SEMICOLON_RE = /;(?:\s|--[^\n]*)*$/;

function stripTrailingSemicolon(sql) {
  return String(sql).replace(TRAILING_SEMICOLON_RE, '');
}

// The statement a paginated table pages through, whole: its own LIMIT and OFFSET stand, since
// the pages wrap it rather than append to it.
export function pagedBaseSql(sql) {
  return stripTrailingSemicolon(sql);
}

// The statement as a subquery cut to `limit` rows from `offset`: the statement's own ORDER BY,
// LIMIT and OFFSET apply first. Line breaks keep a trailing "--" comment from swallowing the rest.
const ROWS_OPEN = 'SELECT * FROM (\n';
function rowsClose(limit, offset) {
  return '\n) AS _paginated_subq\nLIMIT ' + limit + (offset === undefined ? '' : ' OFFSET ' + offset);
}

// A path inside a SQL string literal: an apostrophe in a file or folder name must not end the
// literal early (or let the name rewrite the query).
export function sqlString(text) {
  return "'" + String(text).replace(/'/g, "''") + "'";
}

// Files of one folder may differ in their columns: reading them by name keeps every column,
// NULL where a file lacks it.
const FOLDER_READ_OPTIONS = ', union_by_name = true';

// read_parquet('/folder/**/*.parquet', union_by_name = true), or the same with read_csv.
export function pathFilesCall(parquet, folder) {
  const fn = parquet ? 'read_parquet' : 'read_csv';
  const ext = parquet ? 'parquet' : 'csv';
  return fn + '(' + sqlString(folder + '/**/*.' + ext) + FOLDER_READ_OPTIONS + ')';
}

export function substitutePathVariable(sql, parquet, folder) {
  return String(sql).split(PATH_VARIABLE).join(pathFilesCall(parquet, folder));
}

// The offset in `sql` of `offset` in the same text with every {path-to-files} replaced by
// `call`: inside a replacement, the variable's own start.
export function pathVariableOffset(sql, call, offset) {
  const parts = String(sql).split(PATH_VARIABLE);
  let sent = 0;
  let own = 0;
  for (let i = 0; i < parts.length; i++) {
    if (offset < sent + parts[i].length) return own + (offset - sent);
    sent += parts[i].length;
    own += parts[i].length;
    if (i === parts.length - 1) break;
    if (offset < sent + call.length) return own;
    sent += call.length;
    own += PATH_VARIABLE.length;
  }
  return Math.min(own, own + (offset - sent));
}

// Line breaks keep a trailing "--" comment from swallowing the added text.
export function paginatedStatements(base, page, pageSize) {
  const offset = (page - 1) * pageSize;
  return {
    count: 'SELECT COUNT(*) as cnt FROM (\n' + base + '\n) AS _paginated_subq',
    page: ROWS_OPEN + base + rowsClose(pageSize, offset),
    offset,
  };
}

const SQL_WORD_RE = /[\p{L}\p{N}_$]/u;
const SQL_DOLLAR_TAG_RE = /\$(?:[A-Za-z_]\w*)?\$/y;
// End of the quoted run opened at `i`; a doubled quote stays inside, and so does a
// backslash-escaped one in an E'...' literal. Unterminated runs reach the end of the text.
function sqlQuotedEnd(sql, i, backslash) {
  const quote = sql[i];
  for (let j = i + 1; j < sql.length; j++) {
    if (backslash && sql[j] === '\\') j++;
    else if (sql[j] === quote) {
      if (sql[j + 1] !== quote) return j + 1;
      j++;
    }
  }
  return sql.length;
}

// Block comments nest in the engine's dialect.
function sqlBlockCommentEnd(sql, i) {
  let depth = 0;
  for (let j = i; j < sql.length; j++) {
    if (sql.startsWith('/*', j)) {
      depth++;
      j++;
    } else if (sql.startsWith('*/', j)) {
      j++;
      if (--depth === 0) return j + 1;
    }
  }
  return sql.length;
}

// The code tokens of `sql` in order, as { start, end, depth, word }: `word` is the upper-cased
// text of a keyword or plain name, null for literals, quoted identifiers and punctuation.
// White space and comments make no token. A bracket token carries the depth outside it.
export function scanSql(sql) {
  const tokens = [];
  let depth = 0;
  let i = 0;
  while (i < sql.length) {
    const c = sql[i];
    const start = i;
    let word = null;
    if (/\s/.test(c)) {
      i++;
      continue;
    }
    if (sql.startsWith('--', i)) {
      const nl = sql.indexOf('\n', i);
      i = nl < 0 ? sql.length : nl + 1;
      continue;
    }
    if (sql.startsWith('/*', i)) {
      i = sqlBlockCommentEnd(sql, i);
      continue;
    }
    SQL_DOLLAR_TAG_RE.lastIndex = i;
    const dollar = c === '$' && SQL_DOLLAR_TAG_RE.exec(sql);
    if (dollar) {
      const close = sql.indexOf(dollar[0], i + dollar[0].length);
      i = close < 0 ? sql.length : close + dollar[0].length;
    } else if (c === "'" || c === '"') {
      i = sqlQuotedEnd(sql, i, false);
    } else if (SQL_WORD_RE.test(c)) {
      while (i < sql.length && SQL_WORD_RE.test(sql[i])) i++;
      word = sql.slice(start, i).toUpperCase();
      if (word === 'E' && sql[i] === "'") {
        i = sqlQuotedEnd(sql, i, true);
        word = null;
      }
    } else {
      i++;
      if ('([{'.includes(c)) depth++;
      else if (')]}'.includes(c)) depth--;
      tokens.push({ start, end: i, depth: '([{'.includes(c) ? depth - 1 : depth, word });
      continue;
    }
    tokens.push({ start, end: i, depth, word });
  }
  return tokens;
}

// The statements of a text, split at the semicolons of its code, as { start, end }: each runs
// from just after the previous semicolon up to its own. Stretches without code are left out.
export function splitSqlStatements(sql) {
  sql = String(sql);
  const out = [];
  let start = 0;
  let hasCode = false;
  for (const t of scanSql(sql)) {
    if (sql[t.start] === ';') {
      if (hasCode) out.push({ start, end: t.start });
      start = t.end;
      hasCode = false;
    } else {
      hasCode = true;
    }
  }
  if (hasCode) out.push({ start, end: sql.length });
  return out;
}

// Statements whose answer is a table of rows. Run before the last statement they must print
// nothing, or the engine's output would hold one answer per statement.
const ROW_STATEMENT_WORDS = ['SELECT', 'WITH', 'FROM', 'VALUES', 'TABLE', 'DESCRIBE', 'SHOW', 'SUMMARIZE'];

// Text assembled from added pieces (strings) and pieces of the user's text ({ text, at }),
// remembering where each of the latter came from, so engine messages can be mapped back.
export function sqlPieces(parts) {
  let sql = '';
  const map = [];
  for (const p of parts) {
    if (typeof p === 'string') {
      sql += p;
    } else {
      map.push({ start: sql.length, end: sql.length + p.text.length, at: p.at });
      sql += p.text;
    }
  }
  return { sql, map };
}

// A text as one script: `setup`, the pieces of every statement but the last (each closed with a
// semicolon, those answering rows made to answer none), and `last`, the last statement with
// whatever follows it. A single statement has no setup and is the whole text.
export function sqlScript(text) {
  text = String(text);
  const stmts = splitSqlStatements(text);
  if (stmts.length < 2) return { text, setup: [], last: { text, at: 0 } };
  const setup = [];
  for (const s of stmts.slice(0, -1)) {
    const piece = { text: text.slice(s.start, s.end), at: s.start };
    const first = scanSql(piece.text).find((t) => t.word || piece.text[t.start] === '(');
    const rows = first && (first.word ? ROW_STATEMENT_WORDS.includes(first.word) : true);
    if (rows) setup.push('SELECT * FROM (\n', piece, '\n) WHERE false;\n');
    else setup.push(piece, ';\n');
  }
  const lastStart = stmts[stmts.length - 1].start;
  return { text, setup, last: { text: text.slice(lastStart), at: lastStart } };
}

// The last statement as the paged statements wrap it: without a closing semicolon.
export function scriptPagedBase(script) {
  return { text: pagedBaseSql(script.last.text), at: script.last.at };
}

// The statements a run sends for each way of showing the last statement's answer.
export function scriptStatements(script, page, pageSize, rowCap) {
  const base = scriptPagedBase(script);
  const offset = (page - 1) * pageSize;
  return {
    whole: sqlPieces(script.setup.concat([script.last])),
    count: sqlPieces(script.setup.concat(['SELECT COUNT(*) as cnt FROM (\n', base, '\n) AS _paginated_subq'])),
    page: sqlPieces(script.setup.concat([ROWS_OPEN, base, rowsClose(pageSize, offset)])),
    capped: sqlPieces(script.setup.concat([ROWS_OPEN, base, rowsClose(rowCap)])),
    offset,
  };
}
