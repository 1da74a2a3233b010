// Trigonometric, logarithmic and root natives. Arguments are turned into
// float! in place and the result, a float!, reuses the argument cell. Angles
// are in degrees unless /radians is given. No domain checks: an argument
// outside a function's domain gives what the function gives (NaN, infinity).
#include "natives/maths.hpp"
#include "core/error.hpp"
#include "core/error_value.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include "datatypes/float.hpp"
#include "natives/natives.hpp"

#include <cmath>
#include <iterator>

namespace kel {

enum MathsNative : uint32_t {
    N_SINE = 55, N_COSINE, N_TANGENT, N_ARCSINE, N_ARCCOSINE, N_ARCTANGENT, N_ARCTANGENT2,
    N_NAN_Q, N_LOG_2, N_LOG_10, N_LOG_E, N_EXP, N_SQUARE_ROOT,
};

constexpr double MATH_PI = 3.141592653589793;
constexpr double MATH_FLUSH = 2.220446049250313e-16;  // results below it in magnitude are 0.0
constexpr double MATH_LN2 = 0.6931471805599453;
constexpr double MATH_E = 2.718281828459045;

// Which folding a trigonometric native's degree argument receives.
enum Fold : uint8_t { FOLD_SINE, FOLD_COSINE, FOLD_TANGENT };

// ARGS[n] as a float!, converted in place: an integer! by its value, a
// percent! retagged with its stored fraction (50% is 0.5).
static double math_arg(uint32_t n) {
    Cell* arg = data_stack.args + n;
    switch (cell_type(arg)) {
    case T_INTEGER: float_make_at(arg, double(cell_int(arg))); break;
    case T_PERCENT: cell_type_set(arg, T_FLOAT); break;
    case T_FLOAT: break;
    default: native_expect_arg(n);
    }
    return cell_double(arg);
}

// Checks and reads the one argument of a native.
static double math_single_arg(uint32_t native, bool check) {
    if (check) native_arg_check(native, 0);
    return math_arg(0);
}

static ExitCode math_result(double value) {
    float_box(value);
    return EXIT_CODE_NONE;
}

// Degrees folded into the range where the function is evaluated, then
// radians. The folds keep sin and tan exact at the multiples of 90 and 180.
static double degrees_to_radians(double x, Fold fold) {
    x = std::fmod(x, 360.0);
    if (x > 180.0 || x < -180.0) x = x >= 0.0 ? x - 360.0 : x + 360.0;
    if (x > 90.0 || x < -90.0) {
        if (fold == FOLD_TANGENT) x = x >= 0.0 ? x - 180.0 : x + 180.0;
        else if (fold == FOLD_SINE) x = x >= 0.0 ? 180.0 - x : -180.0 - x;
    }
    return x * MATH_PI / 180.0;
}

static double angle_arg(uint32_t native, bool check, const int32_t* refinements, Fold fold) {
    double x = math_single_arg(native, check);
    return refinements[0] >= 0 ? x : degrees_to_radians(x, fold);
}

static double flush_tiny(double x) { return std::fabs(x) < MATH_FLUSH ? 0.0 : x; }

// Radians into the unit the caller asked for.
static double angle_result(double radians, const int32_t* refinements) {
    return refinements[0] >= 0 ? radians : radians * 180.0 / MATH_PI;
}

ExitCode native_sine(bool check, const int32_t* refinements) {
    return math_result(flush_tiny(std::sin(angle_arg(N_SINE, check, refinements, FOLD_SINE))));
}

ExitCode native_cosine(bool check, const int32_t* refinements) {
    return math_result(flush_tiny(std::cos(angle_arg(N_COSINE, check, refinements, FOLD_COSINE))));
}

ExitCode native_tangent(bool check, const int32_t* refinements) {
    double radians = angle_arg(N_TANGENT, check, refinements, FOLD_TANGENT);
    if (radians == MATH_PI / 2.0) return math_result(HUGE_VAL);
    if (radians == MATH_PI / -2.0) return math_result(-HUGE_VAL);
    return math_result(std::tan(radians));
}

ExitCode native_arcsine(bool check, const int32_t* refinements) {
    return math_result(angle_result(std::asin(math_single_arg(N_ARCSINE, check)), refinements));
}

ExitCode native_arccosine(bool check, const int32_t* refinements) {
    return math_result(angle_result(std::acos(math_single_arg(N_ARCCOSINE, check)), refinements));
}

ExitCode native_arctangent(bool check, const int32_t* refinements) {
    return math_result(angle_result(std::atan(math_single_arg(N_ARCTANGENT, check)), refinements));
}

ExitCode native_arctangent2(bool check, const int32_t* refinements) {
    if (check) {
        native_arg_check(N_ARCTANGENT2, 0);
        native_arg_check(N_ARCTANGENT2, 1);
    }
    double y = math_arg(0);
    double x = math_arg(1);
    return math_result(angle_result(std::atan2(y, x), refinements));
}

// An integer! is never a NaN.
ExitCode native_nan_q(bool check, const int32_t*) {
    if (check) native_arg_check(N_NAN_Q, 0);
    const Cell* value = data_stack.args;
    bool nan = cell_type(value) != T_INTEGER && std::isnan(cell_double(value));
    logic_box(nan);
    return EXIT_CODE_NONE;
}

ExitCode native_log_2(bool check, const int32_t*) {
    return math_result(std::log(math_single_arg(N_LOG_2, check)) / MATH_LN2);
}

ExitCode native_log_10(bool check, const int32_t*) {
    return math_result(std::log10(math_single_arg(N_LOG_10, check)));
}

ExitCode native_log_e(bool check, const int32_t*) {
    return math_result(std::log(math_single_arg(N_LOG_E, check)));
}

ExitCode native_exp(bool check, const int32_t*) {
    return math_result(std::pow(MATH_E, math_single_arg(N_EXP, check)));
}

ExitCode native_square_root(bool check, const int32_t*) {
    return math_result(std::sqrt(math_single_arg(N_SQUARE_ROOT, check)));
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {55, "sine", "[angle [float! integer!] /radians]", native_sine},
    {56, "cosine", "[angle [float! integer!] /radians]", native_cosine},
    {57, "tangent", "[angle [float! integer!] /radians]", native_tangent},
    {58, "arcsine", "[sine [float! integer!] /radians]", native_arcsine},
    {59, "arccosine", "[cosine [float! integer!] /radians]", native_arccosine},
    {60, "arctangent", "[tangent [float! integer!] /radians]", native_arctangent},
    {61, "arctangent2", "[y [float! integer!] x [float! integer!] /radians]", native_arctangent2},
    {62, "NaN?", "[value [number!]]", native_nan_q},
    {63, "log-2", "[value [float! integer! percent!]]", native_log_2},
    {64, "log-10", "[value [float! integer! percent!]]", native_log_10},
    {65, "log-e", "[value [float! integer! percent!]]", native_log_e},
    {66, "exp", "[value [float! integer! percent!]]", native_exp},
    {67, "square-root", "[value [float! integer! percent!]]", native_square_root},
};
const NativeTable MATHS_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
