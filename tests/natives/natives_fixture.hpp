// A runtime with every native and its word defined, evaluating Kel source
// text: the value of the last expression molded, the error code a text
// raises, and what print and prin handed to the output hooks.
#pragma once
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/interpreter.hpp"
#include "core/lexer.hpp"
#include "io/natives_io.hpp"
#include "natives/natives.hpp"
#include "natives/print.hpp"
#include "runtime/output_hooks.hpp"
#include "tests/core/words_fixture.hpp"

#include <string>
#include <vector>

namespace kel::testing {

// One value hook call: the text and its line-end flag.
struct Printed {
    std::string text;
    bool newline;
    bool operator==(const Printed& other) const {
        return text == other.text && newline == other.newline;
    }
};

inline std::vector<Printed>& printed() {
    static std::vector<Printed> calls;
    return calls;
}

inline void printed_capture(const Cell* value, bool newline) {
    // The hook sees the string from its position.
    SeriesBuffer* b = series_buffer(value->w2);
    std::string text;
    for (uint32_t i = value->w1; i < b->length(); i++) {
        uint8_t bytes[4];
        uint32_t n = utf8_encode_char(string_get_char(b->head_ptr() + i * b->unit(), b->unit()), bytes);
        text.append(reinterpret_cast<const char*>(bytes), n);
    }
    printed().push_back({text, newline});
}

struct NativesTest : RuntimeTest {
    void SetUp() override {
        TortureSpared spared;
        RuntimeTest::SetUp();
        output_hooks_init();
        output_hooks_add(printed_capture, nullptr);
        printed().clear();
        actions_table_init();
        io_natives_register();
        natives_init();
        lexer_init();
        interpreter_init();
        natives_words_define();
    }

    // The text loaded into a block pushed on the data stack.
    static Cell* load(const std::string& text) {
        Cell* dest = stack_push_new(T_NONE);
        lexer_transcode(dest, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()),
                        LexerOptions{}, nullptr);
        return dest;
    }

    // Evaluates the text; the molded value of its last expression. The data
    // stack is empty again afterwards.
    static std::string run(const std::string& text) {
        StackState saved = stack_save();
        Cell* code = load(text);
        ExitCode x = eval_block(code, false);
        EXPECT_EQ(x, EXIT_CODE_NONE) << text;
        std::string molded = mold_of(*stack_top());
        stack_restore(saved);
        return molded;
    }

    // The code of the error the text raises (0 when none).
    static int run_error(const std::string& text) {
        StackState saved = stack_save();
        int code = 0;
        try {
            Cell* block = load(text);
            eval_block(block, false);
        } catch (const LanguageError& e) {
            code = e.code();
        }
        stack_restore(saved);
        return code;
    }

    static int script(uint16_t id) { return int(ErrorCategory::script) * 100 + id; }
    static int throw_error(uint16_t id) { return int(ErrorCategory::throw_) * 100 + id; }
};

} // namespace kel::testing
