#!/usr/bin/env bash
# Two coached calls in `quiro console` against quiro-service with both model providers configured,
# a fake chat-completions server and a fake live recognizer standing in for them on loopback.
# Run it inside the test desktop, from the repository, after building:
#   scripts/test-desktop tests/service/console-with-fakes.sh [BUILD_DIR]   (default build/dev)
#
# 1. Both fakes stay up: the transcript lines come from the fake recognizer, the hints and the
#    debrief from the fake model ("Fake model: …"), and the saved call has its cost.
# 2. Both fakes are stopped mid-call: the call goes on, the rules hint and pocketsphinx transcribes
#    (a sentence is played as the client once the recognizer is gone).
# Everything runs in a scratch home; every process started here is stopped by its PID.
set -euo pipefail

build=$(realpath "${1:-build/dev}")
quiro="$build/src/app/quiro"
service="$build/service/quiro-service"
fakes="$build/tests/service/fake_upstreams"
for program in "$quiro" "$service" "$fakes"; do
    [ -x "$program" ] || { echo "console-with-fakes: $program is missing; build first." >&2; exit 1; }
done
if [ -z "${QUIRO_TEST_DESKTOP:-}" ]; then
    echo "console-with-fakes: run inside scripts/test-desktop." >&2
    exit 1
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/quiro-fakes.XXXXXX")
export HOME="$root/home"
mkdir -p "$HOME"
pids=()
stop_all() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$root"
}
trap stop_all EXIT

declare -A pid_of port_of

# start NAME COMMAND...: runs it in the background, its output in $root/NAME.log, and waits for
# "listening on …PORT"; the port goes to port_of[NAME].
start() {
    local name=$1
    shift
    "$@" >"$root/$name.log" 2>&1 &
    pid_of[$name]=$!
    pids+=($!)
    local tries
    for ((tries = 0; tries < 200; tries++)); do
        if grep -qE 'listening on [^ ]*[0-9]+' "$root/$name.log"; then
            port_of[$name]=$(grep -oE 'listening on [^ ]*' "$root/$name.log" | head -n 1 | grep -oE '[0-9]+$')
            return 0
        fi
        sleep 0.1
    done
    echo "console-with-fakes: $* did not start:" >&2
    cat "$root/$name.log" >&2
    return 1
}

stop() {
    kill "${pid_of[$1]}" 2>/dev/null || true
    wait "${pid_of[$1]}" 2>/dev/null || true
}

# call NAME SECONDS: one coached call of SECONDS with fresh fakes and a fresh service.
call() {
    local name=$1 seconds=$2
    start "$name-chat" "$fakes" chat
    start "$name-recognizer" "$fakes" recognizer
    start "$name-service" env QUIRO_LLM_BASE_URL="http://127.0.0.1:${port_of[$name-chat]}/v1" \
        QUIRO_LLM_MODEL=fake-model QUIRO_LLM_API_KEY_FILE="$root/llm.key" QUIRO_LLM_PRICE_IN=0.5 \
        QUIRO_LLM_PRICE_OUT=1.5 QUIRO_STT_URL="ws://127.0.0.1:${port_of[$name-recognizer]}/v1/listen" \
        QUIRO_STT_API_KEY=fake-stt-key "$service" --no-tls --port 0 --data-dir "$root/service"
    printf 'API_BASE=http://127.0.0.1:%s\n' "${port_of[$name-service]}" >"$HOME/.quiroai/.env"
    "$quiro" login seller@example.com <<<"secret1" >/dev/null 2>&1 ||
        "$quiro" register seller@example.com Sam <<<"secret1" >/dev/null

    echo "=== $name: quiro doctor (its service, coach and speech lines)"
    "$quiro" doctor | grep -E '^. (Service|Coach|Speech):' || true
    echo "=== $name: quiro console --duration $seconds"
    "$quiro" console --duration "$seconds" </dev/null &
    pid_of[$name-console]=$!
    pids+=($!)
    if [ "$name" = "fakes-stopped" ]; then
        sleep 14
        echo "--- (the fake model is stopped)"
        stop "$name-chat"
        sleep 8
        echo "--- (the fake recognizer is stopped; then the client says a sentence)"
        stop "$name-recognizer"
        sleep 4
        paplay --device="$QUIRO_TEST_SPEAKER_SINK" "$root/client.wav"
    fi
    wait "${pid_of[$name-console]}" || echo "(quiro console exited with status $?)"
    echo "=== $name: what the service logged about its providers"
    grep -E '\[(Coach|Speech)\]|coach: ' "$root/$name-service.log" || true
    stop "$name-service"
    stop "$name-recognizer"
    stop "$name-chat"
}

mkdir -p "$HOME/.quiroai"
printf 'fake-llm-key\n' >"$root/llm.key"
chmod 600 "$root/llm.key"
flite -voice kal16 -t "honestly this is way too expensive for our team" -o "$root/client.wav"

call fakes-up 30
echo "=== the saved call's cost and analysis (quiro history --json)"
"$quiro" history --json --limit 1 | grep -E '"llmCostUSD"|"llmCalls"|"summary"'
call fakes-stopped 45
