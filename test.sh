#!/usr/bin/env bash
# Builds Kel under AddressSanitizer+UBSan and runs the whole test suite twice:
# as it is, then with the collector in torture mode (every allocation collects
# and moves every series), which is the same build run with KEL_GC_TORTURE=1.
# The torture pass leaves out the tests labelled once (screen tests, and codec
# checks on large inputs, whose Kel paths other tests already torture; see the
# README). Then the fuzz targets
# run for a bounded time: the lexer's for FUZZ_SECONDS (default 60; 0 skips
# fuzzing), the other targets for a third of that each.
#
# Per-test time limits are 300 s in the plain pass and 900 s in the torture
# pass, times KEL_TEST_TIME_SCALE and the machine's load per core (as the
# tests' own deadlines, tests/support/time.sh). With KEL_TEST_REQUIRE_ALL=1
# (as CI runs it) a test that was skipped or not run fails the run.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
jobs=$(nproc)
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
. tests/support/time.sh
scale=$(KEL_GC_TORTURE='' KEL_TEST_SANITIZED='' test_time_scale)
logs=build/asan/test-logs
mkdir -p "$logs"

# Runs ctest with the arguments, its output also in the log file; fails when
# a test fails, or, with KEL_TEST_REQUIRE_ALL set, when one did not run.
run_ctest() {
    local log="$1"
    shift
    ctest --preset asan -j "$jobs" "$@" 2>&1 | tee "$log"
    if [ -n "${KEL_TEST_REQUIRE_ALL:-}" ] && grep -q -E '\((Skipped|Not Run|Disabled)\)' "$log"; then
        echo "tests that did not run (every tool they need is installed in CI):"
        grep -E '\((Skipped|Not Run|Disabled)\)' "$log"
        return 1
    fi
}

echo "== asan =="
run_ctest "$logs/asan.log" --timeout $((300 * scale))
echo "== torture =="
# CTest starts a parallel run's costliest tests first, by the costs it keeps
# in CTestCostData.txt. After the plain pass those are the plain costs, under
# which the tests torture slows most would start last and run on alone at the
# end. The torture pass therefore runs with torture costs: those this build
# learned in its last torture pass, else tests/torture-costs.txt (measured
# once), and the plain costs come back afterwards.
costs=build/asan/Testing/Temporary/CTestCostData.txt
learned=build/asan/torture-costs.txt
[ -f "$costs" ] && cp "$costs" "$logs/plain-costs.txt"
if [ -f "$learned" ]; then cp "$learned" "$costs"; else cp tests/torture-costs.txt "$costs"; fi
status=0
KEL_GC_TORTURE=1 run_ctest "$logs/torture.log" -LE '^once$' --timeout $((900 * scale)) || status=$?
cp "$costs" "$learned"
[ -f "$logs/plain-costs.txt" ] && cp "$logs/plain-costs.txt" "$costs"
[ "$status" -eq 0 ] || exit "$status"
seconds=${FUZZ_SECONDS:-60}
if [ "$seconds" -gt 0 ]; then
  echo "== fuzz: lexer (${seconds} s) =="
  scripts/fuzz.sh "$seconds" lexer_fuzz
  for target in inflate_fuzz kelbin_fuzz kelbin_roundtrip_fuzz json_fuzz csv_fuzz; do
    echo "== fuzz: ${target%_fuzz} ($((seconds / 3)) s) =="
    scripts/fuzz.sh "$((seconds / 3))" "$target"
  done
fi
