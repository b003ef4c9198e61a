# Sourced by the package tests after virtual_display.sh and app_session.sh: starts the app at
# `$APP` with a folder argument and checks that the window lists that folder and stores it, that
# a path that is no folder leaves the stored one and shows a notice, and that Ctrl+Q quits.

BUCKET_AREA=1600x260+0+90  # the bucket browser on the maximised window, below the tab bar
CSV_BADGE='#A6E3A1'        # a CSV file's row badge
NOTICE_BACKGROUND='#4A1E2A'

bucket_area_has() {
  import -window root -crop "$BUCKET_AREA" +repage "$work/bucket.png" 2>/dev/null || return 1
  image_has "$work/bucket.png" "$1"
}
stored_bucket() {
  sed -n 's/.*"bucketPath": *"\([^"]*\)".*/\1/p' "$CONFIG_FILE" 2>/dev/null
}

check_folder_start() {
  local picked="$work/picked folder"
  mkdir -p "$picked/2024"
  printf 'product_category,sale_amount\nbooks,12.5\n' >"$picked/2024/sales.csv"

  # A folder that is not there: the app starts as usual, stores nothing and says why.
  if start_app "$work/no such folder"; then
    if wait_for bucket_area_has "$NOTICE_BACKGROUND"; then ok "a missing folder shows a notice"; else fail "no notice for a missing folder"; fi
    if grep -q "Could not open the folder \"$work/no such folder\"" "$work/app.log"; then ok "the notice is also written to the terminal"; else fail "no notice on standard error: $(cat "$work/app.log")"; fi
    bucket_area_has "$CSV_BADGE" && fail "files listed although the folder was missing"
    [ -z "$(stored_bucket)" ] || fail "a missing folder was stored: $(stored_bucket)"
    press "$main_wid" ctrl+q
    expect_exit_0 "Ctrl+Q after a missing folder"
  fi

  # A folder given relative to the current one is listed and stored with its full path.
  pushd "$work" >/dev/null
  start_app "picked folder/"
  local started=$?
  popd >/dev/null
  if [ $started -eq 0 ]; then
    if wait_for bucket_area_has "$CSV_BADGE"; then ok "the window lists the folder given on the command line"; else fail "the folder's files are not listed"; fi
    if [ "$(stored_bucket)" = "$picked" ]; then ok "the folder is stored as the data folder"; else fail "stored data folder: '$(stored_bucket)'"; fi
    bucket_area_has "$NOTICE_BACKGROUND" && fail "a notice although the folder was opened"
    press "$main_wid" ctrl+q
    expect_exit_0 "Ctrl+Q after opening a folder"
  fi
}
