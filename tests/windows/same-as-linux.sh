#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# kestrawin-cli.exe under Wine beside the Linux build's kestrawin-cli: each
# opens what the other writes, fresh key pairs and all; both answer the same
# cases with the same status and the same words; and a full disk (a small
# tmpfs, where this user may mount one) is a failure that loses nothing.
# Skipped (77) when there is no Linux build.
#
#   same-as-linux.sh KESTRAWIN-CLI.exe LINUX-KESTRAWIN-CLI WORK_FOLDER
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
exe=$1
linux=$2
work=$3
wine="$root/scripts/wine-run.sh"
if [ ! -x "$linux" ]; then
    echo "same-as-linux.sh: no Linux build at $linux (scripts/build.sh makes it)"
    exit 77
fi

rm -rf "$work"
mkdir -p "$work"
cd "$work"
printf 'correct horse\n' >pw
printf 'wrong horse\n' >bad
export XDG_DATA_HOME="$work/xdg"

failures=0
check() { # check WHAT COMMAND...: counts a failure unless the command succeeds
    said=$1
    shift
    if ! "$@"; then
        echo "same-as-linux.sh: FAILED: $said" >&2
        failures=$((failures + 1))
    fi
}
# run windows|linux ARGS...: sets $status; standard error in $work/err, without
# CRs and without the system's own words at the end ("(File not found)").
run() {
    side=$1
    shift
    set +e
    if [ "$side" = windows ]; then
        "$wine" "$exe" "$@" </dev/null 2>"$work/err.raw" >/dev/null
    else
        "$linux" "$@" </dev/null 2>"$work/err.raw" >/dev/null
    fi
    status=$?
    set -e
    tr -d '\r' <"$work/err.raw" | sed 's/ ([^()]*)$//' >"$work/err"
    return 0
}

# Each side's container opens on the other side.
for writer in windows linux; do
    reader=$([ $writer = windows ] && echo linux || echo windows)
    printf 'written on %s, read on %s: é\n' $writer $reader >"from $writer é.txt"
    cp "from $writer é.txt" expected
    run $writer encrypt --password-file pw "from $writer é.txt"
    check "$writer encrypts" [ "$status" = 0 ]
    run $reader decrypt --password-file pw "from $writer é.txt.ksw"
    check "$reader decrypts what $writer wrote" [ "$status" = 0 ]
    check "$reader gets the very bytes" cmp -s expected "from $writer é.txt"
    rm -f expected "from $writer é.txt" "from $writer é.txt.ksw"
done

# The same cases, the same status and words on both sides (the system's own
# words for an error are its own).
printf 'plain' >plain.txt
printf 'not a container at all' >junk.ksw
printf 'a' >abc
run linux encrypt --keep --password-file pw plain.txt
while IFS='|' read -r what args; do
    # shellcheck disable=SC2086 # the table's arguments are words
    run windows $args
    windows_status=$status
    cp err windows.err
    # shellcheck disable=SC2086
    run linux $args
    check "$what: the same status ($windows_status on Windows, $status on Linux)" \
        [ "$windows_status" = "$status" ]
    check "$what: the same words" cmp -s windows.err err
    [ -s windows.err ] || [ "$what" = help ] || check "$what: says why" false
done <<TABLE
help|--help
wrong password|decrypt --keep --password-file bad plain.txt.ksw
not a container|decrypt --password-file pw junk.ksw
a missing file|encrypt --password-file pw missing.txt
a name too short|decrypt --password-file pw abc
already encrypted|encrypt --password-file pw plain.txt.ksw
an unknown option|encrypt --frobnicate plain.txt
no path|decrypt --password-file pw
TABLE
"$wine" "$exe" --help 2>/dev/null | tr -d '\r' >windows.help
"$linux" --help >linux.help
check "help: the same text" cmp -s windows.help linux.help

# A full disk: the result cannot be written, and the input stays whole.
mkdir -p tiny
if mount -t tmpfs -o size=256k tmpfs tiny 2>/dev/null; then
    head -c 150000 /dev/urandom >tiny/big
    cp tiny/big expected
    cd tiny
    run windows encrypt --password-file ../pw big
    cd ..
    check "a full disk: status 3" [ "$status" = 3 ]
    check "a full disk: says so" grep -q "the result cannot be written (cannot write: " err.raw
    check "a full disk: the input is whole" cmp -s expected tiny/big
    check "a full disk: nothing else is left" [ "$(ls -A tiny)" = big ]
    umount -l tiny # Wine may still hold the folder a moment
else
    echo "same-as-linux.sh: no tmpfs may be mounted here; the full disk is not tried"
fi

[ "$failures" -eq 0 ] || exit 1
echo "kestrawin-cli.exe and kestrawin-cli agree."
