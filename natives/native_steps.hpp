// Steps shared by the natives' own files: block evaluation that turns an exit
// carried across foreign C++ code back into a pending code, a walk over a
// block expression by expression, and the count argument of loops.
#pragma once
#include "core/block.hpp"
#include "core/eval_values.hpp"
#include "runtime/cell.hpp"
#include "core/exits.hpp"
#include "core/interpreter.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "runtime/memory.hpp"

#include <algorithm>

namespace kel {

// eval_block with the last value copied into the running frame's ARGS[0].
inline ExitCode native_eval_block(const Cell* block) {
    try {
        return eval_block(block, true);
    } catch (const ExitSignal& signal) {
        return signal.code;
    }
}

// A walk over a block's expressions from its position. A copy of the block is
// pushed (its index is the walk's position), so the walk survives collections
// and the caller may overwrite the argument it came from.
struct CodeWalk {
    Cell* code;
    uint32_t end;

    explicit CodeWalk(const Cell* block) {
        code = stack_push(block);
        end = series_buffer_of(code)->length();
        if (uint32_t(series_index(code)) > end) series_index_set(code, int32_t(end));
    }
    // Code that shrank while running ends early.
    bool ended() {
        uint32_t length = series_buffer_of(code)->length();
        if (end > length) end = length;
        return uint32_t(series_index(code)) >= end;
    }
    // Evaluates one expression; its value is pushed and *value points at it.
    // A value that needs no evaluation, with no operator after it, is pushed
    // as it stands, without the evaluator's position entry and frame: nothing
    // runs that could see them missing. With operators after it, they are
    // applied without a second look at the value.
    [[gnu::always_inline]] ExitCode next(Cell** value) {
        Cell* at = data_stack.top;
        SeriesBuffer* b = series_buffer_of(code);
        uint32_t position = uint32_t(series_index(code));
        uint32_t limit = std::min(end, cells_length(b));
        EvalCursor cursor{code, position, end};
        ExitCode x;
        const Cell* plain = position < limit ? plain_value_of(block_cells(b) + position) : nullptr;
        if (plain) {
            const Cell* op = position + 1 < limit ? operator_of(block_cells(b) + position + 1) : nullptr;
            if (!op) {
                stack_push(plain);
                series_index_set(code, int32_t(position + 1));
                *value = at;
                return EXIT_CODE_NONE;
            }
            x = eval_next_operators(cursor, plain, op);
        } else {
            x = eval_next(cursor, true);
        }
        if (x != EXIT_CODE_NONE) return x;
        series_index_set(code, int32_t(cursor.position));
        *value = at;
        return EXIT_CODE_NONE;
    }
    // Pops a value that next pushed (and everything above it).
    void drop(Cell* value) { data_stack.top = value; }
    // Steps over one value unevaluated.
    void skip() { series_index_set(code, series_index(code) + 1); }
    // The value at the position (valid until the next allocation).
    const Cell* current() const {
        return block_cells(series_node(code)) + uint32_t(series_index(code));
    }
    bool at_block() { return !ended() && cell_type(current()) == T_BLOCK; }
};

// Evaluates a value as an expression of its own (a word gives its value, a
// path or paren is evaluated, a function value met literally is the value
// itself); the result goes to ARGS[0] with top := ARGS + 1. The value must be
// seen by the collector.
ExitCode eval_lone_value(const Cell* value);

// A loop count in place: a float! is converted to integer! by truncation
// toward zero; a NaN or a value outside the 32-bit range raises script error
// type-limit. Returns the count.
int32_t native_count_arg(Cell* count);

} // namespace kel
