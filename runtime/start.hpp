// The low-level runtime's record of the process and the runtime errors that
// end it.
#pragma once
#include <cstdint>

namespace kel {

// Runtime error codes of the low-level runtime (shown as "*** Runtime Error").
enum RuntimeErrorCode : int {
    RUNTIME_OUT_OF_MEMORY = 94,      // "out of memory"
    RUNTIME_NO_CATCH = 95,           // "no CATCH for THROW"
    RUNTIME_ILLEGAL_INSTRUCTION = 97,// "illegal instruction"
    RUNTIME_FLOAT_FAULT = 98,        // "floating-point fault"
    RUNTIME_ACCESS_VIOLATION = 99,   // "access violation"
    RUNTIME_NO_SWITCH_MATCH = 101,   // "no value matched in SWITCH"
};

// Exit status of a script whose error nothing caught (-2 as an 8-bit status).
constexpr int EXIT_UNCAUGHT_ERROR = 254;

// The process-wide record of the low-level runtime.
struct RuntimeRecord {
    int argc = 0;
    char** argv = nullptr;         // the command line, taken whole later by the library
    const void* stack_base = nullptr; // stack pointer recorded just before runtime_init
    const uint8_t* boot_data = nullptr;
    uint32_t thrown = 0;           // code of the throw in progress
};
extern RuntimeRecord runtime_record;

// While set, interned words are logged at the tail of the root block.
extern bool startup_logging;

// Installs the handler that ends the process with a runtime error on a fault
// (bad memory access, illegal instruction, arithmetic trap).
void runtime_faults_install();

// Code 0 ends silently; any other code writes "*** Runtime Error" with its text
// and the address to stderr. Both release every heap block and exit with code.
[[noreturn]] void runtime_error_exit(int code, const void* address);
const char* runtime_error_text(int code);

} // namespace kel
