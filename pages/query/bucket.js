// Bucket browser: the data-folder tree, folder selection for {path-to-files}, file queries and
// CSV to Parquet conversion. Rows carry their folder number and paths in data attributes; one
// click listener on the tree acts on them, so paths of any characters arrive unchanged.
import { bridgeCall } from '../common/bridge.js';
import { escapeHtml } from '../common/escape.js';
import { PATH_VARIABLE, sqlString } from '../common/sql.js';
import { state } from './state.js';
import { fmtDate, fmtSize } from './util.js';

const TREE_INDENT_PX = 20;
const CSV_COLOR = 'var(--success)';
const PARQUET_COLOR = 'var(--warning)';

let currentBucketPath = '';
let selectedFolderPath = '';
let folderId = 0;
// The selected folder that a reload found gone, named by the folder line until the next choice.
let goneFolderPath = '';
// The tree last listed, and who is told when what {path-to-files} stands for may have changed.
let lastTree = null;
let pathFilesListener = null;

function bucketNote(color, html) {
  return '<div style="color:' + color + ';padding:8px 0">' + html + '</div>';
}

// The folder {path-to-files} stands for: the selected one, else the data folder; empty when
// no data folder is known.
export function pathFilesFolder() {
  return selectedFolderPath || currentBucketPath;
}

export function onPathFilesChange(fn) {
  pathFilesListener = fn;
}

export function bucketRoot() {
  return currentBucketPath;
}

// The folders and files of the last listing, paths relative to the data folder, as
// { rel, dir, ext }.
export function bucketEntries() {
  const out = [];
  const walk = (node, prefix) => {
    for (const c of Array.isArray(node && node.children) ? node.children : []) {
      if (!c || typeof c.name !== 'string') continue;
      if (c.type === 'dir') {
        const rel = prefix + c.name;
        out.push({ rel, dir: true, ext: '' });
        walk(c, rel + '/');
      } else {
        out.push({ rel: c.path == null ? prefix + c.name : String(c.path), dir: false, ext: String(c.ext || '') });
      }
    }
  };
  walk(lastTree, '');
  return out;
}

// A reload keeps the selected folder while it is still there.
export async function loadBucket() {
  const out = document.getElementById('bucketOut');
  out.innerHTML = bucketNote('var(--muted)', 'Loading...');
  const keep = selectedFolderPath;
  selectedFolderPath = '';
  goneFolderPath = '';
  const res = await bridgeCall('listBucketCpp');
  const tree = res.value;
  if (res.error || !tree) {
    goneFolderPath = keep;
    // Only a folder that is not there is the user's to choose; any other failure is told as is.
    const missing = res.reply && 'bucketPath' in res.reply;
    out.innerHTML =
      res.error && !missing
        ? bucketNote('var(--error)', 'Could not list the data folder: ' + escapeHtml(res.error))
        : bucketNote(
            'var(--warning)',
            'No bucket path selected. Click <b style="color:var(--accent)">📁 Change Path</b> above to choose a folder.',
          );
    updatePathVariableLine();
    return;
  }
  if (tree.bucketPath) {
    currentBucketPath = tree.bucketPath;
    document.getElementById('bucketPathLabel').textContent = currentBucketPath;
  }
  lastTree = tree;
  if (pathFilesListener) pathFilesListener(true);
  folderId = 0;
  const html = renderTree(tree, 0);
  out.innerHTML = html || bucketNote('var(--muted)', 'No .csv or .parquet files found.');
  if (keep) {
    const row = Array.from(out.querySelectorAll('.folder-row')).find((r) => r.dataset.path === keep);
    if (row) selectFolder(keep, Number(row.dataset.folder));
    else goneFolderPath = keep;
  }
  updatePathVariableLine();
}

// A folder that could not be stored leaves the tree as it was.
export async function chooseBucketPath() {
  const chosen = await bridgeCall('chooseFolderCpp');
  if (chosen.error) {
    alert('Could not choose a folder:\n' + chosen.error);
    return;
  }
  const path = chosen.value;
  if (!path) return;
  const stored = await bridgeCall('setBucketPathCpp', path);
  if (stored.error) {
    alert('Could not change the data folder:\n' + stored.error);
    return;
  }
  // Another data folder: the old selection means nothing there.
  selectedFolderPath = '';
  await loadBucket();
}

function joinPath(parent, name) {
  return parent ? parent + '/' + name : name;
}

function renderTree(node, indent = 0, parentPath = currentBucketPath || '') {
  if (!node) return '';
  const children = Array.isArray(node.children) ? node.children : [];
  if (node.type === 'dir' && indent === 0) {
    return children.map((c) => renderTree(c, 1, parentPath)).join('');
  }
  const pad = 'padding-left:' + indent * TREE_INDENT_PX + 'px';
  if (node.type === 'dir') {
    const n = ++folderId;
    const path = joinPath(parentPath, node.name);
    return (
      '<div class="folder-row" id="folder-row-' + n + '" data-folder="' + n + '" data-path="' + escapeHtml(path) +
      '" style="' + pad + '" title="Click to select this folder for queries">' +
      '<span class="folder-arrow" id="arrow-' + n + '">▾</span>' +
      '📂 ' + escapeHtml(node.name) + '</div>' +
      '<div id="folder-' + n + '">' +
      children.map((c) => renderTree(c, indent + 1, path)).join('') +
      '</div>'
    );
  }
  const isCsv = node.ext === 'csv';
  const color = isCsv ? CSV_COLOR : PARQUET_COLOR;
  const fn = isCsv ? 'read_csv' : 'read_parquet';
  const rel = node.path == null ? '' : String(node.path);
  const abs = currentBucketPath ? currentBucketPath + '/' + rel : rel;
  return (
    '<div class="file-row" style="' + pad + ';color:' + color + '" title="Click to insert into query"' +
    ' data-fn="' + fn + '" data-path="' + escapeHtml(abs) + '">' +
    '<span class="file-badge" style="background:' + color + '">' + escapeHtml(String(node.ext || '').toUpperCase()) + '</span>' +
    '<span class="file-name">' + escapeHtml(node.name) + '</span>' +
    '<span class="file-size">' + escapeHtml(fmtSize(node.size)) + '</span>' +
    '<span class="file-date">' + escapeHtml(fmtDate(node.created)) + '</span>' +
    (isCsv ? '<button class="convert-btn" title="Convert to Parquet" data-rel="' + escapeHtml(rel) + '">→ Parquet</button>' : '') +
    '</div>'
  );
}

function toggleFolder(n) {
  const box = document.getElementById('folder-' + n);
  const arrow = document.getElementById('arrow-' + n);
  if (!box) return;
  if (box.style.display === 'none') {
    box.style.display = '';
    if (arrow) arrow.textContent = '▾';
  } else {
    box.style.display = 'none';
    if (arrow) arrow.textContent = '▸';
  }
}

function selectFolder(path, n) {
  selectedFolderPath = path === selectedFolderPath ? '' : path;
  goneFolderPath = '';
  document.querySelectorAll('.folder-row').forEach((row) => {
    row.style.background = '';
    row.style.borderLeft = '';
    row.classList.remove('selected');
  });
  if (selectedFolderPath) {
    const row = document.getElementById('folder-row-' + n);
    if (row) {
      row.style.background = 'var(--border)';
      row.style.borderLeft = '3px solid var(--success)';
      row.classList.add('selected');
    }
  }
  updatePathVariableLine();
}

// The folder as the user sees it in the tree: relative to the data folder, with a closing slash.
function folderDisplayName(path) {
  const base = currentBucketPath ? currentBucketPath.replace(/\/+$/, '') + '/' : '';
  const rel = base && path.startsWith(base) ? path.slice(base.length) : path;
  return rel + '/';
}

// What {path-to-files} stands for now, beside the editor.
function pathVariableText() {
  const kind = state.isParquet ? 'Parquet files' : 'CSV files';
  const gone = goneFolderPath ? ' (' + folderDisplayName(goneFolderPath) + ' is gone)' : '';
  if (selectedFolderPath) return PATH_VARIABLE + ' = ' + folderDisplayName(selectedFolderPath) + ', ' + kind;
  if (!currentBucketPath) return PATH_VARIABLE + ' = no data folder' + gone;
  return PATH_VARIABLE + ' = the whole data folder, ' + kind + gone;
}

export function updatePathVariableLine() {
  if (pathFilesListener) pathFilesListener(false);
  const line = document.getElementById('pathVariableLine');
  if (!line) return;
  line.textContent = pathVariableText();
  line.classList.toggle('path-gone', Boolean(goneFolderPath));
}

async function convertCsv(path) {
  const res = await bridgeCall('csv2parquetCpp', path);
  if (res.error) {
    alert('Conversion failed:\n' + res.error);
    return;
  }
  await loadBucket();
}

// The query for one file of the tree.
export function fileQuery(fn, absPath) {
  return 'SELECT *\nFROM ' + fn + '(' + sqlString(absPath) + ')\nLIMIT 10';
}

// The arrow and the conversion button act alone: neither selects the folder nor fills the editor.
function onTreeClick(e) {
  const convert = e.target.closest('.convert-btn');
  if (convert) {
    convertCsv(convert.dataset.rel);
    return;
  }
  const arrow = e.target.closest('.folder-arrow');
  const folder = e.target.closest('.folder-row');
  if (folder) {
    if (arrow) toggleFolder(Number(folder.dataset.folder));
    else selectFolder(folder.dataset.path, Number(folder.dataset.folder));
    return;
  }
  const file = e.target.closest('.file-row');
  if (file) document.getElementById('queryInput').value = fileQuery(file.dataset.fn, file.dataset.path);
}

export function bindBucket() {
  document.getElementById('bucketOut').addEventListener('click', onTreeClick);
  document.getElementById('changePathBtn').addEventListener('click', chooseBucketPath);
  document.getElementById('refreshBtn').addEventListener('click', loadBucket);
}
