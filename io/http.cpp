// HTTP requests over libcurl. The transfer runs with every value it needs
// copied out of the heap first (URL, method, headers, body as C++ strings),
// so nothing inside libcurl's frames touches a series buffer, allocates a
// series or raises: language errors are raised only after curl returns.
#include "io/http.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/error_catalog.hpp"
#include "core/exits.hpp"
#include "core/interpreter.hpp"
#include "core/library_context.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/word.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/map.hpp"
#include "datatypes/url.hpp"
#include "io/files.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform/library_api.hpp"

// The type-checking wrappers of curl.h are macros over the direct calls; calls
// here go through the table of loaded functions instead.
#define CURL_DISABLE_TYPECHECK 1
#include <curl/curl.h>

#include <cstring>
#include <vector>

namespace kel {

// The longest body a request takes: the largest series a read may make.
constexpr size_t HTTP_BODY_MAX = 0x7FFFFFF0;

// Seconds without a byte received after which a transfer fails.
static long stall_timeout = HTTP_STALL_TIMEOUT;

void http_stall_timeout_set(long seconds) { stall_timeout = seconds > 0 ? seconds : HTTP_STALL_TIMEOUT; }

// One request, in plain memory: what libcurl reads and what it writes back.
struct HttpExchange {
    std::string url;                  // UTF-8
    std::string method;               // upper case
    std::vector<std::string> headers; // "Name: value" lines
    bool send_body = false;           // only for methods other than GET and HEAD
    std::string body;                 // the bytes sent
    std::vector<uint8_t> response;    // the body received
    std::string response_headers;     // header lines of the final response
    bool too_large = false;           // the body passed HTTP_BODY_MAX
    long status = 0;
};

// ---- from values to text --------------------------------------------------------------------

// The formed text of any value.
static std::string value_form_text(const Cell* value) {
    CellRoot text;
    dispatch_form(value, &text.cell, -1);
    return string_utf8(&text.cell);
}

static bool any_word_type_q(uint8_t type) {
    return type == T_WORD || type == T_SET_WORD || type == T_LIT_WORD || type == T_GET_WORD;
}

static std::string symbol_spelling(uint32_t symbol) {
    uint32_t length = 0;
    const uint8_t* name = symbol_name(symbol, &length);
    return std::string(reinterpret_cast<const char*>(name), length);
}

// Header names and values must stay on their line: CR and LF would let a
// value smuggle further headers into the request, so they become spaces.
static std::string header_field_clean(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

// The header block's pairs as "Name: value" lines; an odd last name is sent
// with an empty value.
static void headers_from_block(const Cell* block, std::vector<std::string>* lines) {
    CellRoot held(*block);
    uint32_t from = series_index_clamped(&held.cell);
    for (uint32_t i = from; i < series_buffer_of(&held.cell)->length(); i += 2) {
        CellRoot name(*block_ks_abs_at(&held.cell, i));
        CellRoot value;
        bool has_value = i + 1 < series_buffer_of(&held.cell)->length();
        if (has_value) value.cell = *block_ks_abs_at(&held.cell, i + 1);
        std::string key = any_word_type_q(cell_type(&name.cell)) ? symbol_spelling(word_symbol(&name.cell))
                                                                  : value_form_text(&name.cell);
        std::string text;
        if (has_value)
            text = cell_type(&value.cell) == T_STRING ? string_utf8(&value.cell) : value_form_text(&value.cell);
        key = header_field_clean(key);
        text = header_field_clean(text);
        // libcurl sends a header with an empty value only in the "Name;" form.
        lines->push_back(text.empty() ? key + ";" : key + ": " + text);
    }
}

// The method's text: GET, HEAD and POST as they are, any other word upper-cased.
static std::string method_text(const Cell* method) {
    std::string text = symbol_spelling(word_symbol(method));
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

// The body's bytes: a binary! from its position to its tail, a string! as
// UTF-8, any other value formed.
static std::string body_bytes(const Cell* data) {
    if (cell_type(data) == T_BINARY) {
        uint32_t from = series_index_clamped(data);
        SeriesBuffer* b = series_buffer_of(data);
        if (from >= b->length()) return std::string();
        return std::string(reinterpret_cast<const char*>(b->head_ptr()) + from, b->length() - from);
    }
    if (cell_type(data) == T_STRING) return string_utf8(data);
    return value_form_text(data);
}

// ---- the transfer -----------------------------------------------------------------------------

static size_t body_received(char* bytes, size_t size, size_t count, void* user) {
    auto* x = static_cast<HttpExchange*>(user);
    size_t n = size * count;
    if (x->response.size() + n > HTTP_BODY_MAX) {
        x->too_large = true;
        return 0;  // aborts the transfer
    }
    x->response.insert(x->response.end(), bytes, bytes + n);
    return n;
}

// Header lines arrive one at a time, for every response of a redirect chain
// and for interim (1xx) responses; each status line starts the record over,
// so the headers kept are the final response's.
static size_t header_received(char* bytes, size_t size, size_t count, void* user) {
    auto* x = static_cast<HttpExchange*>(user);
    size_t n = size * count;
    if (n >= 5 && std::memcmp(bytes, "HTTP/", 5) == 0) x->response_headers.clear();
    else x->response_headers.append(bytes, n);
    return n;
}

// libcurl is opened on the first request, not at start.
#define LIBCURL_API(X)                                                                             \
    X(curl_global_init) X(curl_easy_init) X(curl_easy_setopt) X(curl_easy_perform)                \
    X(curl_easy_getinfo) X(curl_easy_cleanup) X(curl_slist_append) X(curl_slist_free_all)
static struct {
    LIBCURL_API(LIBRARY_API_SLOT)
    bool load(std::string* error) {
        const LibrarySymbol symbols[] = {LIBCURL_API(LIBRARY_API_SYMBOL)};
        return library_api_load("libcurl.so.4", symbols, std::size(symbols), error);
    }
} libcurl;

static bool curl_ready() {
    static const bool ready = [] {
        std::string error;
        return libcurl.load(&error) &&
               libcurl.curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    }();
    return ready;
}

// Runs the exchange; false when the transfer failed.
static bool http_transfer(HttpExchange* x) {
    if (!curl_ready()) return false;
    CURL* curl = libcurl.curl_easy_init();
    if (!curl) return false;
    curl_slist* list = nullptr;
    bool ok = true;
    for (const std::string& line : x->headers) {
        curl_slist* grown = libcurl.curl_slist_append(list, line.c_str());
        if (!grown) ok = false;
        else list = grown;
    }
    // libcurl's own additions that the caller did not ask for are withheld:
    // a form content type on POST and the 100-continue handshake.
    bool has_type = false;
    for (const std::string& line : x->headers)
        if (strncasecmp(line.c_str(), "Content-Type", 12) == 0 && (line[12] == ':' || line[12] == ';'))
            has_type = true;
    for (const char* line : {has_type ? nullptr : "Content-Type:", "Expect:"}) {
        if (!line) continue;
        curl_slist* grown = libcurl.curl_slist_append(list, line);
        if (!grown) ok = false;
        else list = grown;
    }
    auto set = [&](CURLcode code) {
        if (code != CURLE_OK) ok = false;
    };
    set(libcurl.curl_easy_setopt(curl, CURLOPT_URL, x->url.c_str()));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_MAXREDIRS, HTTP_MAX_REDIRECTS));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, HTTP_CONNECT_TIMEOUT));
    // A stall is under one byte a second for the whole stall time: a server
    // that stops sending mid-body fails the request, a slow one does not.
    set(libcurl.curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stall_timeout));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, body_received));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_WRITEDATA, x));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, header_received));
    set(libcurl.curl_easy_setopt(curl, CURLOPT_HEADERDATA, x));
    if (x->method == "GET") {
        set(libcurl.curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L));
    } else if (x->method == "HEAD") {
        set(libcurl.curl_easy_setopt(curl, CURLOPT_NOBODY, 1L));
    } else {
        if (x->method != "POST") set(libcurl.curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, x->method.c_str()));
        if (x->send_body) {
            set(libcurl.curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(x->body.size())));
            set(libcurl.curl_easy_setopt(curl, CURLOPT_POSTFIELDS, x->body.data()));
        } else if (x->method == "POST") {
            set(libcurl.curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(0)));
            set(libcurl.curl_easy_setopt(curl, CURLOPT_POSTFIELDS, ""));
        }
    }
    if (ok) ok = libcurl.curl_easy_perform(curl) == CURLE_OK;
    if (ok) ok = libcurl.curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &x->status) == CURLE_OK;
    libcurl.curl_easy_cleanup(curl);
    libcurl.curl_slist_free_all(list);
    return ok;
}

// ---- from text to values ----------------------------------------------------------------------

// A string! from bytes that should be UTF-8; header values that are not (old
// servers send Latin-1) are taken byte for byte rather than refused.
static void header_value_load(const std::string& text, Cell* out) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* end = bytes + text.size();
    bool valid = true;
    for (const uint8_t* p = bytes; p < end && valid;) {
        int32_t codepoint = 0;
        const uint8_t* next = utf8_decode_char(p, end, &codepoint);
        valid = next && next > p && codepoint >= 0;
        p = next;
    }
    if (valid) {
        string_load(bytes, uint32_t(text.size()), ENCODING_UTF8, out);
        return;
    }
    std::string latin;
    for (uint8_t b : text) {
        uint8_t encoded[4];
        uint32_t n = utf8_encode_char(b, encoded);
        latin.append(reinterpret_cast<const char*>(encoded), n);
    }
    string_load(reinterpret_cast<const uint8_t*>(latin.data()), uint32_t(latin.size()), ENCODING_UTF8, out);
}

void http_headers_to_map(const std::string& text, Cell* out) {
    // Pairs gathered in a block; a name met again turns its value into a
    // block of all its values.
    CellRoot pairs;
    block_make_at(&pairs.cell, 40);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) continue;  // blank line, status line
        size_t from = colon + 1;
        while (from < line.size() && (line[from] == ' ' || line[from] == '\t')) from++;
        size_t to = line.size();
        while (to > from && (line[to - 1] == ' ' || line[to - 1] == '\t')) to--;
        std::string name = line.substr(0, colon);
        CellRoot key(word_intern(name.c_str()));
        CellRoot value;
        header_value_load(line.substr(from, to - from), &value.cell);
        // Find the name among the pairs so far (names compare without case).
        uint32_t count = series_buffer_of(&pairs.cell)->length();
        int32_t found = -1;
        for (uint32_t i = 0; i < count; i += 2)
            if (symbol_resolve(word_symbol(block_ks_abs_at(&pairs.cell, i))) == symbol_resolve(word_symbol(&key.cell))) {
                found = int32_t(i);
                break;
            }
        if (found < 0) {
            stack_push(&pairs.cell);
            stack_push(&key.cell);
            block_append_last();
            stack_push(&value.cell);
            block_append_last();
            stack_pop(1);
            continue;
        }
        Cell* held = block_ks_abs_at(&pairs.cell, uint32_t(found) + 1);
        if (cell_type(held) != T_BLOCK) {
            CellRoot first(*held);
            CellRoot values;
            block_make_at(&values.cell, 4);
            stack_push(&values.cell);
            stack_push(&first.cell);
            block_append_last();
            stack_pop(1);
            cell_copy(&values.cell, block_ks_abs_at(&pairs.cell, uint32_t(found) + 1));
        }
        CellRoot values(*block_ks_abs_at(&pairs.cell, uint32_t(found) + 1));
        stack_push(&values.cell);
        stack_push(&value.cell);
        block_append_last();
        stack_pop(1);
    }
    map_make_at(out, &pairs.cell, 0);
}

// The body as the flags ask: binary!, a block of lines, or a string!.
static void http_body_make(const std::vector<uint8_t>& bytes, bool binary, bool lines, Cell* out) {
    uint32_t n = uint32_t(bytes.size());
    if (binary) {
        cell_copy(binary_push_bytes(bytes.data(), n), out);
        stack_pop(1);
    } else if (lines) {
        lines_to_block(bytes.data(), n, out);
    } else {
        string_load(bytes.data(), n, ENCODING_UTF8, out);
    }
}

void http_request(const Cell* method, const Cell* url, const Cell* headers, const Cell* data, bool binary,
                  bool lines, bool info, Cell* out) {
    CellRoot url_held(*url);
    HttpExchange x;
    x.url = url_wire_text(&url_held.cell);
    x.method = method_text(method);
    if (headers) {
        headers_from_block(headers, &x.headers);
    } else {
        x.headers = {"Content-Type: application/x-www-form-urlencoded", "Accept-Charset: UTF-8",
                     "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)"};
    }
    if (data && x.method != "GET" && x.method != "HEAD") {
        x.send_body = true;
        x.body = body_bytes(data);
    }
    bool ok = http_transfer(&x);
    if (x.too_large) error_raise(ERR_SIZE_LIMIT, &url_held.cell);
    if (!ok) {
        cell_init(out, T_NONE);
        return;
    }
    if (!info) {
        http_body_make(x.response, binary, lines, out);
        return;
    }
    CellRoot result;
    block_make_at(&result.cell, 3);
    stack_push(&result.cell);
    integer_push(int32_t(x.status));
    block_append_last();
    Cell* map = stack_push_new(T_NONE);
    http_headers_to_map(x.response_headers, map);
    block_append_last();
    Cell* body = stack_push_new(T_NONE);
    http_body_make(x.response, binary, lines, body);
    block_append_last();
    stack_pop(1);
    cell_copy(&result.cell, out);
}

// ---- the URL parser of the library ------------------------------------------------------------

void http_parse_url(const Cell* url, Cell* out) {
    CellRoot held(*url);
    cell_init(out, T_NONE);
    Cell word = library_word("url-parser");
    const Cell* parser = context_value_address(word_context(&word), word_index(&word));
    if (!parser || cell_type(parser) != T_OBJECT) return;
    CellRoot object(*parser);
    CellRoot field(word_intern("parse-url"));
    CellRoot function(*object_select_field(&object.cell, &field.cell));
    if (cell_type(&function.cell) != T_FUNCTION) return;
    function_apply(&function.cell, &held.cell, 1, out);
}

void http_services_install() { url_services_set({http_request, http_parse_url}); }

} // namespace kel
