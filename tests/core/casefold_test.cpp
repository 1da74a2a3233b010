#include "core/casefold.hpp"
#include "core/error.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

using namespace kel;

namespace {

struct CaseFolding : testing::Test {
    void SetUp() override { case_folding_init(); }
};

struct List {
    const char* name;
    const CasePair* pairs;
    uint32_t count;
    CasePair first, last;
};

const List LISTS[] = {
    {"upper", case_upper_pairs, CASE_UPPER_COUNT, {0x61, 0x41}, {0xFF5A, 0xFF3A}},
    {"lower", case_lower_pairs, CASE_LOWER_COUNT, {0x41, 0x61}, {0xFF3A, 0xFF5A}},
    {"upper wide", case_upper_wide_pairs, CASE_WIDE_COUNT, {0x10428, 0x10400}, {0x1E943, 0x1E921}},
    {"lower wide", case_lower_wide_pairs, CASE_WIDE_COUNT, {0x10400, 0x10428}, {0x1E921, 0x1E943}},
};

} // namespace

// The lists are sorted without duplicates (the wide lookup searches them) and
// each stays in its plane.
TEST_F(CaseFolding, PairListsAreSortedAndStayInTheirPlane) {
    for (const List& list : LISTS) {
        EXPECT_EQ(list.pairs[0].from, list.first.from) << list.name;
        EXPECT_EQ(list.pairs[0].to, list.first.to) << list.name;
        EXPECT_EQ(list.pairs[list.count - 1].from, list.last.from) << list.name;
        EXPECT_EQ(list.pairs[list.count - 1].to, list.last.to) << list.name;
        bool wide = list.pairs[0].from > 0xFFFF;
        for (uint32_t i = 0; i < list.count; ++i) {
            if (i > 0) {
                EXPECT_LT(list.pairs[i - 1].from, list.pairs[i].from) << list.name << " row " << i;
            }
            EXPECT_EQ(list.pairs[i].from > 0xFFFF, wide) << list.name << " row " << i;
            EXPECT_EQ(list.pairs[i].to > 0xFFFF, wide) << list.name << " row " << i;
        }
    }
}

// Every code point maps as its list says, and every other one to itself.
TEST_F(CaseFolding, EveryCodePointMapsAsItsList) {
    for (bool upper : {true, false}) {
        std::map<uint32_t, uint32_t> expected;
        for (const List& list : LISTS)
            if ((list.first.from > list.first.to) == upper)
                for (uint32_t i = 0; i < list.count; ++i) expected[list.pairs[i].from] = list.pairs[i].to;
        for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
            auto it = expected.find(cp);
            ASSERT_EQ(change_char_case(cp, upper), it == expected.end() ? cp : it->second)
                << std::hex << cp << (upper ? " upper" : " lower");
        }
    }
}

TEST_F(CaseFolding, LatinOneTableIsTheLowerMapping) {
    for (uint32_t c = 0; c < 256; ++c) ASSERT_EQ(case_lower_latin1[c], change_char_case(c, false)) << c;
}

TEST_F(CaseFolding, CharacterCases) {
    struct Case { uint32_t cp; bool upper; uint32_t mapped; };
    const Case cases[] = {
        {'a', true, 'A'},       {'A', true, 'A'},       {'Z', false, 'z'},     {'5', true, '5'},
        {0xFF, true, 0x178},    {0x178, false, 0xFF},   {0xB5, true, 0x39C},   {0xE9, true, 0xC9},
        {0xDF, true, 0xDF},     // its upper case needs two letters: it keeps itself
        {0x1E9E, false, 0xDF},  {0x130, false, 'i'},    {0x131, true, 'I'},    {0x212A, false, 'k'},
        {0x1F80, true, 0x1F88}, {0x1F88, true, 0x1F88}, {0x10D0, true, 0x1C90}, {0x1C90, false, 0x10D0},
        {0x10428, true, 0x10400}, {0x10400, false, 0x10428}, {0x1E922, true, 0x1E900},
        {0x1F600, true, 0x1F600}, {0x10FFFF, false, 0x10FFFF},
        {0x10597, true, 0x10597},  // assigned after the tables' Unicode version
    };
    for (const Case& c : cases)
        EXPECT_EQ(change_char_case(c.cp, c.upper), c.mapped) << std::hex << c.cp;
}

// ---- strings ---------------------------------------------------------------------

namespace {

struct CaseFoldingStrings : testing::Test {
    void SetUp() override {
        case_folding_init();
        memory_setup();
        collector_init();
        collector.enabled = true;
        memory_torture_set(true);
    }
    void TearDown() override {
        memory_torture_set(false);
        collector.enabled = false;
        memory_release_all();
    }
};

using Chars = std::vector<uint32_t>;

void string_make(CellRoot& s, const Chars& chars, uint32_t unit) {
    cell_init(&s.cell, T_STRING);
    s.cell.w2 = series_new_units(uint32_t(chars.size()), unit);
    SeriesBuffer* b = series_buffer(s.cell.w2);
    for (size_t i = 0; i < chars.size(); ++i) std::memcpy(b->head_ptr() + i * unit, &chars[i], unit);
    b->tail = b->head + uint32_t(chars.size() * unit);
}

Chars string_chars(const Cell* s) {
    SeriesBuffer* b = series_buffer(s->w2);
    Chars out(b->length());
    for (size_t i = 0; i < out.size(); ++i) std::memcpy(&out[i], b->head_ptr() + i * b->unit(), b->unit());
    return out;
}

Cell integer(int32_t n) {
    Cell c;
    cell_init(&c, T_INTEGER);
    c.w2 = uint32_t(n);
    return c;
}

} // namespace

// Upper-casing U+00FF gives U+0178, which does not fit Latin-1: the whole
// string widens and every other character keeps its place.
TEST_F(CaseFoldingStrings, WidensWhenAMappedCharacterDoesNotFit) {
    CellRoot s;
    string_make(s, {'y', 0xFF, 0xE9, 's'}, 1);
    EXPECT_EQ(change_string_case(&s.cell, nullptr, true), &s.cell);
    EXPECT_EQ(series_buffer(s.cell.w2)->unit(), 2u);
    EXPECT_EQ(string_chars(&s.cell), (Chars{'Y', 0x178, 0xC9, 'S'}));
    change_string_case(&s.cell, nullptr, false);
    EXPECT_EQ(string_chars(&s.cell), (Chars{'y', 0xFF, 0xE9, 's'}));
    EXPECT_EQ(series_buffer(s.cell.w2)->unit(), 2u) << "a buffer never narrows";

    // The characters before the one that widens are changed too, those past
    // the part are not.
    CellRoot t;
    string_make(t, {'a', 'b', 0xFF, 'c', 'd'}, 1);
    t.cell.w1 = 1;
    Cell part = integer(3);
    change_string_case(&t.cell, &part, true);
    EXPECT_EQ(series_buffer(t.cell.w2)->unit(), 2u);
    EXPECT_EQ(string_chars(&t.cell), (Chars{'a', 'B', 0x178, 'C', 'd'}));
}

// /part counts from the position; negative changes nothing, past the tail
// stops at the tail; a position in the same buffer counts the difference.
TEST_F(CaseFoldingStrings, PartLimits) {
    struct Case { int32_t index; int32_t part; Chars expected; };
    const Case cases[] = {
        {1, 2, {'a', 'B', 'C', 'd', 0x10428}},
        {0, -3, {'a', 'b', 'c', 'd', 0x10428}},
        {3, 1000, {'a', 'b', 'c', 'D', 0x10400}},
        {7, 1, {'a', 'b', 'c', 'd', 0x10428}},
    };
    for (const Case& c : cases) {
        CellRoot s;
        string_make(s, {'a', 'b', 'c', 'd', 0x10428}, 4);
        s.cell.w1 = uint32_t(c.index);
        Cell part = integer(c.part);
        change_string_case(&s.cell, &part, true);
        EXPECT_EQ(string_chars(&s.cell), c.expected) << c.index << " " << c.part;
    }
    CellRoot s;
    string_make(s, {'a', 'b', 'c', 'd'}, 1);
    Cell end = s.cell;
    end.w1 = 3;
    s.cell.w1 = 1;
    change_string_case(&s.cell, &end, true);
    EXPECT_EQ(string_chars(&s.cell), (Chars{'a', 'B', 'C', 'd'}));

    CellRoot other;
    string_make(other, {'x'}, 1);
    int code = 0;
    try {
        change_string_case(&s.cell, &other.cell, true);
    } catch (const LanguageError& e) {
        code = e.code();
    }
    EXPECT_EQ(code, 345);  // script invalid-refine-arg
    EXPECT_EQ(string_chars(&s.cell), (Chars{'a', 'B', 'C', 'd'}));
}

TEST_F(CaseFoldingStrings, CharValue) {
    Cell c;
    cell_init(&c, T_CHAR);
    c.w2 = 0xE9;
    change_string_case(&c, nullptr, true);
    EXPECT_EQ(c.w2, 0xC9u);
    c.w2 = 0x1F600;
    change_string_case(&c, nullptr, false);
    EXPECT_EQ(c.w2, 0x1F600u);
}
