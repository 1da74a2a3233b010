// The file back end: reading and writing files, listing, creating and removing
// directories, renaming and file dates, over the platform layer. Names come as
// file! values and reach the OS in their local form (datatypes/file.hpp).
//
// Text is UTF-8; lines end with LF when written and with LF or CR LF when
// read. Sizes and offsets are 64-bit; a read whose result would not fit in one
// series raises script error size-limit rather than being cut short.
//
// Cells given here must be on the data stack or rooted: everything allocates.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// Reads the file into out (a string!, a binary! with binary, a block of
// strings with lines), or lists it when file_dir_path_q holds. part and seek
// are integer! cells, integral float! cells (offsets past the integer range)
// or null: part counts bytes (a negative part reads to the
// end), seek is a byte offset (ignored when negative); a seek past the end
// gives an empty result. A file that cannot be opened or read raises access
// error cannot-open with the file; any other type of part or seek raises
// script error invalid-refine-arg.
void file_read_any(const Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines,
                   Cell* out);
// A block of file! values, one per entry, sorted by name; directories end with
// "/". A directory that cannot be read raises access error cannot-open.
void file_read_dir(const Cell* dir, Cell* out);

// Writes the value to the file, or to standard output when file is null, and
// returns the bytes written. A string! goes as UTF-8, a binary! as its bytes
// from its position, any other value molded; part limits the characters or
// bytes. With lines a block's values are written one per line, any other
// value followed by a line end. The bytes are made before the file is
// touched. Without append or seek they replace the file through a temporary
// file renamed over it (file_write_whole), so a failure leaves the old content;
// with append they go at its end, with seek at that offset, in place. part and
// seek are integers or integral floats. A failed or short write anywhere
// raises access error cannot-open with the file (none for standard output).
int64_t file_write_any(const Cell* file, const Cell* value, const Cell* seek, const Cell* part,
                       bool append, bool lines);

// Removes the file, or the (empty) directory it names; false on failure.
bool file_delete(const Cell* file);
// Renames; false on failure and when the target exists (it is never replaced).
bool file_rename(const Cell* file, const Cell* to);
// The last-write time as a UTC date! in out; false (out untouched) when it
// cannot be read or when the name ends with "/" but is no directory.
bool file_modified_date(const Cell* file, Cell* out);
// Creates one directory; false when it exists or cannot be made.
bool file_make_dir(const Cell* file);
// Whether anything exists at the file's path.
bool file_exists_q(const Cell* file);

// Splits text at LF into a block of strings in out: a CR before an LF is
// dropped, an empty line gives an empty string, text after the last LF gives a
// last string and a final LF adds none. The bytes must lie outside every
// series buffer.
void lines_to_block(const uint8_t* bytes, uint64_t length, Cell* out);

// ---- the file! actions that reach files ----------------------------------------

// The logic result replaces the file.
void file_delete_action(Cell* file);
// The last-write date (a date! in UTC), or none, replaces the file.
void file_query(Cell* file);
// The content (string!, binary! or block of lines) or the directory listing
// replaces the file.
void file_read_action(Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines,
                      bool info, const Cell* as);
// The logic result replaces the file.
void file_rename_action(Cell* file, const Cell* to);
// The result (unset) replaces the file.
void file_write_action(Cell* file, const Cell* data, bool binary, bool lines, bool info,
                       bool append, const Cell* part, const Cell* seek, const Cell* allow,
                       const Cell* as);

// Gives file! the five actions above; runs after the datatypes are registered.
void file_actions_register();

} // namespace kel
