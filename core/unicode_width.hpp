// How many terminal columns a character takes: the widths a terminal gives
// East Asian wide and fullwidth characters, emoji, combining marks and the
// characters that are never drawn.
#pragma once
#include <cstdint>

namespace kel {

// 0 for a combining mark, a format character and the controls below 32 and
// from 127 to 159; 2 for an East Asian wide or fullwidth character and the
// emoji shown as such; 1 for every other character.
int unicode_char_width(uint32_t c);

} // namespace kel
