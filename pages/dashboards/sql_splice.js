// Splicing dashboard filter and chart click conditions into the user's saved SQL. One pass over
// the text tells code from string literals, quoted identifiers and comments, so keywords are
// matched only as whole words of the statement itself: never inside a literal, a comment, a
// longer name or a subquery.

const SQL_WORD_RE = /[\p{L}\p{N}_$]/u;
const SQL_DOLLAR_TAG_RE = /\$(?:[A-Za-z_]\w*)?\$/y;
// Every clause that may follow WHERE in a SELECT; a condition appended after one of them would
// be a syntax error or land in the wrong clause.
const SQL_CLAUSE_WORDS = ['GROUP BY', 'HAVING', 'WINDOW', 'QUALIFY', 'ORDER BY', 'LIMIT', 'OFFSET', 'FETCH',
  'USING SAMPLE'];
// Dashboard filters narrow the first branch of a set operation.
const FILTER_END_WORDS = SQL_CLAUSE_WORDS.concat(['UNION', 'INTERSECT', 'EXCEPT']);
const CLICK_END_WORDS = SQL_CLAUSE_WORDS;

// A column name as a quoted identifier: a double quote inside it must not end the name early.
function sqlIdentifier(name) {
  return '"' + String(name).replace(/"/g, '""') + '"';
}

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
function scanSql(sql) {
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

// Index of the first top-level token in tokens[from, to) that starts one of `phrases` ("GROUP BY")
// as whole words, or `to`. A word after AS or a dot is a name there, not a keyword.
function sqlFindPhrase(tokens, sql, phrases, from, to) {
  for (let k = from; k < to; k++) {
    if (tokens[k].depth !== 0 || !tokens[k].word) continue;
    const prev = tokens[k - 1];
    if (prev && (prev.word === 'AS' || sql[prev.start] === '.')) continue;
    for (const phrase of phrases) {
      const words = phrase.split(' ');
      if (words.every((w, n) => k + n < to && tokens[k + n].word === w)) return k;
    }
  }
  return to;
}

// Adds `condition` to the statement's own WHERE, or gives it one before the first of `endWords`.
// A trailing semicolon or comment stays after the condition, and the rest of the text is kept
// as it was. The existing condition is bracketed so that its OR cannot bypass the new one.
function spliceSqlCondition(sql, condition, endWords) {
  sql = String(sql);
  if (!condition) return sql;
  const tokens = scanSql(sql);
  let stop = tokens.findIndex((t) => t.depth === 0 && sql[t.start] === ';');
  if (stop < 0) stop = tokens.length;
  if (stop === 0) return sql;
  const end = sqlFindPhrase(tokens, sql, endWords, 0, stop);
  const where = sqlFindPhrase(tokens, sql, ['WHERE'], 0, end);
  // Right after the last code before the end word, so comments in between stay outside.
  const point = end > 0 ? tokens[end - 1].end : tokens[0].start;
  const rest = sql.slice(point);
  const gap = /^[^\s;]/.test(rest) ? ' ' : '';
  if (where === end) return sql.slice(0, point) + ' WHERE ' + condition + gap + rest;
  const open = where + 1 < end ? tokens[where + 1].start : point;
  return sql.slice(0, open) + '(' + sql.slice(open, point) + ') AND (' + condition + ')' + gap + rest;
}

function applyChartClickFilterToSql(sql, condition) {
  return spliceSqlCondition(sql, condition, CLICK_END_WORDS);
}
