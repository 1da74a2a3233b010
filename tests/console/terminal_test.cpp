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
    EXPECT_EQ(edit({"a", "\x03"}).status, LineEditor::Status::escaped);
    // Ctrl+D ends the input only on an empty line; elsewhere it deletes.
    EXPECT_EQ(edit({"\x04"}).status, LineEditor::Status::end_of_input);
    LineEditor e = edit({"a", "b", LEFT, "\x04"});
    EXPECT_EQ(e.status, LineEditor::Status::editing);
    EXPECT_EQ(e.text(), "a");
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
