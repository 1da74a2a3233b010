#include "runtime/native_guard.hpp"
#include "runtime/platform/platform.hpp"
#include "runtime/raise.hpp"

namespace kel {

uintptr_t native_stack_limit = 0;

// Stack size assumed when the limit is unlimited or cannot be read, and the
// largest size the guard trusts (a huge soft limit is not a promise of memory).
constexpr uintptr_t NATIVE_STACK_DEFAULT = 8 * 1024 * 1024;
constexpr uintptr_t NATIVE_STACK_LARGEST = 256 * 1024 * 1024;

void native_stack_guard_init(const void* base) {
    uintptr_t top = reinterpret_cast<uintptr_t>(base ? base : __builtin_frame_address(0));
    uintptr_t size = NATIVE_STACK_DEFAULT;
    if (std::optional<uint64_t> limit = stack_size_limit())
        size = *limit < NATIVE_STACK_LARGEST ? uintptr_t(*limit) : NATIVE_STACK_LARGEST;
    // The base lies a little below the true top of the stack (the process's
    // start-up frames and environment are above it), so the budget is safe.
    uintptr_t budget = size > 2 * NATIVE_STACK_RESERVE ? size - NATIVE_STACK_RESERVE : size / 2;
    native_stack_limit = top > budget ? top - budget : 0;
}

void native_stack_overflow() {
    error_raise(ERR_STACK_OVERFLOW);
}

} // namespace kel
