#include "tests/core/block_fixture.hpp"
#include "datatypes/pair.hpp"

using namespace kel;
using namespace kel::testing;

namespace {

using SeriesTest = RuntimeTest;

// A copy of the block at an index, pushed.
Cell* at_index(const Cell* block, int32_t index) {
    Cell* c = stack_push(block);
    c->w1 = uint32_t(index);
    return c;
}

TEST_F(SeriesTest, AtAndSkipMoveAndClamp) {
    Cell* b = load_block("a b c d e");
    struct Case { int32_t from, n; bool skip; int32_t expected; } cases[] = {
        {2, 1, false, 2}, {2, 0, false, 2}, {2, -1, false, 1}, {2, 3, false, 4},
        {2, 9, false, 5}, {2, -9, false, 0}, {2, 2, true, 4}, {2, -5, true, 0},
    };
    for (const Case& c : cases) {
        Cell* s = at_index(b, c.from);
        Cell* n = push_integer(c.n);
        if (c.skip) series_skip_by(s, n);
        else series_at(s, n);
        EXPECT_EQ(series_index(s), c.expected) << c.from << " " << c.n << " " << c.skip;
        stack_pop(2);
    }
    Cell* s = at_index(b, 0);
    Cell* word = stack_push(b);
    EXPECT_EQ(raised_code([&] { series_at(s, word); }), 300 + ERR_INVALID_ARG);
}

TEST_F(SeriesTest, PositionsPastTheTailCountAsTheTail) {
    Cell* b = load_block("a b c");
    Cell* s = at_index(b, 7);
    EXPECT_TRUE(series_tail_q(s));
    EXPECT_EQ(series_length_q(s), 0);
    EXPECT_EQ(series_index(s), 3);  // written back
    series_back(s);
    EXPECT_EQ(series_index(s), 2);
    series_next(s);
    EXPECT_EQ(series_index(s), 3);
}

TEST_F(SeriesTest, PickAndPoke) {
    Cell* b = load_block("a b c");
    struct Case { int32_t at, n; const char* expected; } cases[] = {
        {0, 0, "none"}, {0, 1, "a"}, {1, 2, "c"}, {1, -1, "a"}, {0, -1, "none"}, {0, 4, "none"},
    };
    for (const Case& c : cases) {
        Cell* s = at_index(b, c.at);
        Cell* n = push_integer(c.n);
        series_pick(s, n);
        EXPECT_EQ(mold_of(*s), c.expected) << c.at << " " << c.n;
        stack_pop(2);
    }
    Cell* s = at_index(b, 0);
    Cell* zero = push_integer(0);
    Cell* x = push_integer(9);
    EXPECT_EQ(raised_code([&] { series_poke(s, zero, x); }), 300 + ERR_OUT_OF_RANGE);
    Cell* two = push_integer(2);
    series_poke(s, two, x);
    EXPECT_EQ(text_of(b), "[a 9 c]");
}

TEST_F(SeriesTest, RemoveAndReverseWithPart) {
    Cell* b = load_block("1 2 3 4 5 6");
    Cell* s = at_index(b, 1);
    Cell* zero = push_integer(0);
    series_remove(s, zero, nullptr);
    EXPECT_EQ(text_of(b), "[1 2 3 4 5 6]");
    Cell* two = push_integer(2);
    series_remove(s, two, nullptr);
    EXPECT_EQ(text_of(b), "[1 4 5 6]");
    series_reverse(s, zero, nullptr);
    EXPECT_EQ(text_of(b), "[1 4 5 6]");
    series_reverse(s, two, nullptr);
    EXPECT_EQ(text_of(b), "[1 5 4 6]");
    series_reverse(s, nullptr, nullptr);
    EXPECT_EQ(text_of(b), "[1 6 4 5]");
    // /part as a position of the same block
    Cell* end = at_index(b, 3);
    series_remove(s, end, nullptr);
    EXPECT_EQ(text_of(b), "[1 5]");

    Cell* c = load_block("1 2 3 4 5 6");
    Cell* four = push_integer(4);
    EXPECT_EQ(raised_code([&] { series_reverse(c, nullptr, four); }), 300 + ERR_INVALID_REFINE_ARG);
    Cell* size = push_integer(2);
    series_reverse(c, nullptr, size);
    EXPECT_EQ(text_of(c), "[5 6 3 4 1 2]");
    Cell* other = load_block("x");
    EXPECT_EQ(raised_code([&] { series_remove(c, other, nullptr); }), 300 + ERR_INVALID_REFINE_ARG);
}

TEST_F(SeriesTest, Take) {
    Cell* b = load_block("a b c d e");
    Cell* s = stack_push(b);
    series_take(s, nullptr, false, false);
    EXPECT_EQ(mold_of(*s), "a");
    Cell* part = push_integer(2);
    s = stack_push(b);
    series_take(s, part, false, true);
    EXPECT_EQ(mold_of(*s), "[d e]");
    EXPECT_EQ(text_of(b), "[b c]");
    s = at_index(b, 2);
    series_take(s, nullptr, false, false);
    EXPECT_EQ(mold_of(*s), "none");
    // A negative count takes from before the position.
    Cell* c = load_block("1 2 3 4");
    s = at_index(c, 3);
    Cell* back = push_integer(-2);
    series_take(s, back, false, false);
    EXPECT_EQ(mold_of(*s), "[2 3]");
    EXPECT_EQ(text_of(c), "[1 4]");
}

TEST_F(SeriesTest, CopyWithPart) {
    Cell* b = load_block("a b c d e");
    Cell* s = at_index(b, 1);
    Cell* pair = pair_init(stack_push_new(T_PAIR), 2, 4);
    series_copy(s, pair, false, nullptr);
    EXPECT_EQ(mold_of(*s), "[c d]");
    s = at_index(b, 3);
    Cell* back = push_integer(-2);
    series_copy(s, back, false, nullptr);
    EXPECT_EQ(mold_of(*s), "[b c]");
    s = at_index(b, 3);
    Cell* many = push_integer(-9);
    series_copy(s, many, false, nullptr);
    EXPECT_EQ(mold_of(*s), "[a b c]");
    // The copy is a buffer of its own.
    s = stack_push(b);
    series_copy(s, nullptr, false, nullptr);
    series_clear(s);
    EXPECT_EQ(text_of(b), "[a b c d e]");
}

TEST_F(SeriesTest, MoveWithinAndBetweenBlocks) {
    struct Case { const char* text; int32_t from, to, part; const char* expected; } cases[] = {
        {"a b c d e", 0, 2, 1, "[b c a d e]"},
        {"a b c d e", 3, 1, 1, "[a d b c e]"},
        {"a b c d e", 0, 5, 2, "[c d e a b]"},
        {"a b c d e", 0, 1, 3, "[a b c d e]"},  // target inside the moved stretch
        {"a b c d e", 2, 2, 1, "[a b c d e]"},
    };
    for (const Case& c : cases) {
        Cell* b = load_block(c.text);
        Cell* origin = at_index(b, c.from);
        Cell* target = at_index(b, c.to);
        Cell* part = push_integer(c.part);
        series_move(origin, target, part);
        EXPECT_EQ(text_of(b), c.expected) << c.text << " " << c.from << " " << c.to;
    }
    Cell* a = load_block("1 2 3");
    Cell* b = load_block("x y");
    Cell* origin = stack_push(a);
    Cell* target = at_index(b, 1);
    Cell* two = push_integer(2);
    series_move(origin, target, two);
    EXPECT_EQ(text_of(a), "[3]");
    EXPECT_EQ(text_of(b), "[x 1 2 y]");

    Cell* text = stack_push_new(T_STRING);
    string_make_at(text, 4);
    string_concatenate_text(text, "pq");
    origin = stack_push(a);
    EXPECT_EQ(raised_code([&] { series_move(origin, text, nullptr); }), 300 + ERR_MOVE_BAD);
    EXPECT_EQ(text_of(a), "[3]");
}

// Every change reaches the owner twice, before and after, and a failed
// check notifies nobody.
struct Heard {
    std::vector<std::string> words;
};
Heard heard;

void deep_change(const Cell*, const Cell*, const Cell*, const Cell* action, int32_t, int32_t) {
    heard.words.push_back(mold_of(*action));
}

struct OwnedSeriesTest : RuntimeTest {
    Cell* object = nullptr;
    Cell* word = nullptr;
    void SetUp() override {
        RuntimeTest::SetUp();
        heard = Heard{};
        ownership_notify_set(deep_change);
        object = stack_push_new(T_OBJECT);
        object->w1 = context_create(1, false, true, 0, CONTEXT_OBJECT);
        object->w3 = series_new_cells(2);
        *context_owner(object->w1) = *object;
        word = stack_push_new(T_WORD);
        *word = word_cell(T_WORD, symbol_make("data"));
    }
    void TearDown() override {
        ownership_notify_set(nullptr);
        RuntimeTest::TearDown();
    }
};

TEST_F(OwnedSeriesTest, OwnersHearBeforeAndAfter) {
    Cell* b = load_block("1 2 3 4");
    ownership_set_object(b, object, word);

    Cell* s = stack_push(b);
    series_clear(at_index(b, 3));
    Cell* one = push_integer(1);
    series_poke(s, one, one);
    s = stack_push(b);
    Cell* bad = load_block("x");
    EXPECT_EQ(raised_code([&] { series_remove(s, bad, nullptr); }), 300 + ERR_INVALID_REFINE_ARG);
    series_reverse(s, nullptr, nullptr);
    series_take(s, nullptr, false, false);
    EXPECT_EQ(heard.words, (std::vector<std::string>{"clear", "cleared", "poke", "poked", "reverse",
                                                     "reversed", "take", "taken"}));
}

TEST_F(OwnedSeriesTest, MovingBetweenStringsOfDifferentUnitsNotifiesAfter) {
    Cell* origin = stack_push_new(T_STRING);
    string_make_at(origin, 4);
    string_concatenate_text(origin, "abc");
    Cell* target = stack_push_new(T_STRING);
    string_make_at_unit(target, 4, 2);
    string_concatenate_text(target, "xy");
    ownership_set_object(origin, object, word);
    ownership_set_object(target, object, word);
    Cell* two = push_integer(2);
    series_move(origin, target, two);
    EXPECT_EQ(string_utf8(target), "abxy");
    EXPECT_EQ(heard.words, (std::vector<std::string>{"move", "moved"}));
}

} // namespace
