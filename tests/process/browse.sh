#!/usr/bin/env bash
# browse hands a URL or a file's local name to the desktop's opener, xdg-open,
# as one argument (no shell reads it) and does not wait for it; without an
# opener it raises access error cannot-open and the script goes on.
kel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
. "$(cd "$(dirname "$0")" && pwd)/../support/time.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; exit 1; }

# An opener that records its arguments, one per line, after its count.
mkdir "$dir/bin" "$dir/empty"
cat > "$dir/bin/xdg-open" <<SH
#!/bin/sh
printf '%s\n' "\$#" "\$@" > "$dir/opened.tmp"
mv "$dir/opened.tmp" "$dir/opened"
SH
chmod +x "$dir/bin/xdg-open"

# Waits for the opener's record and checks it against the expected lines.
expect_opened() {
    wait_until 5 test -e "$dir/opened" || fail "xdg-open was not started for $1"
    [ "$(cat "$dir/opened")" = "$(printf '1\n%s' "$1")" ] || fail "xdg-open got: $(cat "$dir/opened")"
    rm -f "$dir/opened"
}

cat > "$dir/url.kel" <<'KEL'
Kel []
print mold browse http://example.com/a?b=1&c=2|touch%20x%23y
KEL
out=$(cd "$dir" && PATH="$dir/bin:$PATH" "$kel" url.kel 2>&1) || fail "url.kel: $out"
[ "$out" = "unset" ] || fail "url.kel printed: $out"
# The URL arrives whole, as written: what must be escaped is, escapes stay.
expect_opened 'http://example.com/a?b=1&c=2%7Ctouch%20x%23y'

cat > "$dir/file.kel" <<'KEL'
Kel []
browse %"-odd name; touch y.txt"
KEL
out=$(cd "$dir" && PATH="$dir/bin:$PATH" "$kel" file.kel 2>&1) || fail "file.kel: $out"
expect_opened './-odd name; touch y.txt'
[ ! -e "$dir/y.txt" ] || fail "a shell read the file name"

cat > "$dir/none.kel" <<'KEL'
Kel []
e: try [browse http://example.com]
print [e/type e/id e/arg1]
print "goes on"
KEL
out=$(cd "$dir" && PATH="$dir/empty" "$kel" none.kel 2>&1) || fail "none.kel: $out"
[ "$out" = "$(printf 'access cannot-open http://example.com\ngoes on')" ] || fail "none.kel printed: $out"
exit 0
