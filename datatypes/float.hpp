// float!: the IEEE 754 double. Its kernel serves float!, percent! and time!
// (all three keep the double in payload words 2-3), its tolerant equality is
// used by every type that compares doubles, and float_to_text is the one text
// form of every floating-point number the system prints. The cells, the
// double kernel and the tolerant equality live in core/numbers.hpp.
#pragma once
#include "core/numbers.hpp"
#include "runtime/cell.hpp"
#include "datatypes/integer.hpp"
#include <cstdint>

namespace kel {

// Text modes of float_to_text.
enum FloatTextMode : int32_t {
    FLOAT_TEXT_SINGLE = 0,          // single-precision vector item
    FLOAT_TEXT_DOUBLE = 1,          // float! and double vector item
    FLOAT_TEXT_SINGLE_PERCENT = 2,  // single-precision percent item, already x 100
    FLOAT_TEXT_PERCENT = 3,         // percent! and double percent item, already x 100
    FLOAT_TEXT_SECONDS = 4,         // the seconds of a time!
    FLOAT_TEXT_POINT = 5,           // a point coordinate
};

// Process-wide pretty-printing flag, switched by system/options/float/pretty?.
extern bool float_pretty;

// ---- cells -----------------------------------------------------------------

// A random double between 0 and x (the draw of random on a float!), from the
// generator or, with secure, the secure source.
double float_random_draw(double x, bool secure);

// ---- helpers ---------------------------------------------------------------

// The action kernel: left operand a float!, percent!, time! or integer! in
// `left`, which receives the result.
void float_do_math(Cell* left, const Cell* right, int32_t op);
// The text of x in a mode, in a static buffer the next call overwrites.
const char* float_to_text(double x, int32_t mode);

// The rounding shared by float!, percent! and integer! with a non-integer
// scale: rounds value in place.
void float_round_cell(Cell* value, const Cell* scale, const RoundFlags& flags);

// ---- actions ---------------------------------------------------------------

const Cell* float_make(Cell* proto, const Cell* spec, uint8_t type);
int32_t float_form_value(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                         int32_t budget, int32_t indent);
int32_t float_mold_value(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                         int32_t budget, int32_t indent);
int32_t float_compare(const Cell* value1, const Cell* value2, int32_t op);
void float_absolute(Cell* value);
void float_negate(Cell* value);
bool float_even_q(const Cell* value);
bool float_odd_q(const Cell* value);
void float_add(Cell* value1, const Cell* value2);
void float_subtract(Cell* value1, const Cell* value2);
void float_multiply(Cell* value1, const Cell* value2);
void float_divide(Cell* value1, const Cell* value2);
void float_remainder(Cell* value1, const Cell* value2);
void float_power(Cell* base, const Cell* exponent);
void float_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down,
                 bool floor, bool ceiling, bool half_ceiling);

// Registers float! (type 12) with its 62 slots.
void init_float();

} // namespace kel
