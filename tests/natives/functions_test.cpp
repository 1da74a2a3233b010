// Calls of the natives of this group from outside the interpreter, which
// check their arguments; their behaviour is tested by tests/natives/*.kel.
// Every test also runs with KEL_GC_TORTURE=1.
#include "natives/functions.hpp"
#include "natives/query.hpp"
#include "tests/natives/natives_fixture.hpp"

namespace kel::testing {
namespace {

using CheckedNativeCalls = NativesTest;

// A call from outside the interpreter (check flag set) tests each argument
// against the native's spec: the values of the text are the arguments.
int checked_call_error(NativeFn native, const std::string& arguments,
                       std::vector<int32_t> refinements = {}) {
    StackState saved = stack_save();
    int code = 0;
    try {
        Cell* values = NativesTest::load(arguments);
        Cell* word = stack_push_new(T_NONE);
        *word = word_intern("checked");
        stack_mark_native(word);
        uint32_t n = uint32_t(block_ks_length_q(values));
        for (uint32_t i = 0; i < n; i++) stack_push(block_ks_abs_at(values, values->w1 + i));
        refinements.push_back(-1);
        native(true, refinements.data());
    } catch (const LanguageError& e) {
        code = e.code();
    }
    stack_restore(saved);
    return code;
}

TEST_F(CheckedNativeCalls, CallsFromOutsideTheInterpreterCheckTheirArguments) {
    EXPECT_EQ(checked_call_error(native_func, "1 []"), script(ERR_EXPECT_ARG));
    EXPECT_EQ(checked_call_error(native_does, "\"x\""), script(ERR_EXPECT_ARG));
    EXPECT_EQ(checked_call_error(native_foreach, "x 5 []"), script(ERR_EXPECT_ARG));
    EXPECT_EQ(checked_call_error(native_forall, "x 5"), script(ERR_EXPECT_ARG));
    EXPECT_EQ(checked_call_error(native_unset, "5"), script(ERR_EXPECT_ARG));
    EXPECT_EQ(checked_call_error(native_new_line_q, "\"x\""), script(ERR_EXPECT_ARG));
    EXPECT_EQ(checked_call_error(native_new_line, "[1] true \"x\"", {-1, 2}), script(ERR_EXPECT_ARG));
    EXPECT_EQ(checked_call_error(native_func, "[a] [a]"), 0);
}

} // namespace
} // namespace kel::testing
