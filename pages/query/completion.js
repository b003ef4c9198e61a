// What the Query page's editor completes from: the columns of the files {path-to-files} stands for
// (one schema run per folder and file type, cached, a stale run stopped), the columns of files a
// statement names, the engine's keywords and functions (read once), and the data folder's files
// inside read_csv('…') and read_parquet('…'). Nothing here waits: a completion offers what is
// known now and is drawn again when more arrives.
import { bridgeCall } from '../common/bridge.js';
import {
  CATALOG_SQL,
  catalogFromRows,
  cursorContext,
  nameOptions,
  optionsMatching,
  pathOptions,
  statementSources,
  validWhileTyped,
} from '../common/sql_completion.js';
import { statementAround } from '../common/sql_editor.js';
import { pathFilesCall, sqlString } from '../common/sql.js';
import { bucketEntries, dataFolderPath, pathFilesFolder } from './bucket.js';
import { state } from './state.js';

const SCHEMA_STOP_TAG = 'editorSchema-';
// Columns of files the statements name, kept for this many files at most.
const MAX_CACHED_SOURCES = 50;

let editor = null;
let catalog = { keywords: [], functions: [], reserved: new Set() };
let catalogAsked = false;
// Schema runs by key ('pathvar' key or a file call): { columns } once answered, { pending } meanwhile.
const schemas = new Map();
let pathKey = '';
let runNumber = 0;
let pathRunTag = '';
let pathRunKey = '';

export function attachCompletion(sqlEditor) {
  editor = sqlEditor;
}

function currentPathKey() {
  const folder = pathFilesFolder();
  return folder ? (state.isParquet ? 'parquet|' : 'csv|') + folder : '';
}

// The engine's words, asked once; without them the editor still completes names.
function askCatalog() {
  if (catalogAsked) return;
  catalogAsked = true;
  bridgeCall('queryDuckCpp', CATALOG_SQL).then((res) => {
    if (res.error || !res.value || !Array.isArray(res.value.rows)) {
      // Asked again on the next completion: an engine that failed once may answer later.
      catalogAsked = false;
      return;
    }
    catalog = catalogFromRows(res.value.rows);
    if (editor) {
      editor.setDialect(catalog.keywords.map((k) => k.name), catalog.functions.map((f) => f.name));
      editor.refreshCompletion();
    }
  });
}

function runSchema(key, sql, tag) {
  const entry = { pending: true, columns: null };
  schemas.set(key, entry);
  bridgeCall('getSchemaCpp', sql, tag).then((res) => {
    if (schemas.get(key) !== entry) return;
    if (res.cancelled) {
      schemas.delete(key);
      return;
    }
    entry.pending = false;
    // A source the engine cannot read has no columns to offer; its error shows when it runs.
    entry.columns = !res.error && res.value && Array.isArray(res.value.columns) ? res.value.columns : [];
    if (editor) editor.refreshCompletion();
  });
}

function stopPathRun() {
  if (!pathRunTag) return;
  const pending = schemas.get(pathRunKey);
  if (pending && pending.pending) schemas.delete(pathRunKey);
  bridgeCall('stopQueryCpp', pathRunTag);
  pathRunTag = '';
}

// The folder or file type changed: a run for the old one is of no use any more, and the new
// one's columns are read now, so that they are there before the typing that wants them.
export function pathFilesChanged() {
  const key = currentPathKey();
  if (key === pathKey) return;
  pathKey = key;
  if (pathRunKey !== key) stopPathRun();
  warmUp();
}

// A tree read again may hold other files: every schema is asked again when next needed.
export function filesReloaded() {
  stopPathRun();
  schemas.clear();
  pathKey = '';
}

function pathColumns() {
  const key = currentPathKey();
  if (!key) return null;
  const known = schemas.get(key);
  if (known) return known.columns;
  pathRunTag = SCHEMA_STOP_TAG + ++runNumber;
  pathRunKey = key;
  pathKey = key;
  runSchema(key, 'SELECT * FROM ' + pathFilesCall(state.isParquet, pathFilesFolder()), pathRunTag);
  return null;
}

function fileColumns(src) {
  if (!src.path) return null;
  const fn = src.fn || (/\.parquet$/i.test(src.path) ? 'read_parquet' : 'read_csv');
  const call = fn + '(' + sqlString(src.path) + ')';
  const known = schemas.get(call);
  if (known) return known.columns;
  if (schemas.size > MAX_CACHED_SOURCES) {
    for (const [key, value] of schemas) {
      if (key.includes('|') || value.pending) continue;
      schemas.delete(key);
      break;
    }
  }
  runSchema(call, 'SELECT * FROM ' + call, SCHEMA_STOP_TAG + 'file-' + ++runNumber);
  return null;
}

function columnsOf(src) {
  if (src.kind === 'pathvar') return pathColumns();
  if (src.kind === 'file') return fileColumns(src);
  return null;
}

// Asks for what completion will need, so the first list is whole.
export function warmUp() {
  askCatalog();
  pathColumns();
}

// The editor's completion source.
export function queryCompletion(context) {
  askCatalog();
  const { text, offset } = statementAround(context.state, context.pos);
  const ctx = cursorContext(text, context.pos - offset);
  if (ctx.kind === 'none') return null;
  const from = offset + ctx.from;
  if (ctx.kind === 'path') {
    const options = pathOptions(ctx, bucketEntries(), dataFolderPath());
    return options.length ? { from, options, filter: false } : null;
  }
  // Nothing typed: a list only where a name surely follows, or when asked for.
  if (!context.explicit && ctx.kind === 'word' && ctx.typed === '' && !ctx.quoted) return null;
  const sources = statementSources(text);
  const options = optionsMatching(nameOptions(ctx, { ...catalog, sources, columns: columnsOf }), ctx.typed);
  if (!options.length) return null;
  if (ctx.quoted) {
    // The whole quoted name is replaced, a closing quote after the cursor included.
    const after = context.state.sliceDoc(context.pos, context.pos + 1) === '"' ? 1 : 0;
    return {
      from: from + 1,
      to: context.pos + after,
      options: options.map((o) => ({ ...o, apply: (view, completion, f, t) => quotedApply(view, o.apply, f - 1, t) })),
      validFor: validWhileTyped(ctx.typed, '[^"]*'),
    };
  }
  return { from, options, validFor: ctx.kind === 'pathvar' ? /^\{[\w-]*$/ : validWhileTyped(ctx.typed, '[\\p{L}\\p{N}_$]*') };
}

function quotedApply(view, text, from, to) {
  view.dispatch({
    changes: { from, to, insert: text },
    selection: { anchor: from + text.length },
    userEvent: 'input.complete',
  });
}
