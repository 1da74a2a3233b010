// Path evaluation: a path selects into values step by step through the path
// selection of each value's datatype; a function met at the head, or as the
// value of a step (an object's method), is called with the elements after it
// as refinements and its arguments taken from the code after the path.
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/trace.hpp"

namespace kel {

static inline const Cell* path_element(const Cell* path, uint32_t k) {
    return block_cells(series_node(path)) + k;
}
static inline uint32_t path_length(const Cell* path) { return series_buffer_of(path)->length(); }

static void trace_path(uint32_t event, const Cell* path, uint32_t k, const Cell* value) {
    trace_fire_event(event, path, int32_t(k), nullptr, value);
}

// Values of these types live in their cell: a path that sets one of their
// fields changes a copy, which must go back where the value was read from.
static bool value_held_by_copy_q(uint8_t type) {
    switch (type) {
    case T_BLOCK: case T_PAREN: case T_HASH: case T_PATH: case T_LIT_PATH: case T_SET_PATH:
    case T_GET_PATH: case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL:
    case T_REF: case T_BINARY: case T_VECTOR: case T_IMAGE: case T_BITSET: case T_MAP:
    case T_OBJECT: case T_ERROR: case T_PORT:
        return false;
    default:
        return true;
    }
}

// After a set-path's last step changed the value before it in place: while
// that value is held by copy, store it into its own parent (the step before),
// and at the head into the head word. Storing goes through the parent's own
// path setter, which is what tells the owner of the changed value: an object
// runs its on-change* once with the old and the new value, an owned block-like
// series its owner's on-deep-change*. A path of two elements changes the head
// word's value without telling anyone.
static void path_write_back(const Cell* path, const Cell* word, Cell* start, uint32_t steps,
                            uint32_t head, bool case_) {
    if (steps == 0) return;
    for (uint32_t i = steps - 1;; i--) {
        Cell* value = start + 2 * i;
        if (!value_held_by_copy_q(cell_type(value))) return;
        if (i == 0) {
            cell_copy(value, interp_word_slot(word));
            return;
        }
        Cell* scratch = stack_push_new(T_NONE);
        dispatch_eval_path(start + 2 * (i - 1), start + 2 * i - 1, value, path, head + i, case_,
                           scratch);
    }
}

ExitCode interp_eval_path(const Cell* path, EvalCursor& cursor, PathOptions options) {
    bool set = options.set, get = options.get, push = options.push, case_ = options.case_;
    Cell* start = data_stack.top;
    uint32_t length = path_length(path);
    uint32_t head = uint32_t(series_index(path));
    if (head >= length) error_raise(ERR_EMPTY_PATH, path);
    if (trace_state.tracing) {
        trace_path(TRACE_ENTER, path, head, nullptr);
        Cell first = *path_element(path, head);
        trace_path(TRACE_FETCH, path, head, &first);
    }
    Cell word = *path_element(path, head);
    if (cell_type(&word) != T_WORD) error_raise(ERR_WORD_FIRST, path);
    Cell* value = interp_word_slot(&word);
    uint8_t t = cell_type(value);
    if (callable_type_q(t)) {
        if (set) error_raise(ERR_INVALID_PATH_SET, path);
        if (get) error_raise(ERR_INVALID_PATH_GET, path);
        ExitCode x = eval_code(value, cursor, {path, head + 1}, &word, nullptr, push ? CALL_PUSH : 0u);
        if (x != EXIT_CODE_NONE) return x;
        if (trace_state.tracing) trace_path(TRACE_EXIT, path, head, push ? data_stack.top - 1 : data_stack.args);
        return EXIT_CODE_NONE;
    }
    if (t == T_UNSET) error_raise(ERR_UNSET_PATH, path, &word);
    // The values met and the elements used stay on the data stack, value 0 at
    // start and step i's element and value at start + 2i - 1 and start + 2i,
    // so a set can write a changed copy back where it came from.
    Cell* current = stack_push(value);
    // The common object/field, read or written, needs no steps kept.
    if (t == T_OBJECT && length == head + 2 && !trace_state.tracing) {
        const Cell* element = path_element(path, head + 1);
        if (cell_type(element) == T_WORD &&
            (set ? object_path_step(current, element, data_stack.args)
                 : object_path_get(current, element))) {
            if (set || get || !callable_type_q(cell_type(current))) {
                if (!push) stack_set_last_reset(start);
                return EXIT_CODE_NONE;
            }
            // A method named by the path's last element: called as the steps
            // below would call it, without looking the field up again.
            Cell name = *element;
            ExitCode x = eval_code(current, cursor, {path, head + 2}, &name, nullptr, CALL_PUSH);
            if (x != EXIT_CODE_NONE) return x;
            cell_copy(data_stack.top - 1, start);
            data_stack.top = start + 1;
            if (trace_state.tracing) trace_path(TRACE_EXIT, path, path_length(path), start);
            if (!push) stack_set_last_reset(start);
            return EXIT_CODE_NONE;
        }
    }
    if (trace_state.tracing) trace_path(TRACE_PUSH, path, head, current);

    uint32_t steps = 0;
    for (uint32_t k = head + 1; k < path_length(path); k++) {
        Cell* element = stack_push(path_element(path, k));
        if (trace_state.tracing) trace_path(TRACE_FETCH, path, k, element);
        if (cell_type(element) == T_GET_WORD) {
            cell_copy(interp_word_slot(element), element);
        } else if (cell_type(element) == T_PAREN) {
            ExitCode x = eval_block(element, false);
            if (x != EXIT_CODE_NONE) return x;
            cell_copy(element + 1, element);
            data_stack.top = element + 1;
        }
        if (cell_type(element) == T_UNSET) {
            Cell written = *path_element(path, k);  // the get-word or paren, not its value
            error_raise(ERR_INVALID_PATH, path, &written);
        }
        bool last = k + 1 >= path_length(path);
        Cell* out = stack_push_new(T_NONE);
        dispatch_eval_path(current, element, set && last ? data_stack.args : nullptr, path, k,
                           case_, out);
        steps++;
        if (!set && !get && callable_type_q(cell_type(out))) {
            // A method: the elements after it are its refinements.
            const Cell* name = cell_type(element) == T_WORD ? element : nullptr;
            ExitCode x = eval_code(out, cursor, {path, k + 1}, name, current, CALL_PUSH);
            if (x != EXIT_CODE_NONE) return x;
            cell_copy(data_stack.top - 1, out);
            data_stack.top = out + 1;
            current = out;
            break;
        }
        current = out;
    }
    if (set) path_write_back(path, &word, start, steps, head, case_);
    if (trace_state.tracing) trace_path(TRACE_EXIT, path, path_length(path), current);
    cell_copy(current, start);
    data_stack.top = start + 1;
    if (!push) stack_set_last_reset(start);
    return EXIT_CODE_NONE;
}

ExitCode path_eval_for_native(const Cell* path, bool set, bool case_) {
    Cell* held = stack_push(path);
    uint32_t length = path_length(held);
    // No code follows: a function reached by the path finds no arguments.
    EvalCursor cursor{held, length, length};
    ExitCode x = interp_eval_path(held, cursor, {.set = set, .get = !set, .push = true, .case_ = case_});
    if (x != EXIT_CODE_NONE) return x;
    stack_set_last_reset(data_stack.top - 1);
    return EXIT_CODE_NONE;
}

} // namespace kel
