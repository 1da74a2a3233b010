#include "datatypes/percent.hpp"
#include "datatypes/float.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "tests/support/number_fixture.hpp"
#include <gtest/gtest.h>
#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

struct Percent : NumberTest {
    void SetUp() override {
        NumberTest::SetUp();
        float_pretty = false;
    }
    void TearDown() override { float_pretty = false; }
};

std::string formed(double d) {
    Cell target, value;
    percent_init(&value, d);
    string_make_empty_at(&target, 16);
    int32_t left = percent_form(&value, &target, false, false, false, false, 100, 0);
    SeriesBuffer* b = series_buffer(target.w2);
    std::string text(reinterpret_cast<const char*>(b->head_ptr()), b->tail - b->head);
    EXPECT_EQ(left, 100 - int32_t(text.size()));
    return text;
}

} // namespace

TEST_F(Percent, Form) {
    struct Case { double d; bool pretty; const char* text; };
    const Case cases[] = {
        {0.125, false, "12.5%"}, {1.0, false, "100%"}, {0.001, false, "0.1%"},
        {1e-22, true, "0%"}, {1.0 / 0.0, false, "1.#INF"}, {-0.5, false, "-50%"},
    };
    for (const Case& c : cases) {
        float_pretty = c.pretty;
        EXPECT_EQ(formed(c.d), c.text) << c.d;
    }
}

TEST_F(Percent, ArithmeticKeepsTheLeftType) {
    Cell half, two{T_INTEGER, 0, 2, 0};
    percent_init(&half, 0.5);
    float_multiply(&half, &two);
    EXPECT_EQ(cell_type(&half), T_PERCENT);
    EXPECT_EQ(cell_double(&half), 1.0);

    Cell one_percent, zero{T_INTEGER, 0, 0, 0};
    percent_init(&one_percent, 0.01);
    float_divide(&one_percent, &zero);
    EXPECT_EQ(formed(cell_double(&one_percent)), "1.#INF");

    Cell fifty, f{T_FLOAT, 0, 0, 0};
    percent_init(&fifty, 0.5);
    cell_set_double(&f, 0.5);
    EXPECT_EQ(float_compare(&fifty, &f, CMP_EQUAL), 0);
    EXPECT_EQ(float_compare(&fifty, &f, CMP_STRICT_EQUAL), 1);
}

TEST_F(Percent, RoundsInUnitsOfOnePercent) {
    Cell v;
    percent_init(&v, 0.12345);
    float_round(&v, nullptr, false, false, false, false, false, false);
    EXPECT_EQ(cell_type(&v), T_PERCENT);
    EXPECT_DOUBLE_EQ(cell_double(&v), 0.12);
}

TEST_F(Percent, RegistersOverFloatWithItsOwnText) {
    datatype_registry_init();
    init_float();
    init_percent();
    EXPECT_EQ(action_slot(T_PERCENT, A_ROUND), action_slot(T_FLOAT, A_ROUND));
    EXPECT_EQ(action_slot(T_PERCENT, A_MAKE), action_slot(T_FLOAT, A_MAKE));
    EXPECT_EQ(action_slot(T_PERCENT, A_MOLD), action_fn(&percent_form));
    EXPECT_EQ(action_slot(T_PERCENT, A_AND_T), nullptr);
}
