#include "core/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace kel {

// Room for the longest text any function here returns: a sign, "0.", six
// zeros and FLOAT_DIGITS_EXACT digits, or a scientific mantissa of that many
// digits with its exponent.
constexpr size_t FLOAT_TEXT_SIZE = 1024;

// The one static buffer every result lives in until the next call. Position 0
// is kept free for a sign in front of the digits.
static char float_text[FLOAT_TEXT_SIZE];

// Significant digits kept when reading; any digit after them only matters as
// "something nonzero follows", which one extra digit records. A decimal number
// that lies exactly halfway between two doubles has at most 767 significant
// digits, so rounding comes out the same as with every digit.
constexpr int32_t READ_DIGITS_KEPT = 780;

// Decimal exponents beyond these bounds are infinity or zero whatever the
// digits (the value is 0.d1d2... x 10^exponent with d1 nonzero).
constexpr int64_t READ_EXPONENT_MAX = 400;
constexpr int64_t READ_EXPONENT_MIN = -400;

// An exponent in the text saturates here; the result is then settled by the
// bounds above alone.
constexpr int64_t READ_EXPONENT_CLAMP = 1000000000;

static const char TEXT_INF[] = "1.#INF";
static const char TEXT_NEG_INF[] = "-1.#INF";
static const char TEXT_NAN[] = "1.#NaN";

static FloatDigits float_final_text(const char* text, int32_t point, bool negative) {
    size_t n = std::strlen(text);
    std::memcpy(float_text + 1, text, n + 1);
    return FloatDigits{float_text + 1, point, int32_t(n), negative};
}

// The special texts of infinities and NaN, or null for a finite x.
static const char* float_special_text(double x) {
    if (std::isnan(x)) return TEXT_NAN;
    if (std::isinf(x)) return x < 0 ? TEXT_NEG_INF : TEXT_INF;
    return nullptr;
}

FloatDigits float_to_digits(double x, int32_t ndigits, bool dot_zero) {
    bool negative = std::signbit(x);
    if (std::isnan(x)) return float_final_text(TEXT_NAN, FLOAT_POINT_SPECIAL, false);
    if (std::isinf(x)) return float_final_text(negative ? TEXT_NEG_INF : TEXT_INF, FLOAT_POINT_SPECIAL, negative);
    if (x == 0) {
        const char* text = dot_zero ? (negative ? "-0.0" : "0.0") : (negative ? "-0" : "0");
        return float_final_text(text, FLOAT_POINT_ZERO, negative);
    }

    // Scientific text "d.ddde[+-]xx" of |x|: shortest round-trip digits, or
    // ndigits significant digits correctly rounded.
    char sci[FLOAT_TEXT_SIZE];
    double magnitude = std::fabs(x);
    std::to_chars_result r;
    if (ndigits <= 0) {
        r = std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific);
    } else {
        int precision = (ndigits > FLOAT_DIGITS_EXACT ? FLOAT_DIGITS_EXACT : ndigits) - 1;
        r = std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific, precision);
    }
    const char* p = sci;
    const char* end = r.ptr;

    char* out = float_text + 1;
    int32_t count = 0;
    for (; p < end && *p != 'e'; p++)
        if (*p != '.') out[count++] = *p;
    while (count > 1 && out[count - 1] == '0') count--;
    out[count] = '\0';

    int32_t exponent = 0;
    if (p < end) std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
    return FloatDigits{out, exponent + 1, count, negative};
}

// Appends n copies of c.
static char* text_fill(char* out, char c, int32_t n) {
    for (int32_t i = 0; i < n; i++) *out++ = c;
    return out;
}

const char* float_form(double x, int32_t ndigits, bool dot_zero) {
    FloatDigits d = float_to_digits(x, ndigits, dot_zero);
    if (d.point >= FLOAT_POINT_ZERO) return d.text;

    char form[FLOAT_TEXT_SIZE];
    char* out = form;
    if (d.negative) *out++ = '-';
    const char* digits = d.text;
    int32_t p = d.point;

    if (p >= 18 || p <= -7) {
        *out++ = digits[0];
        *out++ = '.';
        if (d.count > 1) {
            std::memcpy(out, digits + 1, size_t(d.count - 1));
            out += d.count - 1;
        } else if (dot_zero) {
            *out++ = '0';
        } else {
            out--;  // a whole mantissa loses its point
        }
        *out++ = 'e';
        out = std::to_chars(out, form + sizeof form, p - 1).ptr;
    } else if (p <= 0) {
        *out++ = '0';
        *out++ = '.';
        out = text_fill(out, '0', -p);
        std::memcpy(out, digits, size_t(d.count));
        out += d.count;
    } else if (d.count > p) {
        std::memcpy(out, digits, size_t(p));
        out += p;
        *out++ = '.';
        std::memcpy(out, digits + p, size_t(d.count - p));
        out += d.count - p;
    } else {
        std::memcpy(out, digits, size_t(d.count));
        out += d.count;
        out = text_fill(out, '0', p - d.count);
        if (dot_zero) {
            *out++ = '.';
            *out++ = '0';
        }
    }
    *out = '\0';
    std::memcpy(float_text, form, size_t(out - form) + 1);
    return float_text;
}

const char* float_form_general(double x, int32_t precision) {
    if (const char* special = float_special_text(x)) {
        std::memcpy(float_text, special, std::strlen(special) + 1);
        return float_text;
    }
    // Beyond the exact digits %g only adds zeros, which it then strips.
    if (precision < 1) precision = 1;
    if (precision > FLOAT_DIGITS_EXACT) precision = FLOAT_DIGITS_EXACT;
    auto r = std::to_chars(float_text, float_text + sizeof float_text - 1, x,
                           std::chars_format::general, precision);
    *r.ptr = '\0';
    return float_text;
}

static bool char_digit(char c) { return c >= '0' && c <= '9'; }

// The significant digits read so far: value = 0.digits x 10^point.
struct DecimalText {
    char digits[READ_DIGITS_KEPT + 1];
    int32_t count = 0;
    int64_t point = 0;
    bool any_digit = false;  // a digit (even a zero) was seen

    void add(char c) {
        if (count < READ_DIGITS_KEPT) digits[count++] = c;
        else if (c != '0' && count == READ_DIGITS_KEPT) digits[count++] = '1';
    }
};

// The correctly rounded double of 0.digits x 10^exponent (digits nonempty).
static double decimal_to_double(const DecimalText& d, int64_t exponent) {
    if (exponent > READ_EXPONENT_MAX) return HUGE_VAL;
    if (exponent < READ_EXPONENT_MIN) return 0.0;
    char text[READ_DIGITS_KEPT + 32];
    char* out = text;
    *out++ = '0';
    *out++ = '.';
    std::memcpy(out, d.digits, size_t(d.count));
    out += d.count;
    *out++ = 'e';
    out = std::to_chars(out, text + sizeof text, exponent).ptr;
    double value = 0;
    auto r = std::from_chars(text, out, value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) return exponent > 0 ? HUGE_VAL : 0.0;
    return value;
}

double string_to_float(const char* start, const char* end, int32_t extra_exponent,
                       int32_t* unconsumed) {
    const char* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';

    // One digit, then ".#I" or ".#N": the texts the forms give infinities and NaN.
    if (end - p >= 4 && char_digit(p[0]) && p[1] == '.' && p[2] == '#') {
        char c = p[3];
        if (c == 'I' || c == 'i' || c == 'N' || c == 'n') {
            // The rest of "INF" or "NAN" is taken as far as it matches, in any case.
            const char* word = (c == 'I' || c == 'i') ? "INF" : "NAN";
            p += 3;
            for (const char* w = word; *w && p < end && (*p & ~0x20) == *w; w++) p++;
            if (unconsumed) *unconsumed = int32_t(end - p);
            if (c == 'N' || c == 'n') return std::nan("");
            return negative ? -HUGE_VAL : HUGE_VAL;
        }
    }

    DecimalText d;
    for (; p < end && char_digit(*p); p++) {
        d.any_digit = true;
        if (d.count == 0 && *p == '0') continue;
        d.add(*p);
        d.point++;
    }
    if (p < end && *p == '.') {
        const char* q = p + 1;
        for (; q < end && char_digit(*q); q++) {
            d.any_digit = true;
            if (d.count == 0 && *q == '0') d.point--;
            else d.add(*q);
        }
        // A lone "." after no digit at all is not part of a number.
        if (d.any_digit) p = q;
    }
    if (!d.any_digit) {
        if (unconsumed) *unconsumed = int32_t(end - start);
        return 0.0;
    }

    int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool exponent_negative = false;
        if (q < end && (*q == '+' || *q == '-')) exponent_negative = *q++ == '-';
        if (q < end && char_digit(*q)) {
            for (; q < end && char_digit(*q); q++) {
                exponent = exponent * 10 + (*q - '0');
                if (exponent > READ_EXPONENT_CLAMP) exponent = READ_EXPONENT_CLAMP;
            }
            if (exponent_negative) exponent = -exponent;
            p = q;
        }
    }
    if (unconsumed) *unconsumed = int32_t(end - p);

    double value = 0.0;
    if (d.count > 0) value = decimal_to_double(d, d.point + exponent + extra_exponent);
    return negative ? -value : value;
}

} // namespace kel
