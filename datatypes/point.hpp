// point2D! and point3D!: vectors of single-precision floats written (1.5, 2)
// and (1, 2, 3), the fractional counterparts of pair!. Every computation runs
// in double precision and is stored back rounded to single precision.
//
// Cells: words 1, 2 (and 3 for point3D!) hold x, y (and z) as IEEE singles;
// word 3 of a point2D! carries nothing.
#pragma once
#include "core/numbers.hpp"
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

// ---- helpers ---------------------------------------------------------------

// An integer! as a double, or a float!'s value rounded to single precision.
double point_number(const Cell* cell);
// 1, 2 (3) for the words x, y (z); any other word raises script error
// cannot-use (word, value) when the value is of the point type itself, else
// invalid-path (value, word).
int32_t point2d_field_index(const Cell* word, const Cell* value);
int32_t point3d_field_index(const Cell* word, const Cell* value);

// The arithmetic kernels (ops add, subtract, multiply, divide, remainder):
// `a` receives the result; operands are unchanged on error.
void point2d_math_op(Cell* a, const Cell* b, int32_t op);
void point3d_math_op(Cell* a, const Cell* b, int32_t op);

// The number kernels' hand-off when the second operand is a pair!, point2D!
// or point3D!: the operands trade places (a subtraction negates the compound
// value and adds) and the compound type's kernel computes the result into
// `number`. The callers have refused the operations they do not allow.
void point_math_number_first(Cell* number, const Cell* compound, int32_t op);

// ---- actions (both types share each function) -----------------------------

const Cell* point_make(Cell* proto, const Cell* spec, uint8_t type);
int32_t point_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t point2d_compare(const Cell* value1, const Cell* value2, int32_t op);
int32_t point3d_compare(const Cell* value1, const Cell* value2, int32_t op);
// Path selection: without set_value the component is written into out as a
// float!; with one the component of parent is replaced and the set value is
// written into out.
void point_eval_path(Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                     bool case_, Cell* out);
void point_absolute(Cell* value);
void point_negate(Cell* value);
void point_add(Cell* value1, const Cell* value2);
void point_subtract(Cell* value1, const Cell* value2);
void point_multiply(Cell* value1, const Cell* value2);
void point_divide(Cell* value1, const Cell* value2);
void point_remainder(Cell* value1, const Cell* value2);
void point_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down,
                 bool floor, bool ceiling, bool half_ceiling);
void point_pick(Cell* value, const Cell* index);
// point2D! swaps x and y; point3D! swaps x and z.
void point_reverse(Cell* value, const Cell* part, const Cell* skip);

// ---- literal text ----------------------------------------------------------

// Reads a point literal "(x, y)" or "(x, y, z)": blanks and tabs may stand
// around each coordinate; a coordinate is a decimal integer or float
// (1.#INF, -1.#INF and 1.#NaN included). Writes a point2D! or point3D! into
// out (keeping out's header flags) and returns true, or returns false with
// out untouched when the text is not a point literal.
bool scan_point(const uint8_t* start, const uint8_t* end, Cell* out);

// Register point2D! (type 51) and point3D! (type 52) with their 62 slots.
void init_point2d();
void init_point3d();

} // namespace kel
