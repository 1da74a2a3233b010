// System libraries that only some scripts need (HTTP, digests) are opened on
// first use instead of at start, so that every other script starts without
// loading and relocating them. A user lists the functions it calls once, in an
// X-macro, and gets a table of typed function pointers:
//
//   #define CURL_API(X) X(curl_easy_init) X(curl_easy_cleanup)
//   static struct {
//       CURL_API(LIBRARY_API_SLOT)
//       bool load(std::string* error) {
//           const LibrarySymbol symbols[] = {CURL_API(LIBRARY_API_SYMBOL)};
//           return library_api_load("libcurl.so.4", symbols, std::size(symbols), error);
//       }
//   } curl;
//   curl.curl_easy_init();
#pragma once
#include <cstddef>
#include <string>

namespace kel {

// One function to find: its exported name and the slot that receives it.
struct LibrarySymbol {
    const char* name;
    void** slot;
};

#define LIBRARY_API_SLOT(f) decltype(&::f) f = nullptr;
// Used inside a member function of the table, so that f names the slot and
// not the library's own declaration.
#define LIBRARY_API_SYMBOL(f) {#f, reinterpret_cast<void**>(&this->f)},

// Opens the library by its shared-object name and fills every slot. False
// when the library or one of the functions is missing; error then says which.
// The library stays loaded for the rest of the run.
bool library_api_load(const char* soname, const LibrarySymbol* symbols, size_t count, std::string* error);

} // namespace kel
