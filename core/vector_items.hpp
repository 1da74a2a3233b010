// The items of a vector!: a packed buffer of numbers of one item type, whose
// buffer unit is the item size. char! and integer! items take 1, 2 or 4 bytes
// and read back signed; float! items 4 bytes (single precision) or 8; percent!
// items 8 bytes holding the fraction. Items are little-endian.
//
// A vector cell: word 1 the head index in items, word 2 the buffer's node,
// word 3 the item type id (T_CHAR, T_INTEGER, T_FLOAT or T_PERCENT).
//
// The series code reads and writes items through these; the vector! module
// (datatypes/vector.hpp) builds its actions on them.
#pragma once
#include "core/series.hpp"
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kel {

inline uint8_t vector_item_type(const Cell* vector) { return uint8_t(vector->w3); }
// The item size in bytes (1, 2, 4 or 8).
inline uint32_t vector_unit(const Cell* vector) { return series_buffer_of(vector)->unit(); }
// Items in the whole buffer.
inline uint32_t vector_buffer_length(const Cell* vector) {
    SeriesBuffer* b = series_buffer_of(vector);
    return (b->tail - b->head) / b->unit();
}
// The position in items, clamped to the buffer.
inline uint32_t vector_index(const Cell* vector) {
    int32_t index = series_index(vector);
    return index < 0 ? 0 : std::min(uint32_t(index), vector_buffer_length(vector));
}
// Items from the position (clamped) to the tail.
inline uint32_t vector_length(const Cell* vector) { return vector_buffer_length(vector) - vector_index(vector); }
// The default unit of an item type: 4 for char!/integer!, 8 for float!/percent!.
inline uint32_t vector_default_unit(uint8_t item_type) {
    return item_type == T_FLOAT || item_type == T_PERCENT ? 8 : 4;
}
inline bool vector_float_items_q(uint8_t item_type) { return item_type == T_FLOAT || item_type == T_PERCENT; }

// The address of the item at an absolute index; valid until the next allocation.
inline uint8_t* vector_item_address(const Cell* vector, uint32_t index) {
    SeriesBuffer* b = series_buffer_of(vector);
    return b->head_ptr() + size_t(index) * b->unit();
}

// The signed integer of an integer or char item.
inline int32_t vector_int_item(const uint8_t* at, uint32_t unit) {
    switch (unit) {
    case 1: return int8_t(*at);
    case 2: { int16_t v; std::memcpy(&v, at, 2); return v; }
    default: { int32_t v; std::memcpy(&v, at, 4); return v; }
    }
}

// The double of a float or percent item.
inline double vector_float_item(const uint8_t* at, uint32_t unit) {
    if (unit == 8) { double d; std::memcpy(&d, at, 8); return d; }
    float f;
    std::memcpy(&f, at, 4);
    return double(f);
}

// Writes a value as one item at an address. The value is converted to the
// item type: numbers and chars into integer/char items by their low bits (a
// float truncated toward zero; beyond 32 bits script error out-of-range),
// into float/percent items as a double or a single. Anything else raises
// script error invalid-type with the value's datatype. Never writes past the
// item.
void vector_store_item(uint8_t* at, const Cell* value, uint32_t unit, uint8_t item_type);
// The item at an address as a value written into out.
void vector_item_value(const uint8_t* at, uint32_t unit, uint8_t item_type, Cell* out);
// The same, pushed on the data stack.
Cell* vector_push_item(const uint8_t* at, uint32_t unit, uint8_t item_type);
// The item at an absolute index as a value written into out.
void vector_item_at(const Cell* vector, uint32_t index, Cell* out);
// A new block of the items from the position written into out.
void vector_to_block(const Cell* vector, Cell* out);

} // namespace kel
