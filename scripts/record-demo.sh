#!/usr/bin/env bash
# Records the demo race: the project's race server runs a two-lap race of 12
# cars on BL2, gridscope-record records it from the start to the race end (about
# two minutes), and the race report is written beside it. Run by the build's
# `demo-race` target (and by scripts/demo.sh when the recording is missing):
#   scripts/record-demo.sh BUILD_DIR
# Writes BUILD_DIR/run/demo-race.gsrec and BUILD_DIR/run/demo-race.html.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
run=$build/run
server=$build/tools/raceserver/gridscope-raceserver
recorder=$build/tools/record/gridscope-record
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$server" --port 0 --files "$run/files" --track BL2 --cars 12 --laps 2 --sessions race \
  --track-change 0 --name '^1Grid^7scope ^3Demo ^7Race' --seed 11 --verbose >"$work/server.log" 2>&1 &
pids+=($!)
port=""
for _ in $(seq 50); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/server.log" | head -1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { cat "$work/server.log" >&2; exit 1; }

"$recorder" --server "127.0.0.1:$port" --out "$work/demo-race.gsrec" >"$work/recorder.log" 2>&1 &
recorder_pid=$!
pids+=($recorder_pid)
# The race starts 5 s in; stop one second after it ends (at most after 3 minutes).
for _ in $(seq 180); do
  grep -q "event REN" "$work/server.log" && break
  sleep 1
done
grep -q "event REN" "$work/server.log" || { echo "record-demo: the race did not end" >&2; exit 1; }
sleep 1
kill -TERM "$recorder_pid"
wait "$recorder_pid"

"$recorder" --report "$work/demo-race.gsrec" --html "$work/demo-race.html" --files "$run/files" >/dev/null
mv "$work/demo-race.gsrec" "$work/demo-race.html" "$run/"
"$recorder" --info "$run/demo-race.gsrec" --files "$run/files" | sed -n '1,9p'
