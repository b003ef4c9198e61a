// With timing on (the app tells the page so at start), a run of a whole answer reports how long
// from the Run action its reply took to arrive and its first rows to be drawn. Off by default,
// and then nothing is measured.
import { bridgeCall } from '../common/bridge.js';

const runTimingOn = () => window.plinthosTiming === true && typeof window.plinthosPageTimingCpp === 'function';

// `started` and `arrived` are performance.now() values; called once the rows are in the
// document. The rows count as drawn in the first task after the next frame.
export function reportRunTiming(started, arrived, rows) {
  if (!runTimingOn()) return;
  requestAnimationFrame(() => setTimeout(() => {
    const drawn = performance.now();
    // A lost timing line costs the benchmark a sample, not the user anything.
    bridgeCall('plinthosPageTimingCpp', { reply: arrived - started, drawn: drawn - started, rows });
  }, 0));
}

// A benchmark may hand over the statement to run, so that it only has to press Run.
export function takeTimingStatement() {
  if (runTimingOn() && typeof window.plinthosTimingStatement === 'string') {
    document.getElementById('queryInput').value = window.plinthosTimingStatement;
  }
}
