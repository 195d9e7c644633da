#!/usr/bin/env bash
# Builds syncstatus and makes one report from the example exports with the
# shipped script for all tables, syncstatus-report-all, run in examples/ as
# a job would run it. Prints the report and leaves it in
# examples/out/report.txt.
#
#   bash examples/build-report.sh [PROGRAM [OUTDIR]]
#
# Without PROGRAM it first installs, from Debian's packages, what building
# needs and the machine lacks (scripts/install-deps.sh --build), builds the
# program without its tests in build-example/ and installs it there, in
# build-example/stage/, so the script runs from bin/ beside the program.
# With PROGRAM it runs the script from the source tree with that program.
# OUTDIR defaults to examples/out.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")

program=${1:-}
if [[ -z $program ]]; then
  bash "$top/scripts/install-deps.sh" --build
  build=$top/build-example
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DSYNCSTATUS_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" >/dev/null
  cmake --install "$build" --prefix "$build/stage" >/dev/null
  report_all=("$build/stage/bin/syncstatus-report-all")
else
  # The script takes syncstatus from PATH when none is beside it.
  program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
  report_all=(env "PATH=$(dirname "$program"):$PATH" "$top/packaging/syncstatus-report-all")
fi

out=${2:-$here/out}
mkdir -p "$out"
out=$(cd "$out" && pwd)
report=$out/report.txt
rm -f "$report"

# Tables without exports are skipped, each with a note on standard error.
(cd "$here" && "${report_all[@]}" "$report")
cat "$report"
