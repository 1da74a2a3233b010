#include "tests/core/symbol_fixture.hpp"
#include "core/mold_text.hpp"

#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

struct OwnershipTest : RuntimeTest {
    // An object with one field `data`; on_change marks it as having handlers.
    void object_make(CellRoot& object, bool on_change) {
        cell_init(&object.cell, T_OBJECT);
        object.cell.w1 = context_create(1, false, true, 0, CONTEXT_OBJECT);
        if (on_change) object.cell.w3 = series_new_cells(2);
        *context_owner(object.cell.w1) = object.cell;
    }
    void field_set(CellRoot& object, const char* name, const Cell* value, CellRoot& word) {
        word.cell = word_cell(T_WORD, symbol_make(name));
        context_put_field(object.cell.w1, &word.cell, value);
        bind_word(object.cell.w1, &word.cell);
    }
    uint32_t entries() { return hashtable_record(ownership_table())->count; }
};

TEST_F(OwnershipTest, ABlockNestedTwiceIsRecordedOnce) {
    CellRoot object, word, inner, outer;
    object_make(object, false);
    block_of_cells(&inner.cell, nullptr, 0);
    Cell twice[] = {inner.cell, inner.cell};
    block_of_cells(&outer.cell, twice, 2);
    field_set(object, "data", &outer.cell, word);
    ownership_set_object(&outer.cell, &object.cell, &word.cell);
    EXPECT_EQ(entries(), 2u);
    EXPECT_TRUE(series_buffer(inner.cell.w2)->flags & SERIES_OWNED);
    EXPECT_TRUE(context_cell(object.cell.w1)->header & CONTEXT_OWNS_SERIES);
    Cell owner;
    ASSERT_TRUE(ownership_find(inner.cell.w2, &owner));
    EXPECT_EQ(owner.w1, object.cell.w1);
}

// Fields are walked with the nested object's words; a field holding its own
// object and a block holding itself end the walk.
TEST_F(OwnershipTest, CyclesEndTheWalk) {
    CellRoot object, nested, word, nested_word, self_word, text, loop;
    object_make(object, false);
    object_make(nested, false);
    string_make_empty_at(&text.cell, 4);
    field_set(nested, "text", &text.cell, nested_word);
    field_set(nested, "me", &nested.cell, self_word);
    block_of_cells(&loop.cell, nullptr, 0);
    block_append(loop, loop);
    block_append(loop, nested);
    field_set(object, "data", &loop.cell, word);
    ownership_set_deep(&loop.cell, &object.cell, &word.cell);
    EXPECT_EQ(cycles_depth(), 0u);
    EXPECT_EQ(entries(), 2u);  // the block and the string
    Cell owner;
    ASSERT_TRUE(ownership_find(text.cell.w2, &owner));
    EXPECT_EQ(owner.w1, object.cell.w1);

    ownership_clear_deep(&loop.cell);
    EXPECT_EQ(entries(), 0u);
    EXPECT_FALSE(series_buffer(text.cell.w2)->flags & SERIES_OWNED);
    EXPECT_FALSE(ownership_find(loop.cell.w2, &owner));
    EXPECT_EQ(cell_type(&owner), T_NONE);
}

TEST_F(OwnershipTest, EntriesDieWithTheirSeriesOrOwner) {
    CellRoot kept, kept_word, kept_block;
    object_make(kept, true);
    block_of_cells(&kept_block.cell, nullptr, 0);
    field_set(kept, "data", &kept_block.cell, kept_word);
    ownership_set_object(&kept_block.cell, &kept.cell, &kept_word.cell);
    {
        CellRoot gone, word, block;
        object_make(gone, false);
        block_of_cells(&block.cell, nullptr, 0);
        field_set(gone, "data", &block.cell, word);
        ownership_set_object(&block.cell, &gone.cell, &word.cell);
    }
    EXPECT_EQ(entries(), 2u);
    bool torture = memory.torture;
    memory_torture_set(true);
    collector_cycle();
    collector_cycle();
    memory_torture_set(torture);
    EXPECT_EQ(entries(), 1u);
    Cell owner;
    ASSERT_TRUE(ownership_find(kept_block.cell.w2, &owner));
    EXPECT_EQ(owner.w1, kept.cell.w1);
    EXPECT_EQ(owner.w3, kept.cell.w3);
}

struct Notified {
    int calls = 0;
    Cell owner, word, action;
    int32_t index = 0, count = 0;
};
Notified notified;

void deep_change(const Cell* owner, const Cell* word, const Cell*, const Cell* action, int32_t index,
                 int32_t count) {
    notified.calls++;
    notified.owner = *owner;
    notified.word = *word;
    notified.action = *action;
    notified.index = index;
    notified.count = count;
}

TEST_F(OwnershipTest, CheckRunsTheOwnersHandler) {
    notified = Notified{};
    ownership_notify_set(deep_change);
    CellRoot quiet, loud, quiet_word, loud_word, quiet_block, loud_block;
    object_make(quiet, false);
    object_make(loud, true);
    block_of_cells(&quiet_block.cell, nullptr, 0);
    block_of_cells(&loud_block.cell, nullptr, 0);
    field_set(quiet, "data", &quiet_block.cell, quiet_word);
    field_set(loud, "data", &loud_block.cell, loud_word);
    ownership_set_object(&quiet_block.cell, &quiet.cell, &quiet_word.cell);
    ownership_set_object(&loud_block.cell, &loud.cell, &loud_word.cell);

    const Cell* append = runtime_word(W_APPEND);
    EXPECT_FALSE(ownership_check(&quiet_block.cell, append, 0, 1));
    EXPECT_EQ(notified.calls, 0);
    EXPECT_TRUE(ownership_check(&loud_block.cell, append, 0, 1));
    EXPECT_EQ(notified.calls, 1);
    EXPECT_EQ(notified.owner.w1, loud.cell.w1);
    EXPECT_EQ(notified.word.w2, loud_word.cell.w2);
    EXPECT_EQ(notified.action.w2, append->w2);
    EXPECT_EQ(notified.count, 1);
    ownership_notify_set(nullptr);
}

} // namespace
