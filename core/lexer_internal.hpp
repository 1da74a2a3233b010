// What the lexer engine (core/lexer.cpp) and the value loaders
// (core/lexer_load.cpp) share: the state of a run, the seen flags, the
// token kinds and the engine services a loader calls. Not for other modules.
#pragma once
#include "runtime/cell.hpp"
#include "core/lexer.hpp"
#include <cstdint>

namespace kel {

// Seen flags: bits of a byte's class word, ORed over a token's bytes.
constexpr uint32_t SEEN_BRACE_NEWLINE = 0x00020000;  // a line break preceded a "{"
constexpr uint32_t SEEN_PERCENT = 0x00040000;
constexpr uint32_t SEEN_GT = 0x00080000;
constexpr uint32_t SEEN_LT = 0x00100000;
constexpr uint32_t SEEN_SIGN = 0x00200000;
constexpr uint32_t SEEN_NUL = 0x00400000;
constexpr uint32_t SEEN_HASH = 0x00800000;
constexpr uint32_t SEEN_EXPONENT = 0x01000000;
constexpr uint32_t SEEN_QUOTE = 0x02000000;
constexpr uint32_t SEEN_COLON = 0x04000000;
constexpr uint32_t SEEN_COMMA = 0x08000000;
constexpr uint32_t SEEN_DOT = 0x10000000;
constexpr uint32_t SEEN_CARET = 0x20000000;
constexpr uint32_t SEEN_LEAD = 0x40000000;   // lead byte of a 2- or 3-byte sequence
constexpr uint32_t SEEN_LEAD4 = 0x80000000;  // lead byte of a 4-byte sequence

// Token kinds: the final automaton state minus 66.
enum LexerKind : uint32_t {
    KIND_END = 0, KIND_INVALID, KIND_BLOCK_OPEN, KIND_BLOCK_CLOSE, KIND_PAREN_OPEN,
    KIND_PAREN_CLOSE, KIND_BRACE_OPEN, KIND_BRACE_CLOSE, KIND_MAP_OPEN, KIND_PATH_START,
    KIND_CONSTRUCT, KIND_COMMENT, KIND_COMMA, KIND_STRING, KIND_WORD, KIND_ISSUE,
    KIND_INTEGER, KIND_REFINEMENT, KIND_CHAR, KIND_FILE, KIND_BINARY, KIND_PERCENT,
    KIND_FLOAT, KIND_FLOAT_SPECIAL, KIND_TUPLE, KIND_DATE, KIND_PAIR, KIND_POINT, KIND_TIME,
    KIND_MONEY, KIND_TAG, KIND_URL, KIND_EMAIL, KIND_HEX, KIND_RAW_STRING, KIND_REF,
    KIND_COUNT,
};

// Error codes other than a datatype id.
constexpr int32_t LEX_BAD_CHAR = -1;
constexpr int32_t LEX_MALCONSTRUCT = -2;
constexpr int32_t LEX_MISSING = -3;
constexpr int32_t LEX_MISSING_AT_END = -4;

// The latest error of a run whose callback chose to go on past it: raised
// once the run has delivered its values.
struct LexerDeferredError;

// One running lexer. Positions are byte offsets into the run's private copy
// of the input; value positions are cell indices into the shared value buffer.
struct LexerState {
    LexerState* next;       // a run started from this one's callback, or null
    LexerState* previous;   // the enclosing run, or null
    uint32_t head;          // where this run's values begin
    uint32_t base;          // where the values of the innermost open series begin
    uint32_t tail;          // where the next value goes
    const uint8_t* input;   // the private copy; never moves during the run
    uint32_t length;        // bytes of input
    uint32_t pos;           // current position
    uint32_t token_start;
    uint32_t token_end;
    int32_t line;           // line number, from 1
    int32_t lines_in_token; // line feeds between the previous token and this one
    uint32_t lines_to;      // offset up to which loaders have counted line feeds themselves
    int32_t pending_code;
    uint8_t token_type;     // datatype id of the current token (0 for structure)
    uint8_t pending_type;   // type of a series left open, for errors
    uint8_t last_type;      // token type of the previous token
    uint32_t start_state;   // automaton state in which the next token begins
    uint32_t prev_state;    // state before the final transition
    int32_t brace_start;    // offset of the outermost open "{", -1 when none
    int32_t brace_depth;
    uint32_t brace_flags;   // seen flags of the whole braced string
    const Cell* callback;   // rooted by lexer_transcode; null without one
    uint32_t mask;          // events the callback wants
    const Cell* source;     // rooted copy of the source series, or null
    bool source_string;     // positions are characters (string!) or bytes
    uint32_t units_at;      // a byte offset whose character count is known (string! source)
    uint32_t units_count;   // characters before units_at
    int32_t resume;         // where a callback moved the source's index, or -1
    bool load;              // values are built
    bool stopped;           // the run ends quietly, or (skipping) leaves the current token
    bool skipping;          // the callback went on past an error: the run resumes after the token
    uint32_t token_tail;    // tail and base before the current token, to drop what a failed
    uint32_t token_base;    // token left behind
    LexerDeferredError* deferred;  // where an error the run goes on past is kept
    bool window;            // the input is a leading part of the text: reaching its end, or an
                            // error, may come from the cut, so the run gives up (needs_more)
    bool needs_more;        // a window run gave up: run again on more of the text
};

// The signature of every scanner and loader.
using LexerFn = void (*)(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load);

// ---- engine services -----------------------------------------------------------------

// A new value cell at the run's tail, unset, with the new-line flag when a
// line break came before the current token. Valid until the next call.
Cell* lexer_cell_new(LexerState* s);
// Drops the last value cell.
void lexer_cell_drop(LexerState* s);
// The cell at a value-buffer index; valid until the next lexer_cell_new.
Cell* lexer_cell_at(uint32_t index);

// The error report: raises the syntax error for the code at the token, or,
// when values are not built or the callback declines, stops the run quietly
// and returns. A callback that accepts the error makes the run keep it for
// the end and leave the token (stopped and skipping), so lexing goes on
// after it. Callers return right after it.
void lexer_throw_error(LexerState* s, uint32_t start, uint32_t end, int32_t code);

// The type a comment is scanned as: no datatype, so the callback is given
// the word comment! in its place.
constexpr uint8_t LEX_TYPE_COMMENT = 0xFF;

// Offers an event to the callback; true to go on. value is the loaded value or
// null (the token's positions are then passed).
bool lexer_event(LexerState* s, uint32_t event, uint8_t type, const Cell* value, uint32_t start,
                 uint32_t end);

// True when a Unicode space starts at the offset; *size gets its byte length.
bool lexer_unicode_space_at(const LexerState* s, uint32_t offset, uint32_t* size);

// ---- loaders (core/lexer_load.cpp) ----------------------------------------------------

// Loaders by kind (null where a kind has none).
extern const LexerFn lexer_loaders[KIND_COUNT];
// Reads a literal of a type with the reader its datatype's module registered
// (the scan hook): true with the value in out, false when the text is not a
// literal of the type or no reader is registered.
bool lexer_scan_literal(uint8_t type, const uint8_t* start, const uint8_t* end, Cell* out);
// Scanners of the word and issue kinds: they choose the word type.
void lexer_scan_word(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load);
void lexer_scan_issue(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load);
// The string scanner (checks escapes and UTF-8 of a quoted string).
void lexer_scan_quoted(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load);
// Loads text as a value of a string type; with escapes, "^" escapes are
// decoded. Raises (or stops) with invalid type on a bad escape or bad UTF-8.
// With load false only checks.
void lexer_load_text(LexerState* s, uint32_t from, uint32_t to, uint8_t type, bool escapes, bool load,
                     uint32_t start, uint32_t end);
// The construction "#(name)": true, false, none, unset or a datatype name.
void lexer_scan_construct(LexerState* s, uint32_t start, uint32_t end, uint32_t flags, bool load);
// Makes a map! from the block in the cell (the loaded items of "#[...]") into
// the run's last value cell, keeping its new-line flag. An odd count of items
// or a key whose type cannot be a map key raises invalid map!.
void lexer_map_make(LexerState* s, Cell* block, uint32_t start, uint32_t end);

} // namespace kel
