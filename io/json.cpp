// The JSON decoder and the in-place unescaper.
//
// The decoder is a recursive descent over the input string, read in place at
// its own character width. It gives exactly what the library's grammar in
// Kel gives, error reports included: the line, the mark (the position after
// the last value, name or line feed) and the last line feed move at the same
// points, and every way the grammar can fail is a failure of the whole text,
// so the first mismatch here is where the grammar's report stands.
//
// Values are built on the data stack: each open container has a slot there
// (its spill block, none at first) followed by its finished values, so every
// value is rooted while later ones are made. Closing a container makes a
// block of exactly its values (a map for an object) in its slot. When the
// data stack runs low, the values of every open container move into their
// spill blocks, so arrays longer than the data stack decode too.
//
// No buffer address is kept across an allocation: the input's characters are
// re-read through its cell after each one.
#include "io/json.hpp"
#include "io/codec_text.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/error_value.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/word.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/map.hpp"
#include "core/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

namespace {

constexpr uint32_t HIGH_SURROGATE_FIRST = 0xD800;
constexpr uint32_t HIGH_SURROGATE_LAST = 0xDBFF;
constexpr uint32_t LOW_SURROGATE_FIRST = 0xDC00;
constexpr uint32_t LOW_SURROGATE_LAST = 0xDFFF;

// Nesting deeper than this many containers is invalid text.
constexpr uint32_t DEPTH_MAX = 512;
// Characters of the input an error report shows from its mark.
constexpr uint32_t NEAR_CHARS = 40;
// Free data-stack cells below which the values of the open containers move
// into their spill blocks.
constexpr uint32_t SPILL_RESERVE = 2048;
// Number texts this long or longer are left to the lexer, which refuses them.
constexpr uint32_t NUMBER_TEXT_MAX = 312;

int hex_digit_value(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

// Reads four hexadecimal digits at index (most significant first); false when
// the text ends within them or one is not a hexadecimal digit.
bool read_hex4(const Cell* str, uint32_t index, uint32_t end, uint32_t* code) {
    if (end - index < 4) return false;
    uint32_t value = 0;
    for (uint32_t i = 0; i < 4; i++) {
        int digit = hex_digit_value(string_ks_char_at(str, index + i));
        if (digit < 0) return false;
        value = value * 16 + uint32_t(digit);
    }
    *code = value;
    return true;
}

// The character a one-letter escape stands for; false for a letter that has
// no escape meaning.
bool short_escape(uint32_t c, uint32_t* out) {
    switch (c) {
    case 'b': *out = 8; return true;
    case 'f': *out = 12; return true;
    case 'n': *out = 10; return true;
    case 'r': *out = 13; return true;
    case 't': *out = 9; return true;
    case '"': case '\\': case '/': *out = c; return true;
    default: return false;
    }
}

bool high_surrogate_q(uint32_t c) { return c >= HIGH_SURROGATE_FIRST && c <= HIGH_SURROGATE_LAST; }
bool low_surrogate_q(uint32_t c) { return c >= LOW_SURROGATE_FIRST && c <= LOW_SURROGATE_LAST; }
uint32_t surrogate_pair(uint32_t high, uint32_t low) {
    return 0x10000 + ((high - HIGH_SURROGATE_FIRST) << 10) + (low - LOW_SURROGATE_FIRST);
}

// Characters that never belong to a word: a key holding one stays a string.
bool not_word_char_q(uint32_t c) {
    if (c < 0x20) return true;
    switch (c) {
    case '/': case '\\': case '^': case ',': case '[': case ']': case '(': case ')': case '{':
    case '}': case '"': case '#': case '%': case '$': case '@': case ':': case ';': case 0xA0:
    case ' ': case '<': case '>':
        return true;
    default:
        return false;
    }
}

// Whether a key is spelled as a word: its first character may begin a word
// and none is a character no word holds. Whether it then reads as exactly
// that word is the lexer's to say.
bool word_spelling_q(std::u32string_view key) {
    if (key.empty()) return false;
    uint32_t first = key[0];
    if (not_word_char_q(first) || (first >= '0' && first <= '9') || first == '\'') return false;
    for (size_t i = 1; i < key.size(); i++)
        if (not_word_char_q(key[i])) return false;
    return true;
}

// Raises the error of a check the library's Kel code makes in a function of
// its own, from a frame of that name, so that the error's where names it.
// The frame's word is bound to no context, so no global word is made for it.
struct NamedFrame {
    explicit NamedFrame(const char* name) {
        Cell word;
        word_make_at(&word, T_WORD, symbol_make(name));
        stack_mark_native(&word);
    }
};

// ---- object keys ----------------------------------------------------------------------

// What a key spelled as a word reads as: the word's symbol and global slot,
// or symbol 0 when the key stays a string.
struct KeyWord {
    uint32_t symbol;
    uint32_t index;
};

// What keys spelled as words read as, by the text of the key as it stands
// in the input (escapes unresolved): an open-addressing table that empties
// itself when full, so a text with countless distinct keys stays within a
// bounded cache.
class KeyCache {
public:
    // The entry of the text, or null.
    template <class T> const KeyWord* find(const T* text, uint32_t length, uint32_t hash) const {
        if (slots_.empty()) return nullptr;
        for (uint32_t i = hash & MASK;; i = (i + 1) & MASK) {
            const Slot& slot = slots_[i];
            if (slot.length == EMPTY) return nullptr;
            if (slot.hash == hash && slot.length == length &&
                std::equal(text, text + length, texts_.begin() + slot.offset))
                return &slot.word;
        }
    }

    template <class T> void add(const T* text, uint32_t length, uint32_t hash, KeyWord word) {
        if (slots_.empty() || used_ == SIZE / 2) {
            slots_.assign(SIZE, Slot{0, 0, EMPTY, {0, 0}});
            texts_.clear();
            used_ = 0;
        }
        uint32_t i = hash & MASK;
        while (slots_[i].length != EMPTY) i = (i + 1) & MASK;
        slots_[i] = Slot{hash, uint32_t(texts_.size()), length, word};
        texts_.insert(texts_.end(), text, text + length);
        used_++;
    }

    template <class T> static uint32_t hash_of(const T* text, uint32_t length) {
        uint32_t hash = 2166136261u;
        for (uint32_t i = 0; i < length; i++) hash = (hash ^ uint32_t(text[i])) * 16777619u;
        return hash;
    }

private:
    static constexpr uint32_t SIZE = 4096;  // slots, a power of two
    static constexpr uint32_t MASK = SIZE - 1;
    static constexpr uint32_t EMPTY = 0xFFFFFFFF;
    struct Slot {
        uint32_t hash;
        uint32_t offset;  // of the text in texts_
        uint32_t length;  // EMPTY: a free slot
        KeyWord word;
    };
    std::vector<Slot> slots_;
    std::vector<uint32_t> texts_;
    uint32_t used_ = 0;
};

// The key is a word when to word! reads it and the word forms as the key
// exactly (as the library's key-of decides); to word! binds it globally.
KeyWord key_word_read(std::u32string_view key) {
    Cell* text = string_push_chars(key);
    Cell* word = stack_push_new(T_NONE);
    StackState saved = stack_save();
    bool read = true;
    try {
        word_make(word, text, T_WORD);
    } catch (const LanguageError&) {
        stack_restore(saved);
        read = false;
    }
    KeyWord result{0, 0};
    if (read) {
        Cell* formed = stack_push_new(T_NONE);
        dispatch_form(word, formed, -1);
        if (string_compare_values(text, formed, CMP_STRICT_EQUAL, false) == 0)
            result = {word_symbol(word), word_index(word)};
    }
    data_stack.top = text;
    return result;
}

// ---- the decoder ------------------------------------------------------------------------

// Thrown when the text is not JSON; the decoder's entry turns it into the
// error value.
struct NotJson {};

// A string body's extent and what it holds, from one scan.
struct StringScan {
    uint32_t from;       // index after the opening quote
    uint32_t close;      // index of the closing quote
    uint32_t count;      // characters once unescaped
    uint32_t widest;     // the largest code point once unescaped
    bool escapes;        // a backslash occurs
    bool bad_pair;       // a high surrogate escape without its low half
};

template <class T> class Decoder {
public:
    Decoder(const Cell* input) : input_(input) {
        start_ = series_index_clamped(input);
        end_ = series_buffer_of(input)->length();
        pos_ = mark_ = last_lf_ = start_;
    }

    // The decoded value, pushed; NotJson when the text is not JSON.
    void run() {
        value();
        if (pos_ != end_) throw NotJson{};
    }

    // The error value of a failed run, pushed.
    void report() {
        CellRoot text;
        string_make_at(&text.cell, 80);
        std::string head = "Invalid JSON string. Line: " + std::to_string(line_) +
                           " Index: " + std::to_string(mark_ - start_ + 1) +
                           " Column: " + std::to_string(mark_ - last_lf_) + " Near: ";
        string_concatenate_bytes(&text.cell, head.data(), uint32_t(head.size()));
        if (mark_ >= end_) {
            string_concatenate_text(&text.cell, "<end of input>");
        } else {
            uint32_t n = std::min(NEAR_CHARS, end_ - mark_);
            std::u32string near(n, 0);
            for (uint32_t i = 0; i < n; i++) near[i] = char32_t(chars()[mark_ + i]);
            Cell* part = string_push_chars(near);
            Cell* molded = stack_push_new(T_NONE);
            dispatch_mold(part, molded, false, false, false, -1);
            string_concatenate(&text.cell, molded, -1, 0, false, CONCAT_APPEND);
            stack_pop(2);
        }
        error_make(ErrorCategory::user, ERR_MESSAGE, &text.cell, nullptr, nullptr);
    }

private:
    const T* chars() const {
        return reinterpret_cast<const T*>(series_buffer_of(input_)->head_ptr());
    }
    bool at_q(uint32_t c) const { return pos_ < end_ && chars()[pos_] == c; }

    void white_space() {
        const T* s = chars();
        while (pos_ < end_) {
            uint32_t c = s[pos_];
            if (c == ' ' || c == '\t' || c == '\r') {
                pos_++;
            } else if (c == '\n') {
                pos_++;
                line_++;
                mark_ = last_lf_ = pos_;
            } else {
                break;
            }
        }
    }

    // White space, one value (pushed), white space.
    void value() {
        white_space();
        if (pos_ >= end_) throw NotJson{};
        switch (chars()[pos_]) {
        case '{': object(); break;
        case '[': array(); break;
        case '"': string_value(); break;
        case 't': literal("true", T_LOGIC, true); break;
        case 'f': literal("false", T_LOGIC, false); break;
        case 'n': literal("null", T_NONE, false); break;
        default: number(); break;
        }
        mark_ = pos_;
        white_space();
    }

    // Room on the data stack for the next value and a few temporaries.
    void room() {
        if (uint32_t(data_stack.end - data_stack.top) < SPILL_RESERVE && !open_.empty()) spill();
    }
    // A slot for the next value of the innermost container, pushed.
    Cell* value_slot() {
        room();
        return stack_push_new(T_NONE);
    }

    void literal(const char* word, uint8_t type, bool truth) {
        size_t n = std::strlen(word);
        const T* s = chars();
        if (end_ - pos_ < n) throw NotJson{};
        for (size_t i = 0; i < n; i++)
            if (s[pos_ + i] != T(word[i])) throw NotJson{};
        pos_ += uint32_t(n);
        Cell* slot = value_slot();
        if (type == T_LOGIC) logic_make_at(slot, truth);
    }

    static bool digit_q(uint32_t c) { return c >= '0' && c <= '9'; }

    // Optional minus, a digit or a non-zero digit and more, an optional
    // fraction, an optional exponent; a fraction or exponent without digits
    // is not part of the number.
    void number() {
        const T* s = chars();
        uint32_t from = pos_, i = pos_;
        if (i < end_ && s[i] == '-') i++;
        if (i < end_ && s[i] >= '1' && s[i] <= '9') {
            for (i++; i < end_ && digit_q(s[i]); i++) {}
        } else if (i < end_ && s[i] == '0') {
            i++;
        } else {
            throw NotJson{};
        }
        bool whole = true;
        if (i + 1 < end_ && s[i] == '.' && digit_q(s[i + 1])) {
            whole = false;
            for (i += 2; i < end_ && digit_q(s[i]); i++) {}
        }
        if (i < end_ && (s[i] == 'e' || s[i] == 'E')) {
            uint32_t j = i + 1;
            if (j < end_ && (s[j] == '+' || s[j] == '-')) j++;
            if (j < end_ && digit_q(s[j])) {
                whole = false;
                for (j++; j < end_ && digit_q(s[j]); j++) {}
                i = j;
            }
        }
        pos_ = i;
        uint32_t n = i - from;
        char text[NUMBER_TEXT_MAX + 1];
        if (n > NUMBER_TEXT_MAX) {
            std::string long_text(n, 0);
            for (uint32_t k = 0; k < n; k++) long_text[k] = char(s[from + k]);
            number_by_lexer(long_text.data(), n);
            return;
        }
        for (uint32_t k = 0; k < n; k++) text[k] = char(s[from + k]);
        Cell* slot = value_slot();
        if (whole && n <= 11) {
            // As the lexer reads an integer: within 32 bits, else a float.
            bool negative = text[0] == '-';
            int64_t v = 0;
            for (uint32_t k = negative ? 1 : 0; k < n; k++) v = v * 10 + (text[k] - '0');
            if (negative) v = -v;
            if (v >= INT32_MIN && v <= INT32_MAX) {
                cell_init(slot, T_INTEGER);
                integer_make_at(slot, int32_t(v));
                return;
            }
        }
        double d;
        if (!exact_double(text, n, &d)) {
            int32_t error;
            d = scan_float(reinterpret_cast<const uint8_t*>(text), n, 1, &error);
        }
        float_make_at(slot, d);
    }

    // The double of a JSON number text when its digits make an integer
    // below 2^53 and its decimal exponent lies within 22 either way: one
    // multiplication or division of two exact doubles, so correctly
    // rounded, as the general reading is. False for any other text.
    static bool exact_double(const char* text, uint32_t n, double* out) {
        static const double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        uint32_t k = 0;
        bool negative = text[0] == '-';
        if (negative) k++;
        uint64_t mantissa = 0;
        int32_t exponent = 0, digits = 0;
        bool fraction = false;
        for (; k < n; k++) {
            char c = text[k];
            if (c == '.') {
                fraction = true;
                continue;
            }
            if (c == 'e' || c == 'E') break;
            if (mantissa != 0 || c != '0') digits++;
            if (digits > 15) return false;
            mantissa = mantissa * 10 + uint64_t(c - '0');
            if (fraction) exponent--;
        }
        if (k < n) {
            k++;
            bool down = text[k] == '-';
            if (text[k] == '+' || text[k] == '-') k++;
            int32_t e = 0;
            for (; k < n; k++) {
                e = e * 10 + (text[k] - '0');
                if (e > 1000) return false;
            }
            exponent += down ? -e : e;
        }
        if (exponent < -22 || exponent > 22) return false;
        double d = double(mantissa);
        d = exponent < 0 ? d / powers[-exponent] : d * powers[exponent];
        *out = negative ? -d : d;
        return true;
    }

    // The value the lexer makes of a number text too long for a float's
    // text (it refuses such a text with a syntax error), pushed.
    void number_by_lexer(const char* text, uint32_t n) {
        NamedFrame frame("transcode");
        Cell* loaded = stack_push_new(T_NONE);
        lexer_transcode(loaded, reinterpret_cast<const uint8_t*>(text), n, LexerOptions{}, nullptr);
        Cell first = *block_ks_abs_at(loaded, 0);
        stack_unwind();
        cell_copy(&first, value_slot());
    }

    // Scans a string from its opening quote at pos_; NotJson when it is
    // unclosed or holds a raw control character or a bad escape.
    StringScan scan_string() const {
        const T* s = chars();
        StringScan scan{pos_ + 1, 0, 0, 0, false, false};
        uint32_t i = scan.from;
        for (;;) {
            if (i >= end_) throw NotJson{};
            uint32_t c = s[i];
            if (c == '"') break;
            if (c < 0x20) throw NotJson{};
            if (c == '\\') {
                scan.escapes = true;
                if (i + 1 >= end_) throw NotJson{};
                uint32_t kind = s[i + 1];
                if (kind == 'u') {
                    c = hex4(s, i + 2);
                    i += 6;
                    if (high_surrogate_q(c)) {
                        uint32_t low = i + 1 < end_ && s[i] == '\\' && s[i + 1] == 'u'
                                           ? hex4_or_none(s, i + 2) : 0xFFFFFFFF;
                        if (low_surrogate_q(low)) {
                            c = surrogate_pair(c, low);
                            i += 6;
                        } else {
                            scan.bad_pair = true;
                        }
                    }
                } else if (short_escape(kind, &c)) {
                    i += 2;
                } else {
                    throw NotJson{};
                }
            } else {
                i++;
            }
            scan.count++;
            if (c > scan.widest) scan.widest = c;
        }
        scan.close = i;
        return scan;
    }

    uint32_t hex4_or_none(const T* s, uint32_t at) const {
        if (end_ - at < 4) return 0xFFFFFFFF;
        uint32_t value = 0;
        for (uint32_t k = 0; k < 4; k++) {
            int digit = hex_digit_value(s[at + k]);
            if (digit < 0) return 0xFFFFFFFF;
            value = value * 16 + uint32_t(digit);
        }
        return value;
    }
    uint32_t hex4(const T* s, uint32_t at) const {
        uint32_t value = at <= end_ ? hex4_or_none(s, at) : 0xFFFFFFFF;
        if (value == 0xFFFFFFFF) throw NotJson{};
        return value;
    }

    // The characters of a scanned body, escapes resolved, written from out.
    template <class U> void unescape_into(const StringScan& scan, U* out) const {
        const T* s = chars();
        uint32_t i = scan.from;
        if (!scan.escapes) {
            for (uint32_t k = 0; k < scan.count; k++) out[k] = U(s[i + k]);
            return;
        }
        while (i < scan.close) {
            uint32_t c = s[i];
            if (c != '\\') {
                *out++ = U(c);
                i++;
                continue;
            }
            uint32_t kind = s[i + 1];
            if (kind == 'u') {
                c = hex4_or_none(s, i + 2);
                i += 6;
                if (high_surrogate_q(c)) {
                    c = surrogate_pair(c, hex4_or_none(s, i + 2));
                    i += 6;
                }
            } else {
                short_escape(kind, &c);
                i += 2;
            }
            *out++ = U(c);
        }
    }

    // A bad surrogate pair: the library's unescaper is run on a copy of the
    // body, so that the error carries the same partly rewritten string.
    [[noreturn]] void raise_bad_pair(const StringScan& scan) {
        std::u32string body(scan.close - scan.from, 0);
        const T* s = chars();
        for (size_t k = 0; k < body.size(); k++) body[k] = char32_t(s[scan.from + k]);
        Cell* copy = string_push_chars(body);
        NamedFrame frame("unescape");
        json_unescape(copy);
        error_raise(ERR_INVALID_DATA, copy);  // json_unescape refuses such a body first
    }

    void string_value() {
        StringScan scan = scan_string();
        if (scan.bad_pair) raise_bad_pair(scan);
        room();
        uint32_t unit = codepoint_unit(scan.widest);
        SeriesBuffer* b;
        string_push_sized(scan.count, unit, &b);
        if (unit == 1) unescape_into(scan, b->head_ptr());
        else if (unit == 2) unescape_into(scan, reinterpret_cast<uint16_t*>(b->head_ptr()));
        else unescape_into(scan, reinterpret_cast<uint32_t*>(b->head_ptr()));
        pos_ = scan.close + 1;
    }

    // Reads a key's string; key_value makes the key once the colon after it
    // is read.
    void key_text() {
        key_scan_ = scan_string();
        if (key_scan_.bad_pair) raise_bad_pair(key_scan_);
        pos_ = key_scan_.close + 1;
    }

    // The key read by key_text as a word or a string, pushed.
    void key_value() {
        const T* raw = chars() + key_scan_.from;
        uint32_t length = key_scan_.close - key_scan_.from;
        uint32_t hash = KeyCache::hash_of(raw, length);
        const KeyWord* known = keys_.find(raw, length, hash);
        KeyWord word = known ? *known : KeyWord{0, 0};
        if (!known) {
            key_chars();
            if (word_spelling_q(key_)) {
                word = key_word_read(key_);
                keys_.add(chars() + key_scan_.from, length, hash, word);
            }
        } else if (!word.symbol) {
            key_chars();
        }
        room();
        if (word.symbol) word_make_at(stack_push_new(T_NONE), T_WORD, word.symbol, global_context, word.index);
        else string_push_chars(key_);
    }

    // The characters of the key read by key_text into key_, escapes resolved.
    void key_chars() {
        key_.resize(key_scan_.count);
        unescape_into(key_scan_, key_.data());
    }

    // ---- containers -----------------------------------------------------------------------

    void open_container() {
        if (open_.size() >= DEPTH_MAX) throw NotJson{};
        open_.push_back(value_slot());
    }

    // The values of the innermost container as one block in its slot, the
    // values popped.
    void close_block() {
        Cell* slot = open_.back();
        open_.pop_back();
        Cell* first = slot + 1;
        uint32_t n = uint32_t(data_stack.top - first);
        if (cell_type(slot) == T_NONE) {
            Cell* block = stack_push_new(T_NONE);
            block_make_at(block, int32_t(n));
            std::memcpy(series_buffer_of(block)->head_ptr(), first, size_t(n) * sizeof(Cell));
            block_ks_tail_at(block, n);
            cell_copy(block, slot);
        } else {
            for (Cell* cell = first; cell < first + n; cell++) block_ks_append(slot, cell);
        }
        data_stack.top = slot + 1;
    }

    // Moves the values of every open container into its spill block and
    // leaves only the slots on the stack.
    void spill() {
        for (size_t k = 0; k < open_.size(); k++) {
            Cell* slot = open_[k];
            Cell* end = k + 1 < open_.size() ? open_[k + 1] : data_stack.top;
            if (end == slot + 1) continue;
            if (cell_type(slot) == T_NONE) block_make_at(slot, int32_t(2 * (end - slot - 1)));
            for (Cell* cell = slot + 1; cell < end; cell++) block_ks_append(slot, cell);
        }
        Cell* to = open_[0];
        for (Cell*& slot : open_) {
            cell_copy(slot, to);
            slot = to++;
        }
        data_stack.top = to;
    }

    // The items of a container from its opening character: item reads one,
    // commas separate them, the closing character ends them.
    template <class Item> void container(uint32_t close, Item item) {
        pos_++;
        open_container();
        white_space();
        if (!at_q(close)) {
            for (;;) {
                item();
                if (!at_q(',')) break;
                pos_++;
                white_space();
            }
            if (!at_q(close)) throw NotJson{};
        }
        pos_++;
        close_block();
    }

    void array() {
        container(']', [this] { value(); });
    }

    // A name, its colon and its value, pushed as a key and a value.
    void property() {
        if (!at_q('"')) throw NotJson{};
        key_text();
        white_space();
        if (!at_q(':')) throw NotJson{};
        pos_++;
        mark_ = pos_;
        key_value();
        value();
    }

    void object() {
        container('}', [this] { property(); });
        Cell* pairs = stack_top();
        Cell* map = stack_push_new(T_NONE);
        map_make_at(map, pairs, 0);
        cell_copy(map, pairs);
        stack_pop(1);
    }

    const Cell* input_;        // on the data stack
    uint32_t start_, end_;     // the input's position and tail (indexes from the buffer head)
    uint32_t pos_;
    uint32_t mark_, last_lf_;  // after the last value, name or line feed; after the last line feed
    uint32_t line_ = 1;
    std::vector<Cell*> open_;  // the slot of each open container, outermost first
    StringScan key_scan_{};    // the last key read
    std::u32string key_;       // its characters, escapes resolved, when they were needed
    KeyCache keys_;
};

template <class T> void decode_at(const Cell* input, Cell* out) {
    Decoder<T> decoder(input);
    Cell* base = data_stack.top;
    try {
        decoder.run();
    } catch (const NotJson&) {
        data_stack.top = base;
        decoder.report();
    }
    cell_copy(base, out);
    data_stack.top = base;
}

} // namespace

void json_unescape(Cell* str) {
    uint32_t read = series_index_clamped(str);
    uint32_t dest = read;
    uint32_t end = series_buffer_of(str)->length();
    while (read < end) {
        uint32_t c = string_ks_char_at(str, read++);
        if (c == '\\') {
            if (read >= end) error_raise(ERR_INVALID_DATA, str);
            uint32_t kind = string_ks_char_at(str, read++);
            if (kind == 'u') {
                if (!read_hex4(str, read, end, &c)) error_raise(ERR_INVALID_DATA, str);
                read += 4;
                if (high_surrogate_q(c)) {
                    uint32_t low = 0;
                    if (end - read < 6 || string_ks_char_at(str, read) != '\\' ||
                        string_ks_char_at(str, read + 1) != 'u' ||
                        !read_hex4(str, read + 2, end, &low) || !low_surrogate_q(low))
                        error_raise(ERR_INVALID_DATA, str);
                    read += 6;
                    c = surrogate_pair(c, low);
                }
            } else if (!short_escape(kind, &c)) {
                error_raise(ERR_INVALID_DATA, str);
            }
        }
        // Characters are read by index, so a widening write loses no position.
        string_poke_char(str, dest++, c);
    }
    string_ks_truncate(series_buffer_of(str), dest);
}

void routine_json_unescape() {
    Cell* str = data_stack.args;
    json_unescape(str);
    stack_set_last_reset(str);
}

void json_decode(const Cell* input, Cell* out) {
    switch (series_buffer_of(input)->unit()) {
    case 1: decode_at<uint8_t>(input, out); break;
    case 2: decode_at<uint16_t>(input, out); break;
    default: decode_at<uint32_t>(input, out); break;
    }
}

void routine_json_decode() {
    Cell* result = stack_push_new(T_NONE);
    json_decode(data_stack.args, result);
    stack_set_last_reset(result);
}

} // namespace kel
