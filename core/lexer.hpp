// The lexer: turns UTF-8 source text into values. A table-driven automaton over
// byte classes delimits each token and names its kind in one pass; a per-kind
// scanner checks the token's structure and a per-kind loader builds its value
// into a private value buffer, from which blocks, parens and paths are made
// when their closing delimiter arrives.
//
// The input is always scanned from a private copy (never from a series
// buffer), and the scanner state keeps byte offsets into it, so scanning
// survives any collection. The value buffer lives outside the frames and is
// marked by the collector for every running lexer.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// Events offered to a trace callback, as bits of the event mask.
enum LexerEvent : uint32_t {
    LEX_EVENT_PRESCAN = 1,
    LEX_EVENT_SCAN = 2,
    LEX_EVENT_LOAD = 4,
    LEX_EVENT_OPEN = 8,
    LEX_EVENT_CLOSE = 16,
    LEX_EVENT_ERROR = 32,
    LEX_EVENTS_ALL = 63,
};

// What lexer_transcode returns when a run stopped on an error without raising it.
constexpr int32_t LEXER_STOPPED = 34;

// Options of one run.
struct LexerOptions {
    bool one = false;       // stop after the first complete top-level value
    bool scan = true;       // false: a prescan (structure only, no values)
    bool load = true;       // build values
    bool keep_all = false;  // with one: still answer a block of the values
    const Cell* callback = nullptr;  // trace function value, or null
    uint32_t event_mask = LEX_EVENTS_ALL;
    const Cell* source = nullptr;    // the string! or binary! being read, or null
    const Cell* into = nullptr;      // block to append the result to, or null
};

// Calls a trace callback with its five argument cells (event word, source at
// the token, datatype or none, line number, value or pair of positions), which
// lie on the data stack; answers the truth of its result. The evaluator
// installs it; without one, callbacks are not called and every event goes on.
// The callback may move the index of the source argument (args[1]): the lexer
// then resumes at that position.
using LexerCallbackCaller = bool (*)(const Cell* callback, Cell* args);
void lexer_callback_caller_set(LexerCallbackCaller caller);

// The event mask a block names: when its first value is a block, the event
// words in that (prescan scan load open close error); otherwise `otherwise`.
// A callback's mask is the one its spec names, else the one its body names,
// else every event.
uint32_t lexer_event_mask(const Cell* block, uint32_t otherwise = LEX_EVENTS_ALL);

// Start-up: the value buffer, the Unicode-space set and the collector root.
void lexer_init();
// Collector root: the values of every running lexer.
void lexer_mark();

// Scans length bytes of UTF-8 (copied first, so the text may lie in a series
// buffer). With load, dest (on the data stack or in a root) receives the
// result: in one-value mode without keep_all a copy of the first value, else
// a new block! of all values; with an into block the result is appended to
// it instead and dest receives the into block. *consumed (when not null)
// receives how far the run read: in characters from the source's position
// for a string! source, in bytes otherwise. Returns the type of the last
// token, or LEXER_STOPPED. Syntax errors are raised as syntax errors.
int32_t lexer_transcode(Cell* dest, const uint8_t* input, uint32_t length, const LexerOptions& options,
                        int32_t* consumed);

// The same over a string! value (from its position, length characters or -1
// for the whole tail): the text is converted to UTF-8 in a buffer sized by
// its real UTF-8 length.
int32_t lexer_scan_string(Cell* dest, const Cell* string, int32_t length, const LexerOptions& options,
                          int32_t* consumed);

// A signed 32-bit integer from count characters of unit 1, 2 or 4: optional
// "+" or "-", digits, "'" skipped anywhere. *error: 0 on success, -1 for any
// other character or no digit, -2 beyond the 32-bit range.
int32_t scan_integer(const uint8_t* start, uint32_t count, uint32_t unit, int32_t* error);

// A double from count characters: "," reads as the decimal point and "'" is
// dropped. *error is -1 (and the result a NaN) for texts of 313 characters or
// more and for texts that are not a decimal number, else 0.
double scan_float(const uint8_t* start, uint32_t count, uint32_t unit, int32_t* error);

} // namespace kel
