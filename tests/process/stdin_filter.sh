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
exit 0
