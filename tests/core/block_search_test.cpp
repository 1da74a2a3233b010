#include "tests/core/block_fixture.hpp"
#include "core/logic.hpp"

#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

using BlockSearchTest = RuntimeTest;

struct FindCase {
    const char* block;
    int32_t at;
    const char* value;  // read as a block: one value, or [ ... ] for a sequence
    bool only, tail, last, reverse, match;
    int32_t skip, part;  // 0: not given
    int32_t expected;    // index, or -1 for none
};

TEST_F(BlockSearchTest, FindModes) {
    const FindCase cases[] = {
        {"a b c d", 0, "[ b c ]", false, false, false, false, false, 0, 0, 1},
        {"a b c d", 0, "[ b c ]", true, false, false, false, false, 0, 0, -1},
        {"a b c d", 0, "[ b c ]", false, true, false, false, false, 0, 0, 3},
        {"a [ b c ] d", 0, "[ b c ]", true, false, false, false, false, 0, 0, 1},
        {"a b c d", 0, "[ c d e ]", false, false, false, false, false, 0, 0, -1},
        {"a b c d", 0, "D", false, false, false, false, false, 0, 0, 3},
        {"a b c d", 0, "d", false, false, false, false, false, 0, 3, -1},
        {"x 1 b x", 0, "x", false, false, false, false, false, 2, 0, 0},
        {"1 x b x", 0, "x", false, false, false, false, false, 2, 0, -1},
        {"a b c", 0, "b", false, false, false, false, true, 0, 0, -1},
        {"a b c", 0, "a", false, false, false, false, true, 0, 0, 0},
        {"a b c", 0, "a", false, true, false, false, true, 0, 0, 1},
        {"x a x b x", 0, "x", false, false, true, false, false, 0, 0, 4},
        {"x a x b x", 0, "x", false, false, true, false, false, 0, 3, 2},
        {"x a x b x", 3, "x", false, false, false, true, false, 0, 0, 2},
        {"x a x b x", 0, "x", false, false, false, true, false, 0, 0, -1},
        {"a b", 2, "a", false, false, false, false, false, 0, 0, -1},
    };
    for (const FindCase& c : cases) {
        Cell* b = load_block(c.block);
        Cell* v = load_block(c.value);
        Cell* value = stack_push(block_ks_abs_at(v, 0));
        Cell* s = stack_push(b);
        s->w1 = uint32_t(c.at);
        Cell* skip = c.skip ? push_integer(c.skip) : nullptr;
        Cell* part = c.part ? push_integer(c.part) : nullptr;
        const Cell* r = block_find(s, value, FindOptions{.part = part, .only = c.only, .skip = skip,
                                                     .last = c.last, .reverse = c.reverse,
                                                     .tail = c.tail, .match = c.match});
        int32_t got = cell_type(r) == T_NONE ? -1 : series_index(r);
        EXPECT_EQ(got, c.expected) << "[" << c.block << "] " << c.value;
    }
    Cell* b = load_block("1 a 2 b");
    Cell* type = stack_push_new(T_NONE);
    datatype_make_at(type, T_WORD);
    Cell* s = stack_push(b);
    EXPECT_EQ(series_index(block_find(s, type, FindOptions{})), 1);
    Cell* zero = push_integer(0);
    s = stack_push(b);
    EXPECT_EQ(raised_code([&] {
                  block_find(s, type, FindOptions{.skip = zero});
              }), 300 + ERR_OUT_OF_RANGE);
}

TEST_F(BlockSearchTest, SelectAndPut) {
    Cell* b = load_block("a 1 b [ x y ] z");
    Cell* s = stack_push(b);
    Cell* key = push_word("b");
    block_select(s, key, FindOptions{});
    EXPECT_EQ(mold_of(*s), "[x y]");
    Cell* seq = load_block("[ a 1 ]");
    Cell* pair = stack_push(block_ks_abs_at(seq, 0));
    s = stack_push(b);
    block_select(s, pair, FindOptions{});
    EXPECT_EQ(mold_of(*s), "b");
    Cell* last = push_word("z");
    s = stack_push(b);
    block_select(s, last, FindOptions{});
    EXPECT_EQ(cell_type(s), T_NONE);

    Cell* v = push_integer(7);
    block_put(stack_push(b), last, v, false);
    EXPECT_EQ(text_of(b), "[a 1 b [x y] z 7]");
    block_put(stack_push(b), key, v, false);
    EXPECT_EQ(text_of(b), "[a 1 b 7 z 7]");
    Cell* fresh = push_word("new");
    block_put(stack_push(b), fresh, v, false);
    EXPECT_EQ(text_of(b), "[a 1 b 7 z 7 new 7]");
}

TEST_F(BlockSearchTest, InsertAppendAndChange) {
    Cell* b = load_block("a");
    Cell* xy = load_block("[ x y ]");
    Cell* value = stack_push(block_ks_abs_at(xy, 0));
    Cell* s = stack_push(b);
    block_insert(s, value, -1, false, 3, true);
    EXPECT_EQ(text_of(b), "[a x y x y x y]");
    EXPECT_EQ(series_index(s), 0);
    Cell* c = load_block("a");
    block_insert(stack_push(c), value, -1, true, 3, true);
    EXPECT_EQ(text_of(c), "[a [x y] [x y] [x y]]");

    Cell* d = load_block("1 2 3");
    s = stack_push(d);
    s->w1 = 1;
    block_insert(s, value, 1, false, 1, false);
    EXPECT_EQ(text_of(d), "[1 x 2 3]");
    EXPECT_EQ(series_index(s), 2);
    Cell* empty = block_push_only(1);
    block_insert(s, empty, -1, false, 1, false);
    EXPECT_EQ(text_of(d), "[1 x 2 3]");
    // A block inserted into itself goes in as it was.
    s = stack_push(d);
    s->w1 = 2;
    Cell* self = stack_push(d);
    block_insert(s, self, -1, false, 1, false);
    EXPECT_EQ(text_of(d), "[1 x 1 x 2 3 2 3]");

    Cell* e = load_block("1 2 3 4");
    Cell* abc = load_block("a b c");
    s = stack_push(e);
    s->w1 = 1;
    block_change(s, abc, 2, false, 1);
    EXPECT_EQ(text_of(e), "[1 a b c 4]");
    EXPECT_EQ(mold_of(*block_ks_head(s)), "4");
    s->w1 = 3;
    Cell* zero = push_integer(0);
    block_change(s, zero, -1, false, 1);
    EXPECT_EQ(text_of(e), "[1 a b 0 4]");
    s->w1 = 4;
    block_change(s, abc, -1, false, 1);
    EXPECT_EQ(text_of(e), "[1 a b 0 a b c]");
}

TEST_F(BlockSearchTest, SortOrdersRecordsAndKeepsTiesWithStable) {
    Cell* b = load_block("3 c 1 a 2 b 1 z");
    Cell* skip = push_integer(2);
    block_sort(stack_push(b), false, skip, nullptr, nullptr, false, false, true);
    EXPECT_EQ(text_of(b), "[1 a 1 z 2 b 3 c]");
    Cell* field = push_integer(2);
    block_sort(stack_push(b), false, skip, field, nullptr, false, true, true);
    EXPECT_EQ(text_of(b), "[1 z 3 c 2 b 1 a]");

    Cell* words = load_block("b A a B c");
    block_sort(stack_push(words), false, nullptr, nullptr, nullptr, false, false, true);
    EXPECT_EQ(text_of(words), "[A a b B c]");
    block_sort(stack_push(words), true, nullptr, nullptr, nullptr, false, false, false);
    EXPECT_EQ(text_of(words), "[A B a b c]");

    Cell* n = load_block("5 4 3 2 1");
    Cell* s = stack_push(n);
    s->w1 = 1;
    Cell* three = push_integer(3);
    block_sort(s, false, nullptr, nullptr, three, false, false, false);
    EXPECT_EQ(text_of(n), "[5 2 3 4 1]");

    EXPECT_EQ(raised_code([&] { block_sort(stack_push(n), false, nullptr, nullptr, nullptr, true,
                                           false, false); }), 300 + ERR_BAD_REFINES);
    EXPECT_EQ(raised_code([&] { block_sort(stack_push(n), false, three, nullptr, nullptr, false,
                                           false, false); }), 300 + ERR_INVALID_REFINE_ARG);
    EXPECT_EQ(raised_code([&] { block_sort(stack_push(n), false, nullptr, three, nullptr, false,
                                           false, false); }), 300 + ERR_BAD_REFINES);
}

int comparisons = 0;

// A comparator that orders integers ascending and raises at its 20th call.
void raising_comparator(const Cell*, const Cell* a, const Cell* b, Cell* out) {
    if (++comparisons == 20) error_raise(ERR_INVALID_ARG, a);
    logic_make_at(out, cell_int(a) < cell_int(b));
}

TEST_F(BlockSearchTest, ARaisingComparatorLeavesTheBlockIntact) {
    Cell* b = block_push_only(64);
    for (int i = 0; i < 60; i++) {
        Cell n = integer_cell((i * 37) % 60);
        block_ks_append(b, &n);
    }
    std::string before = text_of(b);
    block_sort_call_set(raising_comparator);
    Cell* function = stack_push_new(T_FUNCTION);
    for (bool stable : {true, false}) {
        comparisons = 0;
        EXPECT_NE(raised_code([&] { block_sort(stack_push(b), false, nullptr, function, nullptr,
                                               false, false, stable); }), 0);
        EXPECT_EQ(text_of(b), before);
    }
    comparisons = -1000000;
    block_sort(stack_push(b), false, nullptr, function, nullptr, false, false, true);
    EXPECT_EQ(mold_of(*block_ks_abs_at(b, 0)), "0");
    EXPECT_EQ(mold_of(*block_ks_abs_at(b, 59)), "59");
    block_sort_call_set(nullptr);
}

TEST_F(BlockSearchTest, TakeSwapTrimCopy) {
    Cell* b = load_block("[ x ] [ y ] c");
    Cell* inner = stack_push(block_ks_abs_at(b, 0));
    Cell* two = push_integer(2);
    Cell* s = stack_push(b);
    block_take(s, two, true, false);
    EXPECT_EQ(mold_of(*s), "[[x] [y]]");
    block_ks_clear(inner);
    EXPECT_EQ(mold_of(*s), "[[x] [y]]");
    EXPECT_EQ(text_of(b), "[c]");

    Cell* p = load_block("1 2 3");
    Cell* q = load_block("a b");
    s = stack_push(p);
    s->w1 = 2;
    block_swap(s, q);
    EXPECT_EQ(text_of(p), "[1 2 a]");
    EXPECT_EQ(text_of(q), "[3 b]");
    Cell* number = push_integer(1);
    EXPECT_EQ(raised_code([&] { block_swap(s, number); }), 300 + ERR_INVALID_ARG);

    Cell* t = load_block("none 1 none none 2 none");
    s = stack_push(t);
    s->w1 = 1;
    block_trim(s, false, false, false, false, false, nullptr);
    EXPECT_EQ(text_of(t), "[none 1 2]");

    Cell* nested = load_block("a [ b [ c ] ]");
    Cell* copy = stack_push(nested);
    block_copy(copy, nullptr, true, nullptr);
    stack_push(block_ks_abs_at(nested, 1));
    block_ks_clear(stack_top());
    EXPECT_EQ(text_of(copy), "[a [b [c]]]");
    block_ks_append(nested, nested);
    Cell* looped = stack_push(nested);
    EXPECT_EQ(raised_code([&] { block_copy(looped, nullptr, true, nullptr); }), 900 + ERR_NO_CYCLE);

    // /types copies only the cells of the kinds asked for.
    Cell* mixed = load_block("a [ b ]");
    Cell* text = stack_push_new(T_STRING);
    string_make_at(text, 4);
    string_concatenate_text(text, "s");
    block_ks_append(mixed, text);
    block_ks_append(mixed, mixed);
    Cell* kind = stack_push_new(T_NONE);
    datatype_make_at(kind, T_BLOCK);
    Cell* typed = stack_push(mixed);
    block_copy(typed, nullptr, false, kind);
    block_ks_clear(stack_push(block_ks_abs_at(mixed, 1)));
    string_concatenate_text(text, "t");
    EXPECT_EQ(mold_of(*block_ks_abs_at(typed, 1)), "[b]");
    EXPECT_EQ(mold_of(*block_ks_abs_at(typed, 2)), "\"st\"");
}

TEST_F(BlockSearchTest, SetOperations) {
    struct Case { int32_t op; const char* a; const char* b; const char* expected; } cases[] = {
        {SET_UNIQUE, "a b A c b", "", "[a b c]"},
        {SET_UNION, "a b", "b c a d", "[a b c d]"},
        {SET_INTERSECT, "a b c c", "c a x", "[a c]"},
        {SET_EXCLUDE, "a b c b", "b", "[a c]"},
        {SET_DIFFERENCE, "a b c", "b d d", "[a c d]"},
        {SET_UNIQUE, "1 2 [ 1 ] [ 1 ]", "", "[1 2 [1]]"},
    };
    for (const Case& c : cases) {
        Cell* a = load_block(c.a);
        Cell* b = load_block(c.b);
        block_set_op(a, b, false, nullptr, c.op);
        EXPECT_EQ(text_of(a), c.expected) << c.op << " [" << c.a << "] [" << c.b << "]";
    }
    Cell* a = load_block("k 1 k 2 j 3");
    Cell* size = push_integer(2);
    block_set_op(a, a, false, size, SET_UNIQUE);
    EXPECT_EQ(text_of(a), "[k 1 j 3]");
    Cell* cased = load_block("a A");
    block_set_op(cased, cased, true, nullptr, SET_UNIQUE);
    EXPECT_EQ(text_of(cased), "[a A]");
}

} // namespace

namespace {

// A hash! answers find from its index; after each change the index must
// agree with a plain scan of the same cells.
TEST_F(BlockSearchTest, AHashKeepsItsIndexInStep) {
    Cell* h = load_block("a b c d a");
    cell_type_set(h, T_HASH);
    hash_index_new(h);
    auto check = [&](const char* expected) {
        Cell* cells = stack_push(h);
        cell_type_set(cells, T_BLOCK);
        ASSERT_EQ(text_of(cells), expected);
        stack_pop(1);
        for (const char* name : {"a", "b", "c", "d", "x", "y"}) {
            Cell* key = push_word(name);
            Cell* s = stack_push(h);
            block_find(s, key, FindOptions{});
            Cell* plain = stack_push(h);
            cell_type_set(plain, T_BLOCK);
            block_find(plain, key, FindOptions{});
            EXPECT_EQ(cell_type(s) == T_NONE ? -1 : series_index(s),
                      cell_type(plain) == T_NONE ? -1 : series_index(plain))
                << expected << " " << name;
            stack_pop(3);
        }
    };
    Cell* x = push_word("x");
    Cell* s = stack_push(h);
    s->w1 = 1;
    block_insert(s, x, -1, false, 2, false);
    check("[a x x b c d a]");
    s = stack_push(h);
    s->w1 = 2;
    Cell* two = push_integer(2);
    series_remove(s, two, nullptr);
    check("[a x c d a]");
    s = stack_push(h);
    s->w1 = 1;
    Cell* y = push_word("y");
    block_change(s, y, 1, false, 1);
    check("[a y c d a]");
    s = stack_push(h);
    series_reverse(s, nullptr, nullptr);
    check("[a d c y a]");
    s = stack_push(h);
    s->w1 = 3;
    series_clear(s);
    check("[a d c]");
}

} // namespace
