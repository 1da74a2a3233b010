// print and prin.
#include "natives/print.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "natives/natives.hpp"
#include "runtime/collector.hpp"
#include "runtime/output_hooks.hpp"
#include <iterator>

namespace kel {

bool print_last_newline = false;

// The work block. Its position marks where the values of the print running
// now begin: a print reached while another one reduces its block appends
// after the outer values and leaves them as they were.
static Cell print_work;

static void print_work_mark() { collector_mark_values(&print_work, &print_work + 1); }

void print_init() {
    cell_init(&print_work, T_NONE);
    collector_remove_root(print_work_mark);
    collector_add_root(print_work_mark);
    block_make_at(&print_work, 32);
}

// Claims the work block's tail for one print; on every way out (an exit, an
// error) the values appended since are dropped and the position restored.
struct PrintWorkArea {
    uint32_t saved;
    PrintWorkArea() : saved(uint32_t(series_index(&print_work))) { series_index_set(&print_work, series_buffer_length(&print_work)); }
    ~PrintWorkArea() {
        block_ks_clear(&print_work);
        series_index_set(&print_work, saved);
    }
    PrintWorkArea(const PrintWorkArea&) = delete;
    PrintWorkArea& operator=(const PrintWorkArea&) = delete;
};

// Reduces the block in ARGS[0] into the work block with reduce/into; ARGS[0]
// becomes the work block at the new values.
static ExitCode print_reduce() {
    Cell* args = data_stack.args;
    stack_keep();
    stack_mark_native_interp(nullptr);
    stack_push(args);
    stack_push(&print_work);
    const int32_t refinements[1] = {1};
    ExitCode x = native_reduce(false, refinements);
    if (x != EXIT_CODE_NONE) return x;
    stack_unwind_last();
    return EXIT_CODE_NONE;
}

ExitCode print_value(bool newline) {
    Cell* args = data_stack.args;
    if (cell_type(args) == T_BLOCK) {
        PrintWorkArea area;
        ExitCode x = print_reduce();
        if (x != EXIT_CODE_NONE) return x;
        Cell* text = stack_push_new(T_NONE);
        dispatch_form(args, text, -1);
        value_hooks_notify(text, newline);
    } else if (cell_type(args) == T_STRING) {
        series_index_set(args, series_index_clamped(args));
        value_hooks_notify(args, newline);
    } else {
        stack_keep();
        Cell* text = stack_push_new(T_NONE);
        dispatch_form(args, text, -1);
        value_hooks_notify(text, newline);
    }
    print_last_newline = newline;
    stack_box_new(T_UNSET);
    return EXIT_CODE_NONE;
}

ExitCode native_print(bool, const int32_t*) { return print_value(true); }
ExitCode native_prin(bool, const int32_t*) { return print_value(false); }

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {23, "print", "[value [any-type!]]", native_print},
    {24, "prin", "[value [any-type!]]", native_prin},
};
const NativeTable PRINT_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
