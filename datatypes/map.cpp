// map!: key/value pairs in insertion order over a block, found through a hash
// table of kind HASH_MAP (core/hashtable). Every function re-reads the storage
// buffer after anything that can allocate; cells handed to the action
// functions are data-stack cells, which never move.
#include "datatypes/map.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
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

// ---- storage access -----------------------------------------------------------------

// Cells in the storage block, whose cells block_cells(series_node(map)) answers
// (valid until the next allocation).
static uint32_t pair_cells_length(const Cell* map) { return series_buffer_of(map)->length(); }
// The node of the map's hash table.
static Node map_table(const Cell* map) { return series_extra(map); }
static void map_table_set(Cell* map, Node table) { series_extra_set(map, table); }
static HashTable* table_of(const Cell* map) { return hashtable_record(map_table(map)); }

// A removed pair's value cell has header 0.
static bool pair_live_q(const Cell* map, uint32_t key_position) {
    return block_cells(series_node(map))[key_position + 1].header != 0;
}

static bool word_kind_q(uint8_t type) {
    return type == T_WORD || type == T_SET_WORD || type == T_LIT_WORD || type == T_GET_WORD;
}

static bool series_key_q(uint8_t type) {
    return type == T_STRING || type == T_FILE || type == T_URL || type == T_TAG ||
           type == T_EMAIL || type == T_REF || type == T_BINARY;
}

bool map_key_type_q(uint8_t type) {
    constexpr uint64_t keys =
        1ull << T_STRING | 1ull << T_FILE | 1ull << T_URL | 1ull << T_TAG | 1ull << T_EMAIL |
        1ull << T_REF | 1ull << T_BINARY | 1ull << T_WORD | 1ull << T_SET_WORD | 1ull << T_LIT_WORD |
        1ull << T_GET_WORD | 1ull << T_REFINEMENT | 1ull << T_ISSUE | 1ull << T_CHAR |
        1ull << T_INTEGER | 1ull << T_FLOAT | 1ull << T_PERCENT | 1ull << T_PAIR | 1ull << T_TUPLE |
        1ull << T_TIME | 1ull << T_DATE | 1ull << T_MONEY | 1ull << T_POINT2D | 1ull << T_POINT3D;
    static_assert(T_POINT3D < 64 && T_REFINEMENT < 64 && T_ISSUE < 64, "key types fit the mask");
    return type < 64 && (keys >> type & 1);
}

[[noreturn]] static void raise_bad_key(uint8_t type, const Cell* path) {
    Cell none;
    cell_init(&none, T_NONE);
    error_raise_type(ERR_INVALID_PATH, path ? path : &none, type);
}

void map_key_prepare(Cell* key, const Cell* path) {
    uint8_t type = cell_type(key);
    if (!map_key_type_q(type)) raise_bad_key(type, path);
    if (word_kind_q(type)) {
        key->header = T_SET_WORD;
    } else if (series_key_q(type)) {
        series_copy(key, nullptr, false, nullptr);
    }
}

// ---- construction ---------------------------------------------------------------------

Cell* map_make_at(Cell* cell, const Cell* block, uint32_t size) {
    Node node = block ? series_node(block) : series_new_cells(std::max<uint32_t>(size, 2));
    series_make_at(cell, T_BLOCK, node, 0);  // a plain block while the index is built
    uint32_t length = pair_cells_length(cell) & ~1u;
    for (uint32_t p = 0; p < length; p += 2) {
        uint8_t type = cell_type(&block_cells(series_node(cell))[p]);
        if (!map_key_type_q(type)) raise_bad_key(type, nullptr);
    }
    Node table = hashtable_init(series_node(cell), std::max<uint32_t>(length / 2, 4), HASH_MAP);
    map_table_set(cell, table);
    cell_type_set(cell, T_MAP);
    // Duplicates are gone now; normalise each key that stayed.
    for (uint32_t p = 0; p + 1 < pair_cells_length(cell); p += 2) {
        CellRoot key(block_cells(series_node(cell))[p]);
        map_key_prepare(&key.cell, nullptr);
        cell_copy(&key.cell, &block_cells(series_node(cell))[p]);
    }
    return cell;
}

Cell* map_push(const Cell* map) { return stack_push(map); }

uint32_t map_size(const Cell* map) { return table_of(map)->count; }

// ---- lookup and setting -------------------------------------------------------------------

int32_t map_find_key(const Cell* map, const Cell* key, int32_t mode) {
    if (!map_key_type_q(cell_type(key))) return -1;
    int64_t bucket;
    return hashtable_map_lookup(map_table(map), key, mode, &bucket);
}

// The value cell of a live key, or null; valid until the next allocation.
static Cell* live_value(const Cell* map, const Cell* key, int32_t mode) {
    int32_t at = map_find_key(map, key, mode);
    if (at < 0) return nullptr;
    Cell* value = &block_cells(series_node(map))[at + 1];
    return value->header != 0 ? value : nullptr;
}

// The position of a live key, or -1.
static int32_t live_key(const Cell* map, const Cell* key, int32_t mode) {
    int32_t at = map_find_key(map, key, mode);
    return at >= 0 && pair_live_q(map, uint32_t(at)) ? at : -1;
}

// map_set_key for a key not in the map: the key is normalised and appended
// with the value, both held across the allocations; bucket is the lookup's.
[[gnu::noinline]] static void map_add_key(const Cell* map_cell, const Cell* key_cell,
                                          const Cell* value_cell, int64_t bucket, const Cell* path) {
    CellRoot map(*map_cell), value(*value_cell);
    CellRoot key(*key_cell);
    map_key_prepare(&key.cell, path);
    Cell storage;
    series_make_at(&storage, T_BLOCK, series_node(&map.cell), 0);
    CellRoot held(storage);
    block_ks_append(&held.cell, &key.cell);
    Cell unset;
    cell_init(&unset, T_UNSET);
    block_ks_append(&held.cell, &unset);
    int32_t at = int32_t(pair_cells_length(&map.cell) - 2);
    hashtable_map_enter(map_table(&map.cell), uint32_t(at), bucket);
    Cell* slot = &block_cells(series_node(&map.cell))[at + 1];
    cell_copy(&value.cell, slot);
    slot->header &= ~CELL_NEWLINE;
}

void map_set_key(const Cell* map_cell, const Cell* key_cell, const Cell* value_cell, bool case_,
                 const Cell* path) {
    int32_t mode = case_ ? MAP_LOOKUP_STRICT : MAP_LOOKUP_EQUAL;
    int64_t bucket = -1;
    int32_t at = map_key_type_q(cell_type(key_cell))
                     ? hashtable_map_lookup(map_table(map_cell), key_cell, mode, &bucket)
                     : -1;
    if (at < 0) {
        map_add_key(map_cell, key_cell, value_cell, bucket, path);
        return;
    }
    // A key already there: comparing keys allocates nothing, so the cells
    // are read where they lie and the value is written in place.
    Cell* slot = &block_cells(series_node(map_cell))[at + 1];
    if (slot->header == 0) table_of(map_cell)->count++;
    cell_copy(value_cell, slot);
    slot->header &= ~CELL_NEWLINE;
}

static uint32_t odd_cells_check(const Cell* block) {
    int32_t count = std::max(block_ks_length_q(block), 0);
    if (count % 2 != 0) error_raise(ERR_INVALID_ARG, block);
    return uint32_t(count);
}

void map_extend_block(const Cell* map_cell, const Cell* block_cell, bool case_) {
    CellRoot map(*map_cell), block(*block_cell);
    uint32_t count = odd_cells_check(&block.cell);
    SeriesBuffer* b = series_buffer_of(&map.cell);
    if (b->tail + count * sizeof(Cell) > b->size)
        series_grow_copy(b, int32_t(b->tail + count * sizeof(Cell)));
    uint32_t from = series_index_clamped(&block.cell);
    for (uint32_t i = 0; i + 1 < count; i += 2) {
        CellRoot key(*block_ks_abs_at(&block.cell, from + i));
        CellRoot value(*block_ks_abs_at(&block.cell, from + i + 1));
        map_set_key(&map.cell, &key.cell, &value.cell, case_, nullptr);
    }
}

// ---- foreach ---------------------------------------------------------------------------

bool map_foreach_next(const Cell* words, Cell* cursor, uint32_t n) {
    uint32_t position = uint32_t(series_index(cursor));
    uint32_t first = uint32_t(series_index(words));
    uint32_t set = 0;
    uint32_t i = 0;
    while (i < n && position < pair_cells_length(cursor)) {
        CellRoot word(*block_ks_abs_at(words, first + i));
        if (!word_kind_q(cell_type(&word.cell))) error_raise(ERR_INVALID_ARG, &word.cell);
        bool key_slot = position % 2 == 0;
        if (key_slot && position + 1 < pair_cells_length(cursor) && !pair_live_q(cursor, position)) {
            position += 2;
            continue;
        }
        CellRoot value(block_cells(series_node(cursor))[position]);
        if (cell_type(&value.cell) == T_SET_WORD) cell_type_set(&value.cell, T_WORD);
        word_set(&word.cell, &value.cell);
        i++;
        position++;
        set++;
    }
    for (; i < n; i++) {
        CellRoot word(*block_ks_abs_at(words, first + i));
        if (!word_kind_q(cell_type(&word.cell))) error_raise(ERR_INVALID_ARG, &word.cell);
        Cell none;
        cell_init(&none, T_NONE);
        word_set(&word.cell, &none);
    }
    series_index_set(cursor, int32_t(position));
    return set > 0;
}

bool map_cell_at(const Cell* map, uint32_t i, Cell* out) {
    uint32_t length = pair_cells_length(map);
    for (uint32_t position = uint32_t(series_index(map)); position < length; position++) {
        if (position % 2 == 0 && position + 1 < length && !pair_live_q(map, position)) {
            position++;
            continue;
        }
        if (block_cells(series_node(map))[position].header == 0 || i-- > 0) continue;
        cell_copy(&block_cells(series_node(map))[position], out);
        if (cell_type(out) == T_SET_WORD) cell_type_set(out, T_WORD);
        return true;
    }
    cell_init(out, T_NONE);
    return false;
}

// ---- make, to -------------------------------------------------------------------------

[[noreturn]] static void raise_bad_to(const Cell* spec) {
    error_raise_type(ERR_BAD_TO_ARG, T_MAP, spec);
}

// The size a numeric make spec asks for.
static uint32_t spec_size(const Cell* spec) {
    int32_t n;
    if (cell_type(spec) == T_INTEGER) n = cell_int(spec);
    else if (!integer_from_double(cell_double(spec), &n)) error_raise(ERR_OUT_OF_RANGE, spec);
    if (n < 0) error_raise(ERR_OUT_OF_RANGE, spec);
    return uint32_t(n);
}

static const Cell* map_build(Cell* proto, const Cell* spec_cell, bool to) {
    CellRoot spec(*spec_cell);
    uint8_t type = cell_type(&spec.cell);
    Cell* out = stack_push_new(T_NONE);
    if (type == T_INTEGER || type == T_FLOAT) {
        if (to) raise_bad_to(&spec.cell);
        uint32_t size = spec_size(&spec.cell);
        map_make_at(out, nullptr, size == 0 ? 2 : std::min<uint64_t>(uint64_t(size) * 2, 0x7FFFFFF));
    } else if (type == T_BLOCK || type == T_PAREN || type == T_HASH) {
        odd_cells_check(&spec.cell);
        Cell* copy = block_clone(&spec.cell, false, false);
        SeriesBuffer* b = series_buffer_of(copy);
        Cell* cells = block_cells(b);
        for (uint32_t i = 0; i < b->length(); i++) cell_clear_newline(&cells[i]);
        cell_type_set(copy, T_BLOCK);
        map_table_set(copy, 0);
        map_make_at(out, copy, 0);
    } else if (type == T_MAP) {
        cell_copy(&spec.cell, out);
        map_copy(out, nullptr, false, nullptr);
    } else {
        raise_bad_to(&spec.cell);
    }
    cell_copy(out, proto);
    proto->header = T_MAP;
    stack_pop(uint32_t(data_stack.top - out));
    return proto;
}

const Cell* map_make(Cell* proto, const Cell* spec, uint8_t) { return map_build(proto, spec, false); }
const Cell* map_to(Cell* proto, const Cell* spec, uint8_t) { return map_build(proto, spec, true); }

// ---- reflect ----------------------------------------------------------------------------

static bool field_is(const Cell* field, RuntimeSymbol symbol) {
    uint8_t t = cell_type(field);
    uint32_t id = t == T_SYMBOL ? runtime_symbol(symbol) : word_symbol(field);
    if (t != T_SYMBOL && !word_kind_q(t)) return false;
    if (t == T_SYMBOL) return field->w2 == id || symbol_resolve(field->w2) == symbol_resolve(id);
    return symbol_resolve(id) == symbol_resolve(runtime_symbol(symbol));
}

void map_reflect(Cell* map_cell, const Cell* field) {
    bool words = field_is(field, SYM_WORDS), values = field_is(field, SYM_VALUES);
    bool body = field_is(field, SYM_BODY);
    if (!words && !values && !body) error_raise(ERR_NOT_DONE);
    CellRoot map(*map_cell);
    uint32_t live = map_size(&map.cell);
    Cell* out = block_push_only(int32_t(std::max<uint32_t>(live, 1) * (body ? 2 : 1)));
    uint32_t copied = 0;
    for (uint32_t p = 0; copied < live && p + 1 < pair_cells_length(&map.cell); p += 2) {
        if (!pair_live_q(&map.cell, p)) continue;
        copied++;
        Cell key = block_cells(series_node(&map.cell))[p];
        Cell value = block_cells(series_node(&map.cell))[p + 1];
        if (words) {
            if (cell_type(&key) == T_SET_WORD) key.header = T_WORD;
            block_ks_append(out, &key);
        } else if (values) {
            block_ks_append(out, &value);
        } else {
            key.header |= CELL_NEWLINE;
            block_ks_append(out, &key);
            block_ks_append(out, &value);
        }
    }
    cell_copy(out, map_cell);
    stack_pop(1);
}

// ---- form, mold ---------------------------------------------------------------------------

static int32_t text_out(Cell* target, const char* text, int32_t budget) {
    uint32_t n = uint32_t(std::strlen(text));
    string_concatenate_bytes(target, text, n);
    return budget - int32_t(n);
}

static int32_t indent_out(Cell* target, int32_t level, int32_t budget) {
    for (int32_t i = 0; i < level; i++) budget = text_out(target, "    ", budget);
    return budget;
}

static int32_t value_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                          bool part, int32_t budget, int32_t indent) {
    Cell* held = stack_push(value);
    auto mold = action_slot_as<FormMoldFn>(cell_type(held), A_MOLD);
    if (mold) budget = mold(held, target, only, all, flat, part, budget, indent);
    stack_pop(1);
    return budget;
}

// Writes the live pairs; see map_mold and map_form for the layouts.
static int32_t map_mold_pairs(const Cell* map_cell, Cell* target, bool only, bool all, bool flat,
                              bool part, int32_t budget, bool per_line, int32_t indent,
                              bool leading_break) {
    native_stack_check();
    CellRoot map(*map_cell);
    uint32_t live = map_size(&map.cell);
    if (live == 0) return budget;
    const char* separator = "\n";
    if (flat) {
        separator = " ";
        per_line = false;
    } else if (leading_break) {
        if (only) per_line = false;
        else budget = text_out(target, "\n", budget);
    }
    CycleGuard guard(series_node(&map.cell));
    uint32_t written = 0;
    for (uint32_t p = 0; written < live && p + 1 < pair_cells_length(&map.cell); p += 2) {
        if (!pair_live_q(&map.cell, p)) continue;
        written++;
        if (per_line) budget = indent_out(target, indent, budget);
        Cell key = block_cells(series_node(&map.cell))[p];
        budget = value_mold(&key, target, only, all, flat, part, budget, indent);
        budget = text_out(target, " ", budget);
        Cell value = block_cells(series_node(&map.cell))[p + 1];
        budget = value_mold(&value, target, only, all, flat, part, budget, indent);
        // Only a live pair still to come is separated (a removed one is not).
        if (per_line || written < live) budget = text_out(target, separator, budget);
        if (part && budget <= 0) return budget;
    }
    return budget;
}

int32_t map_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                 int32_t budget, int32_t indent) {
    if (cycles_find(series_node(value))) return text_out(target, "#[...]", budget);
    if (!only) budget = text_out(target, "#[", budget);
    int32_t before = budget;
    budget = map_mold_pairs(value, target, only, all, flat, part, budget, true, indent + 1, true);
    if (only) return budget;
    if (budget != before && indent > 0) budget = indent_out(target, indent, budget);
    return text_out(target, "]", budget);
}

int32_t map_form(const Cell* value, Cell* target, bool, bool all, bool flat, bool part,
                 int32_t budget, int32_t indent) {
    if (cycles_find(series_node(value))) return text_out(target, "...", budget);
    return map_mold_pairs(value, target, false, all, flat, part, budget, false, indent, false);
}

// ---- path selection, select, find, put, remove ------------------------------------------------

void map_eval_path(const Cell* parent, const Cell* element, const Cell* set_value,
                   const Cell* path, bool case_, Cell* out) {
    if (set_value) {
        map_set_key(parent, element, set_value, case_, path);
        cell_copy(set_value, out);
        return;
    }
    const Cell* value = live_value(parent, element, case_ ? MAP_LOOKUP_STRICT : MAP_LOOKUP_EQUAL);
    if (!value) cell_init(out, T_NONE);
    else cell_copy(value, out);
}

static int32_t lookup_mode(bool case_, bool same) {
    return same ? MAP_LOOKUP_SAME : case_ ? MAP_LOOKUP_STRICT : MAP_LOOKUP_EQUAL;
}

const Cell* map_select(Cell* map, const Cell* key, const FindOptions& options) {
    const Cell* value = live_value(map, key, lookup_mode(options.case_, options.same));
    if (!value) none_make_at(map);
    else cell_copy(value, map);
    return map;
}

const Cell* map_find(Cell* map, const Cell* key, const FindOptions& options) {
    int32_t at = live_key(map, key, lookup_mode(options.case_, options.same));
    if (at < 0) {
        none_make_at(map);
        return map;
    }
    cell_copy(&block_cells(series_node(map))[at], map);
    if (cell_type(map) == T_SET_WORD) map->header = T_WORD;
    return map;
}

void map_put(Cell* map, const Cell* key, const Cell* value, bool case_) {
    map_set_key(map, key, value, case_, nullptr);
    cell_copy(value, map);
}

void map_remove(Cell* map, Cell*, Cell* key) {
    if (!key) error_raise(ERR_MISSING_ARG);
    int32_t at = live_key(map, key, MAP_LOOKUP_STRICT);
    if (at >= 0) hashtable_delete_cell(map_table(map), uint32_t(at));
}

// ---- compare ------------------------------------------------------------------------------

// Whether some entry of b with a key equal to a's key (op 0) holds a value equal to it.
static bool value_found_q(const Cell* b, const Cell* key, const Cell* value) {
    HashCursor cursor;
    for (int32_t p; (p = hashtable_find_next(map_table(b), key, &cursor)) >= 0;) {
        if (!pair_live_q(b, uint32_t(p))) continue;
        Cell other = block_cells(series_node(b))[p + 1];
        if (compare_logic(value, &other, CMP_EQUAL)) return true;
    }
    return false;
}

// 0 when the two maps hold the same pairs, 1 when not (-1 for op same?).
static int32_t map_compare_contents(const Cell* a_cell, const Cell* b_cell, int32_t op) {
    if (series_node(a_cell) == series_node(b_cell) && series_index(a_cell) == series_index(b_cell)) return 0;
    if (op == CMP_SAME) return -1;
    if (cycles_find(series_node(a_cell))) return cycles_find(series_node(b_cell)) ? 0 : -1;
    uint32_t live = map_size(a_cell);
    if (live != map_size(b_cell)) return 1;
    if (live == 0) return 0;
    native_stack_check();
    CellRoot a(*a_cell), b(*b_cell);
    CycleGuard guard_a(series_node(&a.cell));
    CycleGuard guard_b(series_node(&b.cell));
    uint32_t seen = 0;
    for (uint32_t p = 0; seen < live && p + 1 < pair_cells_length(&a.cell); p += 2) {
        if (!pair_live_q(&a.cell, p)) continue;
        seen++;
        CellRoot key(block_cells(series_node(&a.cell))[p]);
        CellRoot value(block_cells(series_node(&a.cell))[p + 1]);
        if (op == CMP_STRICT_EQUAL) {
            int32_t at = live_key(&b.cell, &key.cell, MAP_LOOKUP_STRICT);
            if (at < 0) return 1;
            Cell other = block_cells(series_node(&b.cell))[at + 1];
            if (!compare_logic(&value.cell, &other, CMP_STRICT_EQUAL)) return 1;
        } else if (!value_found_q(&b.cell, &key.cell, &value.cell)) {
            return 1;
        }
    }
    return 0;
}

int32_t map_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_MAP) return COMPARE_INCOMPARABLE;
    switch (op) {
    case CMP_SORT: case CMP_SORT_CASE:
        // An arbitrary but stable order: the storage nodes.
        return series_node(value1) < series_node(value2) ? -1 : series_node(value1) > series_node(value2) ? 1 : 0;
    case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SAME: case CMP_FIND:
        return map_compare_contents(value1, value2, op);
    default:
        return COMPARE_INCOMPARABLE;
    }
}

// ---- clear, copy, length? ------------------------------------------------------------------------

void map_clear(Cell* map) {
    hashtable_clear(map_table(map));
    HashTable* t = table_of(map);
    t->count = 0;
    t->used = 0;
    SeriesBuffer* b = series_buffer_of(map);
    b->tail = b->head;
}

void map_copy(Cell* map_cell, const Cell*, bool deep, const Cell* types) {
    CellRoot map(*map_cell);
    uint32_t depth = cycles_depth();
    if (deep && types) {
        if (cycles_find(series_node(&map.cell))) {
            cycles_reset();
            error_raise(ERR_NO_CYCLE);
        }
        cycles_push(series_node(&map.cell));
    }
    Cell storage;
    series_make_at(&storage, T_BLOCK, series_node(&map.cell), 0);
    // Nested series are cloned for deep (the type filter is not applied).
    Cell* copy = block_clone(&storage, deep, deep);
    Node table = hashtable_copy(map_table(&map.cell), series_node(copy));
    map_table_set(copy, table);
    copy->header = T_MAP;
    cycles_truncate(depth);
    cell_copy(copy, map_cell);
    stack_pop(1);
}

int32_t map_length_q(const Cell* map) { return int32_t(map_size(map)); }

// ---- registration ----------------------------------------------------------------------------

// The lexer's map literal: its items pair up and every key is of a key type;
// otherwise it makes none.
static bool map_from_literal_items(const Cell* items, Cell* out) {
    SeriesBuffer* b = series_buffer_of(items);
    uint32_t count = b->length();
    if (count % 2 != 0) return false;
    const Cell* cells = block_cells(b);
    for (uint32_t i = 0; i < count; i += 2)
        if (!map_key_type_q(cell_type(&cells[i]))) return false;
    map_make_at(out, items, 0);
    return true;
}

void init_map() {
    const ActionRow actions[] = {
        {A_MAKE, map_make},
        {A_REFLECT, map_reflect},
        {A_TO, map_to},
        {A_FORM, map_form},
        {A_MOLD, map_mold},
        {A_EVAL_PATH, map_eval_path},
        {A_COMPARE, map_compare},
        {A_CLEAR, map_clear},
        {A_COPY, map_copy},
        {A_FIND, map_find},
        {A_LENGTH_Q, map_length_q},
        {A_PUT, map_put},
        {A_REMOVE, map_remove},
        {A_SELECT, map_select},
    };
    datatype_register(T_MAP, 0, "map!", actions);
    datatype_hooks_set(T_MAP, {.items_literal = map_from_literal_items});
}

} // namespace kel
