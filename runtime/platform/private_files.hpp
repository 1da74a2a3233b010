// Private files of the user's cache: folders only the owner can enter, and
// files replaced atomically so a reader never sees half a file. Paths are
// UTF-8 and NUL-terminated.
#pragma once
#include <cstddef>

namespace kel {

// Creates the folder and every missing folder above it, each with mode
// 0700; true also when the folder is there already.
bool dir_make_private(const char* path);
// Writes the bytes to a new file beside path (mode 0600), flushes it to disk
// and renames it over path, replacing any file there. On failure the
// temporary file is removed and path is left as it was.
bool file_write_replace(const char* path, const void* bytes, size_t length);
// The same after making every missing folder above path with mode 0700;
// false when a folder cannot be made.
bool file_write_private(const char* path, const void* bytes, size_t length);

} // namespace kel
