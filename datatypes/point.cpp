#include "datatypes/point.hpp"
#include "datatypes/float.hpp"
#include "core/float_text.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
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
#include "core/word.hpp"
#include "runtime/random.hpp"
#include <cfloat>
#include <cmath>
#include <cstring>

namespace kel {

// Writes all components of a point of the given type (flags cleared).
static void point_make_at(Cell* cell, uint8_t type, const double* c) {
    cell_init(cell, type);
    for (int i = 0; i < point_dimensions(type); ++i) point_coord_set(cell, i, c[i]);
}

// ---- errors ----------------------------------------------------------------

[[noreturn]] static void raise_caller_with_datatype(ScriptError id, uint8_t type) {
    Cell word;
    stack_caller_word(&word);
    error_raise_type(id, &word, type);
}

// ---- helpers ---------------------------------------------------------------

double point_number(const Cell* cell) {
    if (cell_type(cell) == T_INTEGER) return double(integer_get(cell));
    return double(point_single(cell_double(cell)));
}

// 1 to 3 for x, y, z within the type's dimensions, else 0.
static int32_t point_word_index(const Cell* word, int dimensions) {
    uint32_t symbol = symbol_resolve(word_symbol(word));
    static const RuntimeSymbol fields[3] = {SYM_COORD_X, SYM_COORD_Y, SYM_COORD_Z};
    for (int i = 0; i < dimensions; ++i)
        if (symbol == symbol_resolve(runtime_symbol(fields[i]))) return i + 1;
    return 0;
}

static int32_t point_field_index(const Cell* word, const Cell* value, uint8_t type) {
    int32_t index = point_word_index(word, point_dimensions(type));
    if (index != 0) return index;
    if (cell_type(value) == type) error_raise(ERR_CANNOT_USE, word, value);
    error_raise(ERR_INVALID_PATH, value, word);
}

int32_t point2d_field_index(const Cell* word, const Cell* value) {
    return point_field_index(word, value, T_POINT2D);
}

int32_t point3d_field_index(const Cell* word, const Cell* value) {
    return point_field_index(word, value, T_POINT3D);
}

// ---- kernel ----------------------------------------------------------------

static void point_math_op(Cell* a, const Cell* b, int32_t op) {
    uint8_t type = cell_type(a);
    int dimensions = point_dimensions(type);
    if (op > OP_REMAINDER) raise_caller_with_datatype(ERR_CANNOT_USE, type);
    double other[3];
    switch (cell_type(b)) {
    case T_INTEGER: other[0] = other[1] = other[2] = integer_get(b); break;
    case T_FLOAT:
    case T_PERCENT: other[0] = other[1] = other[2] = cell_double(b); break;
    case T_PAIR:
        if (type != T_POINT2D) error_raise_type(ERR_INVALID_TYPE, T_PAIR);
        other[0] = pair_x(b);
        other[1] = pair_y(b);
        break;
    default:
        if (cell_type(b) != type) error_raise_type(ERR_INVALID_TYPE, cell_type(b));
        for (int i = 0; i < dimensions; ++i) other[i] = point_coord(b, i);
    }
    double result[3];
    for (int i = 0; i < dimensions; ++i) result[i] = float_math_op(point_coord(a, i), other[i], op);
    for (int i = 0; i < dimensions; ++i) point_coord_set(a, i, result[i]);
}

void point2d_math_op(Cell* a, const Cell* b, int32_t op) { point_math_op(a, b, op); }
void point3d_math_op(Cell* a, const Cell* b, int32_t op) { point_math_op(a, b, op); }

void point_math_number_first(Cell* number, const Cell* compound, int32_t op) {
    Cell a = *compound, b = *number;
    if (op == OP_SUBTRACT) {
        if (cell_type(&a) == T_PAIR) pair_negate(&a);
        else point_negate(&a);
        op = OP_ADD;
    }
    if (cell_type(&a) == T_PAIR) pair_math_op(&a, &b, op);
    else point_math_op(&a, &b, op);
    cell_copy(&a, number);
}

// ---- make, to ----------------------------------------------------------------

const Cell* point_make(Cell* proto, const Cell* spec, uint8_t type) {
    int dimensions = point_dimensions(type);
    double c[3] = {0, 0, 0};
    switch (cell_type(spec)) {
    case T_INTEGER:
    case T_FLOAT: c[0] = c[1] = c[2] = point_number(spec); break;
    case T_PAIR:
        c[0] = pair_x(spec);
        c[1] = pair_y(spec);
        break;
    case T_POINT2D:
    case T_POINT3D:
        if (cell_type(spec) == type) return spec;
        if (type == T_POINT2D) error_raise_type(ERR_BAD_TO_ARG, type, spec);
        c[0] = point_coord(spec, 0);
        c[1] = point_coord(spec, 1);
        break;
    case T_BLOCK: {
        int32_t remaining = block_ks_length_q(spec);
        uint32_t count = remaining > 0 ? uint32_t(remaining) : 0;
        const Cell* cells = count > 0 ? block_ks_abs_at(spec, uint32_t(series_index(spec))) : nullptr;
        if (count < uint32_t(dimensions)) error_raise(ERR_MALCONSTRUCT, spec);
        for (int i = 0; i < dimensions; ++i) {
            if (cell_type(&cells[i]) != T_INTEGER && cell_type(&cells[i]) != T_FLOAT)
                error_raise(ERR_MALCONSTRUCT, spec);
            c[i] = point_number(&cells[i]);
        }
        break;
    }
    case T_STRING: {
        Cell loaded;
        make_from_spec_text(spec, &loaded);
        if (cell_type(&loaded) != type) error_raise_type(ERR_BAD_TO_ARG, type, spec);
        cell_copy(&loaded, proto);
        return proto;
    }
    default: error_raise_type(ERR_BAD_TO_ARG, type, spec);
    }
    point_make_at(proto, type, c);
    return proto;
}

// ---- form, mold, compare -------------------------------------------------------

int32_t point_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget, int32_t) {
    // The value may lie in a block buffer that appending moves: work on a copy.
    const Cell point = *value;
    int32_t written = 0;
    auto put = [&](const char* text) {
        uint32_t length = uint32_t(std::strlen(text));
        string_append_ascii(target, text, length);
        written += int32_t(length);
    };
    put("(");
    for (int i = 0; i < point_dimensions(cell_type(&point)); ++i) {
        if (i > 0) put(", ");
        put(float_to_text(point_coord(&point, i), FLOAT_TEXT_POINT));
    }
    put(")");
    return budget - written;
}

static int32_t point_compare(const Cell* a, const Cell* b, int32_t op) {
    int dimensions = point_dimensions(cell_type(a));
    switch (op) {
    case CMP_EQUAL:
    case CMP_NOT_EQUAL:
        for (int i = 0; i < dimensions; ++i)
            if (!float32_near_equal_q(point_coord(a, i), point_coord(b, i))) return 1;
        return 0;
    case CMP_STRICT_EQUAL:
        for (int i = 0; i < dimensions; ++i)
            if (!(point_coord(a, i) == point_coord(b, i))) return 1;
        return 0;
    case CMP_SAME:
        for (int i = 0; i < dimensions; ++i)
            if (std::bit_cast<uint32_t>(point_coord(a, i)) != std::bit_cast<uint32_t>(point_coord(b, i)))
                return 1;
        return 0;
    default: break;
    }
    double d = 0;
    for (int i = 0; i < dimensions; ++i) {
        d = double(point_coord(a, i)) - double(point_coord(b, i));
        if (!float32_near_equal_q(float(d), 0.0f)) break;
    }
    return (d > 0) - (d < 0);
}

int32_t point2d_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) == T_PAIR) {
        Cell point = *value2;
        pair_to_point(&point);
        return point_compare(value1, &point, op);
    }
    if (cell_type(value2) != T_POINT2D) return COMPARE_INCOMPARABLE;
    return point_compare(value1, value2, op);
}

int32_t point3d_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_POINT3D) return COMPARE_INCOMPARABLE;
    return point_compare(value1, value2, op);
}

// ---- fields ----------------------------------------------------------------

void point_eval_path(Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                     bool, Cell* out) {
    int dimensions = point_dimensions(cell_type(parent));
    int32_t index = 0;
    if (cell_type(element) == T_INTEGER) index = integer_get(element);
    else if (cell_type(element) == T_WORD) index = point_field_index(element, parent, cell_type(parent));
    if (index < 1 || index > dimensions) error_raise(ERR_INVALID_PATH, path, element);
    if (set_value == nullptr) {
        float_make_at(out, point_coord(parent, index - 1));
        return;
    }
    uint8_t type = cell_type(set_value);
    if (type != T_INTEGER && type != T_FLOAT) error_raise_type(ERR_INVALID_TYPE, type);
    point_coord_set(parent, index - 1, type == T_INTEGER ? double(integer_get(set_value))
                                                         : cell_double(set_value));
    cell_copy(set_value, out);
}

void point_pick(Cell* value, const Cell* index) {
    uint8_t type = cell_type(value);
    int32_t n = 0;
    switch (cell_type(index)) {
    case T_WORD: n = point_field_index(index, value, type); break;
    case T_INTEGER:
    case T_CHAR: n = integer_get(index); break;
    case T_LOGIC: n = logic_get(index) ? 1 : 2; break;
    default: break;
    }
    if (n < 1 || n > point_dimensions(type)) error_raise(ERR_OUT_OF_RANGE, index);
    float_make_at(value, point_coord(value, n - 1));
}

void point_reverse(Cell* value, const Cell*, const Cell*) {
    if (cell_type(value) == T_POINT3D) std::swap(value->w1, value->w3);
    else std::swap(value->w1, value->w2);
}

// ---- one-operand actions -------------------------------------------------------

void point_absolute(Cell* value) {
    for (int i = 0; i < point_dimensions(cell_type(value)); ++i)
        point_coord_set(value, i, std::fabs(double(point_coord(value, i))));
}

void point_negate(Cell* value) {
    for (int i = 0; i < point_dimensions(cell_type(value)); ++i)
        point_coord_set(value, i, 0.0 - double(point_coord(value, i)));
}

// ---- two-operand actions -------------------------------------------------------

void point_add(Cell* value1, const Cell* value2) { point_math_op(value1, value2, OP_ADD); }
void point_subtract(Cell* value1, const Cell* value2) { point_math_op(value1, value2, OP_SUBTRACT); }
void point_multiply(Cell* value1, const Cell* value2) { point_math_op(value1, value2, OP_MULTIPLY); }
void point_divide(Cell* value1, const Cell* value2) { point_math_op(value1, value2, OP_DIVIDE); }
void point_remainder(Cell* value1, const Cell* value2) { point_math_op(value1, value2, OP_REMAINDER); }

// The scale for component i as float!: a point or pair scale gives its
// matching component; false when it has none (a point2D! scale for z).
static bool point_scale_component(const Cell* scale, int i, Cell* out) {
    switch (cell_type(scale)) {
    case T_POINT2D:
    case T_POINT3D:
        if (i >= point_dimensions(cell_type(scale))) return false;
        float_make_at(out, point_coord(scale, i));
        return true;
    case T_PAIR:
        float_make_at(out, i == 0 ? pair_x(scale) : pair_y(scale));
        return true;
    case T_INTEGER:
        // As a float!, so that the rounded component stays a number of any size.
        float_make_at(out, integer_get(scale));
        return true;
    default:
        cell_copy(scale, out);
        return true;
    }
}

void point_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
                 bool ceiling, bool half_ceiling) {
    uint8_t type = cell_type(value);
    bool to = refinement_given(scale, value);
    if (to && cell_type(scale) == T_MONEY) raise_caller_with_datatype(ERR_NOT_RELATED, T_MONEY);
    if (to && cell_type(scale) == T_PAIR && type != T_POINT2D) error_raise_type(ERR_INVALID_TYPE, T_PAIR);
    const RoundFlags flags{even, down, half_down, floor, ceiling, half_ceiling};
    int dimensions = point_dimensions(type);
    double result[3];
    for (int i = 0; i < dimensions; ++i) {
        // The component and the scale as presented for it.
        Cell cells[2];
        float_make_at(&cells[0], point_coord(value, i));
        result[i] = point_coord(value, i);
        if (to && !point_scale_component(scale, i, &cells[1])) continue;
        float_round_cell(&cells[0], to ? &cells[1] : nullptr, flags);
        result[i] = cell_type(&cells[0]) == T_INTEGER ? double(integer_get(&cells[0]))
                                                      : cell_double(&cells[0]);
    }
    for (int i = 0; i < dimensions; ++i) point_coord_set(value, i, result[i]);
}

// ---- literal text ----------------------------------------------------------

static bool blank_q(uint8_t c) { return c == ' ' || c == '\t'; }

bool scan_point(const uint8_t* start, const uint8_t* end, Cell* out) {
    const uint8_t* p = start;
    if (p == end || *p++ != '(') return false;
    double c[3];
    int count = 0;
    for (;;) {
        while (p < end && blank_q(*p)) ++p;
        const uint8_t* number = p;
        while (p < end && *p != ',' && *p != ')' && !blank_q(*p)) ++p;
        if (p == number || count == 3) return false;
        int32_t unconsumed = 0;
        c[count++] = string_to_float(reinterpret_cast<const char*>(number),
                                     reinterpret_cast<const char*>(p), 0, &unconsumed);
        if (unconsumed != 0) return false;
        while (p < end && blank_q(*p)) ++p;
        if (p == end) return false;
        if (*p++ == ')') break;
    }
    if (p != end || count < 2) return false;
    if (count == 2) point2d_init(out, c[0], c[1]);
    else point3d_init(out, c[0], c[1], c[2]);
    return true;
}

// ---- random --------------------------------------------------------------------

// Each non-zero component becomes a random float between 0 and it; with seed
// the generator is seeded with the hash of the components' payload bytes.
static void point_random(Cell* value, bool seed, bool secure, bool) {
    int n = point_dimensions(cell_type(value));
    if (seed) {
        uint32_t payload[3] = {value->w1, value->w2, value->w3};
        random_mt_seed(murmur3_hash(payload, size_t(n) * 4));
        unset_make_at(value);
        return;
    }
    for (int i = 0; i < n; i++) {
        double c = point_coord(value, i);
        if (c != 0.0) point_coord_set(value, i, float_random_draw(c, secure));
    }
}

// ---- registration --------------------------------------------------------------

static void point_register(uint8_t type, const char* name, CompareFn compare) {
    const ActionRow actions[] = {
        {A_MAKE, point_make},
        {A_RANDOM, point_random},
        {A_TO, point_make},
        {A_FORM, point_form},
        {A_MOLD, point_form},
        {A_EVAL_PATH, point_eval_path},
        {A_COMPARE, compare},
        {A_ABSOLUTE, point_absolute},
        {A_ADD, point_add},
        {A_DIVIDE, point_divide},
        {A_MULTIPLY, point_multiply},
        {A_NEGATE, point_negate},
        {A_REMAINDER, point_remainder},
        {A_ROUND, point_round},
        {A_SUBTRACT, point_subtract},
        {A_PICK, point_pick},
        {A_REVERSE, point_reverse},
    };
    datatype_register(type, 0, name, actions);
}

void init_point2d() {
    point_register(T_POINT2D, "point2D!", &point2d_compare);
    datatype_hooks_set(T_POINT2D, {.scan = scan_point});  // reads point3D! literals too
}
void init_point3d() { point_register(T_POINT3D, "point3D!", &point3d_compare); }

} // namespace kel
