#include "core/block.hpp"
#include "core/externals.hpp"
#include "core/error.hpp"
#include "core/numbers.hpp"
#include "runtime/collector.hpp"

namespace kel {

static Node externals_node = 0;       // the block of cells, capacity cells long
static uint32_t capacity = 0;          // slots in the block
static int32_t free_head = -1;         // 0-based index of the first free slot, -1 for none

static Cell* externals_cells() {
    return block_cells(externals_node);
}

// Chains slots first..last (0-based) free in order; the last one ends the list.
static void externals_chain_free(uint32_t first, uint32_t last) {
    Cell* cells = externals_cells();
    for (uint32_t i = first; i <= last; i++) {
        cell_init(&cells[i], T_INTEGER);
        integer_set(&cells[i], i == last ? -1 : int32_t(i + 1));
    }
}

// Root callback: the block and every value stored in it.
static void externals_mark() {
    if (externals_node != 0) collector_mark_block(&externals_node);
}

void externals_init() {
    externals_node = 0;
    collector_remove_root(externals_mark);
    collector_add_root(externals_mark);
    capacity = EXTERNALS_CAPACITY;
    externals_node = series_new_cells(capacity);
    SeriesBuffer* buffer = series_buffer(externals_node);
    buffer->tail = buffer->head + capacity * sizeof(Cell);
    externals_chain_free(0, capacity - 1);
    free_head = 0;
}

static void externals_grow() {
    if (capacity > INT32_MAX / (2 * sizeof(Cell))) error_raise(ERR_NO_MEMORY);
    uint32_t old = capacity;
    SeriesBuffer* buffer = series_grow_copy(series_buffer(externals_node),
                                            int32_t(2 * old * sizeof(Cell)));
    capacity = 2 * old;
    buffer->tail = buffer->head + capacity * sizeof(Cell);
    externals_chain_free(old, capacity - 1);
    free_head = int32_t(old);
}

uint32_t externals_store(const Cell* value) {
    // The value may lie in the table itself, which growth moves.
    Cell copy;
    cell_copy(value, &copy);
    if (free_head < 0) externals_grow();
    uint32_t index = uint32_t(free_head);
    Cell* cell = &externals_cells()[index];
    free_head = integer_get(cell);
    cell_copy(&copy, cell);
    return index + 1;
}

Cell* externals_cell_at(uint32_t slot) {
    if (slot < 1 || slot > capacity) return nullptr;
    return &externals_cells()[slot - 1];
}

// A free slot is an integer! cell on the free list; a stored integer! is not.
static bool externals_slot_free(uint32_t index) {
    Cell* cells = externals_cells();
    for (int32_t i = free_head; i >= 0; i = integer_get(&cells[i]))
        if (uint32_t(i) == index) return true;
    return false;
}

void externals_remove(uint32_t slot) {
    if (slot < 1 || slot > capacity) return;
    uint32_t index = slot - 1;
    Cell* cell = &externals_cells()[index];
    if (cell_type(cell) == T_INTEGER && externals_slot_free(index)) return;
    cell_init(cell, T_INTEGER);
    integer_set(cell, free_head);
    free_head = int32_t(index);
}

uint32_t externals_capacity() { return capacity; }

Node* externals_node_slot() { return &externals_node; }

} // namespace kel
