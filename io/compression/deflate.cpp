// DEFLATE compressor (fixed Huffman codes, hashed match finder) and
// decompressor (stored, fixed and dynamic blocks). Every input read and every
// output store is bounds-checked: the decoder takes untrusted data.
#include "io/compression/deflate.hpp"

#include <cstring>

namespace kel {

// ---- shared tables ---------------------------------------------------------------------------

// Lengths 3 to 258 by length symbol 257 to 285: base and extra bits.
static const uint16_t LENGTH_BASE[29] = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
    35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258,
};
static const uint8_t LENGTH_EXTRA[29] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0,
};
// Distances 1 to 32,768 by distance symbol 0 to 29: base and extra bits.
static const uint16_t DISTANCE_BASE[30] = {
    1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193,
    257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577,
};
static const uint8_t DISTANCE_EXTRA[30] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13,
};

constexpr uint32_t END_OF_BLOCK = 256;
constexpr uint32_t WINDOW = 32768;     // largest distance a match may reach back
constexpr uint32_t MATCH_MAX = 258;
constexpr uint64_t OUTPUT_MAX = 0xFFFFFFFFu;  // the size field is 32 bits

// The low n bits of code in reverse order: Huffman codes are sent most
// significant bit first into a stream packed least significant bit first.
static uint32_t bits_reverse(uint32_t code, uint32_t n) {
    uint32_t r = 0;
    for (uint32_t i = 0; i < n; i++) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

// ---- compressor ------------------------------------------------------------------------------

// Bits are gathered least significant first; whole bytes go out while the
// position is inside the destination, and the position counts on past it.
struct BitWriter {
    uint8_t* dest;
    uint64_t capacity;
    uint64_t pos;
    uint32_t acc;    // pending bits, the oldest in bit 0
    uint32_t count;  // number of pending bits (at most 7 between writes)
};

static void bits_put(BitWriter* w, uint32_t value, uint32_t n) {
    w->acc |= value << w->count;
    w->count += n;
    while (w->count > 7) {
        if (w->pos < w->capacity) w->dest[w->pos] = uint8_t(w->acc);
        w->acc >>= 8;
        w->count -= 8;
        w->pos++;
    }
}

// A fixed-code literal/length symbol (0 to 287).
static void fixed_symbol_put(BitWriter* w, uint32_t symbol) {
    if (symbol < 144) bits_put(w, bits_reverse(0x30 + symbol, 8), 8);
    else if (symbol < 256) bits_put(w, bits_reverse(0x190 + symbol - 144, 9), 9);
    else if (symbol < 280) bits_put(w, bits_reverse(symbol - 256, 7), 7);
    else bits_put(w, bits_reverse(0xC0 + symbol - 280, 8), 8);
}

static void match_put(BitWriter* w, uint32_t length, uint32_t distance) {
    uint32_t l = 28;
    while (LENGTH_BASE[l] > length) l--;
    fixed_symbol_put(w, 257 + l);
    if (LENGTH_EXTRA[l]) bits_put(w, length - LENGTH_BASE[l], LENGTH_EXTRA[l]);
    uint32_t d = 29;
    while (DISTANCE_BASE[d] > distance) d--;
    bits_put(w, bits_reverse(d, 5), 5);
    if (DISTANCE_EXTRA[d]) bits_put(w, distance - DISTANCE_BASE[d], DISTANCE_EXTRA[d]);
}

// The match table: 1,024 buckets of 4 recent input positions.
constexpr uint32_t BUCKETS = 1024;
constexpr uint32_t BUCKET_SLOTS = 4;
constexpr uint32_t SLOT_EMPTY = 0xFFFFFFFFu;

// The three bytes at p as one value, bytes past the end read as 0.
static uint32_t three_bytes(const uint8_t* source, uint32_t length, uint32_t p) {
    uint32_t x = 0;
    for (uint32_t i = 0; i < 3; i++) x = (x << 8) | (p + i < length ? source[p + i] : 0);
    return x;
}

static uint32_t bucket_of(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x & (BUCKETS - 1);
}

int32_t deflate_compress(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length) {
    BitWriter w{dest, dest ? *size : 0, 0, 0, 0};
    bits_put(&w, 1, 1);  // final block
    bits_put(&w, 1, 2);  // fixed Huffman codes
    uint32_t table[BUCKETS][BUCKET_SLOTS];
    std::memset(table, 0xFF, sizeof table);
    uint32_t p = 0;
    while (p < length) {
        uint32_t start = p;
        bool hashed = length - p >= 3;
        uint32_t bucket = hashed ? bucket_of(three_bytes(source, length, p)) : 0;
        bool matched = false;
        if (p >= 3 && hashed) {
            for (uint32_t s = 0; s < BUCKET_SLOTS && !matched; s++) {
                uint32_t e = table[bucket][s];
                if (e == SLOT_EMPTY || e >= p || p - e >= WINDOW) continue;
                if (std::memcmp(source + e, source + p, 3) != 0) continue;
                uint32_t n = 3;
                while (n < MATCH_MAX && p + n < length && source[e + n] == source[p + n]) n++;
                match_put(&w, n, p - e);
                p += n;
                matched = true;
            }
        }
        if (!matched) fixed_symbol_put(&w, source[p++]);
        if (hashed) {
            uint32_t y = three_bytes(source, length, p);
            table[bucket][((y >> 14) - y) & (BUCKET_SLOTS - 1)] = start;
        }
    }
    fixed_symbol_put(&w, END_OF_BLOCK);
    if (w.count) bits_put(&w, 0, 8 - w.count);
    *size = w.pos > OUTPUT_MAX ? uint32_t(OUTPUT_MAX) : uint32_t(w.pos);
    return w.pos > w.capacity ? COMPRESS_DEST_SMALL : COMPRESS_DONE;
}

// ---- decompressor ----------------------------------------------------------------------------

// Bits come from the input least significant first. A read that needs bits
// past the end of the input sets overrun and the decoder stops with bad data,
// so a truncated stream can never loop on invented zero bits.
struct BitReader {
    const uint8_t* in;
    uint32_t length;
    uint32_t pos;    // next input byte to load
    uint64_t acc;    // loaded bits, the next one in bit 0
    uint32_t count;  // number of loaded bits
    bool overrun;
};

static void bits_refill(BitReader* r) {
    while (r->count <= 56 && r->pos < r->length) {
        r->acc |= uint64_t(r->in[r->pos++]) << r->count;
        r->count += 8;
    }
}

// The next n bits (n at most 32) as a number, the first bit as bit 0.
static uint32_t bits_get(BitReader* r, uint32_t n) {
    if (n == 0) return 0;
    if (r->count < n) bits_refill(r);
    if (r->count < n) {
        r->overrun = true;
        r->acc = 0;
        r->count = 0;
        return 0;
    }
    uint32_t v = uint32_t(r->acc & ((uint64_t(1) << n) - 1));
    r->acc >>= n;
    r->count -= n;
    return v;
}

// Drops the bits up to the next byte boundary and gives the loaded whole
// bytes back to the input, so that byte reads continue where the bits ended.
static void bits_align(BitReader* r) {
    r->pos -= r->count / 8;
    r->acc = 0;
    r->count = 0;
}

// A canonical Huffman code: the count of codes per length and the symbols
// ordered by code. FAST_BITS-bit prefixes decode by one look-up in fast
// (entry: length << 9 | symbol, 0 when the code is longer); longer codes
// decode a bit at a time.
constexpr uint32_t CODE_BITS_MAX = 15;
constexpr uint32_t FAST_BITS = 9;
struct Huffman {
    uint16_t count[CODE_BITS_MAX + 1];
    uint16_t symbol[288];
    uint16_t fast[1u << FAST_BITS];
};

// Builds the code of n symbol lengths (0 = unused). An over-subscribed set of
// lengths has no prefix code and is refused; an incomplete set is accepted,
// its unused codes being undefined when met.
static bool huffman_build(Huffman* h, const uint8_t* lengths, uint32_t n) {
    std::memset(h->count, 0, sizeof h->count);
    std::memset(h->fast, 0, sizeof h->fast);
    for (uint32_t s = 0; s < n; s++) h->count[lengths[s]]++;
    h->count[0] = 0;
    int32_t left = 1;
    for (uint32_t len = 1; len <= CODE_BITS_MAX; len++) {
        left = (left << 1) - h->count[len];
        if (left < 0) return false;
    }
    uint16_t offset[CODE_BITS_MAX + 2];
    offset[1] = 0;
    for (uint32_t len = 1; len <= CODE_BITS_MAX; len++) offset[len + 1] = offset[len] + h->count[len];
    // The first code of each length, as RFC 1951 assigns them.
    uint32_t first_code[CODE_BITS_MAX + 1];
    uint32_t code = 0;
    for (uint32_t len = 1; len <= CODE_BITS_MAX; len++) {
        first_code[len] = code;
        code = (code + h->count[len]) << 1;
    }
    for (uint32_t s = 0; s < n; s++) {
        uint32_t len = lengths[s];
        if (!len) continue;
        uint32_t index = offset[len]++;
        h->symbol[index] = uint16_t(s);
        uint32_t c = first_code[len]++;
        if (len <= FAST_BITS) {
            uint32_t r = bits_reverse(c, len);
            for (uint32_t k = r; k < (1u << FAST_BITS); k += 1u << len)
                h->fast[k] = uint16_t(len << 9 | s);
        }
    }
    return true;
}

// The next symbol of the code, or -1 when the bits form no code or run past
// the input.
static int32_t huffman_decode(BitReader* r, const Huffman* h) {
    if (r->count < CODE_BITS_MAX) bits_refill(r);
    uint32_t entry = h->fast[r->acc & ((1u << FAST_BITS) - 1)];
    if (entry) {
        uint32_t len = entry >> 9;
        if (len > r->count) {
            r->overrun = true;
            return -1;
        }
        r->acc >>= len;
        r->count -= len;
        return int32_t(entry & 0x1FF);
    }
    int32_t code = 0, first = 0, index = 0;
    for (uint32_t len = 1; len <= CODE_BITS_MAX; len++) {
        if (len > r->count) {
            r->overrun = true;
            return -1;
        }
        code |= int32_t((r->acc >> (len - 1)) & 1);
        int32_t count = h->count[len];
        if (code - first < count) {
            r->acc >>= len;
            r->count -= len;
            return h->symbol[index + code - first];
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;
}

// The output: bytes past the capacity are counted, not stored; a copy source
// is always below the capacity because only stored bytes are ever copied.
struct Output {
    uint8_t* dest;
    uint64_t capacity;
    uint64_t pos;
};

static void output_put(Output* o, uint8_t byte) {
    if (o->pos < o->capacity) o->dest[o->pos] = byte;
    o->pos++;
}

static void output_copy(Output* o, uint32_t distance, uint32_t length) {
    while (length && o->pos < o->capacity) {
        o->dest[o->pos] = o->dest[o->pos - distance];
        o->pos++;
        length--;
    }
    o->pos += length;
}

static int32_t inflate_stored(BitReader* r, Output* o) {
    bits_align(r);
    if (r->length - r->pos < 4) return COMPRESS_STORED_PAST_INPUT;
    uint32_t len = uint32_t(r->in[r->pos]) | uint32_t(r->in[r->pos + 1]) << 8;
    uint32_t nlen = uint32_t(r->in[r->pos + 2]) | uint32_t(r->in[r->pos + 3]) << 8;
    if ((len ^ nlen) != 0xFFFF) return COMPRESS_BAD_DATA;  // NLEN is LEN's complement
    r->pos += 4;
    if (r->length - r->pos < len) return COMPRESS_STORED_PAST_INPUT;
    const uint8_t* from = r->in + r->pos;
    if (o->pos < o->capacity) {
        uint64_t room = o->capacity - o->pos;
        std::memcpy(o->dest + o->pos, from, len < room ? len : size_t(room));
    }
    o->pos += len;
    r->pos += len;
    return COMPRESS_DONE;
}

// Decodes symbols up to the end of the block.
static int32_t inflate_codes(BitReader* r, Output* o, const Huffman* lit, const Huffman* dist) {
    while (o->pos <= OUTPUT_MAX) {
        int32_t symbol = huffman_decode(r, lit);
        if (symbol < 0) return COMPRESS_BAD_DATA;
        if (symbol < 256) {
            output_put(o, uint8_t(symbol));
            continue;
        }
        if (symbol == int32_t(END_OF_BLOCK)) return COMPRESS_DONE;
        symbol -= 257;
        if (symbol >= 29) return COMPRESS_BAD_DATA;
        uint32_t length = LENGTH_BASE[symbol] + bits_get(r, LENGTH_EXTRA[symbol]);
        int32_t d = huffman_decode(r, dist);
        if (d < 0 || d >= 30) return COMPRESS_BAD_DATA;
        uint32_t distance = DISTANCE_BASE[d] + bits_get(r, DISTANCE_EXTRA[d]);
        if (r->overrun) return COMPRESS_BAD_DATA;
        if (distance > o->pos) return COMPRESS_BAD_DISTANCE;
        output_copy(o, distance, length);
    }
    return COMPRESS_BAD_DATA;
}

// The fixed codes, built on first use.
static const Huffman* fixed_codes(bool distance) {
    static Huffman lit, dist;
    static bool built = false;
    if (!built) {
        uint8_t lengths[288];
        for (uint32_t s = 0; s < 288; s++) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        huffman_build(&lit, lengths, 288);
        for (uint32_t s = 0; s < 32; s++) lengths[s] = 5;
        huffman_build(&dist, lengths, 32);
        built = true;
    }
    return distance ? &dist : &lit;
}

// Order in which the code-length code lengths are sent.
static const uint8_t CODE_LENGTH_ORDER[19] = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15,
};

static int32_t inflate_dynamic(BitReader* r, Output* o) {
    uint32_t nlit = bits_get(r, 5) + 257;
    uint32_t ndist = bits_get(r, 5) + 1;
    uint32_t ncode = bits_get(r, 4) + 4;
    if (r->overrun) return COMPRESS_BAD_DATA;
    uint8_t lengths[288 + 32] = {};
    for (uint32_t i = 0; i < ncode; i++) lengths[CODE_LENGTH_ORDER[i]] = uint8_t(bits_get(r, 3));
    if (r->overrun) return COMPRESS_BAD_DATA;
    Huffman lencode;
    if (!huffman_build(&lencode, lengths, 19)) return COMPRESS_BAD_DATA;
    std::memset(lengths, 0, sizeof lengths);
    uint32_t total = nlit + ndist;
    for (uint32_t i = 0; i < total;) {
        int32_t symbol = huffman_decode(r, &lencode);
        if (symbol < 0) return COMPRESS_BAD_DATA;
        if (symbol < 16) {
            lengths[i++] = uint8_t(symbol);
            continue;
        }
        uint8_t repeated = 0;
        uint32_t times;
        if (symbol == 16) {
            if (i == 0) return COMPRESS_BAD_DATA;
            repeated = lengths[i - 1];
            times = 3 + bits_get(r, 2);
        } else if (symbol == 17) {
            times = 3 + bits_get(r, 3);
        } else {
            times = 11 + bits_get(r, 7);
        }
        if (r->overrun || i + times > total) return COMPRESS_BAD_DATA;
        while (times--) lengths[i++] = repeated;
    }
    Huffman lit, dist;
    if (!huffman_build(&lit, lengths, nlit)) return COMPRESS_BAD_DATA;
    if (!huffman_build(&dist, lengths + nlit, ndist)) return COMPRESS_BAD_DATA;
    return inflate_codes(r, o, &lit, &dist);
}

int32_t deflate_inflate(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length) {
    uint32_t used;
    return deflate_inflate_used(dest, size, source, length, &used);
}

int32_t deflate_inflate_used(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length,
                             uint32_t* used) {
    BitReader r{source, length, 0, 0, 0, false};
    Output o{dest, dest ? *size : 0, 0};
    int32_t result = COMPRESS_BAD_DATA;  // a stream without a final block is incomplete
    bool final = false;
    while (!final && (r.pos < r.length || r.count > 0)) {
        final = bits_get(&r, 1) != 0;
        uint32_t type = bits_get(&r, 2);
        if (r.overrun) {
            result = COMPRESS_BAD_DATA;
            break;
        }
        switch (type) {
        case 0: result = inflate_stored(&r, &o); break;
        case 1: result = inflate_codes(&r, &o, fixed_codes(false), fixed_codes(true)); break;
        case 2: result = inflate_dynamic(&r, &o); break;
        default: result = COMPRESS_BAD_BLOCK_TYPE; break;
        }
        if (result == COMPRESS_DONE && o.pos > OUTPUT_MAX) result = COMPRESS_BAD_DATA;
        if (result != COMPRESS_DONE) break;
        if (!final) result = COMPRESS_BAD_DATA;
    }
    *size = o.pos > OUTPUT_MAX ? uint32_t(OUTPUT_MAX) : uint32_t(o.pos);
    // Whole bytes still loaded were not used; a byte partly read was.
    *used = r.pos - r.count / 8;
    if (result == COMPRESS_DONE && o.pos > o.capacity) return COMPRESS_DEST_SMALL;
    return result;
}

} // namespace kel
