// The cycle guard: every recursive walk over values (mold, form, compare,
// deep copy, draw) records the series or context it is inside, so that meeting
// the same one again is detected instead of recursing for ever.
//
// Walkers hold their entry with a CycleGuard, which pops it on every way out,
// errors included; catchers bring the depth back to what they saw on entry
// (stack_restore), so no entry outlives the walk that pushed it.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

// Room for 999 nested entries: the 1000th push fails.
constexpr uint32_t CYCLE_STACK_ENTRIES = 1000;

// Pushes the node; the 1000th nested entry raises internal error too-deep
// without storing anything (the entries below stay for their guards to pop).
void cycles_push(Node node);
// Drops the newest entry, unless the stack is empty.
void cycles_pop();
// Drops n entries (never below empty).
void cycles_drop(uint32_t n);
// Empties the stack.
void cycles_reset();
uint32_t cycles_depth();
// Drops entries down to the given depth; a larger depth changes nothing.
void cycles_truncate(uint32_t depth);
// Whether the node is on the stack.
bool cycles_find(Node node);

// The node a walker records for a value: the context of an object!, error!
// or port!, else the series node.
Node cycles_node_of(const Cell* value);
// When the value's node is on the stack, the placeholder text to write in its
// place ("[...]" for a block when molding, "..." when forming ...); null when
// it is not. The caller appends the text and takes its length from its budget.
const char* cycles_detect(const Cell* value, bool mold);

// The entry of one walk: pushed by the constructor, popped by the destructor.
struct CycleGuard {
    uint32_t depth;
    explicit CycleGuard(Node node) : depth(cycles_depth()) { cycles_push(node); }
    ~CycleGuard() { cycles_truncate(depth); }
    CycleGuard(const CycleGuard&) = delete;
    CycleGuard& operator=(const CycleGuard&) = delete;
};

// Empties the stack and registers the collector hook that re-points entries
// whose nodes moved.
void cycles_init();
// The collector's sweep hook: rewrites the entries whose nodes moved.
void cycles_update_nodes();

} // namespace kel
