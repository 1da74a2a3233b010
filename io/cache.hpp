// Routines of the remote-file cache (library/cache.kel): its folders are
// private to the user and its entries are replaced atomically, so a reader
// never meets half an entry. Arguments are read from ARGS[0], ARGS[1] and the
// result left in ARGS[0], as for every routine.
#pragma once

namespace kel {

// cache-make-dir path [file!]: creates the folder and the missing folders
// above it, each with mode 0700; existing folders are kept. Access error
// no-create with the path on failure. Result: the path.
void routine_cache_make_dir();
// cache-write path [file!] data [binary! string!]: replaces the file with the
// data (a binary! from its position, a string! as UTF-8) through a temporary
// file renamed over it. Access error cannot-open with the path on failure.
// Result: the path.
void routine_cache_write();

} // namespace kel
