#include "runtime/utf8.hpp"

#include <array>
#include <cstddef>

namespace kel {

// ---- the UTF-8 automaton ----------------------------------------------------
// The published UTF-8 decoder automaton of Björn Höhrmann, in the variant whose
// states are pre-multiplied by 12: a class per byte, then a transition table
// indexed by state + class. State 0 accepts, 12 rejects; the others count the
// continuation bytes still wanted and which of them is restricted (after E0 the
// next byte must be A0-BF, after ED 80-9F, after F0 90-BF, after F4 80-8F), so
// the automaton rejects overlong forms, surrogates and values above 0x10FFFF.

constexpr uint32_t UTF8_ACCEPT = 0;
constexpr uint32_t UTF8_REJECT = 12;

// Classes: 0 ASCII, 1 80-8F, 9 90-9F, 7 A0-BF, 8 C0-C1 and F5-FF, 2 C2-DF,
// 10 E0, 3 E1-EC and EE-EF, 4 ED, 11 F0, 6 F1-F3, 5 F4.
static constexpr std::array<uint8_t, 256> UTF8_CLASS = [] {
    std::array<uint8_t, 256> t{};
    auto span = [&t](int first, int last, uint8_t cls) {
        for (int b = first; b <= last; ++b) t[std::size_t(b)] = cls;
    };
    span(0x00, 0x7F, 0); span(0x80, 0x8F, 1); span(0x90, 0x9F, 9); span(0xA0, 0xBF, 7);
    span(0xC0, 0xC1, 8); span(0xC2, 0xDF, 2); span(0xE0, 0xE0, 10); span(0xE1, 0xEC, 3);
    span(0xED, 0xED, 4); span(0xEE, 0xEF, 3); span(0xF0, 0xF0, 11); span(0xF1, 0xF3, 6);
    span(0xF4, 0xF4, 5); span(0xF5, 0xFF, 8);
    return t;
}();

static constexpr uint8_t UTF8_TRANSITION[108] = {
     0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,  // 0: start
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 12: reject
    12,  0, 12, 12, 12, 12, 12,  0, 12,  0, 12, 12,  // 24: one byte wanted
    12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,  // 36: two bytes wanted
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,  // 48: after E0
    12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,  // 60: after ED
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  // 72: after F0
    12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  // 84: after F1-F3
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 96: after F4
};

const uint8_t* utf8_decode_char(const uint8_t* p, const uint8_t* end, int32_t* codepoint) {
    if (p >= end) { *codepoint = -1; return p; }
    uint32_t byte = *p;
    if (byte < 0x80) { *codepoint = int32_t(byte); return p + 1; }
    uint32_t cls = UTF8_CLASS[byte];
    uint32_t state = UTF8_TRANSITION[cls];
    if (state == UTF8_REJECT) { *codepoint = -1; return p; }
    uint32_t cp = (0xFFu >> cls) & byte;
    const uint8_t* q = p + 1;
    while (state != UTF8_ACCEPT) {
        if (q >= end) { *codepoint = -1; return end; }
        state = UTF8_TRANSITION[state + UTF8_CLASS[*q]];
        if (state == UTF8_REJECT) { *codepoint = -1; return q; }
        cp = (cp << 6) | (*q & 0x3Fu);
        ++q;
    }
    *codepoint = int32_t(cp);
    return q;
}

} // namespace kel
