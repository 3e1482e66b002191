#!/usr/bin/env bash
# The demo: installs what is needed, builds, starts two of the project's race
# servers, a replay of the recorded demo race and the relay on loopback,
# gridscope-live on the first race, the league's hub on all three, and runs
# Gridscope in the run folder.
# Click Connect to watch the race on port 29999; or set the port to 47474 in
# Settings and click Server List to go through the relay. The servers stop
# when Gridscope exits.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

run=build/run
tools=build/tools
build="$PWD/build"
# A recorded race to replay and a report of it (about two minutes, once).
[ -f "$run/demo-race.gsrec" ] || cmake --build build --target demo-race
if [ ! -f "$run/Gridscope.ini" ]; then
  # Server, port, admin password, names, speeds, smoothing, km/h, on top,
  # icon size, frames per second. Icons of size 25 are about the size of
  # a real car on screen.
  printf '%s\n' 127.0.0.1 29999 demo 1 1 1 1 0 25 20 > "$run/Gridscope.ini"
fi

pids=()
cleanup() { [ ${#pids[@]} -gt 0 ] && kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null || true; }
trap cleanup EXIT

"$tools/raceserver/gridscope-raceserver" --port 29999 --admin demo --cars 20 --laps 5 \
  --files "$run/files" --name '^1Grid^7scope ^3Demo' --seed 7 >/dev/null &
pids+=($!)
"$tools/raceserver/gridscope-raceserver" --port 29998 --admin demo --cars 12 --track BL1 \
  --sessions race --files "$run/files" --name '^2Grid^7scope ^3Club ^7(pw)' --seed 2 >/dev/null &
pids+=($!)
"$tools/raceserver/gridscope-raceserver" --replay "$run/demo-race.gsrec" --port 29997 --admin demo \
  --loop >/dev/null &
pids+=($!)
"$tools/relay/gridscope-relay" --port 47474 --config tools/relay/demo-relay.conf >/dev/null &
pids+=($!)
# The race on port 29999 in the browser too: the live page and the timing tower.
"$tools/live/gridscope-live" --server 127.0.0.1:29999 --admin demo --files "$run" --http 127.0.0.1:8080 >/dev/null &
pids+=($!)
# The league's hub on all three: its dashboard, races kept in build/hub-demo/.
cat > "$build/hub-demo.ini" <<EOF
[hub]
http = 127.0.0.1:8081
data = $build/hub-demo
files = $build/run

[server:demo]
address = 127.0.0.1:29999
admin = demo

[server:club]
address = 127.0.0.1:29998
admin = demo

[server:replay]
address = 127.0.0.1:29997
admin = demo
EOF
"$tools/hub/gridscope-hub" --config "$build/hub-demo.ini" >/dev/null 2>"$build/hub-demo.log" &
pids+=($!)

if [ -z "${DISPLAY:-}" ]; then
  echo "No display (DISPLAY is not set): Gridscope needs one to show its window." >&2
  exit 1
fi
echo "Race servers on 127.0.0.1:29999 and :29998, relay on 127.0.0.1:47474."
echo "The recorded demo race replays on 127.0.0.1:29997 (set the port in Settings);"
echo "its report is $run/demo-race.html."
echo "The race in a browser: http://127.0.0.1:8080/ (timing tower: http://127.0.0.1:8080/overlay)"
echo "The league's hub on all three servers: http://127.0.0.1:8081/ (its log: $build/hub-demo.log)"
echo "Click Connect to watch the race; Tab follows a car, arrows and Page Up/Down move the camera."
(cd "$run" && ./Gridscope)
