// typeset!: a set of datatypes held in the cell itself. The three payload
// words are read as a 12-byte array (word 1 first, each word's bytes in
// memory order); type id t is the bit 0x80 >> (t mod 8) of byte t div 8, so
// the high bit of byte 0 stands for type 0. No memory is allocated for a
// typeset. Bits above the highest registered type id may be set; listing and
// counting ignore them.
#pragma once
#include "runtime/cell.hpp"
#include "core/registry.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

constexpr uint32_t TYPESET_BITS = 96;

// ---- the mask -----------------------------------------------------------------------------

// Whether the typeset holds the type id (ids of 96 and above never).
inline bool typeset_has(const Cell* typeset, uint8_t type) {
    if (type >= TYPESET_BITS) return false;
    return (reinterpret_cast<const uint8_t*>(&typeset->w1)[type >> 3] & (0x80 >> (type & 7))) != 0;
}
// True when every type of a is in b.
inline bool typeset_subset_q(const Cell* a, const Cell* b) {
    return ((a->w1 & ~b->w1) | (a->w2 & ~b->w2) | (a->w3 & ~b->w3)) == 0;
}
// Adds or removes one type id (ids of 96 and above are ignored).
void typeset_add_type(Cell* typeset, uint8_t type);
void typeset_remove_type(Cell* typeset, uint8_t type);
// The number of types set among ids 1 to the highest registered id.
uint32_t typeset_count(const Cell* typeset);

// ---- constructors -------------------------------------------------------------------------

// An empty typeset, or one of the listed type ids, written into the cell.
void typeset_make_at(Cell* out, const uint8_t* types = nullptr, uint32_t count = 0);
// A typeset of the given three mask words, written into the cell.
void typeset_make_words_at(Cell* out, uint32_t w1, uint32_t w2, uint32_t w3);
// Every bit set except that of unset!.
void typeset_all_but_unset_at(Cell* out);

// The same appended at the tail of a block series (valid until the next
// allocation): from three mask words, and every type but unset!.
Cell* typeset_make_in(Node parent, uint32_t w1, uint32_t w2, uint32_t w3);
Cell* typeset_all_but_unset(Node parent);
// A copy pushed on the data stack.
Cell* typeset_push(const Cell* typeset);

// Appends to the block the typeset of a function's type block (from its
// position): a word! entry is replaced by its value (unset raises script error
// no-value); a datatype! adds its bit; a typeset! is OR-ed in; a word! value
// adds object!; a nested block! is skipped; anything else raises script error
// invalid-type-spec with the entry. The type block must not lie in a series
// buffer. Returns the appended cell, valid until the next allocation.
Cell* typeset_from_spec(Node parent, const Cell* types);
// Adds a value: a word! is replaced by its value (checked as above); a
// typeset! is OR-ed in; a datatype! adds its bit; anything else raises script
// error invalid-arg with the value.
void typeset_add(Cell* typeset, const Cell* value);
// Appends the word of every type whose bit is set, ids 1 to the highest
// registered id, in id order.
void typeset_to_block(const Cell* typeset, Node block);

// ---- set operations ---------------------------------------------------------------------

// Operation codes of the set-operation kernel.
enum TypesetOp : int32_t {
    TYPESET_OR = 5, TYPESET_AND = 6, TYPESET_XOR = 7, TYPESET_UNIQUE = 8,
    TYPESET_UNION = 9, TYPESET_INTERSECT = 10, TYPESET_EXCLUDE = 11, TYPESET_DIFFERENCE = 12,
};
// value1 (a typeset) op value2 (a typeset!, or a datatype! taken as a
// one-type set; anything else raises script error invalid-arg); the result
// replaces value1.
void typeset_set_op_at(Cell* value1, const Cell* value2, int32_t op);
// The kernel on the running frame's two arguments; the result is ARGS[0].
void typeset_set_op(int32_t op);

// ---- actions -------------------------------------------------------------------------------

const Cell* typeset_make(Cell* proto, const Cell* spec, uint8_t type);
int32_t typeset_form(const Cell* value, Cell* target, bool only, bool all, bool flat,
                     bool part, int32_t budget, int32_t indent);
int32_t typeset_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                     bool part, int32_t budget, int32_t indent);
int32_t typeset_compare(const Cell* value1, const Cell* value2, int32_t op);
void typeset_and_t(Cell* value1, const Cell* value2);
void typeset_or_t(Cell* value1, const Cell* value2);
void typeset_xor_t(Cell* value1, const Cell* value2);
const Cell* typeset_complement(Cell* value);
// find: true when the datatype's bit is set; any other value raises script
// error invalid-arg. The result is a constant logic! cell.
const Cell* typeset_find(Cell* series, const Cell* value, const FindOptions& options);

void init_typeset();

} // namespace kel
