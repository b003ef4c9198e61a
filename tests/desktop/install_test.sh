#!/usr/bin/env bash
# Installs the build under a temporary prefix, checks the layout (bundle with its modes, the
# launcher link, a desktop entry that runs it, the icon, the metadata and the manual), then runs
# the desktop smoke test through the installed launcher.
set -uo pipefail
BUILD="${1:?usage: install_test.sh <builddir> <smoke_test.sh>}"
SMOKE="${2:?usage: install_test.sh <builddir> <smoke_test.sh>}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT INT TERM
prefix="$work/usr"
bundle="$prefix/lib/plinthos/Plinthos.app/Contents"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
check() { local what="$1"; shift; if "$@"; then ok "$what"; else fail "$what"; fi; }

cmake --install "$BUILD" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; exit 1; }

check "app executable" test -x "$bundle/MacOS/Plinthos"
check "engine program executable" test -x "$bundle/Resources/duckdb"
check "credits page" test -f "$bundle/Resources/Credits.html"
check "bundled libraries" test -f "$bundle/Frameworks/libduckdb.so" -a -f "$bundle/Frameworks/libwebview.so.0.12"
check "launcher is a relative link to the bundle" \
  test "$(readlink "$prefix/bin/plinthos")" = "../lib/plinthos/Plinthos.app/Contents/MacOS/Plinthos"
check "launcher resolves" test -x "$prefix/bin/plinthos"
check "desktop entry runs the launcher with a folder" grep -qx "Exec=$prefix/bin/plinthos %f" "$prefix/share/applications/plinthos.desktop"
check "desktop entry names the icon" grep -qx "Icon=plinthos" "$prefix/share/applications/plinthos.desktop"
check "icon" test -s "$prefix/share/icons/hicolor/scalable/apps/plinthos.svg"
check "AppStream metadata" test -s "$(ls "$prefix"/share/metainfo/*.metainfo.xml | head -n1)"
check "manual page" test -s "$prefix/share/man/man1/plinthos.1.gz"
check "no build folder in the run path" bash -c "! readelf -d '$bundle/MacOS/Plinthos' | grep -q '$BUILD'"
if command -v desktop-file-validate >/dev/null; then
  check "desktop entry valid" desktop-file-validate "$prefix/share/applications/plinthos.desktop"
fi

bash "$SMOKE" "$prefix/bin/plinthos" || fail "smoke test through the installed launcher"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "install test passed"
