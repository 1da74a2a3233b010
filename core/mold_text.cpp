#include "core/mold_text.hpp"
#include "runtime/memory.hpp"
#include "core/error.hpp"
#include <cstring>

namespace kel {

void string_make_empty_at(Cell* cell, uint32_t capacity) {
    Node node = series_new_bytes(capacity == 0 ? 1 : capacity);
    cell_init(cell, T_STRING);
    cell->w2 = node;
}

// Room is counted in bytes; a buffer that must grow at least doubles, so that
// appending piece by piece stays linear.
void string_append_ascii(Cell* target, const char* text, uint32_t len) {
    if (len == 0) return;
    Node node = target->w2;
    SeriesBuffer* buffer = series_buffer(node);
    uint32_t shift = buffer->shift();
    uint64_t needed = uint64_t(buffer->tail) + (uint64_t(len) << shift);
    if (needed > buffer->size) {
        uint64_t size = uint64_t(buffer->size) * 2;
        if (size < needed || size > INT32_MAX) size = (needed + 15) & ~uint64_t(15);
        if (size > INT32_MAX) error_raise(ERR_NO_MEMORY);
        series_grow_copy(buffer, int32_t(size));
        buffer = series_buffer(node);
    }
    uint8_t* tail = buffer->tail_ptr();
    switch (buffer->unit()) {
    case 1:
        std::memcpy(tail, text, len);
        break;
    case 2:
        for (uint32_t i = 0; i < len; i++) {
            uint16_t unit = uint8_t(text[i]);
            std::memcpy(tail + 2 * i, &unit, 2);
        }
        break;
    default:
        for (uint32_t i = 0; i < len; i++) {
            uint32_t unit = uint8_t(text[i]);
            std::memcpy(tail + 4 * i, &unit, 4);
        }
        break;
    }
    buffer->tail += len << shift;
}

} // namespace kel
