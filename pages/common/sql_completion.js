// What the SQL editor offers at the cursor, as pure text rules: where the cursor stands (a path
// inside read_csv('…'), a column after `alias.`, a name in a clause), which sources a statement
// reads and under which aliases, and the ranked options, each name once. No editor or page here,
// so Node tests run it as it is.
import { PATH_VARIABLE, scanSql } from './sql.js';

export const SOURCE_FUNCTIONS = ['read_csv', 'read_parquet'];
// Options of one kind past this many are not offered: a list longer than anyone reads only
// costs time on every keystroke.
export const MAX_PATH_OPTIONS = 500;
export const MAX_INFO_LENGTH = 300;

const WORD_CHAR_RE = /[\p{L}\p{N}_$]/u;
const PLAIN_NAME_RE = /^[A-Za-z_][A-Za-z0-9_]*$/;

// Words after which the next name is a source.
const SOURCE_WORDS = new Set(['FROM', 'JOIN', 'LATERAL', 'DESCRIBE', 'SUMMARIZE', 'TABLE']);
// Words that start a clause of expressions, where columns are what is most wanted.
const EXPRESSION_WORDS = new Set([
  'SELECT', 'WHERE', 'ON', 'BY', 'HAVING', 'QUALIFY', 'AND', 'OR', 'NOT', 'WHEN', 'THEN', 'ELSE', 'CASE',
  'DISTINCT', 'SET', 'USING', 'IN', 'IS', 'LIKE', 'ILIKE', 'BETWEEN', 'FILTER', 'OVER', 'PARTITION', 'RETURNING',
]);
// Words that end a source list: whatever follows them is no alias.
const NOT_ALIAS_WORDS = new Set([
  'WHERE', 'JOIN', 'ON', 'USING', 'LEFT', 'RIGHT', 'FULL', 'INNER', 'OUTER', 'CROSS', 'NATURAL', 'POSITIONAL',
  'ASOF', 'ANTI', 'SEMI', 'GROUP', 'ORDER', 'HAVING', 'QUALIFY', 'WINDOW', 'LIMIT', 'OFFSET', 'UNION', 'EXCEPT',
  'INTERSECT', 'SELECT', 'FROM', 'LATERAL', 'SAMPLE', 'TABLESAMPLE', 'PIVOT', 'UNPIVOT', 'AS', 'WITH', 'VALUES',
]);
// The words a statement starts with, offered first where nothing has been typed before.
export const STATEMENT_WORDS = [
  'SELECT', 'WITH', 'FROM', 'DESCRIBE', 'SUMMARIZE', 'CREATE', 'COPY', 'INSERT', 'EXPLAIN', 'PIVOT', 'UNPIVOT',
  'SHOW', 'VALUES', 'SET', 'DROP', 'UPDATE', 'DELETE',
];

// Added to the list's own match score (an exact match of another letter case is 200 below a
// perfect one, a prefix 100 more), so that a column's prefix still outranks a keyword typed whole.
const BOOST = {
  pathVariable: 99,
  sourceFunction: 60,
  column: 80,
  statementWord: 50,
  function: 0,
  keyword: -40,
  unlikely: -99,
};

// A name as the engine reads it: quoted unless it is a plain word that is not reserved.
export function quoteIdentifier(name, reserved) {
  const text = String(name);
  if (PLAIN_NAME_RE.test(text) && !(reserved && reserved.has(text.toLowerCase()))) return text;
  return '"' + text.replace(/"/g, '""') + '"';
}

// Text inside a single-quoted literal: quotes doubled.
export function literalText(text) {
  return String(text).replace(/'/g, "''");
}

// The name a plain or quoted identifier token stands for.
function identifierName(text) {
  if (text.startsWith('"')) return text.slice(1, text.endsWith('"') && text.length > 1 ? -1 : undefined).replace(/""/g, '"');
  return text;
}

// The tokens of a statement with {path-to-files} as one token: { start, end, word, text, kind }
// where kind is 'word', 'string', 'quoted', 'pathvar' or 'punct'.
export function statementTokens(sql) {
  const out = [];
  const raw = scanSql(sql);
  for (let k = 0; k < raw.length; k++) {
    const t = raw[k];
    const text = sql.slice(t.start, t.end);
    if (text === '{' && sql.startsWith(PATH_VARIABLE, t.start)) {
      const end = t.start + PATH_VARIABLE.length;
      while (k + 1 < raw.length && raw[k + 1].end <= end) k++;
      out.push({ start: t.start, end, word: null, text: PATH_VARIABLE, kind: 'pathvar' });
      continue;
    }
    let kind = 'punct';
    if (t.word) kind = 'word';
    else if (text[0] === "'" || /^[eE]'/.test(text) || text[0] === '$') kind = 'string';
    else if (text[0] === '"') kind = 'quoted';
    out.push({ start: t.start, end: t.end, word: t.word, text, kind });
  }
  return out;
}

function stringContent(token) {
  const body = token.text.replace(/^[eE]/, '');
  const inner = body.length > 1 && body.endsWith("'") ? body.slice(1, -1) : body.slice(1);
  return inner.replace(/''/g, "'");
}

// A source read at token k: {path-to-files}, read_csv('p' …)/read_parquet('p' …), a quoted file
// path, or a plain name. Gives { source, next } with the index after it, or null.
function sourceAt(tokens, k) {
  const t = tokens[k];
  if (!t) return null;
  if (t.kind === 'pathvar') return { source: { kind: 'pathvar' }, next: k + 1 };
  if (t.kind === 'string') {
    return { source: { kind: 'file', fn: null, path: stringContent(t) }, next: k + 1 };
  }
  if (t.kind === 'word' && tokens[k + 1] && tokens[k + 1].text === '(') {
    const fn = t.text.toLowerCase();
    // The call ends at its closing parenthesis.
    let depth = 0;
    let j = k + 1;
    for (; j < tokens.length; j++) {
      if (tokens[j].text === '(') depth++;
      else if (tokens[j].text === ')' && --depth === 0) break;
    }
    const arg = tokens[k + 2];
    if (SOURCE_FUNCTIONS.includes(fn) && arg && arg.kind === 'string') {
      return { source: { kind: 'file', fn, path: stringContent(arg) }, next: j + 1 };
    }
    return { source: { kind: 'other', name: fn }, next: j + 1 };
  }
  if (t.kind === 'word' || t.kind === 'quoted') {
    if (t.kind === 'word' && NOT_ALIAS_WORDS.has(t.word)) return null;
    return { source: { kind: 'table', name: identifierName(t.text) }, next: k + 1 };
  }
  return null;
}

// The sources a statement reads, in order: { source, alias } (alias null when there is none).
export function statementSources(sql) {
  const tokens = statementTokens(String(sql));
  const found = [];
  for (let k = 0; k < tokens.length; k++) {
    const t = tokens[k];
    const opens = (t.word && (t.word === 'FROM' || t.word === 'JOIN')) || (t.text === ',' && inSourceList(tokens, k));
    if (!opens) continue;
    const at = sourceAt(tokens, k + 1);
    if (!at) continue;
    let j = at.next;
    if (tokens[j] && tokens[j].word === 'AS') j++;
    let alias = null;
    const a = tokens[j];
    if (a && ((a.kind === 'word' && !NOT_ALIAS_WORDS.has(a.word)) || a.kind === 'quoted')) alias = identifierName(a.text);
    found.push({ source: at.source, alias });
  }
  return found;
}

// A comma at token k separates sources when the nearest clause word before it, at its depth,
// is FROM.
function inSourceList(tokens, k) {
  const depth = depthAt(tokens, k);
  let d = depth;
  for (let j = k - 1; j >= 0; j--) {
    const t = tokens[j];
    if (t.text === ')') d++;
    else if (t.text === '(') d--;
    if (d < depth) return false;
    if (d !== depth || !t.word) continue;
    if (t.word === 'FROM') return true;
    if (EXPRESSION_WORDS.has(t.word) || t.word === 'GROUP' || t.word === 'ORDER') return false;
  }
  return false;
}

function depthAt(tokens, k) {
  let d = 0;
  for (let j = 0; j < k; j++) {
    if (tokens[j].text === '(') d++;
    else if (tokens[j].text === ')') d--;
  }
  return d;
}

// Where the cursor at `pos` of statement `sql` stands:
//   { kind: 'none' }                                   in a comment or an ordinary literal
//   { kind: 'path', from, typed, fn }                  inside read_csv('…'), read_parquet('…') or FROM '…'
//   { kind: 'member', from, typed, quoted, alias }     after `alias.`
//   { kind: 'pathvar', from, typed }                   typing {path-to-files}
//   { kind: 'word', from, typed, quoted, place }       a name; place is 'start', 'source', 'afterSource' or 'expression'
// `from` is where the typed text starts; a quoted name's from is its opening quote.
export function cursorContext(sql, pos) {
  sql = String(sql);
  const tokens = statementTokens(sql.slice(0, pos));
  const last = tokens[tokens.length - 1];
  const before = sql.slice(0, pos);
  // Inside a comment: the scanner made no token there, so the text after the last token holds it.
  const tail = before.slice(last ? last.end : 0);
  if (/--|\/\*/.test(tail)) return { kind: 'none' };
  if (last && last.end === pos && last.kind === 'string' && !closedString(last)) {
    const prev = tokens[tokens.length - 2];
    const prev2 = tokens[tokens.length - 3];
    let fn = null;
    if (prev && prev.text === '(' && prev2 && prev2.kind === 'word' && SOURCE_FUNCTIONS.includes(prev2.text.toLowerCase())) {
      fn = prev2.text.toLowerCase();
    } else if (!(prev && prev.word && SOURCE_WORDS.has(prev.word))) {
      return { kind: 'none' };
    }
    const from = last.start + last.text.indexOf("'") + 1;
    return { kind: 'path', from, typed: sql.slice(from, pos).replace(/''/g, "'"), fn };
  }
  if (last && last.end === pos && last.kind === 'string') return { kind: 'none' };
  const pathvar = /\{[\w-]*$/.exec(before);
  if (pathvar && !(last && last.kind === 'pathvar' && last.end === pos)) {
    return { kind: 'pathvar', from: pos - pathvar[0].length, typed: pathvar[0] };
  }
  let from = pos;
  let quoted = false;
  let prevIndex = tokens.length - 1;
  if (last && last.end === pos && last.kind === 'quoted' && !closedQuoted(last)) {
    from = last.start;
    quoted = true;
    prevIndex--;
  } else {
    while (from > 0 && WORD_CHAR_RE.test(sql[from - 1])) from--;
    if (from < pos && last && last.end === pos && last.start === from) prevIndex--;
    else if (from < pos) from = pos; // the end of a literal or symbol, not a name
  }
  const typed = quoted ? identifierName(sql.slice(from, pos)) : sql.slice(from, pos);
  const prev = tokens[prevIndex];
  if (prev && prev.text === '.' && prev.end === from) {
    const owner = tokens[prevIndex - 1];
    if (owner && owner.end === prev.start && ((owner.kind === 'word' && !/^\d/.test(owner.text)) || owner.kind === 'quoted')) {
      return { kind: 'member', from, typed, quoted, alias: identifierName(owner.text) };
    }
    return { kind: 'none' };
  }
  return { kind: 'word', from, typed, quoted, place: placeAfter(tokens, prevIndex) };
}

function closedString(t) {
  const body = t.text.replace(/^[eE]/, '');
  if (body[0] === '$') return true;
  if (body.length < 2 || !body.endsWith("'")) return false;
  // An even run of closing quotes is a doubled quote inside the literal.
  const run = /'+$/.exec(body.slice(1))[0].length;
  return run % 2 === 1;
}

function closedQuoted(t) {
  if (t.text.length < 2 || !t.text.endsWith('"')) return false;
  return /"+$/.exec(t.text.slice(1))[0].length % 2 === 1;
}

// What kind of name the clause before the cursor asks for: 'start', 'source', 'afterSource'
// (an alias or the clause after a source), 'alias' (after AS) or 'expression'.
function placeAfter(tokens, k) {
  if (k < 0) return 'start';
  const prev = tokens[k];
  if (prev.text === ';') return 'start';
  if (prev.word && SOURCE_WORDS.has(prev.word)) return 'source';
  if (prev.text === ',' && inSourceList(tokens, k)) return 'source';
  if (endsSource(tokens, k)) return 'afterSource';
  if (prev.word === 'AS' && endsSource(tokens, k - 1)) return 'alias';
  if (isAliasToken(prev)) {
    const j = tokens[k - 1] && tokens[k - 1].word === 'AS' ? k - 2 : k - 1;
    if (endsSource(tokens, j)) return 'afterSource';
  }
  return 'expression';
}

function isAliasToken(t) {
  return Boolean(t) && ((t.kind === 'word' && !NOT_ALIAS_WORDS.has(t.word)) || t.kind === 'quoted');
}

// Token j is the last of a source: after FROM, JOIN or a comma of the source list.
function endsSource(tokens, j) {
  const t = tokens[j];
  if (!t) return false;
  if (t.text === ')') {
    let depth = 0;
    for (let i = j; i >= 0; i--) {
      if (tokens[i].text === ')') depth++;
      else if (tokens[i].text === '(' && --depth === 0) return tokens[i - 1] && tokens[i - 1].kind === 'word' && opensSource(tokens, i - 2);
    }
    return false;
  }
  if (t.kind === 'pathvar' || t.kind === 'string') return opensSource(tokens, j - 1) || t.kind === 'pathvar';
  if (isAliasToken(t)) return opensSource(tokens, j - 1);
  return false;
}

function opensSource(tokens, j) {
  const t = tokens[j];
  if (!t) return false;
  return Boolean((t.word && SOURCE_WORDS.has(t.word)) || (t.text === ',' && inSourceList(tokens, j)));
}

// The options for a name at `ctx`, ranked, each name once. `catalog` holds
//   columns(source) -> [{ name, type }] or null for a source ({ kind: 'pathvar' } etc.),
//   sources: the statement's sources, keywords: [{ name, reserved }],
//   functions: [{ name, kind, info }], reserved: Set of reserved words (lower case).
export function nameOptions(ctx, catalog) {
  const options = new Map();
  const add = (key, option) => {
    const k = key.toLowerCase();
    const had = options.get(k);
    if (!had || had.boost < option.boost) options.set(k, option);
  };
  const quote = (name) => quoteIdentifier(name, catalog.reserved);
  const columnOption = (c, boost) => ({
    label: c.name,
    apply: quote(c.name),
    type: 'property',
    detail: c.type ? String(c.type).toLowerCase() : undefined,
    boost,
  });
  if (ctx.kind === 'member') {
    const src = sourceOfAlias(catalog.sources || [], ctx.alias);
    const cols = src ? catalog.columns(src) : null;
    for (const c of cols || []) add(c.name, columnOption(c, BOOST.column));
    return Array.from(options.values());
  }
  if (ctx.kind === 'pathvar') {
    return [{ label: PATH_VARIABLE, type: 'variable', detail: 'the chosen folder\u2019s files', boost: BOOST.pathVariable }];
  }
  if (ctx.kind !== 'word' || ctx.place === 'alias') return [];
  if (ctx.quoted) {
    for (const c of statementColumns(catalog)) add(c.name, columnOption(c, BOOST.column));
    return Array.from(options.values());
  }
  const place = ctx.place;
  if (place === 'expression') {
    for (const c of statementColumns(catalog)) add(c.name, columnOption(c, BOOST.column));
  }
  for (const f of catalog.functions || []) {
    const table = f.kind === 'table' || f.kind === 'table_macro';
    let boost = BOOST.function;
    if (place === 'source') boost = table ? (SOURCE_FUNCTIONS.includes(f.name) ? BOOST.sourceFunction + 5 : BOOST.sourceFunction) : BOOST.unlikely;
    else if (place === 'start' || place === 'afterSource') boost = BOOST.unlikely;
    else if (table) boost = BOOST.unlikely;
    add(f.name, { label: f.name, type: table ? 'class' : 'function', detail: f.kind, info: f.info || undefined, boost });
  }
  for (const k of catalog.keywords || []) {
    const word = k.name.toUpperCase();
    let boost = BOOST.keyword;
    if (place === 'start') boost = STATEMENT_WORDS.includes(word) ? BOOST.statementWord : BOOST.unlikely;
    else if (place === 'afterSource') boost = NOT_ALIAS_WORDS.has(word) ? BOOST.statementWord : BOOST.keyword;
    add(word, { label: word, type: 'keyword', boost });
  }
  if (place === 'source') add(PATH_VARIABLE, { label: PATH_VARIABLE, type: 'variable', detail: 'the chosen folder\u2019s files', boost: BOOST.pathVariable });
  return Array.from(options.values());
}

const firstChar = (text) => String.fromCodePoint(text.codePointAt(0));

// The options the editor's matcher can still show once `typed` has begun: it needs every typed
// character in order, so a name without the first one never shows. With thousands of columns
// known, far fewer are left to match and sort at every key.
export function optionsMatching(options, typed) {
  if (!typed) return options;
  const first = firstChar(typed).toLowerCase();
  return options.filter((o) => o.label.toLowerCase().includes(first));
}

// The text a list narrowed by optionsMatching stays good for: the same first character, then
// characters matching `rest` (a regular expression's source).
export function validWhileTyped(typed, rest) {
  if (!typed) return new RegExp('^' + rest + '$', 'u');
  const first = firstChar(typed).replace(/[\\^$.*+?()[\]{}|\/]/g, '\\$&');
  return new RegExp('^' + first + rest + '$', 'iu');
}

// The columns of every source of the statement whose columns are known; with no source named
// yet, those of {path-to-files}, the one most queries read.
function statementColumns(catalog) {
  const sources = catalog.sources && catalog.sources.length ? catalog.sources.map((s) => s.source) : [{ kind: 'pathvar' }];
  const seen = new Set();
  const out = [];
  for (const src of sources) {
    for (const c of catalog.columns(src) || []) {
      if (seen.has(c.name)) continue;
      seen.add(c.name);
      out.push(c);
    }
  }
  return out;
}

// The source an alias (or a source's own plain name) stands for; letter case as the engine
// compares names.
export function sourceOfAlias(sources, alias) {
  const want = String(alias).toLowerCase();
  for (const s of sources) {
    if (s.alias !== null && s.alias.toLowerCase() === want) return s.source;
  }
  for (const s of sources) {
    if (s.alias === null && s.source.kind === 'table' && s.source.name.toLowerCase() === want) return s.source;
  }
  return null;
}

// Files and folders of the data folder for a path literal: `entries` are { rel, dir, ext } with
// paths relative to the data folder `base`. A typed absolute path is answered with absolute
// paths. Folders are offered for every reader, files of the reader's kind only.
export function pathOptions(ctx, entries, base) {
  const absolute = ctx.typed.startsWith('/');
  const want = ctx.typed.toLowerCase();
  const out = [];
  for (const e of entries) {
    if (!e.dir && ctx.fn && e.ext !== (ctx.fn === 'read_csv' ? 'csv' : 'parquet')) continue;
    const text = absolute ? (base ? base.replace(/\/+$/, '') + '/' : '/') + e.rel : e.rel;
    const lower = text.toLowerCase();
    if (want && !lower.includes(want) && !fuzzyIncludes(lower, want)) continue;
    out.push({
      label: e.dir ? text + '/' : text,
      apply: literalText(text),
      type: e.dir ? 'namespace' : 'text',
      detail: e.dir ? 'folder' : e.ext,
      // Nearer the typed start and shallower first.
      boost: (lower.startsWith(want) ? 10 : 0) - Math.min(9, text.split('/').length - 1),
    });
    if (out.length >= MAX_PATH_OPTIONS) break;
  }
  return out;
}

// Every character of `want` appears in `text` in order.
function fuzzyIncludes(text, want) {
  let i = 0;
  for (const ch of text) if (ch === want[i]) i++;
  return i >= want.length;
}

// The engine's keyword and function lists as the catalog holds them, from the rows of one
// query (name, kind, detail): kind 'keyword' with detail the keyword's category, else a
// function's type with detail its description.
export function catalogFromRows(rows) {
  const keywords = [];
  const functions = [];
  const reserved = new Set();
  for (const row of rows || []) {
    if (!Array.isArray(row) || typeof row[0] !== 'string' || !row[0]) continue;
    const [name, kind, detail] = row;
    if (kind === 'keyword') {
      keywords.push({ name, reserved: detail === 'reserved' });
      if (detail === 'reserved') reserved.add(name.toLowerCase());
    } else {
      const info = typeof detail === 'string' && detail ? detail.slice(0, MAX_INFO_LENGTH) : '';
      functions.push({ name, kind: String(kind || 'scalar'), info });
    }
  }
  return { keywords, functions, reserved };
}

// The engine's keywords and functions in one answer; operators and internal names are left
// out, and each function once however many overloads it has.
export const CATALOG_SQL =
  "SELECT keyword_name AS name, 'keyword' AS kind, keyword_category AS detail FROM duckdb_keywords()\n" +
  'UNION ALL\n' +
  'SELECT function_name, min(function_type), min(description) FROM duckdb_functions()\n' +
  "WHERE regexp_full_match(function_name, '[a-z_][a-z0-9_]*') AND function_type <> 'pragma'\n" +
  'GROUP BY function_name';
