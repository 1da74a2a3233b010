#!/usr/bin/env bash
# call: a child's output and error that are not redirected go to /dev/null,
# not to kel's own streams; its input is kel's own standard input; a child
# started without waiting runs on after kel's call returns; a command line is
# split into words as the shell splits them, and the child's status returned.
kel="$1"
. "$(cd "$(dirname "$0")" && pwd)/../support/time.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; exit 1; }

cat > "$dir/quiet.kel" <<KEL
Kel []
call/wait/shell "echo leaked; echo leaked >&2"
print call/wait/shell {read line; test "\$line" = fed}
KEL
out=$(echo fed | "$kel" "$dir/quiet.kel" 2>"$dir/err"); status=$?
[ "$status" -eq 0 ] || fail "quiet.kel exited with $status: $(cat "$dir/err")"
[ "$out" = "0" ] || fail "quiet.kel printed: $out"
[ ! -s "$dir/err" ] || fail "quiet.kel wrote to stderr: $(cat "$dir/err")"

cat > "$dir/detached.kel" <<KEL
Kel []
print integer? call/shell "sleep 0.2; touch $dir/ran"
KEL
out=$("$kel" "$dir/detached.kel" 2>&1); status=$?
[ "$status" -eq 0 ] && [ "$out" = "true" ] || fail "detached.kel: status $status, output: $out"
wait_until 5 test -e "$dir/ran" || fail "the child started without waiting did not run"

cat > "$dir/words.kel" <<'KEL'
Kel []
print call/wait "sh -c 'exit 3'"
out: copy ""
call/wait/output {printf '%s|' 'a b' "c\"d" e\ f ''} out
print out
print select try [call/wait "echo 'open"] 'id
KEL
out=$("$kel" "$dir/words.kel" 2>&1); status=$?
[ "$status" -eq 0 ] || fail "words.kel exited with $status: $out"
[ "$out" = $'3\na b|c"d|e f||\ninvalid-arg' ] || fail "words.kel printed: $out"
exit 0
