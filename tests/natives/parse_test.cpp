// parse called without the argument check (check flag 0) on values its spec
// excludes: the native answers expect-arg instead of walking them. Also runs
// with KEL_GC_TORTURE=1.
#include "tests/natives/natives_fixture.hpp"
#include "natives/parse.hpp"

namespace kel::testing {
namespace {

struct ParseUnchecked : NativesTest {
    void SetUp() override {
        NativesTest::SetUp();
        parse_init();
    }
    // Calls parse on the values the text loads to, with check off; the error
    // code raised (0 when none).
    static int call(const std::string& values, const int32_t* refinements) {
        StackState saved = stack_save();
        Cell* block = load(values);
        Cell word = word_intern("parse");
        stack_mark_native_interp(&word);
        for (uint32_t i = 0; i < series_buffer(block->w2)->length(); i++)
            stack_push(reinterpret_cast<const Cell*>(series_buffer(block->w2)->head_ptr()) + i);
        int code = 0;
        try {
            native_parse(false, refinements);
        } catch (const LanguageError& e) {
            code = e.code();
        }
        stack_restore(saved);
        return code;
    }
};

TEST_F(ParseUnchecked, ValuesOutsideTheSpecRaiseExpectArg) {
    const int32_t plain[3] = {-1, -1, -1};
    const int32_t traced[3] = {-1, -1, 2};
    EXPECT_EQ(call("1 [skip]", plain), script(ERR_EXPECT_ARG));
    EXPECT_EQ(call("\"a\" \"a\"", plain), script(ERR_EXPECT_ARG));
    EXPECT_EQ(call("\"a\" [skip] 3", traced), script(ERR_EXPECT_ARG));
    EXPECT_EQ(call("\"a\" [skip]", plain), 0);
}

} // namespace
} // namespace kel::testing
