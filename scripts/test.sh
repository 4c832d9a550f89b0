#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Sets up, builds from scratch and runs every test, in four builds:
#   build/          the program and its tests
#   build-asan/     the same tests under AddressSanitizer and UndefinedBehaviorSanitizer
#   build-fuzz/     the container fuzzer (clang): the corpus in tests/data replayed,
#                   then a bounded fuzzing run
#   build-windows/  the Windows side (MinGW-w64) and its tests under Wine
# Any failure stops the script with a non-zero status.
#
#   KESTRAWIN_FUZZ_SECONDS  length of the fuzzing run (default 60; 0 skips it)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
fuzz_seconds=${KESTRAWIN_FUZZ_SECONDS:-60}
started=$(date +%s)

stage() {
    echo
    echo "==== $1 ($(($(date +%s) - started)) s in)"
}

"$root/scripts/setup.sh" test

stage "Build and tests"
"$root/scripts/build.sh" -DKESTRAWIN_WERROR=ON
(cd "$root/build" && ctest --output-on-failure -j"$jobs")

stage "Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_DIR="$root/build-asan" "$root/scripts/build.sh" -DKESTRAWIN_SANITIZE=ON -DKESTRAWIN_BENCH=OFF -DKESTRAWIN_WERROR=ON
(cd "$root/build-asan" &&
    ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -j"$jobs")

stage "Container fuzzer"
CC=clang CXX=clang++ BUILD_DIR="$root/build-fuzz" "$root/scripts/build.sh" -DKESTRAWIN_FUZZ=ON
fuzzer="$root/build-fuzz/fuzz/kestrawin_fuzz_container"
# Files as arguments: each runs once, no fuzzing.
"$fuzzer" "$root"/tests/data/vectors/*.ksw "$root"/tests/data/bad/*.ksw
if [ "$fuzz_seconds" -gt 0 ]; then
    corpus="$root/build-fuzz/corpus"
    mkdir -p "$corpus"
    "$fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 -print_final_stats=1 \
        -dict="$root/fuzz/container.dict" -artifact_prefix="$root/build-fuzz/" \
        "$corpus" "$root/tests/data/vectors" "$root/tests/data/bad"
fi

stage "Windows build and its tests under Wine"
"$root/scripts/test-windows.sh" -DKESTRAWIN_WERROR=ON

stage "All tests passed"
