// Fuzz target of the Kelbin encoder and decoder together: any byte string
// (read as OS text) that load turns into values is saved as Kelbin and
// loaded back, which must give the same values (compared by mold/all, so
// that a NaN equals itself). Values the codec does not carry (routines,
// events, handles, ports, images) are refused with access error no-codec;
// any other error, a mismatch, a crash or a sanitizer report is a fault.
#include "fuzz/library_fuzz.hpp"

namespace {

// Answers none when the values come back the same, else a description.
const char* const COMPARE = R"KEL(
fuzz-compare: func [text [string!] /local value stream back] [
    if error? set/any 'value try [load/all text] [return none]
    if error? set/any 'stream try [save/as none :value 'kelbin] [
        if all [stream/type = 'access stream/id = 'no-codec] [return none]
        return reduce ["save raised" fuzz-outcome [save/as none :value 'kelbin]]
    ]
    if error? set/any 'back try [load/as stream 'kelbin] [
        return reduce ["load raised" fuzz-outcome [load/as stream 'kelbin] mold/all :value]
    ]
    if (mold/all :value) <> (mold/all :back) [return reduce ["differs" mold/all :value mold/all :back]]
    none
]
)KEL";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::compare(fuzz::library_function(COMPARE, "fuzz-compare"), data, size);
    return 0;
}
