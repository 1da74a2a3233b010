#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/exits.hpp"
#include "core/stack.hpp"
#include "runtime/start.hpp"

#include "tests/support/stack_cells.hpp"
#include <gtest/gtest.h>

using namespace kel;
using namespace kel::testing;

namespace {

constexpr uint32_t SYM_BODY = 1, SYM_ANON = 2, SYM_NOT_FOUND = 3, SYM_SELF = 4;
constexpr uint32_t SYM_FOO = 10, SYM_BREAK = 11, SYM_RETURN = 12, SYM_THROW = 13, SYM_NAME = 14;

// The frames an interpreter leaves for a call of the exiting native inside a
// block: a block frame, then the native's frame with its arguments pushed.
void enter_native(uint32_t symbol, int32_t arg) {
    stack_mark_block(nullptr);
    Cell w = word(symbol);
    stack_mark_native_interp(&w);
    push_int(arg);
}

struct Snapshot {
    Cell* args;
    Cell* top;
    uint32_t depth;
};
Snapshot snapshot() { return {data_stack.args, data_stack.top, stack_call_depth()}; }
void expect_same(const Snapshot& s) {
    EXPECT_EQ(data_stack.args, s.args);
    EXPECT_EQ(data_stack.top, s.top);
    EXPECT_EQ(stack_call_depth(), s.depth);
}

// The error an exit raises: its code (-1 when none) and the record in
// flight as the catch block sees it.
struct Raised {
    int code = -1;
    ErrorRecord record{};
};
Raised raised(ExitCode (*exit)()) {
    Raised r;
    try {
        exit();
    } catch (const LanguageError& e) {
        r.code = e.code();
        r.record = error_in_flight;
    }
    return r;
}

class ExitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF});
        cycles_init();
        exit_clear();
    }
    void TearDown() override {
        stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF});
        exit_clear();
    }
};

} // namespace

TEST(ExitCodes, CatchLevelsSeeEverySmallerCode) {
    EXPECT_EQ(uint32_t(EXIT_CODE_ERROR), 0x7FFFFFFFu);
    EXPECT_EQ(uint32_t(EXIT_CODE_THROW), 0x7FFFFFFAu);
    struct Case {
        ExitCode code, level;
        bool seen;
    } cases[] = {
        {EXIT_CODE_ERROR, CATCH_ALL, true},      {EXIT_CODE_THROW, CATCH_ALL, true},
        {EXIT_CODE_ERROR, CATCH_LOOP, false},    {EXIT_CODE_BREAK, CATCH_LOOP, true},
        {EXIT_CODE_CONTINUE, CATCH_LOOP, true},  {EXIT_CODE_RETURN, CATCH_LOOP, true},
        {EXIT_CODE_BREAK, CATCH_THROW, false},   {EXIT_CODE_THROW, CATCH_THROW, true},
        {EXIT_CODE_NONE, CATCH_ALL, false},
    };
    for (const Case& c : cases) EXPECT_EQ(exit_caught(c.code, c.level), c.seen) << std::hex << c.code;
}

TEST_F(ExitsTest, BreakAndContinueMakeTheLoopCurrent) {
    struct Case {
        bool with_value, is_continue;
        ExitCode code;
        bool value_kept;
    } cases[] = {
        {false, false, EXIT_CODE_BREAK, false},
        {true, false, EXIT_CODE_BREAK, true},
        {false, true, EXIT_CODE_CONTINUE, false},
    };
    Cell w = word(SYM_FOO);
    for (const Case& c : cases) {
        stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF});
        stack_mark_native(&w);
        push_int(1);
        Cell* loop_args = stack_mark_loop(&w);
        push_int(2);
        stack_mark_native(&w);  // a native between, as for a function called in the body
        enter_native(SYM_BREAK, 77);
        EXPECT_EQ(stack_throw_break(c.with_value, c.is_continue), c.code);
        EXPECT_EQ(exit_pending(), c.code);
        EXPECT_EQ(frame_kind(stack_top_frame()), KIND_LOOP);
        EXPECT_EQ(data_stack.args, loop_args);
        EXPECT_EQ(data_stack.top, loop_args + 1);
        if (c.value_kept) {
            EXPECT_EQ(cell_int(loop_args), 77);
        } else {
            EXPECT_EQ(cell_type(loop_args), T_UNSET);
        }
    }
}

// No loop, or a try/all frame before it: throw error break or continue at
// the exit, with the stacks as they were.
TEST_F(ExitsTest, BreakWithoutReachableLoopRaises) {
    Cell w = word(SYM_FOO);
    for (bool behind_try_all : {false, true}) {
        for (bool is_continue : {false, true}) {
            stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF});
            if (behind_try_all) {
                stack_mark_loop(&w);
                stack_mark_try_all(&w);
            }
            enter_native(SYM_BREAK, 1);
            Snapshot before = snapshot();
            Raised r = is_continue ? raised([] { return stack_throw_break(false, true); })
                                   : raised([] { return stack_throw_break(false, false); });
            EXPECT_EQ(r.code, is_continue ? 3 : 0);
            expect_same(before);
            EXPECT_EQ(r.record.where.w2, SYM_BREAK);
        }
    }
}

TEST_F(ExitsTest, ReturnAndExitLeaveTheFunctionNotTheLoop) {
    Cell foo = word(SYM_FOO);
    for (bool is_return : {true, false}) {
        stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF});
        stack_mark_loop(&foo);
        push_int(3);
        Cell* function_args = stack_mark_func_interp(&foo);
        push_int(4);
        stack_set_body_flag(true);
        enter_native(SYM_RETURN, 5);
        ExitCode code = stack_throw_return(is_return);
        EXPECT_EQ(code, is_return ? EXIT_CODE_RETURN : EXIT_CODE_EXIT);
        EXPECT_EQ(frame_kind(stack_top_frame()), KIND_FUNC);
        EXPECT_EQ(data_stack.args, function_args);
        EXPECT_EQ(data_stack.top, function_args + 1);
        if (is_return) {
            EXPECT_EQ(cell_int(function_args), 5);
        } else {
            EXPECT_EQ(cell_type(function_args), T_UNSET);
        }
    }
}

TEST_F(ExitsTest, ReturnOutsideAFunctionRaises) {
    // The frame of return itself does not count, even when it carries the flag.
    enter_native(SYM_RETURN, 1);
    stack_set_body_flag(true);
    Snapshot before = snapshot();
    EXPECT_EQ(raised([] { return stack_throw_return(true); }).code, 1);
    expect_same(before);

    // A try/all between the function and the return.
    Cell foo = word(SYM_FOO);
    stack_mark_func_interp(&foo);
    stack_set_body_flag(true);
    stack_mark_try_all(&foo);
    enter_native(SYM_RETURN, 1);
    before = snapshot();
    EXPECT_EQ(raised([] { return stack_throw_return(false); }).code, 1);
    expect_same(before);
}

TEST_F(ExitsTest, ThrowPushesValueAndNameAtTheCatch) {
    Cell foo = word(SYM_FOO);
    stack_mark_native(&foo);
    Cell* catch_args = stack_mark_catch(&foo);
    push_int(9);
    stack_mark_func_interp(&foo);
    enter_native(SYM_THROW, 42);
    Cell name = word(SYM_NAME);
    stack_push(&name);
    EXPECT_EQ(stack_throw_throw(EXIT_CODE_THROW), EXIT_CODE_THROW);
    EXPECT_EQ(frame_kind(stack_top_frame()), KIND_CATCH);
    EXPECT_EQ(data_stack.args, catch_args);
    EXPECT_EQ(data_stack.top, catch_args + 2);
    EXPECT_EQ(cell_int(catch_args), 42);
    EXPECT_EQ(catch_args[1].w2, SYM_NAME);
    // The catcher ends the chain.
    exit_clear();
    EXPECT_EQ(exit_pending(), EXIT_CODE_NONE);
    EXPECT_EQ(throw_start_frame, nullptr);
}

// throw with no catch: throw error throw with the value, named after the
// function that threw (the walk starts below the throw's own frame).
TEST_F(ExitsTest, ThrowWithoutCatchRaisesWithTheValue) {
    Cell foo = word(SYM_FOO);
    for (bool behind_try_all : {false, true}) {
        stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF});
        if (behind_try_all) {
            stack_mark_catch(&foo);
            stack_mark_try_all(&foo);
        }
        stack_mark_func_interp(&foo);
        enter_native(SYM_THROW, 1);
        Cell none;
        cell_init(&none, T_NONE);
        stack_push(&none);
        Snapshot before = snapshot();
        Raised r = raised([] { return stack_throw_throw(EXIT_CODE_THROW); });
        EXPECT_EQ(r.code, 2);
        expect_same(before);
        EXPECT_EQ(r.record.arg_count, 1);
        EXPECT_EQ(cell_int(&r.record.args[0]), 1);
        EXPECT_EQ(r.record.where.w2, SYM_FOO);
        EXPECT_EQ(throw_start_frame, nullptr);
    }
}

TEST_F(ExitsTest, ErrorsRecordWhereAndWhetherATryCatches) {
    // Empty call stack: no where, nothing catches.
    Raised r = raised([]() -> ExitCode { error_raise(ERR_ZERO_DIVIDE); });
    EXPECT_EQ(r.code, 400);
    EXPECT_EQ(cell_type(&r.record.where), T_NONE);
    EXPECT_FALSE(r.record.caught);
    EXPECT_EQ(exit_pending(), EXIT_CODE_ERROR);

    Cell foo = word(SYM_FOO);
    for (uint32_t try_kind : {0u, FRAME_TRY, FRAME_TRY_ALL}) {
        stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF});
        if (try_kind) stack_mark(&foo, try_kind);
        stack_mark_func_interp(&foo);
        stack_mark_block(nullptr);
        try {
            Cell a = integer(1), b = integer(2), c = integer(3);
            error_raise(ERR_EXPECT_ARG, &a, &b, &c);
        } catch (const LanguageError& e) {
            EXPECT_EQ(e.code(), 305);
            EXPECT_EQ(error_in_flight.caught, try_kind != 0);
            EXPECT_EQ(error_in_flight.where.w2, SYM_FOO);
            EXPECT_EQ(error_in_flight.frame, try_kind ? 3u : 2u);
            EXPECT_EQ(error_in_flight.arg_count, 3);
            EXPECT_EQ(cell_int(&error_in_flight.args[2]), 3);
        }
        // Once the catch block has ended the record is no longer a root.
        EXPECT_EQ(error_in_flight.holders, 0u);
    }
}

// Where foreign C++ code sits between raiser and catcher, the pending exit
// crosses it as an ExitSignal and arrives with the stacks positioned.
static void foreign_caller(void (*callback)()) { callback(); }

TEST_F(ExitsTest, ExitSignalCarriesAnExitAcrossForeignCode) {
    Cell foo = word(SYM_FOO);
    Cell* loop_args = stack_mark_loop(&foo);
    ExitCode seen = EXIT_CODE_NONE;
    try {
        foreign_caller([] {
            enter_native(SYM_BREAK, 6);
            if (ExitCode code = stack_throw_break(true, false)) exit_throw(code);
        });
    } catch (const ExitSignal& signal) {
        seen = signal.code;
    }
    EXPECT_EQ(seen, EXIT_CODE_BREAK);
    EXPECT_EQ(data_stack.args, loop_args);
    EXPECT_EQ(cell_int(loop_args), 6);
}
