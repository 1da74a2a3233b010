#include "io/process.hpp"
#include "core/error.hpp"
#include "core/series.hpp"
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/file.hpp"
#include "natives/system.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform/process.hpp"

#include <cstring>

namespace kel {

// Characters of room the decoding string starts with (unit 1: bytes).
constexpr uint32_t CALL_SCRATCH_SIZE = 102400;

// The string captured text is decoded into before it joins its target, so
// that a target is changed once, after the whole text proved valid.
static Cell call_scratch;

static void call_scratch_mark() { collector_mark_values(&call_scratch, &call_scratch + 1); }

void call_init_buffer() {
    cell_init(&call_scratch, T_NONE);
    collector_remove_root(call_scratch_mark);
    collector_add_root(call_scratch_mark);
    string_make_at_unit(&call_scratch, CALL_SCRATCH_SIZE, 1);
}

bool call_command_split(const std::string& command, std::vector<std::string>* words) {
    words->clear();
    bool in_word = false;  // a word has begun, though it may still be empty ("")
    auto take = [&](char c) {
        if (!in_word) words->emplace_back();
        in_word = true;
        words->back() += c;
    };
    auto begin = [&]() {
        if (!in_word) words->emplace_back();
        in_word = true;
    };
    size_t n = command.size();
    for (size_t i = 0; i < n; i++) {
        char c = command[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            in_word = false;
        } else if (c == '\\') {
            // A backslash keeps the next character; before a line feed both go.
            if (++i == n) return false;
            if (command[i] == '\n') continue;
            take(command[i]);
        } else if (c == '\'') {
            size_t close = command.find('\'', i + 1);
            if (close == std::string::npos) return false;
            begin();
            words->back().append(command, i + 1, close - i - 1);
            i = close;
        } else if (c == '"') {
            // Inside double quotes a backslash escapes only $ ` " \ and a line
            // feed; before anything else it stays.
            begin();
            for (i++;; i++) {
                if (i == n) return false;
                char d = command[i];
                if (d == '"') break;
                if (d == '\\' && i + 1 < n && std::strchr("$`\"\\\n", command[i + 1])) {
                    if (command[++i] != '\n') words->back() += command[i];
                    continue;
                }
                words->back() += d;
            }
        } else {
            take(c);
        }
    }
    return true;
}

// The OS text of a string! or the local path of a file!, from the
// position. False when it cannot reach the OS (it holds a NUL character).
static bool call_local_text(Cell* value, std::string* text) {
    if (cell_type(value) == T_FILE) return file_to_local(value, text);
    *text = os_text_of(value, -1);
    return text->find('\0') == std::string::npos;
}

// The redirection of one stream from its argument cell (null when absent).
// False when a file name cannot reach the OS.
static bool call_redirect(Cell* value, bool input, ProcessStream* stream) {
    if (!value) {
        stream->kind = input ? StreamKind::inherit : StreamKind::null;
        return true;
    }
    if (cell_type(value) == T_FILE) {
        stream->kind = StreamKind::file;
        return file_to_local(value, &stream->path);
    }
    stream->kind = StreamKind::pipe;
    if (input && cell_type(value) == T_BINARY) {
        stream->bytes = native_value_bytes(value);
    } else if (input) {
        std::string text = os_text_of(value, -1);
        stream->bytes.assign(text.begin(), text.end());
    }
    return true;
}

// The text in single quotes, for the shell to take as one word.
static std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

// What call_run gives for command text that cannot be split into words.
constexpr int32_t CALL_UNSPLIT = -2;

// Starts the request's program, through the shell when asked or when it is
// not found. A command that is a program's path (a file!) is that one
// program, whatever it holds; other command text is split into words. The
// exit status, the process id, -1, or CALL_UNSPLIT.
static int32_t call_run(const std::string& command, bool program, bool wait, bool shell,
                        ProcessRequest* request) {
    request->wait = wait;
    std::string shell_text = program ? shell_quoted(command) : command;
    if (shell) request->argv = {"/bin/sh", "-c", shell_text};
    else if (program) request->argv = {command};
    else if (!call_command_split(command, &request->argv)) return CALL_UNSPLIT;
    ProcessResult result = process_run(request);
    if (result.outcome == ProcessOutcome::not_found && !shell) {
        request->argv = {"/bin/sh", "-c", shell_text};
        result = process_run(request);
    }
    return result.outcome == ProcessOutcome::exited ? result.status : -1;
}

// Puts captured bytes into their target: a binary! gets them inserted at its
// position, a string! gets their OS text appended (UTF-8, any other byte kept
// as a reserved character). Nothing captured leaves the target as it is.
static void call_decode_output(Cell* target, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    uint32_t count = uint32_t(bytes.size());
    if (cell_type(target) == T_BINARY) {
        binary_insert_bytes(target, 0, bytes.data(), count);
        return;
    }
    if (cell_type(&call_scratch) != T_STRING) call_init_buffer();
    // The shell's own messages are UTF-8 on this host too, so text is decoded
    // the same way whether or not the command went through it.
    SeriesBuffer* scratch = series_buffer_of(&call_scratch);
    scratch->tail = scratch->head;
    load_os_text(bytes.data(), count, series_node(&call_scratch));
    string_concatenate(target, &call_scratch, -1, 0, true, CONCAT_APPEND);
}

int32_t call_process(Cell* command, bool wait, bool show, bool console, bool shell, Cell* input,
                     Cell* output, Cell* error) {
    (void)show;
    if (console) error_raise(ERR_NOT_DONE);
    std::string text;
    ProcessRequest request;
    if (!call_local_text(command, &text) || !call_redirect(input, true, &request.input) ||
        !call_redirect(output, false, &request.output) || !call_redirect(error, false, &request.error))
        return -1;
    bool redirected = input || output || error;
    int32_t status = call_run(text, cell_type(command) == T_FILE, wait || redirected, shell, &request);
    if (status == CALL_UNSPLIT) error_raise(ERR_INVALID_ARG, command);
    if (status == -1) return -1;
    if (output && request.output.kind == StreamKind::pipe) call_decode_output(output, request.output.bytes);
    if (error && request.error.kind == StreamKind::pipe) call_decode_output(error, request.error.bytes);
    return status;
}

} // namespace kel
