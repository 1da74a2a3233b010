// The platform layer: the only code that calls the operating system directly.
// Each operation is one OS call plus the conversion its callers expect. Text
// crossing this boundary is bytes as the OS keeps them, mostly UTF-8; strings
// become such bytes and back through the one mapping of os_text.hpp.
#pragma once
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kel {

// Process-wide services, started once by runtime_init: standard output.
void platform_init();

// ---- virtual memory ---------------------------------------------------------
// Frames for the memory manager, zero-filled and page-aligned. Failure raises
// internal error no-memory.
void* vmem_alloc(size_t size, bool executable);
// size is the size given to vmem_alloc. Failure (an address that is not a
// mapping's start) raises internal error wrong-mem.
void vmem_free(void* address, size_t size);
// A range of address space taken for later use: inaccessible and backed by
// nothing until parts of it are made accessible (vmem_protect_rw). Null when
// the process may not have that much address space.
void* vmem_reserve(size_t size);
// Removes every access to a frame (or whole pages of it), so that any later
// touch faults. Failure raises internal error wrong-mem.
void vmem_protect_none(void* address, size_t size);
// Makes such a block readable and writable again.
void vmem_protect_rw(void* address, size_t size);
// Gives the whole pages of [address, address + size) back to the system; the
// mapping stays, and a page reads as zero when next touched. Nothing happens
// when the range holds no whole page.
void vmem_discard(void* address, size_t size);
// Gives the whole pages of a read-only part of the program's file back to
// the system; a page is read from the file again when next touched. Nothing
// happens when the range holds no whole page.
void vmem_release_file_pages(const void* address, size_t size);
// Gives the whole free pages of the C library's heap back to the system.
void system_heap_trim();

// ---- process ------------------------------------------------------------------
// The soft limit on the size of the main thread's stack, in bytes; nothing when
// it is unlimited or the OS cannot report it.
std::optional<uint64_t> stack_size_limit();

// Faults of the process that end it with a runtime error.
enum class ProcessFault { access, illegal_instruction, float_fault };
// Runs in signal context on a stack of its own (so that a machine stack
// overflow is still reported): it may only call async-signal-safe services,
// such as fd_write_all, and must not return.
using FaultHandler = void (*)(ProcessFault fault, const void* address);
// Routes bad memory accesses, illegal instructions and arithmetic traps to the
// handler, and has a closed pipe reported by the write's result instead of a
// signal.
void platform_fault_handler_install(FaultHandler handler);
// Only the closed-pipe and file-size-limit part of platform_fault_handler_install, for builds that
// leave faults to a sanitizer.
void broken_pipe_signal_ignore();

// Ctrl+C: while the terminal console runs, SIGINT only sets interrupt_requested,
// which the evaluator reads between expressions (and a wait cuts short). Before
// interrupt_catch_install, and in every run without the terminal console, SIGINT
// keeps its ordinary effect: the process ends.
extern volatile std::sig_atomic_t interrupt_requested;
void interrupt_catch_install();
bool interrupt_caught();
// Ends the process as an uncaught SIGINT does (used where the terminal was in a
// mode that does not send it).
[[noreturn]] void interrupt_default_raise();

// ---- current directory and environment ----------------------------------------
// The current directory without a trailing slash (except for "/"); empty when
// the OS cannot report it (for example when it was removed).
std::string current_dir_get();
bool current_dir_set(const char* path);

// The variable's value; nothing when it is not set.
std::optional<std::string> env_get(const char* name);
// Sets a variable; a null value removes it. False when the OS refuses (an
// empty name or one containing "=").
bool env_set(const char* name, const char* value);

// ---- waiting ------------------------------------------------------------------
// Whole milliseconds to wait for a number of seconds: the product truncated
// toward zero, at least 1 (also for NaN and negative values), at most the
// largest 32-bit count.
uint32_t wait_milliseconds(double seconds);
// Sleeps wait_milliseconds(seconds), resuming after signals; Ctrl+C caught by
// the console (interrupt_requested) ends it early.
void wait_seconds(double seconds);

// ---- clock --------------------------------------------------------------------
// Sources of the current time. Tests replace the members to fix "now" and the
// local zone; the defaults read the system clock and the zone database.
struct PlatformClock {
    // The current UTC time as seconds since 1970-01-01 and nanoseconds 0-999,999,999.
    void (*now)(int64_t* seconds, int32_t* nanoseconds);
    // Offset of the local zone east of UTC, in seconds, at the given UTC instant.
    int32_t (*zone_offset)(int64_t seconds);
};
extern PlatformClock platform_clock;
extern const PlatformClock platform_clock_system;

// Seconds since midnight UTC. Without precise the result is whole; with it the
// fraction is counted in steps of 100 nanoseconds.
double time_of_day(bool precise);
double time_of_day_at(int64_t seconds, int32_t nanoseconds, bool precise);

// Packed date: year in bits 17-31, month 1-12 in bits 12-16, day 1-31 in bits
// 7-11, zone in bits 0-6 (see zone_encode). With utc the date is today's UTC
// date and the zone 0; else the local date and zone.
uint32_t date_packed(bool utc);
uint32_t date_pack(int year, int month, int day, uint32_t zone);
// Zone field of a packed date for an offset in minutes east of UTC: the hour
// field is the whole hours' magnitude (4 bits) with 0x10 set for a zone west of
// UTC; the field is hour field x 4 + the remaining quarter hours (0-3).
uint32_t zone_encode(int32_t minutes_east);

// ---- file descriptors ---------------------------------------------------------
// The standard descriptors the process starts with.
constexpr int STDOUT_FD = 1;
constexpr int STDERR_FD = 2;

// Writes every byte, resuming after signals and partial writes. False when the
// OS reports an error (a closed pipe, a full disk); the rest is dropped.
bool fd_write_all(int fd, const void* data, size_t len);

// Fills the buffer from the kernel's secure random source; false when the
// source fails (interrupted reads are retried).
bool secure_random_fill(void* data, size_t len);
bool fd_is_terminal(int fd);

} // namespace kel
