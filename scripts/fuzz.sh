#!/usr/bin/env bash
# Builds the libFuzzer target for the section writer with clang, ASan and
# UBSan, and fuzzes it for a bounded time, starting from fuzz/corpus. Fails
# on any crash or failed check; the input that caused it is kept in the
# build folder. The repository's corpus is never changed: the run works on
# a copy.
#   SYNCSTATUS_FUZZ_SECONDS  how long to fuzz (default 60)
#   SYNCSTATUS_FUZZ_BUILD    the build folder (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
build=${SYNCSTATUS_FUZZ_BUILD:-build-fuzz}
seconds=${SYNCSTATUS_FUZZ_SECONDS:-60}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSYNCSTATUS_FUZZ=ON -DSYNCSTATUS_BUILD_TESTS=OFF -DSYNCSTATUS_SANITIZE=address,undefined
cmake --build "$build" -j "$jobs" --target status_section_fuzzer

corpus=$build/corpus
rm -rf "$corpus"
mkdir -p "$corpus" "$build/artifacts"
cp fuzz/corpus/* "$corpus"/
"$build/fuzz/status_section_fuzzer" -max_total_time="$seconds" -timeout=30 \
  -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$corpus"
