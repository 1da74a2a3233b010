#!/usr/bin/env bash
# The debugger reads its commands at "debug> " from standard input (which,
# being a pipe, echoes nothing read): an empty line steps, "c" runs on
# without stopping, "q" halts the script; commands typed while debugging do
# not stay in the console history.
kel="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; exit 1; }

cat > "$dir/step.kel" <<'KEL'
Kel []
before: length? system/console/history
debug [x: 1 + 2]
print ["x" x]
print ["history" (length? system/console/history) - before]
KEL
out=$(printf '\ns\nc\n' | "$kel" "$dir/step.kel" 2>&1); status=$?
[ "$status" -eq 0 ] || fail "step.kel exited with $status: $out"
expected='-----> EVAL x:
Input: x: 1 + 2

Stack: x:

debug> 
-----> EVAL 1
Input: 1 + 2

Stack: x:

debug> 

Stack: x:

debug> 
x 3
history 0'
[ "$out" = "$expected" ] || fail "step.kel printed: $out"

# With no input left to read the steps from, the script runs on.
out=$("$kel" "$dir/step.kel" </dev/null 2>&1); status=$?
[ "$status" -eq 0 ] && grep -qx 'x 3' <<<"$out" || fail "step.kel without input ($status): $out"

cat > "$dir/quit.kel" <<'KEL'
Kel []
debug [print "one" print "two"]
print "not reached"
KEL
out=$(printf 'q\n' | "$kel" "$dir/quit.kel" 2>&1)
! grep -qx 'one\|not reached' <<<"$out" || fail "quit.kel ran on: $out"
grep -q '^debug> $' <<<"$out" || fail "quit.kel printed: $out"
exit 0
