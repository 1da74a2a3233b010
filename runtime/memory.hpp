// The memory manager: every series buffer (blocks, strings, binaries, hash
// storage, contexts) lives in frames of virtual memory, and values refer to a
// buffer only through a 32-bit node id. The node holds the buffer's address, so
// the collector can move a buffer and re-point its one node.
//
// Rule for callers: no raw pointer into a buffer survives a call that can
// allocate a series (any constructor, any growth) or evaluate; keep the node
// and an index, and re-read series_buffer(node) afterwards. A node id held in
// a C++ local is itself stale after a collection (node frames are emptied and
// their nodes move) unless a NodeRoot or CellRoot holds it (runtime/collector.hpp).
#pragma once
#include "runtime/cell.hpp"
#include <cstddef>
#include <cstdint>

namespace kel {

using Node = uint32_t;  // 0 = no node

// Flags of a series buffer.
constexpr uint32_t SERIES_UNIT_MASK   = 0x1F;        // element size: 1, 2, 4 or 16
constexpr uint32_t SERIES_IN_USE      = 0x80000000;
constexpr uint32_t SERIES_NEW         = 0x20000000;  // set on every new buffer
constexpr uint32_t SERIES_HEAD_MIDDLE = 0x10000000;  // head placed in the middle of the buffer
constexpr uint32_t SERIES_MARK        = 0x08000000;  // collector mark
constexpr uint32_t SERIES_BIG         = 0x01000000;  // the buffer has a big frame of its own
constexpr uint32_t SERIES_FIXED       = 0x00100000;  // lives in a heap block, never moves
constexpr uint32_t SERIES_NEGATED     = 0x00080000;  // bitset negation
constexpr uint32_t SERIES_LIBRARY     = 0x00040000;  // a block of library code (deep copies keep it)
constexpr uint32_t SERIES_OWNED       = 0x00020000;  // owned by an object field
// Bits 8-15 are the evaluator's own (core/interpreter.cpp): how many more
// times it passes over the quiet evaluation of a code block's first
// expression, and whether quiet evaluation failed at one of its later ones.
constexpr uint32_t SERIES_QUIET_SKIPS  = 0x00007F00;
constexpr uint32_t SERIES_QUIET_SKIP   = 0x00000100;
constexpr uint32_t SERIES_QUIET_REFUSED = 0x00008000;

// Header of a series buffer; the data follows it directly. Head and tail are
// byte offsets from the start of the data, so moving a buffer changes nothing in
// it. Inside a series frame a buffer takes size + 20 bytes (header and data,
// nothing spare: a tree of two-value blocks keeps 7% less than with padding to
// 8 bytes). Buffers and their data are only 4-byte aligned, which the two tag
// bits of a node word need: 8-byte elements are read and written with memcpy.
struct SeriesBuffer {
    uint32_t flags;
    Node node;      // the node that refers to this buffer; 0 once abandoned
    uint32_t size;  // capacity of the data area in bytes, a multiple of 16
    uint32_t head;  // byte offset of the first element in use
    uint32_t tail;  // byte offset one past the last element in use

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
    uint8_t* head_ptr() { return data() + head; }
    uint8_t* tail_ptr() { return data() + tail; }
    uint32_t unit() const { return flags & SERIES_UNIT_MASK; }
    // log2 of the unit: 0, 1, 2, 3 (8-byte vector items) or 4
    uint32_t shift() const {
        // log2 by unit; any other unit counts bytes.
        static constexpr uint8_t shifts[SERIES_UNIT_MASK + 1] = {0, 0, 1, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 4};
        return shifts[unit()];
    }
    uint32_t length() const { return (tail - head) >> shift(); }
};
static_assert(sizeof(SeriesBuffer) == 20, "the header is five 32-bit words");

constexpr uint32_t NODE_FRAME_CAPACITY = 10000;
constexpr uint32_t SERIES_FRAME_FIRST_SIZE = 1048576;    // 1 MB
constexpr uint32_t SERIES_FRAME_LARGEST_SIZE = 2097152;  // 2 MB, also the big-buffer threshold
constexpr uint32_t FRAME_SPARE_MIN = 52428;              // a frame with less free room is not reused
constexpr uint32_t BUFFER_OVERHEAD = 20;                 // bytes a buffer takes in a frame beyond its size
constexpr uint32_t ROOT_BLOCK_CELLS = 9748;
// A collection runs once the buffers carved since the last one take more than
// half the bytes it kept, or CARVE_BUDGET_MIN (768 KB; see frame_carve).
constexpr uint64_t CARVE_BUDGET_MIN = 786432;
// The budget while the library loads (program/library_start.cpp, which
// sets memory.loading): the load makes less than twice the library's bytes,
// most of it dead by the end (decoded code, the bodies functions copy), and
// a collection in its middle would mark and move the library made so far
// only to have the settling collection do it again. So while it loads, only
// this budget starts a collection, not frames out of room (a new frame is
// made instead): the library of today then loads without one before it
// settles, and the pages it touches (under 3 MB of frames) keep start-up's
// peak below python3's.
constexpr uint64_t CARVE_BUDGET_LOAD = 4194304;

// ---- node ids -----------------------------------------------------------------
// A node id is (frame slot << 14) | index in the frame; slots start at 1, so 0
// is never a node. On this host a node holds a 64-bit word: the address of its
// buffer, 0 right after node_take, a free-list link (bit 0 set) or, during a
// collection, the id of the node it moved to (bit 1 set).
constexpr uint32_t NODE_INDEX_BITS = 14;
constexpr uint32_t NODE_INDEX_MASK = (1u << NODE_INDEX_BITS) - 1;
constexpr uint32_t NODE_SLOTS = 1u << (32 - NODE_INDEX_BITS);
constexpr uintptr_t NODE_FREE = 1;       // tag of a free node: (next index + 1) << 3 | 1
constexpr uintptr_t NODE_FORWARDED = 2;  // tag of a moved node: new id << 3 | 2

// Every node, indexed by its id: one reserved range of virtual memory in
// which the nodes of the frame in slot s lie from s << NODE_INDEX_BITS. So a
// buffer is found with one load, where a table of frames would take two.
extern uintptr_t* node_table;

// The word a node holds (see above).
inline uintptr_t& node_word(Node node) { return node_table[node]; }

// The buffer a node refers to. Re-read after anything that may allocate.
inline SeriesBuffer* series_buffer(Node node) {
    return reinterpret_cast<SeriesBuffer*>(node_table[node]);
}
// Points a node at its buffer.
inline void node_set(Node node, SeriesBuffer* buffer) {
    node_table[node] = reinterpret_cast<uintptr_t>(buffer);
}

// ---- frames (read by the collector and the memory statistics) -----------------

// A frame of nodes; the node area (capacity words) follows the header.
struct NodeFrame {
    NodeFrame* next;
    NodeFrame* prev;
    uint32_t capacity;
    uint32_t free_head;       // index + 1 of the first free node, 0 when none is free
    uint32_t used;            // nodes handed out
    uint32_t cycle_made;      // the collection count when the frame was made
    uint32_t used_at_review;  // used at the last review
    uint32_t history;         // one bit per review, newest in bit 0: 1 = used unchanged
    uint32_t slot;            // the frame's slot: its nodes lie in node_table from slot << NODE_INDEX_BITS
    bool release;             // emptied by the collector; freed at the next review
    size_t bytes;             // size of the virtual block
    uintptr_t* nodes() { return node_table + (uintptr_t(slot) << NODE_INDEX_BITS); }
};

// A frame of series buffers, walked from first() by adding size + BUFFER_OVERHEAD.
struct SeriesFrame {
    SeriesFrame* next;  // frames are listed in the order they were made
    SeriesFrame* prev;
    uint32_t total;     // data size + 20, the figure statistics report
    uint8_t* free;      // where the next buffer goes
    uint8_t* end;       // one past the last byte of the data area
    size_t bytes;       // size of the virtual block
    bool settled;       // torture mode: holds what start-up made (see memory_settle)
    // Normal mode: the buffers below this address are what start-up made
    // (see memory_settle); first() in a frame that holds none.
    uint8_t* settled_end;
    uint8_t* first() { return reinterpret_cast<uint8_t*>(this + 1); }
};

// A frame holding exactly one buffer of 2 MB or more.
struct BigFrame {
    BigFrame* next;
    BigFrame* prev;
    uint32_t size;      // bytes asked for: buffer size + BUFFER_OVERHEAD
    size_t bytes;       // size of the virtual block
    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};

struct MemoryRecord {
    uint64_t total;            // bytes of virtual memory taken by all frames
    NodeFrame* node_head;      // node frames in creation order
    NodeFrame* node_tail;
    NodeFrame* node_active;    // the frame that serves node_take
    SeriesFrame* series_head;  // series frames in the order they were made
    SeriesFrame* series_active;
    SeriesFrame* series_tail;
    uint32_t first_size;       // data size of the first series frame
    uint32_t current_size;     // data size of the next series frame
    uint32_t largest_size;     // largest series-frame size and the big-buffer threshold
    BigFrame* big_head;        // big frames in creation order
    BigFrame* big_tail;
    bool torture;              // collect and move everything at every allocation
    uint64_t carved;           // bytes carved from series frames since the last collection
    uint64_t carve_budget;     // carved bytes past which the next carve collects first
    bool loading;              // the library loads: collections only past CARVE_BUDGET_LOAD
    uint64_t settled_bytes;    // normal mode: bytes below the frames' settled_end
    uint64_t settled_holes;    // bytes of those that died since they settled
};
extern MemoryRecord memory;

// The static root cell: a block of ROOT_BLOCK_CELLS cells that the collector
// always marks; start-up data (boot values, stacks, symbols) hangs from it.
extern Cell root_cell;
void root_block_new();

// ---- interfaces ---------------------------------------------------------------

// Fills the memory record (no frames yet; any earlier ones are released) and
// reads KEL_GC_TORTURE.
void memory_setup();
// Frees every frame and fixed buffer and empties the record; memory_setup may
// run again afterwards.
void memory_release_all();
// Switches GC torture mode: every series allocation collects (while the
// collector is enabled), every live buffer and node moves, and released frames
// are made inaccessible for a while.
void memory_torture_set(bool on);
bool memory_torture_q();
// Called once start-up made the library: what it made stays in place from
// then on, so that the collections the script's own work runs do not copy it
// again and again.
// In normal mode, runs a collection (start-up's garbage goes, and the
// library's buffers lie packed at the bottom of the frames), sets each
// frame's settled_end at its free pointer and gives the pages of the room
// above it back to the system. A collection then leaves the buffers below settled_end in place:
// a dead one keeps its size, so the frame stays walkable, and loses its node
// and its in-use flag, becoming a hole. Only the buffers above settled_end
// slide down, so a collection copies what survived of the script's own
// buffers, not the library under them. When the holes make up more than
// 1/SETTLED_HOLE_SHARE of the settled bytes, a collection compacts the
// settled buffers too (each within its frame), and the settled bytes start
// over at what is left. New buffers still go to the room above free in any
// frame.
// In torture mode, marks the series frames in use as settled: they hold what
// start-up made, the same in every run. New buffers are never carved from a
// settled frame, and a torture collection moves the buffers of settled
// frames only every TORTURE_SETTLED_PERIOD-th cycle (into new settled
// frames), leaving them in place, their dead buffers' nodes released, in the
// others. Every buffer a script makes still moves at every collection.
void memory_settle();
constexpr uint32_t TORTURE_SETTLED_PERIOD = 16;
constexpr uint32_t SETTLED_HOLE_SHARE = 8;

// Virtual blocks for frames: no-memory when refused, wrong-mem when release fails.
void* vblock_acquire(size_t bytes);
void vblock_release(void* block, size_t bytes);
// Bytes of released blocks kept mapped for reuse (not counted in memory.total).
size_t vblock_pooled_bytes();

inline void memory_fill(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, size_t(end - start));
}
inline void memory_zero_words(uint32_t* first, uint32_t* last) {
    if (last > first) std::memset(first, 0, size_t(last - first) * 4);
}

NodeFrame* node_frame_new(uint32_t capacity);
// A free node set to 0; a new node frame is made when none is free.
Node node_take();
// A free node of the given frame, which must have one.
Node node_take_from(NodeFrame* frame);
// Returns a node to its frame's free list.
void node_release(Node node);
// The frame that holds a node.
NodeFrame* node_frame_of(Node node);
// After a collection: frees emptied frames, picks the active frame and
// records each frame's history.
void node_frames_review();
// Frees a node frame whether or not nodes are in use in it.
void node_frame_release(NodeFrame* frame);

SeriesFrame* series_frame_new();
void series_frame_release(SeriesFrame* frame);
// The first frame from the head with room for needed bytes and at least
// FRAME_SPARE_MIN bytes free; null when none has.
SeriesFrame* series_frame_find(uint32_t needed);

// A buffer of round-up(count x unit, 16) data bytes with no node yet (the
// next collection treats it as garbage until a node points at it).
// head_offset is in bytes, or -1 to place the head in the middle of the buffer.
SeriesBuffer* series_buffer_new(uint32_t count, uint32_t unit, int32_t head_offset);
Node series_new(uint32_t count, uint32_t unit, int32_t head_offset);
Node series_new_fixed(uint32_t count, uint32_t unit, int32_t head_offset);
Node series_new_cells(uint32_t count);
Node series_new_cells_unset(uint32_t count);
Node series_new_bytes(uint32_t count);               // count 0 asks for 16 bytes
Node series_new_units(uint32_t count, uint32_t unit); // count 0 asks for 16 bytes' worth
Node series_new_bytes_filled(uint32_t count, uint8_t byte);
void series_flags_set(Node node, uint32_t bits);

// Growth moves the series to a new buffer (new_size in bytes, 0 = twice the
// size; below 1 raises internal error no-memory) and abandons the old one;
// returns the new buffer, whose node field is the series' node from now on.
// The buffer must have a node.
SeriesBuffer* series_grow(SeriesBuffer* buffer, int32_t new_size);
SeriesBuffer* series_grow_copy(SeriesBuffer* buffer, int32_t new_size);
SeriesBuffer* series_grow_fill(SeriesBuffer* buffer, int32_t new_size, uint8_t byte);
// A new series of the same size, flags and content (from the head); returns its node.
Node series_clone(Node node);

SeriesBuffer* big_frame_new(uint32_t bytes);
void big_frame_release(SeriesBuffer* buffer);
// Collector step after marking: clears marks of marked big buffers, frees the
// others and queues their nodes dead.
void big_frames_sweep();
// The same for buffers outside the frames (series_new_fixed).
void fixed_buffers_sweep();

// ASan bookkeeping of frame bytes that hold no buffer (no-ops without ASan).
void memory_poison(const void* start, size_t bytes);
void memory_unpoison(const void* start, size_t bytes);

} // namespace kel
