#include "core/registry.hpp"
#include "core/error.hpp"
#include "core/context.hpp"
#include "core/hashtable.hpp"
#include "core/logic.hpp"
#include "core/object.hpp"
#include "core/error_value.hpp"
#include "core/function.hpp"
#include "core/mold_text.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/path.hpp"
#include "core/series.hpp"
#include "core/block.hpp"
#include "core/typeset.hpp"
#include "core/word.hpp"
#include "runtime/heap.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kel {

// Type-name table: TYPE_COUNT entries indexed by type id.
static DatatypeName* name_table = nullptr;
// Action table: TYPE_COUNT rows of ACTION_ROW_SLOTS; slot k (1..62) of type t is
// entry t * ACTION_ROW_SLOTS + k - 1. Slots past 62 are never written.
static ActionFn* action_table = nullptr;
// Highest type id registered so far.
static uint8_t highest_id = 0;
DatatypeHooks datatype_hook_table[256];

void datatype_registry_init() {
    heap_free(name_table);
    heap_free(action_table);
    name_table = static_cast<DatatypeName*>(heap_alloc_zeroed(TYPE_COUNT * sizeof(DatatypeName)));
    action_table = static_cast<ActionFn*>(
        heap_alloc_zeroed(size_t(TYPE_COUNT) * ACTION_ROW_SLOTS * sizeof(ActionFn)));
    highest_id = 0;
    for (DatatypeHooks& hooks : datatype_hook_table) hooks = DatatypeHooks{};
}

// The registration's diagnostic goes to standard output, unbuffered, before
// the process ends; nothing of the type has been stored.
[[noreturn]] static void datatype_count_error(uint8_t type, uint32_t slot_count) {
    std::fflush(stdout);
    std::printf("*** Datatype Error: invalid actions count for type: %u\n"
                "*** Found: %u\n"
                "*** Expected: %d\n",
                unsigned(type), unsigned(slot_count), ACTION_COUNT);
    std::fflush(stdout);
    heap_free_all();
    std::exit(EXIT_DATATYPE_ERROR);
}

// The word of one type name, kept as its symbol id. Before the symbol table
// exists (it hangs from the root block) nothing is interned:
// datatype_build_words makes the words then.
static void datatype_word_make(DatatypeName* entry) {
    if (cell_type(&root_cell) != T_BLOCK || symbol_index() == 0) return;
    Cell word = word_intern(entry->name);
    entry->word = word_symbol(&word);
}

void datatype_register(uint8_t type, uint8_t parent, const char* name,
                       const ActionFn* slots, uint32_t slot_count) {
    if (slot_count != ACTION_COUNT) datatype_count_error(type, slot_count);
    // Ids index both tables: one outside them would write past their ends.
    if (type == 0 || type >= TYPE_COUNT || parent >= TYPE_COUNT)
        error_raise(ERR_LIMIT_HIT);
    if (type > highest_id) highest_id = type;

    DatatypeName* entry = &name_table[type];
    uint32_t length = 0;
    while (name[length] != 0) length++;
    entry->name = name;
    entry->length = length > 0 ? length - 1 : 0;
    entry->word = 0;
    datatype_word_make(entry);

    // A child copies its parent's slot as it stands now; a later change of the
    // parent's row does not reach it. Without a parent there is nothing to
    // inherit and the slot stays unsupported.
    ActionFn* row = &action_table[size_t(type) * ACTION_ROW_SLOTS];
    const ActionFn* parent_row = &action_table[size_t(parent) * ACTION_ROW_SLOTS];
    for (int k = 0; k < ACTION_COUNT; k++) {
        ActionFn fn = slots[k];
        if (fn == ACTION_INHERIT) fn = parent != 0 ? parent_row[k] : nullptr;
        row[k] = fn;
    }
}

// Writes the functions of the rows into slots (ACTION_COUNT of them); a row
// naming no action, or an action named twice, ends the process.
static void action_rows_fill(uint8_t type, const ActionRow* rows, size_t row_count, ActionFn* slots) {
    bool named[ACTION_COUNT] = {};
    for (size_t k = 0; k < row_count; k++) {
        const ActionRow& row = rows[k];
        if (row.first < 1 || row.last > ACTION_COUNT || row.first > row.last)
            datatype_count_error(type, row.first);
        for (int action = row.first; action <= row.last; action++) {
            if (named[action - 1]) datatype_count_error(type, row.first);
            named[action - 1] = true;
            slots[action - 1] = row.fn;
        }
    }
}

void datatype_register(uint8_t type, uint8_t parent, const char* name, const ActionRow* rows,
                       size_t row_count, ActionDefault absent) {
    ActionFn slots[ACTION_COUNT];
    std::fill(slots, slots + ACTION_COUNT, absent == ACTIONS_INHERITED ? ACTION_INHERIT : ACTION_NONE);
    action_rows_fill(type, rows, row_count, slots);
    datatype_register(type, parent, name, slots, ACTION_COUNT);
}

void datatype_actions_set(uint8_t type, const ActionRow* rows, size_t row_count) {
    if (type == 0 || type >= TYPE_COUNT || !name_table[type].name) error_raise(ERR_LIMIT_HIT);
    action_rows_fill(type, rows, row_count, &action_table[size_t(type) * ACTION_ROW_SLOTS]);
}

void datatype_hooks_set(uint8_t type, const DatatypeHooks& hooks) {
    if (type == 0 || type >= TYPE_COUNT) error_raise(ERR_LIMIT_HIT);
    datatype_hook_table[type] = hooks;
}

void datatype_build_words() {
    for (int id = 1; id <= highest_id; id++)
        if (name_table[id].name != nullptr) datatype_word_make(&name_table[id]);
}

ActionFn action_slot(uint8_t type, int action) {
    if (type >= TYPE_COUNT || action < 1 || action > ACTION_COUNT) return nullptr;
    return action_table[size_t(type) * ACTION_ROW_SLOTS + action - 1];
}

const DatatypeName* datatype_name(uint8_t type) {
    static const DatatypeName unregistered{nullptr, 0, 0};
    return type < TYPE_COUNT && name_table != nullptr ? &name_table[type] : &unregistered;
}

uint8_t datatype_highest_id() { return highest_id; }

// ---- datatype! -------------------------------------------------------------

void datatype_make_at(Cell* cell, uint8_t id) {
    cell_init(cell, T_DATATYPE);
    datatype_id_set(cell, id);
}

Cell* datatype_make_in(Node block, uint8_t id) {
    Cell* cell = cell_series_append(block);
    datatype_make_at(cell, id);
    return cell;
}

Cell* datatype_push(uint8_t id) {
    Cell* cell = stack_push_new(T_DATATYPE);
    datatype_id_set(cell, id);
    return cell;
}

// A datatype! whose id was never registered (possible only from foreign data)
// has no name and writes nothing.
static const DatatypeName* datatype_of(const Cell* value) {
    uint32_t id = datatype_id(value);
    return id < TYPE_COUNT ? datatype_name(uint8_t(id)) : datatype_name(0);
}

int32_t datatype_form(const Cell* value, Cell* target, bool, bool, bool, bool,
                      int32_t budget, int32_t) {
    const DatatypeName* entry = datatype_of(value);
    if (entry->name == nullptr) return budget;
    string_append_ascii(target, entry->name, entry->length);
    return budget - int32_t(entry->length);
}

int32_t datatype_mold(const Cell* value, Cell* target, bool, bool all, bool, bool,
                      int32_t budget, int32_t) {
    const DatatypeName* entry = datatype_of(value);
    if (entry->name == nullptr) return budget;
    if (all) string_append_ascii(target, "#(", 2);
    string_append_ascii(target, entry->name, entry->length + 1);
    if (all) string_append_ascii(target, ")", 1);
    return budget - int32_t(entry->length + 1) - (all ? 3 : 0);
}

// Datatypes are equal or not; they have no order.
int32_t datatype_compare(const Cell* value1, const Cell* value2, int32_t op) {
    switch (op) {
    case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SAME: case CMP_FIND:
        return cell_type(value2) == T_DATATYPE && datatype_id(value2) == datatype_id(value1) ? 0 : 1;
    default:
        return COMPARE_INCOMPARABLE;
    }
}

void init_datatype() {
    const ActionRow actions[] = {
        {A_FORM, datatype_form},
        {A_MOLD, datatype_mold},
        {A_COMPARE, datatype_compare},
    };
    datatype_register(T_DATATYPE, 0, "datatype!", actions);
}

} // namespace kel
