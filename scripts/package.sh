#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Sets up what building needs, builds the programs (without tests) into build/
# and makes the Debian package there: build/kestrawin_<version>_<arch>.deb.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" run
"$root/scripts/build.sh" -DKESTRAWIN_TESTS=OFF -DKESTRAWIN_BENCH=OFF
rm -f "$root"/build/kestrawin_*.deb
(cd "$root/build" && cpack -G DEB)
echo "Package: $(ls "$root"/build/kestrawin_*.deb)"
