#!/usr/bin/env bash
# A script reading a pipe works as a filter: input and ask echo nothing of
# what they read and give none at the end of input, so a reading loop ends
# and the script goes on. ask's prompt is still written, on a line of its own.
kel="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; exit 1; }

printf 'Kel []\nwhile [line: input] [print uppercase line]\nprint "done"\n' > "$dir/upper.kel"
for input in $'one\ntwo\n' $'one\ntwo' ''; do
  expected=$(printf '%s' "$input" | tr a-z A-Z)
  out=$(printf '%s' "$input" | "$kel" "$dir/upper.kel" 2>&1); status=$?
  [ "$status" -eq 0 ] && [ "$out" = "${expected:+$expected$'\n'}done" ] ||
    fail "filter over $(printf '%q' "$input") ($status): $(printf '%q' "$out")"
done

printf 'Kel []\nname: ask "name? "\nprint ["hello" name]\nprint mold ask "again? "\n' > "$dir/ask.kel"
out=$(printf 'bob\n' | "$kel" "$dir/ask.kel" 2>&1); status=$?
[ "$status" -eq 0 ] && [ "$out" = $'name? \nhello bob\nagain? \nnone' ] ||
  fail "ask over a pipe ($status): $(printf '%q' "$out")"
# Every line comes through as the file has it, from a pipe and from a file:
# empty lines, a carriage return before the line feed, lines longer than a
# pipe holds, and a last line without its line feed.
printf 'Kel []\nwhile [line: input] [print line]\n' > "$dir/echo.kel"
python3 - "$dir/lines.txt" <<'PY'
import random, sys
random.seed(5)
with open(sys.argv[1], 'w', newline='') as f:
    for i in range(3000):
        f.write('line %d %s%s\n' % (i, 'é' * random.randint(0, 40), '\r' if i % 7 == 0 else ''))
        if i % 500 == 0: f.write('\n' + 'x' * (200000 + i) + '\n')
    f.write('last')
PY
tr -d '\r' < "$dir/lines.txt" > "$dir/expected.txt"; echo >> "$dir/expected.txt"
cat "$dir/lines.txt" | "$kel" "$dir/echo.kel" > "$dir/piped.txt" 2>&1 || fail "echo over a pipe failed"
cmp -s "$dir/piped.txt" "$dir/expected.txt" || fail "lines read from a pipe differ from the file"
"$kel" "$dir/echo.kel" < "$dir/lines.txt" > "$dir/redirected.txt" 2>&1 || fail "echo from a file failed"
cmp -s "$dir/redirected.txt" "$dir/expected.txt" || fail "lines read from a file differ from the file"

# What input did not take stays in standard input for a child process.
printf 'Kel []\nprint input print input\nout: copy ""\ncall/wait/output "cat" out\nprin out\n' > "$dir/child.kel"
printf 'one\ntwo\nthree\nfour\n' > "$dir/four.txt"
out=$(cat "$dir/four.txt" | "$kel" "$dir/child.kel" 2>&1)
[ "$out" = $'one\ntwo\nthree\nfour' ] || fail "a child after input over a pipe: $(printf '%q' "$out")"
out=$("$kel" "$dir/child.kel" < "$dir/four.txt" 2>&1)
[ "$out" = $'one\ntwo\nthree\nfour' ] || fail "a child after input from a file: $(printf '%q' "$out")"
exit 0
