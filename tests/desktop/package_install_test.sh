#!/usr/bin/env bash
# Installs the package with apt, upgrades it, starts /usr/bin/plinthos with a folder on a virtual
# display, removes it and checks that nothing of it is left but the user's configuration. It
# changes the machine, so it runs only in CI or when asked for with PLINTHOS_PACKAGE_TEST=1.
set -uo pipefail
DEB="${1:?usage: package_install_test.sh <deb> <version>}"
VERSION="${2:?usage: package_install_test.sh <deb> <version>}"
SKIP=77

if [ "${CI:-}" != true ] && [ "${PLINTHOS_PACKAGE_TEST:-}" != 1 ]; then
  echo "skipped: installs a package; set PLINTHOS_PACKAGE_TEST=1 to run it"
  exit $SKIP
fi
installed() { dpkg-query -W -f='${Status}' plinthos 2>/dev/null | grep -q 'install ok installed'; }
if installed; then
  echo "skipped: plinthos is already installed here and is left alone"
  exit $SKIP
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo -n"
apt_get() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get -y -qq "$@" >>"$work/apt.log" 2>&1; }

source "$(dirname "${BASH_SOURCE[0]}")/virtual_display.sh"
source "$(dirname "${BASH_SOURCE[0]}")/app_session.sh"
source "$(dirname "${BASH_SOURCE[0]}")/folder_start.sh"
# Whatever happens, the machine is left without the package.
trap 'installed && apt_get remove plinthos; cleanup' EXIT INT TERM

check() { local what="$1"; shift; if "$@"; then ok "$what"; else fail "$what"; fi; }
deb="$work/$(basename "$DEB")"
cp "$DEB" "$deb"  # apt's sandbox user must be able to read it
chmod 644 "$deb"
chmod 755 "$work"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/files"

if apt_get install "$deb"; then ok "apt installs the package"; else fail "apt install: $(tail -n 20 "$work/apt.log")"; exit 1; fi
check "launcher on the path" test "$(command -v plinthos)" = /usr/bin/plinthos
check "--version" test "$(/usr/bin/plinthos --version)" = "Plinthos $VERSION"

# An upgrade to a later version of the same files.
later="$work/later"
dpkg-deb -R "$deb" "$later"
sed -i "s/^Version: .*/Version: ${VERSION}+1/" "$later/DEBIAN/control"
dpkg-deb --root-owner-group -b "$later" "$work/later.deb" >/dev/null
chmod 644 "$work/later.deb"
if apt_get install "$work/later.deb"; then ok "apt upgrades it"; else fail "apt upgrade: $(tail -n 20 "$work/apt.log")"; fi
check "the later version is installed" test "$(dpkg-query -W -f='${Version}' plinthos)" = "${VERSION}+1"

start_display 1600x1000x24
APP=/usr/bin/plinthos
check_folder_start
config="$CONFIG_FILE"

if apt_get remove plinthos; then ok "apt removes it"; else fail "apt remove: $(tail -n 20 "$work/apt.log")"; fi
check "not installed any more" bash -c "! dpkg-query -W -f='\${Status}' plinthos 2>/dev/null | grep -q installed"
left=""
while read -r f; do
  # Folders shared with other packages stay; everything the package brought must go.
  [ -d "$f" ] && [ ! -L "$f" ] && continue
  [ -e "$f" ] || [ -L "$f" ] && left+="$f "
done <"$work/files"
check "no file of the package is left${left:+: $left}" test -z "$left"
check "the package's own folder is gone" test ! -e /usr/lib/plinthos
check "the user's configuration is kept" grep -q "picked folder" "$config"

finish "package install test passed"
