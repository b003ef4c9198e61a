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
check "--version prints the version" test "$("$root/usr/bin/plinthos" --version)" = "Plinthos $VERSION"

# Every ELF file of the package. A run path entry that is empty or relative is read against the
# current folder, so a library planted there would run: only absolute and $ORIGIN entries pass.
runpath_safe() {
  local entry
  while IFS= read -r -d: entry; do
    case "$entry" in /*|'$ORIGIN'|'$ORIGIN/'*|'${ORIGIN}'|'${ORIGIN}/'*) ;; *) return 1 ;; esac
  done < <(readelf -d "$1" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2:/p')
}
# Each reads the whole output first: grep -q stopping early would fail the pipe under pipefail.
has() { local text; text="$("${@:2}" 2>/dev/null)" && grep -q "$1" <<<"$text"; }
stripped() { ! has ' \.symtab\| \.debug_' readelf -SW "$1"; }
bound_now() { has '(FLAGS).*BIND_NOW\|(FLAGS_1).*NOW' readelf -d "$1"; }
relro() { has GNU_RELRO readelf -lW "$1"; }
position_independent() { has 'Type:.*DYN' readelf -h "$1"; }
stack_protected() { has '__stack_chk_fail' readelf --dyn-syms -W "$1"; }
fortified() { has '__[a-z_]*_chk@' readelf --dyn-syms -W "$1"; }
not_executable() { [ ! -x "$1" ]; }
elf_files=()
while IFS= read -r -d '' f; do
  readelf -h "$f" >/dev/null 2>&1 && elf_files+=("$f")
done < <(find "$root" -type f -print0)
check "the package holds the four programs and libraries" test "${#elf_files[@]}" -eq 4
for f in "${elf_files[@]}"; do
  name="${f#"$root"/}"
  check "$name: no empty or relative run path" runpath_safe "$f"
  check "$name: stripped" stripped "$f"
  case "$name" in
    *.so|*.so.*) check "$name: a library, not executable" not_executable "$f" ;;
  esac
done
# The programs built here carry Debian's hardening; the two libraries come built from upstream.
for f in "$bundle/MacOS/Plinthos" "$bundle/Resources/duckdb"; do
  for property in bound_now relro position_independent stack_protected fortified; do
    check "${f#"$bundle"/}: $property" "$property" "$f"
  done
done
# With a library of a needed name in the folder it starts in, nothing of it is tried.
mkdir -p "$work/cwd"
cp "$root/usr/lib/plinthos/Plinthos.app/Contents/Frameworks/libwebview.so.0.12" "$work/cwd/libvulkan.so.1"
tried="$(cd "$work/cwd" && LD_DEBUG=libs "$root/usr/bin/plinthos" --version 2>&1 >/dev/null | grep 'trying file=' | grep -v 'trying file=/')"
check "no library is looked for in the current folder${tried:+: $tried}" test -z "$tried"

# Licence and changelog where Debian keeps them, and the desktop entry that offers Plinthos for
# folders without taking them over.
doc="$root/usr/share/doc/plinthos"
check "machine-readable copyright file" grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright"
for component in DuckDB webview ECharts simdjson nlohmann CodeMirror; do
  check "copyright names $component" grep -qi "$component" "$doc/copyright"
  check "credits name $component" grep -qi "$component" "$bundle/Resources/Credits.html"
done
check "changelog names the version" bash -c "zcat '$doc/changelog.gz' | head -n1 | grep -q '^plinthos ($VERSION)'"
check "metainfo names the licence" grep -q '<project_license>MIT</project_license>' "$metainfo"
check "desktop entry claims no file type" bash -c "! grep -q '^MimeType=' '$entry'"
check "desktop entry offers Open Folder" grep -qx "Exec=/usr/bin/plinthos --choose-folder" "$entry"
apps="$work/xdg/applications"
mkdir -p "$apps" "$work/xdg-home"
cp "$entry" "$apps/"
update-desktop-database "$apps" 2>/dev/null
gio_says="$(XDG_DATA_DIRS="$work/xdg" XDG_DATA_HOME="$work/xdg-home" XDG_CONFIG_HOME="$work/xdg-home" gio mime inode/directory 2>&1)"
check "gio opens no folder with Plinthos: $(tr '\n' ' ' <<<"$gio_says")" bash -c "! grep -q plinthos <<<'$gio_says'"

# lintian is large: installed and run only in CI or when asked for.
if [ "${CI:-}" = true ] || [ "${PLINTHOS_PACKAGE_TEST:-}" = 1 ]; then
  if ! command -v lintian >/dev/null; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo -n"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends lintian >"$work/apt.log" 2>&1 ||
      fail "could not install lintian: $(tail -n 5 "$work/apt.log")"
  fi
  if command -v lintian >/dev/null; then
    lintian --no-tag-display-limit "$DEB" >"$work/lintian.log" 2>&1
    cat "$work/lintian.log"
    check "lintian reports no errors" bash -c "! grep -q '^E: ' '$work/lintian.log'"
  fi
else
  echo "lintian skipped: set PLINTHOS_PACKAGE_TEST=1 to run it"
fi

start_display 1600x1000x24
APP="$root/usr/bin/plinthos"
check_folder_start

finish "package test passed"
