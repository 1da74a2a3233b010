#include "datatypes/pair.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/point.hpp"
#include "tests/core/words_fixture.hpp"
#include "tests/support/number_fixture.hpp"
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

struct Pair : RuntimeTest {};

Cell pair(int32_t x, int32_t y) {
    Cell c;
    cell_init(&c, T_PAIR);
    return *pair_init(&c, x, y);
}

Cell point(double x, double y) {
    Cell c;
    cell_init(&c, T_POINT2D);
    return *point2d_init(&c, x, y);
}

constexpr int code(ErrorCategory category, int id) { return int(category) * 100 + id; }
constexpr int SCRIPT = int(ErrorCategory::script) * 100;
constexpr int MATH = int(ErrorCategory::math) * 100;

// The value as its mold action prints it.
std::string text(const Cell& value) { return print_value(value); }

} // namespace

TEST_F(Pair, ArithmeticStaysPairOrMovesToPoint) {
    struct Case { Cell a, b; int32_t op; const char* result; };
    const Case cases[] = {
        {pair(3, 4), integer_cell(1), OP_ADD, "4x5"},
        {pair(3, 4), integer_cell(2), OP_MULTIPLY, "6x8"},
        {pair(4, 8), integer_cell(2), OP_DIVIDE, "2x4"},
        {pair(7, -7), pair(2, 2), OP_REMAINDER, "1x-1"},
        {pair(12, 12), pair(10, 3), OP_AND, "8x0"},
        {pair(3, 4), number(T_FLOAT, 2.0), OP_MULTIPLY, "(6, 8)"},
        {pair(3, 4), integer_cell(2), OP_DIVIDE, "(1.5, 2)"},
        {pair(2147483647, 1), integer_cell(1), OP_ADD, "(2.147484e9, 2)"},
        {pair(-2147483647 - 1, 0), pair(1, 1), OP_SUBTRACT, "(-2.147484e9, -1)"},
        {pair(10, 20), number(T_FLOAT, 0.5), OP_ADD, "10x20"},
        {pair(10, 20), number(T_PERCENT, 0.5), OP_MULTIPLY, "(5, 10)"},
        {pair(3, 4), point(1, 2), OP_ADD, "(4, 6)"},
        {pair(3, 4), number(T_FLOAT, 0.0), OP_DIVIDE, "(1.#INF, 1.#INF)"},
        // A float beyond 32 bits cannot be truncated into a component.
        {pair(1, 2), number(T_FLOAT, 1e10), OP_ADD, "(1e10, 1e10)"},
    };
    for (const Case& c : cases) {
        Cell a = c.a;
        pair_math_op(&a, &c.b, c.op);
        EXPECT_EQ(text(a), c.result) << text(c.a) << " op " << c.op << " " << text(c.b);
    }
}

TEST_F(Pair, ArithmeticErrorsLeaveTheOperand) {
    struct Case { Cell b; int32_t op; int code; };
    const Case cases[] = {
        {integer_cell(0), OP_DIVIDE, MATH + ERR_ZERO_DIVIDE},
        {pair(1, 0), OP_REMAINDER, MATH + ERR_ZERO_DIVIDE},
        {number(T_FLOAT, INFINITY), OP_MULTIPLY, SCRIPT + ERR_INVALID_ARG},
        {number(T_FLOAT, NAN), OP_DIVIDE, SCRIPT + ERR_INVALID_ARG},
        {number(T_FLOAT, INFINITY), OP_ADD, SCRIPT + ERR_INVALID_ARG},
        {Cell{T_NONE, 0, 0, 0}, OP_ADD, SCRIPT + ERR_INVALID_TYPE},
        {Cell{T_CHAR, 0, 65, 0}, OP_ADD, SCRIPT + ERR_INVALID_TYPE},
    };
    for (const Case& c : cases) {
        Cell a = pair(3, 4);
        EXPECT_EQ(raised_code([&] { pair_math_op(&a, &c.b, c.op); }), c.code) << text(c.b);
        EXPECT_EQ(text(a), "3x4");
    }
}

TEST_F(Pair, NumberFirstOperandsTradePlaces) {
    Cell p = pair(3, 4);
    struct Case { Cell number; int32_t op; const char* result; };
    const Case cases[] = {
        {integer_cell(5), OP_ADD, "8x9"},
        {integer_cell(5), OP_SUBTRACT, "2x1"},
        {integer_cell(2), OP_MULTIPLY, "6x8"},
        {number(T_FLOAT, 1.5), OP_MULTIPLY, "(4.5, 6)"},
        {number(T_FLOAT, 0.5), OP_ADD, "3x4"},
    };
    for (const Case& c : cases) {
        Cell n = c.number;
        if (cell_type(&n) == T_INTEGER) integer_do_math(&n, &p, c.op);
        else float_do_math(&n, &p, c.op);
        EXPECT_EQ(text(n), c.result) << text(c.number) << " op " << c.op;
    }
    Cell n = integer_cell(5);
    EXPECT_EQ(raised_code([&] { integer_do_math(&n, &p, OP_DIVIDE); }), SCRIPT + ERR_NOT_RELATED);
    n = number(T_FLOAT, 1.5);
    EXPECT_EQ(raised_code([&] { float_do_math(&n, &p, OP_SUBTRACT); }), SCRIPT + ERR_NOT_RELATED);
    EXPECT_EQ(cell_double(&n), 1.5);
    n = number(T_TIME, 60);
    EXPECT_EQ(raised_code([&] { float_do_math(&n, &p, OP_ADD); }), SCRIPT + ERR_INVALID_TYPE);
}

TEST_F(Pair, MakeAndTo) {
    Cell cells[3] = {integer_cell(1), number(T_FLOAT, 2.9), integer_cell(3)};
    CellRoot block;
    block_of_cells(&block.cell, cells, 3);
    Cell out;
    EXPECT_EQ(text(*pair_make(&out, &block.cell, T_PAIR)), "1x2");

    struct Case { Cell spec; const char* result; };
    const Case cases[] = {
        {integer_cell(7), "7x7"},
        {number(T_FLOAT, 2.9), "2x2"},
        {point(1.9, -1.9), "1x-1"},
        {pair(5, 6), "5x6"},
    };
    for (const Case& c : cases) EXPECT_EQ(text(*pair_make(&out, &c.spec, T_PAIR)), c.result);

    CellRoot short_block, bad_block;
    block_of_cells(&short_block.cell, cells, 1);
    Cell words[2] = {integer_cell(1), Cell{T_NONE, 0, 0, 0}};
    block_of_cells(&bad_block.cell, words, 2);
    EXPECT_EQ(raised_code([&] { pair_make(&out, &short_block.cell, T_PAIR); }),
              code(ErrorCategory::syntax, ERR_MALCONSTRUCT));
    EXPECT_EQ(raised_code([&] { pair_make(&out, &bad_block.cell, T_PAIR); }),
              code(ErrorCategory::syntax, ERR_MALCONSTRUCT));
    Cell infinite = point(INFINITY, 1), huge = number(T_FLOAT, 1e10), none{T_NONE, 0, 0, 0};
    EXPECT_EQ(raised_code([&] { pair_make(&out, &infinite, T_PAIR); }), SCRIPT + ERR_INVALID_ARG);
    EXPECT_EQ(raised_code([&] { pair_make(&out, &huge, T_PAIR); }), SCRIPT + ERR_INVALID_ARG);
    EXPECT_EQ(raised_code([&] { pair_make(&out, &none, T_PAIR); }), SCRIPT + ERR_BAD_TO_ARG);
}

TEST_F(Pair, CompareOrdersByXThenY) {
    Cell a = pair(1, 100), b = pair(2, 0), c = pair(1, 101);
    EXPECT_EQ(pair_compare(&a, &b, CMP_LESSER), -1);
    EXPECT_EQ(pair_compare(&a, &c, CMP_EQUAL), -1);
    EXPECT_EQ(pair_compare(&a, &a, CMP_STRICT_EQUAL), 0);
    Cell p = point(1, 100), n = integer_cell(1);
    EXPECT_EQ(pair_compare(&a, &p, CMP_EQUAL), 0);
    EXPECT_EQ(pair_compare(&a, &n, CMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST_F(Pair, TextNegateAbsoluteReverse) {
    EXPECT_EQ(text(pair(10, 20)), "10x20");
    EXPECT_EQ(text(pair(-5, 0)), "-5x0");
    EXPECT_EQ(text(pair(-2147483647 - 1, 2147483647)), "-2147483648x2147483647");
    Cell a = pair(-2147483647 - 1, 3);
    pair_negate(&a);  // two's complement: the lowest value stays
    EXPECT_EQ(text(a), "-2147483648x-3");
    EXPECT_EQ(raised_code([&] { pair_absolute(&a); }), MATH + ERR_OVERFLOW);
    EXPECT_EQ(text(a), "-2147483648x-3");
    a = pair(-1, 2);
    pair_absolute(&a);
    pair_reverse(&a, nullptr, nullptr);
    EXPECT_EQ(text(a), "2x1");
}

TEST_F(Pair, PathAndPick) {
    Cell x = word_cell(T_WORD, symbol_make("X")), y = word_cell(T_WORD, symbol_make("y"));
    Cell z = word_cell(T_WORD, symbol_make("z"));
    Cell a = pair(3, 4), out, five = integer_cell(5);
    pair_eval_path(&a, &x, &five, nullptr, false, &out);
    EXPECT_EQ(text(a), "5x4");
    EXPECT_EQ(integer_get(&out), 5);
    Cell two = integer_cell(2);
    pair_eval_path(&a, &two, nullptr, nullptr, false, &out);
    EXPECT_EQ(integer_get(&out), 4);

    Cell three = integer_cell(3), half = number(T_FLOAT, 0.5);
    EXPECT_EQ(raised_code([&] { pair_eval_path(&a, &three, nullptr, nullptr, false, &out); }),
              SCRIPT + ERR_INVALID_PATH);
    EXPECT_EQ(raised_code([&] { pair_eval_path(&a, &z, nullptr, nullptr, false, &out); }),
              SCRIPT + ERR_CANNOT_USE);
    EXPECT_EQ(raised_code([&] { pair_eval_path(&a, &y, &half, nullptr, false, &out); }),
              SCRIPT + ERR_INVALID_TYPE);
    EXPECT_EQ(text(a), "5x4");

    Cell picked = a;
    pair_pick(&picked, &y);
    EXPECT_EQ(integer_get(&picked), 4);
    picked = a;
    EXPECT_EQ(raised_code([&] { pair_pick(&picked, &three); }), SCRIPT + ERR_OUT_OF_RANGE);
    EXPECT_EQ(raised_code([&] { pair_pick(&picked, &z); }), SCRIPT + ERR_CANNOT_USE);
}

TEST_F(Pair, RoundEachComponent) {
    struct Case { Cell value; Cell scale; bool floor; const char* result; };
    const Case cases[] = {
        {pair(17, 18), integer_cell(5), false, "15x20"},
        {pair(17, 18), pair(5, 10), false, "15x20"},
        {pair(-11, 11), integer_cell(10), true, "-20x10"},
        {pair(7, 9), number(T_FLOAT, 2.5), false, "7x10"},
    };
    for (const Case& c : cases) {
        Cell v = c.value;
        pair_round(&v, &c.scale, false, false, false, c.floor, false, false);
        EXPECT_EQ(text(v), c.result) << text(c.value) << " by " << text(c.scale);
    }
    Cell v = pair(2147483647, 0), ten = integer_cell(10);
    EXPECT_EQ(raised_code([&] { pair_round(&v, &ten, false, false, false, false, true, false); }),
              MATH + ERR_OVERFLOW);
    EXPECT_EQ(text(v), "2147483647x0");
}

TEST_F(Pair, ScanLiteral) {
    struct Case { const char* text; const char* result; };
    const Case cases[] = {
        {"10x20", "10x20"}, {"-5X0", "-5x0"}, {"+1x-2", "1x-2"}, {"1'000x2", "1000x2"},
        {"-2147483648x2147483647", "-2147483648x2147483647"},
        {"1x", nullptr}, {"x2", nullptr}, {"1.5x2", nullptr}, {"1x2x3", nullptr},
        {"2147483648x1", nullptr}, {"1xx2", nullptr}, {"", nullptr},
    };
    for (const Case& c : cases) {
        Cell out = Cell{T_NONE | CELL_NEWLINE, 0, 0, 0};
        auto start = reinterpret_cast<const uint8_t*>(c.text);
        bool ok = scan_pair(start, start + std::strlen(c.text), &out);
        EXPECT_EQ(ok, c.result != nullptr) << c.text;
        if (ok) {
            EXPECT_EQ(text(out), c.result);
            EXPECT_EQ(out.header, T_PAIR | CELL_NEWLINE);
        } else {
            EXPECT_EQ(cell_type(&out), T_NONE);
        }
    }
}
