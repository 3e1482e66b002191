#!/usr/bin/env bash
# What the installed launcher `gridscope` adds to the program's start-up:
#   1. the launcher alone, with the user's folder ready: many launches of it
#      in front of a stand-in program that exits at once, against as many
#      starts of that stand-in by itself (median of batches, per launch);
#   2. the launcher's first start, which makes the folder and its links;
#   3. the real program's start-up from outside, fork to first frame
#      (bench_startprobe), started by itself in a run folder and through the
#      installed launcher, one start of each in turn.
# Run by hand; it is not part of CI.
#
#   scripts/bench-launcher.sh [--runs N] [--build-dir DIR]
#
# Needs a build with -DGRIDSCOPE_BENCH=ON (for bench_startprobe) and an X
# display (started with xvfb-run when there is none).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
build=build
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --build-dir) build="$2"; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--build-dir DIR]" >&2; exit 2 ;;
  esac
done
build=$(cd "$build" && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s '-screen 0 1280x1024x24' "$0" --runs "$runs" --build-dir "$build"
fi
probe="$build/bench/bench_startprobe"
[ -x "$probe" ] || { echo "missing $probe: configure with -DGRIDSCOPE_BENCH=ON and build bench_startprobe" >&2; exit 1; }

work=$(mktemp -d /tmp/gridscope-bench-launcher-XXXXXX)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
home="$work/home with space"
mkdir -p "$home"

# A stand-in installation: the installed launcher, the installed data, and
# a program that exits at once.
mkdir -p "$work/stub/bin" "$work/stub/lib/gridscope"
cp "$work/prefix/bin/gridscope" "$work/stub/bin/"
cp /bin/true "$work/stub/lib/gridscope/Gridscope"
ln -s "$work/prefix/share" "$work/stub/share"

ms_per() {  # command..., prints the milliseconds of one of 200 runs
  local t0 t1
  t0=$(date +%s%N)
  for _ in $(seq 200); do "$@"; done
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 200 / 1000 ))  # microseconds
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
HOME="$home" XDG_DATA_HOME='' "$work/stub/bin/gridscope"  # the folder, made once
overheads=()
for _ in $(seq "$runs"); do
  with=$(HOME="$home" XDG_DATA_HOME='' ms_per "$work/stub/bin/gridscope")
  without=$(ms_per "$work/stub/lib/gridscope/Gridscope")
  overheads+=($((with - without)))
done
echo "launcher, folder ready:   $(printf '%s\n' "${overheads[@]}" | median) us a start (median of $runs batches of 200)"

firsts=()
for i in $(seq "$runs"); do
  fresh="$work/fresh $i"
  mkdir -p "$fresh"
  t0=$(date +%s%N)
  HOME="$fresh" XDG_DATA_HOME='' "$work/stub/bin/gridscope"
  t1=$(date +%s%N)
  firsts+=($(( (t1 - t0) / 1000 )))
done
echo "launcher, first start:    $(printf '%s\n' "${firsts[@]}" | median) us (makes the folder and $(find "$work/fresh 1" -type l | wc -l) links)"

run="$work/run"
mkdir -p "$run"
ln -s "$build/run/files" "$run/files"
ln -s "$build"/run/*.bmp "$run/"
# Alternately one start of each, so that a shared machine's changing load
# falls on both alike, and both with the same home: a home's caches (Mesa's
# shader cache, for one) change the start-up by more than the launcher does.
directs=() launcheds=()
for _ in $(seq "$runs"); do
  directs+=($(HOME="$home" "$probe" "$build/run/Gridscope" "$run" 1 | sed -n 's/startup_outside_median_ms //p'))
  launcheds+=($(HOME="$home" "$probe" "$work/prefix/bin/gridscope" "$work" 1 | sed -n 's/startup_outside_median_ms //p'))
done
echo "start-up to first frame:  program alone $(printf '%s\n' "${directs[@]}" | median) ms," \
  "through the launcher $(printf '%s\n' "${launcheds[@]}" | median) ms (medians of $runs, taken in turn)"
