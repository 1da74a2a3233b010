// The module's table of entry points. Each backend file exports its entries
// with KEL_GUI_EXPORT at namespace scope; the entries are collected when the
// module is loaded and handed to the runtime's loader (gui/module.hpp) as one
// table.
#pragma once
#include "gui/module.hpp"

namespace kel {

// Adds one entry to the module's table; used through KEL_GUI_EXPORT.
struct GuiModuleExport {
    GuiModuleExport(const char* name, GuiFn fn);
};

#define KEL_GUI_EXPORT_JOIN2(a, b) a##b
#define KEL_GUI_EXPORT_JOIN(a, b) KEL_GUI_EXPORT_JOIN2(a, b)
// Exports fn (any function pointer) under name.
#define KEL_GUI_EXPORT(name, fn)                                                    \
    static const ::kel::GuiModuleExport KEL_GUI_EXPORT_JOIN(gui_export_, __LINE__)( \
        name, reinterpret_cast<::kel::GuiFn>(fn))

} // namespace kel
