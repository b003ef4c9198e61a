// "⬇ CSV" of a paginated table: the engine writes every row of the statement the table pages
// through to a file the user chooses. A script's last statement is written with the statements
// before it run first (`options.script`, from sqlScript); engine messages are told in terms of
// `options.userText`. A failure is reported here; the answer goes back as bridgeCall gives it.
import { bridgeCall } from './bridge.js';
import { mapEngineError } from './engine_error.js';
import { scriptPagedBase, sqlPieces } from './sql.js';

export async function exportPagedCsv(sql, options) {
  const opts = options || {};
  const script = opts.script || { setup: [], last: { text: String(sql), at: 0 } };
  const userText = opts.userText != null ? opts.userText : String(sql);
  const base = scriptPagedBase(script);
  const setup = sqlPieces(script.setup).sql;
  const res = await (setup ? bridgeCall('exportToCsvCpp', base.text, setup) : bridgeCall('exportToCsvCpp', base.text));
  if (res.error) {
    const sent = sqlPieces(script.setup.concat(['COPY (\n', base, '\n) TO ']));
    alert('Export failed: ' + mapEngineError(res.error, sent, userText));
  }
  return res;
}
