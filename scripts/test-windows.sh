#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Builds the Windows side (scripts/build-windows.sh, into build-windows/ or
# $BUILD_DIR) and runs its tests under Wine, headless, in the build's own
# Wine prefix (or $WINEPREFIX), the installer's among them (it needs
# makensis). A new prefix is made first, once: that is the slow part of a
# first run.
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
cd "$build"
ctest --output-on-failure -j"$(nproc)"
