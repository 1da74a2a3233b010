// Values a native's spec excludes reach it only from callers that skip the
// argument check (check flag 0 with unchecked values). The number, sign and
// set natives answer them with expect-arg naming the native, the value's
// datatype and the argument; zero? answers false and size? none. Every test
// also runs with KEL_GC_TORTURE=1.
#include "tests/natives/natives_fixture.hpp"
#include "core/error_value.hpp"
#include "natives/coerce.hpp"
#include "natives/maths.hpp"

namespace kel::testing {
namespace {

struct UncheckedArgs : NativesTest {
    // Calls the native in a frame labelled with its word, on the values the
    // text loads to (in order), with check off. The error code raised (0 when
    // none); *result receives ARGS[0] afterwards.
    static int call(NativeFn native, const char* name, const std::string& values,
                    const int32_t* refinements, Cell* result = nullptr, bool check = false) {
        StackState saved = stack_save();
        Cell* block = load(values);
        Cell word = word_intern(name);
        stack_mark_native_interp(&word);
        for (uint32_t i = 0; i < series_buffer(block->w2)->length(); i++)
            stack_push(reinterpret_cast<const Cell*>(series_buffer(block->w2)->head_ptr()) + i);
        int code = 0;
        try {
            native(check, refinements);
            if (result) *result = *data_stack.args;
        } catch (const LanguageError& e) {
            code = e.code();
            if (code == script(ERR_EXPECT_ARG)) {
                EXPECT_EQ(symbol_resolve(error_in_flight.args[0].w2), symbol_resolve(word.w2)) << name;
                if (result) *result = error_in_flight.args[1];
            }
        }
        stack_restore(saved);
        return code;
    }
};

TEST_F(UncheckedArgs, NumberNativesRaiseExpectArgNamingTheValuesType) {
    const int32_t none[2] = {-1, -1};
    struct Case {
        NativeFn native;
        const char* name;
        const char* values;
        uint8_t datatype;
    };
    const Case cases[] = {
        {native_sine, "sine", "\"a\"", T_STRING},
        {native_arctangent2, "arctangent2", "1 [2]", T_BLOCK},
        {native_square_root, "square-root", "1x2", T_PAIR},
        {native_negative_q, "negative?", "#\"a\"", T_CHAR},
        {native_sign_q, "sign?", "1x2", T_PAIR},
        {native_union, "union", "#\"a\" #\"b\"", T_CHAR},
        {native_unique, "unique", "1.2.3", T_TUPLE},
        // dates have only a difference
        {native_union, "union", "2020-01-01 2020-01-02", T_DATE},
        {native_complement_q, "complement?", "\"a\"", T_STRING},
    };
    for (const Case& c : cases) {
        Cell datatype;
        EXPECT_EQ(call(c.native, c.name, c.values, none, &datatype), script(ERR_EXPECT_ARG)) << c.name;
        EXPECT_EQ(cell_type(&datatype), T_DATATYPE) << c.name;
        EXPECT_EQ(datatype.w1, uint32_t(c.datatype)) << c.name;
    }
}

TEST_F(UncheckedArgs, ZeroAndSizeAnswerWithoutAnError) {
    const int32_t none[1] = {-1};
    Cell result;
    EXPECT_EQ(call(native_zero_q, "zero?", "\"\"", none, &result), 0);
    EXPECT_EQ(cell_type(&result), T_LOGIC);
    EXPECT_EQ(result.w1, 0u);
    // size? makes no type test, even with the check flag
    EXPECT_EQ(call(native_size_q, "size?", "\"/tmp\"", none, &result, true), 0);
    EXPECT_EQ(cell_type(&result), T_NONE);
}

} // namespace
} // namespace kel::testing
