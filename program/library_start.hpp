// The start-up tail after runtime initialisation: the library's routines and
// Kel files come to life, then the script named on the command line runs.
#pragma once
#include <cstddef>

namespace kel {

// Switches automatic collection on, makes the routines, evaluates the
// embedded library files in manifest order and runs the script. A library
// file that fails to load or evaluate ends the process with one line on
// standard error, "*** Boot Error: " with the file, the line and the
// error's message, and exit status 1. A failing script ends it with the
// script's status.
void library_start();

// Adds every module's routine table to the library's registry and makes
// every routine.
void library_routines_define();

struct LibraryBootFile;

// Lexes one library text (name: its file name in library/), or decodes its
// boot-image stream when boot is given, flags its blocks as library code and
// evaluates it after its header; a failure ends the process as above (the
// text gives the failing line).
void library_evaluate(const char* name, const unsigned char* text, size_t size,
                      const LibraryBootFile* boot = nullptr);

// Evaluates the embedded library files (collection must be on and the
// routines made), then seals the library into its own context; a failure
// ends the process as above.
void library_load();

} // namespace kel
