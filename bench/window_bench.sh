#!/usr/bin/env bash
# The 100,000-row, 10-column aggregated answer in the real window under Xvfb: from the Run key to
# its first rows drawn, as the page times it, split by the dispatcher's own timing line, beside
# the engine program on the same statement. Appends its section to the report.
#   bash bench/window_bench.sh BUILD REPORT [REPS]
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:?usage: window_bench.sh BUILD REPORT [REPS]}"
REPORT="${2:?usage: window_bench.sh BUILD REPORT [REPS]}"
REPS="${3:-5}"
APP="$BUILD/Plinthos.app/Contents/MacOS/Plinthos"
ENGINE="$BUILD/Plinthos.app/Contents/Resources/duckdb"
# The same statement as the browser figure's.
STATEMENT="SELECT range AS id, SUM(range) AS total, COUNT(*) AS n, MIN(range % 97) AS m97, MAX(range * 3) AS x3,
  AVG(range) AS mean, SUM(range) / 7 AS seventh, 'item ' || range AS label,
  DATE '2020-01-01' + CAST(range % 3650 AS INTEGER) AS day, range % 2 = 0 AS even
FROM range(100000) GROUP BY range ORDER BY id"

# shellcheck source=../tests/desktop/virtual_display.sh
source "$ROOT/tests/desktop/virtual_display.sh"
# shellcheck source=../tests/desktop/app_session.sh
source "$ROOT/tests/desktop/app_session.sh"
STEP_TIMEOUT=120

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print 0; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
engine_ms() {
  local t0 t1
  t0=$(date +%s%N)
  "$ENGINE" :memory: -json <"$work/statement.sql" >/dev/null
  t1=$(date +%s%N)
  echo "scale=1; ($t1 - $t0) / 1000000" | bc
}
page_lines() { grep -c '^plinthos-timing: page' "$work/app.log" 2>/dev/null || true; }
more_page_lines() { [ "$(page_lines)" -gt "$1" ]; }

start_configured_display
printf '%s;\n' "$STATEMENT" >"$work/statement.sql"
export PLINTHOS_TIMING=1 PLINTHOS_TIMING_STATEMENT="$STATEMENT"
start_app || exit 1
# The page is loaded once its listing has been asked for.
wait_for grep -q 'plinthos-timing: listBucketCpp' "$work/app.log" || { echo "the Query page did not load" >&2; exit 1; }

engine=()
for ((i = 0; i <= REPS; i++)); do
  before="$(page_lines)"
  press "$main_wid" ctrl+Return
  wait_for more_page_lines "$before" || { echo "no timing line from the page" >&2; cat "$work/app.log" >&2; exit 1; }
  engine+=("$(engine_ms)")
done
kill "$app_pid" 2>/dev/null || true

# The first run of each warms up and is left out.
grep '^plinthos-timing: page' "$work/app.log" | tail -n "$REPS" >"$work/page.txt"
grep '^plinthos-timing: queryDuckCpp' "$work/app.log" | tail -n "$REPS" >"$work/dispatch.txt"
field() { sed -E "s/.*$1 ([0-9.]+) ms.*/\\1/" "$2" | median; }
reply="$(field 'reply arrived' "$work/page.txt")"
drawn="$(field 'first rows drawn' "$work/page.txt")"
waited="$(field 'waited' "$work/dispatch.txt")"
ran="$(field 'ran' "$work/dispatch.txt")"
hop="$(field 'thread' "$work/dispatch.txt")"
handed="$(field 'handed on in' "$work/dispatch.txt")"
bytes="$(sed -E 's/.*reply of ([0-9]+) bytes.*/\1/' "$work/dispatch.txt" | median)"
floor="$(printf '%s\n' "${engine[@]:1}" | median)"
ratio="$(echo "scale=2; $drawn / $floor" | bc)"
delivery="$(echo "$reply - $waited - $ran - $hop - $handed" | bc)"
draw="$(echo "$drawn - $reply" | bc)"

{
  echo
  echo '## Window figure'
  echo
  echo "- Command: \`bash bench/window_bench.sh\`; the app under Xvfb with PLINTHOS_TIMING set, Ctrl+Enter pressed by xdotool, medians of $REPS runs after one unrecorded; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
  echo '| figure | N | median | floor | floor median | ratio | where the time goes (medians) | goal | result |'
  echo '|---|---|---|---|---|---|---|---|---|'
  echo "| 100,000-row, 10-column aggregated answer in the window: from Run to its first rows drawn | $REPS | $drawn ms | engine program, same statement | $floor ms | $ratio | service call (engine and conversion) $ran ms, waiting in the queue $waited ms, to the main thread $hop ms, webview_return $handed ms for $bytes bytes, delivery into the page (script parse and reply) $delivery ms, drawing $draw ms | report | report |"
} | tee -a "$REPORT"
