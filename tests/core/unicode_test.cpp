#include "core/unicode.hpp"
#include "core/error.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace kel;

namespace {

using Bytes = std::vector<uint8_t>;
using Chars = std::vector<uint32_t>;

Bytes bytes_of(const char* s) { return Bytes(s, s + std::strlen(s)); }

// The code of the language error a call raises, or 0.
template <typename F> int raised_code(F&& f) {
    try {
        f();
    } catch (const LanguageError& e) {
        return e.code();
    }
    return 0;
}
constexpr int INVALID_CHAR = 360;  // script invalid-char
constexpr int INVALID_UTF8 = 502;  // access invalid-utf8

// Characters stored at a unit, read back as code points.
Chars chars_at(const uint8_t* data, uint32_t count, uint32_t unit) {
    Chars out;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t c = 0;
        std::memcpy(&c, data + i * unit, unit);
        out.push_back(c);
    }
    return out;
}

Bytes units_of(const Chars& chars, uint32_t unit) {
    Bytes out(chars.size() * unit);
    for (size_t i = 0; i < chars.size(); ++i) std::memcpy(out.data() + i * unit, &chars[i], unit);
    return out;
}

} // namespace

// Every code point: the encoder, both decoders and the size functions agree;
// a surrogate, which no UTF-8 holds, is written as U+FFFD and refused by both
// decoders.
TEST(UnicodeUtf8, EveryCodePointRoundTrips) {
    uint8_t buf[4];
    for (uint32_t cp = 0; cp <= CODEPOINT_MAX; ++cp) {
        uint32_t n = utf8_encode_char(cp, buf);
        ASSERT_EQ(n, utf8_encoded_size(cp)) << cp;
        uint32_t unit = 4;
        ASSERT_EQ(utf8_measure_units(reinterpret_cast<uint8_t*>(&cp), reinterpret_cast<uint8_t*>(&cp) + 4, unit), n);
        if (n > 1) {
            ASSERT_EQ(utf8_lead_size(buf[0]), n) << cp;
        }
        int32_t got = 0;
        const uint8_t* next = utf8_decode_char(buf, buf + n, &got);
        uint32_t length = n;
        bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
        if (surrogate) {
            ASSERT_EQ(got, 0xFFFD) << cp;
            uint8_t raw[3] = {uint8_t(0xE0 | (cp >> 12)), uint8_t(0x80 | ((cp >> 6) & 0x3F)),
                              uint8_t(0x80 | (cp & 0x3F))};
            ASSERT_EQ(utf8_decode_char(raw, raw + 3, &got), raw + 1) << cp;
            ASSERT_EQ(got, -1) << cp;
            length = 3;
            ASSERT_EQ(raised_code([&] { utf8_decode_char_checked(raw, &length); }), INVALID_UTF8) << cp;
        } else {
            ASSERT_EQ(got, int32_t(cp));
            ASSERT_EQ(next, buf + n);
            ASSERT_EQ(utf8_decode_char_checked(buf, &length), int32_t(cp));
            ASSERT_EQ(length, n);
        }
    }
}

TEST(UnicodeUtf8, CodePointsAboveTheLastRaiseInvalidChar) {
    uint8_t buf[8];
    uint32_t big = 0x110000;
    EXPECT_EQ(raised_code([&] { utf8_encoded_size(big); }), INVALID_CHAR);
    EXPECT_EQ(raised_code([&] { utf8_encode_char(big, buf); }), INVALID_CHAR);
    EXPECT_EQ(raised_code([&] { utf8_encode_char_limited(0xFFFFFFFF, buf, 8); }), INVALID_CHAR);
    EXPECT_EQ(raised_code([&] {
        utf8_measure_units(reinterpret_cast<uint8_t*>(&big), reinterpret_cast<uint8_t*>(&big) + 4, 4);
    }), INVALID_CHAR);
    EXPECT_EQ(raised_code([&] { utf8_encode_units(reinterpret_cast<uint8_t*>(&big), 1, 4, buf, false); }),
              INVALID_CHAR);
}

// A sequence that does not fit the budget is not started: no partial sequence
// is ever written.
TEST(UnicodeUtf8, LimitedEncodingWritesWholeSequencesOnly) {
    struct Case { uint32_t cp, budget, written; };
    for (Case c : {Case{0x41, 1, 1}, Case{0x41, 0, 0}, Case{0xE9, 1, 0}, Case{0xE9, 2, 2},
                   Case{0x20AC, 2, 0}, Case{0x20AC, 3, 3}, Case{0x1F600, 3, 0}, Case{0x1F600, 4, 4}}) {
        uint8_t buf[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ(utf8_encode_char_limited(c.cp, buf, c.budget), c.written) << c.cp;
        if (c.written == 0) {
            EXPECT_EQ(buf[0], 0xAA);
        }
    }
}

// The automaton stops at the offending byte and never reads past end.
TEST(UnicodeUtf8, AutomatonRejectsAtTheOffendingByte) {
    struct Case { const char* bytes; size_t length; int32_t cp; ptrdiff_t next; };
    const Case cases[] = {
        {"\x80", 1, -1, 0},              // stray continuation byte
        {"\xC3\x28", 2, -1, 1},          // missing continuation byte
        {"\xE2\x82", 2, -1, 2},          // cut short by the end
        {"\xC0\x80", 2, -1, 0},          // overlong lead
        {"\xE0\x80\x80", 3, -1, 1},      // overlong three-byte form
        {"\xED\xA0\x80", 3, -1, 1},      // surrogate
        {"\xF4\x90\x80\x80", 4, -1, 1},  // above 0x10FFFF
        {"\xF5\x80\x80\x80", 4, -1, 0},
        {"\xE2\x82\xAC!", 4, 0x20AC, 3},
        {"", 0, -1, 0},
    };
    for (const Case& c : cases) {
        Bytes b(c.bytes, c.bytes + c.length);
        int32_t cp = 0;
        const uint8_t* next = utf8_decode_char(b.data(), b.data() + b.size(), &cp);
        EXPECT_EQ(cp, c.cp) << c.bytes;
        EXPECT_EQ(next - b.data(), c.next) << c.bytes;
    }
}

// Counting and skipping always advance: each invalid byte counts as one.
TEST(UnicodeUtf8, CountAndSkipStayInsideTheRange) {
    Bytes text = bytes_of("ab\xC3\xA9\x80\xE2\x82\xAC\xF0\x9F\x98\x80 the end of the text\xE2\x82");
    const uint8_t* start = text.data();
    const uint8_t* end = start + text.size();
    // a b é <80> € 😀, 20 ASCII characters, then the cut-short sequence
    EXPECT_EQ(utf8_count_chars(start, end), 6u + 20u + 1u);
    EXPECT_EQ(utf8_skip_chars(start, end, 3) - start, 4);
    EXPECT_EQ(utf8_skip_chars(start, end, 4) - start, 5);
    EXPECT_EQ(utf8_skip_chars(start, end, 6) - start, 12);
    EXPECT_EQ(utf8_skip_chars(start, end, 1000), end);
    EXPECT_EQ(utf8_count_chars(start, start), 0u);
}

TEST(UnicodeUtf8, LeadSizes) {
    struct Case { uint8_t byte; uint32_t size; };
    for (Case c : {Case{0x00, 0}, Case{0x7F, 0}, Case{0x80, 0}, Case{0xBF, 0}, Case{0xC0, 2}, Case{0xDF, 2},
                   Case{0xE0, 3}, Case{0xEF, 3}, Case{0xF0, 4}, Case{0xFF, 4}})
        EXPECT_EQ(utf8_lead_size(c.byte), c.size) << int(c.byte);
}

// Strict decoding: truncated input asks for more before the continuation bytes
// are looked at; everything malformed, overlong forms included, raises.
TEST(UnicodeUtf8, StrictDecoding) {
    struct Case { const char* bytes; uint32_t available; int32_t cp; uint32_t length; };
    const Case accepted[] = {
        {"A", 1, 0x41, 1},
        {"\xC3\xA9", 2, 0xE9, 2},
        {"\xEF\xBF\xBF", 3, 0xFFFF, 3},
        {"\xF0\x90\x80\x80", 4, 0x10000, 4},
        {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF, 4},
        {"\xE2\x82", 2, -1, 2},
        {"\xE2\x28", 2, -1, 2},
        {"\xF0\x9F\x98", 3, -1, 3},
        {"\xC3", 1, -1, 1},
        {"", 0, -1, 0},
    };
    for (const Case& c : accepted) {
        uint32_t length = c.available;
        EXPECT_EQ(utf8_decode_char_checked(reinterpret_cast<const uint8_t*>(c.bytes), &length), c.cp) << c.bytes;
        EXPECT_EQ(length, c.length) << c.bytes;
    }
    const char* refused[] = {"\xC0\x80", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\x80", "\xBF", "\xC3\x28", "\xE2\x28\xA1", "\xE2\x82\x41",
                             "\xED\xA0\x80", "\xED\xB0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80",
                             "\xF7\xBF\xBF\xBF", "\xF0\x90\x28\x80", "\xF8\x88\x80\x80", "\xFF"};
    for (const char* s : refused) {
        uint32_t length = uint32_t(std::strlen(s));
        EXPECT_EQ(raised_code([&] { utf8_decode_char_checked(reinterpret_cast<const uint8_t*>(s), &length); }),
                  INVALID_UTF8) << s;
    }
}

// Scanning picks the narrowest unit and counts characters; decoding writes
// them at that unit or any wider one.
TEST(UnicodeUtf8, ScanAndDecodeIntoUnits) {
    struct Case {
        std::string bytes;
        bool crlf;
        Chars chars;
        uint32_t unit, start, rest;
    };
    const Case cases[] = {
        {"\xEF\xBB\xBF", false, {}, 1, 3, 0},
        {"\xEF\xBB", false, {}, 1, 0, 2},
        {"\xEF\xBB\xBF" "ab", false, {'a', 'b'}, 1, 3, 0},
        {"abc\xE2\x82", false, {'a', 'b', 'c'}, 1, 0, 2},
        {"a\xC3\xA9", false, {'a', 0xE9}, 1, 0, 0},
        {"\xC4\x80z", false, {0x100, 'z'}, 2, 0, 0},
        {"x\xF0\x9F\x98\x80", false, {'x', 0x1F600}, 4, 0, 0},
        {"a\r\nb\rc\r", true, {'a', '\n', 'b', '\n', 'c', '\n'}, 1, 0, 0},
        {"a\r\nb", false, {'a', '\r', '\n', 'b'}, 1, 0, 0},
        {"0123456789abcdef\xC3\xA9" "0123456789\xE2\x82\xAC" "end",
         false,
         {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f', 0xE9,
          '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 0x20AC, 'e', 'n', 'd'},
         2, 0, 0},
    };
    for (const Case& c : cases) {
        const auto* in = reinterpret_cast<const uint8_t*>(c.bytes.data());
        Utf8Scan scan = utf8_scan(in, uint32_t(c.bytes.size()), c.crlf);
        EXPECT_EQ(scan.chars, c.chars.size()) << c.bytes;
        EXPECT_EQ(scan.unit, c.unit) << c.bytes;
        EXPECT_EQ(scan.start, c.start) << c.bytes;
        EXPECT_EQ(scan.rest, c.rest) << c.bytes;
        EXPECT_EQ(scan.start + scan.used + scan.rest, c.bytes.size());
        for (uint32_t unit = c.unit; unit <= 4; unit *= 2) {
            Bytes out(scan.chars * unit + 1, 0xAA);
            EXPECT_EQ(utf8_decode_units(in, scan, out.data(), unit, c.crlf), scan.chars);
            EXPECT_EQ(chars_at(out.data(), scan.chars, unit), c.chars) << c.bytes << " at unit " << unit;
            EXPECT_EQ(out.back(), 0xAA) << "nothing written past the characters";
        }
    }
    Bytes bad = bytes_of("valid text, then \xC3\x28");
    EXPECT_EQ(raised_code([&] { utf8_scan(bad.data(), uint32_t(bad.size()), false); }), INVALID_UTF8);
}

TEST(UnicodeUtf8, EncodeUnits) {
    struct Case { Chars chars; uint32_t unit; bool crlf; std::string utf8; };
    const Case cases[] = {
        {{'c', 'a', 'f', 0xE9, '\n'}, 1, false, "caf\xC3\xA9\n"},
        {{'a', '\n', 'b'}, 1, true, "a\r\nb"},
        {{0x20AC, '\n'}, 2, true, "\xE2\x82\xAC\r\n"},
        {{0xD800, 0xDCFF}, 2, false, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // lone surrogates: U+FFFD
        {{0x1F600, 'x'}, 4, false, "\xF0\x9F\x98\x80x"},
    };
    for (const Case& c : cases) {
        Bytes src = units_of(c.chars, c.unit);
        Bytes out(c.chars.size() * (c.unit == 4 ? 4 : c.unit + 1));
        uint32_t n = utf8_encode_units(src.data(), uint32_t(c.chars.size()), c.unit, out.data(), c.crlf);
        EXPECT_EQ(std::string(out.begin(), out.begin() + n), c.utf8);
        if (!c.crlf) {
            EXPECT_EQ(utf8_measure_units(src.data(), src.data() + src.size(), c.unit), n);
        }
    }
}

// UTF-16 input: the unit is chosen by the high bytes; pairs combine, unpaired
// surrogates are kept as they are, line ends fold with crlf.
TEST(UnicodeUtf16, ScanAndDecode) {
    struct Case { Chars units; bool crlf; Chars chars; uint32_t unit; };
    const Case cases[] = {
        {{'a', 'b'}, false, {'a', 'b'}, 1},
        {{'a', 0xE9}, false, {'a', 0xE9}, 1},
        {{0x100, 'z'}, false, {0x100, 'z'}, 2},
        {{'x', 0xD83D, 0xDE00, 'y'}, false, {'x', 0x1F600, 'y'}, 4},
        {{0xDC00, 'a'}, false, {0xDC00, 'a'}, 4},
        {{'a', 0xD800}, false, {'a', 0xD800}, 4},
        {{0xD800, 'a'}, false, {0xD800, 'a'}, 4},
        {{'a', '\r', '\n', 'b', '\r', 'c'}, true, {'a', '\n', 'b', '\n', 'c'}, 1},
        {{0xD83D, 0xDE00, '\r', '\n', '\r'}, true, {0x1F600, '\n', '\n'}, 4},
        {{}, false, {}, 1},
    };
    for (const Case& c : cases) {
        Bytes text = units_of(c.units, 2);
        Utf16Scan scan = utf16_scan(text.data(), uint32_t(c.units.size()), c.crlf);
        EXPECT_EQ(scan.unit, c.unit);
        EXPECT_EQ(scan.chars, c.chars.size());
        Bytes out(scan.chars * scan.unit);
        EXPECT_EQ(utf16_decode_units(text.data(), uint32_t(c.units.size()), out.data(), scan.unit, c.crlf),
                  scan.chars);
        EXPECT_EQ(chars_at(out.data(), scan.chars, scan.unit), c.chars);
    }
}

TEST(UnicodeUtf16, Encode) {
    struct Case { Chars chars; uint32_t unit; bool crlf; Chars units; };
    const Case cases[] = {
        {{0x10000}, 4, false, {0xD800, 0xDC00}},
        {{'a', 0x10FFFF, '\n'}, 4, true, {'a', 0xDBFF, 0xDFFF, '\r', '\n'}},
        {{'a', '\n', 0xE9}, 1, false, {'a', '\n', 0xE9}},
        {{0x20AC, '\n'}, 2, true, {0x20AC, '\r', '\n'}},
    };
    for (const Case& c : cases) {
        Bytes src = units_of(c.chars, c.unit);
        uint32_t count = uint32_t(c.chars.size());
        ASSERT_EQ(utf16_measure_units(src.data(), count, c.unit, c.crlf), int64_t(c.units.size()));
        std::vector<uint16_t> out(c.units.size() + 2, 0xAAAA);
        EXPECT_EQ(utf16_encode_units(src.data(), count, c.unit, out.data(), c.crlf), c.units.size());
        EXPECT_EQ(Chars(out.begin(), out.begin() + long(c.units.size())), c.units);
        EXPECT_EQ(out[c.units.size()], 0) << "NUL-terminated";
        EXPECT_EQ(out[c.units.size() + 1], 0xAAAA);
    }
    Bytes big = units_of({'a', 0x110000}, 4);
    EXPECT_EQ(utf16_measure_units(big.data(), 2, 4, false), -1);

    uint16_t wide[8];
    EXPECT_EQ(latin1_to_utf16(reinterpret_cast<const uint8_t*>("a\xE9z"), wide), 3u);
    EXPECT_EQ(wide[1], 0xE9);
    EXPECT_EQ(wide[3], 0);
}

// Widening in place keeps every character, the wider copy overlapping the
// narrower one.
TEST(UnicodeUnits, WidenInPlace) {
    const Chars latin1 = {'a', 0xE9, 0xFF, 0, 'z'};
    const Chars ucs2 = {'a', 0xFFFF, 0xD800, 0x100};
    struct Case { const Chars* chars; uint32_t from, to; };
    for (Case c : {Case{&latin1, 1, 2}, Case{&latin1, 1, 4}, Case{&ucs2, 2, 4}}) {
        Bytes data = units_of(*c.chars, c.from);
        data.resize(c.chars->size() * c.to);
        units_widen(data.data(), uint32_t(c.chars->size()), c.from, c.to);
        EXPECT_EQ(chars_at(data.data(), uint32_t(c.chars->size()), c.to), *c.chars);
    }
}

// ---- string values and buffers --------------------------------------------------
// Every test here runs with the collector in torture mode: each series
// allocation collects and moves every live buffer and node, so a pointer or a
// node kept across an allocation shows at once.

namespace {

struct UnicodeStrings : testing::Test {
    void SetUp() override {
        memory_setup();
        collector_init();
        collector.enabled = true;
        memory_torture_set(true);
    }
    void TearDown() override {
        EXPECT_GT(collector.series_cycles, 0u) << "the allocations collected";
        memory_torture_set(false);
        collector.enabled = false;
        memory_release_all();
    }
};

// A string! of the given characters at the given unit, index 0.
void string_make(CellRoot& s, const Chars& chars, uint32_t unit) {
    cell_init(&s.cell, T_STRING);
    s.cell.w2 = series_new_units(uint32_t(chars.size()), unit);
    SeriesBuffer* b = series_buffer(s.cell.w2);
    Bytes data = units_of(chars, unit);
    if (!data.empty()) std::memcpy(b->head_ptr(), data.data(), data.size());
    b->tail = b->head + uint32_t(data.size());
}

Chars string_chars(Node node) {
    SeriesBuffer* b = series_buffer(node);
    return chars_at(b->head_ptr(), b->length(), b->unit());
}

Bytes binary_bytes(const Cell* c) {
    SeriesBuffer* b = series_buffer(c->w2);
    return Bytes(b->head_ptr(), b->tail_ptr());
}

} // namespace

TEST_F(UnicodeStrings, LoadUtf8PicksTheNarrowestUnitAndKeepsUnreadBytes) {
    struct Case { std::string bytes; Chars chars; uint32_t unit, rest; };
    const Case cases[] = {
        {"\xEF\xBB\xBF", {}, 1, 0},
        {"\xE2\x82", {}, 1, 2},
        {"caf\xC3\xA9", {'c', 'a', 'f', 0xE9}, 1, 0},
        {"\xE2\x82\xAC" "1", {0x20AC, '1'}, 2, 0},
        {"a\xF0\x9F\x98\x80", {'a', 0x1F600}, 4, 0},
    };
    for (const Case& c : cases) {
        uint32_t rest = 99;
        NodeRoot s(load_utf8(reinterpret_cast<const uint8_t*>(c.bytes.data()), uint32_t(c.bytes.size()), 0,
                             &rest, false), ROOT_SERIES);
        EXPECT_EQ(series_buffer(s.node)->unit(), c.unit) << c.bytes;
        EXPECT_EQ(string_chars(s.node), c.chars) << c.bytes;
        EXPECT_EQ(rest, c.rest) << c.bytes;
    }
}

// Chunks append to the target, which widens as wider characters arrive.
TEST_F(UnicodeStrings, LoadUtf8AppendsChunksToATarget) {
    CellRoot s;
    string_make(s, {'a', 'b'}, 1);
    Bytes text = bytes_of("\xC3\xA9\r\n\xE2\x82\xAC\xF0\x9F");
    uint32_t rest = 0;
    load_utf8(text.data(), uint32_t(text.size()), s.cell.w2, &rest, true);
    EXPECT_EQ(rest, 2u);
    Bytes more = bytes_of("\x98\x80!");
    more.insert(more.begin(), text.end() - 2, text.end());
    load_utf8(more.data(), uint32_t(more.size()), s.cell.w2, &rest, true);
    EXPECT_EQ(rest, 0u);
    EXPECT_EQ(series_buffer(s.cell.w2)->unit(), 4u);
    EXPECT_EQ(string_chars(s.cell.w2), (Chars{'a', 'b', 0xE9, '\n', 0x20AC, 0x1F600, '!'}));
}

// Bytes held in a binary! are re-read after the allocation that moves them.
TEST_F(UnicodeStrings, LoadUtf8FromASeriesThatMoves) {
    Bytes text = bytes_of("--na\xC3\xAFve text");
    NodeRoot bin(series_new_bytes(uint32_t(text.size())), ROOT_SERIES);
    SeriesBuffer* b = series_buffer(bin.node);
    std::memcpy(b->head_ptr(), text.data(), text.size());
    b->tail = b->head + uint32_t(text.size());
    NodeRoot s(load_utf8_series(bin.node, 2, uint32_t(text.size() - 2), 0, nullptr, false), ROOT_SERIES);
    EXPECT_EQ(string_chars(s.node), (Chars{'n', 'a', 0xEF, 'v', 'e', ' ', 't', 'e', 'x', 't'}));
}

// The error carries the bytes from the bad sequence on, at most four and
// never past the end; input that ends inside a sequence is an error when the
// caller keeps no remainder.
TEST_F(UnicodeStrings, InvalidUtf8NamesTheBadBytes) {
    struct Case { std::string bytes; Bytes named; };
    const Case cases[] = {
        {"ok\xC3\x28", {0xC3, 0x28}},
        {"ok\xC3\x28xyz", {0xC3, 0x28, 'x', 'y'}},
        {"ok\xE2\x82", {0xE2, 0x82}},
    };
    for (const Case& c : cases) {
        // The record in flight is read inside the catch, as every catcher does.
        int code = 0;
        Bytes named;
        try {
            load_utf8(reinterpret_cast<const uint8_t*>(c.bytes.data()), uint32_t(c.bytes.size()), 0, nullptr, false);
        } catch (const LanguageError& e) {
            code = e.code();
            if (cell_type(&error_in_flight.args[0]) == T_BINARY) named = binary_bytes(&error_in_flight.args[0]);
        }
        EXPECT_EQ(code, INVALID_UTF8) << c.bytes;
        EXPECT_EQ(named, c.named) << c.bytes;
    }
}

TEST_F(UnicodeStrings, ToUtf8FromThePosition) {
    CellRoot s;
    string_make(s, {'x', 'a', '\n', 0xE9, 0x20AC, 0x1F600}, 4);
    s.cell.w1 = 1;
    int32_t count = -1;
    const uint8_t* text = to_utf8(&s.cell, &count);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text)), "a\n\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(count, 11);
    count = 3;
    text = to_utf8_data(&s.cell, &count, true);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text)), "a\r\n\xC3\xA9");
    EXPECT_EQ(count, 5);

    uint8_t out[16];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(string_to_utf8_into(&s.cell, out, 2, true), 2u);
    EXPECT_EQ(out[2], 0);
    // Budget 7 with the NUL: a, LF, é fit (4 bytes); € (3 more) would not fit.
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(string_to_utf8_limited(&s.cell, out, 7, -1, true), 4u);
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(out[5], 0xAA);
    EXPECT_EQ(string_to_utf8_limited(&s.cell, out, 8, -1, true), 7u);
}

// The text handed to C libraries: every unit width, characters above U+FFFF,
// lone surrogates as U+FFFD, NUL and LF kept, from the position to the tail.
TEST_F(UnicodeStrings, StringUtf8FromThePosition) {
    struct Case { Chars chars; uint32_t unit; uint32_t index; std::string utf8; };
    const Case cases[] = {
        {{}, 1, 0, ""},
        {{'a', 0, '\n', 0xE9}, 1, 0, std::string("a\0\n\xC3\xA9", 5)},
        {{'x', 0x20AC, 0xD800, 'y', 0xDFFF}, 2, 1, "\xE2\x82\xAC\xEF\xBF\xBD" "y\xEF\xBF\xBD"},
        {{'x', 0x1F600, 0x10FFFF, 0xDC80}, 4, 1, "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\xEF\xBF\xBD"},
        {{'a', 'b'}, 1, 5, ""},  // a position past the tail
    };
    for (const Case& c : cases) {
        CellRoot s;
        string_make(s, c.chars, c.unit);
        s.cell.w1 = c.index;
        EXPECT_EQ(string_utf8(&s.cell), c.utf8) << "unit " << c.unit << " index " << c.index;
    }
    CellRoot s;
    string_make(s, {'a', 0x110000}, 4);
    EXPECT_EQ(raised_code([&] { string_utf8(&s.cell); }), INVALID_CHAR);
}

// Text from the OS: valid UTF-8 is read as it stands, every other byte as
// the reserved character U+DC00 + byte, and the text goes back to the same
// bytes.
TEST_F(UnicodeStrings, OsTextKeepsEveryByte) {
    struct Case { std::string bytes; Chars chars; };
    const Case cases[] = {
        {"", {}},
        {"caf\xC3\xA9 \xE2\x82\xAC", {'c', 'a', 'f', 0xE9, ' ', 0x20AC}},
        {"a\xFF" "b", {'a', 0xDCFF, 'b'}},
        {"\xF0\x9F\x98\x80\x80", {0x1F600, 0xDC80}},
        {"\xED\xB2\x80", {0xDCED, 0xDCB2, 0xDC80}},       // a reserved character spelt in UTF-8
        {"\xC0\x80", {0xDCC0, 0xDC80}},                   // overlong
        {"\xE2\x82" "x\xE2\x82", {0xDCE2, 0xDC82, 'x', 0xDCE2, 0xDC82}},  // cut short
        {"\xF4\x90\x80\x80", {0xDCF4, 0xDC90, 0xDC80, 0xDC80}},          // above U+10FFFF
    };
    for (const Case& c : cases) {
        CellRoot s;
        cell_init(&s.cell, T_STRING);
        s.cell.w2 = load_os_text(reinterpret_cast<const uint8_t*>(c.bytes.data()), uint32_t(c.bytes.size()), 0);
        EXPECT_EQ(string_chars(s.cell.w2), c.chars) << c.bytes;
        EXPECT_EQ(os_text_of(&s.cell, -1), c.bytes);
    }
    // Any bytes at all come back as they were, also when appended to a string.
    uint32_t seed = 12345;
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        for (int i = round % 17; i > 0; --i) {
            seed = seed * 1103515245 + 12345;
            bytes += char(seed >> 16);
        }
        CellRoot s;
        string_make(s, {'<', 0x20AC}, 2);
        load_os_text(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), s.cell.w2);
        ASSERT_EQ(os_text_of(&s.cell, -1), "<\xE2\x82\xAC" + bytes);
    }
}

// Going to the OS, a reserved character is its byte; any other surrogate has
// no UTF-8 form and becomes U+FFFD.
TEST_F(UnicodeStrings, OsTextOfSurrogates) {
    CellRoot s;
    string_make(s, {'x', 0xDC80, 0xDCFF, 0xDC7F, 0xDD00, 0xD800, 0x1F600}, 4);
    EXPECT_EQ(os_text_of(&s.cell, -1), "x\x80\xFF\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xF0\x9F\x98\x80");
    s.cell.w1 = 1;
    EXPECT_EQ(os_text_of(&s.cell, 2), "\x80\xFF");
}

TEST_F(UnicodeStrings, WidenKeepsEveryCharacter) {
    Chars full;
    for (uint32_t c = 0xF0; c < 0x100; ++c) full.push_back(c);  // fills the 16-byte buffer
    struct Case { uint32_t from, to; };
    for (Case c : {Case{1, 2}, Case{1, 4}, Case{2, 4}}) {
        CellRoot s;
        string_make(s, full, c.from);
        SeriesBuffer* b = string_widen(series_buffer(s.cell.w2), c.to);
        EXPECT_EQ(b, series_buffer(s.cell.w2));
        EXPECT_EQ(b->unit(), c.to);
        EXPECT_GE(b->size - b->head, (full.size() + 1) * c.to);
        EXPECT_EQ(string_chars(s.cell.w2), full);
    }
    // A head placed in the middle of its buffer stays where it is.
    CellRoot m;
    cell_init(&m.cell, T_STRING);
    m.cell.w2 = series_new(64, 1, -1);
    SeriesBuffer* b = series_buffer(m.cell.w2);
    std::memcpy(b->head_ptr(), "abc", 3);
    b->tail = b->head + 3;
    b = string_widen(b, 4);
    EXPECT_EQ(b->head, 32u);
    EXPECT_EQ(string_chars(m.cell.w2), (Chars{'a', 'b', 'c'}));
}

TEST_F(UnicodeStrings, ToUtf16) {
    CellRoot s;
    string_make(s, {'a', 0x10000, '\n'}, 4);
    const uint16_t* text = to_utf16(&s.cell);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(Chars(text, text + 6), (Chars{'a', 0xD800, 0xDC00, '\r', '\n', 0}));
    SeriesBuffer* conversion = series_buffer(s.cell.w3);
    EXPECT_LE(12u, conversion->size - conversion->head);

    int32_t count = 2;
    text = to_utf16_part(&s.cell, &count, false);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Chars(text, text + 4), (Chars{'a', 0xD800, 0xDC00, 0}));

    CellRoot big;
    string_make(big, {'a', 0x110000}, 4);
    count = -1;
    EXPECT_EQ(to_utf16_part(&big.cell, &count, true), nullptr);
}

TEST_F(UnicodeStrings, LoadUtf16NewAndInPlace) {
    Bytes text = units_of({'h', 0xD83D, 0xDE00, '\r', '\n', 0x20AC}, 2);
    NodeRoot s(load_utf16(text.data(), 6, 0, true), ROOT_SERIES);
    EXPECT_EQ(series_buffer(s.node)->unit(), 4u);
    EXPECT_EQ(string_chars(s.node), (Chars{'h', 0x1F600, '\n', 0x20AC}));

    // The raw units stand in the target's own buffer and are replaced.
    CellRoot t;
    string_make(t, {}, 1);
    Bytes raw = units_of({'o', 'k', 0xE9}, 2);
    SeriesBuffer* b = series_buffer(t.cell.w2);
    std::memcpy(b->head_ptr(), raw.data(), raw.size());
    load_utf16(nullptr, 3, t.cell.w2, false);
    EXPECT_EQ(series_buffer(t.cell.w2)->unit(), 1u);
    EXPECT_EQ(string_chars(t.cell.w2), (Chars{'o', 'k', 0xE9}));
}
