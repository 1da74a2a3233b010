// The collection cycle: node-frame compaction, marking from the roots, sweep
// hooks, compaction of the series frames, the big-frame and fixed-buffer
// sweeps and the node-frame review.
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/start.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace kel {

CollectorState collector;

// ---- the marker table ---------------------------------------------------------------

// Series whose buffer holds value cells: word 2 is the block.
static bool block_mark(Node* slot);
static void mark_block_family(Cell* c) { block_mark(&c->w2); }
// Strings: word 2 is the text, word 3 (when set) a conversion buffer.
static void mark_string_family(Cell* c) {
    collector_mark_series(&c->w2);
    if (c->w3) collector_mark_series(&c->w3);
}
// Byte series without a second buffer.
static void mark_bytes_family(Cell* c) { collector_mark_series(&c->w2); }

// One marker per type id (all 256 ids, so any header byte indexes safely);
// null for types whose payload refers to no buffer.
static constexpr std::array<CellMarker, 256> markers_initial() {
    std::array<CellMarker, 256> m{};
    for (uint8_t t : {T_BLOCK, T_PAREN, T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH, T_HASH, T_MAP})
        m[t] = mark_block_family;
    for (uint8_t t : {T_STRING, T_FILE, T_URL, T_TAG, T_EMAIL, T_REF}) m[t] = mark_string_family;
    for (uint8_t t : {T_BINARY, T_VECTOR, T_BITSET}) m[t] = mark_bytes_family;
    return m;
}
static std::array<CellMarker, 256> markers = markers_initial();

static ContextMarker context_marker = nullptr;

void collector_register_marker(uint8_t type, CellMarker marker) { markers[type] = marker; }
void collector_register_context_marker(ContextMarker marker) { context_marker = marker; }

// ---- marking ----------------------------------------------------------------------------

// Buffers marked as blocks whose values are still to be marked. A work list
// instead of recursion keeps the native stack flat for deeply nested blocks.
// A plain array, not a vector: a push is a compare and a store on the path
// every block value of every collection takes.
struct GrayStack {
    SeriesBuffer** base = nullptr;
    SeriesBuffer** top = nullptr;
    SeriesBuffer** end = nullptr;
};
static GrayStack gray;

[[gnu::noinline]] static void gray_grow() {
    size_t used = size_t(gray.top - gray.base);
    size_t capacity = used ? used * 2 : 4096;
    auto* items = static_cast<SeriesBuffer**>(std::realloc(gray.base, capacity * sizeof(SeriesBuffer*)));
    if (!items) runtime_error_exit(RUNTIME_OUT_OF_MEMORY, __builtin_return_address(0));
    gray = {items, items + used, items + capacity};
}

static void gray_push(SeriesBuffer* b) {
    if (gray.top == gray.end) gray_grow();
    *gray.top++ = b;
}

// The node a slot refers to after the moves of this cycle; rewrites the slot.
static uintptr_t node_content_forwarded(Node* slot) {
    Node node = *slot;
    uintptr_t content = node_word(node);
    if (content & NODE_FORWARDED) {
        node = Node(content >> 3);
        *slot = node;
        content = node_word(node);
    }
    return content;
}

// Marks the slot's buffer; returns it when it was not marked before, else null.
static SeriesBuffer* buffer_mark(Node* slot) {
    if (!*slot) return nullptr;
    uintptr_t content = node_content_forwarded(slot);
    // A node without a buffer (just taken, or free) marks nothing.
    if (content == 0 || (content & NODE_FREE)) return nullptr;
    auto* b = reinterpret_cast<SeriesBuffer*>(content);
    if (b->flags & SERIES_MARK) return nullptr;
    b->flags |= SERIES_MARK;
    return b;
}

// Marks a block's buffer and, when newly marked, queues its values.
static bool block_mark(Node* slot) {
    SeriesBuffer* b = buffer_mark(slot);
    if (!b) return false;
    if (b->unit() == 16) gray_push(b);
    return true;
}

bool collector_mark_series(Node* slot) { return buffer_mark(slot) != nullptr; }

bool collector_mark_block(Node* slot) { return block_mark(slot); }

void collector_mark_context(Node* slot) {
    if (context_marker) context_marker(slot); else collector_mark_block(slot);
}

void collector_mark_values(Cell* first, Cell* end) {
    for (Cell* c = first; c < end; c++)
        if (CellMarker marker = markers[cell_type(c)]) marker(c);
}

static void mark_drain() {
    while (gray.top != gray.base) {
        SeriesBuffer* b = *--gray.top;
        uint32_t tail = std::min(b->tail, b->size);
        uint32_t head = std::min(b->head, tail);
        auto* first = reinterpret_cast<Cell*>(b->head_ptr());
        collector_mark_values(first, first + (tail - head) / sizeof(Cell));
    }
}

void collector_update_refs(Node* first, Node* end) {
    for (Node* slot = first; slot < end; slot++)
        if (*slot) node_content_forwarded(slot);
}

// ---- roots ----------------------------------------------------------------------------------

RootStack root_stack = {nullptr, nullptr, nullptr};

void root_stack_grow() {
    size_t used = size_t(root_stack.top - root_stack.base);
    size_t capacity = used ? used * 2 : 256;
    auto* slots = static_cast<RootSlot*>(std::realloc(root_stack.base, capacity * sizeof(RootSlot)));
    if (!slots) runtime_error_exit(RUNTIME_OUT_OF_MEMORY, __builtin_return_address(0));
    root_stack = {slots, slots + used, slots + capacity};
}

void root_slot_forget(void* slot) {
    for (RootSlot* r = root_stack.top; r-- > root_stack.base;)
        if (r->slot == slot) { r->slot = nullptr; break; }
}

static std::vector<RootMarker> extra_roots;
static std::vector<SweepHook> sweep_hooks;

void collector_add_root(RootMarker marker) { extra_roots.push_back(marker); }
void collector_remove_root(RootMarker marker) {
    auto it = std::find(extra_roots.begin(), extra_roots.end(), marker);
    if (it != extra_roots.end()) *it = nullptr;
}

void collector_add_sweep(SweepHook hook) { sweep_hooks.push_back(hook); }
void collector_remove_sweep(SweepHook hook) {
    auto it = std::find(sweep_hooks.begin(), sweep_hooks.end(), hook);
    if (it != sweep_hooks.end()) *it = nullptr;
}

void collector_roots_forget() {
    extra_roots.clear();
    sweep_hooks.clear();
}

static void mark_roots() {
    collector_mark_values(&root_cell, &root_cell + 1);
    for (RootSlot* slot = root_stack.base; slot < root_stack.top; slot++) {
        RootSlot& r = *slot;
        if (!r.slot) continue;
        switch (r.kind) {
        case ROOT_CELL: collector_mark_values(static_cast<Cell*>(r.slot), static_cast<Cell*>(r.slot) + 1); break;
        case ROOT_BLOCK: collector_mark_block(static_cast<Node*>(r.slot)); break;
        case ROOT_SERIES: collector_mark_series(static_cast<Node*>(r.slot)); break;
        }
    }
    mark_drain();
    for (size_t i = 0; i < extra_roots.size(); i++) {
        if (!extra_roots[i]) continue;
        extra_roots[i]();
        mark_drain();
    }
}

// ---- dead nodes -------------------------------------------------------------------------------

constexpr size_t DEAD_QUEUE_CAPACITY = 20000;
static Node dead_queue[DEAD_QUEUE_CAPACITY];
static size_t dead_count = 0;

void node_queue_dead(Node node) {
    if (!node) return;
    if (dead_count == DEAD_QUEUE_CAPACITY) dead_nodes_flush();
    dead_queue[dead_count++] = node;
}

// A node id names its frame, so the nodes return in queue order.
void dead_nodes_flush() {
    for (size_t i = 0; i < dead_count; i++) node_release(dead_queue[i]);
    dead_count = 0;
}

// ---- node-frame compaction --------------------------------------------------------------------

static bool node_frame_serves(const NodeFrame* frame) { return frame->free_head && !frame->release; }

// A frame other than the one being emptied that can take a node: the active
// frame, else the first serving frame, else a new one.
static NodeFrame* node_target(const NodeFrame* emptied) {
    NodeFrame* active = memory.node_active;
    if (active && active != emptied && node_frame_serves(active)) return active;
    for (NodeFrame* f = memory.node_head; f; f = f->next)
        if (f != emptied && node_frame_serves(f)) return memory.node_active = f;
    return memory.node_active = node_frame_new(NODE_FRAME_CAPACITY);
}

// Moves every node in use out of the frame, leaving in each vacated node the id
// of its new node, and flags the frame for release at the next review.
static void node_frame_empty(NodeFrame* frame) {
    frame->release = true;
    uintptr_t* nodes = frame->nodes();
    for (uint32_t i = 0; i < frame->capacity; i++) {
        uintptr_t content = nodes[i];
        if (content & NODE_FREE) continue;
        Node moved = node_take_from(node_target(frame));
        node_word(moved) = content;
        if (content) reinterpret_cast<SeriesBuffer*>(content)->node = moved;
        nodes[i] = (uintptr_t(moved) << 3) | NODE_FORWARDED;
    }
    frame->used = 0;
}

// Empties, from the tail, each frame whose used count stayed the same over the
// last age + 1 reviews, that is less than half full, while more than a frame's
// worth of nodes is free elsewhere. True when a frame was emptied.
static bool node_frames_compact() {
    NodeFrame* active = memory.node_head;
    while (active && !node_frame_serves(active)) active = active->next;
    if (!active) return false;
    memory.node_active = active;
    int64_t free_count = 0;
    for (NodeFrame* f = memory.node_head; f; f = f->next)
        if (node_frame_serves(f)) free_count += f->capacity - f->used;
    uint32_t stable = (1u << (collector.age + 1)) - 1;
    bool emptied = false;
    for (NodeFrame* f = memory.node_tail; f; f = f->prev) {
        if (f == memory.node_active || f->release) continue;
        if ((f->history & stable) != stable || f->used >= NODE_FRAME_CAPACITY / 2) continue;
        if (free_count <= int64_t(NODE_FRAME_CAPACITY)) continue;
        node_frame_empty(f);
        free_count -= NODE_FRAME_CAPACITY;
        emptied = true;
    }
    return emptied;
}

// Torture mode: every node frame is emptied into new frames, so every node id
// changes in every cycle.
static bool node_frames_evacuate() {
    std::vector<NodeFrame*> old;
    for (NodeFrame* f = memory.node_head; f; f = f->next) old.push_back(f);
    if (old.empty()) return false;
    for (NodeFrame* f : old) f->release = true;
    memory.node_active = node_frame_new(NODE_FRAME_CAPACITY);
    for (NodeFrame* f : old) node_frame_empty(f);
    return true;
}

// ---- series-frame compaction ------------------------------------------------------------------

static size_t frame_room(const SeriesFrame* frame) { return size_t(frame->end - frame->free); }

// Moves a live buffer to its new place and re-points its node. A buffer that
// slides down inside its frame may overlap its new place; one that goes to
// another frame never does, and is copied with memcpy: the sanitizer's
// memmove copies a byte at a time, which made every torture cycle (all live
// buffers moved to new frames) cost several times what the copy needs.
static void buffer_move(SeriesBuffer* b, uint8_t* to, uint32_t bytes) {
    memory_unpoison(to, bytes);
    auto* from = reinterpret_cast<uint8_t*>(b);
    if (to + bytes <= from || from + bytes <= to) std::memcpy(to, from, bytes);
    else std::memmove(to, from, bytes);
    auto* moved = reinterpret_cast<SeriesBuffer*>(to);
    node_set(moved->node, moved);
    collector.moved_bytes += bytes;
    collector.moved_count++;
}

static void count_live(uint32_t bytes) {
    collector.live_bytes += bytes;
    collector.live_count++;
}

// Sweeps the settled buffers of [first, end) in place: marks are cleared, and
// each dead buffer becomes a hole, its node queued and its flags 0, keeping
// its size so that the frame stays walkable. Returns the bytes of the buffers
// that became holes in this sweep.
static uint64_t settled_sweep(uint8_t* first, uint8_t* end) {
    uint64_t died = 0;
    for (uint8_t* at = first; at < end;) {
        auto* b = reinterpret_cast<SeriesBuffer*>(at);
        uint32_t bytes = b->size + BUFFER_OVERHEAD;
        at += bytes;
        if (b->flags & SERIES_MARK) {
            b->flags &= ~SERIES_MARK;
            count_live(bytes);
        } else if (b->flags) {
            node_queue_dead(b->node);
            b->node = 0;
            b->flags = 0;
            died += bytes;
        }
    }
    return died;
}

// Compacts one frame: live buffers go to the free room of the previous frame
// while more than FRAME_SPARE_MIN bytes are left there and they fit; the rest
// slide down to the first free byte of the frame. Dead buffers' nodes are
// queued; marks are cleared. An emptied frame is released unless it is the last.
// The settled buffers (below settled_end) are only swept, unless
// settled_too: they then slide down within the frame like the others (never
// into the previous frame, whose room is the script's), and settled_end
// follows the last of them.
static void series_frame_compact(SeriesFrame* frame, bool settled_too) {
    SeriesFrame* prev = frame->prev;
    uint8_t* settled_end = frame->settled_end;
    uint8_t* at = frame->first();
    if (!settled_too) {
        memory.settled_holes += settled_sweep(at, settled_end);
        at = settled_end;
    }
    bool to_prev = false;
    uint8_t* gap = nullptr;  // first free byte inside the frame, once there is one
    uint8_t* old_free = frame->free;
    while (at < old_free) {
        if (at == settled_end) {
            // The script's buffers begin: they may go to the previous frame.
            if (settled_too) frame->settled_end = gap ? gap : at;
            to_prev = prev && frame_room(prev) > FRAME_SPARE_MIN;
        }
        auto* b = reinterpret_cast<SeriesBuffer*>(at);
        uint32_t bytes = b->size + BUFFER_OVERHEAD;
        uint8_t* next = at + bytes;
        if (!(b->flags & SERIES_MARK)) {
            node_queue_dead(b->node);
            if (!gap) gap = at;
        } else {
            b->flags &= ~SERIES_MARK;
            count_live(bytes);
            if (to_prev && bytes <= frame_room(prev)) {
                buffer_move(b, prev->free, bytes);
                prev->free += bytes;
                to_prev = frame_room(prev) > FRAME_SPARE_MIN;
                if (!gap) gap = at;
            } else {
                to_prev = false;
                if (gap) {
                    buffer_move(b, gap, bytes);
                    gap += bytes;
                }
            }
        }
        at = next;
    }
    if (settled_too && settled_end == old_free) frame->settled_end = gap ? gap : old_free;
    if (gap) {
        frame->free = gap;
        memory_poison(gap, size_t(old_free - gap));
    }
    if (frame->free == frame->first() && frame != memory.series_tail) series_frame_release(frame);
}

// The settled buffers are compacted too once their holes make up more than
// 1/SETTLED_HOLE_SHARE of them.
static void series_frames_compact() {
    bool settled_too = memory.settled_holes * SETTLED_HOLE_SHARE > memory.settled_bytes;
    for (SeriesFrame* frame = memory.series_head; frame;) {
        SeriesFrame* next = frame->next;
        series_frame_compact(frame, settled_too);
        frame = next;
    }
    if (!settled_too) return;
    memory.settled_bytes = 0;
    memory.settled_holes = 0;
    for (SeriesFrame* frame = memory.series_head; frame; frame = frame->next)
        memory.settled_bytes += uint64_t(frame->settled_end - frame->first());
}

// Moves a live buffer of an evacuated frame to the target frame, making a new
// target (settled like the frame it replaces) when it has no room.
static void buffer_evacuate(SeriesBuffer* b, uint32_t bytes, SeriesFrame*& to, bool settled) {
    if (!to || frame_room(to) < bytes) {
        if (bytes >= memory.current_size) memory.current_size = memory.largest_size;
        to = series_frame_new();
        to->settled = settled;
    }
    buffer_move(b, to->free, bytes);
    to->free += bytes;
}

// Torture mode: every live buffer moves into new frames and every old frame is
// released (and kept inaccessible for a while), so any stale address faults.
// Settled frames (what start-up made; see memory_settle) take part only every
// TORTURE_SETTLED_PERIOD-th cycle, their buffers going to new settled frames:
// copying the whole library at every allocation made a tortured run cost its
// allocations times the library's size. In the other cycles they stay in
// place and are only swept (settled_sweep): their dead buffers become holes.
static void series_frames_evacuate() {
    bool settled_move = collector.series_cycles % TORTURE_SETTLED_PERIOD == 0;
    std::vector<SeriesFrame*> old;
    for (SeriesFrame* f = memory.series_head; f; f = f->next) {
        if (f->settled && !settled_move) settled_sweep(f->first(), f->free);
        else old.push_back(f);
    }
    SeriesFrame* to = series_frame_new();
    SeriesFrame* to_settled = nullptr;
    for (SeriesFrame* frame : old) {
        for (uint8_t* at = frame->first(); at < frame->free;) {
            auto* b = reinterpret_cast<SeriesBuffer*>(at);
            uint32_t bytes = b->size + BUFFER_OVERHEAD;
            at += bytes;
            if (!(b->flags & SERIES_MARK)) {
                node_queue_dead(b->node);
                continue;
            }
            b->flags &= ~SERIES_MARK;
            count_live(bytes);
            if (frame->settled) buffer_evacuate(b, bytes, to_settled, true);
            else buffer_evacuate(b, bytes, to, false);
        }
    }
    for (SeriesFrame* frame : old) series_frame_release(frame);
    memory.series_active = to;
}

// ---- the cycle ------------------------------------------------------------------------------

uint32_t collector_epoch = 1;

void collector_init() {
    collector.series_cycles = 0;
    collector.nodes_cycles = 0;
    collector.age = 5;
}

// One line of figures for the collection that just ran (KEL_GC_LOG).
static void cycle_log(uint64_t moved_before, uint64_t total_before) {
    size_t frames = 0, used = 0;
    for (SeriesFrame* f = memory.series_head; f; f = f->next) {
        frames++;
        used += size_t(f->free - f->first());
    }
    std::fprintf(stderr,
                 "gc %u: kept %u buffers, %llu KB; moved %llu KB; series frames %zu, %zu KB used;"
                 " memory %llu KB before, %llu KB after, pool %zu KB\n",
                 collector.series_cycles, collector.live_count,
                 (unsigned long long)(collector.live_bytes >> 10),
                 (unsigned long long)((collector.moved_bytes - moved_before) >> 10), frames, used >> 10,
                 (unsigned long long)(total_before >> 10), (unsigned long long)(memory.total >> 10),
                 vblock_pooled_bytes() >> 10);
}

void collector_cycle() {
    if (collector.collecting) return;
    collector.collecting = true;
    uint64_t moved_before = collector.moved_bytes, total_before = memory.total;
    collector.live_bytes = 0;
    collector.live_count = 0;
    bool nodes_moved = false;
    if (collector.node_pass) nodes_moved = memory.torture ? node_frames_evacuate() : node_frames_compact();
    mark_roots();
    for (size_t i = 0; i < sweep_hooks.size(); i++)
        if (sweep_hooks[i]) sweep_hooks[i]();
    if (memory.torture) series_frames_evacuate(); else series_frames_compact();
    big_frames_sweep();
    fixed_buffers_sweep();
    dead_nodes_flush();
    node_frames_review();
    if (nodes_moved) collector.nodes_cycles++;
    memory.carved = 0;
    memory.carve_budget = std::max<uint64_t>(memory.loading ? CARVE_BUDGET_LOAD : CARVE_BUDGET_MIN,
                                             collector.live_bytes / 2);
    if (collector.log) cycle_log(moved_before, total_before);
    collector.series_cycles++;
    collector_epoch++;
    collector.collecting = false;
}

void collector_auto() {
    if (collector.enabled && !collector.collecting) collector_cycle();
}

} // namespace kel
