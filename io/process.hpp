// The back end of the call native: runs another program, directly or through
// the shell, optionally feeding its standard input and capturing its standard
// output and error, and waits for it or returns its process id.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>
#include <string>
#include <vector>

namespace kel {

// Makes the string that captured text is decoded through (once, at start-up)
// and registers it as a root.
void call_init_buffer();

// Runs command (a string! or file!, from its position). wait: wait for the
// end, also forced by any redirection. show: has no effect on this host (a
// child opens no window of its own). console raises internal error not-done.
// shell: the command goes to "/bin/sh -c" as it stands; otherwise a string!
// is split into words as call_command_split splits them, a
// file! names one program (blanks and all), and a program that is not found
// is retried through the shell. input, output and error are
// argument cells or null: a file! redirects to or from that file (output
// appended), a string! or binary! input is fed to the child (a string as
// UTF-8), a string! or binary! output or error receives what the child wrote.
// The cells must be on the data stack or rooted.
// Returns the exit status (waited for), the process id (not waited for) or -1
// when a file, a pipe or the start failed. Command text with a quote left
// open raises script error invalid-arg with the command.
int32_t call_process(Cell* command, bool wait, bool show, bool console, bool shell, Cell* input,
                     Cell* output, Cell* error);

// The words of a command line into words, split as a POSIX shell splits
// words, with no expansion and no shell run: blanks, tabs and line feeds
// separate; single quotes keep everything up to the next single quote; double
// quotes keep everything up to the next double quote but a backslash before
// $ ` " \ or a line feed; elsewhere a backslash keeps the next character and
// a backslash before a line feed joins the lines. Quotes are dropped, and an
// empty pair of them is an empty word. False when a quote is not closed or
// the text ends with a backslash.
bool call_command_split(const std::string& command, std::vector<std::string>* words);

} // namespace kel
