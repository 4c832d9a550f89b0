#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Runs a command on a private X server with a window manager; exits 77 (skip)
# when either is missing. Takes the first free display from :140 up, so as
# not to land on a desktop's own.
set -u
command -v Xvfb >/dev/null 2>&1 && command -v openbox >/dev/null 2>&1 && command -v xprop >/dev/null 2>&1 || {
    echo "Xvfb, openbox or xprop missing: skipped"; exit 77; }
tmp=$(mktemp -d)
server=""
wm=""
trap 'kill $wm $server 2>/dev/null; rm -rf "$tmp"' EXIT INT TERM
n=140
while [ $n -lt 200 ]; do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
        server=$!
        for _ in $(seq 50); do
            xprop -display ":$n" -root >/dev/null 2>&1 && break
            kill -0 $server 2>/dev/null || break
            sleep 0.1
        done
        xprop -display ":$n" -root >/dev/null 2>&1 && break
        kill $server 2>/dev/null
        server=""
    fi
    n=$((n + 1))
done
[ -n "$server" ] || { echo "no X server could start"; exit 1; }
DISPLAY=":$n"
export DISPLAY
HOME=$tmp XDG_CONFIG_HOME=$tmp openbox >"$tmp/openbox.log" 2>&1 &
wm=$!
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id #" && break
    sleep 0.1
done
"$@"
