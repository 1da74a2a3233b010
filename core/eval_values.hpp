// What the evaluator reads without evaluating anything: word values, the
// operator a code value stands for, values that need no evaluation, and the
// operations on numbers and one-step paths that run nothing and allocate
// nothing, and the quiet evaluation of expressions made only of those. Used
// by the interpreter (core/interpreter.cpp); every pointer answered is valid
// until the next allocation.
#pragma once
#include "core/block.hpp"
#include "core/natives_table.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "runtime/cell.hpp"
#include "core/context.hpp"
#include "core/function.hpp"
#include "core/object.hpp"
#include "core/stack.hpp"
#include "core/trace.hpp"
#include "core/word_cell.hpp"
#include "runtime/memory.hpp"
#include <bit>
#include <cstdint>

namespace kel {

// The length of a buffer of value cells (code blocks, context values): its
// unit is known, so no table lookup by unit is needed.
inline uint32_t cells_length(const SeriesBuffer* b) { return (b->tail - b->head) >> 4; }

// A context's context! cell, which its buffer starts with.
[[gnu::always_inline]] inline const Cell* eval_context_cell(Node context) {
    return block_cells(context);
}

// Whether a context cell's values live on the data stack, tested on the
// header's byte that holds the flag: one instruction where the compiler
// otherwise loads, masks and tests the whole word.
[[gnu::always_inline]] inline bool context_on_stack_q(const Cell* c) {
    static_assert(std::endian::native == std::endian::little && CONTEXT_ON_STACK >> 16 <= 0xFF);
    return reinterpret_cast<const uint8_t*>(&c->header)[2] & (CONTEXT_ON_STACK >> 16);
}

// The value of a bound word read without raising: null when the word is
// unbound or its context has no values (a function that is not running).
// The two common cases take one test each past the context's: on the stack,
// a values field of 0 (the function is not running) and an unbound index
// (0xFFFFFFFF) both make the 64-bit sum below reach 0xFFFFFFFF, which no
// bound word of a running function does, as the data stack holds far fewer
// cells; in a block, an unbound index lies past any block's values.
[[gnu::always_inline]] inline const Cell* word_value_or_null(const Cell* word) {
    Node context = word_context(word);
    if (context == 0) return nullptr;
    const Cell* c = eval_context_cell(context);
    uint32_t values = context_values_of(c);
    if (context_on_stack_q(c)) {
        static_assert(DATA_STACK_CELLS < WORD_UNBOUND / 2);
        uint64_t at = uint64_t(values - 1) + word_index(word);
        if (at >= WORD_UNBOUND) return nullptr;
        const Cell* value = data_stack.bottom + at;
        if (!value) __builtin_unreachable();  // the data stack is a static array
        return value;
    }
    if (values == 0) return nullptr;
    SeriesBuffer* b = series_buffer(values);
    uint64_t offset = uint64_t(word_index(word)) * sizeof(Cell);
    if (offset >= b->tail - b->head) return nullptr;
    return reinterpret_cast<const Cell*>(b->head_ptr() + offset);
}

// The op! a code value stands for: a word whose value (in a context with
// values) is an op!; null for anything else.
[[gnu::always_inline]] inline const Cell* operator_of(const Cell* code) {
    if (cell_type(code) != T_WORD) return nullptr;
    const Cell* value = word_value_or_null(code);
    return value && cell_type(value) == T_OP ? value : nullptr;
}

// Whether a code value of the type evaluates to itself.
inline bool self_evaluating_type_q(uint8_t type) {
    switch (type) {
    case T_WORD: case T_SET_WORD: case T_SET_PATH: case T_GET_WORD: case T_LIT_WORD:
    case T_PAREN: case T_PATH: case T_GET_PATH: case T_LIT_PATH: case T_OP: case T_NATIVE:
    case T_ACTION: case T_FUNCTION: case T_ROUTINE: case T_ISSUE:
        return false;
    default:
        return true;
    }
}

// Whether a word's value is read as the word's evaluation: no function, op!
// or unset!.
inline bool plain_word_value_q(const Cell* value) {
    constexpr uint64_t not_plain = 1ull << T_UNSET | 1ull << T_OP | 1ull << T_NATIVE |
                                   1ull << T_ACTION | 1ull << T_FUNCTION | 1ull << T_ROUTINE;
    static_assert(TYPE_COUNT <= 64);
    return !((not_plain >> (cell_type(value) & 63)) & 1);
}

// The value an expression made of the code value v alone gives without
// evaluating anything: v itself for a type that evaluates to itself, a word's
// value when that is plain. Null when the value needs the full evaluator
// (and always while tracing, which reports each step).
[[gnu::always_inline]] inline const Cell* plain_value_of(const Cell* v) {
    if (trace_state.tracing) return nullptr;
    if (cell_type(v) == T_WORD) {
        const Cell* value = word_value_or_null(v);
        return value && plain_word_value_q(value) ? value : nullptr;
    }
    return self_evaluating_type_q(cell_type(v)) ? v : nullptr;
}

// ---- numbers without a dispatch -------------------------------------------------------------
// Arithmetic (add, subtract, multiply, divide, remainder) and the seven
// comparisons on two numbers (integer! and float!) are computed as the math
// actions and comparison natives compute them, in the left operand's cell.

inline bool number_type_q(uint8_t type) { return type == T_INTEGER || type == T_FLOAT; }

// What the function value (a native or action, or an op!'s source of that
// type) makes of the two numbers, written into left; false, touching
// nothing, for any other function or operands, or where it raises an error:
// then the function must run.
bool number_operation_general(const Cell* function, uint8_t type, Cell* left, const Cell* right);

// add, subtract, multiply and divide of the two numbers as doubles, the
// float! result in left, as the math actions make it; any other action goes
// to the general steps.
[[gnu::always_inline]] inline bool float_operation(const Cell* function, uint8_t type, double a,
                                                   double b, Cell* left, const Cell* right) {
    double r;
    switch (function_index(function)) {
    case A_ADD: r = a + b; break;
    case A_SUBTRACT: r = a - b; break;
    case A_MULTIPLY: r = a * b; break;
    case A_DIVIDE: r = a / b; break;
    default: return number_operation_general(function, type, left, right);
    }
    cell_init(left, T_FLOAT);
    cell_set_double(left, r);
    return true;
}

// number_operation_general; the four arithmetic operations on two float!s,
// tested first as the float test alone tells them, and adding, subtracting,
// multiplying, taking the remainder of and comparing two integers, the
// commonest cases by far, are done here without a call, and so is comparing
// two chars, which compare by their codepoints as integers do.
[[gnu::always_inline]] inline bool number_operation(const Cell* function, uint8_t type, Cell* left,
                                                    const Cell* right) {
    uint8_t lt = cell_type(left);
    if (lt == T_FLOAT) {
        if (cell_type(right) == T_FLOAT && type == T_ACTION)
            return float_operation(function, type, cell_double(left), cell_double(right), left,
                                   right);
    } else if ((lt == T_INTEGER || lt == T_CHAR) && cell_type(right) == lt) {
        int32_t a = cell_int(left), b = cell_int(right), n;
        if (type == T_ACTION && lt == T_INTEGER) {
            uint32_t index = function_index(function);
            if (index == A_ADD && !__builtin_add_overflow(a, b, &n)) {
                cell_set_int(left, n);
                return true;
            }
            if (index == A_SUBTRACT && !__builtin_sub_overflow(a, b, &n)) {
                cell_set_int(left, n);
                return true;
            }
            if (index == A_MULTIPLY && !__builtin_mul_overflow(a, b, &n)) {
                cell_set_int(left, n);
                return true;
            }
            // The remainder takes the sign of the dividend; 0 and -1 go to the action.
            if (index == A_REMAINDER && b != 0 && b != -1) {
                cell_set_int(left, a % b);
                return true;
            }
        } else if (type == T_NATIVE) {
            int32_t comparison = native_comparison(function_index(function));
            if (comparison < 0) return false;
            cell_init(left, T_LOGIC);
            left->w1 = comparison_holds(comparison, (a > b) - (a < b)) ? 1 : 0;
            return true;
        }
    }
    if (!number_type_q(lt) || !number_type_q(cell_type(right))) return false;
    // The four arithmetic operations with a float!, as the math actions make them.
    if (type == T_ACTION && (lt == T_FLOAT || cell_type(right) == T_FLOAT)) {
        double a = lt == T_FLOAT ? cell_double(left) : double(cell_int(left));
        double b = cell_type(right) == T_FLOAT ? cell_double(right) : double(cell_int(right));
        return float_operation(function, type, a, b, left, right);
    }
    return number_operation_general(function, type, left, right);
}
// Whether number_operation computes anything for the function value.
bool number_function_q(const Cell* function, uint8_t type);

// ---- paths of one step -----------------------------------------------------------------------
// A path of a word and one element, while nothing is traced, when reading or
// writing it runs nothing and allocates nothing.

// The head and the one element of such a path, or false.
[[gnu::always_inline]] inline bool path_one_step(const Cell* path, const Cell** head,
                                                 const Cell** element) {
    // Measured in bytes, which the element's address needs anyway.
    SeriesBuffer* b = series_buffer_of(path);
    uint64_t offset = uint64_t(uint32_t(series_index(path))) * sizeof(Cell);
    if (offset + 2 * sizeof(Cell) != b->tail - b->head) return false;
    const Cell* cells = reinterpret_cast<const Cell*>(b->head_ptr() + offset);
    if (cell_type(cells) != T_WORD) return false;
    *head = cells;
    *element = cells + 1;
    return true;
}

// path_read_plain once the head's value is known.
[[gnu::always_inline]] inline bool path_read_from(const Cell* value, const Cell* element,
                                                  Cell* slot) {
    if (cell_type(value) == T_OBJECT)
        return cell_type(element) == T_WORD && object_field_read(value, element, slot);
    if (cell_type(value) == T_BLOCK) {
        if (cell_type(element) == T_GET_WORD) element = word_value_or_null(element);
        if (!element || cell_type(element) != T_INTEGER) return false;
        int64_t k = cell_int(element);
        SeriesBuffer* b = series_buffer_of(value);
        uint32_t length = cells_length(b);
        uint32_t index = uint32_t(series_index(value));
        int64_t at = int64_t(index < length ? index : length) + (k > 0 ? k - 1 : k);
        if (k == 0 || at < 0 || at >= int64_t(length)) cell_init(slot, T_NONE);
        else cell_copy(block_cells(b) + at, slot);
    } else {
        return false;
    }
    return !callable_type_q(cell_type(slot));
}

// The read and the write of a path whose head is self, apart so that the
// common ones below stay lean.
[[gnu::noinline]] bool path_read_self(const Cell* head, const Cell* element, Cell* slot);
[[gnu::noinline]] bool path_set_self(const Cell* head, const Cell* element, const Cell* value);

// The value of such a path into out: a field of an object named by a word,
// or an element of a block by an integer (written, or a get-word's value).
// False, touching nothing, for anything else and for a value the general path
// treats otherwise: a function value (a method, called there) or an unset
// field (an error there).
[[gnu::always_inline]] inline bool path_read_plain(const Cell* path, Cell* out) {
    const Cell *head, *element;
    if (!path_one_step(path, &head, &element)) return false;
    const Cell* value = word_value_or_null(head);
    if (!value) return path_read_self(head, element, out);
    return path_read_from(value, element, out);
}

// Sets the field an object/word path names to the value, as the path
// evaluation's set does, when the object has no change handlers to run.
[[gnu::always_inline]] inline bool path_set_field(const Cell* path, const Cell* value) {
    const Cell *head, *element;
    if (!path_one_step(path, &head, &element) || cell_type(element) != T_WORD) return false;
    const Cell* object = word_value_or_null(head);
    if (!object) return path_set_self(head, element, value);
    return cell_type(object) == T_OBJECT && object_field_write(object, element, value);
}

// ---- quiet evaluation -------------------------------------------------------------------------
// An expression that runs nothing and allocates nothing (plain values,
// one-step paths, parens of one such expression, square-root, absolute and
// negate of a number, to integer! of a char, length?, tail? and pick of a
// series, not, any and all of a block of such expressions, one-type tests,
// and arithmetic and comparisons on numbers)
// is evaluated here without frames, while nothing is traced, reading the
// code as the interpreter reads it and the values its words hold now. It
// writes nothing but the value it answers, so when it meets what it cannot
// take (a function to call, an operator or operand the shortcuts above
// refuse, an error to raise) it answers false and the interpreter evaluates
// the same code from the same place, finding there what the quiet
// evaluation stopped at. Nothing can see the frames it skips, as nothing runs
// while it reads. The caller makes sure that the interpreter, taking the
// same code, would not have run out of stack or met an interrupt.

// The code being read: its values from the buffer's head and the end the
// cursor allows (at most the code's length).
struct QuietCode {
    const Cell* cells;
    uint32_t end;
};

// Parens and calls' arguments nest at most so deep in a quiet expression,
// which bounds what the interpreter would push for it: QUIET_CELLS cells,
// QUIET_FRAMES frames and blocks entered, and QUIET_NATIVE_STACK bytes of
// machine stack.
constexpr uint32_t QUIET_NESTING = 8;
constexpr uint32_t QUIET_CELLS = 64;
constexpr uint32_t QUIET_FRAMES = 32;
constexpr uintptr_t QUIET_NATIVE_STACK = 64 * 1024;

// square-root of a number, not of any value, and any and all of a block
// whose expressions are quiet, where the arguments are quiet: the value the
// native gives; false for any other native or argument.
bool quiet_native(const Cell* native, const QuietCode& code, uint32_t* at, bool no_infix,
                  Cell* out, uint32_t nesting);
// An action whose arguments are quiet and for which it runs nothing,
// raises nothing and allocates nothing: length? and tail? of a series, and
// pick of a series by an integer, where the type's action is the series
// one; absolute and negate of an integer! or float!; to integer! of a char!
// or integer!. The value the action gives; false for any other action, type
// or argument.
bool quiet_action(const Cell* action, const QuietCode& code, uint32_t* at, bool no_infix,
                  Cell* out, uint32_t nesting);
// A routine that tests its one argument for one type (none?, block? ...)
// applied to a quiet argument: the logic! it gives. False for any other
// routine.
bool quiet_type_test(const Cell* routine, const QuietCode& code, uint32_t* at, bool no_infix,
                     Cell* out, uint32_t nesting);
bool quiet_paren(const Cell* paren, Cell* out, uint32_t nesting);
// Whether the native, action or routine is one of those above, which quiet
// evaluation may compute.
bool quiet_form_q(const Cell* function);

// quiet_operand from the position at of the code's cells up to end (the
// code's own, held apart so that they stay in registers): the position past
// the operand, or 0 when it is not quiet (no operand ends at 0). The calls
// out of line take the position through a cell of their own, so that at
// itself never leaves a register.
[[gnu::always_inline]] inline uint32_t quiet_operand_after(const QuietCode& code,
                                                           const Cell* cells, uint32_t end,
                                                           uint32_t at, bool no_infix, Cell* out,
                                                           uint32_t nesting) {
    if (at >= end) return 0;
    const Cell* c = cells + at;
    uint32_t next = at + 1;
    switch (cell_type(c)) {
    case T_WORD: {
        const Cell* value = word_value_or_null(c);
        if (!value) return 0;
        if (plain_word_value_q(value)) {
            *out = *value;
            return next;
        }
        uint32_t after = next;
        bool quiet;
        if (cell_type(value) == T_ACTION)
            quiet = quiet_action(value, code, &after, no_infix, out, nesting);
        else if (cell_type(value) == T_ROUTINE)
            quiet = quiet_type_test(value, code, &after, no_infix, out, nesting);
        else
            quiet = cell_type(value) == T_NATIVE &&
                    quiet_native(value, code, &after, no_infix, out, nesting);
        return quiet ? after : 0;
    }
    case T_PATH:
        return path_read_plain(c, out) ? next : 0;
    case T_PAREN:
        return quiet_paren(c, out, nesting) ? next : 0;
    default:
        if (!self_evaluating_type_q(cell_type(c))) return 0;
        *out = *c;
        return next;
    }
}

// The value at *at without the operators after it, into out; with no_infix
// the argument of square-root takes none either. *at advances past it; it is
// left as it was when the value is not quiet.
[[gnu::always_inline]] inline bool quiet_operand(const QuietCode& code, uint32_t* at,
                                                 bool no_infix, Cell* out,
                                                 uint32_t nesting = 0) {
    uint32_t next = quiet_operand_after(code, code.cells, code.end, *at, no_infix, out, nesting);
    if (!next) return false;
    *at = next;
    return true;
}

// The value at *at and the operators after it, as far as the interpreter
// takes them, into out; *at advances past them, and is left as it was when
// they are not quiet.
[[gnu::always_inline]] inline bool quiet_chain(const QuietCode& code, uint32_t* at, Cell* out,
                                               uint32_t nesting = 0) {
    const Cell* cells = code.cells;
    uint32_t end = code.end;
    uint32_t position = quiet_operand_after(code, cells, end, *at, false, out, nesting);
    if (!position) return false;
    while (position < end) {
        const Cell* op = operator_of(cells + position);
        if (!op) break;
        Cell right;
        uint32_t next = quiet_operand_after(code, cells, end, position + 1, true, &right, nesting);
        if (!next || !number_operation(op, op_source_type(op), out, &right)) return false;
        position = next;
    }
    *at = position;
    return true;
}

} // namespace kel
