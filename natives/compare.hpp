// Comparison, identity, negation and type natives. Each follows the calling
// convention of core/natives_table.hpp and leaves a logic!, a datatype! or a
// word! in ARGS[0].
#pragma once
#include "runtime/cell.hpp"
#include "core/natives_table.hpp"
#include <cstdint>

namespace kel {

ExitCode native_equal_q(bool check, const int32_t* refinements);
ExitCode native_not_equal_q(bool check, const int32_t* refinements);
ExitCode native_strict_equal_q(bool check, const int32_t* refinements);
ExitCode native_lesser_q(bool check, const int32_t* refinements);
ExitCode native_greater_q(bool check, const int32_t* refinements);
ExitCode native_lesser_or_equal_q(bool check, const int32_t* refinements);
ExitCode native_greater_or_equal_q(bool check, const int32_t* refinements);
ExitCode native_same_q(bool check, const int32_t* refinements);
ExitCode native_not(bool check, const int32_t* refinements);
// refinements[0]: /word.
ExitCode native_type_q(bool check, const int32_t* refinements);

// Whether two values are the same value: identical scalars, the same position
// in the same series, the same context or function.
bool same_q(const Cell* value1, const Cell* value2);

} // namespace kel
