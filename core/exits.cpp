// The raisers of the six exits: the call-stack search of each and what it
// leaves on the data stack for its catcher.
#include "core/block.hpp"
#include "core/exits.hpp"
#include "core/error.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/context.hpp"
#include "core/series.hpp"
#include "core/word.hpp"
#include "runtime/platform/platform.hpp"
#include "runtime/start.hpp"

namespace kel {

ExitCode exit_pending() { return ExitCode(runtime_record.thrown); }
// The chain of a throw ends with its catcher, so a later error is named from
// the frames of its own time.
void exit_clear() {
    runtime_record.thrown = EXIT_CODE_NONE;
    throw_start_frame = nullptr;
}

void exit_throw(ExitCode code) {
    runtime_record.thrown = code;
    throw ExitSignal{code};
}

// The nearest frame from `from` down that the test accepts, or null when a
// try/all frame or the bottom comes first. Nothing is popped: an exit that
// finds no target raises its error with the stacks untouched.
template <typename Accept>
static inline CallFrame* exit_target(CallFrame* from, Accept accept) {
    for (CallFrame* frame = from; frame > call_stack.bottom;) {
        --frame;
        if (frame_kind(frame) == KIND_TRY_ALL) return nullptr;
        if (accept(frame)) return frame;
    }
    return nullptr;
}

// Pops every frame above the target, restoring function contexts, and makes
// the target current: ARGS := its own argument base (the caller ARGS of the
// frame above it), top := ARGS.
static void exit_enter(CallFrame* target) {
    Cell* base = data_stack.args;
    while (call_stack.top > target + 1) {
        CallFrame* frame = call_stack.top - 1;
        base = frame->caller_args;
        // Only a function frame has a context to restore; others just go.
        if ((frame->flags & FRAME_KIND_MASK) == FRAME_FUNC && frame->function_context != 0)
            stack_frame_pop();
        else
            call_stack.top = frame;
    }
    data_stack.args = base;
    data_stack.top = base;
}

ExitCode stack_throw_break(bool with_value, bool is_continue) {
    CallFrame* loop = exit_target(call_stack.top, [](const CallFrame* f) {
        return frame_kind(f) == KIND_LOOP;
    });
    if (!loop) error_raise(is_continue ? ERR_CONTINUE : ERR_BREAK);
    Cell value;
    if (with_value) cell_copy(data_stack.args, &value);
    else cell_init(&value, T_UNSET);
    exit_enter(loop);
    // The value counts as pushed, so a collection before the loop takes it keeps it.
    stack_set_last_reset(&value);
    ExitCode code = is_continue ? EXIT_CODE_CONTINUE : EXIT_CODE_BREAK;
    runtime_record.thrown = code;
    return code;
}

ExitCode stack_throw_return(bool is_return) {
    CallFrame* below_own = call_stack.top > call_stack.bottom ? call_stack.top - 1 : call_stack.top;
    CallFrame* body = exit_target(below_own, [](const CallFrame* f) {
        return (f->flags & FRAME_BODY) != 0;
    });
    if (!body) error_raise(ERR_RETURN);
    Cell value;
    if (is_return) cell_copy(data_stack.args, &value);
    else cell_init(&value, T_UNSET);
    exit_enter(body);
    stack_set_last_reset(&value);
    ExitCode code = is_return ? EXIT_CODE_RETURN : EXIT_CODE_EXIT;
    runtime_record.thrown = code;
    return code;
}

void catch_frame_names_set(CallFrame* frame, const Cell* names) {
    frame->saved_values = names ? stack_index(names) + 1 : 0;
}

bool catch_names_match(const Cell* names, const Cell* thrown) {
    if (cell_type(thrown) != T_WORD) return false;
    uint32_t symbol = symbol_resolve(word_symbol(thrown));
    if (cell_type(names) == T_WORD) return symbol_resolve(word_symbol(names)) == symbol;
    SeriesBuffer* b = series_buffer_of(names);
    const Cell* cells = block_cells(b);
    for (uint32_t i = uint32_t(series_index(names)); i < b->length(); i++)
        if (symbol_resolve(word_symbol(&cells[i])) == symbol) return true;
    return false;
}

// The nearest catch frame below `from` that takes the name, or null when a
// try/all frame or the bottom comes first. Deciding at the throw keeps a throw
// that no catch takes an error at its own place, where a try around it sees it.
static CallFrame* throw_target(CallFrame* from, const Cell* name) {
    for (CallFrame* frame = from; frame > call_stack.bottom;) {
        --frame;
        if (frame_kind(frame) == KIND_TRY_ALL) return nullptr;
        if (frame_kind(frame) != KIND_CATCH) continue;
        if (frame->saved_values == 0) return frame;
        if (catch_names_match(data_stack.bottom + frame->saved_values - 1, name)) return frame;
    }
    return nullptr;
}

ExitCode stack_throw_throw(ExitCode code) {
    Cell thrown[2];
    cell_copy(data_stack.args, &thrown[0]);
    cell_copy(data_stack.args + 1, &thrown[1]);
    CallFrame* below_own = call_stack.top > call_stack.bottom ? call_stack.top - 1 : call_stack.top;
    // A later error names the function that threw, not the catcher's caller.
    if (!throw_start_frame) throw_start_frame = below_own;
    CallFrame* catcher = throw_target(below_own, &thrown[1]);
    // The error keeps the name too, so that a throw stopped by try/all can be
    // thrown on again.
    if (!catcher) error_raise(ERR_THROW, &thrown[0], cell_type(&thrown[1]) == T_WORD ? &thrown[1] : nullptr);
    exit_enter(catcher);
    stack_push(&thrown[0]);
    stack_push(&thrown[1]);
    runtime_record.thrown = code;
    return code;
}

// The nearest catch frame whose names take the word, looking past every other
// frame.
static CallFrame* named_catch_find(const Cell* name) {
    for (CallFrame* frame = call_stack.top; frame > call_stack.bottom;) {
        --frame;
        if (frame_kind(frame) != KIND_CATCH || frame->saved_values == 0) continue;
        if (catch_names_match(data_stack.bottom + frame->saved_values - 1, name)) return frame;
    }
    return nullptr;
}

bool halt_catcher_q() {
    Cell console = word_intern("console");
    return named_catch_find(&console) != nullptr;
}

ExitCode stack_throw_halt() {
    interrupt_requested = 0;
    Cell name = word_intern("console");
    CallFrame* catcher = named_catch_find(&name);
    if (!catcher) return EXIT_CODE_NONE;
    exit_enter(catcher);
    // Each word is pushed before the next is made, as making one may collect.
    Cell value = word_intern("halt-request");
    stack_push(&value);
    name = word_intern("console");
    stack_push(&name);
    runtime_record.thrown = EXIT_CODE_THROW;
    return EXIT_CODE_THROW;
}

void stack_throw_error() {
    ErrorRecord& error = error_in_flight;
    error.frame = stack_call_depth();
    if (call_stack.top > call_stack.bottom) stack_caller_word(&error.where);
    else cell_init(&error.where, T_NONE);
    error.caught = stack_find_frame(KIND_TRY, true) != nullptr;
    runtime_record.thrown = EXIT_CODE_ERROR;
    throw LanguageError(error.category, error.id);
}

} // namespace kel
