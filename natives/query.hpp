// Natives over words and block markers: unset, context?, new-line and
// new-line?.
#pragma once
#include "runtime/cell.hpp"
#include "core/natives_table.hpp"
#include <cstdint>

namespace kel {

ExitCode native_unset(bool check, const int32_t* refinements);
ExitCode native_context_q(bool check, const int32_t* refinements);
// refinements[0]: /all; refinements[1]: /skip (its size argument's cell).
ExitCode native_new_line(bool check, const int32_t* refinements);
ExitCode native_new_line_q(bool check, const int32_t* refinements);

} // namespace kel
