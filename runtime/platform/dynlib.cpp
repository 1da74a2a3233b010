#include "runtime/platform/dynlib.hpp"

#include <dlfcn.h>
#include <unistd.h>

namespace kel {

void* dynlib_open(const char* path, std::string* error) {
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* reason = dlerror();
        *error = reason ? reason : "cannot load the module";
    }
    return module;
}

void* dynlib_symbol(void* module, const char* name) { return dlsym(module, name); }

std::string executable_dir() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    std::string dir(path, size_t(length));
    size_t slash = dir.rfind('/');
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

} // namespace kel
