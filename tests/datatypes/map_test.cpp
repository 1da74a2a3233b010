#include "tests/natives/natives_fixture.hpp"
#include "datatypes/map.hpp"

using namespace kel;
using namespace kel::testing;

namespace {

using MapTest = NativesTest;

TEST_F(MapTest, DuplicateKeysKeepFirstPositionAndLastValue) {
    EXPECT_EQ(run("make map! [a 1 b 2 a 3]"), "#[\n    a: 3\n    b: 2\n]");
    EXPECT_EQ(run("length? make map! [a 1 b 2 a 3]"), "2");
    // Building is case-sensitive: a and A stay two keys.
    EXPECT_EQ(run("length? make map! [a 1 A 2]"), "2");
    EXPECT_EQ(run("make map! 0"), "#[]");
    EXPECT_EQ(run("make map! []"), "#[]");
}

TEST_F(MapTest, RemovedKeyIsRevivedInPlaceCaseInsensitively) {
    EXPECT_EQ(run("m: make map! [a 1 b 2] remove/key m 'a m/A: 7 mold/flat m"),
              "\"#[a: 7 b: 2]\"");
    EXPECT_EQ(run("m: make map! [a 1 b 2] remove/key m 'a length? m"), "1");
    EXPECT_EQ(run("m: make map! [a 1 b 2] remove/key m 'a select m 'a"), "none");
    EXPECT_EQ(run("m: make map! [a 1 b 2] remove/key m 'b mold/flat m"), "\"#[a: 1]\"");
    EXPECT_EQ(run("m: make map! [a 1] put m 'c 3 m/c"), "3");
}

TEST_F(MapTest, LookupsAndReflection) {
    EXPECT_EQ(run("m: make map! [a 1 \"k\" 2] select m \"K\""), "2");
    EXPECT_EQ(run("m: make map! [a 1 \"k\" 2] select/case m \"K\""), "none");
    EXPECT_EQ(run("m: make map! [a: 1] find m 'a"), "a");
    EXPECT_EQ(run("m: make map! [a 1] m/b: none length? m"), "2");
    EXPECT_EQ(run("m: make map! [1 x 1.0 y] length? m"), "2");
    EXPECT_EQ(run("reflect make map! [a 1 b 2] 'words"), "[a b]");
    EXPECT_EQ(run("reflect make map! [a 1 b 2] 'values"), "[1 2]");
    EXPECT_EQ(run("reflect make map! [a 1 b 2] 'body"), "[\n    a: 1\n    b: 2\n]");
    // A series key is copied: changing the original does not reach the map.
    EXPECT_EQ(run("k: \"x\" m: make map! reduce [k 1] append k \"y\" select m \"x\""), "1");
}

TEST_F(MapTest, EqualityIgnoresOrderAndOrderingIsAnError) {
    EXPECT_EQ(run("(make map! [a 1 b 2]) = make map! [b 2 a 1]"), "true");
    EXPECT_EQ(run("(make map! [a 1 b 2]) = make map! [b 2 a 1 c 3]"), "false");
    EXPECT_EQ(run("(make map! [a 1]) = make map! [a 2]"), "false");
    EXPECT_EQ(run_error("(make map! [a 1]) < make map! [a 2]"), script(ERR_INVALID_COMPARE));
    EXPECT_EQ(run_error("make map! [a]"), script(ERR_INVALID_ARG));
    EXPECT_EQ(run_error("make map! [[x] 1]"), script(ERR_INVALID_PATH));
    EXPECT_EQ(run_error("to map! 3"), script(ERR_BAD_TO_ARG));
    EXPECT_EQ(run_error("make map! -1"), script(ERR_OUT_OF_RANGE));
    EXPECT_EQ(run_error("remove make map! [a 1]"), script(ERR_MISSING_ARG));
}

TEST_F(MapTest, CopyAndClear) {
    EXPECT_EQ(run("m: make map! [a 1 b 2] c: copy m c/a: 5 reduce [m/a c/a length? c]"), "[1 5 2]");
    EXPECT_EQ(run("m: make map! [a 1 b 2] clear m reduce [length? m mold m]"), "[0 \"#[]\"]");
    EXPECT_EQ(run("m: make map! [a [1]] c: copy/deep m append c/a 2 m/a"), "[1]");
}

} // namespace
