#include "datatypes/float.hpp"
#include "core/float_text.hpp"
#include "datatypes/money.hpp"
#include "datatypes/point.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/vector.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/logic.hpp"
#include "core/series.hpp"
#include "core/vocabulary.hpp"
#include "core/lexer.hpp"
#include "runtime/random.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include <cfloat>
#include <cmath>
#include <cstring>

namespace kel {

bool float_pretty = false;

// ---- kernel ----------------------------------------------------------------

[[noreturn]] static void raise_with_datatype(ScriptError id, const Cell* word, uint8_t type) {
    if (word != nullptr) error_raise_type(id, word, type);
    error_raise_type(id, type);
}

void float_do_math(Cell* left, const Cell* right, int32_t op) {
    uint8_t ltype = cell_type(left), rtype = cell_type(right);
    switch (rtype) {
    case T_TUPLE:
        tuple_math_op(left, right, op);
        return;
    case T_MONEY:
        money_do_math(left, right, op);
        return;
    case T_VECTOR:
        vector_number_first_op(left, right, op);
        return;
    case T_PAIR:
    case T_POINT2D:
    case T_POINT3D:
        // A time! never combines with a pair or point.
        if (ltype == T_TIME) raise_with_datatype(ERR_INVALID_TYPE, nullptr, rtype);
        if (op == OP_SUBTRACT || op == OP_DIVIDE)
            raise_with_datatype(ERR_NOT_RELATED,
                                runtime_word(op == OP_DIVIDE ? W_DIVIDE : W_SUBTRACT), rtype);
        point_math_number_first(left, right, op);
        return;
    case T_INTEGER:
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME:
        break;
    case T_CHAR:
        if (ltype != T_PERCENT && ltype != T_TIME) break;
        [[fallthrough]];
    default:
        raise_with_datatype(ERR_INVALID_TYPE, nullptr, rtype);
    }
    double a = ltype == T_INTEGER ? double(cell_int(left)) : cell_double(left);
    double b = rtype == T_INTEGER || rtype == T_CHAR ? double(cell_int(right))
                                                     : cell_double(right);
    double result = float_math_op(a, b, op);
    uint8_t type = ltype == T_TIME || rtype == T_TIME ? T_TIME
                 : ltype == T_PERCENT                 ? T_PERCENT
                                                      : T_FLOAT;
    cell_init(left, type);
    cell_set_double(left, result);
}

// ---- compare -----------------------------------------------------------------

int32_t float_compare(const Cell* value1, const Cell* value2, int32_t op) {
    uint8_t other = cell_type(value2);
    if ((op == CMP_FIND || op == CMP_SAME || op == CMP_STRICT_EQUAL) &&
        other != cell_type(value1))
        return 1;
    double b;
    switch (other) {
    case T_INTEGER: b = double(cell_int(value2)); break;
    case T_FLOAT:
    case T_PERCENT:
    case T_TIME: b = cell_double(value2); break;
    case T_MONEY: {
        // Floats that money cannot hold order outside every amount.
        double a = std::fabs(cell_double(value1));
        if (a >= 1e17) return 1;
        if (a > 0 && a < 1e-5) return -1;
        Cell converted;
        money_from_float_at(&converted, cell_double(value1), true);
        return money_compare(&converted, value2, op);
    }
    default:
        return COMPARE_INCOMPARABLE;
    }
    return float_compare_doubles(cell_double(value1), b, op);
}

// ---- text ------------------------------------------------------------------

// Significant digits of "%g" by mode, first try and pretty retry.
static const int32_t text_precision[6] = {7, 16, 7, 13, 0, 7};
static const int32_t text_precision_pretty[6] = {5, 14, 14, 14, 5, 5};

static const char* float_text_raw(double x, int32_t mode, bool retry) {
    if (mode == FLOAT_TEXT_SECONDS && !retry) return float_form(x, 6, false);
    return float_form_general(x, retry ? text_precision_pretty[mode] : text_precision[mode]);
}

// Whether a pretty-printed text carries a binary-to-decimal artefact: too many
// digits, ending in "01" or "99".
static bool float_text_noisy(const char* text) {
    const char* e = std::strchr(text, 'e');
    size_t digits_end = e != nullptr ? size_t(e - text) : std::strlen(text);
    if (e == nullptr) {
        bool leading_zero = text[0] == '0' || (text[0] == '-' && text[1] == '0');
        if (digits_end <= (leading_zero ? 17u : 16u)) return false;
    } else if (digits_end <= 16) {
        return false;
    }
    const char* last = text + digits_end - 2;
    return (last[0] == '0' && last[1] == '1') || (last[0] == '9' && last[1] == '9');
}

const char* float_to_text(double x, int32_t mode) {
    static char buffer[64];
    if (std::isnan(x)) return "1.#NaN";
    if (std::isinf(x)) return x > 0 ? "1.#INF" : "-1.#INF";
    bool percent = mode == FLOAT_TEXT_SINGLE_PERCENT || mode == FLOAT_TEXT_PERCENT;
    if (float_pretty && std::fabs(x) < FLOAT_EPSILON)
        return percent ? "0%" : mode == FLOAT_TEXT_POINT ? "0" : "0.0";

    const char* raw = float_text_raw(x, mode, false);
    if (float_pretty && float_text_noisy(raw)) raw = float_text_raw(x, mode, true);

    // Copy, dropping the exponent's "+" and leading zeros.
    char* out = buffer;
    const char* e = std::strchr(raw, 'e');
    size_t mantissa = e != nullptr ? size_t(e - raw) : std::strlen(raw);
    std::memcpy(out, raw, mantissa);
    out += mantissa;
    bool has_point = std::memchr(raw, '.', mantissa) != nullptr;
    if ((mode == FLOAT_TEXT_SINGLE || mode == FLOAT_TEXT_DOUBLE) && !has_point) {
        *out++ = '.';
        *out++ = '0';
    }
    if (e != nullptr) {
        *out++ = 'e';
        const char* p = e + 1;
        if (*p == '+') ++p;
        else if (*p == '-') *out++ = *p++;
        while (*p == '0' && p[1] != '\0') ++p;
        while (*p != '\0') *out++ = *p++;
    }
    if (percent) *out++ = '%';
    *out = '\0';
    return buffer;
}

static int32_t append_text(Cell* target, const char* text, int32_t budget) {
    uint32_t length = uint32_t(std::strlen(text));
    string_append_ascii(target, text, length);
    return budget - int32_t(length);
}

int32_t float_form_value(const Cell* value, Cell* target, bool, bool, bool, bool,
                         int32_t budget, int32_t) {
    return append_text(target, float_to_text(cell_double(value), FLOAT_TEXT_DOUBLE), budget);
}

int32_t float_mold_value(const Cell* value, Cell* target, bool, bool, bool, bool,
                         int32_t budget, int32_t) {
    return append_text(target, float_form(cell_double(value), 0, true), budget);
}

// ---- make, to ----------------------------------------------------------------

// The text from the position to the tail read as one decimal number.
static double float_from_text(const Cell* spec) {
    Cell text;
    cell_copy(spec, &text);
    uint32_t count = string_ks_length_q(&text);
    int32_t error = 0;
    double d = count == 0 ? 0.0 : scan_float(string_ks_head(&text), count,
                                             series_buffer_of(&text)->unit(), &error);
    if (count == 0 || error != 0) error_raise_type(ERR_BAD_TO_ARG, T_FLOAT, spec);
    return d;
}

// The first value the text loads as: a float! or percent! gives its double, an
// integer! its value (so "5" is 500%).
static double percent_from_text(const Cell* spec) {
    CellRoot loaded;
    LexerOptions options;
    options.one = true;
    lexer_scan_string(&loaded.cell, spec, -1, options, nullptr);
    switch (cell_type(&loaded.cell)) {
    case T_FLOAT:
    case T_PERCENT: return cell_double(&loaded.cell);
    case T_INTEGER: return double(cell_int(&loaded.cell));
    default: error_raise_type(ERR_BAD_TO_ARG, T_PERCENT, spec);
    }
}

// A block of exactly [mantissa exponent], integers or floats: the mantissa
// times ten to the power of the exponent truncated to an integer.
static double float_from_block(const Cell* spec, uint8_t type) {
    if (block_ks_length_q(spec) != 2) error_raise_type(ERR_BAD_TO_ARG, type, spec);
    double parts[2];
    for (uint32_t i = 0; i < 2; i++) {
        const Cell* part = block_ks_abs_at(spec, uint32_t(series_index(spec)) + i);
        uint8_t t = cell_type(part);
        if (t != T_INTEGER && t != T_FLOAT) error_raise_type(ERR_BAD_TO_ARG, type, spec);
        parts[i] = t == T_INTEGER ? double(cell_int(part)) : cell_double(part);
    }
    double exponent = std::trunc(parts[1]);
    // A negative power divides by the positive one, which is exact for the
    // powers of ten a double holds exactly (0.15, not 0.15000000000000002).
    return exponent < 0 ? parts[0] / std::pow(10.0, -exponent) : parts[0] * std::pow(10.0, exponent);
}

const Cell* float_make(Cell* proto, const Cell* spec, uint8_t type) {
    double d;
    switch (cell_type(spec)) {
    case T_INTEGER:
    case T_CHAR: d = double(cell_int(spec)); break;
    case T_TIME: d = cell_double(spec); break;
    case T_FLOAT:
    case T_PERCENT: d = cell_double(spec); break;
    case T_MONEY: d = money_to_float(spec); break;
    case T_BINARY: {
        SeriesBuffer* buffer = series_buffer_of(spec);
        uint32_t total = buffer->length();
        uint32_t head = uint32_t(series_index(spec)) < total ? uint32_t(series_index(spec)) : total;
        const uint8_t* bytes = buffer->head_ptr() + head;
        uint32_t length = total - head;
        uint64_t bits = 0;
        for (uint32_t i = 0; i < length && i < 8; ++i) bits = (bits << 8) | bytes[i];
        d = std::bit_cast<double>(bits);
        break;
    }
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
        d = type == T_PERCENT ? percent_from_text(spec) : float_from_text(spec);
        break;
    case T_BLOCK: case T_PAREN: case T_HASH:
        d = float_from_block(spec, type);
        break;
    default:
        error_raise_type(ERR_BAD_TO_ARG, type, spec);
    }
    cell_init(proto, type);
    cell_set_double(proto, d);
    return proto;
}

// ---- one-operand actions -------------------------------------------------------

void float_absolute(Cell* value) { cell_set_double(value, std::fabs(cell_double(value))); }

void float_negate(Cell* value) { cell_set_double(value, 0.0 - cell_double(value)); }

// The lowest bit of the value truncated toward zero, for any magnitude.
static bool float_odd(double x) { return std::fabs(std::fmod(std::trunc(x), 2.0)) == 1.0; }

bool float_even_q(const Cell* value) { return !float_odd(cell_double(value)); }
bool float_odd_q(const Cell* value) { return float_odd(cell_double(value)); }

// ---- two-operand actions -------------------------------------------------------

void float_add(Cell* value1, const Cell* value2) { float_do_math(value1, value2, OP_ADD); }
void float_subtract(Cell* value1, const Cell* value2) { float_do_math(value1, value2, OP_SUBTRACT); }
void float_multiply(Cell* value1, const Cell* value2) { float_do_math(value1, value2, OP_MULTIPLY); }
void float_divide(Cell* value1, const Cell* value2) { float_do_math(value1, value2, OP_DIVIDE); }
void float_remainder(Cell* value1, const Cell* value2) { float_do_math(value1, value2, OP_REMAINDER); }

void float_power(Cell* base, const Cell* exponent) {
    uint8_t type = cell_type(exponent);
    double e;
    if (type == T_INTEGER) e = double(cell_int(exponent));
    else if (type == T_FLOAT) e = cell_double(exponent);
    else {
        Cell word;
        stack_caller_word(&word);
        error_raise_type(ERR_EXPECT_ARG, &word, type);
    }
    cell_set_double(base, std::pow(cell_double(base), e));
}

// ---- round -------------------------------------------------------------------

static double with_sign_of(double magnitude, double d) { return d < 0 ? 0.0 - magnitude : magnitude; }

// v rounded to a multiple of the unit u; the caller has left alone every v
// too large for u to matter.
static double float_round_double(double v, double u, const RoundFlags& f) {
    int exponent = 0;
    double d;
    if (u >= 1.0) {
        d = v / u;
    } else {
        int e;
        double mantissa = std::frexp(u, &e);
        if (e <= -1022) {
            // 1.0 / u would overflow: work on v / 2^e and the mantissa instead.
            u = mantissa;
            v = std::ldexp(v, -e);
            exponent = e;
        }
        d = v * (1.0 / u);
    }
    double a = std::fabs(d), low = std::floor(a), half = low + 0.5, r;
    if (f.down) r = with_sign_of(low, d);
    else if (f.floor) r = std::floor(d);
    else if (f.ceiling) r = std::ceil(d);
    else if (a > half) r = with_sign_of(std::ceil(a), d);
    else if (a < half) r = with_sign_of(low, d);
    else if (f.even) r = with_sign_of(std::fmod(a, 2.0) >= 1.0 ? std::ceil(a) : low, d);
    else if (f.half_down) r = with_sign_of(low, d);
    else if (f.half_ceiling) r = std::ceil(d);
    else r = with_sign_of(std::ceil(a), d);

    if (u >= 1.0) {
        double result = u * r;
        if (std::isinf(result)) error_raise(ERR_OVERFLOW);
        return result;
    }
    return std::ldexp(r / (1.0 / u), exponent);
}

void float_round_cell(Cell* value, const Cell* scale, const RoundFlags& flags) {
    bool to = refinement_given(scale, value);
    uint8_t scale_type = to ? cell_type(scale) : uint8_t(T_NONE);
    if (scale_type == T_MONEY) {
        Cell word;
        stack_caller_word(&word);
        raise_with_datatype(ERR_NOT_RELATED, &word, T_MONEY);
    }
    bool percent = cell_type(value) == T_PERCENT;
    double v = cell_double(value);
    double u = percent ? 0.01 : 1.0;
    if (to) {
        u = std::fabs(scale_type == T_INTEGER ? double(cell_int(scale)) : cell_double(scale));
        if (percent) u /= 100.0;
    }
    if (u < std::fabs(v) * 0x1p-53) return;
    double result = float_round_double(v, u, flags);
    if (!to) {
        cell_set_double(value, result);
    } else if (scale_type == T_INTEGER) {
        int32_t n;
        if (!integer_from_double(result, &n)) error_raise(ERR_OVERFLOW);
        cell_init(value, T_INTEGER);
        integer_set(value, n);
    } else {
        cell_init(value, scale_type);
        cell_set_double(value, result);
    }
}

void float_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down,
                 bool floor, bool ceiling, bool half_ceiling) {
    float_round_cell(value, scale, RoundFlags{even, down, half_down, floor, ceiling, half_ceiling});
}

// ---- random --------------------------------------------------------------------

// With seed the generator is seeded with the exclusive or of the two halves of
// the double's bit pattern and the result is unset!. Otherwise x becomes a
// draw from 0 to x; the secure form joins two 31-bit draws for finer steps.
// Only the double changes, so percent! (which inherits this) keeps its type.
static void float_random(Cell* value, bool seed, bool secure, bool only) {
    double x = cell_double(value);
    if (seed) {
        uint64_t bits = std::bit_cast<uint64_t>(x);
        random_mt_seed(uint32_t(bits) ^ uint32_t(bits >> 32));
        unset_make_at(value);
        return;
    }
    cell_set_double(value, float_random_draw(x, secure));
}

double float_random_draw(double x, bool secure) {
    if (secure) {
        double s1 = random_secure_int();
        double s2 = random_secure_int();
        return x * (s2 + s1 / 2147483647.0) / 2147483648.0;
    }
    double r = random_mt_next() & 0x7FFFFFFFu;
    return x * r / 2147483647.0;
}

// ---- registration --------------------------------------------------------------

void init_float() {
    const ActionRow actions[] = {
        {A_MAKE, float_make},
        {A_RANDOM, float_random},
        {A_TO, float_make},
        {A_FORM, float_form_value},
        {A_MOLD, float_mold_value},
        {A_COMPARE, float_compare},
        {A_ABSOLUTE, float_absolute},
        {A_ADD, float_add},
        {A_DIVIDE, float_divide},
        {A_MULTIPLY, float_multiply},
        {A_NEGATE, float_negate},
        {A_POWER, float_power},
        {A_REMAINDER, float_remainder},
        {A_ROUND, float_round},
        {A_SUBTRACT, float_subtract},
        {A_EVEN_Q, float_even_q},
        {A_ODD_Q, float_odd_q},
    };
    datatype_register(T_FLOAT, 0, "float!", actions);
}

} // namespace kel
