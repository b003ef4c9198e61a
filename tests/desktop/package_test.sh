#!/usr/bin/env bash
# The Debian package as built: its fields, Depends computed from the binaries (the bundle's own
# libraries kept out), its contents, then the app started from an unpacked copy with a folder
# argument on a virtual display.
set -uo pipefail
DEB="${1:?usage: package_test.sh <deb> <version>}"
VERSION="${2:?usage: package_test.sh <deb> <version>}"

source "$(dirname "${BASH_SOURCE[0]}")/virtual_display.sh"
source "$(dirname "${BASH_SOURCE[0]}")/app_session.sh"
source "$(dirname "${BASH_SOURCE[0]}")/folder_start.sh"

check() { local what="$1"; shift; if "$@"; then ok "$what"; else fail "$what"; fi; }
[ -f "$DEB" ] || { echo "FAIL: no package at $DEB" >&2; exit 1; }

field() { dpkg-deb -f "$DEB" "$1"; }
check "package name" test "$(field Package)" = plinthos
check "version from the project" test "$(field Version)" = "$VERSION"
check "architecture" test "$(field Architecture)" = amd64
check "named as Debian names packages" test "$(basename "$DEB")" = "plinthos_${VERSION}_amd64.deb"
depends="$(field Depends)"
for lib in libc6 libgtk-4-1 libwebkitgtk-6.0-4 libstdc++6; do
  check "Depends names $lib" grep -q "\b$lib\b" <<<"$depends"
done
check "Depends carries versions from the symbols files" grep -q "libc6 (>= " <<<"$depends"
check "the bundle's own libraries are not in Depends" bash -c "! grep -qi 'duckdb\|webview' <<<'$depends'"

root="$work/root"
dpkg-deb -x "$DEB" "$root"
bundle="$root/usr/lib/plinthos/Plinthos.app/Contents"
check "app executable" test -x "$bundle/MacOS/Plinthos"
check "engine program" test -x "$bundle/Resources/duckdb"
check "credits page names the version" grep -q "Version $VERSION" "$bundle/Resources/Credits.html"
check "bundled libraries" test -f "$bundle/Frameworks/libduckdb.so" -a -f "$bundle/Frameworks/libwebview.so.0.12"
check "launcher is a relative link into the bundle" \
  test "$(readlink "$root/usr/bin/plinthos")" = "../lib/plinthos/Plinthos.app/Contents/MacOS/Plinthos"
entry="$root/usr/share/applications/plinthos.desktop"
check "desktop entry passes a folder to the launcher" grep -qx "Exec=/usr/bin/plinthos %f" "$entry"
check "icon in the hicolor theme" test -s "$root/usr/share/icons/hicolor/scalable/apps/plinthos.svg"
metainfo="$(ls "$root"/usr/share/metainfo/*.metainfo.xml 2>/dev/null | head -n1)"
check "AppStream metadata" test -s "$metainfo"
if command -v appstreamcli >/dev/null; then
  check "AppStream metadata valid" appstreamcli validate --no-net "$metainfo"
fi
if command -v desktop-file-validate >/dev/null; then
  check "desktop entry valid" desktop-file-validate "$entry"
fi
check "manual page" bash -c "zcat '$root/usr/share/man/man1/plinthos.1.gz' | grep -q '^\.TH PLINTHOS 1 .*Plinthos $VERSION'"
check "no developer tool or build files" bash -c "! dpkg-deb -c '$DEB' | grep -q 'plinthos-dev\|CMakeFiles\|\.o$'"
check "files owned by root" bash -c "! dpkg-deb -c '$DEB' | awk '{print \$2}' | grep -v '^root/root$'"
check "no build folder in a run path" bash -c "! readelf -d '$bundle/MacOS/Plinthos' | grep -q RUNPATH.*/build"
check "--version prints the version" test "$("$root/usr/bin/plinthos" --version)" = "Plinthos $VERSION"

start_display 1600x1000x24
APP="$root/usr/bin/plinthos"
check_folder_start

finish "package test passed"
