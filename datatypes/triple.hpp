// triple!: three signed 32-bit integers in words 1-3 of the cell; an opaque
// carrier of numbers that can only be printed.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// A triple! with the three integers (header exactly triple!).
void triple_make_at(Cell* cell, int32_t a, int32_t b, int32_t c);

// Integer i (0-2) of a triple, and its replacement.
inline int32_t triple_get(const Cell* triple, int i) {
    return int32_t(i == 0 ? triple->w1 : i == 1 ? triple->w2 : triple->w3);
}
inline void triple_set(Cell* triple, int i, int32_t value) {
    (i == 0 ? triple->w1 : i == 1 ? triple->w2 : triple->w3) = uint32_t(value);
}

// form and mold: "make triple! [1 2 3]".
int32_t triple_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent);

// Registers triple! (type 31) with its 62 slots.
void init_triple();

} // namespace kel
