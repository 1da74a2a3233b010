// Set-up and driver shared by the differential fuzz targets of the codecs
// that have a native and a Kel implementation: the runtime with its library,
// and a comparison function written in Kel, called on each input, which
// answers none when both implementations agree and a description otherwise.
#pragma once
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/interpreter.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "core/word.hpp"
#include "library/routines.hpp"
#include "core/lexer.hpp"
#include "runtime/collector.hpp"
#include "fuzz/input_release.hpp"
#include "program/library_start.hpp"
#include "program/start.hpp"
#include "runtime/start.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

// Kel evaluated before each target's own source: fuzz-outcome gives the
// outcome of code as one text, the value molded or the raised error's type,
// id, arguments and where, so that two outcomes compare as texts.
inline const char* const PRELUDE = R"KEL(
fuzz-outcome: func [code [block!] /local result] [
    either error? set/any 'result try code [
        mold/all reduce ['raised result/type result/id :result/arg1 :result/arg2 :result/arg3 result/where]
    ] [
        mold/all :result
    ]
]
)KEL";

// Evaluates Kel source, which must not fail.
inline void evaluate(const char* source) {
    kel::CellRoot code;
    kel::lexer_transcode(&code.cell, reinterpret_cast<const uint8_t*>(source), uint32_t(std::strlen(source)),
                         kel::LexerOptions{}, nullptr);
    if (kel::eval_block(&code.cell, false) != kel::EXIT_CODE_NONE) std::abort();
    kel::stack_pop(1);
}

// Starts the runtime and the library once, evaluates the prelude and the Kel
// source and answers the function its word `name` then holds.
inline const kel::Cell* library_function(const char* source, const char* name) {
    static kel::CellRoot function;
    static bool ready = false;
    if (ready) return &function.cell;
    int marker = 0;
    kel::runtime_record.stack_base = &marker;
    kel::runtime_init();
    kel::startup_logging = false;
    kel::collector.enabled = true;
    kel::library_routines_define();
    kel::library_load();
    evaluate(PRELUDE);
    evaluate(source);
    kel::Cell word = kel::word_intern(name);
    function.cell = *kel::word_get(&word);
    ready = true;
    return &function.cell;
}

// Calls the comparison function on the bytes (read as OS text, so bytes that
// are not UTF-8 become characters too); any answer but none, and any error
// that escapes it, is a fault.
inline void compare(const kel::Cell* function, const uint8_t* data, size_t size) {
    InputRelease release;
    kel::StackState saved = kel::stack_save();
    try {
        kel::Cell* text = kel::string_load(data, uint32_t(size), kel::ENCODING_OS, nullptr);
        kel::Cell* result = kel::stack_push_new(kel::T_NONE);
        kel::function_apply(function, text, 1, result);
        if (kel::cell_type(result) != kel::T_NONE) {
            kel::Cell* shown = kel::stack_push_new(kel::T_NONE);
            kel::dispatch_mold(result, shown, false, false, false, 4000);
            int32_t count = -1;
            const uint8_t* utf8 = kel::to_utf8(shown, &count);
            std::fprintf(stderr, "the native and the Kel implementations differ: %.*s\n", int(count),
                         reinterpret_cast<const char*>(utf8));
            std::abort();
        }
    } catch (const kel::LanguageError& e) {
        std::fprintf(stderr, "unexpected error %d\n", e.code());
        std::abort();
    }
    kel::stack_restore(saved);
}

} // namespace fuzz
