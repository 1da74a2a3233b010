#include "gui/backend/module_entry.hpp"

#include <vector>

namespace kel {

// Every backend file's table of exports.
static const GuiExportTable* const export_tables[] = {
    &BACKEND_EXPORTS,
    &CLIPBOARD_EXPORTS,
    &DIALOGS_EXPORTS,
    &DRAW_EXPORTS,
    &FONTS_EXPORTS,
    &LOOP_EXPORTS,
    &RICH_BOX_EXPORTS,
    &SCROLLERS_EXPORTS,
    &WIDGETS_EXPORTS,
    &WINDOWS_EXPORTS,
};

} // namespace kel

// The entries of every table in turn, ended by a null entry.
extern "C" __attribute__((visibility("default"))) const kel::GuiModuleEntry* kel_gui_module_entries() {
    static std::vector<kel::GuiModuleEntry> table;
    if (table.empty()) {
        for (const kel::GuiExportTable* t : kel::export_tables)
            table.insert(table.end(), t->entries, t->entries + t->count);
        table.push_back({nullptr, nullptr});
    }
    return table.data();
}
