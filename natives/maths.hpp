// The numeric natives: trigonometric, logarithmic and root functions
// (natives/maths.cpp), the sign, zero, shift and hex natives
// (natives/sign_shift.cpp) and max and min (natives/maxmin.cpp). Each follows
// the calling convention of core/natives_table.hpp.
#pragma once
#include "core/natives_table.hpp"
#include "natives/natives.hpp"
#include <cstdint>

namespace kel {

// natives/maths.cpp
ExitCode native_sine(bool check, const int32_t* refinements);
ExitCode native_cosine(bool check, const int32_t* refinements);
ExitCode native_tangent(bool check, const int32_t* refinements);
ExitCode native_arcsine(bool check, const int32_t* refinements);
ExitCode native_arccosine(bool check, const int32_t* refinements);
ExitCode native_arctangent(bool check, const int32_t* refinements);
ExitCode native_arctangent2(bool check, const int32_t* refinements);
ExitCode native_nan_q(bool check, const int32_t* refinements);
ExitCode native_log_2(bool check, const int32_t* refinements);
ExitCode native_log_10(bool check, const int32_t* refinements);
ExitCode native_log_e(bool check, const int32_t* refinements);
ExitCode native_exp(bool check, const int32_t* refinements);
ExitCode native_square_root(bool check, const int32_t* refinements);

// natives/sign_shift.cpp
ExitCode native_negative_q(bool check, const int32_t* refinements);
ExitCode native_positive_q(bool check, const int32_t* refinements);
ExitCode native_sign_q(bool check, const int32_t* refinements);
ExitCode native_zero_q(bool check, const int32_t* refinements);
ExitCode native_shift(bool check, const int32_t* refinements);
ExitCode native_to_hex(bool check, const int32_t* refinements);

// natives/maxmin.cpp
ExitCode native_max(bool check, const int32_t* refinements);
ExitCode native_min(bool check, const int32_t* refinements);

// The greater (maximum set) or lesser of ARGS[0] and ARGS[1], left in
// ARGS[0]. Pairs, points and tuples are combined component by component with
// a number or a value of their own kind; a NaN float wins over a number;
// anything else is decided by lesser?, a tie keeping value1 for the maximum
// and value2 for the minimum.
void max_min(bool maximum);

} // namespace kel
