#include "core/logic.hpp"
#include "core/registry.hpp"
#include "datatypes/types.hpp"
#include "core/mold_text.hpp"
#include "core/error.hpp"
#include "core/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "tests/support/memory_fixture.hpp"
#include <gtest/gtest.h>
#include <cmath>
#include <limits>
#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

struct Logic : ::testing::Test {
    void SetUp() override { memory_fresh(false); datatypes_register(); }
};

Cell integer(int32_t n) { Cell c{T_INTEGER, 0, uint32_t(n), 0}; return c; }
Cell number(uint8_t type, double d) { Cell c{type, 0, 0, 0}; cell_set_double(&c, d); return c; }
Cell logic(uint32_t payload) { return Cell{T_LOGIC, payload, 0, 0}; }

std::string string_text(const Cell* s) {
    SeriesBuffer* b = series_buffer(s->w2);
    return std::string(reinterpret_cast<const char*>(b->head_ptr()), b->tail - b->head);
}

template <class F> F slot(uint8_t type, int action) {
    return reinterpret_cast<F>(action_slot(type, action));
}

void expect_error(ErrorCategory category, uint16_t id, void (*body)()) {
    try {
        body();
        ADD_FAILURE() << "no error raised";
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.category, category);
        EXPECT_EQ(e.id, id);
    }
}

} // namespace

TEST_F(Logic, MakeReadsNumbersToOnlyTestsForNone) {
    struct Case { Cell spec; bool make, to; };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {integer(0), false, true},   {integer(-1), true, true},
        {number(T_FLOAT, 0.0), false, true}, {number(T_FLOAT, -0.0), false, true},
        {number(T_FLOAT, nan), true, true},  {number(T_PERCENT, 0.0), false, true},
        {number(T_PERCENT, 0.5), true, true},
        {none_cell, false, false}, {unset_cell, true, true},
        {true_cell, true, true},   {false_cell, false, false},
    };
    auto make = slot<MakeToFn>(T_LOGIC, A_MAKE);
    auto to = slot<MakeToFn>(T_LOGIC, A_TO);
    for (const Case& c : cases) {
        Cell proto;
        datatype_make_at(&proto, T_LOGIC);
        const Cell* made = make(&proto, &c.spec, T_LOGIC);
        const Cell* converted = to(&proto, &c.spec, T_LOGIC);
        EXPECT_EQ(cell_type(made), T_LOGIC);
        EXPECT_EQ(logic_get(made), c.make) << "make from type " << int(cell_type(&c.spec));
        EXPECT_EQ(logic_get(converted), c.to) << "to from type " << int(cell_type(&c.spec));
    }
    // A logic! is returned as it is.
    Cell odd = logic(1);
    EXPECT_EQ(to(nullptr, &odd, T_LOGIC), &odd);
    EXPECT_EQ(slot<MakeToFn>(T_UNSET, A_TO)(nullptr, &odd, T_UNSET), &unset_cell);
    EXPECT_EQ(slot<MakeToFn>(T_NONE, A_MAKE)(nullptr, &odd, T_NONE), &none_cell);
}

TEST_F(Logic, FormAndMoldTextsAndBudgets) {
    struct Case { Cell value; int action; bool all; const char* text; int32_t budget; };
    const Case cases[] = {
        {unset_cell, A_FORM, false, "", 50},      {unset_cell, A_MOLD, false, "unset", 45},
        {unset_cell, A_MOLD, true, "#(unset)", 42},
        {none_cell, A_FORM, false, "none", 46},   {none_cell, A_MOLD, false, "none", 46},
        {none_cell, A_MOLD, true, "#(none)", 43},
        {true_cell, A_FORM, false, "true", 46},   {false_cell, A_FORM, false, "false", 45},
        {true_cell, A_MOLD, true, "#(true)", 43}, {false_cell, A_MOLD, true, "#(false)", 42},
        {logic(2), A_FORM, false, "false", 45},
    };
    for (const Case& c : cases) {
        Cell s;
        string_make_empty_at(&s, 1);
        auto fn = slot<FormMoldFn>(cell_type(&c.value), c.action);
        ASSERT_NE(fn, nullptr);
        EXPECT_EQ(fn(&c.value, &s, false, c.all, false, false, 50, 0), c.budget) << c.text;
        EXPECT_EQ(string_text(&s), c.text);
    }
}

TEST_F(Logic, CompareGivesEqualityOnlyWithinTheType) {
    const int32_t X = COMPARE_INCOMPARABLE;
    struct Case { Cell a, b; int32_t equal, lesser, sort; };
    const Case cases[] = {
        {unset_cell, unset_cell, 0, X, 0}, {unset_cell, none_cell, X, X, X},
        {none_cell, none_cell, 0, X, 0},   {none_cell, false_cell, X, X, X},
        {true_cell, true_cell, 0, X, 0},   {true_cell, false_cell, 1, X, 1},
        {false_cell, true_cell, -1, X, -1}, {false_cell, none_cell, X, X, X},
        // Any payload but 1 is false, so it equals false and never reads as "incomparable".
        {false_cell, logic(2), 0, X, 0},   {logic(3), true_cell, -1, X, -1},
    };
    for (const Case& c : cases) {
        auto fn = slot<CompareFn>(cell_type(&c.a), A_COMPARE);
        EXPECT_EQ(fn(&c.a, &c.b, CMP_EQUAL), c.equal);
        EXPECT_EQ(fn(&c.a, &c.b, CMP_FIND), c.equal);
        EXPECT_EQ(fn(&c.a, &c.b, CMP_LESSER), c.lesser);
        EXPECT_EQ(fn(&c.a, &c.b, CMP_SORT), c.sort);
    }
}

TEST_F(Logic, BitwiseActionsAndComplement) {
    struct Case { int action; bool a, b, result; };
    const Case cases[] = {
        {A_AND_T, true, true, true},  {A_AND_T, true, false, false},
        {A_OR_T, false, false, false}, {A_OR_T, false, true, true},
        {A_XOR_T, true, true, false}, {A_XOR_T, true, false, true},
    };
    for (const Case& c : cases) {
        Cell a = logic(c.a), b = logic(c.b);
        slot<ArithmeticFn>(T_LOGIC, c.action)(&a, &b);
        EXPECT_EQ(a.w1, uint32_t(c.result));
    }
    // Payloads other than 1 are false in every operation.
    Cell odd = logic(3), t = true_cell;
    logic_and(&odd, &t);
    EXPECT_EQ(odd.w1, 0u);
    odd = logic(2);
    logic_xor(&odd, &t);
    EXPECT_EQ(odd.w1, 1u);
    odd = logic(2);
    EXPECT_EQ(logic_complement(&odd), &odd);
    EXPECT_EQ(odd.w1, 1u);
    logic_complement(&odd);
    EXPECT_EQ(odd.w1, 0u);

    expect_error(ErrorCategory::script, ERR_EXPECT_ARG, [] {
        Cell a = true_cell;
        logic_and(&a, &none_cell);
    });
    // The error names the operand's datatype as its second argument.
    EXPECT_EQ(error_in_flight.args[1].header, uint32_t(T_DATATYPE));
    EXPECT_EQ(error_in_flight.args[1].w1, uint32_t(T_NONE));
    expect_error(ErrorCategory::script, ERR_EXPECT_ARG, [] {
        Cell a = true_cell, one = integer(1);
        logic_or(&a, &one);
    });
}

TEST_F(Logic, NoneAnswersNoneToSeriesActions) {
    Cell n = none_cell, v = integer(1);
    EXPECT_EQ(slot<LengthFn>(T_NONE, A_LENGTH_Q)(&n), -1);
    EXPECT_EQ(slot<FindFn>(T_NONE, A_FIND)(&n, &v, FindOptions{}), &none_cell);
    EXPECT_EQ(slot<SelectFn>(T_NONE, A_SELECT)(&n, &v, FindOptions{}), &none_cell);
    EXPECT_EQ(slot<TakeFn>(T_NONE, A_TAKE)(&n, nullptr, false, false), &none_cell);
    slot<ClearFn>(T_NONE, A_CLEAR)(&n);
    EXPECT_EQ(n.header, uint32_t(T_NONE));
    slot<RemoveFn>(T_NONE, A_REMOVE)(&n, nullptr, nullptr);
    EXPECT_EQ(n.header, uint32_t(T_NONE));
    // Unsupported actions stay empty.
    EXPECT_EQ(action_slot(T_UNSET, A_LENGTH_Q), nullptr);
    EXPECT_EQ(action_slot(T_NONE, A_APPEND), nullptr);
    EXPECT_EQ(action_slot(T_LOGIC, A_ADD), nullptr);
}

TEST(LogicTruth, TestsOnCells) {
    struct Case { Cell v; bool truth; };
    const Case cases[] = {
        {none_cell, false}, {false_cell, false}, {logic(2), false}, {true_cell, true},
        {integer(0), true}, {unset_cell, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(value_true(&c.v, false), c.truth);
        EXPECT_EQ(logic_false(&c.v), !c.truth);
        if (cell_type(&c.v) != T_UNSET) {
            EXPECT_EQ(value_true(&c.v, true), c.truth);
            EXPECT_EQ(logic_true_checked(&c.v), c.truth);
        }
    }
    expect_error(ErrorCategory::script, ERR_NO_VALUE, [] { value_true(&unset_cell, true); });
    expect_error(ErrorCategory::script, ERR_NO_RETURN, [] { logic_true_checked(&unset_cell); });

    Cell c{0xFFFFFFFF, 9, 9, 9};
    logic_make_at(&c, true);
    EXPECT_EQ(c.header, uint32_t(T_LOGIC));
    EXPECT_TRUE(logic_get(&c));
    none_make_at(&c);
    EXPECT_EQ(c.header, uint32_t(T_NONE));
    unset_make_at(&c);
    EXPECT_EQ(c.header, uint32_t(T_UNSET));
}

// The block and data-stack shapes, and the truth tests on the stack top, which
// read the arguments slot once nothing lies above it.
TEST_F(Logic, ShapesOnBlocksAndTheStack) {
    Node block = series_new_cells(1);
    logic_make_in(block, true);
    none_make_in(block);
    unset_make_in(block);  // past the capacity: the block grows
    datatype_make_in(block, T_BLOCK);
    const Cell expected[] = {true_cell, none_cell, unset_cell, Cell{T_DATATYPE, T_BLOCK, 0, 0}};
    SeriesBuffer* b = series_buffer(block);
    ASSERT_EQ(b->tail - b->head, sizeof expected);
    const auto* cells = reinterpret_cast<const Cell*>(b->head_ptr());
    for (size_t i = 0; i < std::size(expected); i++) {
        EXPECT_EQ(cells[i].header, expected[i].header) << i;
        EXPECT_EQ(cells[i].w1, expected[i].w1) << i;
    }

    stack_init({1, 2, 3, 4});
    Cell* args = stack_mark(nullptr, FRAME_NATIVE);
    struct Case { Cell* (*push)(); bool top_false; };
    const Case cases[] = {
        {[] { return logic_push(false); }, true}, {[] { return logic_push(true); }, false},
        {none_push, true}, {unset_push, false},
        {[] { return datatype_push(T_NONE); }, false},
    };
    for (const Case& c : cases) {
        Cell* pushed = c.push();
        EXPECT_EQ(pushed, data_stack.top - 1);
        EXPECT_EQ(logic_top_false(), c.top_false) << int(cell_type(pushed));
        EXPECT_EQ(logic_top_true(), !c.top_false);
    }
    EXPECT_EQ(data_stack.top, args + std::size(cases));

    logic_box(true);
    EXPECT_EQ(data_stack.top, args + 1);
    EXPECT_EQ(args->header, uint32_t(T_LOGIC));
    EXPECT_TRUE(logic_top_true());
    logic_box(false);
    stack_reset();  // top is the arguments slot itself
    EXPECT_TRUE(logic_top_false());
    stack_init({1, 2, 3, 4});
}
