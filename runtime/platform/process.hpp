// Child processes of the platform layer: starting a program with its standard
// streams redirected, feeding its input and capturing its output and error
// through pipes in one poll loop, waiting for it and ending it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kel {

// Where one standard stream of a child goes.
enum class StreamKind : uint8_t {
    inherit,  // this process's own descriptor
    null,     // /dev/null
    file,     // a file: read for the input, appended to for output and error
    pipe,     // a pipe: the input fed from bytes, output and error captured into bytes
};

// One standard stream of a child.
struct ProcessStream {
    StreamKind kind = StreamKind::inherit;
    std::string path;            // file: the path
    std::vector<uint8_t> bytes;  // pipe: the input to feed, or what was captured
};

// What to run and how. The program (argv[0]) is looked up in PATH unless it
// holds a slash; the child gets this process's environment and current
// directory, default signal handling and no descriptor beyond 0, 1 and 2.
struct ProcessRequest {
    std::vector<std::string> argv;
    ProcessStream input, output, error;
    bool wait = true;           // wait for the end; forced by any pipe
    bool detached = false;      // in a session of its own: no terminal signal of ours reaches it
    int32_t timeout_ms = -1;    // with wait: kill the child after this long; -1: never
};

// How a request ended.
enum class ProcessOutcome : uint8_t {
    exited,     // ran (and, when waited for, ended): status is set
    not_found,  // the program does not exist; nothing ran
    failed,     // a file, pipe or the start failed; nothing ran
    timed_out,  // killed after the time-out; captured bytes are kept
};

struct ProcessResult {
    ProcessOutcome outcome = ProcessOutcome::failed;
    // Waited for: the exit status, or 128 + the signal that ended the child.
    // Not waited for: the child's process id.
    int32_t status = 0;
};

// Runs the request. Input bytes are written while output and error are read,
// so a child that fills its output before reading all its input cannot block
// either side. A child not waited for is reaped by a later call.
ProcessResult process_run(ProcessRequest* request);

// Sends SIGKILL to a child; false when it no longer exists.
bool process_kill(int32_t pid);

// Collects the exit status of every finished child that was not waited for,
// so that none stays behind as a zombie.
void process_reap_finished();

} // namespace kel
