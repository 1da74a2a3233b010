// The terminal console's front end: reading a line from standard input (with
// a line editor and history recall when it is a terminal, plain lines
// otherwise), the terminal's size, standard error, the window title and the
// atomic write of the console configuration file. Each is a routine of the
// library: it takes its arguments from ARGS[0], ARGS[1] ... and leaves its
// result in ARGS[0] with the data top just above it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kel {

// terminal-read-line prompt [string!] hide [logic!] history [block!]:
// writes the prompt and reads one line. The result is the line without its
// end, with the escape character (27) appended when Escape or Ctrl+C ended
// it, or none at the end of input (Ctrl+D on an empty line).
void routine_terminal_read_line();
// terminal-size: the terminal's columns x rows as a pair!; 80x24 when standard
// output is no terminal (never 0x0).
void routine_terminal_size();
// terminal?: whether standard input is a terminal (a logic!).
void routine_terminal_q();
// write-stderr text [string!]: writes the text as UTF-8 to standard error.
void routine_write_stderr();
// console-title-set text [string!]: sets the terminal window's title; nothing
// happens when standard output is no terminal.
void routine_console_title_set();
// console-cfg-write path [file!] text [string!]: writes the text to the file
// through a temporary file renamed over it, making missing folders (mode
// 0700) first; access error cannot-open with the path on failure.
void routine_console_cfg_write();

// The line editor over byte input, apart from the terminal so that it can be
// driven by tests. feed takes one key's bytes at a time.
struct LineEditor {
    enum class Status { editing, done, escaped, end_of_input };
    std::vector<uint32_t> chars;         // the line, as code points
    size_t pos = 0;                      // cursor, in code points from the line's start
    std::vector<std::string> history;    // entered lines, newest first
    int recall = -1;                     // history entry shown, -1 for the line being typed
    std::vector<uint32_t> draft;         // the line being typed while history is shown
    Status status = Status::editing;

    // Applies one key: a UTF-8 character, a control byte or an escape sequence.
    void key(const std::string& bytes);
    std::string text() const;            // the line as UTF-8
};

} // namespace kel
