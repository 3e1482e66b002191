#!/usr/bin/env bash
# Builds the benchmarks and prints every figure against its reference: the
# median of several runs of each, program and reference timed in the same
# iteration (absolute times drift on a shared machine; ratios hold).
#
#   scripts/bench.sh [--runs N] [--build-dir DIR] [--no-build]
#
# GUI figures run under a virtual X server (xvfb-run). The whole-program
# figure (5 minutes) is scripts/bench-program.sh, run by hand.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
build=build
do_build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --build-dir) build="$2"; shift 2 ;;
    --no-build) do_build=0; shift ;;
    *) echo "usage: $0 [--runs N] [--build-dir DIR] [--no-build]" >&2; exit 2 ;;
  esac
done

if [ "$do_build" = 1 ]; then
  cmake -S . -B "$build" -DGRIDSCOPE_BENCH=ON >/dev/null
  cmake --build "$build" -j2 --target bench_core bench_gui bench_startprobe Gridscope >/dev/null
fi
build=$(cd "$build" && pwd)
out=$(mktemp -d /tmp/gridscope-bench-out-XXXXXX)
trap 'rm -rf "$out"' EXIT
xvfb="xvfb-run -a -s '-screen 0 1280x1024x24'"
common=(--benchmark_repetitions="$runs" --benchmark_format=json)

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "runs: $runs (medians)"

"$build/bench/bench_core" "${common[@]}" >"$out/core.json" 2>/dev/null
eval "$xvfb" "$build/bench/bench_gui" --benchmark_filter="'^Frame/'" "${common[@]}" >"$out/frame.json" 2>/dev/null
# Start-up: a fresh process each time, so every run is a cold start.
for i in $(seq "$runs"); do
  eval "$xvfb" "$build/bench/bench_gui" --benchmark_filter=Startup --benchmark_format=json >"$out/startup$i.json" 2>/dev/null
done
run=$(mktemp -d /tmp/gridscope-bench-run-XXXXXX)
ln -s "$build/run/files" "$run/files"
ln -s "$build"/run/*.bmp "$run/"
printf '127.0.0.1\n29999\n(null)\n1\n1\n1\n1\n0\n25\n20\n' >"$run/Gridscope.ini"
eval "$xvfb" "$build/bench/bench_startprobe" "$build/run/Gridscope" "$run" "$runs" >"$out/probe.txt" 2>/dev/null || true
rm -rf "$run"

python3 - "$out" "$runs" <<'EOF'
import json, statistics, sys, glob, os
out, runs = sys.argv[1], int(sys.argv[2])

def runs_of(path):
    with open(path) as f:
        data = json.load(f)
    by = {}
    for b in data["benchmarks"]:
        if b.get("run_type") != "iteration" or b.get("error_occurred"):
            if b.get("error_occurred"):
                print(f"ERROR {b['name']}: {b.get('error_message')}")
            continue
        by.setdefault(b["run_name"], []).append(b)
    return by

def med(rows, key):
    return statistics.median(r[key] for r in rows)

print()
print(f"{'figure':<34}{'program':>12}{'reference':>12}{'ratio':>8}{'target':>8}  ok")
def line(name, rows, pk, rk, unit, target):
    p, r, q = med(rows, pk), med(rows, rk), med(rows, "ratio")
    ok = "yes" if q <= target else "NO"
    print(f"{name:<34}{p:>9.3f} {unit:<2}{r:>9.3f} {unit:<2}{q:>8.2f}{target:>7.2f}x  {ok}")

core = runs_of(os.path.join(out, "core.json"))
frame = runs_of(os.path.join(out, "frame.json"))
for name, rows in frame.items():
    label = "frame, default camera" if "default" in name else "frame, whole track"
    line(label, rows, "program_ms", "reference_ms", "ms", 1.25)
for name, rows in core.items():
    if name.startswith("TrackLoad"):
        line("track load (AS1, warm)", rows, "program_us", "reference_us", "us", 1.5)
    elif name.startswith("PacketPath"):
        line("packet path, per datagram", rows, "program_us", "reference_us", "us", 2.0)

starts = []
for path in sorted(glob.glob(os.path.join(out, "startup*.json"))):
    for rows in runs_of(path).values():
        starts.extend(rows)
if starts:
    print()
    print("start-up in-process, cold, median of", len(starts), "processes (ms):")
    keys = ["qapplication_ms", "1_window_ms", "2_glinit_ms", "3_font_ms", "4_textures_ms", "5_track_ms", "6_frame_ms"]
    for k in keys:
        print(f"  {k[:-3]:<16}{med(starts, k):8.1f}")
    total = statistics.median(r["real_time"] for r in starts)
    qapp = med(starts, "qapplication_ms")
    print(f"  {'forms..frame':<16}{total:8.1f}   (+ application object: {total + qapp:.1f}; target < 500)")
probe = open(os.path.join(out, "probe.txt")).read().strip()
print()
print("start-up from outside (process start to first frame on screen):")
print("  " + probe.replace("\n", "\n  ") if probe else "  (no X display or probe failed)")
EOF
