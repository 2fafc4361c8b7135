#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the
# GoogleTest and Qt Test suites through CTest (the libusb tests under
# umockdev), the core suites again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded suites under ThreadSanitizer, then
# each fuzz target for a few seconds under the same sanitizers as the core.
# First the quick checks: the layout of the code and the direction of its
# includes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --test
scripts/format-check.sh
scripts/layering-check.sh
jobs=$(nproc)
# Line tables are all the debug information a failing test needs (a quarter
# less to compile and link than full information).
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRX4_BUILD_TESTS=ON -DVRX4_BUILD_BENCH=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
scripts/sanitize.sh
scripts/tsan.sh
scripts/fuzz.sh 5
