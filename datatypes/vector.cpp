// vector!: items in a packed buffer, read and written by item type and unit.
// Lengths are computed here from byte offsets and the unit, so 8-byte items
// count right. Vector cells handed to functions that grow the buffer must lie
// on the data stack or in a root.
#include "datatypes/vector.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/sort.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/char.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/percent.hpp"
#include "runtime/collector.hpp"

#include <algorithm>
#include <cstring>

namespace kel {

// Largest byte size of a vector buffer.
constexpr uint64_t VECTOR_BYTES_MAX = 0x7FFFFFF0;

Cell* vector_make_at(Cell* cell, uint32_t count, uint8_t item_type, uint32_t unit) {
    if (uint64_t(count) * unit > VECTOR_BYTES_MAX) error_raise(ERR_NO_MEMORY);
    Node node = series_new_units(count, unit);
    series_make_at(cell, T_VECTOR, node, 0);
    series_extra_set(cell, item_type);
    return cell;
}

// ---- growth and appending ---------------------------------------------------------------------

// Room for extra more items at the tail: twice the capacity when that
// suffices, else the needed size.
static void room_for(Cell* vector, uint64_t extra) {
    SeriesBuffer* b = series_buffer_of(vector);
    uint64_t need = uint64_t(b->tail) + extra * b->unit();
    if (need > VECTOR_BYTES_MAX) error_raise(ERR_NO_MEMORY);
    if (need <= b->size) return;
    uint64_t size = std::max<uint64_t>(uint64_t(b->size) * 2, need);
    if (size > VECTOR_BYTES_MAX) size = need;
    series_grow_copy(b, int32_t(size));
}

void vector_clear_from_head(const Cell* vector) {
    SeriesBuffer* b = series_buffer_of(vector);
    b->tail = b->head + vector_index(vector) * b->unit();
}

void vector_append_value(Cell* vector, const Cell* value) {
    if (cell_type(value) != vector_item_type(vector)) error_raise(ERR_INVALID_ARG, value);
    CellRoot held(*value);
    room_for(vector, 1);
    SeriesBuffer* b = series_buffer_of(vector);
    vector_store_item(b->tail_ptr(), &held.cell, b->unit(), vector_item_type(vector));
    b->tail += b->unit();
}

void vector_append_integer(Cell* vector, int32_t value) {
    room_for(vector, 1);
    SeriesBuffer* b = series_buffer_of(vector);
    uint32_t bits = uint32_t(value);
    std::memcpy(b->tail_ptr(), &bits, std::min<uint32_t>(b->unit(), 4));
    b->tail += b->unit();
}

// ---- make -------------------------------------------------------------------------------------

[[noreturn]] static void raise_bad_make(const Cell* proto, const Cell* spec) {
    error_raise(ERR_BAD_MAKE_ARG, proto, spec);
}

// The item type a type word names, or 0.
static uint8_t item_type_of_word(const Cell* word) {
    uint32_t s = symbol_resolve(word_symbol(word));
    if (s == symbol_resolve(runtime_symbol(SYM_INTEGER_TYPE))) return T_INTEGER;
    if (s == symbol_resolve(runtime_symbol(SYM_CHAR_TYPE))) return T_CHAR;
    if (s == symbol_resolve(runtime_symbol(SYM_FLOAT_TYPE))) return T_FLOAT;
    if (s == symbol_resolve(runtime_symbol(SYM_PERCENT_TYPE))) return T_PERCENT;
    return 0;
}

// Builds from a block spec into out.
static void make_from_block(const Cell* proto, const Cell* spec, Cell* out) {
    uint32_t at = series_index_clamped(spec);
    uint32_t length = series_buffer_length(spec);
    if (at >= length) {
        vector_make_at(out, 0, T_INTEGER, 4);
        return;
    }
    uint8_t item_type;
    uint32_t unit;
    int64_t count = -1;
    Cell values;
    cell_init(&values, T_NONE);
    const Cell* first = block_ks_abs_at(spec, at);
    if (cell_type(first) == T_WORD) {
        if (at + 1 >= length) raise_bad_make(proto, spec);
        item_type = item_type_of_word(first);
        if (!item_type) raise_bad_make(proto, spec);
        at++;
        const Cell* size = block_ks_abs_at(spec, at);
        if (item_type == T_PERCENT) {
            unit = 8;
            if (cell_type(size) == T_INTEGER) {
                if (cell_int(size) != 64) raise_bad_make(proto, spec);
                at++;
            }
        } else {
            if (cell_type(size) != T_INTEGER) error_raise(ERR_INVALID_SPEC_FIELD, spec);
            int32_t bits = cell_int(size);
            bool ok = vector_float_items_q(item_type) ? (bits == 32 || bits == 64)
                                               : (bits == 8 || bits == 16 || bits == 32);
            if (!ok) raise_bad_make(proto, spec);
            unit = uint32_t(bits / 8);
            at++;
        }
        if (at >= length) error_raise(ERR_INVALID_SPEC_FIELD, spec);
        const Cell* next = block_ks_abs_at(spec, at);
        if (cell_type(next) == T_INTEGER) {
            count = cell_int(next);
            at++;
            if (at < length && cell_type(block_ks_abs_at(spec, at)) == T_BLOCK)
                values = *block_ks_abs_at(spec, at);
        } else if (cell_type(next) == T_BLOCK) {
            values = *next;
        } else {
            error_raise(ERR_INVALID_SPEC_FIELD, spec);
        }
    } else {
        item_type = cell_type(first);
        if (item_type != T_INTEGER && item_type != T_CHAR && !vector_float_items_q(item_type))
            error_raise_type(ERR_INVALID_TYPE, item_type);
        unit = vector_default_unit(item_type);
        values = *spec;
    }
    CellRoot source(values);
    uint32_t given = cell_type(&values) == T_BLOCK ? uint32_t(std::max(block_ks_length_q(&values), 0)) : 0;
    if (count < int64_t(given)) count = given;
    // A count below 1 makes room for one item and adds no zero item.
    bool pad = count >= 1;
    if (count < 1) count = 1;
    vector_make_at(out, uint32_t(count), item_type, unit);
    uint32_t from = given ? series_index_clamped(&source.cell) : 0;
    for (uint32_t i = 0; i < given; i++) {
        Cell value = *block_ks_abs_at(&source.cell, from + i);
        vector_append_value(out, &value);
    }
    SeriesBuffer* b = series_buffer_of(out);
    uint32_t have = (b->tail - b->head) / unit;
    if (pad && count > have) {
        std::memset(b->tail_ptr(), 0, size_t(count - have) * unit);
        b->tail += uint32_t(count - have) * unit;
    }
}

const Cell* vector_make(Cell* proto, const Cell* spec_cell, uint8_t) {
    CellRoot spec(*spec_cell), prototype(*proto);
    Cell* out = stack_push_new(T_NONE);
    uint8_t type = cell_type(&spec.cell);
    if (type == T_INTEGER || type == T_FLOAT) {
        int32_t n;
        if (type == T_INTEGER) n = cell_int(&spec.cell);
        else if (!integer_from_double(cell_double(&spec.cell), &n)) error_raise(ERR_OUT_OF_RANGE, &spec.cell);
        uint32_t count = n < 1 ? 0 : uint32_t(n);
        vector_make_at(out, count, T_INTEGER, 4);
        SeriesBuffer* b = series_buffer_of(out);
        std::memset(b->head_ptr(), 0, size_t(count) * 4);
        b->tail = b->head + count * 4;
    } else if (type == T_BLOCK) {
        make_from_block(&prototype.cell, &spec.cell, out);
    } else {
        error_raise(ERR_NOT_DONE);
    }
    cell_copy(out, proto);
    stack_pop(1);
    return proto;
}

// ---- form, mold -----------------------------------------------------------------------------

static int32_t text_out(Cell* target, const char* text, int32_t budget) {
    uint32_t n = uint32_t(std::strlen(text));
    string_concatenate_bytes(target, text, n);
    return budget - int32_t(n);
}

static const char* item_type_name(uint8_t item_type) {
    switch (item_type) {
    case T_CHAR: return "char!";
    case T_FLOAT: return "float!";
    case T_PERCENT: return "percent!";
    default: return "integer!";
    }
}

// Writes one item's text.
static int32_t item_text(const Cell* vector, uint32_t index, Cell* target, bool mold, int32_t budget) {
    uint32_t unit = vector_unit(vector);
    const uint8_t* at = vector_item_address(vector, index);
    switch (vector_item_type(vector)) {
    case T_CHAR: {
        uint32_t c = uint32_t(vector_int_item(at, unit));
        if (mold) budget = text_out(target, "#\"", budget);
        string_append_escaped_char(target, c, false);
        budget -= 1;
        if (mold) budget = text_out(target, "\"", budget);
        return budget;
    }
    case T_FLOAT:
        return text_out(target, float_to_text(vector_float_item(at, unit),
                                              unit == 8 ? FLOAT_TEXT_DOUBLE : FLOAT_TEXT_SINGLE), budget);
    case T_PERCENT:
        return text_out(target, float_to_text(vector_float_item(at, unit) * 100.0,
                                              unit == 8 ? FLOAT_TEXT_PERCENT : FLOAT_TEXT_SINGLE_PERCENT), budget);
    default:
        return text_out(target, integer_form_buffer(vector_int_item(at, unit)), budget);
    }
}

static int32_t vector_mold_items(const Cell* vector_cell, Cell* target, bool part, int32_t budget,
                                 bool mold) {
    CellRoot vector(*vector_cell);
    uint32_t from = vector_index(&vector.cell);
    for (uint32_t i = from; i < vector_buffer_length(&vector.cell); i++) {
        if (part && budget <= 0) break;
        if (i > from) budget = text_out(target, " ", budget);
        budget = item_text(&vector.cell, i, target, mold, budget);
    }
    return budget;
}

int32_t vector_form(const Cell* value, Cell* target, bool, bool, bool, bool part, int32_t budget,
                    int32_t) {
    return vector_mold_items(value, target, part, budget, false);
}

int32_t vector_mold(const Cell* value, Cell* target, bool only, bool, bool, bool part, int32_t budget,
                    int32_t) {
    CellRoot vector(*value);
    uint8_t item_type = vector_item_type(&vector.cell);
    uint32_t unit = vector_unit(&vector.cell);
    if (!only) budget = text_out(target, "make vector! [", budget);
    bool plain = vector_length(&vector.cell) > 0 && unit == vector_default_unit(item_type);
    if (!plain) {
        budget = text_out(target, item_type_name(item_type), budget);
        budget = text_out(target, " ", budget);
        budget = text_out(target, integer_form_buffer(int32_t(unit * 8)), budget);
        budget = text_out(target, " [", budget);
    }
    budget = vector_mold_items(&vector.cell, target, part, budget, true);
    if (!only) budget = text_out(target, plain ? "]" : "]]", budget);
    return budget;
}

// ---- comparison ------------------------------------------------------------------------------

static bool equality_op_q(int32_t op) {
    return op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND;
}

// Three-way comparison of item i of a and item j of b (same item type).
static int32_t items_compare(const Cell* a, uint32_t i, const Cell* b, uint32_t j) {
    if (vector_float_items_q(vector_item_type(a))) {
        double x = vector_float_item(vector_item_address(a, i), vector_unit(a));
        double y = vector_float_item(vector_item_address(b, j), vector_unit(b));
        return x < y ? -1 : x > y ? 1 : 0;
    }
    int32_t x = vector_int_item(vector_item_address(a, i), vector_unit(a));
    int32_t y = vector_int_item(vector_item_address(b, j), vector_unit(b));
    return x < y ? -1 : x > y ? 1 : 0;
}

int32_t vector_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_VECTOR) return COMPARE_INCOMPARABLE;
    if (vector_item_type(value1) != vector_item_type(value2)) error_raise(ERR_NOT_SAME_TYPE);
    if (series_node(value1) == series_node(value2) && series_index(value1) == series_index(value2)) {
        if (op == CMP_SAME || equality_op_q(op)) return 0;
    }
    if (op == CMP_SAME) return -1;
    uint32_t n1 = vector_length(value1), n2 = vector_length(value2);
    if (n1 == 0 && n2 == 0) return 0;
    if (n1 != n2 && equality_op_q(op)) return 1;
    uint32_t i1 = vector_index(value1), i2 = vector_index(value2);
    for (uint32_t k = 0; k < std::min(n1, n2); k++)
        if (int32_t c = items_compare(value1, i1 + k, value2, i2 + k)) return c;
    return n1 < n2 ? -1 : n1 > n2 ? 1 : 0;
}

// ---- arithmetic --------------------------------------------------------------------------------

// The integer kernel, except that add, subtract and multiply wrap to 32 bits
// instead of turning into a float.
static int32_t vector_int_op(int32_t a, int32_t b, int32_t op) {
    switch (op) {
    case OP_ADD: return int32_t(uint32_t(a) + uint32_t(b));
    case OP_SUBTRACT: return int32_t(uint32_t(a) - uint32_t(b));
    case OP_MULTIPLY: return int32_t(uint32_t(int64_t(a) * int64_t(b)));
    default: return integer_math_op(a, b, op, nullptr);
    }
}

static void store_int(uint8_t* at, uint32_t unit, int32_t value) {
    uint32_t bits = uint32_t(value);
    std::memcpy(at, &bits, std::min<uint32_t>(unit, 4));
}

static void store_float(uint8_t* at, uint32_t unit, double value) {
    if (unit == 8) {
        std::memcpy(at, &value, 8);
    } else {
        float f = float(value);
        std::memcpy(at, &f, 4);
    }
}

void vector_scalar_op(int32_t op, Cell* vector, const Cell* scalar, bool scalar_first) {
    uint8_t type = cell_type(scalar);
    bool floating = vector_float_items_q(vector_item_type(vector));
    if (type != T_INTEGER && type != T_FLOAT && type != T_PERCENT && type != T_CHAR)
        error_raise(ERR_NOT_DONE);
    uint32_t unit = vector_unit(vector);
    uint32_t from = vector_index(vector), length = vector_buffer_length(vector);
    // Adding 0 or multiplying by 1 changes nothing in either order; subtracting
    // 0 and dividing by 1 only with the vector first.
    bool keeps_zero = op == OP_ADD || (op == OP_SUBTRACT && !scalar_first);
    bool keeps_one = op == OP_MULTIPLY || (op == OP_DIVIDE && !scalar_first);
    if (floating) {
        double s = type == T_INTEGER || type == T_CHAR ? double(cell_int(scalar)) : cell_double(scalar);
        if ((keeps_zero && s == 0.0) || (keeps_one && s == 1.0)) return;
        for (uint32_t i = from; i < length; i++) {
            uint8_t* at = vector_item_address(vector, i);
            double item = vector_float_item(at, unit);
            store_float(at, unit, scalar_first ? float_math_op(s, item, op) : float_math_op(item, s, op));
        }
        return;
    }
    int32_t s;
    if (type == T_INTEGER || type == T_CHAR) s = cell_int(scalar);
    else if (!integer_from_double(cell_double(scalar), &s)) error_raise(ERR_OUT_OF_RANGE, scalar);
    if ((keeps_zero && s == 0) || (keeps_one && s == 1)) return;
    for (uint32_t i = from; i < length; i++) {
        uint8_t* at = vector_item_address(vector, i);
        int32_t item = vector_int_item(at, unit);
        store_int(at, unit, scalar_first ? vector_int_op(s, item, op) : vector_int_op(item, s, op));
    }
}

void vector_number_first_op(Cell* number, const Cell* vector, int32_t op) {
    Cell scalar = *number;
    cell_copy(vector, number);
    vector_scalar_op(op, number, &scalar, true);
}

void vector_math(Cell* a, const Cell* b_cell, int32_t op) {
    if (cell_type(b_cell) != T_VECTOR) {
        vector_scalar_op(op, a, b_cell, false);
        return;
    }
    if (vector_item_type(a) != vector_item_type(b_cell)) error_raise(ERR_NOT_SAME_TYPE);
    CellRoot left(*a), right(*b_cell);
    uint8_t item_type = vector_item_type(a);
    uint32_t unit = std::max(vector_unit(a), vector_unit(b_cell));
    uint32_t count = std::min(vector_length(a), vector_length(b_cell));
    Cell* out = stack_push_new(T_NONE);
    vector_make_at(out, count, item_type, unit);
    uint32_t i1 = vector_index(&left.cell), i2 = vector_index(&right.cell);
    uint32_t u1 = vector_unit(&left.cell), u2 = vector_unit(&right.cell);
    for (uint32_t k = 0; k < count; k++) {
        uint8_t* p1 = vector_item_address(&left.cell, i1 + k);
        uint8_t* p2 = vector_item_address(&right.cell, i2 + k);
        uint8_t* dst = series_buffer_of(out)->head_ptr() + size_t(k) * unit;
        if (vector_float_items_q(item_type)) store_float(dst, unit, float_math_op(vector_float_item(p1, u1), vector_float_item(p2, u2), op));
        else store_int(dst, unit, vector_int_op(vector_int_item(p1, u1), vector_int_item(p2, u2), op));
    }
    series_buffer_of(out)->tail = series_buffer_of(out)->head + count * unit;
    cell_copy(out, a);
    stack_pop(1);
}

void vector_add(Cell* value1, const Cell* value2) { vector_math(value1, value2, OP_ADD); }
void vector_subtract(Cell* value1, const Cell* value2) { vector_math(value1, value2, OP_SUBTRACT); }
void vector_multiply(Cell* value1, const Cell* value2) { vector_math(value1, value2, OP_MULTIPLY); }
void vector_divide(Cell* value1, const Cell* value2) { vector_math(value1, value2, OP_DIVIDE); }
void vector_remainder(Cell* value1, const Cell* value2) { vector_math(value1, value2, OP_REMAINDER); }
void vector_and(Cell* value1, const Cell* value2) { vector_math(value1, value2, OP_AND); }
void vector_or(Cell* value1, const Cell* value2) { vector_math(value1, value2, OP_OR); }
void vector_xor(Cell* value1, const Cell* value2) { vector_math(value1, value2, OP_XOR); }

// ---- append, insert, change -------------------------------------------------------------------

// The values a modifying action adds: the cells of a block-like value from
// its position (at most part when part > 0), or the value itself; pushed on
// the data stack as a block. Every value is checked before anything is written.
static Cell* added_values(const Cell* value, int32_t part) {
    Cell* list = block_push_only(4);
    uint8_t type = cell_type(value);
    if (type == T_BLOCK || type == T_PAREN || type == T_HASH || type == T_PATH ||
        type == T_LIT_PATH || type == T_SET_PATH || type == T_GET_PATH) {
        CellRoot source(*value);
        uint32_t from = series_index_clamped(&source.cell);
        uint32_t count = series_buffer_length(&source.cell) - from;
        if (part > 0) count = std::min(count, uint32_t(part));
        for (uint32_t i = 0; i < count; i++) {
            Cell item = *block_ks_abs_at(&source.cell, from + i);
            block_ks_append(list, &item);
        }
    } else if (type == T_VECTOR) {
        CellRoot source(*value);
        uint32_t from = vector_index(&source.cell);
        uint32_t count = vector_buffer_length(&source.cell) - from;
        if (part > 0) count = std::min(count, uint32_t(part));
        for (uint32_t i = 0; i < count; i++) {
            Cell item;
            vector_item_at(&source.cell, from + i, &item);
            block_ks_append(list, &item);
        }
    } else {
        block_ks_append(list, value);
    }
    SeriesBuffer* b = series_buffer_of(list);
    const Cell* cells = block_cells(b);
    for (uint32_t i = 0; i < b->length(); i++) {
        uint8_t t = cell_type(&cells[i]);
        if (t != T_INTEGER && t != T_CHAR && t != T_FLOAT && t != T_PERCENT) error_raise_type(ERR_INVALID_TYPE, t);
    }
    return list;
}

// Writes the values of list dup times from item index at (room already made).
static void items_write(const Cell* vector, uint32_t at, const Cell* list, int32_t dup) {
    uint32_t unit = vector_unit(vector);
    uint8_t item_type = vector_item_type(vector);
    uint32_t n = series_buffer_length(list);
    for (int32_t d = 0; d < dup; d++)
        for (uint32_t i = 0; i < n; i++)
            vector_store_item(vector_item_address(vector, at + uint32_t(d) * n + i), block_ks_abs_at(list, i),
                              unit, item_type);
}

void vector_insert(Cell* series, const Cell* value, int32_t part, bool, int32_t dup, bool append) {
    if (dup < 1) return;
    CellRoot held(*value);
    uint32_t index = vector_index(series);
    uint32_t length = vector_buffer_length(series);
    uint32_t at = append ? length : index;
    Cell* list = added_values(&held.cell, part);
    uint64_t total = uint64_t(series_buffer_length(list)) * uint32_t(dup);
    if (total == 0) {
        stack_pop(1);
        return;
    }
    bool owned = series_notify(series, W_INSERT, int32_t(at), int32_t(total));
    room_for(series, total);
    SeriesBuffer* b = series_buffer_of(series);
    uint32_t unit = b->unit();
    uint8_t* from = b->head_ptr() + size_t(at) * unit;
    std::memmove(from + total * unit, from, size_t(length - at) * unit);
    b->tail += uint32_t(total * unit);
    items_write(series, at, list, dup);
    stack_pop(1);
    series_notify_after(owned, series, W_INSERTED, int32_t(at), int32_t(total));
    if (!append) series_index_set(series, int32_t(at + uint32_t(total)));
}

void vector_change(Cell* series, const Cell* value, int32_t part, bool, int32_t dup) {
    if (dup < 1) dup = 1;
    CellRoot held(*value);
    uint32_t at = vector_index(series);
    uint32_t length = vector_buffer_length(series);
    Cell* list = added_values(&held.cell, -1);
    uint64_t total = uint64_t(series_buffer_length(list)) * uint32_t(dup);
    uint64_t left = length - at;
    uint64_t replaced = part >= 0 ? std::min<uint64_t>(uint32_t(part), left) : std::min(total, left);
    if (total > VECTOR_BYTES_MAX) error_raise(ERR_NO_MEMORY);
    bool owned = series_notify(series, W_CHANGE, int32_t(at), int32_t(replaced));
    if (total > replaced) room_for(series, total - replaced);
    SeriesBuffer* b = series_buffer_of(series);
    uint32_t unit = b->unit();
    uint8_t* rest = b->head_ptr() + size_t(at + replaced) * unit;
    std::memmove(b->head_ptr() + size_t(at + total) * unit, rest, size_t(length - at - replaced) * unit);
    b->tail = b->head + uint32_t((length - replaced + total) * unit);
    items_write(series, at, list, dup);
    stack_pop(1);
    series_notify_after(owned, series, W_CHANGED, int32_t(at), int32_t(total));
    series_index_set(series, int32_t(std::min<uint32_t>(at + uint32_t(total), vector_buffer_length(series))));
}

// ---- sort ------------------------------------------------------------------------------------------

// Record comparator: context1 packs the unit and the item type, context2 the
// SORT_* flags with the compared field's item offset. Items compare as signed
// integers or as doubles (an unordered pair equal).
static int vector_sort_compare(const void* a, const void* b, uintptr_t kind, uintptr_t flags) {
    uint32_t unit = uint32_t(kind & 0xFF);
    bool floating = vector_float_items_q(uint8_t(kind >> 8));
    size_t offset = size_t(flags >> SORT_FIELD_SHIFT) * unit;
    const uint8_t* x = static_cast<const uint8_t*>(a) + offset;
    const uint8_t* y = static_cast<const uint8_t*>(b) + offset;
    int result;
    if (floating) {
        double p = vector_float_item(x, unit), q = vector_float_item(y, unit);
        result = p < q ? -1 : p > q ? 1 : 0;
    } else {
        int32_t p = vector_int_item(x, unit), q = vector_int_item(y, unit);
        result = p < q ? -1 : p > q ? 1 : 0;
    }
    return (flags & SORT_REVERSE) ? -result : result;
}

void vector_sort(Cell* series, bool, const Cell* skip, const Cell* compare, const Cell* part,
                 bool all, bool reverse, bool stable) {
    uint32_t index = vector_index(series);
    int64_t count = vector_buffer_length(series) - index;
    if (part) count = std::min<int64_t>(count, std::max(series_part_count(series, part), 0));
    if (count <= 1) return;
    int64_t size = series_skip_size(skip, {.records = count, .below_one_invalid = true});
    uintptr_t flags = reverse ? SORT_REVERSE : 0;
    if (compare && cell_type(compare) == T_FUNCTION) {
        bool owned = series_notify(series, W_SORT, int32_t(index), 0);
        string_sort_by_function(series, index, uint32_t(count), uint32_t(size), compare, all,
                                reverse, stable);
        series_notify_after(owned, series, W_SORTED, int32_t(index), 0);
        return;
    }
    if (compare) {
        if (cell_type(compare) != T_INTEGER)
            error_raise(ERR_INVALID_REFINE_ARG, runtime_refinement(REF_COMPARE), compare);
        int32_t offset = cell_int(compare);
        if (offset < 1 || offset > size) error_raise(ERR_OUT_OF_RANGE, compare);
        flags |= uintptr_t(offset - 1) << SORT_FIELD_SHIFT;
    }
    (void)all;
    bool owned = series_notify(series, W_SORT, int32_t(index), 0);
    uint32_t unit = vector_unit(series);
    uintptr_t kind = unit | (uintptr_t(vector_item_type(series)) << 8);
    uint8_t* base = vector_item_address(series, index);
    uint32_t records = uint32_t(count / size);
    uint32_t width = uint32_t(size) * unit;
    if (stable) sort_stable(base, records, width, kind, flags, vector_sort_compare);
    else sort_unstable(base, records, width, kind, flags, vector_sort_compare);
    series_notify_after(owned, series, W_SORTED, int32_t(index), 0);
}

// ---- registration ------------------------------------------------------------------------------------

void init_vector() {
    const ActionRow actions[] = {
        {A_MAKE, vector_make},
        {A_FORM, vector_form},
        {A_MOLD, vector_mold},
        {A_COMPARE, vector_compare},
        {A_ADD, vector_add},
        {A_SUBTRACT, vector_subtract},
        {A_MULTIPLY, vector_multiply},
        {A_DIVIDE, vector_divide},
        {A_REMAINDER, vector_remainder},
        {A_AND_T, vector_and},
        {A_OR_T, vector_or},
        {A_XOR_T, vector_xor},
        {A_APPEND, vector_insert},
        {A_INSERT, vector_insert},
        {A_CHANGE, vector_change},
        // Items compare as numbers, never as character codes.
        {A_SORT, vector_sort},
        {A_RANDOM, ACTION_INHERIT}, {A_REFLECT, ACTION_INHERIT}, {A_EVAL_PATH, ACTION_INHERIT},
        {A_AT, ACTION_INHERIT}, {A_BACK, ACTION_INHERIT}, {A_CLEAR, A_INDEX_Q, ACTION_INHERIT},
        {A_LENGTH_Q, A_POKE, ACTION_INHERIT}, {A_REMOVE, A_SELECT, ACTION_INHERIT},
        {A_SKIP, ACTION_INHERIT}, {A_TAIL, A_TAKE, ACTION_INHERIT}, {A_MODIFY, ACTION_INHERIT},
    };
    datatype_register(T_VECTOR, T_STRING, "vector!", actions);
}

} // namespace kel
