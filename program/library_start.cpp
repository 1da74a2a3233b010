// The library at start: its routines, then its Kel files, each lexed (or
// decoded from the boot image, which holds the same code lexed at build
// time), flagged as library code and evaluated expression by expression, so
// that a failure can name the file and the line of the top-level expression
// that failed. Then the library is sealed into its own context
// (core/library_context.hpp), so scripts cannot change its words.
#include "program/library_start.hpp"
#include "core/error.hpp"
#include "core/error_value.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/exits.hpp"
#include "core/interpreter.hpp"
#include "core/library_context.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/series.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "io/kelbin/decoder.hpp"
#include "io/routines.hpp"
#include "library/boot_image.hpp"
#include "library/embed.hpp"
#include "library/routines.hpp"
#include "core/lexer.hpp"
#include "console/routines.hpp"
#include "gui/platform_routines.hpp"
#include "runtime/collector.hpp"
#include "runtime/heap.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform/platform.hpp"
#include "program/script.hpp"
#include "runtime/start.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace kel {

const LibraryBootFile* library_boot_files = nullptr;
uint32_t library_boot_count = 0;
const char* library_build_stamp = nullptr;

// Flags every block and paren of the loaded code, deep, as library code.
static void library_flag(Node node) {
    SeriesBuffer* b = series_buffer(node);
    if (b->flags & SERIES_LIBRARY) return;
    b->flags |= SERIES_LIBRARY;
    for (uint32_t i = 0; i < b->length(); i++) {
        const Cell* c = block_cells(node) + i;
        uint8_t t = cell_type(c);
        if (t == T_BLOCK || t == T_PAREN || t == T_PATH || t == T_LIT_PATH || t == T_SET_PATH ||
            t == T_GET_PATH)
            library_flag(series_node(c));
    }
}

// Bytes of blanks, line ends and comments from offset on.
static size_t text_skip_space(const unsigned char* text, size_t size, size_t offset) {
    while (offset < size) {
        unsigned char c = text[offset];
        if (c == ';') {
            while (offset < size && text[offset] != '\n') offset++;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            offset++;
        } else {
            break;
        }
    }
    return offset;
}

// The 1-based line on which top-level value number count (from 0) starts,
// found by lexing the values before it one at a time. When lexing fails
// earlier, the line on which the value that failed starts. Runs only on the failure path.
static uint32_t text_value_line(const unsigned char* text, size_t size, uint32_t count) {
    size_t offset = text_skip_space(text, size, 0);
    for (uint32_t k = 0; k < count && offset < size; k++) {
        CellRoot value;
        LexerOptions options;
        options.one = true;
        int32_t consumed = 0;
        try {
            lexer_transcode(&value.cell, text + offset, uint32_t(size - offset), options, &consumed);
        } catch (const LanguageError&) {
            break;
        }
        if (consumed <= 0) break;
        offset = text_skip_space(text, size, offset + size_t(consumed));
    }
    uint32_t line = 1;
    for (size_t i = 0; i < offset; i++)
        if (text[i] == '\n') line++;
    return line;
}

// The first line of the formed error in flight, without its "*** " lead.
static std::string error_in_flight_line() {
    Cell* error = error_push_in_flight();
    CellRoot held(*error);
    stack_pop(1);
    CellRoot text;
    string_make_at(&text.cell, 128);
    error_form(&held.cell, &text.cell, false, false, false, false, INT32_MAX, 0);
    SeriesBuffer* b = series_buffer_of(&text.cell);
    std::string bytes;
    uint8_t encoded[4];
    for (uint32_t i = 0; i < b->length(); i++) {
        uint32_t c = string_get_char(b->head_ptr() + i * b->unit(), b->unit());
        if (c == '\n') break;
        uint32_t n = utf8_encode_char(c, encoded);
        bytes.append(reinterpret_cast<const char*>(encoded), n);
    }
    if (bytes.compare(0, 4, "*** ") == 0) bytes.erase(0, 4);
    return bytes;
}

[[noreturn]] static void boot_error_exit(const char* name, uint32_t line) {
    std::string report = "*** Boot Error: library/" + std::string(name) + " line " +
                         std::to_string(line) + ": " + error_in_flight_line() + "\n";
    fd_write_all(STDERR_FD, report.data(), report.size());
    heap_free_all();
    std::fflush(stdout);
    std::exit(1);
}

// A pending exit left at the top level (a stray return or break) ends the
// text's evaluation there.
void library_evaluate(const char* name, const unsigned char* text, size_t size, const LibraryBootFile* boot) {
    const StackState empty{data_stack.bottom, data_stack.bottom, call_stack.bottom, 0};
    uint32_t index = 0;
    bool lexed = false;
    try {
        CellRoot code;
        if (boot) {
            CellRoot decoded;
            block_make_at(&decoded.cell, 1);
            // The decoder flags the code's blocks as it makes them.
            kelbin_decode(boot->data, &decoded.cell, false, int64_t(boot->size), SERIES_LIBRARY);
            code.cell = *block_cells(series_node(&decoded.cell));
        } else {
            LexerOptions options;
            lexer_transcode(&code.cell, text, uint32_t(size), options, nullptr);
            library_flag(series_node(&code.cell));
        }
        lexed = true;
        // A header (the word Kel and a block) is skipped.
        Cell kel = word_intern("Kel");
        if (series_buffer_of(&code.cell)->length() >= 2) {
            const Cell* cells = block_cells(series_node(&code.cell));
            if (cell_type(&cells[0]) == T_WORD && cell_type(&cells[1]) == T_BLOCK &&
                symbol_resolve(word_symbol(&cells[0])) == symbol_resolve(word_symbol(&kel)))
                index = 2;
        }
        while (index < series_buffer_of(&code.cell)->length()) {
            uint32_t start = index;
            ExitCode x;
            try {
                x = do_next_index(&code.cell, &index);
            } catch (const ExitSignal& signal) {
                x = signal.code;
            }
            stack_restore(empty);
            if (x != EXIT_CODE_NONE) {
                exit_clear();
                break;
            }
            if (index <= start) break;  // nothing consumed: the code shrank under us
        }
    } catch (const LanguageError&) {
        // A text that does not lex fails at the value the lexer stops on.
        boot_error_exit(name, text_value_line(text, size, lexed ? index : UINT32_MAX));
    }
}

// The library's texts and boot image lie together in the read-only data of
// the executable. Once the library is loaded they are read again only on
// rare paths (a library error's line), so their pages go back to the
// system, which reads them from the file again should they be touched.
static void library_pages_release() {
    uintptr_t low = UINTPTR_MAX, high = 0;
    auto span = [&](const void* data, size_t size) {
        low = std::min(low, uintptr_t(data));
        high = std::max(high, uintptr_t(data) + size);
    };
    for (uint32_t i = 0; i < library_text_count; i++)
        span(library_texts[i].text, library_texts[i].size + 1);
    for (uint32_t i = 0; i < library_boot_count; i++)
        span(library_boot_files[i].data, library_boot_files[i].size);
    if (high > low) vmem_release_file_pages(reinterpret_cast<const void*>(low), high - low);
}

void library_load() {
    // When start-up itself is tortured, what each file made settles before
    // the next loads: the file being loaded still moves at every allocation,
    // and the files before it only at every few collections, so the tortured
    // load does not copy the whole library so far at each of its allocations.
    bool tortured = memory_torture_q();
    if (tortured) memory_settle();
    for (uint32_t i = 0; i < library_text_count; i++) {
        const LibraryText& file = library_texts[i];
        const LibraryBootFile* boot = i < library_boot_count ? &library_boot_files[i] : nullptr;
        if (boot && std::strcmp(boot->name, file.name) != 0) boot = nullptr;
        library_evaluate(file.name, file.text, file.size, boot);
        if (tortured) memory_settle();
    }
    library_seal();
    library_pages_release();
}

void library_routines_define() {
    // Each module's table; the routines are numbered in this order, which
    // holds for the running process only.
    routines_table_add(LIBRARY_ROUTINES, LIBRARY_ROUTINE_COUNT);
    routines_table_add(IO_ROUTINES, IO_ROUTINE_COUNT);
    routines_table_add(GUI_ROUTINES, GUI_ROUTINE_COUNT);
    routines_table_add(CONSOLE_ROUTINES, CONSOLE_ROUTINE_COUNT);
    routines_define();
}

void library_start() {
    // The order of these steps is fixed: collection may run from the first
    // statement of the library on, and every routine exists before it.
    collector.enabled = true;
    startup_logging = false;
    // In GC torture mode the start (the routines made from their specs, then
    // the library's load) is collected through only when KEL_GC_TORTURE is
    // "start": it is the same work in every run, and torturing it would
    // multiply the time of every test run in that mode, a collection for
    // each of its allocations over a heap that grows to the whole library.
    // Torture resumes for the script.
    bool torture = memory_torture_q();
    std::optional<std::string> mode = env_get("KEL_GC_TORTURE");
    if (torture && !(mode && *mode == "start")) memory_torture_set(false);
    memory.loading = true;
    memory.carve_budget = CARVE_BUDGET_LOAD;
    library_routines_define();
    library_load();
    memory.loading = false;
    memory_torture_set(torture);
    memory_settle();
    int status = script_run();
    if (status != 0) {
        heap_free_all();
        std::fflush(stdout);
        std::exit(status);
    }
}

} // namespace kel
