// The two text writers form and mold have always used, kept as thin wrappers
// over the string module: an empty string! to write into and Latin-1 bytes
// appended at its tail.
#pragma once
#include "runtime/cell.hpp"
#include "core/string.hpp"
#include <cstdint>

namespace kel {

// An empty string! (unit 1, room for at least `capacity` characters) written
// into the cell.
inline void string_make_empty_at(Cell* cell, uint32_t capacity) { string_make_at(cell, capacity); }

// Appends len Latin-1 characters at the tail of the target string; each byte
// becomes one character at the buffer's unit.
inline void string_append_ascii(Cell* target, const char* text, uint32_t len) {
    string_concatenate_bytes(target, text, len);
}

} // namespace kel
