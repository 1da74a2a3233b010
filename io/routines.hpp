// Routines of the library over the file back end and the OS services: the
// process's exit, the current directory, directory creation, existence tests,
// the OS description and writing to standard output. Each takes its arguments
// from the running frame's argument cells (ARGS[0], ARGS[1] ...) and leaves
// its result in ARGS[0] with the data top just above it, as natives do.
#pragma once
#include "core/routine_table.hpp"
#include <cstdint>

namespace kel {

// The routines of io/ for the library's registry: these and those of the
// library cache, Kelbin, the image codecs, JSON and CSV (io/routines.cpp).
extern const RoutineDef IO_ROUTINES[];
extern const uint32_t IO_ROUTINE_COUNT;

// quit-return status [integer!]: ends the process at once with the status.
[[noreturn]] void routine_quit_return();
// get-current-dir: the current directory as a file! ending with "/".
void routine_get_current_dir();
// set-current-dir path [file!]: changes the current directory; access error
// cannot-open with the path when the OS refuses. Result unset.
void routine_set_current_dir();
// create-dir path [file!]: creates one directory; access error no-create with
// the path when it exists already or cannot be made. Result unset.
void routine_create_dir();
// exists? path [file!]: whether anything exists at the path, as a logic!.
void routine_exists_q();
// os-info: the operating-system object (name, arch, version, build).
void routine_os_info();
// write-stdout data: writes the value's text (a string! as it is, a binary!'s
// bytes, anything else molded) to standard output. Result unset.
void routine_write_stdout();

} // namespace kel
