#include "gui/clipboard.hpp"
#include "core/routine_table.hpp"
#include "gui/module.hpp"

namespace kel {

// Runs the module's entry of that name in the running routine's frame.
static void clipboard_entry_call(const char* name) {
    gui_module_fn_as<RoutineFn>(name)();
}

void routine_read_clipboard() { clipboard_entry_call("clipboard-read"); }
void routine_write_clipboard() { clipboard_entry_call("clipboard-write"); }

} // namespace kel
