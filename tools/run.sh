#!/usr/bin/env bash
# Starts the built app. On a display, it just runs. Without one it starts a virtual display
# with a window manager, waits until the Query tab has drawn, saves <builddir>/screenshot.png
# and ends everything it started.
set -euo pipefail
BUILD="${1:-build}"
APP="$BUILD/Plinthos.app/Contents/MacOS/Plinthos"
[ -x "$APP" ] || { echo "run: $APP not built" >&2; exit 1; }

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$APP"
fi

SCREEN_SIZE=1600x1000x24
DRAW_TIMEOUT=60     # seconds to wait for the tab bar
TAB_BAR_BAND=200    # rows from the top where the tab bar lies
SHOT="$BUILD/screenshot.png"

work="$(mktemp -d)"
xvfb_pid="" wm_pid="" app_pid=""
cleanup() {
  for pid in $app_pid $wm_pid $xvfb_pid; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in $app_pid $wm_pid $xvfb_pid; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

Xvfb -displayfd 3 -screen 0 "$SCREEN_SIZE" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "run: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY  # WebKit renders on Xvfb as it is; no further settings needed

openbox >"$work/wm.log" 2>&1 &
wm_pid=$!

"$APP" >"$work/app.log" 2>&1 &
app_pid=$!
echo "run: Plinthos started on display $DISPLAY (pid $app_pid)"

# The tab bar is drawn when its background and the active tab's label colour both appear.
drawn() {
  import -window root -crop "x${TAB_BAR_BAND}+0+0" +repage "$work/shot.png" 2>/dev/null || return 1
  local hist
  hist="$(convert "$work/shot.png" -format %c histogram:info:- 2>/dev/null)" || return 1
  grep -qi '#181825' <<<"$hist" && grep -qi '#CBA6F7' <<<"$hist"
}

deadline=$((SECONDS + DRAW_TIMEOUT))
until drawn; do
  if ! kill -0 "$app_pid" 2>/dev/null; then
    echo "run: Plinthos ended early" >&2; cat "$work/app.log" >&2; exit 1
  fi
  if [ $SECONDS -ge $deadline ]; then
    echo "run: the tab bar did not draw within ${DRAW_TIMEOUT}s" >&2; cat "$work/app.log" >&2; exit 1
  fi
  sleep 0.5
done
sleep 1  # let the page settle before the picture
import -window root "$SHOT"
echo "run: screenshot saved to $SHOT"
