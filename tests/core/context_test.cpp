#include "tests/core/symbol_fixture.hpp"

#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

struct ContextTest : RuntimeTest {};

constexpr int NO_VALUE = 300, NOT_DEFINED = 302, NOT_IN_CONTEXT = 303;

TEST_F(ContextTest, SpellingsShareOneGlobalSlot) {
    CellRoot foo(word_intern("Foo"));
    CellRoot lower(word_intern("foo"));  // found under the other spelling
    EXPECT_EQ(lower.cell.w3, foo.cell.w3);
    EXPECT_EQ(symbol_text(lower.cell.w2), "foo");

    uint32_t count = context_word_count(global_context);
    CellRoot upper(word_intern_symbol(symbol_make("FOO")));  // exact lookup adds an entry
    EXPECT_EQ(context_word_count(global_context), count + 1);
    EXPECT_EQ(upper.cell.w3, foo.cell.w3);
    EXPECT_EQ(series_buffer(context_cell(global_context)->w2)->length(), count + 1);

    Cell seven = integer_cell(7);
    word_set(&upper.cell, &seven);
    EXPECT_EQ(cell_int(word_get(&foo.cell)), 7);
    EXPECT_EQ(cell_int(word_get(&lower.cell)), 7);
    EXPECT_EQ(word_intern("FOO").w3, foo.cell.w3);
}

TEST_F(ContextTest, SpecMakesWordsInOrder) {
    std::vector<Cell> spec = {word_cell(T_WORD, symbol_make("a")), word_cell(T_WORD, symbol_make("b")),
                              word_cell(T_REFINEMENT, symbol_make("c")),
                              word_cell(T_WORD, symbol_make("d")), word_cell(T_WORD, symbol_make("B")),
                              integer_cell(5), word_cell(T_SET_WORD, symbol_make("e"))};
    CellRoot block;
    block_of_cells(&block.cell, spec.data(), uint32_t(spec.size()));
    NodeRoot context(context_make_from_spec(&block.cell, false, true, CONTEXT_OBJECT), ROOT_BLOCK);
    ASSERT_EQ(context_word_count(context.node), 4u);
    const char* names[] = {"a", "b", "c", "d"};
    for (uint32_t i = 0; i < 4; i++) {
        EXPECT_EQ(symbol_text(context_word_at(context.node, i)->w2), names[i]);
        EXPECT_EQ(context_word_at(context.node, i)->w3, i);
        EXPECT_EQ(context_word_at(context.node, i)->w1, context.node);
    }
    EXPECT_EQ(series_buffer(context_cell(context.node)->w2)->length(), 4u);
    EXPECT_EQ(context_kind(context.node), uint32_t(CONTEXT_OBJECT));
    EXPECT_TRUE(context_cell(context.node)->header & CONTEXT_OBJECT_FLAG);
    uint32_t d = symbol_make("D");
    EXPECT_EQ(context_find_word(context.node, d, true), 3);
    EXPECT_EQ(context_find_word(context.node, d, false), -1);

    EXPECT_TRUE(context_collect_set_words(context.node, &block.cell));
    EXPECT_EQ(context_word_count(context.node), 5u);
    EXPECT_FALSE(context_collect_set_words(context.node, &block.cell));
}

// A block holding itself and a paren: binding ends, and every word of both
// is bound.
TEST_F(ContextTest, BindingABlockThatHoldsItselfEnds) {
    CellRoot context_value;
    NodeRoot context(context_create(2, false, false, 0, CONTEXT_PLAIN), ROOT_BLOCK);
    Cell x = word_cell(T_WORD, symbol_make("x"));
    context_add_word_of(context.node, &x);
    Cell cells[] = {word_cell(T_WORD, symbol_make("X")), word_cell(T_GET_WORD, symbol_make("x")),
                    word_cell(T_WORD, symbol_make("y")), integer_cell(0)};
    CellRoot block;
    block_of_cells(&block.cell, cells, 4);
    CellRoot paren;
    block_of_cells(&paren.cell, cells, 2);
    cell_type_set(&paren.cell, T_PAREN);
    block_cells(&block.cell)[3] = block.cell;  // the block holds itself
    block_append(block, paren);

    bind_block(&block.cell, context.node, false);
    EXPECT_EQ(cycles_depth(), 0u);
    const Cell* bound = block_cells(&block.cell);
    for (int i : {0, 1}) {
        EXPECT_EQ(bound[i].w1, context.node);
        EXPECT_EQ(bound[i].w3, 0u);
        EXPECT_EQ(block_cells(&paren.cell)[i].w1, context.node);
    }
    EXPECT_EQ(bound[2].w1, 0u);  // y is not in the context
    EXPECT_EQ(bound[2].w3, WORD_UNBOUND);
}

TEST_F(ContextTest, SelfReadsTheOwner) {
    NodeRoot context(context_create(1, false, true, 0, CONTEXT_OBJECT), ROOT_BLOCK);
    Cell object;
    cell_init(&object, T_OBJECT);
    object.w1 = context.node;
    object.w2 = 99;
    *context_owner(context.node) = object;
    Cell cells[] = {word_cell(T_WORD, runtime_symbol(SYM_SELF)), word_cell(T_SET_WORD, runtime_symbol(SYM_SELF))};
    CellRoot block;
    block_of_cells(&block.cell, cells, 2);
    bind_block(&block.cell, context.node, true);
    const Cell* self = &block_cells(&block.cell)[0];
    EXPECT_EQ(self->w1, context.node);
    EXPECT_EQ(self->w3, WORD_UNBOUND);
    const Cell* owner = word_get(self);
    EXPECT_EQ(cell_type(owner), T_OBJECT);
    EXPECT_EQ(owner->w2, 99u);
    // The set-word is bound like any word: self is not in the context.
    EXPECT_EQ(block_cells(&block.cell)[1].w1, 0u);
}

TEST_F(ContextTest, ValuesAreSetAndReadBySlot) {
    NodeRoot context(context_create(0, false, true, 0, CONTEXT_OBJECT), ROOT_BLOCK);
    CellRoot a(word_cell(T_WORD, symbol_make("alpha")));
    a.cell.w1 = context.node;
    Cell one = integer_cell(1);
    context_set_value(&a.cell, &one, context.node, true);  // added on first write
    EXPECT_EQ(a.cell.w3, 0u);
    EXPECT_TRUE(context_word_at(context.node, 0)->header & WORD_SLOT_WRITTEN);
    EXPECT_EQ(cell_int(context_get_value(context.node, &a.cell)), 1);

    Cell two = integer_cell(2);
    CellRoot beta(word_cell(T_WORD, symbol_make("beta")));
    EXPECT_TRUE(context_add_field(context.node, &beta.cell, &two));
    EXPECT_FALSE(context_add_field(context.node, &beta.cell, &one));
    context_put_field(context.node, &beta.cell, &one);
    uint32_t upper = symbol_make("BETA"), gamma = symbol_make("gamma");
    EXPECT_EQ(cell_int(context_symbol_value(upper, context.node)), 1);
    EXPECT_EQ(context_symbol_value(gamma, context.node), nullptr);
}

TEST_F(ContextTest, UnavailableSlotsRaise) {
    NodeRoot function(context_create(2, true, false, 0, CONTEXT_FUNCTION), ROOT_BLOCK);
    CellRoot arg(word_cell(T_WORD, symbol_make("arg")));
    context_add_word_of(function.node, &arg.cell);
    ASSERT_EQ(bind_word(function.node, &arg.cell), 0);
    Cell one = integer_cell(1);
    EXPECT_EQ(raised_code([&] { word_set(&arg.cell, &one); }), NOT_DEFINED);
    EXPECT_EQ(raised_code([&] { word_get(&arg.cell); }), NOT_IN_CONTEXT);
    CellRoot loose(word_cell(T_WORD, symbol_make("loose")));
    EXPECT_EQ(raised_code([&] { word_get(&loose.cell); }), NO_VALUE);

    // While the function runs its values are the frame's argument cells.
    Cell* args = stack_push(&one);
    stack_push(&one);
    context_values_set_args(function.node, args);
    Cell nine = integer_cell(9);
    word_set(&arg.cell, &nine);
    EXPECT_EQ(cell_int(args), 9);
    EXPECT_EQ(word_get(&arg.cell), args);
    context_values_set(function.node, 0);
    stack_pop(2);
}

TEST_F(ContextTest, ClonesGetTheirOwnWordList) {
    CellRoot owner;
    cell_init(&owner.cell, T_OBJECT);
    owner.cell.w1 = context_create(2, false, true, 0, CONTEXT_OBJECT);
    NodeRoot old(owner.cell.w1, ROOT_BLOCK);
    Cell one = integer_cell(1);
    CellRoot field(word_cell(T_WORD, symbol_make("field")));
    context_put_field(owner.cell.w1, &field.cell, &one);
    Node clone = context_clone(&owner.cell, CONTEXT_OBJECT);
    EXPECT_EQ(owner.cell.w1, clone);
    EXPECT_NE(clone, old.node);
    EXPECT_EQ(context_word_count(owner.cell.w1), 1u);
    EXPECT_EQ(context_word_at(owner.cell.w1, 0)->w1, owner.cell.w1);
    EXPECT_EQ(context_word_at(old.node, 0)->w1, old.node);
    EXPECT_EQ(series_buffer(context_cell(owner.cell.w1)->w2)->length(), 0u);
    CellRoot other(word_cell(T_WORD, symbol_make("other")));
    context_add_word_of(owner.cell.w1, &other.cell);
    EXPECT_EQ(context_word_count(old.node), 1u);
}

TEST_F(ContextTest, GlobalWordsSurviveCollections) {
    std::vector<uint32_t> symbols;
    for (int i = 0; i < 300; i++) {
        CellRoot word(word_intern(("global-" + std::to_string(i)).c_str()));
        Cell value = integer_cell(i);
        word_set(&word.cell, &value);
        symbols.push_back(word.cell.w2);
    }
    bool torture = memory.torture;
    memory_torture_set(true);
    collector_cycle();
    memory_torture_set(torture);
    for (int i = 0; i < 300; i++) {
        Cell* value = context_symbol_value(symbols[i], global_context);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(cell_int(value), i);
    }
}

} // namespace
