// The natives table in index order and the argument check that callers
// outside the interpreter ask for.
#include "natives/natives.hpp"
#include "natives/coerce.hpp"
#include "natives/compare.hpp"
#include "natives/encoding.hpp"
#include "natives/functions.hpp"
#include "natives/maths.hpp"
#include "natives/parse.hpp"
#include "natives/print.hpp"
#include "natives/query.hpp"
#include "natives/system.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/error_value.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include "core/typeset.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace kel {

// Index order is fixed: native! values, boot data and serialised data carry
// the index. One line per native, its index and word in the comment.
static const NativeFn native_entries[NATIVES_DEFINED] = {
    native_if,        // 1 if
    native_unless,    // 2 unless
    native_either,    // 3 either
    native_any,       // 4 any
    native_all,       // 5 all
    native_while,     // 6 while
    native_until,     // 7 until
    native_loop,      // 8 loop
    native_repeat,    // 9 repeat
    native_forever,   // 10 forever
    native_foreach,   // 11 foreach
    native_forall,    // 12 forall
    native_remove_each, // 13 remove-each
    native_func,      // 14 func
    native_function,  // 15 function
    native_does,      // 16 does
    native_has,       // 17 has
    native_switch,    // 18 switch
    native_case,      // 19 case
    native_do,        // 20 do
    native_get,       // 21 get
    native_set,       // 22 set
    native_print,     // 23 print
    native_prin,      // 24 prin
    native_equal_q,   // 25 equal?
    native_not_equal_q, // 26 not-equal?
    native_strict_equal_q, // 27 strict-equal?
    native_lesser_q,  // 28 lesser?
    native_greater_q, // 29 greater?
    native_lesser_or_equal_q, // 30 lesser-or-equal?
    native_greater_or_equal_q, // 31 greater-or-equal?
    native_same_q,    // 32 same?
    native_not,       // 33 not
    native_type_q,    // 34 type?
    native_reduce,    // 35 reduce
    native_compose,   // 36 compose
    native_stats,     // 37 stats
    native_bind,      // 38 bind
    native_in,        // 39 in
    native_parse,     // 40 parse
    native_union,     // 41 union
    native_intersect, // 42 intersect
    native_unique,    // 43 unique
    native_difference, // 44 difference
    native_exclude,   // 45 exclude
    native_complement_q, // 46 complement?
    native_dehex,     // 47 dehex
    native_enhex,     // 48 enhex
    native_negative_q, // 49 negative?
    native_positive_q, // 50 positive?
    native_max,       // 51 max
    native_min,       // 52 min
    native_shift,     // 53 shift
    native_to_hex,    // 54 to-hex
    native_sine,      // 55 sine
    native_cosine,    // 56 cosine
    native_tangent,   // 57 tangent
    native_arcsine,   // 58 arcsine
    native_arccosine, // 59 arccosine
    native_arctangent, // 60 arctangent
    native_arctangent2, // 61 arctangent2
    native_nan_q,     // 62 NaN?
    native_log_2,     // 63 log-2
    native_log_10,    // 64 log-10
    native_log_e,     // 65 log-e
    native_exp,       // 66 exp
    native_square_root, // 67 square-root
    native_construct, // 68 construct
    native_value_q,   // 69 value?
    native_try,       // 70 try
    native_uppercase, // 71 uppercase
    native_lowercase, // 72 lowercase
    native_as_pair,   // 73 as-pair
    native_as_point2d, // 74 as-point2D
    native_as_point3d, // 75 as-point3D
    native_as_money,  // 76 as-money
    native_break,     // 77 break
    native_continue,  // 78 continue
    native_exit,      // 79 exit
    native_return,    // 80 return
    native_throw,     // 81 throw
    native_catch,     // 82 catch
    native_extend,    // 83 extend
    native_debase,    // 84 debase
    native_to_local_file, // 85 to-local-file
    native_wait,      // 86 wait
    native_checksum,  // 87 checksum
    native_unset,     // 88 unset
    native_new_line,  // 89 new-line
    native_new_line_q, // 90 new-line?
    native_enbase,    // 91 enbase
    native_context_q, // 92 context?
    native_set_env,   // 93 set-env
    native_get_env,   // 94 get-env
    native_list_env,  // 95 list-env
    native_now,       // 96 now
    native_sign_q,    // 97 sign?
    native_as,        // 98 as
    native_call,      // 99 call
    native_zero_q,    // 100 zero?
    native_size_q,    // 101 size?
    native_browse,    // 102 browse
    native_compress,  // 103 compress
    native_decompress,// 104 decompress
    native_recycle,   // 105 recycle
    native_transcode, // 106 transcode
    native_apply,     // 107 apply
};

void natives_init() {
    natives_table_init();
    for (NativeFn entry : native_entries) native_register(entry);
    print_init();
}

// ---- argument check ----------------------------------------------------------------------

void native_arg_check(uint32_t native_index, uint32_t n) {
    const Cell* own = callable_reference(T_NATIVE, native_index);
    if (!own) return;
    CellRoot native(*own);
    Node cache = args_cache_build(&native.cell);
    SeriesBuffer* cb = series_buffer(cache);
    const Cell* cells = block_cells(cb);
    uint32_t k = 0;
    for (uint32_t i = 0; i < cb->length(); i++) {
        if (cell_type(&cells[i]) != T_TYPESET) continue;
        if (k++ != n) continue;
        if (typeset_has(&cells[i], cell_type(data_stack.args + n))) return;
        native_expect_arg(n);
    }
}

void native_expect_arg(uint32_t n) {
    Cell name, datatype, parameter;
    stack_frame_word(stack_top_frame(), &name);
    datatype_make_at(&datatype, cell_type(data_stack.args + n));
    error_call_argument(n + 1, &parameter);
    error_raise(ERR_EXPECT_ARG, &name, &datatype, &parameter);
}

} // namespace kel
