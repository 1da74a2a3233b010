// The word family: word!, set-word!, lit-word!, get-word!, refinement! and
// issue! share one cell layout: word 1 the context node the word is bound to
// (0 for none), word 2 the symbol id, word 3 the slot index in that context
// (WORD_UNBOUND until resolved). They differ in how the interpreter treats
// them and how they print. Reading and writing slots (word_get, word_set,
// context_set_value) live in core/context.hpp.
#pragma once
#include "runtime/cell.hpp"
#include "core/context.hpp"
#include "core/registry.hpp"
#include "core/word_cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

// Whether the type id is one of the six word types.
inline bool word_type_q(uint8_t type) { return type >= T_WORD && type <= T_ISSUE; }

// ---- constructors ------------------------------------------------------------------------

// A word-family cell of the type with the given binding, written as it stands.
void word_make_at(Cell* out, uint8_t type, uint32_t symbol, Node context = 0,
                  uint32_t index = WORD_UNBOUND);
// A word! bound to the global context; the symbol is added there when absent
// and the slot index is written into the cell.
void word_make_global(Cell* out, uint32_t symbol);
// The same at the tail of a block (valid until the next allocation) and on the
// data stack.
Cell* word_make_in(uint32_t symbol, Node parent);
Cell* word_push(uint32_t symbol);
// A copy of word n of the context's word list (a word bound to that context),
// pushed; the _local retyped forms push it as get-word! or refinement!.
Cell* word_push_local(Node context, uint32_t n);
Cell* get_word_push_local(Node context, uint32_t n);
Cell* refinement_push_local(Node context, uint32_t n);
// A copy of a word cell pushed retyped (flags kept).
Cell* word_push_as(const Cell* word, uint8_t type);
inline Cell* set_word_push(const Cell* word) { return word_push_as(word, T_SET_WORD); }
inline Cell* lit_word_push(const Cell* word) { return word_push_as(word, T_LIT_WORD); }
inline Cell* get_word_push(const Cell* word) { return word_push_as(word, T_GET_WORD); }
inline Cell* refinement_push(const Cell* word) { return word_push_as(word, T_REFINEMENT); }
inline Cell* issue_push(const Cell* word) { return word_push_as(word, T_ISSUE); }

// An issue! of the text: {global context, symbol of the text, unresolved};
// it is never added to the global word list.
void issue_make(Cell* out, const char* text);
// While start-up logging is on, appended at the tail of the parent block (the
// root block); otherwise pushed on the data stack. Valid until the next
// allocation.
Cell* issue_make_in(const char* text, Node parent);
// A refinement! of the text with no context, appended at the tail of the root
// block. Valid until the next allocation.
Cell* refinement_make_root(const char* text);

// ---- values ----------------------------------------------------------------------------------

// Pushes a copy of the word's value; an unset value raises script error
// no-value with the word.
Cell* word_get_checked(const Cell* word);
// Pushes a copy of the word's value without the unset check.
Cell* word_push_value(const Cell* word);
// Pushes a copy of value n of the context (from the running frame when its
// values live on the stack); a context without values raises script error
// not-defined.
Cell* word_get_in_context(Node context, uint32_t n);
// The address of value n of a context whose values live in a block, or null
// for a context without such a block or an n past its end. Valid until the
// next allocation.
Cell* context_value_address(Node context, uint32_t n);
// Sets the word to the current frame's second argument cell and returns a
// copy of the value on the stack; an unset value raises script error
// need-value with the word.
Cell* word_set_from_arg(Cell* word);
// Copies the stack's top value into slot n of the context (the word-list
// entry of an object context is flagged written).
void word_set_local(Node context, uint32_t n);
// Pushes a copy of slot n's present value, then stores into slot n the value
// that was on top of the stack before the push.
void word_set_local_from(Node context, uint32_t n);
// Pushes a string! at index 0 that shares the symbol's cached string.
Cell* word_to_string(const Cell* word);

// ---- actions ----------------------------------------------------------------------------------

const Cell* word_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* issue_make_action(Cell* proto, const Cell* spec, uint8_t type);
int32_t word_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
int32_t word_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
int32_t set_word_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                      bool part, int32_t budget, int32_t indent);
int32_t lit_word_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                      bool part, int32_t budget, int32_t indent);
int32_t get_word_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                      bool part, int32_t budget, int32_t indent);
int32_t refinement_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                        bool part, int32_t budget, int32_t indent);
int32_t issue_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t word_compare(const Cell* value1, const Cell* value2, int32_t op);
int32_t issue_compare(const Cell* value1, const Cell* value2, int32_t op);
// index?: the integer! slot index + 1 of a bound word, or none when
// unresolved; the result is written into the value's cell.
void word_index_q(Cell* value);

void init_word();
void init_set_word();
void init_lit_word();
void init_get_word();
void init_refinement();
void init_issue();

} // namespace kel
