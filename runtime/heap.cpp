#include "runtime/heap.hpp"
#include "runtime/start.hpp"

#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace kel {

// The header in front of each block. On this host it is 32 bytes so that the
// caller's memory stays 16-byte aligned; statistics still count 16.
struct HeapBlock {
    HeapBlock* prev;   // previous block of the list, or null for the first
    HeapBlock* next;   // next block, or null for the last
    uint64_t size;     // size the caller asked for, header not counted
    uint64_t spare;
};
static_assert(sizeof(HeapBlock) % 16 == 0);

struct HeapList {
    HeapBlock* first = nullptr;
    HeapBlock* last = nullptr;
    uint64_t bytes = 0;  // sum of size + 16 over live blocks
};

static HeapList heap;

// Membership of live block addresses, so that freeing an unknown address is
// detected without walking the list and without reading memory in front of it.
static std::unordered_set<const void*>& heap_live() {
    static auto* live = new std::unordered_set<const void*>();
    return *live;
}

static void* block_memory(HeapBlock* b) { return b + 1; }
static HeapBlock* memory_block(void* p) { return static_cast<HeapBlock*>(p) - 1; }

[[noreturn]] static void heap_out_of_memory() {
    runtime_error_exit(RUNTIME_OUT_OF_MEMORY, __builtin_return_address(0));
}

static void* heap_link(HeapBlock* b, size_t size) {
    if (!b) heap_out_of_memory();
    b->prev = heap.last;
    b->next = nullptr;
    b->size = size;
    if (heap.last) heap.last->next = b; else heap.first = b;
    heap.last = b;
    heap.bytes += size + 16;
    heap_live().insert(block_memory(b));
    return block_memory(b);
}

void* heap_alloc(size_t size) {
    return heap_link(static_cast<HeapBlock*>(std::malloc(sizeof(HeapBlock) + size)), size);
}

// calloc, not malloc and memset: a large block comes from pages the system
// maps zero-filled, and the pages a sparse table never writes (the case
// tables set a few hundred of 65,536 entries) are then never touched.
void* heap_alloc_zeroed(size_t size) {
    return heap_link(static_cast<HeapBlock*>(std::calloc(1, sizeof(HeapBlock) + size)), size);
}

static void heap_unlink(HeapBlock* b) {
    if (b->prev) b->prev->next = b->next; else heap.first = b->next;
    if (b->next) b->next->prev = b->prev; else heap.last = b->prev;
}

void* heap_resize(void* address, size_t size) {
    if (!address) return heap_alloc(size);
    if (size == 0) { heap_free(address); return nullptr; }
    if (!heap_owns(address)) return nullptr;
    HeapBlock* old = memory_block(address);
    uint64_t old_size = old->size;
    heap_live().erase(address);
    auto* b = static_cast<HeapBlock*>(std::realloc(old, sizeof(HeapBlock) + size));
    if (!b) heap_out_of_memory();
    // The block keeps its place: its neighbours are pointed at the new address.
    if (b->prev) b->prev->next = b; else heap.first = b;
    if (b->next) b->next->prev = b; else heap.last = b;
    b->size = size;
    heap.bytes = heap.bytes - old_size + size;
    heap_live().insert(block_memory(b));
    return block_memory(b);
}

void heap_free(void* address) {
    if (!address || !heap_live().erase(address)) return;
    HeapBlock* b = memory_block(address);
    heap_unlink(b);
    heap.bytes -= b->size + 16;
    std::free(b);
}

void heap_free_all() {
    HeapBlock* b = heap.first;
    while (b) {
        HeapBlock* next = b->next;
        std::free(b);
        b = next;
    }
    heap.first = heap.last = nullptr;
    heap.bytes = 0;
    heap_live().clear();
}

uint64_t heap_bytes() { return heap.bytes; }
size_t heap_block_count() { return heap_live().size(); }
bool heap_owns(const void* address) { return heap_live().count(address) != 0; }

} // namespace kel
