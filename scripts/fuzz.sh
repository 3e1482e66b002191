#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan) in build-fuzz
# and runs each of them for SECONDS seconds (default 60), then prints per
# target the executions run and the coverage reached (libFuzzer's cov and ft).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     e.g. scripts/fuzz.sh 600 fuzz_dispatch
#
# Each target's working corpus is build-fuzz/fuzz/corpus/<target>, started
# from the seeds the build writes and kept between runs, so longer runs by
# hand go on where the last one stopped. A crashing input is saved as
# build-fuzz/fuzz/artifacts/<target>-crash-*; the script then exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
build=build-fuzz

scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGRIDSCOPE_FUZZ=ON -DGRIDSCOPE_SANITIZE=ON >/dev/null
cmake --build "$build" --target gridscope-fuzz -j2

fuzzdir="$build/fuzz"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$fuzzdir"/fuzz_*; do [ -x "$t" ] && targets+=("$(basename "$t")"); done
fi

# Largest input each target tries: room for several packets, a truncated
# mesh, a car icon.
max_len() {
  case "$1" in
    fuzz_dispatch) echo 8192 ;;
    fuzz_track | fuzz_bitmap) echo 65536 ;;
    *) echo 4096 ;;
  esac
}

mkdir -p "$fuzzdir/artifacts" "$fuzzdir/logs"
failed=0
summary=()
for t in "${targets[@]}"; do
  name="${t#fuzz_}"
  corpus="$fuzzdir/corpus/$t"
  mkdir -p "$corpus"
  dict=()
  [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
  log="$fuzzdir/logs/$t.log"
  echo "== $t: $seconds s"
  status=0
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
  UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
  LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}" \
  QT_QPA_PLATFORM=offscreen \
    "$fuzzdir/$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$fuzzdir/artifacts/$t-" "${dict[@]}" \
      "$corpus" "$fuzzdir/seeds/$name" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  corp=$(ls "$corpus" | wc -l)
  if [ "$status" -ne 0 ]; then
    failed=1
    summary+=("$t: FAILED (exit $status) after ${runs:-?} executions, ${cov:-no coverage line}; see $log")
    grep -E 'ERROR|runtime error|invariant broken|settings file:|Test unit written' "$log" | head -5 || true
  else
    summary+=("$t: ${runs:-?} executions, ${cov:-no coverage line}, corpus $corp inputs")
  fi
done

echo "== fuzz summary ($seconds s per target)"
printf '%s\n' "${summary[@]}"
exit "$failed"
