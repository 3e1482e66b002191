#!/usr/bin/env bash
# The whole program's cost: CPU and resident memory of Gridscope idle on the
# default track, then spectating the project's race server with 32 cars, at
# 20 frames per second, each phase for the same time (default 300 s).
# Run by hand; it is not part of CI.
#
#   scripts/bench-program.sh [--seconds N] [--build-dir DIR]
#
# Needs a build with the program and the race server (cmake --build build),
# xdotool, and an X display (started with xvfb-run when there is none).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=300
build=build
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --build-dir) build="$2"; shift 2 ;;
    *) echo "usage: $0 [--seconds N] [--build-dir DIR]" >&2; exit 2 ;;
  esac
done
build=$(cd "$build" && pwd)

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s '-screen 0 1280x1024x24' "$0" --seconds "$seconds" --build-dir "$build"
fi

program="$build/run/Gridscope"
server="$build/tools/raceserver/gridscope-raceserver"
for f in "$program" "$server"; do [ -x "$f" ] || { echo "missing $f: build first" >&2; exit 1; }; done

port=$((29100 + RANDOM % 800))
run=$(mktemp -d /tmp/gridscope-program-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$run"
}
trap cleanup EXIT

# A scratch run folder: the build's tracks and bitmaps, and settings that
# point at the race server with names and speeds on at 20 frames a second.
ln -s "$build/run/files" "$run/files"
ln -s "$build"/run/*.bmp "$run/"
printf '127.0.0.1\n%s\ndemo\n1\n1\n1\n1\n0\n25\n20\n' "$port" > "$run/Gridscope.ini"

(cd "$run" && exec "$program") &
gs=$!
pids+=("$gs")

# The main window: the largest window of that name.
window=""
for _ in $(seq 100); do
  best=0
  for w in $(xdotool search --name '^Gridscope' 2>/dev/null); do
    width=$(xwininfo -id "$w" 2>/dev/null | awk '/Width:/ {print $2}')
    if [ "${width:-0}" -gt "$best" ]; then best=$width; window=$w; fi
  done
  [ "$best" -ge 700 ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "the program's window did not appear" >&2; exit 1; }

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$gs/stat"; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$gs/status"; }

# Samples the program for $seconds: CPU share over the phase, and resident
# memory every few seconds (first, last, lowest, highest).
measure() {
  local label=$1 step=$(( seconds >= 60 ? 10 : 2 ))
  local c0 t0 c1 t1 rss first last min max
  c0=$(cpu_ticks); t0=$(date +%s.%N)
  first=$(rss_kb); min=$first; max=$first
  local series="$first"
  local end=$(( $(date +%s) + seconds ))
  while [ "$(date +%s)" -lt "$end" ]; do
    sleep "$step"
    kill -0 "$gs" 2>/dev/null || { echo "the program ended" >&2; exit 1; }
    rss=$(rss_kb)
    series="$series $rss"
    [ "$rss" -lt "$min" ] && min=$rss
    [ "$rss" -gt "$max" ] && max=$rss
  done
  c1=$(cpu_ticks); t1=$(date +%s.%N); last=$(rss_kb)
  awk -v l="$label" -v c="$((c1 - c0))" -v k="$ticks" -v t0="$t0" -v t1="$t1" \
      -v f="$first" -v e="$last" -v lo="$min" -v hi="$max" 'BEGIN {
    printf "%-12s cpu %5.1f %% of one core   rss first %d kB, last %d kB, min %d kB, max %d kB, change %+d kB\n",
           l, 100 * c / k / (t1 - t0), f, e, lo, hi, e - f }'
  echo "             rss every ${step} s (kB): $series"
}

echo "Gridscope $seconds s per phase; $(nproc) cores; $(uname -r)"
sleep 5  # start-up done, the frame timer running
measure idle

"$server" --port "$port" --admin demo --cars 32 --files "$build/run/files" >/dev/null &
pids+=("$!")
sleep 1
# Connect: the second toolbar button, under the pointer.
xdotool mousemove --window "$window" 250 18 sleep 0.2 click 1
for _ in $(seq 100); do
  case "$(xdotool getwindowname "$window")" in *"connected to"*) break ;; esac
  sleep 0.1
done
case "$(xdotool getwindowname "$window")" in
  *"connected to"*) ;;
  *) echo "the program did not connect" >&2; exit 1 ;;
esac
sleep 5  # the players and the track have arrived
measure spectating
