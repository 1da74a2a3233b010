// integer!: the signed 32-bit whole number. Its arithmetic kernel is shared by
// char! and the element arithmetic of other types; a result that does not fit
// in 32 bits, or an inexact division, becomes a float! instead of failing.
// The cells and the int32 kernel live in core/numbers.hpp; this module adds
// the operand dispatch, the text forms and the actions.
#pragma once
#include "core/numbers.hpp"
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// Refinement flags of round, shared by the numeric types.
struct RoundFlags {
    bool even, down, half_down, floor, ceiling, half_ceiling;
};

// An argument cell of a refinement with an argument is null when the
// refinement was not given.
inline bool refinement_given(const Cell* arg, const Cell* /*result*/) { return arg != nullptr; }

// ---- helpers used by other datatypes ------------------------------------------

// |n|; -2147483648 raises math error overflow.
int32_t integer_absolute(int32_t n);
// -1, 0 or 1.
int32_t integer_sign(int32_t n);
// The decimal text of n in a static buffer that the next call overwrites.
const char* integer_form_buffer(int32_t n);
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
