#include "runtime/stdout.hpp"
#include "runtime/output_hooks.hpp"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

using namespace kel;

// Sends file descriptor 1 to a temporary file until finish() returns what was
// written there.
struct StdoutCapture {
    int saved = -1;
    int file = -1;
    StdoutCapture() {
        std::fflush(stdout);
        char path[] = "/tmp/kel-stdout-XXXXXX";
        file = mkstemp(path);
        unlink(path);
        saved = dup(1);
        dup2(file, 1);
    }
    std::string finish() {
        dup2(saved, 1);
        close(saved);
        std::string bytes;
        char buf[4096];
        lseek(file, 0, SEEK_SET);
        for (ssize_t n; (n = read(file, buf, sizeof buf)) > 0;) bytes.append(buf, size_t(n));
        close(file);
        return bytes;
    }
};

static std::string units_of(const std::vector<uint32_t>& chars, int unit) {
    std::string bytes;
    for (uint32_t c : chars)
        for (int i = 0; i < unit; i++) bytes.push_back(char(c >> (8 * i)));
    return bytes;
}

TEST(StdoutUtf8, UnitsEncodeAsUtf8WithLfLineEnds) {
    struct Case { std::vector<uint32_t> chars; int unit; bool newline; std::string bytes; };
    const Case cases[] = {
        {{'h', 0xE9, 'l'}, 1, false, "h\xC3\xA9l"},                       // Latin-1 byte
        {{'h', 0xE9, 0x20AC}, 2, true, "h\xC3\xA9\xE2\x82\xAC\n"},        // LF, not CR LF
        {{0x1F600, 'x', 0x10FFFF}, 4, true, "\xF0\x9F\x98\x80x\xF4\x8F\xBF\xBF\n"},
        {{0x1B, '[', '3', '1', 'm', 'r'}, 2, false, "\x1B[31mr"},         // escapes as bytes
        {{0xD800, 0xDC7F}, 2, false, "\xEF\xBF\xBD\xEF\xBF\xBD"},         // lone surrogates: U+FFFD
        {{'a', 0xDC80, 0xDCFF}, 2, false, "a\x80\xFF"},                   // bytes kept from the OS
        {{0x110000, 0xFFFFFFFF}, 4, false, "\xEF\xBF\xBD\xEF\xBF\xBD"},   // not characters
        {{}, 2, true, "\n"},
    };
    stdout_init();
    for (const Case& c : cases) {
        std::string text = units_of(c.chars, c.unit);
        StdoutCapture capture;
        stdout_write_units(text.data(), text.size(), c.unit, c.newline);
        EXPECT_EQ(capture.finish(), c.bytes) << "unit " << c.unit;
    }
}

TEST(StdoutUtf8, LongTextCrossesTheBufferIntact) {
    std::vector<uint32_t> chars;
    std::string expected;
    for (int i = 0; i < 700; i++) {
        chars.insert(chars.end(), {'a', 0x20AC, 0x1F600});
        expected += "a\xE2\x82\xAC\xF0\x9F\x98\x80";
    }
    expected += "\n";
    std::string text = units_of(chars, 4);
    stdout_init();
    StdoutCapture capture;
    stdout_write_units(text.data(), text.size(), 4, true);
    EXPECT_EQ(capture.finish(), expected);
}

static std::string hook_text;
static void collect_text(const char* text, size_t len, bool newline) {
    hook_text.append(text, len);
    if (newline) hook_text += "<NL>";
}

TEST(StdoutPrinters, WriteAndHandTheTextToTheHooks) {
    output_hooks_init();
    output_hooks_add(nullptr, collect_text);
    hook_text.clear();
    stdout_init();
    StdoutCapture capture;
    const char* s = "n=\xC3\xA9 ";
    EXPECT_EQ(stdout_write_c_string(s), s);
    EXPECT_EQ(stdout_print_integer(-42), -42);
    stdout_print_integer(INT32_MIN);
    stdout_write_c_string(" ");
    EXPECT_EQ(stdout_print_hex2(0x0A), 0x0A);
    EXPECT_EQ(stdout_print_hex8(0xDEADBEEF), 0xDEADBEEFu);
    stdout_write_c_string(" ");
    EXPECT_EQ(stdout_print_float(1.0 / 3.0), 1.0 / 3.0);
    stdout_write_c_string(" ");
    stdout_print_float(1e300);
    stdout_write_c_string(" ");
    EXPECT_EQ(stdout_print_float32(0.1f), 0.1f);
    stdout_write_c_string("\n");
    std::string out = capture.finish();
    const char* expected = "n=\xC3\xA9 -42-2147483648 0ADEADBEEF 0.3333333333333333 1e+300 0.1\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(hook_text, expected);   // the flag is always 0
}

// ---- console escape interpreter ------------------------------------------------

static ConsoleState console_80x25() {
    ConsoleState c{};
    c.width = 80;
    c.height = 25;
    c.cursor_x = 10;
    c.cursor_y = 5;
    c.attribute = 0x17;           // white on blue
    c.default_attribute = 0x07;
    c.window_right = 79;
    c.window_bottom = 24;
    c.max_window_width = 80;
    c.max_window_height = 50;
    return c;
}

TEST(ConsoleEscape, SequenceTable) {
    struct Case {
        const char* text;
        size_t consumed;
        int32_t x, y;
        uint16_t attribute;
        int attribute_sets;
        int32_t erase_x, erase_y, erase_count;   // count -1: no erase
        bool report;
    };
    const Case cases[] = {
        // not a sequence: the ESC is written as a character
        {"\x1bx", 0, 10, 5, 0x17, 0, 0, 0, -1, false},
        {"\x1b", 0, 10, 5, 0x17, 0, 0, 0, -1, false},
        // unknown final characters are consumed and change nothing
        {"\x1b[12z", 5, 10, 5, 0x17, 0, 0, 0, -1, false},
        {"\x1b[5H", 4, 10, 5, 0x17, 0, 0, 0, -1, false},
        {"\x1b[3J", 4, 10, 5, 0x17, 0, 0, 0, -1, false},
        {"\x1b[31;m", 6, 10, 5, 0x17, 0, 0, 0, -1, false},
        {"\x1b[m", 3, 10, 5, 0x17, 0, 0, 0, -1, false},
        {"\x1b[12", 4, 10, 5, 0x17, 0, 0, 0, -1, false},      // the text ends inside
        {"\x1b[2Jabc", 4, 0, 0, 0x17, 0, 0, 0, 2000, false},  // stops after its final
        // attributes
        {"\x1b[0m", 4, 10, 5, 0x07, 1, 0, 0, -1, false},
        {"\x1b[1m", 4, 10, 5, 0x9F, 1, 0, 0, -1, false},
        {"\x1b[4m", 4, 10, 5, 0x8017, 1, 0, 0, -1, false},
        {"\x1b[7m", 4, 10, 5, 0x71, 1, 0, 0, -1, false},
        {"\x1b[32m", 5, 10, 5, 0x12, 1, 0, 0, -1, false},
        {"\x1b[45m", 5, 10, 5, 0x57, 1, 0, 0, -1, false},
        {"\x1b[39m", 5, 10, 5, 0x1F, 1, 0, 0, -1, false},
        {"\x1b[49m", 5, 10, 5, 0x97, 1, 0, 0, -1, false},
        {"\x1b[99m", 5, 10, 5, 0x17, 1, 0, 0, -1, false},
        {"\x1b[1;31m", 7, 10, 5, 0x9C, 1, 0, 0, -1, false},
        {"\x1b[1;31;44m", 10, 10, 5, 0x9C, 1, 0, 0, -1, false},  // bright red on blue, one change
        {"\x1b[0;32;;7m", 10, 10, 5, 0x20, 1, 0, 0, -1, false},
        // cursor movement, clamped inside the buffer
        {"\x1b[3A", 4, 10, 2, 0x17, 0, 0, 0, -1, false},
        {"\x1b[9A", 4, 10, 0, 0x17, 0, 0, 0, -1, false},
        {"\x1b[2B", 4, 10, 7, 0x17, 0, 0, 0, -1, false},
        {"\x1b[99B", 5, 10, 24, 0x17, 0, 0, 0, -1, false},
        {"\x1b[5C", 4, 15, 5, 0x17, 0, 0, 0, -1, false},
        {"\x1b[200C", 6, 79, 5, 0x17, 0, 0, 0, -1, false},
        {"\x1b[4D", 4, 6, 5, 0x17, 0, 0, 0, -1, false},
        {"\x1b[40D", 5, 0, 5, 0x17, 0, 0, 0, -1, false},
        {"\x1b[65535C", 8, 10, 5, 0x17, 0, 0, 0, -1, false},   // numbers wrap at 65,535
        {"\x1b[65536C", 8, 11, 5, 0x17, 0, 0, 0, -1, false},
        {"\x1b[H", 3, 0, 0, 0x17, 0, 0, 0, -1, false},
        {"\x1b[;;f", 5, 0, 0, 0x17, 0, 0, 0, -1, false},
        {"\x1b[7;3H", 6, 7, 3, 0x17, 0, 0, 0, -1, false},      // column 7, row 3
        {"\x1b[500;300f", 10, 79, 24, 0x17, 0, 0, 0, -1, false},
        // erase modes, in the default attribute
        {"\x1b[J", 3, 10, 5, 0x17, 0, 0, 5, 1600, false},
        {"\x1b[1J", 4, 10, 5, 0x17, 0, 0, 0, 400, false},
        {"\x1b[2J", 4, 0, 0, 0x17, 0, 0, 0, 2000, false},
        {"\x1b[2K", 4, 0, 5, 0x17, 0, 0, 5, 80, false},
        {"\x1b[K", 3, 10, 5, 0x17, 0, 10, 5, 70, false},
        {"\x1b[1K", 4, 0, 5, 0x17, 0, 0, 5, 10, false},
        {"\x1b[?", 3, 10, 5, 0x17, 0, 0, 0, -1, true},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        for (int unit : {1, 2}) {
            std::vector<uint32_t> chars(text.begin(), text.end());
            std::string units = units_of(chars, unit);
            ConsoleState console = console_80x25();
            ConsoleEffect effect;
            size_t consumed = console_escape(console, units.data(), chars.size(), unit, effect);
            SCOPED_TRACE(testing::Message() << "ESC" << (text.c_str() + 1) << " unit " << unit);
            EXPECT_EQ(consumed, c.consumed);
            EXPECT_EQ(console.cursor_x, c.x);
            EXPECT_EQ(console.cursor_y, c.y);
            EXPECT_EQ(console.attribute, c.attribute);
            EXPECT_EQ(effect.attribute_sets, c.attribute_sets);
            EXPECT_EQ(effect.erase, c.erase_count >= 0);
            if (effect.erase && c.erase_count >= 0) {
                EXPECT_EQ(effect.erase_x, c.erase_x);
                EXPECT_EQ(effect.erase_y, c.erase_y);
                EXPECT_EQ(effect.erase_count, uint32_t(c.erase_count));
            }
            EXPECT_EQ(effect.report, c.report);
        }
    }
}

TEST(ConsoleEscape, SaveAndRestoreTheCursor) {
    ConsoleState console = console_80x25();
    ConsoleEffect effect;
    EXPECT_EQ(console_escape(console, "\x1b[s", 3, 1, effect), 3u);
    console_escape(console, "\x1b[7;3H", 6, 1, effect);
    EXPECT_EQ(console.cursor_x, 7);
    console_escape(console, "\x1b[u", 3, 1, effect);
    EXPECT_EQ(console.cursor_x, 10);
    EXPECT_EQ(console.cursor_y, 5);
}

TEST(ConsoleEscape, ScreenBufferReport) {
    ConsoleState console = console_80x25();
    char out[512];
    size_t len = console_report_format(console, out, sizeof out);
    EXPECT_EQ(std::string(out, len),
              "Screen buffer info:\n"
              "   size______ 80x25\n"
              "   cursor____ 10x5\n"
              "   attribute_ 00000017 00000007\n"
              "   left______ 0 top: 0\n"
              "   right_____ 79 bottom: 24\n"
              "   max_______ 80x50\n");
    EXPECT_EQ(console_report_format(console, out, 8), 7u);   // cut, still terminated
    EXPECT_STREQ(out, "Screen ");
}
