#include "runtime/stdout.hpp"
#include "runtime/heap.hpp"
#include "runtime/memory.hpp"
#include "runtime/output_hooks.hpp"
#include "runtime/platform/os_text.hpp"
#include "runtime/platform/platform.hpp"
#include "runtime/utf8.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kel {

constexpr size_t FORMAT_BUFFER_SIZE = 64;
constexpr size_t OUTPUT_BUFFER_SIZE = 1024;
// Pending bytes are written once more than this many have gathered; a UTF-8
// character (at most 4 bytes) and the final LF always fit behind it.
constexpr size_t OUTPUT_FLUSH_AT = 1020;

struct StdoutState {
    bool console = false;       // standard output is a terminal
    char* format = nullptr;     // FORMAT_BUFFER_SIZE bytes; the number printers format into it
    uint8_t* out = nullptr;     // OUTPUT_BUFFER_SIZE bytes of UTF-8 not yet written
    size_t pending = 0;         // bytes pending in out
};

static StdoutState std_out;

void stdout_init() {
    std_out.format = static_cast<char*>(heap_alloc(FORMAT_BUFFER_SIZE));
    std_out.out = static_cast<uint8_t*>(heap_alloc(OUTPUT_BUFFER_SIZE));
    std_out.pending = 0;
    std_out.console = fd_is_terminal(STDOUT_FD);
}

bool stdout_is_console() { return std_out.console; }

// A failed write (closed pipe, full disk) drops the text: there is nowhere
// left to report it.
static void stdout_flush() {
    if (std_out.pending) fd_write_all(STDOUT_FD, std_out.out, std_out.pending);
    std_out.pending = 0;
}

const char* stdout_write_c_string(const char* text) {
    size_t len = std::strlen(text);
    fd_write_all(STDOUT_FD, text, len);
    text_hooks_notify(text, len, false);
    return text;
}

// Writes the formatted number held in the format buffer.
static void stdout_write_number(int len) {
    if (len < 0) return;
    size_t n = std::min(size_t(len), FORMAT_BUFFER_SIZE - 1);
    stdout_write_units(std_out.format, n, 1, false);
    text_hooks_notify(std_out.format, n, false);
}

int32_t stdout_print_integer(int32_t value) {
    stdout_write_number(std::snprintf(std_out.format, FORMAT_BUFFER_SIZE, "%i", value));
    return value;
}

uint8_t stdout_print_hex2(uint8_t value) {
    stdout_write_number(std::snprintf(std_out.format, FORMAT_BUFFER_SIZE, "%02X", unsigned(value)));
    return value;
}

uint32_t stdout_print_hex8(uint32_t value) {
    stdout_write_number(std::snprintf(std_out.format, FORMAT_BUFFER_SIZE, "%08X", unsigned(value)));
    return value;
}

double stdout_print_float(double value) {
    stdout_write_number(std::snprintf(std_out.format, FORMAT_BUFFER_SIZE, "%.16g", value));
    return value;
}

float stdout_print_float32(float value) {
    stdout_write_number(std::snprintf(std_out.format, FORMAT_BUFFER_SIZE, "%.7g", double(value)));
    return value;
}

// Reads unit i of text (1, 2 or 4 bytes, little-endian).
static uint32_t text_unit_at(const uint8_t* text, size_t i, int unit) {
    if (unit == 1) return text[i];
    if (unit == 2) { uint16_t u; std::memcpy(&u, text + i * 2, 2); return u; }
    uint32_t u;
    std::memcpy(&u, text + i * 4, 4);
    return u;
}

void stdout_write_units(const void* text, size_t byte_len, int unit, bool newline) {
    if (unit != 1 && unit != 2 && unit != 4) return;
    if (!std_out.out) stdout_init();
    auto* bytes = static_cast<const uint8_t*>(text);
    size_t count = byte_len / size_t(unit);
    for (size_t i = 0; i < count; i++) {
        uint32_t cp = text_unit_at(bytes, i, unit);
        // Not a character: the replacement character. Standard output is OS
        // text: a byte kept from a name or an argument goes out as it came in.
        if (cp > CODEPOINT_MAX) cp = 0xFFFD;
        std_out.pending += os_text_encode_char(cp, std_out.out + std_out.pending);
        if (std_out.pending > OUTPUT_FLUSH_AT) stdout_flush();
    }
    if (newline) std_out.out[std_out.pending++] = '\n';
    stdout_flush();
}

// ---- console escape interpreter ------------------------------------------------

// Numbers in a sequence wrap at this value.
constexpr uint32_t ESCAPE_NUMBER_WRAP = 65535;

// Colour bits for ANSI colours 0-7 (black, red, green, yellow, blue, magenta,
// cyan, white); background colours are these shifted left by 4.
static const uint16_t ansi_colour_bits[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// The attribute that SGR code turns attribute into. Codes not in the table
// leave the attribute as it is.
static uint16_t console_sgr(const ConsoleState& console, uint16_t attribute, uint32_t code) {
    if (code >= 30 && code <= 37) return uint16_t((attribute & 0xF8) + ansi_colour_bits[code - 30]);
    if (code >= 40 && code <= 47) return uint16_t((attribute & 0x8F) + (ansi_colour_bits[code - 40] << 4));
    switch (code) {
    case 0: return console.default_attribute;
    case 1: return uint16_t(attribute | 0x88);
    case 4: return uint16_t(attribute | 0x8000);
    case 7: return uint16_t((attribute & 0x0F) << 4 | (attribute & 0xF0) >> 4);
    case 39: return uint16_t(attribute | 0x08);
    case 49: return uint16_t(attribute | 0x80);
    default: return attribute;
    }
}

static void console_attribute_set(ConsoleState& console, uint16_t attribute, ConsoleEffect& effect) {
    console.attribute = attribute;
    effect.attribute_sets++;
}

// Places the cursor, kept inside the buffer.
static void console_cursor_set(ConsoleState& console, int64_t x, int64_t y) {
    console.cursor_x = int32_t(std::clamp<int64_t>(x, 0, std::max(console.width - 1, 0)));
    console.cursor_y = int32_t(std::clamp<int64_t>(y, 0, std::max(console.height - 1, 0)));
}

static void console_fill(ConsoleEffect& effect, int32_t x, int32_t y, int64_t count) {
    effect.erase = true;
    effect.erase_x = x;
    effect.erase_y = y;
    effect.erase_count = uint32_t(std::max<int64_t>(count, 0));
}

// Erase modes: 0 the cursor's row to the end of the buffer, 1 the rows above
// the cursor, 2 everything, 3 the cursor's row, 4 the cursor's row from the
// cursor on, 5 the cursor's row up to the cursor.
static void console_erase(ConsoleState& console, int mode, ConsoleEffect& effect) {
    int64_t w = console.width, h = console.height;
    int32_t x = console.cursor_x, y = console.cursor_y;
    switch (mode) {
    case 0: console_fill(effect, 0, y, (h - y) * w); break;
    case 1: console_fill(effect, 0, 0, y * w); break;
    case 2: console_fill(effect, 0, 0, w * h); console_cursor_set(console, 0, 0); break;
    case 3: console_fill(effect, 0, y, w); console_cursor_set(console, 0, y); break;
    case 4: console_fill(effect, x, y, w - x); break;
    case 5: console_fill(effect, 0, y, x); console_cursor_set(console, 0, y); break;
    }
}

// States of the sequence reader after ESC [.
enum class EscapeState { start, first_number, after_separator, second_number };

// The character that ends a sequence in the start state.
static void escape_final_start(ConsoleState& c, uint8_t ch, ConsoleEffect& effect) {
    switch (ch) {
    case 's': c.saved_x = c.cursor_x; c.saved_y = c.cursor_y; break;
    case 'u': console_cursor_set(c, c.saved_x, c.saved_y); break;
    case 'K': console_erase(c, 4, effect); break;
    case 'J': console_erase(c, 0, effect); break;
    case 'H': case 'f': console_cursor_set(c, 0, 0); break;
    case '?': effect.report = true; break;
    }
}

// The character that ends a sequence after one number p.
static void escape_final_first(ConsoleState& c, uint8_t ch, uint32_t p, uint16_t accumulator,
                               ConsoleEffect& effect) {
    int64_t x = c.cursor_x, y = c.cursor_y;
    switch (ch) {
    case 'm': console_attribute_set(c, console_sgr(c, accumulator, p), effect); break;
    case 'A': console_cursor_set(c, x, y - p); break;
    case 'B': console_cursor_set(c, x, y + p); break;
    case 'C': console_cursor_set(c, x + p, y); break;
    case 'D': console_cursor_set(c, x - p, y); break;
    case 'J': if (p == 1) console_erase(c, 1, effect); else if (p == 2) console_erase(c, 2, effect); break;
    case 'K': if (p == 1) console_erase(c, 5, effect); else if (p == 2) console_erase(c, 3, effect); break;
    }
}

size_t console_escape(ConsoleState& c, const void* text, size_t units, int unit,
                      ConsoleEffect& effect) {
    effect = ConsoleEffect{};
    auto* bytes = static_cast<const uint8_t*>(text);
    auto low_byte = [&](size_t i) { return uint8_t(text_unit_at(bytes, i, unit)); };
    if (units < 2 || low_byte(1) != '[') return 0;

    EscapeState state = EscapeState::start;
    uint32_t p = 0, q = 0;
    uint16_t accumulator = c.attribute;
    for (size_t i = 2; i < units; i++) {
        uint8_t ch = low_byte(i);
        bool digit = ch >= '0' && ch <= '9';
        uint32_t d = uint32_t(ch - '0');
        switch (state) {
        case EscapeState::start:
            if (digit) { p = d; state = EscapeState::first_number; continue; }
            if (ch == ';') continue;
            escape_final_start(c, ch, effect);
            return i + 1;
        case EscapeState::first_number:
            if (digit) { p = (p * 10 + d) % ESCAPE_NUMBER_WRAP; continue; }
            if (ch == ';') { state = EscapeState::after_separator; continue; }
            escape_final_first(c, ch, p, accumulator, effect);
            return i + 1;
        case EscapeState::after_separator:
            if (digit) { q = d; state = EscapeState::second_number; continue; }
            if (ch == ';') continue;
            return i + 1;
        case EscapeState::second_number:
            if (digit) { q = (q * 10 + d) % ESCAPE_NUMBER_WRAP; continue; }
            if (ch == ';') {
                // More attributes follow: gather them, set them all at the end.
                accumulator = console_sgr(c, console_sgr(c, accumulator, p), q);
                p = q = 0;
                state = EscapeState::start;
                continue;
            }
            if (ch == 'm')
                console_attribute_set(c, console_sgr(c, console_sgr(c, accumulator, p), q), effect);
            else if (ch == 'H' || ch == 'f')
                console_cursor_set(c, p, q);
            return i + 1;
        }
    }
    return units;  // the text ended inside the sequence
}

size_t console_report_format(const ConsoleState& c, char* out, size_t capacity) {
    int len = std::snprintf(out, capacity,
        "Screen buffer info:\n"
        "   size______ %dx%d\n"
        "   cursor____ %dx%d\n"
        "   attribute_ %08X %08X\n"
        "   left______ %d top: %d\n"
        "   right_____ %d bottom: %d\n"
        "   max_______ %dx%d\n",
        c.width, c.height, c.cursor_x, c.cursor_y,
        unsigned(c.attribute), unsigned(c.default_attribute),
        c.window_left, c.window_top, c.window_right, c.window_bottom,
        c.max_window_width, c.max_window_height);
    if (len < 0 || capacity == 0) return 0;
    return std::min(size_t(len), capacity - 1);
}

// ---- printed values ------------------------------------------------------------

// Whether printed values reach standard output: the graphical console
// shows them in its window alone.
static bool print_to_stdout = true;

void stdout_print_values(bool on) { print_to_stdout = on; }

// Writes a printed string (from its position) to standard output.
void stdout_value_hook(const Cell* value, bool newline) {
    if (!print_to_stdout) return;
    SeriesBuffer* b = series_buffer(value->w2);
    uint32_t length = b->length();
    uint32_t index = value->w1 < length ? value->w1 : length;
    stdout_write_units(b->head_ptr() + size_t(index) * b->unit(), size_t(length - index) * b->unit(),
                       int(b->unit()), newline);
}

} // namespace kel
