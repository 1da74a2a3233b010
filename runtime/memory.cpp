// Node frames, series frames, big frames and the buffers in them. The
// collector (runtime/collector.cpp) compacts what this module allocates.
#include "runtime/memory.hpp"
#include "runtime/collector.hpp"
#include "runtime/heap.hpp"
#include "runtime/platform/platform.hpp"
#include "runtime/raise.hpp"

#include <algorithm>
#include <deque>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace kel {

MemoryRecord memory;
uintptr_t* node_table = nullptr;
// The frame in each slot; null for a slot not in use.
static NodeFrame* node_frames[NODE_SLOTS];
Cell root_cell;

constexpr size_t PAGE_SIZE = 4096;
// The largest data size of one buffer: sizes and offsets stay within int32.
constexpr uint64_t SERIES_SIZE_MAX = 0x7FFFFFF0;

// Buffers outside the frames (series_new_fixed), swept after marking.
static std::vector<SeriesBuffer*> fixed_buffers;

// Slots of released node frames, reused oldest first so that a stale node id
// keeps faulting for as long as possible; slots never used start at next_slot.
// Torture mode takes a slot never used while one is left: a released slot then
// stays empty for some hundred thousand frames, and a node id kept across a
// collection without a root faults on its empty slot instead of reading
// whatever node a reused slot holds.
static std::deque<uint32_t> free_slots;
static uint32_t node_table_slots = 0;  // slots the node table's range holds (see below)
static void released_slots_flush();
static uint32_t next_slot = 1;

// Released blocks that torture mode keeps inaccessible before reusing them,
// so that a pointer kept across a collection faults instead of reading what
// the block holds next. Under AddressSanitizer the block is poisoned, which
// reports the stale access where it happens and costs no system call; else
// its pages are protected (two mprotect calls per block, each a TLB flush on
// every thread: half the CPU time of a tortured run).
struct QuarantinedBlock {
    void* block;
    size_t bytes;
};
static std::deque<QuarantinedBlock> quarantine;
constexpr size_t QUARANTINE_BLOCKS = 16;

static void internal_error(uint16_t id) { error_raise(ErrorCategory::internal, id); }

static size_t page_round(size_t bytes) { return (bytes + PAGE_SIZE - 1) & ~(PAGE_SIZE - 1); }

// ---- ASan bookkeeping -----------------------------------------------------------

void memory_poison(const void* start, size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
    if (bytes) __asan_poison_memory_region(start, bytes);
#else
    (void)start; (void)bytes;
#endif
}

void memory_unpoison(const void* start, size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
    if (bytes) __asan_unpoison_memory_region(start, bytes);
#else
    (void)start; (void)bytes;
#endif
}

// ---- virtual blocks -----------------------------------------------------------------

// Released blocks kept mapped for the next frame of the same size. A program
// that allocates steadily empties frames in one collection and needs new ones
// before the next: taking them back from here, most recently released first,
// spares the system calls and the kernel's zeroing of fresh pages, and the
// pages are likely still in the cache. Only blocks no larger than a full
// series frame are kept (a big buffer's block of another size would seldom
// be asked for again), and the pool holds at most half the bytes of the
// frames in use, or POOL_FLOOR; the blocks in it do not count in
// memory.total. In torture mode every released block goes to
// the quarantine first, so that stale addresses fault.
struct PooledBlock {
    void* block;
    size_t bytes;
};
static std::vector<PooledBlock> pool;
static size_t pool_bytes = 0;
constexpr size_t POOL_FLOOR = size_t(4) << 20;

static void pool_trim(size_t limit) {
    size_t i = 0;  // the oldest blocks go first
    while (pool_bytes > limit && i < pool.size()) {
        vmem_free(pool[i].block, pool[i].bytes);
        pool_bytes -= pool[i].bytes;
        i++;
    }
    pool.erase(pool.begin(), pool.begin() + i);
}

static void* pool_take(size_t bytes) {
    for (size_t i = pool.size(); i-- > 0;) {
        if (pool[i].bytes != bytes) continue;
        void* block = pool[i].block;
        pool_bytes -= bytes;
        pool.erase(pool.begin() + i);
        return block;
    }
    return nullptr;
}

size_t vblock_pooled_bytes() { return pool_bytes; }

void* vblock_acquire(size_t bytes) {
    void* block = pool_take(bytes);
    if (!block) block = vmem_alloc(bytes, false);
    memory.total += bytes;
    return block;
}

// Keeps a released block for reuse when it is no larger than a full series
// frame, else unmaps it.
static void pool_keep(void* block, size_t bytes) {
    if (bytes > page_round(sizeof(SeriesFrame) + memory.largest_size)) {
        vmem_free(block, bytes);
        return;
    }
    pool.push_back({block, bytes});
    pool_bytes += bytes;
    pool_trim(std::max<size_t>(POOL_FLOOR, memory.total / 2));
}

static void quarantine_enter(void* block, size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
    memory_poison(block, bytes);
#else
    vmem_protect_none(block, bytes);
#endif
}

// A block leaving the quarantine is accessible again, its shadow clear
// before it is reused or unmapped (a later mapping at the same address
// must not inherit the poison).
static void quarantine_leave(void* block, size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
    memory_unpoison(block, bytes);
#else
    vmem_protect_rw(block, bytes);
#endif
}

// In torture mode a block goes to the pool only once it leaves the
// quarantine, made accessible again: its pages stay mapped, so the frames
// every torture collection makes cost no fresh page faults.
void vblock_release(void* block, size_t bytes) {
    memory.total -= bytes;
    if (!memory.torture) {
        pool_keep(block, bytes);
        return;
    }
    quarantine_enter(block, bytes);
    quarantine.push_back({block, bytes});
    if (quarantine.size() <= QUARANTINE_BLOCKS) return;
    QuarantinedBlock oldest = quarantine.front();
    quarantine.pop_front();
    quarantine_leave(oldest.block, oldest.bytes);
    pool_keep(oldest.block, oldest.bytes);
}

static void quarantine_flush() {
    while (!quarantine.empty()) {
        QuarantinedBlock q = quarantine.front();
        quarantine.pop_front();
        quarantine_leave(q.block, q.bytes);
        vmem_free(q.block, q.bytes);
    }
}

// ---- setup and release ---------------------------------------------------------------

void memory_setup() {
    memory_release_all();
    memory = MemoryRecord{};
    memory.first_size = SERIES_FRAME_FIRST_SIZE;
    memory.current_size = SERIES_FRAME_FIRST_SIZE;
    memory.carve_budget = CARVE_BUDGET_MIN;
    memory.largest_size = SERIES_FRAME_LARGEST_SIZE;
    auto torture = env_get("KEL_GC_TORTURE");
    memory.torture = torture && !torture->empty() && *torture != "0";
    auto log = env_get("KEL_GC_LOG");
    collector.log = log && !log->empty() && *log != "0";
    cell_init(&root_cell, T_NONE);
}

void memory_torture_set(bool on) { memory.torture = on; }

void memory_settle() {
    if (memory.torture) {
        for (SeriesFrame* frame = memory.series_head; frame; frame = frame->next) frame->settled = true;
        memory.series_active = nullptr;
        return;
    }
    collector_cycle();
    system_heap_trim();
    memory.settled_bytes = 0;
    memory.settled_holes = 0;
    for (SeriesFrame* frame = memory.series_head; frame; frame = frame->next) {
        frame->settled_end = frame->free;
        memory.settled_bytes += uint64_t(frame->free - frame->first());
        // The room start-up's garbage took goes back to the system: the
        // collection packed the library into fewer pages than it had touched.
        vmem_discard(frame->free, size_t(frame->end - frame->free));
    }
}
bool memory_torture_q() { return memory.torture; }

void memory_release_all() {
    while (memory.node_head) node_frame_release(memory.node_head);
    while (memory.series_head) series_frame_release(memory.series_head);
    while (memory.big_head) big_frame_release(memory.big_head->buffer());
    for (SeriesBuffer* b : fixed_buffers) heap_free(b);
    fixed_buffers.clear();
    quarantine_flush();
    pool_trim(0);
    released_slots_flush();
    free_slots.clear();
    next_slot = 1;
    memory.total = 0;
    cell_init(&root_cell, T_NONE);
    // The modules' roots refer to nodes that no longer exist; each module
    // registers again when it starts over.
    collector_roots_forget();
}

void root_block_new() {
    Node node = series_new_cells(ROOT_BLOCK_CELLS);
    cell_init(&root_cell, T_BLOCK);
    root_cell.w2 = node;
}

// ---- node frames ------------------------------------------------------------------------

static uintptr_t free_link(uint32_t next_index_plus_one) {
    return (uintptr_t(next_index_plus_one) << 3) | NODE_FREE;
}

static uint32_t slot_take() {
    if (memory.torture && next_slot < node_table_slots) return next_slot++;
    if (!free_slots.empty()) {
        uint32_t slot = free_slots.front();
        free_slots.pop_front();
        return slot;
    }
    if (next_slot >= node_table_slots) internal_error(ERR_NO_MEMORY);
    return next_slot++;
}

// ---- the node table -------------------------------------------------------------------
// The table's range is reserved once, inaccessible. Slots never used are made
// accessible SLOTS_OPENED at a time, as frames first need them. A released
// frame's nodes give their pages back and become inaccessible, so that a stale
// id of a released frame faults: under AddressSanitizer they are poisoned at
// once; else torture mode protects them at once, and normal mode, whose frames
// are released rarely, as their pages go back. In torture mode released slots
// gather before their pages go back, in one call per run of neighbouring
// slots: it releases frames at every collection, and calls per frame would
// cost more than the collections.

constexpr uint32_t SLOTS_OPENED = 64;
constexpr uint32_t RELEASED_SLOTS_FLUSH = 32;
static std::vector<uint32_t> released_slots;  // released, pages not yet given back
static std::vector<bool> slot_used;            // the slot held a frame before
static uint32_t slots_open_end = 0;            // slots below were made accessible when first used

static constexpr size_t SLOT_AREA_BYTES = size_t(NODE_INDEX_MASK + 1) * sizeof(uintptr_t);
static uintptr_t* slot_area(uint32_t slot) { return node_table + (uintptr_t(slot) << NODE_INDEX_BITS); }

// Every slot an id can name takes 32 GB of address space; a process limited
// to less gets the most it may have, down to a few hundred megabytes.
static void node_table_reserve() {
    if (node_table) return;
    for (uint32_t slots = NODE_SLOTS; slots >= 2048 && !node_table; slots /= 2) {
        node_table = static_cast<uintptr_t*>(vmem_reserve(size_t(slots) * SLOT_AREA_BYTES));
        if (node_table) node_table_slots = slots;
    }
    if (!node_table) internal_error(ERR_NO_MEMORY);
    slot_used.assign(node_table_slots, false);
}

// Gives back the pages of the released slots and hands the slots on for reuse.
static void released_slots_flush() {
    std::sort(released_slots.begin(), released_slots.end());
    for (size_t i = 0; i < released_slots.size();) {
        size_t j = i + 1;
        while (j < released_slots.size() && released_slots[j] == released_slots[j - 1] + 1) j++;
        size_t bytes = (j - i) * SLOT_AREA_BYTES;
        uintptr_t* area = slot_area(released_slots[i]);
        vmem_discard(area, bytes);
#if !defined(__SANITIZE_ADDRESS__)
        if (!memory.torture) vmem_protect_none(area, bytes);
#endif
        i = j;
    }
    for (uint32_t slot : released_slots) free_slots.push_back(slot);
    released_slots.clear();
}

// Makes a slot's nodes accessible for a new frame.
static void slot_area_open(uint32_t slot) {
    if (!slot_used[slot]) {
        slot_used[slot] = true;
        if (slot < slots_open_end) return;
        uint32_t from = slot, to = std::min<uint32_t>(node_table_slots, slot + SLOTS_OPENED);
        for (uint32_t s = from + 1; s < to; s++)
            if (slot_used[s]) to = s;
        vmem_protect_rw(slot_area(from), (to - from) * SLOT_AREA_BYTES);
        slots_open_end = std::max(slots_open_end, to);
        return;
    }
#if defined(__SANITIZE_ADDRESS__)
    memory_unpoison(slot_area(slot), SLOT_AREA_BYTES);
#else
    vmem_protect_rw(slot_area(slot), SLOT_AREA_BYTES);
#endif
}

static void slot_area_close(uint32_t slot) {
#if defined(__SANITIZE_ADDRESS__)
    memory_poison(slot_area(slot), SLOT_AREA_BYTES);
#else
    if (memory.torture) vmem_protect_none(slot_area(slot), SLOT_AREA_BYTES);
#endif
    released_slots.push_back(slot);
    if (!memory.torture || released_slots.size() >= RELEASED_SLOTS_FLUSH) released_slots_flush();
}

NodeFrame* node_frame_new(uint32_t capacity) {
    capacity = std::clamp<uint32_t>(capacity, 1, NODE_INDEX_MASK + 1);
    node_table_reserve();
    size_t bytes = page_round(capacity * sizeof(uintptr_t));
    uint32_t slot = slot_take();
    slot_area_open(slot);
    auto* frame = static_cast<NodeFrame*>(heap_alloc(sizeof(NodeFrame)));
    frame->next = nullptr;
    frame->prev = memory.node_tail;
    frame->capacity = capacity;
    frame->free_head = 1;
    frame->used = 0;
    frame->cycle_made = collector.series_cycles;
    frame->used_at_review = 0;
    frame->history = 0;
    frame->slot = slot;
    frame->release = false;
    frame->bytes = bytes;
    memory.total += bytes;
    uintptr_t* nodes = frame->nodes();
    for (uint32_t i = 0; i + 1 < capacity; i++) nodes[i] = free_link(i + 2);
    nodes[capacity - 1] = free_link(0);
    node_frames[slot] = frame;
    if (memory.node_tail) memory.node_tail->next = frame; else memory.node_head = frame;
    memory.node_tail = frame;
    if (!memory.node_active) memory.node_active = frame;
    return frame;
}

void node_frame_release(NodeFrame* frame) {
    if (frame->prev) frame->prev->next = frame->next; else memory.node_head = frame->next;
    if (frame->next) frame->next->prev = frame->prev; else memory.node_tail = frame->prev;
    if (memory.node_active == frame) memory.node_active = memory.node_tail;
    node_frames[frame->slot] = nullptr;
    slot_area_close(frame->slot);
    memory.total -= frame->bytes;
    heap_free(frame);
}

NodeFrame* node_frame_of(Node node) { return node_frames[node >> NODE_INDEX_BITS]; }

Node node_take_from(NodeFrame* frame) {
    uint32_t index = frame->free_head - 1;
    uintptr_t* nodes = frame->nodes();
    frame->free_head = uint32_t(nodes[index] >> 3);
    nodes[index] = 0;
    frame->used++;
    return (frame->slot << NODE_INDEX_BITS) | index;
}

static bool node_frame_serves(const NodeFrame* frame) { return frame->free_head && !frame->release; }

// The first frame that can serve, or a new one; it becomes the active frame.
[[gnu::noinline]] static NodeFrame* node_frame_serving() {
    NodeFrame* frame = memory.node_head;
    while (frame && !node_frame_serves(frame)) frame = frame->next;
    if (!frame) frame = node_frame_new(NODE_FRAME_CAPACITY);
    memory.node_active = frame;
    return frame;
}

// node_take, inlined where series are made.
[[gnu::always_inline]] static inline Node node_take_active() {
    NodeFrame* frame = memory.node_active;
    if (!frame || !node_frame_serves(frame)) [[unlikely]] frame = node_frame_serving();
    return node_take_from(frame);
}

Node node_take() { return node_take_active(); }

void node_release(Node node) {
    NodeFrame* frame = node_frame_of(node);
    uint32_t index = node & NODE_INDEX_MASK;
    uintptr_t* nodes = frame->nodes();
    if (nodes[index] & NODE_FREE) return;  // already free: the list stays intact
    nodes[index] = free_link(frame->free_head);
    frame->free_head = index + 1;
    frame->used--;
}

void node_frames_review() {
    for (NodeFrame* frame = memory.node_head; frame;) {
        NodeFrame* next = frame->next;
        if (frame->used == 0 || frame->release) node_frame_release(frame);
        frame = next;
    }
    NodeFrame* active = nullptr;
    for (NodeFrame* frame = memory.node_head; frame; frame = frame->next) {
        if (!active && frame->used < frame->capacity) active = frame;
        frame->history = (frame->history << 1) | (frame->used == frame->used_at_review ? 1 : 0);
        frame->used_at_review = frame->used;
    }
    if (active) memory.node_active = active;
}

// ---- series frames ------------------------------------------------------------------------

static size_t frame_room(const SeriesFrame* frame) { return size_t(frame->end - frame->free); }

SeriesFrame* series_frame_new() {
    uint32_t size = memory.current_size;
    if (memory.current_size < memory.largest_size)
        memory.current_size = std::min(memory.current_size * 2, memory.largest_size);
    size_t bytes = page_round(sizeof(SeriesFrame) + size);
    auto* frame = static_cast<SeriesFrame*>(vblock_acquire(bytes));
    frame->total = size + 20;
    frame->free = frame->first();
    frame->end = frame->first() + size;
    frame->bytes = bytes;
    frame->settled = false;
    frame->settled_end = frame->first();
    memory_poison(frame->first(), size);
    // Frames are listed in the order they were made: a collection slides
    // buffers toward the head, so what lives moves into the room of the
    // older frames, whose pages were touched already, and the newest frame
    // is the first to empty. (In address order, frames the system maps below
    // the older ones would take everything the older ones hold at the next
    // collection.)
    frame->next = nullptr;
    frame->prev = memory.series_tail;
    if (memory.series_tail) memory.series_tail->next = frame; else memory.series_head = frame;
    memory.series_tail = frame;
    if (!memory.series_active) memory.series_active = frame;
    return frame;
}

void series_frame_release(SeriesFrame* frame) {
    if (frame->prev) frame->prev->next = frame->next; else memory.series_head = frame->next;
    if (frame->next) frame->next->prev = frame->prev; else memory.series_tail = frame->prev;
    if (memory.series_active == frame) memory.series_active = memory.series_tail;
    memory_unpoison(frame->first(), size_t(frame->end - frame->first()));
    vblock_release(frame, frame->bytes);
}

// A frame takes a buffer only while room stays after it.
static bool frame_fits(const SeriesFrame* frame, uint32_t needed) {
    return !frame->settled && frame_room(frame) > needed;
}

// A frame with less than FRAME_SPARE_MIN bytes free is never chosen, so that
// such a frame cannot stand in for a collection: when no other frame has
// room, the collection runs before a new frame is made.
SeriesFrame* series_frame_find(uint32_t needed) {
    for (SeriesFrame* frame = memory.series_head; frame; frame = frame->next)
        if (frame_fits(frame, needed) && frame_room(frame) >= FRAME_SPARE_MIN) return frame;
    return nullptr;
}

// Whether the series frames hold more than four times as many live bytes as
// free room. After a collection that left them so, a new frame is made at
// once: otherwise the next collections would come ever sooner, each marking
// and moving all that lives to win back little. Room of a quarter of the live
// bytes keeps the collector's work per byte allocated bounded (each
// collection wins back at least a fifth of the frames) while the frames stay
// within one and a quarter times the live data: binary trees peak 2.4 MB
// lower than with room of half, for 3% more instructions.
static bool frames_crowded() {
    size_t room = 0, used = 0;
    for (SeriesFrame* frame = memory.series_head; frame; frame = frame->next) {
        room += frame_room(frame);
        used += size_t(frame->free - frame->first());
    }
    return room * 4 < used;
}

// The next needed bytes of a frame that has room for them.
[[gnu::always_inline]] static inline SeriesBuffer* frame_take(SeriesFrame* frame, uint32_t needed) {
    uint8_t* at = frame->free;
    memory_unpoison(at, needed);
    frame->free += needed;
    return reinterpret_cast<SeriesBuffer*>(at);
}

// Carves needed bytes from the active frame, or from another frame or a new
// one; may run a collection first. Besides the frames running out of room, a
// collection also runs once more than the budget was carved since the last
// one: free room of earlier, larger phases would otherwise be filled before
// any collection, every page of it touched again, and the resident memory
// of a program that keeps little would be set by the frames it once needed.
// While the library loads, frames out of room take a new frame instead of a
// collection (see CARVE_BUDGET_LOAD).
static SeriesBuffer* frame_carve(uint32_t needed) {
    if (memory.carved > memory.carve_budget) collector_auto();
    memory.carved += needed;
    SeriesFrame* frame = memory.series_active;
    if (!frame || !frame_fits(frame, needed)) {
        frame = series_frame_find(needed);
        if (!frame && !memory.loading) {
            collector_auto();
            frame = series_frame_find(needed);
            if (frame && frames_crowded()) frame = nullptr;
        }
        if (!frame) {
            if (needed >= memory.current_size) memory.current_size = memory.largest_size;
            frame = series_frame_new();
            // A heap that a collection left crowded grows until its room is a
            // quarter of what it holds, not by one frame: one frame at a time
            // would collect the whole live heap every few megabytes allocated,
            // a cost that grows with the square of the heap. Torture mode
            // moves everything into fresh frames at each allocation anyway.
            if (!memory.torture)
                while (frames_crowded()) series_frame_new();
        }
        memory.series_active = frame;
    }
    return frame_take(frame, needed);
}

// ---- series buffers ----------------------------------------------------------------------------

// The data size of count units, or internal error no-memory when it does not
// fit the 32-bit sizes of the buffer header.
static uint32_t series_data_size(uint32_t count, uint32_t unit) {
    uint64_t size = (uint64_t(count) * unit + 15) & ~uint64_t(15);
    if (size > SERIES_SIZE_MAX) internal_error(ERR_NO_MEMORY);
    return uint32_t(size);
}

// A head in the middle is rounded down to a whole element, so that element
// indexes stay exact.
static void buffer_init(SeriesBuffer* b, uint32_t size, uint32_t unit, int32_t head_offset,
                        uint32_t place) {
    b->flags = unit | SERIES_IN_USE | SERIES_NEW | place;
    b->node = 0;
    b->size = size;
    uint32_t head = 0;
    if (head_offset == -1) {
        b->flags |= SERIES_HEAD_MIDDLE;
        head = (size / 2) & ~(unit - 1);
    } else if (head_offset > 0) {
        head = std::min(uint32_t(head_offset), size);
    }
    b->head = b->tail = head;
}

// Every allocation but the common one: torture mode, a big buffer, the
// carve budget spent, or no room in the active frame.
[[gnu::noinline]] static SeriesBuffer* series_buffer_new_slow(uint32_t size, uint32_t unit,
                                                              int32_t head_offset) {
    uint32_t needed = size + BUFFER_OVERHEAD;
    if (memory.torture) collector_auto();
    SeriesBuffer* b;
    uint32_t place = 0;
    if (needed >= memory.largest_size) {
        if (!memory.torture) collector_auto();
        b = big_frame_new(needed);
        place = SERIES_BIG;
    } else {
        b = frame_carve(needed);
    }
    buffer_init(b, size, unit, head_offset, place);
    return b;
}

// The common allocation is carved from the active frame with nothing else
// to do; it is kept apart from the rest so that it sets up no frame of its
// own, and inlined into the makers below, whose constant unit and head
// offset leave little of buffer_init.
[[gnu::always_inline]] static inline SeriesBuffer* buffer_new_inline(uint32_t count, uint32_t unit,
                                                                     int32_t head_offset) {
    uint32_t size = series_data_size(count, unit);
    uint32_t needed = size + BUFFER_OVERHEAD;
    SeriesFrame* frame = memory.series_active;
    if (memory.torture || needed >= memory.largest_size || memory.carved > memory.carve_budget ||
        !frame || !frame_fits(frame, needed))
        return series_buffer_new_slow(size, unit, head_offset);
    memory.carved += needed;
    SeriesBuffer* b = frame_take(frame, needed);
    buffer_init(b, size, unit, head_offset, 0);
    return b;
}

SeriesBuffer* series_buffer_new(uint32_t count, uint32_t unit, int32_t head_offset) {
    return buffer_new_inline(count, unit, head_offset);
}

[[gnu::always_inline]] static inline Node series_new_inline(uint32_t count, uint32_t unit,
                                                            int32_t head_offset) {
    SeriesBuffer* b = buffer_new_inline(count, unit, head_offset);
    Node node = node_take_active();
    node_set(node, b);
    b->node = node;
    return node;
}

Node series_new(uint32_t count, uint32_t unit, int32_t head_offset) {
    return series_new_inline(count, unit, head_offset);
}

Node series_new_fixed(uint32_t count, uint32_t unit, int32_t head_offset) {
    uint32_t size = series_data_size(count, unit);
    // Such a buffer counts against the carve budget like one carved from a
    // frame (the next carve collects): a program that makes many (the hash
    // storage of each function's context) would otherwise grow the heap
    // between collections. It never collects itself: its callers do not
    // expect it to.
    memory.carved += size + BUFFER_OVERHEAD;
    auto* b = static_cast<SeriesBuffer*>(heap_alloc(size + sizeof(SeriesBuffer)));
    buffer_init(b, size, unit, head_offset, SERIES_FIXED);
    fixed_buffers.push_back(b);
    Node node = node_take();
    node_set(node, b);
    b->node = node;
    return node;
}

Node series_new_cells(uint32_t count) { return series_new_inline(count, 16, 0); }

Node series_new_cells_unset(uint32_t count) {
    Node node = series_new_cells(count);
    SeriesBuffer* b = series_buffer(node);
    Cell* cells = reinterpret_cast<Cell*>(b->data());
    for (uint32_t i = 0; i < b->size / sizeof(Cell); i++) cell_init(&cells[i], T_UNSET);
    return node;
}

Node series_new_bytes(uint32_t count) { return series_new(count ? count : 16, 1, 0); }

Node series_new_units(uint32_t count, uint32_t unit) {
    return series_new(count ? count : 16 >> (unit >> 1), unit, 0);
}

Node series_new_bytes_filled(uint32_t count, uint8_t byte) {
    Node node = series_new_bytes(count);
    SeriesBuffer* b = series_buffer(node);
    std::memset(b->data(), byte, b->size);
    return node;
}

void series_flags_set(Node node, uint32_t bits) { series_buffer(node)->flags |= bits; }

// ---- growth and copies ------------------------------------------------------------------------------

// Flags that tell where a buffer lives; a buffer that takes another's flags
// keeps its own.
constexpr uint32_t SERIES_PLACE = SERIES_BIG | SERIES_FIXED;

static uint32_t flags_taken(uint32_t from, uint32_t own) {
    return (from & ~(SERIES_PLACE | SERIES_MARK)) | (own & SERIES_PLACE);
}

// Moves the series of buffer to a new buffer of new_size bytes and abandons
// the old one; *old is the old buffer as re-read after the allocation.
static SeriesBuffer* series_move(SeriesBuffer* buffer, int32_t new_size, SeriesBuffer** old) {
    int64_t size = new_size == 0 ? int64_t(buffer->size) * 2 : new_size;
    if (size < 1 || uint64_t(size) > SERIES_SIZE_MAX) internal_error(ERR_NO_MEMORY);
    uint32_t unit = buffer->unit();
    // The old buffer stays reachable while the allocation may collect.
    NodeRoot keep(buffer->node, unit == 16 ? ROOT_BLOCK : ROOT_SERIES);
    SeriesBuffer* fresh = series_buffer_new(uint32_t(size) / unit, unit, 0);
    SeriesBuffer* from = keep.node ? series_buffer(keep.node) : buffer;
    fresh->flags = flags_taken(from->flags, fresh->flags);
    fresh->node = keep.node;
    fresh->tail = fresh->head + std::min(from->tail - from->head, fresh->size);
    if (keep.node) node_set(keep.node, fresh);
    from->node = 0;
    from->flags &= ~SERIES_IN_USE;
    *old = from;
    return fresh;
}

SeriesBuffer* series_grow(SeriesBuffer* buffer, int32_t new_size) {
    SeriesBuffer* old;
    return series_move(buffer, new_size, &old);
}

// Copies the old content from its head, never past the end of either buffer;
// returns the bytes copied.
static uint32_t series_copy_from(SeriesBuffer* fresh, SeriesBuffer* old) {
    uint32_t bytes = std::min(old->size - old->head, fresh->size);
    std::memcpy(fresh->data(), old->head_ptr(), bytes);
    return bytes;
}

SeriesBuffer* series_grow_copy(SeriesBuffer* buffer, int32_t new_size) {
    SeriesBuffer* old;
    SeriesBuffer* fresh = series_move(buffer, new_size, &old);
    series_copy_from(fresh, old);
    return fresh;
}

// Every byte after the copied content is filled, so no byte of the new
// buffer is left undefined.
SeriesBuffer* series_grow_fill(SeriesBuffer* buffer, int32_t new_size, uint8_t byte) {
    SeriesBuffer* old;
    SeriesBuffer* fresh = series_move(buffer, new_size, &old);
    uint32_t copied = series_copy_from(fresh, old);
    std::memset(fresh->data() + copied, byte, fresh->size - copied);
    return fresh;
}

Node series_clone(Node node) {
    NodeRoot keep(node, series_buffer(node)->unit() == 16 ? ROOT_BLOCK : ROOT_SERIES);
    Node clone = series_new(series_buffer(node)->size, 1, 0);
    SeriesBuffer* from = series_buffer(keep.node);
    SeriesBuffer* b = series_buffer(clone);
    // A copy has no owner yet: the ownership table names only the original.
    b->flags = flags_taken(from->flags, b->flags) & ~SERIES_OWNED;
    b->head = 0;
    b->tail = from->tail - from->head;
    std::memcpy(b->data(), from->head_ptr(), from->size - from->head);
    return clone;
}

// ---- big frames and fixed buffers --------------------------------------------------------------------------

SeriesBuffer* big_frame_new(uint32_t bytes) {
    size_t block = page_round(sizeof(BigFrame) + size_t(bytes));
    auto* frame = static_cast<BigFrame*>(vblock_acquire(block));
    frame->size = bytes;
    frame->bytes = block;
    frame->next = nullptr;
    frame->prev = memory.big_tail;
    if (memory.big_tail) memory.big_tail->next = frame; else memory.big_head = frame;
    memory.big_tail = frame;
    return frame->buffer();
}

void big_frame_release(SeriesBuffer* buffer) {
    BigFrame* frame = reinterpret_cast<BigFrame*>(buffer) - 1;
    if (frame->prev) frame->prev->next = frame->next; else memory.big_head = frame->next;
    if (frame->next) frame->next->prev = frame->prev; else memory.big_tail = frame->prev;
    vblock_release(frame, frame->bytes);
}

void big_frames_sweep() {
    for (BigFrame* frame = memory.big_head; frame;) {
        BigFrame* next = frame->next;
        SeriesBuffer* b = frame->buffer();
        if (b->flags & SERIES_MARK) {
            b->flags &= ~SERIES_MARK;
            collector.live_bytes += frame->size;
            collector.live_count++;
        } else {
            node_queue_dead(b->node);
            big_frame_release(b);
        }
        frame = next;
    }
}

void fixed_buffers_sweep() {
    for (size_t i = 0; i < fixed_buffers.size();) {
        SeriesBuffer* b = fixed_buffers[i];
        if (b->flags & SERIES_MARK) {
            b->flags &= ~SERIES_MARK;
            i++;
            continue;
        }
        node_queue_dead(b->node);
        heap_free(b);
        fixed_buffers[i] = fixed_buffers.back();
        fixed_buffers.pop_back();
    }
}

} // namespace kel
