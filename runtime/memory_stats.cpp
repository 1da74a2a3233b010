#include "runtime/memory_stats.hpp"
#include "runtime/collector.hpp"
#include "runtime/heap.hpp"

#include <vector>

namespace kel {

constexpr uint64_t NODE_BYTES = 4;               // a node of the 32-bit layout
constexpr uint64_t NODE_FRAME_HEADER = 36;       // node-frame header of the 32-bit layout
constexpr uint64_t SERIES_FRAME_HEADER = 20;     // added once more to a frame's recorded total
constexpr uint64_t BIG_FRAME_HEADER = 12;
constexpr uint64_t INTEGER_LARGEST = 2147483647;

// Restores the enabled flag however the statistics end.
struct CollectorPause {
    bool was = collector.enabled;
    CollectorPause() { collector.enabled = false; }
    ~CollectorPause() { collector.enabled = was; }
};

// A new cell at the tail of a block, growing its buffer when full.
static Cell* block_append_cell(Node block) {
    SeriesBuffer* b = series_buffer(block);
    if (b->tail + sizeof(Cell) > b->size)
        b = series_grow_copy(b, int32_t(std::max<uint32_t>(b->size * 2, 4 * sizeof(Cell))));
    auto* cell = reinterpret_cast<Cell*>(b->tail_ptr());
    b->tail += sizeof(Cell);
    cell_init(cell, T_NONE);
    return cell;
}

static void number_append(Node block, uint64_t n, bool new_line) {
    Cell* cell = block_append_cell(block);
    if (n > INTEGER_LARGEST) {
        cell_init(cell, T_FLOAT);
        cell_set_double(cell, double(n));
    } else {
        cell_init(cell, T_INTEGER);
        cell->w2 = uint32_t(n);
    }
    if (new_line) cell->header |= CELL_NEWLINE;
}

// Appends a block of lines of `width` numbers each; the first of each line
// carries the new-line flag.
static void lines_append(Node target, const std::vector<uint64_t>& numbers, size_t width) {
    Node lines = series_new_cells(uint32_t(numbers.size()));
    for (size_t i = 0; i < numbers.size(); i++) number_append(lines, numbers[i], i % width == 0);
    Cell* cell = block_append_cell(target);
    cell_init(cell, T_BLOCK);
    cell->w2 = lines;
}

static uint64_t bytes_in_use() {
    uint64_t bytes = 0;
    for (NodeFrame* f = memory.node_head; f; f = f->next) bytes += NODE_BYTES * f->used;
    for (SeriesFrame* f = memory.series_head; f; f = f->next) bytes += uint64_t(f->free - f->first());
    for (BigFrame* f = memory.big_head; f; f = f->next) bytes += f->size;
    return bytes;
}

static void tables_append(Node target) {
    // Figures are taken before anything is allocated for them.
    std::vector<uint64_t> nodes, series, bigs;
    uint64_t held = heap_bytes();
    uint64_t heap = held;
    for (NodeFrame* f = memory.node_head; f; f = f->next) {
        nodes.insert(nodes.end(), {f->capacity - f->used, f->used, f->capacity});
        held += NODE_BYTES * f->capacity + NODE_FRAME_HEADER;
    }
    for (SeriesFrame* f = memory.series_head; f; f = f->next) {
        series.insert(series.end(), {uint64_t(f->end - f->free), uint64_t(f->free - f->first()),
                                     uint64_t(f->end - f->first())});
        held += f->total + SERIES_FRAME_HEADER;
    }
    for (BigFrame* f = memory.big_head; f; f = f->next) {
        bigs.push_back(f->size);
        held += f->size + BIG_FRAME_HEADER;
    }
    lines_append(target, nodes, 3);
    lines_append(target, series, 3);
    lines_append(target, bigs, 1);
    number_append(target, held, false);
    number_append(target, heap, false);
}

uint64_t memory_stats(Node target, int mode) {
    CollectorPause pause;
    if (mode == 1) return bytes_in_use();
    if (mode == 2) tables_append(target);
    return 0;
}

} // namespace kel
