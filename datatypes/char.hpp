// char!: a Unicode codepoint (0 to 0x10FFFF), a child of integer! sharing its
// cell layout and int32 kernel; arithmetic must stay within the codepoint range.
#pragma once
#include "core/numbers.hpp"
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// The action kernel: the char in `left`, which receives the result.
void char_do_math(Cell* left, const Cell* right, int32_t op);

const Cell* char_make(Cell* proto, const Cell* spec, uint8_t type);
int32_t char_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
int32_t char_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
int32_t char_compare(const Cell* value1, const Cell* value2, int32_t op);
void char_add(Cell* value1, const Cell* value2);
void char_subtract(Cell* value1, const Cell* value2);
void char_multiply(Cell* value1, const Cell* value2);
void char_divide(Cell* value1, const Cell* value2);
void char_remainder(Cell* value1, const Cell* value2);
void char_and(Cell* value1, const Cell* value2);
void char_or(Cell* value1, const Cell* value2);
void char_xor(Cell* value1, const Cell* value2);

// Registers char! (type 10, child of integer!) with its 62 slots.
void init_char();

} // namespace kel
