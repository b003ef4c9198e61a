// Bucket browser: the data-folder tree, folder selection for {path-to-files}, file queries and
// CSV to Parquet conversion.

const TREE_INDENT_PX = 20;
const CSV_COLOR = '#a6e3a1';
const PARQUET_COLOR = '#fab387';

let currentBucketPath = '';
let selectedFolderPath = '';
let _folderId = 0;
// The selected folder that a reload found gone, named by the folder line until the next choice.
let goneFolderPath = '';

function bucketNote(color, html) {
  return '<div style="color:' + color + ';padding:8px 0">' + html + '</div>';
}

// A reload keeps the selected folder while it is still there.
async function loadBucket() {
  const out = document.getElementById('bucketOut');
  out.innerHTML = bucketNote('#6c7086', 'Loading...');
  const keep = selectedFolderPath;
  selectedFolderPath = '';
  goneFolderPath = '';
  let tree;
  try {
    tree = await listBucketCpp();
  } catch (e) {
    tree = { error: String(e) };
  }
  if (!tree || tree.error) {
    goneFolderPath = keep;
    out.innerHTML = bucketNote(
      '#fab387',
      'No bucket path selected. Click <b style="color:#cba6f7">📁 Change Path</b> above to choose a folder.',
    );
    updatePathVariableLine();
    return;
  }
  if (tree.bucketPath) {
    currentBucketPath = tree.bucketPath;
    document.getElementById('bucketPathLabel').textContent = currentBucketPath;
  }
  _folderId = 0;
  const html = renderTree(tree, 0);
  out.innerHTML = html || bucketNote('#6c7086', 'No .csv or .parquet files found.');
  if (keep) {
    const row = Array.from(out.querySelectorAll('.folder-row')).find((r) => r.dataset.path === keep);
    if (row) selectFolder(keep, Number(row.id.slice('folder-row-'.length)));
    else goneFolderPath = keep;
  }
  updatePathVariableLine();
}

async function chooseBucketPath() {
  let path;
  try {
    path = await chooseFolderCpp();
  } catch (e) {
    return;
  }
  if (!path) return;
  await setBucketPathCpp(path);
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
    const n = ++_folderId;
    const path = joinPath(parentPath, node.name);
    return (
      '<div class="folder-row" id="folder-row-' + n + '" data-path="' + escapeHtml(path) + '" style="' + pad + '"' +
      ' title="Click to select this folder for queries"' +
      ' onclick="selectFolder(' + handlerArg(path) + ', ' + n + ')">' +
      '<span class="folder-arrow" id="arrow-' + n + '" onclick="toggleFolder(' + n + ', event)">▾</span>' +
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
    ' onclick="insertFileQuery(' + handlerArg(fn) + ', ' + handlerArg(abs) + ')">' +
    '<span class="file-badge" style="background:' + color + '">' + escapeHtml(String(node.ext || '').toUpperCase()) + '</span>' +
    '<span class="file-name">' + escapeHtml(node.name) + '</span>' +
    '<span class="file-size">' + escapeHtml(fmtSize(node.size)) + '</span>' +
    '<span class="file-date">' + escapeHtml(fmtDate(node.created)) + '</span>' +
    (isCsv
      ? '<button class="convert-btn" title="Convert to Parquet" onclick="event.stopPropagation(); convertCsv(' + handlerArg(rel) + ')">→ Parquet</button>'
      : '') +
    '</div>'
  );
}

function toggleFolder(n, event) {
  if (event) event.stopPropagation();
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
  });
  if (selectedFolderPath) {
    const row = document.getElementById('folder-row-' + n);
    if (row) {
      row.style.background = '#45475a';
      row.style.borderLeft = '3px solid #a6e3a1';
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
  const kind = isParquet ? 'Parquet files' : 'CSV files';
  const gone = goneFolderPath ? ' (' + folderDisplayName(goneFolderPath) + ' is gone)' : '';
  if (selectedFolderPath) return PATH_VARIABLE + ' = ' + folderDisplayName(selectedFolderPath) + ', ' + kind;
  if (!currentBucketPath) return PATH_VARIABLE + ' = no data folder' + gone;
  return PATH_VARIABLE + ' = the whole data folder, ' + kind + gone;
}

function updatePathVariableLine() {
  const line = document.getElementById('pathVariableLine');
  if (!line) return;
  line.textContent = pathVariableText();
  line.classList.toggle('path-gone', Boolean(goneFolderPath));
}

function insertFileQuery(fn, absPath) {
  document.getElementById('queryInput').value = fileQuery(fn, absPath);
}

async function convertCsv(path) {
  let res;
  try {
    res = await csv2parquetCpp(path);
  } catch (e) {
    res = { error: String(e) };
  }
  if (res && res.error) {
    alert('Conversion failed:\n' + res.error);
    return;
  }
  await loadBucket();
}

// The query for one file of the tree.
function fileQuery(fn, absPath) {
  return 'SELECT *\nFROM ' + fn + '(' + sqlString(absPath) + ')\nLIMIT 10';
}
