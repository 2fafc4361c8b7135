#!/usr/bin/env bash
# Builds the Debian packages into build/package/ (or the build folder
# given): vrx4-cli_<version>_amd64.deb (vrx4-cli, vrx4-unitsim, the device
# table, the firmware file, the USB access rule and their man pages; no Qt)
# and vrx4_<version>_amd64.deb (the window, its desktop entry, icon,
# metainfo, manuals and man page; depends on vrx4-cli), with the library
# dependencies dpkg-shlibdeps finds.
# Install both with: sudo apt install ./build/package/vrx4*_amd64.deb
# (a headless bench: ./build/package/vrx4-cli_*_amd64.deb alone)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" --target vrx4 vrx4-cli vrx4-unitsim vrx4_data_files vrx4_manuals vrx4_man_pages
cpack --config "$build/CPackConfig.cmake" -B "$build/package"
ls -l "$build"/package/*.deb
