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
  # No real settings are touched.
  export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache" \
    XDG_DATA_HOME="$work/home/.local/share" XDG_RUNTIME_DIR="$work/runtime"
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  openbox >"$work/wm.log" 2>&1 &
  wait_for xprop -root _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1 || true
}

# Ends the test: the exit code tells whether every step passed.
finish() {
  [ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
  echo "$1"
}
