// Strings for the tests of the string module: made from UTF-8 on the data
// stack (whose cells never move, so they stay valid in torture mode) and read
// back as UTF-8.
#pragma once
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "tests/core/symbol_fixture.hpp"
#include <string>

namespace kel::testing {

constexpr int SCRIPT_ERROR = int(ErrorCategory::script) * 100;
constexpr int ACCESS_ERROR = int(ErrorCategory::access) * 100;
constexpr int INTERNAL_ERROR = int(ErrorCategory::internal) * 100;

// A string! at index 0 holding the UTF-8 text, pushed on the data stack.
inline Cell* text_push(const std::string& utf8) {
    return string_load_push(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()),
                            ENCODING_UTF8);
}

// The characters of a string value from its position as UTF-8.
inline std::string text_of(const Cell* string) {
    SeriesBuffer* b = series_buffer(string->w2);
    std::string out(size_t(b->length()) * 4 + 1, '\0');
    uint32_t n = string_to_utf8_into(string, reinterpret_cast<uint8_t*>(out.data()), -1, false);
    out.resize(n);
    return out;
}

inline uint32_t unit_of(const Cell* string) { return series_buffer(string->w2)->unit(); }

inline Cell char_cell(uint32_t codepoint) {
    Cell c;
    cell_init(&c, T_CHAR);
    c.w2 = codepoint;
    return c;
}

} // namespace kel::testing
