#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Gridscope
# need. Idempotent and quiet: packages already present are not fetched again.
set -euo pipefail

packages=(
  cmake g++ make pkg-config            # build
  qt6-base-dev libqt6opengl6-dev       # Qt 6 Widgets, OpenGL (framebuffer objects)
  qt6-svg-dev                          # the artwork generator: the icon drawn from its SVG
  libgl-dev libglu1-mesa-dev           # OpenGL 1.1 and GLU (Mesa)
  libgl1-mesa-dri                      # Mesa's software rasteriser (llvmpipe)
  fonts-liberation                     # a metric-compatible "Arial"
  zlib1g-dev                           # CRC-32 of recording records
  libgtest-dev libgmock-dev            # unit tests
  libbenchmark-dev                     # benchmarks
  xvfb xauth xdotool x11-utils imagemagick  # GUI tests: X server, clicks, screenshots
  clang libclang-rt-14-dev             # fuzzing and sanitizer runtimes
  desktop-file-utils appstream         # install tests: desktop entry and metainfo validators
  dpkg-dev lintian                     # the Debian package: shlibdeps, checks
  systemd man-db                       # install tests: the hub's unit (systemd-analyze), the manual pages
  qt6-httpserver-dev qt6-websockets-dev  # gridscope-live: HTTP and WebSocket server
  chromium chromium-driver python3     # gridscope-live's page tests in a headless browser
  libqt6sql6-sqlite libqt6sql6-psql    # gridscope-hub: its store through Qt SQL (SQLite, PostgreSQL)
  postgresql sqlite3                   # gridscope-hub's tests: a throwaway PostgreSQL cluster, the store read with plain SQL
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=600 "${missing[@]}" >/dev/null
fi
