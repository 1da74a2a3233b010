#include "datatypes/time.hpp"
#include "datatypes/date.hpp"
#include "datatypes/float.hpp"
#include "core/float_text.hpp"
#include "datatypes/integer.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include <algorithm>
#include <cmath>
#include <cstring>

namespace kel {

// Seconds below this print as "00".
constexpr double TIME_SECONDS_SHOWN = 0.000001;

// ---- cells -----------------------------------------------------------------

Cell* time_make_at(double seconds, Cell* cell) {
    cell_type_set(cell, T_TIME);
    cell_set_double(cell, seconds);
    return cell;
}

Cell* time_make_in(Node block, uint32_t high, uint32_t low) {
    Cell* cell = cell_series_append(block);
    cell_init(cell, T_TIME);
    cell->w2 = low;
    cell->w3 = high;
    return cell;
}

Cell* time_push(double seconds) { return time_make_at(seconds, stack_push_new(T_TIME)); }

int32_t time_hours(double t) {
    int32_t n;
    return integer_from_double(t / 3600.0, &n) ? n : (t < 0 ? INT32_MIN : INT32_MAX);
}

int32_t time_minutes(double t) {
    double m = std::floor(std::fmod(std::fabs(t), 3600.0) / 60.0);
    return std::isnan(m) ? 0 : int32_t(m);
}

// Writes field 1 (integer! hours), 2 (integer! minutes) or 3 (float! t mod
// 60) of the seconds t into out.
static void time_field_make_at(double t, int32_t index, Cell* out) {
    switch (index) {
    case TIME_HOUR: cell_init(out, T_INTEGER); integer_set(out, int32_t(time_hours(t))); return;
    case TIME_MINUTE: cell_init(out, T_INTEGER); integer_set(out, int32_t(time_minutes(t))); return;
    default: float_make_at(out, std::fmod(t, 60.0)); return;
    }
}

Cell* time_get_field(const Cell* time, int32_t index) {
    double t = cell_double(time);
    Cell* slot = stack_push_slot();
    time_field_make_at(t, index, slot);
    return slot;
}

static bool field_word_q(uint8_t type) {
    return type == T_WORD || type == T_LIT_WORD || type == T_SET_WORD || type == T_GET_WORD;
}

int32_t time_field_index(const Cell* word, const Cell* value) {
    if (field_word_q(cell_type(word))) {
        uint32_t symbol = symbol_resolve(word_symbol(word));
        if (symbol == symbol_resolve(runtime_symbol(SYM_HOUR))) return TIME_HOUR;
        if (symbol == symbol_resolve(runtime_symbol(SYM_MINUTE))) return TIME_MINUTE;
        if (symbol == symbol_resolve(runtime_symbol(SYM_SECOND))) return TIME_SECOND;
    }
    if (value != nullptr && cell_type(value) == T_TIME) error_raise(ERR_CANNOT_USE, word, value);
    return -1;
}

double time_field_set(double t, int32_t field, const Cell* value) {
    uint8_t type = cell_type(value);
    if (field == TIME_SECOND) {
        double s;
        if (type == T_INTEGER) s = double(cell_int(value));
        else if (type == T_FLOAT) s = cell_double(value);
        else error_raise(ERR_INVALID_ARG, value);
        return t - (std::fmod(t, 60.0) - s);
    }
    if (type != T_INTEGER) error_raise(ERR_INVALID_ARG, value);
    double n = double(cell_int(value));
    if (field == TIME_HOUR) return t - (std::floor(t / 3600.0) - n) * 3600.0;
    return t - (std::floor(std::fmod(t, 3600.0) / 60.0) - n) * 60.0;
}

// ---- text ------------------------------------------------------------------

// The digits of s in plain notation, however small ("0.0000005"); ndigits
// as float_to_digits takes it. Returns the length written to out.
static int32_t seconds_plain_text(double s, int32_t ndigits, char* out) {
    FloatDigits d = float_to_digits(s, ndigits, false);
    int32_t n = 0;
    if (d.point <= 0) {
        out[n++] = '0';
        out[n++] = '.';
        for (int32_t i = 0; i < -d.point; i++) out[n++] = '0';
        std::memcpy(out + n, d.text, size_t(d.count));
        n += d.count;
    } else {
        int32_t whole = std::min(d.point, d.count);
        std::memcpy(out + n, d.text, size_t(whole));
        n += whole;
        for (int32_t i = d.count; i < d.point; i++) out[n++] = '0';
        if (d.count > d.point) {
            out[n++] = '.';
            std::memcpy(out + n, d.text + d.point, size_t(d.count - d.point));
            n += d.count - d.point;
        }
    }
    out[n] = '\0';
    return n;
}

// The seconds s = t mod 60 (t >= 0, s > 0) with the fewest digits that give
// t back when the loader adds them to the whole minutes t - s: 10:00:01.1
// shows "1.1", not the 1.0999999999985448 that s is. The shortest digits of
// s itself always do, so the search ends there. out holds at least
// TIME_TEXT_EXACT_SIZE - 48 bytes.
static void seconds_exact_text(double t, double s, char* out) {
    double minutes = t - s;
    for (int32_t ndigits = 1; ndigits < 17; ndigits++) {
        int32_t n = seconds_plain_text(s, ndigits, out);
        double read = string_to_float(out, out + n, 0, nullptr);
        if (read < 60.0 && minutes + read == t) return;
    }
    seconds_plain_text(s, 0, out);
}

// The text of t. Exact, the seconds are the fewest digits that load back to
// the same t; else they show at most 6 significant digits and nothing below
// a microsecond.
static int32_t time_text_with(double t, char* out, bool exact) {
    if (!std::isfinite(t)) {
        const char* text = float_to_text(t, FLOAT_TEXT_DOUBLE);
        int32_t n = int32_t(std::strlen(text));
        std::memcpy(out, text, size_t(n));
        return n;
    }
    int32_t n = 0;
    if (t < 0) {
        out[n++] = '-';
        t = -t;
    }
    // The seconds as they will print; when they round up to 60 the whole
    // value is rounded first, so the carry reaches the minutes and hours.
    double s = std::fmod(t, 60.0);
    const char* seconds = nullptr;
    char exact_seconds[TIME_TEXT_EXACT_SIZE - 48];
    if (exact) {
        if (s > 0) {
            seconds_exact_text(t, s, exact_seconds);
            seconds = exact_seconds;
        }
    } else if (s >= TIME_SECONDS_SHOWN) {
        seconds = float_to_text(s, FLOAT_TEXT_SECONDS);
        const char* text_end = seconds + std::strlen(seconds);
        if (string_to_float(seconds, text_end, 0, nullptr) >= 60.0) {
            t = t - s + 60.0;
            seconds = nullptr;
        }
    }
    double hours = std::floor(t / 3600.0);
    if (hours < 1e18) {
        char digits[24];
        int k = 0;
        uint64_t h = uint64_t(hours);
        do {
            digits[k++] = char('0' + h % 10);
            h /= 10;
        } while (h != 0);
        while (k > 0) out[n++] = digits[--k];
    } else {
        const char* text = float_form(hours, 0, false);
        size_t len = std::strlen(text);
        std::memcpy(out + n, text, len);
        n += int32_t(len);
    }
    int32_t minutes = int32_t(std::floor(std::fmod(t, 3600.0) / 60.0));
    out[n++] = ':';
    out[n++] = char('0' + minutes / 10);
    out[n++] = char('0' + minutes % 10);
    out[n++] = ':';
    if (seconds == nullptr) {
        out[n++] = '0';
        out[n++] = '0';
    } else {
        size_t len = std::strlen(seconds);
        if (len == 1 || seconds[1] == '.') out[n++] = '0';
        std::memcpy(out + n, seconds, len);
        n += int32_t(len);
    }
    return n;
}

int32_t time_text(double t, char* out) { return time_text_with(t, out, false); }
int32_t time_text_exact(double t, char* out) { return time_text_with(t, out, true); }

int32_t time_form_text(double seconds, Cell* target, int32_t budget) {
    char text[64];
    int32_t n = time_text(seconds, text);
    string_append_ascii(target, text, uint32_t(n));
    return budget - n;
}

int32_t time_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                  int32_t) {
    return time_form_text(cell_double(value), target, budget);
}

// Molded, a time loads back as the same value: its seconds keep the digits
// that give it back.
int32_t time_mold(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                  int32_t) {
    char text[TIME_TEXT_EXACT_SIZE];
    int32_t n = time_text_exact(cell_double(value), text);
    string_append_ascii(target, text, uint32_t(n));
    return budget - n;
}

// ---- make, to ----------------------------------------------------------------

void time_bad_spec(const Cell* spec) {
    error_raise_type(ERR_BAD_TO_ARG, T_TIME, spec);
}

static bool text_type_q(uint8_t type) {
    return type == T_STRING || type == T_FILE || type == T_URL || type == T_TAG ||
           type == T_EMAIL || type == T_REF;
}

// Hours, minutes and seconds from a block: integers, the third may be a
// float, only the first may be negative (and then negates the total).
static double time_from_block(const Cell* spec) {
    SeriesBuffer* buffer = series_buffer_of(spec);
    uint32_t length = buffer->length();
    uint32_t head = uint32_t(series_index(spec)) < length ? uint32_t(series_index(spec)) : length;
    uint32_t count = length - head;
    if (count > 3) time_bad_spec(spec);
    const Cell* values = block_cells(buffer) + head;
    static const double weights[3] = {3600.0, 60.0, 1.0};
    double total = 0;
    bool negative = false;
    for (uint32_t i = 0; i < count; ++i) {
        double v;
        if (cell_type(&values[i]) == T_INTEGER) v = double(cell_int(&values[i]));
        else if (i == 2 && cell_type(&values[i]) == T_FLOAT) v = cell_double(&values[i]);
        else time_bad_spec(spec);
        if (v < 0) {
            if (i != 0) time_bad_spec(spec);
            negative = true;
            v = -v;
        }
        total += v * weights[i];
    }
    return negative ? -total : total;
}

// A text that reads as one time! token (surrounding blanks allowed).
static double time_from_text(const Cell* spec) {
    SeriesBuffer* buffer = series_buffer_of(spec);
    uint32_t length = buffer->length();
    uint32_t head = uint32_t(series_index(spec)) < length ? uint32_t(series_index(spec)) : length;
    uint32_t unit = buffer->unit();
    uint8_t text[64];
    uint32_t n = 0;
    for (uint32_t i = head; i < length; ++i) {
        uint32_t c = 0;
        std::memcpy(&c, buffer->head_ptr() + i * unit, unit == 16 ? 4 : unit);
        if (c > 127 || n >= sizeof text) time_bad_spec(spec);
        text[n++] = uint8_t(c);
    }
    uint32_t first = 0;
    while (first < n && (text[first] == ' ' || text[first] == '\t' || text[first] == '\n' ||
                         text[first] == '\r'))
        ++first;
    while (n > first && (text[n - 1] == ' ' || text[n - 1] == '\t' || text[n - 1] == '\n' ||
                         text[n - 1] == '\r'))
        --n;
    Cell result;
    if (n == first || !scan_time(text + first, text + n, &result)) time_bad_spec(spec);
    return cell_double(&result);
}

const Cell* time_make(Cell* proto, const Cell* spec, uint8_t) {
    uint8_t type = cell_type(spec);
    double t;
    switch (type) {
    case T_TIME: return spec;
    case T_INTEGER: t = double(cell_int(spec)); break;
    case T_FLOAT:
    case T_PERCENT: t = cell_double(spec); break;
    case T_BLOCK:
    case T_PAREN:
    case T_HASH: t = time_from_block(spec); break;
    default:
        if (!text_type_q(type)) time_bad_spec(spec);
        t = time_from_text(spec);
        break;
    }
    cell_init(proto, T_TIME);
    cell_set_double(proto, t);
    return proto;
}

// ---- path selection, pick ------------------------------------------------------

void time_eval_path(Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                    bool, Cell* out) {
    int32_t field = -1;
    if (cell_type(element) == T_INTEGER) {
        int32_t n = cell_int(element);
        if (n >= 1 && n <= 3) field = n;
    } else if (field_word_q(cell_type(element))) {
        field = time_field_index(element, nullptr);
    }
    if (field < 0) error_raise(ERR_INVALID_PATH, path, element);
    if (set_value == nullptr) {
        time_field_make_at(cell_double(parent), field, out);
        return;
    }
    cell_set_double(parent, time_field_set(cell_double(parent), field, set_value));
    cell_copy(set_value, out);
}

void time_pick(Cell* time, const Cell* index) {
    int32_t field = -1;
    int64_t n;
    if (field_word_q(cell_type(index))) field = time_field_index(index, time);
    else if (index_argument(index, &n) && n >= 1 && n <= 3) field = int32_t(n);
    if (field < 1 || field > 3) error_raise(ERR_OUT_OF_RANGE, index);
    time_field_make_at(cell_double(time), field, time);
}

// ---- arithmetic ------------------------------------------------------------------

[[noreturn]] static void raise_not_related(RuntimeWord word) {
    error_raise_type(ERR_NOT_RELATED, runtime_word(word), T_TIME);
}

void time_add(Cell* value1, const Cell* value2) {
    if (cell_type(value2) == T_DATE) {
        Cell time = *value1;
        cell_copy(value2, value1);
        date_add_subtract(value1, &time, OP_ADD);
        return;
    }
    float_do_math(value1, value2, OP_ADD);
}

void time_subtract(Cell* value1, const Cell* value2) {
    if (cell_type(value2) == T_DATE) raise_not_related(W_SUBTRACT);
    float_do_math(value1, value2, OP_SUBTRACT);
}

void time_multiply(Cell* value1, const Cell* value2) {
    if (cell_type(value2) == T_TIME) raise_not_related(W_MULTIPLY);
    float_do_math(value1, value2, OP_MULTIPLY);
}

void time_divide(Cell* value1, const Cell* value2) {
    bool ratio = cell_type(value2) == T_TIME;
    float_do_math(value1, value2, OP_DIVIDE);
    if (ratio) cell_type_set(value1, T_FLOAT);
}

void time_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down,
                bool floor, bool ceiling, bool half_ceiling) {
    if (refinement_given(scale, value) && cell_type(scale) == T_MONEY) {
        Cell word;
        stack_caller_word(&word);
        error_raise_type(ERR_NOT_RELATED, &word, T_MONEY);
    }
    float_round_cell(value, scale, RoundFlags{even, down, half_down, floor, ceiling, half_ceiling});
    double t = cell_type(value) == T_INTEGER ? double(cell_int(value)) : cell_double(value);
    cell_init(value, T_TIME);
    cell_set_double(value, t);
}

// Parity of the whole seconds within the minute, a microsecond short of the
// next second counting as that second.
static int64_t time_whole_second(const Cell* value) {
    double t = cell_double(value);
    double u = t >= 0 ? t + 0.000001 : t - 0.000001;
    double s = std::trunc(std::fmod(u, 60.0));
    return std::isnan(s) ? 0 : int64_t(s);
}
bool time_even_q(const Cell* value) { return time_whole_second(value) % 2 == 0; }
bool time_odd_q(const Cell* value) { return time_whole_second(value) % 2 != 0; }

// ---- registration ----------------------------------------------------------------

void init_time() {
    const ActionRow actions[] = {
        {A_MAKE, time_make},
        {A_RANDOM, ACTION_INHERIT},
        {A_TO, time_make},
        {A_FORM, time_form},
        {A_MOLD, time_mold},
        {A_EVAL_PATH, time_eval_path},
        {A_COMPARE, ACTION_INHERIT},
        {A_ABSOLUTE, ACTION_INHERIT},
        {A_ADD, time_add},
        {A_DIVIDE, time_divide},
        {A_MULTIPLY, time_multiply},
        {A_NEGATE, ACTION_INHERIT},
        {A_REMAINDER, ACTION_INHERIT},
        {A_ROUND, time_round},
        {A_SUBTRACT, time_subtract},
        {A_EVEN_Q, time_even_q},
        {A_ODD_Q, time_odd_q},
        {A_PICK, time_pick},
    };
    datatype_register(T_TIME, T_FLOAT, "time!", actions);
    datatype_hooks_set(T_TIME, {.scan = scan_time});
}

// ---- literal loader -------------------------------------------------------------------

// An optional "-", then digits with "'" skipped between them. Returns the
// position after the field, or null when there is no digit or the value
// leaves the 32-bit range ("-2147483648" is the one exception).
static const uint8_t* scan_time_field(const uint8_t* p, const uint8_t* end, int64_t* out) {
    bool negative = p < end && *p == '-';
    if (negative) ++p;
    int64_t v = 0;
    int digits = 0;
    while (p < end && ((*p >= '0' && *p <= '9') || (*p == '\'' && digits > 0))) {
        if (*p != '\'') {
            v = v * 10 + (*p - '0');
            ++digits;
            if (v > 2147483648LL) return nullptr;
        }
        ++p;
    }
    if (digits == 0) return nullptr;
    if (!negative && v > 2147483647LL) return nullptr;
    *out = negative ? -v : v;
    return p;
}

bool scan_time(const uint8_t* start, const uint8_t* end, Cell* out) {
    const uint8_t* p = start;
    if (p >= end) return false;
    bool negative = *p == '-';
    if (*p == '+') ++p;
    int64_t first, second;
    p = scan_time_field(p, end, &first);
    if (p == nullptr || p >= end || *p != ':') return false;
    const uint8_t* second_start = ++p;
    p = scan_time_field(p, end, &second);
    if (p == nullptr || second < 0 || *second_start == '-') return false;
    int64_t hours = first, minutes = second;
    double seconds = 0;
    if (p < end) {
        if (*p == ':' && p + 1 == end) return false;
        if (*p != '.' && *p != ',' && *p != ':') return false;
        for (const uint8_t* q = start; q < end; ++q)
            if (*q == 'e' || *q == 'E') return false;
        const uint8_t* seconds_start = p + 1;
        if (*p != ':') {
            hours = 0;
            minutes = first;
            seconds_start = second_start;
        }
        // The decimal reader takes "." as the point; a "," point is read as one.
        char text[TIME_TEXT_EXACT_SIZE];
        size_t n = size_t(end - seconds_start);
        if (n == 0 || n >= sizeof text) return false;
        for (size_t i = 0; i < n; ++i) {
            uint8_t c = seconds_start[i];
            if (!((c >= '0' && c <= '9') || c == '.' || c == ',')) return false;
            text[i] = c == ',' ? '.' : char(c);
        }
        int32_t unconsumed = 0;
        seconds = string_to_float(text, text + n, 0, &unconsumed);
        if (unconsumed != 0 || !std::isfinite(seconds) || seconds >= 60.0) return false;
    }
    if (hours < 0) negative = true;
    double total = double(hours < 0 ? -hours : hours) * 3600.0 +
                   double(minutes < 0 ? -minutes : minutes) * 60.0 + seconds;
    if (negative) total = -total;
    if (out != nullptr) {
        cell_init(out, T_TIME);
        cell_set_double(out, total);
    }
    return true;
}

} // namespace kel
