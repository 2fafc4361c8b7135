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
status=0
for f in "${files[@]}"; do
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "format: $f differs from .clang-format (scripts/format-check.sh --fix)"
    status=1
  fi
done
[ $status -eq 0 ] && echo "format: every file as .clang-format says"
exit $status
