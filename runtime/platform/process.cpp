#include "runtime/platform/process.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kel {

// Captured bytes start with this much room and double whenever it fills.
constexpr size_t CAPTURE_START = 4096;
// Input goes to the child in pieces of at most this many bytes.
constexpr size_t FEED_CHUNK = 65536;

// Children started without waiting, whose exit status is still to collect.
static std::vector<pid_t> unwaited;

// A descriptor this process owns, closed when the holder goes.
struct Fd {
    int fd = -1;
    Fd() = default;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { close_now(); }
    void close_now() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// A new descriptor is moved above the standard ones, so that placing the
// child's streams on 0, 1 and 2 never overwrites another of them.
static int fd_above_std(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

static bool fd_open(Fd* out, const char* path, int flags) {
    out->fd = fd_above_std(::open(path, flags | O_CLOEXEC, 0666));
    return out->fd >= 0;
}

// A pipe whose two ends are closed at exec.
static bool pipe_open(Fd* read_end, Fd* write_end) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end->fd = fd_above_std(fds[0]);
    write_end->fd = fd_above_std(fds[1]);
    return read_end->fd >= 0 && write_end->fd >= 0;
}

// The descriptors of one stream: the child's end (placed on its standard
// descriptor) and, for a pipe, this process's end.
struct StreamEnds {
    Fd child;
    Fd parent;
};

static bool stream_open(const ProcessStream& stream, bool input, StreamEnds* ends) {
    int flags = input ? O_RDONLY : O_WRONLY | O_CREAT | O_APPEND;
    switch (stream.kind) {
    case StreamKind::inherit: return true;
    case StreamKind::null: return fd_open(&ends->child, "/dev/null", input ? O_RDONLY : O_WRONLY);
    case StreamKind::file: return fd_open(&ends->child, stream.path.c_str(), flags);
    case StreamKind::pipe:
        if (input) {
            if (!pipe_open(&ends->child, &ends->parent)) return false;
            // Written only when poll reports room, never blocking the loop.
            return fcntl(ends->parent.fd, F_SETFL, O_NONBLOCK) == 0;
        }
        return pipe_open(&ends->parent, &ends->child);
    }
    return false;
}

// Blocks SIGPIPE in this thread while input is fed, so that a child that
// stops reading gives EPIPE instead of ending this process; a SIGPIPE raised
// meanwhile is consumed before the mask is restored.
struct SigpipeBlock {
    sigset_t pipe_set{};
    sigset_t saved{};
    bool was_pending = false;
    SigpipeBlock() {
        sigemptyset(&pipe_set);
        sigaddset(&pipe_set, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        was_pending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_set, &saved);
    }
    ~SigpipeBlock() {
        sigset_t pending;
        sigpending(&pending);
        if (!was_pending && sigismember(&pending, SIGPIPE) == 1) {
            timespec none{0, 0};
            sigtimedwait(&pipe_set, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    }
};

// Milliseconds on a clock that never jumps.
static int64_t monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// What remains of a time-out for poll: -1 without one, else 0 or more.
static int remaining_ms(int64_t deadline) {
    if (deadline < 0) return -1;
    return int(std::max<int64_t>(0, deadline - monotonic_ms()));
}

// Appends what can be read now; false at the end of the stream or on error.
static bool capture_read(int fd, std::vector<uint8_t>* bytes) {
    if (bytes->capacity() < CAPTURE_START) bytes->reserve(CAPTURE_START);
    if (bytes->size() == bytes->capacity()) bytes->reserve(bytes->capacity() * 2);
    size_t used = bytes->size();
    size_t room = bytes->capacity() - used;
    bytes->resize(used + room);
    ssize_t got;
    do got = ::read(fd, bytes->data() + used, room);
    while (got < 0 && errno == EINTR);
    bytes->resize(used + size_t(std::max<ssize_t>(got, 0)));
    return got > 0 || (got < 0 && errno == EAGAIN);
}

// Writes what the pipe takes now; false once everything went or the child
// closed its input.
static bool feed_write(int fd, const std::vector<uint8_t>& bytes, size_t* done) {
    size_t count = std::min(bytes.size() - *done, FEED_CHUNK);
    ssize_t put = count ? ::write(fd, bytes.data() + *done, count) : 0;
    if (put > 0) *done += size_t(put);
    else if (put < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    else if (count) return false;
    return *done < bytes.size();
}

// Feeds the input and drains output and error together until all three are
// closed. False when the deadline passed first.
static bool streams_exchange(ProcessRequest* request, StreamEnds* in, StreamEnds* out,
                             StreamEnds* err, int64_t deadline) {
    SigpipeBlock sigpipe;
    size_t fed = 0;
    if (in->parent.fd >= 0 && request->input.bytes.empty()) in->parent.close_now();
    for (;;) {
        pollfd fds[3];
        Fd* owners[3];
        nfds_t count = 0;
        auto watch = [&](Fd* fd, short events) {
            if (fd->fd < 0) return;
            fds[count] = {fd->fd, events, 0};
            owners[count++] = fd;
        };
        watch(&in->parent, POLLOUT);
        watch(&out->parent, POLLIN);
        watch(&err->parent, POLLIN);
        if (count == 0) return true;
        int wait = remaining_ms(deadline);
        if (wait == 0 && deadline >= 0) return false;
        int ready = poll(fds, count, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return true;  // nothing sensible to wait on: let waitpid decide
        for (nfds_t k = 0; k < count; k++) {
            if (!fds[k].revents) continue;
            Fd* fd = owners[k];
            bool open = fd == &in->parent ? feed_write(fd->fd, request->input.bytes, &fed)
                      : capture_read(fd->fd, fd == &out->parent ? &request->output.bytes
                                                              : &request->error.bytes);
            if (!open) fd->close_now();
        }
    }
}

// The status of a waited-for child: its exit status, or 128 + the signal.
static int32_t exit_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

static int32_t child_wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return exit_status(status);
}

// Waits until the deadline; false when the child is still running then.
static bool child_wait_until(pid_t pid, int64_t deadline, int32_t* status) {
    if (deadline < 0) {
        *status = child_wait(pid);
        return true;
    }
    for (;;) {
        int raw = 0;
        pid_t done = waitpid(pid, &raw, WNOHANG);
        if (done == pid) {
            *status = exit_status(raw);
            return true;
        }
        if (done < 0 && errno != EINTR) {
            *status = -1;
            return true;
        }
        int left = remaining_ms(deadline);
        if (left == 0) return false;
        timespec pause{0, long(std::min(left, 10)) * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

// Starts the program with its streams on 0, 1 and 2. Returns 0 or the errno.
static int child_spawn(const ProcessRequest& request, StreamEnds* ends, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (int k = 0; k < 3; k++)
        if (ends[k].child.fd >= 0) posix_spawn_file_actions_adddup2(&actions, ends[k].child.fd, k);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // This process ignores SIGPIPE and SIGXFSZ, and an ignored signal survives exec.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (request.detached) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attributes, flags);
    std::vector<char*> argv;
    for (const std::string& arg : request.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int error = posix_spawnp(pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

ProcessResult process_run(ProcessRequest* request) {
    process_reap_finished();
    ProcessResult result;
    if (request->argv.empty() || request->argv[0].empty()) {
        result.outcome = ProcessOutcome::not_found;
        return result;
    }
    StreamEnds ends[3];
    ProcessStream* streams[3] = {&request->input, &request->output, &request->error};
    bool piped = false;
    for (int k = 0; k < 3; k++) {
        if (!stream_open(*streams[k], k == 0, &ends[k])) return result;
        piped |= streams[k]->kind == StreamKind::pipe;
        if (k > 0 && streams[k]->kind == StreamKind::pipe) streams[k]->bytes.clear();
    }
    pid_t pid = 0;
    int error = child_spawn(*request, ends, &pid);
    if (error) {
        if (error == ENOENT) result.outcome = ProcessOutcome::not_found;
        return result;
    }
    for (StreamEnds& end : ends) end.child.close_now();
    if (!request->wait && !piped) {
        unwaited.push_back(pid);
        result.outcome = ProcessOutcome::exited;
        result.status = int32_t(pid);
        return result;
    }
    int64_t deadline = request->timeout_ms < 0 ? -1 : monotonic_ms() + request->timeout_ms;
    bool in_time = streams_exchange(request, &ends[0], &ends[1], &ends[2], deadline);
    for (StreamEnds& end : ends) end.parent.close_now();
    if (in_time) in_time = child_wait_until(pid, deadline, &result.status);
    if (!in_time) {
        kill(pid, SIGKILL);
        child_wait(pid);
        result.outcome = ProcessOutcome::timed_out;
        return result;
    }
    result.outcome = ProcessOutcome::exited;
    return result;
}

bool process_kill(int32_t pid) { return pid > 0 && kill(pid_t(pid), SIGKILL) == 0; }

void process_reap_finished() {
    std::erase_if(unwaited, [](pid_t pid) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        return done == pid || (done < 0 && errno == ECHILD);
    });
}

} // namespace kel
