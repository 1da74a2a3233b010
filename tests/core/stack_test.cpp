#include "core/context.hpp"
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/exits.hpp"
#include "core/hashtable.hpp"
#include "core/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/native_guard.hpp"

#include "tests/support/stack_cells.hpp"
#include <gtest/gtest.h>

using namespace kel;
using namespace kel::testing;

namespace {

// Label symbols for the tests; real runs take them from the symbol table.
constexpr uint32_t SYM_BODY = 1, SYM_ANON = 2, SYM_NOT_FOUND = 3, SYM_SELF = 4;
constexpr uint32_t SYM_FOO = 10, SYM_BAR = 11;

int error_code_of(void (*f)()) {
    try {
        f();
    } catch (const LanguageError& e) {
        return e.code();
    }
    return -1;
}

class StackTest : public ::testing::Test {
protected:
    void SetUp() override {
        stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF});
        cycles_init();
        exit_clear();
    }
    void TearDown() override { stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF}); }
};

} // namespace

TEST_F(StackTest, MarksWriteTheirKindAndTheCallerArgs) {
    struct Case {
        Cell* (*mark)(const Cell*);
        uint32_t flags;
        uint32_t kind;
    } cases[] = {
        {stack_mark_native, 0x02000000, KIND_NATIVE},
        {stack_mark_native_interp, 0x82000000, KIND_NATIVE},
        {stack_mark_func_interp, 0x81000000, KIND_FUNC},
        {stack_mark_try, 0x04000000, KIND_TRY},
        {stack_mark_try_all, 0x05000000, KIND_TRY_ALL},
        {stack_mark_catch, 0x06000000, KIND_CATCH},
        {stack_mark_block, 0x87000000, KIND_BLOCK},
        {stack_mark_loop, 0x08000000, KIND_LOOP},
    };
    Cell w = word(SYM_FOO, 77);
    for (const Case& c : cases) {
        push_int(1);
        Cell* caller = data_stack.args;
        Cell* args = c.mark(&w);
        CallFrame* f = stack_top_frame();
        EXPECT_EQ(f->flags, c.flags);
        EXPECT_EQ(frame_kind(f), c.kind);
        EXPECT_EQ(f->symbol, SYM_FOO);
        EXPECT_EQ(f->context, 77u);
        EXPECT_EQ(f->caller_args, caller);
        EXPECT_EQ(args, data_stack.top);
        EXPECT_EQ(data_stack.args, args);
    }
    EXPECT_EQ(stack_call_depth(), std::size(cases));

    // A null word stands for <body>; the body flag and the interpreter bit.
    stack_mark_block(nullptr);
    EXPECT_EQ(stack_top_frame()->symbol, SYM_BODY);
    stack_set_body_flag(true);
    stack_mark_top_interp();
    EXPECT_EQ(stack_top_frame()->flags, 0x87000000u | FRAME_BODY);
    stack_set_body_flag(false);
    EXPECT_EQ(stack_top_frame()->flags, 0x87000000u);
    stack_mark_native(&w);
    stack_set_body_flag_below();
    EXPECT_TRUE(call_stack.top[-2].flags & FRAME_BODY);
    EXPECT_FALSE(call_stack.top[-1].flags & FRAME_BODY);
}

// Where each unwind leaves the callee's result: the caller pushed one value
// (at caller ARGS + 0), then marked a frame and the callee pushed two.
TEST_F(StackTest, UnwindShapesPlaceTheResult) {
    enum Where { DROPPED, KEPT, LAST };
    struct Case {
        const char* name;
        void (*unwind)();
        Where where;
        int32_t top_offset;  // top after the unwind, cells from the callee's ARGS
    } cases[] = {
        {"unwind", stack_unwind, DROPPED, 0},
        {"keep", stack_unwind_keep, KEPT, 1},
        {"last", stack_unwind_last, LAST, 1},
        {"none", stack_unwind_none, DROPPED, -1},
        {"func-keep", stack_unwind_func_keep, KEPT, 1},
        {"func", stack_unwind_func, DROPPED, -1},
        {"func-last", stack_unwind_func_last, LAST, 1},
    };
    Cell w = word(SYM_FOO);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stack_mark_native(&w);  // an outer frame, so the stacks do not empty
        Cell* caller = stack_mark_native(&w);
        push_int(5);
        Cell* callee = stack_mark_native(&w);
        push_int(42);
        push_int(43);
        c.unwind();
        EXPECT_EQ(data_stack.args, caller);
        EXPECT_EQ(data_stack.top, callee + c.top_offset);
        if (c.where == KEPT) {
            EXPECT_EQ(cell_int(callee), 42);
        }
        EXPECT_EQ(cell_int(caller), c.where == LAST ? 42 : 5);
        stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF});
    }
}

TEST_F(StackTest, UnwindingTheLastFrameEmptiesBothStacks) {
    Cell w = word(SYM_FOO);
    stack_mark_native(&w);
    push_int(1);
    push_int(2);
    stack_unwind();
    EXPECT_EQ(data_stack.args, data_stack.bottom);
    EXPECT_EQ(data_stack.top, data_stack.bottom);
    EXPECT_EQ(stack_call_depth(), 0u);
    stack_unwind();  // nothing to pop: no change
    EXPECT_EQ(stack_call_depth(), 0u);
}

TEST_F(StackTest, UnwindToStopsAtTheKindOrAtTryAll) {
    Cell w = word(SYM_FOO);
    // loop / native / native: keep leaves ARGS at the loop's own argument base.
    Cell* loop_caller = data_stack.args;
    Cell* loop_args = stack_mark_loop(&w);
    push_int(7);
    stack_mark_native(&w);
    Cell* inner = stack_mark_native(&w);
    ASSERT_TRUE(stack_unwind_to_loop(true));
    EXPECT_EQ(frame_kind(stack_top_frame()), KIND_LOOP);
    EXPECT_EQ(data_stack.args, loop_args);
    EXPECT_EQ(data_stack.top, inner + 1);
    // Without keep the stacks are as for leaving the loop frame, which stays.
    stack_mark_native(&w);
    ASSERT_TRUE(stack_unwind_to_loop(false));
    EXPECT_EQ(frame_kind(stack_top_frame()), KIND_LOOP);
    EXPECT_EQ(data_stack.args, loop_caller);

    // A try/all frame between stops the search there.
    stack_mark_try_all(&w);
    stack_mark_native(&w);
    ASSERT_TRUE(stack_unwind_to_loop(true));
    EXPECT_EQ(frame_kind(stack_top_frame()), KIND_TRY_ALL);

    // No frame of the kind: both stacks empty.
    stack_unwind();
    EXPECT_FALSE(stack_unwind_to(KIND_CATCH, false));
    EXPECT_EQ(stack_call_depth(), 0u);
    EXPECT_EQ(data_stack.top, data_stack.bottom);
}

TEST_F(StackTest, UnwindToLastCarriesTheResultIntoTheFrameReached) {
    Cell w = word(SYM_FOO);
    stack_mark_native(&w);
    Cell* loop_args = stack_mark_loop(&w);
    push_int(1);
    stack_mark_native(&w);
    push_int(99);
    ASSERT_TRUE(stack_unwind_to_last(KIND_LOOP));
    EXPECT_EQ(frame_kind(stack_top_frame()), KIND_LOOP);
    EXPECT_EQ(data_stack.args, loop_args);
    EXPECT_EQ(cell_int(loop_args), 99);
    EXPECT_EQ(data_stack.top, loop_args + 1);
}

TEST_F(StackTest, CallerWordSkipsLabelFrames) {
    Cell not_found;
    stack_caller_word(&not_found);
    EXPECT_EQ(cell_type(&not_found), T_WORD);
    EXPECT_EQ(not_found.w2, SYM_NOT_FOUND);

    Cell foo = word(SYM_FOO, 55), anon = word(SYM_ANON);
    stack_mark_func_interp(&foo);
    stack_mark_block(nullptr);  // <body>
    stack_mark_native_interp(&anon);
    Cell out;
    stack_caller_word(&out);
    EXPECT_EQ(out.w2, SYM_FOO);
    EXPECT_EQ(out.w1, 55u);

    // A recorded throw-start frame is where the walk begins, once.
    Cell bar = word(SYM_BAR);
    stack_mark_native(&bar);
    throw_start_frame = call_stack.top - 1;  // below bar's frame
    stack_caller_word(&out);
    EXPECT_EQ(out.w2, SYM_FOO);
    EXPECT_EQ(throw_start_frame, nullptr);
    stack_caller_word(&out);
    EXPECT_EQ(out.w2, SYM_BAR);
}

TEST_F(StackTest, FlaggedFrameLooksBelow) {
    Cell w = word(SYM_FOO);
    stack_mark_native(&w);
    stack_mark_top_interp();
    stack_mark_native(&w);
    stack_mark_native(&w);
    EXPECT_TRUE(stack_flagged_frame(nullptr, false));
    EXPECT_FALSE(stack_flagged_frame(nullptr, true));
    EXPECT_TRUE(stack_flagged_frame(call_stack.top - 2, true));
    EXPECT_FALSE(stack_flagged_frame(call_stack.bottom, false));
}

TEST_F(StackTest, PushOneCellShortOfTheEndOverflows) {
    data_stack.top = data_stack.end - 1;
    EXPECT_EQ(error_code_of([] { push_int(1); }), 904);  // internal stack-overflow
    EXPECT_EQ(data_stack.top, data_stack.end - 6);
    // The stack stays usable: the error machinery has room to push.
    push_int(2);
    EXPECT_EQ(cell_int(stack_top()), 2);
    EXPECT_EQ(data_stack.top, data_stack.end - 5);

    // stack_pop never goes below bottom.
    stack_pop(DATA_STACK_CELLS * 2);
    EXPECT_EQ(data_stack.top, data_stack.bottom);
}

TEST_F(StackTest, FullCallStackOverflowsAndKeepsItsFrames) {
    Cell w = word(SYM_FOO);
    for (uint32_t i = 0; i < CALL_STACK_FRAMES; i++) stack_mark_native(&w);
    EXPECT_EQ(error_code_of([] {
                  Cell v = word(SYM_BAR);
                  stack_mark_native(&v);
              }),
              904);
    EXPECT_EQ(stack_call_depth(), CALL_STACK_FRAMES);
    EXPECT_EQ(stack_top_frame()->symbol, SYM_FOO);
}

TEST_F(StackTest, ValueShapesPushAndBox) {
    Cell w = word(SYM_FOO);
    Cell* args = stack_mark_native(&w);
    push_int(1);
    push_int(2);
    Cell* pushed = stack_push_new(T_NONE);
    EXPECT_EQ(pushed, args + 2);
    EXPECT_EQ(stack_top_type(), T_NONE);
    Cell* boxed = stack_box_new(T_LOGIC);
    EXPECT_EQ(boxed, args);
    EXPECT_EQ(data_stack.top, args + 1);
    EXPECT_EQ(stack_top_type(), T_LOGIC);

    // keep-error takes an error! pushed last into ARGS[0].
    Cell e;
    cell_init(&e, T_ERROR);
    e.w1 = 9;
    push_int(3);
    stack_push(&e);
    stack_keep_error();
    EXPECT_EQ(cell_type(args), T_ERROR);
    EXPECT_EQ(args->w1, 9u);
    EXPECT_EQ(data_stack.top, args + 1);
}

// A catcher brings the stacks back to its entry depths, whatever frames and
// walker entries an error left above them.
TEST_F(StackTest, RestoreAfterAnErrorFromDeepInside) {
    Cell w = word(SYM_FOO);
    stack_mark_native(&w);
    push_int(1);
    StackState entry = stack_save();
    try {
        stack_mark_try(&w);
        stack_mark_native(&w);
        push_int(2);
        cycles_push(123);
        error_raise(ERR_INVALID_ARG, stack_top());
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.code(), 309);
        EXPECT_TRUE(error_in_flight.caught);
        EXPECT_EQ(error_in_flight.frame, 3u);
        EXPECT_EQ(error_in_flight.arg_count, 1);
        EXPECT_EQ(cell_int(&error_in_flight.args[0]), 2);
        stack_restore(entry);
    }
    EXPECT_EQ(data_stack.args, entry.args);
    EXPECT_EQ(data_stack.top, entry.top);
    EXPECT_EQ(stack_call_depth(), 1u);
    EXPECT_EQ(cycles_depth(), 0u);
}

// The native stack guard turns runaway C++ recursion into stack-overflow.
static int recurse_forever(int n) {
    native_stack_check();
    if (n == INT32_MAX) return 0;
    volatile char pad[256];
    pad[0] = char(n);
    return recurse_forever(n + 1) + pad[0];
}

TEST_F(StackTest, NativeRecursionRaisesStackOverflow) {
    native_stack_guard_init(nullptr);
    EXPECT_EQ(error_code_of([] { recurse_forever(0); }), 904);
    // The guard still works afterwards.
    EXPECT_EQ(error_code_of([] { recurse_forever(0); }), 904);
}

// Values on the data stack are roots: a collection keeps their series and
// re-points their nodes when the series move.
TEST_F(StackTest, CollectorMarksTheDataStack) {
    memory_setup();
    stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF});  // roots go with released memory
    collector.enabled = true;
    {
        Node node = series_new_cells(4);
        SeriesBuffer* b = series_buffer(node);
        Cell* first = reinterpret_cast<Cell*>(b->head_ptr());
        for (int i = 0; i < 4; i++) first[i] = integer(100 + i);
        b->tail = b->head + 4 * sizeof(Cell);
        Cell block;
        cell_init(&block, T_BLOCK);
        block.w2 = node;
        stack_push(&block);
        for (int i = 0; i < 50; i++) series_new_bytes(64);  // garbage, collected
        collector_cycle();
        Cell* kept = stack_top();
        SeriesBuffer* after = series_buffer(kept->w2);
        ASSERT_EQ(after->length(), 4u);
        EXPECT_EQ(cell_int(reinterpret_cast<Cell*>(after->head_ptr()) + 3), 103);
    }
    stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF});
    collector.enabled = false;
    memory_release_all();
}

// A compiled call points its function context's values at its arguments only
// while its kind-1 frame is on the call stack: a recursive call sees its own
// arguments, and leaving (normally or from deep inside) puts the outer ones back.
TEST_F(StackTest, FunctionContextValuesFollowTheCalls) {
    memory_setup();
    hashtable_module_init();
    {
        NodeRoot context(context_create(2, true, false, 0, CONTEXT_FUNCTION));
        Cell f = word(SYM_FOO);
        EXPECT_EQ(context_values(context.node), 0u);

        auto call = [&](int32_t arg) {
            Cell* args = stack_mark_func(&f, context.node);
            push_int(arg);
            stack_mark_func_body(&f, context.node);
            EXPECT_EQ(context_values(context.node), stack_index(args) + 1);
            return args;
        };
        Cell* outer = call(1);
        call(2);  // recursion
        stack_unwind_last();       // the inner body frame
        stack_unwind_func_last();  // the inner kind-1 frame
        EXPECT_EQ(context_values(context.node), stack_index(outer) + 1);

        // An error from two calls deep: the catcher's restore pops both frames.
        StackState entry = stack_save();
        try {
            call(3);
            call(4);
            error_raise(ERR_NOT_DONE);
        } catch (const LanguageError&) {
            stack_restore(entry);
        }
        EXPECT_EQ(context_values(context.node), stack_index(outer) + 1);

        stack_unwind_last();
        stack_unwind_func_last();
        EXPECT_EQ(context_values(context.node), 0u);
    }
    stack_init({SYM_BODY, SYM_ANON, SYM_NOT_FOUND, SYM_SELF});
    memory_release_all();
}
