#include "runtime/memory.hpp"
#include "runtime/collector.hpp"
#include "runtime/heap.hpp"
#include "core/error.hpp"
#include "tests/support/memory_fixture.hpp"
#include <gtest/gtest.h>

using namespace kel;
using namespace kel::testing;

namespace {

bool in_series_frame(const SeriesBuffer* b) {
    auto* p = reinterpret_cast<const uint8_t*>(b);
    for (SeriesFrame* f = memory.series_head; f; f = f->next)
        if (p >= f->first() && p < f->free) return true;
    return false;
}

int series_frame_count() {
    int n = 0;
    for (SeriesFrame* f = memory.series_head; f; f = f->next) n++;
    return n;
}

int node_frame_count() {
    int n = 0;
    for (NodeFrame* f = memory.node_head; f; f = f->next) n++;
    return n;
}

void expect_no_memory(void (*body)()) {
    try {
        body();
        ADD_FAILURE() << "no error raised";
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.category, ErrorCategory::internal);
        EXPECT_EQ(e.id, ERR_NO_MEMORY);
    }
}

} // namespace

TEST(Memory, BufferSizesFlagsAndPlaces) {
    memory_fresh(true);
    struct Case { uint32_t count, unit, size; bool big; };
    const Case cases[] = {
        {2097136, 1, 2097136, true},   // needs 2,097,160: a big frame of its own
        {2097121, 1, 2097136, true},   // rounded up to the same size
        {2097120, 1, 2097120, false},  // needs 2,097,144: fits a 2 MB series frame
        {0, 16, 0, false},
        {3, 4, 16, false},
        {5, 16, 80, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        SeriesBuffer* b = series_buffer(series_new(c.count, c.unit, 0));
        EXPECT_EQ(b->size, c.size);
        EXPECT_EQ(b->flags, c.unit | SERIES_IN_USE | SERIES_NEW | (c.big ? SERIES_BIG : 0));
        EXPECT_EQ(b->head, 0u);
        EXPECT_EQ(b->tail, 0u);
        if (c.big) {
            EXPECT_EQ(memory.big_tail->buffer(), b);
            EXPECT_EQ(memory.big_tail->size, c.size + BUFFER_OVERHEAD);
        } else {
            EXPECT_TRUE(in_series_frame(b));
        }
    }
    // Zero counts ask for 16 bytes' worth.
    EXPECT_EQ(series_buffer(series_new_bytes(0))->size, 16u);
    SeriesBuffer* units = series_buffer(series_new_units(0, 4));
    EXPECT_EQ(units->size, 16u);
    EXPECT_EQ(units->size >> units->shift(), 4u);
    EXPECT_EQ(series_buffer(series_new_units(0, 2))->size, 16u);
}

TEST(Memory, HeadInTheMiddle) {
    memory_fresh(true);
    SeriesBuffer* b = series_buffer(series_new(64, 1, -1));
    EXPECT_EQ(b->head, 32u);
    EXPECT_EQ(b->tail, 32u);
    EXPECT_TRUE(b->flags & SERIES_HEAD_MIDDLE);
    // A block's middle head stands on a whole cell.
    SeriesBuffer* cells = series_buffer(series_new(3, 16, -1));
    EXPECT_EQ(cells->head, 16u);
    EXPECT_TRUE(cells->flags & SERIES_HEAD_MIDDLE);
}

TEST(Memory, SeriesFramesAreOneMegabyteThenTwo) {
    memory_fresh(true);
    ASSERT_EQ(series_frame_count(), 1);
    SeriesFrame* first = memory.series_head;
    EXPECT_EQ(first->end - first->first(), 1048576);
    EXPECT_EQ(first->total, 1048576u + 20);
    // The second frame is made once the first cannot take a request.
    series_new_bytes(600000);
    series_new_bytes(600000);
    ASSERT_EQ(series_frame_count(), 2);
    EXPECT_EQ(memory.current_size, 2097152u);
    series_new_bytes(1500000);
    series_new_bytes(1500000);
    ASSERT_EQ(series_frame_count(), 4);
    for (SeriesFrame* f = memory.series_head; f; f = f->next) {
        if (f != first) { EXPECT_EQ(f->end - f->first(), 2097152); }
    }
    SeriesFrame* last = nullptr;  // listed in the order they were made
    for (SeriesFrame* f = memory.series_head; f; f = f->next) last = f;
    EXPECT_EQ(last, memory.series_tail);
    EXPECT_EQ(memory.series_head, first);
    EXPECT_EQ(memory.current_size, 2097152u);
}

TEST(Memory, GrowMovesTheSeriesAndAbandonsTheOldBuffer) {
    memory_fresh(true);
    Node node = series_new_bytes(16);
    SeriesBuffer* old = series_buffer(node);
    old->head = 2;
    old->tail = 12;
    std::memcpy(old->data(), "0123456789abcdef", 16);
    SeriesBuffer* b = series_grow_copy(old, 0);
    EXPECT_EQ(b->size, 32u);
    EXPECT_EQ(b->length(), 10u);
    EXPECT_EQ(0, std::memcmp(b->head_ptr(), "23456789ab", 10));
    EXPECT_EQ(series_buffer(node), b);
    EXPECT_EQ(b->node, node);
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & SERIES_IN_USE);

    // Shrinking keeps the tail inside the new buffer.
    b->tail = 30;
    SeriesBuffer* small = series_grow_copy(b, 4);
    EXPECT_EQ(small->size, 16u);
    EXPECT_EQ(small->tail, 16u);
    EXPECT_EQ(0, std::memcmp(small->data(), "23456789abcdef", 14));

    // Fill: every byte after the copied content.
    Node filled = series_new_bytes(16);
    SeriesBuffer* f = series_buffer(filled);
    std::memcpy(f->data(), "abcdefghijklmnop", 16);
    f->tail = 16;
    f = series_grow_fill(f, 48, '.');
    EXPECT_EQ(0, std::memcmp(f->data(), "abcdefghijklmnop................................", 48));
}

TEST(Memory, GrowToASizeBelowOneOrTooLargeRaisesNoMemory) {
    memory_fresh(true);
    expect_no_memory([] { series_grow(series_buffer(series_new_bytes(16)), -5); });
    expect_no_memory([] { series_grow(series_buffer(series_new_cells(0)), 0); });  // twice 0
    expect_no_memory([] { series_new(0x40000000, 16, 0); });  // count x unit beyond 32 bits
    expect_no_memory([] { series_new(0xFFFFFFFF, 1, 0); });
}

TEST(Memory, CloneCopiesFromTheHead) {
    memory_fresh(true);
    Node node = series_new(8, 2, 0);
    SeriesBuffer* b = series_buffer(node);
    std::memcpy(b->data(), "ABCDEFGHIJKLMNOP", 16);
    b->head = 4;
    b->tail = 10;
    series_flags_set(node, SERIES_OWNED | SERIES_LIBRARY);
    Node clone = series_clone(node);
    SeriesBuffer* c = series_buffer(clone);
    EXPECT_NE(clone, node);
    EXPECT_EQ(c->size, 16u);
    EXPECT_EQ(c->unit(), 2u);
    // The clone takes the flags, except ownership: the ownership table names
    // only the original, and a clone marked owned could never be owned.
    EXPECT_TRUE(c->flags & SERIES_LIBRARY);
    EXPECT_FALSE(c->flags & SERIES_OWNED);
    EXPECT_EQ(c->head, 0u);
    EXPECT_EQ(c->length(), 3u);
    EXPECT_EQ(0, std::memcmp(c->data(), "EFGHIJKLMNOP", 12));
}

TEST(Memory, FilledAndUnsetSeriesCoverTheirCapacity) {
    memory_fresh(true);
    SeriesBuffer* cells = series_buffer(series_new_cells_unset(3));
    auto* c = reinterpret_cast<Cell*>(cells->data());
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(c[i].header, uint32_t(T_UNSET));
        EXPECT_EQ(c[i].w1 | c[i].w2 | c[i].w3, 0u);
    }
    SeriesBuffer* bytes = series_buffer(series_new_bytes_filled(20, 0xAB));
    ASSERT_EQ(bytes->size, 32u);
    for (uint32_t i = 0; i < 32; i++) EXPECT_EQ(bytes->data()[i], 0xAB);
}

TEST(Memory, NodesComeFromTheActiveFrameAndANewOneWhenAllAreTaken) {
    memory_fresh(true);
    NodeFrame* first = memory.node_head;
    uint32_t left = first->capacity - first->used;
    Node last = 0;
    for (uint32_t i = 0; i < left; i++) last = node_take();
    EXPECT_EQ(node_frame_of(last), first);
    EXPECT_EQ(first->used, first->capacity);
    Node next = node_take();
    EXPECT_EQ(node_frame_count(), 2);
    EXPECT_NE(node_frame_of(next), first);
    // A released node is handed out again; releasing it twice changes nothing.
    node_release(last);
    node_release(last);
    EXPECT_EQ(first->used, first->capacity - 1);
    memory.node_active = first;
    EXPECT_EQ(node_take(), last);
    EXPECT_EQ(first->used, first->capacity);
}

TEST(Memory, FixedSeriesLiveInTheHeapAndAreFreedWhenUnreachable) {
    memory_fresh(true);
    memory_torture_set(false);
    size_t blocks = heap_block_count();
    NodeRoot kept(series_new_fixed(4, 16, 0));
    Node dropped = series_new_fixed(100, 1, 0);
    SeriesBuffer* b = series_buffer(kept.node);
    EXPECT_EQ(b->flags, 16u | SERIES_IN_USE | SERIES_NEW | SERIES_FIXED);
    EXPECT_TRUE(heap_owns(b));
    EXPECT_TRUE(heap_owns(series_buffer(dropped)));
    EXPECT_EQ(heap_block_count(), blocks + 2);
    collector_cycle();
    EXPECT_EQ(series_buffer(kept.node), b);  // never moved
    EXPECT_FALSE(b->flags & SERIES_MARK);
    EXPECT_EQ(heap_block_count(), blocks + 1);
}
