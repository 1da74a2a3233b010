#include "datatypes/char.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/vector.hpp"
#include "core/error.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/unicode.hpp"
#include "runtime/memory.hpp"
#include <cmath>
#include <cstring>

namespace kel {

// ---- make, to ----------------------------------------------------------------

static int32_t char_checked(int32_t n, const Cell* spec) {
    if (n < 0 || n > CHAR_MAX_CODEPOINT) error_raise(ERR_OUT_OF_RANGE, spec);
    return n;
}

const Cell* char_make(Cell* proto, const Cell* spec, uint8_t) {
    int32_t codepoint = 0;
    switch (cell_type(spec)) {
    case T_CHAR:
    case T_INTEGER: codepoint = char_checked(cell_int(spec), spec); break;
    case T_FLOAT:
    case T_PERCENT:
        if (!integer_from_double(cell_double(spec), &codepoint)) error_raise(ERR_OUT_OF_RANGE, spec);
        char_checked(codepoint, spec);
        break;
    case T_BINARY:
    case T_STRING:
    case T_FILE:
    case T_URL:
    case T_TAG:
    case T_EMAIL:
    case T_REF: {
        SeriesBuffer* buffer = series_buffer_of(spec);
        uint32_t length = buffer->length();
        if (uint32_t(series_index(spec)) >= length) {
            if (cell_type(spec) == T_BINARY) error_raise(ERR_INVALID_UTF8, spec);
            error_raise_type(ERR_BAD_TO_ARG, T_CHAR, spec);
        }
        const uint8_t* at = buffer->head_ptr() + (uint32_t(series_index(spec)) << buffer->shift());
        if (cell_type(spec) == T_BINARY) {
            utf8_decode_char(at, buffer->head_ptr() + length, &codepoint);
            if (codepoint < 0) error_raise(ERR_INVALID_UTF8, spec);
        } else if (buffer->unit() == 1) {
            codepoint = *at;
        } else if (buffer->unit() == 2) {
            uint16_t unit;
            std::memcpy(&unit, at, 2);
            codepoint = unit;
        } else {
            std::memcpy(&codepoint, at, 4);
        }
        break;
    }
    default: error_raise_type(ERR_BAD_TO_ARG, T_CHAR, spec);
    }
    char_make_at(proto, codepoint);
    return proto;
}

// ---- form, mold ------------------------------------------------------------------

// Appends one character at the target's tail through the string module's
// writer, which widens the buffer when the character does not fit its unit
// (a Latin-1 character keeps a unit-1 buffer as it is).
static void append_codepoint(Cell* target, int32_t codepoint) {
    string_poke_char(target, series_buffer_of(target)->length(), uint32_t(codepoint));
}

int32_t char_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                  int32_t) {
    append_codepoint(target, cell_int(value));
    return budget - 1;
}

int32_t char_mold(const Cell* value, Cell* target, bool, bool all, bool, bool, int32_t budget,
                  int32_t) {
    string_append_ascii(target, "#\"", 2);
    char_append_escaped(target, cell_int(value), all);
    string_append_ascii(target, "\"", 1);
    return budget - 4;
}

// ---- compare, arithmetic -----------------------------------------------------------

int32_t char_compare(const Cell* value1, const Cell* value2, int32_t op) {
    uint8_t other = cell_type(value2);
    if ((op == CMP_STRICT_EQUAL || op == CMP_FIND) && other != T_CHAR) return 1;
    if (other != T_CHAR && other != T_INTEGER) return COMPARE_INCOMPARABLE;
    int32_t a = cell_int(value1), b = cell_int(value2);
    return (a > b) - (a < b);
}

void char_do_math(Cell* left, const Cell* right, int32_t op) {
    int32_t value;
    switch (cell_type(right)) {
    case T_CHAR:
    case T_INTEGER: value = cell_int(right); break;
    case T_FLOAT:
        // Beyond 32 bits no result can be a codepoint.
        if (!integer_from_double(cell_double(right), &value)) error_raise(ERR_OVERFLOW);
        break;
    case T_VECTOR:
        vector_number_first_op(left, right, op);
        return;
    default: {
        error_raise_type(ERR_INVALID_TYPE, cell_type(right));
    }
    }
    Cell scratch;
    char_make_at(&scratch, 0);
    int32_t n = integer_math_op(cell_int(left), value, op,
                                op == OP_DIVIDE ? nullptr : &scratch);
    if (cell_type(&scratch) != T_CHAR || n < 0 || n > CHAR_MAX_CODEPOINT)
        error_raise(ERR_OVERFLOW);
    cell_set_int(left, int32_t(n));
}

void char_add(Cell* value1, const Cell* value2) { char_do_math(value1, value2, OP_ADD); }
void char_subtract(Cell* value1, const Cell* value2) { char_do_math(value1, value2, OP_SUBTRACT); }
void char_multiply(Cell* value1, const Cell* value2) { char_do_math(value1, value2, OP_MULTIPLY); }
void char_divide(Cell* value1, const Cell* value2) { char_do_math(value1, value2, OP_DIVIDE); }
void char_remainder(Cell* value1, const Cell* value2) { char_do_math(value1, value2, OP_REMAINDER); }
void char_and(Cell* value1, const Cell* value2) { char_do_math(value1, value2, OP_AND); }
void char_or(Cell* value1, const Cell* value2) { char_do_math(value1, value2, OP_OR); }
void char_xor(Cell* value1, const Cell* value2) { char_do_math(value1, value2, OP_XOR); }

void init_char() {
    const ActionRow actions[] = {
        {A_MAKE, char_make},
        {A_RANDOM, ACTION_INHERIT},
        {A_TO, char_make},
        {A_FORM, char_form},
        {A_MOLD, char_mold},
        {A_COMPARE, char_compare},
        {A_ABSOLUTE, ACTION_INHERIT},
        {A_ADD, char_add},
        {A_DIVIDE, char_divide},
        {A_MULTIPLY, char_multiply},
        {A_REMAINDER, char_remainder},
        {A_SUBTRACT, char_subtract},
        {A_EVEN_Q, ACTION_INHERIT},
        {A_ODD_Q, ACTION_INHERIT},
        {A_AND_T, char_and},
        {A_OR_T, char_or},
        {A_XOR_T, char_xor},
    };
    datatype_register(T_CHAR, T_INTEGER, "char!", actions);
}

} // namespace kel
