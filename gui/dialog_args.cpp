#include "gui/dialog_args.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/numbers.hpp"
#include "core/series.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/word.hpp"
#include "gui/text_style.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace kel {

// The filter a dialog offers when the script gives none.
static const FileFilter default_filters[] = {
    {"All files", "*.*"},
    {"Kel scripts", "*.kel;*.kels"},
    {"TARVO scripts", "*.tv"},
    {"Text files", "*.txt"},
};

static bool path_like_q(const Cell* value) {
    return cell_type(value) == T_STRING || cell_type(value) == T_FILE;
}

FileDialogRequest file_dialog_request_of(const Cell* title, const Cell* name, const Cell* filter) {
    FileDialogRequest request;
    if (cell_type(title) == T_STRING) {
        request.title = string_utf8(title);
        request.has_title = true;
    }
    if (path_like_q(name)) {
        std::string path = os_text_of(name, -1);
        size_t slash = path.rfind('/');
        if (slash == std::string::npos) {
            request.name = path;
        } else {
            request.folder = path.substr(0, slash + 1);
            request.name = path.substr(slash + 1);
        }
    }
    if (cell_type(filter) != T_BLOCK) {
        request.filters.assign(std::begin(default_filters), std::end(default_filters));
        return request;
    }
    SeriesBuffer* b = series_buffer_of(filter);
    const Cell* cells = block_cells(b);
    for (uint32_t i = uint32_t(series_index(filter)); i < b->length(); i++) {
        if (!path_like_q(cells + i)) {
            CellRoot bad(cells[i]);
            error_raise(ERR_INVALID_ARG, &bad.cell);
        }
    }
    for (uint32_t i = uint32_t(series_index(filter)); i + 1 < b->length(); i += 2)
        request.filters.push_back({string_utf8(cells + i), string_utf8(cells + i + 1)});
    return request;
}

std::string folder_dialog_start_of(const Cell* dir) {
    return path_like_q(dir) ? os_text_of(dir, -1) : std::string();
}

Cell* file_push_path(const std::string& path) {
    Cell* file = string_load_push(reinterpret_cast<const uint8_t*>(path.data()), uint32_t(path.size()),
                                  ENCODING_OS);
    cell_type_set(file, T_FILE);
    return file;
}

void file_dialog_answer(const std::vector<std::string>& paths, bool multi, Cell* out) {
    if (paths.empty()) {
        none_make_at(out);
        return;
    }
    if (!multi) {
        cell_copy(file_push_path(paths.front()), out);
        stack_pop(1);
        return;
    }
    block_make_at(out, int32_t(paths.size()));
    for (const std::string& path : paths) {
        block_ks_append(out, file_push_path(path));
        stack_pop(1);
    }
}

void folder_dialog_answer(const std::string* path, Cell* out) {
    if (!path) {
        none_make_at(out);
        return;
    }
    std::string folder = *path;
    if (folder.empty() || folder.back() != '/') folder += '/';
    cell_copy(file_push_path(folder), out);
    stack_pop(1);
}

void font_dialog_answer(const std::string& name, int32_t size, bool bold, bool italic, Cell* out) {
    block_make_at(out, 3);
    block_ks_append(out, string_load_push(reinterpret_cast<const uint8_t*>(name.data()),
                                          uint32_t(name.size()), ENCODING_UTF8));
    stack_pop(1);
    Cell number;  // holds no node: safe across the append
    cell_init(&number, T_INTEGER);
    integer_set(&number, int32_t(size));
    block_ks_append(out, &number);
    CellRoot style;
    if (bold && italic) {
        CellRoot word;
        block_make_at(&style.cell, 2);
        word_make_global(&word.cell, symbol_make("bold"));
        block_ks_append(&style.cell, &word.cell);
        word_make_global(&word.cell, symbol_make("italic"));
        block_ks_append(&style.cell, &word.cell);
    } else if (bold || italic) {
        word_make_global(&style.cell, symbol_make(bold ? "bold" : "italic"));
    }
    block_ks_append(out, &style.cell);
}

} // namespace kel
