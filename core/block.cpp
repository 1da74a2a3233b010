// block!: cell-array functions, constructors, and the actions that make,
// convert, print, compare and select. Searching and modifying actions live in
// core/block_search.cpp; positional actions are inherited from series!.
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/logic.hpp"
#include "core/mold_text.hpp"
#include "core/numbers.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/typeset.hpp"
#include "core/vector_items.hpp"
#include "core/vocabulary.hpp"
#include "core/lexer.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"
#include "runtime/native_guard.hpp"

#include <algorithm>
#include <cstring>

namespace kel {

// ---- cell-array functions ---------------------------------------------------------------


int32_t block_ks_length_q(const Cell* block) {
    return int32_t(series_buffer_of(block)->length()) - series_index(block);
}

bool block_ks_next(Cell* block) {
    uint32_t length = series_buffer_of(block)->length();
    if (uint32_t(series_index(block)) < length) series_index_set(block, series_index(block) + 1);
    return uint32_t(series_index(block)) >= length;
}

Cell* block_ks_head(Cell* block) {
    SeriesBuffer* b = series_buffer_of(block);
    if (uint32_t(series_index(block)) > b->length()) series_index_set(block, b->length());
    return block_cells(b) + series_index(block);
}

Cell* block_ks_tail(const Cell* block) {
    return block_tail_cells(series_buffer_of(block));
}

bool block_ks_tail_q(const Cell* block) {
    return uint32_t(series_index(block)) == series_buffer_of(block)->length();
}

Cell* block_ks_abs_at(const Cell* block, uint32_t index) { return block_cells(series_buffer_of(block)) + index; }

void block_ks_clear(const Cell* block) {
    SeriesBuffer* b = series_buffer_of(block);
    uint32_t index = std::min<uint32_t>(std::max(series_index(block), 0), b->length());
    b->tail = b->head + index * sizeof(Cell);
}

void block_ks_tail_at(const Cell* block, uint32_t index) {
    SeriesBuffer* b = series_buffer_of(block);
    b->tail = b->head + index * sizeof(Cell);
}

// Makes room for n more cells at the tail, growing to twice the need when
// short. Returns the buffer (which may have moved).
static SeriesBuffer* block_reserve(Node node, uint32_t n) {
    SeriesBuffer* b = series_buffer(node);
    uint64_t need = uint64_t(b->tail) + uint64_t(n) * sizeof(Cell);
    if (need <= b->size) return b;
    uint64_t size = std::max<uint64_t>(need * 2, 4 * sizeof(Cell));
    if (size > INT32_MAX) {
        size = need;
        if (size > INT32_MAX) error_raise(ERR_NO_MEMORY);
    }
    // The grown buffer is returned directly: the growth may have collected
    // and renumbered the node given.
    return series_grow_copy(b, int32_t(size));
}

Cell* block_ks_append(const Cell* block, const Cell* value) {
    Node node = series_node(block);
    SeriesBuffer* b = series_buffer(node);
    if (b->tail + sizeof(Cell) > b->size) {
        // The value may lie in this buffer or refer to nodes a collection renumbers.
        CellRoot held(*value);
        NodeRoot n(node);
        b = block_reserve(n.node, 1);
        Cell* cell = block_tail_cells(b);
        b->tail += sizeof(Cell);
        cell_copy(&held.cell, cell);
        return cell;
    }
    Cell* cell = block_tail_cells(b);
    b->tail += sizeof(Cell);
    cell_copy(value, cell);
    return cell;
}

void block_copy_cells(const Cell* target, const Cell* source) {
    int32_t count = block_ks_length_q(source);
    if (count <= 0) return;
    CellRoot src(*source);
    NodeRoot dst(series_node(target));
    SeriesBuffer* tb = block_reserve(dst.node, uint32_t(count));
    SeriesBuffer* sb = series_buffer_of(&src.cell);
    std::memmove(tb->tail_ptr(), block_cells(sb) + series_index(&src.cell), size_t(count) * sizeof(Cell));
    tb->tail += uint32_t(count) * sizeof(Cell);
}

// Whether a cell matches a key under a comparison op, through the key type's
// comparison slot; a type without one matches identical payloads.
bool block_value_matches(const Cell* key, const Cell* cell, int32_t op) {
    auto compare = action_slot_as<CompareFn>(cell_type(key), A_COMPARE);
    if (!compare)
        return cell_type(key) == cell_type(cell) && cell_payload_same(key, cell);
    return compare(key, cell, op) == 0;
}

const Cell* block_select_value(const Cell* block, const Cell* key) {
    int32_t length = int32_t(series_buffer_of(block)->length());
    for (int32_t i = std::max(series_index(block), 0); i < length; i++) {
        // A comparison may not allocate, so the cell address stays valid.
        if (block_value_matches(key, block_ks_abs_at(block, uint32_t(i)), CMP_FIND))
            return i + 1 < length ? block_ks_abs_at(block, uint32_t(i) + 1) : &none_cell;
    }
    return &none_cell;
}

static bool any_word_q(uint8_t type) {
    return type == T_WORD || type == T_SET_WORD || type == T_LIT_WORD || type == T_GET_WORD;
}

const Cell* block_select_word(const Cell* block, const Cell* word, bool case_) {
    SeriesBuffer* b = series_buffer_of(block);
    Cell* cells = block_cells(b);
    int32_t length = int32_t(b->length());
    uint32_t symbol = word_symbol(word);
    uint32_t resolved = symbol_resolve(symbol);
    for (int32_t i = std::max(series_index(block), 0); i < length; i++) {
        const Cell* c = cells + i;
        if (!any_word_q(cell_type(c))) continue;
        bool same = case_ ? word_symbol(c) == symbol : symbol_resolve(word_symbol(c)) == resolved;
        if (same) return i + 1 < length ? cells + i + 1 : &none_cell;
    }
    return &none_cell;
}

// Removes cells [at, at + count) with no notification; a hash! follows.
static void block_cells_remove(const Cell* block, uint32_t at, uint32_t count) {
    SeriesBuffer* b = series_buffer_of(block);
    uint32_t length = b->length();
    if (at >= length) return;
    count = std::min(count, length - at);
    hash_index_drop(block, at, count);
    b = series_buffer_of(block);
    Cell* cells = block_cells(b);
    std::memmove(cells + at, cells + at + count, size_t(length - at - count) * sizeof(Cell));
    b->tail -= count * sizeof(Cell);
    hash_index_shift(block, -int32_t(count), at + count, length - at - count);
}

int32_t block_remove_value(Cell* block, const Cell* value, bool from_head) {
    int32_t index = std::max(series_index(block), 0);
    int32_t length = int32_t(series_buffer_of(block)->length());
    for (int32_t i = from_head ? 0 : index; i < length; i++) {
        if (block_value_matches(value, block_ks_abs_at(block, uint32_t(i)), CMP_FIND)) {
            block_cells_remove(block, uint32_t(i), 1);
            return i <= index ? 1 : 0;
        }
    }
    return -1;
}

static bool clone_nested_q(uint8_t type, bool parens) {
    if (type == T_BLOCK) return true;
    return parens && (type == T_PAREN || type == T_PATH || type == T_LIT_PATH ||
                      type == T_SET_PATH || type == T_GET_PATH);
}

Cell* block_clone(const Cell* block, bool deep, bool parens) {
    native_stack_check();
    Cell* source = stack_push(block);
    Cell* result = stack_push_new(T_NONE);
    int32_t count = std::max(block_ks_length_q(source), 0);
    Node node = series_new_cells(uint32_t(std::max(count, 1)));
    series_make_at(result, cell_type(source), node, 0);
    result->header = source->header & (CELL_NEWLINE | CELL_TYPE_MASK);
    SeriesBuffer* sb = series_buffer_of(source);
    SeriesBuffer* rb = series_buffer_of(result);
    std::memcpy(rb->head_ptr(), block_cells(sb) + series_index(source), size_t(count) * sizeof(Cell));
    rb->tail = rb->head + uint32_t(count) * sizeof(Cell);
    if (deep) rb->flags |= sb->flags & SERIES_LIBRARY;  // function bodies stay library code
    hash_index_new(result);
    if (deep) {
        // A block met again inside itself is shared, not copied for ever.
        CycleGuard guard(series_node(source));
        for (uint32_t i = 0; i < uint32_t(count); i++) {
            Cell* nested = block_ks_abs_at(result, i);
            if (!clone_nested_q(cell_type(nested), parens) || cycles_find(series_node(nested))) continue;
            Cell* copy = block_clone(nested, true, parens);
            cell_copy(copy, block_ks_abs_at(result, i));
            stack_pop(1);
        }
    }
    cell_copy(result, source);
    stack_pop(1);
    return source;
}

void block_insert_cell(Cell* block, const Cell* value, bool at_head, bool advance) {
    CellRoot held(*value);
    uint32_t length = series_buffer_of(block)->length();
    uint32_t at = at_head ? 0 : std::min<uint32_t>(std::max(series_index(block), 0), length);
    SeriesBuffer* b = block_reserve(series_node(block), 1);
    Cell* cells = block_cells(b);
    std::memmove(cells + at + 1, cells + at, size_t(length - at) * sizeof(Cell));
    cell_copy(&held.cell, cells + at);
    b->tail += sizeof(Cell);
    hash_index_shift(block, 1, at, length - at);
    hash_index_enter(block, at, 1);
    if (advance) series_index_set(block, at + 1);
}

void block_insert_block(Cell* block, const Cell* source) {
    int32_t count = block_ks_length_q(source);
    if (count <= 0) return;
    // The source's cells are held apart first: they may lie in this buffer.
    uint32_t n = uint32_t(count);
    Cell* held = stack_push_new(T_NONE);
    block_clone(source, false, false);
    cell_copy(stack_top(), held);
    stack_pop(1);
    uint32_t length = series_buffer_of(block)->length();
    uint32_t at = std::min<uint32_t>(std::max(series_index(block), 0), length);
    SeriesBuffer* b = block_reserve(series_node(block), n);
    Cell* cells = block_cells(b);
    std::memmove(cells + at + n, cells + at, size_t(length - at) * sizeof(Cell));
    std::memcpy(cells + at, block_cells(series_buffer_of(held)), size_t(n) * sizeof(Cell));
    b->tail += n * sizeof(Cell);
    stack_pop(1);
    hash_index_shift(block, int32_t(n), at, length - at);
    hash_index_enter(block, at, n);
    series_index_set(block, at + n);
}

void block_append_arg() {
    Cell* block = data_stack.args;
    uint32_t at = series_buffer_of(block)->length();
    block_ks_append(block, data_stack.args + 1);
    hash_index_enter(block, at, 1);
}

void block_append_last() {
    Cell* value = stack_top();
    Cell* block = value - 1;
    uint32_t at = series_buffer_of(block)->length();
    block_ks_append(block, value);
    hash_index_enter(block, at, 1);
    stack_pop(1);
}

void block_insert_last() {
    Cell* value = stack_top();
    block_insert_cell(value - 1, value, false, true);
    stack_pop(1);
}

// ---- constructors -------------------------------------------------------------------------

Cell* block_make_at(Cell* cell, int32_t capacity) {
    Node node = series_new_cells(uint32_t(std::max(capacity, 1)));
    series_make_at(cell, T_BLOCK, node, 0);
    return cell;
}

Cell* block_make_sized(Cell* cell, int32_t capacity, bool fixed) {
    uint32_t n = uint32_t(std::max(capacity, 1));
    Node node = fixed ? series_new_fixed(n, sizeof(Cell), 0) : series_new_cells_unset(n);
    series_make_at(cell, T_BLOCK, node, 0);
    return cell;
}

Cell* block_make_in(Node parent, int32_t capacity) {
    NodeRoot into(parent ? parent : series_node(&root_cell));
    NodeRoot child(series_new_cells(uint32_t(std::max(capacity, 1))));
    Cell* cell = cell_series_append(into.node);
    series_make_at(cell, T_BLOCK, child.node, 0);
    return cell;
}

Cell* block_make_in_root() { return block_make_in(0, 1); }

Cell* block_push(const Cell* block) { return stack_push(block); }

Cell* block_push_only(int32_t capacity) {
    Cell* slot = stack_push_new(T_NONE);
    Node node = series_new_cells(uint32_t(std::max(capacity, 1)));
    series_make_at(slot, T_BLOCK, node, 0);
    return slot;
}

// ---- make, to -------------------------------------------------------------------------------

// The body of an object! or map! as a block, through the type's reflect
// with the field word `body`; the items of a vector! from its position, as
// values of its item type.
static void block_from_container(const Cell* spec, Cell* out) {
    if (cell_type(spec) == T_VECTOR) {
        Cell* items = stack_push_new(T_NONE);
        vector_to_block(spec, items);
        cell_copy(items, out);
        stack_pop(1);
        return;
    }
    auto reflect = action_lookup_value_as<ReflectFn>(spec, A_REFLECT);
    Cell* value = stack_push(spec);
    Cell* field = stack_push_new(T_WORD);
    word_symbol_set(field, runtime_symbol(SYM_BODY));
    word_index_set(field, WORD_UNBOUND);
    reflect(value, field);
    cell_copy(value, out);
    stack_pop(2);
}

// Text scanned into a block of values by the lexer.
static void block_from_text(const Cell* spec, Cell* out) {
    Cell* text = stack_push(spec);
    Cell* result = stack_push_new(T_NONE);
    lexer_scan_string(result, text, -1, LexerOptions{}, nullptr);
    cell_copy(result, out);
    stack_pop(2);
}

// A block-like value cloned (not deep) and retyped, written into out.
static void block_retyped_clone(const Cell* spec, uint8_t type, Cell* out) {
    Cell* copy = block_clone(spec, false, false);
    cell_type_set(copy, type);
    series_extra_set(copy, 0);
    cell_clear_newline(copy);
    hash_index_new(copy);
    cell_copy(copy, out);
    stack_pop(1);
}

const Cell* block_make(Cell* proto, const Cell* spec, uint8_t type) {
    uint8_t st = cell_type(spec);
    if (block_family_q(st)) {
        block_retyped_clone(spec, type, proto);
    } else if (st == T_INTEGER || st == T_FLOAT) {
        // A float size outside the 32-bit range is out of range, not empty.
        int32_t size = st == T_INTEGER ? cell_int(spec) : 0;
        if (st == T_FLOAT && !integer_from_double(cell_double(spec), &size))
            error_raise(ERR_OUT_OF_RANGE, spec);
        block_make_at(proto, size >= 1 ? size : 1);
        cell_type_set(proto, type);
        hash_index_new(proto);
    } else if (st == T_OBJECT || st == T_MAP || st == T_VECTOR) {
        block_from_container(spec, proto);
        cell_type_set(proto, type);
        hash_index_new(proto);
    } else {
        error_raise_type(ERR_BAD_MAKE_ARG, type, spec);
    }
    return proto;
}

const Cell* block_to(Cell* proto, const Cell* spec, uint8_t type) {
    uint8_t st = cell_type(spec);
    if (block_family_q(st)) {
        block_retyped_clone(spec, type, proto);
        return proto;
    }
    if (st == T_OBJECT || st == T_MAP || st == T_VECTOR) {
        block_from_container(spec, proto);
    } else if (st == T_STRING) {
        block_from_text(spec, proto);
    } else if (st == T_TYPESET) {
        Cell* set = stack_push(spec);
        Cell* out = block_push_only(int32_t(typeset_count(set)));
        for (int id = 1; id <= LAST_TYPE_ID; id++) {
            if (!typeset_has(set, uint8_t(id))) continue;
            Cell datatype;
            datatype_make_at(&datatype, uint8_t(id));
            block_ks_append(out, &datatype);
        }
        cell_copy(out, proto);
        stack_pop(2);
    } else {
        Cell* value = stack_push(spec);
        Cell* out = block_push_only(1);
        block_ks_append(out, value);
        cell_copy(out, proto);
        stack_pop(2);
    }
    cell_type_set(proto, type);
    hash_index_new(proto);
    return proto;
}

// ---- form, mold ------------------------------------------------------------------------------

static int32_t text_append(Cell* target, const char* text, uint32_t length, int32_t budget) {
    string_append_ascii(target, text, length);
    return budget - int32_t(length);
}

static int32_t spaces_append(Cell* target, int32_t count, int32_t budget) {
    static const char spaces[] = "                                ";  // 32
    while (count > 0) {
        uint32_t n = uint32_t(std::min(count, 32));
        budget = text_append(target, spaces, n, budget);
        count -= int32_t(n);
    }
    return budget;
}

// The placeholder of a value already being printed; true when written.
static bool cycle_placeholder(const Cell* value, Cell* target, bool mold, int32_t* budget) {
    const char* text = cycles_detect(value, mold);
    if (!text) return false;
    *budget = text_append(target, text, uint32_t(std::strlen(text)), *budget);
    return true;
}

// The last character of the target string, or 0 when it is empty.
static uint32_t last_char(const Cell* target) {
    SeriesBuffer* b = series_buffer_of(target);
    if (b->tail == b->head) return 0;
    return string_get_char(b->tail_ptr() - b->unit(), b->unit());
}

// Forms or molds one cell of a block through its type's slot; the cell is
// copied to the stack first, since printing allocates.
static int32_t cell_print(const Cell* block, uint32_t i, Cell* target, bool mold, bool all,
                          bool flat, bool part, int32_t budget, int32_t indent) {
    Cell* cell = stack_push(block_ks_abs_at(block, i));
    auto print = action_slot_as<FormMoldFn>(cell_type(cell), mold ? A_MOLD : A_FORM);
    if (print) budget = print(cell, target, false, all, flat, part, budget, indent);
    stack_pop(1);
    return budget;
}

int32_t block_form(const Cell* value, Cell* target, bool, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent) {
    native_stack_check();
    if (cycle_placeholder(value, target, false, &budget)) return budget;
    CycleGuard guard(series_node(value));
    uint32_t length = series_buffer_of(value)->length();
    for (uint32_t i = uint32_t(std::max(series_index(value), 0)); i < length;) {
        if (part && budget < 1) break;
        budget = cell_print(value, i, target, false, all, flat, part, budget, indent);
        length = series_buffer_of(value)->length();
        if (++i < length) {
            uint32_t c = last_char(target);
            if (c != '\t' && c != '\n' && c != '\r') budget = text_append(target, " ", 1, budget);
        }
    }
    return budget;
}

int32_t block_mold_each(const Cell* value, Cell* target, bool only, bool all, bool flat,
                        bool part, int32_t budget, int32_t indent) {
    native_stack_check();
    CycleGuard guard(series_node(value));
    bool indented = false;
    uint32_t first = uint32_t(std::max(series_index(value), 0));
    for (uint32_t i = first; i < series_buffer_of(value)->length(); i++) {
        if (part && budget < 1) return budget;
        bool newline = block_ks_abs_at(value, i)->header & CELL_NEWLINE;
        if (!flat && newline) {
            if (i == first && !only) {
                indent++;
                indented = true;
            }
            if (!(i == first && only)) budget = text_append(target, "\n", 1, budget);
            budget = spaces_append(target, indent * 4, budget);
        } else if (i != first) {
            budget = text_append(target, " ", 1, budget);
        }
        budget = cell_print(value, i, target, true, all, flat, part, budget, indent);
    }
    if (indented) {
        budget = text_append(target, "\n", 1, budget);
        budget = spaces_append(target, (indent - 1) * 4, budget);
    }
    return budget;
}

int32_t block_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent) {
    if (cycle_placeholder(value, target, true, &budget)) return budget;
    if (!only) budget = text_append(target, "[", 1, budget);
    budget = block_mold_each(value, target, only, all, flat, part, budget, indent);
    if (!only) budget = text_append(target, "]", 1, budget);
    return budget;
}

// ---- compare ---------------------------------------------------------------------------------

static bool number_q(uint8_t t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }

static bool equality_op_q(int32_t op) {
    return op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL ||
           op == CMP_FIND_MODE1 || op == CMP_FIND_MODE2 || op == CMP_FIND;
}

static bool path_pair_q(uint8_t a, uint8_t b) {
    return (a == T_PATH && b == T_LIT_PATH) || (a == T_LIT_PATH && b == T_PATH);
}

int32_t block_compare(const Cell* value1, const Cell* value2, int32_t op) {
    uint8_t t1 = cell_type(value1), t2 = cell_type(value2);
    if (t1 != t2 && !((op == CMP_FIND_MODE1 || op == CMP_FIND_MODE2) && path_pair_q(t1, t2)))
        return COMPARE_INCOMPARABLE;
    if (series_node(value1) == series_node(value2) && series_index(value1) == series_index(value2)) return 0;
    if (op == CMP_SAME) return -1;
    bool seen1 = cycles_find(series_node(value1)), seen2 = cycles_find(series_node(value2));
    if (seen1 || seen2) return seen1 && seen2 ? 0 : -1;

    native_stack_check();
    Cell* a = stack_push(value1);
    Cell* b = stack_push(value2);
    int32_t len1 = std::max(block_ks_length_q(a), 0);
    int32_t len2 = std::max(block_ks_length_q(b), 0);
    if (equality_op_q(op) && len1 != len2) {
        stack_pop(2);
        return 1;
    }
    int32_t result = 0;
    {
        CycleGuard g1(series_node(a));
        CycleGuard g2(series_node(b));
        uint32_t i1 = uint32_t(std::max(series_index(a), 0));
        uint32_t i2 = uint32_t(std::max(series_index(b), 0));
        int32_t n = std::min(len1, len2);
        for (int32_t k = 0; k < n && result == 0; k++) {
            Cell* c1 = stack_push(block_ks_abs_at(a, i1 + uint32_t(k)));
            Cell* c2 = stack_push(block_ks_abs_at(b, i2 + uint32_t(k)));
            uint8_t u1 = cell_type(c1), u2 = cell_type(c2);
            bool comparable = u1 == u2 || (any_word_q(u1) && any_word_q(u2)) ||
                              (number_q(u1) && number_q(u2));
            if (!comparable) {
                result = u1 < u2 ? -1 : 1;
            } else {
                auto compare = action_slot_as<CompareFn>(u1, A_COMPARE);
                if (compare) result = compare(c1, c2, op);
                else if (!cell_payload_same(c1, c2))
                    result = COMPARE_INCOMPARABLE;
            }
            stack_pop(2);
        }
    }
    stack_pop(2);
    if (result != 0) return result;
    // All compared cells equal: the shorter remainder, an empty one included,
    // orders first.
    return len1 < len2 ? -1 : len1 > len2 ? 1 : 0;
}

// ---- path selection ----------------------------------------------------------------------------

void block_eval_path(const Cell* parent, const Cell* element, const Cell* set_value,
                     const Cell* path, bool case_, Cell* out) {
    Cell* series = stack_push(parent);
    if (cell_type(element) == T_INTEGER) {
        if (set_value) series_poke(series, element, set_value);
        else series_pick(series, element);
        cell_copy(series, out);
        stack_pop(1);
        return;
    }
    if (!set_value) {
        if (cell_type(element) == T_WORD && cell_type(parent) != T_HASH) {
            cell_copy(block_select_word(series, element, case_), out);
        } else {
            cell_copy(block_select(series, element, FindOptions{.only = true, .case_ = case_}),
                      out);
        }
        stack_pop(1);
        return;
    }
    // find leaves the series at the key, from which the value is the second cell.
    const Cell* found = block_find(series, element, FindOptions{.only = true, .case_ = case_});
    if (cell_type(found) == T_NONE) error_raise(ERR_BAD_PATH_SET, path, element);
    Cell two = {T_INTEGER, 0, 2, 0};
    series_poke(series, &two, set_value);
    cell_copy(set_value, out);
    stack_pop(1);
}

// ---- registration -------------------------------------------------------------------------------

void init_block() {
    const ActionRow actions[] = {
        {A_MAKE, block_make},
        {A_TO, block_to},
        {A_FORM, block_form},
        {A_MOLD, block_mold},
        {A_EVAL_PATH, block_eval_path},
        {A_COMPARE, block_compare},
        {A_FIND, block_find},
        {A_SELECT, block_select},
        {A_PUT, block_put},
        {A_SORT, block_sort},
        {A_APPEND, block_insert},
        {A_INSERT, block_insert},
        {A_CHANGE, block_change},
        {A_TAKE, block_take},
        {A_SWAP, block_swap},
        {A_TRIM, block_trim},
        {A_COPY, block_copy},
        // Scalar and port actions are not supported by blocks; the rest come from series!.
        {A_UNUSED, ACTION_NONE}, {A_ABSOLUTE, A_XOR_T, ACTION_NONE},
        {A_CREATE, A_DELETE, ACTION_NONE}, {A_OPEN, A_WRITE, ACTION_NONE},
    };
    datatype_register(T_BLOCK, T_SERIES, "block!", actions, ACTIONS_INHERITED);
}

} // namespace kel
