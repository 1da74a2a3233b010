// DEFLATE streams between caller-owned memory areas. The compressor writes one
// final block with the fixed Huffman codes, finding matches through a small
// hash of recent positions; the decompressor reads stored, fixed and dynamic
// blocks. Both accept a destination that may be too small (or null with
// capacity 0): they go on counting and report the size the whole result
// needs, so a caller can size its buffer and run again.
#pragma once
#include <cstdint>

namespace kel {

// Result codes shared by the DEFLATE codec and its gzip and zlib framings.
enum CompressResult : int32_t {
    COMPRESS_DONE = 0,              // finished; the size field holds the bytes written
    COMPRESS_DEST_SMALL = 1,        // destination too small; the size field holds the size needed
    COMPRESS_BAD_DATA = 2,          // malformed or inconsistent data
    COMPRESS_STORED_PAST_INPUT = 3, // a stored block runs past the end of the input
    COMPRESS_BAD_BLOCK_TYPE = 4,    // block type 3
    COMPRESS_BAD_DISTANCE = 5,      // a distance reaches before the start of the output
};

// Compresses length bytes of source. On entry *size is the destination's
// capacity; on return it is the size of the whole compressed stream, also
// when it did not fit (result COMPRESS_DEST_SMALL). Result COMPRESS_DONE or
// COMPRESS_DEST_SMALL.
int32_t deflate_compress(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length);

// Decompresses a DEFLATE stream of length bytes. On entry *size is the
// destination's capacity; on return it is the number of bytes the stream
// produced (those past the capacity are counted, not stored). Trailing bytes
// after the final block are ignored. Returns a CompressResult; a stream that
// ends before its final block, reads past its input, uses an undefined code
// or would expand past 4 GB is COMPRESS_BAD_DATA.
int32_t deflate_inflate(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length);
// The same, also storing in *used how many input bytes the stream took up to
// the end of its final block (framings read their trailer from there).
int32_t deflate_inflate_used(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length,
                             uint32_t* used);

} // namespace kel
