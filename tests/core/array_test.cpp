#include "core/array.hpp"
#include "core/externals.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/error.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "tests/support/memory_fixture.hpp"
#include <gtest/gtest.h>
#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

struct DynamicArray : ::testing::Test {
    Node node = 0;
    void SetUp() override {
        memory_fresh(false);
        node = series_new_units(2, 4);
    }
    std::vector<uint32_t> values() {
        std::vector<uint32_t> out;
        for (uint32_t i = 1; i <= array_length(node); i++) out.push_back(array_at(node, i));
        return out;
    }
};

struct Externals : ::testing::Test {
    void SetUp() override {
        memory_fresh(false);
        externals_init();
    }
    // The root stays registered: leave it nothing to mark once this test's
    // memory is gone.
    void TearDown() override { *externals_node_slot() = 0; }
};

Cell integer(int32_t n) { Cell c{T_INTEGER, 0, uint32_t(n), 0}; return c; }

} // namespace

TEST_F(DynamicArray, AppendGrowsAndKeepsContent) {
    EXPECT_EQ(array_find_ptr(node, 0), -1);
    EXPECT_EQ(array_length(node), 0u);
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < 100; i++) {
        array_append_ptr(node, i * 7);
        expected.push_back(i * 7);
    }
    EXPECT_EQ(values(), expected);
    EXPECT_EQ(array_find_ptr(node, 21), 12);   // byte offset of the 4th element
    EXPECT_EQ(array_find_ptr(node, 22), -1);
    array_poke(node, 4, 5);
    EXPECT_EQ(array_at(node, 4), 5u);
    array_clear(node);
    EXPECT_EQ(array_length(node), 0u);
    EXPECT_EQ(array_find_ptr(node, 0), -1);
}

TEST_F(DynamicArray, RemoveBytesIsClampedToTheBytesInUse) {
    for (uint32_t v : {1u, 2u, 3u, 4u, 5u}) array_append_ptr(node, v);
    array_remove_bytes(node, 4, 8);          // 2 and 3
    EXPECT_EQ(values(), (std::vector<uint32_t>{1, 4, 5}));
    array_remove_bytes(node, 8, 1000);        // past the tail: only 5
    EXPECT_EQ(values(), (std::vector<uint32_t>{1, 4}));
    array_remove_bytes(node, 8, 4);           // at the tail: nothing
    EXPECT_EQ(values(), (std::vector<uint32_t>{1, 4}));
}

TEST_F(DynamicArray, IndexOutsideTheArrayIsAnError) {
    array_append_ptr(node, 9);
    for (uint32_t index : {0u, 2u, 1000u}) {
        EXPECT_THROW(array_at(node, index), LanguageError);
        EXPECT_THROW(array_poke(node, index, 1), LanguageError);
    }
    EXPECT_EQ(values(), std::vector<uint32_t>{9});
}

TEST_F(Externals, StoringPastCapacityDoublesAndKeepsContent) {
    EXPECT_EQ(externals_capacity(), EXTERNALS_CAPACITY);
    for (int32_t i = 1; i <= 100; i++) {
        Cell v = integer(i * 10);
        ASSERT_EQ(externals_store(&v), uint32_t(i));
    }
    Cell v = integer(1010);
    EXPECT_EQ(externals_store(&v), 101u);
    EXPECT_EQ(externals_capacity(), 200u);
    for (uint32_t slot : {1u, 50u, 100u, 101u})
        EXPECT_EQ(cell_int(externals_cell_at(slot)), int32_t(slot * 10));
    // The rest of the new half is free, in order.
    EXPECT_EQ(externals_store(&true_cell), 102u);
    EXPECT_EQ(externals_cell_at(0), nullptr);
    EXPECT_EQ(externals_cell_at(201), nullptr);
}

TEST_F(Externals, RemovedSlotIsStoredFirst) {
    for (int i = 0; i < 10; i++) externals_store(&none_cell);
    externals_remove(5);
    EXPECT_EQ(externals_store(&true_cell), 5u);
    EXPECT_EQ(externals_cell_at(5)->header, uint32_t(T_LOGIC));
    externals_remove(0);                     // ignored
    externals_remove(500);                   // outside: ignored
    EXPECT_EQ(externals_store(&none_cell), 11u);
}

TEST_F(Externals, RemovingAFreeSlotTwiceHandsItOutOnce) {
    Cell a = integer(7), b = integer(8);
    uint32_t sa = externals_store(&a);
    uint32_t sb = externals_store(&b);
    externals_remove(sb);
    externals_remove(sb);
    uint32_t first = externals_store(&a);
    uint32_t second = externals_store(&b);
    EXPECT_EQ(first, sb);
    EXPECT_NE(second, sb);
    EXPECT_EQ(cell_int(externals_cell_at(first)), 7);
    // A stored integer! is a value, not a free slot: removing it frees it.
    externals_remove(sa);
    EXPECT_EQ(externals_store(&none_cell), sa);
}

TEST_F(Externals, StoringAValueTakenFromTheTableSurvivesGrowth) {
    Cell v = integer(42);
    uint32_t slot = externals_store(&v);
    for (uint32_t i = 1; i < EXTERNALS_CAPACITY; i++) externals_store(&none_cell);
    uint32_t copy = externals_store(externals_cell_at(slot));  // grows the table
    EXPECT_EQ(externals_capacity(), 200u);
    EXPECT_EQ(cell_int(externals_cell_at(copy)), 42);
}

TEST_F(Externals, TableIsACollectorRoot) {
    for (int32_t i = 1; i <= 150; i++) {   // grown once, so the first buffer is garbage
        Cell v = integer(i);
        externals_store(&v);
    }
    for (int i = 0; i < 50; i++) series_new_bytes(1000);   // garbage around it
    collector_cycle();
    collector_cycle();
    EXPECT_EQ(externals_capacity(), 200u);
    for (uint32_t slot = 1; slot <= 150; slot++)
        ASSERT_EQ(cell_int(externals_cell_at(slot)), int32_t(slot));
    Cell v = integer(151);
    EXPECT_EQ(externals_store(&v), 151u);
}
