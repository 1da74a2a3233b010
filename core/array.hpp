// Dynamic arrays: series used as growable arrays of raw 32-bit values (or
// bytes). The series' unit gives the element size; elements are appended at
// the tail and the buffer doubles when full. Indices are 1-based; byte offsets
// count from the head.
#pragma once
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

uint32_t array_length(Node node);
void array_clear(Node node);
// Appends a value; growing the array may collect, so a value that is itself a
// node must be rooted and written with array_poke after the append.
void array_append_ptr(Node node, uint32_t value);
// Byte offset of the first element equal to value, -1 when absent.
int32_t array_find_ptr(Node node, uint32_t value);
// The value at a 1-based index; an index outside 1..length raises script
// error out-of-range.
uint32_t array_at(Node node, uint32_t index);
void array_poke(Node node, uint32_t index, uint32_t value);
// Removes count bytes at a byte offset, moving the rest down. The range is
// clamped to the bytes in use.
void array_remove_bytes(Node node, uint32_t offset, uint32_t count);

} // namespace kel
