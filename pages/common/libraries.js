// Libraries the shell page carries as text and starts only when first needed: starting ECharts
// takes longer than starting the whole Query page, and no page draws a chart before its first
// answer.
// A start takes some hundreds of milliseconds: it waits until the user has left the page alone
// this long, so that no typing or click waits behind it.
const QUIET_MS = 2000;
const INPUT_EVENTS = ['keydown', 'pointerdown', 'wheel'];

function startLibrary(name) {
  const holder = document.getElementById('library-' + name);
  if (!holder) return;
  holder.remove();
  const script = document.createElement('script');
  script.text = holder.text;
  // An inline script runs as it is inserted; the element is of no use afterwards.
  document.head.appendChild(script);
  script.remove();
}

// The chart library, started on first use.
export function chartLibrary() {
  if (!window.echarts) startLibrary('echarts');
  return window.echarts;
}

// Starts the chart library once the page has had no input for a while and is idle, so that a
// first chart need not wait for it.
export function startChartLibraryWhenQuiet() {
  if (window.echarts || !document.getElementById('library-echarts')) return;
  let timer = 0;
  const later = () => {
    clearTimeout(timer);
    timer = setTimeout(start, QUIET_MS);
  };
  const start = () => {
    for (const type of INPUT_EVENTS) document.removeEventListener(type, later, true);
    if (typeof window.requestIdleCallback === 'function') window.requestIdleCallback(() => chartLibrary());
    else chartLibrary();
  };
  for (const type of INPUT_EVENTS) document.addEventListener(type, later, { capture: true, passive: true });
  later();
}
