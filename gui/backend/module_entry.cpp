#include "gui/backend/module_entry.hpp"

#include <vector>

namespace kel {

// The entries in the order the module's files registered them, ended by a
// null entry once the table is handed out.
static std::vector<GuiModuleEntry>& export_table() {
    static std::vector<GuiModuleEntry> table;
    return table;
}

GuiModuleExport::GuiModuleExport(const char* name, GuiFn fn) { export_table().push_back({name, fn}); }

} // namespace kel

extern "C" __attribute__((visibility("default"))) const kel::GuiModuleEntry* kel_gui_module_entries() {
    std::vector<kel::GuiModuleEntry>& table = kel::export_table();
    if (table.empty() || table.back().name) table.push_back({nullptr, nullptr});
    return table.data();
}
