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
# The build's default USB IDs are test-range IDs: a package made with them
# finds no real unit unless each user gives the IDs at run time.
usb_id() {
  local v
  v=$(sed -n "s/^VRX4_UNIT_$1_ID:STRING=//p" "$build/CMakeCache.txt")
  v=${v#0x}; v=${v#0X}
  printf '%04x' "$((16#${v:-0}))"
}
warn_test_ids() {
  [ "$(usb_id VENDOR):$(usb_id PRODUCT)" = 1209:5520 ] || return 0
  {
    echo "************************************************************************"
    echo "WARNING: packaging with the test-range USB IDs 1209:5520, not the real"
    echo "unit's. The package's udev rule will not apply to the unit, and the"
    echo "programs will not find it unless given its IDs (--usb-id, VRX4_USB_ID,"
    echo "/etc/vrx4/unit.conf). For the real unit build with"
    echo "  -DVRX4_UNIT_VENDOR_ID=0x.... -DVRX4_UNIT_PRODUCT_ID=0x...."
    echo "(see README.md, Installing)."
    echo "************************************************************************"
  } >&2
}
warn_test_ids
cmake --build "$build" -j "$(nproc)" --target vrx4 vrx4-cli vrx4-unitsim vrx4_data_files vrx4_manuals vrx4_man_pages
cpack --config "$build/CPackConfig.cmake" -B "$build/package"
ls -l "$build"/package/*.deb
# Said again after the build output, where it is seen.
warn_test_ids
