// The ownership table: which series belongs to which object field, so that a
// change deep inside a field's series reaches the object's on-deep-change*.
// One global hash table keyed by series node (kind 4, 3 value cells an entry:
// the owned value, the owner object, the field word). An entry dies with its
// series or with its owner's context: the table keeps neither alive.
//
// An owned series carries SERIES_OWNED in its buffer flags; an object that has
// recorded itself as owner of its fields' series carries CONTEXT_OWNS_SERIES in
// its context cell.
#pragma once
#include "runtime/cell.hpp"
#include "core/series.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

constexpr uint32_t OWNERSHIP_TABLE_SIZE = 1000;

// Creates the table and registers its collector root and sweep.
void ownership_init();
Node ownership_table();

// Records the owner and field word of a series value and, for blocks, of every
// series inside it; an object's fields are walked with the nested object's
// field words. A series already owned is not recorded again. Cells must not
// lie in a series buffer.
void ownership_set_deep(const Cell* value, const Cell* owner, const Cell* word);
// ownership_set_deep, then flags the owner's context as owner of its series.
void ownership_set_object(const Cell* value, const Cell* owner, const Cell* word);
// Removes the ownership of a series value and of what it holds.
void ownership_clear_deep(const Cell* value);
// ownership_clear_deep on count cells of a block from index.
void ownership_clear_range(const Cell* block, uint32_t index, uint32_t count);
// The owner object of an owned node written to out (none when not owned);
// true when owned.
bool ownership_find(Node node, Cell* out);

// Runs on-deep-change* of the owner: installed by the object module.
using DeepChangeNotify = void (*)(const Cell* owner, const Cell* word, const Cell* target,
                                  const Cell* action, int32_t index, int32_t count);
void ownership_notify_set(DeepChangeNotify notify);
// Called by modifying actions before a change (with the action's word) and
// after it (with its past form): when the value's series is owned by an object
// with change handlers, runs the notification and returns true.
bool ownership_check(const Cell* value, const Cell* action, int32_t index, int32_t count);

// The kinds of series that are recorded, keyed by their node (payload word 2).
inline bool ownership_kind_q(uint8_t type) {
    switch (type) {
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: case T_BINARY:
    case T_VECTOR: case T_IMAGE: case T_BITSET: case T_BLOCK: case T_PAREN: case T_HASH:
    case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
        return true;
    default: return false;
    }
}
// False when ownership_check has nothing to find for the value without
// looking it up: a series of a recorded kind whose buffer lacks SERIES_OWNED
// (the flag travels with the buffer wherever it moves), or a value of any
// other kind but object!.
inline bool ownership_possible_q(const Cell* value) {
    uint8_t type = cell_type(value);
    if (type == T_OBJECT) return true;
    if (!ownership_kind_q(type) || !series_node(value)) return false;
    return (series_buffer_of(value)->flags & SERIES_OWNED) != 0;
}

} // namespace kel
