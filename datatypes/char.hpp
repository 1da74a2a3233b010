// char!: a Unicode codepoint (0 to 0x10FFFF), a child of integer! sharing its
// cell layout and int32 kernel; arithmetic must stay within the codepoint range.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

constexpr int32_t CHAR_MAX_CODEPOINT = 0x10FFFF;

void char_make_at(Cell* cell, int32_t codepoint);  // header exactly char!
Cell* char_push(int32_t codepoint);

// The action kernel: the char in `left`, which receives the result.
void char_do_math(Cell* left, const Cell* right, int32_t op);

// Appends the molded escape of one character (without the quotes); returns
// the characters written.
int32_t char_append_escaped(Cell* target, int32_t codepoint, bool all);

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
