// The action entries, their lookup and the comparison protocol. Each entry
// reads the frame's argument cells, turns refinement positions into flags
// (given when not -1) and argument addresses (null when absent), looks the
// first argument's type up in the registry and calls the type's function.
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/function.hpp"
#include "core/interpreter.hpp"
#include "core/logic.hpp"
#include "core/mold_text.hpp"
#include "core/numbers.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include <climits>
#include <utility>

namespace kel {

// ---- lookup ------------------------------------------------------------------------------

void action_unsupported(uint8_t type) {
    Cell caller;
    stack_caller_word(&caller);
    expect_arg_raise(&caller, type, 0);
}

ActionFn action_lookup(uint8_t type, int n) {
    ActionFn fn = action_slot(type, n);
    if (!fn) action_unsupported(type);
    return fn;
}

ActionFn action_lookup_first_arg(int n) { return action_lookup_value(data_stack.args, n); }

// ---- frame helpers -----------------------------------------------------------------------

static inline Cell* arg(int i) { return data_stack.args + i; }
static inline bool flag(const int32_t* r, int i) { return r[i] != -1; }
static inline Cell* ref_arg(const int32_t* r, int i) {
    return r[i] < 0 ? nullptr : data_stack.args + r[i];
}
// The result replaced ARGS[0] in place.
static inline void keep_first() { data_stack.top = data_stack.args + 1; }
// The result is a cell the type function returned.
static inline void set_result(const Cell* result) { stack_set_last_reset(result); }

template <class F> static inline F lookup(int n) {
    return reinterpret_cast<F>(action_lookup_first_arg(n));
}

// ---- make, to, form, mold, path selection ------------------------------------------------

void dispatch_make(const Cell* proto, const Cell* spec, bool to, Cell* out) {
    uint8_t type = cell_type(proto) == T_DATATYPE ? uint8_t(datatype_id(proto)) : cell_type(proto);
    auto fn = action_lookup_as<MakeToFn>(type, to ? A_TO : A_MAKE);
    // The type function may write its result into the prototype cell.
    Cell* p = stack_push(proto);
    Cell* s = stack_push(spec);
    const Cell* result = fn(p, s, type);
    cell_copy(result, out);
    stack_pop(2);
}

static void make_or_to(bool to) {
    uint8_t type = cell_type(arg(0)) == T_DATATYPE ? uint8_t(datatype_id(arg(0))) : cell_type(arg(0));
    auto fn = action_lookup_as<MakeToFn>(type, to ? A_TO : A_MAKE);
    set_result(fn(arg(0), arg(1), type));
}
static void make_entry(const int32_t*) { make_or_to(false); }
static void to_entry(const int32_t*) { make_or_to(true); }

// Forms or molds into a new string in out (rooted), cut to the limit when one
// is given (limit >= 0).
static void form_mold_into(const Cell* value, Cell* out, bool mold, bool only, bool all,
                           bool flat, int32_t limit) {
    string_make_empty_at(out, 16);
    if (limit >= 0 && limit < 1) return;
    auto fn = action_lookup_as<FormMoldFn>(cell_type(value), mold ? A_MOLD : A_FORM);
    bool part = limit >= 0;
    fn(value, out, only, all, flat, part, part ? limit : INT32_MAX, 0);
    if (part) string_ks_truncate(series_buffer_of(out), uint32_t(limit));
}

void dispatch_form(const Cell* value, Cell* out, int32_t limit) {
    form_mold_into(value, out, false, false, false, false, limit);
}
void dispatch_mold(const Cell* value, Cell* out, bool only, bool all, bool flat, int32_t limit) {
    form_mold_into(value, out, true, only, all, flat, limit);
}

// The /part limit of form and mold (param: the limit's place in its spec).
static int32_t part_limit(const Cell* part, uint32_t param) {
    if (!part) return -1;
    if (cell_type(part) != T_INTEGER) {
        Cell caller;
        stack_caller_word(&caller);
        expect_arg_raise(&caller, cell_type(part), param);
    }
    int32_t n = cell_int(part);
    return n < 0 ? 0 : n;
}

static void form_entry(const int32_t* r) {
    Cell* out = stack_push_new(T_NONE);
    form_mold_into(arg(0), out, false, false, false, false, part_limit(ref_arg(r, 0), 2));
    set_result(out);
}
static void mold_entry(const int32_t* r) {
    Cell* out = stack_push_new(T_NONE);
    form_mold_into(arg(0), out, true, flag(r, 0), flag(r, 1), flag(r, 2),
                   part_limit(ref_arg(r, 3), 5));
    set_result(out);
}

void dispatch_eval_path(const Cell* parent, const Cell* element, const Cell* set_value,
                        const Cell* path, uint32_t index, bool case_, Cell* out) {
    auto fn = action_slot_as<EvalPathFn>(cell_type(parent), A_EVAL_PATH);
    if (!fn) {
        if (!path) error_raise_type(ERR_BAD_PATH_TYPE2, element, cell_type(parent));
        Cell rest = *path;
        series_index_set(&rest, int32_t(index + 1));
        error_raise_type(ERR_BAD_PATH_TYPE, path, cell_type(parent), &rest);
    }
    fn(parent, element, set_value, path, case_, out);
}

// ARGS[0] parent, ARGS[1] element, ARGS[2] the value when setting (flag 0).
static void eval_path_entry(const int32_t* r) {
    Cell* out = stack_push_new(T_NONE);
    bool set = flag(r, 0);
    dispatch_eval_path(arg(0), arg(1), set ? arg(2) : nullptr, nullptr, 0, false, out);
    set_result(set ? arg(2) : out);
}

// ---- comparison --------------------------------------------------------------------------

bool compare_logic(const Cell* value1, const Cell* value2, int32_t op) {
    auto fn = action_slot_as<CompareFn>(cell_type(value1), A_COMPARE);
    int32_t r = fn ? fn(value1, value2, op) : COMPARE_INCOMPARABLE;
    if (r == COMPARE_INCOMPARABLE) {
        switch (op) {
        case CMP_NOT_EQUAL: return true;
        case CMP_LESSER: case CMP_LESSER_OR_EQUAL: case CMP_GREATER: case CMP_GREATER_OR_EQUAL:
            error_raise(ERR_INVALID_COMPARE, value1, value2);
        default: return false;
        }
    }
    return comparison_holds(op, r);
}

static int32_t compare_signed(int32_t a, int32_t b) { return a < b ? -1 : a > b ? 1 : 0; }

int32_t compare_values(const Cell* value1, const Cell* value2, int32_t op) {
    switch (cell_type(value1)) {
    case T_LOGIC:
        return compare_signed(int32_t(logic_get(value1)), int32_t(logic_get(value2)));
    case T_OP: case T_ACTION: case T_NATIVE:
        return compare_signed(int32_t(function_index(value1)), int32_t(function_index(value2)));
    case T_FUNCTION: case T_ROUTINE:
        return compare_signed(int32_t(function_more(value1)), int32_t(function_more(value2)));
    default: {
        auto fn = action_slot_as<CompareFn>(cell_type(value1), A_COMPARE);
        return fn ? fn(value1, value2, op) : COMPARE_INCOMPARABLE;
    }
    }
}

void compare_push_logic(int32_t op) { logic_box(compare_logic(arg(0), arg(1), op)); }

static void compare_entry(const int32_t* r) { compare_push_logic(r[0]); }

// ---- math --------------------------------------------------------------------------------

static void unary_entry(int n) { lookup<UnaryFn>(n)(arg(0)); keep_first(); }
static void arithmetic_entry(int n) { lookup<ArithmeticFn>(n)(arg(0), arg(1)); keep_first(); }

static void random_entry(const int32_t* r) {
    lookup<RandomFn>(A_RANDOM)(arg(0), flag(r, 0), flag(r, 1), flag(r, 2));
    keep_first();
}
static void reflect_entry(const int32_t*) { lookup<ReflectFn>(A_REFLECT)(arg(0), arg(1)); keep_first(); }
static void absolute_entry(const int32_t*) { unary_entry(A_ABSOLUTE); }
static void add_entry(const int32_t*) { arithmetic_entry(A_ADD); }
static void divide_entry(const int32_t*) { arithmetic_entry(A_DIVIDE); }
static void multiply_entry(const int32_t*) { arithmetic_entry(A_MULTIPLY); }
static void negate_entry(const int32_t*) { unary_entry(A_NEGATE); }
static void power_entry(const int32_t*) { arithmetic_entry(A_POWER); }
static void remainder_entry(const int32_t*) { arithmetic_entry(A_REMAINDER); }
static void round_entry(const int32_t* r) {
    lookup<RoundFn>(A_ROUND)(arg(0), ref_arg(r, 0), flag(r, 1), flag(r, 2), flag(r, 3),
                             flag(r, 4), flag(r, 5), flag(r, 6));
    keep_first();
}
static void subtract_entry(const int32_t*) { arithmetic_entry(A_SUBTRACT); }
static void even_q_entry(const int32_t*) { logic_box(lookup<EvenOddFn>(A_EVEN_Q)(arg(0))); }
static void odd_q_entry(const int32_t*) { logic_box(lookup<EvenOddFn>(A_ODD_Q)(arg(0))); }
static void and_entry(const int32_t*) { arithmetic_entry(A_AND_T); }
static void complement_entry(const int32_t*) { set_result(lookup<ComplementFn>(A_COMPLEMENT)(arg(0))); }
static void or_entry(const int32_t*) { arithmetic_entry(A_OR_T); }
static void xor_entry(const int32_t*) { arithmetic_entry(A_XOR_T); }

// ---- series ------------------------------------------------------------------------------

// The /part argument of append, insert and change as a count: an integer!, or
// a position in the same series (same type and buffer), counted from the
// target's position; -1 when absent.
static int32_t part_count(const Cell* series, const Cell* part) {
    if (!part) return -1;
    if (cell_type(part) == T_INTEGER) return cell_int(part);
    if (cell_type(part) == cell_type(series) && cell_type(series) != T_PORT &&
        series_cell_q(cell_type(series)) && series_node(part) == series_node(series))
        return series_index(part) - series_index(series);
    error_raise(ERR_INVALID_REFINE_ARG, part);
}

static int32_t dup_count(const Cell* dup) {
    if (!dup) return 1;
    return cell_type(dup) == T_INTEGER ? cell_int(dup) : 0;
}

static void insert_or_append(const int32_t* r, int n) {
    auto fn = lookup<InsertFn>(n);
    int32_t part = part_count(arg(0), ref_arg(r, 0));
    if (series_cell_q(cell_type(arg(0))) && series_node(arg(0)) == 0) error_raise(ERR_INVALID_PART, arg(0));
    fn(arg(0), arg(1), part, flag(r, 1), dup_count(ref_arg(r, 2)), n == A_APPEND);
    keep_first();
}
static void append_entry(const int32_t* r) { insert_or_append(r, A_APPEND); }
static void insert_entry(const int32_t* r) { insert_or_append(r, A_INSERT); }
static void change_entry(const int32_t* r) {
    auto fn = lookup<ChangeFn>(A_CHANGE);
    int32_t part = part_count(arg(0), ref_arg(r, 0));
    if (series_cell_q(cell_type(arg(0))) && series_node(arg(0)) == 0) error_raise(ERR_INVALID_PART, arg(0));
    fn(arg(0), arg(1), part, flag(r, 1), dup_count(ref_arg(r, 2)));
    keep_first();
}

static void move_by_entry(int n) { lookup<SeriesMoveFn>(n)(arg(0), arg(1)); keep_first(); }
static void step_entry(int n) { lookup<SeriesStepFn>(n)(arg(0)); keep_first(); }

static void at_entry(const int32_t*) { move_by_entry(A_AT); }
static void back_entry(const int32_t*) { step_entry(A_BACK); }
static void clear_entry(const int32_t*) { lookup<ClearFn>(A_CLEAR)(arg(0)); keep_first(); }
static void copy_entry(const int32_t* r) {
    auto fn = lookup<CopyFn>(A_COPY);
    const Cell* types = ref_arg(r, 2);
    if (types && cell_type(types) != T_DATATYPE && cell_type(types) != T_TYPESET) {
        Cell caller;
        stack_caller_word(&caller);
        expect_arg_raise(&caller, cell_type(types), 5);  // copy value /part length /deep /types kind
    }
    fn(arg(0), ref_arg(r, 0), flag(r, 1), types);
    keep_first();
}
// The options of find or select from the frame: their refinements are numbered
// alike up to /reverse, and select has neither /tail nor /match.
static FindOptions find_options(const int32_t* r, bool find) {
    return FindOptions{.part = ref_arg(r, 0), .only = flag(r, 1), .case_ = flag(r, 2),
                       .same = flag(r, 3), .any = flag(r, 4), .with = ref_arg(r, 5),
                       .skip = ref_arg(r, 6), .last = flag(r, 7), .reverse = flag(r, 8),
                       .tail = find && flag(r, 9), .match = find && flag(r, 10)};
}
// Whether none of the first N refinements was given: the common call.
template <int N> static inline bool none_given(const int32_t* r) {
    int32_t all = -1;
    [&]<int... I>(std::integer_sequence<int, I...>) {
        ((all &= r[I]), ...);
    }(std::make_integer_sequence<int, N>{});
    return all == -1;
}
static const FindOptions plain_find{};
static void find_entry(const int32_t* r) {
    auto fn = lookup<FindFn>(A_FIND);
    if (none_given<11>(r)) set_result(fn(arg(0), arg(1), plain_find));
    else set_result(fn(arg(0), arg(1), find_options(r, true)));
}
static void head_entry(const int32_t*) { step_entry(A_HEAD); }
static void head_q_entry(const int32_t*) { step_entry(A_HEAD_Q); }
static void index_q_entry(const int32_t*) { step_entry(A_INDEX_Q); }
static void length_q_entry(const int32_t*) {
    int32_t n = lookup<LengthFn>(A_LENGTH_Q)(arg(0));
    if (n < 0) stack_box_new(T_NONE);
    else integer_box(n);
}
static void move_entry(const int32_t* r) {
    lookup<MoveFn>(A_MOVE)(arg(0), arg(1), ref_arg(r, 0));
    keep_first();
}
static void next_entry(const int32_t*) { step_entry(A_NEXT); }
bool index_argument(const Cell* index, int64_t* n) {
    switch (cell_type(index)) {
    case T_INTEGER: case T_CHAR: *n = cell_int(index); return true;
    case T_LOGIC: *n = logic_get(index) ? 1 : 2; return true;
    default: return false;
    }
}

static void pick_entry(const int32_t*) { lookup<PickFn>(A_PICK)(arg(0), arg(1)); keep_first(); }
static void poke_entry(const int32_t*) {
    lookup<PokeFn>(A_POKE)(arg(0), arg(1), arg(2));
    keep_first();
}
static void put_entry(const int32_t* r) {
    lookup<PutFn>(A_PUT)(arg(0), arg(1), arg(2), flag(r, 0));
    keep_first();
}
static void remove_entry(const int32_t* r) {
    lookup<RemoveFn>(A_REMOVE)(arg(0), ref_arg(r, 0), ref_arg(r, 1));
    keep_first();
}
static void reverse_entry(const int32_t* r) {
    lookup<ReverseFn>(A_REVERSE)(arg(0), ref_arg(r, 0), ref_arg(r, 1));
    keep_first();
}
static void select_entry(const int32_t* r) {
    auto fn = lookup<SelectFn>(A_SELECT);
    if (none_given<9>(r)) set_result(fn(arg(0), arg(1), plain_find));
    else set_result(fn(arg(0), arg(1), find_options(r, false)));
}
static void sort_entry(const int32_t* r) {
    lookup<SortFn>(A_SORT)(arg(0), flag(r, 0), ref_arg(r, 1), ref_arg(r, 2), ref_arg(r, 3),
                           flag(r, 4), flag(r, 5), flag(r, 6));
    keep_first();
}
static void skip_entry(const int32_t*) { move_by_entry(A_SKIP); }
static void swap_entry(const int32_t*) { lookup<SwapFn>(A_SWAP)(arg(0), arg(1)); keep_first(); }
static void tail_entry(const int32_t*) { step_entry(A_TAIL); }
static void tail_q_entry(const int32_t*) { step_entry(A_TAIL_Q); }
static void take_entry(const int32_t* r) {
    set_result(lookup<TakeFn>(A_TAKE)(arg(0), ref_arg(r, 0), flag(r, 1), flag(r, 2)));
}
static void trim_entry(const int32_t* r) {
    lookup<TrimActionFn>(A_TRIM)(arg(0), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3),
                                 flag(r, 4), ref_arg(r, 5));
    keep_first();
}

// ---- ports -------------------------------------------------------------------------------

static void port_entry(int n) { lookup<PortFn>(n)(arg(0)); keep_first(); }
static void create_entry(const int32_t*) { port_entry(A_CREATE); }
static void close_entry(const int32_t*) { port_entry(A_CLOSE); }
static void delete_entry(const int32_t*) { port_entry(A_DELETE); }
static void modify_entry(const int32_t*) {
    lookup<ModifyFn>(A_MODIFY)(arg(0), arg(1), arg(2));
    keep_first();
}
static void open_entry(const int32_t* r) {
    lookup<OpenFn>(A_OPEN)(arg(0), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), ref_arg(r, 4));
    keep_first();
}
static void open_q_entry(const int32_t*) { port_entry(A_OPEN_Q); }
static void query_entry(const int32_t*) { port_entry(A_QUERY); }
static void read_entry(const int32_t* r) {
    lookup<ReadFn>(A_READ)(arg(0), ref_arg(r, 0), ref_arg(r, 1), flag(r, 2), flag(r, 3),
                           flag(r, 4), ref_arg(r, 5));
    keep_first();
}
static void rename_entry(const int32_t*) { lookup<RenameFn>(A_RENAME)(arg(0), arg(1)); keep_first(); }
static void update_entry(const int32_t*) { port_entry(A_UPDATE); }
static void write_entry(const int32_t* r) {
    lookup<WriteFn>(A_WRITE)(arg(0), arg(1), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3),
                             ref_arg(r, 4), ref_arg(r, 5), ref_arg(r, 6), ref_arg(r, 7));
    keep_first();
}

// ---- the table ---------------------------------------------------------------------------

// In action order; slot 8 never has an entry.
static const ActionEntry action_entries[ACTIONS_TABLE_SLOTS] = {
    make_entry, random_entry, reflect_entry, to_entry, form_entry, mold_entry,
    eval_path_entry, nullptr, compare_entry,
    absolute_entry, add_entry, divide_entry, multiply_entry, negate_entry, power_entry,
    remainder_entry, round_entry, subtract_entry, even_q_entry, odd_q_entry, and_entry,
    complement_entry, or_entry, xor_entry,
    append_entry, at_entry, back_entry, change_entry, clear_entry, copy_entry, find_entry,
    head_entry, head_q_entry, index_q_entry, insert_entry, length_q_entry, move_entry,
    next_entry, pick_entry, poke_entry, put_entry, remove_entry, reverse_entry, select_entry,
    sort_entry, skip_entry, swap_entry, tail_entry, tail_q_entry, take_entry, trim_entry,
    create_entry, close_entry, delete_entry, modify_entry, open_entry, open_q_entry,
    query_entry, read_entry, rename_entry, update_entry, write_entry,
};

static ActionEntry actions_table[ACTIONS_TABLE_SLOTS + 1];  // slot 0 unused

void actions_table_init() {
    actions_table[0] = nullptr;
    for (uint32_t n = 1; n <= ACTIONS_TABLE_SLOTS; n++) actions_table[n] = action_entries[n - 1];
}

ActionEntry action_entry(uint32_t n) {
    return n >= 1 && n <= ACTIONS_TABLE_SLOTS ? actions_table[n] : nullptr;
}

} // namespace kel
