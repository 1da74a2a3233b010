// print and prin: what reaches the value hooks, the reuse of the print work
// block by nested prints, and exits while a block is reduced. Every test also
// runs with KEL_GC_TORTURE=1.
#include "tests/natives/natives_fixture.hpp"

namespace kel::testing {
namespace {

using PrintNatives = NativesTest;
using Calls = std::vector<Printed>;

TEST_F(PrintNatives, ValuesReachTheHooksAsText) {
    EXPECT_EQ(run("print [1 + 2 \"a\"]"), "unset");
    EXPECT_TRUE(print_last_newline);
    EXPECT_EQ(run("prin \"x\""), "unset");
    EXPECT_FALSE(print_last_newline);
    run("print 42 print next \"abc\" prin 'w print [] print \"\"");
    EXPECT_EQ(printed(), (Calls{{"3 a", true}, {"x", false}, {"42", true}, {"bc", true},
                                {"w", false}, {"", true}, {"", true}}));
    EXPECT_EQ(run("type? print 1"), "unset!");
}

TEST_F(PrintNatives, NestedPrintsKeepTheOuterValues) {
    run("print [1 2 print [3 + 4 5] 6] print [7 [8 9]]");
    ASSERT_EQ(printed().size(), 3u);
    EXPECT_EQ(printed()[0], (Printed{"7 5", true}));
    EXPECT_EQ(printed()[1], (Printed{"1 2  6", true}));
    EXPECT_EQ(printed()[2], (Printed{"7 8 9", true}));
}

TEST_F(PrintNatives, ExitsWhileReducingLeaveTheWorkBlockAsItWas) {
    // The inner print fails after its values were added; the outer print
    // then still sees only its own.
    EXPECT_EQ(run("print [1 try [print [2 3 1 / 0]] 4]"), "unset");
    ASSERT_EQ(printed().size(), 1u);
    EXPECT_EQ(printed()[0].text.substr(0, 2), "1 ");
    EXPECT_EQ(printed()[0].text.back(), '4');
    EXPECT_EQ(printed()[0].text.find('2'), std::string::npos);
    printed().clear();
    EXPECT_EQ(run("n: 0 loop 3 [n: n + 1 print [n break]] n"), "1");
    EXPECT_EQ(run_error("print [1 / 0]"), int(ErrorCategory::math) * 100 + ERR_ZERO_DIVIDE);
    EXPECT_EQ(run("f: func [] [print [1 return 2] 3] f"), "2");
    EXPECT_TRUE(printed().empty());
    run("print [5 6]");
    EXPECT_EQ(printed(), (Calls{{"5 6", true}}));
}

} // namespace
} // namespace kel::testing
