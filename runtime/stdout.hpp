// Standard output: the runtime's own diagnostics (fatal messages, reports) go
// to the process's standard output as UTF-8 with LF line ends. Printed values of
// the language do not come here; they go to the value hooks. Every text the
// c-string writer and the number printers write is also handed to the text
// hooks. On a terminal, escape sequences reach the terminal untouched and the
// terminal interprets them.
//
// Below the writers stands the console escape interpreter: a model of a
// character-cell console (cursor, colour attribute, erasing) driven by the ANSI
// escape sequences the system's text may carry.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel {

struct Cell;

// Allocates the format and output buffers and notes whether standard output is
// a terminal; called by platform_init. Nothing is allocated after it.
void stdout_init();
bool stdout_is_console();

// Writes the bytes as they are, then hands them to the text hooks. Returns text.
const char* stdout_write_c_string(const char* text);

// Number printers: each formats its argument ("%i", "%02X", "%08X", "%.16g",
// "%.7g"), writes it and hands it to the text hooks. Each returns its argument.
int32_t stdout_print_integer(int32_t value);
uint8_t stdout_print_hex2(uint8_t value);
uint32_t stdout_print_hex8(uint32_t value);
double stdout_print_float(double value);
float stdout_print_float32(float value);

// The generic writer: text of byte_len bytes in units of 1 (Latin-1), 2 (UCS-2,
// little-endian) or 4 (UCS-4) bytes, encoded as UTF-8; with newline an LF
// follows. A lone surrogate is encoded as it stands; a value above 0x10FFFF
// becomes U+FFFD. Escape sequences are written as their bytes.
void stdout_write_units(const void* text, size_t byte_len, int unit, bool newline);

// The value hook that writes a printed string (from its position) to standard
// output; start-up installs it.
void stdout_value_hook(const Cell* value, bool newline);
// Turns the writing of printed values to standard output on or off; other
// output hooks still get them.
void stdout_print_values(bool on);

// ---- console escape interpreter ------------------------------------------------

// A character-cell console buffer. Attributes are the 16-bit console attribute
// word: foreground colour in bits 0-2 and intensity 0x08, background in bits
// 4-6 and intensity 0x80, underscore 0x8000.
struct ConsoleState {
    int32_t width, height;          // buffer size in cells
    int32_t cursor_x, cursor_y;     // counted from 0; always inside the buffer
    uint16_t attribute;             // attribute of text written now
    uint16_t default_attribute;     // the console's attribute before anything was written
    int32_t saved_x, saved_y;       // position stored by ESC [ s
    // The visible window and the largest possible window; shown by the report.
    int32_t window_left, window_top, window_right, window_bottom;
    int32_t max_window_width, max_window_height;
};

// What a sequence asks of the console besides the changes to ConsoleState.
struct ConsoleEffect {
    bool erase;                     // fill erase_count cells with blanks in the default attribute,
    int32_t erase_x, erase_y;       // starting at this cell and running on row by row
    uint32_t erase_count;
    int attribute_sets;             // times the console's attribute was set (0 or 1)
    bool report;                    // the screen-buffer report is to be written
};

// Interprets the escape sequence at text (units counted from its ESC, unit 1,
// 2 or 4; only the low byte of each unit is looked at). Returns the number of
// units the sequence takes, or 0 when the ESC starts no sequence and is to be
// written as a character.
size_t console_escape(ConsoleState& console, const void* text, size_t units, int unit,
                      ConsoleEffect& effect);

// The screen-buffer report, seven lines ending in LF, formatted into out
// (NUL-terminated, cut at capacity). Returns its length.
size_t console_report_format(const ConsoleState& console, char* out, size_t capacity);

} // namespace kel
