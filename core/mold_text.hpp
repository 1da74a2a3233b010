// The few string operations that form and mold need to write text: an empty
// string! value to write into and appending byte text at its tail.
#pragma once
#include "core/cell.hpp"
#include <cstdint>

namespace kel {

// An empty string! (unit 1, room for at least `capacity` characters) written
// into the cell: word 1 the head index 0, word 2 the series node, word 3 no
// conversion buffer.
void string_make_empty_at(Cell* cell, uint32_t capacity);

// Appends len Latin-1 characters at the tail of the target string, growing its
// buffer when full. Each byte becomes one character at the buffer's unit.
void string_append_ascii(Cell* target, const char* text, uint32_t len);

} // namespace kel
