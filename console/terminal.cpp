// The terminal console's front end. Standard input is read a byte at a time
// with read(2), so nothing is buffered past the line that ask returns and a
// child process or a later ask sees the rest. On a terminal the line is
// edited in raw mode, which is left again before the line is returned, so
// output while a command runs looks as it does without the console.
#include "console/terminal.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/error_catalog.hpp"
#include "core/logic.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "datatypes/file.hpp"
#include "datatypes/pair.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform/platform.hpp"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace kel {

constexpr int STDIN_FD = 0;

// ---- text between cells and UTF-8 -----------------------------------------------------------

// The text of a string! from its position, as UTF-8.
static std::string string_utf8(const Cell* string) {
    uint32_t chars = series_buffer(string->w2)->length();
    std::string text(size_t(chars) * 4 + 1, '\0');
    uint32_t n = string_to_utf8_into(string, reinterpret_cast<uint8_t*>(text.data()), -1, true);
    text.resize(n);
    return text;
}

// A line read from standard input as a new string!, decoded as OS text: a
// byte that is not UTF-8 is kept, not refused.
static void line_box(const std::string& text) {
    string_load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), ENCODING_OS,
                stack_box_new(T_STRING));
}

static void utf8_append(std::string* out, uint32_t c) {
    uint8_t encoded[4];
    uint32_t n = utf8_encode_char(c, encoded);
    out->append(reinterpret_cast<const char*>(encoded), n);
}

static std::vector<uint32_t> utf8_chars(const std::string& text) {
    std::vector<uint32_t> chars;
    for (size_t i = 0; i < text.size();) {
        uint8_t b = uint8_t(text[i]);
        size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        uint32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
        for (size_t k = 1; k < n && i + k < text.size(); k++) c = (c << 6) | (uint8_t(text[i + k]) & 0x3F);
        chars.push_back(c);
        i += n;
    }
    return chars;
}

static void out_write(const std::string& text) { fd_write_all(STDOUT_FD, text.data(), text.size()); }

// ---- the line editor ------------------------------------------------------------------------

std::string LineEditor::text() const {
    std::string out;
    for (uint32_t c : chars) utf8_append(&out, c);
    return out;
}

// Shows history entry index (-1: the draft) in place of the line.
static void editor_recall(LineEditor* e, int index) {
    if (index < -1 || index >= int(e->history.size()) || index == e->recall) return;
    if (e->recall == -1) e->draft = e->chars;
    e->recall = index;
    e->chars = index == -1 ? e->draft : utf8_chars(e->history[size_t(index)]);
    e->pos = e->chars.size();
}

// Keys as the terminal sends them: control bytes, CSI and SS3 sequences.
void LineEditor::key(const std::string& k) {
    if (k.empty()) return;
    uint8_t b = uint8_t(k[0]);
    if (k.size() >= 3 && b == 27 && (k[1] == '[' || k[1] == 'O')) {
        char final = k.back();
        std::string param = k.substr(2, k.size() - 3);
        if (final == 'A') editor_recall(this, recall + 1);
        else if (final == 'B') editor_recall(this, recall - 1);
        else if (final == 'C' && pos < chars.size()) pos++;
        else if (final == 'D' && pos > 0) pos--;
        else if (final == 'H' || (final == '~' && (param == "1" || param == "7"))) pos = 0;
        else if (final == 'F' || (final == '~' && (param == "4" || param == "8"))) pos = chars.size();
        else if (final == '~' && param == "3" && pos < chars.size()) chars.erase(chars.begin() + long(pos));
        return;
    }
    if (k.size() == 1 && b < 32) {
        switch (b) {
        case 13: case 10: status = Status::done; break;
        case 27: case 3: status = Status::escaped; break;
        case 4:
            if (chars.empty()) status = Status::end_of_input;
            else if (pos < chars.size()) chars.erase(chars.begin() + long(pos));
            break;
        case 8: if (pos > 0) chars.erase(chars.begin() + long(--pos)); break;
        case 1: pos = 0; break;
        case 5: pos = chars.size(); break;
        case 2: if (pos > 0) pos--; break;
        case 6: if (pos < chars.size()) pos++; break;
        case 11: chars.erase(chars.begin() + long(pos), chars.end()); break;
        case 21: chars.erase(chars.begin(), chars.begin() + long(pos)); pos = 0; break;
        case 9: chars.insert(chars.begin() + long(pos++), uint32_t(' ')); break;
        default: break;
        }
        return;
    }
    if (k.size() == 1 && b == 127) {
        if (pos > 0) chars.erase(chars.begin() + long(--pos));
        return;
    }
    if (b == 27) return;  // a sequence the editor does not know
    for (uint32_t c : utf8_chars(k)) chars.insert(chars.begin() + long(pos++), c);
}

// ---- the terminal ---------------------------------------------------------------------------

// One byte of standard input; false at its end or on a read error.
static bool stdin_byte(uint8_t* b) {
    for (;;) {
        ssize_t n = read(STDIN_FD, b, 1);
        if (n == 1) return true;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

static bool stdin_ready(int milliseconds) {
    pollfd p{STDIN_FD, POLLIN, 0};
    return poll(&p, 1, milliseconds) > 0;
}

// One key's bytes; empty at the end of input. A lone escape byte (no
// sequence following within 50 ms) is the Escape key.
static std::string terminal_key() {
    uint8_t b;
    if (!stdin_byte(&b)) return std::string();
    std::string k(1, char(b));
    if (b == 27) {
        if (!stdin_ready(50) || !stdin_byte(&b)) return k;
        k.push_back(char(b));
        if (b != '[' && b != 'O') return k;
        while (stdin_byte(&b)) {
            k.push_back(char(b));
            if (b >= 0x40 && b <= 0x7E) break;
        }
        return k;
    }
    size_t n = b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    while (k.size() < n && stdin_byte(&b)) k.push_back(char(b));
    return k;
}

// Redraws the line after the prompt: the cursor goes back to the line's
// start (where it stood at shown), the text is written and the rest erased,
// then the cursor moves to the editor's position. Moves are relative, so
// text printed before the prompt on the same line stays.
static void terminal_redraw(const LineEditor& e, size_t* shown, bool hide) {
    std::string out;
    if (*shown > 0) out += "\x1b[" + std::to_string(*shown) + "D";
    for (uint32_t c : e.chars) {
        if (hide) out.push_back('*');
        else utf8_append(&out, c);
    }
    out += "\x1b[K";
    size_t back = e.chars.size() - e.pos;
    if (back > 0) out += "\x1b[" + std::to_string(back) + "D";
    out_write(out);
    *shown = e.pos;
}

// Edits one line in raw mode; the terminal's mode is restored before return.
static LineEditor terminal_edit(std::vector<std::string> history, bool hide) {
    LineEditor e;
    e.history = std::move(history);
    termios saved;
    bool raw = tcgetattr(STDIN_FD, &saved) == 0;
    if (raw) {
        termios mode = saved;
        mode.c_iflag &= ~tcflag_t(ICRNL | IXON | INLCR);
        mode.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG | IEXTEN);
        mode.c_cc[VMIN] = 1;
        mode.c_cc[VTIME] = 0;
        raw = tcsetattr(STDIN_FD, TCSAFLUSH, &mode) == 0;
    }
    size_t shown = 0;
    while (e.status == LineEditor::Status::editing) {
        std::string k = terminal_key();
        if (k.empty()) {
            e.status = e.chars.empty() ? LineEditor::Status::end_of_input : LineEditor::Status::done;
            break;
        }
        e.key(k);
        terminal_redraw(e, &shown, hide);
    }
    e.pos = e.chars.size();
    terminal_redraw(e, &shown, hide);
    out_write("\n");
    if (raw) tcsetattr(STDIN_FD, TCSAFLUSH, &saved);
    return e;
}

// A plain line from a pipe or file: up to a line feed (a carriage return
// before it is dropped) or the end of input. The line is echoed after the
// prompt so that the transcript reads as it would on a terminal.
static bool stdin_line(std::string* line, bool hide) {
    uint8_t b;
    bool any = false;
    while (stdin_byte(&b)) {
        any = true;
        if (b == '\n') break;
        line->push_back(char(b));
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    // The end of input also ends the prompt's line.
    out_write((hide || !any ? std::string() : *line) + "\n");
    return any;
}

void routine_terminal_read_line() {
    out_write(string_utf8(data_stack.args));
    bool hide = cell_type(data_stack.args + 1) == T_LOGIC && data_stack.args[1].w2 != 0;
    if (!fd_is_terminal(STDIN_FD)) {
        std::string line;
        if (!stdin_line(&line, hide)) {
            none_make_at(stack_box_new(T_NONE));
            return;
        }
        line_box(line);
        return;
    }
    std::vector<std::string> history;
    const Cell* block = data_stack.args + 2;
    if (cell_type(block) == T_BLOCK) {
        uint32_t length = series_buffer(block->w2)->length();
        for (uint32_t i = block->w1; i < length; i++) {
            const Cell* item = block_ks_abs_at(block, i);
            if (cell_type(item) == T_STRING) history.push_back(string_utf8(item));
        }
    }
    LineEditor e = terminal_edit(std::move(history), hide);
    if (e.status == LineEditor::Status::end_of_input) {
        none_make_at(stack_box_new(T_NONE));
        return;
    }
    std::string line = e.text();
    if (e.status == LineEditor::Status::escaped) line.push_back('\x1b');
    line_box(line);
}

void routine_terminal_size() {
    winsize w{};
    int32_t x = 80, y = 24;
    if (ioctl(STDOUT_FD, TIOCGWINSZ, &w) == 0 && w.ws_col > 0 && w.ws_row > 0) {
        x = w.ws_col;
        y = w.ws_row;
    }
    stack_set_last_reset(pair_push(x, y));
}

void routine_terminal_q() {
    logic_make_at(stack_box_new(T_LOGIC), fd_is_terminal(STDIN_FD));
}

void routine_write_stderr() {
    std::string text = os_text_of(data_stack.args, -1);
    fd_write_all(STDERR_FD, text.data(), text.size());
    unset_make_at(stack_box_new(T_UNSET));
}

void routine_console_title_set() {
    if (fd_is_terminal(STDOUT_FD)) out_write("\x1b]0;" + string_utf8(data_stack.args) + "\x07");
    unset_make_at(stack_box_new(T_UNSET));
}

// Makes every missing folder of path's parent, each with mode 0700.
static bool folders_make(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

void routine_console_cfg_write() {
    const Cell* path = data_stack.args;
    std::string local;
    if (!file_to_local(path, &local) || !folders_make(local)) error_raise(ERR_CANNOT_OPEN, path);
    std::string text = string_utf8(data_stack.args + 1);
    std::string temporary = local + ".tmp" + std::to_string(getpid());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && fd_write_all(fd, text.data(), text.size());
    if (fd >= 0) ok = (fsync(fd) == 0) && ok, ok = (close(fd) == 0) && ok;
    if (!ok || rename(temporary.c_str(), local.c_str()) != 0) {
        if (fd >= 0) unlink(temporary.c_str());
        error_raise(ERR_CANNOT_OPEN, path);
    }
    unset_make_at(stack_box_new(T_UNSET));
}

} // namespace kel
