// File-system services of the platform layer: opening, reading, writing and
// closing files, directory listing, creation and removal, renaming and file
// times. Paths are NUL-terminated OS bytes (os_text.hpp); sizes and offsets
// are 64-bit, so files beyond 4 GiB are addressed whole.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kel {

// Open modes of file_open, combined as flags.
constexpr uint32_t FILE_MODE_READ = 1;
constexpr uint32_t FILE_MODE_WRITE = 2;   // created when missing; truncated unless appending or seeking
constexpr uint32_t FILE_MODE_APPEND = 4;  // every write goes to the end
constexpr uint32_t FILE_MODE_SEEK = 8;    // writes at a given position: keep the content

// A descriptor, or -1 when the file cannot be opened.
int file_open(const char* path, uint32_t mode);
// False when the OS reports an error at closing (a delayed write failure).
bool file_close(int fd);
// The size in bytes of an open file; -1 when it cannot be read.
int64_t file_size(int fd);
// Places the position at offset bytes from the start; false on failure.
bool file_seek(int fd, int64_t offset);
// Gives path the bytes as its whole content without a moment where it holds
// less: they go to a new file in the same folder, which is flushed and renamed
// over path, so a failed write (a full disk, a size limit) leaves the old file
// as it was. A file that exists keeps its permissions (and owner, where this
// process may set it) and must be writable; a new one gets 0666 less the
// umask. A link is followed and its target replaced. A device, pipe or other
// special file, and a file in a folder where no new file may be made, are
// written in place. False on any failure.
bool file_write_whole(const char* path, const void* bytes, size_t length);
// Reads up to count bytes, resuming after signals and short reads, and stops
// only at the end of the file. Returns the bytes read, or -1 on failure.
int64_t file_read(int fd, void* buffer, uint64_t count);

// Whether anything (file, directory, link) is at the path.
bool path_exists(const char* path);
// Whether the path leads (through links) to a directory.
bool path_is_dir(const char* path);
// Last modification time of the path (through links) in UTC: seconds since
// 1970 and nanoseconds; false when it cannot be read.
bool path_modified(const char* path, int64_t* seconds, int32_t* nanoseconds);

// Creates one directory; false when it exists already or cannot be made.
bool dir_make(const char* path);
// Removes an empty directory, or a file; false on failure.
bool path_remove(const char* path, bool directory);
// Renames; never replaces an existing target (false then).
bool path_rename(const char* from, const char* to);

// One entry of a directory listing.
struct DirEntry {
    std::string name;  // without "." and ".."
    bool directory;    // the entry leads (through links) to a directory
};
// The entries of a directory in the OS's order; false when it cannot be read.
bool dir_list(const char* path, std::vector<DirEntry>* entries);

} // namespace kel
