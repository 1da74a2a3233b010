// The cycle stack: a fixed array of node ids, searched linearly from the base.
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "runtime/collector.hpp"

namespace kel {

// Entries [0, cycle_top) are in use; the array never moves.
static Node cycle_entries[CYCLE_STACK_ENTRIES];
static uint32_t cycle_top = 0;

void cycles_push(Node node) {
    if (cycle_top + 1 >= CYCLE_STACK_ENTRIES) error_raise(ERR_TOO_DEEP);
    cycle_entries[cycle_top++] = node;
}

void cycles_pop() {
    if (cycle_top > 0) --cycle_top;
}

void cycles_drop(uint32_t n) { cycle_top = n < cycle_top ? cycle_top - n : 0; }

void cycles_reset() { cycle_top = 0; }

uint32_t cycles_depth() { return cycle_top; }

void cycles_truncate(uint32_t depth) {
    if (depth < cycle_top) cycle_top = depth;
}

bool cycles_find(Node node) {
    for (uint32_t i = 0; i < cycle_top; ++i)
        if (cycle_entries[i] == node) return true;
    return false;
}

Node cycles_node_of(const Cell* value) {
    switch (cell_type(value)) {
    case T_OBJECT: case T_ERROR: case T_PORT: return object_context(value);
    default: return series_node(value);
    }
}

const char* cycles_detect(const Cell* value, bool mold) {
    if (!cycles_find(cycles_node_of(value))) return nullptr;
    if (!mold) return "...";
    switch (cell_type(value)) {
    case T_BLOCK: case T_HASH: return "[...]";
    case T_PAREN: return "(...)";
    case T_MAP: return "#[...]";
    case T_OBJECT: return "make object! [...]";
    default: return "...";
    }
}

void cycles_update_nodes() {
    collector_update_refs(cycle_entries, cycle_entries + cycle_top);
}

void cycles_init() {
    cycle_top = 0;
    collector_remove_sweep(cycles_update_nodes);
    collector_add_sweep(cycles_update_nodes);
}

} // namespace kel
