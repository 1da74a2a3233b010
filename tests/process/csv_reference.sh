#!/usr/bin/env bash
# The native CSV codec against the codec written in Kel, its reference, on
# random cases: python3 writes CSV texts (quoted fields with doubled quotes,
# line feeds and delimiters inside, unclosed quotes, text after a closing
# quote, CR, LF and CR LF line ends, blank lines, spaces and tabs around
# fields, unicode) read with random delimiters, quote characters and
# refinements; both readers must give the same value, error value or raised
# error. Random records made in Kel (blocks, maps, objects and columns of
# every datatype) must be written to the same text or error by both writers.
# CSV_CASES, CSV_VALUES and CSV_SEED choose the number of texts, of random
# values and the seed; with the collector in torture mode the default counts
# are small. Without python3 the test is skipped with a message.
# torture: once (it checks the codecs on large inputs against outside tools;
# the Kel tests torture the same code paths on inputs small enough that a
# collection at every allocation costs seconds, not many minutes)
kel="$1"
source "$(dirname "$0")/lib/reference.sh"
reference_setup CSV CSV 1000 300 31

python3 - "$dir/cases.kel" "$cases" "$seed" <<'EOF' || { echo "python3 could not write the cases"; exit 1; }
import random, sys
from kel_text import kel_string

path, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(seed)

# Delimiters (a char or a string) and quote characters, as Kel source.
DELIMITERS = [(',', '#","'), (';', '#";"'), ('\t', '#"^-"'), ('::', '"::"'), ('|', '"|"'),
              (', ', '", "'), ('ab', '"ab"'), ('é', '#"é"'), ('', '""')]
QUOTES = [('"', '#"^""'), ("'", '#"' + "'" + '"'), ('q', '#"q"'), (',', '#","')]
REFINEMENTS = [[], [], ['trim'], ['header'], ['as-columns'], ['as-records'], ['flat'],
               ['header', 'as-records'], ['header', 'trim'], ['flat', 'trim'],
               ['as-columns', 'as-records'], ['flat', 'header']]

def field(delim, qt):
    r = rng.random()
    pool = 'abc XYZ 019é😀' + qt + delim + '\n\r\t ,;"\''
    text = ''.join(rng.choice(pool) for _ in range(rng.randint(0, 6)))
    if r < 0.4:
        return text.replace(delim, '') if delim else text.replace('\n', '')
    if r < 0.75:
        body = text.replace(qt, qt + qt)
        return (rng.choice(['', ' ', '\t']) if rng.random() < 0.2 else '') + qt + body + qt + \
            (rng.choice(['', ' ', '  \t']) if rng.random() < 0.3 else '')
    if r < 0.85:
        return qt + text  # unclosed
    return qt + text + qt + rng.choice(['x', ' y', qt])  # text after the closing quote

def text_of(delim, qt):
    lines = []
    width = rng.randint(1, 4)
    for _ in range(rng.randint(0, 6)):
        n = width if rng.random() < 0.85 else rng.randint(1, 5)
        lines.append((delim or ',').join(field(delim, qt) for _ in range(n)) if delim != '' else
                     ''.join(field(delim, qt) for _ in range(n)))
    ends = [rng.choice(['\n', '\r\n', '\r']) for _ in lines]
    text = ''.join(l + e for l, e in zip(lines, ends))
    if text and rng.random() < 0.5:
        text = text[:-1] if text.endswith(('\n', '\r')) else text
    if rng.random() < 0.1:
        text += rng.choice(['\n', '\n\n', '\r\n\r\n'])
    return text

with open(path, 'w', encoding='utf-8') as f:
    f.write('Kel []\ncases: [\n')
    for _ in range(count):
        delim, delim_src = rng.choice(DELIMITERS)
        qt, qt_src = rng.choice(QUOTES) if rng.random() < 0.4 else QUOTES[0]
        refs = list(rng.choice(REFINEMENTS))
        args = []
        if delim != ',' or rng.random() < 0.2:
            refs.append('with')
            args.append(delim_src)
        if qt != '"' or rng.random() < 0.1:
            refs.append('quote')
            args.append(qt_src)
        text = text_of(delim, qt)
        f.write('%s [%s] [%s]\n' % (kel_string(text), ' '.join(refs), ' '.join(args)))
    f.write(']\n')
EOF

echo "values-count: $values values-seed: $seed" >> "$dir/cases.kel"
reference_outcome "$dir/cases.kel"
cat >> "$dir/cases.kel" <<'EOF'

mismatches: 0
compared: 0
compare: func [native [block!] reference [block!] /local a b] [
    compared: compared + 1
    a: outcome native
    b: outcome reference
    if a <> b [
        mismatches: mismatches + 1
        if mismatches <= 10 [
            print ["MISMATCH" copy/part mold native 300]
            print ["  native:   " copy/part a 300]
            print ["  reference:" copy/part b 300]
        ]
    ]
]

; A call of the function on the value with the refinements and their arguments.
call: func [name [word!] refs [block!] args [block!] value /local code] [
    code: reduce [either empty? refs [name] [to path! head insert copy refs name]]
    append/only code :value
    append code args
]

foreach [text refs args] cases [
    compare call 'load-csv refs args text  call 'load-csv-kel refs args text
]

; Random records of every kind, made here.
random/seed values-seed
pool: "ab XY 09,;:|'^"^/^M^-éあ😀^(D800)"
random-text: func [/local text] [
    text: make string! 6
    loop random 6 [append text pick pool random length? pool]
    text
]
random-scalar: func [/local values] [
    values: reduce [
        none true false random 1000 negate random 1.0e6 1.5 -0.0 1e300 to percent! random 1.0
        random-text random-text "" to char! 33 + random 200 to file! random-text 'w /r #i
        1x2 1.2.3 12:30 1-Jan-2000 $1.25 #{00FF} [1 "b"] quote (p) make map! [k 1] http://x.y
    ]
    pick values random length? values
]
random-record: func [kind [integer!] width [integer!] /local record] [
    switch kind [
        1 [record: make block! width loop width [append/only record random-scalar] record]
        2 [
            record: make map! 4
            loop width [put record pick [a b c "d" "A" 5] random 6 random-scalar]
            record
        ]
        3 [
            record: make object! [a: none b: none]
            record/a: random-scalar
            record/b: random-text
            record
        ]
    ]
]
delimiters: reduce [#"," #";" "::" #"^-" ", " "é"]
quotes: reduce [#"^"" #"'" #"q"]
loop values-count [
    kind: random 3
    width: random 4
    data: make block! 4
    loop random 4 [
        append/only data random-record either random 6 = 1 [random 3] [kind] either random 8 = 1 [random 4] [width]
    ]
    if random 8 = 1 [data: first data]
    if random 8 = 1 [data: make map! reduce ['x random-record 1 3 'y random-record 1 either random 4 = 1 [2] [3]]]
    if random 10 = 1 [data: random-record 1 6]
    delimiter: pick delimiters random length? delimiters
    qt: pick quotes random length? quotes
    size: random 3
    foreach [refs args] reduce [
        [] []
        [with] reduce [delimiter]
        [quote] reduce [qt]
        [with quote] reduce [delimiter qt]
        [skip] reduce [size]
    ] [
        compare call 'to-csv refs args data  call 'to-csv-kel refs args data
    ]
]

print [compared "comparisons," mismatches "mismatches"]
if mismatches > 0 [quit/return 1]
EOF

"$kel" "$dir/cases.kel"
