// The texts of the library's Kel files, embedded in the executable at build
// time (library/embed.cmake over library/manifest.txt) in the order in which
// start-up evaluates them.
#pragma once
#include <cstdint>

namespace kel {

struct LibraryText {
    const char* name;            // the file's name in library/
    const unsigned char* text;   // its UTF-8 text, NUL-terminated
    uint32_t size;               // bytes, without the terminator
};

// The files in manifest order, followed by an entry whose name is null.
extern const LibraryText library_texts[];
extern const uint32_t library_text_count;

} // namespace kel
