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
#include "runtime/cell.hpp"
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

// Adds a table of routines from a layer above the library (the GUI, the
// consoles). Its entries follow the library's own, in the order the tables
// were added. Called at start, before routines_define.
void routines_table_add(const RoutineDef* table, uint32_t count);

// Makes every routine of the tables a routine! and sets its word, and has the
// interpreter run routine! values through routine_call. Called once at start,
// before the library's top level runs.
void routines_define();

// Runs a routine! whose arguments are in place in the running frame. A
// routine whose entry names no table entry raises internal error routines.
void routine_call(const Cell* routine);

} // namespace kel
