#include "core/array.hpp"
#include "core/error.hpp"
#include "core/registry.hpp"
#include <cstring>

namespace kel {

uint32_t array_length(Node node) { return series_buffer(node)->length(); }

void array_clear(Node node) {
    SeriesBuffer* buffer = series_buffer(node);
    buffer->tail = buffer->head;
}

void array_append_ptr(Node node, uint32_t value) {
    SeriesBuffer* buffer = series_buffer(node);
    // Growing may collect and renumber nodes: the grown buffer is the one
    // returned, never one re-read through the node given.
    if (uint64_t(buffer->tail) + 4 > buffer->size) buffer = series_grow_copy(buffer, 0);
    std::memcpy(buffer->tail_ptr(), &value, 4);
    buffer->tail += 4;
}

int32_t array_find_ptr(Node node, uint32_t value) {
    SeriesBuffer* buffer = series_buffer(node);
    const uint8_t* head = buffer->head_ptr();
    uint32_t bytes = buffer->tail - buffer->head;
    for (uint32_t offset = 0; offset + 4 <= bytes; offset += 4) {
        uint32_t element;
        std::memcpy(&element, head + offset, 4);
        if (element == value) return int32_t(offset);
    }
    return -1;
}

// Address of the element at a 1-based index, checked against the length.
static uint8_t* array_element(Node node, uint32_t index) {
    SeriesBuffer* buffer = series_buffer(node);
    if (index < 1 || index > (buffer->tail - buffer->head) / 4)
        error_raise(ERR_OUT_OF_RANGE);
    return buffer->head_ptr() + (index - 1) * 4;
}

uint32_t array_at(Node node, uint32_t index) {
    uint32_t value;
    std::memcpy(&value, array_element(node, index), 4);
    return value;
}

void array_poke(Node node, uint32_t index, uint32_t value) {
    std::memcpy(array_element(node, index), &value, 4);
}

void array_remove_bytes(Node node, uint32_t offset, uint32_t count) {
    SeriesBuffer* buffer = series_buffer(node);
    uint32_t bytes = buffer->tail - buffer->head;
    if (offset >= bytes) return;
    if (count > bytes - offset) count = bytes - offset;
    uint8_t* at = buffer->head_ptr() + offset;
    std::memmove(at, at + count, bytes - offset - count);
    buffer->tail -= count;
}

} // namespace kel
