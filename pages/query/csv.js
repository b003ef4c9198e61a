// CSV text of a held result: every field quoted, quotes doubled, CRLF between lines.

function csvField(value) {
  return '"' + String(value == null ? '' : value).replace(/"/g, '""') + '"';
}

export function csvText(columns, rows) {
  const lines = [(columns || []).map(csvField).join(',')];
  for (const row of rows || []) lines.push((row || []).map(csvField).join(','));
  return lines.join('\r\n');
}
