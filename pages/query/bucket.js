// Bucket browser: the data-folder tree, folder selection for {path-to-files}, file queries and
// CSV to Parquet conversion. Rows carry their folder number and paths in data attributes; one
// click listener on the tree acts on them, so paths of any characters arrive unchanged.
import { bridgeCall } from '../common/bridge.js';
import { escapeHtml } from '../common/escape.js';
import { PATH_VARIABLE, sqlString } from '../common/sql.js';
import { state } from './state.js';
import { dismissButton } from './startup_notice.js';
import { fmtDate, fmtSize, keptNoticeText } from './util.js';

const TREE_INDENT_PX = 20;
const CSV_COLOR = 'var(--success)';
const PARQUET_COLOR = 'var(--warning)';
// The conversion's second argument that replaces an existing Parquet file.
const REPLACE_EXISTING = 'replace';
const FIRST_SLICE_ROWS = 1000;
const SLICE_ROWS = 2000;
// Entries the native side reads per listing round: a huge folder is drawn as far as the first
// round got, and its pending folders fill in round by round.
const LISTING_ROUND_ENTRIES = 20000;

let currentBucketPath = '';
let selectedFolderPath = '';
let folderId = 0;
// Bumped by each load, so an older drawing stops and an older listing is dropped.
let loadSeq = 0;
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

// The data folder as last listed; empty when none is known.
export function dataFolderPath() {
  return currentBucketPath;
}

export function onPathFilesChange(fn) {
  pathFilesListener = fn;
}

// The folders and files of the last listing, paths relative to the data folder, as
// { rel, dir, ext }.
export function bucketEntries() {
  const out = [];
  const walk = (node, prefix) => {
    for (const c of Array.isArray(node && node.children) ? node.children : []) {
      if (!c || typeof c.name !== 'string' || c.problem) continue;  // not openable
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

// A reload keeps the selected folder while it is still there. A huge folder draws its first rows
// at once and the rest a slice at a time, so the page answers while it draws; a newer load
// abandons an older drawing.
export async function loadBucket() {
  const out = document.getElementById('bucketOut');
  const load = ++loadSeq;
  out.innerHTML = bucketNote('var(--muted)', 'Loading...');
  const keep = selectedFolderPath;
  selectedFolderPath = '';
  goneFolderPath = '';
  const res = await bridgeCall('listBucketCpp', { limit: LISTING_ROUND_ENTRIES });
  if (load !== loadSeq) return;
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
  const top = Array.isArray(tree.children) ? tree.children : [];
  if (!top.length) {
    out.innerHTML = bucketNote('var(--muted)', 'No .csv or .parquet files found.');
    updatePathVariableLine();
    return;
  }
  out.innerHTML = '';
  folderId = 0;
  const pending = [];
  let kept = await drawTree({ box: out, indent: 1, path: currentBucketPath || '', rel: '' }, top, load, keep, pending);
  if (load !== loadSeq) return;
  if (!kept && keep && pending.length) {
    await listPending(pending, load, keep);
    if (load !== loadSeq) return;
    kept = folderNumberOf(keep);
  }
  // A folder the user chose while the tree was drawing wins over the one kept from before.
  if (keep && !selectedFolderPath) {
    if (kept) selectFolder(keep, kept);
    else goneFolderPath = keep;
  }
  updatePathVariableLine();
  if (pending.length) {
    await listPending(pending, load, '');
    if (load !== loadSeq) return;
    updatePathVariableLine();
  }
}

function folderNumberOf(path) {
  const row = [...document.querySelectorAll('#bucketOut .folder-row')].find((r) => r.dataset.path === path);
  return row ? Number(row.dataset.folder) : 0;
}

// Lists the folders the first round did not reach, a round at a time, and draws each into its
// place; stops early once `keep` is drawn, so a kept selection comes back without waiting for
// the whole tree. The listing and the tree's readers see the folders as they come.
async function listPending(pending, load, keep) {
  while (pending.length) {
    const batch = pending.slice(0, LISTING_ROUND_ENTRIES);
    const res = await bridgeCall('listBucketCpp', { limit: LISTING_ROUND_ENTRIES, folders: batch.map((f) => f.rel) });
    if (load !== loadSeq) return;
    const folders = res.value && Array.isArray(res.value.folders) ? res.value.folders : [];
    if (res.error || !folders.length) {
      const note = res.error ? 'Could not list the rest of the data folder: ' + res.error : 'The rest of the data folder could not be listed.';
      document.getElementById('bucketOut').insertAdjacentHTML('beforeend', bucketNote('var(--error)', escapeHtml(note)));
      pending.length = 0;
      return;
    }
    pending.splice(0, folders.length);
    let found = false;
    for (let i = 0; i < folders.length; i++) {
      const { node, frame } = batch[i];
      for (const key of Object.keys(node)) delete node[key];
      Object.assign(node, folders[i]);
      const children = Array.isArray(node.children) ? node.children : [];
      if (!children.length) continue;
      const n = await drawTree(frame, children, load, keep, pending);
      if (load !== loadSeq) return;
      found = found || n > 0;
    }
    if (pathFilesListener) pathFilesListener(true);
    if (found) return;
  }
}

// Another data folder was stored (by a second start of the app): the old selection means
// nothing there.
export function openStoredFolder() {
  selectedFolderPath = '';
  return loadBucket();
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
  // Another data folder: the old selection and conversion mean nothing there.
  selectedFolderPath = '';
  hideConversionNotice();
  await loadBucket();
}

function joinPath(parent, name) {
  return parent ? parent + '/' + name : name;
}

const yieldToPage = () => new Promise((resolve) => setTimeout(resolve, 0));

// Draws `top` depth first into the container `start.box`, rows of one container gathered into
// one insertion; folders still to be listed go on `pending` with where they are drawn.
// Answers the number of the folder whose path is `keep`, or 0.
async function drawTree(start, top, load, keep, pending) {
  let kept = 0;
  let budget = FIRST_SLICE_ROWS;
  const box = typeof start.box === 'string' ? document.getElementById(start.box) : start.box;
  if (!box) return 0;
  const stack = [{ ...start, box, children: top, next: 0, html: '' }];
  while (stack.length) {
    const frame = stack[stack.length - 1];
    if (frame.next >= frame.children.length) {
      frame.box.insertAdjacentHTML('beforeend', frame.html);
      stack.pop();
      continue;
    }
    if (budget-- <= 0) {
      for (const f of stack) {
        f.box.insertAdjacentHTML('beforeend', f.html);
        f.html = '';
      }
      await yieldToPage();
      if (load !== loadSeq) return 0;
      budget = SLICE_ROWS;
    }
    const node = frame.children[frame.next++] || {};
    const pad = 'padding-left:' + frame.indent * TREE_INDENT_PX + 'px';
    if (node.problem) {
      frame.html += problemRow(node, pad);
      continue;
    }
    if (node.type !== 'dir') {
      frame.html += fileRow(node, pad);
      continue;
    }
    const n = ++folderId;
    const path = joinPath(frame.path, node.name);
    const rel = joinPath(frame.rel, node.name);
    if (path === keep) kept = n;
    frame.html += folderRow(n, node.name, path, pad);
    const children = Array.isArray(node.children) ? node.children : [];
    if (node.pending) {
      // Drawn into its container when its round comes.
      pending.push({ node, rel, frame: { box: 'folder-' + n, indent: frame.indent + 1, path, rel } });
    }
    if (!children.length) {
      frame.html += '<div id="folder-' + n + '"></div>';
      continue;
    }
    // The container must exist before its rows go in; rows drawn so far go in first.
    frame.html += '<div id="folder-' + n + '"></div>';
    frame.box.insertAdjacentHTML('beforeend', frame.html);
    frame.html = '';
    const box = document.getElementById('folder-' + n);
    stack.push({ children, next: 0, box, indent: frame.indent + 1, path, rel, html: '' });
  }
  return kept;
}

function folderRow(n, name, path, pad) {
  return (
    '<div class="folder-row" id="folder-row-' + n + '" data-folder="' + n + '" data-path="' + escapeHtml(path) +
    '" style="' + pad + '" title="Click to select this folder for queries">' +
    '<span class="folder-arrow" id="arrow-' + n + '">▾</span>' +
    '📂 ' + escapeHtml(name) + '</div>'
  );
}

// An entry that cannot be read or opened: its mark and reason, and nothing to click.
function problemRow(node, pad) {
  const reason = escapeHtml(String(node.problem));
  const kind =
    node.type === 'dir'
      ? '<span class="folder-arrow"></span>📂 '
      : '<span class="file-badge problem-badge">' + escapeHtml(String(node.ext || '').toUpperCase()) + '</span>';
  return (
    '<div class="tree-problem" style="' + pad + '" title="' + reason + '">' +
    kind + '<span class="file-name">' + escapeHtml(node.name) + '</span>' +
    '<span class="problem-mark" aria-label="Cannot be opened">⚠</span>' +
    '<div class="problem-reason">' + reason + '</div></div>'
  );
}

function fileRow(node, pad) {
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
  document.querySelectorAll('.folder-row.selected').forEach((row) => {
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

// A conversion that kept an existing Parquet file says where the table went, and offers to
// replace the kept file instead; replacing touches that file alone.
async function convertCsv(path) {
  const res = await bridgeCall('csv2parquetCpp', path);
  if (res.error) {
    alert('Conversion failed:\n' + res.error);
    return;
  }
  const done = res.value || {};
  if (done.existing) showConversionNotice(keptNoticeText(done.existing, done.ok), path, done.existing);
  else hideConversionNotice();
  await loadBucket();
}

async function replaceExisting(path, existing) {
  const res = await bridgeCall('csv2parquetCpp', path, REPLACE_EXISTING);
  if (res.error) {
    alert('Conversion failed:\n' + res.error);
    return;
  }
  const written = (res.value && res.value.ok) || existing;
  showConversionNotice(written + ' was replaced by the table of ' + path + '.');
  await loadBucket();
}

// Put in as text, never as markup; a notice with a file to replace offers the button.
function showConversionNotice(text, path, existing) {
  hideConversionNotice();
  const box = document.createElement('div');
  box.id = 'conversionNotice';
  box.setAttribute('role', 'status');
  const message = document.createElement('span');
  message.textContent = text;
  box.append(message);
  if (existing) {
    const replace = document.createElement('button');
    replace.type = 'button';
    replace.className = 'conversion-replace';
    replace.textContent = 'Replace ' + existing + ' instead';
    replace.addEventListener('click', () => {
      replace.disabled = true;
      replaceExisting(path, existing).finally(() => {
        replace.disabled = false;
      });
    });
    box.append(replace);
  }
  box.append(dismissButton(box, 'conversion-notice-close'));
  document.getElementById('bucketOut').before(box);
}

function hideConversionNotice() {
  const old = document.getElementById('conversionNotice');
  if (old) old.remove();
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
