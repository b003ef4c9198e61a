// What the Query page holds between actions: the file kind of {path-to-files} and the latest run.
// One object, so every module reads and changes the same values.
import { PAGE_SIZE } from '../common/sql.js';

export const state = {
  isParquet: true,
  // The latest run's text with {path-to-files} replaced, as a script (sqlScript), whether its last
  // statement aggregates, and its row count once counted.
  lastSql: null,
  lastScript: null,
  lastAgg: false,
  lastTotal: null,
  // The answer held natively for the whole table and the charts (the hold reply: its id, columns,
  // row count and first rows), held once per run when first drawn; the hold on its way; the
  // latest chart's fetched answer and its note.
  held: null,
  holding: null,
  chartData: null,
  chartNote: '',
  // Bumped by each drawing of a whole table or chart, so an older one's fetches are dropped.
  viewSeq: 0,
  // Bumped by each run, so the answers of an older one are dropped.
  runSeq: 0,
  paginationState: { page: 1, pageSize: PAGE_SIZE },
};
