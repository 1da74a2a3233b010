#!/usr/bin/env bash
# The source folders form layers, each including only itself and the folders
# below it. An `#include "folder/..."` that reaches a folder higher in the
# order fails this test.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root" || exit 1

ORDER="runtime core datatypes natives io library gui console program"

declare -A rank
i=0
for folder in $ORDER; do rank[$folder]=$i; i=$((i + 1)); done

status=0
# Every top folder with C++ sources of the product has its place in the order.
for dir in */; do
  dir=${dir%/}
  case $dir in tests|fuzz|bench|tools|build|scripts) continue ;; esac
  if [ -n "$(find "$dir" -name '*.cpp' -o -name '*.hpp' | head -1)" ] && [ -z "${rank[$dir]}" ]; then
    echo "folder $dir/ has C++ sources but no place in the layer order"
    status=1
  fi
done

for folder in $ORDER; do
  [ -d "$folder" ] || continue
  while IFS=: read -r file _ included; do
    target=${included%%/*}
    [ -n "${rank[$target]}" ] || continue
    if [ "${rank[$target]}" -gt "${rank[$folder]}" ]; then
      echo "$file includes $included: $target/ lies above $folder/"
      status=1
    fi
  done < <(grep -rnoE --include='*.cpp' --include='*.hpp' --include='*.inc' \
             '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_]+/[^"]+"' "$folder" |
           sed -E 's/^([^:]+):([0-9]+):.*"([^"]+)"$/\1:\2:\3/')
done

# The README states the same order.
stated=$(echo "$ORDER" | sed 's/ / < /g')
grep -qF "$stated." README.md || { echo "README.md does not state the order $stated"; status=1; }

[ $status -eq 0 ] && echo "layers: $stated"
exit $status
