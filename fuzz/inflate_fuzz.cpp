// Fuzz target of the decoders of compressed data: raw DEFLATE, gzip, zlib and
// the LZ77 block stream. Each input is decoded with a sizing pass, into a
// buffer of exactly the size asked for, and into one that is too small; the
// result codes must agree and nothing may be read or written out of bounds.
// Every decoded stream must also survive a round trip through the compressor.
#include "io/compression/deflate.hpp"
#include "io/compression/framing.hpp"
#include "io/compression/lz77.hpp"
#include "runtime/heap.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using Codec = int32_t (*)(uint8_t*, uint32_t*, const uint8_t*, uint32_t);

// Decodes into buffers of the exact size requested; returns the result of the
// sized run (or of the sizing pass when it failed).
void decode(Codec codec, const uint8_t* data, uint32_t size) {
    uint32_t need = 0;
    int32_t sizing = codec(nullptr, &need, data, size);
    if (sizing != kel::COMPRESS_DONE && sizing != kel::COMPRESS_DEST_SMALL) return;
    // Decoding at most a few MB keeps runs fast; the size alone was checked.
    if (need > (8u << 20)) return;
    std::unique_ptr<uint8_t[]> dest(new uint8_t[need ? need : 1]);
    uint32_t got = need;
    int32_t result = codec(dest.get(), &got, data, size);
    if (result == kel::COMPRESS_DEST_SMALL && codec != kel::gzip_unwrap) std::abort();
    if (result == kel::COMPRESS_DONE && got > need) std::abort();
    if (need > 1) {
        std::unique_ptr<uint8_t[]> small(new uint8_t[need / 2]);
        uint32_t half = need / 2;
        codec(small.get(), &half, data, size);
    }
    if (result != kel::COMPRESS_DONE || codec != kel::deflate_inflate) return;
    // The decoded bytes compress and decode back to themselves.
    uint32_t packed = 0;
    kel::deflate_compress(nullptr, &packed, dest.get(), got);
    std::unique_ptr<uint8_t[]> stream(new uint8_t[packed]);
    if (kel::deflate_compress(stream.get(), &packed, dest.get(), got) != kel::COMPRESS_DONE) std::abort();
    std::unique_ptr<uint8_t[]> again(new uint8_t[got ? got : 1]);
    uint32_t back = got;
    if (kel::deflate_inflate(again.get(), &back, stream.get(), packed) != kel::COMPRESS_DONE || back != got ||
        std::memcmp(again.get(), dest.get(), got) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t length = uint32_t(size);
    decode(kel::deflate_inflate, data, length);
    decode(kel::zlib_unwrap, data, length);
    decode(kel::gzip_unwrap, data, length);
    uint32_t produced = 0;
    if (uint8_t* out = kel::lz_decompress(data, length, &produced)) {
        if (produced > 0) std::memset(out, 0, produced);  // every byte reported is addressable
        kel::heap_free(out);
    }
    return 0;
}
