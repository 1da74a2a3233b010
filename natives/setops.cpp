// The set operation natives. One front routine checks that the two values
// are of one kind and hands the work to the kernel of the first value's
// datatype (blocks and hashes, strings, bitsets, typesets; the difference of
// two dates); complement? reads a bitset's complement flag.
#include "natives/coerce.hpp"
#include "natives/maths.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/typeset.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/date.hpp"
#include "natives/natives.hpp"
#include <iterator>

namespace kel {

enum SetNative : uint32_t {
    N_UNION = 41, N_INTERSECT, N_UNIQUE, N_DIFFERENCE, N_EXCLUDE, N_COMPLEMENT_Q,
};

// block! and hash! are one kind; every other type is its own.
static uint8_t set_kind(uint8_t type) { return type == T_HASH ? uint8_t(T_BLOCK) : type; }

void set_operation(bool case_, const Cell* skip, int32_t op) {
    Cell* args = data_stack.args;
    uint8_t type = cell_type(&args[0]);
    if (op != SET_UNIQUE && set_kind(type) != set_kind(cell_type(&args[1]))) {
        error_raise_type(ERR_EXPECT_VAL, type, cell_type(&args[1]));
    }
    switch (type) {
    case T_BLOCK: case T_HASH: block_set_op(&args[0], &args[1], case_, skip, op); break;
    case T_STRING: string_set_op(&args[0], &args[1], case_, skip, op); break;
    case T_BITSET: bitset_set_op(&args[0], &args[1], op); break;
    case T_TYPESET: typeset_set_op(op); break;
    case T_DATE:
        if (op != SET_DIFFERENCE) native_expect_arg(0);
        date_difference(&args[0], &args[1]);
        break;
    default: native_expect_arg(0);
    }
    stack_keep();
}

// Checks the arguments of a set native (set2 only when it has one) and runs
// the operation with its /case and /skip refinements.
static ExitCode set_native(uint32_t native, bool check, const int32_t* refinements, int32_t op) {
    uint32_t values = op == SET_UNIQUE ? 1 : 2;
    const int32_t skip = refinements[1];
    if (check) {
        for (uint32_t n = 0; n < values; n++) native_arg_check(native, n);
        if (skip >= 0) native_arg_check(native, uint32_t(skip));
    }
    set_operation(refinements[0] >= 0, skip >= 0 ? data_stack.args + skip : nullptr, op);
    return EXIT_CODE_NONE;
}

ExitCode native_union(bool check, const int32_t* refinements) {
    return set_native(N_UNION, check, refinements, SET_UNION);
}
ExitCode native_intersect(bool check, const int32_t* refinements) {
    return set_native(N_INTERSECT, check, refinements, SET_INTERSECT);
}
ExitCode native_unique(bool check, const int32_t* refinements) {
    return set_native(N_UNIQUE, check, refinements, SET_UNIQUE);
}
ExitCode native_difference(bool check, const int32_t* refinements) {
    return set_native(N_DIFFERENCE, check, refinements, SET_DIFFERENCE);
}
ExitCode native_exclude(bool check, const int32_t* refinements) {
    return set_native(N_EXCLUDE, check, refinements, SET_EXCLUDE);
}

ExitCode native_complement_q(bool check, const int32_t*) {
    if (check) native_arg_check(N_COMPLEMENT_Q, 0);
    const Cell* bits = data_stack.args;
    if (cell_type(bits) != T_BITSET) native_expect_arg(0);
    logic_box(bitset_negated_q(bits));
    return EXIT_CODE_NONE;
}

// ---- natives table -------------------------------------------------------------------------------

// Index, word, spec and entry of the natives defined here.
static const NativeRow natives[] = {
    {41, "union",
     "[set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset!\n"
     "    typeset!] /case /skip size [integer!]]",
     native_union},
    {42, "intersect",
     "[set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string!\n"
     "    bitset! typeset!] /case /skip size [integer!]]",
     native_intersect},
    {43, "unique", "[set [block! hash! string!] /case /skip size [integer!]]", native_unique},
    {44, "difference",
     "[set1 [block! hash! string! bitset! typeset! date!] set2 [block! hash! string!\n"
     "    bitset! typeset! date!] /case /skip size [integer!]]",
     native_difference},
    {45, "exclude",
     "[set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset!\n"
     "    typeset!] /case /skip size [integer!]]",
     native_exclude},
    {46, "complement?", "[bits [bitset!]]", native_complement_q},
};
const NativeTable SETOPS_NATIVES = {natives, uint32_t(std::size(natives))};

} // namespace kel
