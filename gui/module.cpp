#include "gui/module.hpp"
#include "core/error.hpp"
#include "core/error_catalog.hpp"
#include "core/interpreter.hpp"
#include "core/library_context.hpp"
#include "core/string.hpp"
#include "natives/system.hpp"
#include "runtime/collector.hpp"
#include "runtime/platform/dynlib.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

namespace kel {

static const GuiModuleEntry* module_entries = nullptr;  // null until loaded

// Raises internal error not-here with a text naming what is missing.
[[noreturn]] static void gui_module_unavailable(const std::string& reason) {
    std::string text = "GUI (" + reason + ")";
    CellRoot arg;
    string_load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), ENCODING_UTF8,
                &arg.cell);
    error_raise(ERR_NOT_HERE, &arg.cell);
}

// wait with the module loaded: the display is answered during the wait, then
// the windows' queued messages are handled once.
static void gui_wait(double seconds) {
    gui_module_fn_as<void (*)(double)>("wait-seconds")(seconds);
    Cell word = library_word("gui-message-loop");
    CellRoot loop(*interp_word_slot(&word)), ignored;
    function_apply(&loop.cell, nullptr, 0, &ignored.cell);
}

const GuiModuleEntry* gui_module() {
    if (module_entries) return module_entries;
    const char* forced = std::getenv("KEL_GUI_MODULE");
    std::string path = forced && *forced ? std::string(forced) : executable_dir() + "kelgui.so";
    std::string error;
    void* module = dynlib_open(path.c_str(), &error);
    if (!module) gui_module_unavailable(error);
    auto entries = reinterpret_cast<GuiModuleEntriesFn>(dynlib_symbol(module, GUI_MODULE_ENTRIES_SYMBOL));
    if (!entries) gui_module_unavailable(path + ": no " + GUI_MODULE_ENTRIES_SYMBOL);
    module_entries = entries();
    native_wait_hook_set(gui_wait);
    return module_entries;
}

GuiFn gui_module_find(const char* name) {
    for (const GuiModuleEntry* entry = gui_module(); entry->name; entry++)
        if (std::strcmp(entry->name, name) == 0) return entry->fn;
    return nullptr;
}

GuiFn gui_module_fn(const char* name) {
    GuiFn fn = gui_module_find(name);
    if (!fn) gui_module_unavailable(std::string("no entry ") + name);
    return fn;
}

bool gui_module_loaded() { return module_entries != nullptr; }

} // namespace kel

#ifdef KEL_SANITIZE
// The leak checker of sanitizer builds reports what the toolkit's libraries
// keep for the whole process (caches, type registrations, the bus
// connection); those are not leaks of ours.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n"
           "leak:libgtk-3.so\n"
           "leak:libgdk-3.so\n"
           "leak:libfontconfig.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libcairo.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libatk-bridge-2.0.so\n"
           "leak:libatspi.so\n"
           "leak:libX11.so\n";
}
#endif

#ifdef KEL_SANITIZE
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_options() {
    return "print_suppressions=0";
}
#endif
