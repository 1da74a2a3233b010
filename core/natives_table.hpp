// The natives table: the entry of every native routine by its native index
// (1 to 120; 108 to 120 are accepted by make native! but stay empty).
// native! values carry the index, so boot and serialised data stay valid.
//
// Calling convention: the caller marks a frame and pushes the arguments in
// spec order (mandatory arguments, then each refinement's arguments at the
// positions it gives); the native reads them from ARGS[0..], leaves its
// result in ARGS[0] and answers EXIT_CODE_NONE, or the pending exit it raised
// or received (break, continue, return, exit, throw) for its caller to hand on.
#pragma once
#include "core/exits.hpp"
#include <cstdint>

namespace kel {

constexpr uint32_t NATIVES_TABLE_SLOTS = 120;
constexpr uint32_t NATIVES_DEFINED = 107;  // indexes with a fixed meaning

// check: the caller has not checked the argument types (1 from code outside the
// interpreter, 0 from it). refinements: one position per refinement of the
// spec, in spec order: -1 when absent, else the index of its first argument
// cell counted from ARGS[0] (any value but -1 for one without arguments).
using NativeFn = ExitCode (*)(bool check, const int32_t* refinements);

// Takes the table (every slot empty) with the fill counter at 1.
void natives_table_init();
// Stores the entry at the fill counter and advances it; returns its index.
// Registration past the last slot raises internal error limit-hit.
uint32_t native_register(NativeFn entry);
// Stores the entry at a given index (1..120).
void native_register_at(uint32_t index, NativeFn entry);
// The entry of an index, null for an empty slot or an index outside 1..120.
NativeFn native_entry(uint32_t index);

// The comparison (a CompareOp) each slot's native computes, -1 for a native
// that is no comparison. The interpreter computes a tagged comparison of two
// numbers itself instead of calling the native. Registering an entry at a
// slot clears its tag.
extern int8_t native_comparisons[NATIVES_TABLE_SLOTS + 1];
void native_comparison_tag(uint32_t index, int32_t comparison);
inline int32_t native_comparison(uint32_t index) {
    return index <= NATIVES_TABLE_SLOTS ? native_comparisons[index] : -1;
}
// Other natives the interpreter knows by what they do, not by their entry:
// it computes square-root of a number, not of a value and any and all of a
// block of values, takes a return in a function's body and evaluates the
// block if, unless or either chooses itself. Registering an entry at a slot
// clears its role too.
enum NativeRole : uint8_t {
    NATIVE_ROLE_NONE = 0, NATIVE_ROLE_SQUARE_ROOT, NATIVE_ROLE_RETURN,
    NATIVE_ROLE_IF, NATIVE_ROLE_UNLESS, NATIVE_ROLE_EITHER, NATIVE_ROLE_NOT,
    NATIVE_ROLE_ANY, NATIVE_ROLE_ALL,
};
extern uint8_t native_roles[NATIVES_TABLE_SLOTS + 1];
void native_role_tag(uint32_t index, NativeRole role);
inline NativeRole native_role(uint32_t index) {
    return index <= NATIVES_TABLE_SLOTS ? NativeRole(native_roles[index]) : NATIVE_ROLE_NONE;
}

// Runs a routine! whose arguments are in place in the running frame, through
// the runner the library sets at start; without one it raises internal error
// routines.
struct Cell;
using RoutineRunner = void (*)(const Cell* routine);
void routine_runner_set(RoutineRunner runner);
void routine_run(const Cell* routine);
// The type a routine tests its one argument for, when it is a test of one
// type and nothing else (such as none?); 0 for any other routine. Answered by
// the routines' module once it registers the function here.
using RoutineTypeTested = uint8_t (*)(const Cell* routine);
void routine_type_tested_set(RoutineTypeTested tested);
uint8_t routine_type_tested(const Cell* routine);

} // namespace kel
