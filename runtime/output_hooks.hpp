// Output hooks: the runtime has no window or terminal of its own for printed
// values. What print and prin emit, and every text standard output writes, is
// handed to callbacks that other parts of the system register (the consoles).
// Hooks stay registered for the life of the process.
#pragma once
#include "runtime/cell.hpp"
#include <cstddef>
#include <cstdint>

namespace kel {

// Receives a string! cell with the text to print and the call's new-line flag.
using ValueHook = void (*)(const Cell* value, bool newline);
// Receives single-byte text written to standard output; newline is always false.
using TextHook = void (*)(const char* text, size_t len, bool newline);

// Allocates both lists at their start capacity of 5; any earlier registrations
// are forgotten.
void output_hooks_init();
// Appends each non-null hook to its list: the value hook, then the text hook.
void output_hooks_add(ValueHook value_hook, TextHook text_hook);

// Call every hook of the list in registration order.
void value_hooks_notify(const Cell* value, bool newline);
void text_hooks_notify(const char* text, size_t len, bool newline);

// Capacities of the lists (they grow by 5 when full).
uint32_t value_hooks_capacity();
uint32_t text_hooks_capacity();

} // namespace kel
