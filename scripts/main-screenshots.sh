#!/usr/bin/env bash
# Renders the main window offscreen into docs/screenshots/: main-nodevice.png
# (a new unit, no device chosen) and main.png (a device chosen, a HEX file
# loaded, Erase/Program/Verify passed), both on the simulated unit.
# Usage: scripts/main-screenshots.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target test_viewgui
QT_QPA_PLATFORM=offscreen VRX4_SCREENSHOT_DIR="$PWD/docs/screenshots" \
  "$build/bin/test_viewgui" renderTheMainWindow
