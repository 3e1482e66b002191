#!/usr/bin/env bash
# Builds the Debian package dist/gridscope_<version>_<arch>.deb: a release
# build with Debian's hardening flags (dpkg-buildflags), without the tests,
# packed by CPack (dependencies from the binaries by dpkg-shlibdeps), then
# checked by lintian.
#
#   scripts/package.sh [--build-dir DIR]     (default build-package)
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-package
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build="$2"; shift 2 ;;
    *) echo "usage: $0 [--build-dir DIR]" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DGRIDSCOPE_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f dist/gridscope_*.deb
(cd "$build" && cpack -G DEB)

deb=$(ls dist/gridscope_*.deb)
echo "Built $deb"
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Architecture\|Installed-Size\|Depends\):/\1:/p'
# lintian's verdict: warnings are shown; an error fails the script.
lintian --fail-on error "$deb"
