#!/usr/bin/env bash
# A long fuzzing run outside CI: every target for SECONDS from its committed
# corpus, then the new inputs are merged into fuzz/corpus/TARGET (minimised:
# only inputs that add coverage are kept). Prints one line per target:
# executions, coverage (edges), features, corpus size before and after,
# crashes. Crashing inputs stay in build-sanitize/campaign/.
#
#   scripts/fuzz-campaign.sh SECONDS [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 1 ]; then
  echo "usage: scripts/fuzz-campaign.sh SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
source scripts/fuzz-common.sh
if ! fuzz_have_clang; then
  echo "fuzz-campaign: clang not found" >&2
  exit 1
fi
[ $# -gt 0 ] && fuzz_targets=("$@")
fuzz_configure_and_build
out="$fuzz_build/campaign"
mkdir -p "$out"
printf '%-16s %12s %8s %9s %7s %7s %7s\n' target execs edges features before after crashes
status=0
for t in "${fuzz_targets[@]}"; do
  bin="$fuzz_build/bin/fuzz_$t"
  corpus="fuzz/corpus/$t"
  work="$out/$t"
  rm -rf "$work"
  mkdir -p "$work/new" "$corpus"
  before=$(ls -A "$corpus" | wc -l)
  # A crash ends the target's run; its input is kept and counted.
  "$bin" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 -artifact_prefix="$work/" \
    "$work/new" "$corpus" >"$work/run.log" 2>&1 || true
  execs=$(grep -h 'stat::number_of_executed_units' "$work/run.log" | awk '{s += $2} END {print s + 0}')
  # Minimised merge: the committed corpus plus whatever adds coverage.
  mkdir -p "$work/merged"
  "$bin" -merge=1 -max_len=4096 "$work/merged" "$corpus" "$work/new" >"$work/merge.log" 2>&1 || true
  if [ -n "$(ls -A "$work/merged")" ]; then
    rm -f "$corpus"/*
    cp "$work/merged"/* "$corpus"/
  fi
  after=$(ls -A "$corpus" | wc -l)
  # Coverage of the merged corpus, measured by one pass over it.
  "$bin" -runs=0 -max_len=4096 "$corpus" >"$work/cover.log" 2>&1 || true
  edges=$(grep -o 'cov: [0-9]*' "$work/cover.log" | tail -1 | awk '{print $2}')
  features=$(grep -o 'ft: [0-9]*' "$work/cover.log" | tail -1 | awk '{print $2}')
  crashes=$(ls "$work" | grep -c -E '^(crash|leak|timeout|oom)-' || true)
  [ "$crashes" -gt 0 ] && status=1
  printf '%-16s %12s %8s %9s %7s %7s %7s\n' "$t" "$execs" "${edges:-?}" "${features:-?}" "$before" "$after" "$crashes"
done
exit $status
