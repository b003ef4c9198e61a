#!/usr/bin/env bash
# The GTK choosers on a private virtual display, driven by keys: the folder chooser answers
# the typed folder, the save chooser proposes query-result.csv under a CSV filter, Escape
# cancels (null), each opens modal to its parent, and a call posted while a chooser is open
# is answered after it.
set -uo pipefail
PROBE="${1:?usage: dialogs_test.sh <path to desktop_dialog_probe>}"

STEP_TIMEOUT=60  # seconds any one step may take

work="$(mktemp -d)"
xvfb_pid="" wm_pid="" probe_pid=""
cleanup() {
  for pid in $probe_pid $wm_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
  for pid in $probe_pid $wm_pid $xvfb_pid; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

wait_for() {
  local deadline=$((SECONDS + STEP_TIMEOUT))
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.3
  done
}

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_for test -s "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")" GDK_BACKEND=x11
unset WAYLAND_DISPLAY
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache" \
  XDG_DATA_HOME="$work/home/.local/share" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$work/cwd" "$work/data/a b"
chmod 700 "$XDG_RUNTIME_DIR"

openbox >"$work/wm.log" 2>&1 &
wm_pid=$!
wait_for xprop -root _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1 || true

chooser_wid=""
find_chooser() { chooser_wid="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)"; [ -n "$chooser_wid" ]; }
ended() { ! kill -0 "$probe_pid" 2>/dev/null; }

# Runs the probe in MODE, waits for the chooser TITLE, lets KEYS act on it, then compares
# the printed replies with EXPECTED.
run_case() {
  local what="$1" mode="$2" title="$3" expected="$4"
  shift 4
  (cd "$work/cwd" && exec "$PROBE" "$mode") >"$work/out" 2>"$work/err" &
  probe_pid=$!
  if ! wait_for find_chooser "$title"; then fail "$what: no window titled $title"; kill "$probe_pid"; wait "$probe_pid"; probe_pid=""; return; fi
  if xprop -id "$chooser_wid" _NET_WM_STATE | grep -q _NET_WM_STATE_MODAL &&
     xprop -id "$chooser_wid" WM_TRANSIENT_FOR | grep -q 'window id'; then
    ok "$what: modal to its parent"
  else
    fail "$what: not modal"
  fi
  sleep 0.5  # the second call is posted while the chooser is open
  xdotool windowactivate --sync "$chooser_wid" >/dev/null 2>&1
  "$@"
  if ! wait_for ended; then fail "$what: chooser did not answer"; kill "$probe_pid"; fi
  wait "$probe_pid"
  probe_pid=""
  if [ "$(cat "$work/out")" = "$expected" ]; then ok "$what"; else fail "$what: got '$(cat "$work/out")'"; cat "$work/err" >&2; fi
}

type_folder() { xdotool key ctrl+l; sleep 0.3; xdotool type --delay 20 "$work/data/a b"; sleep 0.3; xdotool key Return; }
press_return() { xdotool key Return; }
press_escape() { xdotool key Escape; }

run_case "folder chooser answers the typed folder" folder "Choose a Folder" \
  "chooser \"$work/data/a b\""$'\n'"second \"second\"" type_folder
run_case "folder chooser cancelled" folder "Choose a Folder" \
  "chooser null"$'\n'"second \"second\"" press_escape
run_case "save chooser proposes query-result.csv" save "Save as CSV" \
  "chooser \"$work/cwd/query-result.csv\""$'\n'"second \"second\"" press_return
run_case "save chooser cancelled" save "Save as CSV" \
  "chooser null"$'\n'"second \"second\"" press_escape

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "dialogs test passed"
