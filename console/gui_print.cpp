// Printing into the graphical console: both hooks end in the terminal's
// vprint, called through the interpreter as the code
// [gui-console-ctx/terminal/vprint text flag] would call it.
#include "console/gui_print.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/error_catalog.hpp"
#include "core/exits.hpp"
#include "core/interpreter.hpp"
#include "core/logic.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/trace.hpp"
#include "core/unicode.hpp"
#include "datatypes/integer.hpp"
#include "gui/module.hpp"
#include "core/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/output_hooks.hpp"
#include "runtime/stdout.hpp"
#include "runtime/platform/platform.hpp"

#include <cstring>
#include <optional>
#include <string>

namespace kel {

// Free room a print needs before it calls into the interpreter.
constexpr ptrdiff_t PRINT_FREE_CELLS = 80;
constexpr ptrdiff_t PRINT_FREE_FRAMES = 60;
// Blink time when the backend does not report one: half of the usual
// 1.2 s on-and-off cycle, in milliseconds.
constexpr int32_t CARET_BLINK_DEFAULT_MS = 600;

// Roots made by add-gui-print and kept for the life of the process: the
// string through which the text hook hands bytes over (unset until the
// first text), and the path that names vprint.
static CellRoot* gui_console_buffer = nullptr;
static CellRoot* gui_print_path = nullptr;

// Tracing is paused while the console prints and resumed however the print
// ends, so that the terminal's own code never reaches the tracer.
struct TracePause {
    uint32_t mask = trace_state.mask;
    TracePause() { trace_state.mask = 0; }
    ~TracePause() { trace_state.mask = mask; }
};

void gui_print_value(const Cell* value, bool newline) {
    if (data_stack.end - data_stack.top <= PRINT_FREE_CELLS ||
        call_stack.end - call_stack.top <= PRINT_FREE_FRAMES)
        error_raise(ERR_STACK_OVERFLOW);
    if (!gui_print_path) return;
    CellRoot text(*value);
    TracePause pause;
    CellRoot code;
    block_make_at(&code.cell, 3);
    block_ks_append(&code.cell, &gui_print_path->cell);
    block_ks_append(&code.cell, &text.cell);
    Cell flag;
    logic_make_at(&flag, newline);
    block_ks_append(&code.cell, &flag);
    StackState saved = stack_save();
    ExitCode x = eval_block(&code.cell, false);
    if (x != EXIT_CODE_NONE) exit_clear();
    stack_restore(saved);
}

void gui_print_cstring(const char* text, size_t len, bool newline) {
    if (!gui_console_buffer) return;
    if (len == size_t(-1)) len = std::strlen(text);
    Cell* buffer = &gui_console_buffer->cell;
    Node target = 0;
    if (cell_type(buffer) == T_STRING) {
        SeriesBuffer* b = series_buffer_of(buffer);
        b->tail = b->head;
        target = series_node(buffer);
    }
    uint32_t remainder = 0;
    Node node = load_utf8(reinterpret_cast<const uint8_t*>(text), uint32_t(len), target, &remainder, false);
    cell_init(buffer, T_STRING);
    series_index_set(buffer, 0);
    series_node_set(buffer, node);
    gui_print_value(buffer, newline);
}

void routine_add_gui_print() {
    if (!gui_console_buffer) {
        gui_console_buffer = new CellRoot();
        cell_init(&gui_console_buffer->cell, T_UNSET);
        gui_print_path = new CellRoot();
        static const char VPRINT[] = "gui-console-ctx/terminal/vprint";
        CellRoot code;
        LexerOptions options;
        lexer_transcode(&code.cell, reinterpret_cast<const uint8_t*>(VPRINT), sizeof VPRINT - 1, options,
                        nullptr);
        cell_copy(block_cells(series_node(&code.cell)),
                  &gui_print_path->cell);
        output_hooks_add(gui_print_value, gui_print_cstring);
    }
    unset_make_at(stack_box_new(T_UNSET));
}

void routine_print_to_stdout() {
    stdout_print_values(logic_get(data_stack.args));
    unset_make_at(stack_box_new(T_UNSET));
}

// The backend reports the desktop's blink time through an optional module
// entry "caret-blink-time" of type int32_t (*)(); a module without it, or no
// module loaded, gives the default.
void routine_get_caret_blink_time() {
    int32_t ms = CARET_BLINK_DEFAULT_MS;
    if (gui_module_loaded())
        if (auto blink_time = gui_module_find_as<int32_t (*)()>("caret-blink-time")) ms = blink_time();
    integer_make_at(stack_box_new(T_INTEGER), ms);
}

void routine_gui_display_q() {
    std::optional<std::string> x11 = env_get("DISPLAY");
    std::optional<std::string> wayland = env_get("WAYLAND_DISPLAY");
    logic_make_at(stack_box_new(T_LOGIC), (x11 && !x11->empty()) || (wayland && !wayland->empty()));
}

} // namespace kel
