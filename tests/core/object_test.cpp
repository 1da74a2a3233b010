// object!: construction, class ids, copies, field access, printing,
// comparison and reflection.
#include "core/object.hpp"
#include "core/logic.hpp"
#include "core/ownership.hpp"
#include "tests/core/object_fixture.hpp"

#include <string>
#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

using ObjectTest = ObjectRuntimeTest;


Cell sym_word(uint8_t type, const char* name) { return word_cell(type, symbol_make(name)); }

// construct of a block of cells, without a prototype; the result is pushed.
Cell* construct(std::vector<Cell> cells, bool only = false, const Cell* proto = nullptr) {
    CellRoot block;
    kel::testing::block_of_cells(&block.cell, cells.data(), uint32_t(cells.size()));
    return object_construct(proto, &block.cell, only);
}

Cell field(const Cell* object, const char* name) {
    Cell word = sym_word(T_WORD, name);
    return *object_select_field(object, &word);
}

int32_t field_int(const Cell* object, const char* name) {
    Cell value = field(object, name);
    return cell_int(&value);
}

std::string molded(const Cell* value, bool flat) {
    CellRoot held(*value);
    CellRoot text;
    string_make_at(&text.cell, 16);
    object_mold(&held.cell, &text.cell, false, false, flat, false, INT32_MAX, 0);
    return text_of(&text.cell);
}

TEST_F(ObjectTest, ConstructReadsSetWordsWithoutEvaluating) {
    Cell* object = construct({sym_word(T_SET_WORD, "a"), sym_word(T_WORD, "yes"),
                              sym_word(T_SET_WORD, "b"), sym_word(T_WORD, "OFF"),
                              sym_word(T_SET_WORD, "c"), sym_word(T_WORD, "none"),
                              sym_word(T_SET_WORD, "d"), sym_word(T_WORD, "foo"),
                              sym_word(T_SET_WORD, "e"), sym_word(T_SET_WORD, "f"),
                              integer_cell(3), sym_word(T_SET_WORD, "g")});
    CellRoot held(*object);
    ASSERT_EQ(cell_type(&held.cell), T_OBJECT);
    EXPECT_GT(held.cell.w2, OBJECT_CLASS_RUNTIME);
    struct Case {
        const char* name;
        uint8_t type;
        uint32_t payload;  // logic value, integer or the word's name symbol
    } cases[] = {
        {"a", T_LOGIC, 1}, {"b", T_LOGIC, 0}, {"c", T_NONE, 0},
        {"d", T_WORD, symbol_make("foo")}, {"e", T_INTEGER, 3}, {"f", T_INTEGER, 3},
        {"g", T_NONE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Cell value = field(&held.cell, c.name);
        EXPECT_EQ(cell_type(&value), c.type);
        uint32_t payload = c.type == T_LOGIC ? value.w1 : c.type == T_INTEGER ? value.w2
                         : c.type == T_WORD ? value.w2 : 0;
        EXPECT_EQ(payload, c.payload);
    }

    Cell* only = construct({sym_word(T_SET_WORD, "a"), sym_word(T_WORD, "yes")}, true);
    Cell value = field(only, "a");
    EXPECT_EQ(cell_type(&value), T_WORD);
}

TEST_F(ObjectTest, ClassIdsFollowThePrototype) {
    CellRoot proto(*construct({sym_word(T_SET_WORD, "a"), integer_cell(1)}));
    CellRoot other(*construct({sym_word(T_SET_WORD, "a"), integer_cell(1)}));
    EXPECT_NE(proto.cell.w2, other.cell.w2);  // a block never shares a class

    // make proto spec-object: same fields keep the class, a new field does not.
    auto make_from = [&](const Cell* spec) {
        Cell* slot = stack_push(&proto.cell);
        CellRoot held(*spec);
        return *object_make(slot, &held.cell, T_OBJECT);
    };
    CellRoot same_fields(*construct({sym_word(T_SET_WORD, "a"), integer_cell(2)}));
    CellRoot more_fields(*construct({sym_word(T_SET_WORD, "b"), integer_cell(2)}));
    CellRoot kept(make_from(&same_fields.cell));
    CellRoot kept_again(make_from(&same_fields.cell));
    CellRoot grown(make_from(&more_fields.cell));
    EXPECT_EQ(kept.cell.w2, proto.cell.w2);
    EXPECT_EQ(kept_again.cell.w2, proto.cell.w2);
    EXPECT_NE(kept.cell.w1, proto.cell.w1);
    EXPECT_EQ(field_int(&kept.cell, "a"), 2);
    EXPECT_NE(grown.cell.w2, proto.cell.w2);
    EXPECT_GT(grown.cell.w2, OBJECT_CLASS_RUNTIME);
    EXPECT_EQ(object_field_count(&grown.cell), 2u);
    EXPECT_EQ(field_int(&proto.cell, "a"), 1);  // untouched

    // construct from a prototype: the same rule.
    CellRoot constructed(*construct({sym_word(T_SET_WORD, "a"), integer_cell(5)}, false, &proto.cell));
    EXPECT_EQ(constructed.cell.w2, proto.cell.w2);
    CellRoot extended(*construct({sym_word(T_SET_WORD, "z"), integer_cell(5)}, false, &proto.cell));
    EXPECT_NE(extended.cell.w2, proto.cell.w2);

    Cell spec = integer_cell(1);
    Cell* slot = stack_push(&proto.cell);
    EXPECT_EQ(raised_code([&] { object_make(slot, &spec, T_OBJECT); }), 200 + ERR_MALCONSTRUCT);
}

TEST_F(ObjectTest, CopyIsIndependentAndKeepsTheClass) {
    CellRoot string;
    string_make_at(&string.cell, 4);
    string_concatenate_text(&string.cell, "ab");
    // The words first: making a symbol may collect, and the string's copy
    // in the list is not a root.
    Cell s = sym_word(T_SET_WORD, "s"), n = sym_word(T_SET_WORD, "n");
    CellRoot proto(*construct({s, string.cell, n, integer_cell(1)}));
    CellRoot shallow, deep;
    object_copy(&proto.cell, false, &shallow.cell);
    object_copy(&proto.cell, true, &deep.cell);
    EXPECT_EQ(shallow.cell.w2, proto.cell.w2);
    EXPECT_NE(shallow.cell.w1, proto.cell.w1);
    EXPECT_EQ(field(&shallow.cell, "s").w2, field(&proto.cell, "s").w2);
    EXPECT_NE(field(&deep.cell, "s").w2, field(&proto.cell, "s").w2);
    Cell copied = field(&deep.cell, "s");
    EXPECT_EQ(text_of(&copied), "ab");

    Cell word = sym_word(T_WORD, "n");
    Cell nine = integer_cell(9);
    object_eval_path(&shallow.cell, &word, &nine, nullptr, false, nullptr);
    EXPECT_EQ(field_int(&proto.cell, "n"), 1);
    // the owner cell of the copy's context is the copy
    EXPECT_EQ(context_owner(shallow.cell.w1)->w1, shallow.cell.w1);

    Cell part = integer_cell(1);
    CellRoot target(proto.cell);
    EXPECT_EQ(raised_code([&] { object_copy_action(&target.cell, &part, false, nullptr); }),
              300 + ERR_INVALID_REFINE_ARG);
}

TEST_F(ObjectTest, PathAccessGetsSetsAndRefuses) {
    CellRoot object(*construct({sym_word(T_SET_WORD, "a"), integer_cell(1)}));
    CellRoot out;
    Cell a = sym_word(T_WORD, "a"), get_a = sym_word(T_GET_WORD, "A");
    object_eval_path(&object.cell, &get_a, nullptr, nullptr, false, &out.cell);
    EXPECT_EQ(cell_int(&out.cell), 1);
    Cell seven = integer_cell(7);
    object_eval_path(&object.cell, &a, &seven, nullptr, false, &out.cell);
    EXPECT_EQ(field_int(&object.cell, "a"), 7);
    Cell self = sym_word(T_WORD, "self");
    object_eval_path(&object.cell, &self, nullptr, nullptr, false, &out.cell);
    EXPECT_EQ(out.cell.w1, object.cell.w1);

    Cell missing = sym_word(T_WORD, "b");
    Cell index = integer_cell(1);
    struct Case {
        const Cell* element;
        const Cell* set_value;
        int code;
    } cases[] = {
        {&missing, nullptr, 300 + ERR_UNSET_PATH},
        {&missing, &seven, 300 + ERR_INVALID_PATH},
        {&self, &seven, 300 + ERR_INVALID_PATH},
        {&index, nullptr, 300 + ERR_INVALID_PATH},
    };
    for (const Case& c : cases)
        EXPECT_EQ(raised_code([&] {
                      object_eval_path(&object.cell, c.element, c.set_value, nullptr, false, &out.cell);
                  }),
                  c.code);

    CellRoot target(object.cell);
    Cell set_a = sym_word(T_SET_WORD, "a");
    EXPECT_EQ(raised_code([&] { object_put(&target.cell, &set_a, &seven, false); }),
              300 + ERR_INVALID_KEY_TYPE);
    EXPECT_EQ(raised_code([&] {
                  object_select(&target.cell, &index, FindOptions{});
              }),
              300 + ERR_INVALID_TYPE);
    Cell eight = integer_cell(8);
    object_put(&target.cell, &a, &eight, false);
    EXPECT_EQ(cell_int(&target.cell), 8);
    EXPECT_EQ(cell_type(object_select(&object.cell, &missing, FindOptions{})),
              T_NONE);
}

TEST_F(ObjectTest, HandlerFieldsMustHoldFunctions) {
    EXPECT_EQ(raised_code([&] {
                  construct({sym_word(T_SET_WORD, "a"), integer_cell(1),
                             sym_word(T_SET_WORD, "on-change*"), integer_cell(2)});
              }),
              300 + ERR_BAD_FIELD_SET);
    EXPECT_EQ(symbol_text(error_in_flight.args[0].w2), "on-change*");
    EXPECT_EQ(error_in_flight.args[1].w1, uint32_t(T_INTEGER));
}

TEST_F(ObjectTest, MoldAndFormLayout) {
    CellRoot inner(*construct({sym_word(T_SET_WORD, "x"), integer_cell(2)}));
    CellRoot outer(*construct({sym_word(T_SET_WORD, "a"), integer_cell(1),
                               sym_word(T_SET_WORD, "w"), sym_word(T_LIT_WORD, "foo"),
                               sym_word(T_SET_WORD, "o"), inner.cell}));
    EXPECT_EQ(molded(&outer.cell, false),
              "make object! [\n"
              "    a: 1\n"
              "    w: 'foo\n"
              "    o: make object! [\n"
              "        x: 2\n"
              "    ]\n"
              "]");
    EXPECT_EQ(molded(&outer.cell, true), "make object! [a: 1 w: 'foo o: make object! [x: 2]]");
    CellRoot text;
    string_make_at(&text.cell, 16);
    object_form(&inner.cell, &text.cell, false, false, false, false, INT32_MAX, 0);
    EXPECT_EQ(text_of(&text.cell), "x: 2");
}

TEST_F(ObjectTest, CompareOrdersAndTerminatesOnCycles) {
    CellRoot a(*construct({sym_word(T_SET_WORD, "a"), integer_cell(1)}));
    CellRoot b(*construct({sym_word(T_SET_WORD, "a"), integer_cell(1)}));
    CellRoot c(*construct({sym_word(T_SET_WORD, "a"), integer_cell(2)}));
    CellRoot d(*construct({sym_word(T_SET_WORD, "a"), integer_cell(1), sym_word(T_SET_WORD, "b"),
                           integer_cell(1)}));
    EXPECT_EQ(object_compare(&a.cell, &b.cell, CMP_EQUAL), 0);
    EXPECT_EQ(object_compare(&a.cell, &b.cell, CMP_SAME), -1);
    EXPECT_EQ(object_compare(&a.cell, &a.cell, CMP_SAME), 0);
    EXPECT_EQ(object_compare(&a.cell, &c.cell, CMP_LESSER), -1);
    EXPECT_EQ(object_compare(&a.cell, &d.cell, CMP_LESSER), -1);
    EXPECT_EQ(object_compare(&d.cell, &a.cell, CMP_LESSER), 1);
    Cell one = integer_cell(1);
    EXPECT_EQ(object_compare(&a.cell, &one, CMP_EQUAL), COMPARE_INCOMPARABLE);

    // Each holds itself in field a.
    Cell word = sym_word(T_WORD, "a");
    object_eval_path(&a.cell, &word, &a.cell, nullptr, false, nullptr);
    object_eval_path(&b.cell, &word, &b.cell, nullptr, false, nullptr);
    EXPECT_EQ(object_compare(&a.cell, &b.cell, CMP_EQUAL), 0);
    EXPECT_EQ(molded(&a.cell, true), "make object! [a: make object! [...]]");
}

TEST_F(ObjectTest, ReflectAndModify) {
    CellRoot object(*construct({sym_word(T_SET_WORD, "a"), sym_word(T_WORD, "foo"),
                                sym_word(T_SET_WORD, "b"), integer_cell(2)}));
    auto reflect = [&](const char* name) {
        CellRoot value(object.cell);
        Cell field_word = sym_word(T_WORD, name);
        object_reflect(&value.cell, &field_word);
        return value.cell;
    };
    Cell class_id = reflect("class");
    EXPECT_EQ(uint32_t(cell_int(&class_id)), object.cell.w2);
    Cell events = reflect("events?");
    EXPECT_EQ(cell_type(&events), T_LOGIC);
    EXPECT_EQ(events.w1, 0u);
    CellRoot words(reflect("words"));
    ASSERT_EQ(block_length(&words.cell), 2u);
    EXPECT_EQ(cell_type(&block_cells(&words.cell)[1]), T_WORD);
    EXPECT_EQ(block_cells(&words.cell)[1].w1, object.cell.w1);
    CellRoot body(reflect("body"));
    ASSERT_EQ(block_length(&body.cell), 4u);
    EXPECT_EQ(cell_type(&block_cells(&body.cell)[0]), T_SET_WORD);
    EXPECT_TRUE(block_cells(&body.cell)[0].header & CELL_NEWLINE);
    EXPECT_EQ(cell_type(&block_cells(&body.cell)[1]), T_LIT_WORD);
    CellRoot changed(reflect("changed"));
    EXPECT_EQ(block_length(&changed.cell), 0u);

    Cell b = sym_word(T_WORD, "b");
    Cell three = integer_cell(3);
    object_eval_path(&object.cell, &b, &three, nullptr, false, nullptr);
    CellRoot changed_now(reflect("changed"));
    ASSERT_EQ(block_length(&changed_now.cell), 1u);
    EXPECT_EQ(block_cells(&changed_now.cell)[0].w2, b.w2);

    CellRoot target(object.cell);
    Cell changed_word = sym_word(T_WORD, "changed");
    object_modify(&target.cell, &changed_word, &none_cell);
    CellRoot cleared(reflect("changed"));
    EXPECT_EQ(block_length(&cleared.cell), 0u);
    Cell one = integer_cell(1);
    EXPECT_EQ(raised_code([&] { object_modify(&target.cell, &changed_word, &one); }),
              300 + ERR_INVALID_ARG);
    Cell bogus = sym_word(T_WORD, "bogus");
    CellRoot value(object.cell);
    EXPECT_EQ(raised_code([&] { object_reflect(&value.cell, &bogus); }), 900 + ERR_NOT_DONE);
}

} // namespace

// ---- objects made and changed through the interpreter ---------------------------------------

namespace {

struct ObjectEvalTest : ObjectInterpTest {
    // o: make object! [a: 1 on-change*: func [word old new] [<body>]]
    static void make_logged(const V& body) {
        run(blk({sw("o"), w("make"), w("object!"),
                 blk({sw("a"), i(1), sw("on-change*"), w("func"),
                      blk({w("word"), w("old"), w("new")}), body})}));
    }
};

int32_t global_int(const char* name) {
    Cell value = get_global(name);
    return cell_int(&value);
}

uint8_t global_type(const char* name) {
    Cell value = get_global(name);
    return cell_type(&value);
}

// The handler's three arguments, recorded in globals by its body.
V log_body() {
    return blk({sw("log-word"), gw("word"), sw("log-old"), gw("old"), sw("log-new"), gw("new")});
}

TEST_F(ObjectEvalTest, OnChangeHearsWordOldAndNew) {
    make_logged(log_body());
    run(blk({spth({w("o"), w("a")}), i(2)}));
    EXPECT_EQ(symbol_text(get_global("log-word").w2), "a");
    EXPECT_EQ(global_int("log-old"), 1);
    EXPECT_EQ(global_int("log-new"), 2);

    // Setting the field through a word bound to the object notifies too.
    CellRoot object(get_global("o"));
    CellRoot word(sym_word(T_WORD, "a"));
    word.cell.w1 = object.cell.w1;
    Cell three = integer_cell(3);
    word_set(&word.cell, &three);
    EXPECT_EQ(global_int("log-old"), 2);
    EXPECT_EQ(global_int("log-new"), 3);
    EXPECT_EQ(field_int(&object.cell, "a"), 3);
}

TEST_F(ObjectEvalTest, ReplacedHandlerGetsItsOwnLocals) {
    make_logged(log_body());
    // The new handler has two locals more; both must read none.
    run(blk({spth({w("o"), w("on-change*")}), w("func"),
             blk({w("word"), w("old"), w("new"), ref("local"), w("x"), w("y")}),
             blk({sw("seen"), w("y"), sw("log-new"), gw("new")})}));
    collector_cycle();
    run(blk({spth({w("o"), w("a")}), i(7)}));
    EXPECT_EQ(global_int("log-new"), 7);
    EXPECT_EQ(global_type("seen"), T_NONE);
}

TEST_F(ObjectEvalTest, HandlerSlotsHoldingOtherValues) {
    EXPECT_EQ(run_error(blk({w("make"), w("object!"), blk({sw("a"), i(1), sw("on-change*"), i(2)})})),
              script(ERR_BAD_FIELD_SET));
    make_logged(log_body());
    EXPECT_EQ(run_error(blk({spth({w("o"), w("on-change*")}), i(5)})), script(ERR_INVALID_OBJ_EVT));
    EXPECT_EQ(run_error(blk({spth({w("o"), w("a")}), i(9)})), script(ERR_INVALID_OBJ_EVT));
}

TEST_F(ObjectEvalTest, MakeEvaluatesTheSpecWithSelf) {
    run(blk({sw("o"), w("make"), w("object!"),
             blk({sw("a"), i(1), sw("b"), w("a"), w("+"), i(1), sw("me"), w("self")})}));
    CellRoot object(get_global("o"));
    EXPECT_EQ(field_int(&object.cell, "b"), 2);
    EXPECT_EQ(field(&object.cell, "me").w1, object.cell.w1);
    EXPECT_GT(object.cell.w2, OBJECT_CLASS_RUNTIME);
    CellRoot changed(object.cell);
    Cell changed_word = sym_word(T_WORD, "changed");
    object_reflect(&changed.cell, &changed_word);
    EXPECT_EQ(block_length(&changed.cell), 0u);  // the marks of making are cleared

    // From a prototype: same fields keep the class; functions are re-made
    // for the new object and see its fields.
    run(blk({sw("p"), w("make"), w("object!"),
             blk({sw("a"), i(1), sw("f"), w("func"), blk({}), blk({w("a")})})}));
    run(blk({sw("q"), w("make"), w("p"), blk({sw("a"), i(5)})}));
    run(blk({sw("r"), w("make"), w("p"), blk({sw("z"), i(0)})}));
    CellRoot p(get_global("p")), q(get_global("q")), r(get_global("r"));
    EXPECT_EQ(q.cell.w2, p.cell.w2);
    EXPECT_NE(r.cell.w2, p.cell.w2);
    CellRoot fq(field(&q.cell, "f")), fp(field(&p.cell, "f"));
    EXPECT_NE(fq.cell.w1, fp.cell.w1);
    Cell from_q = run(blk({pth({w("q"), w("f")})}));
    EXPECT_EQ(cell_int(&from_q), 5);
    Cell from_p = run(blk({pth({w("p"), w("f")})}));
    EXPECT_EQ(cell_int(&from_p), 1);
}

TEST_F(ObjectEvalTest, MakeErrorFromSetWords) {
    Cell error = run(blk({w("make"), w("error!"),
                          blk({sw("type"), lw("math"), sw("id"), lw("overflow")})}));
    CellRoot held(error);
    ASSERT_EQ(cell_type(&held.cell), T_ERROR);
    Cell code = field(&held.cell, "code");
    EXPECT_EQ(cell_int(&code), 401);
    EXPECT_EQ(run_error(blk({w("make"), w("error!"), blk({sw("type"), lw("math")})})),
              script(ERR_INVALID_SPEC_FIELD));
}

TEST_F(ObjectEvalTest, OnDeepChangeHearsChangesOfFieldSeries) {
    run(blk({sw("o"), w("make"), w("object!"),
             blk({sw("b"), blk({i(1), i(2)}), sw("on-deep-change*"), w("func"),
                  blk({w("owner"), w("word"), w("target"), w("action"), w("new"), w("index"),
                       w("part")}),
                  blk({sw("log-word"), gw("word"), sw("log-action"), gw("action"),
                       sw("log-index"), gw("index"), sw("log-part"), gw("part")})})}));
    CellRoot object(get_global("o"));
    CellRoot series(field(&object.cell, "b"));
    EXPECT_TRUE(ownership_check(&series.cell, runtime_word(W_APPENDED), 2, 1));
    EXPECT_EQ(symbol_text(get_global("log-word").w2), "b");
    EXPECT_EQ(symbol_text(get_global("log-action").w2), "appended");
    EXPECT_EQ(global_int("log-index"), 2);
    EXPECT_EQ(global_int("log-part"), 1);

    // A slot that no longer holds a function is passed over.
    Cell handler_word = sym_word(T_WORD, "on-deep-change*");
    Cell five = integer_cell(5);
    object_eval_path(&object.cell, &handler_word, &five, nullptr, false, nullptr);
    set_global("log-index", &none_cell);
    EXPECT_TRUE(ownership_check(&series.cell, runtime_word(W_APPENDED), 3, 1));
    EXPECT_EQ(global_type("log-index"), T_NONE);
}

} // namespace
