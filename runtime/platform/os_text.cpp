// The mapping between OS bytes and characters, used wherever text crosses to
// or from the operating system: command-line arguments and the script's path,
// directory listings and every file name given back to the OS, the
// environment, a child's command line, input and captured output, clipboard
// text and file lists, and what is printed to standard output and error.
//
// On Linux all of these are byte strings. Most are UTF-8, but any may hold
// bytes that are not, and such a name must still be listed, opened, renamed
// and passed on unchanged. So:
//
//   bytes to characters: each well-formed UTF-8 sequence (shortest form, no
//     surrogate, at most U+10FFFF) is its code point; each byte that does not
//     begin such a sequence (always one of 0x80-0xFF) becomes the reserved
//     code point U+DC00 + byte (U+DC80-U+DCFF), one character per byte.
//   characters to bytes: U+DC80-U+DCFF become the one byte each stands for;
//     every other code point is written as UTF-8 (utf8_write_char, which
//     writes a surrogate outside that range as U+FFFD).
//
// Valid UTF-8 is unchanged in both directions, and any bytes come back as
// they were: bytes -> characters -> bytes is the identity, because the
// reserved code points are surrogates, which valid UTF-8 never holds (the
// three bytes ED B2 80 of a would-be U+DC80 are themselves three reserved
// characters). The reserved characters are ordinary string characters in the
// language: they compare, sort, join and mold (as "^(DCFF)") like any other.
// Where text must be valid UTF-8 (write to a file, to-json, binary!), a lone
// surrogate is never written as such (see core/unicode.cpp and library/json.kel).
#include "runtime/platform/os_text.hpp"
#include "runtime/utf8.hpp"

namespace kel {

const uint8_t* os_text_decode_char(const uint8_t* p, const uint8_t* end, uint32_t* codepoint) {
    int32_t c;
    const uint8_t* after = utf8_decode_char(p, end, &c);
    if (c >= 0) {
        *codepoint = uint32_t(c);
        return after;
    }
    *codepoint = 0xDC00 + *p;
    return p + 1;
}

uint32_t os_text_encode_char(uint32_t codepoint, uint8_t* out) {
    if (codepoint >= OS_BYTE_FIRST && codepoint <= OS_BYTE_LAST) {
        out[0] = uint8_t(codepoint - 0xDC00);
        return 1;
    }
    return utf8_write_char(codepoint, out);
}

} // namespace kel
