#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Writes a PNG of each page of the Windows window (kestrawin.exe, built by
# scripts/build-windows.sh) to docs/ (or the folder given), as Wine draws it
# under a virtual X server: docs/windows-page-*.png. A Wine prefix of its own
# in a scratch folder, so neither the build's prefix (whose tests draw on no
# display) nor the real registry is touched.
# Needs: Xvfb, Wine, xdotool and import (imagemagick). The virtual X server
# takes number 99, or the one in $KESTRAWIN_DISPLAY_NUMBER.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs}
program=${KESTRAWIN_EXE:-${BUILD_DIR:-$root/build-windows}/app/kestrawin.exe}
scratch=$(mktemp -d)
display=":${KESTRAWIN_DISPLAY_NUMBER:-99}"
mkdir -p "$out"
Xvfb "$display" -screen 0 400x300x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$scratch"' EXIT
sleep 1
WINEPREFIX="$scratch/prefix" WINEDEBUG=-all DISPLAY=$display \
WINEDLLOVERRIDES='mscoree,mshtml,winemenubuilder.exe='
export WINEPREFIX WINEDEBUG DISPLAY WINEDLLOVERRIDES
wine=
for candidate in wine /usr/lib/wine/wine64 wine64; do
    if command -v "$candidate" >/dev/null 2>&1; then
        wine=$candidate
        break
    fi
done
"$wine" wineboot --init >/dev/null 2>&1
echo "secret" > "$scratch/Report.txt"
file=$("$wine" winepath -w "$scratch/Report.txt" 2>/dev/null | tr -d '\r')

shoot() { # name, then the program's arguments
    name=$1
    shift
    "$wine" "$program" "$@" >/dev/null 2>&1 &
    pid=$!
    window=
    for _ in $(seq 100); do
        window=$(xdotool search --name '^Pellmora$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
        sleep 0.2
    done
    sleep 1
    if [ -n "${typed:-}" ]; then
        xdotool type --delay 30 "$typed"
        sleep 0.5
    fi
    # The client area: Wine's window without its frame (no window manager runs).
    eval "$(xdotool getwindowgeometry --shell "$window")"
    import -window root -crop "200x149+$X+$Y" +repage "$out/$name.png"
    # Ended, not closed: closed from the Main page it would open the product page.
    "$wine" taskkill /f /im kestrawin.exe >/dev/null 2>&1 || true
    wait "$pid" 2>/dev/null || true
    echo "$out/$name.png"
}

typed=secret shoot windows-page-1-encrypt "$file" /crypt
shoot windows-page-2-decrypt "$file.ksw" /encrypt
shoot windows-page-3-outcome "$file.ksw" /crypt
shoot windows-page-0-main
"${wine}server" -k 2>/dev/null || wineserver -k 2>/dev/null || true
