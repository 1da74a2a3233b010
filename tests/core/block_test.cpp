#include "tests/core/block_fixture.hpp"
#include "core/lexer.hpp"

using namespace kel;
using namespace kel::testing;

namespace {

using BlockTest = RuntimeTest;

TEST_F(BlockTest, MoldLaysOutLinesFromTheNewLineFlag) {
    struct Case { const char* text; bool only; const char* expected; } cases[] = {
        {"/ a b", false, "[\n    a b\n]"},
        {"/ a b", true, "a b"},
        {"a / b", false, "[a\nb]"},
        {"a [ / b c ] d", false, "[a [\n    b c\n] d]"},
        {"/ a [ / b ]", false, "[\n    a [\n        b\n    ]\n]"},
    };
    for (const Case& c : cases) {
        Cell* b = load_block(c.text);
        EXPECT_EQ(print_value(*b, true, c.only), c.expected) << c.text;
    }
    Cell* b = load_block("/ a / b");
    Cell* target = stack_push_new(T_STRING);
    string_make_at(target, 4);
    block_mold(b, target, false, false, true, false, 1000, 0);
    EXPECT_EQ(string_utf8(target), "[a b]");
}

TEST_F(BlockTest, ABlockMetAgainPrintsItsPlaceholder) {
    Cell* b = load_block("a");
    block_ks_append(b, b);
    EXPECT_EQ(mold_of(*b), "[a [...]]");
    EXPECT_EQ(form_of(*b), "a ...");
}

TEST_F(BlockTest, FormPutsNoSpaceAfterALineEnd) {
    Cell* b = load_block("a");
    Cell* text = stack_push_new(T_STRING);
    string_make_at(text, 4);
    string_concatenate_text(text, "x\n");
    block_ks_append(b, text);
    block_ks_append(b, push_word("c"));
    EXPECT_EQ(form_of(*b), "a x\nc");
}

TEST_F(BlockTest, MoldStopsAtThePartLimit) {
    Cell* b = load_block("aa bb cc dd");
    int32_t left = 0;
    std::string text = print_value(*b, true, false, true, 4, &left);
    EXPECT_EQ(text, "[aa bb]");  // the closing bracket is always written
    EXPECT_LE(left, 0);
}

TEST_F(BlockTest, CompareOrdersByCellsThenLength) {
    struct Case { const char* a; const char* b; int32_t op; int32_t expected; } cases[] = {
        {"1 2", "1 2", CMP_EQUAL, 0},
        {"1 2", "1 2 3", CMP_EQUAL, 1},
        {"1 2", "1 2 3", CMP_LESSER, -1},
        {"1 2 3", "1 2", CMP_LESSER, 1},
        {"", "1", CMP_LESSER, -1},
        {"1", "", CMP_LESSER, 1},
        {"", "", CMP_LESSER, 0},
        {"1 3", "1 2 9", CMP_LESSER, 1},
        {"a", "A", CMP_EQUAL, 0},
        {"a", "b", CMP_SORT, -1},
    };
    for (const Case& c : cases) {
        Cell* a = load_block(c.a);
        Cell* b = load_block(c.b);
        EXPECT_EQ(block_compare(a, b, c.op), c.expected) << "[" << c.a << "] [" << c.b << "]";
    }
    // Incomparable cells order by type id: integer! (11) after string! (7).
    Cell* a = load_block("1");
    Cell* text = stack_push_new(T_STRING);
    string_make_at(text, 4);
    string_concatenate_text(text, "a");
    Cell* b = block_push_only(1);
    block_ks_append(b, text);
    EXPECT_EQ(block_compare(a, b, CMP_LESSER), 1);
    // same? is only the same series at the same index.
    Cell* other = stack_push(a);
    EXPECT_EQ(block_compare(a, other, CMP_SAME), 0);
    other->w1 = 1;
    EXPECT_NE(block_compare(a, other, CMP_SAME), 0);
    EXPECT_EQ(block_compare(a, text, CMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST_F(BlockTest, SelectingReadsTheCellAfterTheKey) {
    Cell* b = load_block("x 1 y 2 last");
    Cell* key = push_word("Y");
    EXPECT_EQ(mold_of(*block_select_word(b, key, false)), "2");
    EXPECT_EQ(cell_type(block_select_word(b, key, true)), T_NONE);
    Cell* last = push_word("last");
    EXPECT_EQ(cell_type(block_select_word(b, last, false)), T_NONE);
    EXPECT_EQ(cell_type(block_select_value(b, last)), T_NONE);
    Cell* one = push_integer(1);
    EXPECT_EQ(mold_of(*block_select_value(b, one)), "y");
    EXPECT_EQ(block_remove_value(b, one, true), 0);
    EXPECT_EQ(text_of(b), "[x y 2 last]");
}

TEST_F(BlockTest, CloneDeepCopiesNestedBlocksOnly) {
    Cell* b = load_block("a [ b [ c ] ] d");
    block_ks_append(b, b);  // a block that holds itself is shared, not followed
    Cell* copy = block_clone(b, true, false);
    Cell* inner = stack_push(block_ks_abs_at(b, 1));
    block_ks_clear(inner);
    EXPECT_EQ(text_of(b), "[a [] d [...]]");
    EXPECT_EQ(mold_of(*block_ks_abs_at(copy, 1)), "[b [c]]");
}

TEST_F(BlockTest, BuildingCells) {
    Cell* b = block_push_only(0);
    for (int i = 1; i <= 40; i++) {
        Cell n = integer_cell(i);
        block_ks_append(b, &n);
    }
    EXPECT_EQ(block_ks_length_q(b), 40);
    b->w1 = 38;
    Cell zero = integer_cell(0);
    block_insert_cell(b, &zero, false, true);
    EXPECT_EQ(series_index(b), 39);
    EXPECT_EQ(mold_of(*block_ks_head(b)), "39");
    block_insert_cell(b, &zero, true, false);
    EXPECT_EQ(mold_of(*block_ks_abs_at(b, 0)), "0");
    // A block appended to itself is copied as it was.
    Cell* c = load_block("p q");
    c->w1 = 1;
    block_insert_block(c, c);
    EXPECT_EQ(series_index(c), 2);
    c->w1 = 0;
    EXPECT_EQ(text_of(c), "[p q q]");
    block_copy_cells(c, c);
    EXPECT_EQ(text_of(c), "[p q q p q q]");
    stack_push(c);
    Cell* w = stack_push_new(T_NONE);
    *w = word_intern("r");
    block_append_last();
    EXPECT_EQ(text_of(c), "[p q q p q q r]");
}

TEST_F(BlockTest, MakeAndTo) {
    Cell* proto = stack_push_new(T_NONE);
    Cell* size = push_integer(10);
    block_make(proto, size, T_BLOCK);
    EXPECT_EQ(cell_type(proto), T_BLOCK);
    EXPECT_EQ(block_ks_length_q(proto), 0);
    EXPECT_GE(series_buffer(proto->w2)->size, 160u);
    Cell* spec = load_block("a b");
    spec->w1 = 1;
    block_make(proto, spec, T_PAREN);
    EXPECT_EQ(mold_of(*proto), "(b)");
    Cell* bad = stack_push_new(T_NONE);
    EXPECT_EQ(raised_code([&] { block_make(proto, bad, T_BLOCK); }), 300 + ERR_BAD_MAKE_ARG);
    Cell* one = push_integer(1);
    block_to(proto, one, T_BLOCK);
    EXPECT_EQ(mold_of(*proto), "[1]");
    lexer_init();
    Cell* text = stack_push_new(T_STRING);
    string_make_at(text, 8);
    string_concatenate_text(text, "x [y] 2");
    block_to(proto, text, T_PAREN);
    EXPECT_EQ(mold_of(*proto), "(x [y] 2)");
}

TEST_F(BlockTest, PathSelection) {
    Cell* b = load_block("a 1 b 2");
    Cell* out = stack_push_new(T_NONE);
    Cell* key = push_word("b");
    block_eval_path(b, key, nullptr, b, false, out);
    EXPECT_EQ(mold_of(*out), "2");
    Cell* three = push_integer(3);
    block_eval_path(b, three, nullptr, b, false, out);
    EXPECT_EQ(mold_of(*out), "b");
    Cell* nine = push_integer(9);
    block_eval_path(b, key, nine, b, false, out);
    EXPECT_EQ(text_of(b), "[a 1 b 9]");
    Cell* missing = push_word("zz");
    EXPECT_EQ(raised_code([&] { block_eval_path(b, missing, nine, b, false, out); }),
              300 + ERR_BAD_PATH_SET);
}

} // namespace
