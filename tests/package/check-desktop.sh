#!/bin/sh
# desktop-file-validate on the desktop entry, appstreamcli validate on the
# metainfo; any error or warning fails.
set -eu
desktop=$1
metainfo=$2
command -v desktop-file-validate >/dev/null || { echo "desktop-file-validate is not installed: skipped"; exit 77; }
command -v appstreamcli >/dev/null || { echo "appstreamcli is not installed: skipped"; exit 77; }
out=$(desktop-file-validate "$desktop" 2>&1) || { echo "$out"; exit 1; }
# desktop-file-validate reports hints with status 0; they count as well.
[ -z "$out" ] || { echo "$out"; exit 1; }
appstreamcli validate --no-net --explain "$metainfo"
echo "desktop entry and metainfo valid"
