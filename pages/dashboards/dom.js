// The page's elements by id, and showing or hiding one.

export function byId(id) {
  return document.getElementById(id);
}

export function setShown(id, shown, display) {
  const el = byId(id);
  if (el) el.style.display = shown ? display || '' : 'none';
}
