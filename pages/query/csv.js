// CSV text of a held result, written as the engine's own export writes it: a header line, commas,
// quotes only around fields holding a comma, a quote or a line break (quotes doubled), an empty
// text quoted so that it differs from NULL, which is an empty field, and a line feed after every
// line.

const CSV_NEEDS_QUOTES_RE = /[",\r\n]/;

function csvField(value, isNull) {
  if (isNull) return '';
  const s = String(value == null ? '' : value);
  if (s === '') return '""';
  return CSV_NEEDS_QUOTES_RE.test(s) ? '"' + s.replace(/"/g, '""') + '"' : s;
}

// isNull(row, column) tells the NULL cells, whose text is empty like an empty string's.
export function csvText(columns, rows, isNull) {
  const nullAt = typeof isNull === 'function' ? isNull : () => false;
  let out = (columns || []).map((c) => csvField(c, false)).join(',') + '\n';
  (rows || []).forEach((row, r) => {
    out += (row || []).map((cell, c) => csvField(cell, nullAt(r, c))).join(',') + '\n';
  });
  return out;
}
