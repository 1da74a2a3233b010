// The in-place unescaper of JSON string bodies. It reads each character by
// index and writes back at a destination index that never passes the read
// index, so one pass suffices; a write that widens the buffer moves it, which
// is why nothing here keeps a buffer address across a write.
#include "io/json.hpp"
#include "core/error.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "runtime/memory.hpp"

namespace kel {

namespace {

constexpr uint32_t HIGH_SURROGATE_FIRST = 0xD800;
constexpr uint32_t HIGH_SURROGATE_LAST = 0xDBFF;
constexpr uint32_t LOW_SURROGATE_FIRST = 0xDC00;
constexpr uint32_t LOW_SURROGATE_LAST = 0xDFFF;

int hex_digit_value(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

// Reads four hexadecimal digits at index (most significant first); false when
// the text ends within them or one is not a hexadecimal digit.
bool read_hex4(const Cell* str, uint32_t index, uint32_t end, uint32_t* code) {
    if (end - index < 4) return false;
    uint32_t value = 0;
    for (uint32_t i = 0; i < 4; i++) {
        int digit = hex_digit_value(string_ks_char_at(str, index + i));
        if (digit < 0) return false;
        value = value * 16 + uint32_t(digit);
    }
    *code = value;
    return true;
}

// The character a one-letter escape stands for; false for a letter that has
// no escape meaning.
bool short_escape(uint32_t c, uint32_t* out) {
    switch (c) {
    case 'b': *out = 8; return true;
    case 'f': *out = 12; return true;
    case 'n': *out = 10; return true;
    case 'r': *out = 13; return true;
    case 't': *out = 9; return true;
    case '"': case '\\': case '/': *out = c; return true;
    default: return false;
    }
}

} // namespace

void routine_json_unescape() {
    Cell* str = data_stack.args;
    uint32_t read = series_index_clamped(str);
    uint32_t dest = read;
    uint32_t end = series_buffer(str->w2)->length();
    while (read < end) {
        uint32_t c = string_ks_char_at(str, read++);
        if (c == '\\') {
            if (read >= end) error_raise(ERR_INVALID_DATA, str);
            uint32_t kind = string_ks_char_at(str, read++);
            if (kind == 'u') {
                if (!read_hex4(str, read, end, &c)) error_raise(ERR_INVALID_DATA, str);
                read += 4;
                if (c >= HIGH_SURROGATE_FIRST && c <= HIGH_SURROGATE_LAST) {
                    uint32_t low = 0;
                    if (end - read < 6 || string_ks_char_at(str, read) != '\\' ||
                        string_ks_char_at(str, read + 1) != 'u' ||
                        !read_hex4(str, read + 2, end, &low) || low < LOW_SURROGATE_FIRST ||
                        low > LOW_SURROGATE_LAST)
                        error_raise(ERR_INVALID_DATA, str);
                    read += 6;
                    c = 0x10000 + ((c - HIGH_SURROGATE_FIRST) << 10) + (low - LOW_SURROGATE_FIRST);
                }
            } else if (!short_escape(kind, &c)) {
                error_raise(ERR_INVALID_DATA, str);
            }
        }
        // Characters are read by index, so a widening write loses no position.
        string_poke_char(str, dest++, c);
    }
    string_ks_truncate(series_buffer(str->w2), dest);
    stack_set_last_reset(str);
}

} // namespace kel
