// bitset!: building from specs, membership, set operations and printing.
// Functions that can grow the buffer take a bitset cell that lives on the data
// stack or in a root, and re-read the buffer after every growth.
#include "datatypes/bitset.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/integer.hpp"
#include "runtime/collector.hpp"
#include "runtime/native_guard.hpp"

#include <algorithm>
#include <cstring>

namespace kel {

// The largest code a bitset stores: its bit count (length?) must stay a
// 32-bit integer, so the stored bytes end at INT32_MAX / 8.
constexpr int64_t BITSET_CODE_MAX = int64_t(INT32_MAX / 8) * 8 - 1;

// ---- access ---------------------------------------------------------------------------

// Stored bytes grow to count, the new ones filled with fill.
static void bytes_extend(Cell* bitset, uint32_t count, uint8_t fill) {
    SeriesBuffer* b = series_buffer_of(bitset);
    uint32_t have = b->tail - b->head;
    if (count <= have) return;
    if (b->head + count > b->size) b = series_grow_copy(b, int32_t(std::max(count, b->size * 2)));
    std::memset(b->head_ptr() + have, fill, count - have);
    b->tail = b->head + count;
}

void bitset_ensure_bit(Cell* bitset, uint32_t n) {
    bytes_extend(bitset, (n >> 3) + 1, bitset_negated_q(bitset) ? 0xFF : 0);
}

// Sets or clears bit n, which must lie inside the stored bytes.
static void bit_put(const Cell* bitset, uint32_t n, bool on) {
    uint8_t* byte = bitset_data(bitset) + (n >> 3);
    if (on) *byte |= bitset_bit_mask(n);
    else *byte &= uint8_t(~bitset_bit_mask(n));
}

Cell* bitset_make_at(Cell* cell, uint32_t count) {
    Node node = series_new_bytes_filled(count, 0);
    series_make_at(cell, T_BITSET, node, 0);
    cell->w1 = 0;
    SeriesBuffer* b = series_buffer(node);
    b->tail = b->head + count;
    return cell;
}

// A new bitset holding a copy of another's bytes and flag, written into out.
static void bitset_clone(const Cell* bitset, Cell* out) {
    Node node = series_clone(series_node(bitset));
    series_make_at(out, T_BITSET, node, 0);
}

// ---- the walk over a spec ------------------------------------------------------------------------

[[noreturn]] static void raise_bad_spec(const Cell* value, int32_t mode) {
    if (mode == BITS_OTHER) error_raise(ERR_INVALID_ARG, value);
    error_raise_type(mode == BITS_MAKE ? ERR_BAD_MAKE_ARG : ERR_BAD_TO_ARG, T_BITSET, value);
}

// The code of a char!, integer! or float! (truncated toward zero).
static int64_t code_of(const Cell* value) {
    if (cell_type(value) == T_FLOAT) {
        int32_t n;
        if (!integer_from_double(cell_double(value), &n)) error_raise(ERR_OUT_OF_RANGE, value);
        return n;
    }
    return cell_type(value) == T_CHAR ? int64_t(uint32_t(cell_int(value))) : int64_t(cell_int(value));
}

// One code: the largest code for measure, set and clear; 1 or 0 for test.
static int64_t code_op(Cell* bitset, int64_t code, int32_t op) {
    bool negated = bitset_negated_q(bitset);
    switch (op) {
    case BITS_MEASURE:
        return code;
    case BITS_SET:
        if (!negated) bitset_ensure_bit(bitset, uint32_t(code));
        if (!bitset_out_of_range_q(bitset, code)) bit_put(bitset, uint32_t(code), true);
        return code;
    case BITS_TEST:
        return bitset_member_q(bitset, code) ? 1 : 0;
    default:
        if (negated) bitset_ensure_bit(bitset, uint32_t(code));
        if (!bitset_out_of_range_q(bitset, code)) bit_put(bitset, uint32_t(code), false);
        return code;
    }
}

// The codes lo..hi. Codes outside the stored bits follow the flag: setting
// them on a negated bitset and clearing them on a plain one changes nothing,
// so only the stored part is touched there.
static int64_t range_op(Cell* bitset, int64_t lo, int64_t hi, int32_t op) {
    if (op == BITS_MEASURE) return hi;
    if (op == BITS_TEST) {
        // Past the stored bits every code is a member exactly when negated.
        int64_t top = std::min<int64_t>(hi, int64_t(bitset_byte_count(bitset)) * 8 - 1);
        for (int64_t n = lo; n <= top; n++)
            if (!bitset_member_q(bitset, n)) return 0;
        return hi > top && !bitset_negated_q(bitset) ? 0 : 1;
    }
    bool set = op == BITS_SET;
    bool negated = bitset_negated_q(bitset);
    if (set != negated) bitset_ensure_bit(bitset, uint32_t(hi));
    int64_t top = std::min<int64_t>(hi, int64_t(bitset_byte_count(bitset)) * 8 - 1);
    for (int64_t n = lo; n <= top; n++) bit_put(bitset, uint32_t(n), set);
    return hi;
}

// The characters of a string from its position.
static int64_t string_op(const Cell* string_cell, Cell* bitset, int32_t op) {
    CellRoot string(*string_cell);
    uint32_t from = series_index_clamped(&string.cell);
    uint32_t length = series_buffer_length(&string.cell);
    int64_t largest = -1;
    for (uint32_t i = from; i < length; i++)
        largest = std::max<int64_t>(largest, string_ks_char_at(&string.cell, i));
    if (op == BITS_MEASURE) return largest;
    if (largest < 0) return op == BITS_TEST ? 1 : largest;
    bool negated = bitset_negated_q(bitset);
    if ((op == BITS_SET && !negated) || (op == BITS_CLEAR && negated))
        bitset_ensure_bit(bitset, uint32_t(largest));
    for (uint32_t i = from; i < length; i++) {
        int64_t c = string_ks_char_at(&string.cell, i);
        if (op == BITS_TEST) {
            if (!bitset_member_q(bitset, c)) return 0;
        } else if (!bitset_out_of_range_q(bitset, c)) {
            bit_put(bitset, uint32_t(c), op == BITS_SET);
        }
    }
    return op == BITS_TEST ? 1 : largest;
}

static bool dash_q(const Cell* cell) {
    return cell_type(cell) == T_WORD &&
           symbol_resolve(word_symbol(cell)) == symbol_resolve(runtime_symbol(SYM_DASH));
}

static int64_t block_op(const Cell* block_cell, Cell* bitset, int32_t op, int32_t mode) {
    native_stack_check();
    CellRoot block(*block_cell);
    int64_t largest = -1;
    uint32_t length = series_buffer_length(&block.cell);
    for (uint32_t i = series_index_clamped(&block.cell); i < length; i++) {
        CellRoot item(*block_ks_abs_at(&block.cell, i));
        uint8_t type = cell_type(&item.cell);
        int64_t result;
        if ((type == T_CHAR || type == T_INTEGER) && i + 1 < length &&
            dash_q(block_ks_abs_at(&block.cell, i + 1))) {
            if (i + 2 >= length) error_raise(ERR_PAST_END);
            Cell high = *block_ks_abs_at(&block.cell, i + 2);
            if (cell_type(&high) != type) error_raise(ERR_INVALID_ARG, &high);
            int64_t lo = code_of(&item.cell), hi = code_of(&high);
            if (lo < 0) error_raise(ERR_OUT_OF_RANGE, &item.cell);
            if (lo > hi) error_raise(ERR_PAST_END);
            if (hi > BITSET_CODE_MAX && op != BITS_TEST) error_raise(ERR_OUT_OF_RANGE, &high);
            result = range_op(bitset, lo, hi, op);
            i += 2;
        } else {
            result = bitset_spec_walk(&item.cell, bitset, op, true, mode);
        }
        if (op == BITS_TEST) {
            if (!result) return 0;
        } else {
            largest = std::max(largest, result);
        }
    }
    return op == BITS_TEST ? 1 : largest;
}

int64_t bitset_spec_walk(const Cell* value, Cell* bitset, int32_t op, bool nested, int32_t mode) {
    int64_t result;
    switch (cell_type(value)) {
    case T_CHAR: case T_INTEGER: case T_FLOAT: {
        int64_t code = code_of(value);
        if (code < 0) {
            if (op != BITS_TEST) error_raise(ERR_OUT_OF_RANGE, value);
            // No code is stored below 0: a negated set holds it, a plain one does not.
            return bitset_negated_q(bitset) ? 1 : 0;
        }
        if (code > BITSET_CODE_MAX && op != BITS_TEST) error_raise(ERR_OUT_OF_RANGE, value);
        result = code_op(bitset, code, op);
        break;
    }
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
        result = string_op(value, bitset, op);
        break;
    case T_BINARY:
        error_raise(ERR_NOT_DONE);
    case T_BLOCK: case T_PAREN:
        result = block_op(value, bitset, op, mode);
        break;
    default:
        raise_bad_spec(value, mode);
    }
    if (!nested && (op == BITS_MEASURE || op == BITS_SET))
        result = std::max<int64_t>((result + 8) / 8, 1);
    return result;
}

// ---- make, to ----------------------------------------------------------------------------

static bool not_word_q(const Cell* cell) {
    return cell_type(cell) == T_WORD &&
           symbol_resolve(word_symbol(cell)) == symbol_resolve(runtime_symbol(SYM_NOT));
}

// Bytes of a binary from its position copied into a new bitset; inverted and
// flagged when negated.
static void from_binary(const Cell* binary, bool negated, Cell* out) {
    uint32_t from = series_index_clamped(binary);
    uint32_t count = series_buffer_length(binary) - from;
    CellRoot source(*binary);
    bitset_make_at(out, count);
    const uint8_t* src = series_buffer_of(&source.cell)->head_ptr() + from;
    uint8_t* dst = bitset_data(out);
    for (uint32_t i = 0; i < count; i++) dst[i] = negated ? uint8_t(~src[i]) : src[i];
    if (negated) series_buffer_of(out)->flags |= SERIES_NEGATED;
}

void bitset_make_from_spec(const Cell* spec_cell, int32_t mode, Cell* out) {
    CellRoot spec(*spec_cell);
    bool negated = false;
    uint8_t type = cell_type(&spec.cell);
    if ((type == T_BLOCK || type == T_PAREN) && block_ks_length_q(&spec.cell) > 0 &&
        not_word_q(block_ks_head(&spec.cell))) {
        negated = true;
        series_index_set(&spec.cell, int32_t(series_index_clamped(&spec.cell) + 1));
        if (block_ks_length_q(&spec.cell) > 0 && cell_type(block_ks_head(&spec.cell)) == T_BINARY) {
            Cell binary = *block_ks_head(&spec.cell);
            cell_copy(&binary, &spec.cell);
        }
        type = cell_type(&spec.cell);
    }
    if (type == T_BITSET) {
        bitset_clone(&spec.cell, out);
        return;
    }
    if (type == T_INTEGER || type == T_FLOAT) {
        if (mode == BITS_TO) raise_bad_spec(&spec.cell, mode);
        int64_t bits = code_of(&spec.cell);
        if (bits < 0 || bits > BITSET_CODE_MAX + 1) error_raise(ERR_OUT_OF_RANGE, &spec.cell);
        bitset_make_at(out, uint32_t((bits + 7) / 8));
        return;
    }
    if (type == T_BINARY) {
        from_binary(&spec.cell, negated, out);
        return;
    }
    Cell* scratch = stack_push_new(T_NONE);
    bitset_make_at(scratch, 1);
    int64_t count = bitset_spec_walk(&spec.cell, scratch, BITS_MEASURE, false, mode);
    Node node = series_new_bytes_filled(uint32_t(count), negated ? 0xFF : 0);
    series_make_at(out, T_BITSET, node, 0);
    SeriesBuffer* b = series_buffer(node);
    b->tail = b->head + uint32_t(count);
    if (negated) b->flags |= SERIES_NEGATED;
    stack_pop(1);
    bitset_spec_walk(&spec.cell, out, negated ? BITS_CLEAR : BITS_SET, false, mode);
}

static const Cell* make_or_to(Cell* proto, const Cell* spec, int32_t mode) {
    Cell* out = stack_push_new(T_NONE);
    bitset_make_from_spec(spec, mode, out);
    cell_copy(out, proto);
    stack_pop(1);
    return proto;
}

const Cell* bitset_make(Cell* proto, const Cell* spec, uint8_t) { return make_or_to(proto, spec, BITS_MAKE); }
const Cell* bitset_to(Cell* proto, const Cell* spec, uint8_t) { return make_or_to(proto, spec, BITS_TO); }

// ---- form, mold -----------------------------------------------------------------------------

static int32_t text_out(Cell* target, const char* text, int32_t budget) {
    uint32_t n = uint32_t(std::strlen(text));
    string_concatenate_bytes(target, text, n);
    return budget - int32_t(n);
}

int32_t bitset_mold(const Cell* value, Cell* target, bool, bool, bool, bool part, int32_t budget,
                    int32_t) {
    CellRoot bitset(*value);
    bool negated = bitset_negated_q(&bitset.cell);
    budget = text_out(target, "make bitset! ", budget);
    if (negated) budget = text_out(target, "[not ", budget);
    budget = text_out(target, "#{", budget);
    uint32_t count = bitset_byte_count(&bitset.cell);
    for (uint32_t i = 0; i < count; i++) {
        // A negated bitset shows the codes it excludes.
        uint8_t byte = bitset_data(&bitset.cell)[i];
        budget = text_out(target, byte_to_hex(negated ? uint8_t(~byte) : byte), budget);
        if (part && budget < 0) break;
    }
    if (part && budget <= 0) return budget;
    budget = text_out(target, "}", budget);
    if (negated) budget = text_out(target, "]", budget);
    return budget;
}

// ---- comparison --------------------------------------------------------------------------------

int32_t bitset_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_BITSET) return COMPARE_INCOMPARABLE;
    if (op == CMP_SAME) return series_node(value1) == series_node(value2) ? 0 : 1;
    uint32_t n1 = bitset_byte_count(value1), n2 = bitset_byte_count(value2);
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    if (n1 == 0) return 0;
    bool neg1 = bitset_negated_q(value1), neg2 = bitset_negated_q(value2);
    if (neg1 != neg2) return neg1 ? 1 : -1;
    const uint8_t* a = bitset_data(value1);
    const uint8_t* b = bitset_data(value2);
    for (uint32_t i = n1; i-- > 0;)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// ---- set operations ------------------------------------------------------------------------------

static uint8_t combine(uint8_t a, uint8_t b, int32_t op) {
    switch (op) {
    case OP_OR: case SET_UNION: return a | b;
    case OP_AND: case SET_INTERSECT: return a & b;
    case SET_EXCLUDE: return a & uint8_t(~b);
    default: return a ^ b;  // xor~, difference
    }
}

void bitset_set_op(Cell* a, const Cell* b_cell, int32_t op) {
    if (op == SET_UNIQUE) return;
    if (cell_type(b_cell) != T_BITSET) error_raise(ERR_INVALID_TYPE, b_cell);
    CellRoot left(*a), right(*b_cell);
    bool neg1 = bitset_negated_q(&left.cell), neg2 = bitset_negated_q(&right.cell);
    uint32_t n1 = bitset_byte_count(&left.cell), n2 = bitset_byte_count(&right.cell);
    // Each operand reads beyond its stored bytes as its flag says, so the
    // result's flag is the same operation on the two flags.
    uint8_t fill1 = neg1 ? 0xFF : 0, fill2 = neg2 ? 0xFF : 0;
    bool negated = combine(fill1, fill2, op) != 0;
    uint32_t count = std::max(n1, n2);
    if (op == OP_AND && !neg1 && !neg2) count = std::min(n1, n2);
    Cell* out = stack_push_new(T_NONE);
    bitset_make_at(out, count);
    const uint8_t* p1 = bitset_data(&left.cell);
    const uint8_t* p2 = bitset_data(&right.cell);
    uint8_t* dst = bitset_data(out);
    for (uint32_t i = 0; i < count; i++)
        dst[i] = combine(i < n1 ? p1[i] : fill1, i < n2 ? p2[i] : fill2, op);
    if (negated) series_buffer_of(out)->flags |= SERIES_NEGATED;
    cell_copy(out, a);
    stack_pop(1);
}

void bitset_and(Cell* value1, const Cell* value2) { bitset_set_op(value1, value2, OP_AND); }
void bitset_or(Cell* value1, const Cell* value2) { bitset_set_op(value1, value2, OP_OR); }
void bitset_xor(Cell* value1, const Cell* value2) { bitset_set_op(value1, value2, OP_XOR); }

const Cell* bitset_complement(Cell* value) {
    CellRoot source(*value);
    Cell* out = stack_push_new(T_NONE);
    bitset_clone(&source.cell, out);
    SeriesBuffer* b = series_buffer_of(out);
    b->flags ^= SERIES_NEGATED;
    for (uint8_t* p = b->head_ptr(); p < b->tail_ptr(); p++) *p = uint8_t(~*p);
    cell_copy(out, value);
    stack_pop(1);
    return value;
}

void bitset_negate(Cell* value) { bitset_complement(value); }

// ---- series-like actions ---------------------------------------------------------------------------

void bitset_append(Cell* series, const Cell* value, int32_t, bool, int32_t, bool) {
    CellRoot held(*value);
    bool owned = series_notify(series, W_INSERT, 0, 0);
    bitset_spec_walk(&held.cell, series, BITS_SET, true, BITS_OTHER);
    series_notify_after(owned, series, W_INSERTED, 0, 0);
}

void bitset_clear(Cell* bitset) {
    bool owned = series_notify(bitset, W_CLEAR, 0, 0);
    SeriesBuffer* b = series_buffer_of(bitset);
    std::memset(b->head_ptr(), (b->flags & SERIES_NEGATED) ? 0xFF : 0, b->tail - b->head);
    series_notify_after(owned, bitset, W_CLEARED, 0, 0);
}

void bitset_copy(Cell* bitset, const Cell*, bool, const Cell*) {
    Cell* out = stack_push_new(T_NONE);
    bitset_clone(bitset, out);
    cell_copy(out, bitset);
    stack_pop(1);
}

void bitset_pick(Cell* bitset, const Cell* value) {
    CellRoot held(*value);
    bool member = bitset_spec_walk(&held.cell, bitset, BITS_TEST, true, BITS_OTHER) != 0;
    logic_make_at(bitset, member);
}

const Cell* bitset_find(Cell* bitset, const Cell* value, const FindOptions&) {
    bitset_pick(bitset, value);
    if (!logic_get(bitset)) none_make_at(bitset);
    return bitset;
}

int32_t bitset_length_q(const Cell* bitset) { return int32_t(bitset_byte_count(bitset) * 8); }

// none, false, 0 and 0.0 clear; any other value sets.
static bool clearing_value_q(const Cell* value) {
    switch (cell_type(value)) {
    case T_NONE: return true;
    case T_LOGIC: return !logic_get(value);
    case T_INTEGER: return cell_int(value) == 0;
    case T_FLOAT: return cell_double(value) == 0.0;
    default: return false;
    }
}

void bitset_poke(Cell* bitset, const Cell* code, const Cell* value) {
    CellRoot key(*code), new_value(*value);
    bool owned = series_notify(bitset, W_POKE, 0, 0);
    int32_t op = clearing_value_q(&new_value.cell) ? BITS_CLEAR : BITS_SET;
    bitset_spec_walk(&key.cell, bitset, op, true, BITS_OTHER);
    series_notify_after(owned, bitset, W_POKED, 0, 0);
    cell_copy(&new_value.cell, bitset);
}

void bitset_remove(Cell* bitset, Cell*, Cell* key) {
    if (!key) error_raise(ERR_MISSING_ARG);
    CellRoot held(*key);
    bool owned = series_notify(bitset, W_REMOVE, 0, 0);
    // Removal takes the codes out of the set whatever the flag.
    bitset_spec_walk(&held.cell, bitset, BITS_CLEAR, true, BITS_OTHER);
    series_notify_after(owned, bitset, W_REMOVED, 0, 0);
}

void bitset_eval_path(const Cell* parent, const Cell* element, const Cell* set_value, const Cell*,
                      bool, Cell* out) {
    uint8_t type = cell_type(element);
    if (type != T_INTEGER && type != T_CHAR) error_raise(ERR_INVALID_TYPE, element);
    Cell* bitset = stack_push(parent);
    if (set_value) bitset_poke(bitset, element, set_value);
    else bitset_pick(bitset, element);
    cell_copy(bitset, out);
    stack_pop(1);
}

// ---- registration ------------------------------------------------------------------------------------

void init_bitset() {
    const ActionRow actions[] = {
        {A_MAKE, bitset_make},
        {A_REFLECT, series_reflect},
        {A_TO, bitset_to},
        {A_FORM, bitset_mold},
        {A_MOLD, bitset_mold},
        {A_EVAL_PATH, bitset_eval_path},
        {A_COMPARE, bitset_compare},
        {A_NEGATE, bitset_negate},
        {A_COMPLEMENT, bitset_complement},
        {A_AND_T, bitset_and},
        {A_OR_T, bitset_or},
        {A_XOR_T, bitset_xor},
        {A_APPEND, bitset_append},
        {A_INSERT, bitset_append},
        {A_CLEAR, bitset_clear},
        {A_COPY, bitset_copy},
        {A_FIND, bitset_find},
        {A_LENGTH_Q, bitset_length_q},
        {A_PICK, bitset_pick},
        {A_POKE, bitset_poke},
        {A_REMOVE, bitset_remove},
        {A_MODIFY, series_modify},
    };
    datatype_register(T_BITSET, 0, "bitset!", actions);
}

} // namespace kel
