#include "core/registry.hpp"
#include "datatypes/types.hpp"
#include "core/logic.hpp"
#include "core/mold_text.hpp"
#include "core/error.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "tests/support/memory_fixture.hpp"
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace kel;
using namespace kel::testing;

namespace {

void fn_a() {}
void fn_b() {}
void fn_c() {}

struct Registry : ::testing::Test {
    void SetUp() override { memory_fresh(false); datatype_registry_init(); }
};

// The text of a string! made by string_make_empty_at, unit 1.
std::string string_text(const Cell* s) {
    SeriesBuffer* b = series_buffer(s->w2);
    return std::string(reinterpret_cast<const char*>(b->head_ptr()), b->tail - b->head);
}

} // namespace

TEST_F(Registry, ChildCopiesParentSlotsAsTheyStandAtRegistration) {
    ActionFn parent[ACTION_COUNT] = {};
    parent[A_FORM - 1] = fn_a;
    parent[A_MOLD - 1] = fn_b;
    datatype_register(T_SERIES, 0, "series!", parent, ACTION_COUNT);

    ActionFn child[ACTION_COUNT] = {};
    child[A_FORM - 1] = ACTION_INHERIT;   // takes fn_a
    child[A_MOLD - 1] = fn_c;             // own function
    child[A_COPY - 1] = ACTION_INHERIT;   // the parent's 0
    datatype_register(T_BLOCK, T_SERIES, "block!", child, ACTION_COUNT);

    // A later change of the parent's row does not reach the child.
    parent[A_FORM - 1] = fn_c;
    datatype_register(T_SERIES, 0, "series!", parent, ACTION_COUNT);

    EXPECT_EQ(action_slot(T_BLOCK, A_FORM), ActionFn(fn_a));
    EXPECT_EQ(action_slot(T_BLOCK, A_MOLD), ActionFn(fn_c));
    EXPECT_EQ(action_slot(T_BLOCK, A_COPY), nullptr);
    EXPECT_EQ(action_slot(T_SERIES, A_FORM), ActionFn(fn_c));
    EXPECT_EQ(datatype_highest_id(), T_SERIES);

    // A parentless type has nothing to inherit: the slot stays unsupported.
    ActionFn orphan[ACTION_COUNT] = {};
    orphan[A_ADD - 1] = ACTION_INHERIT;
    datatype_register(T_INTEGER, 0, "integer!", orphan, ACTION_COUNT);
    EXPECT_EQ(action_slot(T_INTEGER, A_ADD), nullptr);
}

TEST_F(Registry, NameTableKeepsNameLengthWithoutBangAndNoWordYet) {
    ActionFn none[ACTION_COUNT] = {};
    datatype_register(T_INTEGER, 0, "integer!", none, ACTION_COUNT);
    const DatatypeName* entry = datatype_name(T_INTEGER);
    EXPECT_STREQ(entry->name, "integer!");
    EXPECT_EQ(entry->length, 7u);
    EXPECT_EQ(entry->word, 0u);
    EXPECT_EQ(datatype_name(T_FLOAT)->name, nullptr);
    EXPECT_EQ(action_slot(T_INTEGER, 0), nullptr);
    EXPECT_EQ(action_slot(T_INTEGER, ACTION_COUNT + 1), nullptr);
}

TEST_F(Registry, IdsOutsideTheTablesAreRefused) {
    ActionFn none[ACTION_COUNT] = {};
    for (auto [type, parent] : {std::pair{0, 0}, {TYPE_COUNT, 0}, {200, 0}, {5, TYPE_COUNT}}) {
        try {
            datatype_register(uint8_t(type), uint8_t(parent), "x!", none, ACTION_COUNT);
            ADD_FAILURE() << "type " << type << " parent " << parent << " accepted";
        } catch (const LanguageError& e) {
            EXPECT_EQ(e.category, ErrorCategory::internal);
            EXPECT_EQ(e.id, ERR_LIMIT_HIT);
        }
    }
    EXPECT_EQ(datatype_highest_id(), 0);
}

// The diagnostic goes to standard output; the child sends it to stderr, where
// the death test reads it.
TEST(RegistryDeathTest, WrongSlotCountPrintsThreeLinesAndFails) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    static ActionFn slots[64] = {};
    for (uint32_t count : {61u, 63u, 0u}) {
        std::string expected = "\\*\\*\\* Datatype Error: invalid actions count for type: 11\n"
                               "\\*\\*\\* Found: " + std::to_string(count) + "\n"
                               "\\*\\*\\* Expected: 62\n";
        EXPECT_EXIT(
            {
                dup2(STDERR_FILENO, STDOUT_FILENO);
                datatype_registry_init();
                datatype_register(T_INTEGER, 0, "integer!", slots, count);
            },
            ::testing::ExitedWithCode(EXIT_DATATYPE_ERROR), expected);
    }
}

TEST_F(Registry, RowsFillTheirActionsAndTheRestByDefault) {
    const ActionRow parent[] = {{A_FORM, fn_a}, {A_MOLD, fn_b}, {A_APPEND, A_TAKE, fn_c}};
    datatype_register(T_SERIES, 0, "series!", parent);
    const ActionRow child[] = {{A_FORM, ACTION_INHERIT}, {A_WRITE, fn_c}, {A_MAKE, fn_b},
                               {A_AT, A_CHANGE, ACTION_INHERIT}};
    datatype_register(T_BLOCK, T_SERIES, "block!", child);
    EXPECT_EQ(action_slot(T_SERIES, A_APPEND), ActionFn(fn_c));
    EXPECT_EQ(action_slot(T_SERIES, A_TAKE), ActionFn(fn_c));
    EXPECT_EQ(action_slot(T_SERIES, A_TRIM), nullptr);
    EXPECT_EQ(action_slot(T_BLOCK, A_FORM), ActionFn(fn_a));
    EXPECT_EQ(action_slot(T_BLOCK, A_MOLD), nullptr);
    EXPECT_EQ(action_slot(T_BLOCK, A_WRITE), ActionFn(fn_c));
    EXPECT_EQ(action_slot(T_BLOCK, A_MAKE), ActionFn(fn_b));
    EXPECT_EQ(action_slot(T_BLOCK, A_CHANGE), ActionFn(fn_c));
    EXPECT_EQ(action_slot(T_BLOCK, A_APPEND), nullptr);
    EXPECT_EQ(action_slot(T_BLOCK, A_CLEAR), nullptr);

    // Inheriting by default, a row takes an action away.
    const ActionRow paren[] = {{A_MOLD, fn_a}, {A_AT, ACTION_NONE}};
    datatype_register(T_PAREN, T_BLOCK, "paren!", paren, ACTIONS_INHERITED);
    EXPECT_EQ(action_slot(T_PAREN, A_MOLD), ActionFn(fn_a));
    EXPECT_EQ(action_slot(T_PAREN, A_FORM), ActionFn(fn_a));
    EXPECT_EQ(action_slot(T_PAREN, A_BACK), ActionFn(fn_c));
    EXPECT_EQ(action_slot(T_PAREN, A_AT), nullptr);
}

// A layer above fills slots of a registered type: the rows' actions change,
// every other slot stays, and a type not registered yet is refused.
TEST_F(Registry, ActionsSetFromAboveFillOnlyTheirSlots) {
    const ActionRow own[] = {{A_MOLD, fn_a}, {A_READ, fn_a}};
    datatype_register(T_URL, 0, "url!", own);
    const ActionRow added[] = {{A_READ, fn_b}, {A_WRITE, fn_c}, {A_QUERY, A_QUERY, fn_c}};
    datatype_actions_set(T_URL, added);
    EXPECT_EQ(action_slot(T_URL, A_MOLD), ActionFn(fn_a));
    EXPECT_EQ(action_slot(T_URL, A_READ), ActionFn(fn_b));
    EXPECT_EQ(action_slot(T_URL, A_WRITE), ActionFn(fn_c));
    EXPECT_EQ(action_slot(T_URL, A_QUERY), ActionFn(fn_c));
    EXPECT_EQ(action_slot(T_URL, A_DELETE), nullptr);
    try {
        datatype_actions_set(T_BLOCK, added);  // an id below the highest one registered
        ADD_FAILURE() << "an unregistered type took actions";
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.id, ERR_LIMIT_HIT);
    }
}

// A row naming no action, a run that ends before it starts, or an action named
// twice stops the process at start-up.
TEST(RegistryDeathTest, BadActionRowFails) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int action : {0, ACTION_COUNT + 1, int(A_FORM), int(A_MOLD)}) {
        const ActionRow rows[] = {{A_FORM, A_MOLD, fn_a}, {ActionId(action), A_FORM, fn_b}};
        EXPECT_EXIT(
            {
                dup2(STDERR_FILENO, STDOUT_FILENO);
                datatype_registry_init();
                datatype_register(T_INTEGER, 0, "integer!", rows);
            },
            ::testing::ExitedWithCode(EXIT_DATATYPE_ERROR),
            "Datatype Error: invalid actions count for type: 11\n\\*\\*\\* Found: " +
                std::to_string(action));
    }
}

TEST_F(Registry, BuiltinRegistrationCoversEveryTypeButEvent) {
    datatypes_register();
    EXPECT_EQ(datatype_highest_id(), T_IMAGE);
    for (int id = T_DATATYPE; id <= T_IMAGE; id++)
        EXPECT_NE(datatype_name(uint8_t(id))->name, nullptr) << id;
    EXPECT_EQ(datatype_name(T_EVENT)->name, nullptr);
    EXPECT_STREQ(datatype_name(T_POINT2D)->name, "point2D!");
    EXPECT_STREQ(datatype_name(T_LIT_PATH)->name, "lit-path!");
    EXPECT_NE(action_slot(T_DATATYPE, A_MOLD), nullptr);
    EXPECT_EQ(action_slot(T_DATATYPE, A_MAKE), nullptr);
    EXPECT_NE(action_slot(T_LOGIC, A_AND_T), nullptr);
    EXPECT_NE(action_slot(T_INTEGER, A_ADD), nullptr);
    EXPECT_NE(action_slot(T_MONEY, A_ADD), nullptr);
    EXPECT_EQ(action_slot(T_STRING, A_ADD), nullptr);  // not every type supports every action
}

TEST_F(Registry, DatatypeFormMoldAndBudgets) {
    datatypes_register();
    Cell dt;
    datatype_make_at(&dt, T_INTEGER);
    EXPECT_EQ(dt.header, uint32_t(T_DATATYPE));
    EXPECT_EQ(dt.w1, uint32_t(T_INTEGER));
    struct Case { bool mold, all; const char* text; int32_t budget; };
    for (const Case& c : {Case{false, false, "integer", 93}, Case{true, false, "integer!", 92},
                          Case{true, true, "#(integer!)", 89}}) {
        Cell s;
        string_make_empty_at(&s, 4);  // too small: forming grows it
        auto fn = action_slot_as<FormMoldFn>(T_DATATYPE, c.mold ? A_MOLD : A_FORM);
        EXPECT_EQ(fn(&dt, &s, false, c.all, false, false, 100, 0), c.budget) << c.text;
        EXPECT_EQ(string_text(&s), c.text);
    }
    // A datatype of an id nobody registered has no name and writes nothing.
    Cell odd, s;
    datatype_make_at(&odd, T_EVENT);
    string_make_empty_at(&s, 16);
    EXPECT_EQ(datatype_mold(&odd, &s, false, true, false, false, 50, 0), 50);
    odd.w1 = 0xDEAD;
    EXPECT_EQ(datatype_form(&odd, &s, false, false, false, false, 50, 0), 50);
    EXPECT_EQ(string_text(&s), "");
}

TEST_F(Registry, DatatypeCompareIsEqualityOnly) {
    Cell integer_t, integer_t2, float_t, one;
    datatype_make_at(&integer_t, T_INTEGER);
    datatype_make_at(&integer_t2, T_INTEGER);
    datatype_make_at(&float_t, T_FLOAT);
    cell_init(&one, T_INTEGER);
    one.w1 = T_INTEGER;  // same payload word, other type
    for (int32_t op : {CMP_EQUAL, CMP_NOT_EQUAL, CMP_STRICT_EQUAL, CMP_SAME, CMP_FIND}) {
        EXPECT_EQ(datatype_compare(&integer_t, &integer_t2, op), 0);
        EXPECT_EQ(datatype_compare(&integer_t, &float_t, op), 1);
        EXPECT_EQ(datatype_compare(&integer_t, &one, op), 1);
    }
    for (int32_t op : {CMP_LESSER, CMP_LESSER_OR_EQUAL, CMP_GREATER, CMP_GREATER_OR_EQUAL,
                       CMP_SORT, CMP_SORT_CASE})
        EXPECT_EQ(datatype_compare(&integer_t, &integer_t2, op), COMPARE_INCOMPARABLE);
}

TEST(Cell, TypeSetKeepsFlagsAndCopyOntoItselfChangesNothing) {
    Cell c{T_INTEGER | CELL_NEWLINE, 1, 2, 3};
    cell_type_set(&c, T_FLOAT);
    EXPECT_EQ(c.header, T_FLOAT | CELL_NEWLINE);
    cell_copy(&c, &c);
    EXPECT_EQ(c.header, T_FLOAT | CELL_NEWLINE);
    EXPECT_EQ(c.w3, 3u);
}
