#include "core/numbers.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include <cmath>

namespace kel {

// Units in the last place within which two doubles are equal.
constexpr uint64_t FLOAT_EQUAL_ULPS = 10;

// ---- integer! --------------------------------------------------------------

Cell* integer_make_at(Cell* cell, int32_t value) {
    cell_type_set(cell, T_INTEGER);
    cell->w2 = uint32_t(value);
    return cell;
}

Cell* integer_push(int32_t value) {
    Cell* cell = stack_push_slot();
    cell_init(cell, T_INTEGER);
    cell->w2 = uint32_t(value);
    return cell;
}

void integer_box(int32_t value) {
    cell_init(data_stack.args, T_INTEGER);
    data_stack.args->w2 = uint32_t(value);
    data_stack.top = data_stack.args + 1;
}

int32_t integer_arg_value() { return cell_int(data_stack.args); }

int32_t integer_arg_value_or_zero() {
    return cell_type(data_stack.args) == T_INTEGER ? cell_int(data_stack.args) : 0;
}

bool integer_double_out_of_range(double d) {
    return !(d <= 2147483647.0 && d >= -2147483648.0);  // false for a NaN too
}

bool integer_float_out_of_range(const Cell* float_cell) {
    return integer_double_out_of_range(cell_double(float_cell));
}

bool integer_from_double(double d, int32_t* out) {
    double t = std::trunc(d);
    if (integer_double_out_of_range(t)) return false;
    *out = int32_t(t);
    return true;
}

// Writes a double result into a kernel's result cell, making it a float!.
static void result_float(Cell* result, double d) {
    cell_init(result, T_FLOAT);
    cell_set_double(result, d);
}

int32_t integer_math_op(int32_t left, int32_t right, int32_t op, Cell* result) {
    int32_t n = 0;
    bool overflow = false;
    switch (op) {
    case OP_ADD: overflow = __builtin_add_overflow(left, right, &n); break;
    case OP_SUBTRACT: overflow = __builtin_sub_overflow(left, right, &n); break;
    case OP_MULTIPLY: overflow = __builtin_mul_overflow(left, right, &n); break;
    case OP_DIVIDE:
    case OP_REMAINDER:
        if (right == 0) error_raise(ERR_ZERO_DIVIDE);
        if (left == INT32_MIN && right == -1) error_raise(ERR_OVERFLOW);
        if (op == OP_REMAINDER) { n = left % right; break; }
        if (result != nullptr && left % right != 0) {
            result_float(result, double(left) / double(right));
            return n;
        }
        n = left / right;
        break;
    case OP_OR: n = left | right; break;
    case OP_AND: n = left & right; break;
    case OP_XOR: n = left ^ right; break;
    default: error_raise(ERR_INVALID_ARG);
    }
    if (overflow) {
        if (result != nullptr) {
            double a = left, b = right;
            result_float(result, op == OP_ADD ? a + b : op == OP_SUBTRACT ? a - b : a * b);
        }
        return n;
    }
    if (result != nullptr) result->w2 = uint32_t(n);
    return n;
}

// ---- float! and percent! ---------------------------------------------------

// A cell of a double type (float!, percent!), its header exactly the type,
// from the value or from the bits of its high and low words.
static void double_make_at(Cell* cell, uint8_t type, double value) {
    cell_init(cell, type);
    cell_set_double(cell, value);
}

static void double_bits_make_at(Cell* cell, uint8_t type, uint32_t high, uint32_t low) {
    cell_init(cell, type);
    cell->w2 = low;
    cell->w3 = high;
}

static Cell* double_push(uint8_t type, double value) {
    Cell* cell = stack_push_slot();
    double_make_at(cell, type, value);
    return cell;
}

static Cell* double_bits_push(uint8_t type, uint32_t high, uint32_t low) {
    Cell* cell = stack_push_slot();
    double_bits_make_at(cell, type, high, low);
    return cell;
}

// Writes the value into the arguments slot and drops the stack above it.
static void double_box(uint8_t type, double value) {
    double_make_at(data_stack.args, type, value);
    data_stack.top = data_stack.args + 1;
}

void float_make_at(Cell* cell, double value) { double_make_at(cell, T_FLOAT, value); }
Cell* float_push(double value) { return double_push(T_FLOAT, value); }
Cell* float_push_bits(uint32_t high, uint32_t low) { return double_bits_push(T_FLOAT, high, low); }
void float_box(double value) { double_box(T_FLOAT, value); }

void percent_init(Cell* cell, double value) { double_make_at(cell, T_PERCENT, value); }
void percent_init_bits(Cell* cell, uint32_t high, uint32_t low) { double_bits_make_at(cell, T_PERCENT, high, low); }
Cell* percent_push(double value) { return double_push(T_PERCENT, value); }
Cell* percent_push_bits(uint32_t high, uint32_t low) { return double_bits_push(T_PERCENT, high, low); }
void percent_box(double value) { double_box(T_PERCENT, value); }

double float_abs_bits(double x) {
    return std::bit_cast<double>(std::bit_cast<uint64_t>(x) & ~(uint64_t(1) << 63));
}

int32_t float_round_to_integer(double x) {
    if (std::isnan(x)) return 0;
    double r = std::floor(x + 0.49999999999999994);
    int32_t n;
    if (integer_from_double(r, &n)) return n;
    return r > 0 ? INT32_MAX : INT32_MIN;
}

bool float_nan_bits_q(double x) {
    uint64_t bits = std::bit_cast<uint64_t>(x);
    return (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull &&
           (bits & 0x000FFFFFFFFFFFFFull) != 0;
}

bool float32_nan_q(float x) { return x != x; }

bool float_special_q(double x) { return !std::isfinite(x); }

// Maps a double's bit pattern onto an unsigned order: negatives below
// 0x8000000000000000, positives above it, both zeros on it.
static uint64_t float_ordered_bits(double x) {
    uint64_t bits = std::bit_cast<uint64_t>(x);
    return (bits >> 63) ? 0 - bits : bits | (uint64_t(1) << 63);
}

bool float_near_equal_q(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < FLOAT_EPSILON) return true;
    uint64_t x = float_ordered_bits(a), y = float_ordered_bits(b);
    return (x > y ? x - y : y - x) <= FLOAT_EQUAL_ULPS;
}

bool float32_near_equal_q(float a, float b) {
    if (a != a || b != b) return false;
    uint32_t x = std::bit_cast<uint32_t>(a), y = std::bit_cast<uint32_t>(b);
    if (x == y) return true;
    uint32_t mx = x & 0x7FFFFFFF, my = y & 0x7FFFFFFF;
    if (mx >= 0x7F7FFFFF || my >= 0x7F7FFFFF) {
        if ((x >> 31) != (y >> 31)) return false;
        return (mx > my ? mx - my : my - mx) <= 0xFFFFF;
    }
    if (mx == 0 && my == 0) return true;
    int64_t ox = (x >> 31) ? int64_t(INT32_MIN) - int64_t(x) : int64_t(x);
    int64_t oy = (y >> 31) ? int64_t(INT32_MIN) - int64_t(y) : int64_t(y);
    return (ox > oy ? ox - oy : oy - ox) <= 10;
}

double float_math_op(double a, double b, int32_t op) {
    switch (op) {
    case OP_ADD: return a + b;
    case OP_SUBTRACT: return a - b;
    case OP_MULTIPLY: return a * b;
    case OP_DIVIDE: return a / b;
    case OP_REMAINDER:
        if (std::isnan(b)) return b;
        if (std::isinf(b)) return std::isfinite(a) ? a : std::nan("");
        return std::fmod(a, b);
    default: {
        Cell word;
        stack_caller_word(&word);
        error_raise_type(ERR_CANNOT_USE, &word, T_FLOAT);
    }
    }
}

int32_t float_compare_doubles(double a, double b, int32_t op) {
    switch (op) {
    case CMP_EQUAL:
    case CMP_NOT_EQUAL: return float_near_equal_q(a, b) ? 0 : 1;
    case CMP_STRICT_EQUAL: return a == b ? 0 : 1;
    case CMP_SAME: return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b) ? 0 : 1;
    default: break;
    }
    if (std::isnan(a) || std::isnan(b)) {
        switch (op) {
        case CMP_LESSER:
        case CMP_LESSER_OR_EQUAL: return 1;
        case CMP_GREATER:
        case CMP_GREATER_OR_EQUAL: return -1;
        default: return 0;
        }
    }
    return (a > b) - (a < b);
}

// ---- char! -----------------------------------------------------------------

void char_make_at(Cell* cell, int32_t codepoint) {
    cell_init(cell, T_CHAR);
    cell->w2 = uint32_t(codepoint);
}

Cell* char_push(int32_t codepoint) {
    Cell* cell = stack_push_slot();
    char_make_at(cell, codepoint);
    return cell;
}

// ---- pair! -----------------------------------------------------------------

Cell* pair_init(Cell* cell, int32_t x, int32_t y) {
    cell_type_set(cell, T_PAIR);
    cell->w1 = 0;
    cell->w2 = uint32_t(x);
    cell->w3 = uint32_t(y);
    return cell;
}

Cell* pair_make_in(Node block, int32_t x, int32_t y) {
    Cell* cell = cell_series_append(block);
    cell_init(cell, T_PAIR);
    return pair_init(cell, x, y);
}

Cell* pair_push(int32_t x, int32_t y) { return pair_init(stack_push_new(T_PAIR), x, y); }

// ---- point2D! and point3D! -------------------------------------------------

Cell* point2d_init(Cell* cell, double x, double y) {
    cell_type_set(cell, T_POINT2D);
    point_coord_set(cell, 0, x);
    point_coord_set(cell, 1, y);
    cell->w3 = 0;
    return cell;
}

Cell* point3d_init(Cell* cell, double x, double y, double z) {
    cell_type_set(cell, T_POINT3D);
    point_coord_set(cell, 0, x);
    point_coord_set(cell, 1, y);
    point_coord_set(cell, 2, z);
    return cell;
}

Cell* point2d_make_in(Node block, double x, double y) {
    Cell* cell = cell_series_append(block);
    cell_init(cell, T_POINT2D);
    return point2d_init(cell, x, y);
}

Cell* point3d_make_in(Node block, double x, double y, double z) {
    Cell* cell = cell_series_append(block);
    cell_init(cell, T_POINT3D);
    return point3d_init(cell, x, y, z);
}

Cell* point2d_push(double x, double y) { return point2d_init(stack_push_new(T_POINT2D), x, y); }

Cell* point3d_push(double x, double y, double z) {
    return point3d_init(stack_push_new(T_POINT3D), x, y, z);
}

} // namespace kel
