// Exact conversion between doubles and decimal text, independent of the C
// locale: the shortest digits that read back to the same double (mold of
// float!), a given number of significant digits correctly rounded (seconds of
// time!, money!), the printf-style general layout that the float text modes
// start from, and correctly rounded reading of decimal text.
//
// Every text returned here lives in one static buffer that the next call of
// float_to_digits, float_form or float_form_general overwrites: callers append
// it at once.
#pragma once
#include <cstdint>

namespace kel {

// Point positions that mark a final text instead of digits.
constexpr int32_t FLOAT_POINT_ZERO = 9998;     // the text is "0", "-0", "0.0" or "-0.0"
constexpr int32_t FLOAT_POINT_SPECIAL = 9999;  // the text is "1.#INF", "-1.#INF" or "1.#NaN"

// Significant digits of the longest exact decimal expansion of a double; asking
// for more digits gives the same text.
constexpr int32_t FLOAT_DIGITS_EXACT = 767;

// The digits of a double: value = 0.d1d2...dn x 10^point, with d1 nonzero and
// dn nonzero. For zero, infinities and NaN `text` is the final text instead
// (sign included) and `point` is FLOAT_POINT_ZERO or FLOAT_POINT_SPECIAL.
struct FloatDigits {
    const char* text;  // NUL-terminated, in the static buffer
    int32_t point;
    int32_t count;     // number of digits, or the length of a final text
    bool negative;     // sign bit of the value (false for NaN, whose text has no sign)
};

// ndigits 0 or less: the shortest digits that read back to exactly x.
// ndigits n > 0: at most n significant digits, correctly rounded (ties to
// even), trailing zeros dropped.
FloatDigits float_to_digits(double x, int32_t ndigits, bool dot_zero);

// The text of x: plain notation for 1e-7 <= |x| < 1e17, else "d.ddde<exp>"
// with no "+" and no leading zeros in the exponent. A whole mantissa keeps
// ".0" when dot_zero is set (1000.0, 1.0e17) and loses the point otherwise
// (1000, 1e17).
const char* float_form(double x, int32_t ndigits, bool dot_zero);

// The text printf's "%.<precision>g" gives in the C locale ("1e+20", "0.3",
// "1.5e-05"); a precision of 0 or less counts as 1. Infinities and NaN give
// "1.#INF", "-1.#INF" and "1.#NaN".
const char* float_form_general(double x, int32_t precision);

// Reads decimal text from start up to end (exclusive) as the correctly rounded
// double: an optional sign, digits with an optional "." and an optional
// exponent ("e" or "E", optional sign, digits). extra_exponent is added to the
// decimal exponent (a caller's scaling by a power of ten). A single digit
// followed by ".#I" or ".#N" reads as an infinity or a quiet NaN ("1.#INF",
// "-1.#INF", "1.#NaN"). Reading stops at the first character that does not
// belong to the number; *unconsumed (when not null) receives the number of
// characters left, so 0 means the whole span was a number. A span without any
// digit reads as 0.0 with nothing consumed.
double string_to_float(const char* start, const char* end, int32_t extra_exponent,
                       int32_t* unconsumed);

} // namespace kel
