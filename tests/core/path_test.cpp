// The path types and paren!: construction and printed forms.
#include "core/block.hpp"
#include "core/path.hpp"
#include "core/typeset.hpp"
#include "tests/core/words_fixture.hpp"

namespace kel::testing {
namespace {

constexpr int SCRIPT = 300;

struct PathTest : RuntimeTest {
    // An unbound word: printing needs no binding.
    static Cell w(const char* name) { return word_cell(T_WORD, symbol_make(name)); }
    // A series of the type holding the cells, at index 0.
    Cell series_of(uint8_t type, std::initializer_list<Cell> cells) {
        Cell c;
        block_of_cells(&c, cells.begin(), uint32_t(cells.size()));
        cell_type_set(&c, type);
        return c;
    }
    Cell make(uint8_t type, const Cell& spec, int action = A_MAKE) {
        return make_value(type, spec, action);
    }
};

TEST_F(PathTest, MoldOfEachPathTypeAndParen) {
    Cell a = w("a"), b = w("b");
    struct Case {
        uint8_t type;
        const char* mold;
        const char* form;
    };
    const Case cases[] = {
        {T_PATH, "a/b", "a/b"},
        {T_LIT_PATH, "'a/b", "a/b"},
        {T_SET_PATH, "a/b:", "a/b"},
        {T_GET_PATH, ":a/b", "a/b"},
    };
    for (const Case& c : cases) {
        CellRoot path(series_of(c.type, {a, b}));
        EXPECT_EQ(mold_of(path.cell), c.mold);
        EXPECT_EQ(form_of(path.cell), c.form);
    }
    // Elements are molded or formed by their own types; a path at an index
    // prints from there.
    Cell refinement = a;
    cell_type_set(&refinement, T_LIT_WORD);
    CellRoot mixed(series_of(T_PATH, {refinement, integer_cell(2), b}));
    EXPECT_EQ(mold_of(mixed.cell), "'a/2/b");
    EXPECT_EQ(form_of(mixed.cell), "a/2/b");
    mixed.cell.w1 = 1;
    EXPECT_EQ(mold_of(mixed.cell), "2/b");

    CellRoot paren(series_of(T_PAREN, {integer_cell(1), integer_cell(2)}));
    EXPECT_EQ(mold_of(paren.cell), "(1 2)");
    EXPECT_EQ(form_of(paren.cell), "1 2");
    EXPECT_EQ(print_value(paren.cell, true, true), "1 2");  // only: no parentheses
    Cell empty = series_of(T_PAREN, {});
    EXPECT_EQ(mold_of(empty), "()");
}

TEST_F(PathTest, SelfContainingSeriesPrintThroughTheCycleGuard) {
    CellRoot path(series_of(T_PATH, {w("a")}));
    block_append(path, path);
    EXPECT_EQ(mold_of(path.cell), "a/...");
    EXPECT_EQ(form_of(path.cell), "a/...");
    cell_type_set(&path.cell, T_GET_PATH);
    EXPECT_EQ(mold_of(path.cell), ":a/...");

    CellRoot paren(series_of(T_PAREN, {integer_cell(1)}));
    block_append(paren, paren);
    EXPECT_EQ(mold_of(paren.cell), "(1 (...))");
    EXPECT_EQ(cycles_depth(), 0u);
}

TEST_F(PathTest, PartLimitStopsPrinting) {
    CellRoot path(series_of(T_PATH, {w("alpha"), w("beta"), w("gamma")}));
    int32_t left = 0;
    std::string text = print_value(path.cell, true, false, true, 6, &left);
    EXPECT_EQ(text, "alpha/beta");  // the budget fell below 1 after "beta"
    EXPECT_EQ(left, 6 - 5 - 1 - 4);
    print_value(path.cell, true, false, false, 100, &left);
    EXPECT_EQ(left, 100 - 16);
}

TEST_F(PathTest, MakeAndTo) {
    Cell from_block = make(T_SET_PATH, series_of(T_BLOCK, {w("a"), w("b")}));
    EXPECT_EQ(cell_type(&from_block), T_SET_PATH);
    EXPECT_EQ(mold_of(from_block), "a/b:");

    struct Sized {
        Cell spec;
        uint32_t room;
    };
    Cell half, percent;
    cell_init(&half, T_FLOAT);
    cell_set_double(&half, 0.5);
    cell_init(&percent, T_PERCENT);
    cell_set_double(&percent, 3.7);
    const Sized sizes[] = {{integer_cell(0), 1}, {integer_cell(5), 5}, {half, 1}, {percent, 3}};
    for (const Sized& s : sizes) {
        Cell path = make(T_PATH, s.spec);
        EXPECT_EQ(cell_type(&path), T_PATH);
        EXPECT_EQ(block_length(&path), 0u);
        EXPECT_GE(series_buffer(path.w2)->size / sizeof(Cell), s.room);
    }
    Cell text;
    cell_init(&text, T_LOGIC);
    EXPECT_EQ(raised_code([&] { make(T_PATH, text); }), SCRIPT + ERR_BAD_MAKE_ARG);

    // A typeset (like an object or a map) becomes a path of that one value.
    Cell types;
    uint8_t ids[] = {T_INTEGER};
    typeset_make_at(&types, ids, 1);
    Cell wrapped = make(T_GET_PATH, types, A_TO);
    EXPECT_EQ(cell_type(&wrapped), T_GET_PATH);
    ASSERT_EQ(block_length(&wrapped), 1u);
    EXPECT_EQ(cell_type(&block_cells(&wrapped)[0]), T_TYPESET);
    // Other values go through block!'s conversion.
    Cell one = make(T_PATH, integer_cell(1), A_TO);
    EXPECT_EQ(mold_of(one), "1");
}

TEST_F(PathTest, RegistrySlots) {
    // Children keep block!'s series actions and their own molds.
    for (uint8_t type : {T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH, T_PAREN}) {
        EXPECT_EQ(action_slot(type, A_APPEND), action_slot(T_BLOCK, A_APPEND)) << int(type);
        EXPECT_EQ(action_slot(type, A_COMPARE), action_slot(T_BLOCK, A_COMPARE)) << int(type);
        EXPECT_NE(action_slot(type, A_MOLD), action_slot(T_BLOCK, A_MOLD)) << int(type);
    }
    EXPECT_EQ(action_slot(T_SET_PATH, A_FORM), action_fn(&path_form));
    EXPECT_EQ(action_slot(T_PAREN, A_FORM), action_slot(T_BLOCK, A_FORM));
    EXPECT_EQ(action_slot(T_LIT_PATH, A_MAKE), action_fn(&path_make));
}

} // namespace
} // namespace kel::testing
