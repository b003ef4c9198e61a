import { bridgeCall } from '../common/bridge.js';

let currentTab = null;
// Panes being fetched, by tab: a second click while one is on its way waits for the same pane.
const pendingPanes = {};

// A page that could not be fetched says why in a pane of its own, and the next click of its tab
// asks again.
async function fetchPane(name) {
  const res = await bridgeCall('getPage', name);
  const pane = document.createElement('div');
  pane.className = 'tab-pane';
  // Hidden until chosen: another tab may have been clicked while this page was on its way.
  pane.style.display = 'none';
  if (res.error) {
    delete pendingPanes[name];
    const old = document.getElementById('pane-failed-' + name);
    if (old) old.remove();
    pane.id = 'pane-failed-' + name;
    pane.className = 'tab-pane pane-failed';
    pane.textContent = 'Could not load this page: ' + res.error;
    document.getElementById('content').appendChild(pane);
    return pane;
  }
  pane.id = 'pane-' + name;
  pane.innerHTML = typeof res.value === 'string' ? res.value : '';
  document.getElementById('content').appendChild(pane);
  // Scripts set through innerHTML never run: replace each with a fresh copy of its text.
  pane.querySelectorAll('script').forEach((old) => {
    const fresh = document.createElement('script');
    fresh.text = old.text;
    old.replaceWith(fresh);
  });
  return pane;
}

async function loadTab(name) {
  if (name === currentTab) return;
  currentTab = name;
  document.querySelectorAll('nav button').forEach((b) => b.classList.remove('active'));
  const tab = document.getElementById('tab-' + name);
  if (tab) tab.classList.add('active');
  document.querySelectorAll('.tab-pane').forEach((p) => { p.style.display = 'none'; });
  let pane = document.getElementById('pane-' + name);
  if (!pane) {
    if (!pendingPanes[name]) pendingPanes[name] = fetchPane(name);
    pane = await pendingPanes[name];
  }
  if (currentTab === name) pane.style.display = 'block';
}

document.addEventListener('contextmenu', (e) => e.preventDefault());

// Command-key editing; Ctrl already does these natively, so only Meta is handled here.
document.addEventListener('keydown', (e) => {
  if (!e.metaKey) return;
  const commands = { a: 'selectAll', c: 'copy', x: 'cut', v: 'paste' };
  if (e.key === 'z') document.execCommand(e.shiftKey ? 'redo' : 'undo');
  else if (commands[e.key]) document.execCommand(commands[e.key]);
});

// The tab buttons' markup calls loadTab by name.
window.loadTab = loadTab;

loadTab('bucket');
