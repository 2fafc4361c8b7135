#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in the sanitizer suites' build folder and runs each
# for a few seconds from its seed corpus, one target per core at a time.
# Skips politely without clang.
# Long runs that grow the corpora: scripts/fuzz-campaign.sh.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
source scripts/fuzz-common.sh
if ! fuzz_have_clang; then
  echo "fuzz: clang not found, fuzzing skipped"
  exit 0
fi
fuzz_configure_and_build
# One target per core at a time; each writes its own log.
run_target() {
  local t=$1 scratch rc=0
  # New inputs go to a scratch folder; the committed seeds stay as they are.
  scratch=$(mktemp -d)
  "$fuzz_build/bin/fuzz_$t" -max_total_time="$seconds" -max_len=4096 -print_final_stats=0 \
    -artifact_prefix="$fuzz_build/fuzz_$t-" "$scratch" "fuzz/corpus/$t" >"$fuzz_build/fuzz_$t.log" 2>&1 || rc=$?
  rm -rf "$scratch"
  return $rc
}
status=0
runnable=()
for t in "${fuzz_targets[@]}"; do
  if [ ! -d "fuzz/corpus/$t" ] || [ -z "$(ls -A "fuzz/corpus/$t")" ]; then
    echo "fuzz: $t has no seed corpus in fuzz/corpus/$t"
    status=1
  else
    runnable+=("$t")
  fi
done
cores=$(nproc)
for ((i = 0; i < ${#runnable[@]}; i += cores)); do
  batch=("${runnable[@]:i:cores}")
  pids=()
  for t in "${batch[@]}"; do
    echo "fuzz: $t for ${seconds}s"
    run_target "$t" &
    pids+=($!)
  done
  for j in "${!batch[@]}"; do
    if ! wait "${pids[$j]}"; then
      t=${batch[$j]}
      echo "fuzz: $t FAILED, see $fuzz_build/fuzz_$t.log"
      tail -n 40 "$fuzz_build/fuzz_$t.log"
      status=1
    fi
  done
done
[ $status -eq 0 ] && echo "fuzz: all targets ran clean"
exit $status
