// The natives that make values from others: case changes, the as-
// constructors, map extension, local file names and series coercion
// (natives/coerce.cpp), the
// set operations (natives/setops.cpp) and construct, value? and size?
// (natives/construct.cpp). Each follows the calling convention of
// core/natives_table.hpp.
#pragma once
#include "core/natives_table.hpp"
#include <cstdint>

namespace kel {

// natives/coerce.cpp
ExitCode native_uppercase(bool check, const int32_t* refinements);
ExitCode native_lowercase(bool check, const int32_t* refinements);
ExitCode native_as_pair(bool check, const int32_t* refinements);
ExitCode native_as_point2d(bool check, const int32_t* refinements);
ExitCode native_as_point3d(bool check, const int32_t* refinements);
ExitCode native_as_money(bool check, const int32_t* refinements);
ExitCode native_extend(bool check, const int32_t* refinements);
ExitCode native_to_local_file(bool check, const int32_t* refinements);
ExitCode native_as(bool check, const int32_t* refinements);

// natives/setops.cpp
ExitCode native_union(bool check, const int32_t* refinements);
ExitCode native_intersect(bool check, const int32_t* refinements);
ExitCode native_unique(bool check, const int32_t* refinements);
ExitCode native_difference(bool check, const int32_t* refinements);
ExitCode native_exclude(bool check, const int32_t* refinements);
ExitCode native_complement_q(bool check, const int32_t* refinements);

// The set operation (a SetOp code of core/block.hpp) on ARGS[0] and ARGS[1]
// (ARGS[0] alone for unique), the result left in ARGS[0]. skip is the /skip
// size cell or null. The two values must be of one kind (block! and hash!
// count as one), else script error expect-val; the first value's datatype
// picks the kernel.
void set_operation(bool case_, const Cell* skip, int32_t op);

// natives/construct.cpp
ExitCode native_construct(bool check, const int32_t* refinements);
ExitCode native_value_q(bool check, const int32_t* refinements);
ExitCode native_size_q(bool check, const int32_t* refinements);

} // namespace kel
