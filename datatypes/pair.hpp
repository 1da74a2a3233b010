// pair!: a two-dimensional integer vector written XxY (10x20), used for sizes
// and positions. Its arithmetic runs component-wise through the int32 kernel
// of integer!; whenever a component leaves the 32-bit range, a division is
// inexact or the other operand is fractional, the operation is redone on
// point2D! values, so a pair expression may yield a point2D!.
//
// Cell: word 2 = x, word 3 = y (signed 32-bit); word 1 carries nothing.
#pragma once
#include "core/numbers.hpp"
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

// ---- helpers ---------------------------------------------------------------

// The int32 of an integer! cell, or a float! (percent!, time!) truncated
// toward zero; a double outside the 32-bit range or a NaN raises script error
// invalid-arg with the cell.
int32_t pair_number(const Cell* cell);
// 1 for the word x, 2 for y (resolved, case-insensitive); any other word
// raises script error cannot-use (word, value) when the value is a pair!,
// else invalid-path (value, word).
int32_t pair_field_index(const Cell* word, const Cell* value);
// Loads a text spec of make and to (a string! or another text type, from its
// position) with the lexer and writes its first value into out, or unset when
// the text holds none. Lexer errors are raised as they are.
void make_from_spec_text(const Cell* text, Cell* out);
// Turns a pair cell into the point2D! of the same coordinates (header exactly point2D!).
void pair_to_point(Cell* cell);

// The arithmetic kernel: `a` (a pair!) receives the result, which may be a
// point2D!; `b` is the other operand. Operands are unchanged on error.
void pair_math_op(Cell* a, const Cell* b, int32_t op);

// ---- actions ---------------------------------------------------------------

const Cell* pair_make(Cell* proto, const Cell* spec, uint8_t type);
int32_t pair_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
int32_t pair_compare(const Cell* value1, const Cell* value2, int32_t op);
// Path selection: without set_value the component is written into out; with
// one the component of parent is replaced and the set value is written into out.
void pair_eval_path(Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                    bool case_, Cell* out);
void pair_absolute(Cell* value);
void pair_negate(Cell* value);
void pair_add(Cell* value1, const Cell* value2);
void pair_subtract(Cell* value1, const Cell* value2);
void pair_multiply(Cell* value1, const Cell* value2);
void pair_divide(Cell* value1, const Cell* value2);
void pair_remainder(Cell* value1, const Cell* value2);
void pair_and(Cell* value1, const Cell* value2);
void pair_or(Cell* value1, const Cell* value2);
void pair_xor(Cell* value1, const Cell* value2);
// round pair /to scale /even /down /half-down /floor /ceiling /half-ceiling; the
// scale counts as given as refinement_given says.
void pair_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down,
                bool floor, bool ceiling, bool half_ceiling);
// pick: the index cell is an integer!, a logic! (true 1, false 2) or a field word.
void pair_pick(Cell* value, const Cell* index);
void pair_reverse(Cell* value, const Cell* part, const Cell* skip);

// ---- literal text ----------------------------------------------------------


// Reads a pair literal: two decimal integers as the lexer reads integers
// (optional sign, "'" separators), joined by "x" or "X" (10x20, -5X0). Writes the
// pair into out (keeping out's header flags) and returns true, or returns
// false with out untouched when the text is not a pair or a component leaves
// the 32-bit range.
bool scan_pair(const uint8_t* start, const uint8_t* end, Cell* out);

// Registers pair! (type 37) with its 62 slots.
void init_pair();

} // namespace kel
