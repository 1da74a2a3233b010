// The parse engine and the parse native.
//
// The engine walks the rules as a state machine over two work stacks that
// live in the root block and are shared by every parse call:
// - the input stack: the top-level input, then one saved outer input per
//   open `into`;
// - the rule stack: three-cell entries. A block entry {none; triple {offset
//   of the block's cell in its parent, input index, input length}; parent
//   rules block} stands for a rules block being walked; a rule entry
//   {triple {min, max, iteration} or the target word or the saved comparison
//   code; triple {offset before the sub-rule, input index, input length};
//   pair {entry code, pick flag}} stands for a keyword waiting for its
//   sub-rule.
// Each stack block's index is the head of the running call: a nested call
// (from a paren, a trace callback or a function they call) pushes a marker
// triple {rule head, input head} and moves both heads past the contents, so
// it sees empty stacks; on every way out the stacks are cut back to the head
// and the marker is popped.
//
// Positions are absolute element indexes of the series buffers: the rule
// pointer indexes the current rules block's buffer, the working input's
// index is its position.
#include "natives/parse.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/casefold.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/typeset.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/triple.hpp"
#include "core/lexer.hpp"
#include "natives/natives.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/start.hpp"

#include <algorithm>
#include <cstdlib>
#include <vector>
#include <iterator>

namespace kel {

namespace {

// Codes of rule entries (keep with a paren adds its value at once and
// pushes no entry).
enum EntryCode : int32_t {
    E_REPEAT = -1, E_TO = -2, E_THRU = -3, E_COPY = -4, E_SET = -5, E_NOT = -6, E_INTO = -7,
    E_REMOVE = -9, E_WHILE = -11, E_COLLECT = -12, E_KEEP = -13,
    E_AHEAD = -16, E_CHANGE = -17, E_CHANGE_ONLY = -18, E_CASE = -19,
};

constexpr uint32_t ENTRY_CELLS = 3;

// The steps of the state machine.
enum Step : uint8_t {
    ENTER_BLOCK,  // push a block entry for the block in value and walk it
    LEAVE_BLOCK,  // pop the top block entry, back to the parent rules
    COMPLETE,     // finish the top entry
    ROUTE,        // after a match or a failure: complete or go on
    DISPATCH,     // act on the rule value
    ADVANCE,      // consume one input element
    FETCH,        // next rule value of the current block
    LITERAL,      // match the rule value literally
    SUB_RULE,     // the sub-rule of the rule entry just pushed
    FAILURE,      // back to the block's input position, next alternative
    WORD,         // a word: keyword or rule held by the word
    RESULT,       // the top-level rules are done
    STOP,         // the trace callback ended the parse, or an exit is pending
};

// The keywords, found by resolved symbol.
enum Keyword : uint8_t {
    K_OTHER, K_BAR, K_SKIP, K_ANY, K_SOME, K_COPY, K_TO, K_THRU, K_REMOVE, K_BREAK, K_OPT,
    K_KEEP, K_FAIL, K_AHEAD, K_WHILE, K_INTO, K_INSERT, K_CHANGE, K_END, K_IF, K_NOT, K_QUOTE,
    K_COLLECT, K_CASE, K_REJECT, K_SET, K_NONE,
    K_UNKNOWN = 0xFF,  // not looked up yet (keyword cache)
};

// Trace events, as bits of a callback's event mask.
enum Event : uint32_t {
    EV_PUSH = 1, EV_POP = 2, EV_FETCH = 4, EV_MATCH = 8, EV_ITERATE = 16, EV_PAREN = 32,
    EV_END = 64, EV_ALL = 127,
};
struct EventWord {
    RuntimeWord word;
    uint32_t bit;
};
const EventWord event_words[] = {
    {W_PUSH, EV_PUSH}, {W_POP, EV_POP}, {W_FETCH, EV_FETCH}, {W_MATCH, EV_MATCH},
    {W_ITERATE, EV_ITERATE}, {W_PAREN, EV_PAREN}, {W_END, EV_END},
};

// Where the work stacks sit in the root block, and the keyword table.
struct ParseTables {
    uint32_t input_slot = 0;         // root block cell of the input stack
    uint32_t rule_slot = 0;          // root block cell of the rule stack
    std::vector<uint8_t> keywords;   // Keyword by resolved symbol id
    std::vector<uint8_t> keyword_cache;  // Keyword by symbol id, K_UNKNOWN until looked up
    const uint8_t* cached = nullptr;     // keyword_cache's data and size, read by every word
    uint32_t cached_count = 0;
    uint32_t sym_only = 0, sym_pick = 0, sym_into = 0, sym_after = 0, sym_set = 0,
             sym_end = 0;            // resolved symbols of the modifiers
};
ParseTables tables;

// ---- work stacks ---------------------------------------------------------------------------------

// The stack's block cell in the root block (valid until the next allocation);
// its index is the head of the running call.
inline Cell* stack_block(uint32_t slot) {
    return block_cells(series_buffer_of(&root_cell)) + slot;
}
// The stack's buffer (valid until the next allocation).
inline SeriesBuffer* stack_buffer(uint32_t slot) { return series_buffer_of(stack_block(slot)); }
inline uint32_t stack_count(uint32_t slot) {
    SeriesBuffer* b = stack_buffer(slot);
    return (b->tail - b->head) / sizeof(Cell);
}
inline uint32_t stack_head(uint32_t slot) { return uint32_t(series_index(stack_block(slot))); }
inline void stack_head_set(uint32_t slot, uint32_t head) { series_index_set(stack_block(slot), int32_t(head)); }
inline Cell* stack_cell(uint32_t slot, uint32_t at) {
    return block_cells(stack_buffer(slot)) + at;
}
inline void stack_cut(uint32_t slot, uint32_t count) {
    if (stack_count(slot) > count) block_ks_tail_at(stack_block(slot), count);
}

// Raises parse-stack when either stack would pass its limit with `cells` more
// (only a push can take a stack past it).
void parse_stacks_overflow() { error_raise(ERR_PARSE_STACK); }
inline void parse_stacks_check(uint32_t input_cells, uint32_t rule_cells) {
    if ((input_cells && stack_count(tables.input_slot) + input_cells > PARSE_STACK_LIMIT) ||
        stack_count(tables.rule_slot) + rule_cells > PARSE_STACK_LIMIT)
        parse_stacks_overflow();
}

// At entry: when a parse is running, push the marker and move both heads
// past the running call's contents. Answers whether a marker was pushed.
bool parse_stacks_save() {
    uint32_t rule_head = stack_head(tables.rule_slot);
    if (stack_count(tables.rule_slot) <= rule_head) return false;
    parse_stacks_check(0, 1);
    Cell marker;
    triple_make_at(&marker, int32_t(rule_head), int32_t(stack_head(tables.input_slot)), 0);
    block_ks_append(stack_block(tables.rule_slot), &marker);
    stack_head_set(tables.rule_slot, stack_count(tables.rule_slot));
    stack_head_set(tables.input_slot, stack_count(tables.input_slot));
    return true;
}

// At every exit: drop the call's contents, then pop the marker and put the
// heads of the outer call back. Allocates nothing (it runs while errors unwind).
void parse_stacks_reset(bool marker) {
    stack_cut(tables.rule_slot, stack_head(tables.rule_slot));
    stack_cut(tables.input_slot, stack_head(tables.input_slot));
    if (!marker) return;
    uint32_t at = stack_head(tables.rule_slot) - 1;
    const Cell* m = stack_cell(tables.rule_slot, at);
    uint32_t rule_head = uint32_t(triple_get(m, 0)), input_head = uint32_t(triple_get(m, 1));
    stack_cut(tables.rule_slot, at);
    stack_head_set(tables.rule_slot, rule_head);
    stack_head_set(tables.input_slot, input_head);
}

// Restores the work stacks however the call ends.
struct StacksCall {
    bool marker;
    StacksCall() : marker(parse_stacks_save()) {}
    ~StacksCall() { parse_stacks_reset(marker); }
    StacksCall(const StacksCall&) = delete;
    StacksCall& operator=(const StacksCall&) = delete;
};

// What the working input holds.
enum InputKind : uint8_t { INPUT_BLOCK, INPUT_STRING, INPUT_BINARY };

// ---- the state of one call -----------------------------------------------------------------------

struct ParseRun {
    CellRoot input;      // working input: its index is the current position
    CellRoot rules;      // rules block being walked (its index: where it starts)
    CellRoot value;      // the rule value being dispatched
    CellRoot word;       // the word being handled (step 11)
    CellRoot callback;   // the trace function, or none
    CellRoot copied;     // what the last completed copy set its word to
    CellRoot result;     // the block the outermost collect produced
    int32_t rp = 0;      // rule pointer: absolute index in the rules' buffer
    int32_t cmp = PARSE_CASE_INSENSITIVE;
    uint32_t part_end = 0;    // absolute end of the top-level input, 0 for none
    uint32_t into_depth = 0;  // open `into`s (the part end binds only at depth 0)
    uint32_t trace_mask = 0;
    uint32_t rule_base = 0;   // rule stack head of this call
    bool match = true;
    bool brk = false;          // break or reject: consumed by the enclosing loop
    bool exit_block = false;   // break or reject: leave the current block
    bool from_word = false;    // value is a word's value, not a cell of the rules
    bool sub_rule = false;     // the word being handled is a keyword's sub-rule
    bool left_at_tail = false; // the block just left was walked to its tail
    bool copied_just = false;  // the entry just completed was a successful copy
    // Parens evaluated, callbacks called and input changes made: a while
    // iteration that consumed nothing and changed none of these would repeat
    // itself for ever.
    uint32_t effects = 0;
    std::vector<uint32_t> loop_effects;  // effects at the start of each open loop's iteration
    bool collected = false;
    ExitCode exit = EXIT_CODE_NONE;
    std::vector<uint32_t> targets;  // data-stack indexes of the open collects' targets
    InputKind kind = INPUT_BLOCK;   // what the working input holds (input_set)
    // The buffers of the rule stack, the rules and the working input, looked
    // up on first use and kept while nothing can move them: every call that
    // can allocate or evaluate is followed by view_drop.
    mutable SeriesBuffer* stack_view = nullptr;
    mutable SeriesBuffer* rules_view = nullptr;
    mutable SeriesBuffer* input_view = nullptr;
    // With rules_view: the rules' cells and how many there are, so that a
    // rule fetch is one compare and one add.
    mutable const Cell* rule_cells = nullptr;
    mutable int32_t rule_count = 0;
    // The value slot of the last word a repetition looked up, kept like the
    // views (a slot moves or goes only by an allocation or an evaluation),
    // with the word's binding: context, symbol and index.
    mutable const Cell* slot_view = nullptr;
    mutable uint32_t slot_context = 0, slot_symbol = 0, slot_index = 0;
    CellRoot target;     // the word a copy or set sets when it completes
};

// After a call that may have allocated or evaluated: the buffers are looked up again.
inline void view_drop(ParseRun& r) {
    r.stack_view = r.rules_view = r.input_view = nullptr;
    r.slot_view = nullptr;
}

// A kept buffer, checked against a fresh lookup in builds with checks.
inline SeriesBuffer* view_of(SeriesBuffer*& kept, SeriesBuffer* (*lookup)(const ParseRun&),
                             const ParseRun& r) {
#ifndef NDEBUG
    if (kept && kept != lookup(r)) std::abort();
#endif
    if (!kept) kept = lookup(r);
    return kept;
}
SeriesBuffer* stack_lookup(const ParseRun&) { return stack_buffer(tables.rule_slot); }
SeriesBuffer* rules_lookup(const ParseRun& r) { return series_buffer_of(&r.rules.cell); }
SeriesBuffer* input_lookup(const ParseRun& r) { return series_buffer_of(&r.input.cell); }
inline SeriesBuffer* rule_stack(const ParseRun& r) { return view_of(r.stack_view, stack_lookup, r); }
inline SeriesBuffer* input_buffer(const ParseRun& r) { return view_of(r.input_view, input_lookup, r); }
// Looks the rules' buffer up and keeps its cells and their count with it.
void rules_view_make(const ParseRun& r) {
    SeriesBuffer* b = rules_lookup(r);
    r.rules_view = b;
    r.rule_cells = block_cells(b);
    r.rule_count = int32_t((b->tail - b->head) / sizeof(Cell));
}
// The rules' buffer (kept like the other views; the cell count kept with it
// is checked too in builds with checks).
inline SeriesBuffer* rules_buffer(const ParseRun& r) {
#ifndef NDEBUG
    if (r.rules_view && (r.rules_view != rules_lookup(r) ||
                         uint32_t(r.rule_count) != (r.rules_view->tail - r.rules_view->head) / sizeof(Cell)))
        std::abort();
#endif
    if (!r.rules_view) rules_view_make(r);
    return r.rules_view;
}
// The rules block cell changed.
inline void rules_changed(ParseRun& r) { r.rules_view = nullptr; }
// Makes a block the rules: the kept view stays when the block is the same
// series, since a view is only kept while nothing has moved or changed it.
inline void rules_set(ParseRun& r, const Cell* block) {
    if (!r.rules_view || series_node(block) != series_node(&r.rules.cell)) r.rules_view = nullptr;
    cell_copy(block, &r.rules.cell);
}

inline uint32_t& position(ParseRun& r) { return series_index_word(&r.input.cell); }
inline uint32_t input_tail(const ParseRun& r) { return input_buffer(r)->length(); }
// Where matching ends: the tail, or the part end for the top-level input.
inline uint32_t input_limit(const ParseRun& r) {
    uint32_t tail = input_tail(r);
    if (r.part_end && r.into_depth == 0 && r.part_end < tail) return r.part_end;
    return tail;
}
inline bool at_end(const ParseRun& r) { return uint32_t(series_index(&r.input.cell)) >= input_limit(r); }
inline uint32_t input_length(const ParseRun& r) {
    uint32_t tail = input_tail(r);
    uint32_t at = uint32_t(series_index(&r.input.cell));
    return at < tail ? tail - at : 0;
}
inline uint8_t input_type(const ParseRun& r) { return cell_type(&r.input.cell); }
inline bool block_input(const ParseRun& r) { return r.kind == INPUT_BLOCK; }
inline bool string_input(const ParseRun& r) { return r.kind == INPUT_STRING; }
// Makes a series the working input.
void input_set(ParseRun& r, const Cell* series) {
    cell_copy(series, &r.input.cell);
    cell_clear_newline(&r.input.cell);  // the caller's layout mark: no position or copy keeps it
    r.input_view = nullptr;
    uint8_t t = cell_type(series);
    r.kind = block_family_q(t) ? INPUT_BLOCK : string_family_q(t) ? INPUT_STRING : INPUT_BINARY;
}

// The rules block's buffer holds cells only.
inline int32_t rules_tail(const ParseRun& r) {
    rules_buffer(r);
    return r.rule_count;
}
// The rule cell at an absolute index (valid until the next allocation);
// null outside the block.
inline const Cell* rule_at(const ParseRun& r, int32_t at) {
    uint32_t count = uint32_t(rules_tail(r));
    return uint32_t(at) < count ? r.rule_cells + at : nullptr;
}

// The entry on top of the rule stack (valid until the next allocation).
inline Cell* top_entry(const ParseRun& r) {
    return block_tail_cells(rule_stack(r)) - ENTRY_CELLS;
}
inline bool rule_entry_q(const Cell* entry) { return cell_type(&entry[2]) == T_PAIR; }
inline bool top_rule_entry_q(const ParseRun& r) { return rule_entry_q(top_entry(r)); }
inline int32_t entry_code(const Cell* entry) { return pair_x(&entry[2]); }
inline bool entry_pick(const Cell* entry) { return pair_y(&entry[2]) != 0; }
// An entry's triple {offset, input index, input length} in its second cell.
inline int32_t entry_offset(const Cell* entry) { return triple_get(&entry[1], 0); }
inline uint32_t entry_index(const Cell* entry) { return uint32_t(triple_get(&entry[1], 1)); }
inline uint32_t entry_length(const Cell* entry) { return uint32_t(triple_get(&entry[1], 2)); }
inline void entry_offset_set(Cell* entry, int32_t offset) { triple_set(&entry[1], 0, offset); }
inline void entry_index_set(Cell* entry, uint32_t index) { triple_set(&entry[1], 1, int32_t(index)); }
inline void entry_length_set(Cell* entry, uint32_t length) { triple_set(&entry[1], 2, int32_t(length)); }
// A loop entry's triple {min, max, iteration} in its first cell (a case
// entry keeps the saved comparison code first in that triple).
inline int32_t loop_min(const Cell* entry) { return triple_get(&entry[0], 0); }
inline int32_t loop_max(const Cell* entry) { return triple_get(&entry[0], 1); }
inline int32_t loop_iteration(const Cell* entry) { return triple_get(&entry[0], 2); }
// Drops the top entry; the call's bottom block entry is never dropped this way.
inline void entry_drop(const ParseRun& r) { rule_stack(r)->tail -= ENTRY_CELLS * sizeof(Cell); }
// Cells on the rule stack.
inline uint32_t rule_stack_count(const ParseRun& r) {
    SeriesBuffer* b = rule_stack(r);
    return (b->tail - b->head) / sizeof(Cell);
}
// parse_stacks_check for a push of a rule entry during a run.
[[gnu::always_inline]] inline void rule_stack_check(const ParseRun& r) {
    if (rule_stack_count(r) + ENTRY_CELLS > PARSE_STACK_LIMIT) parse_stacks_overflow();
}

Keyword keyword_resolve(uint32_t symbol) {
    uint32_t s = symbol_resolve(symbol);
    Keyword k = s < tables.keywords.size() ? Keyword(tables.keywords[s]) : K_OTHER;
    if (symbol >= tables.keyword_cache.size()) {
        tables.keyword_cache.resize(symbol + 256, K_UNKNOWN);
        tables.cached = tables.keyword_cache.data();
        tables.cached_count = uint32_t(tables.keyword_cache.size());
    }
    tables.keyword_cache[symbol] = k;
    return k;
}
// The keyword a word names, cached by symbol id (a symbol's alias never changes).
[[gnu::always_inline]] inline Keyword keyword_of(const Cell* word) {
    uint32_t symbol = word_symbol(word);
    if (symbol < tables.cached_count && tables.cached[symbol] != K_UNKNOWN) return Keyword(tables.cached[symbol]);
    return keyword_resolve(symbol);
}
bool word_is(const Cell* cell, uint32_t resolved) {
    return cell && cell_type(cell) == T_WORD && symbol_resolve(word_symbol(cell)) == resolved;
}

// The value of a word, or null when it has none to give (bound nowhere or
// not resolved). An unset value is answered as it is.
inline const Cell* word_value(const Cell* word) {
    if (!word_context(word) || word_index(word) == WORD_UNBOUND) return nullptr;
    return interp_word_slot(word);
}
// word_value for a word of the rules, through the kept slot when the word
// is bound as the last one looked up.
[[gnu::always_inline]] inline const Cell* rule_word_value(const ParseRun& r, const Cell* word) {
    if (r.slot_view && word_context(word) == r.slot_context && word_symbol(word) == r.slot_symbol &&
        word_index(word) == r.slot_index) {
#ifndef NDEBUG
        if (r.slot_view != word_value(word)) std::abort();
#endif
        return r.slot_view;
    }
    const Cell* v = word_value(word);
    if (v) {
        r.slot_view = v;
        r.slot_context = word_context(word);
        r.slot_symbol = word_symbol(word);
        r.slot_index = word_index(word);
    }
    return v;
}
// A word's value as a position of the working input, or null.
const Cell* input_position_of(const ParseRun& r, const Cell* word) {
    uint8_t t = cell_type(word);
    if (t != T_WORD && t != T_GET_WORD) return nullptr;
    const Cell* v = word_value(word);
    if (!v || cell_type(v) != input_type(r) || series_node(v) != series_node(&r.input.cell)) return nullptr;
    return v;
}

Cell* integer_cell(Cell* cell, int32_t n) {
    cell_init(cell, T_INTEGER);
    integer_set(cell, n);
    return cell;
}

// ---- trace and parens ----------------------------------------------------------------------------

// The events a callback takes: when its body begins with a block, the event
// words in it; otherwise all.
uint32_t trace_mask_of(const Cell* callback) {
    const Cell* body = function_more_cell(callback, MORE_BODY);
    if (cell_type(body) != T_BLOCK) return EV_ALL;
    SeriesBuffer* b = series_buffer_of(body);
    if (uint32_t(series_index(body)) >= b->length()) return EV_ALL;
    const Cell* first = block_cells(b) + uint32_t(series_index(body));
    if (cell_type(first) != T_BLOCK) return EV_ALL;
    SeriesBuffer* events = series_buffer_of(first);
    const Cell* cells = block_cells(events);
    uint32_t mask = 0;
    for (uint32_t i = uint32_t(series_index(first)); i < events->length(); i++) {
        if (cell_type(&cells[i]) != T_WORD) continue;
        for (const EventWord& e : event_words)
            if (symbol_resolve(word_symbol(runtime_word(e.word))) == symbol_resolve(word_symbol(&cells[i]))) mask |= e.bit;
    }
    return mask;
}

// Arguments before the first refinement of a function's spec.
uint32_t leading_parameters(const Cell* function) {
    SeriesBuffer* b = series_buffer(function_spec(function));
    const Cell* cells = block_cells(b);
    uint32_t n = 0;
    for (uint32_t i = 0; i < b->length(); i++) {
        uint8_t t = cell_type(&cells[i]);
        if (t == T_REFINEMENT) break;
        if (t == T_WORD || t == T_GET_WORD || t == T_LIT_WORD) n++;
    }
    return n;
}

// Calls the trace callback with the event word, the match, the rules at the
// rule pointer, the working input and a copy of the call's rule stack
// entries. Answers false when the parse is to stop: the callback answered
// none or false, or raised an exit (then kept in r.exit).
bool parse_trace_call(ParseRun& r, uint32_t event) {
    Cell* base = data_stack.top;
    Cell* rule_stack = stack_push(stack_block(tables.rule_slot));
    series_index_set(rule_stack, int32_t(r.rule_base));
    rule_stack = block_clone(rule_stack, false, false);
    view_drop(r);
    Cell* slot = stack_push(&r.callback.cell);
    uint32_t leading = leading_parameters(slot);
    uint32_t slots = context_word_count(function_context(slot));
    stack_mark_func_interp(runtime_word(W_LABEL_PARSE_CALLBACK));
    Cell args[5];
    for (const EventWord& e : event_words)
        if (e.bit == event) cell_copy(runtime_word(e.word), &args[0]);
    logic_make_at(&args[1], r.match);
    cell_copy(&r.rules.cell, &args[2]);
    int32_t at = std::clamp(r.rp, series_index(&r.rules.cell), std::max(rules_tail(r), series_index(&r.rules.cell)));
    series_index_set(&args[2], at);
    cell_copy(&r.input.cell, &args[3]);
    cell_copy(rule_stack, &args[4]);
    for (uint32_t i = 0; i < leading; i++) {
        if (i < 5) stack_push(&args[i]);
        else stack_push_new(T_NONE);
    }
    if (slots > leading) push_unused_refinement(slots - leading);
    r.effects++;
    ExitCode x = exec_function(slot, 0, runtime_word(W_LABEL_PARSE_CALLBACK), 0);
    view_drop(r);
    if (x != EXIT_CODE_NONE) {
        r.exit = x;
        return false;
    }
    stack_unwind_func_keep();
    bool go_on = !logic_false(slot + 1);
    data_stack.top = base;
    // The callback may have shortened the input.
    position(r) = std::min(position(r), input_tail(r));
    return go_on;
}

// Reports an event to the trace callback when it takes that event.
inline bool parse_trace(ParseRun& r, uint32_t event) {
    return !(r.trace_mask & event) || parse_trace_call(r, event);
}

// Evaluates a paren of the rules; its value goes to out unless out is null.
// A pending exit is kept in r.exit and answered as false.
bool parse_eval_paren(ParseRun& r, const Cell* paren, Cell* out) {
    Cell* base = data_stack.top;
    r.effects++;
    ExitCode x = eval_block(paren, false);
    view_drop(r);
    if (x != EXIT_CODE_NONE) {
        r.exit = x;
        return false;
    }
    if (out) cell_copy(data_stack.top - 1, out);
    data_stack.top = base;
    return true;
}

// The step that follows a traced event, or STOP.
inline Step traced(ParseRun& r, uint32_t event, Step next) { return parse_trace(r, event) ? next : STOP; }

// ---- entries -------------------------------------------------------------------------------------

Cell* entry_push(ParseRun& r, const Cell* first, const Cell* third, int32_t offset, uint32_t index,
                 uint32_t length);

// entry_push when the rule stack is full: grows it, then pushes.
Cell* entry_push_grown(ParseRun& r, const Cell* first, const Cell* third, int32_t offset,
                       uint32_t index, uint32_t length) {
    CellRoot held_first(*first), held_third(*third);
    Cell none;
    cell_init(&none, T_NONE);
    for (uint32_t i = 0; i < ENTRY_CELLS; i++) block_ks_append(stack_block(tables.rule_slot), &none);
    view_drop(r);
    entry_drop(r);
    return entry_push(r, &held_first.cell, &held_third.cell, offset, index, length);
}

// Pushes the entry {first; triple {offset, index, length}; third} and
// answers it (valid until the next allocation). first and third may lie in a
// series buffer: only growing the stack allocates, and that copies them first.
inline Cell* entry_push(ParseRun& r, const Cell* first, const Cell* third, int32_t offset,
                        uint32_t index, uint32_t length) {
    SeriesBuffer* b = rule_stack(r);
    if (b->tail + ENTRY_CELLS * sizeof(Cell) > b->size)
        return entry_push_grown(r, first, third, offset, index, length);
    Cell* e = block_tail_cells(b);
    b->tail += ENTRY_CELLS * sizeof(Cell);
    cell_copy(first, &e[0]);
    triple_make_at(&e[1], offset, int32_t(index), int32_t(length));
    cell_copy(third, &e[2]);
    return e;
}

// Makes a block the current rules, the rule pointer before its first rule.
[[gnu::always_inline]] inline void walk_block(ParseRun& r, const Cell* block) {
    rules_set(r, block);
    cell_type_set(&r.rules.cell, T_BLOCK);
    uint32_t tail = uint32_t(rules_tail(r));
    if (uint32_t(series_index(&r.rules.cell)) > tail) series_index_set(&r.rules.cell, int32_t(tail));
    r.rp = series_index(&r.rules.cell) - 1;
    r.match = true;
    r.copied_just = false;
}

// Step 0: a block entry, then the block's first rule.
Step enter_block(ParseRun& r, const Cell* block) {
    rule_stack_check(r);
    Cell none;
    cell_init(&none, T_NONE);
    entry_push(r, &none, &r.rules.cell, r.rp, position(r), input_length(r));
    walk_block(r, block);
    return traced(r, EV_PUSH, FETCH);
}

// Step 2: a rule entry whose sub-rule stands at sub.
Step push_rule_entry(ParseRun& r, int32_t code, bool pick, const Cell* first, int32_t sub) {
    rule_stack_check(r);
    Cell code_cell;
    cell_init(&code_cell, T_PAIR);
    pair_init(&code_cell, code, pick ? 1 : 0);
    entry_push(r, first, &code_cell, sub - 1, position(r), input_length(r));
    r.rp = sub;
    r.from_word = false;
    r.copied_just = false;
    return traced(r, EV_PUSH, SUB_RULE);
}

[[gnu::always_inline]] inline int32_t literal_run(ParseRun& r, int32_t max, bool* endless);

// Whether a rule value is matched literally as a keyword's sub-rule.
inline bool literal_rule_q(uint8_t t) {
    constexpr uint64_t other = 1ull << T_BLOCK | 1ull << T_WORD | 1ull << T_INTEGER | 1ull << T_PAREN |
                               1ull << T_DATATYPE | 1ull << T_TYPESET | 1ull << T_SET_WORD |
                               1ull << T_GET_WORD | 1ull << T_PATH | 1ull << T_SET_PATH | 1ull << T_GET_PATH;
    return t >= 64 || !(other >> t & 1);
}

// A repetition whose sub-rule is a literal value, or a word holding one,
// matched at once without a trace: the outcome of pushing the entry,
// matching under it and completing it. Answers false, doing nothing, for any
// other sub-rule.
[[gnu::always_inline]] inline bool repeat_at_once(ParseRun& r, int32_t min, int32_t max, int32_t sub) {
    if (r.trace_mask) return false;
    const Cell* v = rule_at(r, sub);
    if (!v) return false;
    bool from_word = cell_type(v) == T_WORD;
    if (from_word) {
        if (keyword_of(v) != K_OTHER) return false;
        v = rule_word_value(r, v);
        if (!v || cell_type(v) == T_UNSET || cell_type(v) == T_WORD) return false;
    }
    if (!literal_rule_q(cell_type(v))) return false;
    rule_stack_check(r);
    cell_copy(v, &r.value.cell);
    r.brk = false;
    r.copied_just = false;
    r.from_word = from_word;
    r.rp = sub;
    uint32_t start = position(r);
    bool endless = false;
    int32_t count = literal_run(r, max, &endless);
    r.match = count >= min || min == 0 || endless;
    if (!r.match) position(r) = start;
    return true;
}

// A sub-rule at the rule pointer that is any, some or opt before a literal,
// matched at once (repeat_at_once); the entry on top is then to complete.
[[gnu::always_inline]] inline bool repeated_sub_rule_at_once(ParseRun& r) {
    const Cell* v = rule_at(r, r.rp);
    if (!v || cell_type(v) != T_WORD || !rule_at(r, r.rp + 1)) return false;
    switch (keyword_of(v)) {
    case K_ANY: return repeat_at_once(r, 0, -1, r.rp + 1);
    case K_SOME: return repeat_at_once(r, 1, -1, r.rp + 1);
    case K_OPT: return repeat_at_once(r, 0, 1, r.rp + 1);
    default: return false;
    }
}

// A loop entry (any, some, opt, counts, while).
Step push_counted(ParseRun& r, int32_t code, int32_t min, int32_t max, int32_t sub) {
    if (code == E_REPEAT && repeat_at_once(r, min, max, sub)) return ROUTE;
    Cell counts;
    triple_make_at(&counts, min, max, 1);
    r.brk = false;
    r.loop_effects.push_back(r.effects);
    return push_rule_entry(r, code, false, &counts, sub);
}

// ---- matching ------------------------------------------------------------------------------------

// Elements the literal rule value matches at an absolute input index, or -1.
int32_t literal_match_at(ParseRun& r, const Cell* rule, uint32_t at) {
    uint32_t limit = input_limit(r);
    uint8_t rt = cell_type(rule);
    if (at >= limit) {
        if (string_input(r) && (rt == T_STRING || rt == T_FILE || rt == T_URL)) {
            Cell text = *rule;
            if (string_ks_length_q(&text) == 0) return 0;
        }
        return -1;
    }
    Cell here = r.input.cell;
    series_index_set(&here, int32_t(at));
    if (block_input(r)) {
        int32_t op = r.cmp;
        if (rt == T_LIT_WORD || rt == T_LIT_PATH) op = r.cmp == PARSE_CASE_SENSITIVE ? CMP_FIND_MODE1 : CMP_FIND_MODE2;
        Cell* element = stack_push(block_cells(series_buffer_of(&here)) + at);
        Cell* probe = stack_push(rule);
        bool same = compare_logic(element, probe, op);
        view_drop(r);
        data_stack.top = element;
        return same ? 1 : -1;
    }
    if (input_type(r) == T_BINARY) {
        if (rt == T_BITSET) return binary_byte_in_bitset_q(&here, rule) ? 1 : -1;
        int32_t skip;
        if (rt == T_CHAR) {
            skip = 1;
        } else if (rt == T_BINARY || string_family_q(rt)) {
            SeriesBuffer* b = series_buffer_of(rule);
            uint32_t start = std::min<uint32_t>(uint32_t(series_index(rule)), b->length());
            skip = int32_t((b->length() - start) << b->shift());
        } else {
            return -1;
        }
        if (at + uint32_t(skip) > limit) return -1;
        return binary_match_value_q(&here, rule, r.cmp) ? skip : -1;
    }
    // any-string input
    if (rt == T_BITSET || rt == T_CHAR) {
        SeriesBuffer* b = input_buffer(r);
        uint32_t unit = b->unit();
        uint32_t c = string_get_char(b->head_ptr() + size_t(at) * unit, unit);
        if (rt == T_BITSET) return bitset_member_q(rule, c) ? 1 : -1;
        uint32_t want = uint32_t(cell_int(rule));
        if (r.cmp == PARSE_CASE_SENSITIVE) return c == want ? 1 : -1;
        return change_char_case(c, false) == change_char_case(want, false) ? 1 : -1;
    }
    if (!string_family_q(rt)) return -1;
    if (rt != T_TAG) {
        // The text's characters against as many of the input's.
        TextSpan text = string_span(rule);
        if (uint64_t(at) + text.count > limit) return -1;
        SeriesBuffer* b = input_buffer(r);
        uint32_t unit = b->unit();
        TextSpan here_text{b->head_ptr() + size_t(at) * unit, unit, text.count};
        return text_equal_q(here_text, text, r.cmp == PARSE_CASE_SENSITIVE) ? int32_t(text.count) : -1;
    }
    Cell text = *rule;
    int32_t skip = int32_t(string_ks_length_q(&text)) + 2;
    if (at + uint32_t(skip) > limit) return -1;
    return string_match_at_q(&here, rule, r.cmp) ? skip : -1;
}

// How many times the literal rule value matches in a row from the position,
// at most max (-1: no bound); the position moves past the matches. endless is
// set when the value matches without consuming (it would match for ever).
[[gnu::noinline]] int32_t literal_run_each(ParseRun& r, int32_t max, bool* endless) {
    int32_t count = 0;
    while (max < 0 || count < max) {
        int32_t skip = literal_match_at(r, &r.value.cell, position(r));
        if (skip < 0) break;
        position(r) += uint32_t(skip);
        count++;
        if (skip == 0) {
            *endless = true;
            break;
        }
    }
    return count;
}
[[gnu::always_inline]] inline int32_t literal_run(ParseRun& r, int32_t max, bool* endless) {
    if (string_input(r) && cell_type(&r.value.cell) == T_BITSET) {
        uint32_t n = string_buffer_bitset_span(input_buffer(r), position(r), input_limit(r),
                                               series_buffer_of(&r.value.cell), max < 0 ? UINT32_MAX : uint32_t(max));
        position(r) += n;
        return int32_t(n);
    }
    return literal_run_each(r, max, endless);
}

// A literal repeated under the top repetition entry (parse-repeat-literal).
// A value that matches without consuming counts as matching every time.
Step repeat_literal(ParseRun& r) {
    Cell* e = top_entry(r);
    int32_t min = loop_min(e), max = loop_max(e);
    uint32_t start = position(r);
    bool endless = false;
    int32_t count = literal_run(r, max, &endless);
    r.match = count >= min || min == 0 || endless;
    if (!r.match) position(r) = start;
    if (!parse_trace(r, EV_MATCH)) return STOP;
    if (!parse_trace(r, EV_POP)) return STOP;
    entry_drop(r);
    r.loop_effects.pop_back();
    return ROUTE;
}

// to or thru a literal (parse-find).
Step find_literal(ParseRun& r, bool thru) {
    uint8_t rt = cell_type(&r.value.cell);
    if (!block_input(r) && !(string_family_q(rt) || rt == T_BINARY || rt == T_CHAR || rt == T_BITSET))
        error_raise(ERR_PARSE_RULE, &r.value.cell);
    uint32_t limit = input_limit(r);
    r.match = false;
    for (uint32_t at = position(r); at <= limit; at++) {
        int32_t skip = literal_match_at(r, &r.value.cell, at);
        if (skip < 0) continue;
        position(r) = thru ? at + uint32_t(skip) : at;
        r.match = true;
        break;
    }
    if (!parse_trace(r, EV_MATCH)) return STOP;
    if (!parse_trace(r, EV_POP)) return STOP;
    entry_drop(r);
    return ROUTE;
}

// The type of the value the lexer reads at the binary input's position and
// the bytes it takes; -1 when no value can be read there.
int32_t binary_load_value(ParseRun& r, uint8_t* type) {
    uint32_t from = position(r), limit = input_limit(r);
    Cell* dest = stack_push_new(T_NONE);
    StackState saved = stack_save();
    LexerOptions options;
    options.one = true;
    options.source = &r.input.cell;  // lets the lexer read a window of the rest, not all of it
    int32_t consumed = 0;
    try {
        const uint8_t* bytes = series_buffer_of(&r.input.cell)->head_ptr() + from;
        lexer_transcode(dest, bytes, limit - from, options, &consumed);
    } catch (const LanguageError&) {
        view_drop(r);
        stack_restore(saved);
        data_stack.top = dest;
        return -1;
    }
    view_drop(r);
    *type = cell_type(dest);
    data_stack.top = dest;
    if (consumed <= 0 || *type == T_UNSET || *type == T_NONE_ID) return -1;
    return consumed;
}

// A datatype! or typeset! rule against the element at the position.
Step match_type(ParseRun& r) {
    if (string_input(r)) error_raise(ERR_PARSE_UNSUPPORTED);
    const Cell* rule = &r.value.cell;
    auto fits = [rule](uint8_t t) {
        return cell_type(rule) == T_DATATYPE ? datatype_id(rule) == t : typeset_has(rule, t);
    };
    if (at_end(r)) {
        r.match = false;
        return traced(r, EV_MATCH, ROUTE);
    }
    if (block_input(r)) {
        const Cell* element =
            block_cells(series_buffer_of(&r.input.cell)) + position(r);
        r.match = fits(cell_type(element));
        if (!parse_trace(r, EV_MATCH)) return STOP;
        return r.match ? ADVANCE : ROUTE;
    }
    uint8_t type = 0;
    int32_t consumed = binary_load_value(r, &type);
    r.match = consumed > 0 && fits(type);
    if (r.match) position(r) += uint32_t(consumed);
    return traced(r, EV_MATCH, ROUTE);
}

// ---- modification and capture --------------------------------------------------------------------

// A copy of count input elements from an absolute index, into out (rooted).
void input_copy(ParseRun& r, uint32_t from, uint32_t count, Cell* out) {
    if (!block_input(r)) {
        // Strings and binaries copy as series!: straight from the buffer.
        uint32_t length = input_tail(r);
        from = std::min(from, length);
        series_copy_range(&r.input.cell, from, std::min(count, length - from), out);
        view_drop(r);
        return;
    }
    Cell* series = stack_push(&r.input.cell);
    series_index_set(series, int32_t(from));
    Cell* part = integer_cell(stack_push_slot(), int32_t(count));
    auto copy = action_lookup_as<CopyFn>(cell_type(series), A_COPY);
    copy(series, part, false, nullptr);
    view_drop(r);
    cell_copy(series, out);
    data_stack.top = series;
}

void input_remove(ParseRun& r, uint32_t from, uint32_t count) {
    if (count == 0) return;
    r.effects++;
    Cell* series = stack_push(&r.input.cell);
    series_index_set(series, int32_t(from));
    Cell* part = integer_cell(stack_push_slot(), int32_t(count));
    auto remove = action_lookup_as<RemoveFn>(cell_type(series), A_REMOVE);
    remove(series, part, nullptr);
    view_drop(r);
    data_stack.top = series;
}

// Replaces count elements from an absolute index with the value (rooted);
// answers the index after the change.
uint32_t input_change(ParseRun& r, uint32_t from, uint32_t count, const Cell* value, bool only) {
    r.effects++;
    Cell* series = stack_push(&r.input.cell);
    series_index_set(series, int32_t(from));
    auto change = action_lookup_as<ChangeFn>(cell_type(series), A_CHANGE);
    change(series, value, int32_t(count), only, 1);
    view_drop(r);
    uint32_t after = uint32_t(series_index(series));
    data_stack.top = series;
    return after;
}

// Inserts the value (rooted) at an absolute index; answers the elements added.
uint32_t input_insert(ParseRun& r, uint32_t at, const Cell* value, bool only) {
    r.effects++;
    uint32_t before = input_tail(r);
    Cell* series = stack_push(&r.input.cell);
    series_index_set(series, int32_t(at));
    auto insert = action_lookup_as<InsertFn>(cell_type(series), A_INSERT);
    insert(series, value, -1, only, 1, false);
    view_drop(r);
    data_stack.top = series;
    uint32_t after = input_tail(r);
    return after > before ? after - before : 0;
}

// The value written after insert or change (at the rule pointer): a paren's
// value, a word's value, or the value itself; into out (rooted).
bool modify_value(ParseRun& r, const Cell* after_word, Cell* out) {
    const Cell* v = rule_at(r, r.rp);
    if (!v) error_raise(ERR_PARSE_END, after_word);
    uint8_t t = cell_type(v);
    if (t == T_PATH || t == T_LIT_PATH || t == T_SET_PATH || t == T_GET_PATH) error_raise(ERR_PARSE_RULE, v);
    if (t == T_PAREN) {
        if (!parse_eval_paren(r, v, out)) return false;
        return parse_trace(r, EV_PAREN);
    }
    if (t == T_WORD) {
        CellRoot word(*v);
        const Cell* value = word_value(&word.cell);
        if (!value || cell_type(value) == T_UNSET) error_raise(ERR_NO_VALUE, &word.cell);
        cell_copy(value, out);
        return true;
    }
    cell_copy(v, out);
    return true;
}

// Adds a value (rooted) to the innermost collect target (parse-collect-add):
// appended to a collect block; inserted at an into/after target's position,
// which moves past it. With splice a block value adds its elements.
void collect_add(ParseRun& r, const Cell* value, bool splice) {
    Cell* target = data_stack.bottom + r.targets.back();
    if (cell_type(target) == T_BLOCK) {
        if (splice && block_family_q(cell_type(value))) {
            uint32_t length = series_buffer_of(value)->length();
            for (uint32_t i = uint32_t(series_index(value)); i < length; i++) {
                const Cell* cells = block_cells(series_buffer_of(value));
                block_ks_append(target, &cells[i]);
            }
        } else {
            block_ks_append(target, value);
        }
        view_drop(r);
        return;
    }
    Cell* word = stack_push(target);
    cell_type_set(word, T_WORD);
    Cell* series = stack_push(word_get(word));
    auto insert = action_lookup_as<InsertFn>(cell_type(series), A_INSERT);
    insert(series, value, -1, !splice, 1, false);
    word_set(word, series);
    view_drop(r);
    data_stack.top = word;
}

// keep of the matched part from an absolute index to the position.
void keep_matched(ParseRun& r, uint32_t from, bool pick) {
    uint32_t to = std::min(position(r), input_tail(r));
    if (to <= from) return;
    Cell* v = stack_push_new(T_NONE);
    if (pick || to - from == 1) {
        for (uint32_t i = from; i < to; i++) {
            series_element_value(&r.input.cell, i, v);
            collect_add(r, v, false);
        }
    } else {
        input_copy(r, from, to - from, v);
        collect_add(r, v, false);
    }
    data_stack.top = v;
}

// The collect target of an into/after word: a series compatible with the input.
void collect_target_check(ParseRun& r, const Cell* word) {
    const Cell* v = word_value(word);
    uint8_t t = v ? cell_type(v) : uint8_t(T_UNSET);
    bool fits;
    if (block_input(r)) fits = block_family_q(t);
    else if (input_type(r) == T_BINARY) fits = t == T_BINARY || string_family_q(t);
    else fits = string_family_q(t) || t == T_BINARY;
    if (!fits) error_raise(ERR_PARSE_INTO_TYPE);
    if (series_node(v) == series_node(&r.input.cell)) error_raise(ERR_PARSE_INTO_BAD);
}

// The collect entry completes: its block goes to the set word, into the
// enclosing target, or becomes the result; an into target's position is put back.
void collect_deliver(ParseRun& r) {
    Cell* target = data_stack.bottom + r.targets.back();
    Cell* aux = target - 1;
    uint8_t t = cell_type(target);
    if (t == T_BLOCK) {
        if (cell_type(aux) == T_WORD) {
            word_set(aux, target);
        } else if (r.targets.size() > 1) {
            r.targets.pop_back();
            collect_add(r, target, false);
            r.targets.push_back(uint32_t(target - data_stack.bottom));
        } else {
            cell_copy(target, &r.result.cell);
            r.collected = true;
        }
    } else if (t == T_GET_WORD) {
        Cell* word = stack_push(target);
        cell_type_set(word, T_WORD);
        Cell* series = stack_push(word_get(word));
        series_index_set(series, cell_int(aux));
        word_set(word, series);
    }
    view_drop(r);
    r.targets.pop_back();
    data_stack.top = aux;
}

// ---- completing a rule entry ---------------------------------------------------------------------

// Whether the round of the loop entry e that just ended consumed input or
// shortened it.
inline bool loop_progress(ParseRun& r, const Cell* e) {
    return position(r) != entry_index(e) || input_length(r) < entry_length(e);
}

// Whether the loop entry e goes round again: the round matched, no break
// or reject, the maximum is not reached, and the round made progress (a
// while loop: or evaluated something or changed the input).
inline bool loop_goes_on(const ParseRun& r, const Cell* e, int32_t code, bool progress) {
    int32_t max = loop_max(e), n = loop_iteration(e);
    if (!r.match || r.brk || (max >= 0 && n >= max)) return false;
    return progress || (code == E_WHILE && r.loop_effects.back() != r.effects);
}

// Starts the next round of the loop entry e; the rule pointer goes back to
// its keyword.
inline void loop_round(ParseRun& r, Cell* e) {
    entry_index_set(e, position(r));
    entry_length_set(e, input_length(r));
    triple_set(&e[0], 2, int32_t(uint32_t(loop_iteration(e)) + 1));
    r.loop_effects.back() = r.effects;
    r.rp = entry_offset(e);
}

Step complete_loop(ParseRun& r, Cell* e, int32_t code) {
    int32_t min = loop_min(e), n = loop_iteration(e);
    uint32_t start = entry_index(e);
    bool stop = r.brk;
    bool progress = loop_progress(r, e);
    bool again = loop_goes_on(r, e, code, progress);
    r.brk = false;
    if (again) {
        loop_round(r, e);
        return traced(r, EV_ITERATE, FETCH);
    }
    if (r.match) {
        // A repetition that stops on an iteration that matched without
        // consuming would match the same way every further time.
        bool endless = !progress && !stop;
        r.match = n >= min || endless;
    } else {
        r.match = n - 1 >= min || min == 0;
        position(r) = start;
    }
    r.loop_effects.pop_back();
    return COMPLETE;
}

// Completes the top rule entry by its code; answers the next step (FETCH
// when a loop or to/thru goes round again, STOP, or ROUTE after the pop).
// After the sub-rule of copy or set (code E_COPY or E_SET) from start: on a
// match, sets the word to the matched input or its first element. Answers
// whether the input was copied. The word is r.target's.
bool copy_set_finish(ParseRun& r, int32_t code, uint32_t start) {
    if (!r.match) return false;
    if (code == E_COPY) {
        uint32_t from = std::min(start, position(r)), to = std::max(start, position(r));
        input_copy(r, from, to - from, &r.copied.cell);
        word_set(&r.target.cell, &r.copied.cell);
        view_drop(r);
        return true;
    }
    Cell* v = stack_push_new(T_NONE);
    if (position(r) != start && start < input_tail(r)) series_element_value(&r.input.cell, start, v);
    word_set(&r.target.cell, v);
    view_drop(r);
    data_stack.top = v;
    return false;
}

Step complete_entry(ParseRun& r) {
    Cell* e = top_entry(r);
    int32_t code = entry_code(e);
    bool pick = entry_pick(e);
    uint32_t start = entry_index(e);
    bool copied = false;
    switch (code) {
    case E_REPEAT:
    case E_WHILE: {
        Step s = complete_loop(r, e, code);
        if (s != COMPLETE) return s;
        break;
    }
    case E_TO:
    case E_THRU:
        if (r.match) {
            if (code == E_TO) position(r) = start;
        } else if (start < input_limit(r)) {
            entry_index_set(e, start + 1);
            position(r) = start + 1;
            r.rp = entry_offset(e);
            r.match = true;
            if (!parse_trace(r, EV_POP)) return STOP;
            return traced(r, EV_ITERATE, FETCH);
        }
        break;
    case E_COPY:
    case E_SET:
        cell_copy(&e[0], &r.target.cell);  // the entry moves with the stack
        copied = copy_set_finish(r, code, start);
        break;
    case E_NOT:
        r.match = !r.match;
        position(r) = start;
        break;
    case E_INTO: {
        r.match = r.match && position(r) >= input_tail(r) && r.left_at_tail;
        uint32_t nested = stack_count(tables.input_slot) - 1;
        input_set(r, stack_cell(tables.input_slot, nested - 1));
        stack_cut(tables.input_slot, nested);
        r.into_depth--;
        if (r.match) position(r)++;
        break;
    }
    case E_REMOVE:
        if (r.match && position(r) > start) {
            input_remove(r, start, position(r) - start);
            position(r) = start;
        }
        break;
    case E_COLLECT:
        collect_deliver(r);
        break;
    case E_KEEP:
        if (r.match) {
            if (r.copied_just) collect_add(r, &r.copied.cell, pick);
            else keep_matched(r, start, pick);
        }
        break;
    case E_AHEAD:
        position(r) = start;
        break;
    case E_CHANGE:
    case E_CHANGE_ONLY: {
        CellRoot keyword(*rule_at(r, entry_offset(e)));
        r.rp++;
        if (!rule_at(r, r.rp)) error_raise(ERR_PARSE_END, &keyword.cell);
        if (r.match) {
            CellRoot value;
            if (!modify_value(r, &keyword.cell, &value.cell)) return STOP;
            uint32_t from = std::min(start, position(r)), to = std::max(start, position(r));
            position(r) = input_change(r, from, to - from, &value.cell, code == E_CHANGE_ONLY);
        }
        break;
    }
    case E_CASE:
        r.cmp = triple_get(&e[0], 0);
        break;
    default:
        // Only the codes above are ever pushed: another is a fault of this program.
        runtime_error_exit(RUNTIME_NO_SWITCH_MATCH, e);
    }
    if (!parse_trace(r, EV_POP)) return STOP;
    entry_drop(r);
    r.copied_just = copied;
    return ROUTE;
}

// After a match or a failure: complete the entry on top, or go on in the block.
inline Step route(const ParseRun& r) {
    if (top_rule_entry_q(r)) return COMPLETE;
    return r.match ? FETCH : FAILURE;
}

// ---- words ---------------------------------------------------------------------------------------

// The rule value after a keyword must exist.
inline void need_after(ParseRun& r, int32_t at, const Cell* keyword) {
    if (!rule_at(r, at)) error_raise(ERR_PARSE_END, keyword);
}

// An optional modifier word (only, pick) after a keyword at next: steps
// over it when present; a value must follow either way.
bool modifier_after(ParseRun& r, int32_t& next, uint32_t modifier, const Cell* keyword) {
    need_after(r, next, keyword);
    if (!word_is(rule_at(r, next), modifier)) return false;
    next++;
    need_after(r, next, keyword);
    return true;
}

// A rule entry whose first cell holds nothing.
Step push_plain(ParseRun& r, int32_t code, bool pick, int32_t sub) {
    Cell none;
    cell_init(&none, T_NONE);
    return push_rule_entry(r, code, pick, &none, sub);
}

// Each keyword's step: w is the keyword (in r.word), next the rule index
// after it. The steps of the rarer keywords are not inlined, so that
// handle_word needs no large frame for the common ones.

[[gnu::always_inline]] inline Step leave_block(ParseRun& r);

[[gnu::always_inline]] inline Step word_bar(ParseRun& r, const Cell*, int32_t) {
    r.rp = rules_tail(r);
    return top_rule_entry_q(r) ? COMPLETE : leave_block(r);
}

[[gnu::always_inline]] inline Step word_skip(ParseRun& r, const Cell*, int32_t) {
    if (at_end(r)) {
        r.match = false;
        return ROUTE;
    }
    r.match = true;
    if (r.trace_mask & EV_MATCH) return traced(r, EV_MATCH, ADVANCE);
    position(r)++;
    return ROUTE;
}

// any, some, opt and while: a counted repetition of the rule after.
Step word_repeat(ParseRun& r, const Cell* w, int32_t next, int32_t code, int32_t min, int32_t max) {
    need_after(r, next, w);
    return push_counted(r, code, min, max, next);
}

[[gnu::always_inline]] inline Step word_copy_set(ParseRun& r, const Cell* w, int32_t next, int32_t code) {
    const Cell* target = rule_at(r, next);
    if (!target || cell_type(target) != T_WORD || !rule_at(r, next + 1)) error_raise(ERR_PARSE_END, w);
    if (!r.trace_mask) {
        // Over any, some or opt and a literal, without a trace to see an
        // entry: the repetition and the word's value at once, no entry pushed.
        cell_copy(target, &r.target.cell);  // the rules may move while the repetition runs
        uint32_t start = position(r);
        int32_t at = r.rp;
        r.rp = next + 1;
        if (repeated_sub_rule_at_once(r)) {
            r.copied_just = r.match && copy_set_finish(r, code, start);
            return ROUTE;
        }
        r.rp = at;
        target = rule_at(r, next);
    }
    return push_rule_entry(r, code, false, target, next + 1);
}

[[gnu::noinline]] Step word_to_thru(ParseRun& r, const Cell* w, int32_t next, int32_t code) {
    need_after(r, next, w);
    if (word_is(rule_at(r, next), tables.sym_end)) {
        r.match = true;
        position(r) = std::max(position(r), input_limit(r));
        r.rp = next;
        return traced(r, EV_MATCH, ROUTE);
    }
    return push_plain(r, code, false, next);
}

[[gnu::noinline]] Step word_remove(ParseRun& r, const Cell* w, int32_t next) {
    need_after(r, next, w);
    const Cell* v = rule_at(r, next);
    uint8_t t = cell_type(v);
    if (t == T_PATH || t == T_LIT_PATH || t == T_SET_PATH || t == T_GET_PATH) error_raise(ERR_PARSE_RULE, v);
    CellRoot after(*v);
    if (const Cell* at = input_position_of(r, &after.cell)) {
        uint32_t p = std::min(uint32_t(series_index(at)), input_tail(r));
        uint32_t from = std::min(p, position(r)), to = std::max(p, position(r));
        input_remove(r, from, to - from);
        position(r) = from;
        r.rp = next;
        r.match = true;
        return traced(r, EV_MATCH, ROUTE);
    }
    return push_plain(r, E_REMOVE, false, next);
}

// break succeeds and reject fails the enclosing loop or block.
Step word_break(ParseRun& r, bool match) {
    r.match = match;
    r.brk = r.exit_block = true;
    return traced(r, EV_MATCH, COMPLETE);
}

[[gnu::noinline]] Step word_keep(ParseRun& r, const Cell* w, int32_t next) {
    if (r.targets.empty()) error_raise(ERR_PARSE_KEEP, w);
    bool pick = modifier_after(r, next, tables.sym_pick, w);
    const Cell* v = rule_at(r, next);
    if (cell_type(v) == T_PAREN) {
        r.rp = next;
        CellRoot kept;
        if (!parse_eval_paren(r, v, &kept.cell) || !parse_trace(r, EV_PAREN)) return STOP;
        collect_add(r, &kept.cell, pick);
        r.match = true;
        return traced(r, EV_MATCH, ROUTE);
    }
    return push_plain(r, E_KEEP, pick, next);
}

// fail, end and none: a match (or not) without moving.
Step word_outcome(ParseRun& r, bool match) {
    r.match = match;
    return traced(r, EV_MATCH, ROUTE);
}

// ahead and not: the rule after, from the same position.
Step word_look(ParseRun& r, const Cell* w, int32_t next, int32_t code) {
    need_after(r, next, w);
    return push_plain(r, code, false, next);
}

[[gnu::noinline]] Step word_into(ParseRun& r, const Cell* w, int32_t next) {
    if (!block_input(r)) error_raise(ERR_PARSE_BLOCK, &r.input.cell);
    const Cell* v = rule_at(r, next);
    if (v && cell_type(v) == T_WORD) v = word_value(v);
    if (!v || cell_type(v) != T_BLOCK) error_raise(ERR_PARSE_END, w);
    r.rp = next;
    if (at_end(r)) {
        r.match = false;
        return ROUTE;
    }
    const Cell* element = block_cells(series_buffer_of(&r.input.cell)) + position(r);
    uint8_t t = cell_type(element);
    if (!(block_family_q(t) || string_family_q(t) || t == T_BINARY)) {
        r.match = false;
        return ROUTE;
    }
    CellRoot nested(*element);
    parse_stacks_check(1, ENTRY_CELLS);
    cell_copy(&r.input.cell, stack_cell(tables.input_slot, stack_count(tables.input_slot) - 1));
    block_ks_append(stack_block(tables.input_slot), &nested.cell);
    view_drop(r);
    input_set(r, &nested.cell);
    position(r) = std::min(position(r), input_tail(r));
    r.into_depth++;
    return push_plain(r, E_INTO, false, next);
}

[[gnu::noinline]] Step word_insert(ParseRun& r, const Cell* w, int32_t next) {
    bool only = modifier_after(r, next, tables.sym_only, w);
    uint32_t at = position(r);
    CellRoot place(*rule_at(r, next));
    if (const Cell* p = input_position_of(r, &place.cell)) {
        at = std::min(uint32_t(series_index(p)), input_tail(r));
        next++;
        if (!rule_at(r, next)) error_raise(ERR_PARSE_RULE, &place.cell);
    }
    r.rp = next;
    CellRoot value;
    if (!modify_value(r, w, &value.cell)) return STOP;
    uint32_t added = input_insert(r, at, &value.cell, only);
    if (at <= position(r)) position(r) += added;
    r.match = true;
    return FETCH;
}

[[gnu::noinline]] Step word_change(ParseRun& r, const Cell* w, int32_t next) {
    bool only = modifier_after(r, next, tables.sym_only, w);
    CellRoot place(*rule_at(r, next));
    if (const Cell* p = input_position_of(r, &place.cell)) {
        uint32_t at = std::min(uint32_t(series_index(p)), input_tail(r));
        r.rp = next + 1;
        if (!rule_at(r, r.rp)) error_raise(ERR_PARSE_RULE, &place.cell);
        CellRoot value;
        if (!modify_value(r, w, &value.cell)) return STOP;
        uint32_t from = std::min(at, position(r)), to = std::max(at, position(r));
        position(r) = input_change(r, from, to - from, &value.cell, only);
        r.match = true;
        return traced(r, EV_MATCH, ROUTE);
    }
    return push_plain(r, only ? E_CHANGE_ONLY : E_CHANGE, false, next);
}

[[gnu::noinline]] Step word_if(ParseRun& r, const Cell* w, int32_t next) {
    const Cell* v = rule_at(r, next);
    if (!v || cell_type(v) != T_PAREN) error_raise(ERR_PARSE_END, w);
    r.rp = next;
    CellRoot answer;
    if (!parse_eval_paren(r, v, &answer.cell) || !parse_trace(r, EV_PAREN)) return STOP;
    r.match = !logic_false(&answer.cell);
    return traced(r, EV_MATCH, ROUTE);
}

Step word_quote(ParseRun& r, const Cell* w, int32_t next) {
    need_after(r, next, w);
    r.rp = next;
    cell_copy(rule_at(r, next), &r.value.cell);
    return LITERAL;
}

[[gnu::noinline]] Step word_collect(ParseRun& r, const Cell* w, int32_t next) {
    const Cell* mode = rule_at(r, next);
    const Cell* name = rule_at(r, next + 1);
    uint32_t kind = 0;  // 0 plain, 1 set, 2 into, 3 after
    if (mode && name && cell_type(name) == T_WORD) {
        if (word_is(mode, tables.sym_set)) kind = 1;
        else if (word_is(mode, tables.sym_into)) kind = 2;
        else if (word_is(mode, tables.sym_after)) kind = 3;
    } else if (mode && (word_is(mode, tables.sym_set) || word_is(mode, tables.sym_after))) {
        error_raise(ERR_PARSE_END, w);
    }
    int32_t sub = kind ? next + 2 : next;
    need_after(r, sub, w);
    CellRoot target_word;
    if (kind) {
        cell_copy(rule_at(r, next + 1), &target_word.cell);
        if (kind >= 2) collect_target_check(r, &target_word.cell);
    }
    Cell* aux = stack_push_new(T_NONE);
    if (kind == 1) cell_copy(&target_word.cell, aux);
    if (kind >= 2) integer_cell(aux, series_index(word_get(&target_word.cell)));
    Cell* target = stack_push_new(T_NONE);
    if (kind >= 2) {
        cell_copy(&target_word.cell, target);
        cell_type_set(target, kind == 2 ? T_GET_WORD : T_REFINEMENT);
    } else {
        block_make_at(target, 8);
    }
    view_drop(r);
    r.targets.push_back(uint32_t(target - data_stack.bottom));
    return push_plain(r, E_COLLECT, false, sub);
}

[[gnu::noinline]] Step word_case(ParseRun& r, const Cell* w, int32_t next) {
    const Cell* v = rule_at(r, next);
    if (!v || cell_type(v) != T_WORD) error_raise(ERR_PARSE_END, w);
    need_after(r, next + 1, w);
    CellRoot flag(*v);
    const Cell* value = word_value(&flag.cell);
    if (!value || cell_type(value) == T_UNSET) error_raise(ERR_PARSE_RULE, &flag.cell);
    Cell saved;
    triple_make_at(&saved, r.cmp, 0, 0);
    r.cmp = logic_false(value) ? PARSE_CASE_INSENSITIVE : PARSE_CASE_SENSITIVE;
    return push_rule_entry(r, E_CASE, false, &saved, next + 1);
}

// A word that is no keyword stands for its value: a sub-rule, a literal or
// another rule value to dispatch.
Step word_value_rule(ParseRun& r, const Cell* w, bool sub_rule) {
    const Cell* value = word_value(w);
    if (!value || cell_type(value) == T_UNSET) error_raise(ERR_PARSE_RULE, w);
    cell_copy(value, &r.value.cell);
    r.from_word = true;
    if (sub_rule) {
        int32_t code = top_rule_entry_q(r) ? entry_code(top_entry(r)) : 0;
        if (code != E_COLLECT && code != E_KEEP) {
            if (cell_type(value) == T_WORD) return LITERAL;
            return SUB_RULE;
        }
    }
    return DISPATCH;
}

// A word of the rules (at the rule pointer, held in r.value).
[[gnu::always_inline]] inline Step handle_word(ParseRun& r) {
    int32_t next = r.rp + 1;
    bool sub_rule = r.sub_rule;
    r.sub_rule = false;
    Keyword k = keyword_of(&r.value.cell);
    // The steps of these keywords read the word only before they change
    // r.value, so they take it from there.
    const Cell* v = &r.value.cell;
    switch (k) {
    case K_BAR: return word_bar(r, v, next);
    case K_SKIP: return word_skip(r, v, next);
    case K_ANY: return word_repeat(r, v, next, E_REPEAT, 0, -1);
    case K_SOME: return word_repeat(r, v, next, E_REPEAT, 1, -1);
    case K_OPT: return word_repeat(r, v, next, E_REPEAT, 0, 1);
    case K_WHILE: return word_repeat(r, v, next, E_WHILE, 0, -1);
    case K_COPY: return word_copy_set(r, v, next, E_COPY);
    case K_SET: return word_copy_set(r, v, next, E_SET);
    default: break;
    }
    cell_copy(&r.value.cell, &r.word.cell);
    const Cell* w = &r.word.cell;
    switch (k) {
    case K_TO: return word_to_thru(r, w, next, E_TO);
    case K_THRU: return word_to_thru(r, w, next, E_THRU);
    case K_REMOVE: return word_remove(r, w, next);
    case K_BREAK: return word_break(r, true);
    case K_REJECT: return word_break(r, false);
    case K_KEEP: return word_keep(r, w, next);
    case K_FAIL: return word_outcome(r, false);
    case K_END: return word_outcome(r, at_end(r));
    case K_NONE: return word_outcome(r, true);
    case K_AHEAD: return word_look(r, w, next, E_AHEAD);
    case K_NOT: return word_look(r, w, next, E_NOT);
    case K_INTO: return word_into(r, w, next);
    case K_INSERT: return word_insert(r, w, next);
    case K_CHANGE: return word_change(r, w, next);
    case K_IF: return word_if(r, w, next);
    case K_QUOTE: return word_quote(r, w, next);
    case K_COLLECT: return word_collect(r, w, next);
    case K_CASE: return word_case(r, w, next);
    default: break;
    }
    return word_value_rule(r, w, sub_rule);
}

// ---- dispatch ------------------------------------------------------------------------------------

// An integer count: a repetition of the rule that follows the count(s).
Step repeat_count(ParseRun& r) {
    int32_t min = cell_int(&r.value.cell);
    if (min < 0) error_raise(ERR_OUT_OF_RANGE, &r.value.cell);
    CellRoot count(r.value.cell);
    int32_t sub = r.rp + 1;
    int32_t max = min;
    if (const Cell* c = rule_at(r, sub)) {
        if (cell_type(c) == T_INTEGER) {
            max = cell_int(c);
            sub++;
        } else if (cell_type(c) == T_WORD) {
            const Cell* v = word_value(c);
            if (v && cell_type(v) == T_INTEGER) {
                max = cell_int(v);
                sub++;
            }
        }
    }
    if (!rule_at(r, sub)) error_raise(ERR_PARSE_RULE, &count.cell);
    if (max < 0) error_raise(ERR_OUT_OF_RANGE, &count.cell);
    if (max < min) error_raise(ERR_PARSE_RULE, &count.cell);
    if (max == 0) {
        r.rp = sub;
        r.match = true;
        return ROUTE;
    }
    return push_counted(r, E_REPEAT, min, max, sub);
}

// Step 5.
Step dispatch(ParseRun& r) {
    Cell* v = &r.value.cell;
    switch (cell_type(v)) {
    case T_WORD:
        if (r.from_word) error_raise(ERR_PARSE_RULE, v);
        return WORD;
    case T_BLOCK:
        return ENTER_BLOCK;
    case T_SET_WORD:
        word_set(v, &r.input.cell);
        view_drop(r);
        return FETCH;
    case T_GET_WORD: {
        const Cell* at = input_position_of(r, v);
        if (!at) {
            const Cell* value = word_value(v);
            error_raise(ERR_PARSE_INVALID_REF, value ? value : v);
        }
        position(r) = std::min(uint32_t(series_index(at)), input_tail(r));
        r.match = true;
        return ROUTE;
    }
    case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
        error_raise(ERR_PARSE_RULE, v);
    case T_PAREN: {
        int32_t offset = r.rp - series_index(&r.rules.cell);
        if (!parse_eval_paren(r, v, nullptr) || !parse_trace(r, EV_PAREN)) return STOP;
        int32_t last = rules_tail(r) - 1;
        r.rp = std::max(std::min(series_index(&r.rules.cell) + offset, last), series_index(&r.rules.cell));
        position(r) = std::min(position(r), input_tail(r));
        return ROUTE;
    }
    case T_INTEGER:
        return repeat_count(r);
    case T_DATATYPE:
    case T_TYPESET:
        return match_type(r);
    default:
        return LITERAL;
    }
}

// Step 9: the sub-rule of the rule entry on top (r.value holds it when it
// is a word's value).
Step sub_rule(ParseRun& r) {
    if (!r.from_word) {
        const Cell* v = rule_at(r, r.rp);
        if (!v) error_raise(ERR_PARSE_END, rule_at(r, r.rp - 1));
        cell_copy(v, &r.value.cell);
    }
    uint8_t t = cell_type(&r.value.cell);
    if (t == T_BLOCK) return ENTER_BLOCK;
    if (t == T_WORD) {
        if (r.from_word) return LITERAL;
        r.sub_rule = true;
        return WORD;
    }
    if (!literal_rule_q(t)) return DISPATCH;
    int32_t code = entry_code(top_entry(r));
    if (code == E_REPEAT) return repeat_literal(r);
    if (code == E_TO || code == E_THRU) return find_literal(r, code == E_THRU);
    return DISPATCH;
}

// Step 10: back to the block's input position and on to the next alternative.
[[gnu::always_inline]] inline Step failure(ParseRun& r) {
    position(r) = entry_index(top_entry(r));
    int32_t tail = rules_tail(r);
    for (int32_t i = std::max(r.rp + 1, series_index(&r.rules.cell)); i < tail; i++) {
        const Cell* c = rule_at(r, i);
        if (cell_type(c) == T_WORD && keyword_of(c) == K_BAR) {
            r.rp = i;
            r.match = true;
            return FETCH;
        }
    }
    r.match = false;
    return LEAVE_BLOCK;
}

// Without a trace, a block that a loop walks goes round again in place: the
// block entry stays and takes the new round's input position, which is what
// leaving it, completing the loop and entering the block again would leave.
// Answers false, changing nothing, when that is not the case at hand.
[[gnu::always_inline]] inline bool block_round_at_once(ParseRun& r) {
    if (r.trace_mask) return false;
    SeriesBuffer* stack = rule_stack(r);
    if ((stack->tail - stack->head) / sizeof(Cell) - r.rule_base < 2 * ENTRY_CELLS) return false;
    Cell* block = block_tail_cells(stack) - ENTRY_CELLS;
    Cell* loop = block - ENTRY_CELLS;
    if (!rule_entry_q(loop)) return false;
    int32_t code = entry_code(loop);
    if (code != E_REPEAT && code != E_WHILE) return false;
    uint32_t at_input = position(r), length = input_length(r);
    bool progress = at_input != entry_index(loop) || length < entry_length(loop);
    if (!loop_goes_on(r, loop, code, progress)) return false;
    // The cell the loop walks, in the rules the block entry returns to.
    uint32_t at = uint32_t(entry_offset(loop)) + 1;
    SeriesBuffer* parent = series_buffer_of(&block[2]);
    if (at >= (parent->tail - parent->head) / sizeof(Cell)) return false;
    const Cell* cell = block_cells(parent) + at;
    if (cell_type(cell) != T_BLOCK) return false;
    r.left_at_tail = r.rp >= rules_tail(r);
    r.brk = false;
    // loop_round, and the block entry's new start; walk_block sets the rule pointer.
    entry_index_set(loop, at_input);
    entry_length_set(loop, length);
    triple_set(&loop[0], 2, int32_t(uint32_t(loop_iteration(loop)) + 1));
    r.loop_effects.back() = r.effects;
    entry_offset_set(block, int32_t(at));
    entry_index_set(block, at_input);
    entry_length_set(block, length);
    cell_copy(cell, &r.value.cell);
    walk_block(r, cell);
    r.from_word = false;
    r.sub_rule = false;
    return true;
}

// Step 1.
[[gnu::always_inline]] inline Step leave_block(ParseRun& r) {
    if (rule_stack_count(r) - r.rule_base <= ENTRY_CELLS) return RESULT;
    if (block_round_at_once(r)) return FETCH;
    r.left_at_tail = r.rp >= rules_tail(r);
    if (!parse_trace(r, EV_POP)) return STOP;
    Cell* e = top_entry(r);
    rules_set(r, &e[2]);
    r.rp = entry_offset(e);
    entry_drop(r);
    r.copied_just = false;
    if (top_rule_entry_q(r)) return COMPLETE;
    return r.match ? FETCH : FAILURE;
}

// FETCH: the next rule value of the current block, dispatched. The steps
// that follow most often (ROUTE, LEAVE_BLOCK, FAILURE and FETCH again) are taken here
// without going back through the machine's switch. The handling of the
// common keywords, leaving a block and going round a loop are inlined into
// this loop, so that a round of `any [...]` calls few functions.
Step fetch(ParseRun& r) {
    for (;;) {
        r.rp++;
        r.from_word = false;
        r.sub_rule = false;
        int32_t tail = rules_tail(r);
        Step step;
        if (r.rp >= tail) {
            r.rp = tail;
            if (top_rule_entry_q(r)) return COMPLETE;
            step = leave_block(r);
        } else {
            cell_copy(r.rule_cells + r.rp, &r.value.cell);
            if (!parse_trace(r, EV_FETCH)) return STOP;
            // A word of the rules goes straight to its handling (what
            // dispatch answers for it).
            step = cell_type(&r.value.cell) == T_WORD ? handle_word(r) : dispatch(r);
            if (step == ROUTE) step = route(r);
        }
        if (step == FAILURE) step = failure(r);
        if (step != FETCH) return step;
    }
}

// The machine. Returns with the result pushed, or with r.exit set.
void parse_run(ParseRun& r) {
    Step step = ENTER_BLOCK;
    cell_copy(&r.rules.cell, &r.value.cell);
    cell_init(&r.rules.cell, T_NONE);
    rules_changed(r);
    r.rp = 0;
    for (;;) {
        switch (step) {
        case ENTER_BLOCK:
            step = enter_block(r, &r.value.cell);
            break;
        case LEAVE_BLOCK:
            step = leave_block(r);
            break;
        case COMPLETE:
            if (!top_rule_entry_q(r)) {
                if (r.exit_block) {
                    r.exit_block = false;
                    step = LEAVE_BLOCK;
                } else {
                    step = FETCH;
                }
            } else {
                step = complete_entry(r);
            }
            break;
        case ROUTE:
            step = route(r);
            break;
        case DISPATCH:
            step = dispatch(r);
            break;
        case ADVANCE:
            position(r)++;
            step = ROUTE;
            break;
        case FETCH:
            step = fetch(r);
            break;
        case LITERAL: {
            int32_t skip = literal_match_at(r, &r.value.cell, position(r));
            r.match = skip >= 0;
            if (r.match) position(r) += uint32_t(skip);
            step = traced(r, EV_MATCH, ROUTE);
            break;
        }
        case SUB_RULE:
            step = sub_rule(r);
            break;
        case FAILURE:
            step = failure(r);
            break;
        case WORD:
            step = handle_word(r);
            break;
        case RESULT: {
            bool done = r.match && r.rp >= rules_tail(r);
            if (done && position(r) < input_limit(r)) done = false;
            r.match = done;
            if (!parse_trace(r, EV_END)) {
                step = STOP;
                break;
            }
            if (r.collected) stack_push(&r.result.cell);
            else logic_push(r.match);
            return;
        }
        case STOP:
            if (r.exit != EXIT_CODE_NONE) return;
            if (r.collected) stack_push(&r.result.cell);
            else logic_push(r.match);
            return;
        }
    }
}

// The index in the root block of a cell just appended to it.
uint32_t root_slot_of(const Cell* cell) {
    return uint32_t(cell - block_cells(series_buffer_of(&root_cell)));
}

} // namespace

void parse_init() {
    tables.input_slot = root_slot_of(block_make_in(0, 8));
    tables.rule_slot = root_slot_of(block_make_in(0, 100));

    struct KeywordSymbol {
        uint32_t symbol;
        Keyword keyword;
    };
    const KeywordSymbol keywords[] = {
        {runtime_symbol(SYM_BAR), K_BAR}, {runtime_symbol(SYM_SKIP), K_SKIP},
        {runtime_symbol(SYM_ANY), K_ANY}, {runtime_symbol(SYM_SOME), K_SOME},
        {runtime_symbol(SYM_COPY), K_COPY}, {runtime_symbol(SYM_TO), K_TO},
        {runtime_symbol(SYM_THRU), K_THRU}, {runtime_symbol(SYM_REMOVE), K_REMOVE},
        {runtime_symbol(SYM_BREAK), K_BREAK}, {runtime_symbol(SYM_OPT), K_OPT},
        {runtime_symbol(SYM_KEEP), K_KEEP}, {runtime_symbol(SYM_FAIL), K_FAIL},
        {runtime_symbol(SYM_AHEAD), K_AHEAD}, {runtime_symbol(SYM_WHILE), K_WHILE},
        {runtime_symbol(SYM_INTO), K_INTO}, {runtime_symbol(SYM_INSERT), K_INSERT},
        {word_symbol(runtime_word(W_CHANGE)), K_CHANGE}, {runtime_symbol(SYM_END), K_END},
        {runtime_symbol(SYM_IF), K_IF}, {runtime_symbol(SYM_NOT), K_NOT},
        {runtime_symbol(SYM_QUOTE), K_QUOTE}, {runtime_symbol(SYM_COLLECT), K_COLLECT},
        {runtime_symbol(SYM_CASE), K_CASE}, {runtime_symbol(SYM_REJECT), K_REJECT},
        {runtime_symbol(SYM_SET), K_SET}, {runtime_symbol(SYM_NONE), K_NONE},
    };
    uint32_t largest = 0;
    for (const KeywordSymbol& k : keywords) largest = std::max(largest, symbol_resolve(k.symbol));
    tables.keywords.assign(largest + 1, K_OTHER);
    tables.keyword_cache.clear();
    tables.cached = nullptr;
    tables.cached_count = 0;
    for (const KeywordSymbol& k : keywords) tables.keywords[symbol_resolve(k.symbol)] = k.keyword;
    tables.sym_only = symbol_resolve(runtime_symbol(SYM_ONLY));
    tables.sym_pick = symbol_resolve(runtime_symbol(SYM_PICK));
    tables.sym_into = symbol_resolve(runtime_symbol(SYM_INTO));
    tables.sym_after = symbol_resolve(runtime_symbol(SYM_AFTER));
    tables.sym_set = symbol_resolve(runtime_symbol(SYM_SET));
    tables.sym_end = symbol_resolve(runtime_symbol(SYM_END));
}

ExitCode parse_rules(const Cell* input, const Cell* rules, int32_t cmp, uint32_t part_end,
                     const Cell* callback) {
    ParseRun r;
    input_set(r, input);
    cell_copy(rules, &r.rules.cell);
    position(r) = std::min(position(r), input_tail(r));
    r.cmp = cmp;
    r.part_end = part_end;
    if (callback && cell_type(callback) == T_FUNCTION) {
        cell_copy(callback, &r.callback.cell);
        r.trace_mask = trace_mask_of(callback);
    }
    StacksCall call;
    r.rule_base = stack_head(tables.rule_slot);
    parse_stacks_check(1, 0);
    block_ks_append(stack_block(tables.input_slot), &r.input.cell);
    view_drop(r);
    Cell* base = data_stack.top;
    parse_run(r);
    if (r.exit != EXIT_CODE_NONE) return r.exit;
    // The result goes where the collect targets were.
    Cell* result = data_stack.top - 1;
    if (result != base) {
        cell_copy(result, base);
        data_stack.top = base + 1;
    }
    return EXIT_CODE_NONE;
}

enum ParseNative : uint32_t { N_PARSE = 40 };

ExitCode native_parse(bool check, const int32_t* refinements) {
    const int32_t case_ = refinements[0], part = refinements[1], trace = refinements[2];
    Cell* args = data_stack.args;
    if (check) {
        native_arg_check(N_PARSE, 0);
        native_arg_check(N_PARSE, 1);
        if (part >= 0) native_arg_check(N_PARSE, uint32_t(part));
        if (trace >= 0) native_arg_check(N_PARSE, uint32_t(trace));
    } else {
        // Callers that skip the check still never reach the engine with
        // values it cannot walk.
        uint8_t t = cell_type(&args[0]);
        if (!(t == T_BINARY || block_family_q(t) || string_family_q(t))) native_expect_arg(0);
        if (cell_type(&args[1]) != T_BLOCK) native_expect_arg(1);
        if (trace >= 0 && cell_type(&args[trace]) != T_FUNCTION) native_expect_arg(uint32_t(trace));
    }
    Cell* input = &args[0];
    int32_t cmp = case_ >= 0 ? PARSE_CASE_SENSITIVE : PARSE_CASE_INSENSITIVE;
    uint32_t part_end = 0;
    if (part >= 0) {
        const Cell* length = &args[part];
        int64_t end;
        if (cell_type(length) == T_INTEGER) {
            end = int64_t(uint32_t(series_index(input))) + cell_int(length);
        } else if (cell_type(length) == cell_type(input) && series_node(length) == series_node(input)) {
            end = uint32_t(series_index(length));
        } else {
            Cell word;
            cell_copy(runtime_refinement(REF_PART), &word);
            cell_type_set(&word, T_WORD);
            error_raise(ERR_INVALID_REFINE_ARG, &word, length);
        }
        if (end <= 0) {
            logic_box(uint32_t(series_index(input)) >= series_buffer_of(input)->length());
            return EXIT_CODE_NONE;
        }
        part_end = end > int64_t(UINT32_MAX) ? UINT32_MAX : uint32_t(end);
    }
    const Cell* callback = trace >= 0 ? &args[trace] : nullptr;
    ExitCode x = parse_rules(input, &args[1], cmp, part_end, callback);
    if (x != EXIT_CODE_NONE) return x;
    stack_set_last_reset(data_stack.top - 1);
    return EXIT_CODE_NONE;
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {40, "parse",
     "[input [binary! any-block! any-string!] rules [block!] /case /part length [number!\n"
     "    series!] /trace callback [function!]]",
     native_parse},
};
const NativeTable PARSE_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
