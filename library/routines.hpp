// The routine registry: C++ functions that the library reaches as routine!
// values. Each entry names the routine, gives its spec as Kel text and says
// what runs when it is called: a function, or a type test over the value's
// type id (a datatype or the typeset held by a global word). At start every
// entry becomes a routine! set to its global word; the value's entry cell
// holds the entry's index in the table.
//
// A routine runs in a native frame marked by the interpreter: it reads its
// arguments from ARGS[0], ARGS[1] ... in spec order and leaves its result in
// ARGS[0] with the data top just above it, as natives do.
#pragma once
#include "core/cell.hpp"
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

// The GUI's routines (gui/platform_routines.cpp), defined after the table's own.
extern const RoutineDef GUI_ROUTINES[];
extern const uint32_t GUI_ROUTINE_COUNT;

// Makes every routine of the table a routine! and sets its word. Called once
// at start, before the library's top level runs.
void routines_define();

// Runs a routine! whose arguments are in place in the running frame. A
// routine whose entry names no table entry raises internal error routines.
void routine_call(const Cell* routine);

} // namespace kel
