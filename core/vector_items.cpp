#include "core/vector_items.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/numbers.hpp"
#include "core/stack.hpp"
#include "runtime/collector.hpp"

namespace kel {

void vector_store_item(uint8_t* at, const Cell* value, uint32_t unit, uint8_t item_type) {
    uint8_t type = cell_type(value);
    bool integral = type == T_INTEGER || type == T_CHAR;
    bool floating = type == T_FLOAT || type == T_PERCENT;
    if (!integral && !floating) error_raise_type(ERR_INVALID_TYPE, type);
    if (vector_float_items_q(item_type)) {
        double d = integral ? double(cell_int(value)) : cell_double(value);
        if (unit == 8) {
            std::memcpy(at, &d, 8);
        } else {
            float f = float(d);
            std::memcpy(at, &f, 4);
        }
        return;
    }
    int32_t n;
    if (integral) n = cell_int(value);
    else if (!integer_from_double(cell_double(value), &n)) error_raise(ERR_OUT_OF_RANGE, value);
    uint32_t bits = uint32_t(n);
    std::memcpy(at, &bits, std::min<uint32_t>(unit, 4));  // little-endian: the low bytes
}

void vector_item_value(const uint8_t* at, uint32_t unit, uint8_t item_type, Cell* out) {
    switch (item_type) {
    case T_FLOAT: float_make_at(out, vector_float_item(at, unit)); break;
    case T_PERCENT: percent_init(out, vector_float_item(at, unit)); break;
    case T_CHAR: char_make_at(out, vector_int_item(at, unit)); break;
    default: cell_init(out, T_INTEGER); out->w2 = uint32_t(vector_int_item(at, unit)); break;
    }
}

Cell* vector_push_item(const uint8_t* at, uint32_t unit, uint8_t item_type) {
    Cell item;
    vector_item_value(at, unit, item_type, &item);
    return stack_push(&item);
}

void vector_item_at(const Cell* vector, uint32_t index, Cell* out) {
    vector_item_value(vector_item_address(vector, index), vector_unit(vector), vector_item_type(vector), out);
}

void vector_to_block(const Cell* vector_cell, Cell* out) {
    CellRoot vector(*vector_cell);
    uint32_t from = vector_index(&vector.cell);
    uint32_t count = vector_buffer_length(&vector.cell) - from;
    block_make_at(out, int32_t(std::max<uint32_t>(count, 1)));
    for (uint32_t i = 0; i < count; i++) {
        Cell item;
        vector_item_at(&vector.cell, from + i, &item);
        block_ks_append(out, &item);
    }
}

} // namespace kel
