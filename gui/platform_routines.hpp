// The GUI's table of routines (gui/platform_routines.cpp), which start-up
// adds to the library's routines.
#pragma once
#include "core/routine_table.hpp"
#include <cstdint>

namespace kel {

extern const RoutineDef GUI_ROUTINES[];
extern const uint32_t GUI_ROUTINE_COUNT;

} // namespace kel
