#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in a build folder of their own and runs each
# for a few seconds from its seed corpus. Skips politely without clang.
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
status=0
for t in "${fuzz_targets[@]}"; do
  if [ ! -d "fuzz/corpus/$t" ] || [ -z "$(ls -A "fuzz/corpus/$t")" ]; then
    echo "fuzz: $t has no seed corpus in fuzz/corpus/$t"
    status=1
    continue
  fi
  # New inputs go to a scratch folder; the committed seeds stay as they are.
  scratch=$(mktemp -d)
  echo "fuzz: $t for ${seconds}s"
  if ! "$fuzz_build/bin/fuzz_$t" -max_total_time="$seconds" -max_len=4096 -print_final_stats=0 \
      -artifact_prefix="$fuzz_build/fuzz_$t-" "$scratch" "fuzz/corpus/$t" >"$fuzz_build/fuzz_$t.log" 2>&1; then
    echo "fuzz: $t FAILED, see $fuzz_build/fuzz_$t.log"
    tail -n 40 "$fuzz_build/fuzz_$t.log"
    status=1
  fi
  rm -rf "$scratch"
done
[ $status -eq 0 ] && echo "fuzz: all targets ran clean"
exit $status
