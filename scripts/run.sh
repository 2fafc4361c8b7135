#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program on its built-in
# simulated unit. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# A new build folder builds the programs only (the tests need the test
# toolchain, which scripts/test.sh installs); an existing one keeps its choice.
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVRX4_BUILD_TESTS=OFF -DVRX4_BUILD_BENCH=OFF >/dev/null
fi
cmake --build build --target vrx4
exec build/bin/vrx4 --simulate "$@"
