#!/usr/bin/env bash
# A script ended by an error prints the error's lines on stderr, the stack
# line included, and exits 1.
kel="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; exit 1; }

printf 'Kel []\nf: func [] [do make error! "x"]\nf\n' > "$dir/user.kel"
"$kel" "$dir/user.kel" >/dev/null 2>"$dir/err"; status=$?
[ "$status" -eq 1 ] || fail "user.kel exited with $status"
grep -qx '\*\*\* User Error: x' "$dir/err" || fail "user.kel stderr: $(cat "$dir/err")"
grep -q '^\*\*\* Stack: ' "$dir/err" || fail "no stack line: $(cat "$dir/err")"
exit 0
