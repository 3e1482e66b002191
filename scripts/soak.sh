#!/usr/bin/env bash
# The soak and storm tests for longer: scripts/soak.sh [seconds] (default 600).
# Builds if needed, then runs them under a virtual X server and prints the
# memory, frame and datagram figures.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target e2e_tests Gridscope gridscope-raceserver tracks gridscope-artwork
GRIDSCOPE_SOAK_SECONDS="$seconds" xvfb-run -a -s '-screen 0 1280x1024x24' \
  build/tests/e2e_tests --gtest_filter='Soak.*:Storm.*'
