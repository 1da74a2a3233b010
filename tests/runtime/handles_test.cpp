#include "runtime/handles.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "core/error.hpp"
#include "tests/support/memory_fixture.hpp"
#include <gtest/gtest.h>
#include <vector>

using namespace kel;

namespace {

// Records every release, in order.
std::vector<void*> released;
void release_record(void* data) { released.push_back(data); }

void* ptr(uintptr_t n) { return reinterpret_cast<void*>(n); }

struct HandleTable : ::testing::Test {
    uint32_t cls = 0;
    void SetUp() override {
        external_handles_init();
        released.clear();
        cls = external_class_register("image", release_record);
    }
    // The sweep hook stays registered: leave it an empty table to sweep.
    void TearDown() override { external_handles_init(); }
};

} // namespace

TEST_F(HandleTable, ThousandthRecordWithoutGrowthNextDoubles) {
    for (uint32_t i = 0; i < EXTERNAL_HANDLES_FIRST; i++)
        ASSERT_EQ(external_handle_new(ptr(i + 1), cls), i);
    EXPECT_EQ(external_handles_capacity(), 1000u);
    EXPECT_EQ(external_handle_new(ptr(5000), cls), 1000u);
    EXPECT_EQ(external_handles_capacity(), 2000u);
    // The records taken before the growth kept their content.
    EXPECT_EQ(external_handle_at(0)->data, ptr(1));
    EXPECT_EQ(external_handle_at(999)->data, ptr(1000));
    EXPECT_EQ(external_handle_new(ptr(5001), cls), 1001u);
}

TEST_F(HandleTable, ReplaceReleasesOnlyDifferentData) {
    uint32_t h = external_handle_new(ptr(10), cls);
    external_handle_replace(h, ptr(10));
    EXPECT_TRUE(released.empty());
    external_handle_replace(h, ptr(11));
    EXPECT_EQ(released, std::vector<void*>{ptr(10)});
    EXPECT_EQ(external_handle_at(h)->data, ptr(11));
}

TEST_F(HandleTable, SweepReleasesUnmarkedThroughTheirClassAndKeepsMarked) {
    uint32_t silent = external_class_register("font", nullptr);
    uint32_t a = external_handle_new(ptr(1), cls);
    uint32_t b = external_handle_new(ptr(2), cls);
    uint32_t c = external_handle_new(ptr(3), cls);
    uint32_t d = external_handle_new(ptr(4), silent);
    uint32_t e = external_handle_new(ptr(5), 0);
    EXPECT_TRUE(external_handle_mark(b, nullptr));
    EXPECT_FALSE(external_handle_mark(b, nullptr));  // already marked
    EXPECT_TRUE(external_handle_mark(c, ptr(33)));   // new data, the old one not released
    external_handles_sweep();
    // Only the class with a release function calls it; c's data was replaced.
    EXPECT_EQ(released, std::vector<void*>{ptr(1)});
    for (uint32_t h : {a, d, e}) EXPECT_EQ(external_handle_at(h)->class_word, HANDLE_FREE);
    EXPECT_EQ(external_handle_at(c)->data, ptr(33));
    // The survivors lost their marks, so the next sweep takes them.
    released.clear();
    external_handles_sweep();
    EXPECT_EQ(released, (std::vector<void*>{ptr(33), ptr(2)}));
    // Freed records are handed out again, the last freed first.
    EXPECT_EQ(external_handle_new(ptr(9), cls), b);
}

TEST_F(HandleTable, RemoveAndEach) {
    uint32_t a = external_handle_new(ptr(1), cls);
    uint32_t b = external_handle_new(ptr(2), cls);
    uint32_t other = external_class_register("com-object", release_record);
    external_handle_new(ptr(3), other);
    std::vector<void*> seen;
    static std::vector<void*>* sink;
    sink = &seen;
    external_handle_each(cls, [](void* data) { sink->push_back(data); });
    EXPECT_EQ(seen, (std::vector<void*>{ptr(2), ptr(1)}));
    external_handle_remove(a, false);
    EXPECT_TRUE(released.empty());
    external_handle_remove(b, true);
    EXPECT_EQ(released, std::vector<void*>{ptr(2)});
    // A record already free, or an index outside the table, is left alone:
    // freeing it twice would hand one record to two owners.
    external_handle_remove(b, true);
    external_handle_remove(123456, true);
    EXPECT_FALSE(external_handle_mark(b, nullptr));
    EXPECT_EQ(released.size(), 1u);
    uint32_t x = external_handle_new(ptr(7), cls);
    uint32_t y = external_handle_new(ptr(8), cls);
    EXPECT_NE(x, y);
    EXPECT_EQ(x, b);
    EXPECT_EQ(y, a);
}

TEST_F(HandleTable, TwentyFirstClassIsALimitError) {
    for (uint32_t i = 2; i <= EXTERNAL_CLASS_MAX; i++)
        EXPECT_EQ(external_class_register("c", nullptr), i);
    try {
        external_class_register("one too many", nullptr);
        FAIL() << "no error raised";
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.category, ErrorCategory::internal);
        EXPECT_EQ(e.id, ERR_LIMIT_HIT);
    }
}

// The collector sweeps the table after marking: a record nothing marks is
// released, one a root marks stays.
TEST_F(HandleTable, CollectionReleasesRecordsNoRootMarks) {
    kel::testing::memory_fresh(false);
    SetUp();  // the table's sweep went with the released memory
    static uint32_t kept;
    kept = external_handle_new(ptr(1), cls);
    uint32_t dropped = external_handle_new(ptr(2), cls);
    RootMarker keep = [] { external_handle_mark(kept, nullptr); };
    collector_add_root(keep);
    collector_cycle();
    collector_remove_root(keep);
    EXPECT_EQ(released, std::vector<void*>{ptr(2)});
    EXPECT_EQ(external_handle_at(dropped)->class_word, HANDLE_FREE);
    EXPECT_EQ(external_handle_at(kept)->class_word, cls);   // mark cleared
    collector_cycle();
    EXPECT_EQ(released, (std::vector<void*>{ptr(2), ptr(1)}));
}
