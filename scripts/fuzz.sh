#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in a build folder of their own and runs each
# for a few seconds from its seed corpus. Skips politely without clang.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
if ! command -v clang++ >/dev/null 2>&1 || ! command -v clang >/dev/null 2>&1; then
  echo "fuzz: clang not found, fuzzing skipped"
  exit 0
fi
build=build-fuzz
sanitizers=-fsanitize=fuzzer-no-link,address,undefined
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$sanitizers" -DCMAKE_CXX_FLAGS="$sanitizers -fno-omit-frame-pointer" \
  -DVRX4_FUZZ=ON -DVRX4_BUILD_GUI=OFF -DVRX4_BUILD_TESTS=OFF -DVRX4_BUILD_BENCH=OFF >/dev/null
targets=(hex_line srec_line boot_collect save_address device_table)
cmake --build "$build" --target "${targets[@]/#/fuzz_}" -j "$(nproc)"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
status=0
for t in "${targets[@]}"; do
  # New inputs go to a scratch folder; the committed seeds stay as they are.
  scratch=$(mktemp -d)
  echo "fuzz: $t for ${seconds}s"
  if ! "$build/bin/fuzz_$t" -max_total_time="$seconds" -max_len=4096 -print_final_stats=0 \
      -artifact_prefix="$build/fuzz_$t-" "$scratch" "fuzz/corpus/$t" >"$build/fuzz_$t.log" 2>&1; then
    echo "fuzz: $t FAILED, see $build/fuzz_$t.log"
    tail -n 40 "$build/fuzz_$t.log"
    status=1
  fi
  rm -rf "$scratch"
done
[ $status -eq 0 ] && echo "fuzz: all targets ran clean"
exit $status
