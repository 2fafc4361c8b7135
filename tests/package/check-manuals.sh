#!/bin/sh
# Each manual is a PDF that pdfinfo reads, on A4, with more than one page,
# with its fonts embedded and its text really there (the Japanese one in
# Japanese, not in boxes of a missing font).
set -eu
command -v pdfinfo >/dev/null || { echo "pdfinfo (poppler-utils) is not installed: skipped"; exit 77; }
for pdf in "$@"; do
  [ -f "$pdf" ] || { echo "missing: $pdf"; exit 1; }
  info=$(pdfinfo "$pdf") || { echo "not a PDF pdfinfo can read: $pdf"; exit 1; }
  pages=$(printf '%s\n' "$info" | sed -n 's/^Pages: *//p')
  size=$(printf '%s\n' "$info" | sed -n 's/^Page size: *//p')
  echo "$pdf: $pages pages, $size"
  [ "${pages:-0}" -gt 1 ] || { echo "only ${pages:-0} page(s)"; exit 1; }
  case "$size" in *"(A4)"*) ;; *) echo "not A4"; exit 1 ;; esac
  text=$(pdftotext -l 2 "$pdf" - 2>/dev/null)
  case "$text" in *T552-VRX4*) ;; *) echo "no text on the first pages"; exit 1 ;; esac
  case "$pdf" in *mj.pdf)
    case "$text" in *インストール*) ;; *) echo "no Japanese text"; exit 1 ;; esac ;;
  esac
  if pdffonts "$pdf" | tail -n +3 | awk '$(NF-4) != "yes" { bad = 1 } END { exit !bad }'; then
    echo "a font is not embedded:"; pdffonts "$pdf"; exit 1
  fi
done
