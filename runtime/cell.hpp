// Value cells: every Kel value is a 16-byte cell of four 32-bit words. Word 0 is
// the header (type id in the low byte, flags above it); words 1-3 are the
// payload, laid out per datatype family. Payload words hold 32-bit handles
// (series nodes, symbol ids, table indices), never host pointers, so the layout
// is the same on every host.
#pragma once
#include <cstdint>
#include <cstring>
#include <bit>

namespace kel {

// Type ids are fixed: serialised data and the registry index by them.
enum TypeId : uint8_t {
    T_NONE_ID = 0,  // never registered
    T_DATATYPE = 1, T_UNSET, T_NONE, T_LOGIC, T_BLOCK, T_PAREN, T_STRING, T_FILE,
    T_URL, T_CHAR, T_INTEGER, T_FLOAT, T_SYMBOL, T_CONTEXT, T_WORD, T_SET_WORD,
    T_LIT_WORD, T_GET_WORD, T_REFINEMENT, T_ISSUE, T_NATIVE, T_ACTION, T_OP,
    T_FUNCTION, T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH, T_ROUTINE, T_BITSET,
    T_TRIPLE, T_OBJECT, T_TYPESET, T_ERROR, T_VECTOR, T_HASH, T_PAIR, T_PERCENT,
    T_TUPLE, T_MAP, T_BINARY, T_SERIES, T_TIME, T_TAG, T_EMAIL, T_HANDLE, T_DATE,
    T_PORT, T_MONEY, T_REF, T_POINT2D, T_POINT3D, T_IMAGE, T_EVENT,
};
constexpr int TYPE_COUNT = 57;        // ids 0..56 have room in the registry
constexpr int LAST_TYPE_ID = T_EVENT; // 54

// Header flags shared by every type.
constexpr uint32_t CELL_NEWLINE = 0x40000000;  // a line break stands before the value in its block
constexpr uint32_t CELL_TYPE_MASK = 0xFF;

struct Cell {
    uint32_t header;
    uint32_t w1, w2, w3;
};
static_assert(sizeof(Cell) == 16, "a cell is four 32-bit words");

inline uint8_t cell_type(const Cell* c) { return uint8_t(c->header & CELL_TYPE_MASK); }

// Replaces the type id and keeps the flags.
inline void cell_type_set(Cell* c, uint8_t type) {
    c->header = (c->header & ~CELL_TYPE_MASK) | type;
}

inline void cell_clear_newline(Cell* c) { c->header &= ~CELL_NEWLINE; }

// The one way values are copied; copying a cell onto itself does nothing.
inline void cell_copy(const Cell* src, Cell* dst) {
    if (src != dst) std::memcpy(dst, src, sizeof(Cell));
}

// A new cell of the given type with an empty payload (flags cleared).
inline void cell_init(Cell* c, uint8_t type) { c->header = type; c->w1 = c->w2 = c->w3 = 0; }

// Doubles live in payload words 2-3 (low word first, as on x86).
inline double cell_double(const Cell* c) {
    uint64_t bits = uint64_t(c->w2) | (uint64_t(c->w3) << 32);
    return std::bit_cast<double>(bits);
}
inline void cell_set_double(Cell* c, double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    c->w2 = uint32_t(bits);
    c->w3 = uint32_t(bits >> 32);
}

// The two words of the double as they lie: low (word 2) and high (word 3).
inline uint32_t cell_double_low(const Cell* c) { return c->w2; }
inline uint32_t cell_double_high(const Cell* c) { return c->w3; }

// integer! and char!: word 2.
inline int32_t cell_int(const Cell* c) { return int32_t(c->w2); }
// Writes the number, the header kept.
inline void cell_set_int(Cell* c, int32_t n) { c->w2 = uint32_t(n); }

// True when the three payload words of two cells are the same bits: the
// equality of values whose type compares nothing else.
inline bool cell_payload_same(const Cell* a, const Cell* b) {
    return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
}

// The 12 payload bytes, for types whose payload is one byte record (typeset!,
// tuple!, money!) and for codecs that copy a payload whole.
inline const uint8_t* cell_payload(const Cell* c) { return reinterpret_cast<const uint8_t*>(&c->w1); }
inline uint8_t* cell_payload(Cell* c) { return reinterpret_cast<uint8_t*>(&c->w1); }

} // namespace kel
