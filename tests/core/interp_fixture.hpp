// A fresh runtime with the actions table and the interpreter, a few natives
// for the tests (func, return, if, zero?), the actions the tests call, and a
// builder of code blocks from a small tree description.
#pragma once
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/logic.hpp"
#include "core/mold_text.hpp"
#include "core/word.hpp"
#include "core/natives_table.hpp"
#include "core/trace.hpp"
#include "core/typeset.hpp"
#include "tests/core/symbol_fixture.hpp"

#include <initializer_list>
#include <string>
#include <vector>

namespace kel::testing {

// A value of code to build: a word of one of the word types, an integer, a
// string-less literal, or a series of further values.
struct V {
    enum Kind { WORD, SET_WORD, GET_WORD, LIT_WORD, REFINEMENT, INTEGER, NONE, BLOCK, PAREN, PATH,
                SET_PATH, GET_PATH, LIT_PATH, ISSUE, STRING } kind;
    std::string name;
    int32_t n = 0;
    std::vector<V> items;
};
inline V w(const char* s) { return {V::WORD, s, 0, {}}; }
inline V sw(const char* s) { return {V::SET_WORD, s, 0, {}}; }
inline V gw(const char* s) { return {V::GET_WORD, s, 0, {}}; }
inline V lw(const char* s) { return {V::LIT_WORD, s, 0, {}}; }
inline V ref(const char* s) { return {V::REFINEMENT, s, 0, {}}; }
inline V iss(const char* s) { return {V::ISSUE, s, 0, {}}; }
inline V str(const char* s) { return {V::STRING, s, 0, {}}; }
inline V i(int32_t n) { return {V::INTEGER, "", n, {}}; }
inline V none() { return {V::NONE, "", 0, {}}; }
inline V blk(std::initializer_list<V> items) { return {V::BLOCK, "", 0, items}; }
inline V par(std::initializer_list<V> items) { return {V::PAREN, "", 0, items}; }
inline V pth(std::initializer_list<V> items) { return {V::PATH, "", 0, items}; }
inline V spth(std::initializer_list<V> items) { return {V::SET_PATH, "", 0, items}; }

inline uint8_t v_series_type(V::Kind k) {
    switch (k) {
    case V::PAREN: return T_PAREN;
    case V::PATH: return T_PATH;
    case V::SET_PATH: return T_SET_PATH;
    case V::GET_PATH: return T_GET_PATH;
    case V::LIT_PATH: return T_LIT_PATH;
    default: return T_BLOCK;
    }
}

// Writes the value into out (a root): words are bound to the global context.
inline void build(const V& v, CellRoot& out) {
    switch (v.kind) {
    case V::INTEGER: out.cell = integer_cell(v.n); return;
    case V::NONE: cell_init(&out.cell, T_NONE); return;
    case V::STRING:
        string_make_empty_at(&out.cell, uint32_t(v.name.size()) + 1);
        string_append_ascii(&out.cell, v.name.c_str(), uint32_t(v.name.size()));
        return;
    case V::ISSUE: issue_make(&out.cell, v.name.c_str()); return;
    case V::WORD: case V::SET_WORD: case V::GET_WORD: case V::LIT_WORD: case V::REFINEMENT: {
        out.cell = word_intern(v.name.c_str());
        static const uint8_t types[] = {T_WORD, T_SET_WORD, T_GET_WORD, T_LIT_WORD, T_REFINEMENT};
        cell_type_set(&out.cell, types[v.kind - V::WORD]);
        return;
    }
    default: {
        testing::block_of_cells(&out.cell, nullptr, 0);
        for (const V& item : v.items) {
            CellRoot held;
            build(item, held);
            block_append(out, held);
        }
        cell_type_set(&out.cell, v_series_type(v.kind));
        return;
    }
    }
}

// Sets a global word to a value.
inline void set_global(const char* name, const Cell* value) {
    CellRoot held(*value);
    CellRoot word(word_intern(name));
    word_set(&word.cell, &held.cell);
}

// The value of a global word, copied.
inline Cell get_global(const char* name) {
    Cell word = word_intern(name);
    return *word_get(&word);
}

// ---- natives of the tests ------------------------------------------------------------------

inline ExitCode native_func(bool, const int32_t*) {
    uint32_t flags = function_check_spec(data_stack.args);
    CellRoot spec(data_stack.args[0]), body(data_stack.args[1]);
    Cell* out = stack_push_new(T_NONE);
    function_make_at(out, &spec.cell, &body.cell, 0, nullptr, nullptr, flags);
    stack_set_last_reset(out);
    return EXIT_CODE_NONE;
}
inline ExitCode native_return(bool, const int32_t*) { return stack_throw_return(true); }
inline ExitCode native_if(bool, const int32_t*) {
    if (logic_false(data_stack.args)) {
        stack_box_new(T_NONE);
        return EXIT_CODE_NONE;
    }
    return eval_block(data_stack.args + 1, true);
}
inline ExitCode native_zero_q(bool, const int32_t*) {
    logic_box(cell_type(data_stack.args) == T_INTEGER && cell_int(data_stack.args) == 0);
    return EXIT_CODE_NONE;
}

constexpr uint32_t NATIVE_FUNC = 14, NATIVE_RETURN = 80, NATIVE_IF = 1, NATIVE_ZERO_Q = 100;

// A runtime with the interpreter: global words for every datatype, the test
// natives above, the actions add, subtract, multiply, append, pick and the
// operators +, -, *.
struct InterpTest : ::testing::Test {
    void SetUp() override {
        TortureSpared spared;
        runtime_fresh();
        actions_table_init();
        natives_table_init();
        interpreter_init();
        for (uint8_t t = 1; t <= datatype_highest_id(); t++) {
            const DatatypeName* name = datatype_name(t);
            if (!name->name) continue;
            Cell type;
            datatype_make_at(&type, t);
            set_global(name->name, &type);
        }
        native_register_at(NATIVE_FUNC, native_func);
        native_register_at(NATIVE_RETURN, native_return);
        native_register_at(NATIVE_IF, native_if);
        native_register_at(NATIVE_ZERO_Q, native_zero_q);
        define_native("func", blk({w("spec"), w("body")}), NATIVE_FUNC, T_NATIVE);
        define_native("return", blk({w("value")}), NATIVE_RETURN, T_NATIVE);
        define_native("if", blk({w("cond"), w("then-blk")}), NATIVE_IF, T_NATIVE);
        define_native("zero?", blk({w("value")}), NATIVE_ZERO_Q, T_NATIVE);
        define_native("add", blk({w("value1"), w("value2")}), A_ADD, T_ACTION);
        define_native("subtract", blk({w("value1"), w("value2")}), A_SUBTRACT, T_ACTION);
        define_native("multiply", blk({w("value1"), w("value2")}), A_MULTIPLY, T_ACTION);
        define_native("append", blk({w("series"), w("value"), ref("part"), w("length"),
                                     ref("only"), ref("dup"), w("count")}),
                      A_APPEND, T_ACTION);
        define_native("pick", blk({w("series"), w("index")}), A_PICK, T_ACTION);
        define_op("+", "add");
        define_op("-", "subtract");
        define_op("*", "multiply");
    }
    void TearDown() override {
        trace_stop();
        collector.enabled = false;
    }

    static void define_native(const char* name, const V& spec, uint32_t index, uint8_t type) {
        CellRoot s;
        build(spec, s);
        CellRoot value;
        native_make_at(&value.cell, &s.cell, index, type);
        set_global(name, &value.cell);
    }
    static void define_op(const char* name, const char* source) {
        CellRoot value(get_global(source));
        op_make(&value.cell, &value.cell, T_OP);
        set_global(name, &value.cell);
    }

    // Evaluates the code; the value of its last expression.
    static Cell run(const V& code) {
        CellRoot block;
        build(code, block);
        EXPECT_EQ(eval_block(&block.cell, true), EXIT_CODE_NONE);
        return *data_stack.args;
    }
    // The error code the code raises (0 for none); the stacks are emptied after.
    static int run_error(const V& code) {
        StackState saved = stack_save();
        int result = raised_code([&] { run(code); });
        stack_restore(saved);
        return result;
    }
    static int script(uint16_t id) { return int(ErrorCategory::script) * 100 + id; }
    static int internal(uint16_t id) { return int(ErrorCategory::internal) * 100 + id; }
};

} // namespace kel::testing
