// percent!: a double shown as a percentage (0.125 is 12.5%). A child of
// float!: it shares float!'s cell layout, kernel, comparison and rounding, and
// has only its text form of its own.
#pragma once
#include "core/numbers.hpp"
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// form and mold: one text, the value times 100 in the percent text mode.
int32_t percent_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                     int32_t budget, int32_t indent);

// Registers percent! (type 38, child of float!) with its 62 slots.
void init_percent();

} // namespace kel
