// typeset!: the mask layout, construction from type lists, printing, set
// operations and comparison.
#include "core/logic.hpp"
#include "core/typeset.hpp"
#include "tests/core/words_fixture.hpp"

namespace kel::testing {
namespace {

constexpr int SCRIPT = 300;

// Words in these tests are made unbound and bound to the global context only
// once they lie in a block, where the collector keeps their context current.
struct TypesetTest : RuntimeTest {
    // A block of the values, its words bound to the global context.
    void block_bound(CellRoot& block, const Cell* entries, uint32_t count) {
        block_of_cells(&block.cell, entries, count);
        bind_block(&block.cell, global_context, false);
    }
    // A typeset made by the make action from a block of the given values.
    Cell make_from(std::initializer_list<Cell> entries) {
        CellRoot block;
        block_bound(block, entries.begin(), uint32_t(entries.size()));
        Cell result;
        cell_init(&result, T_NONE);
        const Cell* made = typeset_make(&result, &block.cell, T_TYPESET);
        return *made;
    }
    // Sets a global word to a value and returns the word, unbound.
    Cell global(const char* name, const Cell& value) {
        CellRoot held(value);
        CellRoot word(word_intern(name));
        word_set(&word.cell, &held.cell);
        return word_cell(T_WORD, word.cell.w2);
    }
    // A global word that has no value, unbound.
    Cell unset_global(const char* name) { return word_cell(T_WORD, word_intern(name).w2); }
};

TEST_F(TypesetTest, MaskFollowsTheByteLayout) {
    // Type t is bit 0x80 >> (t mod 8) of byte t div 8, bytes in memory order.
    Cell t;
    typeset_make_at(&t);
    typeset_add_type(&t, T_DATATYPE);  // byte 0, 0x40
    typeset_add_type(&t, T_INTEGER);   // byte 1, 0x10
    typeset_add_type(&t, T_EVENT);     // byte 6, 0x02
    uint8_t bytes[12];
    std::memcpy(bytes, &t.w1, 12);
    const uint8_t expected[12] = {0x40, 0x10, 0, 0, 0, 0, 0x02, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(bytes, expected, 12), 0);
    EXPECT_TRUE(typeset_has(&t, T_INTEGER));
    EXPECT_FALSE(typeset_has(&t, T_FLOAT));
    EXPECT_FALSE(typeset_has(&t, 200));
    typeset_remove_type(&t, T_INTEGER);
    EXPECT_FALSE(typeset_has(&t, T_INTEGER));

    Cell all;
    typeset_all_but_unset_at(&all);
    EXPECT_FALSE(typeset_has(&all, T_UNSET));
    for (int type = T_DATATYPE; type <= LAST_TYPE_ID; type++)
        if (type != T_UNSET) EXPECT_TRUE(typeset_has(&all, uint8_t(type))) << type;
    // Bits above the registered ids are ignored by counting.
    EXPECT_EQ(typeset_count(&all), uint32_t(datatype_highest_id() - 1));
}

TEST_F(TypesetTest, MoldAndFormListTypesInIdOrder) {
    struct Case {
        std::vector<uint8_t> types;
        const char* mold;
        const char* form;
    };
    const Case cases[] = {
        {{T_FLOAT, T_INTEGER}, "make typeset! [integer! float!]", "integer! float!"},
        {{}, "make typeset! []", ""},
        {{T_WORD}, "make typeset! [word!]", "word!"},
    };
    for (const Case& c : cases) {
        std::vector<Cell> entries;
        for (uint8_t type : c.types) entries.push_back(datatype_cell(type));
        CellRoot block;
        block_of_cells(&block.cell, entries.data(), uint32_t(entries.size()));
        Cell result;
        cell_init(&result, T_NONE);
        Cell made = *typeset_make(&result, &block.cell, T_TYPESET);
        EXPECT_EQ(mold_of(made), c.mold);
        EXPECT_EQ(form_of(made), c.form);
    }
}

TEST_F(TypesetTest, MoldBudgetCountsPrefixAndNames) {
    Cell t = make_from({datatype_cell(T_INTEGER), datatype_cell(T_FLOAT)});
    int32_t left = 0;
    print_value(t, true, false, false, 100, &left);
    // 15 for the prefix, then name length + 2 per type ("integer" 7, "float" 5).
    EXPECT_EQ(left, 100 - 15 - 9 - 7);
    // A part-limited mold stops once the budget is below 0.
    EXPECT_EQ(print_value(t, true, false, true, 16), "make typeset! [integer!]");
}

TEST_F(TypesetTest, MakeTakesDatatypesTypesetsAndWordsOfThem) {
    Cell numbers = make_from({datatype_cell(T_INTEGER), datatype_cell(T_FLOAT)});
    Cell named = global("number-types", numbers);
    Cell text_type = global("text-type", datatype_cell(T_STRING));
    Cell t = make_from({named, text_type, datatype_cell(T_CHAR)});
    EXPECT_EQ(form_of(t), "string! char! integer! float!");

    // A typeset argument is returned as it is.
    Cell out;
    cell_init(&out, T_NONE);
    const Cell* same = typeset_make(&out, &numbers, T_TYPESET);
    EXPECT_EQ(typeset_compare(same, &numbers, CMP_STRICT_EQUAL), 0);
}

TEST_F(TypesetTest, MakeRejectsWhatIsNotAType) {
    Cell unset_word = unset_global("never-set");
    EXPECT_EQ(raised_code([&] { make_from({unset_word}); }), SCRIPT + ERR_NO_VALUE);
    EXPECT_EQ(raised_code([&] { make_from({integer_cell(1)}); }), SCRIPT + ERR_INVALID_ARG);
    Cell out;
    cell_init(&out, T_NONE);
    Cell one = integer_cell(1);
    EXPECT_EQ(raised_code([&] { typeset_make(&out, &one, T_TYPESET); }), SCRIPT + ERR_BAD_TO_ARG);
}

TEST_F(TypesetTest, FromSpecReadsAFunctionTypeBlock) {
    Cell word_value = global("some-word", word_cell(T_WORD, symbol_make("anything")));
    Cell typed = global("num", datatype_cell(T_INTEGER));
    CellRoot nested;
    block_of_cells(&nested.cell, nullptr, 0);
    CellRoot spec;
    Cell entries[] = {typed, word_value, datatype_cell(T_BLOCK)};
    block_bound(spec, entries, 3);
    block_append(spec, nested);
    CellRoot parent;
    block_of_cells(&parent.cell, nullptr, 0);
    typeset_from_spec(parent.cell.w2, &spec.cell);
    ASSERT_EQ(block_length(&parent.cell), 1u);
    Cell t = block_cells(&parent.cell)[0];
    EXPECT_EQ(form_of(t), "block! integer! object!");

    Cell bad[] = {integer_cell(3)};
    block_of_cells(&spec.cell, bad, 1);
    EXPECT_EQ(raised_code([&] { typeset_from_spec(parent.cell.w2, &spec.cell); }),
              SCRIPT + ERR_INVALID_TYPE_SPEC);
    Cell unset_entry[] = {unset_global("still-unset")};
    block_bound(spec, unset_entry, 1);
    EXPECT_EQ(raised_code([&] { typeset_from_spec(parent.cell.w2, &spec.cell); }),
              SCRIPT + ERR_NO_VALUE);

    typeset_all_but_unset(parent.cell.w2);
    Cell all = block_cells(&parent.cell)[1];
    EXPECT_TRUE(typeset_has(&all, T_NONE));
    EXPECT_FALSE(typeset_has(&all, T_UNSET));
}

TEST_F(TypesetTest, SetOperations) {
    Cell a = make_from({datatype_cell(T_INTEGER), datatype_cell(T_FLOAT)});
    Cell b = make_from({datatype_cell(T_FLOAT), datatype_cell(T_CHAR)});
    struct Case {
        int32_t op;
        const char* form;
    };
    const Case cases[] = {
        {TYPESET_OR, "char! integer! float!"},      {TYPESET_UNION, "char! integer! float!"},
        {TYPESET_AND, "float!"},                    {TYPESET_INTERSECT, "float!"},
        {TYPESET_XOR, "char! integer!"},            {TYPESET_DIFFERENCE, "char! integer!"},
        {TYPESET_EXCLUDE, "integer!"},              {TYPESET_UNIQUE, "integer! float!"},
    };
    for (const Case& c : cases) {
        Cell r = a;
        typeset_set_op_at(&r, &b, c.op);
        EXPECT_EQ(form_of(r), c.form) << c.op;
    }
    // A datatype is a one-type set.
    Cell r = a;
    Cell string_type = datatype_cell(T_STRING);
    typeset_or_t(&r, &string_type);
    EXPECT_EQ(form_of(r), "string! integer! float!");
    Cell one = integer_cell(1);
    EXPECT_EQ(raised_code([&] { typeset_and_t(&r, &one); }), SCRIPT + ERR_INVALID_ARG);
}

TEST_F(TypesetTest, ComplementAndFind) {
    Cell t = make_from({datatype_cell(T_INTEGER)});
    Cell unset_type = datatype_cell(T_UNSET), integer_type = datatype_cell(T_INTEGER);
    EXPECT_EQ(typeset_find(&t, &unset_type, FindOptions{}), &false_cell);
    typeset_complement(&t);
    EXPECT_EQ(typeset_find(&t, &unset_type, FindOptions{}), &true_cell);
    EXPECT_EQ(typeset_find(&t, &integer_type, FindOptions{}), &false_cell);
    Cell one = integer_cell(1);
    EXPECT_EQ(raised_code([&] {
                  typeset_find(&t, &one, FindOptions{});
              }),
              SCRIPT + ERR_INVALID_ARG);
}

TEST_F(TypesetTest, Compare) {
    Cell small = make_from({datatype_cell(T_EVENT)});
    Cell big = make_from({datatype_cell(T_INTEGER), datatype_cell(T_FLOAT)});
    Cell big2 = big;
    Cell one = integer_cell(1);
    EXPECT_EQ(typeset_compare(&big, &big2, CMP_EQUAL), 0);
    EXPECT_EQ(typeset_compare(&big, &small, CMP_NOT_EQUAL), 1);
    EXPECT_EQ(typeset_compare(&big, &small, CMP_SAME), 1);
    EXPECT_EQ(typeset_compare(&small, &big, CMP_SORT), -1);  // by count, not by ids
    EXPECT_EQ(typeset_compare(&big, &small, CMP_SORT_CASE), 1);
    EXPECT_EQ(typeset_compare(&big, &small, CMP_LESSER), COMPARE_INCOMPARABLE);
    EXPECT_EQ(typeset_compare(&big, &one, CMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST_F(TypesetTest, ToBlockListsTypeWords) {
    Cell t = make_from({datatype_cell(T_FLOAT), datatype_cell(T_INTEGER)});
    typeset_add_type(&t, 90);  // beyond every registered id: not listed
    CellRoot block;
    block_of_cells(&block.cell, nullptr, 0);
    typeset_to_block(&t, block.cell.w2);
    ASSERT_EQ(block_length(&block.cell), 2u);
    EXPECT_EQ(symbol_text(block_cells(&block.cell)[0].w2), "integer!");
    EXPECT_EQ(symbol_text(block_cells(&block.cell)[1].w2), "float!");
    EXPECT_EQ(cell_type(&block_cells(&block.cell)[1]), T_WORD);
}

// Each type word is bound to the global context, whose node a collection
// renumbers while the block grows: every word must follow it.
TEST_F(TypesetTest, ToBlockWordsFollowTheGlobalContextWhenTheBlockGrows) {
    Cell every;
    cell_init(&every, T_TYPESET);
    every.w1 = every.w2 = every.w3 = 0xFFFFFFFF;
    CellRoot block;
    block_of_cells(&block.cell, nullptr, 0);
    {
        TortureScope torture;
        typeset_to_block(&every, block.cell.w2);
    }
    ASSERT_GT(block_length(&block.cell), 8u);
    for (uint32_t k = 0; k < block_length(&block.cell); k++)
        EXPECT_EQ(block_cells(&block.cell)[k].w1, global_context) << symbol_text(block_cells(&block.cell)[k].w2);
}

} // namespace
} // namespace kel::testing
