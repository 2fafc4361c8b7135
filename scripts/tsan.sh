#!/usr/bin/env bash
# Builds the suites whose code runs threads (the link and its transports,
# image transfers and the other workflows, the simulated unit and its socket
# server, the progress dialogs and the stop path of the program) with
# ThreadSanitizer in a build folder of their own and runs them. Reports from
# inside Qt, glib and D-Bus (not built with ThreadSanitizer, so their own
# locks are invisible to it) are suppressed in scripts/tsan.supp; every other
# report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-tsan
suites=(link sim workflows workflowsgui startup)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_C_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DVRX4_BUILD_BENCH=OFF -DVRX4_BUILD_MANUALS=OFF -DVRX4_TEST_DIRS="$(IFS=';'; echo "${suites[*]}")" >/dev/null
cmake --build "$build" --target vrx4_tests -j "$(nproc)"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
