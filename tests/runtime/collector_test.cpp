#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/memory_stats.hpp"
#include "tests/support/memory_fixture.hpp"
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

uint32_t nodes_used() {
    uint32_t n = 0;
    for (NodeFrame* f = memory.node_head; f; f = f->next) n += f->used;
    return n;
}

int count_frames(SeriesFrame* f) { int n = 0; for (; f; f = f->next) n++; return n; }
int count_frames(NodeFrame* f) { int n = 0; for (; f; f = f->next) n++; return n; }
int count_frames(BigFrame* f) { int n = 0; for (; f; f = f->next) n++; return n; }

Cell* cells_of(Node block) { return reinterpret_cast<Cell*>(series_buffer(block)->head_ptr()); }

// A new cell at the tail of the block in *slot (a rooted slot), grown when
// full. Write node ids into it only after this call: growth may collect.
Cell* block_slot_new(Node* slot) {
    SeriesBuffer* b = series_buffer(*slot);
    if (b->tail + sizeof(Cell) > b->size) b = series_grow_copy(b, int32_t(std::max(b->size * 2, 64u)));
    auto* cell = reinterpret_cast<Cell*>(b->tail_ptr());
    b->tail += sizeof(Cell);
    cell_init(cell, T_NONE);
    return cell;
}

void bytes_write(Node node, const std::string& text) {
    SeriesBuffer* b = series_buffer(node);
    std::memcpy(b->data(), text.data(), text.size());
    b->tail = uint32_t(text.size());
}

std::string bytes_read(Node node) {
    SeriesBuffer* b = series_buffer(node);
    return std::string(reinterpret_cast<char*>(b->head_ptr()), b->tail - b->head);
}

// ---- the graph model ------------------------------------------------------------
// Block id holds: integer id, a string (with a conversion buffer), and a
// reference to the blocks id/2 and id/3, under the various block types.

std::string text_of(int id) {
    std::string unit = "blk-" + std::to_string(id) + ";";
    std::string text;
    while (text.size() < size_t(8 + id % 40)) text += unit;
    return text;
}
std::string conversion_of(int id) { return "cv" + std::to_string(id % 1000000); }

std::vector<int> children_of(int id) {
    std::vector<int> out;
    for (int c : {id / 2, id / 3})
        if (c > 0 && std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
    return out;
}

const uint8_t BLOCK_TYPES[] = {T_BLOCK, T_PAREN, T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH, T_HASH, T_MAP};
const uint8_t STRING_TYPES[] = {T_STRING, T_FILE, T_URL, T_TAG, T_EMAIL, T_REF};

// Checks every block reachable from the given ones against the model; returns
// the ids seen.
std::set<int> graph_check(const std::vector<Node>& from) {
    std::set<int> seen;
    std::vector<Node> todo = from;
    while (!todo.empty()) {
        Node block = todo.back();
        todo.pop_back();
        Cell* c = cells_of(block);
        EXPECT_EQ(cell_type(&c[0]), T_INTEGER);
        int id = int(c[0].w2);
        if (!seen.insert(id).second) continue;
        EXPECT_EQ(cell_type(&c[1]), STRING_TYPES[id % 6]);
        EXPECT_EQ(bytes_read(c[1].w2), text_of(id));
        EXPECT_EQ(bytes_read(c[1].w3), conversion_of(id));
        std::vector<int> children = children_of(id);
        EXPECT_EQ(series_buffer(block)->length(), 2 + children.size()) << id;
        if (series_buffer(block)->length() != 2 + children.size()) continue;
        for (size_t k = 0; k < children.size(); k++) {
            EXPECT_EQ(cell_type(&c[2 + k]), BLOCK_TYPES[(id + k) % 8]);
            EXPECT_EQ(cells_of(c[2 + k].w2)[0].w2, uint32_t(children[k]));
            todo.push_back(c[2 + k].w2);
        }
    }
    return seen;
}

std::set<int> model_reachable(const std::vector<int>& roots) {
    std::set<int> seen;
    std::vector<int> todo = roots;
    while (!todo.empty()) {
        int id = todo.back();
        todo.pop_back();
        if (!seen.insert(id).second) continue;
        for (int c : children_of(id)) todo.push_back(c);
    }
    return seen;
}

} // namespace

// Thousands of blocks and strings that refer to each other are built while
// the collector runs (with garbage in between); then only what the root
// block, a CellRoot and NodeRoots hold stays, intact, and the rest is freed.
TEST(Collector, KeptGraphSurvivesIntactAndTheRestIsReclaimed) {
    memory_fresh(true);
    collector.enabled = true;
    const int count = memory.torture ? 300 : 2500;
    const uint32_t garbage = memory.torture ? 16 : 3000;

    NodeRoot builder(series_new_cells(16));  // block id is cell id - 1
    for (int id = 1; id <= count; id++) {
        std::string text = text_of(id);
        NodeRoot block(series_new_cells(4));
        NodeRoot string(series_new_bytes(uint32_t(text.size())), ROOT_SERIES);
        NodeRoot conversion(series_new_bytes(8), ROOT_SERIES);
        series_new_bytes(garbage);
        bytes_write(string.node, text);
        bytes_write(conversion.node, conversion_of(id));
        SeriesBuffer* b = series_buffer(block.node);
        auto* c = reinterpret_cast<Cell*>(b->data());
        cell_init(&c[0], T_INTEGER);
        c[0].w2 = uint32_t(id);
        cell_init(&c[1], STRING_TYPES[id % 6]);
        c[1].w2 = string.node;
        c[1].w3 = conversion.node;
        std::vector<int> children = children_of(id);
        for (size_t k = 0; k < children.size(); k++) {
            cell_init(&c[2 + k], BLOCK_TYPES[(id + k) % 8]);
            c[2 + k].w2 = cells_of(builder.node)[children[k] - 1].w2;
        }
        b->tail = uint32_t((2 + children.size()) * sizeof(Cell));
        Cell* slot = block_slot_new(&builder.node);
        cell_init(slot, T_BLOCK);
        slot->w2 = block.node;
    }
    std::vector<Node> all;
    for (int id = 1; id <= count; id++) all.push_back(cells_of(builder.node)[id - 1].w2);
    ASSERT_EQ(graph_check(all).size(), size_t(count));
    EXPECT_GT(collector.series_cycles, 0u);

    // Roots: every 97th block in the root block, the last block in a
    // CellRoot, the one before in a NodeRoot, and block 5's string alone.
    std::vector<int> roots;
    for (int id = 97; id <= count; id += 97) {
        Cell* slot = block_slot_new(&root_cell.w2);
        cell_copy(&cells_of(builder.node)[id - 1], slot);
        roots.push_back(id);
    }
    CellRoot last(cells_of(builder.node)[count - 1]);
    NodeRoot before_last(cells_of(builder.node)[count - 2].w2);
    NodeRoot string5(cells_of(cells_of(builder.node)[4].w2)[1].w2, ROOT_SERIES);
    roots.push_back(count);
    roots.push_back(count - 1);
    std::set<int> expected = model_reachable(roots);

    uint64_t in_use = memory_stats(0, 1);
    builder.node = 0;
    collector_cycle();
    collector_cycle();

    std::vector<Node> from = {last.cell.w2, before_last.node};
    SeriesBuffer* root = series_buffer(root_cell.w2);
    for (uint32_t i = 0; i < root->length(); i++) from.push_back(cells_of(root_cell.w2)[i].w2);
    EXPECT_EQ(graph_check(from), expected);
    EXPECT_EQ(bytes_read(string5.node), text_of(5));
    // Three series per kept block, block 5's string when its block went, the root block.
    uint32_t live = uint32_t(3 * expected.size()) + (expected.count(5) ? 0 : 1) + 1;
    EXPECT_EQ(nodes_used(), live);
    EXPECT_LT(memory_stats(0, 1), in_use);
}

TEST(Collector, DisabledMakesANewFrameWhereEnabledCollects) {
    for (bool enabled : {false, true}) {
        SCOPED_TRACE(enabled);
        memory_fresh(true);
        memory_torture_set(false);
        collector.enabled = enabled;
        NodeRoot kept(series_new_bytes(100), ROOT_SERIES);
        bytes_write(kept.node, "kept");
        uint32_t cycles = collector.series_cycles;
        while (count_frames(memory.series_head) == 1 && collector.series_cycles == cycles)
            series_new_bytes(10000);
        EXPECT_EQ(count_frames(memory.series_head), enabled ? 1 : 2);
        EXPECT_EQ(collector.series_cycles, cycles + (enabled ? 1 : 0));
        EXPECT_EQ(bytes_read(kept.node), "kept");
    }
}

// Live buffers move into the previous frame only while more than 52,428
// bytes are free there; buffers take multiples of 4 bytes, so the rooms
// at the limit and just past it are 52,428 and 52,432.
TEST(Collector, CompactionIntoThePreviousFrameNeedsMoreThanTheSpareRoom) {
    struct Case { uint32_t room; bool into_previous; };
    for (Case c : {Case{52428, false}, Case{52432, true}}) {
        SCOPED_TRACE(c.room);
        memory_fresh(false);
        memory_torture_set(false);
        series_frame_new();
        SeriesFrame* previous = memory.series_head;
        SeriesFrame* frame = previous->next;
        ASSERT_TRUE(frame);
        memory.series_active = previous;
        // Buffers take 16n + 20 bytes: each buffer of size 0 shifts the room by 4.
        NodeRoot shim1(0, ROOT_SERIES), shim2(0, ROOT_SERIES), shim3(0, ROOT_SERIES);
        NodeRoot* shims[] = {&shim1, &shim2, &shim3};
        for (NodeRoot* shim : shims)
            if ((previous->end - previous->free - c.room - BUFFER_OVERHEAD) % 16)
                shim->node = series_new(0, 1, 0);
        uint32_t room = uint32_t(previous->end - previous->free);
        NodeRoot filler(series_new_bytes(room - c.room - BUFFER_OVERHEAD), ROOT_SERIES);
        ASSERT_EQ(uint32_t(previous->end - previous->free), c.room);
        uint8_t* previous_free = previous->free;
        memory.series_active = frame;
        series_new_bytes(64);  // dead, first in the frame
        NodeRoot live(series_new_bytes(64), ROOT_SERIES);
        bytes_write(live.node, "the live buffer");
        collector_cycle();
        auto* at = reinterpret_cast<uint8_t*>(series_buffer(live.node));
        if (c.into_previous) {
            EXPECT_EQ(at, previous_free);
            EXPECT_EQ(frame->free, frame->first());  // emptied, kept as the last frame
        } else {
            EXPECT_EQ(at, frame->first());
            EXPECT_EQ(uint32_t(previous->end - previous->free), c.room);
        }
        EXPECT_EQ(bytes_read(live.node), "the live buffer");
    }
}

// A node frame is emptied once its used count stayed the same over six
// reviews (age 5 + 1), while it holds fewer than 5,000 nodes and more than
// 10,000 nodes are free.
TEST(Collector, NodeFrameIsEmptiedAfterSixUnchangedReviews) {
    for (uint32_t in_second : {4999u, 5000u}) {
        SCOPED_TRACE(in_second);
        memory_fresh(false);
        memory_torture_set(false);
        NodeFrame* first = memory.node_head;
        NodeRoot holder(series_new_cells(5100));
        auto keep = [&](Node node, uint8_t byte) {
            SeriesBuffer* b = series_buffer(node);
            b->data()[0] = byte;
            b->tail = 1;
            Cell* slot = block_slot_new(&holder.node);
            cell_init(slot, T_BINARY);
            slot->w2 = node;
        };
        // Fill the first frame, keeping ten; the rest of the kept nodes
        // come from a second frame.
        int kept_first = 0;
        uint32_t kept_second = 0;
        for (;;) {
            Node node = series_new_bytes(1);
            if (node_frame_of(node) != first) { keep(node, 2); kept_second++; break; }
            if (kept_first < 10) { keep(node, 1); kept_first++; }
        }
        while (kept_second < in_second) { keep(series_new_bytes(1), 2); kept_second++; }
        ASSERT_EQ(count_frames(memory.node_head), 2);

        for (int cycle = 1; cycle <= 9; cycle++) {
            collector_cycle();
            bool emptied = in_second < 5000 && cycle >= 8;
            EXPECT_EQ(count_frames(memory.node_head), emptied ? 1 : 2) << "cycle " << cycle;
            EXPECT_EQ(collector.nodes_cycles, emptied ? 1u : 0u) << "cycle " << cycle;
        }
        SeriesBuffer* h = series_buffer(holder.node);
        ASSERT_EQ(h->length(), 10 + in_second);
        for (uint32_t i = 0; i < h->length(); i++)
            ASSERT_EQ(series_buffer(cells_of(holder.node)[i].w2)->data()[0], i < 10 ? 1 : 2);
        EXPECT_EQ(nodes_used(), 11 + in_second);
    }
}

TEST(Collector, BigFramesAreSweptAndKeepTheirPlace) {
    memory_fresh(true);
    NodeRoot kept(series_new_bytes(2200000), ROOT_SERIES);
    bytes_write(kept.node, "big and kept");
    SeriesBuffer* at = series_buffer(kept.node);
    series_new_bytes(2300000);
    ASSERT_EQ(count_frames(memory.big_head), 2);
    collector_cycle();
    collector_cycle();  // a mark left set would lose the buffer here
    EXPECT_EQ(count_frames(memory.big_head), 1);
    EXPECT_EQ(series_buffer(kept.node), at);
    EXPECT_EQ(memory.big_head->buffer(), at);
    EXPECT_EQ(bytes_read(kept.node), "big and kept");
    EXPECT_EQ(nodes_used(), 2u);  // with the root block
}

// After memory_settle, what start-up made stays where it is: a dead settled
// buffer becomes a hole and the buffers after it keep their place, while the
// script's own buffers slide down over their garbage. Once the holes pass an
// eighth of the settled bytes, the next collection compacts the settled
// buffers too.
TEST(Collector, SettledBuffersKeepTheirPlaceUntilTheirHolesAreCompacted) {
    memory_fresh(true);
    memory_torture_set(false);
    NodeRoot first(series_new_bytes(64), ROOT_SERIES);
    series_new_bytes(5000);  // start-up's garbage: gone at the settling collection
    NodeRoot dies(series_new_bytes(200000), ROOT_SERIES);
    NodeRoot after(series_new_bytes(64), ROOT_SERIES);
    bytes_write(first.node, "first");
    bytes_write(after.node, "after");
    memory_settle();
    SeriesBuffer* first_at = series_buffer(first.node);
    SeriesBuffer* dies_at = series_buffer(dies.node);
    SeriesBuffer* after_at = series_buffer(after.node);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(after_at) + 64 + BUFFER_OVERHEAD, memory.series_head->settled_end);

    series_new_bytes(3000);  // the script's garbage
    NodeRoot young(series_new_bytes(64), ROOT_SERIES);
    bytes_write(young.node, "young");
    uint32_t used = nodes_used();
    dies.node = 0;
    collector_cycle();
    EXPECT_EQ(series_buffer(first.node), first_at);
    EXPECT_EQ(series_buffer(after.node), after_at);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(series_buffer(young.node)), memory.series_head->settled_end);
    EXPECT_EQ(memory.settled_holes, 200000u + BUFFER_OVERHEAD);
    EXPECT_EQ(nodes_used(), used - 2);  // the script's garbage and the dead settled buffer

    collector_cycle();
    EXPECT_EQ(series_buffer(first.node), first_at);
    EXPECT_EQ(series_buffer(after.node), dies_at);
    EXPECT_EQ(memory.settled_holes, 0u);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(dies_at) + 64 + BUFFER_OVERHEAD, memory.series_head->settled_end);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(series_buffer(young.node)), memory.series_head->settled_end);
    EXPECT_EQ(bytes_read(first.node), "first");
    EXPECT_EQ(bytes_read(after.node), "after");
    EXPECT_EQ(bytes_read(young.node), "young");
}

// A collection runs once more than the carve budget (768 KB at least) was
// carved since the last one, though the frames still have room; buffers
// outside the frames count too, and the carve after them collects.
TEST(Collector, ACollectionRunsOnceTheCarveBudgetIsSpent) {
    for (bool fixed : {false, true}) {
        SCOPED_TRACE(fixed);
        memory_fresh(true);
        memory_torture_set(false);
        collector.enabled = true;
        collector_cycle();  // the count starts over, the budget is the least
        uint32_t cycles = collector.series_cycles;
        for (int i = 0; i < 7; i++) series_new_bytes(100000);
        EXPECT_EQ(collector.series_cycles, cycles);
        if (fixed) series_new_fixed(100000, 1, 0); else series_new_bytes(100000);
        EXPECT_EQ(collector.series_cycles, cycles);
        series_new_bytes(16);
        EXPECT_EQ(collector.series_cycles, cycles + 1);
        EXPECT_EQ(count_frames(memory.series_head), 1);
    }
}

// What a fixed block refers to is marked in every cycle, not only the first.
TEST(Collector, FixedBlocksAreMarkedInEveryCycle) {
    memory_fresh(true);
    NodeRoot fixed(series_new_fixed(2, 16, 0));
    Node bytes = series_new_bytes(8);
    bytes_write(bytes, "in fixed");
    Cell* c = block_slot_new(&fixed.node);
    cell_init(c, T_BINARY);
    c->w2 = bytes;
    for (int i = 0; i < 3; i++) collector_cycle();
    EXPECT_EQ(nodes_used(), 3u);
    EXPECT_EQ(bytes_read(cells_of(fixed.node)[0].w2), "in fixed");
}

static Node extra_root_node;
static void extra_root_mark() { collector_mark_series(&extra_root_node); }

TEST(Collector, RootsHoldInAnyOrderOfRelease) {
    memory_fresh(true);
    auto a = std::make_unique<NodeRoot>(series_new_bytes(16), ROOT_SERIES);
    auto b = std::make_unique<NodeRoot>(series_new_bytes(16), ROOT_SERIES);
    bytes_write(b->node, "b");
    CellRoot cell;
    cell_init(&cell.cell, T_STRING);
    cell.cell.w2 = series_new_bytes(16);
    bytes_write(cell.cell.w2, "cell");
    extra_root_node = series_new_bytes(16);
    bytes_write(extra_root_node, "extra");
    collector_add_root(extra_root_mark);
    a.reset();  // released before the holders made after it
    collector_cycle();
    EXPECT_EQ(nodes_used(), 4u);  // root block, b, cell, extra
    EXPECT_EQ(bytes_read(b->node), "b");
    EXPECT_EQ(bytes_read(cell.cell.w2), "cell");
    EXPECT_EQ(bytes_read(extra_root_node), "extra");
    collector_remove_root(extra_root_mark);
    b.reset();
    collector_cycle();
    EXPECT_EQ(nodes_used(), 2u);
    EXPECT_EQ(bytes_read(cell.cell.w2), "cell");
}

// Growth keeps the series it moves (and what its cells refer to) reachable
// through the collection its allocation starts, even when nothing else holds it.
TEST(Collector, GrowthKeepsAnUnrootedSeriesThroughItsCollection) {
    memory_fresh(true);
    memory_torture_set(true);
    collector.enabled = true;
    Node block;
    {
        NodeRoot b(series_new_cells(1));
        NodeRoot s(series_new_bytes(8), ROOT_SERIES);
        bytes_write(s.node, "survives");
        Cell* c = block_slot_new(&b.node);
        cell_init(c, T_STRING);
        c->w2 = s.node;
        block = b.node;
    }
    uint32_t cycles = collector.series_cycles;
    SeriesBuffer* grown = series_grow_copy(series_buffer(block), 0);
    EXPECT_GT(collector.series_cycles, cycles);
    EXPECT_NE(grown->node, block);  // torture moved the node too
    EXPECT_EQ(series_buffer(grown->node), grown);
    EXPECT_EQ(grown->length(), 1u);
    EXPECT_EQ(bytes_read(reinterpret_cast<Cell*>(grown->data())->w2), "survives");
}

// A block of more blocks than the marker's work list first holds: the list
// grows while it is being filled and every one of them is marked through it,
// the nested string of each included.
TEST(Collector, WideBlockIsMarkedThroughAGrowingWorkList) {
    memory_fresh(true);
    const uint32_t count = 10000;
    NodeRoot wide(series_new_cells(count));
    for (uint32_t i = 0; i < count; i++) {
        NodeRoot inner(series_new_cells(1));
        Node text = series_new_bytes(16);
        bytes_write(text, "item " + std::to_string(i));
        Cell* c = block_slot_new(&inner.node);
        cell_init(c, T_STRING);
        c->w2 = text;
        c = block_slot_new(&wide.node);
        cell_init(c, T_BLOCK);
        c->w2 = inner.node;
    }
    series_new_bytes(1000);  // garbage, so that the collection frees something
    collector_cycle();
    ASSERT_EQ(series_buffer(wide.node)->length(), count);
    for (uint32_t i = 0; i < count; i++) {
        Node inner = cells_of(wide.node)[i].w2;
        ASSERT_EQ(bytes_read(cells_of(inner)[0].w2), "item " + std::to_string(i)) << i;
    }
    EXPECT_EQ(nodes_used(), 2 * count + 2);
}

// A stale address into a released frame faults: ASan builds poison the
// quarantined frame and name the fault, other builds protect its pages.
#if defined(__SANITIZE_ADDRESS__)
static const char* const STALE_FRAME_FAULT = "use-after-poison";
#else
static const char* const STALE_FRAME_FAULT = "";
#endif

TEST(CollectorDeathTest, TortureMovesEverythingAndStaleAddressesFault) {
    memory_fresh(true);
    memory_torture_set(true);
    collector.enabled = true;
    NodeRoot kept(series_new_bytes(16), ROOT_SERIES);
    bytes_write(kept.node, "moved");
    Node old_node = kept.node;
    SeriesBuffer* old_buffer = series_buffer(kept.node);
    series_new_bytes(16);
    EXPECT_NE(kept.node, old_node);
    EXPECT_NE(series_buffer(kept.node), old_buffer);
    EXPECT_EQ(bytes_read(kept.node), "moved");
    EXPECT_DEATH({ volatile uint32_t size = old_buffer->size; (void)size; }, STALE_FRAME_FAULT);
    EXPECT_DEATH({ volatile uint32_t size = series_buffer(old_node)->size; (void)size; }, "");
    // Later collections take fresh node slots, so the stale id never names a
    // live node again and keeps faulting.
    for (int i = 0; i < 4; i++) {
        series_new_bytes(16);
        EXPECT_NE(kept.node, old_node);
    }
    EXPECT_EQ(bytes_read(kept.node), "moved");
    EXPECT_DEATH({ volatile uint32_t size = series_buffer(old_node)->size; (void)size; }, "");
}

#if defined(__SANITIZE_ADDRESS__)
// Outside torture mode, ASan builds poison the bytes compaction vacates.
TEST(CollectorDeathTest, VacatedFrameBytesArePoisoned) {
    memory_fresh(true);
    memory_torture_set(false);
    series_new_bytes(64);  // dead, so the next one slides down
    NodeRoot kept(series_new_bytes(64), ROOT_SERIES);
    SeriesBuffer* old_buffer = series_buffer(kept.node);
    collector_cycle();
    ASSERT_NE(series_buffer(kept.node), old_buffer);
    EXPECT_DEATH({ volatile uint32_t size = old_buffer->size; (void)size; }, "use-after-poison");
}
#endif
