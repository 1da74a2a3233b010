// The process's command line as one string, the environment as a map! and the
// description of the operating system.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>
#include <string>
#include <vector>

namespace kel {

// The arguments joined by single blanks, each argument that is empty or holds
// a blank or a tab put in double quotes, so that the library's splitter of the
// command line (blanks and tabs separate, double quotes group) gives the same
// arguments back. An argument holding a double quote is written as it stands:
// the splitter has no escape for it.
std::string command_line_join(const std::vector<std::string>& args);

// Pushes the whole command line of the process (program path first), joined
// as command_line_join does, as a string!.
Cell* get_command_line();

// The process environment as a map! of name and value strings, written into
// out (on the data stack or rooted). Each entry is split at its first "="
// that is not its first character.
void platform_list_env(Cell* out);

// A new object with the fields name (string!, the kernel's name), arch
// (word!: x86-32, x86-64, ARM, ARM64, IA-64 or Unknown), version (tuple! of
// the first three numbers of the kernel release) and build (integer!: the
// number after the release's first "-", else 0), written into out.
void platform_os_info(Cell* out);

// Returns the type id when the value is of that type; otherwise raises script
// error invalid-arg with the value.
uint8_t value_type_check(const Cell* value, uint8_t type);

} // namespace kel
