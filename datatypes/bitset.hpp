// bitset!: a set of non-negative integers kept as a bit array. Its layout and
// membership test live in core/bitset_bits.hpp; this module builds bitsets
// from specs, changes them, computes set operations and supplies the actions.
#pragma once
#include "core/bitset_bits.hpp"
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

struct FindOptions;  // core/registry.hpp

// Operations of the walk over a spec.
enum BitsetOp : int32_t { BITS_MEASURE = 0, BITS_SET = 1, BITS_TEST = 2, BITS_CLEAR = 3 };
// Who walks: make, to, or any other caller (whose bad values raise invalid-arg).
enum BitsetMode : int32_t { BITS_MAKE = 0, BITS_TO = 1, BITS_OTHER = 2 };

// ---- access ---------------------------------------------------------------------------

// Grows the stored bytes to hold bit n; new bytes are 0, or 255 when negated.
// The cell must be on the data stack or rooted.
void bitset_ensure_bit(Cell* bitset, uint32_t n);

// A new bitset of count zero bytes written into cell (rooted or on the stack).
Cell* bitset_make_at(Cell* cell, uint32_t count);

// Builds a bitset from a spec (mode BITS_MAKE or BITS_TO), written into out.
void bitset_make_from_spec(const Cell* spec, int32_t mode, Cell* out);
// Walks a spec value against the bitset: BITS_MEASURE and BITS_SET answer the
// largest code (at the top level, not nested, turned into a byte count),
// BITS_TEST answers 1 when every code of the value is a member, else 0.
int64_t bitset_spec_walk(const Cell* value, Cell* bitset, int32_t op, bool nested, int32_t mode);

// Set operations (SetOp codes of core/block.hpp, or 5 or~, 6 and~, 7 xor~) of
// a and b; the result replaces a.
void bitset_set_op(Cell* a, const Cell* b, int32_t op);

// ---- actions ------------------------------------------------------------------------

const Cell* bitset_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* bitset_to(Cell* proto, const Cell* spec, uint8_t type);
int32_t bitset_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent);
void bitset_eval_path(const Cell* parent, const Cell* element, const Cell* set_value,
                      const Cell* path, bool case_, Cell* out);
int32_t bitset_compare(const Cell* value1, const Cell* value2, int32_t op);
void bitset_negate(Cell* value);
const Cell* bitset_complement(Cell* value);
void bitset_and(Cell* value1, const Cell* value2);
void bitset_or(Cell* value1, const Cell* value2);
void bitset_xor(Cell* value1, const Cell* value2);
void bitset_append(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup,
                   bool append);
void bitset_clear(Cell* bitset);
void bitset_copy(Cell* bitset, const Cell* part, bool deep, const Cell* types);
const Cell* bitset_find(Cell* bitset, const Cell* value, const FindOptions& options);
int32_t bitset_length_q(const Cell* bitset);
void bitset_pick(Cell* bitset, const Cell* value);
void bitset_poke(Cell* bitset, const Cell* code, const Cell* value);
void bitset_remove(Cell* bitset, Cell* part, Cell* key);

void init_bitset();

} // namespace kel
