// Natives between text and encoded text or bytes: dehex and enhex (URL-style
// %xx escapes), debase and enbase (base 2, 16, 58 and 64). The escaping and
// the digit work belong to the url! and binary! datatypes; these size the
// output and build the result value.
#pragma once
#include "runtime/cell.hpp"
#include "core/natives_table.hpp"
#include <cstdint>

namespace kel {

ExitCode native_dehex(bool check, const int32_t* refinements);
ExitCode native_enhex(bool check, const int32_t* refinements);
// refinements[0]: /base (its base-value argument's cell).
ExitCode native_debase(bool check, const int32_t* refinements);
ExitCode native_enbase(bool check, const int32_t* refinements);

} // namespace kel
