// dehex, enhex, debase and enbase.
#include "natives/encoding.hpp"
#include "natives/natives.hpp"
#include "natives/system.hpp"
#include "core/error.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/url.hpp"
#include <vector>
#include <iterator>

namespace kel {

enum EncodingNative : uint32_t { N_DEHEX = 47, N_ENHEX = 48, N_DEBASE = 84, N_ENBASE = 91 };

// A new string! for the result of dehex and enhex, pushed, with room for the
// value's characters from its position.
static Cell* hex_result_push(const Cell* value) {
    uint32_t index = series_index_clamped(value);
    return string_make_at(stack_push_new(T_NONE), series_buffer_length(value) - index);
}

ExitCode native_dehex(bool check, const int32_t*) {
    if (check) native_arg_check(N_DEHEX, 0);
    Cell* value = data_stack.args;
    Cell* result = hex_result_push(value);
    url_dehex(value, result);
    stack_set_last_reset(result);
    return EXIT_CODE_NONE;
}

ExitCode native_enhex(bool check, const int32_t*) {
    if (check) native_arg_check(N_ENHEX, 0);
    Cell* value = data_stack.args;
    Cell* result = hex_result_push(value);
    url_enhex(value, result, cell_type(value) == T_STRING ? ENHEX_STRICT : ENHEX_URL);
    stack_set_last_reset(result);
    return EXIT_CODE_NONE;
}

// The base of /base, 64 without it.
static int32_t base_of(const int32_t* refinements) {
    return refinements[0] < 0 ? 64 : cell_int(data_stack.args + refinements[0]);
}

[[noreturn]] static void raise_base(const int32_t* refinements) {
    error_raise(ERR_INVALID_ARG, data_stack.args + refinements[0]);
}

ExitCode native_debase(bool check, const int32_t* refinements) {
    if (check) {
        native_arg_check(N_DEBASE, 0);
        if (refinements[0] == 1) native_arg_check(N_DEBASE, 1);
    }
    Cell* value = data_stack.args;
    uint32_t index = series_index_clamped(value);
    uint32_t count = series_buffer_length(value) - index;
    SeriesBuffer* b = series_buffer(series_node(value));
    uint32_t unit = b->unit();
    const uint8_t* text = b->head_ptr() + size_t(index) * unit;
    Node node;
    switch (base_of(refinements)) {
    case 2: node = base2_decode(text, count, unit); break;
    case 16: node = base16_decode(text, count, unit); break;
    case 58: node = base58_decode(text, count, unit); break;
    case 64: node = base64_decode(text, count, unit); break;
    default: raise_base(refinements);
    }
    if (!node) {
        stack_box_new(T_NONE);
        return EXIT_CODE_NONE;
    }
    series_make_at(data_stack.args, T_BINARY, node, 0);
    stack_keep();
    return EXIT_CODE_NONE;
}

// Room in bytes for the digits of n input bytes in a base; -1 when the
// figure leaves the 32-bit range.
static int64_t enbase_capacity(int64_t n, int32_t base) {
    int64_t room;
    switch (base) {
    case 64: room = (n / 3) * 4 + ((n % 3) * 4) / 3 + (n / 32) * 2 + 5; break;
    case 58: room = n * 2; break;
    case 16: room = n * 2 + n / 32 + 32; break;
    default: room = n * 8 + (n / 8) * 2 + 4; break;  // base 2
    }
    return room > INT32_MAX ? -1 : room;
}

ExitCode native_enbase(bool check, const int32_t* refinements) {
    if (check) {
        native_arg_check(N_ENBASE, 0);
        if (refinements[0] == 1) native_arg_check(N_ENBASE, 1);
    }
    int32_t base = base_of(refinements);
    if (base != 2 && base != 16 && base != 58 && base != 64) raise_base(refinements);
    NativeInput input(data_stack.args);
    int64_t room = enbase_capacity(int64_t(input.bytes().size), base);
    if (room < 0) error_raise(ERR_TOO_LONG);
    Cell* result = string_make_at(stack_push_new(T_NONE), uint32_t(room));
    SeriesBuffer* out = series_buffer(series_node(result));
    char* start = reinterpret_cast<char*>(out->head_ptr());
    char* end;
    ByteSpan bytes = input.bytes();
    switch (base) {
    case 2: end = base2_encode(start, bytes.data, bytes.size); break;
    case 16: end = base16_encode(start, bytes.data, bytes.size); break;
    case 58: end = base58_encode(start, bytes.data, bytes.size); break;
    default: end = base64_encode(start, bytes.data, bytes.size); break;
    }
    out->tail = out->head + uint32_t(end - start);
    stack_set_last_reset(result);
    return EXIT_CODE_NONE;
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {47, "dehex", "[value [any-string!]]", native_dehex},
    {48, "enhex", "[value [any-string!]]", native_enhex},
    {84, "debase", "[value [string!] /base base-value [integer!]]", native_debase},
    {91, "enbase", "[value [binary! string!] /base base-value [integer!]]", native_enbase},
};
const NativeTable ENCODING_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
