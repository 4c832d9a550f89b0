#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Installs with apt-get (through sudo when not root) what is missing on Debian 12:
#   scripts/setup.sh run    what building and running the program needs
#   scripts/setup.sh test   that, and what the tests, the sanitizer build and the
#                           fuzzer need (the default)
set -eu
run_packages="cmake make g++ pkg-config qt6-base-dev libssl-dev \
desktop-file-utils shared-mime-info fonts-dejavu-core qt6-gtk-platformtheme"
test_packages="libgtest-dev openssl xvfb xauth imagemagick clang libclang-rt-14-dev python3 \
qt6-base-private-dev openbox x11-utils exfatprogs exfat-fuse acl dosfstools fusefat \
g++-mingw-w64-x86-64-posix wine64 googletest nsis clang-format-14 xdotool"
case "${1:-test}" in
    run) packages=$run_packages ;;
    test) packages="$run_packages $test_packages" ;;
    *) echo "usage: $0 [run|test]" >&2; exit 64 ;;
esac
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
