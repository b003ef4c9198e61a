// Escaping of text from data for markup built as strings; both pages use it.

export const HTML_ESCAPES = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' };

// Text from data or the file system, made safe for element content and attribute values.
export function escapeHtml(value) {
  return String(value == null ? '' : value).replace(/[&<>"']/g, (c) => HTML_ESCAPES[c]);
}

// A script string literal for an inline handler attribute: JSON keeps backslashes, quotes and
// line breaks intact, the HTML escaping lets it sit inside a double-quoted attribute.
export function handlerArg(value) {
  return escapeHtml(JSON.stringify(String(value == null ? '' : value)));
}
