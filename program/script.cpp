// The hand-over from start-up to the console engine, which runs the script
// named on the command line or the terminal console. Printed values reach
// standard output through the value hook installed here.
#include "program/script.hpp"
#include "runtime/output_hooks.hpp"
#include "runtime/stdout.hpp"
#include "core/exits.hpp"
#include "core/interpreter.hpp"
#include "core/stack.hpp"
#include "core/lexer.hpp"
#include "runtime/collector.hpp"

namespace kel {

int script_run() {
    output_hooks_add(stdout_value_hook, nullptr);
    // console-start runs a named script, or picks the graphical console when
    // a display is there and the terminal console otherwise.
    static const char LAUNCH[] = "console-start";
    CellRoot code;
    LexerOptions options;
    lexer_transcode(&code.cell, reinterpret_cast<const uint8_t*>(LAUNCH), sizeof LAUNCH - 1, options,
                    nullptr);
    ExitCode x;
    try {
        x = eval_block(&code.cell, false);
    } catch (const ExitSignal& signal) {
        x = signal.code;
    }
    if (x != EXIT_CODE_NONE) exit_clear();
    stack_restore({data_stack.bottom, data_stack.bottom, call_stack.bottom, 0});
    return 0;
}

} // namespace kel
