#!/usr/bin/env bash
# compress and decompress against other implementations of the formats: gzip
# reads our gzip output and we read its output (with and without a stored
# file name, fast and best levels, several members in one file); python3's
# zlib reads our zlib and raw DEFLATE output and we read its output at levels
# 0, 1, 6 and 9. A missing tool skips its half with a message.
# torture: once (it checks the codecs on large inputs against outside tools;
# the Kel tests torture the same code paths on inputs small enough that a
# collection at every allocation costs seconds, not many minutes)
kel="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; exit 1; }

# Text with near and far repeats around 60 KB of random bytes.
{ seq 1 20000; head -c 60000 /dev/urandom; seq 1 20000; printf 'tail \xe2\x88\x91'; } > "$dir/data"

# Runs Kel code with the scratch folder as the current directory.
kel_run() {
    printf 'Kel []\nchange-dir %%%s/\n%s\n' "$dir" "$1" > "$dir/run.kel"
    "$kel" "$dir/run.kel" || fail "kel failed on: $1"
}

kel_run "data: read/binary %data
foreach method [gzip zlib deflate] [
    write/binary append copy %ours. form method compress data method
]"

have_gzip=0; command -v gzip >/dev/null && have_gzip=1
have_python=0; command -v python3 >/dev/null && python3 -c 'import zlib' 2>/dev/null && have_python=1

if [ "$have_gzip" = 1 ]; then
    gzip -d -c < "$dir/ours.gzip" > "$dir/gunzipped" || fail "gzip -d refused our gzip output"
    cmp -s "$dir/data" "$dir/gunzipped" || fail "gzip -d of our output differs from the data"
    gzip -c "$dir/data" > "$dir/theirs.named.gz"
    gzip -c -n -1 < "$dir/data" > "$dir/theirs.fast.gz"
    gzip -c -9 < "$dir/data" > "$dir/theirs.best.gz"
    kel_run "foreach name [%theirs.named.gz %theirs.fast.gz %theirs.best.gz] [
        write/binary append copy name %.out decompress read/binary name 'gzip
    ]"
    for name in named fast best; do
        cmp -s "$dir/data" "$dir/theirs.$name.gz.out" || fail "our decompress of gzip -c ($name) differs"
    done
    # Files of several members: gzip -c of two files, and two gzip files
    # joined; gzip -d gives the expected bytes.
    printf 'second part\n' > "$dir/part2"
    gzip -c "$dir/data" "$dir/part2" > "$dir/theirs.two.gz"
    cat "$dir/theirs.fast.gz" "$dir/theirs.two.gz" > "$dir/theirs.joined.gz"
    kel_run "foreach name [%theirs.two.gz %theirs.joined.gz] [
        write/binary append copy name %.out decompress read/binary name 'gzip
    ]"
    for name in two joined; do
        gzip -d -c < "$dir/theirs.$name.gz" > "$dir/theirs.$name.expected"
        cmp -s "$dir/theirs.$name.expected" "$dir/theirs.$name.gz.out" \
            || fail "our decompress of a gzip file of several members ($name) differs"
    done
else
    echo "skipped the gzip half: gzip is not installed"
fi

if [ "$have_python" = 1 ]; then
    python3 - "$dir" <<'PY' || fail "python3 zlib check failed"
import sys, zlib
d = sys.argv[1]
data = open(d + "/data", "rb").read()
assert zlib.decompress(open(d + "/ours.zlib", "rb").read()) == data, "our zlib output"
assert zlib.decompress(open(d + "/ours.deflate", "rb").read(), -15) == data, "our raw DEFLATE output"
for level in (0, 1, 6, 9):
    open("%s/theirs.%d.zlib" % (d, level), "wb").write(zlib.compress(data, level))
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    open("%s/theirs.%d.deflate" % (d, level), "wb").write(c.compress(data) + c.flush())
PY
    kel_run "foreach level [0 1 6 9] [
        foreach method [zlib deflate] [
            name: append append append copy %theirs. form level %. form method
            write/binary append copy name %.out decompress read/binary name method
        ]
    ]"
    for level in 0 1 6 9; do
        for method in zlib deflate; do
            cmp -s "$dir/data" "$dir/theirs.$level.$method.out" \
                || fail "our decompress of python3 zlib level $level ($method) differs"
        done
    done
else
    echo "skipped the zlib half: python3 with zlib is not available"
fi
exit 0
