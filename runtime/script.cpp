// The script runner of the command line. Printed values reach standard
// output through a value hook installed here; errors are written to standard
// error as the formed error (the same lines the console shows).
#include "runtime/script.hpp"
#include "runtime/output_hooks.hpp"
#include "runtime/platform/platform.hpp"
#include "runtime/start.hpp"
#include "runtime/stdout.hpp"
#include "core/error.hpp"
#include "core/error_value.hpp"
#include "core/exits.hpp"
#include "core/interpreter.hpp"
#include "core/stack.hpp"
#include "core/context.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "natives/lexer.hpp"
#include "runtime/collector.hpp"

#include <fstream>
#include <iterator>
#include <string>

namespace kel {

// Writes a printed string (from its position) to standard output.
static void stdout_value_hook(const Cell* value, bool newline) {
    SeriesBuffer* b = series_buffer(value->w2);
    uint32_t length = b->length();
    uint32_t index = value->w1 < length ? value->w1 : length;
    stdout_write_units(b->head_ptr() + size_t(index) * b->unit(), size_t(length - index) * b->unit(),
                       int(b->unit()), newline);
}

static bool file_read(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

static std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The prelude a header names (prelude: %file), as a path relative to the
// script's folder; empty when there is none.
static std::string header_prelude(const Cell* header, const std::string& folder) {
    Cell key = word_intern("prelude");
    for (uint32_t i = header->w1;; i++) {
        SeriesBuffer* b = series_buffer(header->w2);
        if (i + 1 >= b->length()) return std::string();
        const Cell* cells = reinterpret_cast<const Cell*>(b->head_ptr());
        if (cell_type(&cells[i]) != T_SET_WORD || cell_type(&cells[i + 1]) != T_FILE ||
            symbol_resolve(cells[i].w2) != symbol_resolve(key.w2))
            continue;
        Cell file = cells[i + 1];
        uint32_t chars = series_buffer(file.w2)->length();
        std::string name(size_t(chars) * 4 + 1, '\0');
        uint32_t n = string_to_utf8_into(&file, reinterpret_cast<uint8_t*>(name.data()), -1, true);
        name.resize(n);
        return !name.empty() && name[0] == '/' ? name : folder + name;
    }
}

// Loads and evaluates a script file: its header (the word Kel and a block),
// when present, is skipped after its prelude has run. A pending exit that
// reaches the top simply ends the script (break and the like outside their
// targets are errors before they get here).
static void script_evaluate(const std::string& path, uint32_t depth) {
    std::string text;
    if (!file_read(path, &text)) {
        Cell file;
        CellRoot name;
        string_make_at(&name.cell, uint32_t(path.size()) + 1);
        string_append_utf8(&name.cell, reinterpret_cast<const uint8_t*>(path.data()),
                           uint32_t(path.size()));
        file = name.cell;
        cell_type_set(&file, T_FILE);
        error_raise(ERR_CANNOT_OPEN, &file);
    }
    CellRoot code;
    LexerOptions options;
    lexer_transcode(&code.cell, reinterpret_cast<const uint8_t*>(text.data()),
                    uint32_t(text.size()), options, nullptr);
    Cell kel = word_intern("Kel");
    SeriesBuffer* b = series_buffer(code.cell.w2);
    const Cell* cells = reinterpret_cast<const Cell*>(b->head_ptr());
    if (b->length() >= 2 && cell_type(&cells[0]) == T_WORD &&
        symbol_resolve(cells[0].w2) == symbol_resolve(kel.w2) && cell_type(&cells[1]) == T_BLOCK) {
        CellRoot header(cells[1]);
        code.cell.w1 = 2;
        std::string prelude = header_prelude(&header.cell, folder_of(path));
        if (!prelude.empty() && depth < 8) script_evaluate(prelude, depth + 1);
    }
    ExitCode x;
    try {
        x = eval_block(&code.cell, false);
    } catch (const ExitSignal& signal) {
        x = signal.code;
    }
    if (x != EXIT_CODE_NONE) exit_clear();
    stack_restore({data_stack.bottom, data_stack.bottom, call_stack.bottom, 0});
}

int script_run() {
    if (runtime_record.argc < 2) {
        stdout_write_c_string("Kel: no script given; the console is not available yet.\n");
        return 0;
    }
    output_hooks_add(stdout_value_hook, nullptr);
    try {
        script_evaluate(runtime_record.argv[1], 0);
    } catch (const LanguageError&) {
        error_report_uncaught();
        stack_restore({data_stack.bottom, data_stack.bottom, call_stack.bottom, 0});
        return 1;
    }
    return 0;
}

} // namespace kel
