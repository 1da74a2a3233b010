// Fuzz target of the JSON decoder, differential: any byte string (read as OS
// text, so bytes that are not UTF-8 become characters too) is decoded by the
// native decoder and by the decoder written in Kel, which must give the same
// value or error; a decoded value is then encoded by both encoders, compact,
// pretty and ASCII, which must give the same text or error. A mismatch, a
// crash or a sanitizer report is a fault.
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
#include "program/library_start.hpp"
#include "program/start.hpp"
#include "runtime/start.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Answers none when both codecs agree on the text, else a description.
const char* const COMPARE = R"KEL(
fuzz-outcome: func [code [block!] /local result] [
    either error? set/any 'result try code [
        mold/all reduce ['raised result/type result/id :result/arg1 :result/arg2 :result/arg3 result/where]
    ] [
        mold/all :result
    ]
]
fuzz-native: :load-json
fuzz-reference: :load-json-kel
fuzz-encode: :to-json
fuzz-encode-reference: :to-json-kel
fuzz-compare: func [text [string!] /local native reference value] [
    native: fuzz-outcome [fuzz-native text]
    reference: fuzz-outcome [fuzz-reference text]
    if native <> reference [return reduce ["decoding" native reference]]
    if error? set/any 'value try [fuzz-native text] [return none]
    foreach [native reference] reduce [
        fuzz-outcome [fuzz-encode :value]
        fuzz-outcome [fuzz-encode-reference :value]
        fuzz-outcome [fuzz-encode/ascii :value]
        fuzz-outcome [fuzz-encode-reference/ascii :value]
        fuzz-outcome [fuzz-encode/pretty :value "  "]
        fuzz-outcome [fuzz-encode-reference/pretty :value "  "]
    ] [
        if native <> reference [return reduce ["encoding" native reference]]
    ]
    none
]
)KEL";

kel::Cell* compare_fn = nullptr;

void runtime_once() {
    static bool ready = false;
    if (ready) return;
    int marker = 0;
    kel::runtime_record.stack_base = &marker;
    kel::runtime_init();
    kel::startup_logging = false;
    kel::collector.enabled = true;
    kel::library_routines_define();
    kel::library_load();
    static kel::CellRoot code;
    kel::lexer_transcode(&code.cell, reinterpret_cast<const uint8_t*>(COMPARE), uint32_t(std::strlen(COMPARE)),
                         kel::LexerOptions{}, nullptr);
    if (kel::eval_block(&code.cell, false) != kel::EXIT_CODE_NONE) std::abort();
    kel::stack_pop(1);
    static kel::CellRoot fn;
    kel::Cell word = kel::word_intern("fuzz-compare");
    fn.cell = *kel::word_get(&word);
    compare_fn = &fn.cell;
    ready = true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runtime_once();
    kel::StackState saved = kel::stack_save();
    try {
        kel::Cell* text = kel::string_load(data, uint32_t(size), kel::ENCODING_OS, nullptr);
        kel::Cell* result = kel::stack_push_new(kel::T_NONE);
        kel::function_apply(compare_fn, text, 1, result);
        if (kel::cell_type(result) != kel::T_NONE) {
            kel::Cell* shown = kel::stack_push_new(kel::T_NONE);
            kel::dispatch_mold(result, shown, false, false, false, 4000);
            int32_t count = -1;
            const uint8_t* utf8 = kel::to_utf8(shown, &count);
            std::fprintf(stderr, "native and reference JSON codecs differ: %.*s\n", int(count),
                         reinterpret_cast<const char*>(utf8));
            std::abort();
        }
    } catch (const kel::LanguageError& e) {
        std::fprintf(stderr, "unexpected error %d\n", e.code());
        std::abort();
    }
    kel::stack_restore(saved);
    return 0;
}
