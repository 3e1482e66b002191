#!/usr/bin/env bash
# Installs what is needed, builds Gridscope and runs the whole test suite.
# GUI tests run under a virtual X server with Mesa's software OpenGL.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
xvfb-run -a -s '-screen 0 1280x1024x24' ctest --test-dir build --output-on-failure -j"$(nproc)"
