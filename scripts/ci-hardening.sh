#!/usr/bin/env bash
# CI's hardening step, after the normal build and tests: the whole test
# suite built with AddressSanitizer and UndefinedBehaviorSanitizer (and
# LeakSanitizer at exit) in build-asan, then a short run of every fuzz target
# (scripts/fuzz.sh, GRIDSCOPE_FUZZ_SECONDS each, default 60).
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
scripts/install-deps.sh

# The same options for the build (the artwork generator runs during it) and
# the tests. Leaks are reported only from our code: tests/lsan.supp names
# the third-party libraries whose own leaks at exit are ignored.
export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGRIDSCOPE_SANITIZE=ON >/dev/null
cmake --build build-asan -j2

# Mesa unloads its software driver when a GL test's display closes; the
# driver's own allocations then look leaked and their stacks point into
# unmapped memory, so no suppression can name them. Loaded up front, the
# driver stays mapped to the end and its leaks are named (and suppressed).
# The sanitizer runtime then is not first in the load order, which is fine.
test_env=()
driver=$(ls /usr/lib/*/dri/swrast_dri.so 2>/dev/null | head -1 || true)
if [ -n "$driver" ]; then
  test_env=(env LD_PRELOAD="$driver" ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0")
fi
# The soak and storm tests' memory checks would measure the sanitizers'
# quarantine, which holds freed memory back, not our code.
budgets='^(Soak\.ALongRaceKeepsMemoryFlatTheLogShortAndFramesComing|Storm\.MemoryStaysPutUnderAPacedStorm)$'
xvfb-run -a -s '-screen 0 1280x1024x24' "${test_env[@]}" \
  ctest --test-dir build-asan --output-on-failure -j2 -E "$budgets"
asan_done=$SECONDS
echo "sanitizer build and suite: $((asan_done - started)) s"

scripts/fuzz.sh "${GRIDSCOPE_FUZZ_SECONDS:-60}"
echo "fuzz build and runs: $((SECONDS - asan_done)) s; hardening step in all: $((SECONDS - started)) s"
