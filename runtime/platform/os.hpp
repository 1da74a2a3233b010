// Process and system services of the platform layer: the environment as a
// whole, the kernel's description of the system and the process's end.
#pragma once
#include <string>
#include <vector>

namespace kel {

// Every entry of the process environment as the OS keeps it ("NAME=value"),
// in the OS's order.
std::vector<std::string> env_entries();

// The kernel's description of the system.
struct SystemName {
    std::string system;   // the kernel's name, such as "Linux"
    std::string release;  // its release text, such as "6.1.0-18-amd64"
    std::string machine;  // the hardware name, such as "x86_64"
};
// False when the OS cannot report it.
bool system_name_get(SystemName* out);

// Flushes the C streams and ends the process at once with the status.
[[noreturn]] void process_exit(int status);

} // namespace kel
