// gzip and zlib framing: headers, trailers and their checks around the
// DEFLATE codec, and the method words. Sizes follow the codec's protocol: a
// destination too small still yields the full size needed.
#include "io/compression/framing.hpp"
#include "core/symbol.hpp"
#include "core/word.hpp"
#include "natives/checksum.hpp"

#include <cstring>

namespace kel {

// ---- method words ------------------------------------------------------------------------------

// Names of the method words, in CompressionMethod order.
static const char* const compression_method_names[COMPRESSION_METHOD_COUNT] = {
    "zlib", "deflate", "gzip",
};
// Symbol ids of the method words; 0 until init_compression_words.
static uint32_t compression_method_symbols[COMPRESSION_METHOD_COUNT];

void init_compression_words() {
    for (uint32_t i = 0; i < COMPRESSION_METHOD_COUNT; i++)
        compression_method_symbols[i] = symbol_make(compression_method_names[i]);
}

int32_t compression_method(const Cell* word) {
    if (!word_type_q(cell_type(word))) return -1;
    uint32_t symbol = symbol_resolve(word_symbol(word));
    for (uint32_t i = 0; i < COMPRESSION_METHOD_COUNT; i++)
        if (compression_method_symbols[i] != 0 && symbol_resolve(compression_method_symbols[i]) == symbol)
            return int32_t(i);
    return -1;
}

// ---- byte helpers ----------------------------------------------------------------------------

static uint32_t le32_get(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

static uint32_t be32_get(const uint8_t* at) {
    return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | uint32_t(at[3]);
}

static void le32_put(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; i++) at[i] = uint8_t(v >> (8 * i));
}

static void be32_put(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; i++) at[i] = uint8_t(v >> (24 - 8 * i));
}

// The size field of a framed result: header + compressed + trailer bytes,
// which a 32-bit field always holds for sources a series can hold.
static uint32_t framed_size(uint32_t packed, uint32_t overhead) {
    uint64_t total = uint64_t(packed) + overhead;
    return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(total);
}

// Compresses the source after a header of header_size bytes, leaving room
// for the trailer; returns the framed size (the size needed when it did not fit).
static uint32_t framed_compress(uint8_t* dest, uint32_t capacity, uint32_t header_size,
                                uint32_t trailer_size, const uint8_t* source, uint32_t length) {
    uint32_t packed = capacity > header_size ? capacity - header_size : 0;
    deflate_compress(packed ? dest + header_size : nullptr, &packed, source, length);
    return framed_size(packed, header_size + trailer_size);
}

// ---- gzip ------------------------------------------------------------------------------------

constexpr uint32_t GZIP_HEADER_SIZE = 10;
constexpr uint32_t GZIP_TRAILER_SIZE = 8;
// Magic, method 8, no flags, time 0, extra flags 4, operating system 4.
static const uint8_t GZIP_HEADER[GZIP_HEADER_SIZE] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 4, 4};

enum GzipFlag : uint8_t {
    GZIP_FHCRC = 2, GZIP_FEXTRA = 4, GZIP_FNAME = 8, GZIP_FCOMMENT = 16, GZIP_FLAGS_KNOWN = 32,
};

// Bytes of output one byte of DEFLATE data can expand to at most: a match of
// 258 bytes costs at least two bits.
constexpr uint64_t DEFLATE_EXPANSION_MAX = 1032;

static bool gzip_header_q(const uint8_t* source, uint32_t length) {
    return length >= 3 && source[0] == 0x1F && source[1] == 0x8B && source[2] == 0x08;
}

int32_t gzip_wrap(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length) {
    uint32_t capacity = dest ? *size : 0;
    if (gzip_header_q(source, length)) {
        *size = length;
        if (capacity < length) return COMPRESS_DEST_SMALL;
        std::memmove(dest, source, length);
        return COMPRESS_DONE;
    }
    uint32_t total = framed_compress(dest, capacity, GZIP_HEADER_SIZE, GZIP_TRAILER_SIZE, source, length);
    *size = total;
    if (total > capacity) return COMPRESS_DEST_SMALL;
    std::memcpy(dest, GZIP_HEADER, GZIP_HEADER_SIZE);
    uint8_t* trailer = dest + total - GZIP_TRAILER_SIZE;
    le32_put(trailer, checksum_crc32(source, length));
    le32_put(trailer + 4, length);
    return COMPRESS_DONE;
}

// Skips past a NUL-terminated header field; false when no NUL comes before end.
static bool gzip_skip_text(const uint8_t* source, uint32_t* pos, uint32_t end) {
    const void* nul = std::memchr(source + *pos, 0, end - *pos);
    if (!nul) return false;
    *pos = uint32_t(static_cast<const uint8_t*>(nul) - source) + 1;
    return true;
}

// The offset of the compressed data after the header and its optional
// fields, or 0 when the header is malformed. The fields must end before end.
static uint32_t gzip_header_end(const uint8_t* source, uint32_t end) {
    uint8_t flags = source[3];
    uint32_t pos = GZIP_HEADER_SIZE;
    if (flags & GZIP_FEXTRA) {
        if (end - pos < 2) return 0;
        uint32_t extra = uint32_t(source[pos]) | uint32_t(source[pos + 1]) << 8;
        pos += 2;
        if (end - pos < extra) return 0;
        pos += extra;
    }
    if ((flags & GZIP_FNAME) && !gzip_skip_text(source, &pos, end)) return 0;
    if ((flags & GZIP_FCOMMENT) && !gzip_skip_text(source, &pos, end)) return 0;
    if (flags & GZIP_FHCRC) {
        if (end - pos < 2) return 0;
        uint32_t stored = uint32_t(source[pos]) | uint32_t(source[pos + 1]) << 8;
        if (stored != (checksum_crc32(source, pos) & 0xFFFF)) return 0;
        pos += 2;
    }
    return pos;
}

// True when a member of at least the smallest size starts at source: magic,
// method 8 and only known flags.
static bool gzip_member_q(const uint8_t* source, uint32_t length) {
    return length >= GZIP_HEADER_SIZE + GZIP_TRAILER_SIZE && source[0] == 0x1F && source[1] == 0x8B &&
           source[2] == 0x08 && source[3] < GZIP_FLAGS_KNOWN;
}

static bool zero_bytes_q(const uint8_t* from, const uint8_t* to) {
    for (; from < to; from++)
        if (*from) return false;
    return true;
}

// A file may hold several members one after another (what concatenating gzip
// files makes); their data joins in order. Zero bytes after the last member
// are padding; anything else there is bad data.
int32_t gzip_unwrap(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length) {
    uint32_t capacity = dest ? *size : 0;
    if (!gzip_member_q(source, length)) return COMPRESS_BAD_DATA;
    uint32_t first = gzip_header_end(source, length - GZIP_TRAILER_SIZE);
    if (!first) return COMPRESS_BAD_DATA;
    // The last trailer's size is the whole result when there is one member,
    // and a lower bound otherwise: below it, nothing needs decoding yet.
    uint32_t expected = le32_get(source + length - 4);
    // A recorded size the data cannot expand to would only make a caller
    // allocate for nothing.
    if (expected > uint64_t(length - GZIP_TRAILER_SIZE - first) * DEFLATE_EXPANSION_MAX)
        return COMPRESS_BAD_DATA;
    if (capacity < expected) {
        *size = expected;
        return COMPRESS_DEST_SMALL;
    }
    uint64_t total = 0;
    uint32_t at = 0;
    for (;;) {
        const uint8_t* member = source + at;
        uint32_t rest = length - at;
        if (!gzip_member_q(member, rest)) return COMPRESS_BAD_DATA;
        uint32_t start = gzip_header_end(member, rest - GZIP_TRAILER_SIZE);
        if (!start) return COMPRESS_BAD_DATA;
        // Bytes past the capacity are counted, not stored.
        uint32_t room = total < capacity ? uint32_t(capacity - total) : 0;
        uint32_t produced = room, used = 0;
        int32_t result =
            deflate_inflate_used(room ? dest + total : nullptr, &produced, member + start, rest - start, &used);
        if (result != COMPRESS_DONE && result != COMPRESS_DEST_SMALL) return result;
        uint32_t trailer = start + used;
        if (rest - trailer < GZIP_TRAILER_SIZE) return COMPRESS_BAD_DATA;
        if (le32_get(member + trailer + 4) != produced) return COMPRESS_BAD_DATA;
        if (result == COMPRESS_DONE) {
            uint32_t crc = produced ? checksum_crc32(dest + total, produced) : 0;
            if (crc != le32_get(member + trailer)) return COMPRESS_BAD_DATA;
        }
        total += produced;
        if (total > 0xFFFFFFFFu) return COMPRESS_BAD_DATA;
        at += trailer + GZIP_TRAILER_SIZE;
        if (zero_bytes_q(source + at, source + length)) break;
    }
    *size = uint32_t(total);
    return total > capacity ? COMPRESS_DEST_SMALL : COMPRESS_DONE;
}

// ---- zlib ------------------------------------------------------------------------------------

constexpr uint32_t ZLIB_HEADER_SIZE = 2;
constexpr uint32_t ZLIB_TRAILER_SIZE = 4;
// Method 8 with a 32 KB window, no dictionary, lowest level; 0x7801 is a
// multiple of 31 as the header check requires.
static const uint8_t ZLIB_HEADER[ZLIB_HEADER_SIZE] = {0x78, 0x01};

int32_t zlib_wrap(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length) {
    uint32_t capacity = dest ? *size : 0;
    uint32_t total = framed_compress(dest, capacity, ZLIB_HEADER_SIZE, ZLIB_TRAILER_SIZE, source, length);
    *size = total;
    if (total > capacity) return COMPRESS_DEST_SMALL;
    std::memcpy(dest, ZLIB_HEADER, ZLIB_HEADER_SIZE);
    be32_put(dest + total - ZLIB_TRAILER_SIZE, checksum_adler32(source, length));
    return COMPRESS_DONE;
}

int32_t zlib_unwrap(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length) {
    uint32_t capacity = dest ? *size : 0;
    if (length < ZLIB_HEADER_SIZE + ZLIB_TRAILER_SIZE) return COMPRESS_BAD_DATA;
    uint32_t cmf = source[0], flg = source[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 15) != 8 || (cmf >> 4) > 7 || (flg & 0x20))
        return COMPRESS_BAD_DATA;
    uint32_t end = length - ZLIB_TRAILER_SIZE;
    uint32_t produced = capacity;
    int32_t result = deflate_inflate(dest, &produced, source + ZLIB_HEADER_SIZE, end - ZLIB_HEADER_SIZE);
    *size = produced;
    if (result != COMPRESS_DONE) return result;
    if (checksum_adler32(dest, produced) != be32_get(source + end)) return COMPRESS_BAD_DATA;
    return COMPRESS_DONE;
}

// ---- methods -----------------------------------------------------------------------------------

using CompressionCodec = int32_t (*)(uint8_t*, uint32_t*, const uint8_t*, uint32_t);

// Encoder and decoder of each method, in CompressionMethod order.
static const struct {
    CompressionCodec encode, decode;
} compression_codecs[COMPRESSION_METHOD_COUNT] = {
    {zlib_wrap, zlib_unwrap},
    {deflate_compress, deflate_inflate},
    {gzip_wrap, gzip_unwrap},
};

int32_t compression_encode(int32_t method, uint8_t* dest, uint32_t* size, const uint8_t* source,
                           uint32_t length) {
    return compression_codecs[method].encode(dest, size, source, length);
}

int32_t compression_decode(int32_t method, uint8_t* dest, uint32_t* size, const uint8_t* source,
                           uint32_t length) {
    return compression_codecs[method].decode(dest, size, source, length);
}

} // namespace kel
