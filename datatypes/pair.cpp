#include "datatypes/pair.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/point.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/logic.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/lexer.hpp"
#include "core/word.hpp"
#include "runtime/random.hpp"
#include <cmath>
#include <cstring>

namespace kel {

// ---- errors ----------------------------------------------------------------

[[noreturn]] static void raise_caller_not_related(uint8_t type) {
    Cell word;
    stack_caller_word(&word);
    error_raise_type(ERR_NOT_RELATED, &word, type);
}

// ---- helpers ---------------------------------------------------------------

void make_from_spec_text(const Cell* text, Cell* out) {
    Cell* values = stack_push_new(T_NONE);
    lexer_scan_string(values, text, -1, LexerOptions{}, nullptr);
    if (cell_type(values) == T_BLOCK && series_buffer_of(values)->length() > 0)
        *out = *block_cells(series_node(values));
    else
        cell_init(out, T_UNSET);
    cell_clear_newline(out);
    stack_pop(1);
}

int32_t pair_number(const Cell* cell) {
    if (cell_type(cell) == T_INTEGER) return integer_get(cell);
    int32_t n;
    if (!integer_from_double(cell_double(cell), &n)) error_raise(ERR_INVALID_ARG, cell);
    return n;
}

int32_t pair_field_index(const Cell* word, const Cell* value) {
    uint32_t symbol = symbol_resolve(word_symbol(word));
    if (symbol == symbol_resolve(runtime_symbol(SYM_COORD_X))) return 1;
    if (symbol == symbol_resolve(runtime_symbol(SYM_COORD_Y))) return 2;
    if (cell_type(value) == T_PAIR) error_raise(ERR_CANNOT_USE, word, value);
    error_raise(ERR_INVALID_PATH, value, word);
}

void pair_to_point(Cell* cell) {
    double x = pair_x(cell), y = pair_y(cell);
    cell_init(cell, T_POINT2D);
    point2d_init(cell, x, y);
}

// ---- kernel ----------------------------------------------------------------

// Redoes the operation on point2D! values: a as a point, b the point (bx, by).
static void pair_math_as_points(Cell* a, double bx, double by, int32_t op) {
    Cell left = *a, right;
    pair_to_point(&left);
    cell_init(&right, T_POINT2D);
    point2d_init(&right, bx, by);
    point2d_math_op(&left, &right, op);
    cell_copy(&left, a);
}

void pair_math_op(Cell* a, const Cell* b, int32_t op) {
    int32_t bx, by;
    switch (cell_type(b)) {
    case T_PAIR: bx = pair_x(b); by = pair_y(b); break;
    case T_INTEGER: bx = by = integer_get(b); break;
    case T_POINT2D: {
        Cell left = *a;
        pair_to_point(&left);
        point2d_math_op(&left, b, op);
        cell_copy(&left, a);
        return;
    }
    case T_FLOAT:
    case T_PERCENT: {
        double f = cell_double(b);
        if (!std::isfinite(f)) error_raise(ERR_INVALID_ARG, b);
        if (op == OP_MULTIPLY || op == OP_DIVIDE) {
            double x = pair_x(a), y = pair_y(a);
            double rx = op == OP_MULTIPLY ? x * f : x / f, ry = op == OP_MULTIPLY ? y * f : y / f;
            cell_init(a, T_POINT2D);
            point2d_init(a, rx, ry);
            return;
        }
        // Other operations take the truncated number; one beyond 32 bits
        // cannot be a pair component, so the operation runs on points.
        double t = std::trunc(f);
        if (!integer_from_double(t, &bx)) {
            pair_math_as_points(a, t, t, op);
            return;
        }
        by = bx;
        break;
    }
    default: error_raise_type(ERR_INVALID_TYPE, cell_type(b));
    }
    Cell scratch;
    cell_init(&scratch, T_INTEGER);
    int32_t x = integer_math_op(pair_x(a), bx, op, &scratch);
    bool promote = cell_type(&scratch) != T_INTEGER;
    cell_init(&scratch, T_INTEGER);
    int32_t y = integer_math_op(pair_y(a), by, op, &scratch);
    promote = promote || cell_type(&scratch) != T_INTEGER;
    if (promote) {
        pair_math_as_points(a, bx, by, op);
        return;
    }
    pair_set(a, int32_t(x), int32_t(y));
}

// ---- make, to ----------------------------------------------------------------

// The 32-bit truncation of a finite double; anything else raises invalid-arg with its spec.
static int32_t pair_truncate(double d, const Cell* spec) {
    int32_t n;
    if (!integer_from_double(d, &n)) error_raise(ERR_INVALID_ARG, spec);
    return n;
}

const Cell* pair_make(Cell* proto, const Cell* spec, uint8_t) {
    int32_t x, y;
    switch (cell_type(spec)) {
    case T_PAIR: return spec;
    case T_INTEGER: x = y = integer_get(spec); break;
    case T_FLOAT: x = y = pair_truncate(cell_double(spec), spec); break;
    case T_POINT2D:
        x = pair_truncate(point_coord(spec, 0), spec);
        y = pair_truncate(point_coord(spec, 1), spec);
        break;
    case T_BLOCK: {
        int32_t remaining = block_ks_length_q(spec);
        uint32_t count = remaining > 0 ? uint32_t(remaining) : 0;
        const Cell* cells = count > 0 ? block_ks_abs_at(spec, uint32_t(series_index(spec))) : nullptr;
        auto number_q = [](const Cell* c) { return cell_type(c) == T_INTEGER || cell_type(c) == T_FLOAT; };
        if (count < 2 || !number_q(&cells[0]) || !number_q(&cells[1])) error_raise(ERR_MALCONSTRUCT, spec);
        x = pair_number(&cells[0]);
        y = pair_number(&cells[1]);
        break;
    }
    case T_STRING: {
        Cell loaded;
        make_from_spec_text(spec, &loaded);
        if (cell_type(&loaded) != T_PAIR) error_raise_type(ERR_BAD_TO_ARG, T_PAIR, spec);
        cell_copy(&loaded, proto);
        return proto;
    }
    default: error_raise_type(ERR_BAD_TO_ARG, T_PAIR, spec);
    }
    cell_init(proto, T_PAIR);
    return pair_init(proto, x, y);
}

// ---- form, mold, compare -------------------------------------------------------

int32_t pair_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget, int32_t) {
    char text[24];  // two "-2147483648" and the "x"
    size_t n = std::strlen(std::strcpy(text, integer_form_buffer(pair_x(value))));
    text[n++] = 'x';
    std::strcpy(text + n, integer_form_buffer(pair_y(value)));
    uint32_t length = uint32_t(std::strlen(text));
    string_append_ascii(target, text, length);
    return budget - int32_t(length);
}

int32_t pair_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) == T_POINT2D) {
        Cell point = *value1;
        pair_to_point(&point);
        return point2d_compare(&point, value2, op);
    }
    if (cell_type(value2) != T_PAIR) return COMPARE_INCOMPARABLE;
    int32_t a = pair_x(value1), b = pair_x(value2);
    if (a == b) { a = pair_y(value1); b = pair_y(value2); }
    return (a > b) - (a < b);
}

// ---- fields ----------------------------------------------------------------

void pair_eval_path(Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                    bool, Cell* out) {
    int32_t index = 0;
    if (cell_type(element) == T_INTEGER) index = integer_get(element);
    else if (cell_type(element) == T_WORD) index = pair_field_index(element, parent);
    if (index != 1 && index != 2) error_raise(ERR_INVALID_PATH, path, element);
    if (set_value == nullptr) {
        cell_init(out, T_INTEGER);
        integer_set(out, index == 1 ? pair_x(parent) : pair_y(parent));
        return;
    }
    if (cell_type(set_value) != T_INTEGER) error_raise_type(ERR_INVALID_TYPE, cell_type(set_value));
    if (index == 1) pair_set(parent, integer_get(set_value), pair_y(parent));
    else pair_set(parent, pair_x(parent), integer_get(set_value));
    cell_copy(set_value, out);
}

void pair_pick(Cell* value, const Cell* index) {
    int32_t n = 0;
    switch (cell_type(index)) {
    case T_WORD: n = pair_field_index(index, value); break;
    case T_INTEGER:
    case T_CHAR: n = integer_get(index); break;
    case T_LOGIC: n = logic_get(index) ? 1 : 2; break;
    default: break;
    }
    if (n != 1 && n != 2) error_raise(ERR_OUT_OF_RANGE, index);
    int32_t component = n == 1 ? pair_x(value) : pair_y(value);
    cell_init(value, T_INTEGER);
    integer_set(value, component);
}

void pair_reverse(Cell* value, const Cell*, const Cell*) {
    pair_set(value, pair_y(value), pair_x(value));
}

// ---- one-operand actions -------------------------------------------------------

void pair_absolute(Cell* value) {
    int32_t x = integer_absolute(pair_x(value)), y = integer_absolute(pair_y(value));
    pair_init(value, x, y);
}

// Two's complement: the negation of -2147483648 stays -2147483648.
void pair_negate(Cell* value) {
    value->w2 = 0u - value->w2;
    value->w3 = 0u - value->w3;
}

// ---- two-operand actions -------------------------------------------------------

void pair_add(Cell* value1, const Cell* value2) { pair_math_op(value1, value2, OP_ADD); }
void pair_subtract(Cell* value1, const Cell* value2) { pair_math_op(value1, value2, OP_SUBTRACT); }
void pair_multiply(Cell* value1, const Cell* value2) { pair_math_op(value1, value2, OP_MULTIPLY); }
void pair_divide(Cell* value1, const Cell* value2) { pair_math_op(value1, value2, OP_DIVIDE); }
void pair_remainder(Cell* value1, const Cell* value2) { pair_math_op(value1, value2, OP_REMAINDER); }
void pair_and(Cell* value1, const Cell* value2) { pair_math_op(value1, value2, OP_AND); }
void pair_or(Cell* value1, const Cell* value2) { pair_math_op(value1, value2, OP_OR); }
void pair_xor(Cell* value1, const Cell* value2) { pair_math_op(value1, value2, OP_XOR); }

// A rounded component back as an int32: an integer! as it is, a double
// truncated; a result beyond 32 bits raises math error overflow.
static int32_t pair_rounded(const Cell* cell) {
    if (cell_type(cell) == T_INTEGER) return integer_get(cell);
    int32_t n;
    if (!integer_from_double(cell_double(cell), &n)) error_raise(ERR_OVERFLOW);
    return n;
}

void pair_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
                bool ceiling, bool half_ceiling) {
    bool to = refinement_given(scale, value);
    if (to && cell_type(scale) == T_MONEY) raise_caller_not_related(T_MONEY);
    int32_t result[2];
    for (int i = 0; i < 2; ++i) {
        // The component and the scale as presented for it.
        Cell cells[2];
        cell_init(&cells[0], T_INTEGER);
        integer_set(&cells[0], i == 0 ? pair_x(value) : pair_y(value));
        if (to) {
            cells[1] = *scale;
            if (cell_type(scale) == T_PAIR) {
                cell_init(&cells[1], T_INTEGER);
                integer_set(&cells[1], i == 0 ? pair_x(scale) : pair_y(scale));
            }
        }
        integer_round(&cells[0], to ? &cells[1] : nullptr, even, down, half_down, floor, ceiling,
                      half_ceiling);
        result[i] = pair_rounded(&cells[0]);
    }
    pair_init(value, result[0], result[1]);
}

// ---- literal text ----------------------------------------------------------

bool scan_pair(const uint8_t* start, const uint8_t* end, Cell* out) {
    const uint8_t* joint = start;
    while (joint < end && *joint != 'x' && *joint != 'X') ++joint;
    if (joint == end) return false;
    int32_t x_error, y_error;
    int32_t x = scan_integer(start, uint32_t(joint - start), 1, &x_error);
    int32_t y = scan_integer(joint + 1, uint32_t(end - joint - 1), 1, &y_error);
    if (x_error != 0 || y_error != 0) return false;
    pair_init(out, x, y);
    return true;
}

// ---- random --------------------------------------------------------------------

// Each non-zero component becomes a random integer between 1 and it (between
// it and -1 when negative); with seed the generator is seeded with x xor y.
static void pair_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_mt_seed(value->w2 ^ value->w3);
        unset_make_at(value);
        return;
    }
    value->w2 = uint32_t(random_in_range(secure, pair_x(value)));
    value->w3 = uint32_t(random_in_range(secure, pair_y(value)));
}

// ---- registration --------------------------------------------------------------

void init_pair() {
    const ActionRow actions[] = {
        {A_MAKE, pair_make},
        {A_RANDOM, pair_random},
        {A_TO, pair_make},
        {A_FORM, pair_form},
        {A_MOLD, pair_form},
        {A_EVAL_PATH, pair_eval_path},
        {A_COMPARE, pair_compare},
        {A_ABSOLUTE, pair_absolute},
        {A_ADD, pair_add},
        {A_DIVIDE, pair_divide},
        {A_MULTIPLY, pair_multiply},
        {A_NEGATE, pair_negate},
        {A_REMAINDER, pair_remainder},
        {A_ROUND, pair_round},
        {A_SUBTRACT, pair_subtract},
        {A_AND_T, pair_and},
        {A_OR_T, pair_or},
        {A_XOR_T, pair_xor},
        {A_PICK, pair_pick},
        {A_REVERSE, pair_reverse},
    };
    datatype_register(T_PAIR, 0, "pair!", actions);
    datatype_hooks_set(T_PAIR, {.scan = scan_pair});
}

} // namespace kel
