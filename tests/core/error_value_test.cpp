// error! values: making them from codes, blocks and strings, the error in
// flight as a value, the call chain, and the printed form.
#include "core/error_value.hpp"
#include "core/object.hpp"
#include "core/logic.hpp"
#include "core/numbers.hpp"
#include "tests/core/object_fixture.hpp"

#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

using ErrorValueTest = ObjectRuntimeTest;


std::string formed(const Cell* error) {
    CellRoot held(*error);
    CellRoot text;
    string_make_at(&text.cell, 16);
    error_form(&held.cell, &text.cell, false, false, false, false, INT32_MAX, 0);
    return text_of(&text.cell);
}

Cell global_word(const char* name) { return word_intern(name); }

// make error! of a value: the result in the proto cell, on the stack.
Cell* make_error(const Cell* spec) {
    Cell* proto = stack_push_new(T_DATATYPE);
    proto->w1 = T_ERROR;
    CellRoot held(*spec);
    return const_cast<Cell*>(error_make_action(proto, &held.cell, T_ERROR));
}

TEST_F(ErrorValueTest, MakeFromIntegerNamesCategoryAndId) {
    struct Case {
        int32_t code;
        const char* type;  // null: raises out-of-range
        const char* id;
    } cases[] = {
        {300, "script", "no-value"}, {302, "script", "not-defined"}, {0, "throw", "break"},
        {913, "internal", "deprecated"}, {800, "user", "message"},
        {394, nullptr, nullptr}, {1000, nullptr, nullptr}, {-1, nullptr, nullptr},
        {600, nullptr, nullptr}, {105, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Cell spec = integer_cell(c.code);
        if (!c.type) {
            int raised = raised_code([&] { make_error(&spec); });
            EXPECT_EQ(raised, 300 + ERR_OUT_OF_RANGE);
            EXPECT_EQ(cell_int(&error_in_flight.args[0]), c.code);
            continue;
        }
        Cell* error = make_error(&spec);
        ASSERT_EQ(cell_type(error), T_ERROR);
        EXPECT_EQ(error->w2, OBJECT_CLASS_ERROR);
        EXPECT_EQ(cell_int(error_field(error, ERROR_CODE)), c.code);
        EXPECT_EQ(symbol_text(error_type_symbol(error)), c.type);
        EXPECT_EQ(symbol_text(error_id_symbol(error)), c.id);
        EXPECT_EQ(cell_type(error_field(error, ERROR_ARG1)), T_NONE);
    }
}

TEST_F(ErrorValueTest, MakeFromBlockOfWords) {
    CellRoot script(global_word("script")), no_value(global_word("no-value"));
    CellRoot spec;
    Cell pair[2] = {script.cell, no_value.cell};
    kel::testing::block_of_cells(&spec.cell, pair, 2);
    Cell* error = make_error(&spec.cell);
    EXPECT_EQ(cell_int(error_field(error, ERROR_CODE)), 300);
    EXPECT_EQ(symbol_text(error_id_symbol(error)), "no-value");

    struct Case {
        std::vector<const char*> words;  // "1" stands for the integer 1
        int code;
        const char* arg;  // the word of invalid-spec-field
    } cases[] = {
        {{"script", "no-such-id"}, 300 + ERR_INVALID_SPEC_FIELD, "id"},
        {{"script"}, 300 + ERR_INVALID_SPEC_FIELD, "id"},
        {{"bogus", "no-value"}, 300 + ERR_INVALID_SPEC_FIELD, "type"},
        {{"math", "no-value"}, 300 + ERR_INVALID_SPEC_FIELD, "id"},
        {{"script", "1"}, 300 + ERR_INVALID_ARG, nullptr},
        {{"1"}, 900 + ERR_INVALID_ERROR, nullptr},
    };
    for (const Case& c : cases) {
        // Each word waits on the data stack while the next is made.
        Cell* cells = data_stack.top;
        for (const char* name : c.words) {
            Cell* slot = stack_push_new(T_NONE);
            *slot = std::string(name) == "1" ? integer_cell(1) : global_word(name);
        }
        CellRoot block;
        kel::testing::block_of_cells(&block.cell, cells, uint32_t(c.words.size()));
        stack_pop(uint32_t(c.words.size()));
        EXPECT_EQ(raised_code([&] { make_error(&block.cell); }), c.code);
        if (c.arg) {
            EXPECT_EQ(symbol_text(error_in_flight.args[0].w2), c.arg);
        }
    }
}

TEST_F(ErrorValueTest, MakeFromOtherTypesRaisesBadMakeArg) {
    Cell spec = none_cell;
    EXPECT_EQ(raised_code([&] { make_error(&spec); }), 300 + ERR_BAD_MAKE_ARG);
    EXPECT_EQ(cell_type(&error_in_flight.args[0]), T_DATATYPE);
    EXPECT_EQ(cell_type(&error_in_flight.args[1]), T_NONE);
}

TEST_F(ErrorValueTest, UserErrorFormsItsMessage) {
    CellRoot message;
    string_make_at(&message.cell, 4);
    string_concatenate_text(&message.cell, "x");
    Cell* error = make_error(&message.cell);
    EXPECT_EQ(cell_int(error_field(error, ERROR_CODE)), 800);
    EXPECT_EQ(formed(error), "*** User Error: x\n*** Where: ???\n*** Near : none");
}

TEST_F(ErrorValueTest, FormFillsTheTemplateWhereAndNear) {
    CellRoot append(global_word("append")), series(global_word("series"));
    CellRoot type;
    datatype_make_at(&type.cell, T_INTEGER);
    Cell* error = error_make(ErrorCategory::script, ERR_EXPECT_ARG, &append.cell, &type.cell,
                             &series.cell);
    CellRoot held(*error);
    CellRoot where(global_word("foo"));
    error_set_where(&held.cell, &where.cell);
    CellRoot other(global_word("bar"));
    error_set_where(&held.cell, &other.cell);  // where is kept once set
    CellRoot near, a(global_word("a")), b(global_word("b"));
    Cell code[3] = {a.cell, integer_cell(1), b.cell};
    kel::testing::block_of_cells(&near.cell, code, 3);
    cell_copy(&near.cell, error_field(&held.cell, ERROR_NEAR));
    EXPECT_EQ(formed(&held.cell),
              "*** Script Error: append does not allow integer! for its series argument\n"
              "*** Where: foo\n"
              "*** Near : [a 1 b]");
}

TEST_F(ErrorValueTest, NearIsCutToFortyCharacters) {
    Cell* error = error_push(ErrorCategory::math, ERR_ZERO_DIVIDE);
    CellRoot held(*error);
    CellRoot near;
    std::vector<Cell> code(30, integer_cell(12345));
    kel::testing::block_of_cells(&near.cell, code.data(), uint32_t(code.size()));
    cell_copy(&near.cell, error_field(&held.cell, ERROR_NEAR));
    std::string text = formed(&held.cell);
    std::string line = text.substr(text.find("*** Near : ") + 11);
    std::string full = "[";
    for (int i = 0; i < 30; i++) full += i ? " 12345" : "12345";
    EXPECT_EQ(line, full.substr(0, 40));
    EXPECT_EQ(line.size(), 40u);
}

TEST_F(ErrorValueTest, UnknownTypeOrIdPrintsAsInvalidError) {
    Cell* error = error_push(ErrorCategory::script, ERR_NO_VALUE);
    CellRoot held(*error);
    CellRoot bogus(global_word("bogus"));
    cell_copy(&bogus.cell, error_field(&held.cell, ERROR_TYPE));
    EXPECT_EQ(formed(&held.cell).rfind("*** Internal Error: invalid error object field value: "
                                       "none\n*** Where: ",
                                       0),
              0u);
    cell_copy(&none_cell, error_field(&held.cell, ERROR_ID));
    EXPECT_EQ(formed(&held.cell).rfind("*** Internal Error: ", 0), 0u);
}

TEST_F(ErrorValueTest, MoldWritesTheFields) {
    Cell* error = error_push(ErrorCategory::math, ERR_OVERFLOW);
    CellRoot held(*error);
    CellRoot text;
    string_make_at(&text.cell, 16);
    error_mold(&held.cell, &text.cell, false, false, true, false, INT32_MAX, 0);
    EXPECT_EQ(text_of(&text.cell),
              "make error! [code: 401 type: 'math id: 'overflow arg1: none arg2: none "
              "arg3: none near: none where: none stack: none files: none]");
}

TEST_F(ErrorValueTest, StackFieldReadsButIsNotSetThroughPaths) {
    Cell* error = error_push(ErrorCategory::math, ERR_OVERFLOW);
    CellRoot held(*error);
    CellRoot stack(global_word("stack")), code(global_word("code"));
    CellRoot out, level;
    integer_make_at(&level.cell, 7);
    EXPECT_EQ(raised_code([&] {
                  error_eval_path(&held.cell, &stack.cell, &level.cell, nullptr, false, &out.cell);
              }),
              300 + ERR_INVALID_PATH_SET);
    error_eval_path(&held.cell, &stack.cell, nullptr, nullptr, false, &out.cell);
    EXPECT_EQ(cell_type(&out.cell), T_NONE);
    error_eval_path(&held.cell, &code.cell, nullptr, nullptr, false, &out.cell);
    EXPECT_EQ(cell_int(&out.cell), 401);
}

// A raise inside named frames: the error in flight becomes a value with its
// argument and where, and its call chain survives the catcher's unwinding.
TEST_F(ErrorValueTest, ErrorInFlightKeepsWhereAndCallChain) {
    StackState entry = stack_save();
    CellRoot outer(global_word("outer")), inner(global_word("inner"));
    CellRoot missing(global_word("missing"));
    CellRoot two = CellRoot(integer_cell(2));
    error_stack_setting_set(&two.cell);
    try {
        stack_mark_native_interp(&outer.cell);
        stack_mark_native_interp(&inner.cell);
        stack_mark_block(nullptr);
        error_raise(ERR_NO_VALUE, &missing.cell);
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.code(), 300);
        stack_restore(entry);  // the frames are gone before the catcher reads the chain
        Cell* error = error_push_in_flight();
        CellRoot held(*error);
        EXPECT_EQ(symbol_text(error_field(&held.cell, ERROR_ARG1)->w2), "missing");
        EXPECT_EQ(symbol_text(error_field(&held.cell, ERROR_WHERE)->w2), "inner");
        EXPECT_EQ(cell_type(error_field(&held.cell, ERROR_STACK)), T_INTEGER);
        error_fill_stack(&held.cell);
        const Cell* chain = error_field(&held.cell, ERROR_STACK);
        ASSERT_EQ(cell_type(chain), T_BLOCK);
        ASSERT_EQ(block_length(chain), 2u);
        EXPECT_EQ(symbol_text(block_cells(chain)[0].w2), "outer");
        EXPECT_EQ(symbol_text(block_cells(chain)[1].w2), "inner");
        std::string text = formed(&held.cell);
        EXPECT_NE(text.find("\n*** Stack: outer inner"), std::string::npos) << text;
    }
}

TEST_F(ErrorValueTest, UncaughtErrorIsReportedOnStderr) {
    CellRoot missing(global_word("missing"));
    try {
        error_raise(ERR_NO_VALUE, &missing.cell);
    } catch (const LanguageError&) {
        ::testing::internal::CaptureStderr();
        error_report_uncaught();
        std::string text = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(text, "*** Script Error: missing has no value\n*** Where: ???\n*** Near : none\n");
    }
}

// Raised while evaluating: near is the failing expression's block, and a
// tracer hears the error before it travels.
using ErrorEvalTest = ObjectInterpTest;

TEST_F(ErrorEvalTest, NearAndTraceEventOfARaisedError) {
    run(blk({sw("tracer"), w("func"),
             blk({w("event"), w("code"), w("offset"), w("value"), w("ref"), w("depths")}),
             blk({sw("last-event"), gw("event"), sw("last-value"), gw("value")})}));
    CellRoot tracer(get_global("tracer"));
    trace_start(&tracer.cell);
    StackState saved = stack_save();
    try {
        run(blk({sw("x"), i(1), w("undefined-word"), i(2)}));
        ADD_FAILURE() << "no error raised";
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.code(), 300 + ERR_NO_VALUE);
        trace_stop();
        stack_restore(saved);
        Cell* error = error_push_in_flight();
        CellRoot held(*error);
        EXPECT_EQ(symbol_text(error_field(&held.cell, ERROR_ARG1)->w2), "undefined-word");
        std::string text = formed(&held.cell);
        EXPECT_NE(text.find("\n*** Near : [undefined-word 2]"), std::string::npos) << text;
    }
    Cell event = get_global("last-event");
    EXPECT_EQ(symbol_text(event.w2), "error");
    Cell value = get_global("last-value");
    ASSERT_EQ(cell_type(&value), T_ERROR);
    EXPECT_EQ(cell_int(error_field(&value, ERROR_CODE)), 300 + ERR_NO_VALUE);
}

} // namespace
