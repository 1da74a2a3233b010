// Contexts: creation, word lists, the global context, binding and slots.
#include "core/context.hpp"
#include "core/block.hpp"
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "runtime/collector.hpp"
#include "runtime/start.hpp"

#include <algorithm>

#include <vector>

namespace kel {

Node global_context = 0;
Node library_context = 0;
static ChangeNotify change_notify = nullptr;

void context_change_notify_set(ChangeNotify notify) { change_notify = notify; }

uint32_t context_kind(Node context) {
    return (context_cell(context)->header & CONTEXT_KIND_MASK) >> CONTEXT_KIND_SHIFT;
}

static Node word_table(Node context) { return context_words(context); }
Node context_symbols(Node context) { return hashtable_record(word_table(context))->data; }
uint32_t context_word_count(Node context) { return series_buffer(context_symbols(context))->length(); }
Cell* context_word_at(Node context, uint32_t index) {
    return block_cells(context_symbols(context)) + index;
}

static bool word_family(uint8_t type) { return type >= T_WORD && type <= T_ISSUE; }

// The cells of a block value from its position (clamped to 0 and the tail).
static Cell* block_at(const Cell* block, uint32_t* count) {
    SeriesBuffer* b = series_buffer_of(block);
    uint32_t length = b->length();
    int32_t index = series_index(block);
    uint32_t from = index < 0 ? 0 : std::min(uint32_t(index), length);
    *count = length - from;
    return block_cells(b) + from;
}

// ---- collector ---------------------------------------------------------------------------------

static void context_cell_mark(Cell* c) {
    hashtable_mark(&c->w1);
    if (!(c->header & CONTEXT_ON_STACK)) collector_mark_block(&c->w2);
}

static void context_mark(Node* slot) {
    if (!collector_mark_series(slot)) return;
    SeriesBuffer* b = series_buffer(*slot);
    Cell* cells = block_cells(b);
    uint32_t count = b->length();
    if (count > 0) context_cell_mark(&cells[0]);
    if (count > 1) collector_mark_values(&cells[1], &cells[2]);
}

// Every word kind, issues included: an issue made from text is bound to the
// global context, whose node moves like any other.
static void word_mark(Cell* c) {
    if (c->w1 && !collector_marked_q(c->w1)) collector_mark_context(&c->w1);
}

// Position + 1 of each symbol's own entry in the global word list, by
// symbol id; 0 until looked up. The list only grows, so a position once
// found stays right until the global context is made again. Interning a
// word by its exact symbol (the lexer's and the decoder's words) then costs
// an array read instead of a look-up in a table of thousands of words.
static std::vector<uint32_t> global_positions;

static void global_context_mark() {
    collector_mark_context(&global_context);
    if (library_context) collector_mark_context(&library_context);
}

void global_context_new() {
    collector_register_marker(T_CONTEXT, context_cell_mark);
    for (uint8_t t = T_WORD; t <= T_ISSUE; t++) collector_register_marker(t, word_mark);
    collector_register_context_marker(context_mark);
    hashtable_module_init();
    global_context = 0;
    library_context = 0;
    global_positions.clear();
    collector_remove_root(global_context_mark);
    collector_add_root(global_context_mark);
    global_context = context_create(GLOBAL_CONTEXT_SLOTS, false, false, 0, CONTEXT_PLAIN);
}

// ---- creation ------------------------------------------------------------------------------------

Node context_create(uint32_t size, bool on_stack, bool object, Node source, uint32_t kind) {
    if (size == 0) size = 1;
    NodeRoot from(source, ROOT_BLOCK);
    NodeRoot context(series_new_cells(2), ROOT_BLOCK);
    {
        SeriesBuffer* b = series_buffer(context.node);
        Cell* cells = block_cells(b);
        cell_init(&cells[0], T_CONTEXT);
        cells[0].header |= ((kind << CONTEXT_KIND_SHIFT) & CONTEXT_KIND_MASK) |
                           (on_stack ? CONTEXT_ON_STACK : 0) | (object ? CONTEXT_OBJECT_FLAG : 0);
        cell_init(&cells[1], T_UNSET);
        b->tail = b->head + 2 * sizeof(Cell);
    }
    if (!on_stack) {
        Node values = series_new_cells(size);
        context_values_set(context.node, values);
    }
    if (!from.node) {
        Node table = hashtable_init(0, size, HASH_WORDS);
        context_cell(context.node)->w1 = table;
        return context.node;
    }
    NodeRoot words(series_clone(context_symbols(from.node)), ROOT_BLOCK);
    Node table = hashtable_copy(word_table(from.node), words.node);
    context_cell(context.node)->w1 = table;
    uint32_t count = context_word_count(context.node);
    for (uint32_t i = 0; i < count; i++) context_word_at(context.node, i)->w1 = context.node;
    return context.node;
}

Node context_make_from_spec(const Cell* spec, bool on_stack, bool object, uint32_t kind) {
    CellRoot block(*spec);
    uint32_t count;
    const Cell* cells = block_at(&block.cell, &count);
    uint32_t words = 0;
    for (uint32_t i = 0; i < count; i++) {
        uint8_t t = cell_type(&cells[i]);
        if (t == T_WORD || t == T_GET_WORD || t == T_LIT_WORD || t == T_REFINEMENT) words++;
    }
    NodeRoot context(context_create(words, on_stack, object, 0, kind), ROOT_BLOCK);
    for (uint32_t i = 0; i < count; i++) {
        const Cell* c = block_at(&block.cell, &count) + i;
        uint8_t t = cell_type(c);
        if (t != T_WORD && t != T_GET_WORD && t != T_LIT_WORD && t != T_REFINEMENT) continue;
        int32_t added;
        context_find_or_add(context.node, word_symbol(c), true, &added);
    }
    if (!on_stack) {
        uint32_t length = context_word_count(context.node);
        Node values = context_values(context.node);
        while (series_buffer(values)->length() < length) {
            cell_init(cell_series_append(values), T_UNSET);
            values = context_values(context.node);
        }
    }
    return context.node;
}

Node context_clone(Cell* owner, uint32_t kind) {
    NodeRoot old(object_context(owner), ROOT_BLOCK);
    uint32_t header = context_cell(old.node)->header;
    Node context = context_create(context_word_count(old.node), header & CONTEXT_ON_STACK,
                                  header & CONTEXT_OBJECT_FLAG, old.node, kind);
    owner->w1 = context;
    return context;
}

// ---- words ------------------------------------------------------------------------------------------

int32_t context_find_word(Node context, uint32_t symbol, bool resolved) {
    int32_t position = word_list_find(word_table(context), symbol, resolved, 0, nullptr);
    return position < 0 ? -1 : int32_t(word_index(context_word_at(context, uint32_t(position))));
}

int32_t context_find_or_add(Node context, uint32_t symbol, bool resolved, int32_t* index) {
    int32_t added = -1;
    int32_t position = word_list_find(word_table(context), symbol, resolved, context, &added);
    if (position >= 0) return int32_t(word_index(context_word_at(context, uint32_t(position))));
    if (index) *index = added;
    return -1;
}

// The value cell of a slot in a context whose values are in a block, the
// block first extended with unset values when it is shorter than the word
// list says. Valid until the next allocation.
static Cell* values_slot(NodeRoot& context, uint32_t index) {
    for (;;) {
        SeriesBuffer* b = series_buffer(context_values(context.node));
        if (index < b->length()) return block_cells(b) + index;
        cell_init(cell_series_append(context_values(context.node)), T_UNSET);
    }
}

static bool values_in_block(Node context) {
    const Cell* c = context_cell(context);
    return !(c->header & CONTEXT_ON_STACK) && context_values_of(c) != 0;
}

int32_t context_add_word_of(Node node, const Cell* word) {
    NodeRoot context(node, ROOT_BLOCK);
    uint32_t symbol = word_symbol(word);
    int32_t added;
    int32_t index = context_find_or_add(context.node, symbol, true, &added);
    if (index >= 0) return index;
    if (values_in_block(context.node)) values_slot(context, uint32_t(added));
    return added;
}

bool context_add_field(Node node, const Cell* word, const Cell* value) {
    NodeRoot context(node, ROOT_BLOCK);
    CellRoot held(*value);
    if (context_find_word(context.node, word_symbol(word), true) >= 0) return false;
    int32_t index = context_add_word_of(context.node, word);
    if (values_in_block(context.node)) cell_copy(&held.cell, values_slot(context, uint32_t(index)));
    return true;
}

void context_put_field(Node node, const Cell* word, const Cell* value) {
    NodeRoot context(node, ROOT_BLOCK);
    CellRoot held(*value);
    int32_t index = context_find_word(context.node, word_symbol(word), true);
    if (index < 0) index = context_add_word_of(context.node, word);
    if (values_in_block(context.node)) cell_copy(&held.cell, values_slot(context, uint32_t(index)));
}

bool context_collect_set_words(Node node, const Cell* block_cell) {
    NodeRoot context(node, ROOT_BLOCK);
    CellRoot block(*block_cell);
    uint32_t before = context_word_count(context.node);
    uint32_t count;
    block_at(&block.cell, &count);
    for (uint32_t i = 0; i < count; i++) {
        Cell word = block_at(&block.cell, &count)[i];
        if (cell_type(&word) == T_SET_WORD) context_add_word_of(context.node, &word);
    }
    return context_word_count(context.node) > before;
}

Cell* context_symbol_value(uint32_t symbol, Node context) {
    if (context_cell(context)->header & CONTEXT_ON_STACK) context = global_context;
    int32_t index = context_find_word(context, symbol, true);
    if (index < 0 || !values_in_block(context)) return nullptr;
    SeriesBuffer* b = series_buffer(context_values(context));
    if (uint32_t(index) >= b->length()) return nullptr;
    return block_cells(b) + index;
}

// ---- the global context -------------------------------------------------------------------------------

// Adds the symbol to the global context when absent (by exact or resolved
// lookup); a later spelling shares the slot of the spelling already there.
// Returns the entry's position in the word list.
static uint32_t global_entry(uint32_t symbol, bool resolved) {
    int32_t added = -1;
    int32_t position = word_list_find(word_table(global_context), symbol, resolved, global_context, &added);
    if (position >= 0) return uint32_t(position);
    if (symbol_alias(symbol) > 0) {
        int32_t first = word_list_find(word_table(global_context), symbol, true, 0, nullptr);
        word_index_set(context_word_at(global_context, uint32_t(added)),
                       word_index(context_word_at(global_context, uint32_t(first))));
    }
    // The value block keeps the word list's length.
    cell_init(cell_series_append(context_values(global_context)), T_UNSET);
    return uint32_t(added);
}

static Cell global_intern(uint32_t symbol, bool resolved) {
    uint32_t position;
    if (!resolved && symbol < global_positions.size() && global_positions[symbol]) {
        position = global_positions[symbol] - 1;
    } else {
        position = global_entry(symbol, resolved);
        if (!resolved) {
            if (symbol >= global_positions.size()) global_positions.resize(size_t(symbol) * 2 + 64, 0);
            global_positions[symbol] = position + 1;
        }
    }
    Cell* logged = startup_logging ? cell_series_append(series_node(&root_cell)) : nullptr;
    Cell word = *context_word_at(global_context, position);
    word.header = T_WORD;
    word.w2 = symbol;  // the spelling asked for, at the shared slot
    if (logged) *logged = word;
    return word;
}

Cell word_intern(const char* text) { return global_intern(symbol_make(text), true); }
Cell word_intern_symbol(uint32_t symbol) { return global_intern(symbol, false); }

// ---- binding ------------------------------------------------------------------------------------------

int32_t bind_word(Node context, Cell* word) {
    int32_t index = context_find_word(context, word_symbol(word), true);
    if (index < 0) return -1;
    word_bind_set(word, context, uint32_t(index));
    return index;
}

// For one bind into a small context: its slots by resolved symbol (slot + 1;
// 0: absent), so that each word of the block costs one array read instead of
// a word-list look-up. Filled before the walk and emptied after it; a large
// context (the global one) is looked up word by word instead.
constexpr uint32_t BIND_INDEX_MAX_WORDS = 64;
static std::vector<uint32_t> bind_slots;
static bool bind_index_on = false;

struct BindIndex {
    Node context;
    bool on = false;
    explicit BindIndex(Node node) : context(node) {
        uint32_t count = context_word_count(node);
        if (bind_index_on || count > BIND_INDEX_MAX_WORDS) return;
        uint32_t known;
        const Cell* symbols = symbol_cells_now(&known);
        if (bind_slots.size() <= known) bind_slots.resize(size_t(known) + 1, 0);
        for (uint32_t i = 0; i < count; i++) {
            const Cell* word = context_word_at(node, i);
            uint32_t canonical = symbol_resolve_in(symbols, known, word_symbol(word));
            if (canonical < bind_slots.size() && !bind_slots[canonical])
                bind_slots[canonical] = word_index(word) + 1;
        }
        on = bind_index_on = true;
    }
    ~BindIndex() {
        if (!on) return;
        for (uint32_t i = 0, count = context_word_count(context); i < count; i++) {
            uint32_t canonical = symbol_resolve(word_symbol(context_word_at(context, i)));
            if (canonical < bind_slots.size()) bind_slots[canonical] = 0;
        }
        bind_index_on = false;
    }
    BindIndex(const BindIndex&) = delete;
    BindIndex& operator=(const BindIndex&) = delete;
};

// Binds one word through the index when it is on.
static void bind_word_indexed(Node context, Cell* word, const Cell* symbols, uint32_t known) {
    if (!bind_index_on) {
        bind_word(context, word);
        return;
    }
    uint32_t canonical = symbol_resolve_in(symbols, known, word_symbol(word));
    uint32_t slot = canonical < bind_slots.size() ? bind_slots[canonical] : 0;
    if (!slot) return;
    word_bind_set(word, context, slot - 1);
}

// Binding allocates nothing, so cells are walked in place.
static void bind_series(Node series, int32_t position, Node context, bool self, uint32_t self_symbol) {
    if (cycles_find(series)) return;
    CycleGuard guard(series);
    SeriesBuffer* b = series_buffer(series);
    uint32_t length = b->length();
    Cell* cells = block_cells(b);
    uint32_t known;
    const Cell* symbols = symbol_cells_now(&known);
    for (uint32_t i = position < 0 ? 0 : uint32_t(position); i < length; i++) {
        Cell* c = &cells[i];
        switch (cell_type(c)) {
        case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH:
        case T_GET_PATH: case T_HASH:
            bind_series(series_node(c), series_index(c), context, self, self_symbol);
            break;
        case T_WORD:
            if (self && self_symbol && word_symbol(c) == self_symbol) {
                word_bind_set(c, context, WORD_UNBOUND);
                break;
            }
            bind_word_indexed(context, c, symbols, known);
            break;
        case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT:
            bind_word_indexed(context, c, symbols, known);
            break;
        default: break;
        }
    }
}

void bind_block(const Cell* block, Node context, bool self) {
    BindIndex index(context);
    bind_series(series_node(block), series_index(block), context, self, runtime_symbol(SYM_SELF));
}

// ---- values ------------------------------------------------------------------------------------------

// The write of a resolved word into an existing slot with no change handler
// to call: nothing allocates, so no roots are needed. False when the general
// path must run (unresolved word, missing slot, a context without values to
// report, or a handler to notify).
static bool context_set_value_direct(const Cell* word, const Cell* value, Node node, bool notify) {
    uint32_t index = word_index(word);
    if (index == WORD_UNBOUND) return false;
    const Cell* c = context_cell(node);
    if (context_values_of(c) == 0) return false;
    if (c->header & CONTEXT_ON_STACK) {
        cell_copy(value, data_stack.bottom + (context_values_of(c) - 1) + index);
        return true;
    }
    SeriesBuffer* values = series_buffer(context_values_of(c));
    if (index >= values->length()) return false;
    const Cell* owner = c + 1;
    if (notify && change_notify && cell_type(owner) == T_OBJECT && object_info(owner) != 0)
        return false;
    if (context_kind(node) == CONTEXT_OBJECT && index < context_word_count(node))
        context_word_at(node, index)->header |= WORD_SLOT_WRITTEN;
    cell_copy(value, block_cells(values) + index);
    return true;
}

void context_set_value(Cell* word, const Cell* value, Node node, bool notify) {
    if (context_set_value_direct(word, value, node, notify)) return;
    NodeRoot context(node, ROOT_BLOCK);
    CellRoot held(*value);
    if (word_index(word) == WORD_UNBOUND) {
        Cell w = *word;
        int32_t index = context_find_word(context.node, word_symbol(&w), false);
        if (index < 0) index = context_add_word_of(context.node, &w);
        word_index_set(word, uint32_t(index));
    }
    uint32_t index = word_index(word);
    const Cell* c = context_cell(context.node);
    Node values = context_values_of(c);
    if (values == 0) {
        Cell w = *word;
        error_raise(ERR_NOT_DEFINED, &w);
    }
    if (c->header & CONTEXT_ON_STACK) {
        cell_copy(&held.cell, data_stack.bottom + (values - 1) + index);
        return;
    }
    if (context_kind(context.node) == CONTEXT_OBJECT && index < context_word_count(context.node))
        context_word_at(context.node, index)->header |= WORD_SLOT_WRITTEN;
    Cell* slot = values_slot(context, index);
    const Cell* owner = context_owner(context.node);
    if (!notify || !change_notify || cell_type(owner) != T_OBJECT || object_info(owner) == 0) {
        cell_copy(&held.cell, slot);
        return;
    }
    // Handlers run on stack copies: the slot itself may move while they run.
    Cell* owner_copy = stack_push(owner);
    Cell* word_copy = stack_push(word);
    Cell* old_value = stack_push(slot);
    cell_copy(&held.cell, slot);
    Cell* new_value = stack_push(&held.cell);
    change_notify(owner_copy, word_copy, old_value, new_value);
    stack_pop(4);
}

void word_set_notify(Cell* word, const Cell* value) {
    if (!word_context(word)) {
        Cell w = *word;
        error_raise(ERR_NOT_DEFINED, &w);
    }
    context_set_value(word, value, word_context(word), true);
}

Cell* context_get_value(Node node, const Cell* word) {
    if (word_index(word) == WORD_UNBOUND) {
        uint32_t self = runtime_symbol(SYM_SELF);
        if (word_family(cell_type(word)) && self && word_symbol(word) == self && word_context(word))
            return context_owner(word_context(word));
        Cell w = *word;
        error_raise(ERR_NO_VALUE, &w);
    }
    const Cell* c = context_cell(node);
    Node values = context_values_of(c);
    if (values == 0) {
        Cell w = *word;
        error_raise(ERR_NOT_IN_CONTEXT, &w);
    }
    if (c->header & CONTEXT_ON_STACK) return data_stack.bottom + (values - 1) + word_index(word);
    NodeRoot context(node, ROOT_BLOCK);
    return values_slot(context, word_index(word));
}

Cell* word_get(const Cell* word) {
    if (!word_context(word)) {
        Cell w = *word;
        error_raise(ERR_NO_VALUE, &w);
    }
    return context_get_value(word_context(word), word);
}

} // namespace kel
