#!/usr/bin/env bash
# The terminal console over a pipe and the script runs of the command line:
# the dialogue (banner, prompt, continuation cue, results, "(halted)"), script
# arguments, --catch and --, and the exit statuses.
kel="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; exit 1; }

# A typed expression prints its result after the banner and the prompt.
out=$(printf '1 + 2\n' | "$kel" --cli 2>&1); status=$?
[ "$status" -eq 0 ] || fail "console exited with $status"
[ "$(head -n 3 <<<"$out")" = $'--== Kel 0.1.0 ==--\nType HELP for starting information.' ] ||
  fail "banner: $out"
grep -qx '== 3' <<<"$out" || fail "1 + 2: $out"

# A block typed over three lines is evaluated once, when it is complete;
# halt ends a command with "(halted)" and no result.
out=$(printf 'length? [1\n2\n3]\nprint "a" halt print "b"\n' | "$kel" --cli 2>&1)
[ "$(grep -c '^== ' <<<"$out")" = 1 ] && grep -qx '== 3' <<<"$out" || fail "multi-line block: $out"
grep -qx '\[    ' <<<"$out" || fail "no continuation cue: $out"
grep -qx 'length? \[1' <<<"$out" && fail "the console echoed a line read from a pipe: $out"
grep -qx '(halted)' <<<"$out" && ! grep -qx 'b' <<<"$out" || fail "halt: $out"

# Scripts: arguments, statuses, stderr, a header that is missing.
printf 'Kel []\nprint mold system/options/args\nprint mold system/options/script\n' > "$dir/args.kel"
out=$("$kel" "$dir/args.kel" a "b c" 2>&1); status=$?
[ "$status" -eq 0 ] && [ "$out" = $'["a" "b c"]\n%'"$dir/args.kel" ] || fail "args ($status): $out"
printf 'Kel []\nprint "before"\ncase [true]\nprint "after"\n' > "$dir/bad.kel"
out=$("$kel" "$dir/bad.kel" 2>"$dir/err"); status=$?
[ "$status" -eq 1 ] && [ "$out" = before ] || fail "failing script ($status): $out"
grep -qx '\*\*\* Script Error: case needs a value' "$dir/err" || fail "failing script stderr: $(cat "$dir/err")"
# A preprocessor error is reported once, and the script fails.
printf 'Kel []\n#do [1 / 0]\nprint "after"\n' > "$dir/directive.kel"
out=$("$kel" "$dir/directive.kel" 2>"$dir/err"); status=$?
[ "$status" -eq 1 ] && [ "$(grep -c 'Preprocessor Error' <<<"$out")" = 1 ] && ! grep -q after <<<"$out" &&
  [ ! -s "$dir/err" ] || fail "preprocessor error ($status): $out; stderr: $(cat "$dir/err")"
printf 'Kel []\nquit/return 7\n' > "$dir/quit.kel"
"$kel" "$dir/quit.kel" </dev/null; status=$?
[ "$status" -eq 7 ] || fail "quit/return 7 exited with $status"
printf 'print 1\n' > "$dir/plain.kel"
"$kel" "$dir/plain.kel" >/dev/null 2>"$dir/err"; status=$?
[ "$status" -eq 1 ] && grep -qx '\*\*\* Error: Kel header not found!' "$dir/err" ||
  fail "headerless script ($status): $(cat "$dir/err")"
"$kel" "$dir/missing.kel" </dev/null >/dev/null 2>"$dir/err"; status=$?
[ "$status" -eq 1 ] && grep -q 'cannot open' "$dir/err" || fail "missing script ($status)"

# --catch keeps the console open after the script, without the banner, both
# before and after the script's name; -- takes the next argument as the script.
for args in "--catch $dir/bad.kel x" "$dir/bad.kel --catch x"; do
  out=$(printf 'system/options/args\n' | "$kel" $args 2>&1); status=$?
  [ "$status" -eq 0 ] || fail "--catch ($args) exited with $status"
  grep -q '^\*\*\* Script Error: case needs a value' <<<"$out" || fail "--catch ($args): $out"
  grep -qx '== \["x"\]' <<<"$out" && ! grep -q 'Kel 0.1.0' <<<"$out" || fail "--catch ($args): $out"
done
printf 'Kel []\nprint "dashed"\n' > "$dir/--dashed.kel"
out=$(cd "$dir" && "$kel" -- --dashed.kel </dev/null 2>&1); status=$?
[ "$status" -eq 0 ] && [ "$out" = dashed ] || fail "-- then a dashed name ($status): $out"
exit 0
