let currentTab = null;

async function loadTab(name) {
  if (name === currentTab) return;
  currentTab = name;
  document.querySelectorAll('nav button').forEach((b) => b.classList.remove('active'));
  const tab = document.getElementById('tab-' + name);
  if (tab) tab.classList.add('active');
  document.querySelectorAll('.tab-pane').forEach((p) => { p.style.display = 'none'; });
  let pane = document.getElementById('pane-' + name);
  if (!pane) {
    const html = await getPage(name);
    pane = document.createElement('div');
    pane.id = 'pane-' + name;
    pane.className = 'tab-pane';
    pane.innerHTML = html;
    document.getElementById('content').appendChild(pane);
    // Scripts set through innerHTML never run: replace each with a fresh copy of its text.
    pane.querySelectorAll('script').forEach((old) => {
      const fresh = document.createElement('script');
      fresh.text = old.text;
      old.replaceWith(fresh);
    });
  }
  // A later click may have switched tabs while the page was being fetched.
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

loadTab('bucket');
