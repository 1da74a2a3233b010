#include "runtime/memory_stats.hpp"
#include "runtime/collector.hpp"
#include "runtime/heap.hpp"
#include "tests/support/memory_fixture.hpp"
#include <gtest/gtest.h>

#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

Cell* cells_of(Node block) { return reinterpret_cast<Cell*>(series_buffer(block)->head_ptr()); }

double number_of(const Cell* c) {
    return cell_type(c) == T_FLOAT ? cell_double(c) : double(int32_t(c->w2));
}

// The numbers of a block of lines, checking that each line of `width`
// starts with the new-line flag.
std::vector<double> lines_of(const Cell* block_cell, size_t width) {
    EXPECT_EQ(cell_type(block_cell), T_BLOCK);
    std::vector<double> out;
    SeriesBuffer* b = series_buffer(block_cell->w2);
    Cell* c = cells_of(block_cell->w2);
    for (uint32_t i = 0; i < b->length(); i++) {
        EXPECT_EQ(bool(c[i].header & CELL_NEWLINE), i % width == 0) << i;
        out.push_back(number_of(&c[i]));
    }
    return out;
}

constexpr double ROOT_BLOCK_BYTES = 9748 * 16 + BUFFER_OVERHEAD;

} // namespace

TEST(MemoryStats, BytesInUseCountFourPerNodeAndWholeBuffers) {
    memory_fresh(true);
    EXPECT_EQ(memory_stats(0, 1), 4 + ROOT_BLOCK_BYTES);
    series_new_bytes(64);
    EXPECT_EQ(memory_stats(0, 1), 8 + ROOT_BLOCK_BYTES + 84);
    series_new_bytes(2097136);
    EXPECT_EQ(memory_stats(0, 1), 12 + ROOT_BLOCK_BYTES + 84 + 2097156);
}

TEST(MemoryStats, TablesOfFramesAndTheMemoryHeld) {
    memory_fresh(true);
    Node target = series_new_cells(5);
    collector.enabled = true;
    uint32_t cycles = collector.series_cycles;
    double heap = double(heap_bytes());
    EXPECT_EQ(memory_stats(target, 2), 0u);
    EXPECT_TRUE(collector.enabled);  // restored
    EXPECT_EQ(collector.series_cycles, cycles);

    SeriesBuffer* t = series_buffer(target);
    ASSERT_EQ(t->length(), 5u);
    Cell* c = cells_of(target);
    double used = ROOT_BLOCK_BYTES + 5 * 16 + BUFFER_OVERHEAD;
    EXPECT_EQ(lines_of(&c[0], 3), (std::vector<double>{9998, 2, 10000}));
    EXPECT_EQ(lines_of(&c[1], 3), (std::vector<double>{1048576 - used, used, 1048576}));
    EXPECT_EQ(lines_of(&c[2], 1), std::vector<double>{});
    EXPECT_EQ(cell_type(&c[3]), T_INTEGER);
    EXPECT_EQ(number_of(&c[3]), 10000 * 4 + 36 + (1048576 + 20) + 20 + heap);
    EXPECT_EQ(number_of(&c[4]), heap);
    EXPECT_FALSE(c[3].header & CELL_NEWLINE);
}

// Figures beyond 2,147,483,647 are float! values.
TEST(MemoryStats, LargeFiguresAreFloats) {
    memory_fresh(true);
    series_new_bytes(0x7FFFFFF0);  // a big frame of 2,147,483,652 bytes
    EXPECT_EQ(memory_stats(0, 1), 8 + ROOT_BLOCK_BYTES + 2147483652.0);
    Node target = series_new_cells(5);
    memory_stats(target, 2);
    Cell* c = cells_of(target);
    Cell* big = cells_of(c[2].w2);
    EXPECT_EQ(cell_type(big), T_FLOAT);
    EXPECT_EQ(cell_double(big), 2147483652.0);
    EXPECT_EQ(cell_type(&c[3]), T_FLOAT);
    EXPECT_EQ(cell_type(&c[4]), T_INTEGER);
}
