#!/usr/bin/env bash
# Builds the Debian package vrx4_<version>_amd64.deb into build/package/
# (or the build folder given): the programs, the device table, the firmware
# file, the manuals, the USB access rule, the desktop entry, icon, metainfo
# and man pages, with the library dependencies dpkg-shlibdeps finds.
# Install it with: sudo apt install ./build/package/vrx4_*_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" --target vrx4 vrx4-cli vrx4-unitsim vrx4_data_files vrx4_manuals vrx4_man_pages
cpack --config "$build/CPackConfig.cmake" -B "$build/package"
ls -l "$build"/package/*.deb
