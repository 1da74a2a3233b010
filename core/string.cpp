#include "core/string.hpp"
#include "core/bitset_bits.hpp"
#include "core/casefold.hpp"
#include "core/error.hpp"
#include "core/float_text.hpp"
#include "core/hashtable.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "runtime/collector.hpp"
#include "runtime/heap.hpp"
#include "runtime/start.hpp"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kel {

// Largest byte size a buffer may be asked for; beyond it growth is internal
// error no-memory.
constexpr uint64_t STRING_BYTES_MAX = 0x7FFFFFF0;

// ---- units ----------------------------------------------------------------------

// A unit other than 1, 2 or 4 met by a character read or write: the buffer is
// broken and the process ends with the runtime's error exit.
[[noreturn]] static void string_unit_invalid(const void* address) {
    runtime_error_exit(RUNTIME_NO_SWITCH_MATCH, address);
}

static inline uint32_t string_unit(const SeriesBuffer* b) {
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) string_unit_invalid(b);
    return unit;
}

uint32_t string_get_char(const uint8_t* at, uint32_t unit) {
    switch (unit) {
    case 1: return *at;
    case 2: { uint16_t c; std::memcpy(&c, at, 2); return c; }
    case 4: { uint32_t c; std::memcpy(&c, at, 4); return c; }
    default: string_unit_invalid(at);
    }
}

static inline void string_put_char(uint8_t* at, uint32_t unit, uint32_t c) {
    switch (unit) {
    case 1: *at = uint8_t(c); break;
    case 2: { uint16_t u = uint16_t(c); std::memcpy(at, &u, 2); break; }
    case 4: std::memcpy(at, &c, 4); break;
    default: string_unit_invalid(at);
    }
}

// Copies count characters from one unit to another (the ranges do not overlap).
static void string_copy_units(const uint8_t* src, uint32_t src_unit, uint8_t* dst, uint32_t dst_unit,
                              uint32_t count) {
    if (src_unit == dst_unit) {
        std::memmove(dst, src, size_t(count) * src_unit);
        return;
    }
    for (uint32_t i = 0; i < count; i++)
        string_put_char(dst + i * dst_unit, dst_unit, string_get_char(src + i * src_unit, src_unit));
}

// A byte size for a buffer: rounded up to 16, no-memory past the 31-bit range.
static int32_t string_bytes(uint64_t bytes) {
    if (bytes > STRING_BYTES_MAX) error_raise(ERR_NO_MEMORY);
    return int32_t((bytes + 15) & ~uint64_t(15));
}

// The unit a code point needs in a buffer of the given unit; ascii_only makes a
// unit-1 buffer widen above 127 (the appender's rule).
static inline uint32_t string_unit_for(uint32_t unit, uint32_t c, bool ascii_only) {
    if (unit == 1 && (c > 255 || (ascii_only && c > 127))) return c > 0xFFFF ? 4 : 2;
    if (unit == 2 && c > 0xFFFF) return 4;
    return unit;
}

// Widens the string's buffer to at least `unit`, then makes room for `more`
// characters at the tail, doubling the capacity when that suffices. Returns the
// buffer, which may have moved.
static SeriesBuffer* string_reserve_at(Cell* string, uint32_t unit, uint64_t more) {
    SeriesBuffer* b = series_buffer_of(string);
    uint32_t have = string_unit(b);
    if (unit > have) b = string_widen(b, unit);
    uint64_t needed = uint64_t(b->tail) + more * b->unit();
    if (needed > b->size) {
        uint64_t doubled = uint64_t(b->size) * 2;
        b = series_grow_copy(b, string_bytes(std::max(needed - b->head, std::min(doubled, STRING_BYTES_MAX))));
    }
    return b;
}

// ---- reading and positions ---------------------------------------------------------

// The position clamped into [0, length].
static inline uint32_t string_index(const Cell* string, const SeriesBuffer* b) {
    int32_t index = series_index(string);
    uint32_t length = b->length();
    return index < 0 ? 0 : uint32_t(index) > length ? length : uint32_t(index);
}

uint32_t string_ks_length_q(Cell* string) {
    SeriesBuffer* b = series_buffer_of(string);
    string_unit(b);
    uint32_t length = b->length();
    int32_t index = series_index(string);
    if (index < 0) return length;
    if (uint32_t(index) > length) {
        series_index_set(string, int32_t(length));
        return 0;
    }
    return length - uint32_t(index);
}

uint8_t* string_ks_head(Cell* string) {
    SeriesBuffer* b = series_buffer_of(string);
    uint32_t unit = string_unit(b);
    uint32_t length = b->length();
    if (series_index(string) > 0 && uint32_t(series_index(string)) > length) series_index_set(string, int32_t(length));
    return b->head_ptr() + string_index(string, b) * unit;
}

uint8_t* string_ks_tail(const Cell* string) { return series_buffer_of(string)->tail_ptr(); }

bool string_ks_tail_q(const Cell* string) {
    SeriesBuffer* b = series_buffer_of(string);
    int32_t index = series_index(string);
    return index >= 0 && uint32_t(index) >= b->length();
}

uint32_t string_ks_char_at(const Cell* string, uint32_t index) {
    SeriesBuffer* b = series_buffer_of(string);
    uint32_t unit = string_unit(b);
    return string_get_char(b->head_ptr() + index * unit, unit);
}

bool string_char_in_bitset_q(const Cell* string, const Cell* bitset) {
    int32_t index = series_index(string);
    if (index < 0 || uint32_t(index) >= series_buffer_of(string)->length()) return false;
    return bitset_member_q(bitset, string_ks_char_at(string, uint32_t(index)));
}

// The bitset walk of string_bitset_span at one unit.
template <typename Unit>
static uint32_t bitset_span_of(const uint8_t* at, uint32_t count, const uint8_t* bits, uint32_t bytes,
                               bool negated) {
    uint64_t stored = uint64_t(bytes) * 8;
    const uint8_t* p = at;
    const uint8_t* end = at + size_t(count) * sizeof(Unit);
    for (; p < end; p += sizeof(Unit)) {
        Unit c;
        std::memcpy(&c, p, sizeof(Unit));
        if (c < stored) {
            // Bits are stored from the high bit of each byte down.
            if (!((bits[c >> 3] << (c & 7)) & 0x80)) break;
        } else if (!negated) {
            break;
        }
    }
    return uint32_t(size_t(p - at) / sizeof(Unit));
}

uint32_t string_bitset_span(const Cell* string, uint32_t from, uint32_t limit, const Cell* bitset,
                            uint32_t max) {
    return string_buffer_bitset_span(series_buffer_of(string), from, limit, series_buffer_of(bitset), max);
}

uint32_t string_buffer_bitset_span(SeriesBuffer* b, uint32_t from, uint32_t limit, SeriesBuffer* set,
                                   uint32_t max) {
    uint32_t unit = string_unit(b);
    limit = std::min(limit, b->length());
    if (from >= limit) return 0;
    uint32_t count = std::min(limit - from, max);
    const uint8_t* at = b->head_ptr() + size_t(from) * unit;
    const uint8_t* bits = set->head_ptr();
    uint32_t bytes = set->tail - set->head;
    bool negated = set->flags & SERIES_NEGATED;
    switch (unit) {
    case 1: return bitset_span_of<uint8_t>(at, count, bits, bytes, negated);
    case 2: return bitset_span_of<uint16_t>(at, count, bits, bytes, negated);
    default: return bitset_span_of<uint32_t>(at, count, bits, bytes, negated);
    }
}

void string_ks_reset(Cell* string) {
    SeriesBuffer* b = series_buffer_of(string);
    b->tail = b->head;
    b->flags = (b->flags & ~SERIES_UNIT_MASK) | 1;
    series_index_set(string, 0);
}

void string_ks_truncate(SeriesBuffer* buffer, uint32_t count) {
    uint64_t end = uint64_t(buffer->head) + uint64_t(count) * string_unit(buffer);
    if (end <= buffer->size && end < buffer->tail) buffer->tail = uint32_t(end);
}

void string_unit_broken(const SeriesBuffer* buffer) { string_unit_invalid(buffer); }

static inline uint32_t fold(uint32_t c) { return change_char_case(c, false); }

int32_t string_ks_find_char(const Cell* string, uint32_t codepoint) {
    TextSpan s = string_span(string);
    for (uint32_t i = 0; i < s.count; i++)
        if (string_get_char(s.start + i * s.unit, s.unit) == codepoint) return int32_t(i);
    return -1;
}

bool string_has_char_q(const Cell* string, uint32_t codepoint, uint32_t step, bool case_) {
    TextSpan s = string_span(string);
    if (step == 0) step = 1;
    uint32_t want = case_ ? codepoint : fold(codepoint);
    for (uint32_t i = 0; i < s.count; i += step) {
        uint32_t c = string_get_char(s.start + i * s.unit, s.unit);
        if ((case_ ? c : fold(c)) == want) return true;
    }
    return false;
}

bool string_ks_match_text_q(const Cell* string, const char* text) {
    TextSpan s = string_span(string);
    uint32_t i = 0;
    for (; text[i]; i++) {
        if (i >= s.count) return false;
        if (string_get_char(s.start + i * s.unit, s.unit) != uint8_t(text[i])) return false;
    }
    return true;
}

bool string_tag_form_q(const Cell* string, const Cell* tag) {
    TextSpan s = string_span(string);
    uint32_t tag_length = string_span(tag).count;
    if (s.count < tag_length + 2) return false;
    return string_get_char(s.start, s.unit) == '<' &&
           string_get_char(s.start + (tag_length + 1) * s.unit, s.unit) == '>';
}

// ---- writing -------------------------------------------------------------------------

// Appends a code point at the tail under the appender's (ascii_only) or the
// other writers' widening rule.
static SeriesBuffer* string_add_char(Cell* string, uint32_t codepoint, bool ascii_only) {
    SeriesBuffer* b = series_buffer_of(string);
    // A character that fits a unit-1 buffer with room: one byte stored.
    if (b->unit() == 1 && codepoint <= (ascii_only ? 0x7Fu : 0xFFu) && b->tail < b->size) {
        b->data()[b->tail++] = uint8_t(codepoint);
        return b;
    }
    uint32_t unit = string_unit_for(string_unit(b), codepoint, ascii_only);
    b = string_reserve_at(string, unit, 1);
    string_put_char(b->tail_ptr(), b->unit(), codepoint);
    b->tail += b->unit();
    return b;
}

SeriesBuffer* string_append_char(Cell* string, uint32_t codepoint) {
    return string_add_char(string, codepoint, true);
}

SeriesBuffer* string_poke_char(Cell* string, uint32_t index, uint32_t codepoint) {
    SeriesBuffer* b = series_buffer_of(string);
    uint32_t length = b->length();
    // Writing at or past the tail extends it by one character; an index past
    // the tail writes at the tail, so no unwritten character is left behind.
    if (index >= length) return string_add_char(string, codepoint, false);
    uint32_t unit = string_unit_for(string_unit(b), codepoint, false);
    if (unit != b->unit()) b = string_widen(b, unit);
    string_put_char(b->head_ptr() + index * unit, unit, codepoint);
    return b;
}

SeriesBuffer* string_write_char(Cell* string, uint32_t offset, uint32_t codepoint) {
    return string_poke_char(string, offset / string_unit(series_buffer_of(string)), codepoint);
}

SeriesBuffer* string_insert_char(Cell* string, uint32_t index, uint32_t codepoint) {
    SeriesBuffer* b = series_buffer_of(string);
    uint32_t unit = string_unit_for(string_unit(b), codepoint, false);
    b = string_reserve_at(string, unit, 1);
    unit = b->unit();
    uint32_t length = b->length();
    if (index > length) index = length;
    uint8_t* at = b->head_ptr() + index * unit;
    std::memmove(at + unit, at, size_t(length - index) * unit);
    string_put_char(at, unit, codepoint);
    b->tail += unit;
    return b;
}

SeriesBuffer* string_remove_chars(Cell* string, uint32_t index, uint32_t count) {
    SeriesBuffer* b = series_buffer_of(string);
    uint32_t unit = string_unit(b);
    uint32_t length = b->length();
    if (index >= length || count == 0) return b;
    if (count > length - index) count = length - index;
    uint8_t* at = b->head_ptr() + index * unit;
    std::memmove(at, at + count * unit, size_t(length - index - count) * unit);
    b->tail -= count * unit;
    return b;
}

SeriesBuffer* string_resize_span(Cell* string, uint32_t index, uint32_t count, uint32_t replacement) {
    SeriesBuffer* b = series_buffer_of(string);
    uint32_t length = b->length();
    if (index > length) index = length;
    if (count > length - index) count = length - index;
    if (replacement == count) return b;
    if (replacement > count) b = string_reserve_at(string, string_unit(b), replacement - count);
    uint32_t unit = b->unit();
    uint8_t* at = b->head_ptr() + size_t(index) * unit;
    std::memmove(at + size_t(replacement) * unit, at + size_t(count) * unit,
                 size_t(length - index - count) * unit);
    b->tail = b->head + (length - count + replacement) * unit;
    return b;
}

SeriesBuffer* string_concatenate_bytes(Cell* string, const char* text, uint32_t count) {
    if (count == 0) return series_buffer_of(string);
    SeriesBuffer* b = string_reserve_at(string, 1, count);
    uint32_t unit = b->unit();
    uint8_t* out = b->tail_ptr();
    const auto* in = reinterpret_cast<const uint8_t*>(text);
    if (unit == 1) {
        std::memcpy(out, in, count);
    } else {
        for (uint32_t i = 0; i < count; i++) string_put_char(out + i * unit, unit, in[i]);
    }
    b->tail += count * unit;
    return b;
}

SeriesBuffer* string_concatenate_text(Cell* string, const char* text) {
    return string_concatenate_bytes(string, text, uint32_t(std::strlen(text)));
}

// Bytes from the start that are all ASCII, eight at a time where possible.
static uint32_t ascii_prefix(const uint8_t* text, uint32_t length) {
    uint32_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, text + i, 8);
        if (word & 0x8080808080808080ull) break;
    }
    while (i < length && text[i] < 0x80) i++;
    return i;
}

SeriesBuffer* string_append_utf8(Cell* string, const uint8_t* text, uint32_t length) {
    uint32_t ascii = ascii_prefix(text, length);
    SeriesBuffer* b = string_concatenate_bytes(string, reinterpret_cast<const char*>(text), ascii);
    if (ascii == length) return b;
    text += ascii;
    length -= ascii;
    // The decoder drops a leading byte-order mark; inside appended text it is a
    // character like any other.
    if (length >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) {
        string_add_char(string, 0xFEFF, true);
        text += 3;
        length -= 3;
        if (length == 0) return series_buffer_of(string);
    }
    load_utf8(text, length, series_node(string), nullptr, false);
    return series_buffer_of(string);
}

SeriesBuffer* string_concatenate(Cell* target, const Cell* source, int32_t part, uint32_t offset,
                                 bool keep_unit, ConcatMode mode) {
    CellRoot src(*source);
    if (cell_type(source) == T_SYMBOL) {
        cell_init(&src.cell, T_STRING);
        series_node_set(&src.cell, symbol_string_node(source));
    }
    SeriesBuffer* sb = series_buffer_of(&src.cell);
    SeriesBuffer* tb = series_buffer_of(target);
    uint32_t su = string_unit(sb);
    uint32_t tu = string_unit(tb);
    if (tu < su) {
        tb = string_widen(tb, su);
        tu = su;
    } else if (su < tu && !keep_unit) {
        string_widen(series_buffer_of(&src.cell), tu);
    }
    TextSpan s = string_span(&src.cell);
    uint32_t count = s.count;
    if (part >= 0 && uint32_t(part) < count) count = uint32_t(part);
    if (count == 0) return series_buffer_of(target);
    bool shared = series_node(&src.cell) == series_node(target);
    uint32_t src_index = uint32_t(s.start - series_buffer_of(&src.cell)->head_ptr()) / s.unit;

    // Room for count more characters; an overwrite needs only what passes the
    // tail.
    uint32_t length = tb->length();
    if (offset > length) offset = length;
    uint32_t more = mode != CONCAT_OVERWRITE ? count : offset + count > length ? offset + count - length : 0;
    tb = string_reserve_at(target, tu, more);
    uint32_t unit = tb->unit();
    uint32_t at = mode == CONCAT_APPEND ? length : offset;

    if (shared) {
        // The source characters move when the target's rest moves up: copy them
        // out first.
        std::vector<uint8_t> copy(size_t(count) * unit);
        std::memcpy(copy.data(), tb->head_ptr() + src_index * unit, copy.size());
        if (mode == CONCAT_INSERT) {
            uint8_t* p = tb->head_ptr() + at * unit;
            std::memmove(p + count * unit, p, size_t(length - at) * unit);
        }
        std::memcpy(tb->head_ptr() + at * unit, copy.data(), copy.size());
    } else {
        if (mode == CONCAT_INSERT) {
            uint8_t* p = tb->head_ptr() + at * unit;
            std::memmove(p + count * unit, p, size_t(length - at) * unit);
        }
        sb = series_buffer_of(&src.cell);
        const uint8_t* from = sb->head_ptr() + src_index * sb->unit();
        string_copy_units(from, sb->unit(), tb->head_ptr() + at * unit, unit, count);
    }
    uint32_t end = mode == CONCAT_INSERT ? length + count : std::max(length, at + count);
    tb->tail = tb->head + end * unit;
    return tb;
}

void string_move_chars(Cell* origin, Cell* target, uint32_t count) {
    TextSpan s = string_span(origin);
    if (count > s.count) count = s.count;
    uint32_t from = string_index(origin, series_buffer_of(origin));
    uint32_t to = string_index(target, series_buffer_of(target));
    for (uint32_t i = 0; i < count; i++)
        string_insert_char(target, to + i, string_ks_char_at(origin, from + i));
    string_remove_chars(origin, from, count);
}

// ---- constructors ---------------------------------------------------------------------

Cell* string_make_at_unit(Cell* cell, uint32_t capacity, uint32_t unit) {
    Node node = series_new_units(capacity == 0 ? 1 : capacity, unit);
    cell_init(cell, T_STRING);
    series_node_set(cell, node);
    return cell;
}

Cell* string_make_at(Cell* cell, uint32_t capacity) { return string_make_at_unit(cell, capacity, 1); }

Cell* string_push(const Cell* string) { return stack_push(string); }

// A decoded string's node; unsupported encodings end the process.
static Node string_decode(const uint8_t* text, uint32_t length, int32_t encoding) {
    if (encoding == ENCODING_UTF8) return load_utf8(text, length, 0, nullptr, false);
    if (encoding == ENCODING_UTF16LE) return load_utf16(text, length / 2, 0, false);
    if (encoding == ENCODING_OS) return load_os_text(text, length, 0);
    std::fputs("*** Loading Error: input encoding unsupported", stdout);
    std::fflush(stdout);
    heap_free_all();
    std::exit(0);
}

Cell* string_load(const uint8_t* text, uint32_t length, int32_t encoding, Cell* result) {
    Node node = string_decode(text, length, encoding);
    Cell* cell = result ? result : stack_push_slot();
    cell_init(cell, T_STRING);
    series_node_set(cell, node);
    return cell;
}

Cell* string_load_in(const uint8_t* text, uint32_t length, Node block, int32_t encoding) {
    NodeRoot list(block, ROOT_BLOCK);
    NodeRoot node(string_decode(text, length, encoding), ROOT_SERIES);
    Cell* cell = cell_series_append(list.node);
    cell_init(cell, T_STRING);
    series_node_set(cell, node.node);
    return cell;
}

Cell* string_load_push(const uint8_t* text, uint32_t length, int32_t encoding) {
    return string_load(text, length, encoding, nullptr);
}

// ---- hexadecimal and number text ----------------------------------------------------------

static const char HEX_DIGITS[] = "0123456789ABCDEF";

const char* byte_to_hex(uint8_t byte) {
    static char text[3];
    text[0] = HEX_DIGITS[byte >> 4];
    text[1] = HEX_DIGITS[byte & 15];
    text[2] = 0;
    return text;
}

const char* int_to_hex(uint32_t value, bool trim) {
    static char text[9];
    for (int i = 7; i >= 0; i--, value >>= 4) text[i] = HEX_DIGITS[value & 15];
    text[8] = 0;
    if (!trim) return text;
    int first = 0;
    while (first < 6 && text[first] == '0') first++;
    // "00" for 0 keeps two digits; otherwise whole digits only ("1E", "100").
    if (first == 6 && text[6] == '0' && text[7] != '0') first = 7;
    return text + first;
}

double string_span_to_float(const uint8_t* start, uint32_t count, uint32_t unit) {
    char digits[128];
    uint32_t n = 0;
    for (; n < count && n < sizeof digits; n++) {
        uint32_t c = string_get_char(start + n * unit, unit);
        if (c > 127) break;
        digits[n] = char(c);
    }
    return string_to_float(digits, digits + n, 0, nullptr);
}

// ---- comparison kernels ---------------------------------------------------------------------

static inline bool compare_equality_op(int32_t op) {
    return op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND;
}

// The order of two characters (case folded with fold_case): -1, 0 or 1.
static inline int32_t char_order(uint32_t c1, uint32_t c2, bool fold_case) {
    if (c1 == c2) return 0;
    if (fold_case) {
        c1 = fold(c1);
        c2 = fold(c2);
        if (c1 == c2) return 0;
    }
    return c1 > c2 ? 1 : -1;
}

// text_compare over two spans of one unit.
template <typename Unit>
static int32_t text_compare_same(const uint8_t* a, const uint8_t* b, uint32_t count, bool fold_case) {
    for (uint32_t i = 0; i < count; i++) {
        Unit c1, c2;
        std::memcpy(&c1, a + size_t(i) * sizeof(Unit), sizeof(Unit));
        std::memcpy(&c2, b + size_t(i) * sizeof(Unit), sizeof(Unit));
        if (int32_t order = char_order(c1, c2, fold_case)) return order;
    }
    return 0;
}

// The first count characters of two spans: -1, 0 or 1.
static int32_t text_compare(const TextSpan& a, const TextSpan& b, uint32_t count, bool fold_case) {
    if (a.unit == b.unit) {
        switch (a.unit) {
        case 1: {
            if (fold_case) return text_compare_same<uint8_t>(a.start, b.start, count, true);
            int d = std::memcmp(a.start, b.start, count);
            return d > 0 ? 1 : d < 0 ? -1 : 0;
        }
        case 2: return text_compare_same<uint16_t>(a.start, b.start, count, fold_case);
        case 4: return text_compare_same<uint32_t>(a.start, b.start, count, fold_case);
        }
    }
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c1 = string_get_char(a.start + i * a.unit, a.unit);
        uint32_t c2 = string_get_char(b.start + i * b.unit, b.unit);
        if (int32_t order = char_order(c1, c2, fold_case)) return order;
    }
    return 0;
}

int32_t string_compare_values(const Cell* s1, const Cell* s2, int32_t op, bool match) {
    bool sym1 = cell_type(s1) == T_SYMBOL, sym2 = cell_type(s2) == T_SYMBOL;
    uint32_t i1 = sym1 ? 0 : uint32_t(series_index(s1)), i2 = sym2 ? 0 : uint32_t(series_index(s2));
    if (series_node(s1) == series_node(s2) && i1 == i2) {
        if (op == CMP_SAME || compare_equality_op(op)) return 0;
    } else if (op == CMP_SAME) {
        return -1;
    }
    TextSpan a = string_span(s1), b = string_span(s2);
    bool fold_case = op != CMP_STRICT_EQUAL && op != CMP_SORT_CASE;
    if (match) {
        if (b.count == 0) return op == CMP_FIND ? 1 : 0;
        if (a.count < b.count) return 1;
        return text_compare(a, b, b.count, fold_case) == 0 ? 0 : 1;
    }
    if (a.count != b.count && (compare_equality_op(op) || b.count == 0)) return 1;
    int32_t result = text_compare(a, b, std::min(a.count, b.count), fold_case);
    if (result != 0) return result;
    return a.count == b.count ? 0 : a.count < b.count ? -1 : 1;
}

bool text_equal_q(const TextSpan& a, const TextSpan& b, bool strict) {
    if (a.count != b.count) return false;
    // The same code units are the same text, folded or not: the common case
    // of a key found again is told without folding each character.
    if (a.unit == b.unit && std::memcmp(a.start, b.start, size_t(a.count) * a.unit) == 0) return true;
    return text_compare(a, b, a.count, !strict) == 0;
}

bool string_match_at_q(const Cell* string, const Cell* value, int32_t op) {
    uint8_t type = cell_type(value);
    if (type == T_CHAR) {
        SeriesBuffer* b = series_buffer_of(string);
        uint32_t unit = string_unit(b);
        int32_t index = series_index(string);
        uint32_t at = index < 0 ? 0 : uint32_t(index);
        if (b->head + uint64_t(at) * unit >= b->tail) return false;
        uint32_t c = string_get_char(b->head_ptr() + size_t(at) * unit, unit);
        uint32_t other = uint32_t(cell_int(value));
        if (op == CMP_STRICT_EQUAL) return c == other;
        return fold(c) == fold(other);
    }
    if (type == T_TAG) {
        if (!string_tag_form_q(string, value)) return false;
        Cell after = *string;
        series_index_set(&after, int32_t(string_index(string, series_buffer_of(string)) + 1));
        return string_compare_values(&after, value, op, true) == 0;
    }
    if (string_family_q(type) || type == T_SYMBOL) return string_compare_values(string, value, op, true) == 0;
    return false;
}

// ---- sort kernels ------------------------------------------------------------------------------

template <typename T>
static int sort_compare_chars(const void* a, const void* b, uintptr_t case_, uintptr_t flags) {
    const auto* pa = static_cast<const uint8_t*>(a);
    const auto* pb = static_cast<const uint8_t*>(b);
    uint32_t field = uint32_t(flags >> SORT_FIELD_SHIFT);
    uint32_t count = 1;
    if (flags & SORT_ALL) {
        count = field == 0 ? 1 : field;  // the record size in characters
        field = 0;
    }
    int result = 0;
    for (uint32_t i = 0; i < count; i++) {
        T c1, c2;
        std::memcpy(&c1, pa + (field + i) * sizeof(T), sizeof(T));
        std::memcpy(&c2, pb + (field + i) * sizeof(T), sizeof(T));
        uint32_t x = c1, y = c2;
        if (!case_) {
            x = fold(x);
            y = fold(y);
        }
        if (x != y) {
            result = x > y ? 1 : -1;
            break;
        }
    }
    return (flags & SORT_REVERSE) ? -result : result;
}

int string_sort_compare_1(const void* a, const void* b, uintptr_t case_, uintptr_t flags) {
    return sort_compare_chars<uint8_t>(a, b, case_, flags);
}
int string_sort_compare_2(const void* a, const void* b, uintptr_t case_, uintptr_t flags) {
    return sort_compare_chars<uint16_t>(a, b, case_, flags);
}
int string_sort_compare_4(const void* a, const void* b, uintptr_t case_, uintptr_t flags) {
    return sort_compare_chars<uint32_t>(a, b, case_, flags);
}

template <typename F>
static int sort_compare_floats(const void* a, const void* b, uintptr_t flags) {
    uint32_t field = uint32_t(flags >> SORT_FIELD_SHIFT);
    uint32_t count = 1;
    if (flags & SORT_ALL) {
        count = field == 0 ? 1 : field;
        field = 0;
    }
    int result = 0;
    for (uint32_t i = 0; i < count && result == 0; i++) {
        F x, y;
        std::memcpy(&x, static_cast<const uint8_t*>(a) + (field + i) * sizeof(F), sizeof(F));
        std::memcpy(&y, static_cast<const uint8_t*>(b) + (field + i) * sizeof(F), sizeof(F));
        result = x < y ? -1 : x > y ? 1 : 0;  // an unordered pair compares equal
    }
    return (flags & SORT_REVERSE) ? -result : result;
}

int sort_compare_float32(const void* a, const void* b, uintptr_t, uintptr_t flags) {
    return sort_compare_floats<float>(a, b, flags);
}
int sort_compare_float64(const void* a, const void* b, uintptr_t, uintptr_t flags) {
    return sort_compare_floats<double>(a, b, flags);
}

// ---- mold support ---------------------------------------------------------------------------------

void string_mold_scan(const uint8_t* start, const uint8_t* end, uint32_t unit, uint32_t* quotes,
                      uint32_t* lines) {
    uint32_t q = 0, l = 0;
    for (const uint8_t* p = start; p < end; p += unit) {
        uint32_t c = string_get_char(p, unit);
        q += c == '"';
        l += c == '\n';
    }
    *quotes = q;
    *lines = l;
}

bool string_braces_balanced_q(const uint8_t* at, const uint8_t* end, uint32_t unit) {
    int32_t depth = 0;
    for (const uint8_t* p = at; p < end; p += unit) {
        uint32_t c = string_get_char(p, unit);
        if (c == '{') depth++;
        else if (c == '}' && --depth == 0) return true;
    }
    return false;
}

// Caret escapes of the control characters 0 to 0x1F, indexed by codepoint.
static const char caret_table[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

int32_t char_append_escaped(Cell* target, int32_t c, bool all) {
    char text[16];
    int32_t length = 0;
    // A surrogate is escaped too: it has no UTF-8 form, and molded text
    // reaches files and the lexer as UTF-8.
    if (c == 0x1E || (c >= 0x80 && c <= 0x9F) || (all && c >= 0x80) ||
        codepoint_surrogate_q(uint32_t(c))) {
        static const char hex[] = "0123456789ABCDEF";
        char digits[8];
        int32_t count = 0;
        uint32_t u = uint32_t(c);
        do { digits[count++] = hex[u & 15]; u >>= 4; } while (u != 0);
        text[length++] = '^';
        text[length++] = '(';
        while (count > 0) text[length++] = digits[--count];
        text[length++] = ')';
    } else if (c < 0x20) {
        text[length++] = '^';
        text[length++] = caret_table[c];
    } else if (c == '"' || c == '^') {
        text[length++] = '^';
        text[length++] = char(c);
    } else if (c == 0x7F) {
        text[length++] = '^';
        text[length++] = '~';
    } else {
        string_poke_char(target, series_buffer_of(target)->length(), uint32_t(c));
        return 1;
    }
    string_append_ascii(target, text, uint32_t(length));
    return length;
}

// Whether mold writes a code point as an escape rather than as itself.
static inline bool char_needs_escape(uint32_t c, bool all) {
    return c < 32 || c == '"' || c == '^' || c == 127 || (c >= 128 && c <= 159) || (all && c > 127) ||
           codepoint_surrogate_q(c);
}

SeriesBuffer* string_append_escaped_char(Cell* target, uint32_t codepoint, bool all) {
    if (char_needs_escape(codepoint, all)) char_append_escaped(target, int32_t(codepoint), all);
    else string_append_char(target, codepoint);
    return series_buffer_of(target);
}

} // namespace kel
