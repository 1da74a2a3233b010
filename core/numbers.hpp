// The scalar values the evaluator and the series code compute with: making,
// pushing and reading integer!, float!, percent!, char!, pair!, point2D! and
// point3D! cells, and the checked integer and double kernels behind the
// evaluator's fast paths. The datatype modules build their actions on these.
//
// Cells: integer! and char! hold the value in word 2 (signed 32-bit); float!,
// percent! (and time!) the double in words 2-3; pair! x in word 2 and y in
// word 3; point2D! and point3D! x, y (and z) as IEEE singles in words 1, 2
// (and 3).
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <bit>
#include <cstdint>
#include <limits>

namespace kel {

// Operation codes of every numeric kernel.
enum MathOp : int32_t {
    OP_ADD = 0, OP_SUBTRACT, OP_MULTIPLY, OP_DIVIDE, OP_REMAINDER, OP_OR, OP_AND, OP_XOR,
};

// ---- integer! --------------------------------------------------------------

Cell* integer_make_at(Cell* cell, int32_t value);  // keeps the header flags
Cell* integer_push(int32_t value);
void integer_box(int32_t value);
inline int32_t integer_get(const Cell* cell) { return int32_t(cell->w2); }
// Sets the value of a cell that is already an integer!.
inline void integer_set(Cell* cell, int32_t value) { cell->w2 = uint32_t(value); }
// True when two integer! cells differ at most in their value: same header,
// same unused words.
inline bool integer_alike_q(const Cell* a, const Cell* b) {
    return a->header == b->header && a->w1 == b->w1 && a->w3 == b->w3;
}
// The value word of the arguments slot, whatever its type.
int32_t integer_arg_value();
// The arguments slot's value when it holds an integer!, else 0.
int32_t integer_arg_value_or_zero();

// True when the double does not fit in 32 bits after truncation toward zero:
// above 2147483647.0, below -2147483648.0, an infinity or a NaN.
bool integer_double_out_of_range(double d);
bool integer_float_out_of_range(const Cell* float_cell);
// The one conversion of a double to a 32-bit integer: truncates toward zero
// into *out and returns true, or returns false (out untouched) when the value
// is out of range or a NaN.
bool integer_from_double(double d, int32_t* out);

// The int32 kernel. With a result cell, an overflow of add, subtract or
// multiply and an inexact division turn the cell into a float!; an integer
// result writes only the value word, so the cell keeps its type. Without one,
// division truncates toward zero.
int32_t integer_math_op(int32_t left, int32_t right, int32_t op, Cell* result);

// ---- float! and percent! ---------------------------------------------------

// Differences below this count as equal, and values below it print as zero
// when pretty-printing.
constexpr double FLOAT_EPSILON = 2.220446049250313e-16;

void float_make_at(Cell* cell, double value);  // header exactly float!
Cell* float_push(double value);
Cell* float_push_bits(uint32_t high, uint32_t low);
void float_box(double value);
// The double of a float!, percent! or time! cell.
inline double float_get(const Cell* cell) { return cell_double(cell); }

void percent_init(Cell* cell, double value);  // header exactly percent!
void percent_init_bits(Cell* cell, uint32_t high, uint32_t low);
Cell* percent_push(double value);
Cell* percent_push_bits(uint32_t high, uint32_t low);
void percent_box(double value);
inline double percent_get(const Cell* cell) { return cell_double(cell); }

double float_abs_bits(double x);
// Nearest 32-bit integer, halves rounded up; values beyond the 32-bit range
// saturate and a NaN gives 0 (used for screen coordinates).
int32_t float_round_to_integer(double x);
bool float_nan_bits_q(double x);
bool float32_nan_q(float x);
bool float_special_q(double x);
bool float_near_equal_q(double a, double b);
bool float32_near_equal_q(float a, float b);

// The double kernel; or, and and xor raise script error cannot-use.
double float_math_op(double a, double b, int32_t op);
// -1, 0 or 1 for two doubles under a comparison code (equality codes answer 0
// or 1); the NaN rules of the ordering codes apply.
int32_t float_compare_doubles(double a, double b, int32_t op);

// ---- char! -----------------------------------------------------------------

constexpr int32_t CHAR_MAX_CODEPOINT = 0x10FFFF;

void char_make_at(Cell* cell, int32_t codepoint);  // header exactly char!
Cell* char_push(int32_t codepoint);

// ---- pair! -----------------------------------------------------------------

inline int32_t pair_x(const Cell* c) { return int32_t(c->w2); }
inline int32_t pair_y(const Cell* c) { return int32_t(c->w3); }
// Sets the coordinates of a cell that is already a pair!.
inline void pair_set(Cell* c, int32_t x, int32_t y) {
    c->w2 = uint32_t(x);
    c->w3 = uint32_t(y);
}

// Sets the cell's type to pair! keeping its header flags; returns the cell.
Cell* pair_init(Cell* cell, int32_t x, int32_t y);
// A new pair at the block's tail (header exactly pair!); valid until the next allocation.
Cell* pair_make_in(Node block, int32_t x, int32_t y);
Cell* pair_push(int32_t x, int32_t y);

// ---- point2D! and point3D! -------------------------------------------------

// A double rounded to single precision as IEEE round-to-nearest does it,
// also beyond the single range (where the plain conversion is undefined).
inline float point_single(double d) {
    constexpr double SINGLE_MAX = 3.4028234663852886e38;  // the largest finite single
    constexpr double SINGLE_OVERFLOW = 0x1.ffffffp127;    // from here on, rounds to infinity
    if (d > SINGLE_MAX) return d < SINGLE_OVERFLOW ? float(SINGLE_MAX) : std::numeric_limits<float>::infinity();
    if (d < -SINGLE_MAX) return d > -SINGLE_OVERFLOW ? -float(SINGLE_MAX) : -std::numeric_limits<float>::infinity();
    return float(d);
}

// Component i (0 x, 1 y, 2 z) of a point cell, as the single's raw bits and as a float.
inline uint32_t point_coord_bits(const Cell* c, int i) { return i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3; }
inline float point_coord(const Cell* c, int i) {
    return std::bit_cast<float>(i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3);
}
inline void point_coord_set(Cell* c, int i, double value) {
    uint32_t bits = std::bit_cast<uint32_t>(point_single(value));
    (i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3) = bits;
}
// Components of a point type: 2 or 3.
inline int point_dimensions(uint8_t type) { return type == T_POINT3D ? 3 : 2; }

// Set the cell's type keeping its header flags and store the components as
// singles; return the cell.
Cell* point2d_init(Cell* cell, double x, double y);
Cell* point3d_init(Cell* cell, double x, double y, double z);
// New cells at a block's tail (valid until the next allocation) or on the data stack.
Cell* point2d_make_in(Node block, double x, double y);
Cell* point3d_make_in(Node block, double x, double y, double z);
Cell* point2d_push(double x, double y);
Cell* point3d_push(double x, double y, double z);

} // namespace kel
