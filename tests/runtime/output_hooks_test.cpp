#include "runtime/output_hooks.hpp"
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kel;

// Each hook appends its own tag to the call log.
static std::vector<std::string> calls;

template <int N> static void value_hook(const Cell* value, bool newline) {
    calls.push_back("v" + std::to_string(N) + ":" + std::to_string(cell_int(value)) + (newline ? "n" : ""));
}
template <int N> static void text_hook(const char* text, size_t len, bool newline) {
    calls.push_back("t" + std::to_string(N) + ":" + std::string(text, len) + (newline ? "n" : ""));
}

struct OutputHooks : ::testing::Test {
    void SetUp() override { output_hooks_init(); calls.clear(); }
};

TEST_F(OutputHooks, NothingRegisteredCallsNothing) {
    Cell c;
    cell_init(&c, T_INTEGER);
    value_hooks_notify(&c, true);
    text_hooks_notify("x", 1, false);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(value_hooks_capacity(), 5u);
    EXPECT_EQ(text_hooks_capacity(), 5u);
}

TEST_F(OutputHooks, CalledInRegistrationOrderWithTheirArguments) {
    output_hooks_add(value_hook<1>, text_hook<1>);
    output_hooks_add(nullptr, text_hook<2>);   // value list unchanged
    output_hooks_add(value_hook<2>, nullptr);
    Cell c;
    cell_init(&c, T_INTEGER);
    c.w2 = 42;
    value_hooks_notify(&c, true);
    text_hooks_notify("abc", 2, false);
    value_hooks_notify(&c, false);
    EXPECT_EQ(calls, (std::vector<std::string>{"v1:42n", "v2:42n", "t1:ab", "t2:ab", "v1:42", "v2:42"}));
}

TEST_F(OutputHooks, SixthHookGrowsItsListByFiveAndKeepsOrder) {
    output_hooks_add(nullptr, text_hook<0>);
    output_hooks_add(nullptr, text_hook<1>);
    output_hooks_add(nullptr, text_hook<2>);
    output_hooks_add(nullptr, text_hook<3>);
    output_hooks_add(nullptr, text_hook<4>);
    EXPECT_EQ(text_hooks_capacity(), 5u);
    output_hooks_add(nullptr, text_hook<5>);
    EXPECT_EQ(text_hooks_capacity(), 10u);
    EXPECT_EQ(value_hooks_capacity(), 5u);
    text_hooks_notify("", 0, false);
    EXPECT_EQ(calls, (std::vector<std::string>{"t0:", "t1:", "t2:", "t3:", "t4:", "t5:"}));
}

// A hook that registers another hook while the list is being called: the list
// may move, and the walk must read it afresh.
static void registering_hook(const char*, size_t, bool) {
    calls.push_back("r");
    if (calls.size() < 20) output_hooks_add(nullptr, text_hook<9>);
}

TEST_F(OutputHooks, HookAddedDuringNotifyIsSafe) {
    for (int i = 0; i < 5; i++) output_hooks_add(nullptr, registering_hook);
    text_hooks_notify("z", 1, false);   // the sixth add grows the list mid-walk
    EXPECT_EQ(calls.front(), "r");
    EXPECT_GE(text_hooks_capacity(), 10u);
}
