// The interpreter: block evaluation, one expression by the type of its first
// value, infix operators, argument caches and argument fetching, and the
// calls of the five kinds of function values.
//
// Values in flight live on the data stack: an expression leaves its value in
// the cell that was the data top when it began (or in ARGS[0] without push).
// A call pushes a copy of the function value, marks its frame right above it
// and, once the callee has left its result in ARGS[0], moves the result down
// over the function copy. Function arguments and locals are the frame's cells
// themselves: the function's context reads them there while the call runs,
// so a call allocates no series.
#include "core/interpreter.hpp"
#include "core/eval_values.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/function.hpp"
#include "core/hashtable.hpp"
#include "core/logic.hpp"
#include "core/natives_table.hpp"
#include "core/numbers.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/trace.hpp"
#include "core/typeset.hpp"
#include "core/vocabulary.hpp"
#include "runtime/collector.hpp"
#include "runtime/native_guard.hpp"
#include "runtime/platform/platform.hpp"

namespace kel {

// ---- the position stack ------------------------------------------------------------------
// Every block being evaluated, innermost last; each entry's index is the
// expression under evaluation. The array never moves, so an EvalCursor may
// point at its entry; the collector marks the entries in use.

constexpr uint32_t POSITION_DEPTH = CALL_STACK_FRAMES + 1;
static Cell positions[POSITION_DEPTH];
static uint32_t position_depth = 0;
static Cell no_position;

static void positions_mark() { collector_mark_values(positions, positions + position_depth); }

struct PositionEntry {
    Cell* cell;
    explicit PositionEntry(const Cell* block) {
        if (position_depth >= POSITION_DEPTH) stack_overflow();
        cell = &positions[position_depth];
        cell_copy(block, cell);
        position_depth++;
    }
    ~PositionEntry() { position_depth--; }
    PositionEntry(const PositionEntry&) = delete;
    PositionEntry& operator=(const PositionEntry&) = delete;
};

// Library code stands aside: the innermost block that is not library code,
// else the innermost block.
Cell* interp_position() {
    if (position_depth == 0) return &no_position;
    for (uint32_t i = position_depth; i > 0; i--) {
        const Cell* block = &positions[i - 1];
        if (!(series_buffer_of(block)->flags & SERIES_LIBRARY)) return &positions[i - 1];
    }
    return &positions[position_depth - 1];
}

// Whether the interpreter could evaluate a quiet expression (see
// core/eval_values.hpp) without running out of stack or meeting an interrupt
// to deliver: otherwise it must, and raise what it raises.
static inline bool quiet_room_q() {
    return !interrupt_requested && data_stack.top + QUIET_CELLS < data_stack.end &&
           call_stack.top + QUIET_FRAMES < call_stack.end &&
           position_depth + QUIET_FRAMES < POSITION_DEPTH &&
           native_stack_pointer() >
               native_stack_limit + QUIET_NATIVE_STACK;
}

// Code where quiet evaluation failed lately, by block node and position: it
// is not tried there again for a while, as the same code tends to meet the
// same values. Only a guess: a stale or colliding entry just leaves the code
// to the interpreter, which evaluates anything.
struct QuietRefusal {
    Node node;
    uint32_t position;
    uint32_t skips;  // tries left out before the next one
};
constexpr uint32_t QUIET_REFUSALS = 256;
constexpr uint32_t QUIET_RETRY = 64;
static QuietRefusal quiet_refusals[QUIET_REFUSALS];

static inline QuietRefusal& quiet_refusal(Node node, uint32_t position) {
    return quiet_refusals[((node * 0x9E3779B1u) ^ (position * 0x85EBCA77u)) >> 24];
}

// Whether quiet evaluation is worth trying at the code position: it did
// not fail there lately.
static inline bool quiet_worth_q(Node node, uint32_t position) {
    QuietRefusal& r = quiet_refusal(node, position);
    if (r.skips && r.node == node && r.position == position) {
        r.skips--;
        return false;
    }
    return true;
}

// The same, and room for it is left.
static inline bool quiet_try_q(Node node, uint32_t position) {
    return quiet_worth_q(node, position) && quiet_room_q();
}

static inline void quiet_refused(Node node, uint32_t position) {
    quiet_refusal(node, position) = {node, position, QUIET_RETRY};
}

// The same, with the code buffer at hand. For the first expression of a
// block, the place tried most, the countdown lives in the buffer's flags
// instead of the table; a later expression is looked up there only once
// quiet evaluation has failed at one of them.
static inline bool quiet_worth_at_q(SeriesBuffer* b, Node node, uint32_t position) {
    if (position != 0) return !(b->flags & SERIES_QUIET_REFUSED) || quiet_worth_q(node, position);
    if (!(b->flags & SERIES_QUIET_SKIPS)) return true;
    b->flags -= SERIES_QUIET_SKIP;
    return false;
}

static inline void quiet_refused_at(SeriesBuffer* b, Node node, uint32_t position) {
    if (position != 0) {
        b->flags |= SERIES_QUIET_REFUSED;
        quiet_refused(node, position);
        return;
    }
    static_assert(QUIET_RETRY * SERIES_QUIET_SKIP <= SERIES_QUIET_SKIPS);
    b->flags = (b->flags & ~SERIES_QUIET_SKIPS) | QUIET_RETRY * SERIES_QUIET_SKIP;
}

// Refinements a native or action spec may have.
constexpr uint32_t MAX_REFINEMENTS = 32;
// Fetch modes of argument-cache typesets (header bits 20-21).
constexpr uint32_t FETCH_MODE_SHIFT = 20;
enum FetchMode : uint32_t { FETCH_EVAL = 0, FETCH_LITERAL = 1, FETCH_QUOTED = 2, FETCH_NEVER = 3 };

static void sort_call(const Cell* function, const Cell* a, const Cell* b, Cell* out);
static ExitCode eval_infix(EvalCursor& cursor, Cell* start, const Cell* op);
// Blocks whose evaluation takes steps of its own (see eval_block_of): a
// function's body, a paren evaluated as an expression or argument.
enum class BlockKind { other, body, paren };
template <BlockKind kind> static ExitCode eval_block_of(const Cell* block, bool last);
// eval_block; body: the block is the body of the function whose frame is
// the top one.
static inline ExitCode eval_block_in(const Cell* block, bool last, bool body) {
    return body ? eval_block_of<BlockKind::body>(block, last)
                : eval_block_of<BlockKind::other>(block, last);
}
// A paren's evaluation, its value pushed.
static inline ExitCode eval_paren(const Cell* paren) {
    return eval_block_of<BlockKind::paren>(paren, false);
}
static bool call_shape(const Cell* function, uint32_t* shape);
static ExitCode call_simple_infix(const Cell* op, uint32_t shape, EvalCursor& cursor,
                                  const Cell* word);

void interpreter_init() {
    position_depth = 0;
    cell_init(&no_position, T_UNSET);
    collector_remove_root(positions_mark);
    collector_add_root(positions_mark);
    trace_init();
    block_sort_call_set(sort_call);
}

// ---- code access ---------------------------------------------------------------------------

static inline const Cell* code_at(const EvalCursor& cursor, uint32_t i) {
    return block_cells(series_node(cursor.block)) + i;
}

// Whether the code has ended; code that shrank while running ends early.
static inline bool code_ended(EvalCursor& cursor) {
    if (cursor.position >= cursor.end) return true;
    uint32_t length = cells_length(series_buffer_of(cursor.block));
    if (cursor.end > length) cursor.end = length;
    return cursor.position >= cursor.end;
}

// The code value at the cursor, or null when the code has ended (see
// code_ended); one read of the buffer serves both. Valid until the next
// allocation.
static inline const Cell* code_peek(EvalCursor& cursor) {
    if (cursor.position >= cursor.end) return nullptr;
    SeriesBuffer* b = series_buffer_of(cursor.block);
    uint32_t length = cells_length(b);
    if (cursor.end > length) {
        cursor.end = length;
        if (cursor.position >= length) return nullptr;
    }
    return block_cells(b) + cursor.position;
}

static inline void trace_event(uint32_t event, const EvalCursor* cursor, const Cell* reference,
                               const Cell* value) {
    if (cursor) trace_fire_event(event, cursor->block, int32_t(cursor->position), reference, value);
    else trace_fire_event(event, nullptr, -1, reference, value);
}

// ---- words ---------------------------------------------------------------------------------

Cell* interp_word_slot(const Cell* word) {
    Node context = word_context(word);
    if (context == 0 || word_index(word) == WORD_UNBOUND) return word_get(word);
    const Cell* c = eval_context_cell(context);
    uint32_t values = context_values_of(c);
    if (values == 0) {
        Cell w = *word;
        error_raise(ERR_NOT_IN_CONTEXT, &w);
    }
    if (c->header & CONTEXT_ON_STACK) return data_stack.bottom + (values - 1) + word_index(word);
    SeriesBuffer* b = series_buffer(values);
    if (word_index(word) < cells_length(b)) return block_cells(b) + word_index(word);
    return word_get(word);
}

Cell* context_slot_at(Node context, uint32_t index) {
    const Cell* c = eval_context_cell(context);
    if (context_values_of(c) == 0) {
        Cell word = *context_word_at(context, index);
        error_raise(ERR_NOT_DEFINED, &word);
    }
    if (c->header & CONTEXT_ON_STACK) return data_stack.bottom + (context_values_of(c) - 1) + index;
    SeriesBuffer* b = series_buffer(context_values_of(c));
    if (index >= b->length()) {
        Cell word = index < context_word_count(context) ? *context_word_at(context, index)
                                                         : none_cell;
        error_raise(ERR_NOT_DEFINED, &word);
    }
    return block_cells(b) + index;
}

Cell* root_cell_at(uint32_t n) {
    return block_cells(series_node(&root_cell)) + n;
}

// The operator held by the word at the cursor, or null when there is none.
static inline const Cell* infix_operator(EvalCursor& cursor) {
    const Cell* code = code_peek(cursor);
    return code ? operator_of(code) : nullptr;
}

// eval_expression's steps for the paren at the cursor (code), without its
// dispatch, while nothing is traced: the paren's value is pushed and, unless
// no_infix, the operators after it are applied.
[[gnu::always_inline]] static inline ExitCode paren_expression(EvalCursor& cursor,
                                                               const Cell* code, bool no_infix) {
    Cell* start = data_stack.top;
    Cell paren = *code;
    cursor.position++;
    ExitCode x = eval_paren(&paren);
    if (x != EXIT_CODE_NONE) return x;
    if (trace_state.tracing) trace_event(TRACE_PUSH, &cursor, nullptr, start);
    if (no_infix) return EXIT_CODE_NONE;
    const Cell* op = infix_operator(cursor);
    return op ? eval_infix(cursor, start, op) : EXIT_CODE_NONE;
}

// ---- argument cache ----------------------------------------------------------------------

static bool native_type_q(uint8_t type) { return type == T_NATIVE || type == T_ACTION; }

static bool local_refinement_q(const Cell* c) {
    return cell_type(c) == T_REFINEMENT &&
           symbol_resolve(word_symbol(c)) == symbol_resolve(word_symbol(runtime_refinement(REF_LOCAL)));
}

// Natives, actions and functions alike keep the cache in their second more cell.
static Cell* args_cache_cell(const Cell* function) {
    return function_more_cell(function, MORE_ARGS_CACHE);
}

// The shape of a call that fetches only leading arguments, all evaluated,
// kept in word 3 of the cache's block cell so such calls skip the general
// walk over the cache: ARGS_SIMPLE; the argument count in bits 0-7; a
// function's local count in bits 8-15; ARGS_ANY when there are at most eight
// arguments and each takes every type but unset!, bit 16 + i then telling
// whether argument i takes unset! too. A function qualifies without
// refinements and return:; a native or action whatever its refinements, as
// one called without a path fetches nothing for them. 0 for any other spec
// (and for a cache cell made elsewhere, which never has the flag). Bits
// 24-25 name the branch natives (see call_branch), bit 26 the natives,
// actions and routines that have a quiet form (see call_quiet), bit 27 a
// first argument that takes every type but unset! whatever the others take.
constexpr uint32_t ARGS_SIMPLE = 0x80000000;
constexpr uint32_t ARGS_ANY = 0x40000000;
constexpr uint32_t ARGS_LOCALS_SHIFT = 8;
constexpr uint32_t ARGS_UNSET_SHIFT = 16;
constexpr uint32_t ARGS_ANY_MAX = 8;
constexpr uint32_t ARGS_BRANCH_SHIFT = 24;
constexpr uint32_t ARGS_BRANCH_MASK = 3u << ARGS_BRANCH_SHIFT;
constexpr uint32_t ARGS_QUIET = 1u << 26;
constexpr uint32_t ARGS_FIRST_ANY = 1u << 27;
constexpr uint32_t ARGS_SPECIAL = ARGS_BRANCH_MASK | ARGS_QUIET;
enum BranchKind : uint32_t { BRANCH_NONE = 0, BRANCH_IF, BRANCH_UNLESS, BRANCH_EITHER };

// The branch kind of a native of the simple shape.
static uint32_t branch_kind_of(const Cell* function) {
    if (cell_type(function) != T_NATIVE) return BRANCH_NONE;
    switch (native_role(function_index(function))) {
    case NATIVE_ROLE_IF: return BRANCH_IF;
    case NATIVE_ROLE_UNLESS: return BRANCH_UNLESS;
    case NATIVE_ROLE_EITHER: return BRANCH_EITHER;
    default: return BRANCH_NONE;
    }
}

static bool typeset_takes_every_value_q(const Cell* typeset) {
    for (uint32_t type = 1; type <= LAST_TYPE_ID; type++)
        if (type != T_UNSET && !typeset_has(typeset, uint8_t(type))) return false;
    return true;
}

static uint32_t args_shape_of(Node cache, bool native) {
    SeriesBuffer* b = series_buffer(cache);
    const Cell* cells = block_cells(b);
    uint32_t length = b->length(), count = 0, unset_taken = 0;
    bool any = true, first_any = false;
    while (count < length && cell_type(&cells[count]) == T_TYPESET &&
           ((cells[count].header >> FETCH_MODE_SHIFT) & 3) == FETCH_EVAL) {
        any = any && count < ARGS_ANY_MAX && typeset_takes_every_value_q(&cells[count]);
        if (count == 0) first_any = any;
        if (any && typeset_has(&cells[count], T_UNSET)) unset_taken |= 1u << count;
        count++;
    }
    uint32_t locals = 0;
    bool integer_last = count + 1 == length && cell_type(&cells[count]) == T_INTEGER;
    if (native) {
        if (count < length && cell_type(&cells[count]) != T_REFINEMENT && !integer_last) return 0;
    } else if (integer_last) {
        int32_t n = cell_int(&cells[count]);
        if (n < 0 || n > 255) return 0;
        locals = uint32_t(n);
    } else if (count != length) {
        return 0;
    }
    if (count > 255) return 0;
    uint32_t checks = any ? ARGS_ANY | unset_taken << ARGS_UNSET_SHIFT : 0;
    if (first_any) checks |= ARGS_FIRST_ANY;
    return ARGS_SIMPLE | checks | count | locals << ARGS_LOCALS_SHIFT;
}

Node args_cache_build(const Cell* function) {
    Cell* cached = args_cache_cell(function);
    if (cell_type(cached) == T_BLOCK) return series_node(cached);
    bool native = native_type_q(cell_type(function));
    NodeRoot cache(series_new_cells(8), ROOT_BLOCK);
    uint32_t refinements = 0;
    int32_t locals = 0;
    for (uint32_t i = 0;; i++) {
        SeriesBuffer* sb = series_buffer(function_spec(function));
        uint32_t length = sb->length();
        if (i >= length) break;
        const Cell* cells = block_cells(sb);
        Cell c = cells[i];
        uint8_t t = cell_type(&c);
        if (t == T_WORD || t == T_GET_WORD || t == T_LIT_WORD) {
            uint32_t mode = t == T_WORD ? uint32_t(FETCH_EVAL) : t == T_GET_WORD ? uint32_t(FETCH_LITERAL) : uint32_t(FETCH_QUOTED);
            Cell* typeset;
            if (i + 1 < length && cell_type(&cells[i + 1]) == T_BLOCK &&
                uint32_t(series_index(&cells[i + 1])) < series_buffer_of(&cells[i + 1])->length()) {
                CellRoot types(cells[i + 1]);
                typeset = typeset_from_spec(cache.node, &types.cell);
            } else {
                typeset = typeset_all_but_unset(cache.node);
            }
            typeset->header |= mode << FETCH_MODE_SHIFT;
        } else if (t == T_SET_WORD) {
            if (symbol_resolve(word_symbol(&c)) != symbol_resolve(runtime_symbol(SYM_RETURN)))
                error_raise(ERR_BAD_FUNC_DEF, &c);
            typeset_all_but_unset(cache.node)->header |= FETCH_NEVER << FETCH_MODE_SHIFT;
        } else if (t == T_REFINEMENT) {
            if (local_refinement_q(&c)) {
                if (!native) locals = function_count_locals(function_spec(function), i, false);
                break;
            }
            refinements++;
            if (native) word_bind_set(&c, word_context(&c), refinements);
            // The refinement is bound: the append may renumber its context's node.
            cell_series_append_value(cache.node, &c);
        }
    }
    if ((!native && locals > 0) || (native && refinements > 0)) {
        Cell* end = cell_series_append(cache.node);
        cell_init(end, T_INTEGER);
        integer_make_at(end, native ? int32_t(refinements) : locals);
    }
    if (native && refinements > MAX_REFINEMENTS) error_raise(ERR_LIMIT_HIT);
    uint32_t shape = args_shape_of(cache.node, native);
    if (shape) shape |= branch_kind_of(function) << ARGS_BRANCH_SHIFT;
    if (shape && quiet_form_q(function)) shape |= ARGS_QUIET;
    cached = args_cache_cell(function);
    // The shape rides in the block cell's third word (see call_shape).
    series_make_at(cached, T_BLOCK, cache.node, 0);
    series_extra_set(cached, shape);
    return cache.node;
}

bool args_cache_fits(Node given, Node own) {
    SeriesBuffer* gb = series_buffer(given);
    SeriesBuffer* ob = series_buffer(own);
    if (gb->length() != ob->length()) return false;
    const Cell* g = block_cells(gb);
    const Cell* o = block_cells(ob);
    for (uint32_t i = 0; i < gb->length(); i++) {
        uint8_t t = cell_type(&g[i]);
        if (t != cell_type(&o[i])) return false;
        if (t == T_TYPESET) {
            if ((g[i].header ^ o[i].header) & (3u << FETCH_MODE_SHIFT)) return false;
            if (!typeset_subset_q(&g[i], &o[i])) return false;
        } else if (t == T_INTEGER && cell_int(&g[i]) != cell_int(&o[i])) {
            return false;
        }
    }
    return true;
}

static inline const Cell* cache_cells(Node cache, uint32_t* length) {
    SeriesBuffer* b = series_buffer(cache);
    *length = b->length();
    return block_cells(b);
}

// ---- argument fetching --------------------------------------------------------------------

// The name word of the running call (its frame's word).
static void call_name(Cell* out) { stack_frame_word(stack_top_frame(), out); }

[[noreturn]] static void raise_no_arg(const Cell* function, uint32_t param) {
    Cell name, parameter;
    call_name(&name);
    function_parameter_word(function, param, &parameter);
    error_raise(ERR_NO_ARG, &name, &parameter);
}

[[noreturn]] __attribute__((noinline, cold)) static void
raise_argument_type(const Cell* function, const Cell* value, uint32_t param) {
    Cell name, datatype, parameter;
    call_name(&name);
    datatype_make_at(&datatype, cell_type(value));
    function_parameter_word(function, param, &parameter);
    error_raise(ERR_EXPECT_ARG, &name, &datatype, &parameter);
}

static inline void check_argument(const Cell* function, const Cell* typeset, const Cell* value,
                                  uint32_t param) {
    if (!typeset_has(typeset, cell_type(value))) raise_argument_type(function, value, param);
}

// The value of a frame's word (which carries no slot index), or null when it
// has none readable. Reads only: used while an error is being built.
static const Cell* frame_word_value(const Cell* word) {
    Node context = word_context(word);
    if (context == 0) return nullptr;
    int32_t index = word_index(word) != WORD_UNBOUND
                        ? int32_t(word_index(word))
                        : context_find_word(context, word_symbol(word), true);
    if (index < 0) return nullptr;
    const Cell* ctx = eval_context_cell(context);
    Node values = context_values_of(ctx);
    if (values == 0) return nullptr;
    if (ctx->header & CONTEXT_ON_STACK) return data_stack.bottom + (values - 1) + index;
    SeriesBuffer* b = series_buffer(values);
    if (uint32_t(index) >= b->length()) return nullptr;
    return block_cells(b) + index;
}

void expect_arg_raise(const Cell* caller_in, uint8_t type, uint32_t param) {
    Cell caller = *caller_in, datatype, parameter;
    datatype_make_at(&datatype, type);
    cell_init(&parameter, T_NONE);
    const Cell* fn = frame_word_value(&caller);
    if (fn && (callable_type_q(cell_type(fn)) || cell_type(fn) == T_OP))
        function_parameter_word(fn, param, &parameter);
    error_raise(ERR_EXPECT_ARG, &caller, &datatype, &parameter);
}

void typeset_check(const Cell* typeset, uint32_t param, const Cell* value) {
    if (typeset_has(typeset, cell_type(value))) return;
    Cell name;
    call_name(&name);
    expect_arg_raise(&name, cell_type(value), param);
}

void native_arg_check(const Cell* typeset, uint32_t param, int32_t position) {
    if (position >= 0) typeset_check(typeset, param, data_stack.args + position);
}

const Cell* not_unset_check(uint32_t param, const Cell* value) {
    if (cell_type(value) != T_UNSET) return value;
    Cell name;
    call_name(&name);
    expect_arg_raise(&name, T_UNSET, param);
}

// Pushes one evaluated argument. A plain value is pushed without a trip
// through the evaluator; the code is read in place, as nothing here
// allocates. code_peek has clamped the end to the code's length.
[[gnu::always_inline]] static inline ExitCode fetch_evaluated(const Cell* function, EvalCursor& cursor, bool no_infix,
                                       uint32_t param) {
    const Cell* code = code_peek(cursor);
    if (!code) raise_no_arg(function, param);
    if (const Cell* value = plain_value_of(code)) {
        cursor.position++;
        Cell* start = stack_push(value);
        if (no_infix || cursor.position >= cursor.end) return EXIT_CODE_NONE;
        const Cell* op = operator_of(code + 1);
        return op ? eval_infix(cursor, start, op) : EXIT_CODE_NONE;
    }
    if (cell_type(code) == T_PAREN && !trace_state.tracing)
        return paren_expression(cursor, code, no_infix);
    return eval_expression(cursor, no_infix, true, false);
}

// Pushes one argument fetched from the code by the typeset's fetch mode.
static ExitCode fetch_one(const Cell* function, const Cell* typeset, EvalCursor& cursor,
                          bool no_infix, uint32_t param) {
    uint32_t mode = (typeset->header >> FETCH_MODE_SHIFT) & 3;
    if (mode == FETCH_EVAL) return fetch_evaluated(function, cursor, no_infix, param);
    if (code_ended(cursor)) {
        if (mode == FETCH_QUOTED && typeset_has(typeset, T_UNSET)) {
            stack_push_new(T_UNSET);
            return EXIT_CODE_NONE;
        }
        raise_no_arg(function, param);
    }
    const Cell* v = code_at(cursor, cursor.position++);
    if (mode == FETCH_QUOTED) {
        switch (cell_type(v)) {
        case T_PAREN:
            return eval_block(v, false);
        case T_GET_WORD:
            stack_push(interp_word_slot(v));
            return EXIT_CODE_NONE;
        case T_GET_PATH: {
            Cell* path = stack_push(v);
            ExitCode x = interp_eval_path(path, cursor, {.get = true, .push = true});
            if (x != EXIT_CODE_NONE) return x;
            cell_copy(path + 1, path);
            data_stack.top = path + 1;
            return EXIT_CODE_NONE;
        }
        default: break;
        }
    }
    stack_push(v);
    return EXIT_CODE_NONE;
}

// Where a refinement named in a path stands: its cache index, its number
// among the refinements (from 1) and its frame slot (functions).
struct RefinementPlace {
    uint32_t cache_index;
    uint32_t number;
    uint32_t slot;
    uint32_t param;
};

static bool refinement_find(Node cache, uint32_t symbol, RefinementPlace* place) {
    uint32_t length;
    const Cell* cells = cache_cells(cache, &length);
    uint32_t number = 0, slot = 0;
    for (uint32_t i = 0; i < length; i++) {
        uint8_t t = cell_type(&cells[i]);
        if (t == T_REFINEMENT) {
            number++;
            if (symbol_resolve(word_symbol(&cells[i])) == symbol_resolve(symbol)) {
                *place = {i, number, slot, slot};
                return true;
            }
            slot++;
        } else if (t == T_TYPESET && ((cells[i].header >> FETCH_MODE_SHIFT) & 3) != FETCH_NEVER) {
            slot++;
        }
    }
    return false;
}

// Refinements of a native called with none named.
static const int32_t no_refinements[MAX_REFINEMENTS] = {
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

// Calls a native or action whose arguments are in place.
static ExitCode native_call(const Cell* function, EvalCursor& cursor, const int32_t* refinements) {
    if (trace_state.tracing) {
        Cell name;
        call_name(&name);
        trace_event(TRACE_CALL, &cursor, &name, function);
    }
    uint8_t type = cell_type(function);
    Cell* args = data_stack.args;
    if (data_stack.top == args + 2 && number_operation(function, type, args, args + 1)) {
        data_stack.top = args + 1;
        return EXIT_CODE_NONE;
    }
    if (type == T_NATIVE) {
        NativeFn entry = native_entry(function_index(function));
        if (!entry) error_raise(ERR_NOT_DONE);
        return entry(false, refinements);
    }
    ActionEntry entry = action_entry(function_index(function));
    if (!entry) error_raise(ERR_NOT_DONE);
    entry(refinements);
    return EXIT_CODE_NONE;
}

// Whether elements follow the function in the path of a call.
static inline bool path_names_refinements_q(const PathRefinements& path) {
    return path.path && path.from < series_buffer_of(path.path)->length();
}

// Fetches the refinements a path names after the function, and their
// arguments, once the leading arguments are in place: for a native its
// refinement positions, for a function the flags and argument slots of its
// frame. argc counts the native's arguments fetched.
static ExitCode path_refinements_fetch(Cell* function, EvalCursor& cursor,
                                       const PathRefinements& path, bool native,
                                       int32_t* refinements, uint32_t& argc, bool infix,
                                       bool no_infix) {
    Cell* args = data_stack.args;
    for (uint32_t k = path.from;; k++) {
        SeriesBuffer* pb = series_buffer_of(path.path);
        if (k >= pb->length()) break;
        Cell e = block_cells(pb)[k];
        bool on = true;
        if (cell_type(&e) == T_GET_WORD) on = !logic_false(interp_word_slot(&e));
        else if (cell_type(&e) != T_WORD) error_raise(ERR_BAD_REFINE, &e);
        RefinementPlace place;
        if (!refinement_find(series_node(args_cache_cell(function)), word_symbol(&e), &place)) {
            Cell name;
            call_name(&name);
            error_raise(ERR_NO_REFINE, &name, &e);
        }
        if (!on) continue;
        if (native) {
            if (refinements[place.number - 1] != -1) error_raise(ERR_DUP_REFINE, path.path);
            refinements[place.number - 1] = int32_t(argc);
        } else {
            Cell* flag = args + place.slot;
            if (logic_get(flag)) error_raise(ERR_DUP_REFINE, path.path);
            logic_make_at(flag, true);
        }
        uint32_t arg_param = place.param + 1;
        for (uint32_t j = place.cache_index + 1;; j++) {
            uint32_t length;
            const Cell* cells = cache_cells(series_node(args_cache_cell(function)), &length);
            if (j >= length || cell_type(&cells[j]) != T_TYPESET) break;
            // return: after a refinement is no argument of it.
            if (((cells[j].header >> FETCH_MODE_SHIFT) & 3) == FETCH_NEVER) break;
            Cell c = cells[j];
            ExitCode x = fetch_one(function, &c, cursor, infix || no_infix, arg_param);
            if (x != EXIT_CODE_NONE) return x;
            check_argument(function, &c, data_stack.top - 1, arg_param);
            if (native) {
                argc++;
            } else {
                cell_copy(data_stack.top - 1, args + place.slot + (arg_param - place.param));
                stack_pop(1);
            }
            arg_param++;
        }
    }
    return EXIT_CODE_NONE;
}

static ExitCode fetch_args(Cell* function, EvalCursor& cursor, const PathRefinements& path,
                           bool infix, bool no_infix) {
    // The function cell lies on the data stack, so the cache node is re-read
    // through it after anything that may have moved it.
    const Cell* cached = args_cache_cell(function);
    if (cell_type(cached) != T_BLOCK) {
        args_cache_build(function);
        cached = args_cache_cell(function);
    }
    bool native = native_type_q(cell_type(function));
    uint32_t shape = series_extra(cached);
    if (shape & ARGS_SIMPLE) {
        uint32_t count = shape & 0xFF;
        Cell* args = data_stack.args;
        for (uint32_t i = 0; i < count; i++) {
            if (!(infix && i == 0)) {
                ExitCode x = fetch_evaluated(function, cursor, infix || no_infix, i);
                if (x != EXIT_CODE_NONE) return x;
            }
            if (shape & ARGS_ANY) {
                if (cell_type(args + i) == T_UNSET && !(shape >> (ARGS_UNSET_SHIFT + i) & 1))
                    raise_argument_type(function, args + i, i);
                continue;
            }
            const Cell* typeset =
                block_cells(series_node(args_cache_cell(function))) + i;
            check_argument(function, typeset, args + i, i);
        }
        if (!native) push_unused_refinement((shape >> ARGS_LOCALS_SHIFT) & 0xFF);
        // A path that names no refinement after the function fetches
        // nothing more; one that does names them here, as the general walk
        // does after the leading arguments.
        if (!path_names_refinements_q(path))
            return native ? native_call(function, cursor, no_refinements) : EXIT_CODE_NONE;
        int32_t refinements[MAX_REFINEMENTS];
        for (int32_t& r : refinements) r = -1;
        uint32_t argc = count;
        ExitCode x = path_refinements_fetch(function, cursor, path, native, refinements, argc,
                                            infix, no_infix);
        if (x != EXIT_CODE_NONE || !native) return x;
        return native_call(function, cursor, refinements);
    }
    int32_t refinements[MAX_REFINEMENTS];
    if (native)
        for (int32_t& r : refinements) r = -1;
    Cell* args = data_stack.args;
    uint32_t argc = 0, param = 0;
    int32_t locals = 0;
    bool leading = true;
    uint32_t length;
    const Cell* cells = cache_cells(series_node(args_cache_cell(function)), &length);
    for (uint32_t i = 0; i < length; i++) {
        Cell c = cells[i];  // typesets and refinements: no node to follow
        uint8_t t = cell_type(&c);
        if (t == T_TYPESET) {
            if (((c.header >> FETCH_MODE_SHIFT) & 3) == FETCH_NEVER) continue;
            if (leading) {
                if (!(infix && argc == 0)) {
                    ExitCode x = fetch_one(function, &c, cursor, infix || no_infix, param);
                    if (x != EXIT_CODE_NONE) return x;
                    // Fetching may have moved the cache.
                    cells = cache_cells(series_node(args_cache_cell(function)), &length);
                }
                check_argument(function, &c, args + argc, param);
                argc++;
            } else if (!native) {
                stack_push_new(T_NONE);
                argc++;
            }
            param++;
        } else if (t == T_REFINEMENT) {
            leading = false;
            if (!native) {
                logic_make_at(stack_push_slot(), false);
                argc++;
            }
            param++;
        } else if (t == T_INTEGER && !native) {
            locals = cell_int(&c);
        }
    }
    if (locals > 0) push_unused_refinement(uint32_t(locals));

    if (path.path) {
        ExitCode x = path_refinements_fetch(function, cursor, path, native, refinements, argc,
                                            infix, no_infix);
        if (x != EXIT_CODE_NONE) return x;
    }

    if (!native) return EXIT_CODE_NONE;
    return native_call(function, cursor, refinements);
}

ExitCode fetch_arguments(const Cell* function, EvalCursor& cursor, const PathRefinements& path,
                         const Cell*, bool infix) {
    return fetch_args(const_cast<Cell*>(function), cursor, path, infix, false);
}

// ---- calls ---------------------------------------------------------------------------------

// Ends a call whose callee left its result in ARGS[0]: fires return when
// tracing, unwinds the frame and moves the result over the function value
// pushed below it, which becomes the last pushed value.
static inline void call_finish(EvalCursor& cursor, Cell* slot, uint8_t type) {
    if (trace_state.tracing) {
        Cell w;
        call_name(&w);
        trace_event(TRACE_RETURN, &cursor, &w, data_stack.args);
    }
    // The call's own frame is the top one: the unwind needs no search, and
    // only a function's frame has context values to put back.
    CallFrame* frame = --call_stack.top;
    if (type == T_FUNCTION) stack_frame_restore(frame);
    data_stack.args = frame->caller_args;
    cell_copy(slot + 1, slot);
    data_stack.top = slot + 1;
}

// Pushes the function value of a call, which stays below its frame; an
// operator goes below its left operand (the last pushed value), retyped to
// the type it was made from, and the data top is left where the frame's ARGS
// go, so that the left operand becomes ARGS[0].
static inline Cell* call_slot(const Cell* function, bool infix) {
    if (!infix) return stack_push(function);
    Cell op = *function;
    Cell* left = data_stack.top - 1;
    stack_push(left);
    cell_copy(&op, left);
    data_stack.top = left + 1;
    cell_type_set(left, op_source_type(left));
    return left;
}

static ExitCode eval_call(const Cell* function, EvalCursor& cursor, const PathRefinements& path,
                          const Cell* word, uint32_t flags) {
    bool infix = flags & CALL_INFIX;
    native_stack_check();
    Cell* slot = call_slot(function, infix);
    uint8_t type = cell_type(slot);
    const Cell* name = word ? word : runtime_word(W_LABEL_ANON);
    if (type == T_FUNCTION) stack_mark_func_interp(name);
    else stack_mark_native_interp(name);
    if (infix) data_stack.top = data_stack.args + 1;
    if (trace_state.tracing) {
        Cell w;
        call_name(&w);
        trace_event(TRACE_OPEN, &cursor, nullptr, &w);
    }
    ExitCode x = fetch_args(slot, cursor, path, infix, flags & CALL_NO_INFIX);
    if (x != EXIT_CODE_NONE) return x;
    if (type == T_FUNCTION) x = exec_function(slot, 0, nullptr, 0);
    else if (type == T_ROUTINE) x = exec_routine(slot);
    if (x != EXIT_CODE_NONE) return x;
    call_finish(cursor, slot, type);
    if (!(flags & CALL_PUSH)) stack_set_last_reset(slot);
    return EXIT_CODE_NONE;
}

// Runs the body of a function whose frame (the top one) and arguments are in
// place: the function's context reads its slots from the frame's cells, and
// the frame records what they were before, so every unwind (normal, exit or
// error) puts them back for the caller.
static inline void function_enter(const Cell* function) {
    Node context = function_context(function);
    CallFrame* frame = call_stack.top - 1;
    Cell* cell = context_cell(context);
    frame->function_context = context;
    frame->saved_values = context_values_of(cell);
    context_values_set_at(cell, stack_index(data_stack.args) + 1);
}

// Runs the body of an entered function while nothing is traced (and its
// flags turn nothing on): the body flag marks the frame as the target of
// return and exit, which end here. popped: the caller pops the frame at
// once when the body ends normally, so the flag is left as it is then.
[[gnu::always_inline]] static inline ExitCode function_run_untraced(const Cell* function,
                                                                    bool popped = false) {
    call_stack.top[-1].flags |= FRAME_BODY;
    const Cell* body = function_more_cell(function, MORE_BODY);
    ExitCode x;
    if (cell_type(body) == T_BLOCK) {
        x = eval_block_in(body, true, true);
    } else {
        stack_box_new(T_UNSET);
        x = EXIT_CODE_NONE;
    }
    trace_state.tracing = false;
    if (x == EXIT_CODE_NONE) {
        if (!popped) call_stack.top[-1].flags &= ~FRAME_BODY;
        return x;
    }
    if (x == EXIT_CODE_RETURN || x == EXIT_CODE_EXIT) {
        exit_clear();
        stack_set_body_flag(false);
        return EXIT_CODE_NONE;
    }
    return x;
}

static inline bool function_untraced_q(const Cell* function) {
    return !trace_state.tracing && !((function->header & FUNCTION_TRACE) && trace_state.requested);
}

// exec_function's steps after function_enter when something may be traced.
static ExitCode exec_function_traced(const Cell* function, const Cell* word = nullptr,
                                     uint32_t trace_mask = 0) {
    bool tracing = trace_state.tracing;
    if (tracing && trace_mask && !(trace_mask & trace_state.settings)) trace_state.tracing = false;
    if (trace_state.tracing) {
        Cell name;
        call_name(&name);
        trace_event(TRACE_CALL, nullptr, &name, function);
    }
    ExitCode x = eval_function_body(function, word);
    trace_state.tracing = tracing;
    return x;
}

ExitCode exec_function(const Cell* function, Node, const Cell* word, uint32_t trace_mask) {
    function_enter(function);
    if (function_untraced_q(function)) return function_run_untraced(function);
    return exec_function_traced(function, word, trace_mask);
}

ExitCode eval_function_body(const Cell* function, const Cell*) {
    stack_set_body_flag(true);
    bool tracing = trace_state.tracing;
    if (function->header & FUNCTION_TRACE) trace_state.tracing = trace_state.requested;
    if (function->header & FUNCTION_NO_TRACE) trace_state.tracing = false;
    if (trace_state.tracing) {
        Cell name;
        call_name(&name);
        trace_event(TRACE_PROLOG, nullptr, &name, function);
    }
    ExitCode x;
    const Cell* body = function_more_cell(function, MORE_BODY);
    if (cell_type(body) == T_BLOCK) {
        x = eval_block(body, true);
    } else {
        stack_box_new(T_UNSET);
        x = EXIT_CODE_NONE;
    }
    if (trace_state.tracing) {
        Cell name;
        if (call_stack.top > call_stack.bottom) call_name(&name);
        else cell_init(&name, T_NONE);
        trace_event(TRACE_EPILOG, nullptr, &name, function);
    }
    trace_state.tracing = tracing;
    if (x == EXIT_CODE_RETURN || x == EXIT_CODE_EXIT) {
        exit_clear();
        x = EXIT_CODE_NONE;
    }
    if (x == EXIT_CODE_NONE) stack_set_body_flag(false);
    return x;
}

ExitCode exec_routine(const Cell* routine) {
    routine_run(routine);
    return EXIT_CODE_NONE;
}

// A user comparator of sort: called with the two values, its result in out.
static void sort_call(const Cell* function, const Cell* a, const Cell* b, Cell* out) {
    Cell* slot = stack_push(function);
    stack_mark_func_interp(runtime_word(W_LABEL_ANON));
    Cell* args = data_stack.args;
    stack_push(a);
    stack_push(b);
    Node cache = args_cache_build(slot);
    uint32_t length;
    const Cell* cells = cache_cells(cache, &length);
    uint32_t slots = 0, leading = 0;
    bool in_refinement = false;
    int32_t locals = 0;
    for (uint32_t i = 0; i < length; i++) {
        uint8_t t = cell_type(&cells[i]);
        if (t == T_TYPESET && ((cells[i].header >> FETCH_MODE_SHIFT) & 3) != FETCH_NEVER) {
            slots++;
            if (!in_refinement) leading++;
        } else if (t == T_REFINEMENT) {
            slots++;
            in_refinement = true;
        } else if (t == T_INTEGER) {
            locals = cell_int(&cells[i]);
        }
    }
    // Missing leading arguments are none; unused refinements false and none.
    data_stack.top = args + (leading < 2 ? leading : 2);
    for (uint32_t i = uint32_t(data_stack.top - args); i < leading; i++) stack_push_new(T_NONE);
    if (slots > leading) push_unused_refinement(slots - leading);
    if (locals > 0) push_unused_refinement(uint32_t(locals));
    ExitCode x = exec_function(slot, 0, nullptr, 0);
    if (x != EXIT_CODE_NONE) exit_throw(x);
    stack_unwind_func_keep();
    cell_copy(slot + 1, out);
    data_stack.top = slot;
}

// ---- expressions ---------------------------------------------------------------------------

static bool system_issue_q(const Cell* issue) {
    uint32_t s = symbol_resolve(word_symbol(issue));
    return s == symbol_resolve(runtime_symbol(SYM_SYSTEM)) ||
           s == symbol_resolve(runtime_symbol(SYM_SYSTEM_GLOBAL));
}

// A set-word (v, the cursor past it) and its value: the value is evaluated
// in a frame named by the set-word, which errors and stack traces show, then
// written, and pushed at the data top the call began with. *direct: the
// write ran nothing (see word_set_direct); an object's change handler, run
// otherwise, may have changed the code after it.
static ExitCode set_word_eval(EvalCursor& cursor, const Cell* v, bool* direct) {
    native_stack_check();
    Cell* args = stack_mark_native_interp(v);
    Cell* word = stack_push(v);
    if (code_ended(cursor)) error_raise(ERR_NEED_VALUE, word);
    ExitCode x = eval_expression(cursor, false, true, false);
    if (x != EXIT_CODE_NONE) return x;
    Cell* value = args + 1;
    if (cell_type(value) == T_UNSET) error_raise(ERR_NEED_VALUE, word);
    if (trace_state.tracing) trace_event(TRACE_SET, &cursor, word, value);
    *direct = word_set_direct(word, value);
    if (!*direct) word_set_notify(word, value);
    cell_copy(value, args);
    stack_unwind_keep();
    return EXIT_CODE_NONE;
}

// Evaluates the value at the cursor (without the infix step); the value is
// pushed at the data top the call began with.
static ExitCode eval_primary(EvalCursor& cursor, bool no_infix, bool literal_functions) {
    native_stack_check();
    const Cell* v = code_at(cursor, cursor.position);
    if (trace_state.tracing) {
        Cell value = *v;
        trace_event(TRACE_FETCH, &cursor, nullptr, &value);
        v = code_at(cursor, cursor.position);
    }
    cursor.position++;
    Cell* start = data_stack.top;
    ExitCode x = EXIT_CODE_NONE;
    switch (cell_type(v)) {
    case T_WORD: {
        Cell* slot = interp_word_slot(v);
        uint8_t t = cell_type(slot);
        if (t == T_UNSET || t == T_OP) {
            Cell w = *v;
            error_raise(t == T_UNSET ? ERR_NO_VALUE : ERR_NO_OP_ARG, &w);
        }
        if (callable_type_q(t)) return eval_call(slot, cursor, {nullptr, 0}, v, CALL_PUSH | (no_infix ? CALL_NO_INFIX : 0u));
        stack_push(slot);
        break;
    }
    case T_SET_WORD: {
        bool direct;
        x = set_word_eval(cursor, v, &direct);
        if (x != EXIT_CODE_NONE) return x;
        break;
    }
    case T_SET_PATH: {
        if (code_ended(cursor)) {
            Cell p = *v;
            error_raise(ERR_NEED_VALUE, &p);
        }
        Cell* path = stack_push(v);
        stack_mark_native_interp(nullptr);
        x = eval_expression(cursor, false, true, false);
        if (x != EXIT_CODE_NONE) return x;
        if (cell_type(data_stack.args) == T_UNSET) error_raise(ERR_NEED_VALUE, path);
        if (trace_state.tracing) {
            trace_event(TRACE_SET, &cursor, path, data_stack.args);
        } else if (path_set_field(path, data_stack.args)) {
            stack_unwind_keep();
            cell_copy(path + 1, path);
            data_stack.top = path + 1;
            break;
        }
        x = interp_eval_path(path, cursor, {.set = true});
        if (x != EXIT_CODE_NONE) return x;
        stack_unwind_keep();
        cell_copy(path + 1, path);
        data_stack.top = path + 1;
        break;
    }
    case T_GET_WORD:
        stack_push(interp_word_slot(v));
        break;
    case T_LIT_WORD:
        stack_push(v)->header = T_WORD;
        break;
    case T_PAREN:
        x = eval_block(v, false);
        if (x != EXIT_CODE_NONE) return x;
        break;
    case T_PATH: case T_GET_PATH: {
        bool get = cell_type(v) == T_GET_PATH;
        Cell* path = stack_push(v);
        x = interp_eval_path(path, cursor, {.get = get, .push = true});
        if (x != EXIT_CODE_NONE) return x;
        cell_copy(path + 1, path);
        data_stack.top = path + 1;
        break;
    }
    case T_LIT_PATH: {
        Cell* path = stack_push(v);
        path->header = T_PATH;
        series_extra_set(path, 0);
        break;
    }
    case T_OP:
        error_raise(ERR_NOT_DONE);
    case T_NATIVE: case T_ACTION: case T_FUNCTION: case T_ROUTINE:
        if (literal_functions) {
            stack_push(v);
            break;
        }
        return eval_call(v, cursor, {nullptr, 0}, nullptr, CALL_PUSH | (no_infix ? CALL_NO_INFIX : 0u));
    case T_ISSUE:
        if (system_issue_q(v) && !code_ended(cursor) &&
            cell_type(code_at(cursor, cursor.position)) == T_BLOCK)
            error_raise(ERR_KEL_SYSTEM);
        stack_push(v);
        break;
    default:
        stack_push(v);
        break;
    }
    if (trace_state.tracing) trace_event(TRACE_PUSH, &cursor, nullptr, start);
    return EXIT_CODE_NONE;
}

// An operator between two numbers, or two chars, whose right operand is quiet (see
// core/eval_values.hpp) is computed here without a call frame, as the call
// would compute it (see number_operation); the cursor then steps over the
// operand. False, touching nothing, for anything else.
static inline bool number_operator(const Cell* op, EvalCursor& cursor, Cell* left) {
    auto operand_q = [](const Cell* c) { return number_type_q(cell_type(c)) || cell_type(c) == T_CHAR; };
    if (!operand_q(left)) return false;
    SeriesBuffer* b = series_buffer_of(cursor.block);
    QuietCode code{block_cells(b), cursor.end < cells_length(b) ? cursor.end : cells_length(b)};
    uint32_t at = cursor.position;
    if (at >= code.end) return false;
    const Cell* right = code.cells + at;
    Cell value;
    if (cell_type(right) == T_WORD) {
        right = word_value_or_null(right);
        if (!right || !operand_q(right)) return false;
        at++;
    } else if (operand_q(right)) {
        at++;
    } else {
        // A paren whose first expression its own evaluation lately found not
        // quiet (see quiet_worth_at_q) is no quiet operand either: the table
        // is not consulted for it.
        if (cell_type(right) == T_PAREN && series_index(right) == 0 &&
            (series_buffer_of(right)->flags & SERIES_QUIET_SKIPS))
            return false;
        Node node = series_node(cursor.block);
        if (!quiet_try_q(node, at)) return false;
        if (!quiet_operand(code, &at, true, &value)) {
            quiet_refused(node, cursor.position);
            return false;
        }
        if (!number_operation(op, op_source_type(op), left, &value)) {
            quiet_refused(node, cursor.position);
            return false;
        }
        cursor.position = at;
        return true;
    }
    if (!number_operation(op, op_source_type(op), left, right)) return false;
    cursor.position = at;
    return true;
}

// Applies the infix operators that follow the value at start (the data top
// is just above it), from op, the first one, at the cursor: a op1 b op2 c,
// strictly left to right, each result the next left operand.
static ExitCode eval_infix(EvalCursor& cursor, Cell* start, const Cell* op) {
    for (; op; op = infix_operator(cursor)) {
        const Cell* word = code_at(cursor, cursor.position);
        if (trace_state.tracing) {
            Cell w = *word;
            trace_event(TRACE_FETCH, &cursor, nullptr, &w);
            // The tracer may have changed the code.
            op = infix_operator(cursor);
            if (!op) break;
            word = code_at(cursor, cursor.position);
        }
        cursor.position++;
        data_stack.top = start + 1;
        if (!trace_state.tracing && number_operator(op, cursor, start)) continue;
        Cell name = *word;  // read by the frame mark only, before anything allocates
        ExitCode x;
        uint32_t shape;
        if (!trace_state.tracing && call_shape(op, &shape))
            x = call_simple_infix(op, shape, cursor, &name);
        else
            x = eval_call(op, cursor, {nullptr, 0}, &name, CALL_PUSH | CALL_INFIX | CALL_NO_INFIX);
        if (x != EXIT_CODE_NONE) return x;
    }
    return EXIT_CODE_NONE;
}

// ---- untraced fast paths ----------------------------------------------------------------------
// Used only while nothing is traced; each takes its case whole or answers
// before it has changed anything, and the general path runs.

// The shape of a function value's calls when they take the simple path (see
// args_shape_of); false when its cache is not built yet or has another shape.
static bool call_shape(const Cell* function, uint32_t* shape) {
    const Cell* cached = args_cache_cell(function);
    if (cell_type(cached) != T_BLOCK || !(series_extra(cached) & ARGS_SIMPLE)) return false;
    *shape = series_extra(cached);
    return true;
}

// if, unless and either whose block arguments stand in the code as blocks,
// once the condition is fetched (ARGS[0]) and checked: the block the native
// would evaluate is evaluated at once, in the native's frame, without
// pushing the blocks and calling the native, and its value, or the none of an
// if or unless not taken, is left in ARGS[0] as the native leaves it. The
// frame is the native's, so errors and stack traces find the same frames.
// False, touching nothing, where the general steps must run (another code
// value there, an operator after the last block, tracing switched on while
// the condition ran).
static inline bool call_branch(uint32_t kind, EvalCursor& cursor, ExitCode* x) {
    uint32_t blocks = kind == BRANCH_EITHER ? 2 : 1;
    SeriesBuffer* b = series_buffer_of(cursor.block);
    uint32_t end = std::min(cursor.end, cells_length(b));
    if (cursor.position + blocks > end || trace_state.tracing) return false;
    const Cell* code = block_cells(b) + cursor.position;
    if (cell_type(code) != T_BLOCK || (blocks == 2 && cell_type(code + 1) != T_BLOCK)) return false;
    // An operator after the last block takes it as its left operand.
    if (cursor.position + blocks < end && operator_of(code + blocks)) return false;
    cursor.position += blocks;
    const Cell* chosen;
    if (kind == BRANCH_EITHER) {
        chosen = logic_true_checked(data_stack.args) ? code : code + 1;
    } else if (logic_false(data_stack.args) == (kind == BRANCH_IF)) {
        stack_box_new(T_NONE);
        *x = EXIT_CODE_NONE;
        return true;
    } else {
        chosen = code;
    }
    // The code's buffer may move while the block runs: the block goes by copy.
    Cell block = *chosen;
    data_stack.top = data_stack.args + 1;
    try {
        *x = eval_block_in(&block, true, false);
    } catch (const ExitSignal& signal) {
        *x = signal.code;
    }
    return true;
}

// Calls a function value of the simple shape, named by word, without a path:
// the steps of eval_call for that case, the result pushed.
// branch: the function is if, unless or either (see call_branch).
[[gnu::always_inline]] static inline ExitCode call_simple(const Cell* function, uint32_t shape,
                                                        EvalCursor& cursor, const Cell* word,
                                                        bool no_infix, bool infix,
                                                        bool branch = false) {
    native_stack_check();
    Cell* slot = call_slot(function, infix);
    uint8_t type = cell_type(slot);
    stack_frame_push(word, type == T_FUNCTION ? FRAME_FUNC_INTERP : FRAME_NATIVE_INTERP);
    Cell* args = data_stack.args;
    if (infix) data_stack.top = args + 1;
    uint32_t count = shape & 0xFF;
    for (uint32_t i = 0; i < count; i++) {
        if (!(infix && i == 0)) {
            ExitCode x = fetch_evaluated(slot, cursor, no_infix || infix, i);
            if (x != EXIT_CODE_NONE) return x;
        }
        if (shape & ARGS_ANY) {
            if (cell_type(args + i) == T_UNSET && !(shape >> (ARGS_UNSET_SHIFT + i) & 1))
                raise_argument_type(slot, args + i, i);
        } else {
            const Cell* typesets =
                block_cells(series_node(args_cache_cell(slot)));
            check_argument(slot, typesets + i, args + i, i);
        }
        if (branch && i == 0) {
            ExitCode x;
            if (call_branch(shape >> ARGS_BRANCH_SHIFT & 3, cursor, &x)) {
                if (x != EXIT_CODE_NONE) return x;
                call_finish(cursor, slot, type);
                return EXIT_CODE_NONE;
            }
        }
    }
    ExitCode x;
    if (infix && native_type_q(type) && !trace_state.tracing && data_stack.top == args + 2 &&
        number_operation(slot, type, args, args + 1)) {
        // An operator on two numbers whose right operand needed the
        // evaluator: computed as native_call computes it.
        data_stack.top = args + 1;
        x = EXIT_CODE_NONE;
    } else if (native_type_q(type)) {
        x = native_call(slot, cursor, no_refinements);
    } else {
        if (uint32_t locals = (shape >> ARGS_LOCALS_SHIFT) & 0xFF) push_unused_refinement(locals);
        if (type == T_FUNCTION) {
            function_enter(slot);
            x = function_untraced_q(slot) ? function_run_untraced(slot, true)
                                          : exec_function_traced(slot);
        } else {
            x = exec_routine(slot);
        }
    }
    if (x != EXIT_CODE_NONE) return x;
    call_finish(cursor, slot, type);
    return EXIT_CODE_NONE;
}

static inline QuietCode quiet_code(const EvalCursor& cursor, SeriesBuffer* b);
static bool quiet_expression(const QuietCode& code, uint32_t* at, Cell* out);
static ExitCode eval_block_rest(const Cell* block, uint32_t position, uint32_t end,
                                bool entered);

// A native, action or routine with a quiet form (quiet_form_q: square-root,
// pick, none? ...), called by word, whose arguments are quiet (see
// core/eval_values.hpp): the arguments are read and the value computed
// without the function's frame, as nothing runs meanwhile that could see it
// missing, and that value is pushed without the operators after it. The
// cursor stands at the first argument. False, touching nothing, otherwise.
static inline bool call_quiet(const Cell* function, EvalCursor& cursor, bool no_infix) {
    Node node = series_node(cursor.block);
    if (!quiet_try_q(node, cursor.position)) return false;
    QuietCode code = quiet_code(cursor, series_buffer_of(cursor.block));
    uint32_t at = cursor.position;
    Cell* out = data_stack.top;
    uint8_t type = cell_type(function);
    bool quiet = type == T_ROUTINE  ? quiet_type_test(function, code, &at, no_infix, out, 0)
                 : type == T_ACTION ? quiet_action(function, code, &at, no_infix, out, 0)
                                    : quiet_native(function, code, &at, no_infix, out, 0);
    if (!quiet) {
        quiet_refused(node, cursor.position);
        return false;
    }
    data_stack.top = out + 1;
    cursor.position = at;
    return true;
}

// if, unless and either, called by word, whose condition is quiet (see
// core/eval_values.hpp) and whose blocks stand in the code as blocks, with no
// operator after the last one: the condition is read without the native's
// frame, as nothing runs meanwhile that could see it missing. An if or
// unless not taken gives none, and a chosen block of one quiet expression
// gives its value, with no frame at all. Any other chosen block is evaluated
// as call_branch evaluates it, in the native's frame, marked as call_simple
// marks it, with the condition in ARGS[0]; a quiet first expression is not
// evaluated twice, the evaluation going on after it. The cursor stands at
// the condition. False, touching nothing, where the general steps must run
// (they then raise what they raise).
// whole: the expression must end the code (see eval_block_branch).
[[gnu::always_inline]] static inline bool branch_quiet(const Cell* function, uint32_t shape,
                                                       EvalCursor& cursor, const Cell* word,
                                                       bool no_infix, ExitCode* x,
                                                       bool whole = false) {
    Node node = series_node(cursor.block);
    SeriesBuffer* code_buffer = series_buffer_of(cursor.block);
    // A whole block's condition is looked up in the refusal table only once
    // quiet evaluation has failed somewhere in the block (see
    // quiet_worth_at_q); the table serves the other callers.
    if (whole ? !quiet_worth_at_q(code_buffer, node, cursor.position) || !quiet_room_q()
              : !quiet_try_q(node, cursor.position))
        return false;
    QuietCode code = quiet_code(cursor, code_buffer);
    uint32_t at = cursor.position;
    Cell* out = data_stack.top;
    uint32_t kind = shape >> ARGS_BRANCH_SHIFT & 3;
    uint32_t blocks = kind == BRANCH_EITHER ? 2 : 1;
    const Cell* first = nullptr;
    if ((no_infix ? quiet_operand(code, &at, true, out) : quiet_chain(code, &at, out)) &&
        at + blocks <= code.end) {
        first = code.cells + at;
        if (cell_type(first) != T_BLOCK || (blocks == 2 && cell_type(first + 1) != T_BLOCK) ||
            (at + blocks < code.end && operator_of(first + blocks)))
            first = nullptr;
    }
    if (!first) {
        if (whole) quiet_refused_at(code_buffer, node, cursor.position);
        else quiet_refused(node, cursor.position);
        return false;
    }
    // The condition's check as call_simple makes it; unset, which either
    // refuses, goes to the general steps too.
    uint8_t type = cell_type(out);
    if (type == T_UNSET || (!(shape & (ARGS_ANY | ARGS_FIRST_ANY)) &&
                            !typeset_has(block_cells(series_node(args_cache_cell(function))), type)))
        return false;
    const Cell* chosen = first;
    bool taken = true;
    if (kind == BRANCH_EITHER) {
        if (logic_false(out)) chosen = first + 1;
    } else {
        taken = logic_false(out) != (kind == BRANCH_IF);
    }
    if (whole && at + blocks != code.end) return false;
    cursor.position = at + blocks;
    *x = EXIT_CODE_NONE;
    if (!taken) {
        cell_init(out, T_NONE);
        data_stack.top = out + 1;
        return true;
    }
    SeriesBuffer* b = series_buffer_of(chosen);
    uint32_t start = uint32_t(series_index(chosen)), end = cells_length(b);
    if (start + 1 == end) {
        if (const Cell* value = plain_value_of(block_cells(b) + start)) {
            cell_copy(value, out);
            data_stack.top = out + 1;
            return true;
        }
    }
    // The quiet expression below may write any word's slot, the one that
    // holds this native included: the frame takes the cells as they are now.
    Cell block = *chosen, condition = *out, native = *function, name = *word;
    uint32_t position = start;
    if (start < end) {
        // The block's first expression, as its evaluation's quiet start
        // takes it; when it was the only one, the block is evaluated, else
        // the evaluation goes on after it (or at it, when it is not quiet)
        // as the block's evaluation would.
        Node chosen_node = series_node(&block);
        uint32_t after = start;
        if (quiet_worth_at_q(b, chosen_node, start)) {
            if (!quiet_expression({block_cells(b), end}, &after, out)) {
                quiet_refused_at(b, chosen_node, start);
            } else if (after >= end) {
                data_stack.top = out + 1;
                return true;
            } else {
                position = after;
            }
        }
    }
    native_stack_check();
    Cell* slot = stack_push(&native);
    stack_frame_push(&name, FRAME_NATIVE_INTERP);
    stack_push(&condition);
    try {
        *x = start < end ? eval_block_rest(&block, position, end, position == start)
                         : eval_block_in(&block, true, false);
    } catch (const ExitSignal& signal) {
        *x = signal.code;
    }
    if (*x == EXIT_CODE_NONE) call_finish(cursor, slot, T_NATIVE);
    return true;
}

// call_simple of if, unless or either, apart so that the common calls stay
// as lean as they were.
static __attribute__((noinline)) ExitCode call_simple_branch(const Cell* function, uint32_t shape,
                                                             EvalCursor& cursor, const Cell* word,
                                                             bool no_infix) {
    ExitCode x;
    if (branch_quiet(function, shape, cursor, word, no_infix, &x)) return x;
    return call_simple(function, shape, cursor, word, no_infix, false, true);
}

// call_simple of a function with a quiet form, evaluated quietly when it can
// be (see call_quiet); apart for the same reason.
static __attribute__((noinline)) ExitCode call_simple_quiet(const Cell* function, uint32_t shape,
                                                            EvalCursor& cursor, const Cell* word,
                                                            bool no_infix) {
    if (call_quiet(function, cursor, no_infix)) return EXIT_CODE_NONE;
    return call_simple(function, shape, cursor, word, no_infix, false);
}

// call_simple of a function named by a word, its operators left to the
// caller; apart, so that its one more caller adds no copy of it.
static __attribute__((noinline)) ExitCode call_simple_word(const Cell* function, uint32_t shape,
                                                           EvalCursor& cursor, const Cell* word) {
    return call_simple(function, shape, cursor, word, false, false);
}

// An operator of the simple shape applied to the last pushed value.
static ExitCode call_simple_infix(const Cell* op, uint32_t shape, EvalCursor& cursor,
                                  const Cell* word) {
    return call_simple(op, shape, cursor, word, true, true);
}

// A call named by a path (an object's method, a function named by its word
// and refinements): when the path names nothing after the function and the
// function has the simple shape, it is called as the word alone would call it.
ExitCode eval_code(const Cell* function, EvalCursor& cursor, const PathRefinements& path,
                   const Cell* word, const Cell*, uint32_t flags) {
    uint32_t shape;
    if (!trace_state.tracing && word && (flags & CALL_PUSH) && !(flags & CALL_INFIX) &&
        !path_names_refinements_q(path) && call_shape(function, &shape))
        return call_simple(function, shape, cursor, word, flags & CALL_NO_INFIX, false);
    return eval_call(function, cursor, path, word, flags);
}

// The code at the cursor as quiet evaluation reads it.
static inline QuietCode quiet_code(const EvalCursor& cursor, SeriesBuffer* b) {
    uint32_t length = cells_length(b);
    return {block_cells(b), cursor.end < length ? cursor.end : length};
}

// The expression at *at evaluated quietly (see core/eval_values.hpp) into
// out: a quiet chain, or a set-word or a set-path of an object's field whose
// value is one, written once that value is known. A set leaves out the frame
// the interpreter marks while the value is evaluated: nothing runs meanwhile
// to see it.
[[gnu::always_inline]] static inline bool quiet_expression_in_line(const QuietCode& code,
                                                                   uint32_t* at, Cell* out) {
    const Cell* first = code.cells + *at;
    uint8_t t = cell_type(first);
    if (t != T_SET_WORD && t != T_SET_PATH) return quiet_chain(code, at, out);
    uint32_t from = *at + 1;
    if (!quiet_chain(code, &from, out) || cell_type(out) == T_UNSET) return false;
    if (t == T_SET_WORD ? !word_set_direct(first, out) : !path_set_field(first, out)) return false;
    *at = from;
    return true;
}

// The same out of line, for the callers other than a block's quiet start,
// which takes the steps above in line as the place they run most.
static bool quiet_expression(const QuietCode& code, uint32_t* at, Cell* out) {
    return quiet_expression_in_line(code, at, out);
}

// The expression at the cursor evaluated quietly, its value pushed (with
// no_infix, a value without the operators after it). False, touching
// nothing, when it is not quiet.
static inline bool expression_quiet(EvalCursor& cursor, SeriesBuffer* b, bool no_infix) {
    Node node = series_node(cursor.block);
    if (!quiet_try_q(node, cursor.position)) return false;
    QuietCode code = quiet_code(cursor, b);
    uint32_t at = cursor.position;
    Cell* out = data_stack.top;
    if (!(no_infix ? quiet_operand(code, &at, true, out) : quiet_expression(code, &at, out))) {
        quiet_refused(node, cursor.position);
        return false;
    }
    data_stack.top = out + 1;
    cursor.position = at;
    return true;
}

ExitCode eval_expression(EvalCursor& cursor, bool no_infix, bool push, bool literal_functions) {
    Cell* start = data_stack.top;
    ExitCode x;
    // While nothing is traced, three shortcuts beside the general path: a
    // plain value and the operator after it are read from one look at the
    // code, as pushing the value allocates nothing; a word holding a function
    // whose argument shape is known calls it without the general argument
    // walk; a path or set that quiet evaluation takes (see
    // core/eval_values.hpp) is evaluated without frames. A paren goes
    // straight to its block's evaluation, whose quiet start takes a quiet
    // paren as well, so a paren that is not quiet is refused once, not twice.
    // Anything else, and any shortcut that declines, goes to eval_primary.
    SeriesBuffer* b = series_buffer_of(cursor.block);
    const Cell* code = block_cells(b) + cursor.position;
    if (!trace_state.tracing) {
        uint8_t t = cell_type(code);
        const Cell* value = code;
        if (t == T_WORD) {
            value = word_value_or_null(code);
            if (!value) goto general;
            if (callable_type_q(cell_type(value))) {
                uint32_t shape;
                if (!call_shape(value, &shape)) goto general;
                cursor.position++;
                x = !(shape & ARGS_SPECIAL) ? call_simple(value, shape, cursor, code, no_infix, false)
                    : shape & ARGS_QUIET
                        ? call_simple_quiet(value, shape, cursor, code, no_infix)
                        : call_simple_branch(value, shape, cursor, code, no_infix);
                if (x != EXIT_CODE_NONE) return x;
                goto infix;
            }
            if (!plain_word_value_q(value)) goto general;
        } else if (!self_evaluating_type_q(t)) {
            if ((t == T_PATH || ((t == T_SET_WORD || t == T_SET_PATH) && !no_infix)) &&
                expression_quiet(cursor, b, no_infix))
                goto done;
            if (t == T_SET_WORD) {
                // eval_primary's step for a set-word, without its dispatch.
                // Its value took every operator after it: unless a change
                // handler ran, no operator can follow.
                cursor.position++;
                bool direct;
                x = set_word_eval(cursor, code, &direct);
                if (x != EXIT_CODE_NONE) return x;
                if (trace_state.tracing) trace_event(TRACE_PUSH, &cursor, nullptr, start);
                if (direct) goto done;
                goto infix;
            }
            if (t == T_PAREN) {
                // eval_primary's step for a paren, without its dispatch.
                x = paren_expression(cursor, code, no_infix);
                if (x != EXIT_CODE_NONE) return x;
                goto done;
            }
            goto general;
        }
        cursor.position++;
        stack_push(value);
        if (!no_infix) {
            uint32_t length = cells_length(b);
            if (cursor.end > length) cursor.end = length;
            const Cell* op = cursor.position < cursor.end ? operator_of(code + 1) : nullptr;
            if (op) {
                x = eval_infix(cursor, start, op);
                if (x != EXIT_CODE_NONE) return x;
            }
        }
        goto done;
    }
general:
    x = eval_primary(cursor, no_infix, literal_functions);
    if (x != EXIT_CODE_NONE) return x;
infix:
    if (!no_infix) {
        if (const Cell* op = infix_operator(cursor)) {
            x = eval_infix(cursor, start, op);
            if (x != EXIT_CODE_NONE) return x;
        }
    }
done:
    if (!push) {
        stack_set_last_reset(start);
        if (trace_state.tracing) trace_event(TRACE_EXPR, &cursor, nullptr, data_stack.args);
    }
    return EXIT_CODE_NONE;
}

// ---- blocks --------------------------------------------------------------------------------

// A block of one value that needs no evaluation (plain_value_of) gives that
// value without its frame and position entry: nothing runs while it is
// evaluated, so nothing can see that they are missing. The data stack ends as
// the frame's unwind leaves it. Taken only where marking the frame could not
// have overflowed either stack.
static inline bool eval_block_plain(const Cell* code, uint32_t start, bool last) {
    const Cell* value = plain_value_of(code + start);
    if (!value || call_stack.top >= call_stack.end || position_depth >= POSITION_DEPTH ||
        data_stack.top + 2 >= data_stack.end)
        return false;
    Cell* slot = data_stack.top;
    cell_copy(value, slot);
    data_stack.top = slot + 1;
    if (last) cell_copy(slot, data_stack.args);
    return true;
}

// return and a quiet value: in a function's body, the value the body gives,
// as the return's exit at the function's frame leaves it. The code after it
// is never reached.
static inline bool quiet_return(const QuietCode& code, uint32_t at, Cell* out) {
    const Cell* first = code.cells + at;
    if (cell_type(first) != T_WORD) return false;
    const Cell* value = word_value_or_null(first);
    if (!value || cell_type(value) != T_NATIVE ||
        native_role(function_index(value)) != NATIVE_ROLE_RETURN)
        return false;
    at++;
    return quiet_chain(code, &at, out);
}

// How the quiet start of a block evaluation ended.
enum class QuietStart { done, stopped, interrupted };

// Evaluates the block's expressions from *position, as long as they are
// quiet, without the block's frame and position entry: each value goes where
// the frame's ARGS[0] would be (the data top on entry). done: the block is
// evaluated and its value placed as the frame's unwind places it. stopped:
// *position is an expression that is not quiet, the data top back on entry.
// interrupted: Ctrl+C came while the expression before *position ran, whose
// value is the last pushed. In a function's body (body), a return is taken
// too.
[[gnu::always_inline]] static inline QuietStart eval_block_quiet(Node node, SeriesBuffer* b, uint32_t* position,
                                          uint32_t end, bool last, bool body) {
    Cell* result = data_stack.top;
    QuietCode code{block_cells(b), end};
    // The stacks stand where they stood before each expression, so the room
    // checked before the first holds for them all.
    bool room = false;
    for (;;) {
        uint32_t at = *position;
        if (!quiet_worth_at_q(b, node, at)) return QuietStart::stopped;
        if (!room && !(room = quiet_room_q())) return QuietStart::stopped;
        if (body && quiet_return(code, at, result)) {
            data_stack.top = result + 1;
            if (last) cell_copy(result, data_stack.args);
            return QuietStart::done;
        }
        if (!quiet_expression_in_line(code, &at, result)) {
            quiet_refused_at(b, node, *position);
            return QuietStart::stopped;
        }
        *position = at;
        // Nothing between two quiet expressions reads the data top: it
        // goes above the value only when the quiet start ends with it.
        if (interrupt_requested) {
            data_stack.top = result + 1;
            return QuietStart::interrupted;
        }
        if (at >= end) {
            data_stack.top = result + 1;
            if (last) cell_copy(result, data_stack.args);
            return QuietStart::done;
        }
    }
}

// eval_expression(cursor, false, true, false) with its steps for a call of
// a function of the simple shape, and for a paren, taken in line, as the
// first expression of a paren or of a chosen branch mostly is one of them.
[[gnu::always_inline]] static inline ExitCode eval_call_expression(EvalCursor& cursor) {
    Cell* start = data_stack.top;
    const Cell* code = block_cells(series_buffer_of(cursor.block)) + cursor.position;
    const Cell* value;
    uint32_t shape;
    if (cell_type(code) == T_PAREN && !trace_state.tracing)
        return paren_expression(cursor, code, false);
    if (trace_state.tracing || cell_type(code) != T_WORD || !(value = word_value_or_null(code)) ||
        !callable_type_q(cell_type(value)) || !call_shape(value, &shape) ||
        (shape & ARGS_SPECIAL))
        return eval_expression(cursor, false, true, false);
    cursor.position++;
    ExitCode x = call_simple_word(value, shape, cursor, code);
    if (x != EXIT_CODE_NONE) return x;
    const Cell* op = infix_operator(cursor);
    return op ? eval_infix(cursor, start, op) : EXIT_CODE_NONE;
}

// The block's expressions from position evaluated in the running frame,
// with the block's position entry but without a frame of its own: each value
// goes where the frame's ARGS[0] would be (the data top on entry) and the
// data stack ends as the frame's unwind leaves it. A block frame carries no
// name, context or body flag, so errors, exits and the call chain find the
// same frames without it; every call inside marks its own frame. Not taken
// while tracing, whose events report the block's frame.
[[gnu::always_inline]] static inline ExitCode eval_block_frameless(const Cell* block,
                                                                   uint32_t position, uint32_t end,
                                                                   bool last, bool entered,
                                                                   bool first_call = false) {
    Cell* base = data_stack.top;
    PositionEntry entry(block);
    Cell* code = entry.cell;
    EvalCursor cursor{code, position, end};
    ExitCode x;
    if (entered && interrupt_requested && (x = stack_throw_halt())) return x;
    for (;;) {
        series_index_set(code, int32_t(cursor.position));
        data_stack.top = base;
        if (first_call) {
            first_call = false;
            x = eval_call_expression(cursor);
        } else {
            x = eval_expression(cursor, false, true, false);
        }
        if (x != EXIT_CODE_NONE) return x;
        if (data_stack.top != base + 1) {
            cell_copy(data_stack.top - 1, base);
            data_stack.top = base + 1;
        }
        // Ctrl+C at the console halts the command after any expression.
        if (interrupt_requested && (x = stack_throw_halt())) return x;
        if (trace_state.tracing || code_ended(cursor)) break;
    }
    if (!code_ended(cursor)) {
        // Tracing was switched on inside: the rest goes through the framed
        // evaluation, whose events report the block. The entry's copy is
        // read, as the block given may lie in a buffer that has moved.
        Cell rest = *code;
        series_index_set(&rest, int32_t(cursor.position));
        data_stack.top = base;
        return eval_block_in(&rest, last, false);
    }
    if (last) cell_copy(base, data_stack.args);
    return EXIT_CODE_NONE;
}

// A block evaluated from position as eval_block_in goes on once its quiet
// start has stopped there (entered: at the block's start), its value copied
// into ARGS[0]; apart, so that the block evaluation keeps its frameless
// steps in line.
static __attribute__((noinline)) ExitCode eval_block_rest(const Cell* block, uint32_t position,
                                                          uint32_t end, bool entered) {
    native_stack_check();
    return eval_block_frameless(block, position, end, true, entered, true);
}

// A block whose one expression is an if, unless or either that branch_quiet
// takes, evaluated as eval_block_frameless would evaluate it, without its
// loop and eval_expression's dispatch: the value goes where the loop puts
// it. False, touching nothing, where the block must be evaluated as usual.
// The caller has seen a word at start and a block at the end.
static __attribute__((noinline)) bool eval_block_branch(const Cell* block, uint32_t start,
                                                        uint32_t end, bool last, ExitCode* x) {
    SeriesBuffer* b = series_buffer_of(block);
    const Cell* word = block_cells(b) + start;
    const Cell* function = word_value_or_null(word);
    uint32_t shape;
    if (!function || cell_type(function) != T_NATIVE || !call_shape(function, &shape) ||
        !(shape & ARGS_BRANCH_MASK) || (shape & ARGS_QUIET))
        return false;
    Cell* base = data_stack.top;
    {
        PositionEntry entry(block);
        Cell* code = entry.cell;
        series_index_set(code, int32_t(start));
        EvalCursor cursor{code, start + 1, end};
        if (!branch_quiet(function, shape, cursor, word, false, x, true)) return false;
    }
    if (*x != EXIT_CODE_NONE) return true;
    // Ctrl+C at the console halts the command after any expression.
    if (interrupt_requested && (*x = stack_throw_halt())) return true;
    if (last) cell_copy(base, data_stack.args);
    return true;
}

// The framed evaluation of a block (see eval_block_in), from position,
// where the quiet start ended as quiet says.
static __attribute__((noinline)) ExitCode eval_block_framed(const Cell* block, uint32_t start,
                                                            uint32_t position, uint32_t end,
                                                            bool last, QuietStart quiet);

// eval_block_in, a copy for bodies and one for other blocks, so that the
// steps bodies alone take cost the others nothing.
template <BlockKind kind> static ExitCode eval_block_of(const Cell* block, bool last) {
    constexpr bool body = kind == BlockKind::body;
    native_stack_check();
    SeriesBuffer* b = series_buffer_of(block);
    uint32_t end = cells_length(b);
    uint32_t start = uint32_t(series_index(block)) > end ? end : uint32_t(series_index(block));
    uint32_t position = start;
    QuietStart quiet = QuietStart::stopped;
    if (start < end && !trace_state.tracing) {
        if (start + 1 == end && !interrupt_requested &&
            eval_block_plain(block_cells(b), start, last))
            return EXIT_CODE_NONE;
        quiet = eval_block_quiet(series_node(block), b, &position, end, last, body);
        if (quiet == QuietStart::done) return EXIT_CODE_NONE;
    }
    if (quiet == QuietStart::stopped && position < end && !trace_state.tracing) {
        // A function's body that starts with a word and ends with a block
        // may be one branch (see eval_block_branch), as bodies often are.
        ExitCode x;
        if (body && position == start && cell_type(block_cells(b) + end - 1) == T_BLOCK &&
            cell_type(block_cells(b) + start) == T_WORD &&
            eval_block_branch(block, start, end, last, &x))
            return x;
        return eval_block_frameless(block, position, end, last, position == start,
                                    kind == BlockKind::paren);
    }
    return eval_block_framed(block, start, position, end, last, quiet);
}

static ExitCode eval_block_framed(const Cell* block, uint32_t start, uint32_t position,
                                  uint32_t end, bool last, QuietStart quiet) {
    // The frame and position entry, as entering the block marks them, and
    // the evaluation goes on where the quiet start stopped.
    Cell* base = data_stack.top - (quiet == QuietStart::interrupted ? 1 : 0);
    PositionEntry entry(block);
    Cell* code = entry.cell;
    data_stack.top = base;
    stack_mark_block(nullptr);
    EvalCursor cursor{code, position, end};
    ExitCode x;
    if (quiet == QuietStart::interrupted) {
        data_stack.top = base + 1;
        if ((x = stack_throw_halt())) return x;
        if (code_ended(cursor)) goto finish;
        stack_reset();
    } else if (position == start) {
        if (trace_state.tracing) trace_event(TRACE_ENTER, &cursor, nullptr, nullptr);
        if (interrupt_requested && (x = stack_throw_halt())) return x;
        if (start >= end) {
            stack_box_new(T_UNSET);
            goto finish;
        }
    }
    for (;;) {
        series_index_set(code, int32_t(cursor.position));
        x = eval_expression(cursor, false, false, false);
        if (x != EXIT_CODE_NONE) return x;
        // Ctrl+C at the console halts the command after any expression.
        if (interrupt_requested && (x = stack_throw_halt())) return x;
        if (code_ended(cursor)) break;
        stack_reset();
    }
finish:
    if (trace_state.tracing) trace_event(TRACE_EXIT, &cursor, nullptr, data_stack.args);
    if (last) stack_unwind_last();
    else stack_unwind_keep();
    return EXIT_CODE_NONE;
}

ExitCode eval_block(const Cell* block, bool last) { return eval_block_in(block, last, false); }

ExitCode eval_next(EvalCursor& cursor, bool push) {
    PositionEntry position(cursor.block);
    series_index_set(position.cell, int32_t(cursor.position));
    stack_mark_native_interp(nullptr);
    ExitCode x = eval_expression(cursor, false, true, false);
    if (x != EXIT_CODE_NONE) return x;
    if (push) stack_unwind_keep();
    else stack_unwind_last();
    return EXIT_CODE_NONE;
}

ExitCode eval_next_operators(EvalCursor& cursor, const Cell* value, const Cell* op) {
    // Nothing below allocates before the value is pushed and the operator
    // read, so both pointers hold until then.
    PositionEntry position(cursor.block);
    series_index_set(position.cell, int32_t(cursor.position));
    stack_mark_native_interp(nullptr);
    cursor.position++;
    Cell* start = stack_push(value);
    ExitCode x = eval_infix(cursor, start, op);
    if (x != EXIT_CODE_NONE) return x;
    stack_unwind_keep();
    return EXIT_CODE_NONE;
}

ExitCode do_next_index(const Cell* block, uint32_t* index) {
    PositionEntry position(block);
    uint32_t end = series_buffer_of(position.cell)->length();
    if (*index >= end) {
        stack_box_new(T_UNSET);
        return EXIT_CODE_NONE;
    }
    series_index_set(position.cell, int32_t(*index));
    EvalCursor cursor{position.cell, *index, end};
    ExitCode x = eval_expression(cursor, false, false, false);
    *index = cursor.position;
    return x;
}

// ---- calls from C++ ------------------------------------------------------------------------

void function_apply(const Cell* function, const Cell* args, uint32_t count, Cell* out) {
    CellRoot call;
    block_make_at(&call.cell, int32_t(count + 1));
    stack_push(&call.cell);
    stack_push(function);
    block_append_last();
    for (uint32_t i = 0; i < count; i++) {
        stack_push(&args[i]);
        block_append_last();
    }
    stack_pop(1);
    Cell* mark = data_stack.top;
    ExitCode code = eval_block(&call.cell, false);
    if (code != EXIT_CODE_NONE) exit_throw(code);
    cell_copy(data_stack.top - 1, out);
    data_stack.top = mark;
}

} // namespace kel
