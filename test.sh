#!/usr/bin/env bash
# Builds Kel under AddressSanitizer+UBSan, then again with the collector in torture
# mode, and runs the whole test suite in both.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
jobs=$(nproc)
for preset in asan torture; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
