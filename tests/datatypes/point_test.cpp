#include "datatypes/point.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "tests/core/words_fixture.hpp"
#include "tests/support/number_fixture.hpp"
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

struct Point : RuntimeTest {};

Cell p2(double x, double y) {
    Cell c;
    cell_init(&c, T_POINT2D);
    return *point2d_init(&c, x, y);
}

Cell p3(double x, double y, double z) {
    Cell c;
    cell_init(&c, T_POINT3D);
    return *point3d_init(&c, x, y, z);
}

Cell pair(int32_t x, int32_t y) {
    Cell c;
    cell_init(&c, T_PAIR);
    return *pair_init(&c, x, y);
}

constexpr int SCRIPT = int(ErrorCategory::script) * 100;
constexpr int SYNTAX = int(ErrorCategory::syntax) * 100;

std::string text(const Cell& value) { return print_value(value); }

int32_t cmp2(Cell a, Cell b, int32_t op) { return point2d_compare(&a, &b, op); }
int32_t cmp3(Cell a, Cell b, int32_t op) { return point3d_compare(&a, &b, op); }

} // namespace

TEST_F(Point, Arithmetic) {
    struct Case { Cell a, b; int32_t op; const char* result; };
    const Case cases[] = {
        {p2(1, 2), integer_cell(1), OP_ADD, "(2, 3)"},
        {p2(1, 2), number(T_FLOAT, 0.5), OP_MULTIPLY, "(0.5, 1)"},
        {p2(1, 2), number(T_FLOAT, 0.0), OP_DIVIDE, "(1.#INF, 1.#INF)"},
        {p2(1, 2), pair(3, 4), OP_ADD, "(4, 6)"},
        {p2(5.5, 7), integer_cell(2), OP_REMAINDER, "(1.5, 1)"},
        {p2(1, 2), p2(0.5, 0.25), OP_SUBTRACT, "(0.5, 1.75)"},
        {p3(1, 2, 3), p3(1, 1, 1), OP_ADD, "(2, 3, 4)"},
        {p3(1, 2, 3), number(T_PERCENT, 0.5), OP_MULTIPLY, "(0.5, 1, 1.5)"},
        // Results beyond the single range round to infinity, not to garbage.
        {p2(3e38, 1), integer_cell(10), OP_MULTIPLY, "(1.#INF, 10)"},
        {p2(1.0 / 3, 0), integer_cell(0), OP_ADD, "(0.3333333, 0)"},
    };
    for (const Case& c : cases) {
        Cell a = c.a;
        point2d_math_op(&a, &c.b, c.op);
        EXPECT_EQ(text(a), c.result) << text(c.a) << " op " << c.op << " " << text(c.b);
    }
}

TEST_F(Point, ArithmeticErrorsLeaveTheOperand) {
    struct Case { Cell a, b; int32_t op; int code; };
    const Case cases[] = {
        {p3(1, 2, 3), pair(3, 4), OP_ADD, SCRIPT + ERR_INVALID_TYPE},
        {p2(1, 2), p3(1, 2, 3), OP_ADD, SCRIPT + ERR_INVALID_TYPE},
        {p2(1, 2), Cell{T_NONE, 0, 0, 0}, OP_ADD, SCRIPT + ERR_INVALID_TYPE},
        {p2(1, 2), integer_cell(1), OP_AND, SCRIPT + ERR_CANNOT_USE},
    };
    for (const Case& c : cases) {
        Cell a = c.a;
        EXPECT_EQ(raised_code([&] { point2d_math_op(&a, &c.b, c.op); }), c.code) << text(c.b);
        EXPECT_EQ(std::memcmp(&a, &c.a, sizeof(Cell)), 0);
    }
    // A number first: subtract negates the point and adds; divide is refused.
    Cell n = integer_cell(5), p = p2(1, 2);
    integer_do_math(&n, &p, OP_SUBTRACT);
    EXPECT_EQ(text(n), "(4, 3)");
    n = number(T_FLOAT, 2);
    float_do_math(&n, &p, OP_MULTIPLY);
    EXPECT_EQ(text(n), "(2, 4)");
    n = integer_cell(5);
    EXPECT_EQ(raised_code([&] { integer_do_math(&n, &p, OP_DIVIDE); }), SCRIPT + ERR_NOT_RELATED);
}

TEST_F(Point, MakeAndTo) {
    Cell numbers[3] = {integer_cell(1), number(T_FLOAT, 2.5), integer_cell(3)};
    CellRoot two, three, bad;
    block_of_cells(&two.cell, numbers, 2);
    block_of_cells(&three.cell, numbers, 3);
    Cell mixed[2] = {integer_cell(1), Cell{T_NONE, 0, 0, 0}};
    block_of_cells(&bad.cell, mixed, 2);
    Cell out;
    EXPECT_EQ(text(*point_make(&out, &two.cell, T_POINT2D)), "(1, 2.5)");
    EXPECT_EQ(text(*point_make(&out, &three.cell, T_POINT3D)), "(1, 2.5, 3)");
    EXPECT_EQ(raised_code([&] { point_make(&out, &two.cell, T_POINT3D); }), SYNTAX + ERR_MALCONSTRUCT);
    EXPECT_EQ(raised_code([&] { point_make(&out, &bad.cell, T_POINT2D); }), SYNTAX + ERR_MALCONSTRUCT);

    struct Case { Cell spec; uint8_t type; const char* result; };
    const Case cases[] = {
        {pair(3, 4), T_POINT3D, "(3, 4, 0)"},
        {pair(3, 4), T_POINT2D, "(3, 4)"},
        {p2(1, 2), T_POINT3D, "(1, 2, 0)"},
        {integer_cell(7), T_POINT3D, "(7, 7, 7)"},
        {number(T_FLOAT, 0.1), T_POINT2D, "(0.1, 0.1)"},
    };
    for (const Case& c : cases) EXPECT_EQ(text(*point_make(&out, &c.spec, c.type)), c.result);
    Cell point3 = p3(1, 2, 3);
    EXPECT_EQ(raised_code([&] { point_make(&out, &point3, T_POINT2D); }), SCRIPT + ERR_BAD_TO_ARG);
}

TEST_F(Point, Compare) {
    Cell a = p2(0.1, 0.2), b = p2(0.2, 0.1);
    point2d_math_op(&a, &b, OP_ADD);
    Cell c = p2(0.3, 0.3);
    EXPECT_EQ(point2d_compare(&a, &c, CMP_EQUAL), 0);
    EXPECT_EQ(cmp2(p2(1, 2), pair(1, 2), CMP_STRICT_EQUAL), 0);
    EXPECT_EQ(cmp2(p2(1, 2), p2(1, 2.5), CMP_STRICT_EQUAL), 1);
    EXPECT_EQ(cmp2(p2(0.0, 0), p2(-0.0, 0), CMP_STRICT_EQUAL), 0);
    EXPECT_EQ(cmp2(p2(0.0, 0), p2(-0.0, 0), CMP_SAME), 1);
    EXPECT_EQ(cmp2(p2(NAN, 0), p2(NAN, 0), CMP_EQUAL), 1);
    // Ordering by x, then y when x is (nearly) equal.
    EXPECT_EQ(cmp2(p2(1, 100), p2(2, 0), CMP_LESSER), -1);
    EXPECT_EQ(cmp2(p2(1, 3), p2(1, 2), CMP_LESSER), 1);
    EXPECT_EQ(cmp3(p3(1, 2, 3), p3(1, 2, 4), CMP_LESSER), -1);
    EXPECT_EQ(cmp3(p3(1, 2, 3), p2(1, 2), CMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST_F(Point, FieldsReverseAndText) {
    Cell a = p3(1, 2, 3);
    point_reverse(&a, nullptr, nullptr);
    EXPECT_EQ(text(a), "(3, 2, 1)");
    Cell b = p2(1.0, 2.5);
    point_reverse(&b, nullptr, nullptr);
    EXPECT_EQ(text(b), "(2.5, 1)");
    point_negate(&b);
    EXPECT_EQ(text(b), "(-2.5, -1)");
    point_absolute(&b);
    EXPECT_EQ(text(b), "(2.5, 1)");
    EXPECT_EQ(text(p2(1e20, -1.5e-5)), "(1e20, -1.5e-5)");

    Cell z = word_cell(T_WORD, symbol_make("z")), out;
    Cell half = number(T_FLOAT, 0.5), two = integer_cell(2), four = integer_cell(4);
    point_eval_path(&a, &z, &half, nullptr, false, &out);
    EXPECT_EQ(text(a), "(3, 2, 0.5)");
    point_eval_path(&a, &two, nullptr, nullptr, false, &out);
    EXPECT_EQ(cell_type(&out), T_FLOAT);
    EXPECT_EQ(cell_double(&out), 2.0);
    EXPECT_EQ(raised_code([&] { point_eval_path(&a, &four, nullptr, nullptr, false, &out); }),
              SCRIPT + ERR_INVALID_PATH);
    Cell flat = p2(1, 2);
    EXPECT_EQ(raised_code([&] { point_eval_path(&flat, &z, nullptr, nullptr, false, &out); }),
              SCRIPT + ERR_CANNOT_USE);
    Cell none{T_NONE, 0, 0, 0};
    EXPECT_EQ(raised_code([&] { point_eval_path(&flat, &two, &none, nullptr, false, &out); }),
              SCRIPT + ERR_INVALID_TYPE);

    Cell picked = a;
    point_pick(&picked, &z);
    EXPECT_EQ(cell_double(&picked), 0.5);
    picked = flat;
    Cell three = integer_cell(3);
    EXPECT_EQ(raised_code([&] { point_pick(&picked, &three); }), SCRIPT + ERR_OUT_OF_RANGE);
}

TEST_F(Point, RoundEachComponent) {
    struct Case { Cell value; const Cell* scale; const char* result; };
    Cell half = number(T_FLOAT, 0.5), scales = p2(0.5, 2), by_pair = pair(2, 10), ten = integer_cell(10);
    const Case cases[] = {
        {p2(1.4, 2.6), nullptr, "(1, 3)"},
        {p2(1.26, 3.3), &half, "(1.5, 3.5)"},
        {p2(1.26, 3.3), &scales, "(1.5, 4)"},
        {p2(3, 16), &by_pair, "(4, 20)"},
        // An integer scale rounds components of any size.
        {p2(1e20, 14), &ten, "(1e20, 10)"},
        // A point2D! scale leaves z alone.
        {p3(1.26, 3.3, 7.7), &scales, "(1.5, 4, 7.7)"},
    };
    for (const Case& c : cases) {
        Cell v = c.value;
        point_round(&v, c.scale, false, false, false, false, false, false);
        EXPECT_EQ(text(v), c.result) << text(c.value);
    }
}

TEST_F(Point, ScanLiteral) {
    struct Case { const char* text; const char* result; };
    const Case cases[] = {
        {"(1, 2)", "(1, 2)"}, {"(1.5,2)", "(1.5, 2)"}, {"( -1 ,\t2e3 )", "(-1, 2000)"},
        {"(1, 2, 3)", "(1, 2, 3)"}, {"(1.#INF, -1.#INF)", "(1.#INF, -1.#INF)"},
        {"(1)", nullptr}, {"(1, 2, 3, 4)", nullptr}, {"(1, )", nullptr}, {"(1, 2", nullptr},
        {"1, 2)", nullptr}, {"(1, 2) ", nullptr}, {"(1, a)", nullptr}, {"(1 2, 3)", nullptr},
        {"(", nullptr},
    };
    for (const Case& c : cases) {
        Cell out{T_NONE, 0, 0, 0};
        auto start = reinterpret_cast<const uint8_t*>(c.text);
        bool ok = scan_point(start, start + std::strlen(c.text), &out);
        EXPECT_EQ(ok, c.result != nullptr) << c.text;
        if (ok) EXPECT_EQ(text(out), c.result);
        else EXPECT_EQ(cell_type(&out), T_NONE);
    }
}

TEST_F(Point, FormsAValueHeldInABlock) {
    // Appending the text may move the block's buffer under the value.
    Cell cells[1] = {p3(1.5, -2, 1e20)};
    CellRoot block, target;
    block_of_cells(&block.cell, cells, 1);
    string_make_at(&target.cell, 1);
    point_form(&block_cells(&block.cell)[0], &target.cell, false, false, false, false, 0, 0);
    EXPECT_EQ(string_utf8(&target.cell), "(1.5, -2, 1e20)");
}
