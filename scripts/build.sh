#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Configures and builds into build/ (or $BUILD_DIR): the programs, their tests and
# the benchmarks, unless the CMake options given (such as -DKESTRAWIN_TESTS=OFF)
# say otherwise.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRAWIN_TESTS=ON -DKESTRAWIN_BENCH=ON "$@"
cmake --build "$build" -j"$(nproc)"
