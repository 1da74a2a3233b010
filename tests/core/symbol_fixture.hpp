// The runtime as start-up leaves it up to the ownership table: memory, the
// registry, the root block, the stacks, symbols, the global context, the
// vocabulary and the ownership table, with automatic collection on so that
// torture mode (KEL_GC_TORTURE) collects and moves everything at every
// allocation.
#pragma once
#include "core/casefold.hpp"
#include "core/context.hpp"
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/ownership.hpp"
#include "core/registry.hpp"
#include "datatypes/types.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/start.hpp"

#include <gtest/gtest.h>
#include <cstring>

namespace kel::testing {

// Objects are marked by the object module once it exists; these tests make
// bare object cells and mark them as the collector's table says.
inline void object_mark(Cell* c) {
    if (c->w1) collector_mark_context(&c->w1);
    if (c->w3) collector_mark_series(&c->w3);
}

inline void runtime_fresh() {
    static bool folding = false;
    if (!folding) {
        case_folding_init();
        folding = true;
    }
    memory_release_all();
    memory_setup();
    node_frame_new(NODE_FRAME_CAPACITY);
    series_frame_new();
    collector_init();
    collector.enabled = false;
    datatypes_register();
    root_block_new();
    stack_init(StackLabels{});
    cycles_init();
    symbol_series_new();
    global_context_new();
    symbol_index_new();
    runtime_words_build();
    ownership_init();
    collector_register_marker(T_OBJECT, object_mark);
    collector.enabled = true;
}

struct RuntimeTest : ::testing::Test {
    void SetUp() override { runtime_fresh(); }
    void TearDown() override { collector.enabled = false; }
};

// GC torture mode for a scope: every allocation collects and renumbers every
// node, so a node id held anywhere the collector does not see goes stale.
struct TortureScope {
    bool was = memory_torture_q();
    TortureScope() { memory_torture_set(true); }
    ~TortureScope() { memory_torture_set(was); }
    TortureScope(const TortureScope&) = delete;
    TortureScope& operator=(const TortureScope&) = delete;
};

// A fixture's set-up spared from GC torture, as kel spares its start-up: the
// set-up is the same work for every test, and torturing it in each of them
// would cost a collection per allocation over a growing heap. At the end of
// the scope torture resumes as the environment set it, and under torture
// what the set-up made settles (memory_settle), as kel's library does before
// the script; the plain pass keeps its set-up as it was.
struct TortureSpared {
    bool was = memory_torture_q();
    TortureSpared() { memory_torture_set(false); }
    ~TortureSpared() {
        memory_torture_set(was);
        if (was) memory_settle();
    }
    TortureSpared(const TortureSpared&) = delete;
    TortureSpared& operator=(const TortureSpared&) = delete;
};

// The code of the language error a call raises, or 0.
template <typename F> int raised_code(F&& f) {
    try {
        f();
    } catch (const LanguageError& e) {
        return e.code();
    }
    return 0;
}

inline Cell integer_cell(int32_t n) {
    Cell c;
    cell_init(&c, T_INTEGER);
    c.w2 = uint32_t(n);
    return c;
}

inline Cell word_cell(uint8_t type, uint32_t symbol) {
    Cell c;
    cell_init(&c, type);
    c.w2 = symbol;
    c.w3 = WORD_UNBOUND;
    return c;
}

// A block! value of the given cells (at index 0) in out, which should be rooted.
// The cells wait on the data stack while the block is allocated, which may
// collect and renumber the nodes they refer to.
inline void block_of_cells(Cell* out, const Cell* cells, uint32_t count) {
    Cell* held = data_stack.top;
    for (uint32_t k = 0; k < count; k++) stack_push(&cells[k]);
    Node node = series_new_cells(count ? count : 1);
    SeriesBuffer* b = series_buffer(node);
    if (count) std::memcpy(b->head_ptr(), held, count * sizeof(Cell));
    stack_pop(count);
    b->tail = b->head + count * sizeof(Cell);
    cell_init(out, T_BLOCK);
    out->w2 = node;
}

// Appends a held value to a held block; the value is read after the append,
// which may collect and renumber nodes.
inline void block_append(CellRoot& block, const CellRoot& value) {
    Cell* slot = cell_series_append(block.cell.w2);
    *slot = value.cell;
}

inline Cell* block_cells(const Cell* block) {
    return reinterpret_cast<Cell*>(series_buffer(block->w2)->head_ptr());
}

inline uint32_t block_length(const Cell* block) { return series_buffer(block->w2)->length(); }

// The name of a symbol as a std::string.
inline std::string symbol_text(uint32_t id) {
    uint32_t length;
    const uint8_t* name = symbol_name(id, &length);
    return std::string(reinterpret_cast<const char*>(name), length);
}

} // namespace kel::testing
