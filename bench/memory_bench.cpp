// Allocation and collection: blocks of 16 cells made one after another, one in
// a hundred kept in a block that the root block holds.
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include <benchmark/benchmark.h>

#include <sys/resource.h>

using namespace kel;

namespace {

constexpr uint32_t BLOCKS = 1000000;
constexpr uint32_t KEEP_EVERY = 100;
constexpr uint32_t BLOCK_CELLS = 16;

// Start-up's memory with automatic collection on and the keeper block as the
// first value of the root block.
void memory_start() {
    memory_release_all();
    memory_setup();
    node_frame_new(NODE_FRAME_CAPACITY);
    series_frame_new();
    collector_init();
    root_block_new();
    Node keeper = series_new_cells(BLOCKS / KEEP_EVERY);
    SeriesBuffer* root = series_buffer(root_cell.w2);
    auto* cell = reinterpret_cast<Cell*>(root->tail_ptr());
    cell_init(cell, T_BLOCK);
    cell->w2 = keeper;
    root->tail += sizeof(Cell);
    collector.enabled = true;
}

// The keeper's node as the collector last re-pointed it.
Node keeper_node() { return reinterpret_cast<Cell*>(series_buffer(root_cell.w2)->head_ptr())->w2; }

// Makes a block of 16 integers; every hundredth is appended to the keeper.
void block_make(uint32_t i) {
    Node node = series_new_cells(BLOCK_CELLS);
    SeriesBuffer* b = series_buffer(node);
    auto* cells = reinterpret_cast<Cell*>(b->data());
    for (uint32_t k = 0; k < BLOCK_CELLS; k++) {
        cell_init(&cells[k], T_INTEGER);
        cells[k].w2 = i + k;
    }
    b->tail = BLOCK_CELLS * sizeof(Cell);
    if (i % KEEP_EVERY == 0) {
        SeriesBuffer* keeper = series_buffer(keeper_node());
        auto* slot = reinterpret_cast<Cell*>(keeper->tail_ptr());
        cell_init(slot, T_BLOCK);
        slot->w2 = node;
        keeper->tail += sizeof(Cell);
    }
}

double peak_rss_megabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

void BM_BlocksOnePercentLive(benchmark::State& state) {
    uint32_t cycles = 0;
    for (auto _ : state) {
        state.PauseTiming();
        memory_start();
        state.ResumeTiming();
        for (uint32_t i = 0; i < BLOCKS; i++) block_make(i);
        cycles = collector.series_cycles;
    }
    state.counters["ns_per_block"] = benchmark::Counter(
        BLOCKS, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["collections"] = cycles;
    state.counters["peak_rss_MB"] = peak_rss_megabytes();
}
BENCHMARK(BM_BlocksOnePercentLive)->Unit(benchmark::kMillisecond);

// One full collection with the 10,000 kept blocks live and the frames full
// of garbage.
void BM_CollectionOfTenThousandLiveBlocks(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        memory_start();
        collector.enabled = false;
        for (uint32_t i = 0; i < BLOCKS; i++) block_make(i);
        state.ResumeTiming();
        collector_cycle();
    }
    state.counters["peak_rss_MB"] = peak_rss_megabytes();
}
BENCHMARK(BM_CollectionOfTenThousandLiveBlocks)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
