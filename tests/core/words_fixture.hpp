// Printing values through their datatype's form or mold action, for the tests
// of words, typesets and paths.
#pragma once
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "tests/core/symbol_fixture.hpp"

#include <string>

namespace kel::testing {

// The value printed by its mold (or form) action with the given options;
// the remaining budget is stored in *budget_out when asked for.
inline std::string print_value(const Cell& value, bool mold = true, bool only = false,
                               bool part = false, int32_t budget = 1000000,
                               int32_t* budget_out = nullptr) {
    CellRoot held(value);
    Cell* target = stack_push_new(T_STRING);
    string_make_at(target, 4);
    auto print = reinterpret_cast<FormMoldFn>(action_slot(cell_type(&held.cell), mold ? A_MOLD : A_FORM));
    EXPECT_NE(print, nullptr);
    int32_t left = print ? print(&held.cell, target, only, false, false, part, budget, 0) : budget;
    if (budget_out) *budget_out = left;
    std::string text = string_utf8(target);
    stack_pop(1);
    return text;
}

inline std::string mold_of(const Cell& value) { return print_value(value, true); }
inline std::string form_of(const Cell& value) { return print_value(value, false); }

// make (A_MAKE) or to (A_TO) of the type through the type's registered slot.
inline Cell make_value(uint8_t type, const Cell& spec, int action) {
    CellRoot held(spec);
    Cell* out = stack_push_new(T_NONE);
    datatype_make_at(out, type);
    auto fn = reinterpret_cast<MakeToFn>(action_slot(type, action));
    Cell result = *fn(out, &held.cell, type);
    stack_pop(1);
    return result;
}

// A datatype! value.
inline Cell datatype_cell(uint8_t type) {
    Cell c;
    datatype_make_at(&c, type);
    return c;
}

} // namespace kel::testing
