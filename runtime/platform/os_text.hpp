// Text at the operating-system boundary: the one mapping between the bytes
// the OS keeps (file names, arguments, environment, process output, the
// clipboard, standard output) and the characters of a string. Lossless for any
// bytes; see os_text.cpp for the mapping itself.
#pragma once
#include <cstdint>

namespace kel {

// The reserved code points that stand for the bytes 0x80-0xFF which are not
// part of valid UTF-8: U+DC80 for 0x80 up to U+DCFF for 0xFF.
constexpr uint32_t OS_BYTE_FIRST = 0xDC80;
constexpr uint32_t OS_BYTE_LAST = 0xDCFF;

// Decodes one character of OS text at p (p < end): returns the address after
// it and stores its code point. Never fails; always advances.
const uint8_t* os_text_decode_char(const uint8_t* p, const uint8_t* end, uint32_t* codepoint);

// Writes the OS bytes of one code point (at most 4, no more than 0x10FFFF);
// returns their count.
uint32_t os_text_encode_char(uint32_t codepoint, uint8_t* out);

} // namespace kel
