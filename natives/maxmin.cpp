// max and min. Pairs, points and tuples meet a number or a value of their
// own kind component by component; a NaN float wins over a number; every
// other combination is decided by lesser?.
#include "natives/maths.hpp"
#include "core/actions.hpp"
#include "core/error.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/tuple.hpp"
#include "natives/natives.hpp"

#include <cmath>
#include <iterator>

namespace kel {

enum MaxMinNative : uint32_t { N_MAX = 51, N_MIN = 52 };

// An integer!, or a float! truncated toward zero; a float outside the 32-bit
// range, a NaN or an infinity raises script error type-limit (integer!).
static int32_t number_to_int32(const Cell* number) {
    if (cell_type(number) == T_INTEGER) return cell_int(number);
    int32_t n;
    if (!integer_from_double(cell_double(number), &n)) {
        error_raise_type(ERR_TYPE_LIMIT, T_INTEGER);
    }
    return n;
}

static bool is_number(uint8_t type) { return type == T_INTEGER || type == T_FLOAT; }
static bool is_float_kind(uint8_t type) { return type == T_FLOAT || type == T_PERCENT; }
static bool is_composite(uint8_t type) {
    return type == T_PAIR || type == T_POINT2D || type == T_POINT3D || type == T_TUPLE;
}

// "Raising" a component: for the maximum it takes the other value when it
// is smaller, for the minimum when it is larger. A point component also
// takes a NaN.
static int32_t raise_int(int32_t own, int32_t other, bool maximum) {
    return (maximum ? own < other : own > other) ? other : own;
}
static float raise_float(float own, float other, bool maximum) {
    if (std::isnan(other)) return other;
    return (maximum ? own < other : own > other) ? other : own;
}

static void point_raise(Cell* a, int dimensions, const float* other, bool maximum) {
    for (int i = 0; i < dimensions; i++) {
        float raised = raise_float(point_coord(a, i), other[i], maximum);
        point_coord_set(a, i, raised);
    }
}

// The components of b (a number, a pair or a point) as singles, as many as
// a point of the given dimensions holds.
static void point_others(const Cell* b, int dimensions, float* out) {
    for (int i = 0; i < dimensions; i++) {
        switch (cell_type(b)) {
        case T_PAIR: out[i] = float(i == 0 ? pair_x(b) : pair_y(b)); break;
        case T_POINT2D: case T_POINT3D: out[i] = point_coord(b, i); break;
        default: out[i] = float(point_number(b)); break;
        }
    }
}

// One step of the component-wise cases on a (the composite) and b; false
// when the combination is left to the comparison.
static bool max_min_composite(Cell* a, Cell* b, bool maximum) {
    uint8_t tb = cell_type(b);
    switch (cell_type(a)) {
    case T_PAIR:
        if (tb == T_FLOAT && integer_float_out_of_range(b)) {
            // A float no integer holds turns the pair into a point.
            double d = cell_double(b);
            point2d_init(b, d, d);
            pair_to_point(a);
            tb = T_POINT2D;
        } else if (is_number(tb)) {
            int32_t n = number_to_int32(b);
            pair_init(a, raise_int(pair_x(a), n, maximum), raise_int(pair_y(a), n, maximum));
            return true;
        } else if (tb == T_PAIR) {
            pair_init(a, raise_int(pair_x(a), pair_x(b), maximum),
                      raise_int(pair_y(a), pair_y(b), maximum));
            return true;
        } else if (tb == T_POINT2D) {
            pair_to_point(a);
        } else {
            return false;
        }
        [[fallthrough]];
    case T_POINT2D:
        if (!is_number(tb) && tb != T_PAIR && tb != T_POINT2D) return false;
        {
            float other[2];
            point_others(b, 2, other);
            point_raise(a, 2, other, maximum);
        }
        return true;
    case T_POINT3D:
        if (!is_number(tb) && tb != T_POINT3D) return false;
        {
            float other[3];
            point_others(b, 3, other);
            point_raise(a, 3, other, maximum);
        }
        return true;
    case T_TUPLE:
        if (is_number(tb)) {
            int32_t n = number_to_int32(b);
            uint8_t byte = uint8_t(n < 0 ? 0 : n > 255 ? 255 : n);
            for (uint32_t i = 0; i < tuple_count(a); i++)
                tuple_byte_set(a, i, uint8_t(raise_int(tuple_byte(a, i), byte, maximum)));
            return true;
        }
        if (tb == T_TUPLE && tuple_count(a) == tuple_count(b)) {
            for (uint32_t i = 0; i < tuple_count(a); i++)
                tuple_byte_set(a, i, uint8_t(raise_int(tuple_byte(a, i), tuple_byte(b, i), maximum)));
            return true;
        }
        return false;
    default:
        return false;
    }
}

static bool nan_value(const Cell* value) {
    return is_float_kind(cell_type(value)) && std::isnan(cell_double(value));
}

void max_min(bool maximum) {
    Cell* a = data_stack.args;
    Cell* b = a + 1;
    uint8_t ta = cell_type(a), tb = cell_type(b);
    bool a_numeric = ta == T_INTEGER || is_float_kind(ta);
    bool b_numeric = tb == T_INTEGER || is_float_kind(tb);
    if (a_numeric && b_numeric && (nan_value(a) || nan_value(b))) {
        if (!nan_value(a)) cell_copy(b, a);
        stack_keep();
        return;
    }
    if (is_number(ta) && is_composite(tb)) {
        Cell number = *a;
        cell_copy(b, a);
        cell_copy(&number, b);
    }
    if (!max_min_composite(a, b, maximum)) {
        bool a_less = compare_logic(a, b, CMP_LESSER);
        if (maximum == a_less) cell_copy(b, a);
    }
    stack_keep();
}

static ExitCode max_min_native(uint32_t native, bool check, bool maximum) {
    if (check) {
        native_arg_check(native, 0);
        native_arg_check(native, 1);
    }
    max_min(maximum);
    return EXIT_CODE_NONE;
}

ExitCode native_max(bool check, const int32_t*) { return max_min_native(N_MAX, check, true); }
ExitCode native_min(bool check, const int32_t*) { return max_min_native(N_MIN, check, false); }

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {51, "max",
     "[\"Returns the greater of the two values\" value1 [scalar! series!] value2 [scalar! series!]]",
     native_max},
    {52, "min",
     "[\"Returns the lesser of the two values\" value1 [scalar! series!] value2 [scalar! series!]]",
     native_min},
};
const NativeTable MAXMIN_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
