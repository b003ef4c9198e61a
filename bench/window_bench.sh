#!/usr/bin/env bash
# The 100,000-row, 10-column aggregated answer in the real window under Xvfb: from the Run key to
# its first rows drawn, as the page times it, split by the dispatcher's own timing line, beside
# the engine program on the same statement. Then held answers, timed by a probe inside the page
# (bench/held_window_probe.js): 100,000 and a million rows held and their first rows drawn, a
# 100,000-row line chart through its reduced points, and scrolls of the million rows to random
# places; with the longest page task and the web processes' resident growth for the million.
# Every repetition runs a statement of its own (a different constant), so no cache flatters it.
# Appends its section to the report.
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
# The page's Run asks for the whole answer or holds it, as the Query page does it.
grep -E '^plinthos-timing: (queryDuckCpp|holdQueryCpp),' "$work/app.log" | tail -n "$REPS" >"$work/dispatch.txt"
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
wait "$app_pid" 2>/dev/null || true

# Held answers. The statements, one per repetition and the first unrecorded, and the probe with
# its settings in front.
TABLE_TEMPLATE="${STATEMENT/MAX(range \* 3) AS x3/MAX(range * 3) + @K@ AS x3}"
TABLE_TEMPLATE="${TABLE_TEMPLATE/range(100000)/range(@N@)}"
LINE_TEMPLATE="SELECT range AS x, SUM((range * 7919) % 1000) + @K@ AS y FROM range(100000) GROUP BY range ORDER BY x"
POINTS_MAX=2000  # about a point per pixel of a chart across the maximised window, both ends
SCROLLS=20
COLUMN_READS=3
mkdir -p "$work/held"
TABLE_TEMPLATE="$TABLE_TEMPLATE" LINE_TEMPLATE="$LINE_TEMPLATE" REPS="$REPS" HELD="$work/held" \
  POINTS_MAX="$POINTS_MAX" SCROLLS="$SCROLLS" COLUMN_READS="$COLUMN_READS" node -e '
  const fs = require("fs");
  const e = process.env;
  const cases = [
    { name: "table100k", place: "query", template: e.TABLE_TEMPLATE, n: 100000, waitForKey: "F8" },
    { name: "line100k", place: "dash:line", template: e.LINE_TEMPLATE, n: 100000, kind: "line", waitForKey: "F8" },
    { name: "table1m", place: "query", template: e.TABLE_TEMPLATE, n: 1000000, waitForKey: "F8", scrollAfter: true },
  ];
  for (const c of cases) {
    c.statements = [];
    for (let rep = 0; rep <= Number(e.REPS); rep++) {
      const sql = c.template.replaceAll("@N@", c.n).replaceAll("@K@", 17 * rep + c.n % 7 + 1);
      c.statements.push(sql);
      fs.writeFileSync(`${e.HELD}/${c.name}.${rep}.sql`, sql + ";\n");
    }
    delete c.template;
  }
  // Frames keep running through the scrolls, as they do while a page is scrolled.
  const settings = { cases, scrolls: Number(e.SCROLLS), scrollFrames: true, pointsMax: Number(e.POINTS_MAX), columnReads: Number(e.COLUMN_READS) };
  fs.writeFileSync(`${e.HELD}/probe.js`, `window.plinthosHeldBench = ${JSON.stringify(settings)};\n`);'
cat "$ROOT/bench/held_window_probe.js" >>"$work/held/probe.js"

probe_has() { grep -qF "$1" "$work/app.log"; }
descendants() { local p; for p in $(pgrep -P "$1"); do echo "$p"; descendants "$p"; done; }
web_pids() { local p; for p in $(descendants "$app_pid"); do [ "$(cat "/proc/$p/comm" 2>/dev/null)" = WebKitWebProces ] && echo "$p"; done; }
# The web processes' resident size or its peak (FIELD VmRSS or VmHWM), in kB.
web_kb() {
  local total=0 p v
  for p in $(web_pids); do
    v="$(awk -v f="$1:" '$1 == f { print $2 }' "/proc/$p/status" 2>/dev/null)"
    total=$((total + ${v:-0}))
  done
  echo "$total"
}
reset_peaks() { local p; for p in $(web_pids); do echo 5 >"/proc/$p/clear_refs" 2>/dev/null || true; done; }

export PLINTHOS_TIMING_PROBE="$work/held/probe.js"
unset PLINTHOS_TIMING_STATEMENT
start_app || exit 1
# Each run waits for F8, so the engine program runs each same statement right after it, under
# the same load, and the web processes' peak is taken from just before it.
: >"$work/held/rss.txt"
: >"$work/held/engine.txt"
for name in table100k line100k table1m; do
  for ((i = 0; i <= REPS; i++)); do
    wait_for probe_has 'ready\":\"'"$name"'\",\"rep\":'"$i}" || { echo "the held probe did not reach $name" >&2; grep 'plinthos-probe' "$work/app.log" >&2; exit 1; }
    before="$(web_kb VmRSS)"
    reset_peaks
    press "$main_wid" F8
    wait_for probe_has 'case\":\"'"$name"'\",\"rep\":'"$i," || { echo "no figure for $name" >&2; grep 'plinthos-probe' "$work/app.log" >&2; exit 1; }
    echo "$name $i $before $(web_kb VmHWM)" >>"$work/held/rss.txt"
    if [ "$i" -gt 0 ]; then
      cp "$work/held/$name.$i.sql" "$work/statement.sql"
      echo "$name $i $(engine_ms)" >>"$work/held/engine.txt"
    fi
  done
done
wait_for probe_has 'done\":true' || { echo "the held probe did not finish" >&2; exit 1; }
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
grep '^plinthos-probe: ' "$work/app.log" | sed 's/^plinthos-probe: //' >"$work/held/lines.txt"
cp "$work/app.log" "$work/held/app.log"
HELD="$work/held" REPS="$REPS" node -e '
  const fs = require("fs");
  const dir = process.env.HELD;
  const lines = fs.readFileSync(`${dir}/lines.txt`, "utf8").split("\n").filter(Boolean).map((l) => JSON.parse(JSON.parse(l)[0]));
  const failed = lines.find((l) => l.error);
  if (failed) { console.error(`the held probe failed: ${failed.error}`); process.exit(1); }
  const median = (v) => { const s = [...v].sort((a, b) => a - b); const m = s.length >> 1; return s.length % 2 ? s[m] : (s[m - 1] + s[m]) / 2; };
  const ms = (v) => `${v.toFixed(1)} ms`;
  const figures = (name) => lines.filter((l) => l.case === name && l.rep > 0);
  const engine = {};
  for (const row of fs.readFileSync(`${dir}/engine.txt`, "utf8").split("\n").filter(Boolean)) {
    const [name, , value] = row.split(" ");
    (engine[name] = engine[name] || []).push(Number(value));
  }
  // The dispatcher timing line of each hold, in the order the cases ran them.
  const order = ["table100k", "line100k", "table1m"];
  const service = {};
  const holds = fs.readFileSync(`${dir}/app.log`, "utf8").split("\n").filter((l) => l.startsWith("plinthos-timing: holdQueryCpp,"));
  holds.forEach((l, i) => {
    const name = order[Math.floor(i / (Number(process.env.REPS) + 1))];
    if (!name || i % (Number(process.env.REPS) + 1) === 0) return;
    const field = (label) => Number((l.match(new RegExp(`${label} ([0-9.]+) ms`)) || [])[1]);
    const s = (service[name] = service[name] || { ran: [], hop: [], handed: [], bytes: [] });
    s.ran.push(field("ran"));
    s.hop.push(field("later, handed on in") + field("reached the main thread"));
    s.bytes.push(Number((l.match(/reply of ([0-9]+) bytes/) || [])[1]));
  });
  const split = (name, f) => {
    const s = service[name];
    if (!s) return `hold reply ${ms(median(f.map((x) => x.reply)))}`;
    const reply = median(f.map((x) => x.reply));
    const ran = median(s.ran);
    const hop = median(s.hop);
    return `engine and holding ${ms(ran)}, to the page ${ms(hop)} and delivery ${ms(reply - ran - hop)} for ${Math.round(median(s.bytes) / 1000)} kB`;
  };
  const out = [];
  const row = (label, f, floorName, goal, where) => {
    const drawn = median(f.map((x) => x.drawn));
    const floor = median(engine[floorName]);
    const ratio = drawn / floor;
    out.push(`| ${label} | ${f.length} | ${ms(drawn)} | engine program, same statements | ${ms(floor)} | ${ratio.toFixed(2)} | ${where} | at most ${goal} | ${ratio <= goal ? "met" : "not met"} |`);
  };
  const t100 = figures("table100k");
  row("100,000-row, 10-column answer held in the window: from the call to its first rows drawn", t100, "table100k", 1.15,
    `${split("table100k", t100)}, drawing ${ms(median(t100.map((x) => x.drawn - x.reply)))}`);
  const line = figures("line100k");
  row("100,000-row, two-column line chart held in the window: from the call to the line drawn", line, "line100k", 1.5,
    `${split("line100k", line)}, points fetched ${ms(median(line.map((x) => x.fetched)))}, drawing ${ms(median(line.map((x) => x.drawn - x.reply - x.fetched)))}`);
  const m = figures("table1m");
  const longest = Math.max(...m.map((x) => x.longest));
  const rss = fs.readFileSync(`${dir}/rss.txt`, "utf8").split("\n").filter(Boolean).map((r) => r.split(" ")).filter(([name, rep]) => name === "table1m" && rep > 0).map((r) => r.slice(1).map(Number));
  const growth = Math.max(...rss.map(([, before, peak]) => (peak - before) / 1024));
  row("A million-row, 10-column answer held in the window: from the call to its first rows drawn", m, "table1m", 1.3,
    `${split("table1m", m)}, drawing ${ms(median(m.map((x) => x.drawn - x.reply)))}`);
  const by = m[0] ? (m[0].tasksFrom === "longtask" ? "long-task entries" : "how late a 10 ms timer fired") : "";
  const frames = Math.max(...m.map((x) => x.longestFrame));
  const waiting = Math.max(...m.map((x) => x.waiting));
  const whole = Math.max(longest, waiting);
  out.push(`| Longest page task while a million rows load (${by}) | ${m.length} | ${ms(whole)} (the largest) | | | | before the reply, while the page only waits for the engine: ${ms(waiting)}; from the reply to the rows drawn: ${ms(longest)}; longest gap between frames, less one frame: ${ms(frames)} | at most 50 ms | ${whole <= 50 ? "met" : "not met"} |`);
  out.push(`| Web processes resident growth while a million rows load (peak less the size before, /proc) | ${rss.length} | ${growth.toFixed(1)} MB (the largest) | | | | | at most 50 MB | ${growth <= 50 ? "met" : "not met"} |`);
  const s = lines.filter((l) => l.case === "scroll" && l.rep > 0);
  const drawn = median(s.map((x) => x.drawn));
  out.push(`| The million rows scrolled to a random place: 200 rows fetched by range and those in sight drawn | ${s.length} | ${ms(drawn)} (largest ${ms(Math.max(...s.map((x) => x.drawn)))}) | | | | fetch and parse ${ms(median(s.map((x) => x.fetched)))}, drawing to the next frame ${ms(median(s.map((x) => x.drawn - x.fetched)))}, frames running as while a page scrolls | at most 50 ms | ${drawn <= 50 ? "met" : "not met"} |`);
  const col = lines.filter((l) => l.case === "column" && l.rep > 0);
  if (col.length) {
    const fetched = median(col.map((x) => x.fetched));
    const mb = col[0].bytes / 1e6;
    out.push(`| A numeric column of the million rows read through the scheme (${mb.toFixed(1)} MB) | ${col.length} | ${ms(fetched)} | | | | ${(mb / (fetched / 1000)).toFixed(1)} MB/s | report | report |`);
  }
  console.log(out.join("\n"));
' >"$work/held/rows.md" || exit 1
{
  echo
  echo '## Held answers in the window'
  echo
  echo "- Command: \`bash bench/window_bench.sh\`; the app under Xvfb, each figure timed by a probe inside its page (bench/held_window_probe.js) from the hold call to the first task after the frame that shows it; medians of $REPS runs after one unrecorded, each run a statement of its own; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
  echo '| figure | N | median | floor | floor median | ratio | where the time goes (medians) | goal | result |'
  echo '|---|---|---|---|---|---|---|---|---|'
  cat "$work/held/rows.md"
} | tee -a "$REPORT"
