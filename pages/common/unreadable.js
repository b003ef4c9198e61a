// Shared by the Query and Dashboards pages.
import { formatNumber } from './numbers.js';

const UNREADABLE_SHOWN = 5;

// The note beside an answer that left out folders it could not read: names relative to the data
// folder, a long list shortened with a count.
export function unreadableNoteText(paths, base) {
  if (!Array.isArray(paths) || !paths.length) return '';
  const prefix = base ? String(base).replace(/\/+$/, '') + '/' : '';
  const names = paths.map((p) => {
    const text = String(p);
    const rel = prefix && text.startsWith(prefix) ? text.slice(prefix.length) : text;
    return rel.endsWith('/') ? rel : rel + '/';
  });
  const more = names.length - UNREADABLE_SHOWN;
  return (
    'These folders could not be read and were left out: ' +
    names.slice(0, UNREADABLE_SHOWN).join(', ') +
    (more > 0 ? ' and ' + formatNumber(more) + ' more' : '') +
    '.'
  );
}
