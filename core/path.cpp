// The path types and paren!: construction and printed forms; every other
// action is block!'s.
#include "core/path.hpp"
#include "core/block.hpp"
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "runtime/collector.hpp"
#include "runtime/native_guard.hpp"

#include <cstring>

namespace kel {

Cell* path_push_as(const Cell* source, uint8_t type) {
    Cell* cell = stack_push(source);
    cell_type_set(cell, type);
    return cell;
}

void path_make_at(Cell* out, uint32_t capacity) {
    block_make_at(out, int32_t(capacity == 0 ? 1 : capacity > INT32_MAX ? INT32_MAX : capacity));
    cell_type_set(out, T_PATH);
}

// ---- make and to -------------------------------------------------------------------------------

const Cell* path_make(Cell* proto, const Cell* spec, uint8_t type) {
    switch (cell_type(spec)) {
    case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
    case T_HASH: case T_INTEGER: case T_FLOAT:
        return block_make(proto, spec, type);
    case T_PERCENT: {
        Cell size = *spec;
        cell_type_set(&size, T_FLOAT);
        return block_make(proto, &size, type);
    }
    default: {
        Cell arg = *spec;
        error_raise_type(ERR_BAD_MAKE_ARG, type, &arg);
    }
    }
}

const Cell* path_to(Cell* proto, const Cell* spec, uint8_t type) {
    switch (cell_type(spec)) {
    case T_OBJECT: case T_TYPESET: case T_MAP: {
        Cell* value = stack_push(spec);
        Cell* path = stack_push_new(T_NONE);
        path_make_at(path, 1);
        block_ks_append(path, value);
        cell_copy(path, proto);
        cell_type_set(proto, type);
        stack_pop(2);
        return proto;
    }
    default:
        return block_to(proto, spec, type);
    }
}

// ---- form and mold ----------------------------------------------------------------------------

// Writes the cycle guard's placeholder of a value already being printed;
// true when written.
static bool cycle_placeholder(const Cell* value, Cell* target, bool mold, int32_t* budget) {
    const char* text = cycles_detect(value, mold);
    if (!text) return false;
    uint32_t length = uint32_t(std::strlen(text));
    string_concatenate_bytes(target, text, length);
    *budget -= int32_t(length);
    return true;
}

// Writes the elements from the path's position, each formed or molded,
// separated by "/". A path already being printed writes the cycle guard's
// placeholder instead. With a part limit, printing stops once the budget
// falls below 1.
static int32_t path_print(const Cell* value, Cell* target, bool mold, bool only, bool all,
                          bool flat, bool part, int32_t budget, int32_t indent) {
    native_stack_check();
    if (cycle_placeholder(value, target, mold, &budget)) return budget;
    CellRoot path(*value);
    CycleGuard guard(series_node(&path.cell));
    int32_t action = mold ? A_MOLD : A_FORM;
    for (uint32_t i = uint32_t(series_index(&path.cell));; i++) {
        SeriesBuffer* b = series_buffer_of(&path.cell);
        if (i >= b->length()) break;
        if (part && budget < 1) break;
        if (i > uint32_t(series_index(&path.cell))) {
            string_append_char(target, '/');
            budget--;
        }
        CellRoot element(block_cells(series_node(&path.cell))[i]);
        auto print = action_slot_as<FormMoldFn>(cell_type(&element.cell), action);
        if (print) budget = print(&element.cell, target, false, all, flat, part, budget, indent);
    }
    return budget;
}

int32_t path_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent) {
    return path_print(value, target, false, only, all, flat, part, budget, indent);
}

int32_t path_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent) {
    return path_print(value, target, true, only, all, flat, part, budget, indent);
}

int32_t lit_path_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                      bool part, int32_t budget, int32_t indent) {
    string_append_char(target, '\'');
    return path_print(value, target, true, only, all, flat, part, budget - 1, indent);
}

int32_t set_path_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                      bool part, int32_t budget, int32_t indent) {
    budget = path_print(value, target, true, only, all, flat, part, budget, indent);
    string_append_char(target, ':');
    return budget - 1;
}

int32_t get_path_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                      bool part, int32_t budget, int32_t indent) {
    string_append_char(target, ':');
    return path_print(value, target, true, only, all, flat, part, budget - 1, indent);
}

int32_t paren_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent) {
    if (cycle_placeholder(value, target, true, &budget)) return budget;
    if (only) return block_mold_each(value, target, only, all, flat, part, budget, indent);
    string_append_char(target, '(');
    budget = block_mold_each(value, target, only, all, flat, part, budget - 1, indent);
    string_append_char(target, ')');
    return budget - 1;
}

// ---- registration ----------------------------------------------------------------------------

void init_path() {
    const ActionRow actions[] = {
        {A_MAKE, path_make},
        {A_TO, path_to},
        {A_FORM, path_form},
        {A_MOLD, path_mold},
        {A_REFLECT, ACTION_INHERIT}, {A_EVAL_PATH, ACTION_INHERIT}, {A_COMPARE, ACTION_INHERIT},
        {A_APPEND, A_TAKE, ACTION_INHERIT}, {A_MODIFY, ACTION_INHERIT},
    };
    datatype_register(T_PATH, T_BLOCK, "path!", actions);
}

// A type that takes every slot from its parent except mold.
static void mold_only_register(uint8_t type, uint8_t parent, const char* name, ActionFn mold) {
    const ActionRow actions[] = {{A_MOLD, mold}};
    datatype_register(type, parent, name, actions, ACTIONS_INHERITED);
}

void init_lit_path() { mold_only_register(T_LIT_PATH, T_PATH, "lit-path!", action_fn(&lit_path_mold)); }
void init_set_path() { mold_only_register(T_SET_PATH, T_PATH, "set-path!", action_fn(&set_path_mold)); }
void init_get_path() { mold_only_register(T_GET_PATH, T_PATH, "get-path!", action_fn(&get_path_mold)); }
void init_paren() { mold_only_register(T_PAREN, T_BLOCK, "paren!", action_fn(&paren_mold)); }

} // namespace kel
