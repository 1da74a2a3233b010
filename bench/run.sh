#!/usr/bin/env bash
# Builds the release kel, then runs every benchmark program in kel, python3 and
# lua5.4 alternately and prints the table of medians, ratios and peak memory.
# usage: bench/run.sh [RUNS]   (timed runs per interpreter and program, default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
missing=()
[ -x /usr/bin/lua5.4 ] || missing+=(lua5.4)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
cmake --preset release >/dev/null
cmake --build --preset release --target kel >/dev/null
exec /usr/bin/python3 bench/measure.py "$PWD/build/release/kel" "${1:-5}"
