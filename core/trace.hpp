// Tracing of evaluation (do/trace): while the tracing flag is on, the
// interpreter calls a user function, the tracer, at fixed points with an
// event word, the code block, the position in it, the value concerned, a
// reference and a pair! of data-stack depths (ARGS depth x top depth).
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// Event bits; the tracer's mask selects the events it receives.
enum TraceEvent : uint32_t {
    TRACE_INIT = 1, TRACE_END = 2, TRACE_PROLOG = 4, TRACE_EPILOG = 8, TRACE_ENTER = 16,
    TRACE_EXIT = 32, TRACE_OPEN = 64, TRACE_RETURN = 128, TRACE_FETCH = 256, TRACE_PUSH = 512,
    TRACE_SET = 1024, TRACE_CALL = 2048, TRACE_ERROR = 4096, TRACE_THROW = 8192,
    TRACE_CATCH = 16384, TRACE_EXPR = 32768,
};
constexpr uint32_t TRACE_DEFAULT_MASK = 0x1FFFF;

// The tracer state. tracer is a collector root while trace_init has run.
struct TraceState {
    bool tracing;          // events are fired
    bool requested;        // do/trace runs (a function flagged trace may turn tracing on)
    Cell tracer;           // the function! called for each event
    uint32_t mask;         // event bits the tracer wants
    uint32_t extra_args;   // tracer parameters beyond the six fixed ones
    uint32_t settings;     // the tracer settings' integer that call trace masks are tested against
    bool failed;           // the tracer raised an error: no further event until the next do/trace
};
extern TraceState trace_state;

// Every flag off, no tracer, the default mask; registers the tracer as a root.
void trace_init();

// The event mask of a tracer: the bits of the event words in the block its
// body starts with, else TRACE_DEFAULT_MASK.
uint32_t trace_events_mask(const Cell* tracer);

// Installs a tracer for do/trace: tracer, mask, extra parameter count and
// both flags on. trace_stop switches tracing off and forgets the tracer.
void trace_start(const Cell* tracer);
void trace_stop();

// Calls the tracer when the event's bit is in the mask. block is the code
// block (null: none), position its element index from the buffer's head (-1:
// none); reference and value may be null (none). A reference is passed only
// for set, epilog, prolog, return and call.
void trace_fire_event(uint32_t event, const Cell* block, int32_t position, const Cell* reference,
                      const Cell* value);

} // namespace kel
