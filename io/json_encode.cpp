// The JSON encoder: values to JSON text, written exactly as the library's
// encoder in Kel writes them.
//
// Two passes over the value: the first counts the characters and finds the
// widest one, so that the output string is made once at its final size and
// width; the second writes. Float texts are made again by the second pass
// rather than kept, which would cost more memory than the time it saves.
// Text is gathered in a small buffer of ASCII bytes and appended
// to the output a chunk at a time; a character above 127 is appended
// directly. Every container being written is held on the data stack and read
// by index, and no buffer address is kept across an append or a mold, since
// those may allocate and a collection may move everything.
#include "io/json.hpp"
#include "io/codec_text.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/float.hpp"
#include "core/float_text.hpp"
#include "datatypes/integer.hpp"
#include "runtime/native_guard.hpp"

#include <cmath>
#include <cstring>
#include <string>

namespace kel {

namespace {

// Bytes gathered before they are appended to the output string.
constexpr uint32_t CHUNK = 4096;


bool any_word_q(uint8_t t) { return t == T_WORD || t == T_SET_WORD || t == T_LIT_WORD || t == T_GET_WORD; }
bool other_block_q(uint8_t t) {
    return t == T_PAREN || t == T_PATH || t == T_LIT_PATH || t == T_SET_PATH || t == T_GET_PATH ||
           t == T_HASH;
}
bool other_string_q(uint8_t t) {
    return t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

// The short escape of a character, or null.
const char* short_escape_text(uint32_t c) {
    switch (c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case 8: return "\\b";
    case 12: return "\\f";
    case 10: return "\\n";
    case 13: return "\\r";
    case 9: return "\\t";
    default: return nullptr;
    }
}

// The raise of the library's write-float: script error invalid-arg with the
// float, from a frame named do, where that error is made.
[[noreturn]] void raise_not_finite(double d) {
    Cell word;
    word_make_at(&word, T_WORD, symbol_make("do"));
    stack_mark_native(&word);
    Cell* value = stack_push_new(T_NONE);
    float_make_at(value, d);
    error_raise(ERR_INVALID_ARG, value);
}

// Characters in the escape of a character that is not written as it is.
uint32_t escape_length(uint32_t c) {
    if (short_escape_text(c)) return 2;
    return c > 0xFFFF ? 12 : 6;
}

class Encoder {
public:
    Encoder(const JsonEncodeOptions& options) : ascii_(options.ascii) {
        if (options.indent) {
            pretty_ = true;
            string_chars_of(options.indent, &indent_);
        }
    }

    // The second pass writes into out (on the data stack), made with room
    // for the characters the first pass counted at the unit of the widest.
    void write_into(Cell* out) {
        measuring_ = false;
        out_ = out;
        level_ = 0;
    }
    uint32_t total() const { return total_; }
    uint32_t unit() const { return widest_ < 128 ? 1 : widest_ <= 0xFFFF ? 2 : 4; }

    // Writes a value held on the data stack (or rooted).
    void value(const Cell* v) {
        native_stack_check();
        uint8_t type = cell_type(v);
        switch (type) {
        case T_NONE: text("null"); return;
        case T_LOGIC: text(logic_get(v) ? "true" : "false"); return;
        case T_INTEGER: text(integer_form_buffer(cell_int(v))); return;
        case T_FLOAT: case T_PERCENT: number(cell_double(v)); return;
        case T_STRING: string(v); return;
        case T_BLOCK: items(v); return;
        case T_MAP: map(v); return;
        case T_OBJECT: object(v); return;
        default: break;
        }
        Cell* held = stack_push(v);
        if (other_block_q(type)) {
            items(held);
        } else {
            Cell* text = stack_push_new(T_NONE);
            if (other_string_q(type)) dispatch_form(held, text, -1);
            else dispatch_mold(held, text, false, false, false, -1);
            string(text);
        }
        data_stack.top = held;
    }

    void flush() {
        if (count_ == 0) return;
        string_concatenate_bytes(out_, chunk_, count_);
        count_ = 0;
    }

private:
    void byte(char c) {
        if (measuring_) {
            total_++;
            return;
        }
        if (count_ == CHUNK) flush();
        chunk_[count_++] = c;
    }
    void text(const char* s) {
        while (*s) byte(*s++);
    }
    void wide(uint32_t c) {
        if (measuring_) {
            total_++;
            if (c > widest_) widest_ = c;
            return;
        }
        flush();
        string_append_char(out_, c);
    }
    void hex_escape(uint32_t code) {
        static const char digits[] = "0123456789ABCDEF";
        byte('\\');
        byte('u');
        for (int shift = 12; shift >= 0; shift -= 4) byte(digits[(code >> shift) & 15]);
    }

    // Characters written as they are: with ascii the printable ASCII ones
    // and DEL, else all but the control characters and the surrogates; the
    // double quote and the backslash never.
    bool normal_q(uint32_t c) const {
        if (c < 32 || c == '"' || c == '\\') return false;
        if (ascii_) return c <= 127;
        return c < 0xD800 || c > 0xDFFF;
    }

    void escape(uint32_t c) {
        if (const char* s = short_escape_text(c)) {
            text(s);
        } else if (c > 0xFFFF) {
            hex_escape(0xD800 + ((c - 0x10000) >> 10));
            hex_escape(0xDC00 + ((c - 0x10000) & 1023));
        } else {
            hex_escape(c);
        }
    }

    // The characters of a string-family value from its position, quoted.
    void string(const Cell* s) {
        if (measuring_) {
            SeriesBuffer* b = series_buffer_of(s);
            uint32_t from = series_index_clamped(s), end = b->length();
            switch (b->unit()) {
            case 1: count(reinterpret_cast<const uint8_t*>(b->head_ptr()), from, end); break;
            case 2: count(reinterpret_cast<const uint16_t*>(b->head_ptr()), from, end); break;
            default: count(reinterpret_cast<const uint32_t*>(b->head_ptr()), from, end); break;
            }
            total_ += 2;
            return;
        }
        byte('"');
        uint32_t i = series_index_clamped(s);
        for (;;) {
            SeriesBuffer* b = series_buffer_of(s);
            uint32_t end = b->length();
            if (i >= end) break;
            switch (b->unit()) {
            case 1: i = run(reinterpret_cast<const uint8_t*>(b->head_ptr()), i, end); break;
            case 2: i = run(reinterpret_cast<const uint16_t*>(b->head_ptr()), i, end); break;
            default: i = run(reinterpret_cast<const uint32_t*>(b->head_ptr()), i, end); break;
            }
        }
        byte('"');
    }

    // Writes the plain ASCII characters from i on, then at most one other
    // character: anything that may append to the output string (whose
    // growth may move the source) ends the run. Answers the index to go on
    // from.
    template <class T> uint32_t run(const T* chars, uint32_t i, uint32_t end) {
        while (i < end) {
            uint32_t c = chars[i];
            if (c < 128 && normal_q(c)) {
                if (count_ == CHUNK) {
                    flush();
                    return i;
                }
                chunk_[count_++] = char(c);
                i++;
                continue;
            }
            if (normal_q(c)) wide(c);
            else escape(c);
            return i + 1;
        }
        return i;
    }

    // What the second pass writes of the characters from i to end.
    template <class T> void count(const T* chars, uint32_t i, uint32_t end) {
        for (; i < end; i++) {
            uint32_t c = chars[i];
            if (!normal_q(c)) {
                total_ += escape_length(c);
            } else {
                total_++;
                if (c > widest_) widest_ = c;
            }
        }
    }

    // A float as mold writes it.
    void number(double d) {
        if (std::isnan(d) || std::isinf(d)) raise_not_finite(d);
        text(float_form(d, 0, true));
    }

    void line_break() {
        byte('\n');
        for (uint32_t k = 0; k < level_; k++)
            for (char32_t c : indent_) c < 128 ? byte(char(c)) : wide(c);
    }

    void open(char c) {
        byte(c);
        if (pretty_) {
            level_++;
            line_break();
        }
    }
    void close(char c) {
        if (pretty_) {
            level_--;
            line_break();
        }
        byte(c);
    }
    void separator() {
        byte(',');
        if (pretty_) line_break();
    }

    // The values of a block-family series from its position, as an array.
    void items(const Cell* block) {
        Cell* held = stack_push(block);
        Cell* item = stack_push_new(T_NONE);
        uint32_t i = series_index_clamped(held);
        if (i >= series_buffer_of(held)->length()) {
            text("[]");
        } else {
            open('[');
            for (bool first = true; i < series_buffer_of(held)->length(); i++, first = false) {
                if (!first) separator();
                cell_copy(block_ks_abs_at(held, i), item);
                value(item);
            }
            close(']');
        }
        data_stack.top = held;
    }

    // A key as the library writes it: a word formed, a string as it is,
    // anything else molded.
    void key(const Cell* k) {
        uint8_t type = cell_type(k);
        if (type == T_STRING) {
            string(k);
            return;
        }
        if (any_word_q(type) && ascii_name(k)) return;
        Cell* text = stack_push_new(T_NONE);
        if (any_word_q(type)) dispatch_form(k, text, -1);
        else dispatch_mold(k, text, false, false, false, -1);
        string(text);
        stack_pop(1);
    }

    // A word's name in ASCII, quoted; false, with nothing written, for any
    // other name. The name lies in a series buffer: the chunk is flushed
    // first, so that no allocation comes between reading and writing it.
    bool ascii_name(const Cell* word) {
        uint32_t length;
        const uint8_t* name = symbol_name(word_symbol(word), &length);
        for (uint32_t i = 0; i < length; i++)
            if (name[i] >= 128) return false;
        if (length > CHUNK / 8) return false;
        if (!measuring_ && count_ + length * 6 + 2 > CHUNK) {
            flush();
            name = symbol_name(word_symbol(word), &length);
        }
        byte('"');
        for (uint32_t i = 0; i < length; i++) normal_q(name[i]) ? byte(char(name[i])) : escape(name[i]);
        byte('"');
        return true;
    }

    void pair(const Cell* k, const Cell* v) {
        key(k);
        byte(':');
        if (pretty_) byte(' ');
        value(v);
    }

    // A map's live pairs in order, as an object.
    void map(const Cell* m) {
        Cell* held = stack_push(m);
        Cell* storage = stack_push_new(T_NONE);
        series_make_at(storage, T_BLOCK, series_node(held), 0);
        Cell* k = stack_push_new(T_NONE);
        Cell* v = stack_push_new(T_NONE);
        bool first = true;
        for (uint32_t i = 0; i + 1 < series_buffer_of(storage)->length(); i += 2) {
            cell_copy(block_ks_abs_at(storage, i + 1), v);
            if (v->header == 0) continue;  // a removed pair
            cell_copy(block_ks_abs_at(storage, i), k);
            if (first) open('{');
            else separator();
            first = false;
            pair(k, v);
        }
        if (first) text("{}");
        else close('}');
        data_stack.top = held;
    }

    // An object's words and their values, as an object.
    void object(const Cell* o) {
        Cell field;
        Cell* words = stack_push(o);
        word_make_at(&field, T_WORD, runtime_symbol(SYM_WORDS));
        object_reflect(words, &field);
        Cell* values = stack_push(o);
        word_make_at(&field, T_WORD, runtime_symbol(SYM_VALUES));
        object_reflect(values, &field);
        Cell* k = stack_push_new(T_NONE);
        Cell* v = stack_push_new(T_NONE);
        uint32_t n = series_buffer_of(words)->length();
        if (n == 0) text("{}");
        else open('{');
        for (uint32_t i = 0; i < n; i++) {
            if (i > 0) separator();
            cell_copy(block_ks_abs_at(words, i), k);
            cell_copy(block_ks_abs_at(values, i), v);
            pair(k, v);
        }
        if (n > 0) close('}');
        data_stack.top = words;
    }

    bool ascii_;
    bool pretty_ = false;
    std::u32string indent_;  // one level of indentation
    uint32_t level_ = 0;
    bool measuring_ = true;  // the first pass: count, write nothing
    uint32_t total_ = 0;     // characters counted
    uint32_t widest_ = 0;    // the largest code point counted
    Cell* out_ = nullptr;    // the output string, on the data stack
    char chunk_[CHUNK];
    uint32_t count_ = 0;
};

} // namespace

void json_encode(const Cell* value, Cell* out, const JsonEncodeOptions& options) {
    Encoder encoder(options);
    encoder.value(value);
    Cell* text = stack_push_new(T_NONE);
    string_make_at_unit(text, encoder.total(), encoder.unit());
    encoder.write_into(text);
    encoder.value(value);
    encoder.flush();
    cell_copy(text, out);
    stack_pop(1);
}

void routine_json_encode() {
    Cell* args = data_stack.args;
    JsonEncodeOptions options;
    if (cell_type(args + 1) == T_STRING) options.indent = args + 1;
    options.ascii = cell_type(args + 2) == T_LOGIC && logic_get(args + 2);
    Cell* result = stack_push_new(T_NONE);
    json_encode(args, result, options);
    stack_set_last_reset(result);
}

} // namespace kel
