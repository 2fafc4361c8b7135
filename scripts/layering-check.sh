#!/usr/bin/env bash
# Checks that every include of the program's code points down: a folder
# includes only from the folders on lower floors, never from its own floor's
# neighbours or from above.
#
#   base/ <- link/ <- image/, settings/ <- app/ <- sim/, view/ <- cli/, programs/
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A floor=([base]=0 [link]=1 [image]=2 [settings]=2 [app]=3 [sim]=4 [view]=4 [cli]=5 [programs]=5)
status=0
for dir in "${!floor[@]}"; do
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([a-z]+)\/.*/\1/' <<<"$text")
    [ -n "${floor[$target]+set}" ] || continue
    if [ "$target" != "$dir" ] && [ "${floor[$target]}" -ge "${floor[$dir]}" ]; then
      echo "$file:$line: $dir/ includes $target/, which is not below it"
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z]+/' "$dir" --include='*.cpp' --include='*.h' || true)
done
[ $status -eq 0 ] && echo "layering: every include points down"
exit $status
