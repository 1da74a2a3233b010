// LZ77 block decompressor. Every read is checked against the block area and
// every copy against the block it belongs to, since the stream may come from
// outside (Kelbin data).
#include "io/compression/lz77.hpp"
#include "runtime/heap.hpp"

namespace kel {

constexpr uint32_t LZ_HEADER_SIZE = 8;  // packed size, unpacked size
constexpr uint32_t LZ_SLACK = 8;        // bytes allocated beyond the unpacked size
// Bytes of output one byte of items can produce at most: a match of 566
// bytes takes 22 bits.
constexpr uint64_t LZ_EXPANSION_MAX = 206;

// Decoder state over the block area: bits come from each byte least
// significant first; a read past the area sets bad.
struct LzReader {
    const uint8_t* area;
    uint32_t size;   // bytes in the block area
    uint32_t pos;    // next byte to load
    uint32_t acc;    // loaded bits, the next one in bit 0
    uint32_t count;  // number of loaded bits
    bool bad;
};

// A field of n bits (n at most 17), its first bit as bit 0.
static uint32_t lz_bits(LzReader* r, uint32_t n) {
    while (r->count < n) {
        if (r->pos >= r->size) {
            r->bad = true;
            return 0;
        }
        r->acc |= uint32_t(r->area[r->pos++]) << r->count;
        r->count += 8;
    }
    uint32_t v = r->acc & ((1u << n) - 1);
    r->acc >>= n;
    r->count -= n;
    return v;
}

// Length field: the prefix picks the range; the copy length is n + 3.
static uint32_t lz_length(LzReader* r) {
    static const struct { uint8_t bits; uint16_t base; } ranges[6] = {
        {2, 0}, {2, 4}, {2, 8}, {3, 12}, {5, 20}, {9, 52},
    };
    uint32_t k = 0;
    while (k < 5 && !lz_bits(r, 1)) k++;
    return ranges[k].base + lz_bits(r, ranges[k].bits) + 3;
}

// Distance field: the number of bytes back minus one.
static uint32_t lz_distance(LzReader* r) {
    uint32_t j = lz_bits(r, 4);
    if (j == 0) return lz_bits(r, 3);
    uint32_t k = j + 2;
    return lz_bits(r, k) + (1u << k);
}

// Decodes the items of one block of length bytes into out. False on corruption.
static bool lz_block(LzReader* r, uint8_t* out, uint32_t length) {
    r->acc = 0;
    r->count = 0;
    uint32_t done = 0;
    while (done < length) {
        if (!lz_bits(r, 1)) {
            uint32_t byte = lz_bits(r, 8);
            if (r->bad) return false;
            out[done++] = uint8_t(byte);
            continue;
        }
        uint32_t n = lz_length(r);
        uint32_t back = lz_distance(r);
        if (r->bad || back >= done || n > length - done) return false;
        const uint8_t* from = out + done - back - 1;
        for (uint32_t i = 0; i < n; i++) out[done + i] = from[i];
        done += n;
    }
    return true;
}

static uint32_t lz_le32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

uint8_t* lz_decompress(const uint8_t* stream, uint32_t length, uint32_t* out_size) {
    if (length < LZ_HEADER_SIZE) return nullptr;
    uint32_t packed = lz_le32(stream);
    uint32_t unpacked = lz_le32(stream + 4);
    if (packed > length - LZ_HEADER_SIZE) return nullptr;
    if (unpacked > uint64_t(packed) * LZ_EXPANSION_MAX) return nullptr;
    uint64_t capacity = uint64_t(unpacked) + LZ_SLACK;
    auto* out = static_cast<uint8_t*>(heap_alloc(size_t(capacity)));
    LzReader r{stream + LZ_HEADER_SIZE, packed, 0, 0, 0, false};
    uint64_t used = 0;
    while (r.pos < packed) {
        uint32_t block = packed - r.pos < 4 ? 0 : lz_le32(r.area + r.pos);
        r.pos += 4;
        if (block < 1 || block > LZ_BLOCK_MAX || block > capacity - used ||
            !lz_block(&r, out + used, block)) {
            heap_free(out);
            return nullptr;
        }
        used += block;
    }
    *out_size = uint32_t(used);
    return out;
}

} // namespace kel
