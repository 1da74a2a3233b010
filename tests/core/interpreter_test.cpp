#include "tests/core/interp_fixture.hpp"

using namespace kel;
using namespace kel::testing;

namespace {

struct InterpreterTest : InterpTest {};

int32_t int_of(const Cell& c) {
    EXPECT_EQ(cell_type(&c), T_INTEGER);
    return cell_int(&c);
}

TEST_F(InterpreterTest, OperatorsApplyLeftToRight) {
    EXPECT_EQ(int_of(run(blk({i(1), w("+"), i(2), w("*"), i(3)}))), 9);
    EXPECT_EQ(int_of(run(blk({i(10), w("-"), i(2), w("-"), i(3)}))), 5);
    // A prefix call's argument takes the operators after it.
    EXPECT_EQ(int_of(run(blk({w("add"), i(1), i(2), w("*"), i(10)}))), 21);
}

TEST_F(InterpreterTest, BlockValueIsItsLastExpression) {
    EXPECT_EQ(cell_type(&(const Cell&)run(blk({}))), T_UNSET);
    Cell* before = data_stack.top;
    EXPECT_EQ(int_of(run(blk({i(1), i(2), i(3)}))), 3);
    EXPECT_EQ(data_stack.top - before, 1) << "only the result stays on the stack";
    EXPECT_EQ(stack_call_depth(), 0u);
}

TEST_F(InterpreterTest, WordsAndTheirLiteralForms) {
    EXPECT_EQ(int_of(run(blk({sw("x"), i(5), w("x"), w("*"), w("x")}))), 25);
    CellRoot lit;
    build(lw("z"), lit);
    set_global("y", &lit.cell);
    Cell r = run(blk({w("y")}));
    EXPECT_EQ(cell_type(&r), T_LIT_WORD) << "a word holding a lit-word gives the lit-word";
    r = run(blk({lw("z")}));
    EXPECT_EQ(r.header, uint32_t(T_WORD)) << "a lit-word in code gives the plain word";
    r = run(blk({sw("u"), blk({}), gw("u")}));
    EXPECT_EQ(cell_type(&r), T_BLOCK);
}

TEST_F(InterpreterTest, ErrorsOfExpressions) {
    struct Case {
        const char* what;
        V code;
        int error;
    } cases[] = {
        {"set-word followed by an empty paren", blk({sw("a"), par({})}), script(ERR_NEED_VALUE)},
        {"set-word at the end", blk({i(1), sw("a")}), script(ERR_NEED_VALUE)},
        {"operator first", blk({w("+"), i(1), i(2)}), script(ERR_NO_OP_ARG)},
        {"unset word", blk({w("never-set")}), script(ERR_NO_VALUE)},
        {"operator without right operand", blk({i(1), w("+")}), script(ERR_NO_ARG)},
        {"system issue before a block", blk({iss("system"), blk({})}), internal(ERR_KEL_SYSTEM)},
    };
    for (const Case& c : cases) EXPECT_EQ(run_error(c.code), c.error) << c.what;
    EXPECT_EQ(cell_type(&(const Cell&)run(blk({iss("system"), i(1)}))), T_INTEGER);
}

TEST_F(InterpreterTest, RefinementsFromPaths) {
    run(blk({sw("b"), blk({i(0)})}));
    struct Case {
        V path;
        int error;
    } cases[] = {
        {pth({w("append"), w("only"), w("only")}), script(ERR_DUP_REFINE)},
        {pth({w("append"), w("nothing")}), script(ERR_NO_REFINE)},
        {pth({w("append"), i(1)}), script(ERR_BAD_REFINE)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run_error(blk({c.path, w("b"), i(1)})), c.error);
    Cell r = run(blk({pth({w("append"), w("only")}), w("b"), blk({i(1), i(2)}), w("b")}));
    ASSERT_EQ(block_length(&r), 2u);
    EXPECT_EQ(cell_type(&block_cells(&r)[1]), T_BLOCK) << "/only appends the block as one value";
    r = run(blk({w("append"), w("b"), blk({i(3), i(4)})}));
    EXPECT_EQ(block_length(&r), 4u);
}

TEST_F(InterpreterTest, FunctionRefinementsAndLocals) {
    // f: func [a /twice /scale n /local t] [t: a  if twice [t: t * 2]  if scale [t: t * n]  t]
    run(blk({sw("f"), w("func"),
             blk({w("a"), ref("twice"), ref("scale"), w("n"), ref("local"), w("t")}),
             blk({sw("t"), w("a"), w("if"), w("twice"), blk({sw("t"), w("t"), w("*"), i(2)}),
                  w("if"), w("scale"), blk({sw("t"), w("t"), w("*"), w("n")}), w("t")})}));
    EXPECT_EQ(int_of(run(blk({w("f"), i(3)}))), 3);
    EXPECT_EQ(int_of(run(blk({pth({w("f"), w("twice")}), i(3)}))), 6);
    EXPECT_EQ(int_of(run(blk({pth({w("f"), w("scale"), w("twice")}), i(3), i(5)}))), 30);
    EXPECT_EQ(run_error(blk({pth({w("f"), w("twice"), w("twice")}), i(3)})), script(ERR_DUP_REFINE));
}

TEST_F(InterpreterTest, LitWordParameters) {
    run(blk({sw("q"), w("func"), blk({lw("v")}), blk({gw("v")})}));
    Cell r = run(blk({w("q"), w("foo")}));
    EXPECT_EQ(cell_type(&r), T_WORD) << "taken as it is";
    EXPECT_EQ(int_of(run(blk({w("q"), par({i(1), w("+"), i(1)})}))), 2) << "a paren is evaluated";
    EXPECT_EQ(run_error(blk({w("q")})), script(ERR_NO_ARG));
    run(blk({sw("q2"), w("func"), blk({lw("v"), blk({w("unset!"), w("word!")})}), blk({gw("v")})}));
    r = run(blk({w("q2")}));
    EXPECT_EQ(cell_type(&r), T_UNSET) << "an end of block gives unset when unset is accepted";
}

TEST_F(InterpreterTest, ArgumentTypesAreChecked) {
    run(blk({sw("k"), w("func"), blk({w("a"), blk({w("integer!")})}), blk({w("a")})}));
    EXPECT_EQ(int_of(run(blk({w("k"), i(7)}))), 7);
    EXPECT_EQ(run_error(blk({w("k"), blk({})})), script(ERR_EXPECT_ARG));
    EXPECT_EQ(error_in_flight.args[0].w2, word_intern("k").w2) << "the error names the function";
}

TEST_F(InterpreterTest, RecursionKeepsEachCallsArguments) {
    // sum: func [n] [if zero? n [return 0] n + sum (n - 1)]
    run(blk({sw("sum"), w("func"), blk({w("n")}),
             blk({w("if"), w("zero?"), w("n"), blk({w("return"), i(0)}),
                  w("n"), w("+"), w("sum"), par({w("n"), w("-"), i(1)})})}));
    EXPECT_EQ(int_of(run(blk({w("sum"), i(4)}))), 10);
    // back: func [n] [if zero? n [return 0] back (n - 1) n]: n after the nested call
    run(blk({sw("back"), w("func"), blk({w("n")}),
             blk({w("if"), w("zero?"), w("n"), blk({w("return"), i(0)}),
                  w("back"), par({w("n"), w("-"), i(1)}), w("n")})}));
    EXPECT_EQ(int_of(run(blk({w("back"), i(3)}))), 3);
}

TEST_F(InterpreterTest, ReturnLeavesOnlyItsFunction) {
    // inner returns from itself; outer goes on after the call
    run(blk({sw("inner"), w("func"), blk({}), blk({w("return"), i(5), i(99)})}));
    run(blk({sw("outer"), w("func"), blk({}), blk({w("inner"), w("+"), i(1)})}));
    EXPECT_EQ(int_of(run(blk({w("outer")}))), 6);
    EXPECT_EQ(stack_call_depth(), 0u);
    EXPECT_EQ(run_error(blk({w("return"), i(1)})), int(ErrorCategory::throw_) * 100 + ERR_RETURN);
}

TEST_F(InterpreterTest, WordOfAFinishedCallIsNotInContext) {
    run(blk({sw("h"), w("func"), blk({w("a")}), blk({lw("a")})}));
    CellRoot word(run(blk({w("h"), i(1)})));
    ASSERT_EQ(cell_type(&word.cell), T_WORD);
    CellRoot code;
    kel::testing::block_of_cells(&code.cell, &word.cell, 1);
    StackState saved = stack_save();
    EXPECT_EQ(raised_code([&] { eval_block(&code.cell, true); }), script(ERR_NOT_IN_CONTEXT));
    stack_restore(saved);
}

TEST_F(InterpreterTest, ArgumentCacheIsBuiltOnce) {
    run(blk({sw("id"), w("func"), blk({w("x")}), blk({w("x")})}));
    EXPECT_EQ(int_of(run(blk({w("id"), i(1)}))), 1);
    Cell f = get_global("id");
    const Cell* cache = function_more_cell(&f, MORE_ARGS_CACHE);
    ASSERT_EQ(cell_type(cache), T_BLOCK);
    NodeRoot first(cache->w2, ROOT_BLOCK);
    EXPECT_EQ(int_of(run(blk({w("id"), i(2)}))), 2);
    f = get_global("id");
    EXPECT_EQ(function_more_cell(&f, MORE_ARGS_CACHE)->w2, first.node)
        << "the second call found the cache";
}

TEST_F(InterpreterTest, CallsOfEmptySlotsAndRoutines) {
    CellRoot spec;
    build(blk({w("a")}), spec);
    CellRoot value;
    native_make_at(&value.cell, &spec.cell, 110, T_NATIVE);
    set_global("empty-native", &value.cell);
    native_make_at(&value.cell, &spec.cell, A_UNUSED, T_ACTION);
    set_global("unused-action", &value.cell);
    CellRoot body;
    build(blk({}), body);
    Cell* routine = routine_make(&spec.cell, &body.cell, nullptr, nullptr, false);
    set_global("some-routine", routine);
    stack_pop(1);
    EXPECT_EQ(run_error(blk({w("empty-native"), i(1)})), internal(ERR_NOT_DONE));
    EXPECT_EQ(run_error(blk({w("unused-action"), i(1)})), internal(ERR_NOT_DONE));
    EXPECT_EQ(run_error(blk({w("some-routine"), i(1)})), internal(ERR_ROUTINES));
}

TEST_F(InterpreterTest, DoNextIndexStepsThroughExpressions) {
    CellRoot code;
    build(blk({i(1), w("+"), i(1), w("add"), i(2), i(3)}), code);
    uint32_t index = 0;
    ASSERT_EQ(do_next_index(&code.cell, &index), EXIT_CODE_NONE);
    EXPECT_EQ(index, 3u);
    EXPECT_EQ(cell_int(data_stack.args), 2);
    ASSERT_EQ(do_next_index(&code.cell, &index), EXIT_CODE_NONE);
    EXPECT_EQ(index, 6u);
    EXPECT_EQ(cell_int(data_stack.args), 5);
    ASSERT_EQ(do_next_index(&code.cell, &index), EXIT_CODE_NONE);
    EXPECT_EQ(index, 6u);
    EXPECT_EQ(cell_type(data_stack.args), T_UNSET);
}

} // namespace

namespace {

// A native called from C++ with check set tests its own arguments.
ExitCode native_checked(bool check, const int32_t*) {
    if (check) {
        Cell integers;
        uint8_t t = T_INTEGER;
        typeset_make_at(&integers, &t, 1);
        native_arg_check(&integers, 0, 0);
        not_unset_check(1, data_stack.args + 1);
    }
    stack_set_last_reset(data_stack.args);
    return EXIT_CODE_NONE;
}

TEST_F(InterpreterTest, ChecksOfNativesCalledFromCpp) {
    native_register_at(60, native_checked);
    define_native("checked", blk({w("number"), w("other")}), 60, T_NATIVE);
    CellRoot word(word_intern("checked"));
    auto call = [&](const Cell& a, const Cell& b) {
        StackState saved = stack_save();
        int code = raised_code([&] {
            stack_mark_native(&word.cell);
            stack_push(&a);
            stack_push(&b);
            int32_t none[1] = {-1};
            native_checked(true, none);
            stack_unwind();
        });
        stack_restore(saved);
        return code;
    };
    Cell one = integer_cell(1), unset;
    cell_init(&unset, T_UNSET);
    EXPECT_EQ(call(one, one), 0);
    EXPECT_EQ(call(unset, one), script(ERR_EXPECT_ARG));
    EXPECT_EQ(symbol_text(error_in_flight.args[0].w2), "checked");
    EXPECT_EQ(symbol_text(error_in_flight.args[2].w2), "number");
    EXPECT_EQ(call(one, unset), script(ERR_EXPECT_ARG));
    EXPECT_EQ(symbol_text(error_in_flight.args[2].w2), "other");
}

// A native tagged with a comparison is computed on two integers without
// being called; an entry registered at its slot afterwards runs instead.
TEST_F(InterpreterTest, ComparisonTagOfANativeSlot) {
    native_register_at(28, native_checked);  // answers its first argument
    native_comparison_tag(28, CMP_LESSER);
    define_native("lt", blk({w("a"), w("b")}), 28, T_NATIVE);
    Cell r = run(blk({w("lt"), i(2), i(1)}));
    EXPECT_EQ(cell_type(&r), T_LOGIC);
    EXPECT_EQ(r.w1, 0u);
    r = run(blk({w("lt"), i(1), i(2)}));
    EXPECT_EQ(r.w1, 1u);
    native_register_at(28, native_checked);
    EXPECT_EQ(native_comparison(28), -1);
    EXPECT_EQ(int_of(run(blk({w("lt"), i(2), i(1)}))), 2);
}

TEST_F(InterpreterTest, ContextSlotsOfRunningAndFinishedFunctions) {
    run(blk({sw("h"), w("func"), blk({w("a")}), blk({w("a")})}));
    Cell h = get_global("h");
    Node context = function_context(&h);
    EXPECT_EQ(raised_code([&] { context_slot_at(context, 0); }), script(ERR_NOT_DEFINED));
    Cell x = word_intern("x");
    EXPECT_EQ(context_slot_at(global_context, x.w3), word_get(&x));
}

} // namespace
