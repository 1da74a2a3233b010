#include "datatypes/money.hpp"
#include "datatypes/float.hpp"
#include "core/float_text.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "runtime/random.hpp"
#include "runtime/memory.hpp"
#include <cmath>
#include <cstring>

namespace kel {

using u128 = unsigned __int128;

int32_t money_digits_option = INT32_MIN;

// An amount taken apart: the magnitude counts hundred-thousandths, so it lies
// below 10^22 and every product the digit-count checks admit fits in 128 bits.
struct Money {
    bool negative;
    uint8_t currency;
    u128 magnitude;
};

static constexpr u128 pow10(int n) {
    u128 p = 1;
    while (n-- > 0) p *= 10;
    return p;
}
static constexpr u128 MONEY_LIMIT = pow10(MONEY_DIGITS);        // first magnitude that does not fit
static constexpr u128 MONEY_UNIT = pow10(MONEY_FRAC_DIGITS);    // one whole unit
static constexpr u128 MONEY_FIRST = pow10(MONEY_DIGITS - 1);    // weight of digit 1

// ---- currency list ---------------------------------------------------------

static const char boot_currencies[] =
    "AEDAFNALLAMDANGAOAARSAUDAWGAZNBAMBBDBDTBTCBGNBHDBIFBMDBNDBOBBRLBSDBTNBWPBYNBZD"
    "CADCDFCHFCKDCLPCNYCOPCRCCUCCUPCVECZKDJFDKKDOPDZDEGPERNETBETHEURFJDFKPFOKGBPGEL"
    "GGPGHSGIPGMDGNFGTQGYDHKDHNLHRKHTGHUFIDRILSIMPINRIQDIRRISKJEPJMDJODJPYKESKGSKHR"
    "KIDKMFKPWKRWKWDKYDKZTLAKLBPLKRLRDLSLLYDMADMDLMGAMKDMMKMNTMOPMRUMURMVRMWKMXNMYR"
    "MZNNADNGNNIONOKNPRNZDOMRPABPENPGKPHPPKRPLNPNDPRBPYGQARKELRONRSDRUBRWFSARSBDSCR"
    "SDGSEKSGDSHPSLLSLSSOSSRDSSPSTNSYPSZLTHBTJSTMTTNDTOPTRYTTDTVDTWDTZSUAHUGXUSDUYU"
    "UZSVESVNDVUVWSTCFAXAFXCDXOFCFPXPFYERZARZMW";

// Codes by index - 1, each NUL-terminated.
static char currency_codes[MONEY_CURRENCY_MAX][4];
static int32_t currency_count = -1;  // -1 until the boot list is loaded

void money_currency_reset() {
    currency_count = int32_t(sizeof boot_currencies - 1) / 3;
    for (int32_t i = 0; i < currency_count; ++i) {
        std::memcpy(currency_codes[i], boot_currencies + 3 * i, 3);
        currency_codes[i][3] = '\0';
    }
}

static void currencies_ready() {
    if (currency_count < 0) money_currency_reset();
}

int32_t money_currency_count() {
    currencies_ready();
    return currency_count;
}

const char* money_currency_code(int32_t index) {
    currencies_ready();
    return index >= 1 && index <= currency_count ? currency_codes[index - 1] : nullptr;
}

static uint8_t ascii_upper(uint8_t c) { return c >= 'a' && c <= 'z' ? uint8_t(c - 32) : c; }

int32_t money_currency_find(const uint8_t* code, uint32_t length) {
    currencies_ready();
    if (length != 3) return 0;
    for (int32_t i = 0; i < currency_count; ++i) {
        const char* c = currency_codes[i];
        if (ascii_upper(code[0]) == uint8_t(c[0]) && ascii_upper(code[1]) == uint8_t(c[1]) &&
            ascii_upper(code[2]) == uint8_t(c[2]))
            return i + 1;
    }
    return 0;
}

bool money_currency_append(const char* code) {
    currencies_ready();
    if (currency_count >= MONEY_CURRENCY_MAX) return false;
    for (int i = 0; i < 3; ++i)
        if (code[i] < 'A' || code[i] > 'Z') return false;
    if (code[3] != '\0') return false;
    if (money_currency_find(reinterpret_cast<const uint8_t*>(code), 3) != 0) return false;
    std::memcpy(currency_codes[currency_count], code, 4);
    currency_count++;
    return true;
}

// ---- cells -----------------------------------------------------------------

static uint8_t* money_bytes(Cell* cell) { return reinterpret_cast<uint8_t*>(cell); }
static const uint8_t* money_bytes(const Cell* cell) { return reinterpret_cast<const uint8_t*>(cell); }

static Money money_unpack(const Cell* cell) {
    const uint8_t* bytes = money_bytes(cell);
    u128 m = 0;
    for (int i = 0; i < MONEY_PACKED_BYTES; ++i) {
        uint8_t b = bytes[5 + i];
        m = m * 100 + (b >> 4) * 10 + (b & 15);
    }
    return Money{(cell->header & MONEY_SIGN) != 0, bytes[4], m};
}

// Writes the amount with header exactly money! (a zero keeps its sign bit as
// given; it never shows).
static void money_pack(Cell* cell, const Money& m) {
    cell_init(cell, T_MONEY);
    if (m.negative) cell->header |= MONEY_SIGN;
    uint8_t* bytes = money_bytes(cell);
    bytes[4] = m.currency;
    u128 v = m.magnitude;
    for (int i = MONEY_PACKED_BYTES - 1; i >= 0; --i) {
        uint8_t low = uint8_t(v % 10);
        v /= 10;
        uint8_t high = uint8_t(v % 10);
        v /= 10;
        bytes[5 + i] = uint8_t(high << 4 | low);
    }
}

void money_init(Cell* cell, bool negative, uint8_t currency, const uint8_t* packed) {
    cell_init(cell, T_MONEY);
    if (negative) cell->header |= MONEY_SIGN;
    money_bytes(cell)[4] = currency;
    std::memcpy(money_bytes(cell) + 5, packed, MONEY_PACKED_BYTES);
}

Cell* money_make(bool negative, uint8_t currency, const uint8_t* packed) {
    Cell* cell = stack_push_slot();
    money_init(cell, negative, currency, packed);
    return cell;
}

[[noreturn]] static void raise_type_limit() { error_raise_type(ERR_TYPE_LIMIT, T_MONEY); }

// Reads the digits of a field; false for another byte or too many digits.
// Apostrophes are skipped; leading zeros of an integer part do not count.
static bool digits_read(const uint8_t* text, uint32_t length, int max, bool integer, u128* out,
                        int* count) {
    u128 v = 0;
    int n = 0;
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t c = text[i];
        if (c == '\'') continue;
        if (c < '0' || c > '9') return false;
        if (integer && n == 0 && c == '0') continue;
        if (++n > max) return false;
        v = v * 10 + (c - '0');
    }
    *out = v;
    *count = n;
    return true;
}

bool money_from_digits(Cell* cell, bool negative, const uint8_t* currency,
                       const uint8_t* int_digits, uint32_t int_length,
                       const uint8_t* frac_digits, uint32_t frac_length) {
    uint8_t index = 0;
    if (currency != nullptr) {
        index = uint8_t(money_currency_find(currency, 3));
        if (index == 0) return false;
    }
    u128 whole, frac = 0;
    int n, f = 0;
    if (!digits_read(int_digits, int_length, MONEY_INT_DIGITS, true, &whole, &n)) return false;
    if (frac_digits != nullptr &&
        !digits_read(frac_digits, frac_length, MONEY_FRAC_DIGITS, false, &frac, &f))
        return false;
    frac *= pow10(MONEY_FRAC_DIGITS - f);
    money_pack(cell, Money{negative, index, whole * MONEY_UNIT + frac});
    return true;
}

void money_from_integer_at(Cell* cell, int32_t n) {
    uint32_t magnitude = n < 0 ? 0u - uint32_t(n) : uint32_t(n);
    money_pack(cell, Money{n < 0, 0, u128(magnitude) * MONEY_UNIT});
}

Cell* money_from_integer(int32_t n) {
    Cell* cell = stack_push_slot();
    money_from_integer_at(cell, n);
    return cell;
}

[[noreturn]] static void raise_bad_make_float(double x) {
    Cell spec;
    float_make_at(&spec, x);
    error_raise_type(ERR_BAD_MAKE_ARG, T_MONEY, &spec);
}

void money_from_float_at(Cell* cell, double x, bool strict) {
    double ax = std::fabs(x);
    if (!std::isfinite(x) || (ax > 0 && ax < 1e-5) || ax >= 1e17) raise_bad_make_float(x);
    // An operand of arithmetic is taken as the shortest decimal that reads
    // back to x, the number the user wrote (0.95 for 95%), not the binary
    // expansion below it (0.94999999999999995559): cut to 5 decimals that
    // would lose a cent. A strict conversion looks at every digit of the
    // double's exact value and refuses more than 5 decimals. Plain notation
    // in this range: "-", digits, ".", digits.
    const char* text = float_form(x, strict ? MONEY_DIGITS : 0, true);
    const char* p = text;
    if (*p == '-') ++p;
    u128 whole = 0, frac = 0;
    while (*p >= '0' && *p <= '9') whole = whole * 10 + (*p++ - '0');
    int f = 0;
    if (*p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9') {
            if (f < MONEY_FRAC_DIGITS) frac = frac * 10 + (*p - '0');
            else if (strict) raise_bad_make_float(x);
            ++f, ++p;
        }
    }
    if (f < MONEY_FRAC_DIGITS) frac *= pow10(MONEY_FRAC_DIGITS - f);
    u128 magnitude = whole * MONEY_UNIT + frac;
    money_pack(cell, Money{x < 0 && magnitude != 0, 0, magnitude});
}

Cell* money_from_float(double x, bool strict) {
    Cell value;
    money_from_float_at(&value, x, strict);
    return stack_push(&value);
}

int32_t money_to_integer(const Cell* money) {
    Money m = money_unpack(money);
    u128 whole = m.magnitude / MONEY_UNIT;
    if (whole > (m.negative ? u128(2147483648u) : u128(2147483647u)))
        error_raise_type(ERR_TYPE_LIMIT, T_INTEGER);
    return m.negative ? int32_t(0u - uint32_t(whole)) : int32_t(uint32_t(whole));
}

// Decimal digits of a magnitude below 10^39 into out (no leading zeros, "0"
// for zero); returns the count.
static int u128_digits(u128 v, char* out) {
    char tmp[40];
    int n = 0;
    do {
        tmp[n++] = char('0' + int(v % 10));
        v /= 10;
    } while (v != 0);
    for (int i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
    return n;
}

static double money_double(const Money& m) {
    if (m.magnitude == 0) return 0.0;
    char text[64];
    int n = 0;
    if (m.negative) text[n++] = '-';
    n += u128_digits(m.magnitude / MONEY_UNIT, text + n);
    text[n++] = '.';
    u128 frac = m.magnitude % MONEY_UNIT;
    for (int i = MONEY_FRAC_DIGITS - 1; i >= 0; --i) {
        text[n + i] = char('0' + int(frac % 10));
        frac /= 10;
    }
    n += MONEY_FRAC_DIGITS;
    return string_to_float(text, text + n, 0, nullptr);
}

double money_to_float(const Cell* money) { return money_double(money_unpack(money)); }

bool money_sign(const Cell* money) { return (money->header & MONEY_SIGN) != 0; }
void money_sign_set(Cell* money, bool negative) {
    money->header = negative ? money->header | MONEY_SIGN : money->header & ~MONEY_SIGN;
}
uint8_t money_currency_index(const Cell* money) { return money_bytes(money)[4]; }
void money_currency_set(Cell* money, uint8_t index) { money_bytes(money)[4] = index; }

int32_t money_signum(const Cell* money) {
    Money m = money_unpack(money);
    return m.magnitude == 0 ? 0 : m.negative ? -1 : 1;
}
bool money_negative_q(const Cell* money) { return money_signum(money) < 0; }
bool money_zero_q(const Cell* money) { return money_signum(money) == 0; }
bool money_positive_q(const Cell* money) { return money_signum(money) > 0; }

// ---- decimal kernel ----------------------------------------------------------

// Digits from the first nonzero one to the last of the 22, at least 1.
static int significant_digits(u128 magnitude) {
    int n = 1;
    for (u128 p = 10; n < MONEY_DIGITS && magnitude >= p; p *= 10) ++n;
    return n;
}

static Money money_add_values(Money a, Money b) {
    if (a.magnitude == 0) return b;
    if (b.magnitude == 0) return a;
    if (a.negative != b.negative) {
        if (a.magnitude >= b.magnitude) return Money{a.negative, 0, a.magnitude - b.magnitude};
        return Money{b.negative, 0, b.magnitude - a.magnitude};
    }
    if (a.magnitude / MONEY_FIRST + b.magnitude / MONEY_FIRST > 9) raise_type_limit();
    u128 sum = a.magnitude + b.magnitude;
    if (sum >= MONEY_LIMIT) raise_type_limit();
    return Money{a.negative, 0, sum};
}

static Money money_subtract_values(Money a, Money b) {
    b.negative = !b.negative;
    return money_add_values(a, b);
}

static Money money_multiply_values(Money a, Money b) {
    if (a.magnitude == 0) return a;
    if (b.magnitude == 0) return b;
    if (significant_digits(a.magnitude) + significant_digits(b.magnitude) > 28)
        raise_type_limit();
    u128 product = a.magnitude * b.magnitude / MONEY_UNIT;  // extra fraction digits dropped
    if (product >= MONEY_LIMIT) raise_type_limit();
    return Money{a.negative != b.negative, 0, product};
}

// Divide (remainder false) or remainder (true).
static Money money_divide_values(Money a, Money b, bool remainder) {
    if (b.magnitude == 0) error_raise(ERR_ZERO_DIVIDE);
    if (a.magnitude == 0) return a;
    if (significant_digits(a.magnitude) + 6 - significant_digits(b.magnitude) > MONEY_DIGITS)
        raise_type_limit();
    if (remainder) return Money{a.negative, 0, a.magnitude % b.magnitude};
    u128 quotient = a.magnitude * MONEY_UNIT / b.magnitude;
    if (quotient >= MONEY_LIMIT) raise_type_limit();
    return Money{a.negative != b.negative, 0, quotient};
}

[[noreturn]] static void raise_invalid_type(uint8_t type) {
    error_raise_type(ERR_INVALID_TYPE, type);
}

// A kernel operand as money: integer! exactly, float! and percent! without
// strictness; any other type raises invalid-type.
static Money money_operand(const Cell* value) {
    Cell tmp;
    switch (cell_type(value)) {
    case T_MONEY: return money_unpack(value);
    case T_INTEGER: money_from_integer_at(&tmp, cell_int(value)); break;
    case T_FLOAT:
    case T_PERCENT: money_from_float_at(&tmp, cell_double(value), false); break;
    default: raise_invalid_type(cell_type(value));
    }
    return money_unpack(&tmp);
}

void money_do_math(Cell* left, const Cell* right, int32_t op) {
    uint8_t ltype = cell_type(left), rtype = cell_type(right);
    if ((op == OP_MULTIPLY && ltype == T_MONEY && rtype == T_MONEY) ||
        ((op == OP_DIVIDE || op == OP_REMAINDER) && ltype != T_MONEY && rtype == T_MONEY))
        raise_invalid_type(ltype);
    Money a = money_operand(left), b = money_operand(right);
    if (a.currency != 0 && b.currency != 0 && a.currency != b.currency) {
        Cell l = *left;
        error_raise(ERR_WRONG_DENOM, &l, right);
    }
    uint8_t currency = b.currency != 0 ? b.currency : a.currency;
    Money r;
    switch (op) {
    case OP_ADD: r = money_add_values(a, b); break;
    case OP_SUBTRACT: r = money_subtract_values(a, b); break;
    case OP_MULTIPLY: r = money_multiply_values(a, b); break;
    case OP_DIVIDE: r = money_divide_values(a, b, false); break;
    case OP_REMAINDER: r = money_divide_values(a, b, true); break;
    default: raise_invalid_type(ltype);
    }
    if (op == OP_DIVIDE && ltype == T_MONEY && rtype == T_MONEY) {
        r.currency = 0;
        float_make_at(left, money_double(r));
        return;
    }
    r.currency = currency;
    money_pack(left, r);
}

void money_add(Cell* value1, const Cell* value2) { money_do_math(value1, value2, OP_ADD); }
void money_subtract(Cell* value1, const Cell* value2) { money_do_math(value1, value2, OP_SUBTRACT); }
void money_multiply(Cell* value1, const Cell* value2) { money_do_math(value1, value2, OP_MULTIPLY); }
void money_divide(Cell* value1, const Cell* value2) { money_do_math(value1, value2, OP_DIVIDE); }
void money_remainder(Cell* value1, const Cell* value2) { money_do_math(value1, value2, OP_REMAINDER); }

// ---- text ----------------------------------------------------------------------

int32_t money_form_text(const Cell* money, Cell* target, int32_t budget, bool all_digits,
                        bool grouping) {
    Money m = money_unpack(money);
    char text[80];
    int n = 0;
    if (m.negative && m.magnitude != 0) text[n++] = '-';
    if (const char* code = money_currency_code(m.currency)) {
        std::memcpy(text + n, code, 3);
        n += 3;
    }
    text[n++] = '$';
    char digits[MONEY_DIGITS];
    u128 v = m.magnitude;
    for (int i = MONEY_DIGITS - 1; i >= 0; --i) {
        digits[i] = char('0' + int(v % 10));
        v /= 10;
    }
    int first = 0;
    while (first < MONEY_INT_DIGITS - 1 && digits[first] == '0') ++first;
    for (int i = first; i < MONEY_INT_DIGITS; ++i) {
        text[n++] = digits[i];
        int position = i + 1;  // counted from 1 at the first of the 17 digits
        if (grouping && (position == 2 || position == 5 || position == 8 || position == 11 ||
                         position == 14))
            text[n++] = '\'';
    }
    int32_t shown = money_digits_option != INT32_MIN ? money_digits_option : 2;
    if (shown > MONEY_FRAC_DIGITS || all_digits) shown = MONEY_FRAC_DIGITS;
    if (shown > 0) {
        text[n++] = '.';
        for (int i = 0; i < shown; ++i) text[n++] = digits[MONEY_INT_DIGITS + i];
    }
    string_append_ascii(target, text, uint32_t(n));
    return budget - n;
}

int32_t money_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                   int32_t) {
    return money_form_text(value, target, budget, false, true);
}

int32_t money_mold(const Cell* value, Cell* target, bool, bool all, bool, bool, int32_t budget,
                   int32_t) {
    return money_form_text(value, target, budget, all, false);
}

// ---- compare ---------------------------------------------------------------------

static int32_t money_order(const Money& a, const Money& b) {
    int sa = a.magnitude == 0 ? 0 : a.negative ? -1 : 1;
    int sb = b.magnitude == 0 ? 0 : b.negative ? -1 : 1;
    if (sa != sb) return sa < sb ? -1 : 1;
    int r = (a.magnitude > b.magnitude) - (a.magnitude < b.magnitude);
    return sa < 0 ? -r : r;
}

int32_t money_compare(const Cell* value1, const Cell* value2, int32_t op) {
    uint8_t other = cell_type(value2);
    if ((op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) && other != T_MONEY) return 1;
    Money a = money_unpack(value1), b;
    switch (other) {
    case T_MONEY: {
        b = money_unpack(value2);
        bool agree = a.currency == b.currency || a.currency == 0 || b.currency == 0;
        if (op == CMP_SORT || op == CMP_SORT_CASE) {
            if (a.currency != b.currency) {
                if (a.currency == 0) return -1;
                if (b.currency == 0) return 1;
                int c = std::strcmp(money_currency_code(a.currency), money_currency_code(b.currency));
                if (c != 0) return c < 0 ? -1 : 1;
            }
        } else if (op >= CMP_LESSER && op <= CMP_GREATER_OR_EQUAL) {
            if (!agree) error_raise(ERR_WRONG_DENOM, value1, value2);
        } else {
            if (!agree) return 1;
            if (op == CMP_FIND && b.currency != 0 && a.currency != b.currency) return 1;
        }
        break;
    }
    case T_INTEGER: {
        Cell tmp;
        money_from_integer_at(&tmp, cell_int(value2));
        b = money_unpack(&tmp);
        break;
    }
    case T_FLOAT: {
        double x = std::fabs(cell_double(value2));
        if (x > 0 && x < 1e-5) return 1;
        if (x >= 1e17) return -1;
        Cell tmp;
        money_from_float_at(&tmp, cell_double(value2), true);
        b = money_unpack(&tmp);
        break;
    }
    default:
        return COMPARE_INCOMPARABLE;
    }
    return money_order(a, b);
}

// ---- one-operand actions -------------------------------------------------------

void money_absolute(Cell* value) { value->header &= ~MONEY_SIGN; }
void money_negate(Cell* value) { value->header ^= MONEY_SIGN; }

static int units_digit(const Cell* value) {
    return int((money_unpack(value).magnitude / MONEY_UNIT) % 10);
}
bool money_even_q(const Cell* value) { return units_digit(value) % 2 == 0; }
bool money_odd_q(const Cell* value) { return units_digit(value) % 2 == 1; }

// ---- round ---------------------------------------------------------------------------

void money_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down,
                 bool floor, bool ceiling, bool half_ceiling) {
    Money v = money_unpack(value);
    if (v.magnitude == 0) return;
    u128 s = MONEY_UNIT;
    if (refinement_given(scale, value)) {
        Cell tmp;
        switch (cell_type(scale)) {
        case T_MONEY: s = money_unpack(scale).magnitude; break;
        case T_INTEGER:
            money_from_integer_at(&tmp, cell_int(scale));
            s = money_unpack(&tmp).magnitude;
            break;
        case T_FLOAT:
            money_from_float_at(&tmp, cell_double(scale), true);
            s = money_unpack(&tmp).magnitude;
            break;
        default: {
            Cell word;
            stack_caller_word(&word);
            error_raise_type(ERR_NOT_RELATED, &word, cell_type(scale));
        }
        }
        if (s == 0) return;
    }
    Money a{false, 0, v.magnitude}, unit{false, 0, s};
    u128 r = money_divide_values(a, unit, true).magnitude;
    u128 d = s - r;
    bool tie = r == d;
    bool positive = !v.negative;
    bool nearest_away = r >= d;  // ties go away from zero
    bool away;
    if (down) away = false;
    else if (floor) away = !positive;
    else if (ceiling) away = positive;
    else if (even) away = tie ? (a.magnitude / s) % 2 != 0 : nearest_away;
    else if (half_down) away = tie ? false : nearest_away;
    else if (half_ceiling) away = tie ? positive : nearest_away;
    else away = nearest_away;
    u128 result;
    if (away) {
        result = a.magnitude + d;
        if (result >= MONEY_LIMIT) raise_type_limit();
    } else {
        result = a.magnitude - r;
    }
    money_pack(value, Money{v.negative, v.currency, result});
}

// ---- random ----------------------------------------------------------------------------

// A digit from 0 to max.
static int random_digit(bool secure, int max) { return random_in_range(secure, max + 1) - 1; }

void money_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_mt_seed(value->w1 ^ value->w2 ^ value->w3 ^ (value->header & MONEY_SIGN));
        unset_make_at(value);
        return;
    }
    Money m = money_unpack(value);
    int digits[MONEY_DIGITS];
    u128 v = m.magnitude;
    for (int i = MONEY_DIGITS - 1; i >= 0; --i) {
        digits[i] = int(v % 10);
        v /= 10;
    }
    int first = 0;
    while (first < MONEY_DIGITS - 1 && digits[first] == 0) ++first;
    // While the drawn prefix equals the value's, each digit stays at most the
    // value's (the equal draw only rarely, so the bound itself is rare);
    // after the first smaller digit every digit is free.
    bool below = false;
    for (int i = first; i < MONEY_DIGITS; ++i) {
        if (below) {
            digits[i] = random_digit(secure, 9);
            continue;
        }
        int d = digits[i];
        for (;;) {
            int r = random_digit(secure, d);
            if (r < d) {
                digits[i] = r;
                below = true;
                break;
            }
            if (random_in_range(secure, 1000) == random_in_range(secure, 1000)) break;
        }
    }
    u128 magnitude = 0;
    for (int i = 0; i < MONEY_DIGITS; ++i) magnitude = magnitude * 10 + u128(digits[i]);
    money_pack(value, Money{m.negative, m.currency, magnitude});
}

// ---- make, to -------------------------------------------------------------------------

[[noreturn]] static void raise_bad_to(const Cell* spec) {
    error_raise_type(ERR_BAD_TO_ARG, T_MONEY, spec);
}
[[noreturn]] static void raise_bad_make(const Cell* spec) {
    error_raise_type(ERR_BAD_MAKE_ARG, T_MONEY, spec);
}

static bool text_type_q(uint8_t type) {
    return type == T_STRING || type == T_FILE || type == T_URL || type == T_TAG ||
           type == T_EMAIL || type == T_REF;
}

const Cell* money_to(Cell* proto, const Cell* spec, uint8_t) {
    switch (cell_type(spec)) {
    case T_MONEY: return spec;
    case T_INTEGER: money_from_integer_at(proto, cell_int(spec)); return proto;
    case T_FLOAT: money_from_float_at(proto, cell_double(spec), true); return proto;
    default: break;
    }
    if (!text_type_q(cell_type(spec))) raise_bad_to(spec);
    SeriesBuffer* buffer = series_buffer_of(spec);
    uint32_t length = buffer->length();
    uint32_t head = uint32_t(series_index(spec)) < length ? uint32_t(series_index(spec)) : length;
    uint32_t unit = buffer->unit();
    Cell result;
    if (!money_scan_string(buffer->head_ptr() + head * unit, length - head, unit, &result))
        raise_bad_to(spec);
    cell_copy(&result, proto);
    return proto;
}

// The currency index of a word, or 0.
static uint8_t word_currency(const Cell* word) {
    uint32_t length;
    const uint8_t* name = symbol_name(word_symbol(word), &length);
    return uint8_t(money_currency_find(name, length));
}

static bool field_word_q(uint8_t type) {
    return type == T_WORD || type == T_LIT_WORD || type == T_SET_WORD || type == T_GET_WORD;
}

// [currency] amount [fraction]: a currency word, an integer! (or a float!
// converted strictly), then after an integer a count of hundred-thousandths.
static void money_from_block(Cell* proto, const Cell* spec) {
    SeriesBuffer* buffer = series_buffer_of(spec);
    uint32_t length = buffer->length();
    uint32_t head = uint32_t(series_index(spec)) < length ? uint32_t(series_index(spec)) : length;
    uint32_t count = length - head;
    if (count < 1 || count > 3) raise_bad_make(spec);
    Cell values[3];
    std::memcpy(values, buffer->head_ptr() + head * sizeof(Cell), count * sizeof(Cell));
    uint32_t i = 0;
    uint8_t currency = 0;
    if (cell_type(&values[0]) == T_WORD) {
        currency = word_currency(&values[0]);
        if (currency == 0) raise_bad_make(spec);
        i = 1;
    }
    if (i >= count) raise_bad_make(spec);
    Cell amount;
    switch (cell_type(&values[i])) {
    case T_INTEGER: money_from_integer_at(&amount, cell_int(&values[i])); break;
    case T_FLOAT:
        if (i + 1 < count) raise_bad_make(spec);
        money_from_float_at(&amount, cell_double(&values[i]), true);
        break;
    default: raise_bad_make(spec);
    }
    Money m = money_unpack(&amount);
    if (++i < count) {
        if (cell_type(&values[i]) != T_INTEGER) raise_bad_make(spec);
        int32_t f = cell_int(&values[i]);
        if (f < 0 || f > 99999) raise_bad_make(spec);
        m.magnitude += u128(f);
        if (++i < count) raise_bad_make(spec);
    }
    m.currency = currency;
    money_pack(proto, m);
}

const Cell* money_make_action(Cell* proto, const Cell* spec, uint8_t type) {
    switch (cell_type(spec)) {
    case T_WORD: {
        uint8_t currency = word_currency(spec);
        if (currency == 0) raise_bad_make(spec);
        money_pack(proto, Money{false, currency, 0});
        return proto;
    }
    case T_BLOCK:
        money_from_block(proto, spec);
        return proto;
    default:
        return money_to(proto, spec, type);
    }
}

// ---- path selection, pick ---------------------------------------------------------------

// 1 code, 2 amount, 0 anything else.
static int money_field(const Cell* element) {
    uint8_t type = cell_type(element);
    if (type == T_INTEGER) {
        int32_t n = cell_int(element);
        return n == 1 || n == 2 ? n : 0;
    }
    if (!field_word_q(type)) return 0;
    uint32_t symbol = symbol_resolve(word_symbol(element));
    if (symbol == symbol_resolve(runtime_symbol(SYM_CODE))) return 1;
    if (symbol == symbol_resolve(runtime_symbol(SYM_AMOUNT))) return 2;
    return 0;
}

// Writes field 1 (the currency word, none without one) or 2 (the amount
// without currency) of a money value into out, which may be the value itself.
static void money_field_make_at(const Cell* value, int field, Cell* out) {
    if (field == 2) {
        cell_copy(value, out);
        money_currency_set(out, 0);
        return;
    }
    const char* code = money_currency_code(money_currency_index(value));
    if (code == nullptr) {
        none_make_at(out);
        return;
    }
    Cell word = word_intern(code);
    cell_copy(&word, out);
}

void money_eval_path(Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                     bool, Cell* out) {
    if (set_value != nullptr) error_raise(ERR_BAD_PATH_SET, path, element);
    int field = money_field(element);
    if (field == 0) error_raise(ERR_INVALID_PATH, path, element);
    money_field_make_at(parent, field, out);
}

void money_pick(Cell* value, const Cell* index) {
    int field = money_field(index);
    if (field == 0) error_raise(ERR_OUT_OF_RANGE, index);
    money_field_make_at(value, field, value);
}

// ---- literal loaders --------------------------------------------------------------------

static bool digit_q(uint8_t c) { return c >= '0' && c <= '9'; }
static bool letter_q(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool scan_money(const uint8_t* start, const uint8_t* end, Cell* out) {
    const uint8_t* p = start;
    if (p >= end) return false;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    const uint8_t* dollar = p;
    while (dollar < end && *dollar != '$') ++dollar;
    if (dollar >= end) return false;
    const uint8_t* code = nullptr;
    if (dollar - p == 3) code = p;
    else if (dollar != p) return false;
    p = dollar + 1;
    if (p >= end || *p == '.' || *p == ',' || *p == '\'') return false;
    // Leading zeros and separators; one zero stays when nothing else precedes
    // the point or the end.
    while (p < end && (*p == '0' || *p == '\'')) ++p;
    if (p >= end || *p == '.' || *p == ',') {
        if (p[-1] == '\'') return false;
        --p;
    }
    const uint8_t* int_start = p;
    int digits = 0;
    while (p < end && *p != '.' && *p != ',') {
        if (*p == '\'') {
            if (p[-1] == '\'' || p + 1 >= end || p[1] == '.' || p[1] == ',') return false;
        } else if (!digit_q(*p) || ++digits > MONEY_INT_DIGITS) {
            return false;
        }
        ++p;
    }
    const uint8_t* int_end = p;
    const uint8_t* frac = nullptr;
    uint32_t frac_length = 0;
    if (p < end) {
        ++p;
        if (p >= end) return false;
        frac = p;
        for (; p < end; ++p)
            if (!digit_q(*p)) return false;
        frac_length = uint32_t(end - frac);
        if (frac_length > MONEY_FRAC_DIGITS) return false;
    }
    Cell value;
    if (!money_from_digits(&value, negative, code, int_start, uint32_t(int_end - int_start), frac,
                           frac_length))
        return false;
    if (out != nullptr) cell_copy(&value, out);
    return true;
}

bool money_scan_string(const uint8_t* text, uint32_t length, uint32_t unit, Cell* out) {
    auto at = [&](uint32_t i) -> uint32_t {
        uint32_t c = 0;
        if (unit == 1) c = text[i];
        else if (unit == 2) { uint16_t u; std::memcpy(&u, text + 2 * i, 2); c = u; }
        else std::memcpy(&c, text + 4 * i, 4);
        return c;
    };
    if (length == 0) return false;
    uint32_t i = 0;
    bool negative = at(0) == '-';
    if (at(0) == '-' || at(0) == '+') ++i;
    uint8_t code[3];
    bool has_code = false;
    if (i < length && letter_q(at(i))) {
        if (length - i < 5) return false;
        for (int k = 0; k < 3; ++k) {
            if (!letter_q(at(i + k))) return false;
            code[k] = uint8_t(at(i + k));
        }
        i += 3;
        if (at(i) != '$') return false;
        has_code = true;
    }
    if (i < length && at(i) == '$') {
        if (i + 1 >= length) return false;
        ++i;
    }
    if (i >= length) return false;
    // Digits into bytes, checked as the loader checks them.
    uint8_t ints[64], fracs[8];
    uint32_t ni = 0, nf = 0;
    bool point = false;
    uint32_t first = i;
    for (; i < length; ++i) {
        uint32_t c = at(i);
        bool last = i + 1 == length;
        if (c == '\'') {
            if (i == first || last || at(i - 1) == '\'' || point) return false;
        } else if (c == '.') {
            if (i == first || at(i - 1) == '\'' || last || point) return false;
            point = true;
        } else if (c >= '0' && c <= '9') {
            if (point) {
                if (nf >= MONEY_FRAC_DIGITS) return false;
                fracs[nf++] = uint8_t(c);
            } else {
                if (ni == 0 && c == '0') continue;  // leading zeros do not count
                if (ni >= MONEY_INT_DIGITS) return false;
                ints[ni++] = uint8_t(c);
            }
        } else {
            return false;
        }
    }
    return money_from_digits(out, negative, has_code ? code : nullptr, ints, ni,
                             point ? fracs : nullptr, nf);
}

// ---- registration ------------------------------------------------------------------------

void init_money() {
    currencies_ready();
    const ActionRow actions[] = {
        {A_MAKE, money_make_action},
        {A_RANDOM, money_random},
        {A_TO, money_to},
        {A_FORM, money_form},
        {A_MOLD, money_mold},
        {A_EVAL_PATH, money_eval_path},
        {A_COMPARE, money_compare},
        {A_ABSOLUTE, money_absolute},
        {A_ADD, money_add},
        {A_DIVIDE, money_divide},
        {A_MULTIPLY, money_multiply},
        {A_NEGATE, money_negate},
        {A_REMAINDER, money_remainder},
        {A_ROUND, money_round},
        {A_SUBTRACT, money_subtract},
        {A_EVEN_Q, money_even_q},
        {A_ODD_Q, money_odd_q},
        {A_PICK, money_pick},
    };
    datatype_register(T_MONEY, 0, "money!", actions);
    datatype_hooks_set(T_MONEY, {.scan = scan_money});
}

} // namespace kel
