// The routine registry: C++ functions that the library reaches as routine!
// values, from the tables the modules export (core/routine_table.hpp). Each
// entry names the routine, gives its spec as Kel text and says what runs when
// it is called: a function, or a type test over the value's type id (a
// datatype or the typeset held by a global word). At start every entry
// becomes a routine! set to its global word; the value's entry cell holds the
// entry's number across the tables, which holds only for the running process
// (routine! values are neither encoded nor molded with it).
//
// A routine runs in a native frame marked by the interpreter: it reads its
// arguments from ARGS[0], ARGS[1] ... in spec order and leaves its result in
// ARGS[0] with the data top just above it, as natives do.
#pragma once
#include "core/routine_table.hpp"
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// Adds a module's table of routines; its entries follow those of the tables
// added before it. Adding a table again adds nothing. Called at start, before
// routines_define; more than the registry holds raises internal error
// limit-hit.
void routines_table_add(const RoutineDef* table, uint32_t count);

// Makes every routine of the tables a routine! and sets its word, and has the
// interpreter run routine! values through routine_call. Called once at start,
// before the library's top level runs.
void routines_define();

// The library's own routines (library/routines.cpp).
extern const RoutineDef LIBRARY_ROUTINES[];
extern const uint32_t LIBRARY_ROUTINE_COUNT;

// Runs a routine! whose arguments are in place in the running frame. A
// routine whose entry names no table entry raises internal error routines.
void routine_call(const Cell* routine);

} // namespace kel
