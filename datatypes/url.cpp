// url!: percent encoding, molding, construction from parts, path joining,
// and open, read and write through the HTTP service or a port.
#include "datatypes/url.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/binary.hpp"
#include "runtime/collector.hpp"
#include <cstring>
#include <string>
#include <vector>

namespace kel {

// ---- character sets ---------------------------------------------------------------------

// Bytes below 128 a URL keeps as they are; every other byte is escaped.
static bool url_set_q(uint8_t b) {
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9')) return true;
    return b < 128 && std::strchr("!#$&'()*+,-./:=?@_~", b) != nullptr && b != 0;
}

// The reserved characters of a URL: their escapes mean something else than
// the characters themselves ("?q=a%26b" is one query field, "?q=a&b" two), so
// a URL literal keeps such escapes as written.
static bool reserved_q(int b) {
    return b > 0 && b < 128 && std::strchr(":/?#[]@!$&'()*+,;=", b) != nullptr;
}

// The unreserved characters, the only ones the strict set keeps.
static bool strict_set_q(uint8_t b) {
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9')) return true;
    return b == '-' || b == '.' || b == '_' || b == '~';
}

// The UTF-8 of a string from its position, copied out of its buffer.
static std::vector<uint8_t> utf8_of(const Cell* string) {
    std::vector<uint8_t> bytes;
    SeriesBuffer* b = series_buffer_of(string);
    uint32_t unit = b->unit();
    uint32_t length = b->length();
    int32_t index = series_index(string);
    for (uint32_t i = index < 0 ? 0 : uint32_t(index); i < length; i++) {
        uint8_t utf8[4];
        uint32_t n = utf8_encode_char(string_get_char(b->head_ptr() + i * unit, unit), utf8);
        bytes.insert(bytes.end(), utf8, utf8 + n);
    }
    return bytes;
}

// The byte of a "%XX" escape at i, or -1.
static int escape_at(const std::vector<uint8_t>& text, size_t i) {
    if (i + 3 > text.size() || text[i] != '%') return -1;
    int hi = hex_digit_value(text[i + 1]), lo = hex_digit_value(text[i + 2]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// Which bytes an escaped text keeps as they are.
enum class Escaping {
    strict,     // the unreserved characters only (enhex of a string!)
    url,        // the URL set (enhex of the other string kinds)
    url_mold,   // the URL set, and a "%" that starts an escape of a reserved
                // character, as a URL literal keeps it
    url_wire,   // the URL set, and a "%" that starts any escape: the text
                // a server receives, escapes already in it sent as written
};

static bool escape_kept_q(const std::vector<uint8_t>& bytes, size_t i, Escaping mode) {
    uint8_t b = bytes[i];
    switch (mode) {
    case Escaping::strict: return strict_set_q(b);
    case Escaping::url: return url_set_q(b);
    case Escaping::url_mold: return url_set_q(b) || reserved_q(escape_at(bytes, i));
    case Escaping::url_wire: return url_set_q(b) || escape_at(bytes, i) >= 0;
    }
    return false;
}

// The escaped form of bytes; at most limit characters when limit >= 0.
static std::string escaped_text(const std::vector<uint8_t>& bytes, Escaping mode, int64_t limit) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); i++) {
        if (limit >= 0 && int64_t(text.size()) >= limit) break;
        if (escape_kept_q(bytes, i, mode)) {
            text.push_back(char(bytes[i]));
        } else {
            text.push_back('%');
            text.append(byte_to_hex(bytes[i]));
        }
    }
    if (limit >= 0 && int64_t(text.size()) > limit) text.resize(size_t(limit));
    return text;
}

// Appends the escaped form of bytes to a string; returns the characters written.
static uint32_t escaped_append(Cell* target, const std::vector<uint8_t>& bytes, Escaping mode, int64_t limit) {
    std::string text = escaped_text(bytes, mode, limit);
    string_concatenate_bytes(target, text.data(), uint32_t(text.size()));
    return uint32_t(text.size());
}

void url_enhex(const Cell* string, Cell* result, int32_t mode) {
    escaped_append(result, utf8_of(string), mode == ENHEX_STRICT ? Escaping::strict : Escaping::url, -1);
}

std::string url_wire_text(const Cell* url) { return escaped_text(utf8_of(url), Escaping::url_wire, -1); }

// ---- decoding -------------------------------------------------------------------------------

// The code points of a text with its escapes decoded, but for the escapes of
// reserved characters when keep_reserved is set.
static std::u32string dehexed(const std::vector<uint8_t>& text, bool keep_reserved) {
    std::u32string out;
    size_t i = 0;
    while (i < text.size()) {
        int b = escape_at(text, i);
        if (keep_reserved && reserved_q(b)) b = -1;
        if (b >= 0 && b < 0x80) {
            out.push_back(char32_t(b));
            i += 3;
            continue;
        }
        if (b >= 0) {
            uint32_t n = utf8_lead_size(uint8_t(b));
            uint8_t seq[4] = {uint8_t(b)};
            bool whole = n >= 2;
            for (uint32_t k = 1; whole && k < n; k++) {
                int next = escape_at(text, i + 3 * k);
                if (next < 0) whole = false;
                else seq[k] = uint8_t(next);
            }
            if (whole) {
                uint32_t length = n;
                int32_t cp = utf8_decode_char_checked(seq, &length);
                out.push_back(char32_t(cp));
                i += 3 * size_t(n);
                continue;
            }
        }
        int32_t cp;
        const uint8_t* at = text.data() + i;
        const uint8_t* next = utf8_decode_char(at, text.data() + text.size(), &cp);
        if (cp < 0) {  // a lone byte stands for itself
            cp = *at;
            next = at + 1;
        }
        out.push_back(char32_t(cp));
        i += size_t(next - at);
    }
    return out;
}

void url_dehex(const Cell* string, Cell* result) {
    for (char32_t c : dehexed(utf8_of(string), false)) string_append_char(result, uint32_t(c));
}

bool scan_dehexed(const uint8_t* start, const uint8_t* end, uint8_t type, Cell* out) {
    for (const uint8_t* p = start; p < end;) {
        int32_t codepoint;
        p = utf8_decode_char(p, end, &codepoint);
        if (codepoint < 0) return false;
    }
    if (!std::memchr(start, '%', size_t(end - start))) {
        string_load(start, uint32_t(end - start), ENCODING_UTF8, out);
    } else {
        std::u32string text = dehexed(std::vector<uint8_t>(start, end), type == T_URL);
        Cell* made = stack_push_new(T_NONE);
        string_make_at(made, uint32_t(text.size()));
        for (char32_t c : text) string_append_char(made, uint32_t(c));
        cell_copy(made, out);
        stack_pop(1);
    }
    cell_type_set(out, type);
    return true;
}

bool scan_url(const uint8_t* start, const uint8_t* end, Cell* out) { return scan_dehexed(start, end, T_URL, out); }

// ---- make, to --------------------------------------------------------------------------------

// Appends the formed value.
static void form_append(const Cell* value, Cell* target) {
    CellRoot held(*value);
    auto form = action_lookup_as<FormMoldFn>(cell_type(&held.cell), A_FORM);
    form(&held.cell, target, false, false, false, false, 0, 0);
}

// scheme "://" host [":" port] then "/" part ... with "#" before an issue.
static void url_from_parts(Cell* proto, const Cell* spec) {
    CellRoot block(*spec);
    uint32_t from = series_index_clamped(&block.cell);
    uint32_t count = series_buffer_length(&block.cell) - from;
    if (count == 0) {
        Cell arg = *spec;
        error_raise_type(ERR_BAD_TO_ARG, T_URL, &arg);
    }
    Cell* out = stack_push_new(T_NONE);
    string_make_at(out, 32);
    for (uint32_t k = 0; k < count; k++) {
        SeriesBuffer* b = series_buffer_of(&block.cell);
        if (from + k >= b->length()) break;
        CellRoot item(block_cells(b)[from + k]);
        uint8_t type = cell_type(&item.cell);
        if (k == 1) {
            string_concatenate_bytes(out, "://", 3);
        } else if (k == 2 && type == T_INTEGER) {
            string_append_char(out, ':');
        } else if (k >= 2) {
            string_append_char(out, type == T_ISSUE ? '#' : '/');
        }
        form_append(&item.cell, out);
    }
    cell_type_set(out, T_URL);
    cell_copy(out, proto);
    stack_pop(1);
}

static bool parts_block_q(const Cell* spec) {
    uint8_t type = cell_type(spec);
    return type == T_BLOCK || type == T_PAREN || type == T_HASH;
}

const Cell* url_make(Cell* proto, const Cell* spec, uint8_t type) {
    if (type != T_URL || !parts_block_q(spec)) return string_make(proto, spec, type);
    url_from_parts(proto, spec);
    return proto;
}

const Cell* url_to(Cell* proto, const Cell* spec, uint8_t type) {
    if (type != T_URL || !parts_block_q(spec)) return string_to(proto, spec, type);
    url_from_parts(proto, spec);
    return proto;
}

// ---- mold ----------------------------------------------------------------------------------------

int32_t url_mold(const Cell* value, Cell* target, bool, bool, bool, bool part, int32_t budget, int32_t) {
    int64_t limit = part ? std::max<int32_t>(budget, 0) : -1;
    return budget - int32_t(escaped_append(target, utf8_of(value), Escaping::url_mold, limit));
}

// ---- path ----------------------------------------------------------------------------------------

void url_eval_path(const Cell* parent, const Cell* element, const Cell* set_value, const Cell* path, bool,
                   Cell* out) {
    if (set_value) {
        Cell p = *path, e = *element;
        error_raise(ERR_BAD_PATH_SET, &p, &e);
    }
    Cell* base = stack_push(parent);
    Cell* item = stack_push(element);
    if (cell_type(item) == T_GET_WORD) cell_copy(word_get_checked(item), item);
    Cell* text = stack_push_new(T_NONE);
    string_make_at(text, 16);
    form_append(item, text);
    uint32_t base_length = string_ks_length_q(base);
    bool ends = base_length && string_ks_char_at(base, series_index_clamped(base) + base_length - 1) == '/';
    bool starts = string_ks_length_q(text) && string_ks_char_at(text, 0) == '/';
    Cell* joined = stack_push_new(T_NONE);
    string_make_at(joined, base_length + string_ks_length_q(text) + 1);
    string_concatenate(joined, base, ends && starts ? int32_t(base_length - 1) : -1, 0, true, CONCAT_APPEND);
    if (!ends && !starts) string_append_char(joined, '/');
    string_concatenate(joined, text, -1, 0, true, CONCAT_APPEND);
    cell_type_set(joined, cell_type(base));
    cell_copy(joined, out);
    stack_pop(4);
}

// ---- open, read, write -------------------------------------------------------------------------------

static UrlServices services{nullptr, nullptr};

void url_services_set(const UrlServices& s) { services = s; }

void url_to_port(const Cell* url, Cell* out) {
    if (!services.parse_url) error_raise(ERR_FEATURE_NA);  // a program without the library
    Cell* spec = stack_push_new(T_NONE);
    services.parse_url(url, spec);
    if (cell_type(spec) != T_OBJECT) {
        Cell arg = *spec;
        error_raise(ERR_INVALID_ARG, &arg);
    }
    Cell* type = stack_push_new(T_NONE);
    datatype_make_at(type, T_PORT);
    Cell* port = stack_push_new(T_NONE);
    dispatch_make(type, spec, false, port);
    cell_copy(port, out);
    stack_pop(3);
}

// Only the first four characters are looked at, so secure URLs count too.
static bool http_url_q(const Cell* url) { return string_ks_match_text_q(url, "http"); }

// The HTTP request; a none result raises access error no-connect.
static void http_request(const Cell* method, Cell* url, const Cell* headers, const Cell* data, bool binary,
                         bool lines, bool info) {
    if (!services.http_request) error_raise(ERR_FEATURE_NA);  // a program without the I/O layer
    Cell* result = stack_push_new(T_NONE);
    services.http_request(method, url, headers, data, binary, lines, info, result);
    if (cell_type(result) == T_NONE) {
        Cell arg = *url;
        error_raise(ERR_NO_CONNECT, &arg);
    }
    cell_copy(result, url);
    stack_pop(1);
}

void url_open(Cell* port, bool new_, bool read, bool write, bool seek, const Cell* allow) {
    url_to_port(port, port);
    action_lookup_as<OpenFn>(T_PORT, A_OPEN)(port, new_, read, write, seek, allow);
}

void url_read(Cell* source, const Cell* part, const Cell* seek, bool binary, bool lines, bool info,
              const Cell* as) {
    if (http_url_q(source)) {
        if (part || seek || as) error_raise(ERR_NOT_DONE);
        Cell* method = stack_push_new(T_NONE);
        word_make_at(method, T_WORD, runtime_symbol(SYM_GET));
        http_request(method, source, nullptr, nullptr, binary, lines, info);
        stack_pop(1);
        return;
    }
    Cell* port = stack_push_new(T_NONE);
    url_to_port(source, port);
    action_lookup_as<ReadFn>(T_PORT, A_READ)(port, part, seek, binary, lines, info, as);
    cell_copy(port, source);
    stack_pop(1);
}

// Data an HTTP request may carry.
static bool request_data_q(const Cell* data) {
    if (!data) return true;
    uint8_t type = cell_type(data);
    return type == T_BLOCK || type == T_STRING || type == T_BINARY;
}

void url_write(Cell* destination, const Cell* data, bool binary, bool lines, bool info, bool append,
               const Cell* part, const Cell* seek, const Cell* allow, const Cell* as) {
    if (!http_url_q(destination)) {
        Cell* port = stack_push_new(T_NONE);
        url_to_port(destination, port);
        action_lookup_as<WriteFn>(T_PORT, A_WRITE)(port, data, binary, lines, info, append, part,
                                                                   seek, allow, as);
        cell_copy(port, destination);
        stack_pop(1);
        return;
    }
    if (seek || allow || as) error_raise(ERR_NOT_DONE);
    CellRoot value(*data);
    Cell* method = stack_push_new(T_NONE);
    const Cell* headers = nullptr;
    const Cell* body = nullptr;
    Cell* items = nullptr;
    if (cell_type(data) == T_BLOCK) {
        uint32_t from = series_index_clamped(&value.cell);
        uint32_t count = series_buffer_length(&value.cell) - from;
        if (count == 0) {
            word_make_at(method, T_WORD, runtime_symbol(SYM_GET));
        } else {
            // The request's parts, copied to the data stack where they stay put.
            items = stack_push_slot();
            stack_push_slot();
            stack_push_slot();
            const Cell* cells = block_cells(series_node(&value.cell)) + from;
            for (uint32_t k = 0; k < 3; k++) {
                if (k < count) cell_copy(cells + k, items + k);
                else cell_init(items + k, T_UNSET);
            }
            if (cell_type(items) != T_WORD) error_raise(ERR_INVALID_ARG, items);
            cell_copy(items, method);
            if (count < 2 || cell_type(items + 1) != T_BLOCK) {
                Cell arg;
                if (count < 2) cell_init(&arg, T_NONE);
                else arg = items[1];
                error_raise(ERR_INVALID_ARG, &arg);
            }
            headers = items + 1;
            if (count > 2) body = items + 2;
        }
    } else {
        word_make_at(method, T_WORD, runtime_symbol(SYM_POST));
        body = &value.cell;
    }
    if (!request_data_q(body)) error_raise(ERR_INVALID_ARG, &value.cell);
    http_request(method, destination, headers, body, binary, lines, info);
    stack_pop(items ? 4 : 1);
}

// ---- registration -------------------------------------------------------------------------------

void init_url() {
    const ActionRow actions[] = {
        {A_MAKE, url_make},
        {A_TO, url_to},
        {A_MOLD, url_mold},
        {A_EVAL_PATH, url_eval_path},
        {A_OPEN, url_open},
        {A_READ, url_read},
        {A_WRITE, url_write},
        // from string!, but put
        {A_FORM, ACTION_INHERIT}, {A_COMPARE, ACTION_INHERIT}, {A_APPEND, A_POKE, ACTION_INHERIT},
        {A_REMOVE, A_TRIM, ACTION_INHERIT}, {A_MODIFY, ACTION_INHERIT},
    };
    datatype_register(T_URL, T_STRING, "url!", actions);
    datatype_hooks_set(T_URL, {.scan = scan_url});
}

} // namespace kel
