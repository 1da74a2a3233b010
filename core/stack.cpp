// The data stack and the call stack: marks, unwinds, pushes and frame walks.
#include "core/stack.hpp"
#include "core/cycle.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/symbol.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"

namespace kel {

// Fixed arrays: never moved, never grown, so ARGS and the frames' caller ARGS
// are plain addresses.
static Cell data_cells[DATA_STACK_CELLS];
static CallFrame call_frames[CALL_STACK_FRAMES];

DataStack data_stack = {data_cells, data_cells, data_cells + DATA_STACK_CELLS, data_cells};
CallStack call_stack = {call_frames, call_frames, call_frames + CALL_STACK_FRAMES};
StackLabels stack_labels = {};
CallFrame* throw_start_frame = nullptr;

// ---- function contexts ------------------------------------------------------------

// A call records its function context's values (0 when the function is not
// running, else where its slots are) and puts them back when its frame is
// popped (stack_frame_restore), so a recursive call sees its own arguments
// and the outer call sees its own again.
static inline void frame_restore(const CallFrame* frame) { stack_frame_restore(frame); }

// ---- set-up ------------------------------------------------------------------------

StackLabels stack_labels_intern() {
    return {symbol_make("<body>"), symbol_make("<anon>"), symbol_make("<not-found>"),
            symbol_make("self")};
}

void stack_init(const StackLabels& labels) {
    data_stack = {data_cells, data_cells, data_cells + DATA_STACK_CELLS, data_cells};
    call_stack = {call_frames, call_frames, call_frames + CALL_STACK_FRAMES};
    cell_init(data_cells, T_UNSET);
    stack_labels = labels;
    throw_start_frame = nullptr;
    // Re-registering keeps one entry each when start-up runs again (tests).
    collector_remove_root(stack_mark_live);
    collector_add_root(stack_mark_live);
    collector_remove_root(error_mark_live);
    collector_add_root(error_mark_live);
}

void stack_set_call_top(CallFrame* frame) { call_stack.top = frame; }

void stack_overflow() {
    data_stack.top = data_stack.top - data_stack.bottom > 5 ? data_stack.top - 5 : data_stack.bottom;
    error_raise(ERR_STACK_OVERFLOW);
}

// ---- marking ------------------------------------------------------------------------

Cell* stack_mark_func(const Cell* word, Node function_context) {
    CallFrame* frame = stack_frame_push(word, FRAME_FUNC);
    frame->function_context = function_context;
    frame->saved_values = function_context ? context_values(function_context) : 0;
    return data_stack.args;
}

Cell* stack_mark_func_body(const Cell* word, Node function_context) {
    context_values_set_args(function_context, data_stack.args);
    stack_frame_push(word, FRAME_FUNC_BODY);
    return data_stack.args;
}

void stack_set_body_flag_below() {
    if (call_stack.top - call_stack.bottom < 2) return;
    call_stack.top[-2].flags |= FRAME_BODY;
}

void stack_mark_top_interp() {
    if (CallFrame* frame = stack_top_frame()) frame->flags |= FRAME_INTERP;
}

// ---- unwinding ----------------------------------------------------------------------

// Pops the top frame and answers it; null when the call stack is empty.
static inline CallFrame* frame_pop() {
    if (call_stack.top == call_stack.bottom) return nullptr;
    return --call_stack.top;
}

void stack_frame_pop() {
    if (CallFrame* frame = frame_pop()) frame_restore(frame);
}

void stack_unwind() {
    CallFrame* frame = frame_pop();
    if (!frame) return;
    frame_restore(frame);
    if (call_stack.top == call_stack.bottom) {
        data_stack.args = data_stack.top = data_stack.bottom;
    } else {
        data_stack.top = data_stack.args;
        data_stack.args = frame->caller_args;
    }
}

static inline void unwind_keep(bool restore) {
    CallFrame* frame = frame_pop();
    if (!frame) return;
    if (restore) frame_restore(frame);
    data_stack.top = data_stack.args + 1;
    data_stack.args = frame->caller_args;
}

static inline void unwind_last(bool restore) {
    Cell* result = data_stack.args;
    unwind_keep(restore);
    cell_copy(result, data_stack.args);
}

static inline void unwind_none(bool restore) {
    CallFrame* frame = frame_pop();
    if (!frame) return;
    if (restore) frame_restore(frame);
    data_stack.args = frame->caller_args;
    data_stack.top = data_stack.args;
}

void stack_unwind_none() { unwind_none(false); }
void stack_unwind_func() { unwind_none(true); }
void stack_unwind_func_last() { unwind_last(true); }

bool stack_unwind_to(uint32_t kind, bool keep) {
    Cell* entry_args = data_stack.args;
    CallFrame* found = nullptr;
    CallFrame* above = nullptr;  // the frame popped just before the one found
    while (CallFrame* frame = frame_pop()) {
        frame_restore(frame);
        uint32_t k = frame_kind(frame);
        if (k == kind || k == KIND_TRY_ALL) {
            found = frame;
            break;
        }
        above = frame;
    }
    if (!found) {
        data_stack.args = data_stack.top = data_stack.bottom;
        return false;
    }
    // The frame found goes back on the call stack.
    call_stack.top = found + 1;
    data_stack.top = entry_args + 1;
    if (keep) {
        // Its own argument base: the caller ARGS of the frame above it, or the
        // running ARGS when it was the top frame itself.
        data_stack.args = above ? above->caller_args : entry_args;
    } else {
        data_stack.args = found->caller_args;
    }
    return true;
}

bool stack_unwind_to_last(uint32_t kind) {
    Cell result = *data_stack.args;
    if (!stack_unwind_to(kind, true)) return false;
    cell_copy(&result, data_stack.args);
    data_stack.top = data_stack.args + 1;
    return true;
}

// ---- the data stack ------------------------------------------------------------------

void stack_keep_error() {
    if (stack_top_type() == T_ERROR) cell_copy(stack_top(), data_stack.args);
    data_stack.top = data_stack.args + 1;
}

// ---- frames ----------------------------------------------------------------------------

bool stack_flagged_frame(const CallFrame* from, bool only_one) {
    const CallFrame* frame = from ? from : call_stack.top;
    while (frame > call_stack.bottom) {
        --frame;
        if (frame->flags & FRAME_INTERP) return true;
        if (only_one) return false;
    }
    return false;
}

bool stack_frame_named(const CallFrame* frame) {
    return frame->symbol != stack_labels.body && frame->symbol != stack_labels.anon;
}

CallFrame* stack_find_frame(uint32_t kind, bool try_all) {
    for (CallFrame* frame = call_stack.top; frame > call_stack.bottom;) {
        --frame;
        uint32_t k = frame_kind(frame);
        if (k == kind || (try_all && k == KIND_TRY_ALL)) return frame;
    }
    return nullptr;
}

void stack_frame_word(const CallFrame* frame, Cell* out) {
    word_make_at(out, T_WORD, frame->symbol, frame->context);  // slot index not resolved
}

void stack_caller_word(Cell* out) {
    CallFrame* start = throw_start_frame ? throw_start_frame : call_stack.top;
    throw_start_frame = nullptr;
    if (start > call_stack.top) start = call_stack.top;
    for (CallFrame* frame = start; frame > call_stack.bottom;) {
        --frame;
        if (stack_frame_named(frame)) {
            stack_frame_word(frame, out);
            return;
        }
    }
    word_make_at(out, T_WORD, stack_labels.not_found);
}

// ---- catchers ----------------------------------------------------------------------------

StackState stack_save() {
    return {data_stack.args, data_stack.top, call_stack.top, cycles_depth()};
}

void stack_restore(const StackState& state) {
    while (call_stack.top > state.call_top) stack_frame_pop();
    data_stack.args = state.args;
    data_stack.top = state.top;
    cycles_truncate(state.cycles);
}

// ---- collector -------------------------------------------------------------------------

void stack_mark_live() {
    collector_mark_values(data_stack.bottom, data_stack.top);
    for (CallFrame* frame = call_stack.bottom; frame < call_stack.top; ++frame) {
        if (frame->context) {
            if (frame->symbol == stack_labels.self) collector_mark_block(&frame->context);
            else collector_mark_context(&frame->context);
        }
        if (frame->function_context) {
            collector_mark_context(&frame->function_context);
            // Saved values that are a value block, not a data-stack position.
            bool on_stack = context_cell(frame->function_context)->header & CONTEXT_ON_STACK;
            if (!on_stack && frame->saved_values) collector_mark_block(&frame->saved_values);
        }
    }
}

} // namespace kel
