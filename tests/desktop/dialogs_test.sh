#!/usr/bin/env bash
# The GTK choosers on a private virtual display, driven by keys: the folder chooser answers
# the typed folder, the save chooser proposes query-result.csv under a CSV filter, Escape
# cancels (null), each opens modal to its parent, and a call posted while a chooser is open
# is answered after it.
set -uo pipefail
PROBE="${1:?usage: dialogs_test.sh <path to desktop_dialog_probe>}"

source "$(dirname "${BASH_SOURCE[0]}")/virtual_display.sh"
probe_pid=""

start_display 1280x800x24
export GDK_BACKEND=x11
mkdir -p "$work/cwd" "$work/data/a b"

chooser_wid=""
find_chooser() { find_window "$1" && chooser_wid="$found_wid"; }
ended() { ! kill -0 "$probe_pid" 2>/dev/null; }

# Runs the probe in MODE, waits for the chooser TITLE, lets KEYS act on it, then compares
# the printed replies with EXPECTED.
run_case() {
  local what="$1" mode="$2" title="$3" expected="$4"
  shift 4
  (cd "$work/cwd" && exec "$PROBE" "$mode") >"$work/out" 2>"$work/err" &
  probe_pid=$!
  if ! wait_for find_chooser "$title"; then fail "$what: no window titled $title"; kill "$probe_pid"; wait "$probe_pid"; probe_pid=""; return; fi
  modal_with_parent() { find_window "$title" _NET_WM_STATE _NET_WM_STATE_MODAL && xprop -id "$found_wid" WM_TRANSIENT_FOR 2>/dev/null | grep -q 'window id'; }
  if wait_for modal_with_parent; then
    chooser_wid="$found_wid"
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
# With a data folder stored, the save chooser starts there instead of in the current folder.
mkdir -p "$(dirname "$CONFIG_FILE")"
printf '{"bucketPath":"%s"}' "$work/data/a b" >"$CONFIG_FILE"
run_case "save chooser starts in the data folder" save "Save as CSV" \
  "chooser \"$work/data/a b/query-result.csv\""$'\n'"second \"second\"" press_return

finish "dialogs test passed"
