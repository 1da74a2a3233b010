#!/usr/bin/env bash
# kel FILE runs the script: printed values on stdout, status 0; an error that
# ends the script is formed on stderr with status 1; a header's prelude runs
# first; a file without a Kel header is refused with status 1. A script whose
# last value is an error it caught ends with status 0.
kel="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; exit 1; }

printf 'Kel []\nprint 1 + 2\nprin "a"\nprint ["b" 4]\n' > "$dir/ok.kel"
out=$("$kel" "$dir/ok.kel" 2>"$dir/err"); status=$?
[ "$status" -eq 0 ] || fail "ok.kel exited with $status"
[ "$out" = $'3\nab 4' ] || fail "ok.kel printed: $out"
[ ! -s "$dir/err" ] || fail "ok.kel wrote to stderr: $(cat "$dir/err")"

printf 'Kel []\nprint "before"\ncase [true]\nprint "after"\n' > "$dir/bad.kel"
out=$("$kel" "$dir/bad.kel" 2>"$dir/err"); status=$?
[ "$status" -eq 1 ] || fail "bad.kel exited with $status"
[ "$out" = "before" ] || fail "bad.kel printed: $out"
grep -qx '\*\*\* Script Error: case needs a value' "$dir/err" || fail "bad.kel stderr: $(cat "$dir/err")"

printf 'Kel []\nprint "caught"\nx: try [1 / 0]\n' > "$dir/caught.kel"
out=$("$kel" "$dir/caught.kel" 2>"$dir/err"); status=$?
[ "$status" -eq 0 ] || fail "caught.kel exited with $status"
[ "$out" = "caught" ] || fail "caught.kel printed: $out"
[ ! -s "$dir/err" ] || fail "caught.kel wrote to stderr: $(cat "$dir/err")"

printf 'Kel []\nx: try [1 / 0]\ndo x\n' > "$dir/reraised.kel"
"$kel" "$dir/reraised.kel" >/dev/null 2>"$dir/err"; status=$?
[ "$status" -eq 1 ] || fail "reraised.kel exited with $status"
grep -q 'Math Error' "$dir/err" || fail "reraised.kel stderr: $(cat "$dir/err")"

mkdir "$dir/sub"
printf 'Kel [title: "lib"]\ngreeting: "hi"\n' > "$dir/lib.kel"
printf 'Kel [prelude: %%../lib.kel]\nprint greeting\n' > "$dir/sub/main.kel"
out=$("$kel" "$dir/sub/main.kel" 2>&1); status=$?
[ "$status" -eq 0 ] && [ "$out" = "hi" ] || fail "prelude: status $status, output: $out"

"$kel" "$dir/missing.kel" 2>/dev/null; status=$?
[ "$status" -eq 1 ] || fail "a missing script exited with $status"

printf 'print 1\n' > "$dir/bare.kel"
"$kel" "$dir/bare.kel" >/dev/null 2>"$dir/err"; status=$?
[ "$status" -eq 1 ] || fail "a script without a header exited with $status"
grep -qx '\*\*\* Error: Kel header not found!' "$dir/err" || fail "bare.kel stderr: $(cat "$dir/err")"
exit 0
