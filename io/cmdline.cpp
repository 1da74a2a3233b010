#include "io/cmdline.hpp"

#include "core/error.hpp"
#include "core/string.hpp"
#include "datatypes/map.hpp"
#include "runtime/collector.hpp"
#include "runtime/platform/os.hpp"
#include "runtime/start.hpp"

namespace kel {

std::string command_line_join(const std::vector<std::string>& args) {
    std::string line;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& arg = args[i];
        if (i) line += ' ';
        bool quote = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
        if (quote) line += '"';
        line += arg;
        if (quote) line += '"';
    }
    return line;
}

Cell* get_command_line() {
    std::vector<std::string> args;
    for (int i = 0; i < runtime_record.argc && runtime_record.argv; i++)
        args.emplace_back(runtime_record.argv[i]);
    std::string line = command_line_join(args);
    return string_load_push(reinterpret_cast<const uint8_t*>(line.data()), uint32_t(line.size()),
                            ENCODING_OS);
}

void platform_list_env(Cell* out) {
    std::vector<std::string> entries = env_entries();
    map_make_at(out, nullptr, uint32_t(entries.size() * 2));
    CellRoot name, value;
    for (const std::string& entry : entries) {
        size_t eq = entry.find('=', 1);
        if (eq == std::string::npos) eq = entry.size();
        size_t rest = eq < entry.size() ? eq + 1 : eq;
        const uint8_t* text = reinterpret_cast<const uint8_t*>(entry.data());
        string_load(text, uint32_t(eq), ENCODING_OS, &name.cell);
        string_load(text + rest, uint32_t(entry.size() - rest), ENCODING_OS, &value.cell);
        // Names differing only in letter case are distinct variables here.
        map_set_key(out, &name.cell, &value.cell, true, nullptr);
    }
}

uint8_t value_type_check(const Cell* value, uint8_t type) {
    if (cell_type(value) != type) error_raise(ERR_INVALID_ARG, value);
    return type;
}

} // namespace kel
