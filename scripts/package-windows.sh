#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Builds the Windows installer, kestrawin-setup.exe, with NSIS (makensis) and
# packaging/windows/kestrawin.nsi. It packs the programs the Windows build
# made, kestrawin.exe and kestrawin-cli.exe, whichever of them exist, and
# fails when neither does.
#
#   scripts/package-windows.sh [cmake option...]
#       builds first (scripts/build-windows.sh, into build-windows/ or
#       $BUILD_DIR), then packs the programs found there
#   PROGRAMS_DIR=folder scripts/package-windows.sh
#       builds nothing; packs the programs found in that folder
#
# The installer goes to $OUT, by default kestrawin-setup.exe in the build folder.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-windows}
if ! command -v makensis >/dev/null 2>&1; then
    echo "package-windows.sh: makensis is not installed (scripts/setup.sh test installs nsis)" >&2
    exit 127
fi
if [ -n "${PROGRAMS_DIR:-}" ]; then
    programs=$PROGRAMS_DIR
else
    "$root/scripts/build-windows.sh" "$@"
    programs=$build
fi
out=${OUT:-$build/kestrawin-setup.exe}

# The first file of that name under the folder, not counting CMake's own
# files nor a Wine prefix's.
find_program() {
    find "$programs" \( -name CMakeFiles -o -name drive_c \) -prune -o -name "$1" -type f -print |
        sort | head -n 1
}
window=$(find_program kestrawin.exe)
cli=$(find_program kestrawin-cli.exe)
if [ -z "$window" ] && [ -z "$cli" ]; then
    echo "package-windows.sh: no program to pack: neither kestrawin.exe nor kestrawin-cli.exe is in $programs" >&2
    exit 1
fi
version=$(sed -n 's/^project(Kestrawin VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
mkdir -p "$(dirname "$out")"
makensis -V2 -NOCD "-DVERSION=$version" "-DOUTFILE=$out" \
    ${window:+"-DWINDOW_PROGRAM=$window"} ${cli:+"-DCLI_PROGRAM=$cli"} \
    "$root/packaging/windows/kestrawin.nsi"
echo "Made $out with:${window:+ $window}${cli:+ $cli}"
