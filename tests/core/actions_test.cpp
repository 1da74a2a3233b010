#include "core/series.hpp"
#include "tests/core/interp_fixture.hpp"

#include <type_traits>

using namespace kel;
using namespace kel::testing;

namespace {

// A probe datatype whose every action records its number, so each entry can be
// seen to reach the right slot with the right function type.
constexpr uint8_t T_PROBE = 56;
constexpr uint8_t T_MUTE = 55;  // a type with no actions at all
int hit = 0;
uint8_t make_type = 0;

template <int N, class F> struct Rec;
template <int N, class R, class... A> struct Rec<N, R (*)(A...)> {
    static R fn(A...) {
        hit = N;
        if constexpr (std::is_void_v<R>) return;
        else if constexpr (std::is_pointer_v<R>) return &none_cell;
        else return R{};
    }
};

const Cell* probe_make(Cell*, const Cell*, uint8_t type) {
    hit = A_MAKE;
    make_type = type;
    return &none_cell;
}
int32_t probe_length_none(const Cell*) { return -1; }

#define REC(n, F) slots[(n) - 1] = action_fn(&Rec<(n), F>::fn)

void register_probe() {
    ActionFn slots[ACTION_COUNT] = {};
    slots[A_MAKE - 1] = action_fn(&probe_make);
    REC(2, RandomFn); REC(3, ReflectFn); REC(4, MakeToFn); REC(5, FormMoldFn);
    REC(6, FormMoldFn); REC(7, EvalPathFn); REC(9, CompareFn); REC(10, UnaryFn);
    REC(11, ArithmeticFn); REC(12, ArithmeticFn); REC(13, ArithmeticFn); REC(14, UnaryFn);
    REC(15, ArithmeticFn); REC(16, ArithmeticFn); REC(17, RoundFn); REC(18, ArithmeticFn);
    REC(19, EvenOddFn); REC(20, EvenOddFn); REC(21, ArithmeticFn); REC(22, ComplementFn);
    REC(23, ArithmeticFn); REC(24, ArithmeticFn); REC(25, InsertFn); REC(26, SeriesMoveFn);
    REC(27, SeriesStepFn); REC(28, ChangeFn); REC(29, ClearFn); REC(30, CopyFn);
    REC(31, FindFn); REC(32, SeriesStepFn); REC(33, SeriesStepFn); REC(34, SeriesStepFn);
    REC(35, InsertFn); REC(36, LengthFn); REC(37, MoveFn); REC(38, SeriesStepFn);
    REC(39, PickFn); REC(40, PokeFn); REC(41, PutFn); REC(42, RemoveFn); REC(43, ReverseFn);
    REC(44, SelectFn); REC(45, SortFn); REC(46, SeriesMoveFn); REC(47, SwapFn);
    REC(48, SeriesStepFn); REC(49, SeriesStepFn); REC(50, TakeFn); REC(51, TrimActionFn);
    REC(52, PortFn); REC(53, PortFn); REC(54, PortFn); REC(55, ModifyFn); REC(56, OpenFn);
    REC(57, PortFn); REC(58, PortFn); REC(59, ReadFn); REC(60, RenameFn); REC(61, PortFn);
    REC(62, WriteFn);
    datatype_register(T_PROBE, 0, "probe!", slots, ACTION_COUNT);
    ActionFn none[ACTION_COUNT] = {};
    datatype_register(T_MUTE, 0, "mute!", none, ACTION_COUNT);
}

struct ActionsTest : InterpTest {
    void SetUp() override {
        InterpTest::SetUp();
        register_probe();
        hit = 0;
    }
    // Calls action n's entry on a frame of the first argument and two integers.
    static void call(uint32_t n, const Cell& first, int32_t refinement0 = -1) {
        int32_t refinements[16];
        for (int32_t& r : refinements) r = -1;
        refinements[0] = refinement0;
        stack_mark_native(nullptr);
        stack_push(&first);
        Cell two = integer_cell(2), three = integer_cell(3);
        stack_push(&two);
        stack_push(&three);
        action_entry(n)(refinements);
        stack_unwind_keep();
        stack_pop(1);
    }
};

TEST_F(ActionsTest, EveryEntryReachesItsSlot) {
    Cell probe;
    cell_init(&probe, T_PROBE);
    EXPECT_EQ(action_entry(A_UNUSED), nullptr);
    for (uint32_t n = 1; n <= ACTION_COUNT; n++) {
        if (n == A_UNUSED) continue;
        hit = 0;
        call(n, probe);
        EXPECT_EQ(hit, int(n)) << "action " << n;
    }
}

TEST_F(ActionsTest, UnsupportedActionNamesTheType) {
    Cell number = integer_cell(1);
    StackState saved = stack_save();
    EXPECT_EQ(raised_code([&] { call(A_APPEND, number); }), script(ERR_EXPECT_ARG));
    stack_restore(saved);
    EXPECT_EQ(cell_type(&error_in_flight.args[1]), T_DATATYPE);
    EXPECT_EQ(error_in_flight.args[1].w1, uint32_t(T_INTEGER));
    // Through the interpreter the error names the calling word.
    EXPECT_EQ(run_error(blk({w("append"), i(1), i(2)})), script(ERR_EXPECT_ARG));
    EXPECT_EQ(symbol_text(error_in_flight.args[0].w2), "append");
    EXPECT_EQ(symbol_text(error_in_flight.args[2].w2), "series");
}

TEST_F(ActionsTest, MakeUsesTheDatatypeOrThePrototypesType) {
    Cell type, probe;
    datatype_make_at(&type, T_PROBE);
    cell_init(&probe, T_PROBE);
    CellRoot out;
    for (const Cell* proto : {&type, &probe}) {
        make_type = 0;
        dispatch_make(proto, &probe, false, &out.cell);
        EXPECT_EQ(make_type, T_PROBE);
    }
}

TEST_F(ActionsTest, FormWithPartZeroFormsNothing) {
    Cell probe;
    cell_init(&probe, T_PROBE);
    Cell* out = stack_push_new(T_NONE);
    dispatch_form(&probe, out, 0);
    EXPECT_EQ(hit, 0);
    EXPECT_EQ(cell_type(out), T_STRING);
    EXPECT_EQ(series_buffer(out->w2)->length(), 0u);
    stack_pop(1);
}

TEST_F(ActionsTest, LengthOfNoneIsNone) {
    ActionFn slots[ACTION_COUNT] = {};
    slots[A_LENGTH_Q - 1] = action_fn(&probe_length_none);
    datatype_register(T_PROBE, 0, "probe!", slots, ACTION_COUNT);
    Cell probe;
    cell_init(&probe, T_PROBE);
    stack_mark_native(nullptr);
    stack_push(&probe);
    int32_t refinements[1] = {-1};
    action_entry(A_LENGTH_Q)(refinements);
    EXPECT_EQ(cell_type(data_stack.args), T_NONE);
    stack_unwind();
}

TEST_F(ActionsTest, ComparisonOfValuesThatCannotBeCompared) {
    Cell a, b;
    cell_init(&a, T_MUTE);
    cell_init(&b, T_MUTE);
    EXPECT_TRUE(compare_logic(&a, &b, CMP_NOT_EQUAL));
    for (int32_t op : {CMP_EQUAL, CMP_STRICT_EQUAL, CMP_SAME, CMP_FIND})
        EXPECT_FALSE(compare_logic(&a, &b, op)) << op;
    for (int32_t op : {CMP_LESSER, CMP_LESSER_OR_EQUAL, CMP_GREATER, CMP_GREATER_OR_EQUAL})
        EXPECT_EQ(raised_code([&] { compare_logic(&a, &b, op); }), script(ERR_INVALID_COMPARE));
    Cell one = integer_cell(1), two = integer_cell(2);
    EXPECT_TRUE(compare_logic(&one, &two, CMP_LESSER));
    EXPECT_TRUE(compare_logic(&two, &one, CMP_GREATER_OR_EQUAL));
    EXPECT_LT(compare_values(&one, &two, CMP_SORT), 0);
}

} // namespace
