// The module's table of entry points. Each backend file exports its entries
// in a table at its foot; the module's one exported function hands the
// runtime's loader (gui/module.hpp) all of them as one table.
#pragma once
#include "gui/module.hpp"
#include <cstdint>

namespace kel {

// Casts an entry point (any function) to the table's generic type.
template <class F> inline GuiFn gui_fn(F* f) { return reinterpret_cast<GuiFn>(f); }

// The entries one backend file exports.
struct GuiExportTable {
    const GuiModuleEntry* entries;
    uint32_t count;
};
extern const GuiExportTable BACKEND_EXPORTS;  // gui/backend/backend.cpp
extern const GuiExportTable CLIPBOARD_EXPORTS;  // gui/backend/clipboard.cpp
extern const GuiExportTable DIALOGS_EXPORTS;  // gui/backend/dialogs.cpp
extern const GuiExportTable DRAW_EXPORTS;  // gui/backend/draw.cpp
extern const GuiExportTable FONTS_EXPORTS;  // gui/backend/fonts.cpp
extern const GuiExportTable LOOP_EXPORTS;  // gui/backend/loop.cpp
extern const GuiExportTable RICH_BOX_EXPORTS;  // gui/backend/rich_box.cpp
extern const GuiExportTable SCROLLERS_EXPORTS;  // gui/backend/scrollers.cpp
extern const GuiExportTable WIDGETS_EXPORTS;  // gui/backend/widgets.cpp
extern const GuiExportTable WINDOWS_EXPORTS;  // gui/backend/windows.cpp

} // namespace kel
