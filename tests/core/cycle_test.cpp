#include "core/cycle.hpp"
#include "core/error.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "tests/support/memory_fixture.hpp"

#include <gtest/gtest.h>
#include <string>

using namespace kel;

namespace {

Cell series_cell(uint8_t type, Node node) {
    Cell c;
    cell_init(&c, type);
    if (type == T_OBJECT) c.w1 = node;
    else c.w2 = node;
    return c;
}

class CycleTest : public ::testing::Test {
protected:
    void SetUp() override { cycles_init(); }
    void TearDown() override { cycles_reset(); }
};

// A walker as mold and compare use it: one guarded entry per level, and an
// error raised at the given depth.
void walk(uint32_t depth, uint32_t fail_at) {
    CycleGuard guard(Node(1000 + depth));
    if (depth == fail_at) error_raise(ERR_INVALID_ARG);
    if (depth < 2 * CYCLE_STACK_ENTRIES) walk(depth + 1, fail_at);
}

int walk_code(uint32_t fail_at) {
    try {
        walk(0, fail_at);
    } catch (const LanguageError& e) {
        return e.code();
    }
    return -1;
}

} // namespace

TEST_F(CycleTest, DetectWritesThePlaceholderOfTheType) {
    struct Case {
        uint8_t type;
        const char* mold;
    } cases[] = {
        {T_BLOCK, "[...]"}, {T_HASH, "[...]"}, {T_PAREN, "(...)"}, {T_MAP, "#[...]"},
        {T_OBJECT, "make object! [...]"}, {T_PATH, "..."}, {T_SET_PATH, "..."},
    };
    for (const Case& c : cases) {
        Cell v = series_cell(c.type, 42);
        EXPECT_EQ(cycles_detect(&v, true), nullptr);
        CycleGuard guard(cycles_node_of(&v));
        ASSERT_NE(cycles_detect(&v, true), nullptr);
        EXPECT_EQ(std::string(cycles_detect(&v, true)), c.mold);
        EXPECT_EQ(std::string(cycles_detect(&v, false)), "...");
    }
    EXPECT_EQ(cycles_depth(), 0u);
}

TEST_F(CycleTest, PushPopAndDrop) {
    cycles_push(5);
    cycles_push(6);
    cycles_push(7);
    EXPECT_TRUE(cycles_find(6));
    cycles_pop();
    EXPECT_FALSE(cycles_find(7));
    cycles_drop(5);
    EXPECT_EQ(cycles_depth(), 0u);
    cycles_pop();  // empty: nothing happens
    EXPECT_EQ(cycles_depth(), 0u);
}

// The 1000th nested entry raises too-deep; every level's guard pops on the
// way out, so the stack is empty and works afterwards.
TEST_F(CycleTest, ThousandthPushRaisesTooDeep) {
    EXPECT_EQ(walk_code(UINT32_MAX), 906);  // internal too-deep
    EXPECT_EQ(cycles_depth(), 0u);
    for (uint32_t i = 0; i < CYCLE_STACK_ENTRIES - 1; i++) cycles_push(i + 1);
    EXPECT_THROW(cycles_push(5000), LanguageError);
    EXPECT_EQ(cycles_depth(), CYCLE_STACK_ENTRIES - 1);
    cycles_reset();
    CycleGuard guard(7);
    EXPECT_TRUE(cycles_find(7));
}

// An error raised inside a walker leaves no entry behind, so a later mold
// does not print "[...]" for a block that is not a cycle.
TEST_F(CycleTest, ErrorInsideAWalkerLeavesTheStackEmpty) {
    EXPECT_EQ(walk_code(5), 309);
    EXPECT_EQ(cycles_depth(), 0u);
    Cell v = series_cell(T_BLOCK, 1003);
    EXPECT_EQ(cycles_detect(&v, true), nullptr);

    // Entries below a walker's own survive its error.
    cycles_push(77);
    EXPECT_EQ(walk_code(2), 309);
    EXPECT_EQ(cycles_depth(), 1u);
    EXPECT_TRUE(cycles_find(77));
}

// Entries follow their nodes when a collection moves them.
TEST_F(CycleTest, EntriesFollowMovedNodes) {
    kel::testing::memory_fresh(false);
    cycles_init();  // its sweep went with the released memory
    memory_torture_set(true);
    collector.enabled = true;
    {
        NodeRoot held(series_new_cells(2));
        CycleGuard guard(held.node);
        for (int i = 0; i < 20; i++) series_new_bytes(32);
        collector_cycle();
        EXPECT_TRUE(cycles_find(held.node));
    }
    collector.enabled = false;
    memory_release_all();
}
