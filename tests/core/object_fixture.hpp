// Runtimes for the tests of objects and error values: the object marker in
// place (the plain runtime fixture marks objects more simply), and stacks
// left empty so that later tests without a fresh runtime collect nothing of
// these tests.
#pragma once
#include "core/object.hpp"
#include "tests/core/interp_fixture.hpp"
#include "tests/core/string_fixture.hpp"

namespace kel::testing {

inline void stacks_empty() {
    stack_restore(StackState{data_stack.bottom, data_stack.bottom, call_stack.bottom, 0});
}

// Objects without evaluation.
struct ObjectRuntimeTest : RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        object_marker_register();
    }
    void TearDown() override {
        stacks_empty();
        RuntimeTest::TearDown();
    }
};

// Objects made and changed through the interpreter, with make as an action.
struct ObjectInterpTest : InterpTest {
    void SetUp() override {
        InterpTest::SetUp();
        object_marker_register();
        define_native("make", blk({w("type"), w("spec")}), A_MAKE, T_ACTION);
    }
    void TearDown() override {
        stacks_empty();
        InterpTest::TearDown();
    }
};

} // namespace kel::testing
