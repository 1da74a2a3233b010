// Sign and zero tests, the bit shift and the hexadecimal issue of an integer.
// Numbers are read straight from their cells: integer! as int32, float!,
// percent! and time! (seconds) as doubles; money! answers for itself.
#include "natives/maths.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/word.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/money.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/tuple.hpp"
#include "natives/natives.hpp"

#include <cstring>
#include <iterator>

namespace kel {

enum SignNative : uint32_t {
    N_NEGATIVE_Q = 49, N_POSITIVE_Q = 50, N_SHIFT = 53, N_TO_HEX = 54, N_SIGN_Q = 97, N_ZERO_Q = 100,
};

// ---- sign ----------------------------------------------------------------------------------

// -1, 0 or 1 for the argument of a sign native; a NaN has sign 0, so it is
// neither negative nor positive.
static int32_t number_signum(uint32_t native, bool check) {
    if (check) native_arg_check(native, 0);
    const Cell* value = data_stack.args;
    switch (cell_type(value)) {
    case T_MONEY: return money_signum(value);
    case T_INTEGER: return integer_sign(cell_int(value));
    case T_FLOAT: case T_PERCENT: case T_TIME: {
        double d = cell_double(value);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    default: native_expect_arg(0);
    }
}

ExitCode native_negative_q(bool check, const int32_t*) {
    logic_box(number_signum(N_NEGATIVE_Q, check) < 0);
    return EXIT_CODE_NONE;
}

ExitCode native_positive_q(bool check, const int32_t*) {
    logic_box(number_signum(N_POSITIVE_Q, check) > 0);
    return EXIT_CODE_NONE;
}

ExitCode native_sign_q(bool check, const int32_t*) {
    integer_box(number_signum(N_SIGN_Q, check));
    return EXIT_CODE_NONE;
}

// ---- zero ----------------------------------------------------------------------------------

// A NaN is not zero and -0.0 is; a type zero? does not know answers false.
static bool value_zero_q(const Cell* value) {
    switch (cell_type(value)) {
    case T_MONEY: return money_zero_q(value);
    case T_CHAR: case T_INTEGER: return cell_int(value) == 0;
    case T_TIME: case T_PERCENT: case T_FLOAT: return cell_double(value) == 0.0;
    case T_PAIR: return pair_x(value) == 0 && pair_y(value) == 0;
    case T_POINT3D:
        if (point_coord(value, 2) != 0.0f) return false;
        [[fallthrough]];
    case T_POINT2D: return point_coord(value, 0) == 0.0f && point_coord(value, 1) == 0.0f;
    case T_TUPLE: return tuple_zero_q(value);
    default: return false;
    }
}

ExitCode native_zero_q(bool check, const int32_t*) {
    if (check) native_arg_check(N_ZERO_Q, 0);
    logic_box(value_zero_q(data_stack.args));
    return EXIT_CODE_NONE;
}

// ---- shift ---------------------------------------------------------------------------------

// data shifted by bits: right and arithmetic by default, left with /left
// (which wins over /logical), right filling with zeros with /logical. A
// negative count is 0; a count past 31 shifts every bit out.
static int32_t shift_int(int32_t data, int32_t bits, bool left, bool logical) {
    uint32_t count = bits < 0 ? 0 : uint32_t(bits);
    if (left) return count > 31 ? 0 : int32_t(uint32_t(data) << count);
    if (logical) return count > 31 ? 0 : int32_t(uint32_t(data) >> count);
    if (count > 31) return data < 0 ? -1 : 0;
    return data >> count;  // arithmetic: C++20 defines it on negative values
}

ExitCode native_shift(bool check, const int32_t* refinements) {
    if (check) {
        native_arg_check(N_SHIFT, 0);
        native_arg_check(N_SHIFT, 1);
    }
    Cell* args = data_stack.args;
    int32_t result = shift_int(cell_int(&args[0]), cell_int(&args[1]), refinements[0] >= 0,
                               refinements[1] >= 0);
    integer_make_at(&args[0], result);
    stack_keep();
    return EXIT_CODE_NONE;
}

// ---- to-hex --------------------------------------------------------------------------------

// The issue of the value's 32 bits as 8 upper-case hexadecimal digits; with
// /size only the last length digits (all 8 when length is above 8).
ExitCode native_to_hex(bool check, const int32_t* refinements) {
    if (check) {
        native_arg_check(N_TO_HEX, 0);
        if (refinements[0] >= 0) native_arg_check(N_TO_HEX, uint32_t(refinements[0]));
    }
    Cell* args = data_stack.args;
    char digits[9];
    std::memcpy(digits, int_to_hex(uint32_t(cell_int(&args[0])), false), sizeof digits);
    const char* text = digits;
    if (refinements[0] >= 0) {
        const Cell* length = &args[refinements[0]];
        int32_t n = cell_int(length);
        if (n <= 0) error_raise(ERR_INVALID_ARG, length);
        if (n < 8) text = digits + (8 - n);
    }
    Cell issue;
    issue_make(&issue, text);
    stack_set_last_reset(&issue);
    return EXIT_CODE_NONE;
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {49, "negative?", "[number [number! money! time!]]", native_negative_q},
    {50, "positive?", "[number [number! money! time!]]", native_positive_q},
    {53, "shift", "[data [integer!] bits [integer!] /left /logical]", native_shift},
    {54, "to-hex", "[value [integer!] /size length [integer!]]", native_to_hex},
    {97, "sign?", "[number [number! money! time!]]", native_sign_q},
    {100, "zero?", "[value [number! money! pair! time! char! tuple! any-point!]]", native_zero_q},
};
const NativeTable SIGN_SHIFT_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
