// The terminal console's front end. Nothing is read from standard input past
// the line that ask returns, so a child process or a later ask sees the rest:
// a terminal is read a byte at a time, a pipe or file is looked into ahead
// and exactly the line taken. On a terminal the line is
// edited in raw mode, which is left again before the line is returned, so
// output while a command runs looks as it does without the console. The line
// is drawn by display columns (wide and combining characters) on one screen
// row, scrolled sideways when it is longer than the row.
#include "console/terminal.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/error_catalog.hpp"
#include "core/exits.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/logic.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "core/unicode_width.hpp"
#include "datatypes/file.hpp"
#include "datatypes/pair.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform/platform.hpp"
#include "runtime/platform/private_files.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace kel {

constexpr int STDIN_FD = 0;

// ---- text between cells and UTF-8 -----------------------------------------------------------

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

// Only printable characters enter the line: the controls would move the
// terminal's cursor behind the editor's back, and what is no character
// (a surrogate, a value past the last code point) cannot be written.
static bool char_printable(uint32_t c) {
    return c >= 32 && !(c >= 127 && c < 160) && !(c >= 0xD800 && c < 0xE000) && c <= CODEPOINT_MAX;
}

// The index after the shown character at i: the code point and the
// combining marks after it.
static size_t cluster_next(const std::vector<uint32_t>& chars, size_t i) {
    if (i < chars.size()) i++;
    while (i < chars.size() && unicode_char_width(chars[i]) == 0) i++;
    return i;
}

// The index of the shown character before i.
static size_t cluster_prev(const std::vector<uint32_t>& chars, size_t i) {
    if (i > 0) i--;
    while (i > 0 && unicode_char_width(chars[i]) == 0) i--;
    return i;
}

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

static void editor_erase(LineEditor* e, size_t from, size_t to) {
    e->chars.erase(e->chars.begin() + long(from), e->chars.begin() + long(to));
    e->pos = from;
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
        else if (final == 'C') pos = cluster_next(chars, pos);
        else if (final == 'D') pos = cluster_prev(chars, pos);
        else if (final == 'H' || (final == '~' && (param == "1" || param == "7"))) pos = 0;
        else if (final == 'F' || (final == '~' && (param == "4" || param == "8"))) pos = chars.size();
        else if (final == '~' && param == "3") editor_erase(this, pos, cluster_next(chars, pos));
        return;
    }
    if (k.size() == 1 && (b < 32 || b == 127)) {
        switch (b) {
        case 13: case 10: status = Status::done; break;
        case 27: status = Status::escaped; break;
        case 3: status = Status::interrupted; break;
        case 4:
            if (chars.empty()) status = Status::end_of_input;
            else editor_erase(this, pos, cluster_next(chars, pos));
            break;
        case 8: case 127: editor_erase(this, cluster_prev(chars, pos), pos); break;
        case 1: pos = 0; break;
        case 5: pos = chars.size(); break;
        case 2: pos = cluster_prev(chars, pos); break;
        case 6: pos = cluster_next(chars, pos); break;
        case 11: editor_erase(this, pos, chars.size()); break;
        case 21: editor_erase(this, 0, pos); break;
        case 9: if (!chars.empty() && complete) complete(this); break;
        case 12: clear_screen = true; break;
        default: break;
        }
        return;
    }
    if (b == 27) return;  // a sequence the editor does not know
    for (uint32_t c : utf8_chars(k))
        if (char_printable(c)) chars.insert(chars.begin() + long(pos++), c);
}

// ---- showing the line -----------------------------------------------------------------------

static int shown_width(uint32_t c, bool hide) { return hide ? 1 : unicode_char_width(c); }

static size_t shown_span(const std::vector<uint32_t>& chars, size_t from, size_t to, bool hide) {
    size_t w = 0;
    for (size_t i = from; i < to; i++) w += size_t(shown_width(chars[i], hide));
    return w;
}

static void shown_append(std::string* out, uint32_t c, bool hide) {
    if (hide) out->push_back('*');
    else utf8_append(out, c);
}

static std::string cursor_back(size_t columns) {
    return columns > 0 ? "\x1b[" + std::to_string(columns) + "D" : std::string();
}

// The window is the columns from origin to the one before the last, so that
// nothing is written to the last column and the terminal never wraps the row.
std::string LineView::redraw(const LineEditor& e, size_t columns) {
    const std::vector<uint32_t>& c = e.chars;
    size_t n = c.size(), room = columns > origin + 1 ? columns - origin - 1 : 1;
    if (scroll > n) scroll = n;
    // Show as much as fits of the line's end, then bring the cursor into view.
    size_t tail = shown_span(c, scroll, n, hide);
    while (scroll > 0) {
        size_t prev = cluster_prev(c, scroll), w = shown_span(c, prev, scroll, hide);
        if (tail + w > room) break;
        tail += w;
        scroll = prev;
    }
    if (e.pos < scroll) scroll = e.pos;
    size_t span = shown_span(c, scroll, e.pos, hide);
    while (span > room) {
        size_t next = cluster_next(c, scroll);
        span -= shown_span(c, scroll, next, hide);
        scroll = next;
    }
    std::string out = cursor_back(shown);
    size_t drawn = 0;
    for (size_t i = scroll; i < n; i++) {
        size_t w = size_t(shown_width(c[i], hide));
        if (drawn + w > room) break;
        shown_append(&out, c[i], hide);
        drawn += w;
    }
    out += "\x1b[K" + cursor_back(drawn - span);
    shown = span;
    return out;
}

// A terminal that narrows either wraps the row again at the new width,
// taking the cursor down with its text, or cuts the row; one that widens
// joins rows it wrapped. Where the cursor is tells which happened.
std::string LineView::rewidth(size_t columns, CursorPlace cursor, const std::string& prompt) {
    size_t at = origin + shown;  // the cursor's column before the change
    std::string out = "\r";
    if (cursor.column >= 0 && at >= columns && size_t(cursor.column) == at % columns) {
        // Wrapped again: the window starts origin / columns rows below the
        // row's first, and the cursor is at / columns rows below it.
        size_t up = at / columns - origin / columns;
        if (up <= size_t(cursor.row)) {
            if (up > 0) out += "\x1b[" + std::to_string(up) + "A";
            origin %= columns;
        } else {
            // The window's start went above the screen's top with the rows
            // the terminal scrolled away: the prompt's last line is written
            // again on the top row, and the window follows it.
            size_t start = prompt.rfind('\n');
            std::string last = start == std::string::npos ? prompt : prompt.substr(start + 1);
            std::vector<uint32_t> chars = utf8_chars(last);
            out += (cursor.row > 0 ? "\x1b[" + std::to_string(cursor.row) + "A" : std::string()) + "\x1b[J" + last;
            origin = shown_span(chars, 0, chars.size(), false) % columns;
            shown = 0;
            return out;
        }
    } else if (cursor.column >= 0 && at < columns && size_t(cursor.column) >= shown) {
        // The cursor's row holds the window, wherever the row starts now.
        origin = size_t(cursor.column) - shown;
    } else if (origin >= columns) {
        // Cut before the window: the window goes to a row of its own.
        out += "\n";
        origin = 0;
    }
    if (origin > 0) out += "\x1b[" + std::to_string(origin) + "C";
    shown = 0;
    return out + "\x1b[J";
}

// ---- the terminal ---------------------------------------------------------------------------

// Bytes read while waiting for the terminal's answer to a query, kept for the
// editor in the order they came.
static std::string typeahead;

static bool stdin_ready(int milliseconds) {
    pollfd p{STDIN_FD, POLLIN, 0};
    return poll(&p, 1, milliseconds) > 0;
}

// One byte of standard input; false at its end or on a read error.
static bool stdin_byte(uint8_t* b) {
    if (!typeahead.empty()) {
        *b = uint8_t(typeahead[0]);
        typeahead.erase(0, 1);
        return true;
    }
    for (;;) {
        ssize_t n = read(STDIN_FD, b, 1);
        if (n == 1) return true;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

// One key's bytes; empty at the end of input. A lone escape byte (no
// sequence following within 50 ms) is the Escape key.
static std::string terminal_key() {
    uint8_t b;
    if (!stdin_byte(&b)) return std::string();
    std::string k(1, char(b));
    if (b == 27) {
        if ((typeahead.empty() && !stdin_ready(50)) || !stdin_byte(&b)) return k;
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

static size_t terminal_columns() {
    winsize w{};
    return ioctl(STDOUT_FD, TIOCGWINSZ, &w) == 0 && w.ws_col > 0 ? w.ws_col : 80;
}

// The cursor's place (row and column, from 0) as the terminal reports it;
// -1 for both when it does not answer within 200 ms or output goes
// elsewhere. A terminal that did not answer once is not asked again. What
// was typed before the answer stays for the editor.
static CursorPlace terminal_cursor() {
    static bool answers = true;
    if (!answers || !fd_is_terminal(STDOUT_FD)) return CursorPlace{};
    out_write("\x1b[6n");
    std::string got;
    uint8_t b;
    while (stdin_ready(200) && read(STDIN_FD, &b, 1) == 1) {
        got.push_back(char(b));
        if (b != 'R') continue;
        // The answer is ESC [ row ; column R.
        size_t esc = got.rfind('\x1b'), semicolon = got.rfind(';');
        if (esc == std::string::npos || semicolon == std::string::npos || semicolon < esc) continue;
        if (esc + 1 >= got.size() || got[esc + 1] != '[') continue;
        long row = std::strtol(got.c_str() + esc + 2, nullptr, 10);
        long column = std::strtol(got.c_str() + semicolon + 1, nullptr, 10);
        typeahead += got.substr(0, esc);
        return CursorPlace{row > 0 ? row - 1 : 0, column > 0 ? column - 1 : 0};
    }
    typeahead += got;
    answers = false;
    return CursorPlace{};
}

// The columns the text's last line takes, on a terminal of columns columns.
static size_t text_last_line_width(const std::string& text, size_t columns) {
    size_t start = text.rfind('\n');
    std::vector<uint32_t> chars = utf8_chars(start == std::string::npos ? text : text.substr(start + 1));
    return shown_span(chars, 0, chars.size(), false) % columns;
}

// A change of the terminal's size (SIGWINCH) while a line is edited: the
// signal is let through only while the editor waits for a key, whose wait it
// ends at once, and the line is drawn again for the new width.
static volatile sig_atomic_t width_changed = 0;
static void width_change_note(int) { width_changed = 1; }

struct WidthWatch {
    struct sigaction saved{};
    sigset_t saved_mask{}, waiting{};
    bool on = false;
    WidthWatch() {
        sigset_t winch;
        sigemptyset(&winch);
        sigaddset(&winch, SIGWINCH);
        if (pthread_sigmask(SIG_BLOCK, &winch, &saved_mask) != 0) return;
        struct sigaction sa{};
        sa.sa_handler = width_change_note;
        sigemptyset(&sa.sa_mask);
        if (sigaction(SIGWINCH, &sa, &saved) != 0) {
            pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
            return;
        }
        waiting = saved_mask;
        sigdelset(&waiting, SIGWINCH);
        width_changed = 0;
        on = true;
    }
    ~WidthWatch() {
        if (!on) return;
        sigaction(SIGWINCH, &saved, nullptr);
        pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
    }
    WidthWatch(const WidthWatch&) = delete;
    WidthWatch& operator=(const WidthWatch&) = delete;

    // Waits until a key can be read (true) or the size changed (false). The
    // signal stays blocked but inside ppoll, so none is lost between the
    // test of the note and the wait.
    bool key_ready() {
        if (!typeahead.empty()) return true;
        pollfd p{STDIN_FD, POLLIN, 0};
        for (;;) {
            if (width_changed) {
                width_changed = 0;
                return false;
            }
            int r = on ? ppoll(&p, 1, nullptr, &waiting) : poll(&p, 1, -1);
            // A failed wait is left to the read, which reports the end.
            if (r > 0 || (r < 0 && errno != EINTR)) return true;
        }
    }
};

// Raw mode for the time of one line, left again however the editing ends.
struct RawMode {
    termios saved{};
    bool on = false;
    RawMode() {
        if (tcgetattr(STDIN_FD, &saved) != 0) return;
        termios mode = saved;
        mode.c_iflag &= ~tcflag_t(ICRNL | IXON | INLCR);
        mode.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG | IEXTEN);
        mode.c_cc[VMIN] = 1;
        mode.c_cc[VTIME] = 0;
        // TCSADRAIN, not TCSAFLUSH: lines typed or pasted ahead are kept.
        on = tcsetattr(STDIN_FD, TCSADRAIN, &mode) == 0;
    }
    ~RawMode() {
        if (on) tcsetattr(STDIN_FD, TCSADRAIN, &saved);
    }
};

// Asks the console's completion function about the line at the caret. Its
// answer is a block: empty when nothing completes, else the new line (a
// string positioned at the new caret) followed by the candidates when there
// are several.
static void editor_complete(LineEditor* e, const Cell* complete) {
    CellRoot line;
    std::string text = e->text();
    string_make_at(&line.cell, uint32_t(text.size()) + 1);
    string_append_utf8(&line.cell, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    series_index_set(&line.cell, int32_t(e->pos));
    CellRoot answer;
    function_apply(complete, &line.cell, 1, &answer.cell);
    if (cell_type(&answer.cell) != T_BLOCK) return;
    uint32_t length = series_buffer_of(&answer.cell)->length();
    for (uint32_t i = uint32_t(series_index(&answer.cell)); i < length; i++) {
        Cell item = *block_ks_abs_at(&answer.cell, i);
        if (cell_type(&item) != T_STRING) continue;
        if (i > uint32_t(series_index(&answer.cell))) {
            e->listed.push_back(string_utf8(&item));
            continue;
        }
        uint32_t caret = uint32_t(series_index(&item));
        series_index_set(&item, 0);
        e->chars = utf8_chars(string_utf8(&item));
        e->pos = caret < e->chars.size() ? caret : e->chars.size();
    }
}

// Edits one line in raw mode after the prompt, which is already written.
static LineEditor terminal_edit(const std::string& prompt, std::vector<std::string> history, bool hide,
                                const Cell* complete) {
    LineEditor e;
    e.history = std::move(history);
    if (complete) e.complete = [complete](LineEditor* ed) { editor_complete(ed, complete); };
    LineView view;
    view.hide = hide;
    RawMode raw;
    long column = terminal_cursor().column;
    view.origin = column >= 0 ? size_t(column) : text_last_line_width(prompt, terminal_columns());
    WidthWatch watch;
    while (e.status == LineEditor::Status::editing) {
        if (!watch.key_ready()) {
            size_t columns = terminal_columns();
            std::string out = view.rewidth(columns, terminal_cursor(), prompt);
            out_write(out + view.redraw(e, columns));
            continue;
        }
        std::string k = terminal_key();
        if (k.empty()) {
            e.status = e.chars.empty() ? LineEditor::Status::end_of_input : LineEditor::Status::done;
            break;
        }
        e.key(k);
        if (!e.listed.empty()) {
            // Several candidates: they take the place of the input after the
            // prompt, and a new prompt below holds the completed line.
            std::string out = cursor_back(view.shown) + "\x1b[K";
            for (size_t i = 0; i < e.listed.size(); i++) out += (i ? " " : "") + e.listed[i];
            out_write(out + "\r\n" + prompt);
            e.listed.clear();
            view = LineView{};
            view.hide = hide;
            view.origin = text_last_line_width(prompt, terminal_columns());
        }
        if (e.clear_screen) {
            // The screen is emptied and the prompt's last line starts its top
            // row, the line being edited after it.
            e.clear_screen = false;
            size_t start = prompt.rfind('\n');
            std::string last = start == std::string::npos ? prompt : prompt.substr(start + 1);
            out_write("\x1b[H\x1b[2J" + last);
            view.shown = 0;
            view.origin = text_last_line_width(last, terminal_columns());
        }
        if (e.status == LineEditor::Status::editing) out_write(view.redraw(e, terminal_columns()));
    }
    // The whole line stays in the transcript, wrapped by the terminal as output.
    std::string out = cursor_back(view.shown);
    for (uint32_t c : e.chars) shown_append(&out, c, hide);
    out += "\x1b[K";
    if (e.status == LineEditor::Status::interrupted) out += "^C";
    out_write(out + "\r\n");
    return e;
}

// ---- lines from a pipe or a file ---------------------------------------------------------------

// A line from standard input that is not a terminal is found by looking at
// the bytes ahead without taking them, then taking exactly the line: what
// follows it stays in standard input for a child process or a later read.
// A pipe is looked into with tee(2) through a private pipe; a file is read
// ahead and the offset set back after the line. The look goes as far as the
// previous line's length (at least LOOK_MIN bytes), twice as far each time
// no line feed is found, so a line costs time in proportion to its length.
// Other inputs (sockets, devices) are read a byte at a time.

constexpr size_t LOOK_MIN = 256;
constexpr size_t LOOK_MAX = 65536;  // a pipe's capacity: tee never blocks on the private pipe

enum class StdinKind : uint8_t { unknown, pipe, file, other };

// What standard input is, found once; the private pipe a look into a pipe goes through.
struct StdinLook {
    StdinKind kind = StdinKind::unknown;
    int peek[2] = {-1, -1};
    size_t reach = LOOK_MIN;  // how far the next look goes
    std::vector<uint8_t> ahead;
};
static StdinLook stdin_look;

static StdinKind stdin_kind() {
    if (stdin_look.kind != StdinKind::unknown) return stdin_look.kind;
    struct stat st {};
    StdinKind kind = StdinKind::other;
    if (fstat(STDIN_FD, &st) == 0) {
        if (S_ISREG(st.st_mode) && lseek(STDIN_FD, 0, SEEK_CUR) >= 0) kind = StdinKind::file;
        else if (S_ISFIFO(st.st_mode) && pipe2(stdin_look.peek, O_CLOEXEC) == 0) kind = StdinKind::pipe;
    }
    stdin_look.kind = kind;
    return kind;
}

// Whether standard input is a terminal; once it is known to be a pipe or a
// file the answer needs no system call.
static bool stdin_terminal() {
    StdinKind kind = stdin_look.kind;
    return kind != StdinKind::pipe && kind != StdinKind::file && fd_is_terminal(STDIN_FD);
}

// Reads exactly count bytes (fewer only at the end of input or on an error).
static size_t stdin_read_exact(uint8_t* into, size_t count) {
    size_t got = 0;
    while (got < count) {
        ssize_t n = read(STDIN_FD, into + got, count - got);
        if (n > 0) got += size_t(n);
        else if (n < 0 && errno == EINTR) continue;
        else break;
    }
    return got;
}

// Up to reach bytes ahead in standard input into stdin_look.ahead, not taken
// from it; false at the end of input or on an error.
static bool stdin_peek(size_t reach) {
    std::vector<uint8_t>& ahead = stdin_look.ahead;
    ahead.resize(reach);
    ssize_t n;
    if (stdin_look.kind == StdinKind::pipe) {
        do n = tee(STDIN_FD, stdin_look.peek[1], reach, 0);
        while (n < 0 && errno == EINTR);
        if (n < 0 && errno == EINVAL) {
            // A pipe tee cannot look into: read it a byte at a time.
            stdin_look.kind = StdinKind::other;
            return false;
        }
        if (n <= 0) return false;
        // The private pipe was empty and holds at most LOOK_MAX bytes: the copy is all there.
        size_t got = 0;
        while (got < size_t(n)) {
            ssize_t r = read(stdin_look.peek[0], ahead.data() + got, size_t(n) - got);
            if (r > 0) got += size_t(r);
            else if (!(r < 0 && errno == EINTR)) return false;
        }
    } else {
        do n = read(STDIN_FD, ahead.data(), reach);
        while (n < 0 && errno == EINTR);
        if (n <= 0) return false;
    }
    ahead.resize(size_t(n));
    return true;
}

// Takes count of the bytes last looked at from standard input.
static void stdin_take(size_t count) {
    size_t looked = stdin_look.ahead.size();
    if (stdin_look.kind == StdinKind::file) {
        if (count < looked) lseek(STDIN_FD, -off_t(looked - count), SEEK_CUR);
        return;
    }
    std::vector<uint8_t> sink(count);
    stdin_read_exact(sink.data(), count);
}

// A plain line from a pipe or file: up to a line feed (a carriage return
// before it is dropped) or the end of input; false when nothing was left.
static bool stdin_line(std::string* line) {
    bool any = false, ended = false;
    if (stdin_kind() != StdinKind::other) {
        size_t reach = stdin_look.reach;
        while (stdin_peek(reach)) {
            any = true;
            const std::vector<uint8_t>& ahead = stdin_look.ahead;
            const void* lf = std::memchr(ahead.data(), '\n', ahead.size());
            size_t count = lf ? size_t(static_cast<const uint8_t*>(lf) - ahead.data()) + 1 : ahead.size();
            line->append(reinterpret_cast<const char*>(ahead.data()), lf ? count - 1 : count);
            stdin_take(count);
            ended = lf != nullptr;
            if (ended) break;
            reach = std::min(reach * 2, LOOK_MAX);
        }
        stdin_look.reach = std::clamp(line->size() + 1, LOOK_MIN, LOOK_MAX);
    }
    if (!ended && stdin_look.kind == StdinKind::other) {
        uint8_t b;
        while (stdin_byte(&b)) {
            any = true;
            if (b == '\n') break;
            line->push_back(char(b));
        }
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return any;
}

void routine_terminal_read_line() {
    std::string prompt = os_text_of(data_stack.args, -1);
    out_write(prompt);
    bool hide = logic_get(data_stack.args + 1);
    if (!stdin_terminal()) {
        std::string line;
        bool any = stdin_line(&line);
        // Nothing read is echoed; a prompt's line is ended, so that what
        // follows starts a line of its own.
        if (!prompt.empty() && prompt.back() != '\n') out_write("\n");
        if (any) line_box(line);
        else none_make_at(stack_box_new(T_NONE));
        return;
    }
    std::vector<std::string> history;
    const Cell* block = data_stack.args + 2;
    if (cell_type(block) == T_BLOCK) {
        uint32_t length = series_buffer_of(block)->length();
        for (uint32_t i = uint32_t(series_index(block)); i < length; i++) {
            const Cell* item = block_ks_abs_at(block, i);
            if (cell_type(item) == T_STRING) history.push_back(string_utf8(item));
        }
    }
    const Cell* complete = callable_type_q(cell_type(data_stack.args + 3)) ? data_stack.args + 3 : nullptr;
    LineEditor e = terminal_edit(prompt, std::move(history), hide, complete);
    if (e.status == LineEditor::Status::end_of_input) {
        none_make_at(stack_box_new(T_NONE));
        return;
    }
    std::string line = e.text();
    if (e.status == LineEditor::Status::interrupted) {
        // A script without the console ends as Ctrl+C ends it; a command of
        // the console halts at its next expression.
        if (!interrupt_caught()) interrupt_default_raise();
        if (halt_catcher_q()) {
            interrupt_requested = 1;
            none_make_at(stack_box_new(T_NONE));
            return;
        }
        line.push_back('\x03');
    }
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
    logic_make_at(stack_box_new(T_LOGIC), stdin_terminal());
}

void routine_terminal_interrupt_catch() {
    interrupt_catch_install();
    unset_make_at(stack_box_new(T_UNSET));
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

void routine_console_cfg_write() {
    const Cell* path = data_stack.args;
    std::string local;
    if (!file_to_local(path, &local)) error_raise(ERR_CANNOT_OPEN, path);
    std::string text = string_utf8(data_stack.args + 1);
    if (!file_write_private(local.c_str(), text.data(), text.size())) error_raise(ERR_CANNOT_OPEN, path);
    unset_make_at(stack_box_new(T_UNSET));
}

} // namespace kel
