#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# kestrawin-cli is the engine and a terminal, nothing more: loading a toolkit
# would add megabytes to every run and start-up time to every small file.
#   needs-no-toolkit.sh KESTRAWIN_CLI
set -eu
needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "$needed"
if echo "$needed" | grep -q '^libQt'; then
    echo "kestrawin-cli links a toolkit library" >&2
    exit 1
fi
echo "$needed" | grep -q '^libcrypto' || { echo "no libcrypto among the libraries: is this the program?" >&2; exit 1; }
