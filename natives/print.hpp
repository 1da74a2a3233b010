// print and prin: hand one value, as text, to the output hooks
// (runtime/output_hooks.hpp), print with a line end and prin without.
#pragma once
#include "runtime/cell.hpp"
#include "core/natives_table.hpp"
#include <cstdint>

namespace kel {

// The line-end flag of the last print or prin (true for print).
extern bool print_last_newline;

// Makes the print work block (room for 32 cells), in which a block argument
// is reduced, and registers it as a collector root. Runs with the natives
// table, once per runtime.
void print_init();

ExitCode native_print(bool check, const int32_t* refinements);
ExitCode native_prin(bool check, const int32_t* refinements);

// The routine both share: ARGS[0] is reduced when it is a block, formed
// unless it is a string!, and handed to the value hooks with the flag.
// Returns unset in ARGS[0], or the exit that reducing left pending.
ExitCode print_value(bool newline);

} // namespace kel
