// unset, context?, new-line and new-line?.
#include "natives/query.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/word.hpp"
#include "natives/natives.hpp"
#include <iterator>

namespace kel {

enum QueryNative : uint32_t { N_UNSET = 88, N_NEW_LINE = 89, N_NEW_LINE_Q = 90, N_CONTEXT_Q = 92 };

ExitCode native_unset(bool check, const int32_t*) {
    if (check) native_arg_check(N_UNSET, 0);
    Cell* args = data_stack.args;
    data_stack.top = args + 1;
    if (cell_type(args) == T_WORD) {
        word_set(args, &unset_cell);
    } else {
        // Words only: every other value, other word kinds included, is skipped.
        uint32_t from = series_index_clamped(args);
        for (uint32_t i = from; i < series_buffer_length(args); i++) {
            Cell* word = stack_push(block_ks_abs_at(args, i));
            if (cell_type(word) == T_WORD) word_set(word, &unset_cell);
            stack_pop(1);
        }
    }
    stack_box_new(T_UNSET);
    return EXIT_CODE_NONE;
}

ExitCode native_context_q(bool check, const int32_t*) {
    if (check) native_arg_check(N_CONTEXT_Q, 0);
    Cell* args = data_stack.args;
    Node context = word_context(args);
    if (!context || cell_type(context_owner(context)) == T_UNSET) {
        stack_box_new(T_NONE);
        return EXIT_CODE_NONE;
    }
    cell_copy(context_owner(context), args);
    stack_keep();
    return EXIT_CODE_NONE;
}

// Sets or clears the new-line flag of the value at the position; with /all of
// every value from there to the tail, with /skip of every size-th one.
ExitCode native_new_line(bool check, const int32_t* refinements) {
    Cell* args = data_stack.args;
    if (check) {
        native_arg_check(N_NEW_LINE, 0);
        if (refinements[1] >= 0) native_arg_check(N_NEW_LINE, uint32_t(refinements[1]));
    }
    bool on = !logic_false(&args[1]);
    // 0: only the cell at the position; else every cell to the tail, where
    // each step-th one from the position gets the value and the cells between
    // its opposite.
    uint32_t step = 0;
    if (refinements[1] >= 0) {
        step = uint32_t(series_skip_size(&args[refinements[1]]));
    } else if (refinements[0] >= 0) {
        step = 1;
    }
    uint32_t index = series_index_clamped(&args[0]);
    uint32_t length = series_buffer_length(&args[0]);
    for (uint32_t i = index, k = 0; i < length; i++, k++) {
        bool marked = step == 0 || k % step == 0 ? on : !on;
        Cell* cell = block_ks_abs_at(&args[0], i);
        if (marked) cell->header |= CELL_NEWLINE;
        else cell_clear_newline(cell);
        if (!step) break;
    }
    stack_keep();
    return EXIT_CODE_NONE;
}

ExitCode native_new_line_q(bool check, const int32_t*) {
    if (check) native_arg_check(N_NEW_LINE_Q, 0);
    Cell* args = data_stack.args;
    uint32_t index = series_index_clamped(args);
    bool flagged = index < series_buffer_length(args) &&
                   (block_ks_abs_at(args, index)->header & CELL_NEWLINE) != 0;
    logic_box(flagged);
    return EXIT_CODE_NONE;
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {88, "unset", "[word [word! block!]]", native_unset},
    {89, "new-line",
     "[position [any-list!] value [logic!] /all /skip size [integer!]]",
     native_new_line},
    {90, "new-line?", "[position [any-list!]]", native_new_line_q},
    {92, "context?", "[word [any-word!]]", native_context_q},
};
const NativeTable QUERY_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
