// The start-up sequence: runtime initialisation in its one fixed order, then
// the library and the script or console.
#pragma once

namespace kel {

// The process's only entry point; returns the exit status.
int program_start(int argc, char** argv);
// Initialises every subsystem of the runtime, from memory to the interpreter.
void runtime_init();

} // namespace kel
