#!/usr/bin/env bash
# Builds syncstatus, then makes one report from the example exports: for each
# table, diff the Kest export against the Scheduler export and append that
# table's status section. Prints the report and leaves it in
# examples/out/report.txt.
#
#   bash examples/build-report.sh [PROGRAM [OUTDIR]]
#
# PROGRAM defaults to the freshly built build/syncstatus, OUTDIR to
# examples/out.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")

program=${1:-}
if [[ -z $program ]]; then
  if [[ ! -f $top/build/CMakeCache.txt ]]; then
    cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$top/build" --target syncstatus >/dev/null
  program=$top/build/syncstatus
fi

out=${2:-$here/out}
mkdir -p "$out"
report=$out/report.txt
rm -f "$report"

# One run per table, in catalogue order; tables without exports are skipped.
for key in kemployee kunits ksetupstates kqteams kmachines kitems kcustitems kroutings \
  kcustroutings kmpsorders kprporders kmrporders ksfcorders kitemstock kcustitemstock kpurorders; do
  kest=$here/kest/$key.txt
  scheduler=$here/scheduler/$key.txt
  [[ -f $kest && -f $scheduler ]] || continue
  # diff exits 1 when the exports differ; only 2 means trouble.
  status=0
  diff "$kest" "$scheduler" >"$out/$key.diff" || status=$?
  if ((status > 1)); then
    echo "build-report: diff failed for $key" >&2
    exit 1
  fi
  "$program" "$report" "$out/$key.diff" "$key"
done

cat "$report"
