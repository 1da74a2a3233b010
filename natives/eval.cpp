// Evaluation and non-local exit natives: do, try, break, continue, exit,
// return, throw and catch, and the try-result step.
//
// break, continue, return, exit and throw are raised by the stack layer's
// raisers (core/exits.hpp), which make the receiving frame current and
// answer the pending code; these natives answer it in turn. do and try hand
// every code they do not consume on unchanged.
#include "natives/natives.hpp"
#include "natives/native_steps.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/error_value.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/library_context.hpp"
#include "core/logic.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/trace.hpp"
#include "core/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/start.hpp"
#include <iterator>

namespace kel {

static inline Cell* arg(int i) { return data_stack.args + i; }

// Raises an error! value again, as if it had just occurred.
[[noreturn]] static void error_value_raise(const Cell* error) {
    CellRoot held(*error);
    int32_t code = cell_int(error_field(&held.cell, ERROR_CODE));
    Cell args[3];
    for (uint32_t i = 0; i < 3; i++) args[i] = *error_field(&held.cell, ErrorField(ERROR_ARG1 + i));
    error_raise(ErrorCategory(code / 100), uint16_t(code % 100), &args[0], &args[1], &args[2]);
}

// ---- do -------------------------------------------------------------------------------------

ExitCode eval_lone_value(const Cell* value) {
    CellRoot code;
    block_make_at(&code.cell, 1);
    block_ks_append(&code.cell, value);
    EvalCursor cursor{&code.cell, 0, 1};
    Cell* start = data_stack.top;
    ExitCode x = eval_expression(cursor, true, true, true);
    if (x != EXIT_CODE_NONE) return x;
    stack_set_last_reset(start);
    return EXIT_CODE_NONE;
}

// do of a block (from ARGS[0]): the whole block, or with a position word one
// expression, after which the word receives the block at the next one.
static ExitCode do_block(const Cell* position_word) {
    if (!position_word) return native_eval_block(arg(0));
    CellRoot block(*arg(0));
    CellRoot word(*position_word);
    uint32_t index = series_buffer_of(&block.cell)->length();
    if (uint32_t(series_index(&block.cell)) < index) index = uint32_t(series_index(&block.cell));
    ExitCode x;
    try {
        x = do_next_index(&block.cell, &index);
    } catch (const ExitSignal& signal) {
        return signal.code;
    }
    if (x != EXIT_CODE_NONE) return x;
    CellRoot result(*arg(0));
    series_index_set(&block.cell, index);
    word_set(&word.cell, &block.cell);
    stack_set_last_reset(&result.cell);
    return EXIT_CODE_NONE;
}

// Calls the library function of the name with the cells as its
// arguments, in a frame of its own, and leaves its result on the stack (the
// returned cell is the top). Locals and refinements past the arguments start
// as none and false.
static ExitCode do_library_call(const char* name, const Cell* const* values, uint32_t count,
                                Cell** result) {
    CellRoot word(library_word(name));
    Cell* fn = stack_push(word_get(&word.cell));
    if (cell_type(fn) != T_FUNCTION) error_raise(ERR_NO_VALUE, &word.cell);
    uint32_t slots = context_word_count(function_context(fn));
    stack_mark_func_interp(&word.cell);
    for (uint32_t i = 0; i < count; i++) stack_push(values[i]);
    if (slots > count) push_unused_refinement(slots - count);
    ExitCode x = exec_function(fn, 0, &word.cell, 0);
    if (x != EXIT_CODE_NONE) return x;
    stack_unwind_func_keep();
    *result = fn + 1;
    return EXIT_CODE_NONE;
}

// do of a file or URL: the library's do-file loads, preprocesses and runs
// the script, with the trace callback (or none) and the /args value.
static ExitCode do_script(const Cell* callback, const Cell* do_args) {
    CellRoot file(*arg(0));
    CellRoot trace(none_cell), args(none_cell);
    if (callback) trace.cell = *callback;
    if (do_args) args.cell = *do_args;
    const Cell* values[3] = {&file.cell, &trace.cell, &args.cell};
    Cell* result;
    ExitCode x = do_library_call("do-file", values, 3, &result);
    if (x != EXIT_CODE_NONE) return x;
    stack_set_last_reset(result);
    return EXIT_CODE_NONE;
}

// do/expand: the block or paren in ARGS[0] goes through the library's
// preprocessor, which rewrites it in place, before it is evaluated.
static ExitCode do_expand() {
    if (cell_type(arg(0)) != T_BLOCK && cell_type(arg(0)) != T_PAREN) return EXIT_CODE_NONE;
    CellRoot code(*arg(0));
    const Cell* values[1] = {&code.cell};
    Cell* top = data_stack.top;
    Cell* result;
    ExitCode x = do_library_call("expand-directives", values, 1, &result);
    if (x != EXIT_CODE_NONE) return x;
    data_stack.top = top;
    return EXIT_CODE_NONE;
}

static ExitCode do_dispatch(bool expand, const Cell* position_word, const Cell* callback,
                            const Cell* do_args) {
    switch (cell_type(arg(0))) {
    case T_BLOCK: case T_PAREN: case T_HASH:
        if (expand) {
            ExitCode x = do_expand();
            if (x != EXIT_CODE_NONE) return x;
        }
        return do_block(position_word);
    case T_STRING: {
        CellRoot source(*arg(0));
        LexerOptions options;
        lexer_scan_string(arg(0), &source.cell, -1, options, nullptr);
        if (expand) {
            ExitCode x = do_expand();
            if (x != EXIT_CODE_NONE) return x;
        }
        return do_block(position_word);
    }
    case T_FILE: case T_URL:
        return do_script(callback, do_args);
    case T_ERROR:
        error_value_raise(arg(0));
    default: {
        CellRoot value(*arg(0));
        return eval_lone_value(&value.cell);
    }
    }
}

// Ends the trace a do/trace started; the exit in flight survives the end
// event. The tracer is gone afterwards even when the end event raises.
static void do_trace_end() {
    struct Stop {
        ~Stop() { trace_stop(); }
    } stop;
    uint32_t pending = runtime_record.thrown;
    trace_fire_event(TRACE_END, nullptr, -1, nullptr, nullptr);
    runtime_record.thrown = pending;
}

ExitCode native_do(bool check, const int32_t* refinements) {
    const int32_t expand = refinements[0], next = refinements[2], trace = refinements[3];
    if (check) {
        if (next >= 0) native_arg_check(20, uint32_t(next));
        if (trace >= 0) native_arg_check(20, uint32_t(trace));
    }
    const Cell* position_word = nullptr;
    if (next >= 0) position_word = arg(next);
    const Cell* callback = trace >= 0 ? arg(trace) : nullptr;
    const Cell* do_args = refinements[1] >= 0 ? arg(refinements[1]) : nullptr;
    bool started = false;
    if (trace >= 0 && !trace_state.requested) {
        trace_start(arg(trace));
        started = true;
    }
    if (!started) return do_dispatch(expand != -1, position_word, callback, do_args);
    ExitCode x;
    try {
        trace_fire_event(TRACE_INIT, nullptr, -1, nullptr, nullptr);
        x = do_dispatch(expand != -1, position_word, callback, do_args);
    } catch (const LanguageError&) {
        do_trace_end();
        throw;
    }
    do_trace_end();
    return x;
}

// ---- try ------------------------------------------------------------------------------------

ExitCode native_try(bool check, const int32_t* refinements) {
    if (check) native_arg_check(70, 0);
    bool all = refinements[0] != -1, keep = refinements[1] != -1;
    StackState saved = stack_save();
    Cell* result = arg(0);
    if (all) stack_mark_try_all(nullptr);
    else stack_mark_try(nullptr);
    stack_push_new(T_UNSET);
    ExitCode x;
    try {
        x = native_eval_block(result);
    } catch (const LanguageError&) {
        stack_restore(saved);
        Cell* error = error_push_in_flight();
        if (keep) error_fill_stack(error);
        stack_set_last_reset(error);
        exit_clear();
        return EXIT_CODE_NONE;
    }
    if (x != EXIT_CODE_NONE) return x;
    stack_unwind_last();
    return EXIT_CODE_NONE;
}

void try_result(bool keep) {
    Cell* error = stack_top();
    if (keep) error_fill_stack(error);
    uint32_t throw_symbol = symbol_resolve(symbol_make("throw"));
    if (symbol_resolve(error_type_symbol(error)) == throw_symbol &&
        symbol_resolve(error_id_symbol(error)) == throw_symbol)
        error_value_raise(error);
    stack_set_last_reset(error);
}

// ---- the exits ------------------------------------------------------------------------------

ExitCode native_break(bool check, const int32_t* refinements) {
    bool with_value = refinements[0] != -1;
    if (check && with_value) native_arg_check(77, 0);
    return stack_throw_break(with_value, false);
}

ExitCode native_continue(bool, const int32_t*) { return stack_throw_break(false, true); }

ExitCode native_exit(bool, const int32_t*) { return stack_throw_return(false); }

ExitCode native_return(bool check, const int32_t*) {
    if (check) native_arg_check(80, 0);
    return stack_throw_return(true);
}

ExitCode native_throw(bool check, const int32_t* refinements) {
    bool named = refinements[0] != -1;
    if (check) {
        native_arg_check(81, 0);
        if (named) native_arg_check(81, 1);
    }
    if (!named) {
        data_stack.top = data_stack.args + 1;
        stack_push_new(T_UNSET);
    }
    if (trace_state.tracing) trace_fire_event(TRACE_THROW, nullptr, -1, nullptr, arg(0));
    return stack_throw_throw(EXIT_CODE_THROW);
}

// ---- catch ----------------------------------------------------------------------------------

// Every element of a names block must be a word!.
static void catch_names_check(const Cell* names) {
    if (cell_type(names) != T_BLOCK) return;
    SeriesBuffer* b = series_buffer_of(names);
    const Cell* cells = block_cells(b);
    for (uint32_t i = uint32_t(series_index(names)); i < b->length(); i++) {
        if (cell_type(&cells[i]) == T_WORD) continue;
        Cell word = word_intern("catch");
        Cell block = *names;
        error_raise(ERR_INVALID_REFINE_ARG, &word, &block);
    }
}

ExitCode native_catch(bool check, const int32_t* refinements) {
    bool named = refinements[0] != -1;
    if (check) {
        native_arg_check(82, 0);
        if (named) native_arg_check(82, 1);
    }
    Cell* names = named ? arg(refinements[0]) : nullptr;
    if (names) catch_names_check(names);
    Cell* block = arg(0);
    stack_mark_catch(nullptr);
    CallFrame* own = stack_top_frame();
    catch_frame_names_set(own, names);
    stack_push_new(T_UNSET);
    ExitCode x = native_eval_block(block);
    // A throw bound for an outer catch has popped this frame already: pass it on.
    if (x == EXIT_CODE_THROW && stack_top_frame() != own) return x;
    if (x == EXIT_CODE_THROW) {
        // The catch frame is current: ARGS[0] the value, ARGS[1] the name.
        if (names && !catch_names_match(names, data_stack.args + 1)) {
            Cell thrown[2] = {data_stack.args[0], data_stack.args[1]};
            stack_unwind();
            data_stack.top = data_stack.args;
            stack_push(&thrown[0]);
            stack_push(&thrown[1]);
            return stack_throw_throw(EXIT_CODE_THROW);
        }
        exit_clear();
        stack_keep();
        if (trace_state.tracing) trace_fire_event(TRACE_CATCH, nullptr, -1, nullptr, data_stack.args);
    } else if (x != EXIT_CODE_NONE) {
        return x;
    }
    stack_unwind_last();
    return EXIT_CODE_NONE;
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {20, "do",
     "[value [any-type!] /expand /args arg /next position [word!] /trace callback [function!]]",
     native_do},
    {70, "try", "[block [block!] /all /keep]", native_try},
    {77, "break", "[/return value [any-type!]]", native_break},
    {78, "continue", "[]", native_continue},
    {79, "exit", "[]", native_exit},
    {80, "return", "[value [any-type!]]", native_return},
    {81, "throw", "[value [any-type!] /name word [word!]]", native_throw},
    {82, "catch", "[block [block!] /name word [word! block!]]", native_catch},
};
const NativeTable EVAL_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
