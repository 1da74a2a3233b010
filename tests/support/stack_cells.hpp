// Value makers for the tests of the data stack and the exits.
#pragma once
#include "runtime/cell.hpp"
#include "core/stack.hpp"
#include "runtime/memory.hpp"

namespace kel::testing {

// An unresolved word of the symbol, bound to the context when one is given.
inline Cell word(uint32_t symbol, Node context = 0) {
    Cell c;
    cell_init(&c, T_WORD);
    c.w1 = context;
    c.w2 = symbol;
    c.w3 = UINT32_MAX;
    return c;
}

inline Cell integer(int32_t n) {
    Cell c;
    cell_init(&c, T_INTEGER);
    c.w2 = uint32_t(n);
    return c;
}

inline void push_int(int32_t n) {
    Cell c = integer(n);
    stack_push(&c);
}

} // namespace kel::testing
