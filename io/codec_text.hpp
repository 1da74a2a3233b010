// Text helpers shared by the JSON and CSV codecs: strings made from and read
// into plain character arrays, so that a codec can work on characters in C++
// memory between allocations.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <string>
#include <string_view>

namespace kel {

// A new string! of count characters at the unit, pushed, whose characters
// the caller writes through *buffer before the next allocation.
Cell* string_push_sized(uint32_t count, uint32_t unit, SeriesBuffer** buffer);

// A new string! of the characters, pushed, at the narrowest unit that holds
// them.
Cell* string_push_chars(std::u32string_view chars);

// The characters of a string-family value from its position, into out.
void string_chars_of(const Cell* string, std::u32string* out);

} // namespace kel
