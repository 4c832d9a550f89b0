#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The programs are built hardened: with a stack canary, loaded at a random
# address, and on Linux with their relocations made read-only before main()
# runs (full RELRO), on Windows with no code run from data and addresses above
# 4 GiB. With --fortified, at least one of them calls the size-checked forms
# of the C library's functions (a program may have no call whose sizes the
# compiler knows).
#   programs-are-hardened.sh [--fortified] PROGRAM...
set -eu
fortified=no
if [ "${1-}" = --fortified ]; then fortified=yes; shift; fi
status=0
checked=no
fail() {
    echo "$program: $1" >&2
    status=1
}
for program in "$@"; do
    if [ "$(head -c 2 "$program")" = MZ ]; then
        headers=$(x86_64-w64-mingw32-objdump -p "$program")
        for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
            echo "$headers" | grep -qw "$flag" || fail "not $flag"
        done
        symbols=$(x86_64-w64-mingw32-nm "$program")
    else
        readelf -dW "$program" | grep -q '(FLAGS_1).*PIE' || fail "not position-independent"
        readelf -dW "$program" | grep -qE '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' \
            || fail "relocations bound when first used, not at start (no BIND_NOW)"
        readelf -lW "$program" | grep -q GNU_RELRO || fail "no read-only relocations (RELRO)"
        symbols=$(readelf --dyn-syms -W "$program")
    fi
    echo "$symbols" | grep -q __stack_chk_fail || fail "no stack canary"
    if echo "$symbols" | grep -qE '_chk($|@| )'; then checked=yes; fi
done
if [ "$fortified" = yes ] && [ "$checked" = no ]; then
    echo "no size-checked calls in any of: $*" >&2
    status=1
fi
[ "$status" -eq 0 ] && echo "$# programs hardened"
exit "$status"
