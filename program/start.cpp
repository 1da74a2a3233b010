// The start-up sequence: low-level runtime, runtime initialisation in its one
// fixed order, then the library and the console. Every step is a named call;
// a step whose subsystem does not exist yet is an empty function saying so.
#include "program/start.hpp"
#include "runtime/start.hpp"
#include "gui/event.hpp"
#include "runtime/heap.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/handles.hpp"
#include "runtime/output_hooks.hpp"
#include "runtime/platform/platform.hpp"
#include "core/error.hpp"
#include "core/error_value.hpp"
#include "core/registry.hpp"
#include "datatypes/types.hpp"
#include "core/actions.hpp"
#include "core/interpreter.hpp"
#include "core/externals.hpp"
#include "core/casefold.hpp"
#include "core/cycle.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/context.hpp"
#include "core/ownership.hpp"
#include "core/vocabulary.hpp"
#include "runtime/native_guard.hpp"
#include "core/lexer.hpp"
#include "natives/checksum.hpp"
#include "runtime/random.hpp"
#include "natives/natives.hpp"
#include "natives/parse.hpp"
#include "io/compression/framing.hpp"
#include "io/files.hpp"
#include "io/natives_io.hpp"
#include "io/process.hpp"
#include "program/library_start.hpp"

#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kel {

// ---- initialisation steps --------------------------------------------------
// The symbol series, the global context, the case-folding tables, the symbol
// index, then the words of the type names and of the runtime's vocabulary.
static void global_tables_new() {
    symbol_series_new();
    global_context_new();
    case_folding_init();
    symbol_index_new();
    datatype_build_words();
    runtime_words_build();
}
// The data and call stacks, the cycle stack and the native stack guard.
static void stacks_init() {
    stack_init(stack_labels_intern());
    cycles_init();
    native_stack_guard_init(runtime_record.stack_base);
}
// The words of the built-in values (datatypes, typesets, natives, actions,
// operators) are made from their spec texts.
static void boot_data_decode() { natives_words_define(); }

void runtime_init() {
    startup_logging = true;
    output_hooks_init();
    platform_init();
    random_init();
    memory_setup();
    external_handles_init();
    datatypes_register();
    file_actions_register();
    actions_table_init();
    node_frame_new(NODE_FRAME_CAPACITY);
    series_frame_new();
    root_block_new();
    global_tables_new();
    io_natives_register();
    natives_init();
    parse_init();
    ownership_init();
    checksum_init();
    init_compression_words();
    stacks_init();
    lexer_init();
    init_event();  // before the words of the types and of any-type! are made
    boot_data_decode();
    interpreter_init();
    externals_init();
    collector_init();
}

int program_start(int argc, char** argv) {
    runtime_record.argc = argc;
    runtime_record.argv = argv;
    runtime_faults_install();
    // SSE2 doubles: round to nearest, every floating-point exception masked.
    std::fesetenv(FE_DFL_ENV);
    int marker;
    runtime_record.stack_base = &marker;
    try {
        runtime_init();
        library_start();
    } catch (const LanguageError&) {
        // An error that nothing caught ends the program, reported on stderr
        // (there is no graphical console to show it in).
        error_report_uncaught();
        heap_free_all();
        return EXIT_UNCAUGHT_ERROR;
    }
    runtime_error_exit(0, nullptr);
}

} // namespace kel
