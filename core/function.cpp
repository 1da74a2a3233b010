// native!, action!, op!, function! and routine!: their constructors, spec
// checker every function spec passes, the locals of `function`, and the
// actions these types register.
#include "core/function.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/interpreter.hpp"
#include "core/logic.hpp"
#include "core/mold_text.hpp"
#include "core/natives_table.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"
#include "runtime/native_guard.hpp"
#include <cstring>

namespace kel {

// ---- block reading -------------------------------------------------------------------------
// The cells of a block from its position (clamped to the tail) and their
// count; valid until the next allocation.
static const Cell* block_cells_at(const Cell* block, uint32_t* count) {
    SeriesBuffer* b = series_buffer_of(block);
    uint32_t length = b->length();
    uint32_t index = uint32_t(series_index(block)) > length ? length : uint32_t(series_index(block));
    *count = length - index;
    return block_cells(b) + index;
}

static bool block_type_q(const Cell* c) { return cell_type(c) == T_BLOCK; }

static void block_value_at(Cell* out, Node node) {
    series_make_at(out, T_BLOCK, node, 0);
}

static uint32_t resolved(const Cell* word) { return symbol_resolve(word_symbol(word)); }
static bool symbol_is(const Cell* word, RuntimeSymbol id) {
    return resolved(word) == symbol_resolve(runtime_symbol(id));
}
static bool is_local(const Cell* c) {
    return cell_type(c) == T_REFINEMENT && resolved(c) == symbol_resolve(word_symbol(runtime_refinement(REF_LOCAL)));
}
static bool is_extern(const Cell* c) {
    return cell_type(c) == T_REFINEMENT && resolved(c) == symbol_resolve(word_symbol(runtime_refinement(REF_EXTERN)));
}

// ---- constructors ----------------------------------------------------------------------------

// A copy of a block from its position, at index 0, into out (rooted).
static void block_copy_at(const Cell* block, Cell* out, bool deep) {
    Cell* copy = block_clone(block, deep, deep);
    cell_copy(copy, out);
    stack_pop(1);
}

// The spec clamped and, when not at index 0, copied from its position.
static void spec_at_head(Cell* spec) {
    uint32_t length = series_buffer_of(spec)->length();
    if (uint32_t(series_index(spec)) > length) series_index_set(spec, length);
    if (series_index(spec) != 0) block_copy_at(spec, spec, false);
}

[[noreturn]] static void bad_make_arg(uint8_t type, const Cell* arg);

// ---- the specs natives and actions read ---------------------------------------------------
// The native! and action! values made at start-up, one block per type in table
// order (none where an index has none). Their entries read their arguments by
// position, trusting the types the interpreter checked against the argument
// block, so a value made later from the same index must take arguments that fit its own.
static Cell callable_references[2];

static void callable_references_mark() {
    collector_mark_values(callable_references, callable_references + 2);
}

void callable_references_reset() {
    cell_init(&callable_references[0], T_NONE);
    cell_init(&callable_references[1], T_NONE);
}

void callable_references_set(uint8_t type, const Cell* block) {
    callable_references[type == T_ACTION] = *block;
    collector_remove_root(callable_references_mark);
    collector_add_root(callable_references_mark);
}

bool callable_references_q(uint8_t type) {
    return cell_type(&callable_references[type == T_ACTION]) == T_BLOCK;
}

const Cell* callable_reference(uint8_t type, uint32_t index) {
    const Cell* block = &callable_references[type == T_ACTION];
    if (cell_type(block) != T_BLOCK || index < 1) return nullptr;
    SeriesBuffer* b = series_buffer_of(block);
    if (index > b->length()) return nullptr;
    const Cell* value = block_cells(b) + index - 1;
    return cell_type(value) == type ? value : nullptr;
}

// Raises bad-make-arg unless the value's spec fits the entry of its index: the
// spec of the value start-up made for it, or, for an index start-up made none
// for, any spec when the table slot is empty (calling it raises not-done).
static void native_spec_check(const Cell* value, const Cell* arg) {
    uint8_t type = cell_type(value);
    if (!callable_references_q(type)) return;  // start-up is making them
    uint32_t index = function_index(value);
    CellRoot given(*value);
    if (!callable_reference(type, index)) {
        bool empty = type == T_NATIVE ? !native_entry(index) : !action_entry(index);
        if (empty) return;
        bad_make_arg(type, arg);
    }
    CellRoot own(*callable_reference(type, index));
    NodeRoot own_cache(args_cache_build(&own.cell), ROOT_BLOCK);
    Node given_cache = args_cache_build(&given.cell);
    if (!args_cache_fits(given_cache, own_cache.node)) bad_make_arg(type, arg);
}

void native_make_at(Cell* out, const Cell* spec, uint32_t index, uint8_t type, const Cell* arg) {
    CellRoot error_arg(arg ? *arg : *spec);
    CellRoot s(*spec);
    spec_at_head(&s.cell);
    NodeRoot context(context_make_from_spec(&s.cell, true, false, CONTEXT_FUNCTION), ROOT_BLOCK);
    NodeRoot more(series_new_cells(MORE_NATIVE_CELLS), ROOT_BLOCK);
    cell_series_append_value(more.node, context_cell(context.node));
    cell_series_append_value(more.node, &none_cell);
    CellRoot made;
    cell_init(&made.cell, type);
    made.cell.w1 = index;
    made.cell.w2 = series_node(&s.cell);
    made.cell.w3 = more.node;
    native_spec_check(&made.cell, &error_arg.cell);
    cell_copy(&made.cell, out);
}

void function_make_at(Cell* out, const Cell* spec, const Cell* body, Node context_given,
                      const Cell* entry, const Cell* extra, uint32_t flags) {
    // Rooted first: copying its spec and body below may move the context.
    NodeRoot context(context_given, ROOT_BLOCK);
    CellRoot s(*spec);
    spec_at_head(&s.cell);
    CellRoot b;  // none without a body
    if (body) {
        cell_copy(body, &b.cell);
        uint32_t length = series_buffer_of(&b.cell)->length();
        if (uint32_t(series_index(&b.cell)) > length) series_index_set(&b.cell, length);
        block_copy_at(&b.cell, &b.cell, true);
        // Tracers do not step into library functions.
        if (series_buffer_of(&b.cell)->flags & SERIES_LIBRARY) flags |= FUNCTION_NO_TRACE;
    }
    Cell entry_cell, extra_cell;  // integers: nothing for the collector to follow
    if (entry) entry_cell = *entry; else cell_init(&entry_cell, T_UNSET);
    if (extra) extra_cell = *extra; else cell_init(&extra_cell, T_UNSET);

    if (!context_given) {
        context.node = context_make_from_spec(&s.cell, true, false, CONTEXT_FUNCTION);
        if (body) bind_block(&b.cell, context.node, false);
    }
    NodeRoot more(series_new_cells(MORE_CELLS), ROOT_BLOCK);
    cell_series_append_value(more.node, &b.cell);
    cell_series_append_value(more.node, &unset_cell);
    cell_series_append_value(more.node, &entry_cell);
    cell_series_append_value(more.node, &unset_cell);
    cell_series_append_value(more.node, &extra_cell);
    cell_init(out, T_FUNCTION);
    out->header |= flags & (FUNCTION_TRACE | FUNCTION_NO_TRACE);
    out->w1 = context.node;
    out->w2 = series_node(&s.cell);
    out->w3 = more.node;
    cell_copy(out, context_owner(context.node));
}

Cell* routine_make(const Cell* spec, const Cell* body, const Cell* entry, const Cell* extra,
                   bool cells) {
    Cell* out = stack_push_new(T_NONE);
    function_make_at(out, spec, body, 0, entry, extra, 0);
    uint32_t count = 0, n;
    const Cell* items = block_cells_at(spec, &n);
    for (uint32_t i = 0; i < n; i++)
        if (cell_type(&items[i]) == T_WORD) count++;
    out->header = (out->header & ~CELL_TYPE_MASK & ~(FUNCTION_TRACE | FUNCTION_NO_TRACE)) | T_ROUTINE |
                  (cells ? ROUTINE_CELLS : 0) | ((count & 0x1F) << ROUTINE_WORDS_SHIFT);
    cell_copy(out, context_owner(function_context(out)));
    return out;
}

// ---- spec checking ---------------------------------------------------------------------------

// The value of a bound word for the type-block check, or null.
static const Cell* spec_word_value(const Cell* word) {
    if (word_context(word) == 0 || word_index(word) == WORD_UNBOUND) return nullptr;
    const Cell* ctx = context_cell(word_context(word));
    if (context_values_of(ctx) == 0 || (ctx->header & CONTEXT_ON_STACK)) return nullptr;
    SeriesBuffer* values = series_buffer(context_values_of(ctx));
    if (word_index(word) >= values->length()) return nullptr;
    return block_cells(values) + word_index(word);
}

static void check_type_block(const Cell* types) {
    uint32_t n;
    const Cell* cells = block_cells_at(types, &n);
    for (uint32_t i = 0; i < n; i++) {
        Cell entry = cells[i];
        uint8_t t = cell_type(&entry);
        if (t == T_DATATYPE || t == T_TYPESET) continue;
        if (t != T_WORD) error_raise(ERR_INVALID_TYPE_SPEC, &entry);
        const Cell* value = spec_word_value(&entry);
        if (!value || cell_type(value) == T_UNSET) error_raise(ERR_NO_VALUE, &entry);
        uint8_t vt = cell_type(value);
        if (vt != T_DATATYPE && vt != T_TYPESET && vt != T_WORD)
            error_raise(ERR_INVALID_TYPE_SPEC, &entry);
    }
}

static bool param_type_q(uint8_t t) { return t == T_WORD || t == T_LIT_WORD || t == T_GET_WORD; }

uint32_t function_check_spec(const Cell* spec_in) {
    Cell spec = *spec_in;
    auto fail = [&spec]() { error_raise(ERR_BAD_FUNC_DEF, &spec); };
    uint32_t n;
    const Cell* cells = block_cells_at(&spec, &n);
    uint32_t flags = 0, i = 0;
    if (n > 0 && block_type_q(&cells[0])) {
        uint32_t m;
        const Cell* attributes = block_cells_at(&cells[0], &m);
        for (uint32_t k = 0; k < m; k++) {
            if (cell_type(&attributes[k]) != T_WORD) fail();
            if (symbol_is(&attributes[k], SYM_TRACE)) flags |= FUNCTION_TRACE;
            else if (symbol_is(&attributes[k], SYM_NO_TRACE)) flags |= FUNCTION_NO_TRACE;
        }
        i = 1;
    }
    bool local = false, return_seen = false;
    while (i < n) {
        const Cell* c = &cells[i];
        uint8_t t = cell_type(c);
        if (param_type_q(t)) {
            if (local && t != T_WORD) fail();
            if (return_seen && !local) fail();
            i++;
            if (i + 1 < n && cell_type(&cells[i]) == T_STRING && block_type_q(&cells[i + 1])) fail();
            if (i < n && block_type_q(&cells[i])) {
                check_type_block(&cells[i]);
                cells = block_cells_at(&spec, &n);  // errors aside, nothing moved
                i++;
            }
        } else if (t == T_STRING) {
            i++;
        } else if (t == T_SET_WORD) {
            if (!symbol_is(c, SYM_RETURN) || return_seen || local) fail();
            if (i + 1 >= n || !block_type_q(&cells[i + 1])) fail();
            if (i + 2 < n) {
                uint8_t after = cell_type(&cells[i + 2]);
                if (after != T_REFINEMENT && after != T_STRING) fail();
            }
            return_seen = true;
            i += 2;
        } else if (t == T_REFINEMENT) {
            if (is_local(c)) local = true;
            else if (local || return_seen) fail();
            i++;
            if (i < n) {
                uint8_t next = cell_type(&cells[i]);
                if (!param_type_q(next) && next != T_REFINEMENT && next != T_SET_WORD &&
                    next != T_STRING)
                    fail();
            }
        } else {
            fail();
        }
    }
    for (uint32_t a = 0; a < n; a++) {
        uint8_t t = cell_type(&cells[a]);
        if (!param_type_q(t) && t != T_REFINEMENT) continue;
        for (uint32_t b = a + 1; b < n; b++) {
            uint8_t u = cell_type(&cells[b]);
            if ((param_type_q(u) || u == T_REFINEMENT) && resolved(&cells[b]) == resolved(&cells[a])) {
                Cell later = cells[b];
                error_raise(ERR_DUP_VARS, &later);
            }
        }
    }
    return flags;
}

bool function_op_spec_q(const Cell* spec) {
    uint32_t n;
    const Cell* cells = block_cells_at(spec, &n);
    uint32_t words = 0, args = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint8_t t = cell_type(&cells[i]);
        if (t == T_WORD) { words++; args++; }
        else if (t == T_LIT_WORD || t == T_GET_WORD) {
            if (words == 0) return false;
            args++;
        } else if (t == T_SET_WORD) break;
        else if (t == T_REFINEMENT) {
            if (is_local(&cells[i]) || is_extern(&cells[i])) break;
            return false;
        }
    }
    return args == 2;
}

int32_t function_count_locals(Node spec, uint32_t start, bool need_local) {
    SeriesBuffer* b = series_buffer(spec);
    const Cell* cells = block_cells(b);
    uint32_t n = b->length();
    for (uint32_t i = start; i < n; i++) {
        if (!is_local(&cells[i])) continue;
        int32_t count = 1;
        for (uint32_t k = i + 1; k < n; k++) {
            uint8_t t = cell_type(&cells[k]);
            if (t == T_WORD) count++;
            else if (t == T_SET_WORD) break;
        }
        return count;
    }
    return need_local ? -1 : 0;
}

void function_parameter_word(const Cell* fn, uint32_t n, Cell* out) {
    uint32_t count;
    Cell spec;
    block_value_at(&spec, function_spec(fn));
    const Cell* cells = block_cells_at(&spec, &count);
    for (uint32_t i = 0, k = 0; i < count; i++) {
        if (!param_type_q(cell_type(&cells[i])) && cell_type(&cells[i]) != T_REFINEMENT) continue;
        if (k++ == n) {
            cell_copy(&cells[i], out);
            out->header = T_WORD;
            return;
        }
    }
    cell_init(out, T_NONE);
}

void push_unused_refinement(uint32_t n) {
    if (n == 0) return;
    // A logic! cell made with cell_init holds false (payload word 1 is 0).
    stack_push_new(T_LOGIC);
    for (uint32_t i = 1; i < n; i++) stack_push_new(T_NONE);
}

// ---- locals of `function` --------------------------------------------------------------------

// Whether a word of the symbol stands in the list (by resolved symbol).
static bool list_has(Node list, uint32_t symbol) {
    SeriesBuffer* b = series_buffer(list);
    const Cell* cells = block_cells(b);
    for (uint32_t i = 0, n = b->length(); i < n; i++)
        if (cell_type(&cells[i]) == T_WORD && symbol_resolve(word_symbol(&cells[i])) == symbol_resolve(symbol))
            return true;
    return false;
}

// Collects a word (as a word!) unless the exclusion list has it. The lists
// are the caller's roots: each append may collect and renumber their nodes.
static void collect_word(const Cell* word, const NodeRoot& exclusions, const NodeRoot& collected) {
    if (list_has(exclusions.node, word_symbol(word))) return;
    CellRoot w(*word);
    cell_type_set(&w.cell, T_WORD);
    cell_series_append_value(exclusions.node, &w.cell);
    cell_series_append_value(collected.node, &w.cell);
}

// A block met again inside itself is walked once; nesting deeper than the
// cycle stack allows raises internal error too-deep.
static void collect_in(Node series, uint32_t from, const NodeRoot& exclusions, const NodeRoot& collected) {
    native_stack_check();
    if (cycles_find(series)) return;
    CycleGuard guard(series);
    NodeRoot body(series, ROOT_BLOCK);
    for (uint32_t i = from;; i++) {
        SeriesBuffer* b = series_buffer(body.node);
        if (i >= b->length()) return;
        const Cell* cells = block_cells(b);
        Cell c = cells[i];
        bool has_next = i + 1 < b->length();
        Cell next;
        if (has_next) next = cells[i + 1];
        uint8_t t = cell_type(&c);
        if (t == T_SET_WORD) {
            collect_word(&c, exclusions, collected);
        } else if (t == T_BLOCK || t == T_PAREN) {
            collect_in(series_node(&c), uint32_t(series_index(&c)), exclusions, collected);
        } else if (t == T_WORD && has_next) {
            uint32_t s = symbol_resolve(word_symbol(&c));
            bool each = s == symbol_resolve(runtime_symbol(SYM_FOREACH)) ||
                        s == symbol_resolve(runtime_symbol(SYM_REMOVE_EACH));
            bool repeat = s == symbol_resolve(runtime_symbol(SYM_REPEAT));
            uint8_t nt = cell_type(&next);
            if ((each || repeat) && (nt == T_WORD || nt == T_SET_WORD)) {
                collect_word(&next, exclusions, collected);
                i++;
            } else if (each && nt == T_BLOCK) {
                NodeRoot words(series_node(&next), ROOT_BLOCK);
                for (uint32_t k = uint32_t(series_index(&next));; k++) {
                    SeriesBuffer* wb = series_buffer(words.node);
                    if (k >= wb->length()) break;
                    Cell w = block_cells(wb)[k];
                    uint8_t wt = cell_type(&w);
                    if (wt == T_WORD || wt == T_GET_WORD || wt == T_LIT_WORD)
                        collect_word(&w, exclusions, collected);
                }
                i++;
            }
        }
    }
}

void function_collect_locals(Cell* spec, const Cell* body) {
    CellRoot b(*body);
    // The exclusion list: its spec's names as words.
    NodeRoot exclusions(series_new_cells(8), ROOT_BLOCK);
    NodeRoot collected(series_new_cells(8), ROOT_BLOCK);
    int32_t extern_at = -1;
    uint32_t n;
    block_cells_at(spec, &n);
    for (uint32_t i = 0; i < n; i++) {
        Cell c = block_cells_at(spec, &n)[i];
        uint8_t t = cell_type(&c);
        if (is_extern(&c) && extern_at < 0) extern_at = int32_t(i);
        if (t == T_SET_WORD || t == T_LIT_WORD || t == T_GET_WORD || t == T_REFINEMENT) {
            cell_type_set(&c, T_WORD);
        }
        cell_series_append_value(exclusions.node, &c);
    }
    if (extern_at >= 0) {
        SeriesBuffer* eb = series_buffer(exclusions.node);
        const Cell* cells = block_cells(eb);
        for (uint32_t i = 0; i < eb->length(); i++) {
            uint8_t t = cell_type(&cells[i]);
            if (t != T_WORD && t != T_BLOCK && t != T_STRING) {
                Cell bad = cells[i];
                error_raise(ERR_BAD_FUNC_EXTERN, &bad);
            }
        }
        // Words after /extern stay excluded; those after a /local that follows
        // them become the first collected locals.
        uint32_t k = uint32_t(extern_at) + 1;
        const Cell* sc = block_cells_at(spec, &n);
        while (k < n && cell_type(&sc[k]) == T_WORD) k++;
        if (k < n && is_local(&sc[k])) {
            for (k++; k < n; k++) {
                Cell w = block_cells_at(spec, &n)[k];
                if (cell_type(&w) == T_WORD) cell_series_append_value(collected.node, &w);
            }
        }
        block_ks_tail_at(spec, uint32_t(series_index(spec)) + uint32_t(extern_at));
    }
    collect_in(series_node(&b.cell), uint32_t(series_index(&b.cell)), exclusions, collected);
    SeriesBuffer* cb = series_buffer(collected.node);
    if (cb->length() == 0) return;
    bool has_local = false;
    const Cell* sc = block_cells_at(spec, &n);
    for (uint32_t i = 0; i < n; i++)
        if (is_local(&sc[i])) has_local = true;
    if (!has_local) block_ks_append(spec, runtime_refinement(REF_LOCAL));
    uint32_t local_symbol = symbol_resolve(word_symbol(runtime_word(W_LOCAL)));
    for (uint32_t i = 0;; i++) {
        cb = series_buffer(collected.node);
        if (i >= cb->length()) break;
        Cell w = block_cells(cb)[i];
        if (symbol_resolve(word_symbol(&w)) == local_symbol) continue;
        block_ks_append(spec, &w);
    }
}

// ---- actions ---------------------------------------------------------------------------------

[[noreturn]] static void bad_make_arg(uint8_t type, const Cell* arg) {
    Cell a = *arg;
    error_raise_type(ERR_BAD_MAKE_ARG, type, &a);
}

const Cell* native_make(Cell* proto, const Cell* spec, uint8_t type) {
    if (cell_type(spec) != T_BLOCK) bad_make_arg(type, spec);
    uint32_t n;
    const Cell* cells = block_cells_at(spec, &n);
    uint32_t limit = type == T_ACTION ? ACTIONS_TABLE_SLOTS : 120;
    if (n != 2 || !block_type_q(&cells[0]) || cell_type(&cells[1]) != T_INTEGER ||
        cell_int(&cells[1]) < 1 || uint32_t(cell_int(&cells[1])) > limit)
        bad_make_arg(type, spec);
    Cell fn_spec = cells[0];
    uint32_t index = uint32_t(cell_int(&cells[1]));
    native_make_at(proto, &fn_spec, index, type, spec);
    return proto;
}

const Cell* op_make(Cell* proto, const Cell* spec, uint8_t) {
    uint8_t t = cell_type(spec);
    if (!callable_type_q(t)) {
        error_raise_type(ERR_INVALID_TYPE, t);
    }
    Cell source_spec;
    series_make_at(&source_spec, T_BLOCK, function_spec(spec), 0);
    if (!function_op_spec_q(&source_spec)) error_raise(ERR_BAD_OP_SPEC);
    Cell source = *spec;
    if (t == T_FUNCTION || t == T_ROUTINE) cell_copy(&source, function_more_cell(&source, MORE_OP));
    source.header = (source.header & ~(CELL_TYPE_MASK | (0xFFu << OP_SOURCE_SHIFT))) | T_OP |
                    (uint32_t(t) << OP_SOURCE_SHIFT);
    cell_copy(&source, proto);
    return proto;
}

const Cell* function_make(Cell* proto, const Cell* spec, uint8_t) {
    if (cell_type(spec) != T_BLOCK) error_raise(ERR_BAD_FUNC_DEF, spec);
    uint32_t n;
    const Cell* cells = block_cells_at(spec, &n);
    if (n < 2 || !block_type_q(&cells[0]) || !block_type_q(&cells[1])) {
        Cell a = *spec;
        error_raise(ERR_BAD_FUNC_DEF, &a);
    }
    CellRoot fn_spec(cells[0]), body(cells[1]);
    uint32_t flags = function_check_spec(&fn_spec.cell);
    function_make_at(proto, &fn_spec.cell, &body.cell, 0, nullptr, nullptr, flags);
    return proto;
}

void native_reflect(Cell* value, const Cell* field) {
    if (symbol_is(field, SYM_SPEC)) {
        block_value_at(value, function_spec(value));
        return;
    }
    if (symbol_is(field, SYM_BODY)) {
        uint8_t source = cell_type(value) == T_OP ? op_source_type(value) : cell_type(value);
        if (source == T_FUNCTION || source == T_ROUTINE) {
            cell_copy(function_more_cell(value, MORE_BODY), value);
            return;
        }
        uint32_t index = function_index(value);
        cell_init(value, T_INTEGER);
        cell_set_int(value, int32_t(index));
        return;
    }
    error_raise(ERR_NOT_DONE);
}

void function_reflect(Cell* value, const Cell* field) {
    if (symbol_is(field, SYM_SPEC)) {
        block_value_at(value, function_spec(value));
    } else if (symbol_is(field, SYM_BODY)) {
        cell_copy(function_more_cell(value, MORE_BODY), value);
    } else if (symbol_is(field, SYM_WORDS)) {
        NodeRoot context(function_context(value), ROOT_BLOCK);
        uint32_t count = context_word_count(context.node);
        NodeRoot words(series_new_cells(count ? count : 1), ROOT_BLOCK);
        for (uint32_t i = 0; i < count; i++) {
            Cell w = *context_word_at(context.node, i);
            cell_type_set(&w, T_WORD);
            cell_series_append_value(words.node, &w);
        }
        block_value_at(value, words.node);
    } else {
        error_raise(ERR_NOT_DONE);
    }
}

static const char* callable_text(uint8_t type) {
    switch (type) {
    case T_NATIVE: return "?native?";
    case T_ACTION: return "?action?";
    case T_OP: return "?op?";
    case T_FUNCTION: return "?function?";
    default: return "?routine?";
    }
}

static int32_t write_text(Cell* target, const char* text, int32_t budget) {
    uint32_t len = uint32_t(std::strlen(text));
    string_append_ascii(target, text, len);
    return budget - int32_t(len);
}

int32_t callable_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                      int32_t) {
    return write_text(target, callable_text(cell_type(value)), budget);
}

// Molds a block held by node with the caller's options (only: without brackets).
static int32_t mold_block_node(const Cell* block, Cell* target, bool only, bool all, bool flat,
                               bool part, int32_t budget, int32_t indent) {
    auto mold = action_slot_as<FormMoldFn>(cell_type(block), A_MOLD);
    if (!mold) return budget;
    return mold(block, target, only, all, flat, part, budget, indent);
}

int32_t callable_mold(const Cell* value_in, Cell* target, bool /*only*/, bool all, bool flat,
                      bool part, int32_t budget, int32_t indent) {
    CellRoot value(*value_in);
    Cell spec;
    block_value_at(&spec, function_spec(&value.cell));
    CellRoot spec_held(spec);
    uint8_t type = cell_type(&value.cell);
    uint8_t source = type == T_OP ? op_source_type(&value.cell) : type;
    auto body_mold = [&](int32_t b) {
        CellRoot body(*function_more_cell(&value.cell, MORE_BODY));
        if (cell_type(&body.cell) == T_BLOCK)
            return mold_block_node(&body.cell, target, false, all, flat, part, b, indent);
        b = write_text(target, " ", b);
        return mold_block_node(&body.cell, target, false, all, flat, part, b, indent);
    };
    if (type == T_NATIVE || type == T_ACTION) {
        budget = write_text(target, type == T_NATIVE ? "make native! [" : "make action! [", budget);
        budget = mold_block_node(&spec_held.cell, target, true, all, flat, part, budget, indent);
        return write_text(target, "]", budget);
    }
    if (type == T_OP) {
        budget = write_text(target, "make op! ", budget);
        if (source == T_FUNCTION) {
            budget = write_text(target, "func ", budget);
            budget = mold_block_node(&spec_held.cell, target, false, all, flat, part, budget, indent);
            return body_mold(budget);
        }
        budget = write_text(target, "[", budget);
        budget = mold_block_node(&spec_held.cell, target, true, all, flat, part, budget, indent);
        return write_text(target, "]", budget);
    }
    if (type == T_FUNCTION) {
        budget = write_text(target, "func ", budget);
        budget = mold_block_node(&spec_held.cell, target, false, all, flat, part, budget, indent);
        if (cell_type(function_more_cell(&value.cell, MORE_BODY)) != T_BLOCK)
            return write_text(target, " none", budget);
        return body_mold(budget);
    }
    budget = write_text(target, "routine ", budget);
    budget = mold_block_node(&spec_held.cell, target, false, all, flat, part, budget, indent);
    return body_mold(budget);
}

int32_t callable_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value1) != cell_type(value2)) return COMPARE_INCOMPARABLE;
    switch (op) {
    case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SORT: case CMP_SORT_CASE:
    case CMP_SAME: case CMP_FIND: break;
    default: return COMPARE_INCOMPARABLE;
    }
    uint8_t t = cell_type(value1);
    uint32_t a = t == T_FUNCTION || t == T_ROUTINE ? value1->w3 : value1->w1;
    uint32_t b = t == T_FUNCTION || t == T_ROUTINE ? value2->w3 : value2->w1;
    return a < b ? -1 : a > b ? 1 : 0;
}

// ---- registration ----------------------------------------------------------------------------

// The spec and more blocks; a function's or routine's context too (also when
// an op was made from one).
static void callable_mark(Cell* c) {
    uint8_t t = cell_type(c) == T_OP ? op_source_type(c) : cell_type(c);
    if ((t == T_FUNCTION || t == T_ROUTINE) && c->w1) collector_mark_context(&c->w1);
    if (c->w2) collector_mark_block(&c->w2);
    if (c->w3) collector_mark_block(&c->w3);
}

static void register_callable(uint8_t type, uint8_t parent, const char* name, ActionFn make,
                              ActionFn reflect) {
    const ActionRow actions[] = {
        {A_MAKE, make},
        {A_REFLECT, reflect},
        {A_FORM, callable_form},
        {A_MOLD, callable_mold},
        {A_COMPARE, callable_compare},
    };
    datatype_register(type, parent, name, actions);
    collector_register_marker(type, callable_mark);
}

void init_native() {
    register_callable(T_NATIVE, 0, "native!", action_fn(&native_make), action_fn(&native_reflect));
}
void init_action() {
    register_callable(T_ACTION, T_NATIVE, "action!", action_fn(&native_make), ACTION_INHERIT);
}
void init_op() {
    register_callable(T_OP, T_NATIVE, "op!", action_fn(&op_make), ACTION_INHERIT);
}
void init_function() {
    register_callable(T_FUNCTION, T_CONTEXT, "function!", action_fn(&function_make),
                      action_fn(&function_reflect));
}
void init_routine() {
    register_callable(T_ROUTINE, T_FUNCTION, "routine!", nullptr, ACTION_INHERIT);
}

} // namespace kel
