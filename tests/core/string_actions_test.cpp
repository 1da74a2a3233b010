#include "core/string.hpp"
#include "core/block.hpp"
#include "core/logic.hpp"
#include "tests/core/string_fixture.hpp"
#include <gtest/gtest.h>
#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

using StringActions = RuntimeTest;

// The molded text of a string made from UTF-8.
std::string mold_of(const std::string& text, bool all = false) {
    Cell* value = text_push(text);
    Cell* out = text_push("");
    string_mold(value, out, false, all, false, false, 0, 0);
    std::string result = text_of(out);
    stack_pop(2);
    return result;
}

TEST_F(StringActions, MoldChoosesQuotesOrBracesAndEscapes) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"abc", "\"abc\""},
        {"a\nb\nc", "\"a^/b^/c\""},                // two line feeds stay quoted
        {"a\nb\nc\nd", "{a^/b^/c^/d}"},           // three switch to braces
        {"say \"hi\"", "{say \"hi\"}"},           // a double quote as it is
        {"a^b\t", "\"a^^b^-\""},
        {"x\"{a}", "{x\"{a}}"},                   // paired braces stay
        {"x\"{a", "{x\"^{a}"},                    // an unpaired one gets a caret
        {"x\"{a{b}", "{x\"^{a^{b^}}"},            // and so does every later "{"
        {"x\"}{a}{", "{x\"^}{a}^{}"},
        {"{a}", "\"{a}\""},                        // braces need no escape in quotes
        {std::string(1, '\x1E'), "\"^(1E)\""},
        {"\u0096", "\"^(96)\""},
        {"\u00E9\x7F", "\"\u00E9^~\""},
        {std::string(1, '\0'), "\"^@\""},
        {std::string(49, 'x'), "\"" + std::string(49, 'x') + "\""},
        {std::string(50, 'x'), "{" + std::string(50, 'x') + "}"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold_of(c.text), c.expected) << c.text;
    EXPECT_EQ(mold_of("\u00E9", true), "\"^(E9)\"");
}

TEST_F(StringActions, MoldAndFormHonourThePartBudget) {
    Cell* value = text_push("abcdef");
    value->w1 = 1;
    Cell* out = text_push("");
    EXPECT_EQ(string_mold(value, out, false, false, false, true, 3, 0), -2);
    EXPECT_EQ(text_of(out), "\"bcd\"");
    Cell* formed = text_push("");
    EXPECT_EQ(string_form(value, formed, false, false, false, true, 2, 0), -3);
    EXPECT_EQ(text_of(formed), "bc");
}

// append/insert on a held series; returns its text from the head.
struct Added {
    std::string text;
    uint32_t index;
};

Added insert_into(const std::string& start, uint32_t at, const Cell* value, int32_t part, int32_t dup,
                  bool append) {
    Cell* series = text_push(start);
    series->w1 = at;
    string_insert(series, value, part, false, dup, append);
    Added result{"", series->w1};
    series->w1 = 0;
    result.text = text_of(series);
    return result;
}

TEST_F(StringActions, AppendAndInsertText) {
    Cell* xy = text_push("xy");
    Cell* tag = text_push("b");
    cell_type_set(tag, T_TAG);
    Cell e_acute = char_cell(233);

    Added a = insert_into("a", 0, xy, -1, 1, true);
    EXPECT_EQ(a.text, "axy");
    EXPECT_EQ(a.index, 0u);
    EXPECT_EQ(insert_into("a", 0, tag, -1, 1, true).text, "a<b>");
    EXPECT_EQ(insert_into("a", 0, tag, 2, 1, true).text, "a<b");  // no count left for ">"
    EXPECT_EQ(insert_into("a", 0, xy, 1, 3, true).text, "axxx");
    Added i = insert_into("abc", 1, xy, -1, 2, false);
    EXPECT_EQ(i.text, "axyxybc");
    EXPECT_EQ(i.index, 5u);
    Added e = insert_into("ab", 1, &e_acute, -1, 1, false);
    EXPECT_EQ(e.text, "a\u00E9b");
}

TEST_F(StringActions, AppendFormsEachValueOfABlock) {
    CellRoot block;
    Cell cells[] = {word_cell(T_WORD, symbol_make("x")), integer_cell(1)};
    kel::testing::block_of_cells(&block.cell, cells, 2);
    EXPECT_EQ(insert_into("a", 0, &block.cell, -1, 1, true).text, "ax1");
    Cell one = integer_cell(12345);
    EXPECT_EQ(insert_into("a", 0, &one, 3, 1, true).text, "a123");
}

TEST_F(StringActions, InsertIntoItself) {
    Cell* s = text_push("abc");
    Cell* same = stack_push(s);
    s->w1 = 1;
    string_insert(s, same, -1, false, 2, false);
    s->w1 = 0;
    EXPECT_EQ(text_of(s), "aabcabcbc");
}

TEST_F(StringActions, Change) {
    struct Case {
        const char* start;
        uint32_t at;
        const char* value;
        int32_t part;
        int32_t dup;
        const char* expected;
        uint32_t index;
    };
    const Case cases[] = {
        {"abcdef", 1, "XY", -1, 1, "aXYdef", 3},
        {"abcdef", 1, "XY", 1, 1, "aXYcdef", 3},
        {"abcdef", 4, "XYZ", -1, 1, "abcdXYZ", 7},
        {"abc", 3, "XY", -1, 1, "abcXY", 5},   // at the tail it appends
        {"abc", 0, "\u0100", 2, 2, "\u0100\u0100c", 2},
    };
    for (const Case& c : cases) {
        Cell* series = text_push(c.start);
        Cell* value = text_push(c.value);
        series->w1 = c.at;
        string_change(series, value, c.part, false, c.dup);
        EXPECT_EQ(series->w1, c.index) << c.start;
        series->w1 = 0;
        EXPECT_EQ(text_of(series), c.expected) << c.start;
        stack_pop(2);
    }
}

TEST_F(StringActions, Trim) {
    struct Case {
        const char* text;
        bool head, tail, lines, all;
        const char* expected;
    };
    const Case cases[] = {
        {"  a  \n  b  ", false, false, false, false, "a\nb"},
        {"  a b \n\n  ", false, false, false, false, "a b\n"},
        {"  a  ", true, false, false, false, "a  "},
        {"  a  ", false, true, false, false, "  a"},
        {" \t a \n\n b  c ", false, false, true, false, "a b c"},
        {" a \tb\nc ", false, false, false, true, "abc"},
        {"\u3000a\u00A0", false, false, false, false, "a"},
    };
    for (const Case& c : cases) {
        Cell* s = text_push(c.text);
        string_trim(s, c.head, c.tail, false, c.lines, c.all, nullptr);
        EXPECT_EQ(text_of(s), c.expected) << c.text;
        stack_pop(1);
    }
    Cell* s = text_push("a-b-c");
    Cell dash = char_cell('-');
    string_trim(s, false, false, false, false, false, &dash);
    EXPECT_EQ(text_of(s), "abc");
    Cell* set = text_push("ac");
    string_trim(s, false, false, false, false, false, set);
    EXPECT_EQ(text_of(s), "b");
    EXPECT_EQ(raised_code([&] { string_trim(s, false, false, true, false, false, nullptr); }),
              INTERNAL_ERROR + ERR_NOT_DONE);
}

// find on "a text" at a position: the resulting index, or -1 for none.
struct FindCase {
    const char* text;
    uint32_t at;
    const char* needle;  // a one-character needle is a char!
    bool case_, last, reverse, tail, match;
    int32_t skip;
    int32_t part;
    int64_t expected;
};

int64_t find_index(const FindCase& c) {
    Cell* series = text_push(c.text);
    series->w1 = c.at;
    Cell* needle = text_push(c.needle);
    if (std::string(c.needle).size() == 1) *needle = char_cell(uint8_t(c.needle[0]));
    Cell* skip = c.skip ? stack_push_new(T_INTEGER) : nullptr;
    if (skip) *skip = integer_cell(c.skip);
    Cell* part = c.part >= 0 ? stack_push_new(T_INTEGER) : nullptr;
    if (part) *part = integer_cell(c.part);
    const Cell* r = string_find(series, needle, FindOptions{.part = part, .case_ = c.case_, .skip = skip,
                                                           .last = c.last, .reverse = c.reverse,
                                                           .tail = c.tail, .match = c.match});
    return cell_type(r) == T_NONE ? -1 : int64_t(r->w1);
}

TEST_F(StringActions, Find) {
    const FindCase cases[] = {
        {"abcabc", 0, "c", false, false, false, false, false, 0, -1, 2},
        {"abcabc", 0, "C", true, false, false, false, false, 0, -1, -1},
        {"abcabc", 0, "BC", false, false, false, true, false, 0, -1, 3},
        {"abcabc", 0, "bc", false, true, false, false, false, 0, -1, 4},
        {"abcabc", 5, "b", false, false, true, false, false, 0, -1, 4},
        {"abcabc", 5, "b", false, false, true, true, false, 0, -1, 5},  // backward, past the match
        {"abcabc", 5, "ab", false, false, true, false, false, 0, -1, 3},
        {"abcabc", 0, "ab", false, false, false, false, true, 0, -1, 0},
        {"abcabc", 1, "ab", false, false, false, false, true, 0, -1, -1},
        {"abcabc", 0, "b", false, false, false, false, false, 3, -1, -1},  // b lies off the stride
        {"abcabc", 0, "c", false, false, false, false, false, 2, -1, 2},
        {"abcabc", 0, "c", false, false, false, false, false, 0, 2, -1},
        {"abcabc", 6, "a", false, false, false, false, false, 0, -1, -1},
        {"abcabc", 1, "a", false, false, true, false, false, 0, -1, 0},
        {"abcabc", 0, "a", false, false, true, false, false, 0, -1, -1},
        {"\u00E9t\u00C9", 0, "\u00C9T", false, false, false, false, false, 0, -1, 0},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(find_index(c), c.expected) << c.text << " " << c.needle << " at " << c.at;
        stack_pop(uint32_t(data_stack.top - data_stack.bottom));
    }
}

TEST_F(StringActions, FindOtherValuesAndErrors) {
    Cell* series = text_push("x10 foo");
    Cell word = word_cell(T_WORD, symbol_make("FOO"));
    Cell* s = stack_push(series);
    string_find(s, &word, FindOptions{});
    EXPECT_EQ(s->w1, 4u);
    Cell ten = integer_cell(10);
    s = stack_push(series);
    string_find(s, &ten, FindOptions{});
    EXPECT_EQ(s->w1, 1u);

    Cell zero = integer_cell(0);
    EXPECT_EQ(raised_code([&] {
                  string_find(stack_push(series), &ten, FindOptions{.skip = &zero});
              }),
              SCRIPT_ERROR + ERR_OUT_OF_RANGE);
    EXPECT_EQ(raised_code([&] {
                  string_find(stack_push(series), &ten, FindOptions{.any = true});
              }),
              INTERNAL_ERROR + ERR_NOT_DONE);
    Cell* other = text_push("x10");
    EXPECT_EQ(raised_code([&] {
                  string_find(stack_push(series), &ten, FindOptions{.part = other});
              }),
              SCRIPT_ERROR + ERR_INVALID_REFINE_ARG);
}

TEST_F(StringActions, Select) {
    Cell* series = text_push("a=1;bc=2");
    Cell* key = text_push("BC=");
    Cell* s = stack_push(series);
    string_select(s, key, FindOptions{});
    ASSERT_EQ(cell_type(s), T_CHAR);
    EXPECT_EQ(s->w2, uint32_t('2'));
    Cell two = char_cell('2');
    s = stack_push(series);
    string_select(s, &two, FindOptions{});
    EXPECT_EQ(cell_type(s), T_NONE);  // the match is the last character
}

TEST_F(StringActions, Sort) {
    struct Case {
        const char* text;
        bool case_, reverse, all;
        int32_t skip, compare;
        const char* expected;
    };
    const Case cases[] = {
        {"cBa", false, false, false, 0, 0, "aBc"},
        {"cBa", true, false, false, 0, 0, "Bac"},
        {"cBa", false, true, false, 0, 0, "cBa"},
        {"b2a9c1", false, false, false, 2, 0, "a9b2c1"},
        {"b2a9a1", false, false, true, 2, 0, "a1a9b2"},
        {"b2a9c1", false, false, false, 2, 2, "c1b2a9"},
        {"\u0101b\u00E9A", false, false, false, 0, 0, "Ab\u00E9\u0101"},
    };
    for (const Case& c : cases) {
        for (bool stable : {false, true}) {
            Cell* s = text_push(c.text);
            Cell* skip = c.skip ? stack_push_new(T_INTEGER) : nullptr;
            if (skip) *skip = integer_cell(c.skip);
            Cell* compare = c.compare ? stack_push_new(T_INTEGER) : nullptr;
            if (compare) *compare = integer_cell(c.compare);
            string_sort(s, c.case_, skip, compare, nullptr, c.all, c.reverse, stable);
            EXPECT_EQ(text_of(s), c.expected) << c.text;
            stack_pop(uint32_t(data_stack.top - data_stack.bottom));
        }
    }
    Cell* s = text_push("abc");
    Cell two = integer_cell(2);
    EXPECT_EQ(raised_code([&] { string_sort(s, false, &two, nullptr, nullptr, false, false, false); }),
              SCRIPT_ERROR + ERR_INVALID_REFINE_ARG);
    EXPECT_EQ(raised_code([&] { string_sort(s, false, nullptr, nullptr, nullptr, true, false, false); }),
              SCRIPT_ERROR + ERR_BAD_REFINES);
}

TEST_F(StringActions, MakeAndTo) {
    Cell* proto = stack_push_new(T_NONE);
    Cell size = integer_cell(10);
    string_make(proto, &size, T_FILE);
    EXPECT_EQ(cell_type(proto), T_FILE);
    EXPECT_EQ(text_of(proto), "");
    Cell negative = integer_cell(-1);
    EXPECT_EQ(raised_code([&] { string_make(proto, &negative, T_STRING); }), SCRIPT_ERROR + ERR_OUT_OF_RANGE);
    EXPECT_EQ(raised_code([&] { string_to(proto, &none_cell, T_STRING); }), SCRIPT_ERROR + ERR_BAD_TO_ARG);

    CellRoot block;
    Cell cells[] = {word_cell(T_WORD, symbol_make("x")), integer_cell(1)};
    kel::testing::block_of_cells(&block.cell, cells, 2);
    string_to(proto, &block.cell, T_STRING);
    EXPECT_EQ(text_of(proto), "x1");

    Cell* source = text_push("abc");
    source->w1 = 1;
    string_to(proto, source, T_URL);
    EXPECT_EQ(cell_type(proto), T_URL);
    EXPECT_EQ(text_of(proto), "bc");
    string_insert(proto, &size, -1, false, 1, true);
    EXPECT_EQ(text_of(source), "bc");  // a copy, not the same buffer

    Cell* bytes = text_push("");
    cell_type_set(bytes, T_BINARY);
    string_concatenate_bytes(bytes, "caf\xC3\xA9", 5);
    string_to(proto, bytes, T_STRING);
    EXPECT_EQ(text_of(proto), "caf\u00E9");
    string_concatenate_bytes(bytes, "\xFF!", 2);
    EXPECT_EQ(raised_code([&] { string_to(proto, bytes, T_STRING); }), ACCESS_ERROR + ERR_INVALID_UTF8);
    // The error carries the bytes from the bad one to the end.
    const Cell& rest = error_in_flight.args[0];
    ASSERT_EQ(cell_type(&rest), T_BINARY);
    SeriesBuffer* rb = series_buffer(rest.w2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rb->head_ptr()), rb->length()), "\xFF!");
}

TEST_F(StringActions, CompareAcrossTypes) {
    Cell* a = text_push("abc");
    Cell* b = text_push("ABC");
    cell_type_set(b, T_FILE);
    EXPECT_EQ(string_compare(a, b, CMP_EQUAL), 0);
    EXPECT_EQ(string_compare(a, b, CMP_LESSER), COMPARE_INCOMPARABLE);
    Cell n = integer_cell(1);
    EXPECT_EQ(string_compare(a, &n, CMP_EQUAL), COMPARE_INCOMPARABLE);
    cell_type_set(b, T_STRING);
    EXPECT_EQ(string_compare(a, b, CMP_STRICT_EQUAL), 1);
}

TEST_F(StringActions, Swap) {
    Cell* a = text_push("ab");
    Cell* b = text_push("\u0100z");
    string_swap(a, b);
    EXPECT_EQ(text_of(a), "\u0100b");
    EXPECT_EQ(text_of(b), "az");
    Cell n = integer_cell(1);
    EXPECT_EQ(raised_code([&] { string_swap(a, &n); }), SCRIPT_ERROR + ERR_INVALID_ARG);
}

TEST_F(StringActions, SetOperations) {
    struct Case {
        const char* a;
        const char* b;
        int32_t op;
        bool case_;
        const char* expected;
    };
    const Case cases[] = {
        {"aAbBa", "", SET_UNIQUE, false, "ab"},
        {"aAbBa", "", SET_UNIQUE, true, "aAbB"},
        {"abc", "BCD", SET_UNION, false, "abcD"},
        {"abc", "BCD", SET_INTERSECT, false, "bc"},
        {"abc", "BCD", SET_EXCLUDE, false, "a"},
        {"abc", "BCD", SET_DIFFERENCE, false, "aD"},
        {"abc", "BCD", SET_DIFFERENCE, true, "abcBCD"},
        {"\u0100b", "\u0101", SET_EXCLUDE, false, "b"},
    };
    for (const Case& c : cases) {
        Cell* a = text_push(c.a);
        Cell* b = text_push(c.b);
        string_set_op(a, b, c.case_, nullptr, c.op);
        EXPECT_EQ(text_of(a), c.expected) << c.a << " " << c.b << " op " << c.op;
        stack_pop(2);
    }
    Cell* a = text_push("abab cd");
    Cell two = integer_cell(2);
    string_set_op(a, a, false, &two, SET_UNIQUE);
    EXPECT_EQ(text_of(a), "ab cd");
}

TEST_F(StringActions, PathSelection) {
    Cell* s = text_push("a=1;b=2");
    Cell* out = stack_push_new(T_NONE);
    Cell three = integer_cell(3);
    string_eval_path(s, &three, nullptr, &none_cell, false, out);
    EXPECT_EQ(out->w2, uint32_t('1'));
    Cell* key = text_push("b=");
    string_eval_path(s, key, nullptr, &none_cell, false, out);
    EXPECT_EQ(out->w2, uint32_t('2'));
    Cell nine = char_cell('9');
    string_eval_path(s, key, &nine, &none_cell, false, out);
    EXPECT_EQ(text_of(s), "a=1;b=9");
    Cell* absent = text_push("z");
    EXPECT_EQ(raised_code([&] { string_eval_path(s, absent, &nine, &none_cell, false, out); }),
              SCRIPT_ERROR + ERR_BAD_PATH_SET);
    Cell word = word_cell(T_WORD, symbol_make("x"));
    EXPECT_EQ(raised_code([&] { string_eval_path(s, &word, nullptr, &none_cell, false, out); }),
              SCRIPT_ERROR + ERR_INVALID_PATH);
}

} // namespace
