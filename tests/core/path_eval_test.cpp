#include "datatypes/integer.hpp"
#include "tests/core/interp_fixture.hpp"

using namespace kel;
using namespace kel::testing;

namespace {

struct PathEvalTest : InterpTest {
    void SetUp() override {
        InterpTest::SetUp();
        run(blk({sw("b"), blk({w("x"), i(1), w("y"), i(2)})}));
    }
};

TEST_F(PathEvalTest, SetPathOnABlockChangesTheValueAfterTheKey) {
    EXPECT_EQ(cell_int(&(const Cell&)run(blk({spth({w("b"), w("x")}), i(5)}))), 5);
    EXPECT_EQ(cell_int(&(const Cell&)run(blk({pth({w("b"), w("x")})}))), 5);
    EXPECT_EQ(cell_int(&(const Cell&)run(blk({pth({w("b"), w("y")})}))), 2);
    EXPECT_EQ(run_error(blk({spth({w("b"), w("z")}), i(5)})), script(ERR_BAD_PATH_SET));
}

TEST_F(PathEvalTest, ElementsByIndexParenAndGetWord) {
    EXPECT_EQ(cell_type(&(const Cell&)run(blk({pth({w("b"), i(3)})}))), T_WORD);
    run(blk({sw("n"), i(2)}));
    EXPECT_EQ(cell_int(&(const Cell&)run(blk({pth({w("b"), gw("n")})}))), 1);
    EXPECT_EQ(cell_int(&(const Cell&)run(blk({pth({w("b"), par({i(1), w("+"), i(3)})})}))), 2);
}

TEST_F(PathEvalTest, Errors) {
    struct Case {
        const char* what;
        V code;
        int error;
    } cases[] = {
        {"empty path", blk({pth({})}), script(ERR_EMPTY_PATH)},
        {"integer head", blk({pth({i(1), w("x")})}), script(ERR_WORD_FIRST)},
        {"unset head", blk({pth({w("never-set"), w("x")})}), script(ERR_UNSET_PATH)},
        {"unset element", blk({pth({w("b"), par({})})}), script(ERR_INVALID_PATH)},
        {"set-path on a function", blk({spth({w("append"), w("only")}), i(1)}),
         script(ERR_INVALID_PATH_SET)},
        {"step into a type without path selection", blk({sw("k"), i(3), pth({w("k"), w("x")})}),
         script(ERR_BAD_PATH_TYPE)},
    };
    for (const Case& c : cases) EXPECT_EQ(run_error(c.code), c.error) << c.what;
}

TEST_F(PathEvalTest, FunctionAtTheHeadTakesTheRestAsRefinements) {
    // The argument is fetched from the code after the path.
    Cell r = run(blk({pth({w("append"), w("only")}), w("b"), blk({i(9)}), w("b")}));
    ASSERT_EQ(block_length(&r), 5u);
    EXPECT_EQ(cell_type(&block_cells(&r)[4]), T_BLOCK);
}

TEST_F(PathEvalTest, ForNatives) {
    CellRoot path;
    build(pth({w("b"), w("y")}), path);
    Cell* args = data_stack.args;
    ASSERT_EQ(path_eval_for_native(&path.cell, false, false), EXIT_CODE_NONE);
    EXPECT_EQ(cell_int(args), 2);
    integer_make_at(args, 7);
    ASSERT_EQ(path_eval_for_native(&path.cell, true, false), EXIT_CODE_NONE);
    EXPECT_EQ(cell_int(&(const Cell&)run(blk({pth({w("b"), w("y")})}))), 7);
}

} // namespace
