#include "core/logic.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include "runtime/random.hpp"

namespace kel {

const Cell unset_cell{T_UNSET, 0, 0, 0};
const Cell none_cell{T_NONE, 0, 0, 0};
const Cell true_cell{T_LOGIC, 1, 0, 0};
const Cell false_cell{T_LOGIC, 0, 0, 0};

void unset_make_at(Cell* cell) { cell_init(cell, T_UNSET); }
Cell* unset_make_in(Node block) {
    Cell* cell = cell_series_append(block);
    unset_make_at(cell);
    return cell;
}
Cell* unset_push() { return stack_push_new(T_UNSET); }

void none_make_at(Cell* cell) { cell_init(cell, T_NONE); }
Cell* none_make_in(Node block) {
    Cell* cell = cell_series_append(block);
    none_make_at(cell);
    return cell;
}
Cell* none_push() { return stack_push_new(T_NONE); }

void logic_make_at(Cell* cell, bool value) {
    cell_init(cell, T_LOGIC);
    cell->w1 = value ? 1 : 0;
}

Cell* logic_make_in(Node block, bool value) {
    Cell* cell = cell_series_append(block);
    logic_make_at(cell, value);
    return cell;
}

Cell* logic_push(bool value) {
    Cell* cell = stack_push_new(T_LOGIC);
    cell->w1 = value ? 1 : 0;
    return cell;
}

void logic_box(bool value) { stack_box_new(T_LOGIC)->w1 = value ? 1 : 0; }

// ---- truth tests -----------------------------------------------------------

bool value_true(const Cell* value, bool check) {
    if (check && cell_type(value) == T_UNSET) error_raise(ERR_NO_VALUE);
    return !logic_false(value);
}

bool logic_true_checked(const Cell* value) {
    if (cell_type(value) == T_UNSET) error_raise(ERR_NO_RETURN);
    return !logic_false(value);
}

bool logic_top_false() {
    const Cell* top = data_stack.top > data_stack.args ? data_stack.top - 1 : data_stack.args;
    return logic_false(top);
}

bool logic_top_true() { return !logic_top_false(); }

// Equality and sorting see two values of one of these types as equal; the
// orderings and the search modes of paths do not apply.
static bool compare_op_is_equality(int32_t op) {
    return (op >= CMP_EQUAL && op <= CMP_STRICT_EQUAL) || op == CMP_SORT ||
           op == CMP_SORT_CASE || op == CMP_SAME || op == CMP_FIND;
}

// Appends a text of the value's mold: "#(" text ")" with /all. Returns the
// characters written.
static int32_t mold_text_all(Cell* target, const char* text, uint32_t len, bool all) {
    if (all) string_append_ascii(target, "#(", 2);
    string_append_ascii(target, text, len);
    if (all) string_append_ascii(target, ")", 1);
    return int32_t(len) + (all ? 3 : 0);
}

// ---- unset! ----------------------------------------------------------------

const Cell* unset_make(Cell*, const Cell*, uint8_t) { return &unset_cell; }

int32_t unset_form(const Cell*, Cell*, bool, bool, bool, bool, int32_t budget, int32_t) {
    return budget;
}

int32_t unset_mold(const Cell*, Cell* target, bool, bool all, bool, bool, int32_t budget,
                   int32_t) {
    return budget - mold_text_all(target, "unset", 5, all);
}

int32_t unset_compare(const Cell*, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_UNSET || !compare_op_is_equality(op)) return COMPARE_INCOMPARABLE;
    return 0;
}

void init_unset() {
    const ActionRow actions[] = {
        {A_MAKE, unset_make},
        {A_TO, unset_make},
        {A_FORM, unset_form},
        {A_MOLD, unset_mold},
        {A_COMPARE, unset_compare},
    };
    datatype_register(T_UNSET, 0, "unset!", actions);
}

// ---- none! -----------------------------------------------------------------

const Cell* none_make(Cell*, const Cell*, uint8_t) { return &none_cell; }

int32_t none_form(const Cell*, Cell* target, bool, bool, bool, bool, int32_t budget, int32_t) {
    return budget - mold_text_all(target, "none", 4, false);
}

int32_t none_mold(const Cell*, Cell* target, bool, bool all, bool, bool, int32_t budget,
                  int32_t) {
    return budget - mold_text_all(target, "none", 4, all);
}

int32_t none_compare(const Cell*, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_NONE || !compare_op_is_equality(op)) return COMPARE_INCOMPARABLE;
    return 0;
}

// The series actions that none! accepts all answer none.
void none_clear(Cell* series) { none_make_at(series); }

const Cell* none_find(Cell*, const Cell*, const FindOptions&) {
    return &none_cell;
}

int32_t none_length(const Cell*) { return -1; }

void none_remove(Cell* series, Cell*, Cell*) { none_make_at(series); }

const Cell* none_select(Cell*, const Cell*, const FindOptions&) {
    return &none_cell;
}

const Cell* none_take(Cell*, Cell*, bool, bool) { return &none_cell; }

void init_none() {
    const ActionRow actions[] = {
        {A_MAKE, none_make},
        {A_TO, none_make},
        {A_FORM, none_form},
        {A_MOLD, none_mold},
        {A_COMPARE, none_compare},
        {A_CLEAR, none_clear},
        {A_FIND, none_find},
        {A_LENGTH_Q, none_length},
        {A_REMOVE, none_remove},
        {A_SELECT, none_select},
        {A_TAKE, none_take},
    };
    datatype_register(T_NONE, 0, "none!", actions);
}

// ---- logic! ----------------------------------------------------------------
// Every operation reads a value's truth as "payload is exactly 1" and writes a
// payload of 0 or 1, so a cell with any other payload (foreign data) behaves
// as false everywhere.

static const Cell* logic_cell(bool value) { return value ? &true_cell : &false_cell; }

// A logic! stays as it is; none! is false; every other value is true.
const Cell* logic_to(Cell*, const Cell* spec, uint8_t) {
    switch (cell_type(spec)) {
    case T_LOGIC: return spec;
    case T_NONE: return &false_cell;
    default: return &true_cell;
    }
}

// Numbers are true unless zero; a NaN is not equal to 0.0 and so is true.
const Cell* logic_make(Cell* proto, const Cell* spec, uint8_t type) {
    switch (cell_type(spec)) {
    case T_INTEGER: return logic_cell(cell_int(spec) != 0);
    case T_FLOAT:
    case T_PERCENT: return logic_cell(!(cell_double(spec) == 0.0));
    default: return logic_to(proto, spec, type);
    }
}

int32_t logic_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                   int32_t) {
    return budget - (logic_get(value) ? mold_text_all(target, "true", 4, false)
                                      : mold_text_all(target, "false", 5, false));
}

int32_t logic_mold(const Cell* value, Cell* target, bool, bool all, bool, bool, int32_t budget,
                   int32_t) {
    return budget - (logic_get(value) ? mold_text_all(target, "true", 4, all)
                                      : mold_text_all(target, "false", 5, all));
}

// false orders before true.
int32_t logic_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_LOGIC || !compare_op_is_equality(op)) return COMPARE_INCOMPARABLE;
    return int32_t(logic_get(value1)) - int32_t(logic_get(value2));
}

const Cell* logic_complement(Cell* value) {
    value->w1 = logic_get(value) ? 0 : 1;
    return value;
}

// The second operand of and~, or~ and xor~ must be a logic! as well. The
// error names the operand's datatype; the action's word and the parameter's
// word come from the running frame.
static bool logic_operand(const Cell* value2) {
    if (cell_type(value2) != T_LOGIC) {
        error_raise_type(ERR_EXPECT_ARG, nullptr, cell_type(value2), nullptr);
    }
    return logic_get(value2);
}

void logic_and(Cell* value1, const Cell* value2) {
    bool b = logic_operand(value2);
    value1->w1 = logic_get(value1) && b ? 1 : 0;
}

void logic_or(Cell* value1, const Cell* value2) {
    bool b = logic_operand(value2);
    value1->w1 = logic_get(value1) || b ? 1 : 0;
}

void logic_xor(Cell* value1, const Cell* value2) {
    bool b = logic_operand(value2);
    value1->w1 = logic_get(value1) != b ? 1 : 0;
}

// random true (or false) is a fair draw: a 31-bit number, from the generator's
// top bits or the secure source, is true above its middle.
static void logic_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_mt_seed(value->w1);
        unset_make_at(value);
        return;
    }
    int32_t n = secure ? random_secure_int() : int32_t(random_mt_next() >> 1);
    logic_make_at(value, n > 0x3FFFFFFF);
}

void init_logic() {
    const ActionRow actions[] = {
        {A_MAKE, logic_make},
        {A_RANDOM, logic_random},
        {A_TO, logic_to},
        {A_FORM, logic_form},
        {A_MOLD, logic_mold},
        {A_COMPARE, logic_compare},
        {A_COMPLEMENT, logic_complement},
        {A_AND_T, logic_and},
        {A_OR_T, logic_or},
        {A_XOR_T, logic_xor},
    };
    datatype_register(T_LOGIC, 0, "logic!", actions);
}

} // namespace kel
