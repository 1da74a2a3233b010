// percent!: a double shown as a percentage (0.125 is 12.5%). A child of
// float!: it shares float!'s cell layout, kernel, comparison and rounding, and
// has only its text form of its own.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

void percent_init(Cell* cell, double value);  // header exactly percent!
void percent_init_bits(Cell* cell, uint32_t high, uint32_t low);
Cell* percent_push(double value);
Cell* percent_push_bits(uint32_t high, uint32_t low);
void percent_box(double value);
inline double percent_get(const Cell* cell) { return cell_double(cell); }

// form and mold: one text, the value times 100 in the percent text mode.
int32_t percent_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                     int32_t budget, int32_t indent);

// Registers percent! (type 38, child of float!) with its 62 slots.
void init_percent();

} // namespace kel
