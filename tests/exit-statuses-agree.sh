#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The exit statuses of kestrawin-cli are listed three times: in its --help, its
# manual page and the README. The three lists must say the same.
#   exit-statuses-agree.sh KESTRAWIN_CLI MANUAL_PAGE README
set -eu
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# --help: "  <status>  <meaning>" lines after "Exit status:".
"$1" --help | sed -n '/^Exit status:/,$p' | sed -n 's/^ *\([0-9][0-9]*\)  *\(.*\)$/\1 \2/p' > "$scratch/help"
# Manual page: ".B <status>" then the meaning, inside the EXIT STATUS section.
sed -n '/^\.SH EXIT STATUS/,/^\.SH /p' "$2" | sed -n '/^\.B [0-9]/{s/^\.B //;N;s/\n/ /;p;}' > "$scratch/man"
# README: "| <status> | <meaning> |" rows of the table in the command-line section.
sed -n 's/^| *\([0-9][0-9]*\) *| *\(.*[^ ]\) *|$/\1 \2/p' "$3" > "$scratch/readme"

[ -s "$scratch/help" ] || { echo "no exit statuses in --help"; exit 1; }
status=0
for source in man readme; do
    if ! diff -u "$scratch/help" "$scratch/$source"; then
        echo "the exit statuses in $source differ from --help"
        status=1
    fi
done
[ "$status" -eq 0 ] && echo "$(wc -l < "$scratch/help") exit statuses, the same in all three"
exit "$status"
