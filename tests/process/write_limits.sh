#!/usr/bin/env bash
# A write or save that fails midway (a file-size limit standing in for a full
# disk) raises access error cannot-open and leaves the old file whole, with no
# temporary file beside it; an append that fails keeps what was there.
kel="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; exit 1; }

printf 'old' > "$dir/data.txt"
cat > "$dir/full.kel" <<KEL
Kel []
big: append/dup copy "" "x" 200000
print mold reduce [
    select try [write %$dir/data.txt big] 'id
    select try [save %$dir/data.txt reduce [big]] 'id
    select try [write/lines %$dir/data.txt reduce ["a" big]] 'id
    select try [write/append %$dir/data.txt big] 'id
]
KEL
# ulimit -f counts blocks of 1,024 bytes: 64 KiB, well short of 200,000 bytes.
out=$(ulimit -f 64; "$kel" "$dir/full.kel" 2>&1); status=$?
[ "$status" -eq 0 ] || fail "full.kel exited with $status: $out"
[ "$out" = "[cannot-open cannot-open cannot-open cannot-open]" ] || fail "full.kel printed: $out"
head -c 3 "$dir/data.txt" | grep -qx old || fail "the old content was lost: $(head -c 20 "$dir/data.txt")"
left=$(ls "$dir" | tr '\n' ' ')
[ "$left" = "data.txt full.kel " ] || fail "files left behind: $left"
exit 0
