// hash!: construction, copying and printing; the rest is block!'s, whose
// functions keep the index in step.
#include "datatypes/hash.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "datatypes/integer.hpp"
#include "runtime/collector.hpp"

#include <algorithm>
#include <cstring>

namespace kel {

void hash_make_in_place(Cell* block) {
    cell_type_set(block, T_HASH);
    hash_index_new(block);
}

const Cell* hash_make(Cell* proto, const Cell* spec_cell, uint8_t type) {
    CellRoot spec(*spec_cell);
    uint8_t spec_type = cell_type(&spec.cell);
    if (spec_type == T_HASH) {
        cell_copy(&spec.cell, proto);
        hash_copy(proto, nullptr, false, nullptr);
        return proto;
    }
    if (spec_type != T_INTEGER && spec_type != T_FLOAT && spec_type != T_BLOCK)
        return hash_to(proto, &spec.cell, type);
    Cell* out = stack_push_new(T_NONE);
    if (spec_type == T_BLOCK) {
        cell_copy(block_clone(&spec.cell, false, false), out);
        stack_pop(1);
    } else {
        int32_t n = 1;
        if (spec_type == T_INTEGER) n = cell_int(&spec.cell);
        else if (!integer_from_double(cell_double(&spec.cell), &n)) error_raise(ERR_OUT_OF_RANGE, &spec.cell);
        block_make_at(out, std::max(n, 1));
    }
    out->header = T_BLOCK;
    hash_make_in_place(out);
    cell_copy(out, proto);
    stack_pop(1);
    return proto;
}

const Cell* hash_to(Cell* proto, const Cell* spec_cell, uint8_t) {
    CellRoot spec(*spec_cell);
    if (cell_type(&spec.cell) == T_HASH) {
        cell_copy(&spec.cell, proto);
        hash_copy(proto, nullptr, false, nullptr);
        return proto;
    }
    Cell* out = stack_push_new(T_NONE);
    datatype_make_at(out, T_BLOCK);
    cell_copy(block_to(out, &spec.cell, T_BLOCK), out);
    out->header = T_BLOCK;
    series_extra_set(out, 0);
    hash_make_in_place(out);
    cell_copy(out, proto);
    stack_pop(1);
    return proto;
}

int32_t hash_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent) {
    if (!only) {
        static const char prefix[] = "make hash! ";
        string_concatenate_bytes(target, prefix, sizeof prefix - 1);
        budget -= int32_t(sizeof prefix - 1);
    }
    return block_mold(value, target, only, all, flat, part, budget, indent);
}

void hash_copy(Cell* series, const Cell* part, bool deep, const Cell* types) {
    block_copy(series, part, deep, types);
    // The copy holds other cells at other positions: it gets an index of its own.
    series_extra_set(series, 0);
    hash_make_in_place(series);
}

void hash_sort(Cell* series, bool case_, const Cell* skip, const Cell* compare, const Cell* part,
               bool all, bool reverse, bool stable) {
    block_sort(series, case_, skip, compare, part, all, reverse, stable);
    hash_index_rebuild(series);
}

void hash_trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all,
               const Cell* with) {
    Cell* original = stack_push(series);
    block_trim(series, head, tail, auto_, lines, all, with);
    hash_index_rebuild(original);
    stack_pop(1);
}

void init_hash() {
    const ActionRow actions[] = {
        {A_MAKE, hash_make},
        {A_TO, hash_to},
        {A_MOLD, hash_mold},
        {A_COPY, hash_copy},
        {A_SORT, hash_sort},
        {A_TRIM, hash_trim},
        // from block!
        {A_REFLECT, ACTION_INHERIT}, {A_FORM, ACTION_INHERIT}, {A_EVAL_PATH, ACTION_INHERIT},
        {A_COMPARE, ACTION_INHERIT}, {A_APPEND, A_CLEAR, ACTION_INHERIT},
        {A_FIND, A_SELECT, ACTION_INHERIT}, {A_SKIP, A_TAKE, ACTION_INHERIT},
        {A_MODIFY, ACTION_INHERIT},
    };
    datatype_register(T_HASH, T_BLOCK, "hash!", actions);
}

} // namespace kel
