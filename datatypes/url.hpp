// url!: a string that names a resource (file! is its child and shares its
// construction and path joining). The module holds percent-encoding and
// -decoding of text, URL molding, building a URL from a block of parts,
// joining a URL with a path element, and open, read and write, which hand
// HTTP URLs to the HTTP request service and every other URL to a port.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>
#include <string>

namespace kel {

// Modes of url_enhex: the strict set keeps only the unreserved characters
// (letters, digits, "-", ".", "_", "~"); the URL set keeps the characters a
// URL may hold as they are.
constexpr int32_t ENHEX_STRICT = 254;
constexpr int32_t ENHEX_URL = 255;

// Percent-encodes the UTF-8 of the string from its position, appending to
// result (a unit-1 string): each byte is kept or written as "%" and two
// upper-case hex digits. Neither cell may lie in a series buffer.
void url_enhex(const Cell* string, Cell* result, int32_t mode);
// Decodes the percent escapes of the string's UTF-8 into characters appended
// to result. An escaped lead byte takes as many escapes as its sequence
// needs and decodes them as one character (an invalid sequence raises access
// error invalid-utf8); a malformed or incomplete escape stays as it is.
void url_dehex(const Cell* string, Cell* result);

// The services open, read and write rely on, installed by the I/O layer and
// the boot library: an HTTP request (method word, URL, headers block or null,
// data or null, /binary, /lines, /info) writing its result into out (none on
// failure), and the library's parse-url writing its result into out. Until
// they are installed, the actions that need them raise internal feature-na.
struct UrlServices {
    void (*http_request)(const Cell* method, const Cell* url, const Cell* headers, const Cell* data,
                         bool binary, bool lines, bool info, Cell* out);
    void (*parse_url)(const Cell* url, Cell* out);
};
void url_services_set(const UrlServices& services);

// The port of a URL, not yet opened: parse-url must give an object, from
// which a port! is made into out (which may be the URL's own cell).
void url_to_port(const Cell* url, Cell* out);

// ---- actions ------------------------------------------------------------------------------

const Cell* url_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* url_to(Cell* proto, const Cell* spec, uint8_t type);
int32_t url_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                 int32_t budget, int32_t indent);
// Joins the parent (url! or file!) and the formed element with one "/"
// between them; setting raises script error bad-path-set.
void url_eval_path(const Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                   bool case_, Cell* out);
void url_open(Cell* port, bool new_, bool read, bool write, bool seek, const Cell* allow);
void url_read(Cell* source, const Cell* part, const Cell* seek, bool binary, bool lines, bool info,
              const Cell* as);
void url_write(Cell* destination, const Cell* data, bool binary, bool lines, bool info, bool append,
               const Cell* part, const Cell* seek, const Cell* allow, const Cell* as);

// The lexer's loader of a URL token: the UTF-8 token text, percent-decoded
// when it holds a "%", but for the escapes of reserved characters (":/?#[]@",
// "!$&'()*+,;="), which stay as written; "^" is an ordinary character. Invalid
// UTF-8 answers false; otherwise the url! is written into out.
bool scan_url(const uint8_t* start, const uint8_t* end, Cell* out);
// The text of a URL as a server receives it: its UTF-8 with every byte
// outside the URL set escaped, escapes already in the text sent as written.
std::string url_wire_text(const Cell* url);
// The same for any string kind (the plain form of a file literal).
bool scan_dehexed(const uint8_t* start, const uint8_t* end, uint8_t type, Cell* out);

// Registers url! (parent string!).
void init_url();

} // namespace kel
