#!/usr/bin/env bash
# Builds the core test suites with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build folder of their own and runs them:
# damaged frames, files and records must never be read past their buffers.
# The same folder holds the fuzz targets (scripts/fuzz.sh), built with it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-common.sh
sanitize_configure
targets=(vrx4_tests)
fuzz_have_clang && targets+=("${fuzz_targets[@]/#/fuzz_}")
cmake --build "$fuzz_build" --target "${targets[@]}" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
ctest --test-dir "$fuzz_build" --output-on-failure -j "$(nproc)"
