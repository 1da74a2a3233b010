#include "datatypes/tuple.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "runtime/random.hpp"
#include <cmath>
#include <cstring>

namespace kel {

// ---- cells -----------------------------------------------------------------

Cell* tuple_init(Cell* cell, uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3) {
    cell->header = (cell->header & ~(CELL_TYPE_MASK | TUPLE_COUNT_MASK)) |
                   (count << TUPLE_COUNT_SHIFT) | T_TUPLE;
    cell->w1 = w1;
    cell->w2 = w2;
    cell->w3 = w3;
    return cell;
}

// Sets the count, keeping the type and the other flags.
static void tuple_count_set(Cell* cell, uint32_t count) {
    cell->header = (cell->header & ~TUPLE_COUNT_MASK) | (count << TUPLE_COUNT_SHIFT);
}

Cell* tuple_push(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3) {
    return tuple_init(stack_push_new(T_TUPLE), count, w1, w2, w3);
}

Cell* tuple_from_bytes(uint32_t count, const uint32_t* values) {
    if (count > TUPLE_MAX_BYTES) count = TUPLE_MAX_BYTES;
    Cell* cell = tuple_push(count < TUPLE_MIN_BYTES ? TUPLE_MIN_BYTES : count, 0, 0, 0);
    for (uint32_t i = 0; i < count; ++i) tuple_byte_set(cell, i, uint8_t(values[i]));
    return cell;
}

void tuple_from_binary(const Cell* binary, Cell* cell) {
    SeriesBuffer* buffer = series_buffer_of(binary);
    uint32_t length = buffer->length();
    uint32_t head = uint32_t(series_index(binary)) < length ? uint32_t(series_index(binary)) : length;
    uint32_t count = length - head < TUPLE_MAX_BYTES ? length - head : TUPLE_MAX_BYTES;
    const uint8_t* bytes = buffer->head_ptr() + head;
    cell_init(cell, T_TUPLE);
    tuple_init(cell, count < TUPLE_MIN_BYTES ? TUPLE_MIN_BYTES : count, 0, 0, 0);
    for (uint32_t i = 0; i < count; ++i) tuple_byte_set(cell, i, bytes[i]);
}

static int hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void tuple_from_issue(const Cell* issue, Cell* out) {
    uint32_t length;
    const uint8_t* name = symbol_name(word_symbol(issue), &length);
    uint8_t digits[8];
    bool valid = length == 3 || length == 6 || length == 8;
    for (uint32_t i = 0; valid && i < length; ++i) {
        int d = hex_digit(name[i]);
        valid = d >= 0;
        if (valid) digits[i] = uint8_t(d);
    }
    if (!valid) error_raise(ERR_INVALID_DATA, issue);
    Cell result;
    cell_init(&result, T_TUPLE);
    if (length == 3) {
        tuple_init(&result, 3, 0, 0, 0);
        for (uint32_t i = 0; i < 3; ++i) tuple_byte_set(&result, i, uint8_t(digits[i] * 17));
    } else {
        tuple_init(&result, length / 2, 0, 0, 0);
        for (uint32_t i = 0; i < length / 2; ++i)
            tuple_byte_set(&result, i, uint8_t(digits[2 * i] << 4 | digits[2 * i + 1]));
    }
    cell_copy(&result, out);
}

void tuple_rgba(Cell* cell, int32_t red, int32_t green, int32_t blue, int32_t alpha) {
    uint32_t w1 = uint8_t(red) | uint32_t(uint8_t(green)) << 8 | uint32_t(uint8_t(blue)) << 16;
    if (alpha >= 0) w1 |= uint32_t(uint8_t(alpha)) << 24;
    cell_init(cell, T_TUPLE);
    tuple_init(cell, alpha >= 0 ? 4 : 3, w1, 0, 0);
}

bool tuple_zero_q(const Cell* tuple) {
    for (uint32_t i = 0; i < tuple_count(tuple); ++i)
        if (tuple_byte(tuple, i) != 0) return false;
    return true;
}

static uint8_t clamp_byte(int32_t n) { return uint8_t(n < 0 ? 0 : n > 255 ? 255 : n); }

void tuple_poke(Cell* tuple, int32_t index, const Cell* value) {
    uint32_t count = tuple_count(tuple);
    if (index < 1 || uint32_t(index) > count) {
        Cell position;
        cell_init(&position, T_INTEGER);
        integer_set(&position, int32_t(index));
        error_raise(ERR_OUT_OF_RANGE, &position);
    }
    if (cell_type(value) == T_INTEGER) {
        tuple_byte_set(tuple, uint32_t(index - 1), clamp_byte(integer_get(value)));
        return;
    }
    for (uint32_t i = uint32_t(index - 1); i < count; ++i) tuple_byte_set(tuple, i, 0);
    tuple_count_set(tuple, uint32_t(index - 1) < TUPLE_MIN_BYTES ? TUPLE_MIN_BYTES : uint32_t(index - 1));
}

// ---- errors ----------------------------------------------------------------

// ---- kernel ----------------------------------------------------------------

// The float-mode byte: the double result clamped to 0-255 before truncation
// (a NaN gives 0), so that no out-of-range double is ever converted.
static uint8_t float_byte(double r) {
    if (!(r > 0)) return 0;
    if (r >= 255) return 255;
    return uint8_t(r);
}

// The kernel proper on a tuple `t` (changed in place) and the other operand.
static void tuple_math_bytes(Cell* t, const Cell* other, int32_t op) {
    uint32_t count = tuple_count(t);
    uint8_t result[TUPLE_MAX_BYTES];
    switch (cell_type(other)) {
    case T_FLOAT:
    case T_PERCENT: {
        double f = cell_double(other);
        for (uint32_t i = 0; i < count; ++i) result[i] = float_byte(float_math_op(tuple_byte(t, i), f, op));
        break;
    }
    case T_TUPLE:
    case T_INTEGER: {
        bool tuple = cell_type(other) == T_TUPLE;
        if (tuple && tuple_count(other) > count) count = tuple_count(other);
        for (uint32_t i = 0; i < count; ++i) {
            int32_t b = tuple ? tuple_byte(other, i) : integer_get(other);
            Cell scratch;
            cell_init(&scratch, T_INTEGER);
            int32_t r = integer_math_op(tuple_byte(t, i), b, op, op == OP_DIVIDE ? nullptr : &scratch);
            if (cell_type(&scratch) != T_INTEGER) r = cell_double(&scratch) > 0 ? 255 : 0;
            result[i] = clamp_byte(r);
        }
        break;
    }
    default: error_raise_type(ERR_INVALID_TYPE, cell_type(other));
    }
    tuple_count_set(t, count);
    for (uint32_t i = 0; i < count; ++i) tuple_byte_set(t, i, result[i]);
}

void tuple_math_op(Cell* a, const Cell* b, int32_t op) {
    if (cell_type(a) == T_TUPLE) {
        Cell t = *a;
        tuple_math_bytes(&t, b, op);
        cell_copy(&t, a);
        return;
    }
    if (op == OP_SUBTRACT || op == OP_DIVIDE) {
        error_raise_type(ERR_NOT_RELATED, runtime_word(op == OP_DIVIDE ? W_DIVIDE : W_SUBTRACT), cell_type(a));
    }
    Cell t = *b;
    tuple_math_bytes(&t, a, op);
    cell_copy(&t, a);
}

// ---- make, to ----------------------------------------------------------------

const Cell* tuple_to(Cell* proto, const Cell* spec, uint8_t) {
    Cell result;
    cell_init(&result, T_TUPLE);
    switch (cell_type(spec)) {
    case T_TUPLE: return spec;
    case T_ISSUE: tuple_from_issue(spec, &result); break;
    case T_BINARY: tuple_from_binary(spec, &result); break;
    case T_BLOCK:
    case T_PAREN:
    case T_HASH: {
        int32_t remaining = block_ks_length_q(spec);
        uint32_t count = remaining > 0 ? uint32_t(remaining) : 0;
        const Cell* cells = count > 0 ? block_ks_abs_at(spec, uint32_t(series_index(spec))) : nullptr;
        if (count > TUPLE_MAX_BYTES) error_raise_type(ERR_BAD_TO_ARG, T_TUPLE, spec);
        tuple_init(&result, count < TUPLE_MIN_BYTES ? TUPLE_MIN_BYTES : count, 0, 0, 0);
        for (uint32_t i = 0; i < count; ++i) {
            double n;
            switch (cell_type(&cells[i])) {
            case T_INTEGER:
            case T_CHAR: n = integer_get(&cells[i]); break;
            case T_FLOAT: n = std::trunc(cell_double(&cells[i])); break;
            default: error_raise_type(ERR_BAD_TO_ARG, T_TUPLE, spec);
            }
            if (!(n >= 0 && n <= 255)) error_raise_type(ERR_BAD_TO_ARG, T_TUPLE, spec);
            tuple_byte_set(&result, i, uint8_t(n));
        }
        break;
    }
    case T_STRING:
    case T_FILE:
    case T_URL:
    case T_TAG:
    case T_EMAIL:
    case T_REF:
        make_from_spec_text(spec, &result);
        if (cell_type(&result) != T_TUPLE) error_raise_type(ERR_BAD_TO_ARG, T_TUPLE, spec);
        break;
    default: error_raise_type(ERR_BAD_TO_ARG, T_TUPLE, spec);
    }
    cell_copy(&result, proto);
    return proto;
}

// ---- form, mold, compare -------------------------------------------------------

int32_t tuple_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget, int32_t) {
    char text[TUPLE_MAX_BYTES * 4];  // "255." per byte, the last dot's room for the NUL
    size_t n = 0;
    for (uint32_t i = 0; i < tuple_count(value); ++i) {
        if (i > 0) text[n++] = '.';
        const char* digits = integer_form_buffer(tuple_byte(value, i));
        size_t length = std::strlen(digits);
        std::memcpy(text + n, digits, length);
        n += length;
    }
    string_append_ascii(target, text, uint32_t(n));
    return budget - int32_t(n);
}

int32_t tuple_compare(const Cell* value1, const Cell* value2, int32_t) {
    if (cell_type(value2) != T_TUPLE) return COMPARE_INCOMPARABLE;
    uint32_t count = tuple_count(value1) > tuple_count(value2) ? tuple_count(value1) : tuple_count(value2);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t a = i < tuple_count(value1) ? tuple_byte(value1, i) : 0;
        uint8_t b = i < tuple_count(value2) ? tuple_byte(value2, i) : 0;
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

// ---- fields ----------------------------------------------------------------

// The byte at a 1-based index as an integer! into out; out-of-range otherwise.
static void tuple_pick_at(const Cell* tuple, int32_t n, const Cell* index, Cell* out) {
    if (n < 1 || uint32_t(n) > tuple_count(tuple)) error_raise(ERR_OUT_OF_RANGE, index);
    uint8_t byte = tuple_byte(tuple, uint32_t(n - 1));
    cell_init(out, T_INTEGER);
    integer_set(out, byte);
}

void tuple_eval_path(Cell* parent, const Cell* element, const Cell* set_value, const Cell*, bool,
                     Cell* out) {
    if (cell_type(element) != T_INTEGER) error_raise_type(ERR_INVALID_TYPE, cell_type(element));
    if (set_value == nullptr) {
        tuple_pick_at(parent, integer_get(element), element, out);
        return;
    }
    uint8_t type = cell_type(set_value);
    if (type != T_INTEGER && type != T_NONE) error_raise_type(ERR_INVALID_TYPE, type);
    tuple_poke(parent, integer_get(element), set_value);
    cell_copy(set_value, out);
}

void tuple_pick(Cell* value, const Cell* index) {
    int32_t n = 0;
    switch (cell_type(index)) {
    case T_INTEGER:
    case T_CHAR: n = integer_get(index); break;
    case T_LOGIC: n = logic_get(index) ? 1 : 2; break;
    default: break;
    }
    tuple_pick_at(value, n, index, value);
}

[[noreturn]] static void raise_refine_arg(RuntimeRefinement refinement, const Cell* value) {
    error_raise(ERR_INVALID_REFINE_ARG, runtime_refinement(refinement), value);
}

void tuple_reverse(Cell* value, const Cell* part, const Cell* skip) {
    uint32_t count = tuple_count(value);
    uint32_t span = count;
    if (part != nullptr) {
        if (cell_type(part) != T_INTEGER) raise_refine_arg(REF_PART, part);
        if (integer_get(part) < 0) error_raise(ERR_OUT_OF_RANGE, part);
        if (uint32_t(integer_get(part)) < span) span = uint32_t(integer_get(part));
    }
    uint32_t group = uint32_t(series_skip_size(skip, {.records = span}));
    // Exchange the groups pairwise from both ends of the span towards its middle.
    uint32_t groups = span / group;
    for (uint32_t i = 0, j = groups - 1; groups > 0 && i < j; ++i, --j) {
        for (uint32_t k = 0; k < group; ++k) {
            uint8_t a = tuple_byte(value, i * group + k), b = tuple_byte(value, j * group + k);
            tuple_byte_set(value, i * group + k, b);
            tuple_byte_set(value, j * group + k, a);
        }
    }
}

// ---- actions -------------------------------------------------------------------

void tuple_add(Cell* value1, const Cell* value2) { tuple_math_op(value1, value2, OP_ADD); }
void tuple_subtract(Cell* value1, const Cell* value2) { tuple_math_op(value1, value2, OP_SUBTRACT); }
void tuple_multiply(Cell* value1, const Cell* value2) { tuple_math_op(value1, value2, OP_MULTIPLY); }
void tuple_divide(Cell* value1, const Cell* value2) { tuple_math_op(value1, value2, OP_DIVIDE); }
void tuple_remainder(Cell* value1, const Cell* value2) { tuple_math_op(value1, value2, OP_REMAINDER); }
void tuple_and(Cell* value1, const Cell* value2) { tuple_math_op(value1, value2, OP_AND); }
void tuple_or(Cell* value1, const Cell* value2) { tuple_math_op(value1, value2, OP_OR); }
void tuple_xor(Cell* value1, const Cell* value2) { tuple_math_op(value1, value2, OP_XOR); }

const Cell* tuple_complement(Cell* value) {
    for (uint32_t i = 0; i < tuple_count(value); ++i) tuple_byte_set(value, i, uint8_t(~tuple_byte(value, i)));
    return value;
}

int32_t tuple_length_q(const Cell* value) { return int32_t(tuple_count(value)); }

// ---- literal text ----------------------------------------------------------

bool scan_tuple(const uint8_t* start, const uint8_t* end, Cell* out) {
    uint8_t bytes[TUPLE_MAX_BYTES];
    uint32_t count = 0;
    const uint8_t* p = start;
    for (;;) {
        uint32_t n = 0;
        const uint8_t* digits = p;
        while (p < end && *p >= '0' && *p <= '9' && n <= 255) n = n * 10 + uint32_t(*p++ - '0');
        if (p == digits || n > 255 || count == TUPLE_MAX_BYTES) return false;
        bytes[count++] = uint8_t(n);
        if (p == end) break;
        if (*p++ != '.') return false;
    }
    if (count < TUPLE_MIN_BYTES) return false;
    tuple_init(out, count, 0, 0, 0);
    for (uint32_t i = 0; i < count; ++i) tuple_byte_set(out, i, bytes[i]);
    return true;
}

// ---- random --------------------------------------------------------------------

// Each byte b within the count becomes a random integer from 0 to b; with
// seed the generator is seeded with the three payload words xored.
static void tuple_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_mt_seed(value->w1 ^ value->w2 ^ value->w3);
        unset_make_at(value);
        return;
    }
    for (uint32_t i = 0; i < tuple_count(value); i++)
        tuple_byte_set(value, i, uint8_t(random_in_range(secure, int32_t(tuple_byte(value, i)) + 1) - 1));
}

// ---- registration --------------------------------------------------------------

void init_tuple() {
    const ActionRow actions[] = {
        {A_MAKE, tuple_to},
        {A_RANDOM, tuple_random},
        {A_TO, tuple_to},
        {A_FORM, tuple_form},
        {A_MOLD, tuple_form},
        {A_EVAL_PATH, tuple_eval_path},
        {A_COMPARE, tuple_compare},
        {A_ADD, tuple_add},
        {A_DIVIDE, tuple_divide},
        {A_MULTIPLY, tuple_multiply},
        {A_REMAINDER, tuple_remainder},
        {A_SUBTRACT, tuple_subtract},
        {A_AND_T, tuple_and},
        {A_COMPLEMENT, tuple_complement},
        {A_OR_T, tuple_or},
        {A_XOR_T, tuple_xor},
        {A_LENGTH_Q, tuple_length_q},
        {A_PICK, tuple_pick},
        {A_REVERSE, tuple_reverse},
    };
    datatype_register(T_TUPLE, 0, "tuple!", actions);
    datatype_hooks_set(T_TUPLE, {.scan = scan_tuple});
}

} // namespace kel
