#!/usr/bin/env bash
# The source folders form layers, each including only itself and the folders
# below it. An `#include "folder/..."` that reaches a folder higher in the
# order fails this test, unless it is one of the known exceptions listed in
# layers_exceptions.txt (each line: including file, then included file). A
# listed exception that no longer exists fails too, so the list only shrinks.
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

exceptions="$root/tests/process/layers_exceptions.txt"
declare -A known seen
while read -r from to; do
  [ -z "$from" ] || [ "${from:0:1}" = "#" ] && continue
  known["$from $to"]=1
done < "$exceptions"

for folder in $ORDER; do
  [ -d "$folder" ] || continue
  while IFS=: read -r file _ included; do
    target=${included%%/*}
    [ -n "${rank[$target]}" ] || continue
    if [ "${rank[$target]}" -gt "${rank[$folder]}" ]; then
      if [ -n "${known["$file $included"]}" ]; then
        seen["$file $included"]=1
      else
        echo "$file includes $included: $target/ lies above $folder/"
        status=1
      fi
    fi
  done < <(grep -rnoE --include='*.cpp' --include='*.hpp' --include='*.inc' \
             '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_]+/[^"]+"' "$folder" |
           sed -E 's/^([^:]+):([0-9]+):.*"([^"]+)"$/\1:\2:\3/')
done

for pair in "${!known[@]}"; do
  [ -n "${seen[$pair]}" ] || { echo "listed exception no longer found: $pair"; status=1; }
done

# The README states the same order.
stated=$(echo "$ORDER" | sed 's/ / < /g')
grep -qF "$stated." README.md || { echo "README.md does not state the order $stated"; status=1; }

[ $status -eq 0 ] && echo "layers: $stated"
exit $status
