// money!: an exact decimal amount with an optional currency. The cell packs 22
// decimal digits (17 integer, 5 fraction) two per byte in payload bytes 5-15,
// the currency's 1-based index in the currency list in payload byte 4 (0 for
// none) and the sign in header bit 14. Sums and differences are exact;
// products and quotients keep five fraction digits, truncated.
#pragma once
#include "runtime/cell.hpp"
#include "datatypes/integer.hpp"
#include <cstdint>

namespace kel {

constexpr uint32_t MONEY_SIGN = 0x4000;     // header bit: the amount is negative
constexpr int MONEY_DIGITS = 22;            // digits held in all
constexpr int MONEY_INT_DIGITS = 17;        // digits before the decimal point
constexpr int MONEY_FRAC_DIGITS = 5;        // digits after it
constexpr int MONEY_PACKED_BYTES = 11;      // packed digit bytes
constexpr int MONEY_CURRENCY_MAX = 255;     // codes the currency list can hold

// Fraction digits form shows: -1 (the option holds no integer) means 2.
extern int32_t money_digits_option;

// ---- currency list ---------------------------------------------------------
// Starts as the boot list of three-letter codes (EUR is 47, KEL 123, USD 155).

int32_t money_currency_count();
// The code of a 1-based index (three letters, NUL-terminated), or null.
const char* money_currency_code(int32_t index);
// The 1-based index of a three-letter code (ASCII case ignored), or 0.
int32_t money_currency_find(const uint8_t* code, uint32_t length);
// Appends an upper-case three-letter code; false when the list is full, the
// code is not three ASCII letters or it is already present.
bool money_currency_append(const char* code);
// Restores the boot list.
void money_currency_reset();

// ---- cells -----------------------------------------------------------------

// Writes a money cell (header exactly money!) from a sign, a currency index and
// the 11 packed digit bytes.
void money_init(Cell* cell, bool negative, uint8_t currency, const uint8_t* packed);
Cell* money_make(bool negative, uint8_t currency, const uint8_t* packed);
// From digit texts: the integer digits end at digit 17, the fraction digits
// start at digit 18; apostrophes are skipped. False (cell untouched) when the
// currency (3 letters, or null) is unknown, a digit text holds another byte,
// or there are more than 17 integer or 5 fraction digits.
bool money_from_digits(Cell* cell, bool negative, const uint8_t* currency,
                       const uint8_t* int_digits, uint32_t int_length,
                       const uint8_t* frac_digits, uint32_t frac_length);
void money_from_integer_at(Cell* cell, int32_t n);
Cell* money_from_integer(int32_t n);
// Script error bad-make-arg (money!, the float) for an infinity or NaN, for
// 0 < |x| < 1e-5, |x| >= 1e17, and with strict for more than 5 fraction digits
// in the double's 22-digit text; otherwise the digits, the rest dropped. Not
// strict (an operand of arithmetic), the digits are the shortest that read
// back to x, so 0.3 is $0.3 and 95% is $0.95.
void money_from_float_at(Cell* cell, double x, bool strict);
Cell* money_from_float(double x, bool strict);

// script error type-limit (integer!) outside the 32-bit range; the fraction
// is dropped toward zero.
int32_t money_to_integer(const Cell* money);
// The double nearest to the decimal value.
double money_to_float(const Cell* money);

bool money_sign(const Cell* money);  // true when the sign bit is set
void money_sign_set(Cell* money, bool negative);
uint8_t money_currency_index(const Cell* money);
void money_currency_set(Cell* money, uint8_t index);
int32_t money_signum(const Cell* money);
bool money_negative_q(const Cell* money);
bool money_zero_q(const Cell* money);
bool money_positive_q(const Cell* money);

// The text of a money value appended to a string (grouping: "'" between
// groups of three integer digits; all_digits: five fraction digits).
int32_t money_form_text(const Cell* money, Cell* target, int32_t budget, bool all_digits,
                        bool grouping);

// The action kernel: the left operand (money!, integer!, float! or percent!)
// receives the result.
void money_do_math(Cell* left, const Cell* right, int32_t op);

// Reads a money amount from the characters of a string (unit 1, 2 or 4
// bytes): optional sign, optional currency code with "$" (or a bare
// "$"), digits with "'" separators and at most one ".". False on any fault,
// including more than 17 integer or 5 fraction digits.
bool money_scan_string(const uint8_t* text, uint32_t length, uint32_t unit, Cell* out);

// The lexer's loader of a money token (UTF-8 bytes from start to end): an
// optional sign, an optional three-letter code, "$", the integer part and an
// optional fraction. False when the token is invalid; with out null the
// token is only checked (the currency is then looked up all the same).
bool scan_money(const uint8_t* start, const uint8_t* end, Cell* out);

// ---- actions ---------------------------------------------------------------

const Cell* money_make_action(Cell* proto, const Cell* spec, uint8_t type);
const Cell* money_to(Cell* proto, const Cell* spec, uint8_t type);
// random: with seed the generator is seeded from the payload and sign and the
// result is unset!; otherwise an amount from zero to the value, drawn digit
// by digit, sign and currency kept.
void money_random(Cell* value, bool seed, bool secure, bool only);
int32_t money_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t money_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t money_compare(const Cell* value1, const Cell* value2, int32_t op);
void money_absolute(Cell* value);
void money_negate(Cell* value);
void money_add(Cell* value1, const Cell* value2);
void money_subtract(Cell* value1, const Cell* value2);
void money_multiply(Cell* value1, const Cell* value2);
void money_divide(Cell* value1, const Cell* value2);
void money_remainder(Cell* value1, const Cell* value2);
void money_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down,
                 bool floor, bool ceiling, bool half_ceiling);
bool money_even_q(const Cell* value);
bool money_odd_q(const Cell* value);
// Path selection: element `code` or 1 writes the currency word into out (none
// without a currency), `amount` or 2 the value without currency; setting
// raises bad-path-set, any other element invalid-path.
void money_eval_path(Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                     bool case_, Cell* out);
// pick: the same two fields by index (1, 2) or word, written into the value;
// any other index raises out-of-range.
void money_pick(Cell* value, const Cell* index);

// Registers money! (type 49) with its 62 slots.
void init_money();

} // namespace kel
