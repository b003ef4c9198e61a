// A notice the native side hands over at start (a folder given on the command line that could
// not be opened), shown above the bucket tree until dismissed. Put in as text, never as markup.
export function showStartupNotice(text) {
  const out = document.getElementById('bucketOut');
  if (!out || typeof text !== 'string' || text === '') return;
  document.getElementById('startupNotice')?.remove();
  const box = document.createElement('div');
  box.id = 'startupNotice';
  box.setAttribute('role', 'alert');
  const message = document.createElement('span');
  message.textContent = text;
  box.append(message, dismissButton(box, 'startup-notice-close'));
  out.before(box);
}

// The × that removes a notice above the tree.
export function dismissButton(box, className) {
  const close = document.createElement('button');
  close.type = 'button';
  close.className = className;
  close.title = 'Dismiss';
  close.textContent = '×';
  close.addEventListener('click', () => box.remove());
  return close;
}

