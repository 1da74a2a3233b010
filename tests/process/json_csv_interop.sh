#!/usr/bin/env bash
# JSON and CSV against python3's json and csv modules, both ways: python3
# writes a table of values, we load each one and write it back, and python3
# checks that what we wrote parses to the same values; we also encode a table
# of our own values and python3 checks its decoding of them. The table covers
# escapes (short, \u and surrogate pairs), raw UTF-8, nesting, numbers and
# empty containers; for CSV, quoting, embedded line feeds, carriage returns,
# delimiters and quote characters, with the default and other dialects.
# Without python3 the test reports itself skipped.
# torture: once (it checks the codecs on large inputs against outside tools;
# the Kel tests torture the same code paths on inputs small enough that a
# collection at every allocation costs seconds, not many minutes)
kel="$1"
. "$(cd "$(dirname "$0")" && pwd)/../support/time.sh"
if ! command -v python3 >/dev/null || ! python3 -c 'import json, csv' 2>/dev/null; then
    test_skip "python3 with json and csv is absent"
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; exit 1; }

# Runs Kel code with the scratch folder as the current directory.
kel_run() {
    printf 'Kel []\nchange-dir %%%s/\n%s\n' "$dir" "$1" > "$dir/run.kel"
    "$kel" "$dir/run.kel" || fail "kel failed on: $1"
}

# ---- JSON ---------------------------------------------------------------------------------

python3 - "$dir" <<'EOF' || fail "python3 could not write the JSON table"
import json, sys
d = sys.argv[1]
values = [
    {"name": "x", "1st": [1, -2, 3.5, -0.25, 1e-07, 1.5e+300], "a b": {}, "e": []},
    ["plain", "quote \" back \\ slash /", "ctl \b\f\n\r\t \u0001 \u001f", "é ü ß", "😀 𝄞 \U0010FFFF"],
    [[[[]]], {"deep": {"deeper": [None, True, False]}}],
    {"": "empty key", "ключ": "значение", "x:y": 0},
    0, -1, 2147483647, 0.5, "", None, True,
]
with open(f"{d}/count", "w") as f:
    f.write(str(len(values)))
for i, v in enumerate(values):
    with open(f"{d}/theirs-{i}.json", "w", encoding="utf-8") as f:
        json.dump(v, f, ensure_ascii=(i % 2 == 0))
    with open(f"{d}/pretty-{i}.json", "w", encoding="utf-8") as f:
        json.dump(v, f, ensure_ascii=False, indent=2)
EOF
count=$(cat "$dir/count")

kel_run "repeat i $count [
    foreach kind [%theirs- %pretty-] [
        text: read append append copy kind i - 1 %.json
        value: load-json text
        if error? :value [print [kind i - 1 value/arg1] quit/return 1]
        write append append copy %ours- kind i - 1 to-json :value
        write append append copy %ascii- kind i - 1 to-json/ascii :value
        write append append copy %indented- kind i - 1 to-json/pretty :value {  }
    ]
]"

python3 - "$dir" "$count" <<'EOF' || fail "python3 disagrees with our JSON"
import json, sys
d, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    for kind in ("theirs-", "pretty-"):
        expected = json.load(open(f"{d}/{kind}{i}.json", encoding="utf-8"))
        for ours in ("ours-", "ascii-", "indented-"):
            path = f"{d}/{ours}{kind}{i}"
            raw = open(path, "rb").read()
            if ours == "ascii-" and any(b > 127 for b in raw):
                sys.exit(f"{path}: /ascii output holds non-ASCII bytes")
            got = json.loads(raw.decode("utf-8"))
            if got != expected:
                sys.exit(f"{path}: {got!r} != {expected!r}")
EOF

# Values of our own, encoded by us and decoded by python3.
kel_run 'write %kel-values.json to-json reduce [
    none true false 0 -7 2.5 50% "a/b" {q"b\} "tab^-nl^/" "^(01)^(1F)" "é😀"
    [] make map! [] make map! [a 1 "b c" [2 [3]]] make object! [x: "y"]
    %file.txt (quote (1 2))
]
write %kel-ascii.json to-json/ascii "é😀^(7F)"'

python3 - "$dir" <<'EOF' || fail "python3 decodes our values differently"
import json, sys
d = sys.argv[1]
got = json.load(open(f"{d}/kel-values.json", encoding="utf-8"))
expected = [None, True, False, 0, -7, 2.5, 0.5, "a/b", 'q"b\\', "tab\tnl\n", "\x01\x1f", "é😀",
            [], {}, {"a": 1, "b c": [2, [3]]}, {"x": "y"}, "file.txt", [1, 2]]
if got != expected:
    sys.exit(f"{got!r} != {expected!r}")
raw = open(f"{d}/kel-ascii.json", "rb").read()
if raw != b'"\\u00E9\\uD83D\\uDE00\x7f"' or json.loads(raw) != "é😀\x7f":
    sys.exit(f"ascii output {raw!r}")
EOF

# ---- floats -------------------------------------------------------------------------------
# Random doubles (any bit pattern, and short decimals such as prices) must
# come back exactly through load-json and to-json, compact and pretty, and
# through to-csv and save.

python3 - "$dir" <<'EOF' || fail "python3 could not write the floats"
import json, math, random, struct, sys
d = sys.argv[1]
rng = random.Random(28)
values = []
while len(values) < 1000:
    if len(values) % 2:
        values.append(round(rng.uniform(-1000, 1000), rng.randint(0, 4)))
    else:
        v = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]
        if math.isfinite(v):
            values.append(v)
with open(f"{d}/floats.json", "w") as f:
    json.dump(values, f)
EOF

kel_run 'floats: load-json read %floats.json
write %floats-compact.json to-json floats
write %floats-pretty.json to-json/pretty floats "  "
rows: make block! length? floats
foreach v floats [append/only rows reduce [v]]
write %floats.csv to-csv rows
save %floats.txt floats'

python3 - "$dir" <<'EOF' || fail "floats changed on the way through"
import csv, json, sys
d = sys.argv[1]
expected = json.load(open(f"{d}/floats.json"))
def same(name, got):
    changed = [(e, g) for e, g in zip(expected, got) if e != g or str(e) != str(g)]
    if len(got) != len(expected) or changed:
        sys.exit(f"{name}: {len(changed)} of {len(expected)} changed, first {changed[:3]}")
for name in ("floats-compact.json", "floats-pretty.json"):
    same(name, json.load(open(f"{d}/{name}")))
same("floats.csv", [float(row[0]) for row in csv.reader(open(f"{d}/floats.csv", newline=""))])
same("floats.txt", [float(t) for t in open(f"{d}/floats.txt").read().split()])
EOF

# ---- CSV ----------------------------------------------------------------------------------

python3 - "$dir" <<'EOF' || fail "python3 could not write the CSV files"
import csv, sys
d = sys.argv[1]
rows = [
    ["plain", "with space", "comma, inside", 'quote " inside'],
    ["line\nfeed", "crlf\r\ninside", "cr\ronly", ""],
    ["é", "😀", " lead", "trail "],
    ["", "", "", "x"],
    ["semi;colon", "it's", "'single'", '""'],
]
with open(f"{d}/rows.txt", "w", encoding="utf-8") as f:
    f.write(repr(rows))
with open(f"{d}/theirs.csv", "w", encoding="utf-8", newline="") as f:
    csv.writer(f).writerows(rows)
with open(f"{d}/theirs-lf.csv", "w", encoding="utf-8", newline="") as f:
    csv.writer(f, lineterminator="\n", quoting=csv.QUOTE_ALL).writerows(rows)
with open(f"{d}/theirs-semi.csv", "w", encoding="utf-8", newline="") as f:
    csv.writer(f, delimiter=";", quotechar="'").writerows(rows)
EOF

kel_run "foreach name [%theirs.csv %theirs-lf.csv] [
    rows: load-csv read name
    if error? rows [print [name rows/arg1] quit/return 1]
    write append copy %ours- name to-csv rows
]
rows: load-csv/with/quote read %theirs-semi.csv #\";\" #\"'\"
if error? rows [print rows/arg1 quit/return 1]
write %ours-theirs-semi.csv to-csv/with/quote rows #\";\" #\"'\""

python3 - "$dir" <<'EOF' || fail "python3 disagrees with our CSV"
import ast, csv, sys
d = sys.argv[1]
rows = ast.literal_eval(open(f"{d}/rows.txt", encoding="utf-8").read())
for name, dialect in (("ours-theirs.csv", {}), ("ours-theirs-lf.csv", {}),
                      ("ours-theirs-semi.csv", {"delimiter": ";", "quotechar": "'"})):
    with open(f"{d}/{name}", encoding="utf-8", newline="") as f:
        got = list(csv.reader(f, **dialect))
    if got != rows:
        sys.exit(f"{name}: {got!r} != {rows!r}")
EOF

echo "JSON and CSV interop passed"
