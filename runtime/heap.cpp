#include "runtime/heap.hpp"
#include "runtime/start.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

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

[[noreturn]] static void heap_out_of_memory() {
    runtime_error_exit(RUNTIME_OUT_OF_MEMORY, __builtin_return_address(0));
}

// Membership of live block addresses, so that freeing an unknown address is
// detected without walking the list and without reading memory in front of it.
// An open-addressing table with linear probing: an entry costs no allocation
// of its own (a node-based set allocated one per block, which doubled the
// cost of every heap_alloc), and erase shifts the entries after it back, so
// the table holds no tombstones. At most half full; null marks an empty slot.
struct AddressSet {
    const void** slots = nullptr;
    size_t mask = 0;   // capacity - 1; the capacity is a power of two
    size_t count = 0;
};
static AddressSet live;

constexpr size_t ADDRESS_SET_FIRST = 256;

// Blocks are 16-byte aligned: the low bits say nothing, the product mixes the rest.
static size_t address_home(const void* address) {
    return size_t(((uintptr_t(address) >> 4) * 0x9E3779B97F4A7C15ull) >> 24) & live.mask;
}

static void address_place(const void* address) {
    size_t i = address_home(address);
    while (live.slots[i]) i = (i + 1) & live.mask;
    live.slots[i] = address;
}

static void address_set_grow() {
    size_t capacity = live.slots ? (live.mask + 1) * 2 : ADDRESS_SET_FIRST;
    const void** old = live.slots;
    size_t old_capacity = old ? live.mask + 1 : 0;
    live.slots = static_cast<const void**>(std::calloc(capacity, sizeof(void*)));
    if (!live.slots) heap_out_of_memory();
    live.mask = capacity - 1;
    for (size_t i = 0; i < old_capacity; i++)
        if (old[i]) address_place(old[i]);
    std::free(old);
}

// The slot holding the address, or -1.
static int64_t address_find(const void* address) {
    if (!live.slots) return -1;
    for (size_t i = address_home(address);; i = (i + 1) & live.mask) {
        if (live.slots[i] == address) return int64_t(i);
        if (!live.slots[i]) return -1;
    }
}

static void address_insert(const void* address) {
    if ((live.count + 1) * 2 > (live.slots ? live.mask + 1 : 0)) address_set_grow();
    address_place(address);
    live.count++;
}

// Removes the address; false when it was not there. Each entry after the
// hole whose home does not lie between the hole and it moves back into the
// hole, and the hole moves on to the entry's old slot.
static bool address_erase(const void* address) {
    int64_t found = address_find(address);
    if (found < 0) return false;
    size_t hole = size_t(found);
    for (size_t j = (hole + 1) & live.mask; live.slots[j]; j = (j + 1) & live.mask) {
        size_t home = address_home(live.slots[j]);
        bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
        if (stays) continue;
        live.slots[hole] = live.slots[j];
        hole = j;
    }
    live.slots[hole] = nullptr;
    live.count--;
    return true;
}

static void* block_memory(HeapBlock* b) { return b + 1; }
static HeapBlock* memory_block(void* p) { return static_cast<HeapBlock*>(p) - 1; }

static void* heap_link(HeapBlock* b, size_t size) {
    if (!b) heap_out_of_memory();
    b->prev = heap.last;
    b->next = nullptr;
    b->size = size;
    if (heap.last) heap.last->next = b; else heap.first = b;
    heap.last = b;
    heap.bytes += size + 16;
    address_insert(block_memory(b));
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
    address_erase(address);
    auto* b = static_cast<HeapBlock*>(std::realloc(old, sizeof(HeapBlock) + size));
    if (!b) heap_out_of_memory();
    // The block keeps its place: its neighbours are pointed at the new address.
    if (b->prev) b->prev->next = b; else heap.first = b;
    if (b->next) b->next->prev = b; else heap.last = b;
    b->size = size;
    heap.bytes = heap.bytes - old_size + size;
    address_insert(block_memory(b));
    return block_memory(b);
}

void heap_free(void* address) {
    if (!address || !address_erase(address)) return;
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
    if (live.slots) std::memset(live.slots, 0, (live.mask + 1) * sizeof(void*));
    live.count = 0;
}

uint64_t heap_bytes() { return heap.bytes; }
size_t heap_block_count() { return live.count; }
bool heap_owns(const void* address) { return address_find(address) >= 0; }

} // namespace kel
