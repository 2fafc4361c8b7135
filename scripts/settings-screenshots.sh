#!/usr/bin/env bash
# Renders the settings dialogs offscreen into docs/screenshots/.
# Usage: scripts/settings-screenshots.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target test_settingsgui
QT_QPA_PLATFORM=offscreen VRX4_SCREENSHOT_DIR="$PWD/docs/screenshots" \
  "$build/bin/test_settingsgui"
