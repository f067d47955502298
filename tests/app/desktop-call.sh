#!/usr/bin/env bash
# The desktop app driven like a person, on the test desktop (scripts/test-desktop): a fresh home,
# the local service started by the app on a free port, first run, registration, a call started from
# the tray menu, a client's objection that brings a hint, Ctrl+Shift+Space while another program
# has the focus, the debrief, a sign-out in the middle of a second call, and quitting from the tray.
#   desktop-call.sh BUILD_DIR SCREENSHOT_DIR
# Screenshots of each step go to SCREENSHOT_DIR/e2e-*.png.
set -euo pipefail
build=$1
shots=$2
quiro=$build/src/app/quiro
if [ -z "${QUIRO_TEST_DESKTOP:-}" ]; then
    echo "desktop-call: needs scripts/test-desktop"
    exit 77
fi
mkdir -p "$shots"
export HOME; HOME=$(mktemp -d)
export XDG_CONFIG_HOME=$HOME/.config
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
export API_BASE=http://localhost:$port
log=$HOME/.quiroai/logs/quiro.log
service_log=$HOME/.quiroai/service/service.log
app=""
service=""
cleanup() {
    for pid in $app $service; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$HOME"
}
trap cleanup EXIT

fail() {
    echo "desktop-call: $*" >&2
    [ -f "$log" ] && tail -n 30 "$log" >&2
    exit 1
}
shot() { import -window root "$shots/e2e-$1.png"; }
click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-1}"; }
count() { local n; n=$(grep -c -- "$2" "$1" 2>/dev/null) || true; echo "${n:-0}"; }
# Waits up to $2 seconds for a line matching $3 in file $1, beyond the $4 (default 0) seen before.
wait_for_line() {
    for _ in $(seq $(($2 * 10))); do [ "$(count "$1" "$3")" -gt "${4:-0}" ] && return 0; sleep 0.1; done
    fail "no new \"$3\" in $(basename "$1") within $2 s"
}
window() { xdotool search --sync --name "$1" >/dev/null; sleep 0.8; }
say() { # DEVICE TEXT: speech into the speakers (the client) or the microphone (the seller)
    flite -voice kal16 -t "$2" -o "$HOME/say.wav" && paplay --device="$1" "$HOME/say.wav"
}
open_tray_menu() { xdotool mousemove 1267 12 click 3; sleep 1; }
tray_item() { # the tray icon sits at the top right; its menu opens below it
    open_tray_menu
    click "$1" "$2"
}

# Windows are centred on the 1280 × 800 screen: onboarding 640 × 760 at (320, 20), login 960 × 640
# at (160, 80).
"$quiro" &
app=$!
window "Welcome to Quiro"
shot 01-onboarding
click 639 615 2          # Get started
click 639 522 1.5        # Continue (both sides can be heard on the test desktop)
click 533 726 1.5        # Skip for now (the playbook)
click 639 626 2          # Start coaching
window "Sign in to Quiro"
click 471 569            # Create an account
xdotool type --delay 15 "Sam Seller"; xdotool key Tab
xdotool type --delay 15 "sam@example.com"; xdotool key Tab
xdotool type --delay 15 "secret123"; xdotool key Return
wait_for_line "$service_log" 10 "POST /api/register 200"
sleep 2
shot 02-overlay

tray_item 1097 22        # ▶  Start Session
wait_for_line "$log" 20 "Metadata received"
open_tray_menu; shot 03-menu-while-running; xdotool key Escape
say spk "Honestly the price is too expensive for our budget right now."
wait_for_line "$log" 20 "Hint shown"
sleep 1.5 # the panel grows to the hint on a spring
shot 04-hint

# Another program has the focus, as the video call would; the hot key still asks for one hint.
say micfeed "I understand. What would the return need to look like for you?"
sleep 2
xmessage -name the-call "the call" & other=$!
xdotool search --sync --name the-call windowfocus --sync >/dev/null 2>&1 || true
assists_before=$(count "$service_log" "POST /assist")
xdotool key ctrl+shift+space
sleep 3
assists=$(( $(count "$service_log" "POST /assist") - assists_before ))
kill $other 2>/dev/null || true
[ "$assists" -eq 1 ] || fail "Ctrl+Shift+Space made $assists /assist requests, not 1"

tray_item 1097 22        # ■  Stop Session
calls() { ls "$HOME"/.quiroai/sessions/*/session-*.json 2>/dev/null | wc -l; }
for _ in $(seq 100); do [ "$(calls)" -ge 1 ] && break; sleep 0.1; done
[ "$(calls)" -eq 1 ] || fail "the first call was not saved"
sleep 4
shot 05-debrief
click 943 630 1.5       # Done
shot 06-home
click 732 142 1.5       # Settings
shot 07-settings
xdotool mousemove 640 500 click --repeat 15 5; sleep 1
shot 08-account

# A second call, and a sign-out in its middle: the call is saved before the sign-in window appears.
streams=$(count "$log" "Metadata received")
tray_item 1097 22        # ▶  Start Session
wait_for_line "$log" 20 "Metadata received" "$streams"
say spk "We already use a competitor and we are locked into a contract."
sleep 2
shot 09-second-call
click 937 598 2          # Sign out, in the main window's Settings
shot 10-signed-out
window "Sign in to Quiro"
[ "$(calls)" -eq 2 ] || fail "the second call was not saved before the sign-in window"
grep -qi "competitor" "$HOME"/.quiroai/sessions/*/session-*.json || fail "the second call's words were not saved"

tray_item 1071 114       # Quit Quiro
status=0; wait "$app" || status=$?; app=""
[ "$status" -eq 0 ] || fail "quitting ended with status $status"
grep -q "Stopped the local service" "$log" || fail "the local service was left running"

# Signed in again from the terminal, the history holds both calls.
"$build/service/quiro-service" --port "$port" --no-tls >>"$service_log" 2>&1 &
service=$!
for _ in $(seq 100); do "$quiro" login sam@example.com <<<"secret123" >/dev/null 2>&1 && break; sleep 0.2; done
history=$("$quiro" history 2>&1) || fail "quiro history failed: $history"
[ "$(grep -c "$(date +%Y)" <<<"$history")" -eq 2 ] || fail "quiro history does not list both calls: $history"
echo "desktop-call: every step passed"
