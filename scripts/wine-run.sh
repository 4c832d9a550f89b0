#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Runs a Windows program under Wine, headless: the Windows build's tests run
# through here (it is that build's CROSSCOMPILING_EMULATOR).
#
#   scripts/wine-run.sh program.exe [argument...]
#
# The prefix is $WINEPREFIX, or build-windows/wineprefix beside this script;
# the first run creates it (wineboot), which takes a while. Wine's own
# messages are off unless WINEDEBUG says otherwise. Nothing is shown on any
# display.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
WINEPREFIX=${WINEPREFIX:-$root/build-windows/wineprefix}
WINEDEBUG=${WINEDEBUG:--all}
# No prompts to install Mono or Gecko into a new prefix, and no menu entries
# on this machine's desktop for the Start-menu entries of a Windows program.
WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
unset DISPLAY WAYLAND_DISPLAY
# Debian's wine64 package installs the loader outside PATH; the wine package
# adds a wrapper in PATH.
for wine in wine /usr/lib/wine/wine64 wine64; do
    if command -v "$wine" >/dev/null 2>&1; then
        mkdir -p "$WINEPREFIX"
        exec "$wine" "$@"
    fi
done
echo "wine-run.sh: Wine is not installed (scripts/setup.sh test installs it)" >&2
exit 127
