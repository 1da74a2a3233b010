// The bits of a bitset!: a set of non-negative integers (character codes in
// practice) kept as a bit array. Bit n lives in byte n div 8 under the mask
// 0x80 >> (n mod 8).
//
// A bitset cell: word 2 the node of a byte buffer (unit 1) whose stored bytes
// run from head to tail. The stored bits tell membership directly for codes
// below the stored bit count; the buffer's SERIES_NEGATED flag gives the
// membership of every code at or above it (set: member).
//
// The string code tests membership through these; the bitset! module
// (datatypes/bitset.hpp) builds, changes and prints bitsets.
#pragma once
#include "core/series.hpp"
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

inline bool bitset_negated_q(const Cell* bitset) { return series_buffer_of(bitset)->flags & SERIES_NEGATED; }
// Stored bytes.
inline uint32_t bitset_byte_count(const Cell* bitset) {
    SeriesBuffer* b = series_buffer_of(bitset);
    return b->tail - b->head;
}
// Address of the first stored byte; valid until the next allocation.
inline uint8_t* bitset_data(const Cell* bitset) { return series_buffer_of(bitset)->head_ptr(); }
// True when n is negative or its byte lies at or past the stored bytes.
inline bool bitset_out_of_range_q(const Cell* bitset, int64_t n) {
    return n < 0 || (n >> 3) >= int64_t(bitset_byte_count(bitset));
}
// The mask of bit n in its byte.
inline uint8_t bitset_bit_mask(uint32_t n) { return uint8_t(0x80 >> (n & 7)); }
// Whether code n is a member (codes beyond the stored bits answer the flag).
inline bool bitset_member_q(const Cell* bitset, int64_t n) {
    if (n < 0) return false;
    if (bitset_out_of_range_q(bitset, n)) return bitset_negated_q(bitset);
    return bitset_data(bitset)[n >> 3] & bitset_bit_mask(uint32_t(n));
}

} // namespace kel
