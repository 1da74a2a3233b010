// UTF-8 of single characters over byte ranges, for the runtime's own text
// (standard output, OS text) and for the codecs of core/unicode.hpp built on
// it. Nothing here allocates or raises.
#pragma once
#include <cstdint>

namespace kel {

constexpr uint32_t CODEPOINT_MAX = 0x10FFFF;

// True for the surrogate code points U+D800-U+DFFF, which no valid UTF-8 holds.
inline bool codepoint_surrogate_q(uint32_t codepoint) {
    return codepoint >= 0xD800 && codepoint <= 0xDFFF;
}

// Decodes one character with the UTF-8 automaton, reading no byte at or past
// end. Returns the address after the sequence and stores the code point. On
// an invalid byte the code point is -1 and the returned address is that of the
// offending byte (the start itself when the first byte is invalid); a sequence
// cut short by end gives -1 and end.
const uint8_t* utf8_decode_char(const uint8_t* p, const uint8_t* end, int32_t* codepoint);

// Writes the 1 to 4 bytes of a code point of at most CODEPOINT_MAX; returns
// their count. A surrogate is written as U+FFFD.
inline uint32_t utf8_write_char(uint32_t codepoint, uint8_t* out) {
    if (codepoint < 0x80) {
        out[0] = uint8_t(codepoint);
        return 1;
    }
    if (codepoint < 0x800) {
        out[0] = uint8_t(0xC0 | (codepoint >> 6));
        out[1] = uint8_t(0x80 | (codepoint & 0x3F));
        return 2;
    }
    if (codepoint < 0x10000) {
        // A surrogate has no UTF-8 form: a lone one (from a char! or a
        // \u escape, or a byte kept from the OS) is written as U+FFFD, so
        // that UTF-8 made here always reads back.
        if (codepoint_surrogate_q(codepoint)) codepoint = 0xFFFD;
        out[0] = uint8_t(0xE0 | (codepoint >> 12));
        out[1] = uint8_t(0x80 | ((codepoint >> 6) & 0x3F));
        out[2] = uint8_t(0x80 | (codepoint & 0x3F));
        return 3;
    }
    out[0] = uint8_t(0xF0 | (codepoint >> 18));
    out[1] = uint8_t(0x80 | ((codepoint >> 12) & 0x3F));
    out[2] = uint8_t(0x80 | ((codepoint >> 6) & 0x3F));
    out[3] = uint8_t(0x80 | (codepoint & 0x3F));
    return 4;
}

} // namespace kel
