// The terminal console's line editor, driven key by key as the terminal
// sends the keys.
#include "console/terminal.hpp"

#include <gtest/gtest.h>

namespace kel {
namespace {

const std::string UP = "\x1b[A", DOWN = "\x1b[B", LEFT = "\x1b[D", RIGHT = "\x1b[C";

LineEditor edit(const std::vector<std::string>& keys, std::vector<std::string> history = {}) {
    LineEditor e;
    e.history = std::move(history);
    for (const std::string& k : keys) e.key(k);
    return e;
}

TEST(LineEditor, EditingKeys) {
    struct Case {
        std::vector<std::string> keys;
        std::string text;
        size_t pos;
    } cases[] = {
        {{"a", "b", "c"}, "abc", 3},
        {{"a", "b", "\x7f"}, "a", 1},                          // backspace
        {{"a", "b", LEFT, LEFT, "x"}, "xab", 1},
        {{"a", "b", LEFT, LEFT, "\x1b[3~"}, "b", 0},           // delete
        {{"a", "b", "\x1b[H", "x", "\x1b[F", "y"}, "xaby", 4}, // home, end
        {{"a", "b", "\x1bOH", "\x1b[1~", "x", "\x1b[4~"}, "xab", 3},
        {{"a", "b", "\x01", "\x0b"}, "", 0},                    // Ctrl+A, Ctrl+K
        {{"a", "b", LEFT, "\x15"}, "b", 0},                     // Ctrl+U
        {{"\x7f", LEFT, "\x1b[3~", RIGHT}, "", 0},              // nothing to edit
        {{"\xc3\xa9", "\xe2\x82\xac", LEFT, "\x7f"}, "\xe2\x82\xac", 0},  // UTF-8 characters
        {{"a", "\x1b[5~", "\x1b[Z"}, "a", 1},                   // unknown sequences do nothing
    };
    for (const Case& c : cases) {
        LineEditor e = edit(c.keys);
        EXPECT_EQ(e.text(), c.text) << c.keys.size();
        EXPECT_EQ(e.pos, c.pos) << c.text;
        EXPECT_EQ(e.status, LineEditor::Status::editing);
    }
}

TEST(LineEditor, EndingKeys) {
    EXPECT_EQ(edit({"a", "\r"}).status, LineEditor::Status::done);
    EXPECT_EQ(edit({"a", "\x1b"}).status, LineEditor::Status::escaped);
    EXPECT_EQ(edit({"a", "\x03"}).status, LineEditor::Status::interrupted);
    // Ctrl+D ends the input only on an empty line; elsewhere it deletes.
    EXPECT_EQ(edit({"\x04"}).status, LineEditor::Status::end_of_input);
    LineEditor e = edit({"a", "b", LEFT, "\x04"});
    EXPECT_EQ(e.status, LineEditor::Status::editing);
    EXPECT_EQ(e.text(), "a");
}

// The caret steps over a character and the combining marks after it, so
// that no edit splits what the terminal shows as one character.
TEST(LineEditor, WholeCharactersAsShown) {
    const std::string E_ACUTE = "e\xcc\x81", WIDE = "\xe6\x97\xa5";  // e + U+0301, U+65E5
    struct Case {
        std::vector<std::string> keys;
        std::string text;
        size_t pos;
    } cases[] = {
        {{"a", "e", "\xcc\x81", "b", LEFT, LEFT, "x"}, "ax" + E_ACUTE + "b", 2},
        {{"a", "e", "\xcc\x81", "\x7f"}, "a", 1},                   // backspace takes the mark too
        {{"e", "\xcc\x81", "b", "\x01", "\x1b[3~"}, "b", 0},        // so does delete
        {{"e", "\xcc\x81", "\x01", RIGHT, "x"}, E_ACUTE + "x", 3},
        {{WIDE, WIDE, LEFT, "\x7f"}, WIDE, 0},
        {{"a", "\x07", "\xc2\x85", "b"}, "ab", 2},                    // controls never enter the line
    };
    for (const Case& c : cases) {
        LineEditor e = edit(c.keys);
        EXPECT_EQ(e.text(), c.text) << c.keys.size();
        EXPECT_EQ(e.pos, c.pos) << c.text;
    }
}

TEST(LineEditor, TabAsksTheCompletion) {
    int asked = 0;
    LineEditor e;
    e.complete = [&asked](LineEditor* ed) {
        asked++;
        ed->chars = {'p', 'r', 'i', 'n', ' ', 'x'};
        ed->pos = 4;
    };
    e.key("\t");
    EXPECT_EQ(asked, 0);  // nothing to complete on an empty line
    e.key("p");
    e.key("\t");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(e.text(), "prin x");
    EXPECT_EQ(e.pos, 4u);
    LineEditor plain = edit({"a", "\t"});
    EXPECT_EQ(plain.text(), "a");
}

// What a terminal shows of the redraws: the row as text, with every wide
// character followed by an empty cell, and the cursor's column.
struct Row {
    std::vector<std::string> cells;
    size_t cursor = 0;
    void play(const std::string& bytes) {
        for (size_t i = 0; i < bytes.size();) {
            if (bytes[i] == '\x1b') {
                size_t end = bytes.find_first_of("DK", i);
                if (bytes[end] == 'D') cursor -= std::stoul(bytes.substr(i + 2, end - i - 2));
                else cells.resize(cursor);
                i = end + 1;
                continue;
            }
            size_t n = uint8_t(bytes[i]) < 0x80 ? 1 : uint8_t(bytes[i]) < 0xE0 ? 2 : uint8_t(bytes[i]) < 0xF0 ? 3 : 4;
            if (cells.size() < cursor + 1) cells.resize(cursor + 1);
            if (n == 2 && uint8_t(bytes[i]) == 0xCC) cells[cursor - 1] += bytes.substr(i, n);  // a mark
            else cells[cursor++] = bytes.substr(i, n);
            if (n == 3) {
                if (cells.size() < cursor + 1) cells.resize(cursor + 1);
                cells[cursor++] = "";
            }
            i += n;
        }
    }
    std::string text() const {
        std::string t;
        for (const std::string& c : cells) t += c;
        return t;
    }
};

TEST(LineView, DrawsByColumnsAndScrollsLongLines) {
    const std::string WIDE = "\xe6\x97\xa5";
    LineEditor e;
    LineView view;
    view.origin = 3;
    Row row;
    row.cursor = 3;
    row.cells.assign(3, ">");
    auto type = [&](const std::string& k, size_t columns) {
        e.key(k);
        row.play(view.redraw(e, columns));
    };
    // Wide characters: the cursor moves back by two columns for each.
    for (const char* k : {"p", "\"", "\xe6\x97\xa5", "\xe6\x97\xa5", "\""}) type(k, 40);
    EXPECT_EQ(row.text(), ">>>p\"" + WIDE + WIDE + "\"");
    EXPECT_EQ(row.cursor, 3u + 7);
    type(LEFT, 40);
    type(LEFT, 40);
    EXPECT_EQ(row.cursor, 3u + 4);
    type("x", 40);
    EXPECT_EQ(row.text(), ">>>p\"" + WIDE + "x" + WIDE + "\"");
    // A line longer than the row: only a window of it is shown, never
    // reaching the last column, and the cursor stays inside it.
    type("\x05", 20);
    for (int i = 0; i < 30; i++) {
        type(std::string(1, char('a' + i % 26)), 20);
        EXPECT_LE(row.cells.size(), 19u);
        EXPECT_LE(row.cursor, 19u);
    }
    EXPECT_EQ(row.text().substr(row.text().size() - 5), "zabcd");
    type("\x01", 20);
    EXPECT_EQ(row.cursor, 3u);
    EXPECT_EQ(row.text().substr(0, 5), ">>>p\"");
    LineView hidden;
    hidden.hide = true;
    EXPECT_EQ(hidden.redraw(edit({"p", "w"}), 40), "**\x1b[K");
}

// After a change of width the cursor is brought to where the window starts
// now, whichever way the terminal dealt with the row: wrapped again (the
// cursor at the old column modulo the width), cut (the cursor held in the
// last column), joined again when wider, or not telling.
TEST(LineView, FollowsAChangeOfWidth) {
    struct Case {
        size_t origin, shown, columns;
        CursorPlace cursor;
        std::string bytes;
        size_t origin_after;
    } cases[] = {
        {3, 60, 40, {5, 23}, "\r\x1b[1A\x1b[3C\x1b[J", 3},   // wrapped: one row up
        {45, 20, 40, {5, 25}, "\r\x1b[5C\x1b[J", 5},          // wrapped with the prompt: the same row
        {3, 60, 40, {0, 23}, "\r\x1b[J>> ", 3},                 // wrapped above the top: the prompt again
        {3, 60, 40, {5, 39}, "\r\x1b[3C\x1b[J", 3},            // cut after the window's start
        {50, 5, 40, {5, 39}, "\r\n\x1b[J", 0},                 // cut before it: a row of its own
        {5, 10, 100, {2, 55}, "\r\x1b[45C\x1b[J", 45},         // joined again
        {3, 60, 40, {}, "\r\x1b[3C\x1b[J", 3},                 // no answer
    };
    for (const Case& c : cases) {
        LineView view;
        view.origin = c.origin;
        view.shown = c.shown;
        EXPECT_EQ(view.rewidth(c.columns, c.cursor, "out\n>> "), c.bytes) << c.origin << " " << c.cursor.column;
        EXPECT_EQ(view.origin, c.origin_after) << c.origin << " " << c.cursor.column;
        EXPECT_EQ(view.shown, 0u);
    }
}

TEST(LineEditor, HistoryRecall) {
    std::vector<std::string> history = {"new", "old"};
    EXPECT_EQ(edit({UP}, history).text(), "new");
    EXPECT_EQ(edit({UP, UP}, history).text(), "old");
    EXPECT_EQ(edit({UP, UP, UP}, history).text(), "old");  // stays at the oldest
    // Down past the newest entry gives back the line being typed.
    EXPECT_EQ(edit({"d", "r", UP, UP, DOWN, DOWN}, history).text(), "dr");
    EXPECT_EQ(edit({DOWN}, history).text(), "");
    LineEditor e = edit({UP, "!"}, history);
    EXPECT_EQ(e.text(), "new!");
    EXPECT_EQ(e.pos, 4u);
    EXPECT_EQ(edit({UP}, {}).text(), "");
}

}  // namespace
}  // namespace kel
