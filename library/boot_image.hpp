// The library's boot image: every library file lexed at build time and kept
// as a compact Kelbin stream (written by tools/boot_writer.cpp), so that
// start-up decodes the library's code instead of lexing its text. A program
// built without the image (the test programs) lexes the texts instead; both
// give the same code.
#pragma once
#include <cstdint>

namespace kel {

struct LibraryBootFile {
    const char* name;     // the file's name in library/, as in library_texts
    const uint8_t* data;  // the Kelbin stream of the file's code as one block
    uint32_t size;        // bytes
};

// Set before start by the program that carries an image; null otherwise.
extern const LibraryBootFile* library_boot_files;
extern uint32_t library_boot_count;
// When the image was written, the program's build: a date in the language's
// notation (UTC, "18-Nov-2026/23:55:34+0:00"); null without an image.
extern const char* library_build_stamp;

} // namespace kel
