#include "io/codec_text.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "runtime/memory.hpp"

#include <algorithm>

namespace kel {

namespace {

template <class U> void store_chars(SeriesBuffer* b, std::u32string_view chars) {
    U* out = reinterpret_cast<U*>(b->head_ptr());
    for (size_t i = 0; i < chars.size(); i++) out[i] = U(chars[i]);
}

template <class U> void load_chars(SeriesBuffer* b, uint32_t from, uint32_t end, std::u32string* out) {
    const U* in = reinterpret_cast<const U*>(b->head_ptr());
    out->assign(end - from, 0);
    for (uint32_t i = from; i < end; i++) (*out)[i - from] = char32_t(in[i]);
}

} // namespace

Cell* string_push_sized(uint32_t count, uint32_t unit, SeriesBuffer** buffer) {
    Cell* slot = stack_push_new(T_NONE);
    Node node = series_new_units(count, unit);
    series_make_at(slot, T_STRING, node, 0);
    SeriesBuffer* b = series_buffer(node);
    b->tail = b->head + count * unit;
    *buffer = b;
    return slot;
}

Cell* string_push_chars(std::u32string_view chars) {
    uint32_t widest = 0;
    for (char32_t c : chars) widest = std::max(widest, uint32_t(c));
    uint32_t unit = codepoint_unit(widest);
    SeriesBuffer* b;
    Cell* slot = string_push_sized(uint32_t(chars.size()), unit, &b);
    if (unit == 1) store_chars<uint8_t>(b, chars);
    else if (unit == 2) store_chars<uint16_t>(b, chars);
    else store_chars<uint32_t>(b, chars);
    return slot;
}

void string_chars_of(const Cell* string, std::u32string* out) {
    SeriesBuffer* b = series_buffer_of(string);
    uint32_t from = series_index_clamped(string), end = b->length();
    switch (b->unit()) {
    case 1: load_chars<uint8_t>(b, from, end, out); break;
    case 2: load_chars<uint16_t>(b, from, end, out); break;
    default: load_chars<uint32_t>(b, from, end, out); break;
    }
}

} // namespace kel
