// Block evaluation and word natives: reduce, compose, get, set, stats, bind
// and in, with set-words, which assigns values to a block of words.
#include "natives/natives.hpp"
#include "natives/native_steps.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/function.hpp"
#include "core/library_context.hpp"
#include "core/logic.hpp"
#include "core/object.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/map.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory_stats.hpp"
#include <cstring>
#include <iterator>

namespace kel {

static inline Cell* arg(int i) { return data_stack.args + i; }

// ---- targets of reduce and compose ------------------------------------------------------------
// A target is a block value on the data stack. Append mode adds at its tail,
// insert mode at its position, which then moves past what was added.

static void target_add(Cell* target, const Cell* value, bool append) {
    if (!append) {
        block_insert_cell(target, value, false, true);
        return;
    }
    uint32_t at = series_buffer_of(target)->length();
    block_ks_append(target, value);
    hash_index_enter(target, at, 1);
}

// Adds the values of a block (from its position) one by one.
static void target_splice(Cell* target, const Cell* source, bool append) {
    if (!append) {
        block_insert_block(target, source);
        return;
    }
    uint32_t at = series_buffer_of(target)->length();
    block_copy_cells(target, source);
    hash_index_enter(target, at, series_buffer_of(target)->length() - at);
}

// Pushes the target: a copy of out, or a new block with room for the
// source's values from its position. Answers append mode.
static bool target_push(const Cell* source, const Cell* out, Cell** target) {
    if (out) {
        *target = stack_push(out);
        return series_tail_q(*target);
    }
    int32_t room = source ? block_ks_length_q(source) : 1;
    *target = stack_push_new(T_NONE);
    block_make_at(*target, room > 0 ? room : 1);
    return true;
}

// ---- reduce -------------------------------------------------------------------------------------

// Values reduce gathers on the data stack before it makes its block.
constexpr uint32_t REDUCE_RUN = 256;

// Moves the count values above target into it; the first run makes the block,
// at its exact size when it is the last run (else at room cells).
static void reduce_flush(Cell* target, uint32_t count, int32_t room) {
    if (cell_type(target) == T_NONE) block_make_at(target, count < REDUCE_RUN ? int32_t(count) : room);
    SeriesBuffer* b = series_buffer_of(target);
    if (b->tail + size_t(count) * sizeof(Cell) <= b->size) {
        // Room for them all: copied at once, nothing allocating meanwhile.
        std::memcpy(block_tail_cells(b), target + 1, size_t(count) * sizeof(Cell));
        b->tail += count * uint32_t(sizeof(Cell));
    } else {
        for (uint32_t i = 1; i <= count; i++) block_ks_append(target, target + i);
    }
    data_stack.top = target + 1;
}

// reduce without /into: the values gather on the data stack and the block is
// made when the walk ends, so a short result takes no room for the words and
// operators of its source. A long one moves into the block in runs of
// REDUCE_RUN values, keeping the stack's use bounded.
static ExitCode reduce_new(CodeWalk& walk) {
    int32_t room = block_ks_length_q(walk.code);
    Cell* target = stack_push_new(T_NONE);
    uint32_t pending = 0;
    while (!walk.ended()) {
        Cell* value;
        ExitCode x = walk.next(&value);
        if (x != EXIT_CODE_NONE) return x;
        cell_clear_newline(value);
        if (++pending == REDUCE_RUN) {
            reduce_flush(target, pending, room);
            pending = 0;
        }
    }
    if (pending || cell_type(target) == T_NONE) reduce_flush(target, pending, room);
    stack_unwind_last();
    return EXIT_CODE_NONE;
}

ExitCode native_reduce(bool check, const int32_t* refinements) {
    const int32_t into = refinements[0];
    if (check && into >= 0) native_arg_check(35, uint32_t(into));
    const Cell* out = into >= 0 ? arg(into) : nullptr;
    if (cell_type(arg(0)) != T_BLOCK) {
        ExitCode x = EXIT_CODE_NONE;
        if (!callable_type_q(cell_type(arg(0))) && cell_type(arg(0)) != T_OP) {
            CellRoot value(*arg(0));
            x = eval_lone_value(&value.cell);
        }
        if (x != EXIT_CODE_NONE || !out) return x;
        CellRoot value(*arg(0));
        Cell* target;
        bool append = target_push(nullptr, out, &target);
        uint32_t start = uint32_t(series_index(target));
        target_add(target, &value.cell, append);
        if (append) {
            series_notify(target, word_symbol(runtime_word(W_INSERT)), 0, 1);
            series_index_set(target, start);
        }
        stack_set_last_reset(target);
        return EXIT_CODE_NONE;
    }
    CodeWalk walk(arg(0));
    stack_mark_native_interp(nullptr);
    if (!out) return reduce_new(walk);
    Cell* target;
    bool append = target_push(walk.code, out, &target);
    uint32_t start = uint32_t(series_index(target));
    int32_t added = 0;
    while (!walk.ended()) {
        Cell* value;
        ExitCode x = walk.next(&value);
        if (x != EXIT_CODE_NONE) return x;
        cell_clear_newline(value);
        target_add(target, value, append);
        walk.drop(value);
        added++;
    }
    if (append) {
        if (out) series_notify(target, word_symbol(runtime_word(W_INSERT)), 0, added);
        series_index_set(target, start);
    }
    stack_unwind_last();
    return EXIT_CODE_NONE;
}

// ---- compose ------------------------------------------------------------------------------------

// Composes the block (on the data stack) into the target pushed for it (out
// at the root with /into, else a new block); the target is left pushed.
static ExitCode compose_block(const Cell* block, bool deep, bool only, const Cell* out) {
    Cell* target;
    bool append = target_push(block, out, &target);
    uint32_t start = uint32_t(series_index(target));
    for (uint32_t i = uint32_t(series_index(block));; i++) {
        SeriesBuffer* b = series_buffer_of(block);
        if (i >= b->length()) break;
        Cell value = block_cells(b)[i];
        uint8_t type = cell_type(&value);
        if (type == T_PAREN) {
            if (block_ks_length_q(&value) <= 0) continue;
            Cell* result = data_stack.top;
            ExitCode x;
            try {
                x = eval_block(&value, false);
            } catch (const ExitSignal& signal) {
                return signal.code;
            }
            if (x != EXIT_CODE_NONE) return x;
            if (cell_type(result) == T_BLOCK && !only) target_splice(target, result, append);
            else if (cell_type(result) != T_UNSET) target_add(target, result, append);
            data_stack.top = result;
        } else if (type == T_BLOCK && deep) {
            Cell* nested = stack_push(&value);
            ExitCode x = compose_block(nested, deep, only, nullptr);
            if (x != EXIT_CODE_NONE) return x;
            target_add(target, nested + 1, append);
            data_stack.top = nested;
        } else {
            target_add(target, &value, append);
        }
    }
    if (append) series_index_set(target, start);
    data_stack.top = target + 1;
    return EXIT_CODE_NONE;
}

ExitCode native_compose(bool check, const int32_t* refinements) {
    const int32_t into = refinements[2];
    if (check && into >= 0) native_arg_check(36, uint32_t(into));
    if (cell_type(arg(0)) != T_BLOCK) {
        error_raise_type(ERR_EXPECT_VAL, T_BLOCK, cell_type(arg(0)));
    }
    Cell* block = arg(0);
    Cell* target = data_stack.top;
    ExitCode x = compose_block(block, refinements[0] != -1, refinements[1] != -1,
                               into >= 0 ? arg(into) : nullptr);
    if (x != EXIT_CODE_NONE) return x;
    stack_set_last_reset(target);
    return EXIT_CODE_NONE;
}

// ---- get and set --------------------------------------------------------------------------------

static bool path_type_q(uint8_t type) {
    return type == T_PATH || type == T_LIT_PATH || type == T_SET_PATH || type == T_GET_PATH;
}

ExitCode native_get(bool check, const int32_t* refinements) {
    if (check) native_arg_check(21, 0);
    bool any = refinements[0] != -1, case_ = refinements[1] != -1;
    uint8_t type = cell_type(arg(0));
    if (path_type_q(type)) {
        CellRoot path(*arg(0));
        ExitCode x = path_eval_for_native(&path.cell, false, case_);
        if (x != EXIT_CODE_NONE) return x;
        stack_keep();
        return EXIT_CODE_NONE;
    }
    if (type == T_OBJECT) {
        Cell field = word_intern_symbol(runtime_symbol(SYM_VALUES));
        action_lookup_as<ReflectFn>(T_OBJECT, A_REFLECT)(arg(0), &field);
        stack_keep();
        return EXIT_CODE_NONE;
    }
    const Cell* value = interp_word_slot(arg(0));
    if (!any && cell_type(value) == T_UNSET) error_raise(ERR_NO_VALUE, arg(0));
    stack_set_last_reset(value);
    return EXIT_CODE_NONE;
}

static bool word_kind_q(uint8_t type) {
    return type == T_WORD || type == T_SET_WORD || type == T_GET_WORD || type == T_LIT_WORD;
}

// Sets a word of any kind (copied, so it may lie in a series buffer).
static void word_assign(const Cell* word, const Cell* value) {
    CellRoot target(*word);
    CellRoot held(*value);
    word_set(&target.cell, &held.cell);
}

// The value for the i-th word (from 0) from a series of values: the block
// types by their cells, a map! by its keys and values in order from its
// position; none past the tail.
static void set_words_value(const Cell* values, uint32_t i, Cell* out) {
    if (cell_type(values) == T_MAP) {
        map_cell_at(values, i, out);
        return;
    }
    SeriesBuffer* b = series_buffer_of(values);
    uint32_t at = uint32_t(series_index(values)) + i;
    if (at < b->length()) cell_copy(block_cells(b) + at, out);
    else cell_init(out, T_NONE);
}

void set_words(const Cell* words, const Cell* values, uint32_t n, bool any, bool only, bool some) {
    uint8_t vtype = cell_type(values);
    bool series = !only && (block_family_q(vtype) || vtype == T_MAP);
    auto element = [&](uint32_t i) {
        return *block_ks_abs_at(words, uint32_t(series_index(words)) + i);
    };
    if (series) {
        for (uint32_t i = 0; i < n; i++) {
            Cell word = element(i);
            if (!word_kind_q(cell_type(&word))) error_raise(ERR_INVALID_ARG, &word);
            if (any) continue;
            Cell value;
            set_words_value(values, i, &value);
            if (cell_type(&value) == T_UNSET) error_raise(ERR_NEED_VALUE, &word);
        }
    }
    for (uint32_t i = 0; i < n; i++) {
        CellRoot value;
        if (series) set_words_value(values, i, &value.cell);
        else value.cell = *values;
        if (some && cell_type(&value.cell) == T_NONE) continue;
        Cell word = element(i);
        if (!word_kind_q(cell_type(&word))) error_raise(ERR_INVALID_ARG, &word);
        word_assign(&word, &value.cell);
    }
}

ExitCode native_set(bool check, const int32_t* refinements) {
    if (check) native_arg_check(22, 0);
    bool any = refinements[0] != -1, case_ = refinements[1] != -1;
    bool only = refinements[2] != -1, some = refinements[3] != -1;
    Cell* target = arg(0);
    Cell* value = arg(1);
    if (!any && cell_type(value) == T_UNSET) error_raise(ERR_NEED_VALUE, target);
    uint8_t type = cell_type(target);
    if (path_type_q(type)) {
        CellRoot path(*target);
        cell_copy(value, arg(0));
        ExitCode x = path_eval_for_native(&path.cell, true, case_);
        if (x != EXIT_CODE_NONE) return x;
        stack_keep();
        return EXIT_CODE_NONE;
    }
    if (type == T_OBJECT) {
        object_set_values(target, value, ObjectSetOptions{any, only, some});
    } else if (type == T_BLOCK) {
        stack_mark_native_interp(runtime_word(W_LABEL_ANON));
        int32_t n = block_ks_length_q(target);
        set_words(target, value, n > 0 ? uint32_t(n) : 0, any, only, some);
        stack_unwind_none();
    } else {
        word_assign(target, value);
    }
    stack_set_last_reset(value);
    return EXIT_CODE_NONE;
}

// ---- stats --------------------------------------------------------------------------------------

// The detailed statistics block, pushed.
static Cell* stats_block_push() {
    Cell* block = stack_push_new(T_NONE);
    block_make_at(block, 5);
    memory_stats(series_node(block), 2);
    return block;
}

ExitCode native_stats(bool, const int32_t* refinements) {
    if (refinements[0] != -1) {
        // The library's show-memory-stats prints the block.
        Cell* code = stack_push_new(T_NONE);
        block_make_at(code, 2);
        Cell show = library_word("show-memory-stats");
        block_ks_append(code, &show);
        Cell* info = stats_block_push();
        block_ks_append(code, info);
        data_stack.top = info;
        ExitCode x = native_eval_block(code);
        if (x != EXIT_CODE_NONE) return x;
        stack_box_new(T_UNSET);
        return EXIT_CODE_NONE;
    }
    if (refinements[1] != -1) {
        stack_set_last_reset(stats_block_push());
        return EXIT_CODE_NONE;
    }
    uint64_t total = memory_stats(0, 1);
    if (total > 2147483647u) float_box(double(total));
    else integer_box(int32_t(total));
    return EXIT_CODE_NONE;
}

// ---- bind and in --------------------------------------------------------------------------------

// The context of a native's, action's or op's arguments: made from its spec
// (values on the data stack, so its words have no value outside a call),
// owned by the value itself.
static Node native_args_context(const Cell* native) {
    CellRoot owner(*native);
    CellRoot spec;
    cell_init(&spec.cell, T_BLOCK);
    series_node_set(&spec.cell, function_spec(native));
    Node context = context_make_from_spec(&spec.cell, true, false, CONTEXT_FUNCTION);
    cell_copy(&owner.cell, context_owner(context));
    return context;
}

// The context a bind target names: a word's binding, an object's context or a
// function's local context (an op made from a function or routine holds its
// context); 0 when it has none.
static Node bind_context_of(const Cell* value) {
    switch (cell_type(value)) {
    case T_FUNCTION: case T_ROUTINE: return function_context(value);
    case T_NATIVE: case T_ACTION: return native_args_context(value);
    case T_OP: {
        uint8_t source = op_source_type(value);
        return source == T_FUNCTION || source == T_ROUTINE ? function_context(value)
                                                          : native_args_context(value);
    }
    default:  // words, objects, errors, ports
        return word_type_q(cell_type(value)) ? word_context(value) : object_context(value);
    }
}

ExitCode native_bind(bool check, const int32_t* refinements) {
    if (check) {
        native_arg_check(38, 0);
        native_arg_check(38, 1);
    }
    Node context = bind_context_of(arg(1));
    if (context == 0) {
        stack_keep();
        return EXIT_CODE_NONE;
    }
    NodeRoot held(context, ROOT_BLOCK);
    if (cell_type(arg(0)) == T_BLOCK) {
        bool self = cell_type(arg(1)) == T_OBJECT;
        if (refinements[0] != -1) {
            Cell* copy = block_clone(arg(0), true, true);
            stack_set_last_reset(copy);
        }
        bind_block(arg(0), held.node, self);
    } else {
        bind_word(held.node, arg(0));
    }
    stack_keep();
    return EXIT_CODE_NONE;
}

ExitCode native_in(bool check, const int32_t*) {
    if (check) {
        native_arg_check(39, 0);
        native_arg_check(39, 1);
    }
    NodeRoot context(bind_context_of(arg(0)), ROOT_BLOCK);
    if (context.node == 0 || bind_word(context.node, arg(1)) < 0) {
        stack_box_new(T_NONE);
        return EXIT_CODE_NONE;
    }
    if (cell_type(arg(1)) == T_REFINEMENT) arg(1)->header = T_WORD;
    stack_set_last_reset(arg(1));
    return EXIT_CODE_NONE;
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {21, "get",
     "[\"Returns the value a word refers to\" word [any-word! any-path! object!] /any /case]",
     native_get},
    {22, "set",
     "[\"Sets the value(s) one or more words refer to\" word [any-word! block! object! any-path!]\n"
     "    value [any-type!] /any /case /only /some]",
     native_set},
    {35, "reduce",
     "[\"Returns a copy of a block, evaluating all expressions\" value [any-type!] /into out\n"
     "    [any-block!]]",
     native_reduce},
    {36, "compose",
     "[\"Returns a copy of a block, evaluating only parens\" value [block!] /deep /only /into\n"
     "    out [any-block!]]",
     native_compose},
    {37, "stats", "[\"Returns interpreter statistics\" /show /info]", native_stats},
    {38, "bind",
     "[\"Bind words to a context; returns rebound words\" word [block! any-word!] context\n"
     "    [any-word! any-object! function!] /copy]",
     native_bind},
    {39, "in",
     "[\"Returns the given word bound to the object's context\" object [any-object! any-function!]\n"
     "    word [any-word! refinement!]]",
     native_in},
};
const NativeTable WORDS_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
