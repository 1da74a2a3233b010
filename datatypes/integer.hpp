// integer!: the signed 32-bit whole number. Its arithmetic kernel is shared by
// char! and the element arithmetic of other types; a result that does not fit
// in 32 bits, or an inexact division, becomes a float! instead of failing.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// Operation codes of every numeric kernel.
enum MathOp : int32_t {
    OP_ADD = 0, OP_SUBTRACT, OP_MULTIPLY, OP_DIVIDE, OP_REMAINDER, OP_OR, OP_AND, OP_XOR,
};

// Refinement flags of round, shared by the numeric types.
struct RoundFlags {
    bool even, down, half_down, floor, ceiling, half_ceiling;
};

// An argument cell of a refinement with an argument is null when the
// refinement was not given.
inline bool refinement_given(const Cell* arg, const Cell* /*result*/) { return arg != nullptr; }

// ---- cells -----------------------------------------------------------------

Cell* integer_make_at(Cell* cell, int32_t value);  // keeps the header flags
Cell* integer_push(int32_t value);
void integer_box(int32_t value);
inline int32_t integer_get(const Cell* cell) { return int32_t(cell->w2); }
// The value word of the arguments slot, whatever its type.
int32_t integer_arg_value();
// The arguments slot's value when it holds an integer!, else 0.
int32_t integer_arg_value_or_zero();

// ---- helpers used by other datatypes ------------------------------------------

// |n|; -2147483648 raises math error overflow.
int32_t integer_absolute(int32_t n);
// -1, 0 or 1.
int32_t integer_sign(int32_t n);
// The decimal text of n in a static buffer that the next call overwrites.
const char* integer_form_buffer(int32_t n);
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

// The action kernel: left operand (an integer!) in `left`, which receives the
// result; the right operand decides which kernel computes it.
void integer_do_math(Cell* left, const Cell* right, int32_t op);

// ---- actions ---------------------------------------------------------------

const Cell* integer_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* integer_to(Cell* proto, const Cell* spec, uint8_t type);
int32_t integer_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                     int32_t budget, int32_t indent);
int32_t integer_compare(const Cell* value1, const Cell* value2, int32_t op);
void integer_absolute_action(Cell* value);
void integer_negate(Cell* value);
const Cell* integer_complement(Cell* value);
bool integer_even_q(const Cell* value);
bool integer_odd_q(const Cell* value);
void integer_add(Cell* value1, const Cell* value2);
void integer_subtract(Cell* value1, const Cell* value2);
void integer_multiply(Cell* value1, const Cell* value2);
void integer_divide(Cell* value1, const Cell* value2);
void integer_remainder(Cell* value1, const Cell* value2);
void integer_and(Cell* value1, const Cell* value2);
void integer_or(Cell* value1, const Cell* value2);
void integer_xor(Cell* value1, const Cell* value2);
void integer_power(Cell* base, const Cell* exponent);
// round value /to scale /even /down /half-down /floor /ceiling /half-ceiling;
// the scale counts as given as refinement_given says.
void integer_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down,
                   bool floor, bool ceiling, bool half_ceiling);

// Registers integer! (type 11) with its 62 slots.
void init_integer();

} // namespace kel
