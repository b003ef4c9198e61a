#!/usr/bin/env bash
# The real window stays alive while the engine works. With a long query running, "Running..."
# is drawn, a click on the Dashboards tab is drawn and Stop is offered; Stop draws "Query
# cancelled." and leaves no engine process; Ctrl+Q and closing the window while a query runs
# exit with code 0 and leave neither an engine process nor a temp script. Each drawing check
# passes only while the engine still runs, so a window that waits for the engine fails it; the
# time each took is reported.
set -uo pipefail
APP="${1:?usage: responsive_test.sh <path to the Plinthos executable>}"

source "$(dirname "${BASH_SOURCE[0]}")/virtual_display.sh"
source "$(dirname "${BASH_SOURCE[0]}")/app_session.sh"
ENGINE="$(readlink -f "$(dirname "$APP")/../Resources/duckdb")"
# About 40 seconds of engine work on a small machine; every run is stopped long before.
LONG_QUERY="SELECT SUM(x) AS s FROM range(6000000000) t(x) WHERE x % 7 = 3"
# Places on the maximised window of a 1600x1000 screen.
EDITOR_Y=610 QUERY_TAB_X=95 DASH_TAB_X=210 TAB_Y=75
QUERY_TAB=120x40+30+60 DASH_TAB=150x40+160+60    # the two tab labels
ACTION_ROW=400x60+0+650                          # run, Stop and save buttons
NOTE_HEAD=95x30+40+705 NOTE_TAIL=120x30+140+705  # "Running..." fills only the head
engines=""

start_configured_display

start_drawn_app() {
  start_app || return 1
  wait_for tab_bar_drawn || { fail "tab bar not drawn"; return 1; }
  sleep 1  # the Query page lays out after the tab bar
}
click() { xdotool mousemove --sync "$1" "$2" click 1; }
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }

# Colour COLOUR occurs in the screen region GEOMETRY.
shows() {
  import -window root -crop "$1" +repage "$work/region.png" 2>/dev/null || return 1
  image_has "$work/region.png" "$2"
}
tab_bar_drawn() { shows 1600x200+0+0 '#181825' && shows 1600x200+0+0 '#CBA6F7'; }
running_drawn() { shows "$NOTE_HEAD" '#6C7086' && ! shows "$NOTE_TAIL" '#6C7086'; }
cancelled_drawn() { shows "$NOTE_HEAD" '#6C7086' && shows "$NOTE_TAIL" '#6C7086'; }
dashboards_tab_drawn() { shows "$DASH_TAB" '#CBA6F7' && ! shows "$QUERY_TAB" '#CBA6F7'; }
query_tab_drawn() { shows "$QUERY_TAB" '#CBA6F7' && ! shows "$DASH_TAB" '#CBA6F7'; }
# The Stop button's outline; sets stop_x and stop_y to its centre.
stop_shown() {
  import -window root -crop "$ACTION_ROW" +repage "$work/row.png" 2>/dev/null || return 1
  local box
  box="$(convert "$work/row.png" -fill black +opaque '#F38BA8' -trim -format '%w %h %X %Y' info: 2>/dev/null)"
  read -r w h x y <<<"$box"
  [ "${w:-1}" -gt 20 ] || return 1
  local origin="${ACTION_ROW#*+}"
  stop_x=$((${origin%+*} + x + w / 2)) stop_y=$((${origin#*+} + y + h / 2))
}

# The app's engine processes, found by their program path among the app's descendants.
descendants() { local p; for p in $(pgrep -P "$1"); do echo "$p"; descendants "$p"; done; }
is_engine() { [ "$(tr '\0' '\n' <"/proc/$1/cmdline" 2>/dev/null | head -n1)" = "$ENGINE" ]; }
find_engines() {
  engines=""
  local p
  for p in $(descendants "$app_pid"); do is_engine "$p" && engines="$engines $p"; done
  [ -n "$engines" ]
}
# A recorded engine still runs (an ended one may linger as a zombie, which runs nothing).
engine_alive() {
  local p state
  for p in $engines; do
    state="$(sed 's/.*) //' "/proc/$p/stat" 2>/dev/null | cut -d' ' -f1)"
    [ -n "$state" ] && [ "$state" != Z ] && is_engine "$p" && return 0
  done
  return 1
}

# Starts the long query from the editor and waits for its engine process.
start_long_query() {
  local screen_width
  screen_width="$(xdotool getdisplaygeometry | cut -d' ' -f1)"
  click $((screen_width / 2)) "$EDITOR_Y"
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 10 "$LONG_QUERY"
  started="$(now)"
  xdotool key --clearmodifiers ctrl+Return
  wait_for find_engines || { fail "the long query started no engine"; return 1; }
}

# Passes WHAT when CHECK holds while the engine still runs.
while_running() {
  local what="$1"
  shift
  if ! wait_for "$@"; then fail "$what: not drawn"; return 1; fi
  if engine_alive; then ok "$what, $(since "$started") after the run began, the engine still running"; else fail "$what only after the engine ended"; return 1; fi
}

no_engine_left() {
  if wait_for not engine_alive; then ok "$1: no engine process left"; else fail "$1: the engine still runs"; fi
}
# Quits with KEY while the query runs: exit code 0, no engine and no temp script left.
quit_during_query() {
  local what="$1"
  # An aggregated run holds its answer: its script is named for the hold.
  scripts_left() {
    local found
    found="$(compgen -G "/tmp/duckquery_${app_pid}_*.sql"; compgen -G "/tmp/duckhold_${app_pid}_*.sql")"
    [ -n "$found" ] && echo "$found"
  }
  # The engine reads its script from a file whose name is already gone.
  local p script_open=""
  for p in $engines; do
    case "$(readlink "/proc/$p/fd/0" 2>/dev/null)" in /tmp/duckquery_${app_pid}_*.sql\ \(deleted\) | /tmp/duckhold_${app_pid}_*.sql\ \(deleted\)) script_open=1 ;; esac
  done
  [ -n "$script_open" ] || fail "$what: the engine does not read a nameless temp script"
  scripts_left >/dev/null && fail "$what: the temp script has a name while the query runs"
  press "$main_wid" "$2"
  expect_exit_0 "$what during a query"
  no_engine_left "$what"
  if scripts_left >/dev/null; then fail "$what: the temp script was left behind"; rm -f $(scripts_left); else ok "$what: no temp script left"; fi
}

# 1. A long query: the note, a tab click and Stop are drawn while it runs; Stop ends it.
if start_drawn_app && start_long_query; then
  while_running '"Running..." drawn' running_drawn
  click "$DASH_TAB_X" "$TAB_Y"
  while_running "a click on the Dashboards tab drawn" dashboards_tab_drawn
  click "$QUERY_TAB_X" "$TAB_Y"
  if while_running "Stop offered" stop_shown; then
    click "$stop_x" "$stop_y"
    stopped="$(now)"
    if wait_for cancelled_drawn; then ok "Stop draws \"Query cancelled.\" $(since "$stopped") after the click"; else fail "no \"Query cancelled.\" after Stop"; fi
    no_engine_left "Stop"
    if wait_for not stop_shown; then ok "Stop is gone once the query ended"; else fail "Stop still offered"; fi
  fi
  press "$main_wid" ctrl+q
  expect_exit_0 "Ctrl+Q after Stop"
fi

# 2. Ctrl+Q, and closing the window, while the query runs.
if start_drawn_app && start_long_query; then quit_during_query "Ctrl+Q" ctrl+q; fi
if start_drawn_app && start_long_query; then quit_during_query "closing the window" alt+F4; fi

finish "desktop responsiveness test passed"
