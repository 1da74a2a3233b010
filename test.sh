#!/usr/bin/env bash
# Builds Kel under AddressSanitizer+UBSan and runs the whole test suite twice:
# as it is, then with the collector in torture mode (every allocation collects
# and moves every series), which is the same build run with KEL_GC_TORTURE=1.
# Then the fuzz targets run for a bounded time: the lexer's for FUZZ_SECONDS
# (default 60; 0 skips fuzzing), the inflate, Kelbin, JSON and CSV decoders'
# for a third of that each.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
jobs=$(nproc)
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
echo "== asan =="
ctest --preset asan -j "$jobs"
echo "== torture =="
KEL_GC_TORTURE=1 ctest --preset asan -j "$jobs" --timeout 600
seconds=${FUZZ_SECONDS:-60}
if [ "$seconds" -gt 0 ]; then
  echo "== fuzz: lexer (${seconds} s) =="
  scripts/fuzz.sh "$seconds" lexer_fuzz
  for target in inflate_fuzz kelbin_fuzz json_fuzz csv_fuzz; do
    echo "== fuzz: ${target%_fuzz} ($((seconds / 3)) s) =="
    scripts/fuzz.sh "$((seconds / 3))" "$target"
  done
fi
