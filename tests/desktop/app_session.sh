# Sourced by the window tests after virtual_display.sh: a display with a configured data folder,
# and the steps that start the app at `$APP` (with the arguments given), find its main window,
# press keys and wait for the app to end.

app_pid=""

# A 1600x1000 display, and a data folder of one CSV file set in the private configuration.
start_configured_display() {
  start_display 1600x1000x24
  mkdir -p "$(dirname "$CONFIG_FILE")" "$work/data"
  printf 'product_category,sale_amount\nbooks,12.5\n' >"$work/data/sales.csv"
  printf '{"bucketPath":"%s"}\n' "$work/data" >"$CONFIG_FILE"
}

start_app() {
  "$APP" "$@" >"$work/app.log" 2>&1 &
  app_pid=$!
  main_wid=""
  wait_for find_main || { fail "no window titled Plinthos"; cat "$work/app.log" >&2; return 1; }
}
find_main() { find_window Plinthos && main_wid="$found_wid"; }
not() { ! "$@"; }
press() { xdotool windowactivate --sync "$1" >/dev/null 2>&1; xdotool key --clearmodifiers "$2"; }

# Waits for the app to end and checks its exit code.
expect_exit_0() {
  local what="$1" deadline=$((SECONDS + STEP_TIMEOUT))
  while kill -0 "$app_pid" 2>/dev/null; do
    if [ $SECONDS -ge $deadline ]; then fail "$what: still running"; kill "$app_pid"; wait "$app_pid"; app_pid=""; return; fi
    sleep 0.2
  done
  wait "$app_pid"
  local rc=$?
  app_pid=""
  if [ "$rc" -eq 0 ]; then ok "$what: exit code 0"; else fail "$what: exit code $rc"; cat "$work/app.log" >&2; fi
}
