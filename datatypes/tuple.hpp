// tuple!: 3 to 12 unsigned bytes written with dots (1.2.3, 255.0.0.128), used
// for versions and colours (red.green.blue with an optional alpha byte). It
// lives wholly in its cell; its arithmetic works byte by byte and saturates
// at 0 and 255.
//
// Cell: the header holds the byte count in bits 19-22; byte 1 is the lowest
// byte of word 1, byte 5 the lowest of word 2, and so on. Bytes past the
// count are 0 in every tuple made here.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

constexpr uint32_t TUPLE_COUNT_SHIFT = 19;
constexpr uint32_t TUPLE_COUNT_MASK = 0xFu << TUPLE_COUNT_SHIFT;
constexpr uint32_t TUPLE_MIN_BYTES = 3;
constexpr uint32_t TUPLE_MAX_BYTES = 12;

// ---- cells -----------------------------------------------------------------

inline uint32_t tuple_count(const Cell* c) { return (c->header & TUPLE_COUNT_MASK) >> TUPLE_COUNT_SHIFT; }
// Byte i (0-based) of the payload.
inline uint8_t tuple_byte(const Cell* c, uint32_t i) {
    const uint32_t* words = &c->w1;
    return uint8_t(words[i / 4] >> (8 * (i % 4)));
}
inline void tuple_byte_set(Cell* c, uint32_t i, uint8_t byte) {
    uint32_t* words = &c->w1;
    uint32_t shift = 8 * (i % 4);
    words[i / 4] = (words[i / 4] & ~(0xFFu << shift)) | (uint32_t(byte) << shift);
}

// Makes the cell a tuple of count bytes (3 to 12) with the given payload
// words, keeping the other header flags; returns the cell.
Cell* tuple_init(Cell* cell, uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3);
// Pushes a tuple cell with header count << 19 | tuple! and the payload words.
Cell* tuple_push(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3);
// Pushes a tuple of the low bytes of count values (at most 12); fewer than 3
// are padded with zero bytes to 3.
Cell* tuple_from_bytes(uint32_t count, const uint32_t* values);
// At most 12 bytes of a binary! from its head into cell (header exactly a
// tuple!); fewer than 3 are padded with zeros.
void tuple_from_binary(const Cell* binary, Cell* cell);
// The colour of an issue such as #F80, #FF8800 or #FF880080 written into
// out: 3 hexadecimal digits repeat each digit, 6 give red, green, blue, 8 add
// alpha. Any other length or a character that is not a hexadecimal digit
// raises script error invalid-data with the issue.
void tuple_from_issue(const Cell* issue, Cell* out);
// A 3-byte colour (alpha -1, meaning none) or a 4-byte one; words 2 and 3 become 0.
void tuple_rgba(Cell* cell, int32_t red, int32_t green, int32_t blue, int32_t alpha);
// True when every byte within the count is 0.
bool tuple_zero_q(const Cell* tuple);
// The path setter: an index outside 1 to the count raises script error
// out-of-range; an integer! is clamped to 0-255 and stored; none clears the
// bytes from the index on and shortens the tuple to index - 1 bytes, never
// below 3.
void tuple_poke(Cell* tuple, int32_t index, const Cell* value);

// The arithmetic kernel; `a` receives the result. When `a` is not a tuple
// (the integer! and float! kernels hand over with the tuple second), subtract
// and divide raise script error not-related and the other operations run
// with the operands exchanged. Operands are unchanged on error.
void tuple_math_op(Cell* a, const Cell* b, int32_t op);

// ---- actions ---------------------------------------------------------------

const Cell* tuple_to(Cell* proto, const Cell* spec, uint8_t type);
int32_t tuple_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t tuple_compare(const Cell* value1, const Cell* value2, int32_t op);
// Path selection: without set_value the byte is written into out; with one,
// tuple_poke on parent and the set value is written into out.
void tuple_eval_path(Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                     bool case_, Cell* out);
void tuple_add(Cell* value1, const Cell* value2);
void tuple_subtract(Cell* value1, const Cell* value2);
void tuple_multiply(Cell* value1, const Cell* value2);
void tuple_divide(Cell* value1, const Cell* value2);
void tuple_remainder(Cell* value1, const Cell* value2);
void tuple_and(Cell* value1, const Cell* value2);
void tuple_or(Cell* value1, const Cell* value2);
void tuple_xor(Cell* value1, const Cell* value2);
const Cell* tuple_complement(Cell* value);
int32_t tuple_length_q(const Cell* value);
void tuple_pick(Cell* value, const Cell* index);
// reverse tuple /part length /skip size; a null refinement argument was not given.
void tuple_reverse(Cell* value, const Cell* part, const Cell* skip);

// ---- literal text ----------------------------------------------------------

// Reads a tuple literal: 3 to 12 decimal numbers from 0 to 255 separated by
// single dots (1.2.3). Writes the tuple into out (keeping out's other header
// flags) and returns true, or returns false with out untouched.
bool scan_tuple(const uint8_t* start, const uint8_t* end, Cell* out);

// Registers tuple! (type 39) with its 62 slots.
void init_tuple();

} // namespace kel
