#!/usr/bin/env bash
# Builds syncstatus.exe and its tests with mingw-w64 and runs the whole suite
# under Wine. The Wine prefix lives in the build folder, made on first use;
# one wineserver serves all test runs and is stopped on the way out.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
build=${SYNCSTATUS_WIN_BUILD:-build-win}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSYNCSTATUS_BUILD_TESTS=ON \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake"
cmake --build "$build" -j "$jobs"

wine=$(sed -n 's/^SYNCSTATUS_WINE:FILEPATH=//p' "$build/CMakeCache.txt")
wineserver=${WINESERVER:-$(dirname "$wine")/wineserver}
if [[ ! -x $wineserver ]]; then wineserver=$(command -v wineserver); fi

export WINEPREFIX=${WINEPREFIX:-$PWD/$build/wineprefix}
export WINEDEBUG=-all
# No Mono, no Gecko, no dialogs about them: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# No display: Wine must not try to open a window.
unset DISPLAY WAYLAND_DISPLAY

trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "making the Wine prefix $WINEPREFIX"
  "$wine" wineboot --init </dev/null >"$build/wineboot.log" 2>&1 ||
    { cat "$build/wineboot.log"; exit 1; }
  "$wineserver" -w
fi
# A server left running for this prefix (an interrupted run) serves as well.
"$wineserver" -p 2>/dev/null || true
# The first program under a new server brings up Wine's services, which keep
# the standard handles it was given and outlive it: were those CTest's pipes,
# CTest would wait for them to close, forever.
"$wine" wineboot </dev/null >>"$build/wineboot.log" 2>&1

ctest --test-dir "$build" --output-on-failure -j "$jobs" </dev/null

# Linux and Windows runs on one report take turns: the native program from
# scripts/test.sh's build (skipped when there is none) with this build's.
native=${SYNCSTATUS_NATIVE_BUILD:-build}/syncstatus
python3 tests/mixed_hosts.py --native "$native" --windows "$build/syncstatus.exe" --wine "$wine" \
  </dev/null
