// The consoles' table of routines (console/routines.cpp): the terminal, the
// graphical console's printing, and the console's settings. Start-up adds it
// to the library's routines.
#pragma once
#include "core/routine_table.hpp"
#include <cstdint>

namespace kel {

extern const RoutineDef CONSOLE_ROUTINES[];
extern const uint32_t CONSOLE_ROUTINE_COUNT;

} // namespace kel
