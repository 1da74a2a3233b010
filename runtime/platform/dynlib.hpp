// Loadable modules: opening a shared object and finding its symbols, and the
// folder of the running executable, where the runtime's own modules sit.
#pragma once
#include <string>

namespace kel {

// Opens the shared object at path, resolving its symbols at once. Null when
// it cannot be loaded; error then holds the system's reason.
void* dynlib_open(const char* path, std::string* error);

// The address of an exported symbol of an opened module, or null.
void* dynlib_symbol(void* module, const char* name);

// The folder of the running executable, ending with a slash; empty when the
// system cannot say.
std::string executable_dir();

} // namespace kel
