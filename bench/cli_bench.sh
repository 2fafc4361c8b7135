#!/usr/bin/env bash
# Whole-process timings of vrx4-cli program with a 4 MiB image (DEMO-F4M):
#   1. on the simulated unit inside vrx4-cli with no busy time
#      (target: below 0.5 s and 64 MiB peak memory);
#   2. on one vrx4-unitsim process and as a gang of four
#      (target: the gang within 1.5 times the one unit).
#
#   bench/cli_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${2:-5}
cli=$build/bin/vrx4-cli
sim=$build/bin/vrx4-unitsim
timer=$build/bin/vrx4-proctime
for tool in "$cli" "$sim" "$timer"; do
  [ -x "$tool" ] || { echo "missing $tool (build vrx4-cli, vrx4-unitsim and vrx4-proctime)" >&2; exit 1; }
done
command -v srec_cat >/dev/null || { echo "missing srec_cat (Debian package srecord)" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

head -c 4194304 /dev/urandom >"$work/image.bin"
srec_cat "$work/image.bin" -binary -o "$work/image.hex" -intel -output-block-size=16
# --yes: random data may hold a protect setting at the protect address.
job=(program "$work/image.hex" --device DEMO-F4M --yes --quiet)

"$cli" "${job[@]}" --unit sim --sim-instant --sim-no-state || { echo "the job did not pass" >&2; exit 1; }
read -r t_sim m_sim < <("$timer" "$runs" "$work/none" -- "$cli" "${job[@]}" --unit sim --sim-instant --sim-no-state)

for i in 1 2 3 4; do
  "$sim" --socket "$work/u$i.sock" --instant --no-state 2>"$work/u$i.log" &
  pids+=($!)
done
for i in 1 2 3 4; do
  for _ in $(seq 100); do
    grep -q serving "$work/u$i.log" 2>/dev/null && break
    sleep 0.05
  done
done
units=()
for i in 1 2 3 4; do units+=(--unit "socket:$work/u$i.sock"); done
read -r t_one m_one < <("$timer" "$runs" "$work/none" -- "$cli" "${job[@]}" --unit "socket:$work/u1.sock")
read -r t_gang m_gang < <("$timer" "$runs" "$work/none" -- "$cli" "${job[@]}" "${units[@]}")

printf '%-44s %10s %10s\n' "vrx4-cli program, 4 MiB, median of $runs" "seconds" "peak KiB"
printf '%-44s %10s %10s\n' "in-process unit, no busy time" "$t_sim" "$m_sim"
printf '%-44s %10s %10s\n' "one vrx4-unitsim" "$t_one" "$m_one"
printf '%-44s %10s %10s\n' "gang of four vrx4-unitsim" "$t_gang" "$m_gang"
awk -v s="$t_sim" -v m="$m_sim" -v one="$t_one" -v gang="$t_gang" 'BEGIN {
  ok = 1
  if (s >= 0.5) { print "in-process: not below 0.5 s"; ok = 0 }
  if (m >= 65536) { print "in-process: not below 64 MiB"; ok = 0 }
  printf "gang / one unit: %.2f (target at most 1.5)\n", gang / one
  if (gang > 1.5 * one) { print "gang: above 1.5 times one unit"; ok = 0 }
  exit ok ? 0 : 1
}'
