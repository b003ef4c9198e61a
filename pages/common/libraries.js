// Libraries the shell page carries as text and starts only when first needed: starting ECharts
// takes longer than starting the whole Query page, and no page draws a chart before its first
// answer.
const IDLE_FALLBACK_MS = 300;

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

// Starts the chart library once the page is idle, so that a first chart need not wait for it.
export function startChartLibraryWhenIdle() {
  if (window.echarts || !document.getElementById('library-echarts')) return;
  if (typeof window.requestIdleCallback === 'function') window.requestIdleCallback(() => chartLibrary());
  else setTimeout(chartLibrary, IDLE_FALLBACK_MS);
}
