#!/bin/sh
# Runs a command with a secret service of its own: a private D-Bus session bus and a gnome-keyring
# whose login keyring (in a throw-away folder) is unlocked. Afterwards the keyring daemon is
# stopped by its PID, the bus ends with dbus-run-session, and the folder is removed. The command's
# exit status is kept.
set -eu
if [ "$#" -eq 0 ]; then
    echo "usage: with-keyring.sh COMMAND [ARGUMENTS...]" >&2
    exit 2
fi
scratch=$(mktemp -d)
mkdir -p -m 0700 "$scratch/data" "$scratch/run"
status=0
XDG_DATA_HOME="$scratch/data" XDG_RUNTIME_DIR="$scratch/run" \
dbus-run-session -- sh -c '
    # --unlock reads the password from stdin, creates the login keyring if needed and unlocks it.
    printf %s quiro-test | gnome-keyring-daemon --unlock --components=secrets >/dev/null
    daemon=$(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null |
        awk "{print \$2}")
    status=0
    QUIRO_KEYRING_READY=1 "$@" || status=$?
    if [ -n "$daemon" ]; then
        kill "$daemon" 2>/dev/null || true
    fi
    exit $status
' with-keyring "$@" || status=$?
rm -rf "$scratch"
exit "$status"
