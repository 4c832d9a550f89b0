#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The program started outside a graphical session: --help and --version answer,
# anything else says what is missing; none of them writes into HOME.
set -u
program=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" XDG_DATA_HOME= XDG_CONFIG_HOME= "$program" "$@"; }

out=$(run --help) || fail "--help ended with $?"
case $out in "Usage: kestrawin "*) ;; *) fail "--help printed: $out" ;; esac
out=$(run --version) || fail "--version ended with $?"
[ "$out" = "kestrawin $2" ] || fail "--version printed: $out"

err=$(run "$home/some file.txt" /crypt 2>&1 >/dev/null)
status=$?
[ "$status" -eq 1 ] || fail "without a session the status was $status"
case $err in *"no graphical session"*) ;; *) fail "without a session it said: $err" ;; esac
[ -z "$(ls -A "$home")" ] || fail "HOME was written: $(ls -A "$home")"
echo "ok"
