// file!: a string that names a file in the language's path notation, with
// forward slashes and an absolute path starting with "/". On this host that
// notation is also the operating system's own, so the local form of a name is
// its characters as OS text (UTF-8, with the bytes that are not UTF-8 kept as
// reserved characters: core/unicode.hpp, os_text_of); a relative name is made
// absolute by prefixing the current directory.
//
// The cell is laid out as string!'s: word 1 the index, word 2 the node of a
// Latin-1, UCS-2 or UCS-4 buffer, word 3 the conversion buffer or 0.
#pragma once
#include "runtime/cell.hpp"
#include <string>

namespace kel {

// Pushes a copy of the file cell on the data stack.
Cell* file_push(const Cell* file);

// Appends the local form of the name from its position to the result string;
// with absolute, a relative name is preceded by the current directory. Both
// cells must be on the data stack or rooted.
void file_to_local_into(const Cell* file, Cell* result, bool absolute);
// The name from its position as the path the OS takes. False when the
// name cannot reach the OS as it stands (it holds a NUL character).
bool file_to_local(const Cell* file, std::string* path);

// Pushes the current directory as a string! that ends with "/". A current
// directory the OS cannot report (it was removed) raises access error
// cannot-open.
Cell* file_current_dir();

// Whether the name, from its head, names a directory by its form: it ends with
// "/", or it is "." or ".." alone or after a "/". An empty name does not.
bool file_dir_path_q(const Cell* file);

// ---- actions -------------------------------------------------------------------

int32_t file_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);

// Registers file! (parent url!).
void init_file();

} // namespace kel
