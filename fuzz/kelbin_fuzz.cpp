// Fuzz target of the Kelbin decoder in codec mode: any byte string is decoded
// behind a valid prefix of each variant and as it stands. Language errors are
// expected; anything else (a crash, a sanitizer report, a hang) is a fault.
// Decoded values are molded, so that what the decoder builds is also walked.
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/stack.hpp"
#include "io/kelbin/decoder.hpp"
#include "runtime/collector.hpp"
#include "fuzz/input_release.hpp"
#include "program/start.hpp"
#include "runtime/start.hpp"

#include <cstdint>
#include <vector>

namespace {

void runtime_once() {
    static bool ready = false;
    if (ready) return;
    int marker = 0;
    kel::runtime_record.stack_base = &marker;
    kel::runtime_init();
    kel::startup_logging = false;
    kel::collector.enabled = true;
    ready = true;
}

void decode(const std::vector<uint8_t>& bytes) {
    kel::StackState saved = kel::stack_save();
    try {
        kel::Cell* block = kel::block_push_only(1);
        kel::kelbin_decode(bytes.data(), block, true, int64_t(bytes.size()));
        kel::Cell* text = kel::stack_push_new(kel::T_NONE);
        kel::dispatch_mold(block, text, false, true, false, 100000);
    } catch (const kel::LanguageError&) {
    }
    kel::stack_restore(saved);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runtime_once();
    fuzz::InputRelease release;
    static const uint8_t prefixes[][8] = {
        {'K', 'E', 'L', 'B', 'I', 'N', 2, 0x05},  // compact with symbols
        {'K', 'E', 'L', 'B', 'I', 'N', 2, 0x04},  // fixed-width with symbols
    };
    for (const auto& prefix : prefixes) {
        std::vector<uint8_t> bytes(prefix, prefix + 8);
        bytes.insert(bytes.end(), data, data + size);
        decode(bytes);
    }
    decode(std::vector<uint8_t>(data, data + size));
    return 0;
}
