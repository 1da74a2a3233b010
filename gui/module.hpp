// The GUI backend module (kelgui.so): everything that calls GTK, GDK, Cairo or
// Pango lives there and is loaded on first use, so that start-up never pays
// for those libraries. The module exports one C function returning a table of
// named entry points; the runtime finds an entry by its name and calls it with
// the signature both sides agree on for that name.
//
// Entries named like routines ("platform-make-view") are RoutineFn: they run
// inside the routine's frame, read ARGS[0..] and leave their result in ARGS[0].
#pragma once
#include <cstdint>

namespace kel {

// Generic entry point; cast to the agreed signature before calling.
using GuiFn = void (*)();

struct GuiModuleEntry {
    const char* name;  // null ends the table
    GuiFn fn;
};

// The name of the module's one exported function, of type GuiModuleEntriesFn.
constexpr const char* GUI_MODULE_ENTRIES_SYMBOL = "kel_gui_module_entries";
using GuiModuleEntriesFn = const GuiModuleEntry* (*)();

// Loads the module once (from $KEL_GUI_MODULE when set, else kelgui.so in the
// executable's folder) and returns its table. A module that cannot be loaded
// raises internal error not-here with the system's reason; the next call
// tries again.
const GuiModuleEntry* gui_module();

// The entry of that name, loading the module first. A name the module lacks
// raises internal error not-here naming it.
GuiFn gui_module_fn(const char* name);

// The entry of that name, loading the module first; null when the module has
// no such entry. Raises like gui_module when the module cannot be loaded.
GuiFn gui_module_find(const char* name);

// The entry of that name as the signature F both sides agree on for it (the
// one cast from the generic entry type); gui_module_find_as gives null when
// the module lacks it.
template <typename F> F gui_module_fn_as(const char* name) { return reinterpret_cast<F>(gui_module_fn(name)); }
template <typename F> F gui_module_find_as(const char* name) { return reinterpret_cast<F>(gui_module_find(name)); }

// True once the module is loaded; loads nothing.
bool gui_module_loaded();

} // namespace kel
