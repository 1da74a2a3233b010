#include "console/routines.hpp"
#include "console/gui_print.hpp"
#include "console/terminal.hpp"

namespace kel {

const RoutineDef CONSOLE_ROUTINES[] = {
    {"write-stderr", "text [string!]", routine_write_stderr, 0, nullptr},
    {"terminal-read-line", "prompt [string!] hide [logic!] history [block!] complete [function!]",
     routine_terminal_read_line, 0, nullptr},
    {"terminal-size", "", routine_terminal_size, 0, nullptr},
    {"terminal?", "", routine_terminal_q, 0, nullptr},
    {"terminal-interrupt-catch", "", routine_terminal_interrupt_catch, 0, nullptr},
    {"console-title-set", "text [string!]", routine_console_title_set, 0, nullptr},
    {"console-cfg-write", "path [file!] text [string!]", routine_console_cfg_write, 0, nullptr},
    {"add-gui-print", "", routine_add_gui_print, 0, nullptr},
    {"print-to-stdout", "flag [logic!]", routine_print_to_stdout, 0, nullptr},
    {"get-caret-blink-time", "", routine_get_caret_blink_time, 0, nullptr},
    {"gui-display?", "", routine_gui_display_q, 0, nullptr},
};
const uint32_t CONSOLE_ROUTINE_COUNT = sizeof CONSOLE_ROUTINES / sizeof CONSOLE_ROUTINES[0];

} // namespace kel
