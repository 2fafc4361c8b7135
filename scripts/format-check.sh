#!/usr/bin/env bash
# Checks that every C++ file of the project is laid out as .clang-format
# says; prints the files that are not. With --fix rewrites them.
#
#   scripts/format-check.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  echo "format: clang-format not found" >&2
  exit 1
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
# One clang-format for all files; it names each line that differs.
if ! report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1); then
  grep -oE '^[^:]+:[0-9]+:[0-9]+: error' <<<"$report" | cut -d: -f1 | sort -u |
    sed 's/$/ differs from .clang-format (scripts\/format-check.sh --fix)/; s/^/format: /'
  exit 1
fi
echo "format: every file as .clang-format says"
