// The word family: printing, comparison, conversion and slot access.
#include "core/lexer.hpp"
#include "core/logic.hpp"
#include "core/string.hpp"
#include "core/word.hpp"
#include "tests/core/words_fixture.hpp"

namespace kel::testing {
namespace {

constexpr int SCRIPT = 300;

struct WordTest : RuntimeTest {
    // to word! of a string runs the lexer, whose values are then a root.
    void SetUp() override {
        RuntimeTest::SetUp();
        lexer_init();
    }
    // A word of the type, unbound, named by the text.
    Cell named(uint8_t type, const char* text) {
        Cell c;
        word_make_at(&c, type, symbol_make(text));
        return c;
    }
    Cell convert(uint8_t type, const Cell& spec, int action = A_TO) {
        return make_value(type, spec, action);
    }
    Cell string_value(const char* text) {
        Cell* s = string_load_push(reinterpret_cast<const uint8_t*>(text),
                                   uint32_t(std::strlen(text)), ENCODING_UTF8);
        Cell value = *s;
        stack_pop(1);
        return value;
    }
    int32_t compare(const Cell& a, const Cell& b, int32_t op) {
        auto fn = action_slot_as<CompareFn>(cell_type(&a), A_COMPARE);
        return fn(&a, &b, op);
    }
};

TEST_F(WordTest, MoldAndFormOfEachWordType) {
    struct Case {
        uint8_t type;
        const char* mold;
    };
    const Case cases[] = {
        {T_WORD, "été"},       {T_SET_WORD, "été:"},    {T_LIT_WORD, "'été"},
        {T_GET_WORD, ":été"},  {T_REFINEMENT, "/été"},  {T_ISSUE, "#été"},
    };
    for (const Case& c : cases) {
        Cell w = named(c.type, "été");
        EXPECT_EQ(mold_of(w), c.mold) << int(c.type);
        EXPECT_EQ(form_of(w), "été") << int(c.type);
        // Each extra character takes one from the budget, as does each of the name's.
        int32_t left = 0;
        print_value(w, true, false, false, 10, &left);
        EXPECT_EQ(left, 10 - int32_t(std::strlen(c.mold) - 2));  // each é: two bytes, one character
    }
}

TEST_F(WordTest, FormKeepsTheSpellingItWasMadeWith) {
    CellRoot first(word_intern("Alpha"));
    CellRoot second(word_intern("ALPHA"));
    EXPECT_EQ(form_of(first.cell), "Alpha");
    EXPECT_EQ(form_of(second.cell), "ALPHA");
    EXPECT_EQ(first.cell.w3, second.cell.w3);  // one slot for both spellings
}

TEST_F(WordTest, CompareByOperationCode) {
    Cell word = word_intern("abc");
    Cell set_upper = word_intern("ABC");
    cell_type_set(&set_upper, T_SET_WORD);
    Cell lit = word;
    cell_type_set(&lit, T_LIT_WORD);
    Cell lit_upper = set_upper;
    cell_type_set(&lit_upper, T_LIT_WORD);
    Cell issue = named(T_ISSUE, "abc");
    Cell other = named(T_WORD, "abd");
    struct Case {
        Cell a, b;
        int32_t op, result;
    };
    const Case cases[] = {
        {word, set_upper, CMP_EQUAL, 0},           // case and word type ignored
        {word, set_upper, CMP_FIND, 0},
        {word, set_upper, CMP_STRICT_EQUAL, 1},
        {word, word, CMP_STRICT_EQUAL, 0},
        {word, lit, CMP_STRICT_EQUAL, 1},          // types differ
        {word, lit, CMP_FIND_MODE1, 0},            // word and lit-word by raw symbol
        {word, lit_upper, CMP_FIND_MODE1, 1},
        {word, lit_upper, CMP_FIND_MODE2, 0},      // word and lit-word by resolved symbol
        {word, set_upper, CMP_FIND_MODE2, 1},      // other pairs need equal types
        {word, other, CMP_LESSER, -1},
        {set_upper, other, CMP_LESSER, -1},        // orderings fold case
        {other, word, CMP_SORT, 1},
        {word, issue, CMP_EQUAL, COMPARE_INCOMPARABLE},
        {issue, word, CMP_EQUAL, COMPARE_INCOMPARABLE},
        {issue, named(T_ISSUE, "ABC"), CMP_EQUAL, 0},
        {word, integer_cell(1), CMP_EQUAL, COMPARE_INCOMPARABLE},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++)
        EXPECT_EQ(compare(cases[i].a, cases[i].b, cases[i].op), cases[i].result) << "case " << i;

    // same? needs the same symbol, context and type.
    NodeRoot context(context_create(2, false, false, 0, CONTEXT_PLAIN));
    Cell local = word;
    context_add_word_of(context.node, &local);
    bind_word(context.node, &local);
    EXPECT_EQ(local.w1, context.node);
    EXPECT_EQ(compare(word, local, CMP_SAME), 1);
    EXPECT_EQ(compare(word, local, CMP_EQUAL), 0);
    EXPECT_EQ(compare(word, word, CMP_SAME), 0);
}

TEST_F(WordTest, ToWordFromValuesOfOtherTypes) {
    Cell from_type = convert(T_WORD, datatype_cell(T_INTEGER));
    EXPECT_EQ(from_type.w1, global_context);
    EXPECT_EQ(mold_of(from_type), "integer!");

    Cell truth;
    logic_make_at(&truth, true);
    Cell from_logic = convert(T_SET_WORD, truth);
    EXPECT_EQ(mold_of(from_logic), "true:");

    Cell bound = word_intern("kept");
    Cell retyped = convert(T_GET_WORD, bound);
    EXPECT_EQ(cell_type(&retyped), T_GET_WORD);
    EXPECT_EQ(retyped.w1, bound.w1);
    EXPECT_EQ(retyped.w3, bound.w3);

    EXPECT_EQ(raised_code([&] { convert(T_WORD, integer_cell(3)); }), SCRIPT + ERR_BAD_TO_ARG);
}

TEST_F(WordTest, ToWordScansText) {
    EXPECT_EQ(mold_of(convert(T_WORD, string_value("hello"))), "hello");
    EXPECT_EQ(mold_of(convert(T_LIT_WORD, string_value("a:"))), "'a");
    Cell ch;
    cell_init(&ch, T_CHAR);
    ch.w2 = 'x';
    EXPECT_EQ(mold_of(convert(T_REFINEMENT, ch)), "/x");
    for (const char* bad : {"a b", "", "12", "[a]", "a ["})
        EXPECT_EQ(raised_code([&] { convert(T_WORD, string_value(bad)); }),
                  SCRIPT + ERR_INVALID_CHARS)
            << bad;
}

TEST_F(WordTest, ToWordOfIssueAndRefinementRescansTheName) {
    word_intern("known");
    Cell known = convert(T_WORD, named(T_ISSUE, "known"));
    EXPECT_EQ(cell_type(&known), T_WORD);
    EXPECT_EQ(known.w1, global_context);
    Cell set_like = convert(T_GET_WORD, named(T_REFINEMENT, "b:"));
    EXPECT_EQ(mold_of(set_like), ":b:");  // only the scanned value's type is looked at
    EXPECT_EQ(raised_code([&] { convert(T_WORD, named(T_ISSUE, "42")); }), SCRIPT + ERR_BAD_TO_ARG);
}

TEST_F(WordTest, IssueTakesAnyText) {
    Cell spaced = convert(T_ISSUE, string_value("a b"), A_MAKE);
    EXPECT_EQ(spaced.w1, global_context);
    EXPECT_EQ(spaced.w3, WORD_UNBOUND);
    EXPECT_EQ(mold_of(spaced), "#a b");
    Cell ch;
    cell_init(&ch, T_CHAR);
    ch.w2 = 0xE9;
    EXPECT_EQ(mold_of(convert(T_ISSUE, ch)), "#é");
    EXPECT_EQ(mold_of(convert(T_ISSUE, named(T_SET_WORD, "w"))), "#w");
    // Other values go through word!'s conversion.
    EXPECT_EQ(mold_of(convert(T_ISSUE, datatype_cell(T_FLOAT))), "#float!");
}

TEST_F(WordTest, IndexOfBoundAndUnboundWords) {
    Cell bound = word_intern("somewhere");
    Cell unbound = named(T_WORD, "nowhere");
    Cell index = bound;
    word_index_q(&index);
    EXPECT_EQ(cell_type(&index), T_INTEGER);
    EXPECT_EQ(cell_int(&index), int32_t(bound.w3) + 1);
    word_index_q(&unbound);
    EXPECT_EQ(cell_type(&unbound), T_NONE);
    EXPECT_EQ(action_slot(T_REFINEMENT, A_INDEX_Q), nullptr);
    EXPECT_EQ(action_slot(T_ISSUE, A_INDEX_Q), nullptr);
    EXPECT_NE(action_slot(T_SET_WORD, A_INDEX_Q), nullptr);
}

TEST_F(WordTest, ReadingAndWritingValues) {
    CellRoot held(word_intern("counter"));
    Cell& word = held.cell;
    EXPECT_EQ(raised_code([&] { word_get_checked(&word); }), SCRIPT + ERR_NO_VALUE);
    Cell* pushed = word_push_value(&word);
    EXPECT_EQ(cell_type(pushed), T_UNSET);
    stack_pop(1);

    // word_set_from_arg reads the frame's second argument cell.
    Cell* args = stack_mark_native(nullptr);
    Cell seven = integer_cell(7);
    stack_push(&word);
    stack_push(&seven);
    Cell* copy = word_set_from_arg(&word);
    EXPECT_EQ(cell_int(copy), 7);
    EXPECT_EQ(cell_int(word_get_checked(&word)), 7);
    cell_init(&args[1], T_UNSET);
    EXPECT_EQ(raised_code([&] { word_set_from_arg(&word); }), SCRIPT + ERR_NEED_VALUE);
    stack_unwind();

    // Slots by position, and a function context that is not running.
    NodeRoot context(context_create(2, false, true, 0, CONTEXT_OBJECT));
    Cell field = named(T_WORD, "field");
    context_add_word_of(context.node, &field);
    stack_push(&seven);
    word_set_local(context.node, 0);
    EXPECT_EQ(context_word_at(context.node, 0)->header & WORD_SLOT_WRITTEN, WORD_SLOT_WRITTEN);
    EXPECT_EQ(cell_int(word_get_in_context(context.node, 0)), 7);
    Cell eight = integer_cell(8);
    stack_push(&eight);
    word_set_local_from(context.node, 0);
    EXPECT_EQ(cell_int(stack_top()), 7);  // the old value
    EXPECT_EQ(cell_int(context_value_address(context.node, 0)), 8);

    NodeRoot idle(context_create(1, true, false, 0, CONTEXT_FUNCTION));
    context_add_word_of(idle.node, &field);
    EXPECT_EQ(raised_code([&] { word_get_in_context(idle.node, 0); }), SCRIPT + ERR_NOT_DEFINED);
}

TEST_F(WordTest, PushShapes) {
    Cell* w = word_push(symbol_make("pushed"));
    EXPECT_EQ(w->w1, global_context);
    EXPECT_NE(w->w3, WORD_UNBOUND);
    Cell* g = get_word_push(w);
    EXPECT_EQ(mold_of(*g), ":pushed");
    EXPECT_EQ(mold_of(*refinement_push(w)), "/pushed");
    Cell* s = word_to_string(w);
    EXPECT_EQ(string_utf8(s), "pushed");
    EXPECT_EQ(s->w2, symbol_get(w->w2)->w2);  // shares the cached string
    Cell* issue = issue_make_in("tag", root_cell.w2);
    EXPECT_EQ(cell_type(issue), T_ISSUE);
    EXPECT_EQ(issue, stack_top());  // no start-up logging: on the stack
    Cell* r = refinement_make_root("opt");
    EXPECT_EQ(r->w1, 0u);
    EXPECT_EQ(mold_of(*r), "/opt");
}

} // namespace
} // namespace kel::testing
