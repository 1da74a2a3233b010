// Contexts and binding. A context maps words to value slots: a node whose
// series holds exactly two cells, the context cell and the owner cell.
//
// The context cell (context!): the kind in header bits 11-12 (plain/global,
// function, object) and the flags below; word 1 the word list, a hash table of
// kind 2 over a series of word! cells {context, symbol, index}; word 2 the
// values: a block with one cell per word in word-list order, or, for a context
// whose values live on the data stack, 0 while its function is not running and
// else the data-stack index of the frame's first argument cell + 1.
// The owner cell: a copy of the object or function value that owns the
// context; unset for plain contexts.
//
// A word cell carries the node of the context it is bound to and its slot
// index there (-1 while unresolved), so reading or writing a bound word is an
// index operation. In the global context a spelling added after its canonical
// spelling shares that spelling's slot: its entry's index is the shared one.
//
// Cells given to functions that may allocate (adding words, setting values,
// creating contexts) must not lie in a series buffer: keep them on the data
// stack or in a root holder.
#pragma once
#include "core/block.hpp"
#include "runtime/cell.hpp"
#include "core/stack.hpp"
#include "core/word_cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

enum ContextKind : uint32_t { CONTEXT_PLAIN = 0, CONTEXT_FUNCTION = 1, CONTEXT_OBJECT = 2 };

constexpr uint32_t CONTEXT_KIND_SHIFT = 11;
constexpr uint32_t CONTEXT_KIND_MASK = 0x1800;
constexpr uint32_t CONTEXT_ON_STACK = 0x400000;        // values live on the data stack
constexpr uint32_t CONTEXT_OBJECT_FLAG = 0x1000000;    // object context made at run time
constexpr uint32_t CONTEXT_OWNS_SERIES = 0x10000;      // recorded as owner of its series
constexpr uint32_t WORD_SLOT_WRITTEN = 0x2000;         // object word-list entry: slot written

constexpr uint32_t GLOBAL_CONTEXT_SLOTS = 4000;
constexpr uint32_t WORD_UNBOUND = 0xFFFFFFFF;          // slot index of an unresolved word

// The global context's node (the collector re-points it).
extern Node global_context;
// The library's own context (core/library_context.hpp), 0 until the library
// is sealed; a root of the collector like the global context.
extern Node library_context;
// Start-up: the global context (4,000 slots, plain, values in a block), its
// collector root and the markers of context! and the word family.
void global_context_new();

// ---- creation ---------------------------------------------------------------------------

// A new context. A size of 0 is taken as 1. With values on the stack there is
// no value block; otherwise an empty one with room for size cells. The word
// list is new, or a copy of the source context's with every entry bound to
// the new context.
Node context_create(uint32_t size, bool on_stack, bool object, Node source, uint32_t kind);
// A context of the words, get-words, lit-words and refinements of a spec block
// from its position, in order (a second spelling of a word adds nothing);
// with values in a block, one unset value per word.
Node context_make_from_spec(const Cell* spec, bool on_stack, bool object, uint32_t kind);
// A context with a copy of the owner value's word list bound to it, the same
// stack and object flags and an empty value block; the owner's context field
// (word 1) is replaced by it. Returns the new context.
Node context_clone(Cell* owner, uint32_t kind);

// The context cell and the owner cell; valid until the next allocation.
inline Cell* context_cell(Node context) {
    return block_cells(context);
}
inline Cell* context_owner(Node context) { return context_cell(context) + 1; }
// The word-list and value-block nodes of a context cell; the word list of a
// context node.
inline Node context_words_of(const Cell* context) { return context->w1; }
inline Node context_values_of(const Cell* context) { return context->w2; }
inline Node context_words(Node context) { return context_cell(context)->w1; }
uint32_t context_kind(Node context);

// ---- words ------------------------------------------------------------------------------------

// The slot index of a symbol, or -1; resolved compares resolved aliases.
int32_t context_find_word(Node context, uint32_t symbol, bool resolved);
// As context_find_word; when absent, adds a word-list entry, writes its slot
// index to *index and returns -1.
int32_t context_find_or_add(Node context, uint32_t symbol, bool resolved, int32_t* index);
// Adds the word's symbol (resolved lookup); a new word of a context with a
// value block gets an unset value. Returns the slot index.
int32_t context_add_word_of(Node context, const Cell* word);
// Adds the word with the value when absent and returns true; when present
// changes nothing and returns false.
bool context_add_field(Node context, const Cell* word, const Cell* value);
// Adds the word with the value when absent, or overwrites its slot.
void context_put_field(Node context, const Cell* word, const Cell* value);
// Adds every set-word of the block from its position (clamped to the tail) to
// its tail; true when the word list grew.
bool context_collect_set_words(Node context, const Cell* block);
// The value of a symbol (resolved lookup), or null when absent. A context
// whose values live on the stack is looked up in the global context instead.
// Valid until the next allocation.
Cell* context_symbol_value(uint32_t symbol, Node context);

// The word at a position of the word list (valid until the next allocation),
// the word list's series node, and its length.
Cell* context_word_at(Node context, uint32_t index);
Node context_symbols(Node context);
uint32_t context_word_count(Node context);

// ---- the global context ----------------------------------------------------------------------

// Adds a name to the global context and returns its word (bound, with its
// slot index): word_intern by resolved lookup of the text's symbol, keeping
// the spelling asked for; word_intern_symbol by exact lookup. While
// startup_logging is set, the word is also appended to the root block.
Cell word_intern(const char* text);
Cell word_intern_symbol(uint32_t symbol);

// ---- binding ----------------------------------------------------------------------------------

// Binds a word to the context when its symbol is there (resolved lookup) and
// returns the slot index; else leaves the word alone and returns -1.
int32_t bind_word(Node context, Cell* word);
// Binds every word of the block deep, from its position; blocks, parens,
// paths and hashes inside are bound too, each series once per walk, so a
// block that contains itself is bound and the walk ends. With self, a word!
// spelled "self" gets the context and index -1 (it then reads the owner).
void bind_block(const Cell* block, Node context, bool self);

// ---- values -----------------------------------------------------------------------------------

// Writes a word's slot in the context. An unresolved word is looked up by its
// exact symbol and added when absent; its index is stored in the word. A
// context without values (a function not running) raises script error
// not-defined. In an object context the entry is flagged written, and with
// notify an object with change handlers gets its change notification.
void context_set_value(Cell* word, const Cell* value, Node context, bool notify);
// Writes a word's slot when that runs nothing and allocates nothing: a bound
// word of a plain or function context whose values are there (the values
// field of a stack context is the data-stack index of the frame's first
// argument cell + 1). False otherwise: objects notify their owner and flag
// the entry, unresolved words are looked up.
inline bool word_set_direct(const Cell* word, const Cell* value) {
    if (word_context(word) == 0 || word_index(word) == WORD_UNBOUND) return false;
    const Cell* c = context_cell(word_context(word));
    if (context_values_of(c) == 0 ||
        (c->header & CONTEXT_KIND_MASK) == CONTEXT_OBJECT << CONTEXT_KIND_SHIFT)
        return false;
    if (c->header & CONTEXT_ON_STACK) {
        cell_copy(value, data_stack.bottom + (context_values_of(c) - 1) + word_index(word));
        return true;
    }
    SeriesBuffer* b = series_buffer(context_values_of(c));
    if (word_index(word) >= (b->tail - b->head) >> 4) return false;
    cell_copy(value, block_cells(b) + word_index(word));
    return true;
}
// context_set_value with the word's own context and notify on.
void word_set_notify(Cell* word, const Cell* value);
inline void word_set(Cell* word, const Cell* value) {
    if (!word_set_direct(word, value)) word_set_notify(word, value);
}
// The address of the word's value cell (valid until the next allocation).
// An unresolved "self" reads the owner cell of the word's context; another
// unresolved word raises script error no-value; a context without values
// raises not-in-context.
Cell* context_get_value(Node context, const Cell* word);
Cell* word_get(const Cell* word);

// The change notification of objects, installed by the object module: runs
// on-change* of the owner with the word, the old and the new value.
using ChangeNotify = void (*)(Cell* owner, const Cell* word, const Cell* old_value,
                              const Cell* new_value);
void context_change_notify_set(ChangeNotify notify);

// ---- function contexts (the data stack's view) ---------------------------------------------------

// The raw values field: 0 while not running.
inline uint32_t context_values(Node context) { return context_cell(context)->w2; }
inline void context_values_set(Node context, uint32_t values) { context_cell(context)->w2 = values; }
// The same on a context cell in hand.
inline void context_values_set_at(Cell* context, uint32_t values) { context->w2 = values; }
// Points a stack context's values at the frame's first argument cell.
inline void context_values_set_args(Node context, Cell* args) {
    context_cell(context)->w2 = stack_index(args) + 1;
}

} // namespace kel
