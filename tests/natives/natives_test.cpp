// The natives table, the words made from the native and action specs, the
// argument check of callers outside the interpreter and try-result. The
// natives' behaviour is tested by tests/natives/*.kel. Every test also runs
// with KEL_GC_TORTURE=1.
#include "tests/natives/natives_fixture.hpp"
#include "core/error_value.hpp"
#include "core/function.hpp"
#include <sstream>
#include <string>

namespace kel::testing {
namespace {

using NativesTable = NativesTest;

TEST_F(NativesTable, EveryIndexHasAnEntryAndTheRestStayEmpty) {
    for (uint32_t i = 1; i <= NATIVES_DEFINED; i++) EXPECT_NE(native_entry(i), nullptr) << i;
    for (uint32_t i = NATIVES_DEFINED + 1; i <= NATIVES_TABLE_SLOTS; i++)
        EXPECT_EQ(native_entry(i), nullptr) << i;
    EXPECT_EQ(run_error("make native! [[] 110] x: make native! [[] 110] x"),
              int(ErrorCategory::internal) * 100 + ERR_NOT_DONE);
}

TEST_F(NativesTable, WordsHoldTheirIndexAndSpec) {
    struct Case {
        const char* name;
        uint8_t type;
        uint32_t index;
    };
    const Case cases[] = {
        {"if", T_NATIVE, 1},      {"case", T_NATIVE, 19},   {"do", T_NATIVE, 20},
        {"try", T_NATIVE, 70},    {"catch", T_NATIVE, 82},  {"apply", T_NATIVE, 107},
        {"make", T_ACTION, 1},    {"append", T_ACTION, 25}, {"write", T_ACTION, 62},
    };
    for (const Case& c : cases) {
        Cell word = word_intern(c.name);
        const Cell* value = word_get(&word);
        EXPECT_EQ(cell_type(value), c.type) << c.name;
        EXPECT_EQ(function_index(value), c.index) << c.name;
    }
    EXPECT_EQ(run("type? :+"), "op!");
    EXPECT_EQ(run("1 + 2 * 3"), "9");
}

// Native indexes are carried by native! values, boot and serialised data:
// every native's word stays at its index, whichever module's table holds it.
TEST_F(NativesTable, EveryNativeKeepsItsIndex) {
    const char* const by_index =
        "if unless either any all while until loop repeat forever foreach forall remove-each "
        "func function does has switch case do get set print prin equal? not-equal? "
        "strict-equal? lesser? greater? lesser-or-equal? greater-or-equal? same? not type? "
        "reduce compose stats bind in parse union intersect unique difference exclude "
        "complement? dehex enhex negative? positive? max min shift to-hex sine cosine tangent "
        "arcsine arccosine arctangent arctangent2 NaN? log-2 log-10 log-e exp square-root "
        "construct value? try uppercase lowercase as-pair as-point2D as-point3D as-money break "
        "continue exit return throw catch extend debase to-local-file wait checksum unset "
        "new-line new-line? enbase context? set-env get-env list-env now sign? as call zero? "
        "size? browse compress decompress recycle transcode apply";
    std::istringstream names(by_index);
    std::string name;
    uint32_t index = 0;
    while (names >> name) {
        index++;
        Cell word = word_intern(name.c_str());
        const Cell* value = word_get(&word);
        ASSERT_EQ(cell_type(value), T_NATIVE) << name;
        EXPECT_EQ(function_index(value), index) << name;
    }
    EXPECT_EQ(index, NATIVES_DEFINED);
}

// A caller outside the interpreter (check set) gets expect-arg for a value
// its spec does not allow, naming the native and the argument.
TEST_F(NativesTable, CheckFlagTestsArgumentTypes) {
    Cell word = word_intern("loop");
    stack_mark_native_interp(&word);
    Cell* count = stack_push_new(T_STRING);
    (void)count;
    Cell* body = stack_push_new(T_NONE);
    block_make_at(body, 1);
    const int32_t refinements[1] = {-1};
    int code = 0;
    StackState saved = stack_save();
    try {
        native_loop(true, refinements);
    } catch (const LanguageError& e) {
        code = e.code();
        EXPECT_EQ(symbol_resolve(error_in_flight.args[0].w2), symbol_resolve(word.w2));
        EXPECT_EQ(error_in_flight.args[1].w1, uint32_t(T_STRING));
    }
    stack_restore(saved);
    stack_unwind();
    EXPECT_EQ(code, script(ERR_EXPECT_ARG));
}

// try-result: an error standing for a throw with no catch goes on; any other
// error becomes the frame's result.
TEST_F(NativesTable, TryResultRaisesOnlyUncaughtThrows) {
    stack_mark_native_interp(nullptr);
    stack_push_new(T_NONE);
    error_push(ErrorCategory::math, ERR_ZERO_DIVIDE);
    try_result(false);
    EXPECT_EQ(cell_type(data_stack.args), T_ERROR);
    EXPECT_EQ(data_stack.top, data_stack.args + 1);
    error_push(ErrorCategory::throw_, ERR_THROW);
    StackState saved = stack_save();
    int code = 0;
    try {
        try_result(false);
    } catch (const LanguageError& e) {
        code = e.code();
    }
    stack_restore(saved);
    stack_unwind();
    EXPECT_EQ(code, throw_error(ERR_THROW));
}

} // namespace
} // namespace kel::testing
