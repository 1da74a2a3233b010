#include "runtime/heap.hpp"
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

using namespace kel;

TEST(Heap, FreeOfUnknownAddressChangesNothing) {
    size_t before = heap_block_count();
    uint64_t bytes = heap_bytes();
    int local = 0;
    heap_free(&local);                       // never handed out
    heap_free(reinterpret_cast<void*>(16));  // not even readable
    EXPECT_EQ(heap_block_count(), before);
    EXPECT_EQ(heap_bytes(), bytes);
}

TEST(Heap, ResizeZeroAndNull) {
    size_t before = heap_block_count();
    void* p = heap_resize(nullptr, 40);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(heap_block_count(), before + 1);
    std::memset(p, 7, 40);
    p = heap_resize(p, 4000);
    EXPECT_EQ(static_cast<unsigned char*>(p)[39], 7);
    EXPECT_EQ(heap_resize(p, 0), nullptr);
    EXPECT_EQ(heap_block_count(), before);
}

TEST(Heap, SizesCountSixteenBytesOfHeaderAndFreeAllEmptiesTheList) {
    heap_free_all();
    void* a = heap_alloc(100);
    void* b = heap_alloc_zeroed(20);
    EXPECT_EQ(heap_bytes(), 116u + 36u);
    EXPECT_EQ(static_cast<unsigned char*>(b)[19], 0);
    a = heap_resize(a, 10);   // keeps its place, size updated
    EXPECT_EQ(heap_bytes(), 26u + 36u);
    heap_free_all();
    EXPECT_EQ(heap_block_count(), 0u);
    EXPECT_EQ(heap_bytes(), 0u);
    void* c = heap_alloc(8);   // a new list starts
    EXPECT_TRUE(heap_owns(c));
    heap_free(c);
    EXPECT_EQ(heap_block_count(), 0u);
}

// Enough blocks that homes collide and the table grows; frees in an order
// unrelated to the allocation order move entries back over the holes, and
// every block still live must still be found.
TEST(Heap, OwnershipSurvivesManyAllocationsAndFreesInAnyOrder) {
    size_t before = heap_block_count();
    std::vector<void*> blocks;
    for (int i = 0; i < 3000; i++) blocks.push_back(heap_alloc(size_t(i % 7) * 8 + 1));
    std::vector<bool> freed(blocks.size(), false);
    for (size_t i = 0; i < blocks.size(); i += 3) {
        heap_free(blocks[i]);
        freed[i] = true;
    }
    for (size_t i = 0; i < blocks.size(); i++) EXPECT_EQ(heap_owns(blocks[i]), !freed[i]) << i;
    EXPECT_EQ(heap_block_count(), before + 2000);
    for (size_t i = blocks.size(); i-- > 0;)
        if (!freed[i]) heap_free(blocks[i]);
    EXPECT_EQ(heap_block_count(), before);
}
