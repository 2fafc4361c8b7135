#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program on its built-in
# simulated unit. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target vrx4
exec build/bin/vrx4 --simulate "$@"
