// object!: making, copying and constructing objects, their fields, the change
// notifications, path access, reflection, printing and comparison.
#include "core/object.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/exits.hpp"
#include "core/function.hpp"
#include "core/hashtable.hpp"
#include "core/interpreter.hpp"
#include "core/logic.hpp"
#include "core/numbers.hpp"
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "core/ownership.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"

#include <cstring>
#include <string>

namespace kel {

// The run-time class counter: the last id handed out.
static uint32_t class_counter = OBJECT_CLASS_RUNTIME;

uint32_t object_class_new() { return ++class_counter; }

// ---- small accessors ----------------------------------------------------------------------

static bool word_kind(uint8_t type) { return type >= T_WORD && type <= T_REFINEMENT; }

Node object_values(const Cell* object) { return context_values(object_context(object)); }
uint32_t object_field_count(const Cell* object) { return context_word_count(object_context(object)); }

// The value cell of a slot, or null when the value block is shorter. Valid
// until the next allocation.
static Cell* field_slot(Node context, uint32_t index) {
    Node values = context_values(context);
    if (!values) return nullptr;
    SeriesBuffer* b = series_buffer(values);
    if (index >= b->length()) return nullptr;
    return block_cells(b) + index;
}

// A copy of a slot's value; unset when the slot has none.
static Cell field_get(Node context, uint32_t index) {
    const Cell* slot = field_slot(context, index);
    return slot ? *slot : unset_cell;
}

// Field lookups by (context node, symbol) remember the slot index found in a
// small direct-mapped table. An entry is only a guess: it is used when the
// context's word list still holds that exact symbol at that position with
// that slot index, so a context re-made under the same node, a word list that
// grew or a node id handed out again can only cause a miss, never a wrong
// slot. A context never holds two entries of one resolved symbol, so the
// entry found by exact spelling is the one the resolved lookup finds.
namespace {
struct FieldGuess {
    Node context;
    uint32_t symbol;
    uint32_t index;
};
constexpr uint32_t FIELD_GUESSES = 256;
FieldGuess field_guesses[FIELD_GUESSES];
}  // namespace

static inline FieldGuess& field_guess(Node context, uint32_t symbol) {
    return field_guesses[(context * 0x9E3779B1u ^ symbol * 0x85EBCA77u) >> 24];
}

// The word-list entry of a field whose position is its slot index, found
// through the guess table; null when absent or not so placed (the general
// lookup then decides). Valid until the next allocation.
static Cell* field_entry_lookup(Node context, uint32_t symbol, FieldGuess& guess);

[[gnu::always_inline]] static inline Cell* field_entry(Node context, uint32_t symbol) {
    FieldGuess& guess = field_guess(context, symbol);
    if (guess.context == context && guess.symbol == symbol) {
        SeriesBuffer* words = series_buffer(hashtable_record(context_words(context))->data);
        if (guess.index < words->length()) {
            Cell* word = block_cells(words) + guess.index;
            if (word_symbol(word) == symbol && word_index(word) == guess.index) return word;
        }
    }
    return field_entry_lookup(context, symbol, guess);
}

static Cell* field_entry_lookup(Node context, uint32_t symbol, FieldGuess& guess) {
    int32_t index = context_find_word(context, symbol, true);
    if (index < 0 || uint32_t(index) >= context_word_count(context)) return nullptr;
    Cell* word = context_word_at(context, uint32_t(index));
    if (word_symbol(word) != symbol || word_index(word) != uint32_t(index)) return nullptr;
    guess = FieldGuess{context, symbol, uint32_t(index)};
    return word;
}

// The slot index of a field (resolved lookup), or -1.
static int32_t field_index(Node context, uint32_t symbol) {
    if (const Cell* word = field_entry(context, symbol)) return int32_t(word_index(word));
    return context_find_word(context, symbol, true);
}

static uint32_t handler_symbol(ObjectHandler which) {
    return word_symbol(runtime_word(which == HANDLER_ON_CHANGE ? W_ON_CHANGE : W_ON_DEEP_CHANGE));
}

// The info cell of a handler, or null when the object has no info. Valid
// until the next allocation.
static Cell* info_cell(const Cell* object, ObjectHandler which) {
    if (!object_info(object)) return nullptr;
    return block_cells(object_info(object)) + which;
}

// Appends byte text (ASCII) and counts it against the budget.
static int32_t text_append(Cell* target, const char* text, uint32_t length, int32_t budget) {
    string_concatenate_bytes(target, text, length);
    return budget - int32_t(length);
}

// Appends a word's name; the UTF-8 is copied out first, since appending may
// move the symbol's buffer.
static int32_t symbol_append(Cell* target, uint32_t symbol, int32_t budget) {
    uint32_t length;
    const uint8_t* name = symbol_name(symbol, &length);
    std::string copy(reinterpret_cast<const char*>(name), length);
    auto* bytes = reinterpret_cast<const uint8_t*>(copy.data());
    string_append_utf8(target, bytes, length);
    return budget - int32_t(utf8_count_chars(bytes, bytes + length));
}

// Molds any value through its datatype's mold slot; a type without one
// writes nothing.
static int32_t value_mold(const Cell* value, Cell* target, bool all, bool flat, bool part,
                          int32_t budget, int32_t indent) {
    auto mold = action_slot_as<FormMoldFn>(cell_type(value), A_MOLD);
    if (!mold) return budget;
    CellRoot held(*value);
    return mold(&held.cell, target, false, all, flat, part, budget, indent);
}

// ---- the marker -----------------------------------------------------------------------------

// The context, the info block and its spec nodes the info records.
static void object_cell_mark(Cell* c) {
    if (c->w1) collector_mark_context(&c->w1);
    if (c->w3 && collector_mark_series(&c->w3)) {
        SeriesBuffer* b = series_buffer(c->w3);
        auto* cells = block_cells(b);
        for (uint32_t i = 0; i < b->length(); i++)
            if (cells[i].w2) collector_mark_block(&cells[i].w2);
    }
}

void object_marker_register() {
    collector_register_marker(T_OBJECT, object_cell_mark);
    collector_register_marker(T_ERROR, object_cell_mark);
}

// ---- making ---------------------------------------------------------------------------------

void object_make_at(Cell* out, uint32_t size) {
    Node context = context_create(size, false, true, 0, CONTEXT_OBJECT);
    cell_init(out, T_OBJECT);
    out->w1 = context;
    cell_copy(out, context_owner(context));
}

Cell* object_push(Node context, uint32_t class_id, Node info) {
    Cell* object = stack_push_new(T_OBJECT);
    object->w1 = context;
    object->w2 = class_id;
    object->w3 = info;
    cell_copy(object, context_owner(context));
    return object;
}

// The handler's spec node and the stack cells of its /local part.
static Node handler_spec(const Cell* function);
static uint32_t handler_locals(const Cell* function);

void object_finish(Cell* object) {
    Node context = object_context(object);
    int32_t index[2];
    for (uint32_t k = 0; k < 2; k++)
        index[k] = context_find_word(context, handler_symbol(ObjectHandler(k)), true);
    // An object finished before (a copy whose body then ran) keeps its handler
    // record: ownership entries made by its handlers while the body ran name
    // that record, and would be dropped with it at the next collection.
    NodeRoot own(object_info(object), ROOT_SERIES);
    object->w3 = 0;
    if (index[0] < 0 && index[1] < 0) {
        cell_copy(object, context_owner(object_context(object)));
        return;
    }
    for (uint32_t k = 0; k < 2; k++) {
        if (index[k] < 0) continue;
        Cell value = field_get(object_context(object), uint32_t(index[k]));
        if (cell_type(&value) != T_FUNCTION && cell_type(&value) != T_ROUTINE) {
            Cell word = *context_word_at(object_context(object), uint32_t(index[k]));
            word.header = T_WORD;
            error_raise_type(ERR_BAD_FIELD_SET, &word, cell_type(&value));
        }
    }
    Node info = own.node ? own.node : series_new_cells(2);
    SeriesBuffer* b = series_buffer(info);
    auto* cells = block_cells(b);
    for (uint32_t k = 0; k < 2; k++) {
        cell_init(&cells[k], T_PAIR);
        cells[k].w1 = HANDLER_ABSENT << 16;
    }
    b->tail = b->head + 2 * sizeof(Cell);
    object->w3 = info;
    for (uint32_t k = 0; k < 2; k++) {
        if (index[k] < 0) continue;
        Cell value = field_get(object_context(object), uint32_t(index[k]));
        Cell* entry = info_cell(object, ObjectHandler(k));
        entry->w1 = uint32_t(index[k]) << 16 | (handler_locals(&value) & 0xFFFF);
        entry->w2 = handler_spec(&value);
    }
    cell_copy(object, context_owner(object_context(object)));
    if (index[1] >= 0) {
        CellRoot held(*object);
        ownership_set_object(&held.cell, &held.cell, &none_cell);
        cell_copy(&held.cell, object);
    }
}

// The series kinds a new object must not share with its prototype. hash! is
// left shared: a plain copy of its cells would not carry its index.
static bool copied_kind(uint8_t type) {
    switch (type) {
    case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
    case T_BINARY: case T_VECTOR: case T_IMAGE:
        return true;
    default:
        return false;
    }
}

static bool bound_kind(uint8_t type) {
    return type == T_BLOCK || type == T_PAREN || type == T_PATH || type == T_LIT_PATH ||
           type == T_SET_PATH || type == T_GET_PATH;
}

// Replaces every series value of the context's slots by a copy; with bind,
// the copied blocks and paths are bound to the context.
static void values_copy_series(Node context_node, bool bind) {
    NodeRoot context(context_node, ROOT_BLOCK);
    uint32_t count = context_word_count(context.node);
    for (uint32_t i = 0; i < count; i++) {
        Cell value = field_get(context.node, i);
        uint8_t type = cell_type(&value);
        if (!copied_kind(type) || !series_node(&value)) continue;
        CellRoot copy(value);
        copy.cell.w2 = series_clone(series_node(&value));
        // A string's conversion buffer belongs to the original.
        if (type != T_VECTOR && type != T_IMAGE && !bound_kind(type)) copy.cell.w3 = 0;
        if (bind && bound_kind(type)) bind_block(&copy.cell, context.node, true);
        if (Cell* slot = field_slot(context.node, i)) cell_copy(&copy.cell, slot);
    }
}

// Every function! of the object re-made for it.
static void values_remake_functions(const Cell* object);

void object_copy(const Cell* source, bool deep, Cell* out) {
    CellRoot object(*source);
    object.cell.w3 = 0;  // the copy gets a handler record of its own
    NodeRoot old(object_context(&object.cell), ROOT_BLOCK);
    Node context = context_create(context_word_count(old.node), false, true, old.node,
                                  CONTEXT_OBJECT);
    object.cell.w1 = context;
    Node values = series_clone(context_values(old.node));
    context_values_set(object_context(&object.cell), values);
    cell_copy(&object.cell, context_owner(object_context(&object.cell)));
    values_remake_functions(&object.cell);
    if (deep) values_copy_series(object_context(&object.cell), false);
    object_finish(&object.cell);
    cell_copy(&object.cell, out);
}

// ---- construct ------------------------------------------------------------------------------

// The value a word stands for in a constructed object: the logic words and
// none (resolved symbols); any other value as it is.
static Cell construct_value(const Cell* value) {
    if (cell_type(value) != T_WORD) return *value;
    uint32_t symbol = symbol_resolve(word_symbol(value));
    static const RuntimeSymbol truths[] = {SYM_TRUE, SYM_YES, SYM_ON};
    static const RuntimeSymbol falsities[] = {SYM_FALSE, SYM_NO, SYM_OFF};
    for (RuntimeSymbol s : truths)
        if (symbol == symbol_resolve(runtime_symbol(s))) return true_cell;
    for (RuntimeSymbol s : falsities)
        if (symbol == symbol_resolve(runtime_symbol(s))) return false_cell;
    if (symbol == symbol_resolve(runtime_symbol(SYM_NONE))) return none_cell;
    return *value;
}

// The cells of a block from its position: count and cell i (valid until the
// next allocation).
static uint32_t block_count(const Cell* block) {
    SeriesBuffer* b = series_buffer_of(block);
    int32_t index = series_index(block);
    uint32_t length = b->length();
    uint32_t from = index < 0 ? 0 : uint32_t(index) > length ? length : uint32_t(index);
    return length - from;
}
static Cell* block_cell(const Cell* block, uint32_t i) {
    SeriesBuffer* b = series_buffer_of(block);
    int32_t index = series_index(block);
    uint32_t from = index < 0 ? 0 : uint32_t(index) > b->length() ? b->length() : uint32_t(index);
    return block_cells(b) + from + i;
}

Cell* object_construct(const Cell* proto, const Cell* block_value, bool only) {
    CellRoot block(*block_value);
    Cell* result = stack_push_new(T_NONE);
    uint32_t before = 0;
    bool from_proto = proto && cell_type(proto) == T_OBJECT;
    if (from_proto) {
        CellRoot held(*proto);
        before = context_word_count(object_context(&held.cell));
        object_copy(&held.cell, false, result);
    } else {
        object_make_at(result, 4);
        result->w2 = object_class_new();
    }
    uint32_t count = block_count(&block.cell);
    for (uint32_t i = 0; i < count; i++) {
        Cell word = *block_cell(&block.cell, i);
        if (cell_type(&word) != T_SET_WORD) continue;
        uint32_t j = i + 1;
        while (j < count && cell_type(block_cell(&block.cell, j)) == T_SET_WORD) j++;
        Cell value = j < count ? *block_cell(&block.cell, j) : none_cell;
        if (!only) value = construct_value(&value);
        cell_clear_newline(&value);
        context_put_field(object_context(result), &word, &value);
    }
    if (from_proto && context_word_count(object_context(result)) > before) result->w2 = object_class_new();
    object_finish(result);
    return result;
}

// ---- fields --------------------------------------------------------------------------------------

const Cell* object_select_field(const Cell* object, const Cell* word) {
    int32_t index = field_index(object_context(object), word_symbol(word));
    if (index < 0) return &none_cell;
    const Cell* slot = field_slot(object_context(object), uint32_t(index));
    return slot ? slot : &none_cell;
}

bool value_object_of_class_q(const Cell* value, uint32_t class_id) {
    return cell_type(value) == T_OBJECT && object_class(value) == class_id;
}

bool word_object_of_class_q(const Cell* word, uint32_t class_id) {
    if (!word_context(word) || word_index(word) == WORD_UNBOUND) return false;
    Cell w = *word;
    return value_object_of_class_q(word_get(&w), class_id);
}

// ---- change handlers -------------------------------------------------------------------------------

// Calls a handler of the object with the arguments; its result is dropped.
// The handler value is re-read from its slot, and its /local count is
// recomputed whenever its spec is not the one the info recorded.
static void handler_run(const Cell* object_value, ObjectHandler which, const Cell* const* args,
                        uint32_t count);

void object_set_field(const Cell* object_value, const Cell* word_value, const Cell* old_value,
                      const Cell* new_value) {
    const Cell* entry = info_cell(object_value, HANDLER_ON_CHANGE);
    if (!entry || object_handler_slot(entry) == HANDLER_ABSENT) return;
    CellRoot object(*object_value);
    CellRoot word(*word_value);
    Cell handler = field_get(object_context(&object.cell), object_handler_slot(entry));
    if (cell_type(&handler) != T_FUNCTION) error_raise(ERR_INVALID_OBJ_EVT, &handler);
    if (word_context(&word.cell) != object_context(&object.cell)) {
        int32_t index = context_find_word(object_context(&object.cell), word_symbol(&word.cell), true);
        word_bind_set(&word.cell, object_context(&object.cell),
                      index < 0 ? WORD_UNBOUND : uint32_t(index));
    }
    CellRoot old_held(*old_value);
    CellRoot new_held(*new_value);
    const Cell* args[3] = {&word.cell, &old_held.cell, &new_held.cell};
    handler_run(&object.cell, HANDLER_ON_CHANGE, args, 3);
}

void object_set_field_from_stack(const Cell* object, const Cell* word) {
    CellRoot held_object(*object);
    CellRoot held_word(*word);
    object_set_field(&held_object.cell, &held_word.cell, data_stack.top - 2, data_stack.top - 1);
}

void word_set_from_stack(Cell* word) {
    CellRoot value(*stack_top());
    word_set(word, &value.cell);
}

// The notification of contexts: a word of an object with handlers was set.
static void context_notify(Cell* owner, const Cell* word, const Cell* old_value,
                           const Cell* new_value) {
    object_set_field(owner, word, old_value, new_value);
}

// The notification of the ownership table: a series of a field changed.
static void deep_notify(const Cell* owner, const Cell* word, const Cell* target,
                        const Cell* action, int32_t index, int32_t count) {
    if (!object_info(owner)) {
        Cell o = *owner;
        error_raise(ERR_INVALID_OBJ_EVT, &o);
    }
    const Cell* entry = info_cell(owner, HANDLER_ON_DEEP_CHANGE);
    if (object_handler_slot(entry) == HANDLER_ABSENT) return;
    Cell handler = field_get(object_context(owner), object_handler_slot(entry));
    if (cell_type(&handler) != T_FUNCTION) return;
    CellRoot held_owner(*owner), held_word(*word), held_target(*target), held_action(*action);
    CellRoot at, part;
    integer_make_at(&at.cell, index);
    integer_make_at(&part.cell, count);
    const Cell* args[7] = {&held_owner.cell, &held_word.cell, &held_target.cell,
                           &held_action.cell, &none_cell, &at.cell, &part.cell};
    handler_run(&held_owner.cell, HANDLER_ON_DEEP_CHANGE, args, 7);
}

void object_set_values(const Cell* object_value, const Cell* value_given, ObjectSetOptions options) {
    bool any_unset = options.any_unset, only = options.only;
    CellRoot object(*object_value);
    CellRoot value(*value_given);
    if (cell_type(&value.cell) == T_UNSET && !any_unset) error_raise(ERR_NEED_VALUE, &value.cell);
    uint32_t count = context_word_count(object_context(&object.cell));
    uint8_t type = cell_type(&value.cell);
    for (uint32_t i = 0; i < count; i++) {
        CellRoot word(*context_word_at(object_context(&object.cell), i));
        word.cell.header = T_WORD;
        CellRoot next;
        if (type == T_BLOCK && !only) {
            if (i >= block_count(&value.cell)) next.cell = none_cell;
            else next.cell = *block_cell(&value.cell, i);
            if (cell_type(&next.cell) == T_UNSET && !any_unset) error_raise(ERR_NEED_VALUE, &word.cell);
        } else if (type == T_OBJECT) {
            int32_t index = context_find_word(object_context(&value.cell), word_symbol(&word.cell), true);
            if (index < 0) continue;
            next.cell = field_get(object_context(&value.cell), uint32_t(index));
        } else {
            next.cell = value.cell;
        }
        if (options.some && cell_type(&next.cell) == T_NONE) continue;
        cell_clear_newline(&next.cell);
        context_set_value(&word.cell, &next.cell, object_context(&object.cell), true);
    }
}

// ---- make ------------------------------------------------------------------------------------------

// Clears the written marks of the word list and the new-line flags of the values.
static void context_marks_clear(Node context, bool newlines) {
    uint32_t count = context_word_count(context);
    for (uint32_t i = 0; i < count; i++) context_word_at(context, i)->header &= ~WORD_SLOT_WRITTEN;
    field_marks_generation++;
    if (!newlines) return;
    for (uint32_t i = 0; i < count; i++)
        if (Cell* slot = field_slot(context, i)) cell_clear_newline(slot);
}

const Cell* object_make(Cell* proto, const Cell* spec_value, uint8_t) {
    CellRoot spec(*spec_value);
    uint8_t spec_type = cell_type(&spec.cell);
    if (spec_type != T_OBJECT && spec_type != T_BLOCK) error_raise(ERR_MALCONSTRUCT, &spec.cell);
    Cell* result = stack_push_new(T_NONE);
    bool from_proto = cell_type(proto) == T_OBJECT;
    uint32_t before = 0;
    if (from_proto) {
        before = context_word_count(object_context(proto));
        object_copy(proto, false, result);
    } else {
        object_make_at(result, 4);
    }
    bool added;
    if (spec_type == T_OBJECT) {
        uint32_t count = context_word_count(object_context(&spec.cell));
        for (uint32_t i = 0; i < count; i++) {
            CellRoot word(*context_word_at(object_context(&spec.cell), i));
            Cell value = field_get(object_context(&spec.cell), i);
            context_put_field(object_context(result), &word.cell, &value);
        }
        added = context_word_count(object_context(result)) > before;
        values_copy_series(object_context(result), true);
        values_remake_functions(result);
    } else {
        context_collect_set_words(object_context(result), &spec.cell);
        added = context_word_count(object_context(result)) > before;
        if (from_proto) values_copy_series(object_context(result), true);
        object_eval_body(result, &spec.cell);
        context_marks_clear(object_context(result), true);
    }
    if (added || !from_proto) result->w2 = object_class_new();
    else result->w2 = object_class(proto);
    object_finish(result);
    cell_copy(result, proto);
    stack_pop(1);
    return proto;
}

// ---- printing ----------------------------------------------------------------------------------------

static int32_t indent_append(Cell* target, int32_t level, int32_t budget) {
    static const char spaces[] = "                                ";
    int32_t count = level * 4;
    while (count > 0) {
        int32_t n = count > 32 ? 32 : count;
        budget = text_append(target, spaces, uint32_t(n), budget);
        count -= n;
    }
    return budget;
}

static bool handler_field(uint32_t symbol) {
    uint32_t s = symbol_resolve(symbol);
    return s == symbol_resolve(handler_symbol(HANDLER_ON_CHANGE)) ||
           s == symbol_resolve(handler_symbol(HANDLER_ON_DEEP_CHANGE));
}

int32_t object_mold_fields(const Cell* value, Cell* target, bool all, bool flat, bool part,
                           int32_t budget, int32_t indent) {
    CellRoot object(*value);
    uint32_t count = context_word_count(object_context(&object.cell));
    bool first = true;
    for (uint32_t i = 0; i < count; i++) {
        if (part && budget < 1) break;
        uint32_t symbol = word_symbol(context_word_at(object_context(&object.cell), i));
        if (!all && handler_field(symbol)) continue;
        if (flat) {
            if (!first) budget = text_append(target, " ", 1, budget);
        } else {
            budget = text_append(target, "\n", 1, budget);
            budget = indent_append(target, indent + 1, budget);
        }
        first = false;
        budget = symbol_append(target, symbol, budget);
        budget = text_append(target, ": ", 2, budget);
        Cell field = field_get(object_context(&object.cell), i);
        if (cell_type(&field) == T_WORD) budget = text_append(target, "'", 1, budget);
        budget = value_mold(&field, target, all, flat, part, budget, indent + 1);
    }
    if (!flat && !first) {
        budget = text_append(target, "\n", 1, budget);
        budget = indent_append(target, indent, budget);
    }
    return budget;
}

int32_t object_mold(const Cell* value, Cell* target, bool, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent) {
    if (const char* seen = cycles_detect(value, true))
        return text_append(target, seen, uint32_t(std::strlen(seen)), budget);
    CycleGuard guard(object_context(value));
    budget = text_append(target, "make object! [", 14, budget);
    budget = object_mold_fields(value, target, all, flat, part, budget, indent);
    return text_append(target, "]", 1, budget);
}

// The field lines alone, one a line, at the object's level.
int32_t object_form(const Cell* value, Cell* target, bool, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent) {
    if (const char* seen = cycles_detect(value, false))
        return text_append(target, seen, uint32_t(std::strlen(seen)), budget);
    CycleGuard guard(object_context(value));
    CellRoot object(*value);
    uint32_t count = context_word_count(object_context(&object.cell));
    bool first = true;
    for (uint32_t i = 0; i < count; i++) {
        if (part && budget < 1) break;
        uint32_t symbol = word_symbol(context_word_at(object_context(&object.cell), i));
        if (!all && handler_field(symbol)) continue;
        if (!first) budget = text_append(target, flat ? " " : "\n", 1, budget);
        first = false;
        budget = indent_append(target, indent, budget);
        budget = symbol_append(target, symbol, budget);
        budget = text_append(target, ": ", 2, budget);
        Cell field = field_get(object_context(&object.cell), i);
        if (cell_type(&field) == T_WORD) budget = text_append(target, "'", 1, budget);
        budget = value_mold(&field, target, all, flat, part, budget, indent);
    }
    return budget;
}

// ---- comparison ------------------------------------------------------------------------------------

static bool numeric_kind(uint8_t type) {
    return type == T_INTEGER || type == T_FLOAT || type == T_PERCENT;
}

static int32_t field_compare(const Cell* a, const Cell* b, int32_t op) {
    uint8_t ta = cell_type(a), tb = cell_type(b);
    bool comparable = ta == tb || (word_kind(ta) && word_kind(tb)) ||
                      (numeric_kind(ta) && numeric_kind(tb));
    if (!comparable) return ta < tb ? -1 : 1;
    int32_t r = compare_values(a, b, op);
    return r == COMPARE_INCOMPARABLE ? 1 : r;
}

int32_t object_compare(const Cell* value1, const Cell* value2, int32_t op) {
    uint8_t t1 = cell_type(value1), t2 = cell_type(value2);
    if (t2 != T_OBJECT && t2 != T_ERROR) return COMPARE_INCOMPARABLE;
    if ((t1 == T_ERROR) != (t2 == T_ERROR)) return COMPARE_INCOMPARABLE;
    if (object_context(value1) == object_context(value2)) return 0;
    if (op == CMP_SAME) return -1;
    bool seen1 = cycles_find(object_context(value1)), seen2 = cycles_find(object_context(value2));
    if (seen1 || seen2) return seen1 && seen2 ? 0 : -1;
    CellRoot a(*value1), b(*value2);
    uint32_t n1 = context_word_count(object_context(&a.cell)), n2 = context_word_count(object_context(&b.cell));
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    CycleGuard guard1(object_context(&a.cell));
    CycleGuard guard2(object_context(&b.cell));
    for (uint32_t i = 0; i < n1; i++) {
        uint32_t s1 = symbol_resolve(word_symbol(context_word_at(object_context(&a.cell), i)));
        uint32_t s2 = symbol_resolve(word_symbol(context_word_at(object_context(&b.cell), i)));
        if (s1 != s2) return s1 < s2 ? -1 : 1;
        CellRoot f1(field_get(object_context(&a.cell), i)), f2(field_get(object_context(&b.cell), i));
        int32_t r = field_compare(&f1.cell, &f2.cell, op);
        if (r != 0) return r;
    }
    return 0;
}

// ---- path access --------------------------------------------------------------------------------------

void object_eval_path(const Cell* parent, const Cell* element_value, const Cell* set_value,
                      const Cell* path_value, bool, Cell* out) {
    CellRoot object(*parent);
    CellRoot element(*element_value);
    CellRoot path(path_value ? *path_value : none_cell);
    uint8_t type = cell_type(&element.cell);
    if (type != T_WORD && type != T_SET_WORD && type != T_GET_WORD && type != T_LIT_WORD)
        error_raise(ERR_INVALID_PATH, &path.cell, &element.cell);
    int32_t index = field_index(object_context(&object.cell), word_symbol(&element.cell));
    bool self = index < 0 && symbol_resolve(word_symbol(&element.cell)) == symbol_resolve(runtime_symbol(SYM_SELF));
    if (set_value) {
        CellRoot value(*set_value);
        if (index < 0) error_raise(ERR_INVALID_PATH, &path.cell, &element.cell);
        CellRoot word(element.cell);
        word.cell.header = T_WORD;
        word_bind_set(&word.cell, object_context(&object.cell), uint32_t(index));
        if (!object_info(&object.cell)) {
            context_set_value(&word.cell, &value.cell, object_context(&object.cell), false);
        } else {
            CellRoot old(field_get(object_context(&object.cell), uint32_t(index)));
            context_set_value(&word.cell, &value.cell, object_context(&object.cell), false);
            object_set_field(&object.cell, &word.cell, &old.cell, &value.cell);
        }
        if (out) cell_copy(&value.cell, out);
        return;
    }
    if (self) {
        cell_copy(&object.cell, out);
        return;
    }
    Cell value = index < 0 ? unset_cell : field_get(object_context(&object.cell), uint32_t(index));
    if (cell_type(&value) == T_UNSET) error_raise(ERR_UNSET_PATH, &path.cell, &element.cell);
    cell_copy(&value, out);
}

FieldSlotGuess field_slot_guesses[1u << FIELD_SLOT_GUESS_BITS];
uint32_t field_marks_generation = 1;

bool object_path_step(Cell* object, const Cell* element, const Cell* set_value) {
    Node context = object_context(object);
    const Cell* c = context_cell(context);
    if (context_values_of(c) == 0 || (c->header & CONTEXT_ON_STACK)) return false;
    if (set_value && object_info(object)) return false;
    FieldSlotGuess* guess = field_slot_guess(context, word_symbol(element));
    uint32_t index;
    Cell* word = nullptr;
    if (guess) {
        index = guess->offset / sizeof(Cell);
    } else {
        word = field_entry(context, word_symbol(element));
        if (!word) return false;
        index = word_index(word);
        guess = field_slot_pair(context, word_symbol(element));
        guess[1] = guess[0];
        guess[0] = FieldSlotGuess{context, word_symbol(element), collector_epoch,
                                  uint32_t(index * sizeof(Cell)), context_values_of(c), 0};
    }
    SeriesBuffer* values = series_buffer(context_values_of(c));
    if (index >= values->length()) return false;
    Cell* slot = block_cells(values) + index;
    if (set_value) {
        // Only object contexts keep written marks; any other kind needs none.
        if (guess->written != field_marks_generation) {
            if (((c->header & CONTEXT_KIND_MASK) >> CONTEXT_KIND_SHIFT) == CONTEXT_OBJECT) {
                if (!word) word = context_word_at(context, index);
                word->header |= WORD_SLOT_WRITTEN;
            }
            guess->written = field_marks_generation;
        }
        cell_copy(set_value, slot);
        cell_copy(set_value, object);
        return true;
    }
    if (cell_type(slot) == T_UNSET) return false;
    cell_copy(slot, object);
    return true;
}

// ---- reflect, copy, put, select, modify -------------------------------------------------------------

void object_reflect(Cell* value, const Cell* field) {
    CellRoot object(*value);
    if (!word_kind(cell_type(field))) error_raise(ERR_NOT_DONE);
    uint32_t symbol = symbol_resolve(word_symbol(field));
    auto is = [symbol](uint32_t s) { return symbol == symbol_resolve(s); };
    Node context = object_context(&object.cell);
    uint32_t count = context_word_count(context);
    if (is(runtime_symbol(SYM_CLASS))) {
        integer_make_at(value, int32_t(object_class(&object.cell)));
        return;
    }
    if (is(runtime_symbol(SYM_OWNER))) {
        logic_make_at(value, (context_cell(context)->header & CONTEXT_OWNS_SERIES) != 0);
        return;
    }
    if (is(runtime_symbol(SYM_EVENTS_Q))) {
        logic_make_at(value, object_info(&object.cell) != 0);
        return;
    }
    bool changed = is(word_symbol(runtime_word(W_CHANGED)));
    bool words = is(runtime_symbol(SYM_WORDS));
    bool values = is(runtime_symbol(SYM_VALUES));
    bool body = is(runtime_symbol(SYM_BODY));
    if (!changed && !words && !values && !body) error_raise(ERR_NOT_DONE);
    Cell* block = block_push_only(int32_t(body ? count * 2 : count));
    for (uint32_t i = 0; i < count; i++) {
        Cell word = *context_word_at(object_context(&object.cell), i);
        bool written = (word.header & WORD_SLOT_WRITTEN) != 0;
        word.header = T_WORD;
        word_bind_set(&word, object_context(&object.cell), word_index(&word));
        if (changed && !written) continue;
        if (changed || words) {
            block_ks_append(block, &word);
            continue;
        }
        Cell field = field_get(object_context(&object.cell), i);
        if (values) {
            block_ks_append(block, &field);
            continue;
        }
        word.header = T_SET_WORD | CELL_NEWLINE;
        block_ks_append(block, &word);
        cell_clear_newline(&field);
        if (cell_type(&field) == T_WORD) cell_type_set(&field, T_LIT_WORD);
        else if (cell_type(&field) == T_PATH) cell_type_set(&field, T_LIT_PATH);
        block_ks_append(block, &field);
    }
    cell_copy(block, value);
    stack_pop(1);
}

void object_copy_action(Cell* value, const Cell* part, bool deep, const Cell*) {
    if (part) {
        Cell word = *runtime_refinement(REF_PART);
        word.header = T_WORD;
        Cell given = *part;
        error_raise(ERR_INVALID_REFINE_ARG, &word, &given);
    }
    Cell* copy = stack_push_new(T_NONE);
    object_copy(value, deep, copy);
    cell_copy(copy, value);
    stack_pop(1);
}

void object_put(Cell* value, const Cell* key, const Cell* new_value, bool case_) {
    if (cell_type(key) != T_WORD) {
        error_raise_type(ERR_INVALID_KEY_TYPE, cell_type(key));
    }
    CellRoot held(*new_value);
    object_eval_path(value, key, &held.cell, nullptr, case_, nullptr);
    cell_copy(&held.cell, value);
}

const Cell* object_select(Cell* series, const Cell* value, const FindOptions&) {
    if (!word_kind(cell_type(value))) {
        error_raise_type(ERR_INVALID_TYPE, cell_type(value));
    }
    return object_select_field(series, value);
}

void object_modify(Cell* object_value, const Cell* field, const Cell* value_given) {
    CellRoot object(*object_value);
    CellRoot value(*value_given);
    uint32_t symbol = word_kind(cell_type(field)) ? symbol_resolve(word_symbol(field)) : 0;
    if (symbol == symbol_resolve(word_symbol(runtime_word(W_CHANGED)))) {
        if (cell_type(&value.cell) != T_NONE) error_raise(ERR_INVALID_ARG, &value.cell);
        context_marks_clear(object_context(&object.cell), false);
    } else if (symbol == symbol_resolve(runtime_symbol(SYM_OWNER))) {
        ownership_set_object(&object.cell, &object.cell, &none_cell);
    } else if (symbol == symbol_resolve(runtime_symbol(SYM_OWNED))) {
        if (cell_type(&value.cell) == T_NONE) {
            ownership_clear_deep(&object.cell);
            context_cell(object_context(&object.cell))->header &= ~CONTEXT_OWNS_SERIES;
        } else if (cell_type(&value.cell) == T_BLOCK && block_count(&value.cell) >= 2) {
            CellRoot owner(*block_cell(&value.cell, 0));
            CellRoot word(*block_cell(&value.cell, 1));
            ownership_set_object(&object.cell, &owner.cell, &word.cell);
        }
    }
    cell_copy(&value.cell, object_value);
}

// ---- calling handlers and evaluating specs ------------------------------------------------------------

static Node handler_spec(const Cell* function) {
    return cell_type(function) == T_FUNCTION || cell_type(function) == T_ROUTINE ? function_spec(function) : 0;
}

static uint32_t handler_locals(const Cell* function) {
    Node spec = handler_spec(function);
    if (!spec) return 0;
    int32_t count = function_count_locals(spec, 0, false);
    return count > 0 ? uint32_t(count) : 0;
}

// A function of the object re-made for it: a copy of its context, its body
// copied deep and bound to the object (self meaning the object), then to the
// copied context. The copy runs through the interpreter.
static void function_remake(const Cell* object, Cell* function) {
    CellRoot source(*function);
    CellRoot body(*function_more_cell(&source.cell, MORE_BODY));
    if (cell_type(&body.cell) != T_BLOCK) error_raise(ERR_BAD_FUNC_DEF, &source.cell);
    CellRoot spec;
    series_make_at(&spec.cell, T_BLOCK, function_spec(&source.cell), 0);
    CellRoot held_object(*object);
    NodeRoot context(context_create(context_word_count(function_context(&source.cell)), true,
                                    false, function_context(&source.cell), CONTEXT_FUNCTION),
                     ROOT_BLOCK);
    CellRoot made;
    function_make_at(&made.cell, &spec.cell, &body.cell, context.node, nullptr, nullptr,
                     source.cell.header & (FUNCTION_NO_TRACE | FUNCTION_TRACE));
    CellRoot copy(*function_more_cell(&made.cell, MORE_BODY));
    bind_block(&copy.cell, object_context(&held_object.cell), true);
    bind_block(&copy.cell, context.node, false);
    cell_copy(&made.cell, context_owner(context.node));
    cell_copy(&made.cell, function);
}

static void values_remake_functions(const Cell* object_value) {
    CellRoot object(*object_value);
    uint32_t count = context_word_count(object_context(&object.cell));
    for (uint32_t i = 0; i < count; i++) {
        Cell value = field_get(object_context(&object.cell), i);
        if (cell_type(&value) != T_FUNCTION) continue;
        CellRoot function(value);
        function_remake(&object.cell, &function.cell);
        if (Cell* slot = field_slot(object_context(&object.cell), i)) cell_copy(&function.cell, slot);
    }
}

static void handler_run(const Cell* object_value, ObjectHandler which, const Cell* const* args,
                        uint32_t count) {
    CellRoot object(*object_value);
    Cell* entry = info_cell(&object.cell, which);
    uint32_t index = object_handler_slot(entry);
    Cell* handler = stack_push(&unset_cell);
    *handler = field_get(object_context(&object.cell), index);
    if (cell_type(handler) != T_FUNCTION) {
        stack_pop(1);
        return;
    }
    uint32_t locals = entry->w1 & 0xFFFF;
    if (entry->w2 != function_spec(handler)) {
        locals = handler_locals(handler);
        entry = info_cell(&object.cell, which);
        entry->w1 = index << 16 | (locals & 0xFFFF);
        entry->w2 = function_spec(handler);
    }
    Cell name = *runtime_word(which == HANDLER_ON_CHANGE ? W_ON_CHANGE : W_ON_DEEP_CHANGE);
    word_bind_set(&name, object_context(&object.cell), index);
    stack_mark_func_interp(&name);
    for (uint32_t i = 0; i < count; i++) stack_push(args[i]);
    if (locals > 0) push_unused_refinement(locals);
    ExitCode code = exec_function(handler, 0, &name, 0);
    if (code != EXIT_CODE_NONE) exit_throw(code);
    stack_unwind_func_keep();
    data_stack.top = handler;
}

void object_eval_body(const Cell* object, const Cell* block_value) {
    CellRoot block(*block_value);
    bind_block(&block.cell, object_context(object), true);
    Cell* mark = data_stack.top;
    ExitCode code = eval_block(&block.cell, false);
    if (code != EXIT_CODE_NONE) exit_throw(code);
    data_stack.top = mark;
}

// ---- registration -------------------------------------------------------------------------------------

void init_object() {
    const ActionRow actions[] = {
        {A_MAKE, object_make},
        {A_REFLECT, object_reflect},
        {A_FORM, object_form},
        {A_MOLD, object_mold},
        {A_EVAL_PATH, object_eval_path},
        {A_COMPARE, object_compare},
        {A_COPY, object_copy_action},
        {A_PUT, object_put},
        {A_SELECT, object_select},
        {A_MODIFY, object_modify},
    };
    datatype_register(T_OBJECT, 0, "object!", actions);
    object_marker_register();
    context_change_notify_set(context_notify);
    ownership_notify_set(deep_notify);
}

} // namespace kel
