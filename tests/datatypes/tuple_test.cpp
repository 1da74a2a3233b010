#include "datatypes/tuple.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "core/mold_text.hpp"
#include "core/lexer.hpp"
#include "tests/core/words_fixture.hpp"
#include "tests/support/number_fixture.hpp"
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

struct Tuple : RuntimeTest {};

// The tuple of a literal text; the test fails on a text that does not scan.
Cell tuple(const char* text) {
    Cell c{T_NONE, 0, 0, 0};
    auto start = reinterpret_cast<const uint8_t*>(text);
    EXPECT_TRUE(scan_tuple(start, start + std::strlen(text), &c)) << text;
    return c;
}

Cell issue(const char* name) { return word_cell(T_ISSUE, symbol_make(name)); }

constexpr int SCRIPT = int(ErrorCategory::script) * 100;
constexpr int MATH = int(ErrorCategory::math) * 100;

std::string text(const Cell& value) { return print_value(value); }

} // namespace

TEST_F(Tuple, ArithmeticSaturates) {
    struct Case { const char* a; Cell b; int32_t op; const char* result; };
    const Case cases[] = {
        {"1.2.3", integer_cell(1), OP_ADD, "2.3.4"},
        {"250.10.3", integer_cell(10), OP_ADD, "255.20.13"},
        {"1.2.3", integer_cell(5), OP_SUBTRACT, "0.0.0"},
        {"1.2.3", number(T_FLOAT, 2.5), OP_MULTIPLY, "2.5.7"},
        {"10.20.30", integer_cell(3), OP_DIVIDE, "3.6.10"},
        {"1.2.3", tuple("1.1.1.1"), OP_ADD, "2.3.4.1"},
        {"10.20.30", integer_cell(7), OP_REMAINDER, "3.6.2"},
        {"12.12.12", integer_cell(10), OP_AND, "8.8.8"},
        {"1.2.3", integer_cell(256), OP_OR, "255.255.255"},
        {"100.0.1", integer_cell(2147483647), OP_MULTIPLY, "255.0.255"},
        {"100.0.1", integer_cell(-2147483647), OP_MULTIPLY, "0.0.0"},
        {"100.50.0", number(T_PERCENT, 0.5), OP_MULTIPLY, "50.25.0"},
        // Float mode clamps in double before truncating.
        {"1.2.3", number(T_FLOAT, 1e20), OP_MULTIPLY, "255.255.255"},
        {"1.2.3", number(T_FLOAT, -1e20), OP_MULTIPLY, "0.0.0"},
        {"1.0.3", number(T_FLOAT, 0.0), OP_DIVIDE, "255.0.255"},
        {"1.2.3", number(T_FLOAT, NAN), OP_ADD, "0.0.0"},
    };
    for (const Case& c : cases) {
        Cell a = tuple(c.a);
        tuple_math_op(&a, &c.b, c.op);
        EXPECT_EQ(text(a), c.result) << c.a << " op " << c.op << " " << text(c.b);
    }
}

TEST_F(Tuple, NumberFirstAndErrors) {
    Cell t = tuple("1.2.3");
    Cell n = integer_cell(5);
    integer_do_math(&n, &t, OP_ADD);
    EXPECT_EQ(text(n), "6.7.8");
    n = number(T_FLOAT, 2.0);
    float_do_math(&n, &t, OP_MULTIPLY);
    EXPECT_EQ(text(n), "2.4.6");

    struct Case { Cell a, b; int32_t op; int code; };
    const Case cases[] = {
        {integer_cell(5), t, OP_SUBTRACT, SCRIPT + ERR_NOT_RELATED},
        {number(T_FLOAT, 5), t, OP_DIVIDE, SCRIPT + ERR_NOT_RELATED},
        {t, integer_cell(0), OP_DIVIDE, MATH + ERR_ZERO_DIVIDE},
        {t, integer_cell(0), OP_REMAINDER, MATH + ERR_ZERO_DIVIDE},
        {tuple("1.2.3.4"), t, OP_DIVIDE, MATH + ERR_ZERO_DIVIDE},  // a missing byte counts as 0
        {t, Cell{T_NONE, 0, 0, 0}, OP_ADD, SCRIPT + ERR_INVALID_TYPE},
        {t, number(T_FLOAT, 1.5), OP_XOR, SCRIPT + ERR_CANNOT_USE},
    };
    for (const Case& c : cases) {
        Cell a = c.a;
        EXPECT_EQ(raised_code([&] { tuple_math_op(&a, &c.b, c.op); }), c.code) << text(c.a) << " op " << c.op;
        EXPECT_EQ(std::memcmp(&a, &c.a, sizeof(Cell)), 0);
    }
}

TEST_F(Tuple, MakeFromBlocksIssuesAndBinaries) {
    Cell out;
    Cell two[2] = {integer_cell(1), integer_cell(2)};
    Cell mixed[4] = {Cell{T_CHAR, 0, 65, 0}, number(T_FLOAT, 9.9), integer_cell(255), integer_cell(0)};
    Cell wide[1] = {integer_cell(256)};
    Cell thirteen[13];
    for (Cell& c : thirteen) c = integer_cell(1);
    CellRoot b2, bmixed, bwide, b13;
    block_of_cells(&b2.cell, two, 2);
    block_of_cells(&bmixed.cell, mixed, 4);
    block_of_cells(&bwide.cell, wide, 1);
    block_of_cells(&b13.cell, thirteen, 13);
    EXPECT_EQ(text(*tuple_to(&out, &b2.cell, T_TUPLE)), "1.2.0");
    EXPECT_EQ(text(*tuple_to(&out, &bmixed.cell, T_TUPLE)), "65.9.255.0");
    EXPECT_EQ(raised_code([&] { tuple_to(&out, &bwide.cell, T_TUPLE); }), SCRIPT + ERR_BAD_TO_ARG);
    EXPECT_EQ(raised_code([&] { tuple_to(&out, &b13.cell, T_TUPLE); }), SCRIPT + ERR_BAD_TO_ARG);

    struct Case { const char* name; const char* result; };
    const Case cases[] = {
        {"FFF", "255.255.255"}, {"F80", "255.136.0"}, {"ff8800", "255.136.0"},
        {"FF880080", "255.136.0.128"}, {"12345", nullptr}, {"GGG", nullptr}, {"F8", nullptr},
    };
    for (const Case& c : cases) {
        Cell spec = issue(c.name);
        if (c.result) EXPECT_EQ(text(*tuple_to(&out, &spec, T_TUPLE)), c.result) << c.name;
        else EXPECT_EQ(raised_code([&] { tuple_to(&out, &spec, T_TUPLE); }), SCRIPT + ERR_INVALID_DATA) << c.name;
    }

    CellRoot binary;
    Node node = series_new_bytes(2);
    SeriesBuffer* buffer = series_buffer(node);
    buffer->head_ptr()[0] = 7;
    buffer->head_ptr()[1] = 8;
    buffer->tail = buffer->head + 2;
    cell_init(&binary.cell, T_BINARY);
    binary.cell.w2 = node;
    EXPECT_EQ(text(*tuple_to(&out, &binary.cell, T_TUPLE)), "7.8.0");
}

TEST_F(Tuple, CompareComplementLength) {
    Cell a = tuple("1.2.3"), b = tuple("1.2.3.0"), c = tuple("1.2.10"), d = tuple("1.2.9");
    EXPECT_EQ(tuple_compare(&a, &b, CMP_EQUAL), 0);
    EXPECT_EQ(tuple_compare(&c, &d, CMP_GREATER), 1);
    EXPECT_EQ(tuple_compare(&d, &b, CMP_LESSER), 1);
    Cell n = integer_cell(1);
    EXPECT_EQ(tuple_compare(&a, &n, CMP_EQUAL), COMPARE_INCOMPARABLE);
    Cell e = tuple("0.255.0");
    EXPECT_EQ(text(*tuple_complement(&e)), "255.0.255");
    EXPECT_EQ(tuple_length_q(&b), 4);
    EXPECT_TRUE(tuple_zero_q(&e) == false);
    Cell zero = tuple("0.0.0.0");
    EXPECT_TRUE(tuple_zero_q(&zero));
}

TEST_F(Tuple, ReversePartAndSkip) {
    struct Case { const char* value; int32_t part, skip; const char* result; };
    const Case cases[] = {
        {"1.2.3", 0, 0, "3.2.1"},
        {"1.2.3", 2, 0, "2.1.3"},
        {"1.2.3", 3, 3, "1.2.3"},
        {"1.2.3", 99, 0, "3.2.1"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", 0, 0, "12.11.10.9.8.7.6.5.4.3.2.1"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", 0, 3, "10.11.12.7.8.9.4.5.6.1.2.3"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", 8, 2, "7.8.5.6.3.4.1.2.9.10.11.12"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", 12, 4, "9.10.11.12.5.6.7.8.1.2.3.4"},
    };
    for (const Case& c : cases) {
        Cell t = tuple(c.value), part = integer_cell(c.part), skip = integer_cell(c.skip);
        tuple_reverse(&t, c.part ? &part : nullptr, c.skip ? &skip : nullptr);
        EXPECT_EQ(text(t), c.result) << c.value << " /part " << c.part << " /skip " << c.skip;
    }
    struct Error { Cell part, skip; int code; };
    Cell none{T_NONE, 0, 0, 0};
    const Error errors[] = {
        {none, integer_cell(1), SCRIPT + ERR_INVALID_REFINE_ARG},
        {integer_cell(-1), integer_cell(1), SCRIPT + ERR_OUT_OF_RANGE},
        {integer_cell(3), none, SCRIPT + ERR_INVALID_REFINE_ARG},
        {integer_cell(3), integer_cell(0), SCRIPT + ERR_OUT_OF_RANGE},
        {integer_cell(3), integer_cell(2), SCRIPT + ERR_INVALID_REFINE_ARG},
        {integer_cell(2), integer_cell(3), SCRIPT + ERR_INVALID_REFINE_ARG},
    };
    for (const Error& e : errors) {
        Cell t = tuple("1.2.3");
        EXPECT_EQ(raised_code([&] { tuple_reverse(&t, &e.part, &e.skip); }), e.code);
        EXPECT_EQ(text(t), "1.2.3");
    }
}

TEST_F(Tuple, PathPickAndPoke) {
    Cell t = tuple("1.2.3.4.5"), out;
    Cell four = integer_cell(4), six = integer_cell(6), big = integer_cell(300), none{T_NONE, 0, 0, 0};
    tuple_eval_path(&t, &four, nullptr, nullptr, false, &out);
    EXPECT_EQ(integer_get(&out), 4);
    tuple_eval_path(&t, &four, &big, nullptr, false, &out);
    EXPECT_EQ(text(t), "1.2.3.255.5");
    tuple_eval_path(&t, &four, &none, nullptr, false, &out);
    EXPECT_EQ(text(t), "1.2.3");
    EXPECT_EQ(raised_code([&] { tuple_eval_path(&t, &four, nullptr, nullptr, false, &out); }),
              SCRIPT + ERR_OUT_OF_RANGE);
    Cell word = word_cell(T_WORD, symbol_make("x")), half = number(T_FLOAT, 0.5);
    EXPECT_EQ(raised_code([&] { tuple_eval_path(&t, &word, nullptr, nullptr, false, &out); }),
              SCRIPT + ERR_INVALID_TYPE);
    EXPECT_EQ(raised_code([&] { tuple_eval_path(&t, &four, &half, nullptr, false, &out); }),
              SCRIPT + ERR_INVALID_TYPE);

    Cell one = integer_cell(1);
    tuple_poke(&t, 1, &none);  // never below 3 bytes
    EXPECT_EQ(text(t), "0.0.0");
    EXPECT_EQ(raised_code([&] { tuple_poke(&t, 4, &one); }), SCRIPT + ERR_OUT_OF_RANGE);

    Cell picked = tuple("9.8.7");
    Cell yes{T_LOGIC, 1, 0, 0};
    tuple_pick(&picked, &yes);
    EXPECT_EQ(integer_get(&picked), 9);
    picked = tuple("9.8.7");
    EXPECT_EQ(raised_code([&] { tuple_pick(&picked, &six); }), SCRIPT + ERR_OUT_OF_RANGE);
}

TEST_F(Tuple, ColoursAndBytes) {
    Cell c;
    tuple_rgba(&c, 255, 128, 0, -1);
    EXPECT_EQ(text(c), "255.128.0");
    tuple_rgba(&c, 1, 2, 3, 200);
    EXPECT_EQ(text(c), "1.2.3.200");
    const uint32_t values[] = {1, 258, 3, 4};
    EXPECT_EQ(text(*tuple_from_bytes(2, values)), "1.2.0");
    EXPECT_EQ(text(*tuple_from_bytes(4, values)), "1.2.3.4");
    EXPECT_EQ(tuple_push(3, 0x030201, 0, 0)->header, (3u << TUPLE_COUNT_SHIFT) | T_TUPLE);
}

TEST_F(Tuple, ScanLiteral) {
    struct Case { const char* text; bool ok; };
    const Case cases[] = {
        {"1.2.3", true}, {"255.0.0.128", true}, {"1.2.3.4.5.6.7.8.9.10.11.12", true}, {"001.2.3", true},
        {"1.2", false}, {"1.2.3.4.5.6.7.8.9.10.11.12.13", false}, {"1.256.3", false},
        {"1..3", false}, {"1.2.3.", false}, {".1.2.3", false}, {"1.2.x", false}, {"-1.2.3", false},
    };
    for (const Case& c : cases) {
        Cell out{T_NONE | CELL_NEWLINE, 0, 0, 0};
        auto start = reinterpret_cast<const uint8_t*>(c.text);
        EXPECT_EQ(scan_tuple(start, start + std::strlen(c.text), &out), c.ok) << c.text;
        if (c.ok) EXPECT_EQ(text(out), c.text[0] == '0' ? "1.2.3" : c.text);
        EXPECT_EQ(out.header & CELL_NEWLINE, CELL_NEWLINE);
    }
}

TEST_F(Tuple, TextSpecsLoadThroughTheLexer) {
    lexer_init();
    struct Case { uint8_t target; const char* text; const char* result; int code; };
    const Case cases[] = {
        {T_TUPLE, "1.2.3", "1.2.3", 0},
        {T_PAIR, " 3x4 ", "3x4", 0},
        {T_POINT3D, "(1, 2, 3)", "(1, 2, 3)", 0},
        {T_POINT2D, "(1.5, 2)", "(1.5, 2)", 0},
        {T_TUPLE, "3x4", nullptr, SCRIPT + ERR_BAD_TO_ARG},
        {T_PAIR, "", nullptr, SCRIPT + ERR_BAD_TO_ARG},
        {T_POINT2D, "(1, 2, 3)", nullptr, SCRIPT + ERR_BAD_TO_ARG},
        {T_PAIR, "3x", nullptr, int(ErrorCategory::syntax) * 100 + ERR_INVALID},
    };
    for (const Case& c : cases) {
        CellRoot spec;
        string_make_at(&spec.cell, 4);
        string_append_ascii(&spec.cell, c.text, uint32_t(std::strlen(c.text)));
        auto make = action_slot_as<MakeToFn>(c.target, A_TO);
        Cell* out = stack_push_new(T_NONE);
        if (c.result) EXPECT_EQ(text(*make(out, &spec.cell, c.target)), c.result) << c.text;
        else EXPECT_EQ(raised_code([&] { make(out, &spec.cell, c.target); }), c.code) << c.text;
        stack_pop(1);
    }
}
