// typeset!: the mask, its constructors, set operations and actions.
#include "core/block.hpp"
#include "core/typeset.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/logic.hpp"
#include "core/mold_text.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "runtime/collector.hpp"

#include <algorithm>

namespace kel {

// ---- the mask -----------------------------------------------------------------------------

// The payload words as the 12-byte array the layout is defined on.
static uint8_t* mask_bytes(Cell* c) { return reinterpret_cast<uint8_t*>(&c->w1); }

void typeset_add_type(Cell* typeset, uint8_t type) {
    if (type < TYPESET_BITS) mask_bytes(typeset)[type >> 3] |= uint8_t(0x80 >> (type & 7));
}

void typeset_remove_type(Cell* typeset, uint8_t type) {
    if (type < TYPESET_BITS) mask_bytes(typeset)[type >> 3] &= uint8_t(~(0x80 >> (type & 7)));
}

uint32_t typeset_count(const Cell* typeset) {
    uint32_t count = 0;
    uint8_t highest = datatype_highest_id();
    for (uint32_t t = 1; t <= highest; t++) count += typeset_has(typeset, uint8_t(t)) ? 1 : 0;
    return count;
}

// ---- constructors -------------------------------------------------------------------------

void typeset_make_words_at(Cell* out, uint32_t w1, uint32_t w2, uint32_t w3) {
    cell_init(out, T_TYPESET);
    out->w1 = w1;
    out->w2 = w2;
    out->w3 = w3;
}

void typeset_make_at(Cell* out, const uint8_t* types, uint32_t count) {
    cell_init(out, T_TYPESET);
    for (uint32_t i = 0; i < count; i++) typeset_add_type(out, types[i]);
}

void typeset_all_but_unset_at(Cell* out) {
    typeset_make_words_at(out, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
    typeset_remove_type(out, T_UNSET);
}

Cell* typeset_make_in(Node parent, uint32_t w1, uint32_t w2, uint32_t w3) {
    Cell* cell = cell_series_append(parent);
    typeset_make_words_at(cell, w1, w2, w3);
    return cell;
}

Cell* typeset_all_but_unset(Node parent) {
    Cell* cell = cell_series_append(parent);
    typeset_all_but_unset_at(cell);
    return cell;
}

Cell* typeset_push(const Cell* typeset) { return stack_push(typeset); }

// The value of a word entry of a type list; unset raises no-value.
static Cell word_value_checked(const Cell* word) {
    Cell w = *word;
    Cell value = *word_get(&w);
    if (cell_type(&value) == T_UNSET) error_raise(ERR_NO_VALUE, &w);
    return value;
}

void typeset_add(Cell* typeset, const Cell* entry) {
    Cell value = cell_type(entry) == T_WORD ? word_value_checked(entry) : *entry;
    switch (cell_type(&value)) {
    case T_TYPESET:
        typeset->w1 |= value.w1;
        typeset->w2 |= value.w2;
        typeset->w3 |= value.w3;
        break;
    case T_DATATYPE:
        if (value.w1 < TYPESET_BITS) typeset_add_type(typeset, uint8_t(value.w1));
        break;
    default:
        error_raise(ERR_INVALID_ARG, &value);
    }
}

// The cells of a block from its position, clamped to its tail.
static const Cell* block_cells_at(const Cell* block, uint32_t* count) {
    SeriesBuffer* b = series_buffer_of(block);
    uint32_t length = b->length();
    uint32_t from = std::min(uint32_t(series_index(block)), length);
    *count = length - from;
    return block_cells(b) + from;
}

// The typeset of a block's entries from its position, each added to the mask
// by the given function. Reading a word's value may extend a context's value
// block, so the block is held and re-read for every entry.
static Cell typeset_of_block(const Cell* block_cell, void (*add)(Cell* mask, const Cell* entry)) {
    CellRoot block(*block_cell);
    Cell mask;
    typeset_make_at(&mask);
    uint32_t count;
    block_cells_at(&block.cell, &count);
    for (uint32_t i = 0; i < count; i++) {
        Cell entry = block_cells_at(&block.cell, &count)[i];
        add(&mask, &entry);
    }
    return mask;
}

// One entry of a function's type block.
static void spec_entry_add(Cell* mask, const Cell* entry) {
    Cell value = cell_type(entry) == T_WORD ? word_value_checked(entry) : *entry;
    switch (cell_type(&value)) {
    case T_DATATYPE: case T_TYPESET:
        typeset_add(mask, &value);
        break;
    case T_WORD:
        typeset_add_type(mask, T_OBJECT);
        break;
    case T_BLOCK:
        break;
    default: {
        Cell arg = *entry;
        error_raise(ERR_INVALID_TYPE_SPEC, &arg);
    }
    }
}

Cell* typeset_from_spec(Node parent_node, const Cell* types) {
    NodeRoot parent(parent_node, ROOT_BLOCK);
    Cell mask = typeset_of_block(types, spec_entry_add);
    return typeset_make_in(parent.node, mask.w1, mask.w2, mask.w3);
}

void typeset_to_block(const Cell* typeset, Node block_node) {
    Cell mask = *typeset;
    NodeRoot block(block_node, ROOT_BLOCK);
    uint8_t highest = datatype_highest_id();
    for (uint32_t t = 1; t <= highest; t++) {
        const DatatypeName* entry = datatype_name(uint8_t(t));
        if (!typeset_has(&mask, uint8_t(t)) || entry->name == nullptr) continue;
        Cell word = word_intern(entry->name);
        cell_series_append_value(block.node, &word);
    }
}

// ---- set operations ---------------------------------------------------------------------

void typeset_set_op_at(Cell* value1, const Cell* value2, int32_t op) {
    Cell other;
    switch (cell_type(value2)) {
    case T_TYPESET:
        other = *value2;
        break;
    case T_DATATYPE:
        typeset_make_at(&other);
        if (value2->w1 < TYPESET_BITS) typeset_add_type(&other, uint8_t(value2->w1));
        break;
    default: {
        Cell arg = *value2;
        error_raise(ERR_INVALID_ARG, &arg);
    }
    }
    uint32_t* a[3] = {&value1->w1, &value1->w2, &value1->w3};
    const uint32_t b[3] = {other.w1, other.w2, other.w3};
    for (int i = 0; i < 3; i++) {
        switch (op) {
        case TYPESET_OR: case TYPESET_UNION: *a[i] |= b[i]; break;
        case TYPESET_AND: case TYPESET_INTERSECT: *a[i] &= b[i]; break;
        case TYPESET_XOR: case TYPESET_DIFFERENCE: *a[i] ^= b[i]; break;
        case TYPESET_EXCLUDE: *a[i] &= ~b[i]; break;
        default: break;  // unique: the first argument as it is
        }
    }
}

void typeset_set_op(int32_t op) {
    typeset_set_op_at(&data_stack.args[0], &data_stack.args[1], op);
    stack_keep();
}

// ---- actions -------------------------------------------------------------------------------

const Cell* typeset_make(Cell* proto, const Cell* spec, uint8_t) {
    switch (cell_type(spec)) {
    case T_TYPESET:
        cell_copy(spec, proto);
        return proto;
    case T_BLOCK: {
        Cell result = typeset_of_block(spec, typeset_add);
        *proto = result;
        return proto;
    }
    default: {
        Cell value = *spec;
        error_raise_type(ERR_BAD_TO_ARG, T_TYPESET, &value);
    }
    }
}

// Writes the names of the set types, each with its "!", separated by blanks.
// Each name costs its length + 2 (its "!" and the blank or closing bracket);
// with a part limit, output stops once the budget falls below 0.
static int32_t typeset_names(const Cell* value, Cell* target, bool part, int32_t budget) {
    Cell mask = *value;
    uint8_t highest = datatype_highest_id();
    bool first = true;
    for (uint32_t t = 1; t <= highest; t++) {
        const DatatypeName* entry = datatype_name(uint8_t(t));
        if (!typeset_has(&mask, uint8_t(t)) || entry->name == nullptr) continue;
        if (part && budget < 0) break;
        if (!first) string_append_ascii(target, " ", 1);
        string_append_ascii(target, entry->name, entry->length + 1);
        budget -= int32_t(entry->length) + 2;
        first = false;
    }
    return budget;
}

int32_t typeset_form(const Cell* value, Cell* target, bool, bool, bool, bool part,
                     int32_t budget, int32_t) {
    return typeset_names(value, target, part, budget);
}

int32_t typeset_mold(const Cell* value, Cell* target, bool, bool, bool, bool part,
                     int32_t budget, int32_t) {
    string_append_ascii(target, "make typeset! [", 15);
    budget = typeset_names(value, target, part, budget - 15);
    string_append_ascii(target, "]", 1);
    return budget;
}

int32_t typeset_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_TYPESET) return COMPARE_INCOMPARABLE;
    switch (op) {
    case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SAME: case CMP_FIND:
        return value1->w1 == value2->w1 && value1->w2 == value2->w2 && value1->w3 == value2->w3
                   ? 0 : 1;
    case CMP_SORT: case CMP_SORT_CASE: {
        uint32_t a = typeset_count(value1), b = typeset_count(value2);
        return a < b ? -1 : a > b ? 1 : 0;
    }
    default:
        return COMPARE_INCOMPARABLE;
    }
}

void typeset_and_t(Cell* value1, const Cell* value2) { typeset_set_op_at(value1, value2, TYPESET_AND); }
void typeset_or_t(Cell* value1, const Cell* value2) { typeset_set_op_at(value1, value2, TYPESET_OR); }
void typeset_xor_t(Cell* value1, const Cell* value2) { typeset_set_op_at(value1, value2, TYPESET_XOR); }

const Cell* typeset_complement(Cell* value) {
    value->w1 = ~value->w1;
    value->w2 = ~value->w2;
    value->w3 = ~value->w3;
    return value;
}

const Cell* typeset_find(Cell* series, const Cell* value, const FindOptions&) {
    if (cell_type(value) != T_DATATYPE) {
        Cell arg = *value;
        error_raise(ERR_INVALID_ARG, &arg);
    }
    return value->w1 < TYPESET_BITS && typeset_has(series, uint8_t(value->w1)) ? &true_cell
                                                                                : &false_cell;
}

void init_typeset() {
    const ActionRow actions[] = {
        {A_MAKE, typeset_make},
        {A_TO, typeset_make},
        {A_FORM, typeset_form},
        {A_MOLD, typeset_mold},
        {A_COMPARE, typeset_compare},
        {A_AND_T, typeset_and_t},
        {A_COMPLEMENT, typeset_complement},
        {A_OR_T, typeset_or_t},
        {A_XOR_T, typeset_xor_t},
        {A_FIND, typeset_find},
    };
    datatype_register(T_TYPESET, 0, "typeset!", actions);
}

} // namespace kel
