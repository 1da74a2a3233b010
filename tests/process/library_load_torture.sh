#!/usr/bin/env bash
# The library's load at start, collected through at every allocation: in the
# torture pass of the suite (KEL_GC_TORTURE set) this one run tortures start-up
# itself, which the other runs skip; otherwise the same script runs plainly.
# The script's own skip shows that the library's words were sealed.
kel="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'Kel []\nskip: 0\nprint [length? words-of system/view 1 + 2 mold split "a,b" ","]\n' > "$dir/s.kel"
if [ -n "${KEL_GC_TORTURE:-}" ]; then export KEL_GC_TORTURE=start; fi
out=$("$kel" "$dir/s.kel" 2>&1); status=$?
[ "$status" -eq 0 ] && [ "$out" = '16 3 ["a" "b"]' ] || { echo "status $status: $out"; exit 1; }
