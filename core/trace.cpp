// The tracer state and the firing of trace events.
#include "core/block.hpp"
#include "core/trace.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/exits.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/numbers.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"

namespace kel {

TraceState trace_state;

// Tracer parameters: event, block, offset, value, reference, depths.
constexpr uint32_t TRACER_FIXED_ARGS = 6;

struct EventName {
    RuntimeWord word;
    uint32_t bit;
};
static const EventName event_names[] = {
    {W_INIT, TRACE_INIT}, {W_END, TRACE_END}, {W_PROLOG, TRACE_PROLOG},
    {W_EPILOG, TRACE_EPILOG}, {W_ENTER, TRACE_ENTER}, {W_EXIT, TRACE_EXIT},
    {W_OPEN, TRACE_OPEN}, {W_RETURN, TRACE_RETURN}, {W_FETCH, TRACE_FETCH},
    {W_PUSH, TRACE_PUSH}, {W_SET, TRACE_SET}, {W_CALL, TRACE_CALL}, {W_ERROR, TRACE_ERROR},
    {W_THROW, TRACE_THROW}, {W_CATCH, TRACE_CATCH}, {W_EXPR, TRACE_EXPR},
};

static void trace_mark() { collector_mark_values(&trace_state.tracer, &trace_state.tracer + 1); }

void trace_init() {
    trace_state.tracing = false;
    trace_state.requested = false;
    cell_init(&trace_state.tracer, T_NONE);
    trace_state.mask = TRACE_DEFAULT_MASK;
    trace_state.extra_args = 0;
    trace_state.settings = 0;
    trace_state.failed = false;
    collector_remove_root(trace_mark);
    collector_add_root(trace_mark);
}

static uint32_t event_bit(const Cell* word) {
    for (const EventName& e : event_names)
        if (symbol_resolve(word_symbol(runtime_word(e.word))) == symbol_resolve(word_symbol(word))) return e.bit;
    return 0;
}

uint32_t trace_events_mask(const Cell* tracer) {
    const Cell* body = function_more_cell(tracer, MORE_BODY);
    if (cell_type(body) != T_BLOCK) return TRACE_DEFAULT_MASK;
    SeriesBuffer* b = series_buffer_of(body);
    if (uint32_t(series_index(body)) >= b->length()) return TRACE_DEFAULT_MASK;
    const Cell* first = block_cells(b) + uint32_t(series_index(body));
    if (cell_type(first) != T_BLOCK) return TRACE_DEFAULT_MASK;
    SeriesBuffer* events = series_buffer_of(first);
    const Cell* cells = block_cells(events);
    uint32_t mask = 0;
    for (uint32_t i = uint32_t(series_index(first)); i < events->length(); i++)
        if (cell_type(&cells[i]) == T_WORD) mask |= event_bit(&cells[i]);
    return mask;
}

void trace_start(const Cell* tracer) {
    cell_copy(tracer, &trace_state.tracer);
    trace_state.mask = trace_events_mask(tracer);
    uint32_t slots = context_word_count(function_context(tracer));
    trace_state.extra_args = slots > TRACER_FIXED_ARGS ? slots - TRACER_FIXED_ARGS : 0;
    trace_state.requested = true;
    trace_state.tracing = true;
    trace_state.failed = false;
}

void trace_stop() {
    trace_state.tracing = false;
    trace_state.requested = false;
    trace_state.failed = false;
    cell_init(&trace_state.tracer, T_NONE);
}

static void push_or_none(const Cell* value) {
    if (value) stack_push(value);
    else stack_push_new(T_NONE);
}

void trace_fire_event(uint32_t event, const Cell* block, int32_t position, const Cell* reference,
                      const Cell* value) {
    if (!(trace_state.mask & event) || trace_state.failed || cell_type(&trace_state.tracer) != T_FUNCTION)
        return;
    Cell* saved_top = data_stack.top;
    CallFrame* saved_call = call_stack.top;
    uint32_t args_depth = stack_index(data_stack.args);
    uint32_t top_depth = stack_index(data_stack.top);
    // The value being produced stays below the tracer's frame. Any other
    // content of the slot above the top is a leftover the collections since
    // it was written did not follow, so it is cleared before it is marked.
    Cell* gap = stack_push_slot();
    if (gap != value) cell_init(gap, T_UNSET);
    stack_mark_func_interp(runtime_word(W_LABEL_INTERP_CALLBACK));
    uint32_t event_index = 0;
    while (event_names[event_index].bit != event) event_index++;
    stack_push(runtime_word(event_names[event_index].word));
    push_or_none(block);
    int32_t offset = -1;
    if (block && position >= 0) {
        uint32_t length = series_buffer_of(block)->length();
        if (uint32_t(position) >= uint32_t(series_index(block)) && uint32_t(position) <= length)
            offset = position - series_index(block);
    }
    Cell* offset_cell = stack_push_new(T_INTEGER);
    integer_set(offset_cell, int32_t(offset));
    push_or_none(value);
    bool with_reference = event & (TRACE_SET | TRACE_EPILOG | TRACE_PROLOG | TRACE_RETURN | TRACE_CALL);
    push_or_none(with_reference ? reference : nullptr);
    Cell* depths = stack_push_new(T_PAIR);
    pair_set(depths, int32_t(args_depth), int32_t(top_depth));
    push_unused_refinement(trace_state.extra_args);

    trace_state.tracing = false;
    ExitCode code;
    try {
        code = exec_function(&trace_state.tracer, 0, runtime_word(W_LABEL_INTERP_CALLBACK), 0);
    } catch (const LanguageError&) {
        // The error goes on as if the traced code raised it; a tracer that
        // failed gets no further event of this traced evaluation, end included.
        trace_state.failed = true;
        throw;
    }
    if (code != EXIT_CODE_NONE) exit_throw(code);
    trace_state.tracing = true;
    stack_unwind_func_keep();
    data_stack.top = saved_top;
    stack_set_call_top(saved_call);
}

} // namespace kel
