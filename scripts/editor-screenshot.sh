#!/usr/bin/env bash
# Renders the memory editor offscreen into docs/screenshots/editor.png: the
# shipped sample table's DEMO-B256K with the program file written below
# (a reset vector, a little code and a text line).
# Usage: scripts/editor-screenshot.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:-build}" && pwd)
cmake --build "$build" --target test_editorgui
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/jobs"
python3 - "$work/jobs/demo-b256k.hex" <<'PY'
import sys

data = {}
def put(address, payload):
    for i, b in enumerate(payload):
        data[address + i] = b

put(0x0000, bytes([0x00, 0x01, 0x00, 0x00]))                     # reset vector: 0x000100
put(0x0100, bytes.fromhex("7C F2 00 00 EB 40 00 04 75 C3 00 00 FE FF 04 04"))
put(0x0110, bytes.fromhex("C7 00 10 01 75 8F 00 00 A1 00 FA 01 6A 07 F5 FE"))
put(0x0140, b"T552-VRX4 sample program for DEMO-B256K\0")

lines = []
addresses = sorted(data)
i = 0
while i < len(addresses):
    start = addresses[i]
    chunk = [data[start]]
    while i + 1 < len(addresses) and addresses[i + 1] == start + len(chunk) and len(chunk) < 16:
        i += 1
        chunk.append(data[addresses[i]])
    i += 1
    record = [len(chunk), start >> 8, start & 0xFF, 0] + chunk
    lines.append(":" + "".join("%02X" % b for b in record) + "%02X" % (-sum(record) & 0xFF))
lines.append(":00000001FF")
with open(sys.argv[1], "w") as f:
    f.write("\n".join(lines) + "\n")
PY
cd "$work"
QT_QPA_PLATFORM=offscreen VRX4_SCREENSHOT_DIR="$root/docs/screenshots" VRX4_SCREENSHOT_FILE=jobs/demo-b256k.hex \
  "$build/bin/test_editorgui" screenshot
