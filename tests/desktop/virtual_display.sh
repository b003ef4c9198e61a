# Sourced by the desktop tests: a temporary folder `$work`, step reporting, polling, and
# `start_display SIZE`, which starts a private virtual display with a window manager and a
# private HOME. On exit every program the test started in the background is ended, newest
# first, and `$work` is removed.

STEP_TIMEOUT=60 # seconds any one step may take

work="$(mktemp -d)"
cleanup() {
  local pids
  pids="$(jobs -p | tac)"
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  for pid in $pids; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

# Polls a command until it succeeds or the step timeout passes.
wait_for() {
  local deadline=$((SECONDS + STEP_TIMEOUT))
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.3
  done
}

start_display() {
  Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  wait_for test -s "$work/display" || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
  unset WAYLAND_DISPLAY
  # No real settings are touched: everything follows the private HOME.
  export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime"
  unset XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME
  CONFIG_FILE="$HOME/.config/plinthos/config.json"
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  start_session_bus
  # Maximising, closing with Alt+F4 and modality all need the window manager: without it every
  # later step would fail for a reason the test does not show. Now and then it cannot open a
  # display that has only just come up, and ends at once; then it is started again.
  local attempt wm deadline
  for attempt in 1 2 3 4 5; do
    openbox >"$work/wm.log" 2>&1 &
    wm=$!
    deadline=$((SECONDS + 15))
    while kill -0 "$wm" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
      wm_running && return 0
      sleep 0.2
    done
    kill "$wm" 2>/dev/null
    wait "$wm" 2>/dev/null
    echo "the window manager did not come up ($(tr '\n' ' ' <"$work/wm.log")); starting it again" >&2
    sleep 0.5
  done
  echo "the window manager did not come up:" >&2
  cat "$work/wm.log" >&2
  exit 1
}
# A private session bus: one app per bus, so a running app of another test (or of the user) is
# never the one a second start finds.
start_session_bus() {
  dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$work/bus" 2>"$work/bus.log" &
  wait_for test -s "$work/bus" || { echo "the session bus did not start" >&2; cat "$work/bus.log" >&2; exit 1; }
  export DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$work/bus")"
}

# The mapped windows titled exactly NAME, newest last. A window being replaced may vanish between
# the search and a later question about it: callers retry through wait_for.
viewable_windows() {
  local wid
  for wid in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    xwininfo -id "$wid" 2>/dev/null | grep -q 'Map State: IsViewable' && echo "$wid"
  done
}
# Sets `found_wid` to a mapped window titled NAME whose property PROP matches PATTERN (any
# mapped one without PROP).
find_window() {
  local wid
  found_wid=""
  for wid in $(viewable_windows "$1"); do
    if [ -z "${2:-}" ] || xprop -id "$wid" "$2" 2>/dev/null | grep -q "$3"; then
      found_wid="$wid"
      return 0
    fi
  done
  return 1
}

# xprop answers "not found" with exit code 0: only a window id shows a running window manager.
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# Colour COLOUR occurs in the image FILE. The histogram is read whole first: a grep that stops at
# its first match could end the writer early and, under pipefail, fail the check at random.
image_has() {
  local hist
  hist="$(convert "$1" -format %c histogram:info:- 2>/dev/null)" || return 1
  grep -qi "$2" <<<"$hist"
}

# Ends the test: the exit code tells whether every step passed.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s); window manager log:" >&2
    cat "$work/wm.log" >&2 2>/dev/null
    exit 1
  fi
  echo "$1"
}
