// The word family: constructors, slot access for natives, and the actions of
// word!, set-word!, lit-word!, get-word!, refinement! and issue!.
#include "core/block.hpp"
#include "core/word.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/vocabulary.hpp"
#include "core/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/start.hpp"

namespace kel {

// ---- constructors ------------------------------------------------------------------------

void word_make_at(Cell* out, uint8_t type, uint32_t symbol, Node context, uint32_t index) {
    cell_init(out, type);
    out->w1 = context;
    out->w2 = symbol;
    out->w3 = index;
}

void word_make_global(Cell* out, uint32_t symbol) {
    Cell word = word_intern_symbol(symbol);
    *out = word;
}

Cell* word_make_in(uint32_t symbol, Node parent_node) {
    NodeRoot parent(parent_node, ROOT_BLOCK);
    Cell word = word_intern_symbol(symbol);
    return cell_series_append_value(parent.node, &word);
}

Cell* word_push(uint32_t symbol) {
    Cell word = word_intern_symbol(symbol);
    return stack_push(&word);
}

Cell* word_push_as(const Cell* word, uint8_t type) {
    Cell* cell = stack_push(word);
    cell_type_set(cell, type);
    return cell;
}

Cell* word_push_local(Node context, uint32_t n) {
    Cell word = *context_word_at(context, n);
    return stack_push(&word);
}

Cell* get_word_push_local(Node context, uint32_t n) {
    Cell* cell = word_push_local(context, n);
    cell_type_set(cell, T_GET_WORD);
    return cell;
}

Cell* refinement_push_local(Node context, uint32_t n) {
    Cell* cell = word_push_local(context, n);
    cell_type_set(cell, T_REFINEMENT);
    return cell;
}

void issue_make(Cell* out, const char* text) {
    uint32_t symbol = symbol_make(text);
    word_make_at(out, T_ISSUE, symbol, global_context);
}

Cell* issue_make_in(const char* text, Node parent_node) {
    NodeRoot parent(parent_node, ROOT_BLOCK);
    Cell issue;
    issue_make(&issue, text);
    if (startup_logging) return cell_series_append_value(parent.node, &issue);
    Cell* cell = stack_push_slot();
    *cell = issue;
    return cell;
}

Cell* refinement_make_root(const char* text) {
    uint32_t symbol = symbol_make(text);
    Cell* cell = cell_series_append(series_node(&root_cell));
    word_make_at(cell, T_REFINEMENT, symbol);
    return cell;
}

// ---- values ----------------------------------------------------------------------------------

Cell* word_get_checked(const Cell* word) {
    Cell w = *word;
    Cell value = *word_get(&w);
    if (cell_type(&value) == T_UNSET) error_raise(ERR_NO_VALUE, &w);
    return stack_push(&value);
}

Cell* word_push_value(const Cell* word) {
    Cell w = *word;
    Cell value = *word_get(&w);
    return stack_push(&value);
}

Cell* context_value_address(Node context, uint32_t n) {
    const Cell* c = context_cell(context);
    if ((c->header & CONTEXT_ON_STACK) || context_values_of(c) == 0) return nullptr;
    SeriesBuffer* b = series_buffer(context_values_of(c));
    if (n >= b->length()) return nullptr;
    return block_cells(b) + n;
}

// A copy of value n of a context: from the running frame when the values
// live on the stack, unset for a slot the value block does not reach yet. A
// context without values (a function not running) raises script error
// not-defined with word n.
static Cell slot_read(Node context, uint32_t n) {
    const Cell* c = context_cell(context);
    if (context_values_of(c) == 0) {
        Cell word = *context_word_at(context, n);
        error_raise(ERR_NOT_DEFINED, &word);
    }
    if (c->header & CONTEXT_ON_STACK) return data_stack.bottom[context_values_of(c) - 1 + n];
    const Cell* slot = context_value_address(context, n);
    if (slot) return *slot;
    Cell unset;
    cell_init(&unset, T_UNSET);
    return unset;
}

Cell* word_get_in_context(Node context, uint32_t n) {
    Cell value = slot_read(context, n);
    return stack_push(&value);
}

Cell* word_set_from_arg(Cell* word) {
    const Cell* value = &data_stack.args[1];
    if (cell_type(value) == T_UNSET) {
        Cell w = *word;
        error_raise(ERR_NEED_VALUE, &w);
    }
    word_set(word, value);
    return stack_push(&data_stack.args[1]);
}

// Writes slot n of the context from a cell on the data stack (which does not
// move), without change notification.
static void slot_write(Node context, uint32_t n, const Cell* value) {
    Cell word = *context_word_at(context, n);
    context_set_value(&word, value, context, false);
}

void word_set_local(Node context, uint32_t n) { slot_write(context, n, stack_top()); }

void word_set_local_from(Node context, uint32_t n) {
    Cell* value = stack_top();
    Cell old = slot_read(context, n);
    stack_push(&old);
    slot_write(context, n, value);
}

Cell* word_to_string(const Cell* word) {
    Node string = symbol_get(word_symbol(word))->w2;
    Cell* cell = stack_push_new(T_STRING);
    cell->w2 = string;
    return cell;
}

// ---- form and mold ----------------------------------------------------------------------------

// Appends the word's name (the symbol's cached string) and returns the budget
// less its length in characters.
static int32_t name_append(const Cell* word, Cell* target, int32_t budget) {
    symbol_get(word_symbol(word));  // makes the cached string before the cell is held
    CellRoot symbol(*symbol_get(word_symbol(word)));
    string_concatenate(target, &symbol.cell, -1, 0, true, CONCAT_APPEND);
    return budget - int32_t(series_buffer_of(&symbol.cell)->length());
}

int32_t word_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                  int32_t) {
    return name_append(value, target, budget);
}

int32_t word_mold(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                  int32_t) {
    return name_append(value, target, budget);
}

// The molds that write one character before the name.
static int32_t prefixed_mold(const Cell* value, Cell* target, char prefix, int32_t budget) {
    string_append_char(target, uint8_t(prefix));
    return name_append(value, target, budget - 1);
}

int32_t set_word_mold(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                      int32_t) {
    budget = name_append(value, target, budget);
    string_append_char(target, ':');
    return budget - 1;
}

int32_t lit_word_mold(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                      int32_t) {
    return prefixed_mold(value, target, '\'', budget);
}

int32_t get_word_mold(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                      int32_t) {
    return prefixed_mold(value, target, ':', budget);
}

int32_t refinement_mold(const Cell* value, Cell* target, bool, bool, bool, bool,
                        int32_t budget, int32_t) {
    return prefixed_mold(value, target, '/', budget);
}

int32_t issue_mold(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                   int32_t) {
    return prefixed_mold(value, target, '#', budget);
}

// ---- comparison ---------------------------------------------------------------------------------

static bool word_lit_pair(uint8_t a, uint8_t b) {
    return (a == T_WORD && b == T_LIT_WORD) || (a == T_LIT_WORD && b == T_WORD);
}

// The two names compared as strings by the operation code.
static int32_t names_compare(uint32_t symbol1, uint32_t symbol2, int32_t op) {
    symbol_get(symbol1);
    symbol_get(symbol2);  // both cached strings exist from here on; nothing allocates
    Cell s1 = *symbol_get(symbol1);
    Cell s2 = *symbol_get(symbol2);
    return string_compare_values(&s1, &s2, op, false);
}

int32_t word_compare(const Cell* value1, const Cell* value2, int32_t op) {
    uint8_t t1 = cell_type(value1), t2 = cell_type(value2);
    if (!word_type_q(t2) || (t2 == T_ISSUE && t1 != T_ISSUE)) return COMPARE_INCOMPARABLE;
    bool resolved_equal = symbol_resolve(word_symbol(value1)) == symbol_resolve(word_symbol(value2));
    switch (op) {
    case CMP_SAME:
        return word_symbol(value1) == word_symbol(value2) && word_context(value1) == word_context(value2) && t1 == t2 ? 0 : 1;
    case CMP_FIND_MODE1:
        if (word_lit_pair(t1, t2)) return word_symbol(value1) == word_symbol(value2) ? 0 : 1;
        [[fallthrough]];
    case CMP_STRICT_EQUAL:
        return t1 == t2 && word_symbol(value1) == word_symbol(value2) ? 0 : 1;
    case CMP_FIND_MODE2:
        if (word_lit_pair(t1, t2)) return resolved_equal ? 0 : 1;
        return t1 == t2 && resolved_equal ? 0 : 1;
    case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_FIND:
        return resolved_equal ? 0 : 1;
    default:
        return names_compare(word_symbol(value1), word_symbol(value2), op);
    }
}

int32_t issue_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_ISSUE) return COMPARE_INCOMPARABLE;
    return word_compare(value1, value2, op);
}

void word_index_q(Cell* value) {
    uint32_t index = word_index(value);
    if (index == WORD_UNBOUND) {
        none_make_at(value);
    } else {
        cell_init(value, T_INTEGER);
        value->w2 = index + 1;
    }
}

// ---- make and to -------------------------------------------------------------------------------

[[noreturn]] static void bad_to_arg(uint8_t type, const Cell* value) {
    Cell arg = *value;
    error_raise_type(ERR_BAD_TO_ARG, type, &arg);
}

[[noreturn]] static void invalid_chars(const Cell* value) {
    Cell arg = *value;
    error_raise(ERR_INVALID_CHARS, &arg);
}

// A one-character string! pushed on the data stack.
static Cell* char_string_push(uint32_t codepoint) {
    Cell* string = stack_push_new(T_STRING);
    string_make_at(string, 1);
    string_append_char(string, codepoint);
    return string;
}

// The word a string! (from its position) scans as: the whole text must scan
// as exactly one value of a word type; otherwise, lexer errors included,
// script error invalid-chars with the string.
static Cell word_scan_string(const Cell* string) {
    CellRoot text(*string);
    Cell* values = stack_push_new(T_NONE);
    StackState saved = stack_save();
    bool scanned = true;
    try {
        lexer_scan_string(values, &text.cell, -1, LexerOptions{}, nullptr);
    } catch (const LanguageError&) {
        stack_restore(saved);
        scanned = false;
    }
    if (!scanned || cell_type(values) != T_BLOCK || series_buffer_of(values)->length() != 1)
        invalid_chars(&text.cell);
    Cell word = *block_cells(series_node(values));
    stack_pop(1);
    if (!word_type_q(cell_type(&word))) invalid_chars(&text.cell);
    return word;
}

// A refinement or issue converted to another word type keeps its name when
// the name's first value scans as a word!, set-word!, lit-word! or get-word!;
// the result is bound to the global context when its symbol is there.
// Anything else, lexer errors included, raises script error bad-to-arg.
static Cell word_rescan_name(const Cell* word, uint8_t type) {
    CellRoot held(*word);  // the error's argument when the name does not scan
    const Cell& source = held.cell;
    Cell* first = stack_push_new(T_NONE);
    StackState saved = stack_save();
    LexerOptions options;
    options.one = true;
    bool scanned = true;
    try {
        uint32_t length;
        const uint8_t* name = symbol_name(word_symbol(&source), &length);
        lexer_transcode(first, name, length, options, nullptr);
    } catch (const LanguageError&) {
        stack_restore(saved);
        scanned = false;
    }
    uint8_t scanned_type = cell_type(first);
    stack_pop(1);
    if (!scanned || scanned_type < T_WORD || scanned_type > T_GET_WORD) bad_to_arg(type, &source);
    Cell result;
    word_make_at(&result, type, word_symbol(&source));
    bind_word(global_context, &result);
    return result;
}

const Cell* word_make(Cell* proto, const Cell* spec, uint8_t type) {
    Cell result;
    switch (cell_type(spec)) {
    case T_DATATYPE: {
        const DatatypeName* entry =
            datatype_id(spec) < TYPE_COUNT ? datatype_name(uint8_t(datatype_id(spec))) : datatype_name(0);
        if (entry->name == nullptr) bad_to_arg(type, spec);
        result = word_intern(entry->name);
        break;
    }
    case T_LOGIC:
        word_make_global(&result, runtime_symbol(logic_get(spec) ? SYM_TRUE : SYM_FALSE));
        break;
    case T_STRING:
        result = word_scan_string(spec);
        break;
    case T_CHAR: {
        Cell* string = char_string_push(uint32_t(cell_int(spec)));
        result = word_scan_string(string);
        stack_pop(1);
        break;
    }
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD:
        result = *spec;
        break;
    case T_REFINEMENT: case T_ISSUE:
        result = word_rescan_name(spec, type);
        break;
    default:
        bad_to_arg(type, spec);
    }
    cell_type_set(&result, type);
    *proto = result;
    return proto;
}

const Cell* issue_make_action(Cell* proto, const Cell* spec, uint8_t type) {
    Cell result;
    switch (cell_type(spec)) {
    case T_STRING: {
        CellRoot string(*spec);
        uint32_t symbol = symbol_make_from_string(&string.cell);
        word_make_at(&result, T_ISSUE, symbol, global_context);
        break;
    }
    case T_CHAR: {
        uint8_t utf8[4];
        uint32_t length = utf8_encode_char(uint32_t(cell_int(spec)), utf8);
        uint32_t symbol = symbol_make_counted(utf8, length);
        word_make_at(&result, T_ISSUE, symbol, global_context);
        break;
    }
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT:
    case T_ISSUE:
        result = *spec;
        cell_type_set(&result, T_ISSUE);
        break;
    default:
        return word_make(proto, spec, type);
    }
    *proto = result;
    return proto;
}

// ---- registration ----------------------------------------------------------------------------

void init_word() {
    const ActionRow actions[] = {
        {A_MAKE, word_make},
        {A_TO, word_make},
        {A_FORM, word_form},
        {A_MOLD, word_mold},
        {A_COMPARE, word_compare},
        {A_INDEX_Q, word_index_q},
    };
    datatype_register(T_WORD, T_SYMBOL, "word!", actions);
}

// A child of word! inheriting make, to, form and compare (and index? when
// asked), with a mold of its own.
static void word_child_register(uint8_t type, const char* name, ActionFn mold, bool index) {
    const ActionRow actions[] = {
        {A_MAKE, ACTION_INHERIT}, {A_TO, ACTION_INHERIT}, {A_FORM, ACTION_INHERIT},
        {A_MOLD, mold},
        {A_COMPARE, ACTION_INHERIT},
        {A_INDEX_Q, index ? ACTION_INHERIT : ACTION_NONE},
    };
    datatype_register(type, T_WORD, name, actions);
}

void init_set_word() { word_child_register(T_SET_WORD, "set-word!", action_fn(&set_word_mold), true); }
void init_lit_word() { word_child_register(T_LIT_WORD, "lit-word!", action_fn(&lit_word_mold), true); }
void init_get_word() { word_child_register(T_GET_WORD, "get-word!", action_fn(&get_word_mold), true); }
void init_refinement() {
    word_child_register(T_REFINEMENT, "refinement!", action_fn(&refinement_mold), false);
}

void init_issue() {
    const ActionRow actions[] = {
        {A_MAKE, issue_make_action},
        {A_TO, issue_make_action},
        {A_FORM, ACTION_INHERIT},
        {A_MOLD, issue_mold},
        {A_COMPARE, issue_compare},
    };
    datatype_register(T_ISSUE, T_WORD, "issue!", actions);
}

} // namespace kel
