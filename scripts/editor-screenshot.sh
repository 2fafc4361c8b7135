#!/usr/bin/env bash
# Renders the memory editor offscreen into docs/screenshots/editor.png.
# Usage: scripts/editor-screenshot.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target test_editorgui
QT_QPA_PLATFORM=offscreen VRX4_SCREENSHOT_DIR="$PWD/docs/screenshots" \
  "$build/bin/test_editorgui" screenshot
