// binary!: the byte string of the language, written #{...} in hexadecimal. A
// binary value is a series cell (word 1 the head index in bytes, word 2 the
// node of a unit-1 buffer); it takes the positional and search actions from
// string! and has its own conversion, printing, comparison, modification and
// bitwise actions. The module also holds the byte-level helpers other
// modules build binaries with, and the base 2, 16, 58 and 64 codecs.
//
// Cells given to functions that can allocate must not lie in a series buffer:
// keep them on the data stack or in a CellRoot.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

// ---- construction and byte access ------------------------------------------------------

// An empty binary with room for capacity bytes, written into cell (typed
// unset while the buffer is allocated); returns the cell.
Cell* binary_init(Cell* cell, uint32_t capacity);
// A new binary holding a copy of count bytes (which must not lie in a series
// buffer): appended at the tail of parent, or pushed when parent is 0. The
// cell is valid until the next allocation.
Cell* binary_load(const uint8_t* bytes, uint32_t count, Node parent);
inline Cell* binary_push_bytes(const uint8_t* bytes, uint32_t count) { return binary_load(bytes, count, 0); }
// Pushes a copy of the cell (the same buffer and position).
Cell* binary_push(const Cell* binary);

// Bytes from the position to the tail; the position is clamped to the tail.
uint32_t binary_length(Cell* binary);
// Address of the byte at the position; valid until the next allocation.
uint8_t* binary_head_pointer(Cell* binary);
// The byte at an offset counted from the buffer's head (not the position).
uint8_t binary_byte_at(const Cell* binary, uint32_t index);

// Appends count bytes at the tail, growing the buffer. The bytes must not lie
// in a series buffer.
void binary_append_bytes(Cell* binary, const uint8_t* bytes, uint32_t count);
// Inserts count bytes at position + offset; a buffer too small grows to twice
// its capacity plus count. The bytes must not lie in a series buffer.
void binary_insert_bytes(Cell* binary, uint32_t offset, const uint8_t* bytes, uint32_t count);
// Appends the 4 bytes of value, most significant first.
void binary_append_int32_be(int32_t value, Cell* binary);
// Stores the low 8 bits of an integer! or the code of a char! at the
// address; any other value raises script error invalid-arg.
void binary_byte_from_value(uint8_t* at, const Cell* value);

// ---- comparison and matching -------------------------------------------------------------

// Compares the bytes of a from its position with those of b (a binary! or a
// string-family value, whose buffer bytes are compared as stored) by a
// CompareOp: -1, 0, 1, or -2 when b has another type. With prefix, 0 means
// b's bytes start a.
int32_t binary_compare_bytes(const Cell* a, const Cell* b, int32_t op, bool prefix);
// The parse test at the binary's position: a text or binary value as a
// prefix, a char! as one byte; any other value never matches.
bool binary_match_value_q(const Cell* binary, const Cell* value, int32_t op);
// Whether the byte at the position is in the bitset (a byte beyond the
// bitset's bits answers its negation flag).
bool binary_byte_in_bitset_q(const Cell* binary, const Cell* bitset);

// ---- byte images of values ------------------------------------------------------------------

// Modes of binary_value_bytes.
enum ValueBytesMode : int32_t {
    BYTES_MEASURE = 0,  // measure; other types raise bad-to-arg
    BYTES_WRITE = 1,    // write; other types raise bad-to-arg
    BYTES_ANY = 2,      // measure without a destination, else write; other types are formed
};
// Measures, or writes at byte offset `at` from the head of dest's buffer
// (which must have room), the bytes a value adds to a binary; returns the
// count. limit < 0 is no limit; for a block without only it counts cells.
// dest must not lie in a series buffer.
uint32_t binary_value_bytes(Cell* dest, uint32_t at, const Cell* value, int32_t limit, bool only,
                            int32_t mode);
// The hex-decoded name of an issue!, written into result as a new binary;
// with size_only nothing is made and the byte length of the name is returned.
// A name that is not hexadecimal raises script error invalid-data.
uint32_t issue_to_binary(const Cell* issue, Cell* result, bool size_only);

// ---- codecs -----------------------------------------------------------------------------------
// Encoders write their characters at out (the caller provides room: 8 per
// byte for base 2, 2 for base 16, 2 for base 58, 4 per 3 bytes rounded up for
// base 64) and return the address after the last one. No line breaks.

char* base2_encode(char* out, const uint8_t* bytes, uint32_t count);
char* base16_encode(char* out, const uint8_t* bytes, uint32_t count);
char* base58_encode(char* out, const uint8_t* bytes, uint32_t count);
char* base64_encode(char* out, const uint8_t* bytes, uint32_t count);

// Decoders read count characters of a buffer unit (1, 2 or 4) and return the
// node of a new byte series, or 0 when the text is invalid. ";" starts a
// comment that runs to the next line feed. The text may lie in a series
// buffer: it is read before anything is allocated. Any code of 128 or more is
// invalid in base 2, 16 and 64; it ends the input in base 58.
Node base2_decode(const uint8_t* text, uint32_t count, uint32_t unit);
Node base16_decode(const uint8_t* text, uint32_t count, uint32_t unit);
Node base58_decode(const uint8_t* text, uint32_t count, uint32_t unit);
Node base64_decode(const uint8_t* text, uint32_t count, uint32_t unit);

// The reader of a binary literal: the UTF-8 digits between the braces
// in base 2, 16 or 64, where an odd count of hex digits, a partial byte of
// bits or a base-64 group without its padding is invalid. Writes the binary!
// into out and answers true, or answers false.
bool scan_binary(const uint8_t* start, const uint8_t* end, int base, Cell* out);

// ---- actions ------------------------------------------------------------------------------------

const Cell* binary_to(Cell* proto, const Cell* spec, uint8_t type);
int32_t binary_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent);
int32_t binary_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent);
// Writes the bytes in hex, framed by "#{" and "}" unless bare; returns the
// remaining budget.
int32_t binary_mold_bytes(const Cell* binary, Cell* target, bool bare, bool flat, bool part,
                          int32_t budget, int32_t indent);
int32_t binary_compare(const Cell* value1, const Cell* value2, int32_t op);
void binary_and(Cell* value1, const Cell* value2);
void binary_or(Cell* value1, const Cell* value2);
void binary_xor(Cell* value1, const Cell* value2);
const Cell* binary_complement(Cell* value);
void binary_insert(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup, bool append);
void binary_change(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
void binary_trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with);

// Registers binary! (parent string!).
void init_binary();

} // namespace kel
