// vector!: a packed array of numbers of one item type. Its layout and item
// access live in core/vector_items.hpp; this module makes vectors, appends to
// them, computes element-wise and supplies the actions.
#pragma once
#include "core/vector_items.hpp"
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

// An empty vector with room for count items written into cell; count x unit
// beyond 32 bits raises internal error no-memory.
Cell* vector_make_at(Cell* cell, uint32_t count, uint8_t item_type, uint32_t unit);

// Moves the tail to the position.
void vector_clear_from_head(const Cell* vector);
// Appends one item; the value's type must be the item type (else script
// error invalid-arg with the value). The vector cell must not lie in a
// series buffer.
void vector_append_value(Cell* vector, const Cell* value);
// Appends one integer item (growable buffers of the GUI).
void vector_append_integer(Cell* vector, int32_t value);

// Element-wise arithmetic (op codes of the integer kernel: 0 add .. 7 xor).
// vector with vector: a new vector of the smaller length; vector with a
// scalar: the vector changed in place. The result replaces a.
void vector_math(Cell* a, const Cell* b, int32_t op);
// Combines each item from the position with a number, in place: item op
// scalar, or scalar op item when scalar_first.
void vector_scalar_op(int32_t op, Cell* vector, const Cell* scalar, bool scalar_first);
// The kernels of integer!, char! and float! with a vector on the right: the
// vector is changed in place as number op item and replaces number.
void vector_number_first_op(Cell* number, const Cell* vector, int32_t op);

// ---- actions ----------------------------------------------------------------------

const Cell* vector_make(Cell* proto, const Cell* spec, uint8_t type);
int32_t vector_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent);
int32_t vector_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent);
int32_t vector_compare(const Cell* value1, const Cell* value2, int32_t op);
void vector_add(Cell* value1, const Cell* value2);
void vector_subtract(Cell* value1, const Cell* value2);
void vector_multiply(Cell* value1, const Cell* value2);
void vector_divide(Cell* value1, const Cell* value2);
void vector_remainder(Cell* value1, const Cell* value2);
void vector_and(Cell* value1, const Cell* value2);
void vector_or(Cell* value1, const Cell* value2);
void vector_xor(Cell* value1, const Cell* value2);
void vector_insert(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup,
                   bool append);
void vector_change(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
void vector_sort(Cell* series, bool case_, const Cell* skip, const Cell* compare,
                 const Cell* part, bool all, bool reverse, bool stable);

void init_vector();

} // namespace kel
