#include "runtime/platform/library_api.hpp"
#include "runtime/platform/dynlib.hpp"

namespace kel {

bool library_api_load(const char* soname, const LibrarySymbol* symbols, size_t count, std::string* error) {
    void* library = dynlib_open(soname, error);
    if (!library) return false;
    for (size_t i = 0; i < count; i++) {
        *symbols[i].slot = dynlib_symbol(library, symbols[i].name);
        if (!*symbols[i].slot) {
            *error = std::string(soname) + " has no " + symbols[i].name;
            return false;
        }
    }
    return true;
}

} // namespace kel
