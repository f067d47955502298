#!/usr/bin/env bash
# Records one real coached call for the main window's tests, inside the test desktop:
#   scripts/test-desktop tests/ui/data/record-call.sh BUILD_DIR LINES OUTPUT.json [--crash]
#
# A temporary home gets its own quiro-service (on a free port) and account; `quiro console`
# coaches the call while flite speaks the LINES file ("micfeed|text" for the seller's
# microphone, "spk|text" for the client in the speakers); Ctrl+C ends the call and the session
# file it leaves behind (analysis included) is copied to OUTPUT.json. With --crash the console is
# killed once its recovery checkpoint holds every line, and the checkpoint is copied instead.
# Every process started here is stopped by its PID.
set -euo pipefail

usage="usage: record-call.sh BUILD_DIR LINES OUTPUT.json [--crash]"
build=${1:?$usage}
script=${2:?$usage}
output=${3:?$usage}
crash=${4:-}
: "${QUIRO_TEST_MIC_SINK:?run this inside scripts/test-desktop}"

home=$(mktemp -d)
export HOME=$home XDG_CONFIG_HOME=$home/.config
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$home"
}
trap cleanup EXIT

"$build/service/quiro-service" --port 0 >"$home/service.log" 2>&1 &
pids+=($!)
port=""
for _ in $(seq 100); do
    port=$(sed -n 's/.*listening on https:\/\/[^:]*:\([0-9]*\).*/\1/p' "$home/service.log" | head -n 1)
    [ -n "$port" ] && break
    sleep 0.2
done
[ -n "$port" ] || { cat "$home/service.log" >&2; exit 1; }
mkdir -p "$home/.quiroai"
printf 'API_BASE=https://localhost:%s\n' "$port" >"$home/.quiroai/.env"

quiro="$build/src/app/quiro"
printf 'correct horse battery\n' | "$quiro" register dana@example.com "Dana Whitfield" >/dev/null

"$quiro" console >"$home/console.log" 2>&1 &
console=$!
pids+=($console)
sleep 5
# Pauses let the recognizer close each utterance.
while IFS='|' read -r device text; do
    flite -voice kal16 -t "$text" -o "$home/line.wav"
    paplay --device="$device" "$home/line.wav"
    sleep 1.5
done <"$script"
sleep 2

if [ "$crash" = "--crash" ]; then
    touch "$home/spoken"
    checkpoint=$(echo "$home"/.quiroai/checkpoint_*.json)
    until [ -f "$checkpoint" ] && [ "$checkpoint" -nt "$home/spoken" ]; do
        sleep 1
        checkpoint=$(echo "$home"/.quiroai/checkpoint_*.json)
    done
    kill -KILL "$console"
    cp "$checkpoint" "$output"
else
    kill -INT "$console"
    wait "$console" || true
    cp "$(ls "$home"/.quiroai/sessions/*/session-*.json | head -n 1)" "$output"
fi
cat "$home/console.log"
echo "saved $output"
