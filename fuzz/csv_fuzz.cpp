// Fuzz target of the CSV reader, differential: the first character of the
// input chooses a delimiter, a quote character and refinements, and the rest
// is read by the native reader and by the reader written in Kel, which must
// give the same value or error; rows read are then written back by both
// writers, which must give the same text or error. A mismatch, a crash or a
// sanitizer report is a fault.
#include "fuzz/library_fuzz.hpp"

namespace {

// Answers none when both codecs agree on the text, else a description.
const char* const COMPARE = R"KEL(
fuzz-call: func [name [word!] refs [block!] args [block!] value /local code] [
    code: reduce [either empty? refs [name] [to path! head insert copy refs name]]
    append/only code :value
    append code args
]
fuzz-compare: func [text [string!] /local choice delimiter qt refs args native reference value] [
    if empty? text [return none]
    choice: to integer! first text
    text: next text
    delimiter: pick reduce [#"," #";" "::" #"^-" "" ", " #"a"] 1 + (choice // 7)
    qt: pick reduce [#"^"" #"'" #","] 1 + (choice // 3)
    refs: copy pick [
        [] [trim] [header] [as-columns] [as-records] [flat] [header as-records] [header trim]
        [flat trim] [as-columns as-records]
    ] 1 + (choice // 10)
    append refs [with quote]
    args: reduce [delimiter qt]
    native: fuzz-outcome fuzz-call 'load-csv refs args text
    reference: fuzz-outcome fuzz-call 'load-csv-kel refs args text
    if native <> reference [return reduce ["reading" refs args native reference]]
    if error? set/any 'value try fuzz-call 'load-csv refs args text [return none]
    if block? :value [
        if empty? value [return none]
        foreach [refs args] reduce [[with quote] args [skip] [2]] [
            native: fuzz-outcome fuzz-call 'to-csv refs args value
            reference: fuzz-outcome fuzz-call 'to-csv-kel refs args value
            if native <> reference [return reduce ["writing" refs args native reference]]
        ]
    ]
    none
]
)KEL";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::compare(fuzz::library_function(COMPARE, "fuzz-compare"), data, size);
    return 0;
}
