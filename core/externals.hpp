// The externals table: a block of value cells addressed by 1-based slot
// numbers, through which values are handed to the operating system as plain
// integers and found again. Free slots form a list threaded through integer!
// cells (payload word 2: 0-based index of the next free slot, -1 at the end).
// The block is a root of the collector.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

constexpr uint32_t EXTERNALS_CAPACITY = 100;  // slots of a new table

// Makes the block with EXTERNALS_CAPACITY slots, every one free.
void externals_init();
// Copies the value into the first free slot and returns its slot number. When
// no slot is free the table doubles, keeping its content, and the new half is
// free first.
uint32_t externals_store(const Cell* value);
// The cell of a slot, or nullptr for a slot number outside the table. Valid
// until the next allocation.
Cell* externals_cell_at(uint32_t slot);
// Frees a slot for the next store; slot 0, a slot outside the table and a slot
// already free are ignored.
void externals_remove(uint32_t slot);

// Slots in the table.
uint32_t externals_capacity();
// The block's node, as the collector marks and re-points it.
Node* externals_node_slot();

} // namespace kel
