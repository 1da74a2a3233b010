#include "runtime/platform/platform.hpp"
#include "runtime/stdout.hpp"
#include "runtime/raise.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <csignal>
#include <poll.h>
#include <sys/resource.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <unistd.h>

namespace kel {

void platform_init() {
    stdout_init();
}

// ---- virtual memory ---------------------------------------------------------

void* vmem_alloc(size_t size, bool executable) {
    int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* address = size ? mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                         : MAP_FAILED;
    if (address == MAP_FAILED) error_raise(ErrorCategory::internal, ERR_NO_MEMORY);
    return address;
}

void* vmem_reserve(size_t size) {
    void* address = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return address == MAP_FAILED ? nullptr : address;
}

void vmem_free(void* address, size_t size) {
    if (!address || munmap(address, size) != 0)
        error_raise(ErrorCategory::internal, ERR_WRONG_MEM);
}

void vmem_protect_none(void* address, size_t size) {
    if (mprotect(address, size, PROT_NONE) != 0)
        error_raise(ErrorCategory::internal, ERR_WRONG_MEM);
}

void vmem_protect_rw(void* address, size_t size) {
    if (mprotect(address, size, PROT_READ | PROT_WRITE) != 0)
        error_raise(ErrorCategory::internal, ERR_WRONG_MEM);
}

// Drops the whole pages of [address, address + size); 0 when it holds none.
static int whole_pages_drop(const void* address, size_t size) {
    uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    uintptr_t first = (uintptr_t(address) + page - 1) & ~(page - 1);
    uintptr_t end = (uintptr_t(address) + size) & ~(page - 1);
    return end > first ? madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED) : 0;
}

void vmem_discard(void* address, size_t size) {
    if (whole_pages_drop(address, size) != 0) error_raise(ErrorCategory::internal, ERR_WRONG_MEM);
}

void vmem_release_file_pages(const void* address, size_t size) {
    // A clean page of a private file mapping is dropped and read again on
    // demand: nothing it held is lost. A failure only leaves it resident.
    whole_pages_drop(address, size);
}

void system_heap_trim() { malloc_trim(0); }

// ---- process ------------------------------------------------------------------

std::optional<uint64_t> stack_size_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    return uint64_t(limit.rlim_cur);
}

static FaultHandler fault_handler_installed = nullptr;

static void fault_signal(int sig, siginfo_t* info, void*) {
    ProcessFault fault = sig == SIGFPE ? ProcessFault::float_fault
                       : sig == SIGILL ? ProcessFault::illegal_instruction
                       : ProcessFault::access;
    fault_handler_installed(fault, info ? info->si_addr : nullptr);
}

void broken_pipe_signal_ignore() {
    // A write past the file-size limit then fails with EFBIG as a full disk
    // does, instead of ending the process.
    if (std::signal(SIGPIPE, SIG_IGN) == SIG_ERR || std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR)
        error_raise(ErrorCategory::internal, ERR_FEATURE_NA);
}

void platform_fault_handler_install(FaultHandler handler) {
    static char alt_stack[64 * 1024];
    fault_handler_installed = handler;
    stack_t ss{};
    ss.ss_sp = alt_stack;
    ss.ss_size = sizeof alt_stack;
    struct sigaction sa{};
    sa.sa_sigaction = fault_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    bool ok = sigaltstack(&ss, nullptr) == 0;
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) ok = sigaction(sig, &sa, nullptr) == 0 && ok;
    if (!ok) error_raise(ErrorCategory::internal, ERR_FEATURE_NA);
    broken_pipe_signal_ignore();
}

volatile std::sig_atomic_t interrupt_requested = 0;
static bool interrupt_handler_installed = false;

static void interrupt_signal(int) { interrupt_requested = 1; }

void interrupt_catch_install() {
    if (interrupt_handler_installed) return;
    struct sigaction sa{};
    sa.sa_handler = interrupt_signal;
    sigemptyset(&sa.sa_mask);
    // Without SA_RESTART a blocking call returns EINTR, so a wait can end early.
    if (sigaction(SIGINT, &sa, nullptr) != 0) error_raise(ErrorCategory::internal, ERR_FEATURE_NA);
    interrupt_handler_installed = true;
}

bool interrupt_caught() { return interrupt_handler_installed; }

void interrupt_default_raise() {
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    std::_Exit(128 + SIGINT);
}

// ---- current directory and environment ----------------------------------------

std::string current_dir_get() {
    std::string dir(256, '\0');
    for (;;) {
        if (getcwd(dir.data(), dir.size())) {
            dir.resize(std::char_traits<char>::length(dir.c_str()));
            return dir;
        }
        if (errno != ERANGE) return {};
        dir.resize(dir.size() * 2);
    }
}

bool current_dir_set(const char* path) { return chdir(path) == 0; }

std::optional<std::string> env_get(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

bool env_set(const char* name, const char* value) {
    if (!value) return unsetenv(name) == 0;
    return setenv(name, value, 1) == 0;
}

// ---- waiting ------------------------------------------------------------------

uint32_t wait_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;  // also NaN
    if (ms >= double(UINT32_MAX)) return UINT32_MAX;
    return uint32_t(ms);
}

void wait_seconds(double seconds) {
    uint32_t ms = wait_milliseconds(seconds);
    timespec left{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    // A signal cuts the sleep short and reports what is left; sleep on, unless
    // it was Ctrl+C at the console.
    while (nanosleep(&left, &left) != 0 && errno == EINTR && !interrupt_requested) {}
}

// ---- clock --------------------------------------------------------------------

static void clock_now_system(int64_t* seconds, int32_t* nanoseconds) {
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) ts = timespec{};  // cannot fail for this clock
    *seconds = ts.tv_sec;
    *nanoseconds = int32_t(ts.tv_nsec);
}

static int32_t zone_offset_system(int64_t seconds) {
    // tzset re-reads TZ, which env_set may have changed; localtime_r alone need not.
    tzset();
    time_t t = time_t(seconds);
    tm local{};
    if (!localtime_r(&t, &local)) return 0;  // a time the zone database cannot place: UTC
    return int32_t(local.tm_gmtoff);
}

const PlatformClock platform_clock_system = {clock_now_system, zone_offset_system};
PlatformClock platform_clock = platform_clock_system;

constexpr int64_t SECONDS_PER_DAY = 86400;

double time_of_day_at(int64_t seconds, int32_t nanoseconds, bool precise) {
    int64_t of_day = seconds % SECONDS_PER_DAY;
    if (of_day < 0) of_day += SECONDS_PER_DAY;  // before 1970
    if (!precise) return double(of_day);
    int32_t ticks = nanoseconds / 100;           // 100-nanosecond steps
    return double(of_day) + double(ticks) * 100.0 / 1e9;
}

double time_of_day(bool precise) {
    int64_t seconds;
    int32_t nanoseconds;
    platform_clock.now(&seconds, &nanoseconds);
    return time_of_day_at(seconds, nanoseconds, precise);
}

uint32_t zone_encode(int32_t minutes_east) {
    uint32_t magnitude = uint32_t(minutes_east < 0 ? -int64_t(minutes_east) : minutes_east);
    uint32_t hour_field = (magnitude / 60) & 0x0F;
    if (minutes_east < 0) hour_field |= 0x10;
    uint32_t quarters = (magnitude % 60) / 15;
    return hour_field * 4 + quarters;
}

uint32_t date_pack(int year, int month, int day, uint32_t zone) {
    return uint32_t(year) << 17 | uint32_t(month) << 12 | uint32_t(day) << 7 | (zone & 0x7F);
}

uint32_t date_packed(bool utc) {
    int64_t seconds;
    int32_t nanoseconds;
    platform_clock.now(&seconds, &nanoseconds);
    int32_t offset = utc ? 0 : platform_clock.zone_offset(seconds);
    // The civil date of the instant shifted by the offset is the local date.
    time_t shifted = time_t(seconds + offset);
    tm civil{};
    if (!gmtime_r(&shifted, &civil)) return 0;  // a year beyond the 32-bit tm range
    uint32_t zone = utc ? 0 : zone_encode(offset / 60);
    return date_pack(civil.tm_year + 1900, civil.tm_mon + 1, civil.tm_mday, zone);
}

// ---- file descriptors ---------------------------------------------------------

bool fd_write_all(int fd, const void* data, size_t len) {
    auto* p = static_cast<const uint8_t*>(data);
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n > 0) {
            p += n;
            len -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A non-blocking descriptor: wait until it takes more.
            pollfd waiter{fd, POLLOUT, 0};
            if (poll(&waiter, 1, -1) < 0 && errno != EINTR) return false;
        } else {
            return false;
        }
    }
    return true;
}

bool fd_is_terminal(int fd) { return isatty(fd) == 1; }

bool secure_random_fill(void* data, size_t len) {
    auto* bytes = static_cast<uint8_t*>(data);
    size_t got = 0;
    while (got < len) {
        ssize_t n = getrandom(bytes + got, len - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += size_t(n);
    }
    return true;
}

} // namespace kel
