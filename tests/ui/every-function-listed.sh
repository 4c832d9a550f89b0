#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Passes when the Qt Test program's own list of test functions is exactly the
# list CTest was given (each has an entry of its own): a test function that
# the listing missed would otherwise never run.
#   every-function-listed.sh PROGRAM FUNCTION...
set -eu
program=$1
shift
own=$(QT_QPA_PLATFORM=offscreen "$program" -functions | sed 's/()$//' | sort)
listed=$(printf '%s\n' "$@" | sort)
[ "$own" = "$listed" ] && exit 0
echo "test functions without a CTest entry, or entries without a function:"
printf '%s\n' "$own" > "${TMPDIR:-/tmp}/own.$$"
printf '%s\n' "$listed" | diff "${TMPDIR:-/tmp}/own.$$" - || true
rm -f "${TMPDIR:-/tmp}/own.$$"
exit 1
