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

// Every module's table of natives.
static const NativeTable* const native_tables[] = {
    &CONTROL_NATIVES,
    &FUNCTIONS_NATIVES,
    &EVAL_NATIVES,
    &WORDS_NATIVES,
    &PRINT_NATIVES,
    &COMPARE_NATIVES,
    &PARSE_NATIVES,
    &SETOPS_NATIVES,
    &ENCODING_NATIVES,
    &SIGN_SHIFT_NATIVES,
    &MAXMIN_NATIVES,
    &MATHS_NATIVES,
    &CONSTRUCT_NATIVES,
    &COERCE_NATIVES,
    &SYSTEM_NATIVES,
    &QUERY_NATIVES,
};

// The tables the layers above add.
constexpr uint32_t ADDED_TABLES_MAX = 4;
static const NativeTable* added_tables[ADDED_TABLES_MAX];
static uint32_t added_count = 0;

void natives_table_add(const NativeTable* table) {
    for (uint32_t k = 0; k < added_count; k++)
        if (added_tables[k] == table) return;
    if (added_count == ADDED_TABLES_MAX) error_raise(ERR_LIMIT_HIT);
    added_tables[added_count++] = table;
}

// The row of every index (1..NATIVES_DEFINED), each filled exactly once.
static const NativeRow* rows_by_index[NATIVES_DEFINED + 1];

static void rows_of(const NativeTable* table) {
    for (uint32_t k = 0; k < table->count; k++) {
        const NativeRow& row = table->rows[k];
        if (row.index < 1 || row.index > NATIVES_DEFINED || rows_by_index[row.index])
            error_raise(ERR_LIMIT_HIT);
        rows_by_index[row.index] = &row;
    }
}

static void rows_index() {
    for (const NativeRow*& row : rows_by_index) row = nullptr;
    for (const NativeTable* table : native_tables) rows_of(table);
    for (uint32_t k = 0; k < added_count; k++) rows_of(added_tables[k]);
    for (uint32_t index = 1; index <= NATIVES_DEFINED; index++)
        if (!rows_by_index[index]) error_raise(ERR_LIMIT_HIT);
}

// The natives whose number cases the evaluator computes itself, by index:
// the comparisons with the comparison each computes; square-root and
// return, and if, unless and either, get their roles below.
static const struct {
    uint32_t index;
    CompareOp comparison;
} native_comparison_tags[] = {
    {25, CMP_EQUAL}, {26, CMP_NOT_EQUAL}, {27, CMP_STRICT_EQUAL}, {28, CMP_LESSER},
    {29, CMP_GREATER}, {30, CMP_LESSER_OR_EQUAL}, {31, CMP_GREATER_OR_EQUAL},
};

void natives_init() {
    rows_index();
    natives_table_init();
    for (uint32_t index = 1; index <= NATIVES_DEFINED; index++)
        native_register_at(index, rows_by_index[index]->fn);
    for (const auto& tag : native_comparison_tags) native_comparison_tag(tag.index, tag.comparison);
    native_role_tag(67, NATIVE_ROLE_SQUARE_ROOT);
    native_role_tag(33, NATIVE_ROLE_NOT);
    native_role_tag(4, NATIVE_ROLE_ANY);
    native_role_tag(5, NATIVE_ROLE_ALL);
    native_role_tag(80, NATIVE_ROLE_RETURN);
    native_role_tag(1, NATIVE_ROLE_IF);
    native_role_tag(2, NATIVE_ROLE_UNLESS);
    native_role_tag(3, NATIVE_ROLE_EITHER);
    print_init();
}

std::string natives_spec_text() {
    if (!rows_by_index[1]) rows_index();
    std::string text = "\n";
    for (uint32_t index = 1; index <= NATIVES_DEFINED; index++) {
        const NativeRow& row = *rows_by_index[index];
        text.append(row.name).append(": ").append(row.spec).append("\n");
    }
    return text;
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
    Cell name, parameter;
    stack_frame_word(stack_top_frame(), &name);
    error_call_argument(n + 1, &parameter);
    error_raise_type(ERR_EXPECT_ARG, &name, cell_type(data_stack.args + n), &parameter);
}

void native_args_check(bool check, uint32_t native_index, uint32_t count) {
    if (!check) return;
    for (uint32_t n = 0; n < count; n++) native_arg_check(native_index, n);
}

Cell* native_refinement_arg(const int32_t* refinements, uint32_t k) {
    return refinements[k] < 0 ? nullptr : data_stack.args + refinements[k];
}

} // namespace kel
