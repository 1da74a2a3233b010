// HTTP and HTTPS requests over libcurl: one synchronous request per call, on
// the interpreter's thread, with its own connect and stall timeouts,
// redirects followed and certificates checked. read and write of url! values
// reach it through the URL services, which http_services_install sets up
// together with the library's URL parser.
//
// Cells given here must be on the data stack or rooted: everything allocates.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>
#include <string>

namespace kel {

// Seconds a request may take to connect, and may go without receiving a
// byte once connected. There is no limit on the whole transfer: a download
// that keeps moving runs as long as it needs.
constexpr long HTTP_CONNECT_TIMEOUT = 30;
constexpr long HTTP_STALL_TIMEOUT = 30;
// Redirects followed before a request fails.
constexpr long HTTP_MAX_REDIRECTS = 10;

// Makes one request. method: a word (GET, HEAD and POST as they are, any other
// word upper-cased); headers: a block of name-value pairs or null (null sends
// the default headers); data: the body or null, sent only by methods other
// than GET and HEAD (a binary! as its bytes, a string! as UTF-8, any other
// value formed). The result in out is the body (a binary! with binary, a
// block of lines with lines, else a string! decoded from UTF-8) or, with
// info, the block [status headers body]. A transfer that fails (no
// connection, timeout, certificate refused, too many redirects) leaves none.
// The status code is not a failure: a 404 answers its body.
void http_request(const Cell* method, const Cell* url, const Cell* headers, const Cell* data, bool binary,
                  bool lines, bool info, Cell* out);

// Header text as received (lines "Name: value" ending in CR LF or LF; the
// status line and the blank line are skipped) into a map! in out: each name a
// word, each value a string, a name met more than once a block of its values
// in order.
void http_headers_to_map(const std::string& text, Cell* out);

// Calls the library's url-parser/parse-url with the url (url! or string!)
// and writes its result into out; none when the library has no parser.
void http_parse_url(const Cell* url, Cell* out);

// Sets the stall time-out of later requests, in seconds (tests shorten it so
// that a stalled server is seen at once); 0 or less restores
// HTTP_STALL_TIMEOUT.
void http_stall_timeout_set(long seconds);

// Installs http_request and http_parse_url as the url! datatype's services.
void http_services_install();

} // namespace kel
