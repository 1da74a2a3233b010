#!/usr/bin/env bash
# The native JSON codec against the codec written in Kel, its reference, on
# random cases: python3 writes JSON texts (unicode, every escape, surrogate
# pairs and lone halves, deep nesting, numbers of every size, keys that are
# and are not words, white space anywhere) and broken variants of them
# (truncated, a character changed, dropped or doubled); both decoders must
# give the same value or the same error value, and a raised error of the
# same type, id, arguments and where. Every decoded value, and random values
# of every datatype made in Kel, must encode to the same text, compact,
# pretty and ASCII, or raise the same error.
# JSON_CASES, JSON_VALUES and JSON_SEED choose the number of texts, of
# random values and the seed; with the collector in torture mode (where every
# allocation collects) the default counts are small.
# Without python3 the test is skipped with a message.
# torture: once (it checks the codecs on large inputs against outside tools;
# the Kel tests torture the same code paths on inputs small enough that a
# collection at every allocation costs seconds, not many minutes)
kel="$1"
source "$(dirname "$0")/lib/reference.sh"
reference_setup JSON JSON 1000 300 29

python3 - "$dir/cases.kel" "$cases" "$seed" <<'EOF' || { echo "python3 could not write the cases"; exit 1; }
import json, random, sys
from kel_text import kel_string

path, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(seed)

WORDS = ["name", "id", "a", "x-y", "a.b", "é", "ab'", "-", "+", "+1", "-1", ".5", "1st", "a b",
         "x:y", "", "true", "none", "Name", "NAME", "k\u0000", "a\u3000b", "a\u00a0b", "a<b",
         "h\u00e9llo", "\U0001F600", "FFh", "1x2", "-1x2", "a@b", "a/b", "#a", "$1", "%a",
         "a;b", "a\tb", "'a", ":a", "a:", "\u2028", "\ud800", "abc\udfff", "#", "_", "~", "?",
         "1.2.3", "+.5", "-.5e3", "a=b", "==", "<>", "x\\y"]

def rand_char():
    r = rng.random()
    if r < 0.55:
        return chr(rng.randint(0x20, 0x7e))
    if r < 0.65:
        return rng.choice(['"', '\\', '/', '\b', '\f', '\n', '\r', '\t'])
    if r < 0.75:
        return chr(rng.randint(0xa0, 0xff))
    if r < 0.85:
        return chr(rng.randint(0x100, 0xd7ff))
    if r < 0.9:
        return chr(rng.randint(0xe000, 0xfffd))
    if r < 0.95:
        return chr(rng.randint(0x10000, 0x10ffff))
    if r < 0.97:
        return chr(rng.randint(0xd800, 0xdfff))  # a lone surrogate
    return chr(rng.randint(0, 0x1f))

def string_text(s):
    # Writes the characters raw or as any of their escapes.
    out = ['"']
    for c in s:
        code = ord(c)
        r = rng.random()
        if c in '"\\' or code < 0x20 or 0xd800 <= code <= 0xdfff:
            if c in '"\\\b\f\n\r\t/' and r < 0.5:
                out.append(json.dumps(c)[1:-1])
            else:
                out.append('\\u%04x' % code if r < 0.75 else '\\u%04X' % code)
        elif r < 0.1 and code <= 0xffff:
            out.append('\\u%04x' % code)
        elif r < 0.15 and code > 0xffff:
            v = code - 0x10000
            out.append('\\u%04x\\u%04x' % (0xd800 + (v >> 10), 0xdc00 + (v & 1023)))
        elif r < 0.17 and c == '/':
            out.append('\\/')
        else:
            out.append(c)
    out.append('"')
    return ''.join(out)

def number_text():
    r = rng.random()
    if r < 0.3:
        return str(rng.randint(-1000, 1000))
    if r < 0.4:
        return str(rng.choice([0, -0, 2147483647, 2147483648, -2147483648, -2147483649,
                               10**18, -10**25, 4294967296]))
    if r < 0.4 + 0.25:
        return repr(rng.uniform(-1e6, 1e6))
    if r < 0.75:
        return repr(rng.choice([5e-324, 1.7976931348623157e308, 2.2250738585072014e-308, 0.1,
                                1e22, 1e23, 9007199254740993.0, 123456789012345.678]))
    if r < 0.85:
        mant = str(rng.randint(0, 10**rng.randint(1, 20)))
        frac = '.' + str(rng.randint(0, 10**rng.randint(1, 20))) if rng.random() < 0.5 else ''
        exp = rng.choice(['', 'e', 'E']) 
        if exp:
            exp += rng.choice(['', '+', '-']) + str(rng.randint(0, 400))
        return rng.choice(['', '-']) + mant.lstrip('0').rjust(1, '0') + frac + exp
    if r < 0.9:
        return rng.choice(['-0', '-0.0', '0e0', '0E-0', '1e400', '-1e400', '1e-400', '0.0000001',
                           '1E+2', '-1.5e-7', '100000000000000000000000'])
    return str(rng.randint(1, 9)) + ''.join(rng.choice('0123456789') for _ in range(rng.randint(300, 330)))

def ws():
    if rng.random() < 0.6:
        return ''
    return ''.join(rng.choice([' ', '\t', '\r', '\n', '\r\n', '  ']) for _ in range(rng.randint(1, 3)))

def value_text(depth):
    r = rng.random()
    if depth > 4 or r < 0.35:
        k = rng.random()
        if k < 0.4:
            return string_text(''.join(rand_char() for _ in range(rng.randint(0, 12))))
        if k < 0.8:
            return number_text()
        return rng.choice(['true', 'false', 'null'])
    if r < 0.65:
        items = [ws() + value_text(depth + 1) + ws() for _ in range(rng.randint(0, 5))]
        return '[' + ws() + ','.join(items) + ']'
    pairs = []
    for _ in range(rng.randint(0, 5)):
        if rng.random() < 0.6:
            key = rng.choice(WORDS)
        else:
            key = ''.join(rand_char() for _ in range(rng.randint(0, 6)))
        pairs.append(ws() + string_text(key) + ws() + ':' + ws() + value_text(depth + 1) + ws())
    return '{' + ws() + ','.join(pairs) + '}'

def nested(n):
    opens = [rng.choice(['[', '{"k":']) for _ in range(n)]
    closes = [']' if o == '[' else '}' for o in reversed(opens)]
    return ''.join(opens) + '1' + ''.join(closes)

BROKEN = ['True', 'NULL', 'nul', '[1,]', '{', '', '01', '1.', '.5', '-', '[1 2]', '{"a" 1}',
          '{a:1}', '"tab\tin"', '"\\x"', '"\\u12"', '[1]x', '{,}', '1e', '"\\ud83d"',
          '"\\ud83d\\u0041"', '"a\\ud83dx"', '"\\n\\ud83d\\n1234"', '{"\\ud800":1}', '[1,\n\n x]',
          '{"a":1,\n}', '[\n', '"abc', '{"a":1 "b":2}', '[-]', '[01.5]', '[1.e5]', '[.]', '--1',
          '\ufeff[]', '[1]\u00a0', '\u3000[]', '[1e5.5]', '["a" : 1]', '{"a":}']

def mutate(text):
    if not text:
        return rng.choice(BROKEN)
    k = rng.random()
    i = rng.randrange(len(text) + 1)
    if k < 0.3:
        return text[:i]
    if k < 0.55:
        return text[:i] + text[i + 1:]
    if k < 0.8:
        return text[:i] + rng.choice('[]{},:"\\ntfe.-+0 \n\u00e9\U0001F600') + text[i:]
    return text[:i] + text[i:i + 3] * 2 + text[i + 3:]

texts = []
for n in range(count):
    r = rng.random()
    if r < 0.55:
        t = ws() + value_text(0) + ws()
    elif r < 0.85:
        t = mutate(value_text(0))
    elif r < 0.95:
        t = rng.choice(BROKEN)
    else:
        t = nested(rng.choice([1, 100, 511, 512, 513, 600]))
    texts.append(t)

with open(path, 'w', encoding='utf-8') as f:
    f.write('Kel []\ncases: [\n')
    for t in texts:
        f.write(kel_string(t) + '\n')
    f.write(']\n')
EOF

reference_outcome "$dir/cases.kel"
cat >> "$dir/cases.kel" <<'EOF'

mismatches: 0
compared: 0
mismatch: func [what [string!] input [any-type!] native [string!] reference [string!]] [
    mismatches: mismatches + 1
    if mismatches <= 10 [
        print ["MISMATCH" what "on" copy/part mold/all :input 200]
        print ["  native:   " copy/part native 300]
        print ["  reference:" copy/part reference 300]
    ]
]

decode-native: :load-json
decode-reference: :load-json-kel
encode-native: :to-json
encode-reference: :to-json-kel

; Both encoders in every mode on one value.
modes: [[] [] [ascii] [] [pretty] ["  "] [pretty ascii] ["^-"]]
compare-encoders: func [value [any-type!] /local native reference] [
    foreach [refs args] modes [
        compared: compared + 1
        native: outcome compose [
            (either empty? refs ['encode-native] [to path! head insert copy refs 'encode-native]) :value (args)
        ]
        reference: outcome compose [
            (either empty? refs ['encode-reference] [to path! head insert copy refs 'encode-reference]) :value (args)
        ]
        if native <> reference [mismatch rejoin ["encoding " mold refs] :value native reference]
    ]
]

foreach text cases [
    compared: compared + 1
    native: outcome [decode-native text]
    reference: outcome [decode-reference text]
    either native <> reference [mismatch "decoding" text native reference] [
        value: try [decode-native text]
        unless error? :value [compare-encoders :value]
    ]
]
EOF

echo "values-count: $values values-seed: $seed" >> "$dir/cases.kel"
cat >> "$dir/cases.kel" <<'EOF'

; Random values of every kind, made here: what JSON cannot hold is molded or
; formed into strings, which the encoders must escape alike.
random/seed values-seed
pool: rejoin [
    "abc XYZ 019 ~!@#$%^^&*()_+-=" {"\/'`} "^(00)^(01)^(08)^(09)^(0A)^(0C)^(0D)^(1F)^(7F)"
    "^(A0)é^(FF)€あ^(D800)^(DBFF)^(DC00)^(DFFF)^(FFFD)😀𝄞^(10FFFF)"
]
random-text: func [/local text] [
    text: make string! 8
    loop random 10 [append text pick pool random length? pool]
    text
]
random-scalar: func [/local values] [
    values: reduce [
        none true false random 1000 negate random 2147483647 -2147483648
        random 1.0e10 negate random 1.0 0.0 -0.0 1e-310 1.7976931348623157e308 1.#INF -1.#INF
        to percent! random 100.0 random-text random-text to char! random 128512
        to file! random-text to url! rejoin ["http://x/" random-text] to tag! random-text a@b.c
        'w quote 'w /r #i 1x2 1.2.3 12:30:45.5 1-Jan-2000 $1.25 #{00FF} make bitset! "ab"
        'a/b next 'a/b/c quote (1 "p") make hash! [1 "h"] make error! "e" :append
    ]
    pick values random length? values
]
random-value: func [depth [integer!] /local kind block map object] [
    kind: either depth > 3 [1] [random 6]
    switch kind [
        1 2 3 [random-scalar]
        4 [block: make block! 4 loop random 4 [append/only block random-value depth + 1] either random 4 = 1 [next block] [block]]
        5 [
            map: make map! 4
            loop random 4 [
                put map pick reduce [random-text to word! "k" random 99 to char! 97 + random 25 to file! random-text 1.5 1x1] random 7
                    random-value depth + 1
            ]
            map
        ]
        6 [
            object: make object! [a: none b: none]
            object/a: random-value depth + 1
            object/b: random-text
            object
        ]
    ]
]
loop values-count [compare-encoders random-value 0]

print [compared "comparisons," mismatches "mismatches"]
if mismatches > 0 [quit/return 1]
EOF

"$kel" "$dir/cases.kel"
