// The native stack guard: deep recursion in C++ (evaluator, mold, compare,
// parse, change handlers) raises internal error stack-overflow before the
// machine stack runs out, instead of faulting. Recursive functions call
// native_stack_check() once per level; it is one comparison.
#pragma once
#include <cstdint>

namespace kel {

// The lowest frame address recursion may reach; 0 until the guard is set up.
extern uintptr_t native_stack_limit;

// Bytes of machine stack kept in reserve below the limit, for raising the
// error and unwinding (more under sanitizers, whose frames are larger).
#ifdef KEL_SANITIZE
constexpr uintptr_t NATIVE_STACK_RESERVE = 1024 * 1024;
#else
constexpr uintptr_t NATIVE_STACK_RESERVE = 256 * 1024;
#endif

// Sets the limit from the stack base (the address start-up recorded, or the
// caller's frame when null) and the process's stack size limit.
void native_stack_guard_init(const void* base);

[[noreturn]] void native_stack_overflow();

// The machine stack pointer, read without making the caller set up a frame
// pointer of its own (as taking its frame's address would).
inline uintptr_t native_stack_pointer() {
#if defined(__x86_64__)
    uintptr_t sp;
    asm volatile("mov %%rsp, %0" : "=r"(sp));
    return sp;
#else
    return reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
#endif
}

inline void native_stack_check() {
    if (native_stack_pointer() < native_stack_limit) native_stack_overflow();
}

} // namespace kel
