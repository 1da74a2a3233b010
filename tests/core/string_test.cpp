#include "core/string.hpp"
#include "core/sort.hpp"
#include "tests/core/string_fixture.hpp"
#include <gtest/gtest.h>
#include <cmath>

using namespace kel;
using namespace kel::testing;

namespace {

using StringBuffers = RuntimeTest;

TEST_F(StringBuffers, AppendWidensAboveAsciiWhilePokeKeepsLatin1) {
    Cell* appended = text_push("abc");
    string_append_char(appended, 233);
    EXPECT_EQ(unit_of(appended), 2u);
    EXPECT_EQ(text_of(appended), "abc\u00E9");

    Cell* poked = text_push("abc");
    string_poke_char(poked, 1, 233);
    EXPECT_EQ(unit_of(poked), 1u);
    EXPECT_EQ(text_of(poked), "a\u00E9c");

    // Poking at the tail extends the string by one character.
    string_poke_char(poked, 3, 'd');
    EXPECT_EQ(text_of(poked), "a\u00E9cd");
}

TEST_F(StringBuffers, WideningKeepsEveryCharacter) {
    Cell* s = text_push("a\u0100b\u00E9");
    ASSERT_EQ(unit_of(s), 2u);
    string_poke_char(s, 2, 0x1F600);
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(text_of(s), "a\u0100\U0001F600\u00E9");

    // A write through the byte offset of a narrower unit lands on the same character.
    Cell* t = text_push("xyz");
    string_write_char(t, 1, 0x3B1);
    EXPECT_EQ(text_of(t), "x\u03B1z");
}

TEST_F(StringBuffers, InsertAndRemoveMoveTheRest) {
    Cell* s = text_push("acd");
    string_insert_char(s, 1, 'b');
    string_insert_char(s, 4, 0x2603);
    EXPECT_EQ(text_of(s), "abcd\u2603");
    string_remove_chars(s, 1, 2);
    EXPECT_EQ(text_of(s), "ad\u2603");
    string_remove_chars(s, 2, 100);  // a count past the tail stops there
    EXPECT_EQ(text_of(s), "ad");
}

TEST_F(StringBuffers, EmptyByteTextAppendsNothing) {
    Cell* s = text_push("");
    string_concatenate_text(s, "");
    string_concatenate_bytes(s, "zz", 0);
    EXPECT_EQ(series_buffer(s->w2)->length(), 0u);
    string_concatenate_bytes(s, "\xE9!", 2);  // bytes are Latin-1 characters
    EXPECT_EQ(text_of(s), "\u00E9!");
}

TEST_F(StringBuffers, Utf8AppendDecodesAndKeepsAByteOrderMarkInside) {
    Cell* s = text_push("x");
    std::string text = "ab\xEF\xBB\xBF\xC3\xA9\xE2\x82\xAC";
    string_append_utf8(s, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    EXPECT_EQ(text_of(s), "xab\uFEFF\u00E9\u20AC");

    const uint8_t bad[] = {'a', 0xC3};
    EXPECT_EQ(raised_code([&] { string_append_utf8(s, bad, 2); }), ACCESS_ERROR + ERR_INVALID_UTF8);
}

TEST_F(StringBuffers, ConcatenateModes) {
    struct Case {
        const char* target;
        const char* source;
        int32_t part;
        uint32_t offset;
        ConcatMode mode;
        const char* expected;
    };
    const Case cases[] = {
        {"abc", "XY", -1, 0, CONCAT_APPEND, "abcXY"},
        {"abc", "XY", 1, 0, CONCAT_APPEND, "abcX"},
        {"abc", "XY", -1, 1, CONCAT_INSERT, "aXYbc"},
        {"abcd", "XY", -1, 1, CONCAT_OVERWRITE, "aXYd"},
        {"abc", "XYZ", -1, 2, CONCAT_OVERWRITE, "abXYZ"},   // past the tail: it grows
        {"abcdef", "X", -1, 0, CONCAT_OVERWRITE, "Xbcdef"}, // the tail never moves back
        {"ab", "\u0100\u00E9", -1, 1, CONCAT_INSERT, "a\u0100\u00E9b"},
        {"\u0100", "\u00E9x", -1, 0, CONCAT_APPEND, "\u0100\u00E9x"},
    };
    for (const Case& c : cases) {
        Cell* target = text_push(c.target);
        Cell* source = text_push(c.source);
        string_concatenate(target, source, c.part, c.offset, true, c.mode);
        EXPECT_EQ(text_of(target), c.expected) << c.target << " / " << c.source;
        EXPECT_EQ(text_of(source), c.source);
        stack_pop(2);
    }
}

TEST_F(StringBuffers, ConcatenateFromItsOwnBuffer) {
    Cell* s = text_push("abcd");
    Cell* tail = stack_push(s);
    tail->w1 = 2;
    string_concatenate(s, tail, -1, 0, false, CONCAT_INSERT);
    EXPECT_EQ(text_of(s), "cdabcd");
    string_concatenate(s, s, -1, 0, false, CONCAT_APPEND);
    EXPECT_EQ(text_of(s), "cdabcdcdabcd");
}

TEST_F(StringBuffers, ConcatenateWithoutKeepUnitWidensTheSource) {
    Cell* target = text_push("\u0100");
    Cell* source = text_push("ab");
    string_concatenate(target, source, -1, 0, false, CONCAT_APPEND);
    EXPECT_EQ(text_of(target), "\u0100ab");
    EXPECT_EQ(unit_of(source), 2u);
    EXPECT_EQ(text_of(source), "ab");
}

TEST_F(StringBuffers, MoveCharsConvertsUnits) {
    Cell* origin = text_push("\u0100xy");
    Cell* target = text_push("ab");
    target->w1 = 1;
    string_move_chars(origin, target, 2);
    EXPECT_EQ(text_of(origin), "y");
    target->w1 = 0;
    EXPECT_EQ(text_of(target), "a\u0100xb");
}

TEST_F(StringBuffers, PositionsAndReaders) {
    Cell* s = text_push("a<bc>\u00E9");
    s->w1 = 40;
    EXPECT_TRUE(string_ks_tail_q(s));
    EXPECT_EQ(string_ks_length_q(s), 0u);
    EXPECT_EQ(s->w1, 6u);  // written back as the buffer length
    s->w1 = 1;
    EXPECT_EQ(string_ks_length_q(s), 5u);
    EXPECT_EQ(string_ks_char_at(s, 5), 233u);
    EXPECT_EQ(string_ks_find_char(s, 'c'), 2);
    EXPECT_EQ(string_ks_find_char(s, 'z'), -1);
    EXPECT_TRUE(string_has_char_q(s, 0xC9, 1, false));   // folded: É finds é
    EXPECT_FALSE(string_has_char_q(s, 0xC9, 1, true));
    EXPECT_FALSE(string_has_char_q(s, 'b', 2, true));    // 'b' lies one step off the stride
    EXPECT_TRUE(string_ks_match_text_q(s, "<bc"));
    EXPECT_FALSE(string_ks_match_text_q(s, "<bcd>x"));
    Cell* tag = text_push("bc");
    cell_type_set(tag, T_TAG);
    EXPECT_TRUE(string_tag_form_q(s, tag));

    string_ks_truncate(series_buffer(s->w2), 3);
    s->w1 = 0;
    EXPECT_EQ(text_of(s), "a<b");
    string_ks_reset(s);
    EXPECT_EQ(unit_of(s), 1u);
    EXPECT_EQ(string_ks_length_q(s), 0u);
}

TEST_F(StringBuffers, LoadFromUtf16AndIntoABlock) {
    const uint8_t utf16[] = {'h', 0, 0x00, 0x01, 'i', 0};
    Cell* s = string_load_push(utf16, sizeof utf16, ENCODING_UTF16LE);
    EXPECT_EQ(cell_type(s), T_STRING);
    EXPECT_EQ(text_of(s), "h\u0100i");

    CellRoot block;
    kel::testing::block_of_cells(&block.cell, nullptr, 0);
    const char* text = "caf\xC3\xA9";
    string_load_in(reinterpret_cast<const uint8_t*>(text), 5, block.cell.w2, ENCODING_UTF8);
    ASSERT_EQ(block_length(&block.cell), 1u);
    Cell* loaded = stack_push(&block_cells(&block.cell)[0]);
    EXPECT_EQ(text_of(loaded), "caf\u00E9");
}

TEST_F(StringBuffers, HexText) {
    EXPECT_STREQ(byte_to_hex(0xAB), "AB");
    EXPECT_STREQ(byte_to_hex(7), "07");
    EXPECT_STREQ(int_to_hex(30, false), "0000001E");
    EXPECT_STREQ(int_to_hex(30, true), "1E");
    EXPECT_STREQ(int_to_hex(0, true), "00");
    EXPECT_STREQ(int_to_hex(5, true), "5");
    EXPECT_STREQ(int_to_hex(0x100, true), "100");
    EXPECT_STREQ(int_to_hex(0xDEADBEEF, true), "DEADBEEF");

    Cell* number = text_push("-12.5e1x");
    SeriesBuffer* b = series_buffer(number->w2);
    EXPECT_DOUBLE_EQ(string_span_to_float(b->head_ptr(), 7, 1), -125.0);
}

TEST_F(StringBuffers, CompareValues) {
    struct Case {
        const char* a;
        const char* b;
        int32_t op;
        bool match;
        int32_t expected;
    };
    const Case cases[] = {
        {"abc", "ABC", CMP_EQUAL, false, 0},
        {"abc", "ABC", CMP_STRICT_EQUAL, false, 1},
        {"ab", "abc", CMP_SORT, false, -1},
        {"abc", "ab", CMP_SORT, false, 1},
        {"ab", "abc", CMP_EQUAL, false, 1},     // equality of different lengths
        {"b", "A", CMP_SORT, false, 1},
        {"b", "A", CMP_SORT_CASE, false, 1},
        {"a", "B", CMP_SORT_CASE, false, 1},
        {"\u00C9t\u00E9", "\u00E9T\u00C9", CMP_EQUAL, false, 0},  // folding beyond A to Z
        {"\u0100x", "\u0101X", CMP_EQUAL, false, 0},
        {"abcdef", "ABC", CMP_FIND, true, 0},
        {"ab", "abc", CMP_FIND, true, 1},
        {"abc", "", CMP_FIND, true, 1},
        {"abc", "", CMP_EQUAL, true, 0},
        {"", "", CMP_EQUAL, false, 0},
    };
    for (const Case& c : cases) {
        Cell* a = text_push(c.a);
        Cell* b = text_push(c.b);
        EXPECT_EQ(string_compare_values(a, b, c.op, c.match), c.expected) << c.a << " vs " << c.b << " op " << c.op;
        stack_pop(2);
    }
    Cell* s = text_push("abc");
    Cell* same = stack_push(s);
    EXPECT_EQ(string_compare_values(s, same, CMP_SAME, false), 0);
    Cell* copy = text_push("abc");
    EXPECT_EQ(string_compare_values(s, copy, CMP_SAME, false), -1);
}

TEST_F(StringBuffers, MatchAt) {
    Cell* s = text_push("<B>cd");
    Cell* tag = text_push("b");
    cell_type_set(tag, T_TAG);
    EXPECT_TRUE(string_match_at_q(s, tag, CMP_FIND));
    EXPECT_FALSE(string_match_at_q(s, tag, CMP_STRICT_EQUAL));
    Cell lt = char_cell('<');
    EXPECT_TRUE(string_match_at_q(s, &lt, CMP_FIND));
    s->w1 = 3;
    Cell big_c = char_cell('C');
    EXPECT_TRUE(string_match_at_q(s, &big_c, CMP_FIND));
    EXPECT_FALSE(string_match_at_q(s, &big_c, CMP_STRICT_EQUAL));
    Cell* cd = text_push("CD");
    EXPECT_TRUE(string_match_at_q(s, cd, CMP_FIND));
}

// The same text sorts the same whatever unit its buffer has.
TEST_F(StringBuffers, SortKernelsFoldAlikeAtEveryUnit) {
    const uint32_t chars[] = {0xC9, 0xE9, 'a', 'B', '_'};
    for (uint32_t x : chars) {
        for (uint32_t y : chars) {
            uint8_t a1 = uint8_t(x), b1 = uint8_t(y);
            uint16_t a2 = uint16_t(x), b2 = uint16_t(y);
            uint32_t a4 = x, b4 = y;
            int r1 = string_sort_compare_1(&a1, &b1, 0, 0);
            int r2 = string_sort_compare_2(&a2, &b2, 0, 0);
            int r4 = string_sort_compare_4(&a4, &b4, 0, 0);
            EXPECT_EQ((r1 > 0) - (r1 < 0), (r2 > 0) - (r2 < 0)) << x << " " << y;
            EXPECT_EQ((r2 > 0) - (r2 < 0), (r4 > 0) - (r4 < 0)) << x << " " << y;
        }
    }
    uint8_t e1 = 0xC9, e2 = 0xE9;
    EXPECT_EQ(string_sort_compare_1(&e1, &e2, 0, 0), 0);
    EXPECT_NE(string_sort_compare_1(&e1, &e2, 1, 0), 0);
    EXPECT_GT(string_sort_compare_1(&e1, &e2, 1, SORT_REVERSE), 0);

    // Records of two characters compared on their second field, then in full.
    const char records[] = "zb" "ya";
    EXPECT_GT(string_sort_compare_1(records, records + 2, 0, 1u << SORT_FIELD_SHIFT), 0);
    EXPECT_GT(string_sort_compare_1(records, records + 2, 0, SORT_ALL | (2u << SORT_FIELD_SHIFT)), 0);

    double nan = std::nan(""), one = 1.0;
    EXPECT_EQ(sort_compare_float64(&nan, &one, 0, 0), 0);
    float f1 = 1.0f, f2 = 2.0f;
    EXPECT_LT(sort_compare_float32(&f1, &f2, 0, 0), 0);
    EXPECT_GT(sort_compare_float32(&f1, &f2, 0, SORT_REVERSE), 0);
}

TEST_F(StringBuffers, MoldSupport) {
    Cell* s = text_push("a\"b\nc\n\"{x{y}");
    SeriesBuffer* b = series_buffer(s->w2);
    uint32_t quotes, lines;
    string_mold_scan(b->head_ptr(), b->tail_ptr(), 1, &quotes, &lines);
    EXPECT_EQ(quotes, 2u);
    EXPECT_EQ(lines, 2u);
    const uint8_t* open = b->head_ptr() + 7;  // the first "{"
    EXPECT_FALSE(string_braces_balanced_q(open, b->tail_ptr(), 1));
    EXPECT_TRUE(string_braces_balanced_q(open + 2, b->tail_ptr(), 1));

    Cell* out = text_push("");
    for (uint32_t c : {0u, 9u, 10u, 30u, 34u, 94u, 127u, 150u, 233u, 0x263Au})
        string_append_escaped_char(out, c, false);
    EXPECT_EQ(text_of(out), "^@^-^/^(1E)^\"^^^~^(96)\u00E9\u263A");
    Cell* all = text_push("");
    string_append_escaped_char(all, 233, true);
    string_append_escaped_char(all, 0x263A, true);
    EXPECT_EQ(text_of(all), "^(E9)^(263A)");
}

} // namespace
