#!/usr/bin/env bash
# Installs everything the build, the tests and the app need on a fresh Debian 12 machine.
# Cheap to re-run: it only installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

APT_PACKAGES=(
  # toolchain
  g++ make cmake ninja-build pkg-config clang-format
  # libFuzzer runtime for the fuzz targets
  clang libclang-rt-14-dev
  # window, web view, dialogs
  libgtk-4-dev libwebkitgtk-6.0-dev
  # JSON (and the fast parser for large query results), tests, benchmarks, developer tool HTTP
  nlohmann-json3-dev libsimdjson-dev libgtest-dev libgmock-dev googletest libbenchmark-dev libcpp-httplib-dev
  # browser tests, desktop smoke test, screenshots
  chromium xvfb xauth xdotool x11-utils openbox imagemagick fonts-dejavu-core fonts-noto-color-emoji dbus-x11
  # the pages in WebKitGTK's own browser
  webkit2gtk-driver
  # benchmarks
  hyperfine time
  # the Debian package: Depends from the binaries, checks of its metadata and desktop entry, the
  # bundled libraries' run paths
  dpkg-dev file appstream desktop-file-utils patchelf
)

missing=()
for p in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
command -v node >/dev/null 2>&1 || missing+=(nodejs)
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Pinned npm packages; install scripts would download or compile, so they never run.
if ! cmp -s package-lock.json node_modules/.plinthos-lock 2>/dev/null; then
  echo "setup: installing npm packages"
  npm ci --ignore-scripts --no-audit --no-fund --loglevel=error
  cp package-lock.json node_modules/.plinthos-lock
fi
