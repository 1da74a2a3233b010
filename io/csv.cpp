// The CSV reader and writer.
//
// The reader follows the library's grammar in Kel step by step: a field is a
// quoted field when its closing quote is followed (after spaces and tabs with
// /trim) by the delimiter, a line end or the end, else everything up to the
// delimiter or a line end; a line is fields between delimiters; the text is
// lines ended by CR LF, LF or CR. Each field then goes through the library's
// add-field: trimmed with /trim, and, when it is longer than one character
// and begins and ends with the quote character, unquoted, each pair of quote
// characters standing for one. Rows are checked for alignment and kept as
// blocks, records (maps) or one flat block, and turned into columns with
// /as-columns.
//
// The writer escapes each value as the library's escape-value does and joins
// lines the same way.
//
// Both keep every value they make in a block on the data stack, and read the
// input in place at its own width, re-reading its buffer after every
// allocation.
#include "io/csv.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/error_value.hpp"
#include "core/logic.hpp"
#include "core/object.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "core/float_text.hpp"
#include "datatypes/map.hpp"
#include "io/codec_text.hpp"
#include "runtime/memory.hpp"

#include <algorithm>
#include <cstring>
#include <string>

namespace kel {

namespace {

constexpr uint32_t CR = 13;
constexpr uint32_t LF = 10;
constexpr uint32_t NO_FIELD = 0xFFFFFFFF;

// Thrown when the library's own code must run instead (see io/csv.hpp).
struct UseLibrary {};

bool truth_q(const Cell* c) { return cell_type(c) == T_LOGIC ? logic_get(c) : cell_type(c) != T_NONE; }

// The characters of a char! or a string! (from its position).
std::u32string text_of(const Cell* value) {
    std::u32string text;
    if (cell_type(value) == T_CHAR) text.push_back(char32_t(uint32_t(cell_int(value))));
    else string_chars_of(value, &text);
    return text;
}

// A user error value of the message, pushed.
Cell* message_error_push(const char* message) {
    Cell* text = stack_push_new(T_NONE);
    string_make_at(text, uint32_t(std::strlen(message)));
    string_concatenate_text(text, message);
    Cell* error = error_make(ErrorCategory::user, ERR_MESSAGE, text, nullptr, nullptr);
    cell_copy(error, text);
    data_stack.top = text + 1;
    return text;
}

const char* const NOT_ALIGNED = "Data are not aligned";

// The words of a map or an object (reflect words), pushed.
Cell* words_of_push(const Cell* value) {
    Cell* words = stack_push(value);
    Cell field;
    word_make_at(&field, T_WORD, runtime_symbol(SYM_WORDS));
    if (cell_type(words) == T_MAP) map_reflect(words, &field);
    else object_reflect(words, &field);
    return words;
}

// The value of a record for a key: select on a map, the field of an object
// (none when it has none), pushed.
Cell* field_of_push(const Cell* record, const Cell* key) {
    Cell* value = stack_push(record);
    if (cell_type(record) == T_MAP) {
        Cell* k = stack_push(key);
        const Cell* found = map_select(value, k, FindOptions{});
        cell_copy(found, value);
        stack_pop(1);
    } else {
        cell_copy(object_select_field(record, key), value);
    }
    return value;
}

// The name after a column name, as the library's next-column-name makes it:
// the last character steps on, a Z becoming A and carrying.
std::u32string next_column_name(std::u32string name) {
    if (name.empty()) return U"A";
    size_t i = name.size();
    for (;;) {
        char32_t c = name[i - 1];
        if (c != 'Z') {
            if (c >= 0x10FFFF) throw UseLibrary{};  // no character follows it
            name[i - 1] = c + 1;
            return name;
        }
        name[i - 1] = 'A';
        if (--i == 0) return U"A" + name;
    }
}

// ---- reading -------------------------------------------------------------------------------

struct ReadOptions {
    std::u32string delimiter;
    uint32_t qt;
    bool trim, header, as_columns, as_records, flat;
};

// The data stack slots the reader fills: the output, the current row, the
// column names.
struct ReadSlots {
    Cell* out;
    Cell* row;
    Cell* names;
};

template <class T> class Reader {
public:
    Reader(const Cell* input, const ReadOptions& options, const ReadSlots& slots)
        : input_(input), o_(options), slots_(slots) {
        pos_ = series_index_clamped(input);
        end_ = series_buffer_of(input)->length();
        for (uint32_t c = 0; c < 128; c++) stop_ascii_[c] = c == CR || c == LF || delimiter_char_q(c);
    }

    // The rows, or the error value of unaligned data, in the output slot.
    void run() {
        if (o_.header) {
            line();
            uint32_t n = eol_length(pos_);
            if (n == 0 || pos_ + n >= end_) raise_too_small();
            cell_copy(block_clone(slots_.row, false, false), slots_.names);
            stack_pop(1);
            block_ks_tail_at(slots_.row, 0);
            pos_ += n;
        }
        while (pos_ < end_) {
            line();
            add_row();
            pos_ += eol_length(pos_);
        }
        if (misaligned_) {
            cell_copy(message_error_push(NOT_ALIGNED), slots_.out);
            stack_pop(1);
            return;
        }
        if (o_.as_columns) columns();
    }

private:
    const T* chars() const { return reinterpret_cast<const T*>(series_buffer_of(input_)->head_ptr()); }

    bool delimiter_at(const T* s, uint32_t p) const {
        if (end_ - p < o_.delimiter.size()) return false;
        for (size_t k = 0; k < o_.delimiter.size(); k++)
            if (uint32_t(s[p + k]) != uint32_t(o_.delimiter[k])) return false;
        return true;
    }
    bool delimiter_char_q(uint32_t c) const { return o_.delimiter.find(char32_t(c)) != std::u32string::npos; }
    // A line end or a character of the delimiter.
    bool stop_q(uint32_t c) const { return c < 128 ? stop_ascii_[c] : delimiter_char_q(c); }

    uint32_t eol_length(uint32_t p) const {
        if (p >= end_) return 0;
        const T* s = chars();
        if (s[p] == CR) return p + 1 < end_ && s[p + 1] == LF ? 2 : 1;
        return s[p] == LF ? 1 : 0;
    }

    // Where a quoted field starting at p ends (its trailing white space with
    // /trim included), or NO_FIELD when none does.
    uint32_t quoted_end(uint32_t p) const {
        const T* s = chars();
        if (p >= end_ || s[p] != o_.qt) return NO_FIELD;
        p++;
        for (;;) {
            if (p < end_ && s[p] != o_.qt) {
                while (p < end_ && s[p] != o_.qt) p++;
            } else if (p + 1 < end_ && s[p] == o_.qt && s[p + 1] == o_.qt) {
                p += 2;
            } else {
                break;
            }
        }
        if (p >= end_ || s[p] != o_.qt) return NO_FIELD;
        p++;
        if (o_.trim)
            while (p < end_ && (s[p] == ' ' || s[p] == '\t')) p++;
        if (p == end_ || s[p] == CR || s[p] == LF || delimiter_at(s, p)) return p;
        return NO_FIELD;
    }

    // Where an unquoted field starting at p ends: at the delimiter, a line
    // end or the end; a character of the delimiter that does not begin the
    // whole of it belongs to the field.
    uint32_t unquoted_end(uint32_t p) const {
        const T* s = chars();
        while (p < end_) {
            uint32_t c = s[p];
            if (stop_q(c) && (c == CR || c == LF || delimiter_at(s, p))) break;
            p++;
        }
        return p;
    }

    void field() {
        uint32_t start = pos_;
        uint32_t quoted = quoted_end(pos_);
        pos_ = quoted != NO_FIELD ? quoted : unquoted_end(pos_);
        add_field(start, pos_);
    }

    // Fields between delimiters; an empty delimiter followed by an empty
    // field ends the line, as a repetition that consumes nothing stops.
    void line() {
        field();
        while (delimiter_at(chars(), pos_)) {
            uint32_t before = pos_;
            pos_ += uint32_t(o_.delimiter.size());
            field();
            if (pos_ == before) break;
        }
    }

    // The field's text, unquoted when it is quoted, appended to the row.
    void add_field(uint32_t from, uint32_t to) {
        if (!o_.trim) {
            add_field_as_read(from, to);
            return;
        }
        text_.clear();
        const T* s = chars();
        for (uint32_t i = from; i < to; i++) text_.push_back(char32_t(s[i]));
        if (o_.trim) {
            Cell* trimmed = string_push_chars(text_);
            string_trim(trimmed, false, false, false, false, false, nullptr);
            string_chars_of(trimmed, &text_);
            stack_pop(1);
        }
        size_t n = text_.size();
        if (n > 1 && text_[0] == o_.qt && text_[n - 1] == o_.qt) {
            std::u32string inner;
            for (size_t i = 1; i + 1 < n; i++) {
                inner.push_back(text_[i]);
                if (text_[i] == o_.qt && i + 2 < n && text_[i + 1] == o_.qt) i++;
            }
            text_.swap(inner);
        }
        block_ks_append(slots_.row, string_push_chars(text_));
        stack_pop(1);
    }

    // add_field without /trim, the characters copied from the input once.
    void add_field_as_read(uint32_t from, uint32_t to) {
        const T* s = chars();
        bool quoted = to - from > 1 && s[from] == o_.qt && s[to - 1] == o_.qt;
        if (quoted) {
            from++;
            to--;
        }
        if (!quoted && sizeof(T) == 1) {
            SeriesBuffer* b;
            Cell* field = string_push_sized(to - from, 1, &b);
            std::memcpy(b->head_ptr(), chars() + from, to - from);
            block_ks_append(slots_.row, field);
            stack_pop(1);
            return;
        }
        uint32_t count = 0, widest = 0;
        for (uint32_t i = from; i < to; i++, count++) {
            widest = std::max(widest, uint32_t(s[i]));
            if (quoted && s[i] == o_.qt && i + 1 < to && s[i + 1] == o_.qt) i++;
        }
        uint32_t unit = codepoint_unit(widest);
        SeriesBuffer* b;
        Cell* field = string_push_sized(count, unit, &b);
        if (unit == 1) unquote_into(b->head_ptr(), from, to, quoted);
        else if (unit == 2) unquote_into(reinterpret_cast<uint16_t*>(b->head_ptr()), from, to, quoted);
        else unquote_into(reinterpret_cast<uint32_t*>(b->head_ptr()), from, to, quoted);
        block_ks_append(slots_.row, field);
        stack_pop(1);
    }

    template <class U> void unquote_into(U* out, uint32_t from, uint32_t to, bool quoted) const {
        const T* s = chars();
        if (!quoted) {
            for (uint32_t i = from; i < to; i++) *out++ = U(s[i]);
            return;
        }
        for (uint32_t i = from; i < to; i++) {
            *out++ = U(s[i]);
            if (s[i] == o_.qt && i + 1 < to && s[i + 1] == o_.qt) i++;
        }
    }

    void add_row() {
        uint32_t n = series_buffer_of(slots_.row)->length();
        if (!misaligned_) {
            if (expected_ < 0) expected_ = int64_t(n);
            else if (uint32_t(expected_) != n) misaligned_ = true;
        }
        if (!misaligned_) {
            if (o_.as_records) record(n);
            else if (o_.flat) block_copy_cells(slots_.out, slots_.row);
            else {
                block_ks_append(slots_.out, block_clone(slots_.row, false, false));
                stack_pop(1);
            }
        }
        block_ks_tail_at(slots_.row, 0);
    }

    // The row as a map from the column names, extended as needed.
    void record(uint32_t n) {
        while (series_buffer_of(slots_.names)->length() < n) {
            uint32_t count = series_buffer_of(slots_.names)->length();
            std::u32string last = text_of(block_ks_abs_at(slots_.names, count - 1));
            block_ks_append(slots_.names, string_push_chars(next_column_name(last)));
            stack_pop(1);
        }
        Cell* map = stack_push_new(T_NONE);
        map_make_at(map, nullptr, 4 * n);
        Cell* key = stack_push_new(T_NONE);
        Cell* value = stack_push_new(T_NONE);
        for (uint32_t i = 0; i < n; i++) {
            cell_copy(block_ks_abs_at(slots_.names, i), key);
            cell_copy(block_ks_abs_at(slots_.row, i), value);
            map_set_key(map, key, value, false, nullptr);
        }
        block_ks_append(slots_.out, map);
        data_stack.top = map;
    }

    // The rows as a map from each column name to the block of that column's
    // fields.
    void columns() {
        uint32_t rows = series_buffer_of(slots_.out)->length();
        uint32_t longest = 0;
        for (uint32_t r = 0; r < rows; r++)
            longest = std::max(longest, series_buffer_of(block_ks_abs_at(slots_.out, r))->length());
        if (longest > series_buffer_of(slots_.names)->length()) {
            block_ks_tail_at(slots_.names, 0);
            std::u32string name = U"A";
            for (uint32_t i = 0; i < longest; i++, name = next_column_name(name)) {
                block_ks_append(slots_.names, string_push_chars(name));
                stack_pop(1);
            }
        }
        uint32_t count = series_buffer_of(slots_.names)->length();
        Cell* map = stack_push_new(T_NONE);
        map_make_at(map, nullptr, 4 * count);
        Cell* key = stack_push_new(T_NONE);
        Cell* column = stack_push_new(T_NONE);
        for (uint32_t i = 0; i < count; i++) {
            block_make_at(column, int32_t(rows));
            for (uint32_t r = 0; r < rows; r++) {
                const Cell* row = block_ks_abs_at(slots_.out, r);
                if (i < series_buffer_of(row)->length()) block_ks_append(column, block_ks_abs_at(row, i));
            }
            cell_copy(block_ks_abs_at(slots_.names, i), key);
            map_set_key(map, key, column, false, nullptr);
        }
        cell_copy(map, slots_.out);
        data_stack.top = map;
    }

    // The library's cause-error, whose error do makes.
    [[noreturn]] void raise_too_small() {
        Cell word;
        word_make_at(&word, T_WORD, symbol_make("do"));
        stack_mark_native(&word);
        Cell* text = stack_push_new(T_NONE);
        string_make_at(text, 48);
        string_concatenate_text(text, "CSV data are too small to use /HEADER refinement");
        error_raise(ERR_MESSAGE, text);
    }

    const Cell* input_;  // on the data stack
    const ReadOptions& o_;
    ReadSlots slots_;
    uint32_t pos_, end_;
    bool stop_ascii_[128];   // stop_q of each ASCII character
    int64_t expected_ = -1;  // fields of the first row, -1 before it
    bool misaligned_ = false;
    std::u32string text_;
};

template <class T> void read_rows(const Cell* input, const ReadOptions& options, const ReadSlots& slots) {
    Reader<T> reader(input, options, slots);
    reader.run();
}

// ---- writing -------------------------------------------------------------------------------

// Text is gathered in C++ memory, one byte a character while every
// character is below 256, and made into the output string once at the end.
class Writer {
public:
    Writer(const Cell* delimiter, uint32_t qt) : qt_(qt) {
        delimiter_ = text_of(delimiter);
        for (uint32_t c = 0; c < 128; c++) quotable_ascii_[c] = quotable_q(c);
    }

    // The text written, as a new string, pushed.
    Cell* finish() const {
        uint32_t count = uint32_t(wide_mode_ ? wide_.size() : narrow_.size());
        SeriesBuffer* b;
        Cell* text = string_push_sized(count, codepoint_unit(widest_), &b);
        if (!wide_mode_) {
            std::memcpy(b->head_ptr(), narrow_.data(), count);
        } else if (b->unit() == 2) {
            auto* out = reinterpret_cast<uint16_t*>(b->head_ptr());
            for (uint32_t i = 0; i < count; i++) out[i] = uint16_t(wide_[i]);
        } else {
            std::memcpy(b->head_ptr(), wide_.data(), size_t(count) * 4);
        }
        return text;
    }

    // The values of a block from its position (count of them, or all), as
    // one line.
    void line(const Cell* block, uint32_t count = NO_FIELD) {
        Cell* held = stack_push(block);
        Cell* value = stack_push_new(T_NONE);
        uint32_t from = series_index_clamped(held);
        for (uint32_t i = 0; i < count && from + i < series_buffer_of(held)->length(); i++) {
            if (i > 0) text(delimiter_);
            cell_copy(block_ks_abs_at(held, from + i), value);
            escaped(value);
        }
        put(LF);
        data_stack.top = held;
    }

private:
    void put(uint32_t c) {
        if (c > widest_) widest_ = c;
        if (wide_mode_) {
            wide_.push_back(char32_t(c));
        } else if (c < 256) {
            narrow_.push_back(char(c));
        } else {
            wide_.assign(narrow_.begin(), narrow_.end());
            for (size_t i = 0; i < narrow_.size(); i++) wide_[i] = char32_t(uint8_t(narrow_[i]));
            narrow_.clear();
            wide_mode_ = true;
            wide_.push_back(char32_t(c));
        }
    }
    void text(const std::u32string& chars) {
        for (char32_t c : chars) put(c);
    }

    bool quotable_q(uint32_t c) const {
        return c == ' ' || c == LF || c == CR || c == qt_ || delimiter_.find(char32_t(c)) != std::u32string::npos;
    }

    // A value as text (a float molded, anything else formed), its quote
    // characters doubled, enclosed in quote characters when it held one or
    // holds a character that needs them.
    void escaped(const Cell* value) {
        if (cell_type(value) == T_STRING && narrow_string(value)) return;
        field_.clear();
        if (cell_type(value) == T_FLOAT) {
            for (const char* p = float_form(cell_double(value), 0, true); *p; p++) field_.push_back(char32_t(*p));
        } else if (cell_type(value) == T_STRING) {
            string_chars_of(value, &field_);
        } else {
            Cell* formed = stack_push_new(T_NONE);
            dispatch_form(value, formed, -1);
            string_chars_of(formed, &field_);
            stack_pop(1);
        }
        bool quoted = false;
        for (char32_t c : field_) quoted = quoted || quotable_q(c);
        if (!quoted) {
            text(field_);
            return;
        }
        put(qt_);
        for (char32_t c : field_) {
            put(c);
            if (c == qt_) put(c);
        }
        put(qt_);
    }

    // escaped for a string of unit 1 while the text is narrow and the quote
    // character too: answers false, with nothing written, for any other.
    bool narrow_string(const Cell* string) {
        SeriesBuffer* b = series_buffer_of(string);
        if (b->unit() != 1 || wide_mode_ || qt_ > 255) return false;
        uint32_t from = series_index_clamped(string);
        uint32_t n = b->length() - from;
        const uint8_t* text = b->head_ptr() + from;
        uint8_t widest = 0;
        bool quoted = false;
        for (uint32_t i = 0; i < n; i++) {
            uint8_t c = text[i];
            widest = std::max(widest, c);
            quoted = quoted || (c < 128 ? quotable_ascii_[c] : quotable_q(c));
        }
        if (widest > widest_) widest_ = widest;
        if (!quoted) {
            narrow_.append(reinterpret_cast<const char*>(text), n);
            return true;
        }
        if (qt_ > widest_) widest_ = qt_;
        narrow_.push_back(char(qt_));
        for (uint32_t i = 0; i < n; i++) {
            narrow_.push_back(char(text[i]));
            if (text[i] == qt_) narrow_.push_back(char(qt_));
        }
        narrow_.push_back(char(qt_));
        return true;
    }

    uint32_t qt_;
    bool quotable_ascii_[128];
    std::u32string delimiter_;
    std::u32string field_;
    std::string narrow_;      // the text while every character is below 256
    std::u32string wide_;     // the text from the first character above 255 on
    bool wide_mode_ = false;
    uint32_t widest_ = 0;
};

uint32_t length_at(const Cell* series) { return series_buffer_of(series)->length() - std::min(series_index_clamped(series), series_buffer_of(series)->length()); }

// A map or object of columns: the keys, then one line per index.
void write_columns(Writer& writer, const Cell* data, Cell* out) {
    Cell* keys = words_of_push(data);
    uint32_t n = series_buffer_of(keys)->length();
    Cell* columns = stack_push_new(T_NONE);
    block_make_at(columns, int32_t(n));
    Cell* key = stack_push_new(T_NONE);
    for (uint32_t i = 0; i < n; i++) {
        cell_copy(block_ks_abs_at(keys, i), key);
        Cell* column = field_of_push(data, key);
        if (cell_type(column) != T_BLOCK) throw UseLibrary{};
        block_ks_append(columns, column);
        stack_pop(1);
    }
    uint32_t count = n == 0 ? 0 : length_at(block_ks_abs_at(columns, 0));
    for (uint32_t i = 0; i < n; i++) {
        if (length_at(block_ks_abs_at(columns, i)) != count) {
            cell_copy(message_error_push(NOT_ALIGNED), out);
            return;
        }
    }
    writer.line(keys);
    Cell* values = stack_push_new(T_NONE);
    block_make_at(values, int32_t(n));
    for (uint32_t index = 0; index < count; index++) {
        block_ks_tail_at(values, 0);
        for (uint32_t i = 0; i < n; i++) {
            const Cell* column = block_ks_abs_at(columns, i);
            Cell cell = *block_ks_abs_at(column, series_index_clamped(column) + index);
            block_ks_append(values, &cell);
        }
        writer.line(values);
    }
}

// A block of maps or of objects: the keys of all records in order of first
// appearance, then one line per record, none and false written empty.
void write_records(Writer& writer, const Cell* data) {
    Cell* columns = stack_push_new(T_NONE);
    block_make_at(columns, 10);
    uint32_t from = series_index_clamped(data);
    uint32_t records = length_at(data);
    Cell* found = stack_push_new(T_NONE);
    for (uint32_t r = 0; r < records; r++) {
        Cell* keys = words_of_push(block_ks_abs_at(data, from + r));
        for (uint32_t i = 0; i < series_buffer_of(keys)->length(); i++) {
            cell_copy(columns, found);
            Cell* key = stack_push(block_ks_abs_at(keys, i));
            block_find(found, key, FindOptions{.only = true});
            if (cell_type(found) == T_NONE) block_ks_append(columns, key);
            stack_pop(1);
        }
        stack_pop(1);
    }
    writer.line(columns);
    uint32_t n = series_buffer_of(columns)->length();
    Cell* values = stack_push_new(T_NONE);
    block_make_at(values, int32_t(n));
    Cell* empty = stack_push_new(T_NONE);
    string_make_at(empty, 1);
    for (uint32_t r = 0; r < records; r++) {
        block_ks_tail_at(values, 0);
        for (uint32_t i = 0; i < n; i++) {
            Cell* key = stack_push(block_ks_abs_at(columns, i));
            Cell* value = field_of_push(block_ks_abs_at(data, from + r), key);
            bool blank = cell_type(value) == T_NONE || (cell_type(value) == T_LOGIC && !logic_get(value));
            block_ks_append(values, blank ? empty : value);
            stack_pop(2);
        }
        writer.line(values);
    }
}

bool record_type_q(uint8_t t) { return t == T_BLOCK || t == T_MAP || t == T_OBJECT; }

// to-csv after its delimiter is defaulted, into out; UseLibrary for the
// shapes of data the library's own code must write.
void write_csv(const Cell* data, const Cell* delimiter, const Cell* size, uint32_t qt, Cell* out) {
    Writer writer(delimiter, qt);
    uint8_t type = cell_type(data);
    if (type == T_MAP || type == T_OBJECT) {
        write_columns(writer, data, out);
        if (cell_type(out) == T_ERROR) return;
    } else if (cell_type(size) == T_INTEGER) {
        int32_t n = cell_int(size);
        uint32_t length = length_at(data);
        if (n < 1 || length % uint32_t(n) != 0) {
            cell_copy(message_error_push(NOT_ALIGNED), out);
            return;
        }
        Cell* part = stack_push(data);
        for (uint32_t at = 0; at < length; at += uint32_t(n)) {
            series_index_set(part, int32_t(series_index_clamped(data) + at));
            writer.line(part, uint32_t(n));
        }
    } else {
        // The records: the block's values, or the block itself when its first
        // value is no record.
        Cell* records = stack_push_new(T_NONE);
        uint32_t from = series_index_clamped(data);
        if (length_at(data) > 0 && record_type_q(cell_type(block_ks_abs_at(data, from)))) {
            cell_copy(data, records);
        } else {
            block_make_at(records, 1);
            block_ks_append(records, data);
        }
        from = series_index_clamped(records);
        uint32_t count = length_at(records);
        uint8_t first = cell_type(block_ks_abs_at(records, from));
        bool uniform = true, blocks = true;
        for (uint32_t r = 0; r < count; r++) {
            uint8_t t = cell_type(block_ks_abs_at(records, from + r));
            uniform = uniform && t == first;
            blocks = blocks && t == T_BLOCK;
        }
        if (uniform && (first == T_MAP || first == T_OBJECT)) {
            write_records(writer, records);
        } else {
            if (!blocks) throw UseLibrary{};
            uint32_t fields = length_at(block_ks_abs_at(records, from));
            for (uint32_t r = 0; r < count; r++) {
                if (length_at(block_ks_abs_at(records, from + r)) != fields) {
                    cell_copy(message_error_push(NOT_ALIGNED), out);
                    return;
                }
            }
            for (uint32_t r = 0; r < count; r++) writer.line(block_ks_abs_at(records, from + r));
        }
    }
    cell_copy(writer.finish(), out);
}

} // namespace

void routine_csv_decode() {
    Cell* args = data_stack.args;
    ReadOptions options;
    options.delimiter = text_of(args + 1);
    options.qt = uint32_t(cell_int(&args[2]));
    options.trim = truth_q(args + 3);
    options.header = truth_q(args + 4);
    options.as_columns = truth_q(args + 5);
    options.as_records = truth_q(args + 6);
    options.flat = truth_q(args + 7);
    Cell* out = stack_push_new(T_NONE);
    block_make_at(out, int32_t(series_buffer_of(args)->length() / 80));
    Cell* row = stack_push_new(T_NONE);
    block_make_at(row, 10);
    Cell* names = stack_push_new(T_NONE);
    block_make_at(names, 1);
    block_ks_append(names, string_push_chars(U"A"));
    stack_pop(1);
    ReadSlots slots{out, row, names};
    try {
        switch (series_buffer_of(args)->unit()) {
        case 1: read_rows<uint8_t>(args, options, slots); break;
        case 2: read_rows<uint16_t>(args, options, slots); break;
        default: read_rows<uint32_t>(args, options, slots); break;
        }
    } catch (const UseLibrary&) {
        cell_init(out, T_NONE);
    }
    stack_set_last_reset(out);
}

void routine_csv_encode() {
    Cell* args = data_stack.args;
    Cell* out = stack_push_new(T_NONE);
    try {
        write_csv(args, args + 1, args + 2, uint32_t(cell_int(&args[3])), out);
    } catch (const UseLibrary&) {
        cell_init(out, T_NONE);
    }
    stack_set_last_reset(out);
}

} // namespace kel
