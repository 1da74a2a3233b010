// Function-making natives and the series loops foreach, forall and remove-each.
#include "natives/functions.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/exits.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/map.hpp"
#include "core/error_value.hpp"
#include "natives/native_steps.hpp"
#include "natives/natives.hpp"
#include "core/ownership.hpp"
#include "runtime/collector.hpp"
#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

namespace kel {

// Native indexes, for the argument checks of calls that were not checked.
enum FunctionNative : uint32_t {
    N_FOREACH = 11, N_FORALL = 12, N_REMOVE_EACH = 13, N_FUNC = 14, N_FUNCTION = 15, N_DOES = 16,
    N_HAS = 17,
};

static void check_args(bool check, uint32_t native, uint32_t count) {
    if (!check) return;
    for (uint32_t n = 0; n < count; n++) native_arg_check(native, n);
}

// ---- function makers -----------------------------------------------------------------------

// ARGS[0] spec and ARGS[1] body (both blocks on the stack) become a function!.
static ExitCode function_from_args() {
    Cell* args = data_stack.args;
    series_index_set(&args[0], series_index_clamped(&args[0]));
    series_index_set(&args[1], series_index_clamped(&args[1]));
    uint32_t flags = function_check_spec(&args[0]);
    Cell* out = stack_push_new(T_NONE);
    function_make_at(out, &args[0], &args[1], 0, nullptr, nullptr, flags);
    stack_set_last_reset(out);
    return EXIT_CODE_NONE;
}

ExitCode native_func(bool check, const int32_t*) {
    check_args(check, N_FUNC, 2);
    return function_from_args();
}

ExitCode native_function(bool check, const int32_t*) {
    check_args(check, N_FUNCTION, 2);
    Cell* args = data_stack.args;
    Cell* spec = block_clone(&args[0], false, false);
    function_collect_locals(spec, &args[1]);
    cell_copy(spec, &args[0]);
    return function_from_args();
}

ExitCode native_does(bool check, const int32_t*) {
    check_args(check, N_DOES, 1);
    Cell* args = data_stack.args;
    data_stack.top = args + 1;
    stack_push(&args[0]);
    block_make_at(&args[0], 0);
    return function_from_args();
}

ExitCode native_has(bool check, const int32_t*) {
    check_args(check, N_HAS, 2);
    Cell* args = data_stack.args;
    Cell* spec = block_clone(&args[0], false, false);
    block_insert_cell(spec, runtime_refinement(REF_LOCAL), true, false);
    cell_copy(spec, &args[0]);
    return function_from_args();
}

// ---- step operations -------------------------------------------------------------------------

static Cell* loop_cursor() { return data_stack.args - 2; }
static Cell* loop_words() { return data_stack.args - 1; }

static bool any_word_q(uint8_t type) {
    return type == T_WORD || type == T_SET_WORD || type == T_LIT_WORD || type == T_GET_WORD;
}

// Series whose elements are not value cells: each element is read as pick
// reads it (an image's as a tuple).
static bool element_series_q(uint8_t type) {
    return string_family_q(type) || type == T_BINARY || type == T_VECTOR || type == T_IMAGE;
}

bool foreach_next() {
    Cell* cursor = loop_cursor();
    if (series_tail_q(cursor)) return false;
    uint32_t index = series_index_clamped(cursor);
    Cell* value = stack_push_new(T_NONE);
    series_element_value(cursor, index, value);
    word_set(loop_words(), value);
    stack_pop(1);
    series_index_set(cursor, index + 1);
    return true;
}

// Sets each of the n words to successive elements from the cursor, none past
// the tail (string-like series, binary!, vector!).
static void set_words_from_elements(const Cell* cursor, const Cell* words, uint32_t n) {
    uint32_t index = series_index_clamped(cursor);
    uint32_t length = series_buffer_length(cursor);
    uint32_t first = series_index_clamped(words);
    for (uint32_t i = 0; i < n; i++) {
        Cell* word = stack_push(block_ks_abs_at(words, first + i));
        if (!any_word_q(cell_type(word))) error_raise(ERR_INVALID_ARG, word);
        Cell* value = stack_push_new(T_NONE);
        if (index + i < length) series_element_value(cursor, index + i, value);
        word_set(word, value);
        stack_pop(2);
    }
}

bool foreach_next_block(uint32_t n) {
    Cell* cursor = loop_cursor();
    if (n == 0 || series_tail_q(cursor)) return false;
    uint32_t index = series_index_clamped(cursor);
    uint8_t type = cell_type(cursor);
    if (type == T_MAP) {
        // The map step moves the cursor itself, past any removed pairs.
        if (n != 2) error_raise(ERR_INVALID_ARG, loop_words());
        return map_foreach_next(loop_words(), cursor, n);
    }
    if (element_series_q(type)) set_words_from_elements(cursor, loop_words(), n);
    else set_words(loop_words(), cursor, n, false, false, false);
    series_index_set(loop_cursor(), index + n);
    return true;
}

void remove_each_next(uint32_t n) {
    if (logic_false(data_stack.args)) return;
    Cell* cursor = loop_cursor();
    int32_t at = series_index(cursor) - int32_t(n);
    series_index_set(cursor, at < 0 ? 0 : at);
    Cell* target = stack_push(cursor);
    Cell* part = stack_push_new(T_INTEGER);
    integer_make_at(part, int32_t(n));
    auto remove = action_lookup_as<RemoveFn>(cell_type(target), A_REMOVE);
    remove(target, part, nullptr);
    stack_pop(2);
}

// remove-each on a series whose removal is the plain one (no hash! index, no
// owner to tell, not an image) removes nothing while the loop runs: it notes
// the runs to remove and takes them out in one pass when the loop ends however
// it ends, so the loop costs in proportion to the series, not to the removals
// times the series. A body that changes the series' length ends the waiting:
// the noted runs go at once and later removals are made in place.
struct DeferredRemoval {
    CellRoot series;
    uint32_t length;
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    bool active = true;

    explicit DeferredRemoval(const Cell* data)
        : series(*data), length(series_buffer_length(data)) {}
    ~DeferredRemoval() { flush(); }
    DeferredRemoval(const DeferredRemoval&) = delete;
    DeferredRemoval& operator=(const DeferredRemoval&) = delete;

    static bool possible_q(const Cell* data) {
        uint8_t type = cell_type(data);
        return type != T_HASH && type != T_IMAGE && !ownership_possible_q(data) &&
               action_lookup_as<RemoveFn>(type, A_REMOVE) == series_remove;
    }
    // The n items before the cursor are to go.
    void note(const Cell* cursor, uint32_t n) {
        int32_t at = series_index(cursor) - int32_t(n);
        uint32_t from = at < 0 ? 0 : uint32_t(at);
        if (from >= length) return;
        uint32_t count = std::min(n, length - from);
        if (!runs.empty() && runs.back().first + runs.back().second == from) runs.back().second += count;
        else runs.emplace_back(from, count);
    }
    // Removes the noted runs; the cursor, when given, keeps its place among
    // the items that stay.
    void flush(Cell* cursor = nullptr) {
        if (!active) return;
        active = false;
        uint32_t removed = 0;
        for (auto& run : runs) removed += run.second;
        series_remove_runs(&series.cell, runs);
        if (cursor) series_index_set(cursor, std::max<int32_t>(series_index(cursor) - int32_t(removed), 0));
    }
    // After a body: a changed length stops the waiting.
    void check(Cell* cursor) {
        if (active && series_buffer_length(&series.cell) != length) flush(cursor);
    }
};

bool forall_next_q() {
    const Cell* start = loop_cursor();
    Cell* value = word_get(loop_words());
    if (!series_cell_q(cell_type(value)) || series_node(value) != series_node(start)) {
        Cell* bad = stack_push(value);
        error_raise(ERR_BAD_LOOP_SERIES, bad);
    }
    series_index_set(value, series_index_clamped(value) + 1);
    return !series_tail_q(value);
}

void forall_end() { word_set(loop_words(), loop_cursor()); }

// ---- series loops --------------------------------------------------------------------------------

enum class LoopKind { FOREACH, REMOVE_EACH, FORALL };

// Runs the body once per step in the loop frame just marked (its ARGS[0]
// holding unset), then unwinds the frame with its result in the native's
// ARGS[0]. break ends the loop, continue skips the rest of an iteration and
// any other exit leaves at once, stacks untouched, for the caller to hand on.
static ExitCode series_loop(const Cell* body, LoopKind kind, bool words_block, uint32_t n,
                            DeferredRemoval* deferred = nullptr) {
    bool more;
    if (kind == LoopKind::FORALL) more = !series_tail_q(loop_cursor());
    else more = words_block ? foreach_next_block(n) : foreach_next();
    while (more) {
        stack_keep();
        ExitCode x = native_eval_block(body);
        if (deferred) deferred->check(loop_cursor());
        if (x == EXIT_CODE_BREAK) {
            exit_clear();
            break;
        }
        if (x == EXIT_CODE_CONTINUE) exit_clear();
        else if (x != EXIT_CODE_NONE) return x;
        else if (kind == LoopKind::REMOVE_EACH) {
            if (deferred && deferred->active) {
                if (!logic_false(data_stack.args)) deferred->note(loop_cursor(), n);
            } else {
                remove_each_next(n);
            }
        }
        if (kind == LoopKind::FORALL) more = forall_next_q();
        else more = words_block ? foreach_next_block(n) : foreach_next();
    }
    if (kind == LoopKind::FORALL) forall_end();
    stack_unwind_last();
    stack_keep();
    return EXIT_CODE_NONE;
}

// The word count of a foreach or remove-each word argument (1 for a word);
// an empty block raises invalid-arg.
static uint32_t loop_word_count(const Cell* words) {
    if (cell_type(words) != T_BLOCK) return 1;
    int32_t n = block_ks_length_q(words);
    if (n <= 0) error_raise(ERR_INVALID_ARG, words);
    return uint32_t(n);
}

ExitCode native_foreach(bool check, const int32_t*) {
    check_args(check, N_FOREACH, 3);
    Cell* args = data_stack.args;
    bool words_block = cell_type(&args[0]) == T_BLOCK;
    uint32_t n = loop_word_count(&args[0]);
    if (!words_block && cell_type(&args[1]) == T_MAP) error_raise(ERR_INVALID_ARG, &args[0]);
    data_stack.top = args + 3;
    stack_push(&args[1]);
    stack_push(&args[0]);
    stack_mark_loop(nullptr);
    unset_push();
    return series_loop(&args[2], LoopKind::FOREACH, words_block, n);
}

ExitCode native_remove_each(bool check, const int32_t*) {
    check_args(check, N_REMOVE_EACH, 3);
    Cell* args = data_stack.args;
    bool words_block = cell_type(&args[0]) == T_BLOCK;
    uint32_t n = loop_word_count(&args[0]);
    data_stack.top = args + 3;
    integer_make_at(stack_push_new(T_INTEGER), int32_t(n));
    stack_push(&args[1]);
    stack_push(&args[0]);
    stack_mark_loop(nullptr);
    unset_push();
    std::optional<DeferredRemoval> deferred;
    if (DeferredRemoval::possible_q(&args[1])) deferred.emplace(&args[1]);
    ExitCode x = series_loop(&args[2], LoopKind::REMOVE_EACH, words_block, n, deferred ? &*deferred : nullptr);
    deferred.reset();
    if (x != EXIT_CODE_NONE) return x;
    stack_set_last_reset(&args[1]);
    return EXIT_CODE_NONE;
}

// Series forall walks: lists, paths, strings, binary!, vector! and image!.
static bool forall_series_q(uint8_t type) {
    return block_family_q(type) || element_series_q(type);
}

ExitCode native_forall(bool check, const int32_t*) {
    check_args(check, N_FORALL, 2);
    Cell* args = data_stack.args;
    data_stack.top = args + 2;
    Cell* start = stack_push(word_get(&args[0]));
    if (cell_type(start) == T_UNSET) error_raise(ERR_NO_VALUE, &args[0]);
    if (!forall_series_q(cell_type(start))) {
        uint8_t type = cell_type(start);
        Cell* name = stack_push_new(T_NONE);
        stack_frame_word(stack_top_frame(), name);
        Cell* parameter = stack_push_new(T_NONE);
        error_call_argument(1, parameter);
        error_raise_type(ERR_EXPECT_ARG, name, type, parameter);
    }
    stack_push(&args[0]);
    stack_mark_loop(nullptr);
    unset_push();
    return series_loop(&args[1], LoopKind::FORALL, false, 0);
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {11, "foreach", "['word [word! block!] series [series! map!] body [block!]]", native_foreach},
    {12, "forall", "['word [word!] body [block!]]", native_forall},
    {13, "remove-each", "['word [word! block!] data [series!] body [block!]]", native_remove_each},
    {14, "func", "[spec [block!] body [block!]]", native_func},
    {15, "function", "[spec [block!] body [block!] /extern]", native_function},
    {16, "does", "[body [block!]]", native_does},
    {17, "has", "[vars [block!] body [block!]]", native_has},
};
const NativeTable FUNCTIONS_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
