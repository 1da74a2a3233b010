// unset!, none! and logic!: the three simplest datatypes, and the truth tests
// every conditional rests on.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

struct FindOptions;  // core/registry.hpp

// Constant cells: the value of nothing, the empty value, true and false.
// Actions return them by reference; callers copy them.
extern const Cell unset_cell;
extern const Cell none_cell;
extern const Cell true_cell;
extern const Cell false_cell;

// Value-making shapes: _make_at writes a given cell; _make_in appends a new
// cell at the tail of a block series and returns it (valid until the next
// allocation); _push pushes a new cell on the data stack; _box writes the
// arguments slot (the running call's result) with the data top just above it.
void unset_make_at(Cell* cell);
Cell* unset_make_in(Node block);
Cell* unset_push();
void none_make_at(Cell* cell);
Cell* none_make_in(Node block);
Cell* none_push();
// A logic! cell: payload word 1 is 1 for true, 0 for false.
void logic_make_at(Cell* cell, bool value);
Cell* logic_make_in(Node block, bool value);
Cell* logic_push(bool value);
void logic_box(bool value);
// Only a payload of exactly 1 is true.
inline bool logic_get(const Cell* cell) { return cell->w1 == 1; }

// True unless the value is none! or a logic! that is not true. With check set,
// an unset! value raises script error no-value.
bool value_true(const Cell* value, bool check);
// True when the value is none! or a logic! that is not true (the test behind
// if, unless and either).
inline bool logic_false(const Cell* value) {
    uint8_t type = cell_type(value);
    return type == T_NONE || (type == T_LOGIC && value->w1 != 1);
}
// True for a true value; an unset! value raises script error no-return.
bool logic_true_checked(const Cell* value);
// logic_false of the last value pushed in the running frame, or of the
// arguments slot when nothing lies above it; logic_top_true is the negation.
bool logic_top_false();
bool logic_top_true();

// Action functions (signatures of core/registry.hpp).
const Cell* unset_make(Cell* proto, const Cell* spec, uint8_t type);
int32_t unset_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t unset_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t unset_compare(const Cell* value1, const Cell* value2, int32_t op);

const Cell* none_make(Cell* proto, const Cell* spec, uint8_t type);
int32_t none_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
int32_t none_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
int32_t none_compare(const Cell* value1, const Cell* value2, int32_t op);
void none_clear(Cell* series);
const Cell* none_find(Cell* series, const Cell* value, const FindOptions& options);
int32_t none_length(const Cell* series);
void none_remove(Cell* series, Cell* part, Cell* key);
const Cell* none_select(Cell* series, const Cell* value, const FindOptions& options);
const Cell* none_take(Cell* series, Cell* part, bool deep, bool last);

const Cell* logic_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* logic_to(Cell* proto, const Cell* spec, uint8_t type);
int32_t logic_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t logic_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t logic_compare(const Cell* value1, const Cell* value2, int32_t op);
const Cell* logic_complement(Cell* value);
void logic_and(Cell* value1, const Cell* value2);
void logic_or(Cell* value1, const Cell* value2);
void logic_xor(Cell* value1, const Cell* value2);

void init_unset();
void init_none();
void init_logic();

} // namespace kel
