// The graphical console's print hooks and caret blink time. Printed values
// and text written to standard output reach the console's terminal through
// the runtime's output hooks; the routines below are registered in the
// library's routine table.
#pragma once
#include "runtime/cell.hpp"
#include <cstddef>

namespace kel {

// add-gui-print: makes the cell through which written text reaches the
// terminal (a collector root for the rest of the process) and registers the
// value hook and the text hook, once; a second call changes nothing.
void routine_add_gui_print();

// print-to-stdout flag: whether printed values are written to standard
// output besides reaching the other hooks; the graphical console turns it
// off, as its window shows them.
void routine_print_to_stdout();

// get-caret-blink-time: the caret's blink time in milliseconds as an
// integer!; -1 when the desktop's caret does not blink.
void routine_get_caret_blink_time();

// gui-display?: true when a graphical display can be reached (an X11 or
// Wayland display is named in the environment). Loads nothing.
void routine_gui_display_q();

// The value hook: shows a printed string! in the console (newline true for
// print). Raises internal error stack-overflow when fewer than 80 free data
// stack cells or 60 free call frames remain.
void gui_print_value(const Cell* value, bool newline);

// The text hook: decodes len bytes of UTF-8 (len as size_t(-1): up to a NUL
// byte) and shows them like a printed value.
void gui_print_cstring(const char* text, size_t len, bool newline);

} // namespace kel
