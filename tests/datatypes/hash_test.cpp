#include "tests/natives/natives_fixture.hpp"
#include "datatypes/hash.hpp"

using namespace kel;
using namespace kel::testing;

namespace {

using HashTest = NativesTest;

TEST_F(HashTest, MakeMoldAndIndependence) {
    EXPECT_EQ(run("make hash! [1 2]"), "make hash! [1 2]");
    EXPECT_EQ(run("length? make hash! 0"), "0");
    EXPECT_EQ(run("b: [1 2] h: make hash! b append b 3 length? h"), "2");
}

TEST_F(HashTest, KeepsFindingValuesThroughChanges) {
    EXPECT_EQ(run("h: make hash! [a 1 b 2] insert h [z 0] select h 'b"), "2");
    EXPECT_EQ(run("h: make hash! [a 1 b 2] remove h select h 'b"), "2");
    EXPECT_EQ(run("h: make hash! [a 1 b 2] remove h find h 'a"), "none");
    EXPECT_EQ(run("h: make hash! [a 1 b 2] poke h 3 'c reduce [find h 'b select h 'c]"), "[none 2]");
    EXPECT_EQ(run("h: make hash! [c 3 a 1 b 2] sort h index? find h 'b"), "5");
    EXPECT_EQ(run("h: copy make hash! [a 1 b 2] select h 'b"), "2");
    EXPECT_EQ(run("h: copy/part make hash! [a 1 b 2] 3 select h 'b"), "none");
    EXPECT_EQ(run("h: copy/part make hash! [a 1 b 2] 3 find h 'b"), "make hash! [b]");
}

} // namespace
