// Comparison, identity, negation and type natives.
#include "natives/compare.hpp"
#include "natives/natives.hpp"
#include "core/actions.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include "core/word.hpp"
#include "datatypes/money.hpp"
#include "datatypes/tuple.hpp"
#include <iterator>

namespace kel {

// ---- comparison --------------------------------------------------------------------------
// The seven comparisons take values of any type, so they never check them.

static ExitCode compare_native(int32_t op) {
    compare_push_logic(op);
    return EXIT_CODE_NONE;
}

ExitCode native_equal_q(bool, const int32_t*) { return compare_native(CMP_EQUAL); }
ExitCode native_not_equal_q(bool, const int32_t*) { return compare_native(CMP_NOT_EQUAL); }
ExitCode native_strict_equal_q(bool, const int32_t*) { return compare_native(CMP_STRICT_EQUAL); }
ExitCode native_lesser_q(bool, const int32_t*) { return compare_native(CMP_LESSER); }
ExitCode native_greater_q(bool, const int32_t*) { return compare_native(CMP_GREATER); }
ExitCode native_lesser_or_equal_q(bool, const int32_t*) {
    return compare_native(CMP_LESSER_OR_EQUAL);
}
ExitCode native_greater_or_equal_q(bool, const int32_t*) {
    return compare_native(CMP_GREATER_OR_EQUAL);
}

// ---- identity ----------------------------------------------------------------------------

// Which payload words decide identity, by type.
enum SameRule : uint8_t {
    SAME_ALL,        // words 1, 2 and 3
    SAME_W1,         // datatype!, logic!, object!
    SAME_W2,         // char!, integer!, bitset!
    SAME_W1_W2,      // series positions, action!, native!, point2D!
    SAME_W2_W3,      // float!, percent!, pair!, time!, op!
    SAME_ALWAYS,     // none!, unset!
    SAME_TUPLE,
    SAME_MONEY,
};

static SameRule same_rule(uint8_t type) {
    switch (type) {
    case T_DATATYPE: case T_LOGIC: case T_OBJECT: return SAME_W1;
    case T_CHAR: case T_INTEGER: case T_BITSET: return SAME_W2;
    case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_BLOCK: case T_PAREN:
    case T_HASH: case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
    case T_BINARY: case T_VECTOR: case T_IMAGE:
    case T_ACTION: case T_NATIVE: case T_POINT2D:
        return SAME_W1_W2;
    case T_FLOAT: case T_PERCENT: case T_PAIR: case T_TIME: case T_OP: return SAME_W2_W3;
    case T_NONE: case T_UNSET: return SAME_ALWAYS;
    case T_TUPLE: return SAME_TUPLE;
    case T_MONEY: return SAME_MONEY;
    default: return SAME_ALL;
    }
}

bool same_q(const Cell* value1, const Cell* value2) {
    uint8_t type = cell_type(value1);
    if (type != cell_type(value2)) return false;
    switch (same_rule(type)) {
    case SAME_W1: return value1->w1 == value2->w1;
    case SAME_W2: return value1->w2 == value2->w2;
    case SAME_W1_W2: return value1->w1 == value2->w1 && value1->w2 == value2->w2;
    case SAME_W2_W3: return value1->w2 == value2->w2 && value1->w3 == value2->w3;
    case SAME_ALWAYS: return true;
    case SAME_TUPLE:
        return tuple_count(value1) == tuple_count(value2) &&
               tuple_compare(value1, value2, CMP_EQUAL) == 0;
    case SAME_MONEY: return money_compare(value1, value2, CMP_SAME) == 0;
    case SAME_ALL: break;
    }
    return value1->w1 == value2->w1 && value1->w2 == value2->w2 && value1->w3 == value2->w3;
}

ExitCode native_same_q(bool, const int32_t*) {
    const Cell* args = data_stack.args;
    logic_box(same_q(&args[0], &args[1]));
    return EXIT_CODE_NONE;
}

// ---- negation and type -------------------------------------------------------------------

ExitCode native_not(bool, const int32_t*) {
    logic_box(logic_false(data_stack.args));
    return EXIT_CODE_NONE;
}

ExitCode native_type_q(bool, const int32_t* refinements) {
    Cell* result = data_stack.args;
    uint8_t type = cell_type(result);
    if (refinements[0] < 0) {
        datatype_make_at(result, type);
        stack_keep();
        return EXIT_CODE_NONE;
    }
    const DatatypeName* name = datatype_name(type);
    if (name->word) {
        word_make_global(result, name->word);
    } else {
        Cell word = word_intern(name->name);
        cell_copy(&word, result);
    }
    stack_keep();
    return EXIT_CODE_NONE;
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {25, "equal?", "[value1 [any-type!] value2 [any-type!]]", native_equal_q},
    {26, "not-equal?", "[value1 [any-type!] value2 [any-type!]]", native_not_equal_q},
    {27, "strict-equal?", "[value1 [any-type!] value2 [any-type!]]", native_strict_equal_q},
    {28, "lesser?", "[value1 [any-type!] value2 [any-type!]]", native_lesser_q},
    {29, "greater?", "[value1 [any-type!] value2 [any-type!]]", native_greater_q},
    {30, "lesser-or-equal?", "[value1 [any-type!] value2 [any-type!]]", native_lesser_or_equal_q},
    {31, "greater-or-equal?", "[value1 [any-type!] value2 [any-type!]]", native_greater_or_equal_q},
    {32, "same?", "[value1 [any-type!] value2 [any-type!]]", native_same_q},
    {33, "not", "[value [any-type!]]", native_not},
    {34, "type?", "[value [any-type!] /word]", native_type_q},
};
const NativeTable COMPARE_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
