#!/usr/bin/env bash
# One Plinthos per user session, and a start without a display. A second start raises the running
# window and opens its folder there (the page lists it), a folder that cannot be opened is said
# in the window and on the second start's standard error, --choose-folder opens the running
# window's folder chooser; each second start ends with exit code 0 and no second window. Without
# a display: a message, exit code 1, and nothing stored.
set -uo pipefail
APP="${1:?usage: instance_test.sh <path to the Plinthos executable>}"

source "$(dirname "${BASH_SOURCE[0]}")/virtual_display.sh"
source "$(dirname "${BASH_SOURCE[0]}")/app_session.sh"
source "$(dirname "${BASH_SOURCE[0]}")/folder_start.sh"
check() { local what="$1"; shift; if "$@"; then ok "$what"; else fail "$what"; fi; }

# Without a display, before anything else: nothing of the private HOME is touched.
bare_home="$work/bare-home"
mkdir -p "$bare_home" "$work/somewhere"
env -u DISPLAY -u WAYLAND_DISPLAY -u GDK_BACKEND -u XDG_CONFIG_HOME HOME="$bare_home" \
  "$APP" "$work/somewhere" >"$work/nodisplay.out" 2>"$work/nodisplay.err"
rc=$?
check "no display: exit code 1" test "$rc" -eq 1
check "no display: says so on standard error" grep -q "cannot open a display" "$work/nodisplay.err"
check "no display: nothing stored" test -z "$(ls -A "$bare_home")"

start_configured_display
second() { "$APP" "$@" >"$work/second.out" 2>"$work/second.err"; }
one_window() { [ "$(viewable_windows Plinthos | wc -l)" -eq 1 ]; }
main_viewable() { xwininfo -id "$main_wid" 2>/dev/null | grep -q 'Map State: IsViewable'; }
mkdir -p "$work/empty folder"

if start_app; then
  if wait_for bucket_area_has "$CSV_BADGE"; then ok "the stored folder is listed"; else fail "the stored folder is not listed"; fi
  # Hidden away first, so raising it shows.
  xdotool windowminimize --sync "$main_wid" >/dev/null 2>&1 || fail "could not minimise the window"

  second "$work/empty folder"
  check "a second start with a folder ends with exit code 0" test $? -eq 0
  if wait_for main_viewable; then ok "the second start raises the running window"; else fail "the window stayed minimised"; fi
  check "no second window" one_window
  check "the first process still runs" kill -0 "$app_pid"
  if wait_for test "$(stored_bucket)" = "$work/empty folder"; then ok "the folder is stored"; else fail "stored folder: '$(stored_bucket)'"; fi
  if wait_for not bucket_area_has "$CSV_BADGE"; then ok "the window lists the new folder"; else fail "the window still lists the old folder"; fi

  second "$work/no such folder"
  check "a second start with a missing folder ends with exit code 0" test $? -eq 0
  check "its notice is written to its terminal" grep -q "Could not open the folder \"$work/no such folder\"" "$work/second.err"
  if wait_for bucket_area_has "$NOTICE_BACKGROUND"; then ok "the window shows the notice"; else fail "no notice in the window"; fi
  check "the stored folder is kept" test "$(stored_bucket)" = "$work/empty folder"

  second --choose-folder
  check "--choose-folder ends with exit code 0" test $? -eq 0
  if wait_for find_window 'Choose a Folder' _NET_WM_STATE _NET_WM_STATE_MODAL; then
    ok "--choose-folder opens the running window's folder chooser"
    press "$found_wid" Escape
    wait_for not find_window 'Choose a Folder' || fail "the folder chooser stayed open"
  else
    fail "--choose-folder opened no folder chooser"
  fi

  second
  check "a plain second start ends with exit code 0" test $? -eq 0
  check "still one window" one_window
  press "$main_wid" ctrl+q
  expect_exit_0 "Ctrl+Q after the second starts"
fi

# With the first one gone, the next start is the first again.
if start_app --choose-folder; then
  if wait_for find_window 'Choose a Folder'; then ok "--choose-folder at start opens the chooser"; else fail "--choose-folder at start opened no chooser"; fi
  press "$found_wid" Escape
  press "$main_wid" ctrl+q
  expect_exit_0 "Ctrl+Q after --choose-folder at start"
fi

finish "instance test passed"
