// The data stack and the call stack. Every evaluation passes its values on
// one data stack of cells and records each call as a frame on the call stack.
// A caller marks a frame, pushes the arguments and calls; the callee reads its
// arguments from ARGS[0..] and leaves its result in ARGS[0]; the caller then
// unwinds the frame in the way that says where the result goes.
//
// Both stacks are fixed arrays that never move, so a Cell* into the data stack
// stays valid across collections. Between two top-level evaluations both are
// empty: ARGS = top = bottom and the call-stack top is its bottom.
#pragma once
#include "core/block.hpp"
#include "core/word_cell.hpp"
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

constexpr uint32_t DATA_STACK_CELLS = 20000;
constexpr uint32_t CALL_STACK_FRAMES = 12000;

// ---- call frames -----------------------------------------------------------------

// Flags of a frame: the kind in bits 24-27, the body flag (target of return
// and exit) in bit 28, interpreter-marked in bit 31.
constexpr uint32_t FRAME_KIND_MASK = 0x0F000000;
constexpr uint32_t FRAME_BODY = 0x10000000;
constexpr uint32_t FRAME_INTERP = 0x80000000;

// Kinds, as the mark operations write them (flags byte).
constexpr uint32_t FRAME_FUNC = 0x01000000;         // function! called from compiled code
constexpr uint32_t FRAME_FUNC_INTERP = 0x81000000;  // function! called by the interpreter
constexpr uint32_t FRAME_NATIVE = 0x02000000;       // native or action from compiled code
constexpr uint32_t FRAME_NATIVE_INTERP = 0x82000000;// native, action, routine, set-word, paren
constexpr uint32_t FRAME_FUNC_BODY = 0x12000000;    // body of a compiled function
constexpr uint32_t FRAME_TRY = 0x04000000;          // try
constexpr uint32_t FRAME_TRY_ALL = 0x05000000;      // try/all: stops every non-local exit
constexpr uint32_t FRAME_CATCH = 0x06000000;        // catch
constexpr uint32_t FRAME_BLOCK = 0x87000000;        // one evaluation of a block (word <body>)
constexpr uint32_t FRAME_LOOP = 0x08000000;         // a loop: target of break and continue

enum FrameKind : uint32_t {
    KIND_FUNC = 1, KIND_NATIVE = 2, KIND_TRY = 4, KIND_TRY_ALL = 5, KIND_CATCH = 6,
    KIND_BLOCK = 7, KIND_LOOP = 8,
};

// One call. The symbol has a field of its own (any symbol id fits); the
// function context and the saved values are set only for compiled kind-1 calls.
struct CallFrame {
    uint32_t flags;
    uint32_t symbol;          // symbol id of the called word
    Node context;             // context of the called word (word payload 1), 0 when none
    Node function_context;    // kind 1 from compiled code: the function's context, else 0
    uint32_t saved_values;    // kind 1: the function context's values at the mark, else 0
    Cell* caller_args;        // ARGS when the frame was marked
};

inline uint32_t frame_kind(const CallFrame* frame) { return (frame->flags & FRAME_KIND_MASK) >> 24; }

// ---- the two stacks ----------------------------------------------------------------

// bottom: first cell; top: next free cell; end: one past the last cell;
// args: ARGS, the first argument cell of the running frame (ARGS[0] is its
// result slot). Usable cells: bottom .. end - 2; a push that would make top
// reach end fails.
struct DataStack {
    Cell* bottom;
    Cell* top;
    Cell* end;
    Cell* args;
};
extern DataStack data_stack;

// bottom: first frame; top: next free frame; end: one past the last frame.
struct CallStack {
    CallFrame* bottom;
    CallFrame* top;
    CallFrame* end;
};
extern CallStack call_stack;

// Symbol ids of the labels that stand in frames belonging to no user word,
// and of the word answered when no frame has one.
struct StackLabels {
    uint32_t body;       // <body>
    uint32_t anon;       // <anon>
    uint32_t not_found;  // <not-found>
    uint32_t self;       // self: a frame context marked as a block
};
extern StackLabels stack_labels;

// ---- set-up ------------------------------------------------------------------------

// Interns the label names (the symbol table must exist).
StackLabels stack_labels_intern();

// Both stacks empty, ARGS[0] unset; caches the label symbols; registers the
// stacks and the error in flight as collector roots.
void stack_init(const StackLabels& labels);
void stack_set_call_top(CallFrame* frame);

// Call-stack depth in frames.
inline uint32_t stack_call_depth() { return uint32_t(call_stack.top - call_stack.bottom); }
// Data-stack index of a cell (cells from bottom).
inline uint32_t stack_index(const Cell* cell) { return uint32_t(cell - data_stack.bottom); }

// ---- overflow ------------------------------------------------------------------------

// Backs the data top off by 5 cells (not below bottom) and raises internal
// error stack-overflow. The call frames stay; their catcher unwinds them.
[[noreturn]] void stack_overflow();

// ---- marking (each returns the new ARGS) --------------------------------------------
// word is a word-family cell whose symbol and context the frame records; null
// marks the frame with the label <body> and no context.

// Pushes a frame of the kind; ARGS moves to the data top.
inline CallFrame* stack_frame_push(const Cell* word, uint32_t flags) {
    CallFrame* frame = call_stack.top;
    if (frame >= call_stack.end) stack_overflow();
    call_stack.top = frame + 1;
    frame->flags = flags;
    if (word) {
        frame->symbol = word_symbol(word);
        frame->context = word_context(word);
    } else {
        frame->symbol = stack_labels.body;
        frame->context = 0;
    }
    frame->function_context = 0;
    frame->saved_values = 0;
    frame->caller_args = data_stack.args;
    data_stack.args = data_stack.top;
    return frame;
}
inline Cell* stack_mark(const Cell* word, uint32_t kind_flags) {
    stack_frame_push(word, kind_flags);
    return data_stack.args;
}
inline Cell* stack_mark_native(const Cell* word) { return stack_mark(word, FRAME_NATIVE); }
inline Cell* stack_mark_native_interp(const Cell* word) { return stack_mark(word, FRAME_NATIVE_INTERP); }
inline Cell* stack_mark_func_interp(const Cell* word) { return stack_mark(word, FRAME_FUNC_INTERP); }
inline Cell* stack_mark_try(const Cell* word) { return stack_mark(word, FRAME_TRY); }
inline Cell* stack_mark_try_all(const Cell* word) { return stack_mark(word, FRAME_TRY_ALL); }
inline Cell* stack_mark_catch(const Cell* word) { return stack_mark(word, FRAME_CATCH); }
inline Cell* stack_mark_block(const Cell* word) { return stack_mark(word, FRAME_BLOCK); }
inline Cell* stack_mark_loop(const Cell* word) { return stack_mark(word, FRAME_LOOP); }
// A kind-1 frame recording the function context and its current values.
Cell* stack_mark_func(const Cell* word, Node function_context);
// Points the function context's values at ARGS (the pushed arguments), then
// marks a body frame (target of return and exit).
Cell* stack_mark_func_body(const Cell* word, Node function_context);

// Sets or clears the body flag of the top frame (none: nothing).
inline void stack_set_body_flag(bool on) {
    if (call_stack.top == call_stack.bottom) return;
    CallFrame* frame = call_stack.top - 1;
    if (on) frame->flags |= FRAME_BODY;
    else frame->flags &= ~FRAME_BODY;
}
// Flags the frame below the top one as a body, unless it is already (do).
void stack_set_body_flag_below();
// Sets the interpreter bit on the top frame (apply).
void stack_mark_top_interp();

// ---- unwinding (each pops the top frame) ---------------------------------------------
// "Restore": a popped kind-1 frame with a function context puts that
// context's values back to what they were at the mark.

// Drops the result: top := ARGS, ARGS := caller ARGS (all at bottom once the
// call stack is empty). Restores.
void stack_unwind();
// The callee's result cell stays as the caller's last pushed value.
inline void stack_unwind_keep() {
    if (call_stack.top == call_stack.bottom) return;
    CallFrame* frame = --call_stack.top;
    data_stack.top = data_stack.args + 1;
    data_stack.args = frame->caller_args;
}
// stack_unwind_keep, then the result is copied into the caller's ARGS[0].
inline void stack_unwind_last() {
    Cell* result = data_stack.args;
    stack_unwind_keep();
    cell_copy(result, data_stack.args);
}
// ARGS := caller ARGS; top := ARGS.
void stack_unwind_none();
// Restore: a popped kind-1 frame that recorded a function context puts its
// values field (word 2 of the context! cell its buffer starts with) back.
inline void stack_frame_restore(const CallFrame* frame) {
    if ((frame->flags & FRAME_KIND_MASK) == FRAME_FUNC && frame->function_context != 0)
        block_cells(frame->function_context)->w2 =
            frame->saved_values;
}
// The same three for leaving a kind-1 frame, with restore.
inline void stack_unwind_func_keep() {
    if (call_stack.top == call_stack.bottom) return;
    CallFrame* frame = --call_stack.top;
    stack_frame_restore(frame);
    data_stack.top = data_stack.args + 1;
    data_stack.args = frame->caller_args;
}
void stack_unwind_func();
void stack_unwind_func_last();
// Pops frames, restoring each, down to the nearest frame of the kind (or of
// kind 5, which stops every search), which stays on the call stack. With keep
// ARGS becomes that frame's own argument base, without it the frame's caller
// ARGS; top := ARGS on entry + 1. Returns whether such a frame was found;
// when not, both stacks are empty.
bool stack_unwind_to(uint32_t kind, bool keep);
// Unwinds to the kind and makes the frame reached current again, with the
// running frame's ARGS[0] as its ARGS[0]; top := ARGS + 1.
bool stack_unwind_to_last(uint32_t kind);
inline bool stack_unwind_to_loop(bool keep) { return stack_unwind_to(KIND_LOOP, keep); }

// Pops the top frame with restore and nothing else (the exits' search step).
void stack_frame_pop();

// ---- the data stack ------------------------------------------------------------------

// The next free cell; fails with stack-overflow when top would reach end.
inline Cell* stack_push_slot() {
    Cell* slot = data_stack.top;
    if (slot + 1 >= data_stack.end) stack_overflow();
    data_stack.top = slot + 1;
    return slot;
}
inline Cell* stack_push(const Cell* value) {
    Cell* slot = stack_push_slot();
    cell_copy(value, slot);
    return slot;
}
// top := top - n cells, never below bottom.
inline void stack_pop(uint32_t n) {
    data_stack.top = uint32_t(data_stack.top - data_stack.bottom) > n ? data_stack.top - n
                                                                       : data_stack.bottom;
}
// The last pushed cell (bottom when the stack is empty).
inline Cell* stack_top() {
    return data_stack.top > data_stack.bottom ? data_stack.top - 1 : data_stack.bottom;
}
inline uint8_t stack_top_type() { return cell_type(stack_top()); }
// Drops the current frame's arguments and temporaries.
inline void stack_reset() { data_stack.top = data_stack.args; }
inline void stack_keep() { data_stack.top = data_stack.args + 1; }
inline void stack_set_last(const Cell* value) { cell_copy(value, data_stack.args); }
inline void stack_set_last_reset(const Cell* value) {
    cell_copy(value, data_stack.args);
    data_stack.top = data_stack.args + 1;
}
// An error! as the last pushed value becomes ARGS[0]; then top := ARGS + 1.
void stack_keep_error();

// ---- value-making shapes ----------------------------------------------------------------
// A datatype's _push and _box makers start from these: a fresh cell of the
// type on the data stack, or ARGS[0] retyped with the data top just above it.
// A value left in ARGS[0] always has top above it, so the collector sees it.

inline Cell* stack_push_new(uint8_t type) {
    Cell* slot = stack_push_slot();
    cell_init(slot, type);
    return slot;
}
inline Cell* stack_box_new(uint8_t type) {
    Cell* slot = data_stack.args;
    cell_init(slot, type);
    data_stack.top = slot + 1;
    return slot;
}

// ---- frames ------------------------------------------------------------------------------

// The top frame; null when the call stack is empty.
inline CallFrame* stack_top_frame() {
    return call_stack.top > call_stack.bottom ? call_stack.top - 1 : nullptr;
}
// Whether a frame below `from` (or below the top frame when null) carries the
// interpreter bit; with only_one only the first frame below is looked at.
bool stack_flagged_frame(const CallFrame* from, bool only_one);
// A frame whose symbol is a real word, not <body> or <anon>.
bool stack_frame_named(const CallFrame* frame);
// The nearest frame of the kind from the top; with try_all, a kind-5 frame
// met first is answered instead. Null when there is none.
CallFrame* stack_find_frame(uint32_t kind, bool try_all);

// The frame at which the latest throw began its search (null when none);
// stack_caller_word consumes it.
extern CallFrame* throw_start_frame;

// Writes into out the word of the nearest named frame, from the throw-start
// frame when one is recorded, else from the top; <not-found> without one.
void stack_caller_word(Cell* out);
// The word of a frame: a word! of its symbol bound to its context.
void stack_frame_word(const CallFrame* frame, Cell* out);

// ---- catchers ----------------------------------------------------------------------------

// The stack depths a catcher saw on entry; stack_restore brings both stacks
// and the cycle stack back to them (popping frames with restore) after an
// exit or an error has left from deeper inside. It never raises a depth.
struct StackState {
    Cell* args;
    Cell* top;
    CallFrame* call_top;
    uint32_t cycles;
};
StackState stack_save();
void stack_restore(const StackState& state);

// The collector's root callback: the data stack's values from bottom to top
// and what every frame holds (contexts, function contexts, saved values).
void stack_mark_live();

} // namespace kel
