#!/usr/bin/env bash
# Builds the release kel, then runs every benchmark program in kel, python3 and
# lua5.4 alternately and prints the table of medians, ratios and peak memory.
# usage: bench/run.sh [RUNS] [--instructions]
#   RUNS: timed runs per interpreter and program, default 5
#   --instructions: also count each program's instructions once under
#   callgrind (valgrind is installed when missing), which a busy machine
#   does not change
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
missing=()
[ -x /usr/bin/lua5.4 ] || missing+=(lua5.4)
[ -x /usr/bin/time ] || missing+=(time)
runs=5
count=()
for a in "$@"; do
  case "$a" in
    --instructions) count=(--instructions); command -v valgrind >/dev/null || missing+=(valgrind) ;;
    *) runs=$a ;;
  esac
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
cmake --preset release >/dev/null
cmake --build --preset release --target kel >/dev/null
exec /usr/bin/python3 bench/measure.py "$PWD/build/release/kel" "$runs" "${count[@]}"
