#include "datatypes/integer.hpp"
#include "datatypes/date.hpp"
#include "datatypes/float.hpp"
#include "datatypes/money.hpp"
#include "datatypes/point.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/vector.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/lexer.hpp"
#include "core/word.hpp"
#include "runtime/random.hpp"
#include "runtime/memory.hpp"
#include <cmath>
#include <cstring>

namespace kel {

constexpr int32_t INT32_LOWEST = INT32_MIN;  // the one value without a positive counterpart

// ---- helpers ---------------------------------------------------------------

int32_t integer_absolute(int32_t n) {
    if (n == INT32_LOWEST) error_raise(ERR_OVERFLOW);
    return n < 0 ? -n : n;
}

int32_t integer_sign(int32_t n) { return (n > 0) - (n < 0); }

const char* integer_form_buffer(int32_t n) {
    static char buffer[12];  // "-2147483648" and its NUL
    char* p = buffer + sizeof buffer;
    *--p = '\0';
    uint32_t magnitude = n < 0 ? 0u - uint32_t(n) : uint32_t(n);
    do {
        *--p = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (n < 0) *--p = '-';
    return p;
}

// The word of a math action named by an error.
static const Cell* op_word(int32_t op) {
    return runtime_word(op == OP_DIVIDE ? W_DIVIDE : W_SUBTRACT);
}

[[noreturn]] static void raise_invalid_type(const Cell* value) {
    error_raise_type(ERR_INVALID_TYPE, cell_type(value));
}

void integer_do_math(Cell* left, const Cell* right, int32_t op) {
    switch (cell_type(right)) {
    case T_INTEGER:
    case T_CHAR:
        cell_type_set(left, T_INTEGER);
        integer_math_op(cell_int(left), cell_int(right), op, left);
        return;
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME:
        float_do_math(left, right, op);
        return;
    case T_PAIR:
    case T_POINT2D:
    case T_POINT3D:
        if (op == OP_DIVIDE) error_raise_type(ERR_NOT_RELATED, op_word(op), T_INTEGER);
        point_math_number_first(left, right, op);
        return;
    case T_TUPLE:
        if (op == OP_SUBTRACT || op == OP_DIVIDE) error_raise_type(ERR_NOT_RELATED, op_word(op), T_INTEGER);
        tuple_math_op(left, right, op);
        return;
    case T_DATE: {
        if (op != OP_ADD) error_raise_type(ERR_NOT_RELATED, runtime_word(W_SUBTRACT), T_INTEGER);
        Cell days = *left;  // the date kernel adds with the date on the left
        cell_copy(right, left);
        date_add_subtract(left, &days, op);
        return;
    }
    case T_MONEY:
        money_do_math(left, right, op);
        return;
    case T_VECTOR:
        vector_number_first_op(left, right, op);
        return;
    default:
        raise_invalid_type(right);
    }
}

// ---- make, to ----------------------------------------------------------------

// The bytes of a binary! from its head to its tail.
static void binary_span(const Cell* binary, const uint8_t** bytes, uint32_t* length) {
    SeriesBuffer* buffer = series_buffer_of(binary);
    uint32_t total = buffer->length();
    uint32_t head = uint32_t(series_index(binary)) < total ? uint32_t(series_index(binary)) : total;
    *bytes = buffer->head_ptr() + head;
    *length = total - head;
}

// An issue's text read as hexadecimal: at most 8 digits, nothing else.
static int32_t integer_from_issue(const Cell* issue) {
    uint32_t length = 0;
    const uint8_t* text = symbol_name(word_symbol(issue), &length);
    if (length > 8) error_raise(ERR_INVALID_DATA, issue);
    uint32_t u = 0;
    for (uint32_t i = 0; i < length; i++) {
        uint8_t c = text[i];
        uint32_t digit = c >= '0' && c <= '9' ? c - '0'
                       : c >= 'A' && c <= 'F' ? c - 'A' + 10
                       : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 16;
        if (digit == 16) error_raise(ERR_INVALID_DATA, issue);
        u = (u << 4) | digit;
    }
    return int32_t(u);
}

const Cell* integer_to(Cell* proto, const Cell* spec, uint8_t) {
    int32_t n = 0;
    switch (cell_type(spec)) {
    case T_INTEGER: return spec;
    case T_CHAR: n = cell_int(spec); break;
    case T_FLOAT:
    case T_PERCENT:
        if (!integer_from_double(cell_double(spec), &n)) {
            error_raise_type(ERR_TYPE_LIMIT, T_INTEGER);
        }
        break;
    case T_TIME: {
        // Whole seconds, half a second rounding away from zero on either side.
        double seconds = cell_double(spec);
        if (!integer_from_double(seconds < 0 ? seconds - 0.5 : seconds + 0.5, &n)) {
            error_raise_type(ERR_TYPE_LIMIT, T_INTEGER);
        }
        break;
    }
    case T_BINARY: {
        const uint8_t* bytes;
        uint32_t length;
        binary_span(spec, &bytes, &length);
        uint32_t u = 0;
        for (uint32_t i = 0; i < length && i < 4; ++i) u = (u << 8) | bytes[i];
        n = int32_t(u);
        break;
    }
    case T_MONEY: n = money_to_integer(spec); break;
    case T_DATE: n = date_to_epoch(spec); break;
    case T_ISSUE: n = integer_from_issue(spec); break;
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: {
        Cell text;
        cell_copy(spec, &text);
        uint32_t count = string_ks_length_q(&text);
        int32_t error = 0;
        n = count == 0 ? 0 : scan_integer(string_ks_head(&text), count,
                                          series_buffer_of(&text)->unit(), &error);
        if (count == 0 || error != 0) error_raise_type(ERR_BAD_TO_ARG, T_INTEGER, spec);
        break;
    }
    default:
        error_raise_type(ERR_BAD_TO_ARG, T_INTEGER, spec);
    }
    cell_init(proto, T_INTEGER);
    integer_set(proto, int32_t(n));
    return proto;
}

const Cell* integer_make(Cell* proto, const Cell* spec, uint8_t type) {
    if (cell_type(spec) == T_LOGIC) {
        cell_init(proto, T_INTEGER);
        integer_set(proto, logic_get(spec) ? 1 : 0);
        return proto;
    }
    return integer_to(proto, spec, type);
}

// ---- form, mold, compare -------------------------------------------------------

int32_t integer_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                     int32_t) {
    const char* text = integer_form_buffer(cell_int(value));
    uint32_t length = uint32_t(std::strlen(text));
    string_append_ascii(target, text, length);
    return budget - int32_t(length);
}

int32_t integer_compare(const Cell* value1, const Cell* value2, int32_t op) {
    uint8_t other = cell_type(value2);
    if ((op == CMP_STRICT_EQUAL || op == CMP_FIND) && other != T_INTEGER) return 1;
    switch (other) {
    case T_INTEGER:
    case T_CHAR: {
        int32_t a = cell_int(value1), b = cell_int(value2);
        return (a > b) - (a < b);
    }
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME: {
        Cell converted;
        float_make_at(&converted, double(cell_int(value1)));
        return float_compare(&converted, value2, op);
    }
    case T_MONEY: {
        Cell converted;
        money_from_integer_at(&converted, cell_int(value1));
        return money_compare(&converted, value2, op);
    }
    default:
        return COMPARE_INCOMPARABLE;
    }
}

// ---- one-operand actions -------------------------------------------------------

void integer_absolute_action(Cell* value) { integer_set(value, int32_t(integer_absolute(cell_int(value)))); }

void integer_negate(Cell* value) {
    int32_t n = cell_int(value);
    if (n == INT32_LOWEST) error_raise(ERR_OVERFLOW);
    integer_set(value, -n);
}

const Cell* integer_complement(Cell* value) {
    integer_set(value, ~integer_get(value));
    return value;
}

bool integer_even_q(const Cell* value) { return (integer_get(value) & 1) == 0; }
bool integer_odd_q(const Cell* value) { return (integer_get(value) & 1) != 0; }

// ---- two-operand actions -------------------------------------------------------

void integer_add(Cell* value1, const Cell* value2) { integer_do_math(value1, value2, OP_ADD); }
void integer_subtract(Cell* value1, const Cell* value2) { integer_do_math(value1, value2, OP_SUBTRACT); }
void integer_multiply(Cell* value1, const Cell* value2) { integer_do_math(value1, value2, OP_MULTIPLY); }
void integer_divide(Cell* value1, const Cell* value2) { integer_do_math(value1, value2, OP_DIVIDE); }
void integer_remainder(Cell* value1, const Cell* value2) { integer_do_math(value1, value2, OP_REMAINDER); }
void integer_and(Cell* value1, const Cell* value2) { integer_do_math(value1, value2, OP_AND); }
void integer_or(Cell* value1, const Cell* value2) { integer_do_math(value1, value2, OP_OR); }
void integer_xor(Cell* value1, const Cell* value2) { integer_do_math(value1, value2, OP_XOR); }

// Exponentiation by squaring; false when a step overflows 32 bits.
static bool integer_power_exact(int32_t base, int32_t exponent, int32_t* out) {
    int32_t result = 1;
    while (exponent != 0) {
        if (exponent & 1) {
            if (__builtin_mul_overflow(result, base, &result)) return false;
        }
        exponent >>= 1;
        if (__builtin_mul_overflow(base, base, &base) && exponent > 0) return false;
    }
    *out = result;
    return true;
}

void integer_power(Cell* base, const Cell* exponent) {
    uint8_t type = cell_type(exponent);
    if (type != T_INTEGER && type != T_FLOAT) {
        Cell word;
        stack_caller_word(&word);
        error_raise_type(ERR_EXPECT_ARG, &word, type);
    }
    if (type == T_INTEGER && cell_int(exponent) >= 0) {
        int32_t n;
        if (integer_power_exact(cell_int(base), cell_int(exponent), &n)) {
            integer_set(base, n);
            return;
        }
    }
    float_make_at(base, double(cell_int(base)));
    float_power(base, exponent);
}

void integer_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down,
                   bool floor, bool ceiling, bool half_ceiling) {
    bool to = refinement_given(scale, value);
    if (to && cell_type(scale) == T_MONEY) {
        Cell word;
        stack_caller_word(&word);
        error_raise_type(ERR_NOT_RELATED, &word, T_MONEY);
    }
    int32_t v = cell_int(value);
    if (v == INT32_LOWEST) return;
    int64_t s = 1;
    if (to) {
        if (cell_type(scale) != T_INTEGER) {
            float_make_at(value, double(v));
            float_round_cell(value, scale,
                             RoundFlags{even, down, half_down, floor, ceiling, half_ceiling});
            return;
        }
        s = integer_absolute(cell_int(scale));
    }
    if (s == 0) return;
    int64_t a = v < 0 ? -int64_t(v) : v;
    int64_t rem = a % s;
    if (rem == 0) return;
    int64_t lower = a - rem, d = s - rem, upper = a + d;
    bool up;
    if (down) up = false;
    else if (floor) up = v < 0;
    else if (ceiling) up = v > 0;
    else if (rem != d) up = rem > d;
    else if (even) up = (a / s) % 2 != 0;
    else if (half_down) up = false;
    else if (half_ceiling) up = v > 0;
    else up = true;
    if (up && upper > INT32_MAX) error_raise(ERR_OVERFLOW);
    int64_t magnitude = up ? upper : lower;
    integer_set(value, int32_t(v < 0 ? -magnitude : magnitude));
}

// ---- random --------------------------------------------------------------------

// With seed the generator is seeded with the value and the result is unset!;
// otherwise n becomes a draw from 1 to n (or n to -1), 0 staying 0. Only the
// value word changes, so char! (which inherits this) keeps its type.
static void integer_random(Cell* value, bool seed, bool secure, bool only) {
    if (seed) {
        random_mt_seed(uint32_t(integer_get(value)));
        unset_make_at(value);
        return;
    }
    integer_set(value, int32_t(random_in_range(secure, cell_int(value))));
}

// ---- registration --------------------------------------------------------------

void init_integer() {
    const ActionRow actions[] = {
        {A_MAKE, integer_make},
        {A_RANDOM, integer_random},
        {A_TO, integer_to},
        {A_FORM, integer_form},
        {A_MOLD, integer_form},
        {A_COMPARE, integer_compare},
        {A_ABSOLUTE, integer_absolute_action},
        {A_ADD, integer_add},
        {A_DIVIDE, integer_divide},
        {A_MULTIPLY, integer_multiply},
        {A_NEGATE, integer_negate},
        {A_POWER, integer_power},
        {A_REMAINDER, integer_remainder},
        {A_ROUND, integer_round},
        {A_SUBTRACT, integer_subtract},
        {A_EVEN_Q, integer_even_q},
        {A_ODD_Q, integer_odd_q},
        {A_AND_T, integer_and},
        {A_COMPLEMENT, integer_complement},
        {A_OR_T, integer_or},
        {A_XOR_T, integer_xor},
    };
    datatype_register(T_INTEGER, 0, "integer!", actions);
}

} // namespace kel
