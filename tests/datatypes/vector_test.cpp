#include "tests/natives/natives_fixture.hpp"
#include "datatypes/vector.hpp"

using namespace kel;
using namespace kel::testing;

namespace {

using VectorTest = NativesTest;

TEST_F(VectorTest, MakeAndMold) {
    EXPECT_EQ(run("make vector! [integer! 8 [300 200]]"), "make vector! [integer! 8 [44 -56]]");
    EXPECT_EQ(run("make vector! [integer! 16 5 [1 2]]"), "make vector! [integer! 16 [1 2 0 0 0]]");
    EXPECT_EQ(run("make vector! [1.5 2.5]"), "make vector! [1.5 2.5]");
    EXPECT_EQ(run("make vector! 3"), "make vector! [0 0 0]");
    EXPECT_EQ(run("make vector! []"), "make vector! [integer! 32 []]");
    EXPECT_EQ(run("make vector! [#\"a\" #\"b\"]"), "make vector! [#\"a\" #\"b\"]");
    EXPECT_EQ(run("make vector! [percent! [50%]]"), "make vector! [50%]");
    EXPECT_EQ(run_error("make vector! [integer!]"), script(ERR_BAD_MAKE_ARG));
    EXPECT_EQ(run_error("make vector! [integer! 12 [1]]"), script(ERR_BAD_MAKE_ARG));
    EXPECT_EQ(run_error("make vector! [1 2.0]"), script(ERR_INVALID_ARG));
    EXPECT_EQ(run_error("make vector! [integer! 8 x]"), script(ERR_INVALID_SPEC_FIELD));
}

TEST_F(VectorTest, Arithmetic) {
    EXPECT_EQ(run("v: make vector! [1 2 3] same? v add v 0"), "true");
    EXPECT_EQ(run("v: make vector! [1 2 3] add v 5 v"), "make vector! [6 7 8]");
    EXPECT_EQ(run("add make vector! [1 2 3] make vector! [10 20]"), "make vector! [11 22]");
    EXPECT_EQ(run("add make vector! [2147483647] 1"), "make vector! [-2147483648]");
    EXPECT_EQ(run("multiply make vector! [1.5 2.0] 2"), "make vector! [3.0 4.0]");
    EXPECT_EQ(run_error("divide make vector! [1] 0"), int(ErrorCategory::math) * 100 + ERR_ZERO_DIVIDE);
    EXPECT_EQ(run_error("add make vector! [1] make vector! [1.0]"), script(ERR_NOT_SAME_TYPE));
}

TEST_F(VectorTest, StoresByItemTypeNeverPastTheItem) {
    // A float into 8-bit items is truncated into one byte; its neighbour stays.
    EXPECT_EQ(run("v: make vector! [integer! 8 [1 2]] poke v 1 3.9 v"), "make vector! [integer! 8 [3 2]]");
    EXPECT_EQ(run("v: make vector! [1.5 2.5] poke v 1 7 v"), "make vector! [7.0 2.5]");
    EXPECT_EQ(run("v: make vector! [integer! 16 [1]] append v [2 3] v"), "make vector! [integer! 16 [1 2 3]]");
    EXPECT_EQ(run("v: make vector! [1 2 3] change v 9 v"), "make vector! [9 2 3]");
    EXPECT_EQ(run_error("append make vector! [1] \"x\""), script(ERR_INVALID_TYPE));
}

TEST_F(VectorTest, SortAndCompareSigned) {
    EXPECT_EQ(run("sort make vector! [3 -1 2]"), "make vector! [-1 2 3]");
    EXPECT_EQ(run("sort make vector! [integer! 8 [100 -100 0]]"), "make vector! [integer! 8 [-100 0 100]]");
    EXPECT_EQ(run("(make vector! [-1]) < make vector! [1]"), "true");
    EXPECT_EQ(run("(make vector! [1 2]) = make vector! [1 2]"), "true");
}

} // namespace
