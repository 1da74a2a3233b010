#!/usr/bin/env bash
# The decoders over third-party files, with the real tools as oracles:
# - images that ImageMagick writes from one 16-bit picture with alpha: PNG of
#   every colour type and bit depth, plain and interlaced, with and without a
#   gamma chunk; BMP (24-bit, palette, run-length 8-bit, 32-bit with alpha),
#   GIF, JPEG (baseline, progressive, grey) and TIFF; and run-length BMPs of
#   4 and 8 bits that python3 writes with every escape of the format. Our
#   pixels must equal ImageMagick's reading of each file (JPEG within 2 per
#   channel, 16-bit PNG within 1 as ImageMagick rounds down where we round;
#   colour is not compared where a pixel is fully transparent).
# - the PNG icons and gzip files of a Debian package, fetched at test time
#   with apt-get download (skipped with a message when the archive cannot be
#   reached).
# - gzip, zlib and raw DEFLATE streams from gzip and python3, good ones
#   (levels 0 to 9, several members in one file) that must give python3's
#   bytes, and broken ones (NLEN not LEN's complement, cut short, wrong
#   checksum, garbage after the data) that python3 refuses and we must too.
# Each part prints how many files were decoded right. ImageMagick is the one
# at /usr/bin/convert (a convert earlier in PATH may be a stand-in).
# torture: once (it checks the codecs on large inputs against outside tools;
# the Kel tests torture the same code paths on inputs small enough that a
# collection at every allocation costs seconds, not many minutes)
kel="$1"
python=/usr/bin/python3
convert=/usr/bin/convert
. "$(cd "$(dirname "$0")" && pwd)/../support/time.sh"
[ -x "$python" ] || test_skip "python3 is not installed"
[ -x "$convert" ] && "$convert" -version 2>/dev/null | grep -q ImageMagick || convert=
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; exit 1; }

# ---- the files --------------------------------------------------------------------------------

mkdir -p "$dir/made" "$dir/streams"
"$python" - "$dir" <<'EOF' || fail "python3 could not write the corpus"
import gzip, random, struct, sys, zlib
d = sys.argv[1]
rng = random.Random(28)

# A 16-bit picture with alpha: gradients, noise, fully transparent and
# opaque areas, and samples near black (where 16 to 8 bits goes wrong first).
w, h = 53, 31
rows = []
for y in range(h):
    for x in range(w):
        r = x * 65535 // (w - 1)
        g = y * 65535 // (h - 1)
        b = rng.randrange(65536) if x % 7 else 1000
        a = 0 if x < 4 else 65535 if x > 45 else (x * 1237 + y * 4099) % 65536
        rows.append(struct.pack(">4H", r, g, b, a))
with open(f"{d}/source.pam", "wb") as f:
    f.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (w, h))
    f.write(b"".join(rows))

# Run-length BMPs: random rows coded with runs, literal stretches (odd and
# even lengths), early line ends, moves and an early end of the bitmap.
def rle_bmp(path, w, h, bits, seed):
    rng = random.Random(seed)
    colours = 1 << bits
    palette = [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(colours)]
    out = bytearray()
    y = 0
    while y < h:
        x = 0
        end = w if rng.random() < 0.8 else rng.randrange(w)
        while x < end:
            n = min(end - x, rng.randrange(1, 12))
            kind = rng.random()
            if kind < 0.45:
                v = rng.randrange(colours)
                out += bytes([n, v if bits == 8 else v << 4 | rng.randrange(colours)])
            elif kind < 0.9 and n >= 3:
                values = [rng.randrange(colours) for _ in range(n)]
                if bits == 8:
                    data = bytes(values)
                else:
                    values += [0]
                    data = bytes(values[i] << 4 | values[i + 1] for i in range(0, n, 2))
                out += bytes([0, n]) + data + bytes(len(data) % 2)
            elif y + 1 < h:
                dx, dy = rng.randrange(0, 3), rng.randrange(0, 2)
                if x + dx >= w: dx = 0
                out += bytes([0, 2, dx, dy])
                x += dx
                y += dy
                n = 0
            x += n
        if y >= h - 1 and rng.random() < 0.5:
            break
        out += bytes([0, 0])
        y += 1
    out += bytes([0, 1])
    out += bytes(2 + (-len(out) - 2) % 4)
    pal = b"".join(bytes([b, g, r, 0]) for (r, g, b) in palette)
    offset = 14 + 40 + len(pal)
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 1 if bits == 8 else 2, len(out), 2835, 2835, colours, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(out), 0, 0, offset) + header + pal + out)

for i, (w, h) in enumerate([(37, 19), (64, 8), (5, 40)]):
    rle_bmp(f"{d}/made/rle8-{i}.bmp", w, h, 8, 100 + i)
    rle_bmp(f"{d}/made/rle4-{i}.bmp", w, h, 4, 200 + i)

# Streams: the data, python3's framings at every level, gzip members joined,
# and broken ones. good-* must give data, bad-* must be refused.
data = b"".join(b"line %d of the corpus, %s\n" % (i, b"x" * (i % 50)) for i in range(3000))
data += bytes(rng.randrange(256) for _ in range(20000))
open(f"{d}/streams/data", "wb").write(data)
s = f"{d}/streams"
for level in (0, 1, 6, 9):
    open(f"{s}/good-{level}.zlib", "wb").write(zlib.compress(data, level))
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    open(f"{s}/good-{level}.deflate", "wb").write(c.compress(data) + c.flush())
    open(f"{s}/good-{level}.gzip", "wb").write(gzip.compress(data, level, mtime=0))
half = len(data) // 2
open(f"{s}/good-members.gzip", "wb").write(gzip.compress(data[:half], 9) + gzip.compress(data[half:], 1))
stored = bytearray(zlib.compress(data[:1000], 0))
stored[5] ^= 1  # NLEN of the first stored block
open(f"{s}/bad-nlen.zlib", "wb").write(stored)
raw = bytearray(open(f"{s}/good-0.deflate", "rb").read())
raw[3] ^= 0x10
open(f"{s}/bad-nlen.deflate", "wb").write(raw)
g = gzip.compress(data, 6)
open(f"{s}/bad-cut.gzip", "wb").write(g[:len(g) // 2])
crc = bytearray(g)
crc[-6] ^= 1
open(f"{s}/bad-crc.gzip", "wb").write(crc)
open(f"{s}/bad-garbage.gzip", "wb").write(g + b"garbage!")
open(f"{s}/bad-cut.zlib", "wb").write(zlib.compress(data, 6)[:-3])

# python3 must refuse every bad stream (and read every good one) for the
# oracle to hold.
for name, method in [(n, n.rsplit(".", 1)[1]) for n in __import__("os").listdir(s) if n != "data"]:
    raw = open(f"{s}/{name}", "rb").read()
    try:
        if method == "gzip": got = gzip.decompress(raw)
        elif method == "zlib": got = zlib.decompress(raw)
        else: got = zlib.decompress(raw, -15)
        ok = got == data
    except Exception:
        ok = False
    if ok != name.startswith("good-"):
        sys.exit(f"python3 does not agree with the expectation for {name}")
EOF

if command -v gzip >/dev/null; then
    printf 'the second file\n' > "$dir/streams/second"
    gzip -c -9 "$dir/streams/data" "$dir/streams/second" > "$dir/streams/two-files.gzip"
    cat "$dir/streams/data" "$dir/streams/second" > "$dir/streams/two-files.expected"
fi

images=0
if [ -n "$convert" ]; then
    src="$dir/source.pam"
    while read -r name format options; do
        [ "$format" = - ] && format= || format="$format:"
        # shellcheck disable=SC2086
        "$convert" "$src" $options "$format$dir/made/$name" || fail "convert could not write $name"
    done <<'EOF'
rgba8.png PNG32 -depth 8
rgb8.png PNG24 -alpha off -depth 8
grey8.png - -alpha off -colorspace Gray -depth 8
grey-alpha8.png - -colorspace Gray -depth 8 -define png:color-type=4
grey1.png - -alpha off -colorspace Gray -threshold 50% -depth 1
grey2.png - -alpha off -colorspace Gray -depth 2
grey4.png - -alpha off -colorspace Gray -depth 4
palette.png PNG8 -colors 200
rgba16.png PNG64 -depth 16
rgb16.png PNG48 -alpha off -depth 16
grey16.png - -alpha off -colorspace Gray -depth 16
grey-alpha16.png - -colorspace Gray -depth 16 -define png:color-type=4
rgba16-interlaced.png PNG64 -depth 16 -interlace PNG
rgb16-interlaced.png PNG48 -alpha off -depth 16 -interlace PNG
grey16-interlaced.png - -alpha off -colorspace Gray -depth 16 -interlace PNG
rgba8-interlaced.png PNG32 -depth 8 -interlace PNG
palette-interlaced.png PNG8 -colors 50 -interlace PNG
rgba16-no-gamma.png PNG64 -depth 16 -define png:exclude-chunks=gAMA,cHRM,sRGB,bKGD,date,time
rgb16-no-gamma-interlaced.png PNG48 -alpha off -depth 16 -interlace PNG -define png:exclude-chunks=gAMA,cHRM,sRGB,bKGD,date,time
rgb24.bmp BMP3 -alpha off
palette8.bmp BMP3 -alpha off -colors 200 -type Palette
palette8-rle.bmp BMP3 -alpha off -colors 200 -type Palette -compress RLE
rgba32.bmp BMP
picture.gif - -colors 100
baseline.jpg - -alpha off -quality 90
progressive.jpg - -alpha off -interlace JPEG -quality 80
grey.jpg - -alpha off -colorspace Gray -quality 85
plain.tif - -alpha off -depth 8 -compress None
lzw.tif - -alpha off -depth 8 -compress LZW
zip-alpha.tif - -depth 8 -compress Zip
EOF
    images=1
else
    echo "ImageMagick (/usr/bin/convert) not found: the image part uses the run-length BMPs only, unchecked"
fi

mkdir -p "$dir/deb/root"
debian=0
# The 32x32 icons (palette and RGBA), the animations (16-bit RGBA) and the
# gzip files of the package's documentation.
if (cd "$dir/deb" && timeout 60 apt-get download tango-icon-theme >/dev/null 2>&1) &&
    dpkg-deb --fsys-tarfile "$dir"/deb/*.deb | tar -x -C "$dir/deb/root" --wildcards \
        './usr/share/icons/Tango/32x32/*' './usr/share/icons/Tango/22x22/animations/*' './usr/share/doc/*'; then
    debian=1
    find "$dir/deb/root" -type f -name '*.png' | sort > "$dir/deb/icons"
    find "$dir/deb/root" -type f -name '*.gz' | sort > "$dir/deb/gz"
else
    echo "the Debian archive cannot be reached: the Debian part is skipped"
fi

# ---- our decoding -----------------------------------------------------------------------------

{
    for f in "$dir"/made/*; do echo "image $f"; done
    if [ "$debian" = 1 ]; then
        while read -r f; do echo "image $f"; done < "$dir/deb/icons"
        while read -r f; do echo "gzip $f"; done < "$dir/deb/gz"
    fi
    for f in "$dir"/streams/*.*; do
        case "$f" in *.expected) ;; *) echo "${f##*.} $f" ;; esac
    done
} > "$dir/list"

cat > "$dir/decode.kel" <<'EOF'
Kel []
; Each line of the list names a decoder and a file; the result goes next to
; the file: the size and the pixels (B, G, R, A) of an image, the bytes of a
; stream, or the error that decoding raised.
foreach line read/lines to-kel-file first system/options/args [
    set [kind path] split line #" "
    file: to-kel-file path
    result: try [
        either kind = "image" [
            img: system/codecs/png/decode read/binary file
            write append copy file %.size form img/size
            img/argb
        ] [decompress read/binary file to word! kind]
    ]
    either error? result [
        write append copy file %.error form result/id
    ] [
        write/binary append copy file %.ours result
    ]
]
EOF
# Under collector torture the leak checker's own thread crashes at exit in
# this long run (its stop-the-world tracer faults, before any leak report);
# the decoding is what this test judges, and the plain pass checks leaks.
leaks=""
[ -n "${KEL_GC_TORTURE:-}" ] && leaks="detect_leaks=0"
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}$leaks" "$kel" "$dir/decode.kel" "$dir/list" ||
    fail "kel failed on the corpus"

# ---- comparing --------------------------------------------------------------------------------

"$python" - "$dir" "$convert" "$images" "$debian" <<'EOF'
import os, subprocess, sys
d, convert, images, debian = sys.argv[1], sys.argv[2], sys.argv[3] == "1", sys.argv[4] == "1"
wrong = []

# ImageMagick's reading of every image at once (one process for them all):
# the first frame of each, its size, then its pixels as R, G, B, A bytes.
theirs = {}
def read_theirs(paths):
    frames = [p + "[0]" for p in paths]
    sizes = subprocess.run(["identify", "-format", "%w %h\n"] + frames, capture_output=True, text=True).stdout.split()
    pixels = subprocess.run([convert] + frames + ["-depth", "8", "rgba:-"], capture_output=True).stdout
    at = 0
    for i, p in enumerate(paths):
        w, h = int(sizes[2 * i]), int(sizes[2 * i + 1])
        theirs[p] = (w, h, pixels[at:at + w * h * 4])
        at += w * h * 4

def image_right(path):
    if not os.path.exists(path + ".ours"):
        return "not decoded: " + open(path + ".error").read()
    size = open(path + ".size").read().split("x")
    w, h, their_pixels = theirs[path]
    ours = open(path + ".ours", "rb").read()
    if (int(size[0]), int(size[1])) != (w, h) or len(ours) != len(their_pixels):
        return f"size {size[0]}x{size[1]} against {w}x{h}"
    jpeg = path.endswith(".jpg")
    # 16-bit samples: ImageMagick takes v / 257 rounded down, we round it.
    head = open(path, "rb").read(25)
    sixteen = head[:4] == b"\x89PNG" and head[24] == 16
    tolerance = 2 if jpeg else 1 if sixteen else 0
    for i in range(0, len(ours), 4):
        b, g, r, a = ours[i:i + 4]
        R, G, B, A = their_pixels[i:i + 4]
        if jpeg:
            a = A = 255
        if abs(a - A) > (1 if sixteen else 0):
            return f"pixel {i // 4}: alpha {a} against {A}"
        if a and max(abs(r - R), abs(g - G), abs(b - B)) > tolerance:
            return f"pixel {i // 4}: {r}.{g}.{b} against {R}.{G}.{B}"
    return None

def stream_right(path, expected):
    name = os.path.basename(path)
    if name.startswith("bad-"):
        return None if os.path.exists(path + ".error") else "accepted a broken stream"
    if not os.path.exists(path + ".ours"):
        return "not decoded: " + open(path + ".error").read()
    return None if open(path + ".ours", "rb").read() == expected else "bytes differ"

def tally(title, paths, check):
    bad = [(p, why) for p in paths for why in [check(p)] if why]
    print(f"{title}: {len(paths) - len(bad)} of {len(paths)} decoded right")
    wrong.extend(bad)

made = sorted(os.path.join(d, "made", n) for n in os.listdir(os.path.join(d, "made")) if "." not in n[-7:-4] and n.count(".") == 1)
icons = open(os.path.join(d, "deb", "icons")).read().split() if debian else []
read_theirs((made if images else []) + icons)
if images:
    tally("images made by ImageMagick and python3", made, image_right)
if debian:
    tally("icons of a Debian package", icons, image_right)
    gz = open(os.path.join(d, "deb", "gz")).read().split()
    def gz_right(p):
        expected = subprocess.run(["gzip", "-dc", p], capture_output=True).stdout
        return stream_right(p, expected)
    tally("gzip files of a Debian package", gz, gz_right)
s = os.path.join(d, "streams")
data = open(os.path.join(s, "data"), "rb").read()
streams = sorted(os.path.join(s, n) for n in os.listdir(s) if n.split(".")[-1] in ("gzip", "zlib", "deflate"))
def expected_of(p):
    if p.endswith("two-files.gzip"):
        return open(os.path.join(s, "two-files.expected"), "rb").read()
    return data
tally("gzip, zlib and DEFLATE streams", streams, lambda p: stream_right(p, expected_of(p)))
for path, why in wrong:
    print(f"wrong: {os.path.relpath(path, d)}: {why}")
sys.exit(1 if wrong else 0)
EOF
