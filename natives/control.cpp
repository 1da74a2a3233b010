// Conditional and loop natives: if, unless, either, any, all, while, until,
// loop, repeat, forever, switch and case.
//
// A loop marks a loop frame (the target of break and continue) with an unset
// result slot, evaluates its body into that slot and, at the end, unwinds the
// frame with the slot copied into the native's ARGS[0]. break and continue
// arrive as pending codes with the loop frame current again (core/exits.hpp);
// any other code is handed on at once.
#include "natives/natives.hpp"
#include "natives/native_steps.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/interpreter.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include <iterator>

namespace kel {

static inline Cell* arg(int i) { return data_stack.args + i; }

// ---- conditionals ---------------------------------------------------------------------------

ExitCode native_if(bool check, const int32_t*) {
    if (check) native_arg_check(1, 1);
    if (logic_false(arg(0))) {
        stack_box_new(T_NONE);
        return EXIT_CODE_NONE;
    }
    return native_eval_block(arg(1));
}

ExitCode native_unless(bool check, const int32_t*) {
    if (check) native_arg_check(2, 1);
    if (!logic_false(arg(0))) {
        stack_box_new(T_NONE);
        return EXIT_CODE_NONE;
    }
    return native_eval_block(arg(1));
}

ExitCode native_either(bool check, const int32_t*) {
    if (check) {
        native_arg_check(3, 1);
        native_arg_check(3, 2);
    }
    return native_eval_block(logic_true_checked(arg(0)) ? arg(1) : arg(2));
}

// any (want true) and all (want false): the first value whose lenient truth
// equals want ends the scan.
static ExitCode any_all(bool any) {
    CodeWalk walk(arg(0));
    if (walk.ended()) {
        stack_box_new(T_NONE);
        return EXIT_CODE_NONE;
    }
    while (!walk.ended()) {
        Cell* value;
        ExitCode x = walk.next(&value);
        if (x != EXIT_CODE_NONE) return x;
        bool truth = !logic_false(value);
        if (truth == any) {
            stack_set_last_reset(any ? value : &none_cell);
            return EXIT_CODE_NONE;
        }
        if (walk.ended()) {
            stack_set_last_reset(any ? &none_cell : value);
            return EXIT_CODE_NONE;
        }
        walk.drop(value);
    }
    stack_box_new(T_NONE);
    return EXIT_CODE_NONE;
}

ExitCode native_any(bool check, const int32_t*) {
    if (check) native_arg_check(4, 0);
    return any_all(true);
}

ExitCode native_all(bool check, const int32_t*) {
    if (check) native_arg_check(5, 0);
    return any_all(false);
}

// ---- loops ----------------------------------------------------------------------------------

// Marks the loop frame with its unset result slot.
static inline void loop_enter() {
    stack_mark_loop(nullptr);
    stack_push_new(T_UNSET);
}

// Unwinds the loop frame, its result becoming the native's.
static ExitCode loop_leave() {
    stack_unwind_last();
    return EXIT_CODE_NONE;
}

// The outcome of one body evaluation in a loop frame.
enum class Round { next, stop, pass };

// Evaluates the body into the loop's result slot; break stops, continue goes
// on (both consumed), any other code is to be passed on.
static Round loop_round(const Cell* body, ExitCode* x) {
    *x = native_eval_block(body);
    stack_keep();
    switch (*x) {
    case EXIT_CODE_NONE: return Round::next;
    case EXIT_CODE_BREAK: exit_clear(); return Round::stop;
    case EXIT_CODE_CONTINUE: exit_clear(); *x = EXIT_CODE_NONE; return Round::next;
    default: return Round::pass;
    }
}

ExitCode native_while(bool check, const int32_t*) {
    if (check) {
        native_arg_check(6, 0);
        native_arg_check(6, 1);
    }
    Cell* cond = arg(0);
    Cell* body = arg(1);
    loop_enter();
    for (;;) {
        ExitCode x = native_eval_block(cond);
        stack_keep();
        if (x == EXIT_CODE_BREAK || x == EXIT_CODE_CONTINUE) {
            exit_clear();
            error_raise(ERR_WHILE_COND);
        }
        if (x != EXIT_CODE_NONE) return x;
        // A logic! condition, the common one, is read in line.
        const Cell* truth = data_stack.args;
        if (cell_type(truth) == T_LOGIC ? truth->w1 != 1 : !logic_true_checked(truth)) break;
        Round r = loop_round(body, &x);
        if (r == Round::pass) return x;
        if (r == Round::stop) break;
    }
    stack_box_new(T_UNSET);
    return loop_leave();
}

ExitCode native_until(bool check, const int32_t*) {
    if (check) native_arg_check(7, 0);
    Cell* body = arg(0);
    loop_enter();
    for (;;) {
        ExitCode x = native_eval_block(body);
        stack_keep();
        if (x == EXIT_CODE_BREAK) {
            exit_clear();
            break;
        }
        if (x == EXIT_CODE_CONTINUE) {
            exit_clear();
            continue;
        }
        if (x != EXIT_CODE_NONE) return x;
        if (logic_true_checked(data_stack.args)) break;
    }
    return loop_leave();
}

int32_t native_count_arg(Cell* count) {
    if (cell_type(count) == T_FLOAT) {
        int32_t n;
        if (!integer_from_double(float_get(count), &n)) {
            error_raise_type(ERR_TYPE_LIMIT, T_INTEGER);
        }
        cell_init(count, T_INTEGER);
        integer_set(count, n);
    }
    return cell_int(count);
}

ExitCode native_loop(bool check, const int32_t*) {
    if (check) {
        native_arg_check(8, 0);
        native_arg_check(8, 1);
    }
    int32_t count = native_count_arg(arg(0));
    if (count < 1) {
        stack_box_new(T_NONE);
        return EXIT_CODE_NONE;
    }
    Cell* body = arg(1);
    loop_enter();
    for (int32_t i = 0; i < count; i++) {
        ExitCode x;
        Round r = loop_round(body, &x);
        if (r == Round::pass) return x;
        if (r == Round::stop) break;
    }
    return loop_leave();
}

ExitCode native_repeat(bool check, const int32_t*) {
    if (check) {
        native_arg_check(9, 0);
        native_arg_check(9, 1);
        native_arg_check(9, 2);
    }
    Cell* word = arg(0);
    Cell* counter = arg(1);
    int32_t last = native_count_arg(counter);
    if (last < 1) {
        stack_box_new(T_NONE);
        return EXIT_CODE_NONE;
    }
    Cell* body = arg(2);
    integer_set(counter, 1);
    loop_enter();
    for (;;) {
        stack_keep();
        word_set(word, counter);
        ExitCode x;
        Round r = loop_round(body, &x);
        if (r == Round::pass) return x;
        // Tested before the step, so a last value of 2147483647 cannot overflow.
        if (r == Round::stop || cell_int(counter) >= last) break;
        integer_set(counter, cell_int(counter) + 1);
    }
    return loop_leave();
}

ExitCode native_forever(bool check, const int32_t*) {
    if (check) native_arg_check(10, 0);
    Cell* body = arg(0);
    loop_enter();
    for (;;) {
        ExitCode x;
        Round r = loop_round(body, &x);
        if (r == Round::pass) return x;
        if (r == Round::stop) break;
        cell_init(data_stack.args, T_UNSET);
    }
    return loop_leave();
}

// ---- switch and case ------------------------------------------------------------------------

ExitCode native_switch(bool check, const int32_t* refinements) {
    if (check) {
        native_arg_check(18, 1);
        if (refinements[0] >= 0) native_arg_check(18, uint32_t(refinements[0]));
    }
    Cell* value = arg(0);
    Cell* cases = arg(1);
    if (cell_type(value) != T_BLOCK) {
        bool matched = false;
        for (uint32_t i = series_index_clamped(cases);; i++) {
            SeriesBuffer* b = series_buffer_of(cases);
            if (i >= b->length()) break;
            const Cell* cells = block_cells(b);
            if (!matched) {
                Cell key = cells[i];
                matched = cell_type(&key) == cell_type(value) && compare_logic(value, &key, CMP_EQUAL);
                continue;
            }
            if (cell_type(&cells[i]) == T_BLOCK) {
                Cell* block = stack_push(&cells[i]);
                return native_eval_block(block);
            }
        }
    }
    if (refinements[0] >= 0) return native_eval_block(arg(refinements[0]));
    stack_box_new(T_NONE);
    return EXIT_CODE_NONE;
}

ExitCode native_case(bool check, const int32_t* refinements) {
    if (check) native_arg_check(19, 0);
    bool all = refinements[0] != -1;
    CodeWalk walk(arg(0));
    if (walk.ended()) {
        stack_box_new(T_NONE);
        return EXIT_CODE_NONE;
    }
    stack_mark_native_interp(nullptr);
    stack_push_new(T_NONE);  // the result of the last branch taken
    bool matched = false;
    while (!walk.ended()) {
        matched = false;
        Cell* condition;
        ExitCode x = walk.next(&condition);
        if (x != EXIT_CODE_NONE) return x;
        if (walk.ended()) {
            Cell word = word_intern("case");
            error_raise(ERR_NEED_VALUE, &word);
        }
        bool truth = logic_true_checked(condition);
        walk.drop(condition);
        if (!truth) {
            walk.skip();
            continue;
        }
        Cell* branch;
        if (walk.at_block()) {
            branch = stack_push(walk.current());
            walk.skip();
            x = native_eval_block(branch);
            stack_keep();
            branch = data_stack.args;
        } else {
            x = walk.next(&branch);
        }
        if (x != EXIT_CODE_NONE) return x;
        cell_copy(branch, data_stack.args);
        stack_keep();
        matched = true;
        if (!all) break;
    }
    if (!matched) cell_init(data_stack.args, T_NONE);
    stack_unwind_last();
    return EXIT_CODE_NONE;
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {1, "if", "[cond [any-type!] then-blk [block!]]", native_if},
    {2, "unless", "[cond [any-type!] then-blk [block!]]", native_unless},
    {3, "either", "[cond [any-type!] true-blk [block!] false-blk [block!]]", native_either},
    {4, "any", "[conds [block!]]", native_any},
    {5, "all", "[conds [block!]]", native_all},
    {6, "while", "[cond [block!] body [block!]]", native_while},
    {7, "until", "[body [block!]]", native_until},
    {8, "loop", "[count [integer! float!] body [block!]]", native_loop},
    {9, "repeat", "['word [word!] value [integer! float!] body [block!]]", native_repeat},
    {10, "forever", "[body [block!]]", native_forever},
    {18, "switch", "[value [any-type!] cases [block!] /default case [block!]]", native_switch},
    {19, "case", "[cases [block!] /all]", native_case},
};
const NativeTable CONTROL_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
