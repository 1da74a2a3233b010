// The JSON codec's native half: the decoder and encoder that load-json and
// to-json call, and the in-place unescaper of the library's own decoder
// written in Kel, which stays beside them as the reference they are tested
// against.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// Resolves the escapes of a JSON string body in place (the string on the data
// stack or rooted, read from its position). A malformed \u escape or an
// unpaired high surrogate raises script error invalid-data with the string as
// far as it was rewritten.
void json_unescape(Cell* str);

// Routine json-unescape str [string!]: json_unescape, answering the string.
void routine_json_unescape();

// The value of a JSON text (a string! on the data stack, read from its
// position), written into out (on the data stack or rooted). Text that is not
// JSON gives a user error value "Invalid JSON string. Line: ..." in out; it is
// not raised. Objects become maps whose keys are words when the key reads as
// a word, numbers what the lexer makes of their text, and nesting deeper than
// 512 containers counts as invalid text. A bad surrogate pair raises script
// error invalid-data.
void json_decode(const Cell* input, Cell* out);

// Options of json_encode.
struct JsonEncodeOptions {
    const Cell* indent = nullptr;  // string! of one indentation level: pretty output; null: compact
    bool ascii = false;            // every character above 127 written as a \u escape
};

// The JSON text of a value as a new string! written into out (on the data
// stack or rooted); value must not lie in a series buffer. Floats are written
// as mold writes them (infinities and NaN raise script error invalid-arg),
// percents as floats, maps and objects as objects, other block types as
// arrays, other string types formed and every other value molded, as strings.
void json_encode(const Cell* value, Cell* out, const JsonEncodeOptions& options);

// Routines json-decode text [string!] and json-encode data indent [string!
// none!] ascii [logic!] that load-json and to-json call.
void routine_json_decode();
void routine_json_encode();

} // namespace kel
