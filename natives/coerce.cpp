// Case changes of text, the as- constructors of scalars, map extension and
// the coercion of a series to a type of its own family.
#include "natives/coerce.hpp"
#include "core/casefold.hpp"
#include "core/error.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/word.hpp"
#include "datatypes/file.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/map.hpp"
#include "datatypes/money.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "natives/natives.hpp"

#include <cmath>
#include <iterator>

namespace kel {

enum CoerceNative : uint32_t {
    N_UPPERCASE = 71, N_LOWERCASE, N_AS_PAIR, N_AS_POINT2D, N_AS_POINT3D, N_AS_MONEY,
    N_EXTEND = 83, N_TO_LOCAL_FILE = 85, N_AS = 98,
};

// Checks the first count arguments against the native's spec.
static void check_args(uint32_t native, bool check, uint32_t count) {
    if (!check) return;
    for (uint32_t n = 0; n < count; n++) native_arg_check(native, n);
}

// ---- case ------------------------------------------------------------------------------

static ExitCode change_case(uint32_t native, bool check, const int32_t* refinements, bool upper) {
    check_args(native, check, 1);
    Cell* args = data_stack.args;
    const Cell* part = nullptr;
    if (refinements[0] >= 0) {
        if (check) native_arg_check(native, uint32_t(refinements[0]));
        part = &args[refinements[0]];
    }
    change_string_case(args, part, upper);
    stack_keep();
    return EXIT_CODE_NONE;
}

ExitCode native_uppercase(bool check, const int32_t* refinements) {
    return change_case(N_UPPERCASE, check, refinements, true);
}

ExitCode native_lowercase(bool check, const int32_t* refinements) {
    return change_case(N_LOWERCASE, check, refinements, false);
}

// ---- as- constructors ------------------------------------------------------------------

// A coordinate of as-pair: an integer! as it is, a float! truncated toward
// zero. A NaN or an infinity raises script error invalid-arg; a finite float
// outside the 32-bit range gives the most negative integer.
static int32_t pair_coordinate(const Cell* value) {
    if (cell_type(value) == T_INTEGER) return cell_int(value);
    double d = cell_double(value);
    if (!std::isfinite(d)) error_raise(ERR_INVALID_ARG, value);
    int32_t n;
    return integer_from_double(d, &n) ? n : INT32_MIN;
}

ExitCode native_as_pair(bool check, const int32_t*) {
    check_args(N_AS_PAIR, check, 2);
    Cell* args = data_stack.args;
    int32_t x = pair_coordinate(&args[0]);
    int32_t y = pair_coordinate(&args[1]);
    pair_init(stack_box_new(T_PAIR), x, y);
    return EXIT_CODE_NONE;
}

// A point of 2 or 3 coordinates from as many integer! or float! arguments,
// each stored as a single.
static ExitCode as_point(uint32_t native, bool check, int dimensions) {
    check_args(native, check, uint32_t(dimensions));
    double c[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < dimensions; i++) c[i] = point_number(data_stack.args + i);
    if (dimensions == 3) point3d_init(stack_box_new(T_POINT3D), c[0], c[1], c[2]);
    else point2d_init(stack_box_new(T_POINT2D), c[0], c[1]);
    return EXIT_CODE_NONE;
}

ExitCode native_as_point2d(bool check, const int32_t*) { return as_point(N_AS_POINT2D, check, 2); }
ExitCode native_as_point3d(bool check, const int32_t*) { return as_point(N_AS_POINT3D, check, 3); }

// The amount in the currency the word names; a word that names no currency
// of the locale list raises script error bad-denom with the word.
ExitCode native_as_money(bool check, const int32_t*) {
    check_args(N_AS_MONEY, check, 2);
    Cell* args = data_stack.args;
    uint32_t length;
    const uint8_t* name = symbol_name(word_symbol(&args[0]), &length);
    int32_t currency = money_currency_find(name, length);
    if (currency <= 0) error_raise(ERR_BAD_DENOM, &args[0]);
    Cell money;
    if (cell_type(&args[1]) == T_INTEGER) money_from_integer_at(&money, cell_int(&args[1]));
    else money_from_float_at(&money, cell_double(&args[1]), false);
    money_currency_set(&money, uint8_t(currency));
    stack_set_last_reset(&money);
    return EXIT_CODE_NONE;
}

// ---- extend ----------------------------------------------------------------------------

// Adds the key and value pairs of spec to a map (case-sensitive keys with
// /case). Objects are not extended.
ExitCode native_extend(bool check, const int32_t* refinements) {
    check_args(N_EXTEND, check, 2);
    Cell* args = data_stack.args;
    if (cell_type(&args[0]) != T_MAP) error_raise(ERR_NOT_DONE);
    map_extend_block(&args[0], &args[1], refinements[0] >= 0);
    stack_keep();
    return EXIT_CODE_NONE;
}

// ---- to-local-file ---------------------------------------------------------------------

// A new string! holding the operating system's form of the path from its
// position; with /full a relative path gets the current directory in front.
ExitCode native_to_local_file(bool check, const int32_t* refinements) {
    check_args(N_TO_LOCAL_FILE, check, 1);
    Cell* args = data_stack.args;
    Cell* result = stack_push_new(T_NONE);
    string_make_at(result, string_ks_length_q(&args[0]));
    file_to_local_into(&args[0], result, refinements[0] >= 0);
    stack_set_last_reset(result);
    return EXIT_CODE_NONE;
}

// ---- as --------------------------------------------------------------------------------

// The families within which as may re-type a series: 1 the block family
// without hash!, 2 the string family; 0 for any other type.
static int series_coerce_family(uint8_t type) {
    switch (type) {
    case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
        return 1;
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
        return 2;
    default:
        return 0;
    }
}

// spec re-typed as the target type (a datatype! or the type of an example
// value), sharing its series; both must be of one family, else script error
// not-same-class (spec's datatype, the target datatype).
ExitCode native_as(bool check, const int32_t*) {
    check_args(N_AS, check, 2);
    Cell* args = data_stack.args;
    uint8_t target = cell_type(&args[0]) == T_DATATYPE ? uint8_t(datatype_id(&args[0])) : cell_type(&args[0]);
    uint8_t source = cell_type(&args[1]);
    int family = series_coerce_family(source);
    if (family == 0 || family != series_coerce_family(target)) {
        error_raise_type(ERR_NOT_SAME_CLASS, source, target);
    }
    cell_copy(&args[1], &args[0]);
    cell_type_set(&args[0], target);
    stack_keep();
    return EXIT_CODE_NONE;
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {71, "uppercase",
     "[string [any-string! char!] /part limit [number! any-string!]]",
     native_uppercase},
    {72, "lowercase",
     "[string [any-string! char!] /part limit [number! any-string!]]",
     native_lowercase},
    {73, "as-pair", "[x [integer! float!] y [integer! float!]]", native_as_pair},
    {74, "as-point2D", "[x [integer! float!] y [integer! float!]]", native_as_point2d},
    {75, "as-point3D",
     "[x [integer! float!] y [integer! float!] z [integer! float!]]",
     native_as_point3d},
    {76, "as-money", "[currency [word!] amount [integer! float!]]", native_as_money},
    {83, "extend", "[obj [object! map!] spec [block! hash! map!] /case]", native_extend},
    {85, "to-local-file", "[path [file! string!] /full]", native_to_local_file},
    {98, "as",
     "[type [datatype! block! paren! any-path! any-string!] spec [block! paren! any-path!\n"
     "    any-string!]]",
     native_as},
};
const NativeTable COERCE_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
