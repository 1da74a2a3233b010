// Fuzz target of the lexer: any byte string is scanned, once building values
// and once as a prescan; syntax errors are expected, anything else (a crash,
// a sanitizer report, a leak, an error of another category) is a fault.
#include "core/error.hpp"
#include "core/stack.hpp"
#include "core/lexer.hpp"
#include "runtime/collector.hpp"
#include "fuzz/input_release.hpp"
#include "program/start.hpp"
#include "runtime/start.hpp"

#include <cstdint>
#include <cstdlib>

namespace {

void runtime_once() {
    static bool ready = false;
    if (ready) return;
    int marker = 0;
    kel::runtime_record.stack_base = &marker;
    kel::runtime_init();
    kel::startup_logging = false;  // words loaded from here on are not start-up words
    kel::collector.enabled = true;
    ready = true;
}

void scan(const uint8_t* data, size_t size, const kel::LexerOptions& options) {
    kel::StackState saved = kel::stack_save();
    try {
        kel::Cell* dest = kel::stack_push_new(kel::T_NONE);
        int32_t consumed = 0;
        kel::lexer_transcode(dest, data, uint32_t(size), options, &consumed);
        if (consumed < 0 || size_t(consumed) > size) std::abort();
    } catch (const kel::LanguageError& e) {
        // Escaped bytes of a URL or file that do not decode as UTF-8 are an
        // access error by design; anything else must be a syntax error.
        bool bad_escape = e.category == kel::ErrorCategory::access && e.id == kel::ERR_INVALID_UTF8;
        if (e.category != kel::ErrorCategory::syntax && !bad_escape) std::abort();
    }
    kel::stack_restore(saved);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runtime_once();
    fuzz::InputRelease release;
    kel::LexerOptions load;
    scan(data, size, load);
    kel::LexerOptions prescan;
    prescan.scan = false;
    prescan.load = false;
    scan(data, size, prescan);
    kel::LexerOptions one;
    one.one = true;
    scan(data, size, one);
    return 0;
}
