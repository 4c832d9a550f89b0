#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
#
# Puts the licence line into every source file that lacks it: C++ files get
# "// SPDX-License-Identifier: Apache-2.0", CMake, shell and Python files the
# same after "# ", NSIS scripts after "; ". The line goes first, or right after a "#!" line. Files that
# already have one are left alone, so the script can run again at any time.
#
#   scripts/add-spdx.sh           add the line where it is missing
#   scripts/add-spdx.sh --check   only list the files without it; status 1 if any
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tag="SPDX-License-Identifier: Apache-2.0"
check=no
case "${1-}" in
    --check) check=yes ;;
    "") ;;
    *) echo "usage: $0 [--check]" >&2; exit 64 ;;
esac

# Tracked files when this is a git clone, else every file below the root.
list_files() {
    if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git -C "$root" ls-files
    else
        find . -path ./.git -prune -o -path './build*' -prune -o -type f -print | sed 's|^\./||'
    fi
}

# The comment that starts a line in this file, or nothing when it is no source file.
comment_of() {
    case "$1" in
        tests/data/*) return ;;
        *.cpp | *.h | *.hpp | *.cc) echo "//" ;;
        CMakeLists.txt | */CMakeLists.txt | *.cmake | *.sh | *.py) echo "#" ;;
        *.nsi | *.nsh) echo ";" ;;
        *) case "${1##*/}" in *.*) return ;; esac
           # no extension: a script when its first line says so
            case "$(head -n 1 "$1" 2>/dev/null)" in
                '#!'*sh* | '#!'*python*) echo "#" ;;
            esac ;;
    esac
}

missing=0
list_files | while IFS= read -r file; do
    [ -f "$file" ] || continue
    comment=$(comment_of "$file")
    [ -n "$comment" ] || continue
    head -n 5 "$file" | grep -q "SPDX-License-Identifier:" && continue
    if [ "$check" = yes ]; then
        echo "$file"
        continue
    fi
    temp=$(mktemp)
    awk -v line="$comment $tag" '
        NR == 1 && /^#!/ { print; print line; next }
        NR == 1 { print line }
        { print }
        END { if (NR == 0) print line }' "$file" > "$temp"
    cat "$temp" > "$file"   # keeps the file's mode
    rm -f "$temp"
    echo "added: $file"
done > "${TMPDIR:-/tmp}/kestrawin-spdx.$$"
result="${TMPDIR:-/tmp}/kestrawin-spdx.$$"
cat "$result"
if [ "$check" = yes ] && [ -s "$result" ]; then
    missing=1
    echo "these files have no line \"$tag\"; run scripts/add-spdx.sh" >&2
fi
rm -f "$result"
exit "$missing"
