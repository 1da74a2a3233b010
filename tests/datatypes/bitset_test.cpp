#include "tests/natives/natives_fixture.hpp"
#include "datatypes/bitset.hpp"

using namespace kel;
using namespace kel::testing;

namespace {

using BitsetTest = NativesTest;

TEST_F(BitsetTest, BuildsAndMolds) {
    EXPECT_EQ(run("make bitset! \"a\""), "make bitset! #{00000000000000000000000040}");
    EXPECT_EQ(run("length? make bitset! \"a\""), "104");
    EXPECT_EQ(run("length? make bitset! 0"), "0");
    EXPECT_EQ(run("length? make bitset! 9"), "16");
    EXPECT_EQ(run("make bitset! [not \"a\"]"), "make bitset! [not #{00000000000000000000000040}]");
    EXPECT_EQ(run("make bitset! #{80}"), "make bitset! #{80}");
    EXPECT_EQ(run_error("to bitset! 8"), script(ERR_BAD_TO_ARG));
    EXPECT_EQ(run_error("make bitset! -1"), script(ERR_OUT_OF_RANGE));
    EXPECT_EQ(run_error("make bitset! [#\"z\" - #\"a\"]"), script(ERR_PAST_END));
    EXPECT_EQ(run_error("make bitset! [#\"a\" - 5]"), script(ERR_INVALID_ARG));
    EXPECT_EQ(run_error("make bitset! [#\"a\" -]"), script(ERR_PAST_END));
    EXPECT_EQ(run_error("make bitset! [1.2.3]"), script(ERR_BAD_MAKE_ARG));
}

TEST_F(BitsetTest, Membership) {
    EXPECT_EQ(run("pick make bitset! [not \"a\"] 1000"), "true");
    EXPECT_EQ(run("pick make bitset! [not \"a\"] #\"a\""), "false");
    EXPECT_EQ(run("b: make bitset! [#\"a\" - #\"z\"] pick b [#\"a\" - #\"z\"]"), "true");
    EXPECT_EQ(run("b: make bitset! [#\"a\" - #\"y\"] pick b [#\"a\" - #\"z\"]"), "false");
    EXPECT_EQ(run("b: make bitset! 8 poke b 3 true reduce [pick b 3 pick b 2]"), "[true false]");
    EXPECT_EQ(run("b: make bitset! [3] poke b 3 0 pick b 3"), "false");
    EXPECT_EQ(run("b: make bitset! [3] poke b 3 false pick b 3"), "false");
    EXPECT_EQ(run("b: make bitset! [not 3] clear b pick b 3"), "true");
    EXPECT_EQ(run("b: make bitset! [] append b \"xy\" find b \"yx\""), "true");
    EXPECT_EQ(run("find make bitset! [1] 2"), "none");
    EXPECT_EQ(run("b: make bitset! [5 6] remove/key b 5 reduce [pick b 5 pick b 6]"), "[false true]");
    EXPECT_EQ(run_error("remove make bitset! [1]"), script(ERR_MISSING_ARG));
}

TEST_F(BitsetTest, SetOperationsFollowTheFlags) {
    // Union of two negated sets keeps every code either one holds.
    EXPECT_EQ(run("u: or~ make bitset! [not \"a\"] make bitset! [not 1000] "
                  "reduce [pick u #\"a\" pick u 1000 pick u 5 pick u 5000]"),
              "[true true true true]");
    EXPECT_EQ(run("i: and~ make bitset! [not \"a\"] make bitset! [\"ab\"] reduce [pick i #\"a\" pick i #\"b\"]"),
              "[false true]");
    EXPECT_EQ(run("x: xor~ make bitset! [1] make bitset! [not 2] reduce [pick x 1 pick x 2 pick x 900]"),
              "[false false true]");
    EXPECT_EQ(run("c: complement make bitset! [1] reduce [pick c 1 pick c 2 pick c 9000]"),
              "[false true true]");
    // A range reaching past the stored bits still sets its stored codes.
    EXPECT_EQ(run("b: make bitset! [not 2] b/1: false append b [0 - 100] pick b 1"), "true");
}

TEST_F(BitsetTest, ComparisonOrdersBySizeFirst) {
    EXPECT_EQ(run("(make bitset! 8) < make bitset! 16"), "true");
    EXPECT_EQ(run("(make bitset! [1]) = make bitset! [1]"), "true");
    EXPECT_EQ(run("(make bitset! [1]) = make bitset! [2]"), "false");
}

} // namespace
