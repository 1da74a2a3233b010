#include "runtime/platform/os.hpp"

#include <cstdio>
#include <cstdlib>
#include <sys/utsname.h>
#include <unistd.h>

extern char** environ;

namespace kel {

std::vector<std::string> env_entries() {
    std::vector<std::string> entries;
    for (char** entry = environ; entry && *entry; entry++) entries.emplace_back(*entry);
    return entries;
}

bool system_name_get(SystemName* out) {
    utsname name{};
    if (uname(&name) != 0) return false;
    out->system = name.sysname;
    out->release = name.release;
    out->machine = name.machine;
    return true;
}

void process_exit(int status) {
    std::fflush(nullptr);
    std::exit(status);
}

} // namespace kel
