// The ownership table: recording and clearing owners, the check that
// modifying actions call, and the table's collector hooks.
#include "core/block.hpp"
#include "core/ownership.hpp"
#include "core/context.hpp"
#include "core/cycle.hpp"
#include "core/hashtable.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/word_cell.hpp"
#include "core/stack.hpp"
#include "runtime/collector.hpp"

namespace kel {

static Node table_node = 0;
static DeepChangeNotify deep_change_notify = nullptr;

// Value cells of an entry.
enum : uint32_t { OWNED_VALUE = 0, OWNER_OBJECT = 1, FIELD_WORD = 2, ENTRY_CELLS = 3 };

Node ownership_table() { return table_node; }
void ownership_notify_set(DeepChangeNotify notify) { deep_change_notify = notify; }

static void ownership_mark() { hashtable_mark(&table_node); }

// Re-points the nodes of an entry that stays: the owned value's series is the
// key; the owner's change-handler record and the field word's context must
// have survived too, else the entry goes and its series is no longer owned.
static bool entry_keep(Cell* key, Cell* values) {
    series_node_set(&values[OWNED_VALUE], hashtable_entry_key(key));
    Cell* owner = &values[OWNER_OBJECT];
    Cell* word = &values[FIELD_WORD];
    bool keep = (!object_info(owner) || node_survives(object_info_slot(owner))) &&
                (!word_context(word) || node_survives(word_context_slot(word)));
    if (!keep) series_buffer(hashtable_entry_key(key))->flags &= ~SERIES_OWNED;
    return keep;
}

static void ownership_sweep() {
    if (table_node) hashtable_sweep(hashtable_record(table_node), entry_keep);
}

void ownership_init() {
    table_node = 0;
    collector_remove_root(ownership_mark);
    collector_add_root(ownership_mark);
    collector_remove_sweep(ownership_sweep);
    collector_add_sweep(ownership_sweep);
    table_node = hashtable_init(0, OWNERSHIP_TABLE_SIZE, HASH_NODES_PAIRED, ENTRY_CELLS);
}

static bool block_kind(uint8_t type) {
    switch (type) {
    case T_BLOCK: case T_PAREN: case T_HASH: case T_PATH: case T_LIT_PATH: case T_SET_PATH:
    case T_GET_PATH:
        return true;
    default: return false;
    }
}

// Records one series unless it is owned already.
static void series_own(const CellRoot& value, const CellRoot& owner, const CellRoot& word) {
    Node node = series_node(&value.cell);
    if (!node || (series_buffer(node)->flags & SERIES_OWNED)) return;
    series_buffer(node)->flags |= SERIES_OWNED;
    Cell* entry = hashtable_put_key(table_node, node);
    // The owned value keeps its type, position and series, and nothing that
    // the table would have to keep alive (a string's conversion buffer, a
    // hash!'s index): only a vector's element type stays in word 3.
    Cell owned = value.cell;
    owned.header &= CELL_TYPE_MASK;
    if (cell_type(&owned) != T_VECTOR) series_extra_set(&owned, 0);
    entry[OWNED_VALUE] = owned;
    entry[OWNER_OBJECT] = owner.cell;
    entry[FIELD_WORD] = word.cell;
}

static void set_deep(const Cell* value_cell, const CellRoot& owner, const CellRoot& word);

static void block_own(const CellRoot& block, const CellRoot& owner, const CellRoot& word) {
    Node node = series_node(&block.cell);
    if (cycles_find(node)) return;
    CycleGuard guard(node);
    int32_t position = series_index(&block.cell);
    for (uint32_t i = position < 0 ? 0 : uint32_t(position);; i++) {
        SeriesBuffer* b = series_buffer_of(&block.cell);
        if (i >= b->length()) break;
        Cell item = block_cells(b)[i];
        set_deep(&item, owner, word);
    }
}

static void object_own(const CellRoot& object, const CellRoot& owner) {
    Node context = object_context(&object.cell);
    if ((context_cell(context)->header & CONTEXT_OWNS_SERIES) || cycles_find(context)) return;
    CycleGuard guard(context);
    for (uint32_t i = 0; i < context_word_count(object_context(&object.cell)); i++) {
        Node values = context_values(object_context(&object.cell));
        if (!values || i >= series_buffer(values)->length()) break;
        Cell field = block_cells(values)[i];
        if (cell_type(&field) == T_OBJECT && object_context(&field) == object_context(&object.cell)) continue;
        CellRoot field_word(*context_word_at(object_context(&object.cell), i));
        set_deep(&field, owner, field_word);
    }
}

static void set_deep(const Cell* value_cell, const CellRoot& owner, const CellRoot& word) {
    CellRoot value(*value_cell);
    uint8_t type = cell_type(&value.cell);
    if (ownership_kind_q(type)) series_own(value, owner, word);
    if (block_kind(type)) block_own(value, owner, word);
    else if (type == T_OBJECT && object_context(&value.cell)) object_own(value, owner);
}

void ownership_set_deep(const Cell* value, const Cell* owner, const Cell* word) {
    CellRoot held_owner(*owner);
    CellRoot held_word(*word);
    set_deep(value, held_owner, held_word);
}

void ownership_set_object(const Cell* value, const Cell* owner, const Cell* word) {
    CellRoot held_owner(*owner);
    // An object taking its own series walks them again even when its context
    // says it owns them already: a copy's context inherits that mark, and its
    // fields hold fresh copies that nobody owns yet.
    if (cell_type(value) == T_OBJECT && object_context(value) && object_context(value) == object_context(&held_owner.cell))
        context_cell(object_context(value))->header &= ~CONTEXT_OWNS_SERIES;
    ownership_set_deep(value, &held_owner.cell, word);
    if (object_context(&held_owner.cell)) context_cell(object_context(&held_owner.cell))->header |= CONTEXT_OWNS_SERIES;
}

// Clearing allocates nothing; blocks are walked under the cycle guard so that
// a block holding itself ends the walk.
static void clear_deep(const Cell* value) {
    uint8_t type = cell_type(value);
    if (ownership_kind_q(type) && series_node(value)) {
        series_buffer_of(value)->flags &= ~SERIES_OWNED;
        if (Cell* entry = hashtable_remove_key(table_node, series_node(value)))
            for (uint32_t i = 0; i < ENTRY_CELLS; i++) cell_init(&entry[i], T_UNSET);
    }
    if (block_kind(type) && series_node(value)) {
        if (cycles_find(series_node(value))) return;
        CycleGuard guard(series_node(value));
        SeriesBuffer* b = series_buffer_of(value);
        int32_t position = series_index(value);
        auto* cells = block_cells(b);
        for (uint32_t i = position < 0 ? 0 : uint32_t(position); i < b->length(); i++) clear_deep(&cells[i]);
    } else if (type == T_OBJECT && object_context(value)) {
        Node context = object_context(value);
        if ((context_cell(context)->header & CONTEXT_OWNS_SERIES) || cycles_find(context)) return;
        CycleGuard guard(context);
        Node values = context_values(context);
        if (!values) return;
        SeriesBuffer* b = series_buffer(values);
        auto* cells = block_cells(b);
        for (uint32_t i = 0; i < b->length(); i++) clear_deep(&cells[i]);
    }
}

void ownership_clear_deep(const Cell* value) { clear_deep(value); }

void ownership_clear_range(const Cell* block, uint32_t index, uint32_t count) {
    SeriesBuffer* b = series_buffer_of(block);
    auto* cells = block_cells(b);
    uint32_t length = b->length();
    for (uint32_t i = index; i < length && i - index < count; i++) clear_deep(&cells[i]);
}

bool ownership_find(Node node, Cell* out) {
    Cell* entry = node ? hashtable_get_key(table_node, node) : nullptr;
    if (!entry) {
        cell_init(out, T_NONE);
        return false;
    }
    *out = entry[OWNER_OBJECT];
    return true;
}

bool ownership_check(const Cell* value, const Cell* action, int32_t index, int32_t count) {
    uint8_t type = cell_type(value);
    if (!ownership_possible_q(value)) return false;
    Node key = type == T_OBJECT ? object_context(value) : series_node(value);
    Cell* entry = key ? hashtable_get_key(table_node, key) : nullptr;
    if (!entry || !object_info(&entry[OWNER_OBJECT]) || !deep_change_notify) return false;
    // The handler runs on stack copies: the entry may move while it runs.
    Cell* owner = stack_push(&entry[OWNER_OBJECT]);
    Cell* word = stack_push(&entry[FIELD_WORD]);
    Cell* target = stack_push(value);
    Cell* act = stack_push(action);
    deep_change_notify(owner, word, target, act, index, count);
    stack_pop(4);
    return true;
}

} // namespace kel
