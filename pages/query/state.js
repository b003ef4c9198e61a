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
  // The answer drawn as a whole table or chart, and the first rows of a non-aggregated answer,
  // fetched once per run when first drawn.
  lastResult: null,
  lastCapped: null,
  // Bumped by each run, so the answers of an older one are dropped.
  runSeq: 0,
  paginationState: { page: 1, pageSize: PAGE_SIZE },
};
