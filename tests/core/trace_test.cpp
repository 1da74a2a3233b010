#include "tests/core/interp_fixture.hpp"

using namespace kel;
using namespace kel::testing;

namespace {

struct TraceTest : InterpTest {
    // log: []  tracer: func [event code offset value ref depths] body
    void make_tracer(const V& body) {
        run(blk({sw("log"), blk({})}));
        run(blk({sw("tracer"), w("func"),
                 blk({w("event"), w("code"), w("offset"), w("value"), w("ref"), w("depths")}),
                 body}));
    }
    // Traces the code and returns the logged words' names.
    std::vector<std::string> trace(const V& code) {
        CellRoot tracer(get_global("tracer"));
        trace_start(&tracer.cell);
        run(code);
        trace_stop();
        std::vector<std::string> names;
        Cell log = get_global("log");
        for (uint32_t k = 0; k < block_length(&log); k++) {
            const Cell* c = &block_cells(&log)[k];
            names.push_back(cell_type(c) == T_WORD ? symbol_text(c->w2) : "?");
        }
        return names;
    }
};

TEST_F(TraceTest, EventsOfAnInfixExpression) {
    make_tracer(blk({w("append"), w("log"), w("event")}));
    std::vector<std::string> expected = {"enter", "fetch", "push", "fetch", "open", "fetch",
                                         "push", "call", "return", "expr", "exit"};
    EXPECT_EQ(trace(blk({i(1), w("+"), i(2)})), expected);
}

TEST_F(TraceTest, MaskFromTheTracersBody) {
    make_tracer(blk({blk({w("call"), w("return")}), w("append"), w("log"), w("event")}));
    std::vector<std::string> expected = {"call", "return"};
    EXPECT_EQ(trace(blk({i(1), w("+"), i(2)})), expected);
    Cell tracer = get_global("tracer");
    EXPECT_EQ(trace_events_mask(&tracer), uint32_t(TRACE_CALL | TRACE_RETURN));
}

TEST_F(TraceTest, FunctionBodiesAndDepths) {
    // The depths pair: ARGS depth never above top depth.
    make_tracer(blk({w("append"), w("log"), w("event"), w("append"), w("log"), w("depths")}));
    run(blk({sw("f"), w("func"), blk({w("a")}), blk({w("a")})}));
    CellRoot tracer(get_global("tracer"));
    trace_start(&tracer.cell);
    run(blk({w("f"), i(1)}));
    trace_stop();
    Cell log = get_global("log");
    bool prolog = false, epilog = false;
    for (uint32_t k = 0; k + 1 < block_length(&log); k += 2) {
        const Cell* event = &block_cells(&log)[k];
        const Cell* depths = &block_cells(&log)[k + 1];
        ASSERT_EQ(cell_type(depths), T_PAIR);
        EXPECT_LE(int32_t(depths->w2), int32_t(depths->w3));
        prolog |= symbol_text(event->w2) == "prolog";
        epilog |= symbol_text(event->w2) == "epilog";
    }
    EXPECT_TRUE(prolog && epilog);
}

// A block cell naming a node of a frame slot that is not in use: what a cell
// left over from before a collection holds once its frame is released.
static Cell stale_block() {
    Cell c;
    cell_init(&c, T_BLOCK);
    c.w2 = (NODE_SLOTS - 1) << NODE_INDEX_BITS;
    return c;
}

// Collections made while the tracer runs on a block's entry do not mark what
// an earlier call left above the data top.
TEST_F(TraceTest, CollectionsInTheTracerMarkNoLeftoverAboveTheTop) {
    make_tracer(blk({w("append"), w("log"), w("event")}));
    TortureScope torture;
    collector.enabled = true;
    Cell* leftovers = data_stack.top;
    for (Cell* c = leftovers; c < leftovers + 8; c++) *c = stale_block();
    std::vector<std::string> entered = {"enter", "fetch", "push", "expr", "exit"};
    EXPECT_EQ(trace(blk({i(1)})), entered);
    for (Cell* c = leftovers; c < leftovers + 8; c++) cell_init(c, T_UNSET);
}

// Nor, while the tracer reports a raise, the where of an earlier raise.
TEST_F(TraceTest, CollectionsInTheTracerMarkNoEarlierWhere) {
    make_tracer(blk({w("append"), w("log"), w("event")}));
    TortureScope torture;
    collector.enabled = true;
    error_in_flight.where = stale_block();
    CellRoot tracer(get_global("tracer"));
    trace_start(&tracer.cell);
    EXPECT_EQ(run_error(blk({w("never-set")})), script(ERR_NO_VALUE));
    trace_stop();
    Cell log = get_global("log");
    EXPECT_EQ(symbol_text(block_cells(&log)[block_length(&log) - 1].w2), "error");
}

TEST_F(TraceTest, ErrorInTheTracerStopsTracing) {
    make_tracer(blk({w("never-set")}));
    CellRoot tracer(get_global("tracer"));
    trace_start(&tracer.cell);
    EXPECT_EQ(run_error(blk({i(1)})), script(ERR_NO_VALUE));
    EXPECT_FALSE(trace_state.tracing);
    trace_stop();
}

} // namespace
