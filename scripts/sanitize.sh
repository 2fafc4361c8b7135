#!/usr/bin/env bash
# Builds the core test suites with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build folder of their own and runs them:
# damaged frames, files and records must never be read past their buffers.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-sanitize
suites=(link commands records files workflows sim)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVRX4_SANITIZE=ON \
  -DVRX4_BUILD_GUI=OFF -DVRX4_BUILD_BENCH=OFF -DVRX4_TEST_DIRS="$(IFS=';'; echo "${suites[*]}")" >/dev/null
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
