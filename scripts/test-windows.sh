#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Builds the Windows side (scripts/build-windows.sh, into build-windows/ or
# $BUILD_DIR) and runs its tests under Wine, headless, in the build's own
# Wine prefix (or $WINEPREFIX), the installer's among them (it needs
# makensis), and kestrawin-cli.exe beside the Linux build's kestrawin-cli
# when build/ has one (scripts/test.sh makes it first). A new prefix is made
# first, once: that is the slow part of a first run.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-windows}
"$root/scripts/build-windows.sh" "$@"
WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEPREFIX
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    started=$(date +%s)
    "$root/scripts/wine-run.sh" wineboot --init
    echo "Made the Wine prefix $WINEPREFIX in $(($(date +%s) - started)) s"
fi
# Windows made by the tests are drawn by Wine's null driver: no display.
"$root/scripts/wine-run.sh" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
    </dev/null >/dev/null 2>&1
# One Wine server for the whole run, with its services started apart from
# the tests: tests then neither start a server each nor race one that is
# shutting down, and no service holds a test's output open.
server=
for candidate in wineserver /usr/lib/wine/wineserver /usr/lib/wine/wineserver64; do
    if command -v "$candidate" >/dev/null 2>&1; then
        server=$candidate
        break
    fi
done
if [ -n "$server" ]; then
    "$server" -w || true # the one that made the prefix, if it still runs
    "$server" -p </dev/null >/dev/null 2>&1 || true
    trap '"$server" -k' EXIT
    "$root/scripts/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
cd "$build"
ctest --output-on-failure -j"$(nproc)"
