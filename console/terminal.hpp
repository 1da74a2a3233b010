// The terminal console's front end: reading a line from standard input (with
// a line editor, history recall and completion when it is a terminal, plain
// lines otherwise), the terminal's size, Ctrl+C while the console runs,
// standard error, the window title and the atomic write of the console
// configuration file. Each is a routine of the library: it takes its
// arguments from ARGS[0], ARGS[1] ... and leaves its result in ARGS[0] with
// the data top just above it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kel {

// terminal-read-line prompt [string!] hide [logic!] history [block!]
// complete [function!]: writes the prompt and reads one line, or gives none
// at the end of input (Ctrl+D on an empty line). On a terminal the line is
// edited: Escape ends it with the escape character (27) appended, Tab asks
// complete (called with the line at the caret; it answers as the console's
// complete-input does) and Ctrl+C depends on who reads: inside a command that
// the console runs, the command halts; at the console's own prompt the line
// is given with the character 3 appended; elsewhere the process ends as it
// would without the line editor. From a pipe or file nothing read is echoed.
void routine_terminal_read_line();
// terminal-size: the terminal's columns x rows as a pair!; 80x24 when standard
// output is no terminal (never 0x0).
void routine_terminal_size();
// terminal?: whether standard input is a terminal (a logic!).
void routine_terminal_q();
// terminal-interrupt-catch: from now on Ctrl+C (SIGINT) halts the command the
// console runs, which prints "(halted)", instead of ending the process.
void routine_terminal_interrupt_catch();
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
// driven by tests. feed takes one key's bytes at a time. The caret moves and
// deletes by whole characters as shown: a character with the combining marks
// after it.
struct LineEditor {
    enum class Status { editing, done, escaped, interrupted, end_of_input };
    std::vector<uint32_t> chars;         // the line, as code points
    size_t pos = 0;                      // cursor, in code points from the line's start
    std::vector<std::string> history;    // entered lines, newest first
    int recall = -1;                     // history entry shown, -1 for the line being typed
    std::vector<uint32_t> draft;         // the line being typed while history is shown
    Status status = Status::editing;
    // Called by Tab on a line that is not empty; it may replace chars and pos
    // and fill listed with the candidates to show. Without it Tab does nothing.
    std::function<void(LineEditor*)> complete;
    std::vector<std::string> listed;     // candidates of the last completion, until shown
    bool clear_screen = false;           // Ctrl+L asked for a clear screen, until done

    // Applies one key: a UTF-8 character, a control byte or an escape sequence.
    void key(const std::string& bytes);
    std::string text() const;            // the line as UTF-8
};

// Where the terminal's cursor stands, rows and columns from 0; -1 when the
// terminal does not tell.
struct CursorPlace {
    long row = -1;
    long column = -1;
};

// How the line being edited is shown on one screen row after the prompt: a
// window of the line that fits between origin and the last column, scrolled
// sideways to keep the cursor in it, so that a long line never wraps.
struct LineView {
    size_t origin = 0;   // the screen column where the line's window starts
    size_t shown = 0;    // the cursor's column within the window as last drawn
    size_t scroll = 0;   // the first character in the window
    bool hide = false;   // each character shown as one "*"

    // The bytes that redraw the window for a terminal of columns columns,
    // starting from the cursor where the last redraw left it.
    std::string redraw(const LineEditor& e, size_t columns);
    // After the terminal took a width of columns, the cursor now at cursor
    // and the prompt written before the window: the bytes that bring the
    // cursor to where the window starts now and clear the screen from
    // there, origin set to that column, so that redraw draws it anew.
    std::string rewidth(size_t columns, CursorPlace cursor, const std::string& prompt);
};

} // namespace kel
