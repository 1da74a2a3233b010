// Fuzz target of the JSON decoder, differential: any byte string (read as OS
// text, so bytes that are not UTF-8 become characters too) is decoded by the
// native decoder and by the decoder written in Kel, which must give the same
// value or error; a decoded value is then encoded by both encoders, compact,
// pretty and ASCII, which must give the same text or error. A mismatch, a
// crash or a sanitizer report is a fault.
#include "fuzz/library_fuzz.hpp"

namespace {

// Answers none when both codecs agree on the text, else a description.
const char* const COMPARE = R"KEL(
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::compare(fuzz::library_function(COMPARE, "fuzz-compare"), data, size);
    return 0;
}
