#include "datatypes/integer.hpp"
#include "datatypes/float.hpp"
#include "core/error.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "tests/support/number_fixture.hpp"
#include <gtest/gtest.h>
#include <cmath>
#include <string>
#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

struct Integer : NumberTest {};


std::string formed(const Cell& value) {
    Cell target;
    string_make_empty_at(&target, 16);
    int32_t left = integer_form(&value, &target, false, false, false, false, 100, 0);
    SeriesBuffer* b = series_buffer(target.w2);
    std::string text(reinterpret_cast<const char*>(b->head_ptr()), b->tail - b->head);
    EXPECT_EQ(left, 100 - int32_t(text.size()));
    return text;
}

} // namespace

TEST_F(Integer, ArithmeticStaysIntegerOrOverflowsIntoFloat) {
    struct Case { int32_t l, r; int32_t op; uint8_t type; double value; };
    const Case cases[] = {
        {2147483647, 1, OP_ADD, T_FLOAT, 2147483648.0},
        {-2147483647 - 1, 1, OP_SUBTRACT, T_FLOAT, -2147483649.0},
        {65536, 65536, OP_MULTIPLY, T_FLOAT, 4294967296.0},
        {40, 2, OP_ADD, T_INTEGER, 42},
        {7, 2, OP_DIVIDE, T_FLOAT, 3.5},
        {-7, 2, OP_DIVIDE, T_FLOAT, -3.5},
        {6, 2, OP_DIVIDE, T_INTEGER, 3},
        {-7, 2, OP_REMAINDER, T_INTEGER, -1},
        {7, -2, OP_REMAINDER, T_INTEGER, 1},
        {12, 10, OP_AND, T_INTEGER, 8},
        {12, 10, OP_OR, T_INTEGER, 14},
        {12, 10, OP_XOR, T_INTEGER, 6},
    };
    for (const Case& c : cases) {
        Cell left = integer(c.l), right = integer(c.r);
        integer_do_math(&left, &right, c.op);
        ASSERT_EQ(cell_type(&left), c.type) << c.l << " op " << c.op << " " << c.r;
        if (c.type == T_FLOAT) EXPECT_EQ(cell_double(&left), c.value);
        else EXPECT_EQ(integer_get(&left), int32_t(c.value));
    }
    // Without a result cell division truncates.
    EXPECT_EQ(integer_math_op(7, 2, OP_DIVIDE, nullptr), 3);
    // A char operand contributes its codepoint; the result is integer!.
    Cell left = integer(1), ch{T_CHAR, 0, 97, 0};
    integer_add(&left, &ch);
    EXPECT_EQ(cell_type(&left), T_INTEGER);
    EXPECT_EQ(integer_get(&left), 98);
    // A float operand hands over to the float kernel.
    Cell f = number(T_FLOAT, 0.5);
    left = integer(1);
    integer_add(&left, &f);
    EXPECT_EQ(cell_type(&left), T_FLOAT);
    EXPECT_EQ(cell_double(&left), 1.5);
}

TEST_F(Integer, ArithmeticErrors) {
    expect_error(ErrorCategory::math, ERR_ZERO_DIVIDE, [] { integer_math_op(1, 0, OP_DIVIDE, nullptr); });
    expect_error(ErrorCategory::math, ERR_ZERO_DIVIDE, [] { integer_math_op(1, 0, OP_REMAINDER, nullptr); });
    expect_error(ErrorCategory::math, ERR_OVERFLOW, [] { integer_math_op(INT32_MIN, -1, OP_DIVIDE, nullptr); });
    expect_error(ErrorCategory::math, ERR_OVERFLOW, [] { integer_math_op(INT32_MIN, -1, OP_REMAINDER, nullptr); });
    expect_error(ErrorCategory::math, ERR_OVERFLOW, [] { Cell c = integer(INT32_MIN); integer_negate(&c); });
    expect_error(ErrorCategory::math, ERR_OVERFLOW, [] { Cell c = integer(INT32_MIN); integer_absolute_action(&c); });
    expect_error(ErrorCategory::script, ERR_INVALID_TYPE, [] {
        Cell c = integer(1), none{T_NONE, 0, 0, 0};
        integer_add(&c, &none);
    });
    expect_error(ErrorCategory::script, ERR_NOT_RELATED, [] {
        Cell c = integer(1), pair{T_PAIR, 0, 1, 2};
        integer_divide(&c, &pair);
    });
    expect_error(ErrorCategory::script, ERR_NOT_RELATED, [] {
        Cell c = integer(1), tuple{T_TUPLE, 0, 0, 0};
        integer_subtract(&c, &tuple);
    });
}

TEST_F(Integer, OneOperandActions) {
    Cell c = integer(0);
    integer_complement(&c);
    EXPECT_EQ(integer_get(&c), -1);
    c = integer(-5);
    integer_negate(&c);
    EXPECT_EQ(integer_get(&c), 5);
    c = integer(-4);
    EXPECT_TRUE(integer_even_q(&c));
    c = integer(-3);
    EXPECT_TRUE(integer_odd_q(&c));
    EXPECT_EQ(integer_absolute(-7), 7);
}

TEST_F(Integer, PowerBySquaringFallsBackToFloat) {
    struct Case { int32_t base; Cell exponent; uint8_t type; double value; };
    const Case cases[] = {
        {2, integer(10), T_INTEGER, 1024},
        {0, integer(0), T_INTEGER, 1},
        {-3, integer(3), T_INTEGER, -27},
        {2, integer(31), T_FLOAT, 2147483648.0},
        {2, integer(-1), T_FLOAT, 0.5},
        {4, number(T_FLOAT, 0.5), T_FLOAT, 2.0},
        {65536, integer(1), T_INTEGER, 65536},  // the last squaring overflows harmlessly
    };
    for (const Case& c : cases) {
        Cell base = integer(c.base);
        integer_power(&base, &c.exponent);
        ASSERT_EQ(cell_type(&base), c.type) << c.base;
        if (c.type == T_FLOAT) EXPECT_EQ(cell_double(&base), c.value);
        else EXPECT_EQ(integer_get(&base), int32_t(c.value));
    }
    expect_error(ErrorCategory::script, ERR_EXPECT_ARG, [] {
        Cell base = integer(2), none{T_NONE, 0, 0, 0};
        integer_power(&base, &none);
    });
}

TEST_F(Integer, RoundEveryRefinement) {
    enum { NONE, EVEN, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };
    struct Case { int32_t v, scale; int flag; int32_t result; };
    const Case cases[] = {
        {17, 5, NONE, 15}, {18, 5, NONE, 20}, {15, 10, NONE, 20}, {-15, 10, NONE, -20},
        {25, 10, EVEN, 20}, {35, 10, EVEN, 40}, {15, 10, HALF_DOWN, 10},
        {-15, 10, HALF_CEILING, -10}, {15, 10, HALF_CEILING, 20}, {-11, 10, FLOOR, -20},
        {11, 10, CEILING, 20}, {-19, 10, DOWN, -10}, {7, 0, NONE, 7}, {7, -5, NONE, 5},
        {INT32_MIN, 10, FLOOR, INT32_MIN}, {2147483647, 10, FLOOR, 2147483640},
    };
    for (const Case& c : cases) {
        Cell frame[2] = {integer(c.v), integer(c.scale)};
        integer_round(&frame[0], &frame[1], c.flag == EVEN, c.flag == DOWN, c.flag == HALF_DOWN,
                      c.flag == FLOOR, c.flag == CEILING, c.flag == HALF_CEILING);
        EXPECT_EQ(integer_get(&frame[0]), c.result) << c.v << " to " << c.scale << " flag " << c.flag;
    }
    // Without /to the scale is 1 and nothing changes.
    Cell v = integer(42);
    integer_round(&v, nullptr, false, false, false, false, false, false);
    EXPECT_EQ(integer_get(&v), 42);
    // A float scale rounds as a float and gives the scale's type.
    Cell frame[2] = {integer(7), number(T_FLOAT, 2.5)};
    integer_round(&frame[0], &frame[1], false, false, false, false, false, false);
    EXPECT_EQ(cell_type(&frame[0]), T_FLOAT);
    EXPECT_EQ(cell_double(&frame[0]), 7.5);

    expect_error(ErrorCategory::math, ERR_OVERFLOW, [] {
        Cell f[2] = {integer(2147483647), integer(10)};
        integer_round(&f[0], &f[1], false, false, false, false, true, false);
    });
    expect_error(ErrorCategory::math, ERR_OVERFLOW, [] {
        Cell f[2] = {integer(5), integer(INT32_MIN)};
        integer_round(&f[0], &f[1], false, false, false, false, false, false);
    });
    expect_error(ErrorCategory::script, ERR_NOT_RELATED, [] {
        Cell f[2] = {integer(5), Cell{T_MONEY, 0, 0, 0}};
        integer_round(&f[0], &f[1], false, false, false, false, false, false);
    });
}

TEST_F(Integer, CompareAcrossNumbers) {
    Cell one = integer(1), ch{T_CHAR, 0, 1, 0}, f = number(T_FLOAT, 1.0), f15 = number(T_FLOAT, 1.5);
    EXPECT_EQ(integer_compare(&one, &ch, CMP_EQUAL), 0);
    EXPECT_EQ(integer_compare(&one, &ch, CMP_STRICT_EQUAL), 1);
    EXPECT_EQ(integer_compare(&one, &f, CMP_EQUAL), 0);
    EXPECT_EQ(integer_compare(&one, &f, CMP_STRICT_EQUAL), 1);
    EXPECT_EQ(integer_compare(&one, &f15, CMP_LESSER), -1);
    Cell a = integer(-5), b = integer(3);
    EXPECT_EQ(integer_compare(&a, &b, CMP_LESSER), -1);
    Cell none{T_NONE, 0, 0, 0};
    EXPECT_EQ(integer_compare(&one, &none, CMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST_F(Integer, FormBufferAndForm) {
    EXPECT_STREQ(integer_form_buffer(0), "0");
    EXPECT_STREQ(integer_form_buffer(42), "42");
    EXPECT_STREQ(integer_form_buffer(-2147483647 - 1), "-2147483648");
    EXPECT_STREQ(integer_form_buffer(2147483647), "2147483647");
    EXPECT_EQ(formed(integer(-305)), "-305");
}

TEST_F(Integer, ToAndMake) {
    struct Case { Cell spec; int32_t result; };
    const Case cases[] = {
        {number(T_FLOAT, 3.99), 3}, {number(T_FLOAT, -3.99), -3},
        {number(T_PERCENT, 2.5), 2}, {number(T_TIME, 3600.5), 3601},
        {Cell{T_CHAR, 0, 65, 0}, 65}, {integer(9), 9},
    };
    for (const Case& c : cases) {
        Cell proto = integer(0);
        const Cell* r = integer_to(&proto, &c.spec, T_INTEGER);
        EXPECT_EQ(cell_type(r), T_INTEGER);
        EXPECT_EQ(integer_get(r), c.result);
    }
    Cell proto = integer(0), t{T_LOGIC, 1, 0, 0};
    EXPECT_EQ(integer_get(integer_make(&proto, &t, T_INTEGER)), 1);

    for (double d : {2147483648.0, -2147483649.0, std::nan(""), 1.0 / 0.0}) {
        expect_error(ErrorCategory::script, ERR_TYPE_LIMIT, [d] {
            Cell p = integer(0), spec = number(T_FLOAT, d);
            integer_to(&p, &spec, T_INTEGER);
        });
    }
    expect_error(ErrorCategory::script, ERR_BAD_TO_ARG, [] {
        Cell p = integer(0), spec{T_NONE, 0, 0, 0};
        integer_to(&p, &spec, T_INTEGER);
    });
}

TEST_F(Integer, ToReadsBinaryBigEndian) {
    struct Case { std::vector<uint8_t> bytes; int32_t result; };
    const Case cases[] = {
        {{1, 2, 3, 4}, 16909060}, {{1, 2}, 258}, {{1, 2, 3, 4, 5}, 16909060}, {{}, 0},
        {{0xFF, 0xFF, 0xFF, 0xFF}, -1},
    };
    for (const Case& c : cases) {
        Cell bin;
        string_make_empty_at(&bin, 8);
        string_append_ascii(&bin, reinterpret_cast<const char*>(c.bytes.data()), uint32_t(c.bytes.size()));
        cell_type_set(&bin, T_BINARY);
        Cell proto = integer(0);
        EXPECT_EQ(integer_get(integer_to(&proto, &bin, T_INTEGER)), c.result);
    }
}

TEST_F(Integer, DoubleConversionIsRangeChecked) {
    int32_t n = 7;
    EXPECT_TRUE(integer_from_double(-2147483648.9, &n));
    EXPECT_EQ(n, INT32_MIN);
    EXPECT_TRUE(integer_from_double(2147483647.9, &n));
    EXPECT_EQ(n, INT32_MAX);
    n = 7;
    EXPECT_FALSE(integer_from_double(2147483648.0, &n));
    EXPECT_FALSE(integer_from_double(-2147483649.0, &n));
    EXPECT_FALSE(integer_from_double(std::nan(""), &n));
    EXPECT_EQ(n, 7);
}
