#include "datatypes/file.hpp"

#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "datatypes/url.hpp"
#include "runtime/collector.hpp"
#include "runtime/platform/platform.hpp"

#include <algorithm>

namespace kel {

// Characters below 127 that a file name may hold without quotes: letters,
// digits and ! # $ & ' ( ) * + , - . / : = ? @ _ ~ (the URL set). Every other
// character below 127 makes the molded name quoted; characters from 127 up
// never do, except surrogates (such as the bytes of a name that is not
// UTF-8), which are molded as escapes inside the quotes.
static bool file_char_plain_q(uint32_t c) {
    if (c >= 127) return !codepoint_surrogate_q(c);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
    case '!': case '#': case '$': case '&': case '\'': case '(': case ')': case '*': case '+':
    case ',': case '-': case '.': case '/': case ':': case '=': case '?': case '@': case '_':
    case '~':
        return true;
    default:
        return false;
    }
}

Cell* file_push(const Cell* file) { return stack_push(file); }

// ---- local names ------------------------------------------------------------------

bool file_to_local(const Cell* file, std::string* path) {
    *path = os_text_of(file, -1);
    return path->find('\0') == std::string::npos;
}

Cell* file_current_dir() {
    std::string dir = current_dir_get();
    if (dir.empty()) {
        Cell* here = string_load_push(reinterpret_cast<const uint8_t*>("./"), 2, ENCODING_UTF8);
        cell_type_set(here, T_FILE);
        error_raise(ERR_CANNOT_OPEN, here);
    }
    if (dir.back() != '/') dir += '/';
    return string_load_push(reinterpret_cast<const uint8_t*>(dir.data()), uint32_t(dir.size()),
                            ENCODING_OS);
}

void file_to_local_into(const Cell* file, Cell* result, bool absolute) {
    CellRoot name(*file);
    uint32_t from = series_index_clamped(&name.cell);
    uint32_t length = series_buffer_of(&name.cell)->length();
    bool relative = from >= length || string_ks_char_at(&name.cell, from) != '/';
    if (absolute && relative) {
        Cell* dir = file_current_dir();
        string_concatenate(result, dir, -1, 0, true, CONCAT_APPEND);
        stack_pop(1);
    }
    if (from < length) string_concatenate(result, &name.cell, -1, 0, true, CONCAT_APPEND);
}

// ---- mold ---------------------------------------------------------------------------------

int32_t file_mold(const Cell* value, Cell* target, bool, bool, bool, bool part, int32_t budget,
                  int32_t) {
    CellRoot held(*value);
    uint32_t from = series_index_clamped(&held.cell);
    uint32_t rest = series_buffer_of(&held.cell)->length() - from;
    uint32_t span = part ? std::min<uint32_t>(rest, uint32_t(std::max(budget, 0))) : rest;
    string_append_char(target, '%');
    if (rest == 0) {
        string_concatenate_text(target, "\"\"");
        return budget - 1;
    }
    bool quoted = false;
    for (uint32_t i = from; i < from + span && !quoted; i++)
        quoted = !file_char_plain_q(string_ks_char_at(&held.cell, i));
    if (quoted) string_append_char(target, '"');
    for (uint32_t i = from; i < from + span; i++) {
        uint32_t c = string_ks_char_at(&held.cell, i);
        // Inside the quotes a double quote, a caret and control characters take
        // their caret escapes, so that the molded name loads back as it was.
        if (quoted) string_append_escaped_char(target, c, false);
        else string_append_char(target, c);
    }
    if (quoted) string_append_char(target, '"');
    return budget - int32_t(span) - 1;
}

bool file_dir_path_q(const Cell* file) {
    Cell name = *file;
    series_index_set(&name, 0);
    uint32_t n = string_ks_length_q(&name);
    if (n == 0) return false;
    uint32_t last = string_ks_char_at(&name, n - 1);
    if (last == '/') return true;
    if (last != '.') return false;
    // "." or ".." alone or after a slash.
    uint32_t dots = 1;
    if (n >= 2 && string_ks_char_at(&name, n - 2) == '.') dots = 2;
    return n == dots || string_ks_char_at(&name, n - dots - 1) == '/';
}

// A plain file literal's text (after the "%"), "%XX" escapes decoded.
static bool scan_plain_file(const uint8_t* start, const uint8_t* end, Cell* out) {
    return scan_dehexed(start, end, T_FILE, out);
}

void init_file() {
    const ActionRow actions[] = {
        {A_MOLD, file_mold},
        // delete, query, read, rename and write: io/files.hpp
        // from url!, but put and sort
        {A_MAKE, ACTION_INHERIT}, {A_TO, ACTION_INHERIT}, {A_FORM, ACTION_INHERIT},
        {A_EVAL_PATH, ACTION_INHERIT}, {A_COMPARE, ACTION_INHERIT},
        {A_APPEND, A_POKE, ACTION_INHERIT}, {A_REMOVE, A_SELECT, ACTION_INHERIT},
        {A_SKIP, A_TAKE, ACTION_INHERIT}, {A_MODIFY, ACTION_INHERIT},
    };
    datatype_register(T_FILE, T_URL, "file!", actions);
    datatype_hooks_set(T_FILE, {.scan = scan_plain_file});
}

} // namespace kel
