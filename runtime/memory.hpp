// The memory manager: every series buffer (blocks, strings, binaries, hash
// storage, contexts) lives in frames of virtual memory, and values refer to a
// buffer only through a 32-bit node id. The node holds the buffer's address, so
// the collector can move a buffer and re-point its one node.
//
// Rule for callers: no raw pointer into a buffer survives a call that can
// allocate a series (any constructor, any growth) or evaluate; keep the node
// and an index, and re-read series_buffer(node) afterwards.
#pragma once
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
constexpr uint32_t SERIES_OWNED       = 0x00020000;  // owned by an object field

// Header of a series buffer; the data follows it directly. Head and tail are
// byte offsets from the start of the data, so moving a buffer changes nothing in
// it. Inside a series frame a buffer takes size + 24 bytes (header, data, four
// spare bytes), which keeps the frames' figures those of the 20-byte header.
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
    // log2 of the unit: 0, 1, 2 or 4
    uint32_t shift() const { uint32_t u = unit(); return u == 16 ? 4 : u == 4 ? 2 : u == 2 ? 1 : 0; }
    uint32_t length() const { return (tail - head) >> shift(); }
};
static_assert(sizeof(SeriesBuffer) == 20, "the header is five 32-bit words");

constexpr uint32_t NODE_FRAME_CAPACITY = 10000;
constexpr uint32_t SERIES_FRAME_FIRST_SIZE = 1048576;    // 1 MB
constexpr uint32_t SERIES_FRAME_LARGEST_SIZE = 2097152;  // 2 MB, also the big-buffer threshold
constexpr uint32_t FRAME_SPARE_MIN = 52428;              // a frame with less free room is not reused

void memory_setup();
void memory_release_all();

// The buffer a node refers to. Re-read after anything that may allocate.
SeriesBuffer* series_buffer(Node node);

Node node_take();

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
// size) and abandons the old one; returns the new buffer.
SeriesBuffer* series_grow(SeriesBuffer* buffer, uint32_t new_size);
SeriesBuffer* series_grow_copy(SeriesBuffer* buffer, uint32_t new_size);
SeriesBuffer* series_grow_fill(SeriesBuffer* buffer, uint32_t new_size, uint8_t byte);
// A new series of the same size, flags and content (from the head); returns its node.
Node series_clone(Node node);

} // namespace kel
