#!/bin/sh
# Installs what building and testing need on Debian 12, skipping what is there.
set -eu
packages="cmake make g++ pkg-config qt6-base-dev libssl-dev libgtest-dev openssl \
xvfb xauth imagemagick clang libclang-rt-14-dev desktop-file-utils \
qt6-base-private-dev openbox x11-utils qt6-gtk-platformtheme"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
