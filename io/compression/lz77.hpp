// The runtime's own compressed-stream format: a packed size and an unpacked
// size (32-bit little-endian), then independently decoded LZ77 blocks, each a
// 32-bit output length L (1 to 1,048,576) and items packed least significant
// bit first: flag 0 and a literal byte, or flag 1, a length field and a
// distance field. It carries the compressed tables unpacked at start-up and
// the compressed payload of Kelbin data.
#pragma once
#include <cstdint>

namespace kel {

// Largest output length of one block.
constexpr uint32_t LZ_BLOCK_MAX = 1048576;

// Decodes the stream held in the length bytes at stream. Returns a buffer
// from the general-purpose heap (unpacked size + 8 bytes; the caller frees it
// with heap_free) and stores the bytes produced in *out_size; returns null
// when the stream is corrupt: it runs past length, a block's length or
// reservation is out of range, a match reaches before its block or past its
// length, or the unpacked size is more than the blocks could produce.
uint8_t* lz_decompress(const uint8_t* stream, uint32_t length, uint32_t* out_size);

} // namespace kel
