#!/usr/bin/env bash
# Converts a 4 MiB random image between Intel HEX and S-records with
# vrx4-cli, objcopy and srec_cat, timed as whole processes side by side, and
# prints vrx4-cli's time as a share of objcopy's for each direction.
# Target: at most 0.25 of objcopy's time, peak memory below 32 MiB.
#
#   bench/convert_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${2:-9}
cli=$build/bin/vrx4-cli
timer=$build/bin/vrx4-proctime
for tool in "$cli" "$timer"; do
  [ -x "$tool" ] || { echo "missing $tool (build the targets vrx4-cli and vrx4-proctime)" >&2; exit 1; }
done
for tool in objcopy srec_cat; do
  command -v "$tool" >/dev/null || { echo "missing $tool (Debian packages binutils and srecord)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 4194304 /dev/urandom >"$work/image.bin"
# Intel HEX with 16-byte records (extended linear addresses) from srec_cat,
# S-records (S2, 16 bytes each) from objcopy.
srec_cat "$work/image.bin" -binary -o "$work/image.hex" -intel -output-block-size=16
objcopy -I binary -O srec "$work/image.bin" "$work/image.mot"

# Every tool must give back the image it was given.
check() {  # file format
  objcopy -I "$2" -O binary --gap-fill 0xFF "$1" "$work/back.bin"
  cmp -s "$work/back.bin" "$work/image.bin" || { echo "$1 does not hold the image" >&2; exit 1; }
}
"$cli" convert "$work/image.hex" "$work/check.mot"
check "$work/check.mot" srec
"$cli" convert "$work/image.mot" "$work/check.h86"
# The HEX writer marks 64 KiB banks above 1 MiB with type FF records, which
# objcopy does not read; read it back with vrx4-cli itself.
"$cli" convert "$work/check.h86" "$work/check2.mot"
check "$work/check2.mot" srec

measure() {  # output command...  -> "seconds peak_kib" of one run
  local out=$1
  shift
  "$timer" 1 "$out" -- "$@"
}

# Median of the first column and largest second column of "t m" lines.
summarize() {
  sort -n | awk '{ t[NR] = $1; if ($2 > m) m = $2 } END { printf "%s %d\n", t[int((NR + 1) / 2)], m }'
}

printf '%-36s %10s %10s\n' "4 MiB image, median of $runs runs" "seconds" "peak KiB"
status=0
for dir in hex-to-srec srec-to-hex; do
  if [ $dir = hex-to-srec ]; then
    in=$work/image.hex; out=$work/out.mot; iformat=ihex; oformat=srec; sin=-intel; sout=-motorola
  else
    in=$work/image.mot; out=$work/out.hex; iformat=srec; oformat=ihex; sin=-motorola; sout=-intel
  fi
  # The tools take turns, run by run, so that a change in the machine's
  # load falls on all of them alike.
  : >"$work/t.cli"; : >"$work/t.objcopy"; : >"$work/t.srec_cat"
  for ((i = 0; i < runs; i++)); do
    measure "$out" "$cli" convert "$in" "$out" >>"$work/t.cli"
    measure "$out" objcopy -I $iformat -O $oformat "$in" "$out" >>"$work/t.objcopy"
    measure "$out" srec_cat "$in" $sin -o "$out" $sout >>"$work/t.srec_cat"
  done
  read -r tc mc < <(summarize <"$work/t.cli")
  read -r to mo < <(summarize <"$work/t.objcopy")
  read -r ts ms < <(summarize <"$work/t.srec_cat")
  printf '%-36s %10s %10s\n' "vrx4-cli convert ($dir)" "$tc" "$mc"
  printf '%-36s %10s %10s\n' "objcopy ($dir)" "$to" "$mo"
  printf '%-36s %10s %10s\n' "srec_cat ($dir)" "$ts" "$ms"
  ratio=$(awk -v a="$tc" -v b="$to" 'BEGIN { printf "%.3f", a / b }')
  ratio2=$(awk -v a="$tc" -v b="$ts" 'BEGIN { printf "%.3f", a / b }')
  verdict=met
  awk -v r="$ratio" -v m="$mc" 'BEGIN { exit !(r <= 0.25 && m < 32768) }' || { verdict=MISSED; status=1; }
  echo "ratio vrx4-cli/objcopy ($dir): $ratio  (vrx4-cli/srec_cat $ratio2), peak $mc KiB: target $verdict"
done
exit $status
