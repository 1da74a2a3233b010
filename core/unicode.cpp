#include "core/unicode.hpp"
#include "core/error.hpp"
#include "core/numbers.hpp"
#include "core/series.hpp"
#include "runtime/collector.hpp"
#include "runtime/heap.hpp"
#include "runtime/platform/os_text.hpp"
#include "runtime/start.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace kel {

// ---- unaligned loads and stores of units ---------------------------------------

template <typename T> static inline T unit_load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename T> static inline void unit_store(uint8_t* p, T v) { std::memcpy(p, &v, sizeof v); }

static inline uint64_t load64(const uint8_t* p) { return unit_load<uint64_t>(p); }
constexpr uint64_t HIGH_BITS = 0x8080808080808080ull;

// A string unit other than 1, 2 or 4 is a broken buffer: the process ends.
[[noreturn]] static void unit_invalid(const void* address) {
    runtime_error_exit(RUNTIME_NO_SWITCH_MATCH, address);
}

// Script error invalid-char with the code point as an integer!.
[[noreturn]] static void codepoint_invalid(uint32_t codepoint) {
    Cell arg;
    cell_init(&arg, T_INTEGER);
    integer_set(&arg, int32_t(codepoint));
    error_raise(ERR_INVALID_CHAR, &arg);
}

// ---- UTF-8 -----------------------------------------------------------------

// One step that always advances: an invalid first byte is passed over alone.
static inline const uint8_t* utf8_step_over(const uint8_t* p, const uint8_t* end) {
    if (*p < 0x80) return p + 1;
    int32_t cp;
    const uint8_t* next = utf8_decode_char(p, end, &cp);
    return next == p ? p + 1 : next;
}

uint32_t utf8_count_chars(const uint8_t* start, const uint8_t* end) {
    uint32_t n = 0;
    const uint8_t* p = start;
    while (p < end) {
        while (end - p >= 8 && (load64(p) & HIGH_BITS) == 0) { p += 8; n += 8; }
        if (p >= end) break;
        p = utf8_step_over(p, end);
        ++n;
    }
    return n;
}

const uint8_t* utf8_skip_chars(const uint8_t* start, const uint8_t* end, uint32_t n) {
    const uint8_t* p = start;
    while (n > 0 && p < end) {
        p = utf8_step_over(p, end);
        --n;
    }
    return p;
}

uint32_t utf8_lead_size(uint8_t byte) {
    return byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 0;
}

uint32_t utf8_encoded_size(uint32_t codepoint) {
    if (codepoint < 0x80) return 1;
    if (codepoint < 0x800) return 2;
    if (codepoint < 0x10000) return 3;
    if (codepoint <= CODEPOINT_MAX) return 4;
    codepoint_invalid(codepoint);
}

uint32_t utf8_encode_char(uint32_t codepoint, uint8_t* out) {
    if (codepoint > CODEPOINT_MAX) codepoint_invalid(codepoint);
    return utf8_write_char(codepoint, out);
}

uint32_t utf8_encode_char_limited(uint32_t codepoint, uint8_t* out, uint32_t budget) {
    if (utf8_encoded_size(codepoint) > budget) return 0;
    return utf8_encode_char(codepoint, out);
}

template <typename T> static uint32_t utf8_measure(const uint8_t* p, const uint8_t* end) {
    uint32_t bytes = 0;
    for (; p + sizeof(T) <= end; p += sizeof(T)) {
        uint32_t c = unit_load<T>(p);
        bytes += c < 0x80 ? 1 : utf8_encoded_size(c);
    }
    return bytes;
}

uint32_t utf8_measure_units(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    switch (unit) {
    case 1: {
        uint32_t bytes = 0;
        for (const uint8_t* p = start; p < end; ++p) bytes += 1 + (*p >> 7);
        return bytes;
    }
    case 2: return utf8_measure<uint16_t>(start, end);
    case 4: return utf8_measure<uint32_t>(start, end);
    default: unit_invalid(start);
    }
}

template <typename T>
static uint32_t utf8_encode_from(const uint8_t* src, uint32_t count, uint8_t* out, bool crlf) {
    uint8_t* o = out;
    for (uint32_t i = 0; i < count; ++i, src += sizeof(T)) {
        uint32_t c = unit_load<T>(src);
        if (c < 0x80) {
            if (c == '\n' && crlf) *o++ = '\r';
            *o++ = uint8_t(c);
        } else {
            o += utf8_encode_char(c, o);
        }
    }
    return uint32_t(o - out);
}

uint32_t utf8_encode_units(const uint8_t* src, uint32_t count, uint32_t unit, uint8_t* out, bool crlf) {
    switch (unit) {
    case 1: return utf8_encode_from<uint8_t>(src, count, out, crlf);
    case 2: return utf8_encode_from<uint16_t>(src, count, out, crlf);
    case 4: return utf8_encode_from<uint32_t>(src, count, out, crlf);
    default: unit_invalid(src);
    }
}

// ---- strict UTF-8 decoding ------------------------------------------------------

// Length of the sequence a lead byte starts under strict decoding: 1 for
// ASCII, 2 to 4 for C0-F7, 0 for a continuation byte or F8 and above.
static constexpr std::array<uint8_t, 256> UTF8_STRICT_SIZE = [] {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[size_t(b)] = b < 0x80 ? 1 : b < 0xC0 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF8 ? 4 : 0;
    return t;
}();

// Access error invalid-utf8 with a binary! of the bytes from the bad sequence
// on: at most four, never past the input's end (available bytes from p). The
// bytes are copied out first, since making the binary! may move the input.
[[noreturn]] static void utf8_invalid(const uint8_t* p, uint32_t available) {
    uint8_t seq[4];
    uint32_t n = available < 4 ? available : 4;
    std::memcpy(seq, p, n);
    Node node = series_new_bytes(n);
    SeriesBuffer* b = series_buffer(node);
    std::memcpy(b->head_ptr(), seq, n);
    b->tail = b->head + n;
    Cell arg;
    cell_init(&arg, T_BINARY);
    series_node_set(&arg, node);
    error_raise(ERR_INVALID_UTF8, &arg);
}

// Decodes one sequence from available bytes (at least 1); returns its length
// with the code point in *cp, or 0 when the bytes end inside it. Raises on an
// invalid sequence.
static inline uint32_t utf8_strict_step(const uint8_t* p, uint32_t available, uint32_t* cp) {
    uint32_t b = p[0];
    uint32_t n = UTF8_STRICT_SIZE[b];
    if (n == 1) { *cp = b; return 1; }
    if (n == 0) utf8_invalid(p, available);
    if (available < n) return 0;
    uint32_t c = b & (0xFFu >> (n + 1));
    for (uint32_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) utf8_invalid(p, available);
        c = (c << 6) | (p[i] & 0x3Fu);
    }
    // An overlong form (a value that fits a shorter sequence) would let one
    // character hide behind several spellings. A surrogate code point has no
    // place in UTF-8: stored in a string it would pair with a neighbour into
    // another character on the way to UTF-16.
    static constexpr uint32_t SHORTEST[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < SHORTEST[n] || (c >= 0xD800 && c <= 0xDFFF) || c > CODEPOINT_MAX)
        utf8_invalid(p, available);
    *cp = c;
    return n;
}

int32_t utf8_decode_char_checked(const uint8_t* bytes, uint32_t* length) {
    if (*length == 0) return -1;
    uint32_t cp;
    uint32_t n = utf8_strict_step(bytes, *length, &cp);
    if (n == 0) return -1;
    *length = n;
    return int32_t(cp);
}

Utf8Scan utf8_scan(const uint8_t* bytes, uint32_t length, bool crlf) {
    Utf8Scan scan{0, 0, 0, 0, 1};
    if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) scan.start = 3;
    const uint8_t* p = bytes + scan.start;
    const uint8_t* end = bytes + length;
    uint32_t chars = 0, widest = 0;
    while (p < end) {
        if (!crlf)
            while (end - p >= 8 && (load64(p) & HIGH_BITS) == 0) { p += 8; chars += 8; }
        if (p >= end) break;
        uint32_t b = *p;
        if (b < 0x80) {
            // With crlf, the CR of CR LF is dropped; a lone CR stands for LF.
            if (!(crlf && b == '\r' && end - p >= 2 && p[1] == '\n')) ++chars;
            ++p;
            continue;
        }
        uint32_t cp;
        uint32_t n = utf8_strict_step(p, uint32_t(end - p), &cp);
        if (n == 0) break;
        if (cp > widest) widest = cp;
        ++chars;
        p += n;
    }
    scan.used = uint32_t(p - (bytes + scan.start));
    scan.rest = uint32_t(end - p);
    scan.chars = chars;
    scan.unit = codepoint_unit(widest);
    return scan;
}

template <typename T>
static uint32_t utf8_decode_to(const uint8_t* p, const uint8_t* end, uint8_t* out, bool crlf) {
    uint8_t* o = out;
    while (p < end) {
        if (!crlf) {
            // ASCII runs go eight bytes at a time.
            while (end - p >= 8 && (load64(p) & HIGH_BITS) == 0) {
                for (int k = 0; k < 8; ++k) unit_store<T>(o + k * sizeof(T), T(p[k]));
                p += 8;
                o += 8 * sizeof(T);
            }
            if (p >= end) break;
        }
        uint32_t b = *p;
        if (b < 0x80) {
            ++p;
            if (crlf && b == '\r') {
                if (p < end && *p == '\n') continue;
                b = '\n';
            }
            unit_store<T>(o, T(b));
            o += sizeof(T);
            continue;
        }
        uint32_t cp;
        uint32_t n = utf8_strict_step(p, uint32_t(end - p), &cp);
        if (n == 0) break;
        unit_store<T>(o, T(cp));
        o += sizeof(T);
        p += n;
    }
    return uint32_t((o - out) / sizeof(T));
}

uint32_t utf8_decode_units(const uint8_t* bytes, const Utf8Scan& scan, uint8_t* out, uint32_t unit, bool crlf) {
    const uint8_t* p = bytes + scan.start;
    const uint8_t* end = p + scan.used;
    switch (unit) {
    case 1: return utf8_decode_to<uint8_t>(p, end, out, crlf);
    case 2: return utf8_decode_to<uint16_t>(p, end, out, crlf);
    case 4: return utf8_decode_to<uint32_t>(p, end, out, crlf);
    default: unit_invalid(out);
    }
}

// ---- UTF-16LE ----------------------------------------------------------------

static inline bool utf16_high(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
static inline bool utf16_low(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

Utf16Scan utf16_scan(const uint8_t* text, uint32_t units, bool crlf) {
    uint32_t chars = 0;
    bool wide = false, surrogate = false;
    for (uint32_t i = 0; i < units; ++i) {
        uint32_t u = unit_load<uint16_t>(text + 2 * i);
        if (u >= 0xD800 && u <= 0xDFFF) {
            surrogate = true;
            if (utf16_high(u) && i + 1 < units && utf16_low(unit_load<uint16_t>(text + 2 * i + 2))) ++i;
        } else if (u > 0xFF) {
            wide = true;
        } else if (crlf && u == '\r' && i + 1 < units && unit_load<uint16_t>(text + 2 * i + 2) == '\n') {
            continue;
        }
        ++chars;
    }
    return Utf16Scan{chars, surrogate ? 4u : wide ? 2u : 1u};
}

template <typename T>
static uint32_t utf16_decode_to(const uint8_t* text, uint32_t units, uint8_t* out, bool crlf) {
    uint8_t* o = out;
    for (uint32_t i = 0; i < units; ++i) {
        uint32_t c = unit_load<uint16_t>(text + 2 * i);
        if (utf16_high(c) && i + 1 < units) {
            uint32_t next = unit_load<uint16_t>(text + 2 * i + 2);
            if (utf16_low(next)) {
                c = 0x10000 + (((c & 0x3FF) << 10) | (next & 0x3FF));
                ++i;
            }
        } else if (crlf && c == '\r') {
            if (i + 1 < units && unit_load<uint16_t>(text + 2 * i + 2) == '\n') continue;
            c = '\n';
        }
        unit_store<T>(o, T(c));
        o += sizeof(T);
    }
    return uint32_t((o - out) / sizeof(T));
}

uint32_t utf16_decode_units(const uint8_t* text, uint32_t units, uint8_t* out, uint32_t unit, bool crlf) {
    switch (unit) {
    case 1: return utf16_decode_to<uint8_t>(text, units, out, crlf);
    case 2: return utf16_decode_to<uint16_t>(text, units, out, crlf);
    case 4: return utf16_decode_to<uint32_t>(text, units, out, crlf);
    default: unit_invalid(out);
    }
}

template <typename T> static int64_t utf16_measure(const uint8_t* src, uint32_t count, bool crlf) {
    int64_t units = 0;
    for (uint32_t i = 0; i < count; ++i, src += sizeof(T)) {
        uint32_t c = unit_load<T>(src);
        if (c > CODEPOINT_MAX) return -1;
        units += (c >= 0x10000 || (crlf && c == '\n')) ? 2 : 1;
    }
    return units;
}

int64_t utf16_measure_units(const uint8_t* src, uint32_t count, uint32_t unit, bool crlf) {
    switch (unit) {
    case 1: return utf16_measure<uint8_t>(src, count, crlf);
    case 2: return utf16_measure<uint16_t>(src, count, crlf);
    case 4: return utf16_measure<uint32_t>(src, count, crlf);
    default: unit_invalid(src);
    }
}

template <typename T>
static uint32_t utf16_encode_from(const uint8_t* src, uint32_t count, uint16_t* out, bool crlf) {
    uint16_t* o = out;
    for (uint32_t i = 0; i < count; ++i, src += sizeof(T)) {
        uint32_t c = unit_load<T>(src);
        if (c >= 0x10000) {
            c -= 0x10000;
            *o++ = uint16_t(0xD800 | (c >> 10));
            *o++ = uint16_t(0xDC00 | (c & 0x3FF));
            continue;
        }
        if (c == '\n' && crlf) *o++ = '\r';
        *o++ = uint16_t(c);
    }
    *o = 0;
    return uint32_t(o - out);
}

uint32_t utf16_encode_units(const uint8_t* src, uint32_t count, uint32_t unit, uint16_t* out, bool crlf) {
    switch (unit) {
    case 1: return utf16_encode_from<uint8_t>(src, count, out, crlf);
    case 2: return utf16_encode_from<uint16_t>(src, count, out, crlf);
    case 4: return utf16_encode_from<uint32_t>(src, count, out, crlf);
    default: unit_invalid(src);
    }
}

uint32_t latin1_to_utf16(const uint8_t* text, uint16_t* out) {
    uint32_t n = 0;
    for (; text[n] != 0; ++n) out[n] = text[n];
    out[n] = 0;
    return n;
}

// ---- widening ------------------------------------------------------------------

// Copies from the last character to the first, so the wider form may overlap
// the narrower one starting at the same address.
template <typename From, typename To> static void units_widen_to(uint8_t* data, uint32_t count) {
    for (uint32_t i = count; i-- > 0;)
        unit_store<To>(data + i * sizeof(To), To(unit_load<From>(data + i * sizeof(From))));
}

void units_widen(uint8_t* data, uint32_t count, uint32_t from, uint32_t to) {
    if (from == 1 && to == 2) units_widen_to<uint8_t, uint16_t>(data, count);
    else if (from == 1 && to == 4) units_widen_to<uint8_t, uint32_t>(data, count);
    else if (from == 2 && to == 4) units_widen_to<uint16_t, uint32_t>(data, count);
    else if (from != to) unit_invalid(data);
}

// ---- string values and buffers ----------------------------------------------------

// A byte size for a buffer, rounded up to 16: sizes past the 31-bit range of
// buffer sizes are internal error no-memory.
constexpr uint64_t BUFFER_SIZE_MAX = 0x7FFFFFF0;
static int32_t buffer_size(uint64_t bytes) {
    if (bytes > BUFFER_SIZE_MAX) error_raise(ERR_NO_MEMORY);
    return int32_t((bytes + 15) & ~uint64_t(15));
}

// The characters of a string value from its position: the index is clamped to
// the buffer, count is what remains to the tail.
struct StringSpan {
    SeriesBuffer* buffer;
    uint32_t unit;
    const uint8_t* start;  // the character at the position
    uint32_t count;
};

static StringSpan string_span(const Cell* string) {
    SeriesBuffer* b = series_buffer_of(string);
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) unit_invalid(b);
    uint32_t length = b->length();
    int32_t index = series_index(string);
    uint32_t at = index < 0 ? 0 : uint32_t(index) > length ? length : uint32_t(index);
    return StringSpan{b, unit, b->head_ptr() + at * unit, length - at};
}

// A requested count of characters: negative means all of them.
static uint32_t span_count(const StringSpan& span, int32_t count) {
    return count < 0 || uint32_t(count) > span.count ? span.count : uint32_t(count);
}

uint8_t* string_conversion_buffer(Cell* string, uint32_t bytes) {
    if (series_extra(string) == 0) {
        Node node = series_new_bytes(bytes);
        series_extra_set(string, node);
    } else {
        SeriesBuffer* b = series_buffer(series_extra(string));
        if (b->size - b->head < bytes) series_grow(b, buffer_size(bytes));
    }
    return series_buffer(series_extra(string))->head_ptr();
}

const uint8_t* to_utf8_data(Cell* string, int32_t* count, bool crlf) {
    StringSpan span = string_span(string);
    uint32_t n = span_count(span, *count);
    uint32_t per_char = span.unit == 4 ? 4 : span.unit + 1;
    uint64_t bytes_max = uint64_t(per_char) * (uint64_t(n) + 1);
    uint8_t* out = string_conversion_buffer(string, uint32_t(buffer_size(bytes_max)));
    span = string_span(string);
    uint32_t bytes = utf8_encode_units(span.start, n, span.unit, out, crlf);
    out[bytes] = 0;
    *count = int32_t(bytes);
    return out;
}

const uint8_t* to_utf8(Cell* string, int32_t* count) { return to_utf8_data(string, count, false); }

uint32_t string_to_utf8_into(const Cell* string, uint8_t* out, int32_t count, bool nul) {
    StringSpan span = string_span(string);
    uint32_t bytes = utf8_encode_units(span.start, span_count(span, count), span.unit, out, false);
    if (nul) out[bytes] = 0;
    return bytes;
}

std::string string_utf8(const Cell* string) {
    StringSpan span = string_span(string);
    const uint8_t* end = span.start + size_t(span.count) * span.unit;
    std::string text(utf8_measure_units(span.start, end, span.unit), '\0');
    utf8_encode_units(span.start, span.count, span.unit, reinterpret_cast<uint8_t*>(text.data()), false);
    return text;
}

template <typename T>
static uint32_t utf8_encode_limited_from(const uint8_t* src, uint32_t count, uint8_t* out, uint32_t budget) {
    uint32_t written = 0;
    for (uint32_t i = 0; i < count; ++i, src += sizeof(T)) {
        uint32_t n = utf8_encode_char_limited(unit_load<T>(src), out + written, budget - written);
        if (n == 0) break;
        written += n;
    }
    return written;
}

uint32_t string_to_utf8_limited(const Cell* string, uint8_t* out, uint32_t budget, int32_t count, bool nul) {
    if (nul) {
        if (budget == 0) return 0;
        --budget;
    }
    StringSpan span = string_span(string);
    uint32_t n = span_count(span, count);
    uint32_t bytes = 0;
    switch (span.unit) {
    case 1: bytes = utf8_encode_limited_from<uint8_t>(span.start, n, out, budget); break;
    case 2: bytes = utf8_encode_limited_from<uint16_t>(span.start, n, out, budget); break;
    case 4: bytes = utf8_encode_limited_from<uint32_t>(span.start, n, out, budget); break;
    }
    if (nul) out[bytes] = 0;
    return bytes;
}

SeriesBuffer* string_widen(SeriesBuffer* buffer, uint32_t unit) {
    uint32_t from = buffer->unit();
    if (from != 1 && from != 2 && from != 4) unit_invalid(buffer);
    if (unit <= from) return buffer;
    uint32_t count = buffer->length();
    uint64_t needed = uint64_t(unit) * (uint64_t(count) + 1);
    if (buffer->size - buffer->head < needed) buffer = series_grow_copy(buffer, buffer_size(needed));
    units_widen(buffer->head_ptr(), count, from, unit);
    buffer->tail = buffer->head + unit * count;
    buffer->flags = (buffer->flags & ~SERIES_UNIT_MASK) | unit;
    return buffer;
}

// Makes room at the tail of a string for more characters of up to the given
// unit: widens first, then grows to at least twice its size, so that text
// arriving in many chunks is copied a bounded number of times. The node must
// be rooted by the caller. Returns the buffer.
static SeriesBuffer* string_reserve(const NodeRoot& string, uint32_t unit, uint32_t more) {
    SeriesBuffer* b = string_widen(series_buffer(string.node), unit);
    uint64_t needed = uint64_t(b->tail - b->head) + uint64_t(more) * b->unit();
    if (b->size - b->head < needed) {
        uint64_t doubled = std::min(uint64_t(b->size) * 2, BUFFER_SIZE_MAX);
        b = series_grow_copy(b, buffer_size(std::max(needed, doubled)));
    }
    return b;
}

// Decoding shared by both entries: the bytes are re-read through the source
// node (when there is one) after every allocation.
static Node load_utf8_from(Node source, const uint8_t* fixed, uint32_t offset, uint32_t length,
                           Node target, uint32_t* remainder, bool crlf) {
    NodeRoot src(source, ROOT_SERIES);
    NodeRoot dst(target, ROOT_SERIES);
    auto bytes = [&] { return src.node ? series_buffer(src.node)->head_ptr() + offset : fixed; };
    Utf8Scan scan = utf8_scan(bytes(), length, crlf);
    if (scan.rest && !remainder) {
        const uint8_t* rest = bytes() + length - scan.rest;
        utf8_invalid(rest, scan.rest);
    }
    SeriesBuffer* b;
    if (dst.node == 0) {
        dst.node = series_new_units(scan.chars, scan.unit);
        b = series_buffer(dst.node);
    } else {
        b = string_reserve(dst, scan.unit, scan.chars);
    }
    uint32_t written = utf8_decode_units(bytes(), scan, b->tail_ptr(), b->unit(), crlf);
    b->tail += written * b->unit();
    if (remainder) *remainder = scan.rest;
    return dst.node;
}

Node load_utf8(const uint8_t* bytes, uint32_t length, Node target, uint32_t* remainder, bool crlf) {
    return load_utf8_from(0, bytes, 0, length, target, remainder, crlf);
}

Node load_utf8_series(Node source, uint32_t offset, uint32_t length, Node target, uint32_t* remainder,
                      bool crlf) {
    return load_utf8_from(source, nullptr, offset, length, target, remainder, crlf);
}

// ---- OS text ------------------------------------------------------------------
// Text to and from the OS through the one mapping of runtime/platform/os_text.

template <typename T> static void os_text_store(const uint8_t* p, const uint8_t* end, uint8_t* out) {
    while (p < end) {
        uint32_t c;
        p = os_text_decode_char(p, end, &c);
        unit_store<T>(out, T(c));
        out += sizeof(T);
    }
}

Node load_os_text(const uint8_t* bytes, uint32_t length, Node target) {
    NodeRoot dst(target, ROOT_SERIES);
    const uint8_t* end = bytes + length;
    uint32_t chars = 0, widest = 0;
    for (const uint8_t* p = bytes; p < end; ++chars) {
        uint32_t c;
        p = os_text_decode_char(p, end, &c);
        widest = std::max(widest, c);
    }
    SeriesBuffer* b;
    if (dst.node == 0) {
        dst.node = series_new_units(chars, codepoint_unit(widest));
        b = series_buffer(dst.node);
    } else {
        b = string_reserve(dst, codepoint_unit(widest), chars);
    }
    switch (b->unit()) {
    case 1: os_text_store<uint8_t>(bytes, end, b->tail_ptr()); break;
    case 2: os_text_store<uint16_t>(bytes, end, b->tail_ptr()); break;
    default: os_text_store<uint32_t>(bytes, end, b->tail_ptr()); break;
    }
    b->tail += chars * b->unit();
    return dst.node;
}

std::string os_text_of(const Cell* string, int32_t count) {
    StringSpan span = string_span(string);
    uint32_t n = span_count(span, count);
    std::string text;
    text.reserve(n);
    uint8_t encoded[4];
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* at = span.start + i * span.unit;
        uint32_t c = span.unit == 1 ? *at : span.unit == 2 ? unit_load<uint16_t>(at) : unit_load<uint32_t>(at);
        if (c > CODEPOINT_MAX) codepoint_invalid(c);
        text.append(reinterpret_cast<const char*>(encoded), os_text_encode_char(c, encoded));
    }
    return text;
}

// A heap copy of input that may lie in a series buffer, freed on every exit.
struct HeapCopy {
    uint8_t* data;
    HeapCopy(const uint8_t* src, size_t bytes) : data(static_cast<uint8_t*>(heap_alloc(bytes ? bytes : 1))) {
        if (bytes) std::memcpy(data, src, bytes);
    }
    ~HeapCopy() { heap_free(data); }
    HeapCopy(const HeapCopy&) = delete;
    HeapCopy& operator=(const HeapCopy&) = delete;
};

Node load_utf16(const uint8_t* text, uint32_t units, Node target, bool crlf) {
    NodeRoot dst(target, ROOT_SERIES);
    bool in_place = text == nullptr;
    if (in_place) {
        // The target holds the raw UTF-16 bytes, never more than its capacity.
        SeriesBuffer* b = series_buffer(dst.node);
        uint32_t room = (b->size - b->head) / 2;
        if (units > room) units = room;
        text = b->head_ptr();
    }
    HeapCopy copy(text, size_t(units) * 2);
    if (in_place) {
        // The decoded characters replace the raw bytes, from unit 1 up.
        SeriesBuffer* b = series_buffer(dst.node);
        b->tail = b->head;
        b->flags = (b->flags & ~SERIES_UNIT_MASK) | 1;
    }
    Utf16Scan scan = utf16_scan(copy.data, units, crlf);
    SeriesBuffer* b;
    if (dst.node == 0) {
        dst.node = series_new_units(scan.chars, scan.unit);
        b = series_buffer(dst.node);
    } else {
        b = string_reserve(dst, scan.unit, scan.chars);
    }
    uint32_t written = utf16_decode_units(copy.data, units, b->tail_ptr(), b->unit(), crlf);
    b->tail += written * b->unit();
    return dst.node;
}

const uint16_t* to_utf16_part(Cell* string, int32_t* count, bool crlf) {
    StringSpan span = string_span(string);
    uint32_t n = span_count(span, *count);
    int64_t units = utf16_measure_units(span.start, n, span.unit, crlf);
    if (units < 0) return nullptr;
    auto* out = reinterpret_cast<uint16_t*>(
        string_conversion_buffer(string, uint32_t(buffer_size(uint64_t(units) * 2 + 2))));
    span = string_span(string);
    *count = int32_t(utf16_encode_units(span.start, n, span.unit, out, crlf));
    return out;
}

const uint16_t* to_utf16(Cell* string) {
    int32_t count = -1;
    return to_utf16_part(string, &count, true);
}

} // namespace kel
