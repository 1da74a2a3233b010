// Operations on numbers and one-step paths that the evaluator makes without
// a call (see core/eval_values.hpp).
#include "core/eval_values.hpp"
#include "core/actions.hpp"
#include "core/logic.hpp"
#include "core/natives_table.hpp"
#include "core/numbers.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/vocabulary.hpp"

#include <cmath>

namespace kel {

// ---- numbers ---------------------------------------------------------------------------------
// Every case not computed here answers false, touching nothing, and the
// action or native runs (and raises what it raises).

// The math operation of an action, or -1.
static inline int32_t action_math(uint32_t index) {
    switch (index) {
    case A_ADD: return OP_ADD;
    case A_SUBTRACT: return OP_SUBTRACT;
    case A_MULTIPLY: return OP_MULTIPLY;
    case A_DIVIDE: return OP_DIVIDE;
    case A_REMAINDER: return OP_REMAINDER;
    default: return -1;
    }
}

static inline double number_double(const Cell* c) {
    return cell_type(c) == T_INTEGER ? double(cell_int(c)) : cell_double(c);
}

static bool number_math(int32_t math, Cell* left, const Cell* right) {
    uint8_t lt = cell_type(left), rt = cell_type(right);
    if (lt == T_INTEGER && rt == T_INTEGER) {
        int32_t a = cell_int(left), b = cell_int(right), n;
        switch (math) {
        case OP_ADD:
            if (__builtin_add_overflow(a, b, &n)) break;
            cell_set_int(left, n);
            return true;
        case OP_SUBTRACT:
            if (__builtin_sub_overflow(a, b, &n)) break;
            cell_set_int(left, n);
            return true;
        case OP_MULTIPLY:
            if (__builtin_mul_overflow(a, b, &n)) break;
            cell_set_int(left, n);
            return true;
        case OP_REMAINDER:
            // The sign of the dividend, as the remainder action gives it.
            if (b == 0 || b == -1) return false;
            cell_set_int(left, a % b);
            return true;
        case OP_DIVIDE:
            if (b == 0 || b == -1) return false;
            break;
        default: break;
        }
        integer_math_op(a, b, math, left);
        return true;
    }
    if (!number_type_q(lt) || !number_type_q(rt)) return false;
    double a = number_double(left), b = number_double(right), r;
    switch (math) {
    case OP_ADD: r = a + b; break;
    case OP_SUBTRACT: r = a - b; break;
    case OP_MULTIPLY: r = a * b; break;
    case OP_DIVIDE: r = a / b; break;
    default: r = float_math_op(a, b, math); break;
    }
    cell_init(left, T_FLOAT);
    cell_set_double(left, r);
    return true;
}

static bool number_compare(int32_t comparison, Cell* left, const Cell* right) {
    uint8_t lt = cell_type(left), rt = cell_type(right);
    int32_t r;
    if (lt == T_INTEGER && rt == T_INTEGER) {
        int32_t a = cell_int(left), b = cell_int(right);
        r = (a > b) - (a < b);
    } else if (number_type_q(lt) && number_type_q(rt)) {
        if (comparison == CMP_STRICT_EQUAL && lt != rt) r = 1;
        else r = float_compare_doubles(number_double(left), number_double(right), comparison);
    } else {
        return false;
    }
    logic_make_at(left, comparison_holds(comparison, r));
    return true;
}

bool number_function_q(const Cell* function, uint8_t type) {
    if (type == T_ACTION) return action_math(function_index(function)) >= 0;
    return type == T_NATIVE && native_comparison(function_index(function)) >= 0;
}

bool number_operation_general(const Cell* function, uint8_t type, Cell* left, const Cell* right) {
    if (type == T_ACTION) {
        int32_t math = action_math(function_index(function));
        return math >= 0 && number_math(math, left, right);
    }
    if (type != T_NATIVE) return false;
    int32_t comparison = native_comparison(function_index(function));
    return comparison >= 0 && number_compare(comparison, left, right);
}

// ---- paths of one step ------------------------------------------------------------------------

// The value of self bound to a context without a slot of its own: the
// context's owner, as reading the word gives it (the object a method's
// self/field paths name); null for any other word.
static inline const Cell* self_value_or_null(const Cell* word) {
    uint32_t self = runtime_symbol(SYM_SELF);
    if (!self || word_symbol(word) != self || !word_context(word) ||
        word_index(word) != WORD_UNBOUND)
        return nullptr;
    return context_owner(word_context(word));
}

bool path_read_self(const Cell* head, const Cell* element, Cell* slot) {
    const Cell* value = self_value_or_null(head);
    return value && path_read_from(value, element, slot);
}

bool path_set_self(const Cell* head, const Cell* element, const Cell* value) {
    const Cell* object = self_value_or_null(head);
    return object && cell_type(object) == T_OBJECT && object_field_write(object, element, value);
}


// ---- quiet evaluation ---------------------------------------------------------------------------

// The argument of a quiet call into out: it takes the operators after it
// unless the call is an operator's right operand, as the argument fetch does.
// A call's argument nests as a paren does.
static bool quiet_argument_general(const QuietCode& code, uint32_t* at, bool no_infix,
                                   Cell* out, uint32_t nesting) {
    if (nesting >= QUIET_NESTING) return false;
    return no_infix ? quiet_operand(code, at, true, out, nesting + 1)
                    : quiet_chain(code, at, out, nesting + 1);
}

// The commonest argument, a literal or a word holding a plain value with no
// operator after it, is read here in line; any other goes to the general
// steps above, which read it the same way.
[[gnu::always_inline]] static inline bool quiet_argument(const QuietCode& code, uint32_t* at,
                                                         bool no_infix, Cell* out,
                                                         uint32_t nesting) {
    uint32_t i = *at;
    if (i < code.end && nesting < QUIET_NESTING) {
        const Cell* c = code.cells + i;
        const Cell* value = c;
        if (cell_type(c) == T_WORD) {
            value = word_value_or_null(c);
            if (value && !plain_word_value_q(value)) value = nullptr;
        } else if (!self_evaluating_type_q(cell_type(c))) {
            value = nullptr;
        }
        if (value && (no_infix || i + 1 >= code.end || cell_type(c + 1) != T_WORD ||
                      !operator_of(c + 1))) {
            *out = *value;
            *at = i + 1;
            return true;
        }
    }
    return quiet_argument_general(code, at, no_infix, out, nesting);
}

// any (want true) and all of the block in out, its expressions quiet, into
// out: the value that ends the scan, as the natives find it.
static bool quiet_any_all(bool any, Cell* out, uint32_t nesting) {
    if (nesting >= QUIET_NESTING) return false;
    SeriesBuffer* b = series_buffer_of(out);
    QuietCode inner{block_cells(b), cells_length(b)};
    uint32_t at = uint32_t(series_index(out));
    Cell value;
    cell_init(&value, T_NONE);
    while (at < inner.end) {
        if (!quiet_chain(inner, &at, &value, nesting + 1)) return false;
        if (logic_false(&value) != any) {
            if (!any) cell_init(&value, T_NONE);
            break;
        }
        if (any && at >= inner.end) cell_init(&value, T_NONE);
    }
    *out = value;
    return true;
}

bool quiet_native(const Cell* native, const QuietCode& code, uint32_t* at, bool no_infix,
                  Cell* out, uint32_t nesting) {
    switch (native_role(function_index(native))) {
    case NATIVE_ROLE_SQUARE_ROOT: {
        if (!quiet_argument(code, at, no_infix, out, nesting) || !number_type_q(cell_type(out)))
            return false;
        double d = std::sqrt(number_double(out));
        cell_init(out, T_FLOAT);
        cell_set_double(out, d);
        return true;
    }
    case NATIVE_ROLE_NOT:
        if (!quiet_argument(code, at, no_infix, out, nesting)) return false;
        logic_make_at(out, logic_false(out));
        return true;
    case NATIVE_ROLE_ANY:
    case NATIVE_ROLE_ALL:
        return quiet_argument(code, at, no_infix, out, nesting) && cell_type(out) == T_BLOCK &&
               quiet_any_all(native_role(function_index(native)) == NATIVE_ROLE_ANY, out,
                             nesting);
    default:
        return false;
    }
}

// length? and tail? of a series, where the type's action is the series one:
// the value that action's own function gives, as it raises and allocates
// nothing for these arguments.
static bool quiet_series_read(uint32_t index, const QuietCode& code, uint32_t* at, bool no_infix,
                              Cell* out, uint32_t nesting) {
    if (!quiet_argument(code, at, no_infix, out, nesting)) return false;
    uint8_t type = cell_type(out);
    if (index == A_LENGTH_Q) {
        if (action_slot(type, A_LENGTH_Q) != reinterpret_cast<ActionFn>(series_length_q)) return false;
        int32_t n = series_length_q(out);
        cell_init(out, n < 0 ? T_NONE : T_INTEGER);
        if (n >= 0) integer_make_at(out, n);
        return true;
    }
    if (action_slot(type, A_TAIL_Q) != reinterpret_cast<ActionFn>(series_tail_q_action))
        return false;
    series_tail_q_action(out);
    return true;
}

// pick of a series by an integer, where the type's action is the series one,
// as quiet_series_read takes the others; apart, as the commonest of them.
[[gnu::always_inline]] static inline bool quiet_pick(const QuietCode& code, uint32_t* at,
                                                     bool no_infix, Cell* out, uint32_t nesting) {
    Cell n;
    if (!quiet_argument(code, at, no_infix, out, nesting) ||
        !quiet_argument(code, at, no_infix, &n, nesting) || cell_type(&n) != T_INTEGER ||
        action_slot(cell_type(out), A_PICK) != reinterpret_cast<ActionFn>(series_pick))
        return false;
    series_pick(out, &n);
    return true;
}

// absolute and negate of an integer! or float!, as the two types' actions
// compute them; the lowest integer, whose sign cannot turn, raises there.
static bool quiet_number_sign(uint32_t index, const QuietCode& code, uint32_t* at, bool no_infix,
                              Cell* out, uint32_t nesting) {
    if (!quiet_argument(code, at, no_infix, out, nesting)) return false;
    if (cell_type(out) == T_INTEGER) {
        int32_t n = cell_int(out);
        if (n == INT32_MIN) return false;
        cell_set_int(out, index == A_NEGATE || n < 0 ? -n : n);
        return true;
    }
    if (cell_type(out) != T_FLOAT) return false;
    double d = cell_double(out);
    cell_set_double(out, index == A_NEGATE ? 0.0 - d : std::fabs(d));
    return true;
}

// to integer! of a char or an integer: its code point, or the integer.
static bool quiet_to_integer(const QuietCode& code, uint32_t* at, bool no_infix, Cell* out,
                             uint32_t nesting) {
    if (!quiet_argument(code, at, no_infix, out, nesting) || cell_type(out) != T_DATATYPE ||
        datatype_id(out) != T_INTEGER || !quiet_argument(code, at, no_infix, out, nesting))
        return false;
    if (cell_type(out) == T_CHAR) {
        int32_t n = cell_int(out);
        cell_init(out, T_INTEGER);
        cell_set_int(out, n);
    }
    return cell_type(out) == T_INTEGER;
}

bool quiet_action(const Cell* action, const QuietCode& code, uint32_t* at, bool no_infix,
                  Cell* out, uint32_t nesting) {
    uint32_t index = function_index(action);
    if (index == A_PICK) return quiet_pick(code, at, no_infix, out, nesting);
    switch (index) {
    case A_LENGTH_Q: case A_TAIL_Q:
        return quiet_series_read(index, code, at, no_infix, out, nesting);
    case A_ABSOLUTE: case A_NEGATE:
        return quiet_number_sign(index, code, at, no_infix, out, nesting);
    case A_TO:
        return quiet_to_integer(code, at, no_infix, out, nesting);
    default:
        return false;
    }
}

bool quiet_type_test(const Cell* routine, const QuietCode& code, uint32_t* at, bool no_infix,
                     Cell* out, uint32_t nesting) {
    uint8_t type = routine_type_tested(routine);
    if (!type || !quiet_argument(code, at, no_infix, out, nesting)) return false;
    logic_make_at(out, cell_type(out) == type);
    return true;
}

bool quiet_form_q(const Cell* function) {
    switch (cell_type(function)) {
    case T_NATIVE:
        switch (native_role(function_index(function))) {
        case NATIVE_ROLE_SQUARE_ROOT: case NATIVE_ROLE_NOT: case NATIVE_ROLE_ANY:
        case NATIVE_ROLE_ALL:
            return true;
        default:
            return false;
        }
    case T_ACTION:
        switch (function_index(function)) {
        case A_LENGTH_Q: case A_PICK: case A_TAIL_Q: case A_ABSOLUTE: case A_NEGATE: case A_TO:
            return true;
        default:
            return false;
        }
    case T_ROUTINE:
        return routine_type_tested(function) != 0;
    default:
        return false;
    }
}

bool quiet_paren(const Cell* paren, Cell* out, uint32_t nesting) {
    if (nesting >= QUIET_NESTING) return false;
    SeriesBuffer* b = series_buffer_of(paren);
    QuietCode inner{block_cells(b), cells_length(b)};
    uint32_t from = uint32_t(series_index(paren));
    return from < inner.end && quiet_chain(inner, &from, out, nesting + 1) && from == inner.end;
}

} // namespace kel
