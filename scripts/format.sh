#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
#
# Formats every tracked C++ source file (.cpp, .h) as .clang-format says,
# with clang-format 14 (the house style's version).
#
#   scripts/format.sh           rewrite the files that differ
#   scripts/format.sh --check   only list them; status 1 if any
#
# The build has the same as a target (cmake --build build --target format)
# and as a test (style.EverySourceFileFollowsTheHouseStyle).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
check=no
case "${1-}" in
    --check) check=yes ;;
    "") ;;
    *) echo "usage: $0 [--check]" >&2; exit 64 ;;
esac
tool=${CLANG_FORMAT:-clang-format-14}
command -v "$tool" >/dev/null 2>&1 || {
    echo "$tool is missing (scripts/setup.sh test installs it)" >&2; exit 1; }

# Tracked files when this is a git clone, else every file below the root.
list_files() {
    if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git -C "$root" ls-files '*.cpp' '*.h'
    else
        find . -path ./.git -prune -o -path './build*' -prune -o -type f \
            \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||'
    fi
}

differ=0
for file in $(list_files); do
    [ -f "$file" ] || continue
    if ! "$tool" --style=file "$file" | cmp -s - "$file"; then
        if [ "$check" = yes ]; then
            echo "$file"
            differ=1
        else
            "$tool" --style=file -i "$file"
        fi
    fi
done
[ "$differ" -eq 0 ] || echo "these files differ from .clang-format: run ./scripts/format.sh" >&2
exit "$differ"
