#!/usr/bin/env bash
# Builds and tests everything: the Linux program, the Windows program under
# Wine, the sanitizer build and a bounded fuzz run. Each step stops the
# script on failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

step() { printf '\n=== %s\n' "$*"; }

step "Dependencies"
bash scripts/install-deps.sh

step "Linux build and tests"
# Tests on explicitly: a build folder configured without them must not
# pass by running nothing.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DSYNCSTATUS_BUILD_TESTS=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

for extra in scripts/test-windows.sh scripts/test-sanitize.sh scripts/fuzz.sh; do
  if [[ -f $extra ]]; then
    step "$extra"
    bash "$extra"
  fi
done
