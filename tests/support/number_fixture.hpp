// Shared set-up and value makers for the tests of the number datatypes.
#pragma once
#include "runtime/cell.hpp"
#include "core/error.hpp"
#include "core/registry.hpp"
#include "datatypes/types.hpp"
#include "tests/support/memory_fixture.hpp"
#include <gtest/gtest.h>

namespace kel::testing {

// A fresh memory manager with every datatype registered.
struct NumberTest : ::testing::Test {
    void SetUp() override {
        memory_fresh(false);
        datatypes_register();
    }
};

inline Cell integer(int32_t n) { return Cell{T_INTEGER, 0, uint32_t(n), 0}; }
inline Cell number(uint8_t type, double d) { Cell c{type, 0, 0, 0}; cell_set_double(&c, d); return c; }

// Runs body and expects it to raise the error of that category and id.
template <class F> void expect_error(ErrorCategory category, uint16_t id, F body) {
    try {
        body();
        ADD_FAILURE() << "no error raised";
    } catch (const LanguageError& e) {
        EXPECT_EQ(int(e.category), int(category));
        EXPECT_EQ(e.id, id);
    }
}

} // namespace kel::testing
