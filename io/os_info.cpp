// The description of the operating system that os-info returns, from the
// kernel's own report.
#include "io/cmdline.hpp"

#include "core/context.hpp"
#include "core/object.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/tuple.hpp"
#include "runtime/collector.hpp"
#include "runtime/platform/os.hpp"

#include <algorithm>

namespace kel {

// The architecture word of a kernel machine name.
static const char* os_arch_name(const std::string& machine) {
    if (machine == "x86_64" || machine == "amd64") return "x86-64";
    if (machine.size() == 4 && machine[0] == 'i' && machine.compare(2, 2, "86") == 0) return "x86-32";
    if (machine == "aarch64" || machine == "arm64") return "ARM64";
    if (machine.compare(0, 3, "arm") == 0) return "ARM";
    if (machine == "ia64") return "IA-64";
    return "Unknown";
}

// Reads a decimal number at text[*at], advancing past it; 0 when none is there.
static uint32_t release_number(const std::string& text, size_t* at) {
    uint32_t n = 0;
    while (*at < text.size() && text[*at] >= '0' && text[*at] <= '9') {
        if (n < 100000000) n = n * 10 + uint32_t(text[*at] - '0');
        ++*at;
    }
    return n;
}

// Sets one field of the object held in out.
static void os_field_set(Cell* out, const char* name, const Cell* value) {
    CellRoot held(*value);
    CellRoot word(word_intern(name));
    context_put_field(object_context(out), &word.cell, &held.cell);
}

void platform_os_info(Cell* out) {
    SystemName system;
    if (!system_name_get(&system)) system = SystemName{"Unknown", "", ""};
    // Release text such as "6.1.0-18-amd64": version 6.1.0, build 18.
    uint32_t numbers[3] = {0, 0, 0};
    size_t at = 0;
    for (int i = 0; i < 3; i++) {
        numbers[i] = release_number(system.release, &at);
        if (at >= system.release.size() || system.release[at] != '.') break;
        at++;
    }
    size_t dash = system.release.find('-');
    int32_t build = 0;
    if (dash != std::string::npos) {
        size_t from = dash + 1;
        build = int32_t(release_number(system.release, &from));
    }

    object_make_at(out, 4);
    Cell* name = string_load_push(reinterpret_cast<const uint8_t*>(system.system.data()),
                                  uint32_t(system.system.size()), ENCODING_UTF8);
    os_field_set(out, "name", name);
    stack_pop(1);
    Cell arch = word_intern(os_arch_name(system.machine));
    os_field_set(out, "arch", &arch);
    // A tuple byte holds at most 255: larger release numbers (long-lived
    // stable series reach patch levels above it) saturate.
    Cell version;
    cell_init(&version, T_NONE);
    uint32_t bytes = 0;
    for (int i = 0; i < 3; i++) bytes |= std::min<uint32_t>(numbers[i], 255) << (8 * i);
    tuple_init(&version, 3, bytes, 0, 0);
    os_field_set(out, "version", &version);
    Cell number;
    cell_init(&number, T_NONE);
    integer_make_at(&number, build);
    os_field_set(out, "build", &number);
}

} // namespace kel
