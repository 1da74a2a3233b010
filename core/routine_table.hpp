// A table of routines: C++ functions that the library reaches as routine!
// values. Each module that owns routines exports its table; start-up lists
// the tables for the library's routine registry (library/routines.hpp),
// which numbers their entries in that order.
#pragma once
#include <cstdint>

namespace kel {

using RoutineFn = void (*)();

// One routine. Exactly one of fn, type and typeset says what the call does.
struct RoutineDef {
    const char* name;     // the global word the routine is set to
    const char* spec;     // its spec block's text, without its brackets
    RoutineFn fn;         // the function, or null
    uint8_t type;         // datatype test: true when the value has this type id, else 0
    const char* typeset;  // typeset test: the global word holding the typeset, or null
};

} // namespace kel
