// The actions layer: one entry per action (1..62) that reads its arguments
// from the running frame, finds the function the first argument's datatype
// registered for the action in constant time and calls it with typed
// arguments; the result lands in ARGS[0]. Typed dispatchers do the same for
// values outside a frame. Comparison and its operation codes live here too.
#pragma once
#include "runtime/cell.hpp"
#include "core/registry.hpp"
#include <cstdint>

namespace kel {

// An action's entry: refinement positions as natives get them (one per
// refinement of the action's spec, -1 when absent, else the index of its
// first argument cell counted from ARGS[0]).
using ActionEntry = void (*)(const int32_t* refinements);

// Fills the entry table (slot 8 stays empty). Runs once, after every datatype
// is registered.
void actions_table_init();
// The entry of action n, null for 8 and for n outside 1..62.
ActionEntry action_entry(uint32_t n);

// ---- lookup ----------------------------------------------------------------------------

// The function of action n for the type; a type without one raises script
// error expect-arg (calling word, the datatype, the first parameter's word).
ActionFn action_lookup(uint8_t type, int n);
// The error of that lookup, for an action whose function cannot serve the type.
[[noreturn]] void action_unsupported(uint8_t type);
inline ActionFn action_lookup_value(const Cell* value, int n) {
    return action_lookup(cell_type(value), n);
}
ActionFn action_lookup_first_arg(int n);
// The same lookups, as the action's own function type F.
template <class F> inline F action_lookup_as(uint8_t type, int n) {
    return reinterpret_cast<F>(action_lookup(type, n));
}
template <class F> inline F action_lookup_value_as(const Cell* value, int n) {
    return reinterpret_cast<F>(action_lookup_value(value, n));
}

// ---- typed dispatchers -----------------------------------------------------------------
// Refinement arguments are null when absent.

// make (to: false) or to (true): prototype (a datatype! selects the type) and
// spec; the result is written into out.
void dispatch_make(const Cell* proto, const Cell* spec, bool to, Cell* out);
// A new string with the formed (mold: molded) value, written into out; with a
// part limit (limit >= 0) cut to it.
void dispatch_form(const Cell* value, Cell* out, int32_t limit);
void dispatch_mold(const Cell* value, Cell* out, bool only, bool all, bool flat, int32_t limit);
// Path selection of the element in the parent: a get writes the value into
// out; a set (set_value not null) stores it. A type without it raises script
// error bad-path-type with the path, the datatype and the path positioned
// after the element (index: the element's position in the path's buffer), or
// bad-path-type2 with the element and the datatype when no path is given.
void dispatch_eval_path(const Cell* parent, const Cell* element, const Cell* set_value,
                        const Cell* path, uint32_t index, bool case_, Cell* out);

// The number a pick or poke index stands for: an integer! or char! its value,
// a logic! 1 for true and 2 for false. False for any other index.
bool index_argument(const Cell* index, int64_t* n);

// ---- comparison ------------------------------------------------------------------------

// The truth of the operation (CompareOp) on the two values. Values that
// cannot be compared are unequal and raise invalid-compare for an ordering.
bool compare_logic(const Cell* value1, const Cell* value2, int32_t op);
// The ordering of sort: -1, 0, 1 (or -2 when the type cannot compare).
int32_t compare_values(const Cell* value1, const Cell* value2, int32_t op);
// ARGS[0] := logic! of compare_logic(ARGS[0], ARGS[1], op).
void compare_push_logic(int32_t op);

} // namespace kel
