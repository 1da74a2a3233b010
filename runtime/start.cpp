// The low-level runtime's own state: the process record, the runtime errors
// that end the process, and the fault handler that turns a fault into one.
#include "runtime/start.hpp"
#include "runtime/heap.hpp"
#include "runtime/platform/platform.hpp"

#include <cstdio>
#include <cstdlib>

namespace kel {

RuntimeRecord runtime_record;
bool startup_logging = false;

const char* runtime_error_text(int code) {
    switch (code) {
    case RUNTIME_OUT_OF_MEMORY: return "out of memory";
    case RUNTIME_NO_CATCH: return "no CATCH for THROW";
    case RUNTIME_ILLEGAL_INSTRUCTION: return "illegal instruction";
    case RUNTIME_FLOAT_FAULT: return "floating-point fault";
    case RUNTIME_ACCESS_VIOLATION: return "access violation";
    case RUNTIME_NO_SWITCH_MATCH: return "no value matched in SWITCH";
    default: return "runtime fault";
    }
}

// Formats the runtime error report into buf without allocating, so that the
// fault handler can use it too.
static size_t runtime_error_format(char* buf, size_t n, int code, const void* address) {
    int len = std::snprintf(buf, n, "*** Runtime Error %d: %s\n*** at: %08lXh\n", code,
                            runtime_error_text(code),
                            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address)));
    return len < 0 ? 0 : size_t(len) < n ? size_t(len) : n - 1;
}

[[noreturn]] void runtime_error_exit(int code, const void* address) {
    if (code != 0) {
        char buf[256];
        size_t len = runtime_error_format(buf, sizeof buf, code, address);
        fd_write_all(STDERR_FD, buf, len);  // a failure leaves nothing to report to
    }
    heap_free_all();
    std::fflush(stdout);
    std::exit(code);
}

// A fault of the process (bad memory access, illegal instruction, arithmetic
// trap) ends it with a runtime error. The handler runs in signal context: it
// writes without allocating and leaves with _Exit because the fault may have
// struck inside malloc.
static void fault_handler(ProcessFault fault, const void* address) {
    int code = fault == ProcessFault::float_fault ? RUNTIME_FLOAT_FAULT
             : fault == ProcessFault::illegal_instruction ? RUNTIME_ILLEGAL_INSTRUCTION
             : RUNTIME_ACCESS_VIOLATION;
    char buf[256];
    size_t len = runtime_error_format(buf, sizeof buf, code, address);
    fd_write_all(STDERR_FD, buf, len);
    std::_Exit(code);
}

void runtime_faults_install() {
    // Sanitizer builds keep their own fault reports, which say more.
#ifndef KEL_SANITIZE
    platform_fault_handler_install(fault_handler);
#else
    (void)fault_handler;
    broken_pipe_signal_ignore();
#endif
}

} // namespace kel
