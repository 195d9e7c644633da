#!/usr/bin/env bash
# Builds the program and its tests with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole suite: any memory fault,
# leak or undefined behaviour ends the run that hits it, and fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
build=${SYNCSTATUS_ASAN_BUILD:-build-asan}

# GoogleTest is built from Debian's sources with the same compiler, so that
# no part of a test binary comes from another toolchain's build.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSYNCSTATUS_BUILD_TESTS=ON -DSYNCSTATUS_SANITIZE=address,undefined \
  -DSYNCSTATUS_GTEST_SOURCE_DIR=/usr/src/googletest
cmake --build "$build" -j "$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure -j "$jobs"
