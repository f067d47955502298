#!/bin/sh
# Installs the build into a scratch root and checks what desktops and software centres read:
# the desktop entry, the AppStream metadata, the icon and the service's user unit.
#   install-check.sh BUILD_DIR
set -eu
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
desktop-file-validate "$root/usr/share/applications/io.quiro.Quiro.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/io.quiro.Quiro.metainfo.xml" >/dev/null
test -s "$root/usr/share/icons/hicolor/scalable/apps/quiro.svg"
grep -qx 'ExecStart=/usr/bin/quiro-service' "$root/usr/lib/systemd/user/quiro-service.service"
"$root/usr/bin/quiro" --version >/dev/null
echo "install-check: the installed tree is valid"
