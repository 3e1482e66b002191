#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan) in build-fuzz
# and runs each of them for SECONDS seconds (default 60), then prints per
# target the executions run and the coverage reached (libFuzzer's cov and ft).
#
#   scripts/fuzz.sh [--merge] [--jobs N] [SECONDS] [TARGET...]
#       e.g. scripts/fuzz.sh --merge 3600 fuzz_dispatch
#
# Each target starts from the corpus kept in the repository,
# fuzz/corpus/<target>/, and the seeds the build writes. New inputs go to
# the working corpus build-fuzz/fuzz/corpus/<target>, kept between runs.
# With --merge the repository's corpus is then minimised anew from both
# (libFuzzer's -merge=1: the smallest set of inputs with the same coverage),
# so a campaign's finds are kept with the code. --jobs N runs N fuzzing
# processes per target. A crashing input is saved as
# build-fuzz/fuzz/artifacts/<target>-crash-*; the script then exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

merge=0
jobs=1
while [ $# -gt 0 ]; do
  case "$1" in
    --merge) merge=1; shift ;;
    --jobs) jobs="$2"; shift 2 ;;
    *) break ;;
  esac
done
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
    fuzz_recording) echo 16384 ;;
    *) echo 4096 ;;
  esac
}

mkdir -p "$fuzzdir/artifacts" "$fuzzdir/logs"
failed=0
summary=()
for t in "${targets[@]}"; do
  name="${t#fuzz_}"
  corpus="$fuzzdir/corpus/$t"
  kept="fuzz/corpus/$t"
  mkdir -p "$corpus" "$kept"
  parallel=()
  [ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
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
      "${parallel[@]}" \
      "$corpus" "$kept" "$fuzzdir/seeds/$name" >"$log" 2>&1 || status=$?
  # With several jobs each worker writes its own log, which libFuzzer also
  # copies into its own output when the worker ends: only the copies count.
  rm -f fuzz-*.log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | awk '{s += $1} END {print s}')
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  if [ "$merge" = 1 ] && [ "$status" -eq 0 ]; then
    fresh=$(mktemp -d)
    QT_QPA_PLATFORM=offscreen "$fuzzdir/$t" -merge=1 -max_len="$(max_len "$t")" -timeout=10 \
      "$fresh" "$kept" "$corpus" "$fuzzdir/seeds/$name" >>"$log" 2>&1
    rm -f "$kept"/* && cp "$fresh"/* "$kept"/ 2>/dev/null || true
    rm -rf "$fresh"
  fi
  corp="$(ls "$corpus" | wc -l) working, $(ls "$kept" | wc -l) kept ($(du -sk "$kept" | cut -f1) KB)"
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
