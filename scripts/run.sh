#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Sets up what running needs, builds (showing the build's progress) and starts
# the program. Arguments go to the program.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

no_session() {
    [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]
}
if no_session; then
    echo "Note: there is no graphical session here (neither DISPLAY nor WAYLAND_DISPLAY is set)."
    echo "The program is built, but its window can only open in a desktop session."
fi

"$root/scripts/setup.sh" run
echo "Building into $root/build (the first build takes a few minutes)..."
"$root/scripts/build.sh" -DKESTRAWIN_TESTS=OFF -DKESTRAWIN_BENCH=OFF

if no_session; then
    echo "kestrawin: cannot open the window: no graphical session (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
    echo "Run ./scripts/run.sh from a terminal inside your desktop session (X11 or Wayland)." >&2
    echo "Built: $root/build/app/kestrawin; without a window: $root/build/cli/kestrawin-cli --help" >&2
    exit 1
fi
exec "$root/build/app/kestrawin" "$@"
