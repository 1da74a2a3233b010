#!/usr/bin/env bash
# Builds the release kel and runs every bench/scaling*.kel program with it.
# Each prints "name  t(n)  t(8n)  ratio" per case and exits with status 1 when
# a ratio is above its limit; this script fails when any of them does.
# usage: bench/scaling.sh [divisor]   (divides every size, for a quick run)
set -uo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null || exit 2
cmake --build --preset release --target kel >/dev/null || exit 2
status=0
for program in bench/scaling*.kel; do
  echo "== $program"
  "$PWD/build/release/kel" "$program" "$@" || status=1
done
exit $status
