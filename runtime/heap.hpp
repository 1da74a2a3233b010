// The general-purpose heap: every block of memory that is not a series buffer
// or a frame (runtime tables, hook lists, output buffers, work buffers) comes
// from here. Live blocks stand in one doubly linked list in allocation order so
// that the whole heap can be released at once when the process ends.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel {

void* heap_alloc(size_t size);
void* heap_alloc_zeroed(size_t size);
// address 0 allocates; size 0 frees and returns nullptr; else resizes in place
// in the list, keeping the contents.
void* heap_resize(void* address, size_t size);
// Frees a block; an address the heap never handed out is ignored.
void heap_free(void* address);
// Frees every block; the list starts over empty.
void heap_free_all();

// Bytes held, counted as the block sizes plus a 16-byte header each (the
// figure memory statistics report, the same on every host).
uint64_t heap_bytes();
// Number of live blocks.
size_t heap_block_count();
// True when the address is the memory of a live block.
bool heap_owns(const void* address);

} // namespace kel
