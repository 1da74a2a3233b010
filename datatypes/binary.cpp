// binary!: byte series, their conversions and printing, comparison, the
// modifying actions with their own byte images of values, the bitwise
// actions, and the base 2, 16, 58 and 64 codecs.
//
// Action arguments arrive in data-stack cells, which never move; a buffer
// address is re-read through the cell's node after anything that allocates.
#include "datatypes/binary.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/image.hpp"
#include "datatypes/tuple.hpp"
#include "runtime/collector.hpp"
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace kel {

// Largest byte count a binary may reach by append, insert or change.
constexpr uint64_t BINARY_BYTES_MAX = 0x7FFFFFF0;
// A binary longer than this many bytes molds over several lines.
constexpr uint32_t MOLD_ONE_LINE_BYTES = 30;
// Bytes per molded line.
constexpr uint32_t MOLD_LINE_BYTES = 32;

// ---- positions ------------------------------------------------------------------------------


static inline uint32_t bytes_total(const Cell* binary) {
    SeriesBuffer* b = series_buffer_of(binary);
    return b->tail - b->head;
}

// The position clamped to 0 .. byte count.
static uint32_t bytes_index(const Cell* binary) {
    int32_t index = series_index(binary);
    return index < 0 ? 0 : std::min(uint32_t(index), bytes_total(binary));
}

// ---- construction and byte access ------------------------------------------------------------

Cell* binary_init(Cell* cell, uint32_t capacity) {
    cell_init(cell, T_UNSET);
    Node node = series_new_bytes(capacity);
    series_make_at(cell, T_BINARY, node, 0);
    return cell;
}

Cell* binary_load(const uint8_t* bytes, uint32_t count, Node parent) {
    NodeRoot block(parent, ROOT_BLOCK);
    Cell made;
    cell_init(&made, T_BINARY);
    series_node_set(&made, series_new_bytes(count));  // the bytes lie outside every buffer
    SeriesBuffer* b = series_buffer_of(&made);
    if (count) std::memcpy(b->head_ptr(), bytes, count);
    b->tail = b->head + count;
    if (!parent) return stack_push(&made);
    NodeRoot bytes_node(series_node(&made), ROOT_SERIES);
    Cell* at = cell_series_append(block.node);
    cell_init(at, T_BINARY);
    series_node_set(at, bytes_node.node);
    return at;
}

Cell* binary_push(const Cell* binary) { return stack_push(binary); }

uint32_t binary_length(Cell* binary) {
    uint32_t index = bytes_index(binary);
    series_index_set(binary, int32_t(index));
    return bytes_total(binary) - index;
}

uint8_t* binary_head_pointer(Cell* binary) {
    uint32_t index = bytes_index(binary);
    series_index_set(binary, int32_t(index));
    return series_buffer_of(binary)->head_ptr() + index;
}

uint8_t binary_byte_at(const Cell* binary, uint32_t index) { return series_buffer_of(binary)->head_ptr()[index]; }

// Makes room for `total` more bytes: the buffer grows to twice its capacity
// when that suffices, else to exactly what is needed.
static SeriesBuffer* bytes_reserve(Cell* binary, uint64_t total) {
    SeriesBuffer* b = series_buffer_of(binary);
    uint64_t length = b->tail - b->head;
    if (length + total > BINARY_BYTES_MAX) error_raise(ERR_NO_MEMORY);
    if (b->head + length + total <= b->size) return b;
    uint64_t doubled = uint64_t(b->size) * 2;
    uint64_t wanted = doubled >= length + total ? doubled : length + total;
    wanted = std::min<uint64_t>(wanted, BINARY_BYTES_MAX);
    return series_grow_copy(b, int32_t(wanted));
}

// Opens a gap of count bytes at byte offset at from the head; returns the buffer.
static SeriesBuffer* bytes_open_gap(Cell* binary, uint32_t at, uint32_t count) {
    SeriesBuffer* b = bytes_reserve(binary, count);
    uint8_t* head = b->head_ptr();
    uint32_t length = b->tail - b->head;
    std::memmove(head + at + count, head + at, length - at);
    b->tail += count;
    return b;
}

void binary_append_bytes(Cell* binary, const uint8_t* bytes, uint32_t count) {
    if (!count) return;
    SeriesBuffer* b = bytes_open_gap(binary, bytes_total(binary), count);
    std::memcpy(b->tail_ptr() - count, bytes, count);
}

void binary_insert_bytes(Cell* binary, uint32_t offset, const uint8_t* bytes, uint32_t count) {
    if (!count) return;
    uint32_t at = std::min<uint64_t>(uint64_t(bytes_index(binary)) + offset, bytes_total(binary));
    SeriesBuffer* b = series_buffer_of(binary);
    if (b->head + (b->tail - b->head) + count > b->size) {
        uint64_t wanted = uint64_t(b->size) * 2 + count;
        if (wanted > BINARY_BYTES_MAX) error_raise(ERR_NO_MEMORY);
        series_grow_copy(b, int32_t(wanted));
    }
    b = bytes_open_gap(binary, at, count);
    std::memcpy(b->head_ptr() + at, bytes, count);
}

void binary_append_int32_be(int32_t value, Cell* binary) {
    uint32_t v = uint32_t(value);
    uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    binary_append_bytes(binary, bytes, 4);
}

void binary_byte_from_value(uint8_t* at, const Cell* value) {
    uint8_t type = cell_type(value);
    if (type != T_INTEGER && type != T_CHAR) error_raise(ERR_INVALID_ARG, value);
    *at = uint8_t(cell_int(value));
}

// ---- comparison and matching -------------------------------------------------------------------

static bool equality_op_q(int32_t op) {
    return op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND_MODE1 ||
           op == CMP_FIND_MODE2 || op == CMP_FIND;
}

// The stored bytes of a binary or text value from its position.
static void stored_bytes(const Cell* value, const uint8_t** at, uint32_t* count) {
    SeriesBuffer* b = series_buffer_of(value);
    uint32_t shift = b->shift();
    uint32_t length = b->length();
    int32_t index = series_index(value);
    uint32_t from = index < 0 ? 0 : std::min(uint32_t(index), length);
    *at = b->head_ptr() + (from << shift);
    *count = (length - from) << shift;
}

int32_t binary_compare_bytes(const Cell* a, const Cell* b, int32_t op, bool prefix) {
    uint8_t tb = cell_type(b);
    if (tb != T_BINARY && !string_family_q(tb)) return COMPARE_INCOMPARABLE;
    if (series_node(a) == series_node(b) && series_index(a) == series_index(b)) {
        if (op == CMP_SAME || equality_op_q(op)) return 0;
    }
    if (op == CMP_SAME) return -1;
    const uint8_t *pa, *pb;
    uint32_t na, nb;
    stored_bytes(a, &pa, &na);
    stored_bytes(b, &pb, &nb);
    uint32_t walk;
    if (prefix) {
        if (nb == 0) return (op == CMP_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND) ? 0 : 1;
        if (na < nb) return 1;
        walk = nb;
    } else {
        if (na == 0 && nb == 0) return 0;
        if (na != nb && equality_op_q(op)) return 1;
        walk = std::min(na, nb);
    }
    for (uint32_t i = 0; i < walk; i++)
        if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
    if (prefix) return 0;
    return na < nb ? -1 : na > nb ? 1 : 0;
}

bool binary_match_value_q(const Cell* binary, const Cell* value, int32_t op) {
    uint8_t type = cell_type(value);
    if (type == T_BINARY || string_family_q(type)) return binary_compare_bytes(binary, value, op, true) == 0;
    if (type == T_CHAR) {
        uint32_t index = bytes_index(binary);
        return index < bytes_total(binary) && series_buffer_of(binary)->head_ptr()[index] == uint32_t(cell_int(value));
    }
    return false;
}

bool binary_byte_in_bitset_q(const Cell* binary, const Cell* bitset) {
    uint32_t index = bytes_index(binary);
    if (index >= bytes_total(binary)) return false;
    uint32_t byte = series_buffer_of(binary)->head_ptr()[index];
    if (byte >= bitset_byte_count(bitset) * 8) return bitset_negated_q(bitset);
    return (bitset_data(bitset)[byte / 8] & (0x80u >> (byte % 8))) != 0;
}

int32_t binary_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_BINARY) return COMPARE_INCOMPARABLE;
    return binary_compare_bytes(value1, value2, op, false);
}

// ---- byte images of values -------------------------------------------------------------------------

// Where a byte image goes: nowhere (measure) or dest's buffer from `at`.
struct ByteSink {
    Cell* dest;   // null when measuring
    uint32_t at;  // byte offset from the buffer's head
    void put(const uint8_t* bytes, uint32_t count) {
        if (dest && count) std::memcpy(series_buffer_of(dest)->head_ptr() + at, bytes, count);
        at += count;
    }
};

// The UTF-8 of a text value from its position, at most cap bytes (cap < 0: all).
static uint32_t text_bytes(ByteSink* sink, const Cell* text, int64_t cap) {
    SeriesBuffer* b = series_buffer_of(text);
    uint32_t unit = b->unit();
    uint32_t length = b->length();
    int32_t index = series_index(text);
    uint32_t from = index < 0 ? 0 : std::min(uint32_t(index), length);
    uint32_t written = 0;
    for (uint32_t i = from; i < length; i++) {
        uint8_t utf8[4];
        uint32_t n = utf8_encode_char(string_get_char(series_buffer_of(text)->head_ptr() + i * unit, unit), utf8);
        if (cap >= 0 && written + n > cap) n = uint32_t(cap - written);
        sink->put(utf8, n);
        written += n;
        if (cap >= 0 && written >= cap) break;
    }
    return written;
}

static uint32_t capped_put(ByteSink* sink, const uint8_t* bytes, uint32_t count, int64_t cap) {
    if (cap >= 0 && count > cap) count = uint32_t(cap);
    sink->put(bytes, count);
    return count;
}

[[noreturn]] static void raise_bad_to_arg(const Cell* value) {
    Cell arg = *value;
    error_raise_type(ERR_BAD_TO_ARG, T_BINARY, &arg);
}

static uint32_t value_bytes(ByteSink* sink, const Cell* value, int64_t limit, bool only, int32_t mode);

// The cells of a block from its position: without only, limit counts cells;
// with only it counts bytes and each item gets what is left of it.
static uint32_t block_bytes(ByteSink* sink, const Cell* block, int64_t limit, bool only, int32_t mode) {
    CellRoot held(*block);
    SeriesBuffer* b = series_buffer_of(&held.cell);
    uint32_t length = b->length();
    int32_t index = series_index(&held.cell);
    uint32_t from = index < 0 ? 0 : std::min(uint32_t(index), length);
    uint32_t end = length;
    if (!only && limit >= 0 && limit < int64_t(length - from)) end = from + uint32_t(limit);
    uint32_t total = 0;
    for (uint32_t i = from; i < end; i++) {
        SeriesBuffer* cells = series_buffer_of(&held.cell);
        if (i >= cells->length()) break;
        CellRoot item(block_cells(cells)[i]);
        int64_t rest = -1;
        if (only && limit >= 0) {
            rest = limit - total;
            if (rest <= 0) break;
        }
        total += value_bytes(sink, &item.cell, rest, only, mode);
    }
    return total;
}

static uint32_t value_bytes(ByteSink* sink, const Cell* value, int64_t limit, bool only, int32_t mode) {
    uint8_t type = cell_type(value);
    switch (type) {
    case T_CHAR: {
        uint8_t utf8[4];
        uint32_t n = utf8_encode_char(uint32_t(cell_int(value)), utf8);
        return capped_put(sink, utf8, n, limit);
    }
    case T_INTEGER: {
        int32_t n = cell_int(value);
        if (n < -128 || n > 255) {
            Cell arg = *value;
            error_raise(ERR_INVALID_ARG, &arg);
        }
        uint8_t byte = uint8_t(n);
        return capped_put(sink, &byte, 1, limit);
    }
    case T_BINARY: {
        // The source may be dest's own buffer: copy it out first.
        const uint8_t* at;
        uint32_t count;
        stored_bytes(value, &at, &count);
        if (limit >= 0 && count > limit) count = uint32_t(limit);
        if (sink->dest) {
            std::vector<uint8_t> copy(at, at + count);
            sink->put(copy.data(), count);
        } else {
            sink->put(nullptr, count);
        }
        return count;
    }
    case T_TUPLE: {
        uint8_t bytes[TUPLE_MAX_BYTES];
        uint32_t count = tuple_count(value);
        for (uint32_t i = 0; i < count; i++) bytes[i] = tuple_byte(value, i);
        return capped_put(sink, bytes, count, limit);
    }
    case T_BLOCK: case T_PAREN: case T_HASH:
        return block_bytes(sink, value, limit, only, mode);
    default:
        break;
    }
    if (string_family_q(type)) return text_bytes(sink, value, limit);
    if (mode != BYTES_ANY) raise_bad_to_arg(value);
    Cell* formed = stack_push_new(T_NONE);
    dispatch_form(value, formed, -1);
    uint32_t n = text_bytes(sink, formed, limit);
    stack_pop(1);
    return n;
}

uint32_t binary_value_bytes(Cell* dest, uint32_t at, const Cell* value, int32_t limit, bool only,
                            int32_t mode) {
    ByteSink sink{mode == BYTES_MEASURE ? nullptr : dest, at};
    return value_bytes(&sink, value, limit, only, mode);
}

// ---- codecs ------------------------------------------------------------------------------------

static const char BASE58_ALPHABET[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
static const char BASE64_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char* base2_encode(char* out, const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; i++)
        for (int bit = 7; bit >= 0; bit--) *out++ = (bytes[i] >> bit) & 1 ? '1' : '0';
    return out;
}

char* base16_encode(char* out, const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) {
        const char* hex = byte_to_hex(bytes[i]);
        *out++ = hex[0];
        *out++ = hex[1];
    }
    return out;
}

char* base58_encode(char* out, const uint8_t* bytes, uint32_t count) {
    uint32_t zeros = 0;
    while (zeros < count && bytes[zeros] == 0) zeros++;
    // Base-58 digits, least significant first, by repeated division of the
    // remaining big number by 58.
    std::vector<uint8_t> number(bytes + zeros, bytes + count);
    std::vector<char> digits;
    size_t start = 0;
    while (start < number.size()) {
        uint32_t remainder = 0;
        for (size_t i = start; i < number.size(); i++) {
            uint32_t v = remainder * 256 + number[i];
            number[i] = uint8_t(v / 58);
            remainder = v % 58;
        }
        digits.push_back(BASE58_ALPHABET[remainder]);
        while (start < number.size() && number[start] == 0) start++;
    }
    for (uint32_t i = 0; i < zeros; i++) *out++ = '1';
    for (size_t i = digits.size(); i-- > 0;) *out++ = digits[i];
    return out;
}

char* base64_encode(char* out, const uint8_t* bytes, uint32_t count) {
    uint32_t i = 0;
    for (; i + 3 <= count; i += 3) {
        uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        for (int k = 18; k >= 0; k -= 6) *out++ = BASE64_ALPHABET[(v >> k) & 63];
    }
    if (count - i == 1) {
        uint32_t v = uint32_t(bytes[i]) << 16;
        *out++ = BASE64_ALPHABET[(v >> 18) & 63];
        *out++ = BASE64_ALPHABET[(v >> 12) & 63];
        *out++ = '=';
        *out++ = '=';
    } else if (count - i == 2) {
        uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8;
        *out++ = BASE64_ALPHABET[(v >> 18) & 63];
        *out++ = BASE64_ALPHABET[(v >> 12) & 63];
        *out++ = BASE64_ALPHABET[(v >> 6) & 63];
        *out++ = '=';
    }
    return out;
}

// The characters of a text of any unit, read in place. The text may lie in a
// series buffer that moves when something allocates, so a decoder reads all of
// it into plain memory before the result series is made.
struct TextCodes {
    const uint8_t* text;
    uint32_t count;
    uint32_t unit;
    size_t size() const { return count; }
    uint32_t operator[](size_t i) const { return string_get_char(text + i * unit, unit); }
};

// The index of the line feed that ends a ";" comment at i (or the end).
static size_t comment_end(const TextCodes& codes, size_t i) {
    while (i < codes.size() && codes[i] != '\n') i++;
    return i;
}

// Skipped between base-58 and base-64 digits: backspace, tab, line feed,
// form feed, carriage return, space and the apostrophe.
static bool codec_blank_q(uint32_t c) {
    return c == 8 || c == '\t' || c == '\n' || c == 12 || c == '\r' || c == ' ' || c == '\'';
}

static bool decode_bits(const TextCodes& codes, std::vector<uint8_t>* out) {
    uint32_t acc = 0, bits = 0;
    for (size_t i = 0; i < codes.size(); i++) {
        uint32_t c = codes[i];
        if (c <= 32) continue;
        if (c == ';') { i = comment_end(codes, i); continue; }
        if (c != '0' && c != '1') return false;
        acc = acc << 1 | (c - '0');
        if (++bits == 8) {
            out->push_back(uint8_t(acc));
            acc = bits = 0;
        }
    }
    return bits == 0;
}

// With strict, an odd count of digits is invalid; otherwise the last odd
// digit is dropped.
static bool decode_hex(const TextCodes& codes, bool strict, std::vector<uint8_t>* out) {
    int high = -1;
    for (size_t i = 0; i < codes.size(); i++) {
        uint32_t c = codes[i];
        if (c <= 32) continue;
        if (c == ';') { i = comment_end(codes, i); continue; }
        int d = hex_digit_value(c);
        if (d < 0) return false;
        if (high < 0) {
            high = d;
        } else {
            out->push_back(uint8_t(high << 4 | d));
            high = -1;
        }
    }
    return !(strict && high >= 0);
}

static bool decode_base58(const TextCodes& codes, std::vector<uint8_t>* out) {
    std::vector<uint8_t> number;  // big-endian value of the digits read
    uint32_t zeros = 0;
    bool leading = true;
    for (size_t i = 0; i < codes.size(); i++) {
        uint32_t c = codes[i];
        if (codec_blank_q(c)) continue;
        if (c == ';') { i = comment_end(codes, i); continue; }
        if (c > 127) break;
        const char* at = c ? std::strchr(BASE58_ALPHABET, int(c)) : nullptr;
        if (!at) return false;
        uint32_t carry = uint32_t(at - BASE58_ALPHABET);
        if (leading && carry == 0) {
            zeros++;
            continue;
        }
        leading = false;
        for (size_t k = number.size(); k-- > 0;) {
            carry += uint32_t(number[k]) * 58;
            number[k] = uint8_t(carry);
            carry >>= 8;
        }
        while (carry) {
            number.insert(number.begin(), uint8_t(carry));
            carry >>= 8;
        }
    }
    out->assign(zeros, 0);
    out->insert(out->end(), number.begin(), number.end());
    return true;
}

// With strict, a group left unfinished without "=" is invalid and only
// padding and blanks may follow the first "="; otherwise the first "=" ends
// the text, and an unfinished group at the end (the padding left out) gives
// its bytes as if it were padded; a lone last digit holds no whole byte and
// is dropped.
static bool decode_base64(const TextCodes& codes, bool strict, std::vector<uint8_t>* out) {
    uint32_t acc = 0, digits = 0;
    for (size_t i = 0; i < codes.size(); i++) {
        uint32_t c = codes[i];
        if (codec_blank_q(c) || (strict && c <= 32)) continue;
        if (c == ';') { i = comment_end(codes, i); continue; }
        if (c == '=') {
            if (digits < 2) return false;
            acc <<= 6 * (4 - digits);
            out->push_back(uint8_t(acc >> 16));
            if (digits == 3) out->push_back(uint8_t(acc >> 8));
            if (!strict) return true;
            uint32_t pads = 1;
            for (size_t k = i + 1; k < codes.size(); k++) {
                if (codes[k] == '=') pads++;
                else if (!(codes[k] <= 32 || codec_blank_q(codes[k]))) return false;
            }
            return pads == 4 - digits;
        }
        const char* at = c > 0 && c < 128 ? std::strchr(BASE64_ALPHABET, int(c)) : nullptr;
        if (!at) return false;
        acc = acc << 6 | uint32_t(at - BASE64_ALPHABET);
        if (++digits == 4) {
            out->push_back(uint8_t(acc >> 16));
            out->push_back(uint8_t(acc >> 8));
            out->push_back(uint8_t(acc));
            acc = digits = 0;
        }
    }
    if (strict) return digits == 0;
    if (digits < 2) return true;
    acc <<= 6 * (4 - digits);
    out->push_back(uint8_t(acc >> 16));
    if (digits == 3) out->push_back(uint8_t(acc >> 8));
    return true;
}

static Node bytes_series(const std::vector<uint8_t>& bytes, uint32_t room) {
    Node node = series_new_bytes(std::max<uint32_t>(room, uint32_t(bytes.size())));
    SeriesBuffer* b = series_buffer(node);
    if (!bytes.empty()) std::memcpy(b->head_ptr(), bytes.data(), bytes.size());
    b->tail = b->head + uint32_t(bytes.size());
    return node;
}

// The decoders write into a vector reserved for the largest result, so it is
// filled without regrowing; the series is made from it once the text is read.
Node base2_decode(const uint8_t* text, uint32_t count, uint32_t unit) {
    uint32_t room = count / 8;
    std::vector<uint8_t> bytes;
    bytes.reserve(room);
    if (!decode_bits(TextCodes{text, count, unit}, &bytes)) return 0;
    return bytes_series(bytes, room);
}

Node base16_decode(const uint8_t* text, uint32_t count, uint32_t unit) {
    uint32_t room = count / 2;
    std::vector<uint8_t> bytes;
    bytes.reserve(room);
    if (!decode_hex(TextCodes{text, count, unit}, false, &bytes)) return 0;
    return bytes_series(bytes, room);
}

Node base58_decode(const uint8_t* text, uint32_t count, uint32_t unit) {
    std::vector<uint8_t> bytes;
    if (!decode_base58(TextCodes{text, count, unit}, &bytes)) return 0;
    return bytes_series(bytes, 0);
}

Node base64_decode(const uint8_t* text, uint32_t count, uint32_t unit) {
    uint32_t room = uint32_t((uint64_t(count) + 3) * 3 / 4);
    std::vector<uint8_t> bytes;
    bytes.reserve(room);
    if (!decode_base64(TextCodes{text, count, unit}, false, &bytes)) return 0;
    return bytes_series(bytes, room);
}

bool scan_binary(const uint8_t* start, const uint8_t* end, int base, Cell* out) {
    TextCodes codes{start, uint32_t(end - start), 1};
    std::vector<uint8_t> bytes;
    bool ok = base == 2 ? decode_bits(codes, &bytes)
            : base == 16 ? decode_hex(codes, true, &bytes)
            : base == 64 ? decode_base64(codes, true, &bytes)
            : false;
    if (!ok) return false;
    Node node = bytes_series(bytes, 0);
    series_make_at(out, T_BINARY, node, 0);
    return true;
}

// A whole binary literal token: "#{...}" in base 16, or "2#{...}", "16#{...}"
// and "64#{...}" with the base before the "#".
static bool scan_binary_literal(const uint8_t* start, const uint8_t* end, Cell* out) {
    int base = 16;
    const uint8_t* brace = start;
    while (*brace != '{') brace++;
    if (brace > start + 1) {  // one or two digits before the "#"
        base = 0;
        for (const uint8_t* p = start; p + 1 < brace && brace - start <= 3; p++) base = base * 10 + (*p - '0');
    }
    return scan_binary(brace + 1, end - 1, base, out);
}

uint32_t issue_to_binary(const Cell* issue, Cell* result, bool size_only) {
    uint32_t length;
    const uint8_t* name = symbol_name(word_symbol(issue), &length);
    if (size_only) return length;
    Node node = base16_decode(name, length, 1);
    if (!node) {
        Cell arg = *issue;
        error_raise(ERR_INVALID_DATA, &arg);
    }
    series_make_at(result, T_BINARY, node, 0);
    return length;
}

// ---- to ------------------------------------------------------------------------------------------

// Pushes a new binary holding the bytes.
static Cell* bytes_push(const uint8_t* bytes, uint32_t count) {
    std::vector<uint8_t> copy(bytes, bytes + count);  // the source may lie in a buffer
    return binary_load(copy.data(), count, 0);
}

const Cell* binary_to(Cell* proto, const Cell* spec, uint8_t) {
    CellRoot source(*spec);
    uint8_t type = cell_type(spec);
    Cell* out;
    if (string_family_q(type)) {
        out = stack_push_new(T_NONE);
        uint32_t n = binary_value_bytes(nullptr, 0, &source.cell, -1, false, BYTES_MEASURE);
        binary_init(out, n);
        binary_value_bytes(out, 0, &source.cell, -1, false, BYTES_WRITE);
        series_buffer_of(out)->tail += n;
    } else if (type == T_INTEGER) {
        out = stack_push_new(T_NONE);
        binary_init(out, 4);
        binary_append_int32_be(cell_int(spec), out);
    } else if (type == T_CHAR) {
        uint8_t utf8[4];
        out = bytes_push(utf8, utf8_encode_char(uint32_t(cell_int(spec)), utf8));
    } else if (type == T_FLOAT || type == T_PERCENT) {
        uint64_t bits = std::bit_cast<uint64_t>(cell_double(spec));
        uint8_t bytes[8];
        for (int i = 0; i < 8; i++) bytes[i] = uint8_t(bits >> (56 - 8 * i));
        out = bytes_push(bytes, 8);
    } else if (type == T_TUPLE) {
        uint8_t bytes[TUPLE_MAX_BYTES];
        uint32_t count = tuple_count(spec);
        for (uint32_t i = 0; i < count; i++) bytes[i] = tuple_byte(spec, i);
        out = bytes_push(bytes, count);
    } else if (type == T_ISSUE) {
        out = stack_push_new(T_NONE);
        issue_to_binary(&source.cell, out, false);
    } else if (type == T_BLOCK || type == T_PAREN || type == T_HASH) {
        out = stack_push_new(T_NONE);
        binary_init(out, 16);
        binary_insert(out, &source.cell, -1, false, 1, true);
    } else if (type == T_BITSET) {
        out = bytes_push(bitset_data(spec), bitset_byte_count(spec));
    } else if (type == T_BINARY) {
        const uint8_t* at;
        uint32_t count;
        stored_bytes(spec, &at, &count);
        out = bytes_push(at, count);
    } else if (type == T_IMAGE) {
        // The whole pixel memory, four bytes a pixel as the image keeps them.
        out = bytes_push(reinterpret_cast<const uint8_t*>(image_pixels(spec)), image_pixel_count(spec) * 4);
    } else {
        raise_bad_to_arg(spec);
    }
    series_index_set(out, 0);
    cell_copy(out, proto);
    stack_pop(1);
    return proto;
}

// ---- form, mold ------------------------------------------------------------------------------------

// A line feed and the indentation of a level (4 spaces per level); returns
// what it costs the budget.
static int32_t mold_line_break(Cell* target, int32_t level) {
    string_append_char(target, '\n');
    for (int32_t i = 0; i < level; i++) string_concatenate_bytes(target, "    ", 4);
    return 1 + 4 * level;
}

int32_t binary_mold_bytes(const Cell* binary, Cell* target, bool bare, bool flat, bool part, int32_t budget,
                          int32_t indent) {
    CellRoot held(*binary);
    if (!bare) {
        string_concatenate_bytes(target, "#{", 2);
        budget -= 2;
    }
    uint32_t from = bytes_index(&held.cell);
    uint32_t count = bytes_total(&held.cell) - from;
    bool lines = count > MOLD_ONE_LINE_BYTES && !flat;
    if (lines) budget -= mold_line_break(target, indent + 1) - 1;
    for (uint32_t i = 0; i < count; i++) {
        uint8_t byte = series_buffer_of(&held.cell)->head_ptr()[from + i];
        string_concatenate_bytes(target, byte_to_hex(byte), 2);
        budget -= 2;
        if ((i + 1) % MOLD_LINE_BYTES == 0 && !flat) budget -= mold_line_break(target, indent + 1);
        if (part && budget <= 0) return budget;
    }
    if (lines && count % MOLD_LINE_BYTES != 0) budget -= mold_line_break(target, indent);
    if (!bare) {
        string_append_char(target, '}');
        budget -= 1;
    }
    return budget;
}

int32_t binary_form(const Cell* value, Cell* target, bool, bool, bool, bool part, int32_t budget, int32_t) {
    return binary_mold_bytes(value, target, false, false, part, budget, 0);
}

int32_t binary_mold(const Cell* value, Cell* target, bool only, bool, bool flat, bool part, int32_t budget,
                    int32_t indent) {
    return binary_mold_bytes(value, target, only, flat, part, budget, indent);
}

// ---- bitwise ----------------------------------------------------------------------------------------

enum BitwiseOp { BIT_AND, BIT_OR, BIT_XOR };

// The result is as long as the longer operand: the common bytes combined, the
// rest zero for and~ and copied from the longer operand for or~ and xor~.
static void binary_bitwise(Cell* value1, const Cell* value2, BitwiseOp op) {
    if (cell_type(value2) != T_BINARY) {
        Cell arg = *value2;
        error_raise(ERR_INVALID_ARG, &arg);
    }
    CellRoot other(*value2);
    uint32_t n1 = bytes_total(value1) - bytes_index(value1);
    uint32_t n2 = bytes_total(&other.cell) - bytes_index(&other.cell);
    uint32_t n = std::max(n1, n2);
    Node node = series_new_bytes(n);
    SeriesBuffer* out = series_buffer(node);
    const uint8_t* a = series_buffer_of(value1)->head_ptr() + bytes_index(value1);
    const uint8_t* b = series_buffer_of(&other.cell)->head_ptr() + bytes_index(&other.cell);
    uint8_t* r = out->head_ptr();
    uint32_t common = std::min(n1, n2);
    for (uint32_t i = 0; i < common; i++)
        r[i] = op == BIT_AND ? a[i] & b[i] : op == BIT_OR ? a[i] | b[i] : a[i] ^ b[i];
    const uint8_t* longer = n1 > n2 ? a : b;
    for (uint32_t i = common; i < n; i++) r[i] = op == BIT_AND ? 0 : longer[i];
    out->tail = out->head + n;
    series_make_at(value1, T_BINARY, node, 0);
}

void binary_and(Cell* value1, const Cell* value2) { binary_bitwise(value1, value2, BIT_AND); }
void binary_or(Cell* value1, const Cell* value2) { binary_bitwise(value1, value2, BIT_OR); }
void binary_xor(Cell* value1, const Cell* value2) { binary_bitwise(value1, value2, BIT_XOR); }

const Cell* binary_complement(Cell* value) {
    SeriesBuffer* b = series_buffer_of(value);
    uint32_t from = bytes_index(value);
    uint8_t* p = b->head_ptr();
    for (uint32_t i = from; i < b->tail - b->head; i++) p[i] = uint8_t(~p[i]);
    return value;
}

// ---- append, insert, change ----------------------------------------------------------------------

// Repeats the first size bytes at at, dup times in all.
static void fill_repeat_pattern(uint8_t* at, uint32_t size, int32_t dup) {
    for (int32_t k = 1; k < dup; k++) std::memcpy(at + size_t(k) * size, at, size);
}

static uint64_t repeated_size(uint32_t size, int32_t dup) {
    uint64_t total = uint64_t(size) * uint64_t(dup < 1 ? 0 : dup);
    if (total > BINARY_BYTES_MAX) error_raise(ERR_NO_MEMORY);
    return total;
}

// A value that may read the target's own bytes (the target binary itself, or
// a block that may hold it) is replaced in held by a new binary of its byte
// image, since changing the target moves the bytes under it. Returns the part
// limit that still applies to held: none once the image is taken.
static int32_t value_apart(const Cell* series, Cell* held, int32_t part, bool only,
                           int32_t measure, int32_t write) {
    uint8_t type = cell_type(held);
    bool own = type == T_BINARY && series_node(held) == series_node(series);
    if (!own && type != T_BLOCK && type != T_PAREN && type != T_HASH) return part;
    CellRoot source(*held);
    uint32_t n = binary_value_bytes(nullptr, 0, &source.cell, part, only, measure);
    Cell* image = stack_push_new(T_NONE);
    binary_init(image, n);
    binary_value_bytes(image, 0, &source.cell, part, only, write);
    series_buffer_of(image)->tail += n;
    cell_copy(image, held);
    stack_pop(1);
    return -1;
}

void binary_insert(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    uint32_t index = bytes_index(series);
    uint32_t length = bytes_total(series);
    uint32_t at = append || index == length ? length : index;
    // Measuring checks the value (an integer's range, the type) before the
    // binary or its owner hears of a change.
    CellRoot held(*value);
    uint32_t size = binary_value_bytes(nullptr, 0, &held.cell, part, only, BYTES_MEASURE);
    uint64_t total = repeated_size(size, dup);
    if (total == 0) return;
    int32_t limit = value_apart(series, &held.cell, part, only, BYTES_MEASURE, BYTES_WRITE);
    bool owned = series_notify(series, W_APPEND, int32_t(at), int32_t(total));
    bytes_open_gap(series, at, uint32_t(total));
    binary_value_bytes(series, at, &held.cell, limit, only, BYTES_WRITE);
    if (dup > 1) fill_repeat_pattern(series_buffer_of(series)->head_ptr() + at, size, dup);
    series_notify_after(owned, series, W_APPENDED, int32_t(at), part < 0 ? int32_t(total) : std::max(part, 1));
    series_index_set(series, int32_t(append ? 0 : at + uint32_t(total)));
}

void binary_change(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup) {
    uint32_t index = bytes_index(series);
    uint32_t length = bytes_total(series);
    uint32_t rest = length - index;
    CellRoot held(*value);
    value_apart(series, &held.cell, -1, only, BYTES_ANY, BYTES_ANY);
    uint32_t size = binary_value_bytes(nullptr, 0, &held.cell, -1, only, BYTES_ANY);
    uint64_t total = repeated_size(size, dup);
    uint32_t replaced = part >= 0 ? std::min<uint32_t>(uint32_t(part), rest)
                                  : uint32_t(std::min<uint64_t>(total, rest));
    bool owned = series_notify(series, W_CHANGE, int32_t(index), int32_t(total));
    if (uint64_t(length) - replaced + total > BINARY_BYTES_MAX) error_raise(ERR_NO_MEMORY);
    if (total > replaced) {
        bytes_open_gap(series, index + replaced, uint32_t(total - replaced));
    } else if (replaced > total) {
        SeriesBuffer* b = series_buffer_of(series);
        uint8_t* head = b->head_ptr();
        std::memmove(head + index + total, head + index + replaced, length - index - replaced);
        b->tail -= uint32_t(replaced - total);
    }
    binary_value_bytes(series, index, &held.cell, -1, only, BYTES_ANY);
    if (dup > 1) fill_repeat_pattern(series_buffer_of(series)->head_ptr() + index, size, dup);
    series_notify_after(owned, series, W_CHANGED, int32_t(index), int32_t(total));
    series_index_set(series, int32_t(std::min<uint64_t>(index + total, bytes_total(series))));
}

// ---- trim ---------------------------------------------------------------------------------------------

void binary_trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with) {
    if (auto_ || lines) error_raise(ERR_NOT_DONE);
    bool remove[256] = {};
    if (with) {
        uint8_t type = cell_type(with);
        if (type == T_CHAR || type == T_INTEGER) {
            uint32_t byte = uint32_t(cell_int(with));
            if (byte < 256) remove[byte] = true;
        } else if (type == T_BINARY || type == T_STRING) {
            SeriesBuffer* b = series_buffer_of(with);
            uint32_t unit = b->unit();
            int32_t from = std::max(series_index(with), 0);
            for (uint32_t i = uint32_t(from); i < b->length(); i++) {
                uint32_t c = string_get_char(b->head_ptr() + i * unit, unit);
                if (c < 256) remove[c] = true;
            }
        } else {
            Cell arg = *with;
            error_raise(ERR_INVALID_ARG, &arg);
        }
    } else {
        remove[0] = true;
    }
    uint32_t index = bytes_index(series);
    bool owned = series_notify(series, W_TRIM, int32_t(index), 0);
    SeriesBuffer* b = series_buffer_of(series);
    uint8_t* p = b->head_ptr();
    uint32_t length = b->tail - b->head;
    uint32_t kept;
    if (all || with) {
        kept = index;
        for (uint32_t i = index; i < length; i++)
            if (!remove[p[i]]) p[kept++] = p[i];
    } else {
        uint32_t start = index, end = length;
        if (head || !tail)
            while (start < end && p[start] == 0) start++;
        if (tail || !head)
            while (end > start && p[end - 1] == 0) end--;
        std::memmove(p + index, p + start, end - start);
        kept = index + (end - start);
    }
    b->tail = b->head + kept;
    series_notify_after(owned, series, W_TRIMMED, int32_t(index), 0);
}

// ---- registration -------------------------------------------------------------------------------------

void init_binary() {
    const ActionRow actions[] = {
        {A_TO, binary_to},
        {A_FORM, binary_form},
        {A_MOLD, binary_mold},
        {A_COMPARE, binary_compare},
        {A_AND_T, binary_and},
        {A_COMPLEMENT, binary_complement},
        {A_OR_T, binary_or},
        {A_XOR_T, binary_xor},
        {A_APPEND, binary_insert},
        {A_INSERT, binary_insert},
        {A_CHANGE, binary_change},
        {A_TRIM, binary_trim},
        {A_MAKE, A_REFLECT, ACTION_INHERIT}, {A_EVAL_PATH, ACTION_INHERIT}, {A_AT, ACTION_INHERIT},
        {A_BACK, ACTION_INHERIT}, {A_CLEAR, A_INDEX_Q, ACTION_INHERIT},
        {A_LENGTH_Q, A_POKE, ACTION_INHERIT}, {A_REMOVE, A_TAKE, ACTION_INHERIT},
        {A_MODIFY, ACTION_INHERIT},
    };
    datatype_register(T_BINARY, T_STRING, "binary!", actions);
    datatype_hooks_set(T_BINARY, {.scan = scan_binary_literal});
}

} // namespace kel
