#!/usr/bin/env bash
# Collects what a maintainer needs to see of a unit's first connection into
# one archive, usb-report-<date>.tar.gz in the current folder:
#   version.txt        vrx4-cli --version (the USB IDs in use and their source)
#   units-all.txt      vrx4-cli units --all (every USB device, the unit's marked)
#   lsusb-v.txt        lsusb -v of the devices with the unit's IDs, lsusb -t
#   udev.txt           udevadm info of each such device, its node, the rule files
#   info.txt, info-libusb.log   vrx4-cli info, with LIBUSB_DEBUG=4
#   read.txt, read-libusb.log   vrx4-cli read (only with --device NAME)
#   usbmon-<bus>.txt   the bus traffic during info, when this user may read usbmon
#   unit.umockdev, unit.ioctl   umockdev-record of the device and of an info run
#                      (the test harness replays them: see the manual)
#   system.txt         kernel, distribution, user and groups, unit.conf files
#
# Usage: scripts/usb-report.sh [--usb-id VID:PID] [--device NAME] [--cli PATH]
#   --usb-id VID:PID  the unit's IDs, when the program's are not (yet) right
#   --device NAME     also read the target's user ROM as device NAME (the
#                     target is only read, nothing is written or erased)
#   --cli PATH        the vrx4-cli to use (default: the one beside this
#                     script's build, else vrx4-cli on PATH)
# Nothing is sent to anyone; the archive is the user's to pass on.
set -u

usb_id=()
device=""
cli=""
while [ $# -gt 0 ]; do
  case "$1" in
    --usb-id) usb_id=(--usb-id "${2:?--usb-id needs VID:PID}"); shift 2 ;;
    --device) device=${2:?--device needs a device name}; shift 2 ;;
    --cli) cli=${2:?--cli needs a path}; shift 2 ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "usb-report.sh: unknown argument '$1' (--help shows the usage)" >&2; exit 2 ;;
  esac
done
if [ -z "$cli" ]; then
  here=$(cd "$(dirname "$0")/.." && pwd)
  if [ -x "$here/build/bin/vrx4-cli" ]; then cli="$here/build/bin/vrx4-cli"; else cli=vrx4-cli; fi
fi
command -v "$cli" >/dev/null 2>&1 || { echo "usb-report.sh: $cli not found (give --cli PATH)" >&2; exit 2; }

name="usb-report-$(date +%Y%m%d-%H%M%S)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir="$work/$name"
mkdir -p "$dir"
# Every command is bounded: a unit that does not answer cannot hold the report.
run() { timeout --kill-after=5 120 "$@"; }
say() { echo "usb-report: $*" >&2; }

say "programs and USB devices"
run "$cli" --version "${usb_id[@]}" >"$dir/version.txt" 2>&1
run "$cli" units --all "${usb_id[@]}" >"$dir/units-all.txt" 2>&1
ids=$(sed -n 's/^unit USB ID \([0-9a-f]\{4\}:[0-9a-f]\{4\}\).*/\1/p' "$dir/version.txt")
[ -n "$ids" ] || { say "vrx4-cli --version gave no USB IDs:"; cat "$dir/version.txt" >&2; exit 1; }

# The nodes of the devices with the unit's IDs, from the system's own list.
nodes=()
for d in /sys/bus/usb/devices/*; do
  [ -r "$d/idVendor" ] && [ -r "$d/idProduct" ] || continue
  [ "$(cat "$d/idVendor"):$(cat "$d/idProduct")" = "$ids" ] || continue
  nodes+=("$(printf '/dev/bus/usb/%03d/%03d' "$(cat "$d/busnum")" "$(cat "$d/devnum")")")
done
say "${#nodes[@]} device(s) with the IDs $ids"

if command -v lsusb >/dev/null 2>&1; then
  { run lsusb -v -d "$ids" 2>&1; echo; run lsusb -t 2>&1; } >"$dir/lsusb-v.txt"
else
  echo "lsusb is not installed (package usbutils)" >"$dir/lsusb-v.txt"
fi
{
  for node in "${nodes[@]}"; do
    echo "== $node"; ls -l "$node" 2>&1; getfacl -p "$node" 2>/dev/null
    command -v udevadm >/dev/null 2>&1 && run udevadm info -a -n "$node" 2>&1
  done
  echo "== rule files"
  ls -l /etc/udev/rules.d/60-vrx4.rules /usr/lib/udev/rules.d/60-vrx4.rules /lib/udev/rules.d/60-vrx4.rules 2>&1
  for f in /etc/udev/rules.d/60-vrx4.rules /usr/lib/udev/rules.d/60-vrx4.rules; do
    [ -r "$f" ] && { echo "-- $f"; cat "$f"; }
  done
} >"$dir/udev.txt"

# usbmon shows every packet on the unit's bus; it needs debugfs and usually
# root. Started as this script's own child and ended by its process id.
usbmon_pids=()
for node in "${nodes[@]}"; do
  bus=$((10#$(basename "$(dirname "$node")")))
  mon="/sys/kernel/debug/usb/usbmon/${bus}u"
  if [ -r "$mon" ]; then
    cat "$mon" >"$dir/usbmon-$bus.txt" &
    usbmon_pids+=($!)
  else
    echo "no usbmon capture: $mon cannot be read (as root: mount -t debugfs none /sys/kernel/debug; modprobe usbmon)" \
      >"$dir/usbmon-$bus.txt"
  fi
done

say "vrx4-cli info (libusb log level 4)"
LIBUSB_DEBUG=4 run "$cli" info "${usb_id[@]}" >"$dir/info.txt" 2>"$dir/info-libusb.log"
echo "exit status $?" >>"$dir/info.txt"
if [ -n "$device" ]; then
  say "vrx4-cli read --device $device (libusb log level 4)"
  LIBUSB_DEBUG=4 run "$cli" read --device "$device" -o "$dir/read.hex" "${usb_id[@]}" \
    >"$dir/read.txt" 2>"$dir/read-libusb.log"
  echo "exit status $?" >>"$dir/read.txt"
fi
for pid in "${usbmon_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done

# A recording the test harness replays: the device's description and the
# ioctls of one info run (see the manual, "First connection").
if command -v umockdev-record >/dev/null 2>&1 && [ ${#nodes[@]} -gt 0 ]; then
  say "umockdev-record of ${nodes[0]}"
  run umockdev-record "${nodes[0]}" >"$dir/unit.umockdev" 2>"$dir/umockdev-record.log"
  run umockdev-record --ioctl "${nodes[0]}=$dir/unit.ioctl" -- "$cli" info "${usb_id[@]}" \
    >"$dir/unit-info.txt" 2>>"$dir/umockdev-record.log"
else
  echo "no recording: umockdev-record is not installed (package umockdev) or no device has the IDs $ids" \
    >"$dir/umockdev-record.log"
fi

{
  uname -a
  [ -r /etc/os-release ] && cat /etc/os-release
  id
  for f in "${XDG_CONFIG_HOME:-$HOME/.config}/vrx4/unit.conf" /etc/vrx4/unit.conf; do
    [ -r "$f" ] && { echo "-- $f"; cat "$f"; }
  done
  echo "VRX4_USB_ID=${VRX4_USB_ID:-}"
} >"$dir/system.txt" 2>&1

tar -czf "$name.tar.gz" -C "$work" "$name"
say "wrote $(pwd)/$name.tar.gz"
