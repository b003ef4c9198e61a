// The Query page's entry: binds the controls, publishes what markup and outside callers name on
// window, and loads the tree and the saved queries.
import { chartChoices } from '../common/chart_types.js';
import { startChartLibraryWhenQuiet } from '../common/libraries.js';
import { chooseAnswerView, freeHeldOnLeave } from './answer.js';
import { bindBucket, chooseBucketPath, loadBucket, openStoredFolder, updatePathVariableLine } from './bucket.js';
import { fillChartMenu } from './charts.js';
import { warmUp } from './completion.js';
import { bindEditor } from './editor.js';
import { takeTimingStatement } from './run_timing.js';
import { bindSavedQueries, loadSavedQueries } from './saved_queries.js';
import { showStartupNotice } from './startup_notice.js';
import { bindTables, bucketPaginatedGo } from './table.js';

window.bucketPaginatedGo = bucketPaginatedGo;
// For the native side: a second start of the app hands this window a folder or a notice.
window.plinthosOpenFolder = openStoredFolder;
window.plinthosChooseFolder = chooseBucketPath;
window.plinthosShowNotice = showStartupNotice;

bindBucket();
bindEditor();
bindTables();
bindSavedQueries();
fillChartMenu(document.getElementById('chartType'), chartChoices('table'));
document.getElementById('chartType').addEventListener('change', chooseAnswerView);
takeTimingStatement();
freeHeldOnLeave();
showStartupNotice(window.plinthosStartupNotice);
updatePathVariableLine();
// The chart library starts, and the editor's words and columns are read, after the tree is drawn,
// not before: the tree is what the user waits for.
loadBucket().finally(() => {
  startChartLibraryWhenQuiet();
  warmUp();
});
loadSavedQueries();
