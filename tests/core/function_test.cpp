#include "tests/core/interp_fixture.hpp"

using namespace kel;
using namespace kel::testing;

namespace {

struct FunctionTest : InterpTest {
    static int check(const V& spec) {
        CellRoot s;
        build(spec, s);
        return raised_code([&] { function_check_spec(&s.cell); });
    }
    static std::string text_of(const Cell* string) {
        SeriesBuffer* b = series_buffer(string->w2);
        EXPECT_EQ(b->unit(), 1u);
        return std::string(reinterpret_cast<const char*>(b->head_ptr()), b->length());
    }
    static std::string molded(const Cell& value) {
        CellRoot v(value);
        Cell* out = stack_push_new(T_NONE);
        dispatch_mold(&v.cell, out, false, false, false, -1);
        std::string text = text_of(out);
        stack_pop(1);
        return text;
    }
};

TEST_F(FunctionTest, SpecChecking) {
    V ret = sw("return");
    V integer = blk({w("integer!")});
    struct Case {
        const char* what;
        V spec;
        int error;
    } cases[] = {
        {"doc string before the type block", blk({w("a"), str("doc"), integer}), script(ERR_BAD_FUNC_DEF)},
        {"type block then doc string", blk({w("a"), integer, str("doc")}), 0},
        {"return: before /local", blk({w("a"), ret, integer, ref("local"), w("b")}), 0},
        {"argument after return:", blk({w("a"), ret, integer, w("b")}), script(ERR_BAD_FUNC_DEF)},
        {"refinement after return:", blk({ret, integer, ref("ref")}), script(ERR_BAD_FUNC_DEF)},
        {"return: without a type block", blk({w("a"), ret}), script(ERR_BAD_FUNC_DEF)},
        {"set-word other than return:", blk({sw("x"), integer}), script(ERR_BAD_FUNC_DEF)},
        {"lit-word local", blk({ref("local"), lw("a")}), script(ERR_BAD_FUNC_DEF)},
        {"argument and refinement of one name", blk({w("a"), ref("a")}), script(ERR_DUP_VARS)},
        {"integer in a spec", blk({w("a"), i(1)}), script(ERR_BAD_FUNC_DEF)},
        {"unset word as a type", blk({w("a"), blk({w("never-set")})}), script(ERR_NO_VALUE)},
        {"integer as a type", blk({w("a"), blk({i(1)})}), script(ERR_INVALID_TYPE_SPEC)},
        {"attribute that is not a word", blk({blk({i(1)}), w("a")}), script(ERR_BAD_FUNC_DEF)},
    };
    for (const Case& c : cases) EXPECT_EQ(check(c.spec), c.error) << c.what;

    CellRoot s;
    build(blk({blk({w("trace"), w("whatever")}), w("a")}), s);
    EXPECT_EQ(function_check_spec(&s.cell), FUNCTION_TRACE);
    build(blk({blk({w("no-trace")})}), s);
    EXPECT_EQ(function_check_spec(&s.cell), FUNCTION_NO_TRACE);
    EXPECT_EQ(run_error(blk({w("func"), blk({w("a"), str("doc"), integer}), blk({})})),
              script(ERR_BAD_FUNC_DEF));
}

TEST_F(FunctionTest, OperatorsNeedTwoArguments) {
    struct Case {
        V spec;
        bool ok;
    } cases[] = {
        {blk({w("a"), w("b"), w("c")}), false},
        {blk({lw("a"), w("b")}), false},
        {blk({w("a"), w("b"), ref("only")}), false},
        {blk({w("a"), w("b"), ref("local"), w("c")}), true},
        {blk({w("a"), str("doc"), gw("b")}), true},
    };
    for (const Case& c : cases) {
        CellRoot s;
        build(c.spec, s);
        EXPECT_EQ(function_op_spec_q(&s.cell), c.ok);
    }
    // make op! func [a b c] []
    CellRoot fn(run(blk({w("func"), blk({w("a"), w("b"), w("c")}), blk({})})));
    CellRoot type, out;
    datatype_make_at(&type.cell, T_OP);
    EXPECT_EQ(raised_code([&] { dispatch_make(&type.cell, &fn.cell, false, &out.cell); }),
              script(ERR_BAD_OP_SPEC));
    CellRoot number(integer_cell(1));
    EXPECT_EQ(raised_code([&] { dispatch_make(&type.cell, &number.cell, false, &out.cell); }),
              script(ERR_INVALID_TYPE));
}

TEST_F(FunctionTest, OperatorMadeFromAFunction) {
    // avg: make op! func [a b] [a + b / 2]   10 avg 20
    CellRoot fn(run(blk({w("func"), blk({w("a"), w("b")}),
                         blk({w("a"), w("+"), w("b"), w("*"), i(3)})})));
    CellRoot type, op;
    datatype_make_at(&type.cell, T_OP);
    dispatch_make(&type.cell, &fn.cell, false, &op.cell);
    ASSERT_EQ(cell_type(&op.cell), T_OP);
    EXPECT_EQ(op_source_type(&op.cell), T_FUNCTION);
    set_global("plus3", &op.cell);
    EXPECT_EQ(cell_int(&(const Cell&)run(blk({i(1), w("plus3"), i(2), w("+"), i(1)}))), 10);
    EXPECT_EQ(cell_type(function_more_cell(&fn.cell, MORE_OP)), T_FUNCTION);
}

TEST_F(FunctionTest, FormMoldReflectCompare) {
    CellRoot fn(run(blk({w("func"), blk({w("a")}), blk({w("a"), w("+"), i(1)})})));
    EXPECT_EQ(molded(fn.cell), "func [a][a + 1]");
    Cell* out = stack_push_new(T_NONE);
    dispatch_form(&fn.cell, out, -1);
    EXPECT_EQ(text_of(out), "?function?");
    stack_pop(1);
    CellRoot add(get_global("add"));
    EXPECT_EQ(molded(add.cell), "make action! [value1 value2]");

    CellRoot field(word_intern("words"));
    CellRoot reflected(fn.cell);
    function_reflect(&reflected.cell, &field.cell);
    ASSERT_EQ(block_length(&reflected.cell), 1u);
    EXPECT_EQ(block_cells(&reflected.cell)[0].w1, fn.cell.w1) << "bound to the function's context";
    field.cell = word_intern("body");
    reflected.cell = add.cell;
    native_reflect(&reflected.cell, &field.cell);
    EXPECT_EQ(cell_int(&reflected.cell), A_ADD);
    field.cell = word_intern("class");
    EXPECT_EQ(raised_code([&] { native_reflect(&reflected.cell, &field.cell); }),
              internal(ERR_NOT_DONE));

    CellRoot other(run(blk({w("func"), blk({w("a")}), blk({w("a"), w("+"), i(1)})})));
    EXPECT_TRUE(compare_logic(&fn.cell, &fn.cell, CMP_EQUAL));
    EXPECT_FALSE(compare_logic(&fn.cell, &other.cell, CMP_EQUAL)) << "equal only to itself";
    EXPECT_TRUE(compare_logic(&add.cell, &add.cell, CMP_SAME));
    EXPECT_FALSE(compare_logic(&add.cell, &fn.cell, CMP_EQUAL));
    EXPECT_EQ(raised_code([&] { compare_logic(&fn.cell, &fn.cell, CMP_LESSER); }),
              script(ERR_INVALID_COMPARE));
}

TEST_F(FunctionTest, MakeNativeChecksItsArgument) {
    CellRoot type, out, spec;
    datatype_make_at(&type.cell, T_NATIVE);
    struct Case {
        uint8_t type;
        V spec;
        int error;
    } cases[] = {
        {T_NATIVE, blk({blk({w("a")}), i(120)}), 0},
        {T_NATIVE, blk({blk({w("a")}), i(121)}), script(ERR_BAD_MAKE_ARG)},
        {T_NATIVE, blk({blk({w("a")})}), script(ERR_BAD_MAKE_ARG)},
        {T_ACTION, blk({blk({w("a")}), i(62)}), 0},
        {T_ACTION, blk({blk({w("a")}), i(63)}), script(ERR_BAD_MAKE_ARG)},
        {T_ACTION, blk({i(1), i(2)}), script(ERR_BAD_MAKE_ARG)},
    };
    for (const Case& c : cases) {
        datatype_make_at(&type.cell, c.type);
        build(c.spec, spec);
        EXPECT_EQ(raised_code([&] { dispatch_make(&type.cell, &spec.cell, false, &out.cell); }),
                  c.error);
        if (!c.error) {
            EXPECT_EQ(cell_type(&out.cell), c.type);
        }
    }
}

TEST_F(FunctionTest, LocalsOfFunction) {
    // spec [a /extern e]  body [x: 1 e: 2 foreach [k v] [] [] repeat n 3 [] (y: a)]
    CellRoot spec, body;
    build(blk({w("a"), ref("extern"), w("e")}), spec);
    build(blk({sw("x"), i(1), sw("e"), i(2), w("foreach"), blk({w("k"), w("v")}), blk({}),
               blk({}), w("repeat"), w("n"), i(3), blk({}), par({sw("y"), w("a")}), sw("a"),
               i(0)}),
          body);
    function_collect_locals(&spec.cell, &body.cell);
    std::vector<std::string> names;
    for (uint32_t k = 0; k < block_length(&spec.cell); k++)
        names.push_back(symbol_text(block_cells(&spec.cell)[k].w2));
    std::vector<std::string> expected = {"a", "local", "x", "k", "v", "n", "y"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(cell_type(&block_cells(&spec.cell)[1]), T_REFINEMENT);
    EXPECT_EQ(function_count_locals(spec.cell.w2, 0, false), 6);
}

// More set-words than the lists' first buffers hold: the lists grow, and
// under torture every growth renumbers their nodes.
TEST_F(FunctionTest, LocalsOfFunctionWhileTheListsGrowUnderTorture) {
    CellRoot spec, body;
    build(blk({w("a")}), spec);
    build(blk({sw("b"), i(1), sw("c"), i(2), sw("d"), i(3), sw("e"), i(4), sw("f"), i(5), sw("g"), i(6),
               blk({sw("h"), i(7), sw("j"), i(8), sw("k"), i(9), sw("m"), i(10), sw("n"), i(11)})}),
          body);
    {
        TortureScope torture;
        function_collect_locals(&spec.cell, &body.cell);
    }
    std::vector<std::string> names;
    for (uint32_t k = 0; k < block_length(&spec.cell); k++)
        names.push_back(symbol_text(block_cells(&spec.cell)[k].w2));
    std::vector<std::string> expected = {"a", "local", "b", "c", "d", "e", "f", "g", "h", "j", "k", "m", "n"};
    EXPECT_EQ(names, expected);
}

// The argument cache copies a spec's refinements, which may be bound (a
// function made inside another one has its spec bound to the outer context).
// The cache grows past its first eight cells; under torture that renumbers
// the context's node, and every copied refinement must follow it.
TEST_F(FunctionTest, ArgsCacheRefinementsFollowTheirContextWhenTheCacheGrows) {
    static const char* const names[] = {"r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9", "r10"};
    CellRoot words, spec, body;
    build(blk({w("r1"), w("r2"), w("r3"), w("r4"), w("r5"), w("r6"), w("r7"), w("r8"), w("r9"), w("r10")}),
          words);
    build(blk({ref("r1"), ref("r2"), ref("r3"), ref("r4"), ref("r5"), ref("r6"), ref("r7"), ref("r8"),
               ref("r9"), ref("r10")}),
          spec);
    build(blk({none()}), body);
    NodeRoot outer(context_make_from_spec(&words.cell, false, false, CONTEXT_PLAIN), ROOT_BLOCK);
    bind_block(&spec.cell, outer.node, false);
    CellRoot inner;
    function_make_at(&inner.cell, &spec.cell, &body.cell, 0, nullptr, nullptr, 0);
    NodeRoot cache;
    {
        TortureScope torture;
        cache.node = args_cache_build(&inner.cell);
    }
    SeriesBuffer* b = series_buffer(cache.node);
    const Cell* cells = reinterpret_cast<const Cell*>(b->head_ptr());
    std::vector<std::string> seen;
    for (uint32_t k = 0; k < b->length(); k++) {
        if (cell_type(&cells[k]) != T_REFINEMENT) continue;
        seen.push_back(symbol_text(cells[k].w2));
        EXPECT_EQ(cells[k].w1, outer.node) << seen.back();
    }
    EXPECT_EQ(seen, std::vector<std::string>(std::begin(names), std::end(names)));
}

} // namespace
