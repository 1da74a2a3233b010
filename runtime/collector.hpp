// The collector: a precise, moving mark-and-compact collection over the frames
// of the memory manager. It marks every buffer reachable from the roots, slides
// live buffers of each series frame down into the previous frame or within the
// frame, re-points their nodes, frees the nodes of dead buffers and empties
// sparse node frames, moving their nodes.
//
// What start-up made is settled (memory_settle): its buffers are marked like
// any others but stay in place, and only the buffers made after it slide, so
// a collection copies what survived of the script's own work. A collection
// runs when the frames run out of room, and also once the bytes carved since
// the last one pass a budget (half of what it kept, 768 KB at least), so
// that a program keeping little touches few pages; while the library loads,
// only a budget of 4 MB starts one. KEL_GC_LOG=1 prints what
// each collection kept and moved.
//
// Roots: the root block (root_cell), every slot registered by a CellRoot or
// NodeRoot, and the extra-root callbacks. Marking is precise: each datatype's
// marker (registered by type id) marks the buffers its payload refers to.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

struct CollectorState {
    bool enabled = false;     // automatic collection allowed (start-up switches it on)
    bool collecting = false;  // a cycle runs
    bool node_pass = true;    // node-frame compaction runs at the start of a cycle
    uint32_t age = 5;         // a node frame is emptied after age + 1 unchanged reviews
    uint32_t series_cycles = 0;  // completed collections
    uint32_t nodes_cycles = 0;   // collections that emptied node frames
    // Figures of the work done, for measurement (KEL_GC_LOG prints those of
    // each collection on the error output when set to anything but 0).
    uint64_t moved_bytes = 0;    // bytes of buffers copied to a new place, all collections
    uint64_t moved_count = 0;    // buffers copied, all collections
    uint64_t live_bytes = 0;     // bytes of the buffers the last collection kept
    uint32_t live_count = 0;     // buffers the last collection kept
    bool log = false;
};
extern CollectorState collector;
// Counts every collection the process has run, never reset: a value
// remembered by node id (a node is only freed or renumbered by a collection)
// stays right while this is unchanged.
extern uint32_t collector_epoch;

// Counters to 0, age 5.
void collector_init();
// One full collection, whether or not automatic collection is enabled.
void collector_cycle();
// A collection when automatic collection is enabled and none runs.
void collector_auto();
inline bool collector_active() { return collector.collecting; }

// ---- marking ------------------------------------------------------------------
// Each function takes the address of a node slot: a node that moved in this
// cycle is translated and the slot rewritten. They are for markers and root
// callbacks, i.e. only while a cycle runs.

// Marks the slot's buffer; true when it was not marked before.
bool collector_mark_series(Node* slot);
// Whether the node's buffer is marked already in this cycle, read without a
// call: most references a collection meets (a word's context, a shared
// block) lead to a buffer marked before, and a marker that asks first skips
// the calls that would find so. False for a node that moved in this cycle,
// whose slot the full marker must still rewrite.
inline bool collector_marked_q(Node node) {
    uintptr_t content = node_word(node);
    return content && !(content & (NODE_FREE | NODE_FORWARDED)) &&
           (reinterpret_cast<const SeriesBuffer*>(content)->flags & SERIES_MARK);
}
// Marks the buffer and, when newly marked, the values from its head to its tail.
bool collector_mark_block(Node* slot);
// Marks a context through the registered context marker (a block until one is).
void collector_mark_context(Node* slot);
// Marks every cell of [first, end) by its datatype's marker.
void collector_mark_values(Cell* first, Cell* end);
// Rewrites each node of [first, end) that moved in this cycle.
void collector_update_refs(Node* first, Node* end);

// A marker marks what one cell of its datatype refers to.
using CellMarker = void (*)(Cell* cell);
void collector_register_marker(uint8_t type, CellMarker marker);
using ContextMarker = void (*)(Node* slot);
void collector_register_context_marker(ContextMarker marker);

// ---- extra roots and sweep hooks ------------------------------------------------
// A root callback marks what its module holds (stacks, tables) with the
// functions above. Removal leaves the order of the others unchanged.
using RootMarker = void (*)();
void collector_add_root(RootMarker marker);
void collector_remove_root(RootMarker marker);
// A sweep hook runs after marking, before any buffer moves or node is freed:
// marks are still set, and collector_update_refs still translates moved nodes.
using SweepHook = void (*)();
void collector_add_sweep(SweepHook hook);
void collector_remove_sweep(SweepHook hook);
// Forgets every root callback and sweep hook: the modules' state went with a
// released memory manager, and each module registers again when it starts.
void collector_roots_forget();

// Nodes of dead buffers wait here and return to their frames in one pass.
void node_queue_dead(Node node);
void dead_nodes_flush();

// ---- root slots -----------------------------------------------------------------
// What a registered slot holds: a value cell (marked by its datatype), or a
// node whose buffer holds cells (marked as a block) or plain data.
enum RootKind : uint8_t { ROOT_CELL, ROOT_BLOCK, ROOT_SERIES };

// Registered slots as a stack (holders are mostly destroyed in reverse
// order): base .. top in use, end the capacity. The array is never freed, so
// holders with static storage may unregister at exit.
struct RootSlot {
    void* slot;  // null once unregistered out of order
    RootKind kind;
};
struct RootStack {
    RootSlot* base;
    RootSlot* top;
    RootSlot* end;
};
extern RootStack root_stack;

// Doubles the capacity of the stack.
void root_stack_grow();
// Unregisters a slot that is not the top one (its entry becomes null).
void root_slot_forget(void* slot);

inline void root_slot_push(void* slot, RootKind kind) {
    if (root_stack.top == root_stack.end) root_stack_grow();
    *root_stack.top++ = {slot, kind};
}
inline void root_slot_pop(void* slot) {
    if (root_stack.top != root_stack.base && root_stack.top[-1].slot == slot) root_stack.top--;
    else root_slot_forget(slot);
    while (root_stack.top != root_stack.base && !root_stack.top[-1].slot) root_stack.top--;
}

// A value held by C++ code across anything that can allocate. The collector
// marks it and rewrites its node when the node moves.
struct CellRoot {
    Cell cell;
    CellRoot() { cell_init(&cell, T_NONE); root_slot_push(&cell, ROOT_CELL); }
    explicit CellRoot(const Cell& value) : cell(value) { root_slot_push(&cell, ROOT_CELL); }
    ~CellRoot() { root_slot_pop(&cell); }
    CellRoot(const CellRoot&) = delete;
    CellRoot& operator=(const CellRoot&) = delete;
};

// A series node held by C++ code across anything that can allocate.
struct NodeRoot {
    Node node;
    explicit NodeRoot(Node n = 0, RootKind kind = ROOT_BLOCK) : node(n) { root_slot_push(&node, kind); }
    ~NodeRoot() { root_slot_pop(&node); }
    NodeRoot(const NodeRoot&) = delete;
    NodeRoot& operator=(const NodeRoot&) = delete;
};

} // namespace kel
