// Native support of the JSON decoder in the library: resolving the escapes of
// a JSON string's body in place.
#pragma once

namespace kel {

// Routine json-unescape str [string!]: resolves the escapes of a JSON string
// body in place and answers the same string. A malformed \u escape or an
// unpaired high surrogate raises script error invalid-data with the string.
void routine_json_unescape();

} // namespace kel
