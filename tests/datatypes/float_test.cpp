#include "datatypes/float.hpp"
#include "core/float_text.hpp"
#include "core/error.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "tests/support/number_fixture.hpp"
#include <gtest/gtest.h>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

struct Float : NumberTest {
    void SetUp() override {
        NumberTest::SetUp();
        float_pretty = false;
    }
    void TearDown() override { float_pretty = false; }
};

const double inf = std::numeric_limits<double>::infinity();
const double nan_ = std::numeric_limits<double>::quiet_NaN();


using FormFn = int32_t (*)(const Cell*, Cell*, bool, bool, bool, bool, int32_t, int32_t);
std::string text_of(FormFn fn, const Cell& value) {
    Cell target;
    string_make_empty_at(&target, 32);
    int32_t left = fn(&value, &target, false, false, false, false, 100, 0);
    SeriesBuffer* b = series_buffer(target.w2);
    std::string text(reinterpret_cast<const char*>(b->head_ptr()), b->tail - b->head);
    EXPECT_EQ(left, 100 - int32_t(text.size()));
    return text;
}

} // namespace

TEST_F(Float, KernelTypesAndSpecials) {
    struct Case { Cell l, r; int32_t op; uint8_t type; double value; };
    const Case cases[] = {
        {number(T_PERCENT, 0.1), number(T_FLOAT, 0.5), OP_ADD, T_PERCENT, 0.6},
        {number(T_FLOAT, 0.5), number(T_PERCENT, 0.1), OP_ADD, T_FLOAT, 0.6},
        {number(T_FLOAT, 1.5), number(T_TIME, 3600), OP_ADD, T_TIME, 3601.5},
        {number(T_TIME, 3600), number(T_FLOAT, 1.5), OP_ADD, T_TIME, 3601.5},
        {integer(3), number(T_FLOAT, 0.5), OP_MULTIPLY, T_FLOAT, 1.5},
        {number(T_FLOAT, 5.5), integer(2), OP_REMAINDER, T_FLOAT, 1.5},
        {number(T_FLOAT, 5.0), number(T_FLOAT, inf), OP_REMAINDER, T_FLOAT, 5.0},
        {number(T_FLOAT, 1.0), integer(0), OP_DIVIDE, T_FLOAT, inf},
        {number(T_FLOAT, -1.0), integer(0), OP_DIVIDE, T_FLOAT, -inf},
        {number(T_FLOAT, 1.0), Cell{T_CHAR, 0, 2, 0}, OP_ADD, T_FLOAT, 3.0},
    };
    for (const Case& c : cases) {
        Cell left = c.l;
        float_do_math(&left, &c.r, c.op);
        EXPECT_EQ(cell_type(&left), c.type);
        EXPECT_DOUBLE_EQ(cell_double(&left), c.value);
    }
    EXPECT_TRUE(std::isnan(float_math_op(5.5, 0, OP_REMAINDER)));
    EXPECT_TRUE(std::isnan(float_math_op(0.0, 0, OP_DIVIDE)));
    EXPECT_TRUE(std::isnan(float_math_op(inf, inf, OP_REMAINDER)));

    expect_error(ErrorCategory::script, ERR_CANNOT_USE, [] { float_math_op(1, 2, OP_AND); });
    expect_error(ErrorCategory::script, ERR_INVALID_TYPE, [] {
        Cell l = number(T_PERCENT, 0.1), r{T_CHAR, 0, 1, 0};
        float_add(&l, &r);
    });
    expect_error(ErrorCategory::script, ERR_INVALID_TYPE, [] {
        Cell l = number(T_FLOAT, 0.1), r{T_NONE, 0, 0, 0};
        float_add(&l, &r);
    });
    expect_error(ErrorCategory::script, ERR_NOT_RELATED, [] {
        Cell l = number(T_FLOAT, 0.1), r{T_PAIR, 0, 1, 1};
        float_subtract(&l, &r);
    });
}

TEST_F(Float, OneOperandActionsAndPower) {
    Cell c = number(T_FLOAT, 0.0);
    float_negate(&c);
    EXPECT_FALSE(std::signbit(cell_double(&c)));
    c = number(T_FLOAT, -2.5);
    float_absolute(&c);
    EXPECT_EQ(cell_double(&c), 2.5);
    c = number(T_FLOAT, -3.7);
    EXPECT_TRUE(float_odd_q(&c));
    c = number(T_FLOAT, 1e20);  // beyond 32 bits: still decided, no undefined conversion
    EXPECT_TRUE(float_even_q(&c));

    Cell base = number(T_PERCENT, 0.5), e = integer(2);
    float_power(&base, &e);
    EXPECT_EQ(cell_type(&base), T_PERCENT);
    EXPECT_EQ(cell_double(&base), 0.25);
    expect_error(ErrorCategory::script, ERR_EXPECT_ARG, [] {
        Cell b = number(T_FLOAT, 2.0), x{T_NONE, 0, 0, 0};
        float_power(&b, &x);
    });
}

TEST_F(Float, TolerantEquality) {
    EXPECT_TRUE(float_near_equal_q(0.1 + 0.2, 0.3));
    EXPECT_TRUE(float_near_equal_q(1e300, std::nextafter(std::nextafter(1e300, inf), inf)));
    EXPECT_FALSE(float_near_equal_q(1e300, 1e300 * (1 + 1e-14)));
    EXPECT_TRUE(float_near_equal_q(0.0, -0.0));
    EXPECT_FALSE(float_near_equal_q(nan_, nan_));
    EXPECT_FALSE(float_near_equal_q(1.0, -1.0));

    EXPECT_TRUE(float32_near_equal_q(1.0f, std::nextafter(1.0f, 2.0f)));
    EXPECT_FALSE(float32_near_equal_q(1.0f, 1.001f));
    EXPECT_FALSE(float32_near_equal_q(std::nanf(""), std::nanf("")));
    EXPECT_TRUE(float32_near_equal_q(0.0f, -0.0f));
}

TEST_F(Float, CompareCodes) {
    Cell a = number(T_FLOAT, 0.1 + 0.2), b = number(T_FLOAT, 0.3);
    EXPECT_EQ(float_compare(&a, &b, CMP_EQUAL), 0);
    EXPECT_EQ(float_compare(&a, &b, CMP_STRICT_EQUAL), 1);
    Cell one = number(T_FLOAT, 1.0), i1 = integer(1), p = number(T_PERCENT, 1.0);
    EXPECT_EQ(float_compare(&one, &i1, CMP_EQUAL), 0);
    EXPECT_EQ(float_compare(&one, &i1, CMP_STRICT_EQUAL), 1);
    EXPECT_EQ(float_compare(&one, &p, CMP_SAME), 1);
    Cell z = number(T_FLOAT, 0.0), nz = number(T_FLOAT, -0.0);
    EXPECT_EQ(float_compare(&z, &nz, CMP_STRICT_EQUAL), 0);
    EXPECT_EQ(float_compare(&z, &nz, CMP_SAME), 1);

    Cell n = number(T_FLOAT, nan_);
    EXPECT_EQ(float_compare(&n, &n, CMP_EQUAL), 1);
    // Every ordering test involving a NaN is false.
    EXPECT_EQ(float_compare(&n, &one, CMP_LESSER), 1);
    EXPECT_EQ(float_compare(&n, &one, CMP_LESSER_OR_EQUAL), 1);
    EXPECT_EQ(float_compare(&n, &one, CMP_GREATER), -1);
    EXPECT_EQ(float_compare(&n, &one, CMP_GREATER_OR_EQUAL), -1);
    EXPECT_EQ(float_compare(&n, &one, CMP_SORT), 0);
    Cell none{T_NONE, 0, 0, 0};
    EXPECT_EQ(float_compare(&one, &none, CMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST_F(Float, TextModes) {
    struct Case { double x; int32_t mode; bool pretty; const char* text; };
    const Case cases[] = {
        {inf, 1, false, "1.#INF"}, {-inf, 3, false, "-1.#INF"}, {nan_, 4, true, "1.#NaN"},
        {1e20, 1, false, "1.0e20"}, {1.5e-5, 1, false, "1.5e-5"}, {2.0, 1, false, "2.0"},
        {100.0, 1, false, "100.0"}, {1e16, 1, false, "1.0e16"}, {-12.0, 1, false, "-12.0"},
        {1e-20, 1, true, "0.0"}, {1e-20, 1, false, "9.999999999999999e-21"},
        {0.1 + 0.7, 1, true, "0.8"}, {0.1 + 0.7, 1, false, "0.7999999999999999"},
        {0.1 + 0.2, 1, true, "0.3"}, {0.1 + 0.2, 1, false, "0.3"},
        {1.0 / 3, 0, false, "0.3333333"}, {2.0, 0, false, "2.0"},
        {12.5, 3, false, "12.5%"}, {100.0, 3, false, "100%"}, {1e-20, 3, true, "0%"},
        {1e-20, 2, true, "0%"}, {1e-20, 5, true, "0"}, {2.0, 5, false, "2"},
        {1.5, 4, false, "1.5"}, {59.1234567, 4, false, "59.1235"},
        {1e-5, 5, false, "1e-5"}, {1e100, 3, false, "1e100%"},
    };
    for (const Case& c : cases) {
        float_pretty = c.pretty;
        EXPECT_STREQ(float_to_text(c.x, c.mode), c.text) << c.x << " mode " << c.mode;
    }
}

TEST_F(Float, FormAndMold) {
    Cell sum = number(T_FLOAT, 0.1 + 0.2);
    EXPECT_EQ(text_of(&float_form_value, sum), "0.3");
    EXPECT_EQ(text_of(&float_mold_value, sum), "0.30000000000000004");
    Cell root = number(T_FLOAT, std::pow(2.0, 0.5));
    EXPECT_EQ(text_of(&float_form_value, root), "1.414213562373095");
    EXPECT_EQ(text_of(&float_mold_value, root), "1.4142135623730951");
    EXPECT_EQ(text_of(&float_mold_value, number(T_FLOAT, -0.0)), "-0.0");
    EXPECT_EQ(text_of(&float_form_value, number(T_FLOAT, 1.0 / 0.0)), "1.#INF");
}

TEST_F(Float, RoundEveryRefinement) {
    enum { NONE, EVEN, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };
    struct Case { Cell v; int flag; double result; };
    const Case cases[] = {
        {number(T_FLOAT, 2.5), NONE, 3.0}, {number(T_FLOAT, -2.5), NONE, -3.0},
        {number(T_FLOAT, 2.5), EVEN, 2.0}, {number(T_FLOAT, 3.5), EVEN, 4.0},
        {number(T_FLOAT, 2.5), HALF_DOWN, 2.0}, {number(T_FLOAT, -2.1), FLOOR, -3.0},
        {number(T_FLOAT, -2.1), CEILING, -2.0}, {number(T_FLOAT, -2.7), DOWN, -2.0},
        {number(T_FLOAT, -2.5), HALF_CEILING, -2.0}, {number(T_FLOAT, 2.4), NONE, 2.0},
        {number(T_PERCENT, 0.12345), NONE, 0.12},
    };
    for (const Case& c : cases) {
        Cell v = c.v;
        float_round(&v, nullptr, c.flag == EVEN, c.flag == DOWN, c.flag == HALF_DOWN,
                    c.flag == FLOOR, c.flag == CEILING, c.flag == HALF_CEILING);
        EXPECT_EQ(cell_type(&v), cell_type(&c.v));
        EXPECT_DOUBLE_EQ(cell_double(&v), c.result);
    }
}

TEST_F(Float, RoundToScaleTakesTheScaleType) {
    struct Case { Cell v, scale; uint8_t type; double result; };
    const Case cases[] = {
        {number(T_FLOAT, 1.26), number(T_FLOAT, 0.1), T_FLOAT, 1.3},
        {number(T_FLOAT, 7.3), integer(2), T_INTEGER, 8},
        {number(T_FLOAT, 1e300), integer(1), T_FLOAT, 1e300},
        {number(T_PERCENT, 0.12345), number(T_FLOAT, 0.1), T_FLOAT, 0.123},
        {number(T_FLOAT, 100.0), number(T_TIME, 60.0), T_TIME, 120.0},
        {number(T_FLOAT, 3e-310), number(T_FLOAT, 1e-310), T_FLOAT, 3e-310},
    };
    for (const Case& c : cases) {
        Cell frame[2] = {c.v, c.scale};
        float_round(&frame[0], &frame[1], false, false, false, false, false, false);
        ASSERT_EQ(cell_type(&frame[0]), c.type) << c.result;
        if (c.type == T_INTEGER) EXPECT_EQ(int32_t(frame[0].w2), int32_t(c.result));
        else EXPECT_DOUBLE_EQ(cell_double(&frame[0]), c.result);
    }
    // Rounding up past the largest double overflows instead of giving an infinity.
    expect_error(ErrorCategory::math, ERR_OVERFLOW, [] {
        Cell f[2] = {number(T_FLOAT, 1.7e308), number(T_FLOAT, 1e308)};
        float_round(&f[0], &f[1], false, false, false, false, false, false);
    });
    // An integer scale whose result does not fit in 32 bits.
    expect_error(ErrorCategory::math, ERR_OVERFLOW, [] {
        Cell f[2] = {number(T_FLOAT, 1e12), integer(3)};
        float_round(&f[0], &f[1], false, false, false, false, false, false);
    });
    expect_error(ErrorCategory::script, ERR_NOT_RELATED, [] {
        Cell f[2] = {number(T_FLOAT, 1.0), Cell{T_MONEY, 0, 0, 0}};
        float_round(&f[0], &f[1], false, false, false, false, false, false);
    });
}

TEST_F(Float, RoundToIntegerUsesFloor) {
    struct Case { double x; int32_t n; };
    const Case cases[] = {
        {-2.3, -2}, {-2.7, -3}, {2.3, 2}, {2.5, 3}, {-2.5, -2}, {0.49999999999999994, 0},
        {1e12, INT32_MAX}, {-1e12, INT32_MIN}, {nan_, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(float_round_to_integer(c.x), c.n) << c.x;
}

TEST_F(Float, MakeAndTo) {
    Cell proto = number(T_FLOAT, 0), spec = integer(5);
    const Cell* r = float_make(&proto, &spec, T_FLOAT);
    EXPECT_EQ(cell_type(r), T_FLOAT);
    EXPECT_EQ(cell_double(r), 5.0);
    Cell half = number(T_FLOAT, 0.5);
    r = float_make(&proto, &half, T_PERCENT);
    EXPECT_EQ(cell_type(r), T_PERCENT);
    EXPECT_EQ(cell_double(r), 0.5);

    Cell bin;
    string_make_empty_at(&bin, 8);
    const char bytes[] = {0x3F, char(0xF0), 0, 0, 0, 0, 0, 0};
    string_append_ascii(&bin, bytes, 8);
    cell_type_set(&bin, T_BINARY);
    r = float_make(&proto, &bin, T_FLOAT);
    EXPECT_EQ(cell_double(r), 1.0);

    expect_error(ErrorCategory::script, ERR_BAD_TO_ARG, [] {
        Cell p = number(T_FLOAT, 0), s{T_NONE, 0, 0, 0};
        float_make(&p, &s, T_FLOAT);
    });
}

TEST_F(Float, BitHelpers) {
    EXPECT_TRUE(float_nan_bits_q(nan_));
    EXPECT_FALSE(float_nan_bits_q(inf));
    EXPECT_TRUE(float_special_q(-inf));
    EXPECT_FALSE(float_special_q(1.0));
    EXPECT_TRUE(float32_nan_q(std::nanf("")));
    EXPECT_EQ(float_abs_bits(-0.0), 0.0);
    EXPECT_FALSE(std::signbit(float_abs_bits(-0.0)));
}
