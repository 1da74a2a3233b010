// The gzip (RFC 1952) and zlib (RFC 1950) containers around the DEFLATE codec,
// and the method words zlib, deflate and gzip by which compress and
// decompress name them. Every operation takes a destination (null with
// capacity 0 for a sizing pass), a size field (capacity in, size out), a
// source and its length, and returns a CompressResult.
#pragma once
#include "runtime/cell.hpp"
#include "io/compression/deflate.hpp"
#include <cstdint>

namespace kel {

enum CompressionMethod : int32_t {
    COMPRESSION_ZLIB, COMPRESSION_DEFLATE, COMPRESSION_GZIP, COMPRESSION_METHOD_COUNT
};

// Interns the method words; runs once during runtime initialisation, after
// the symbol table exists.
void init_compression_words();
// The method a word names (any word type, ignoring case), or -1.
int32_t compression_method(const Cell* word);

// gzip member of the source: a 10-byte header (no name, time 0, OS 4), the
// compressed data, then CRC-32 and length. A source that already starts with
// a gzip header is copied unchanged.
int32_t gzip_wrap(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length);
// The data of a gzip member. When the capacity is below the length recorded
// in the trailer, reports that length with COMPRESS_DEST_SMALL without
// decoding; a length the data could never expand to is COMPRESS_BAD_DATA.
int32_t gzip_unwrap(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length);
// zlib stream of the source: header 78 01, the compressed data, Adler-32.
int32_t zlib_wrap(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length);
// The data of a zlib stream, checked against its Adler-32.
int32_t zlib_unwrap(uint8_t* dest, uint32_t* size, const uint8_t* source, uint32_t length);

// The compressor or decompressor of a method.
int32_t compression_encode(int32_t method, uint8_t* dest, uint32_t* size, const uint8_t* source,
                           uint32_t length);
int32_t compression_decode(int32_t method, uint8_t* dest, uint32_t* size, const uint8_t* source,
                           uint32_t length);

} // namespace kel
