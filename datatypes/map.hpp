// map!: the dictionary. An insertion-ordered list of key/value pairs kept in an
// ordinary block (pair k in cells 2k and 2k+1) with a hash index over the keys.
//
// A map cell: word 1 the storage's head index (0), word 2 the storage block's
// node, word 3 the node of its hash table (kind HASH_MAP). A removed pair keeps
// its key cell and its index entry; its value cell's header is 0, every reader
// skips it, and setting the same key again revives it in place. The table's
// live count excludes removed pairs.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

struct FindOptions;  // core/registry.hpp

// Equality modes of key lookups (comparison op codes).
constexpr int32_t MAP_LOOKUP_EQUAL = 0;   // equal?: text ignores case
constexpr int32_t MAP_LOOKUP_STRICT = 2;  // strict-equal?
constexpr int32_t MAP_LOOKUP_SAME = 9;    // same?

// Whether values of the type can be map keys (also the lexer's test for "#[").
bool map_key_type_q(uint8_t type);
// Normalises a key cell in place before it is stored: a word of any kind
// becomes a bare set-word!, a series key a fresh copy from its position. Any
// other type that cannot be a key raises script error invalid-path with the
// path (none when there is none) and the key's datatype. The cell must not lie
// in a series buffer.
void map_key_prepare(Cell* key, const Cell* path);

// Builds a map in cell (which must be on the data stack or rooted): over the
// given block's cells when block is not null (the block is used in place:
// pass a fresh copy), else over a new empty block of size cells. Duplicate
// keys keep the first key's position and the last value. Every key must be of
// a key type (script error invalid-path otherwise).
Cell* map_make_at(Cell* cell, const Cell* block, uint32_t size);
// Pushes a copy of a map cell.
Cell* map_push(const Cell* map);
// Live pairs.
uint32_t map_size(const Cell* map);

// The storage position of a live or removed key equal to key under a lookup
// mode, or -1.
int32_t map_find_key(const Cell* map, const Cell* key, int32_t mode);
// Sets a key (mode MAP_LOOKUP_STRICT with case_, else MAP_LOOKUP_EQUAL) to a
// value, adding the key when new; path is given to the key error.
void map_set_key(const Cell* map, const Cell* key, const Cell* value, bool case_,
                 const Cell* path);
// Adds or replaces the pairs of a block from its position; an odd cell count
// raises script error invalid-arg with the block.
void map_extend_block(const Cell* map, const Cell* block, bool case_);
// One step of foreach over a map: sets up to n words (n is 2 for foreach) to
// the keys and values from the cursor on, skipping removed pairs; a stored
// set-word key is given as a word!. Words left over get none. The cursor moves
// past the cells used. Answers whether any word was set. Both cells must be
// on the data stack or rooted.
bool map_foreach_next(const Cell* words, Cell* cursor, uint32_t n);
// The i-th value (from 0) of the map read as its keys and values in order
// from its position, removed pairs skipped, written into out: a stored
// set-word key is given as a word!. Past the last pair out becomes none and
// the answer is false.
bool map_cell_at(const Cell* map, uint32_t i, Cell* out);

// ---- actions ----------------------------------------------------------------------

const Cell* map_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* map_to(Cell* proto, const Cell* spec, uint8_t type);
void map_reflect(Cell* map, const Cell* field);
int32_t map_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                 int32_t budget, int32_t indent);
int32_t map_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                 int32_t budget, int32_t indent);
void map_eval_path(const Cell* parent, const Cell* element, const Cell* set_value,
                   const Cell* path, bool case_, Cell* out);
int32_t map_compare(const Cell* value1, const Cell* value2, int32_t op);
void map_clear(Cell* map);
void map_copy(Cell* map, const Cell* part, bool deep, const Cell* types);
const Cell* map_find(Cell* map, const Cell* key, const FindOptions& options);
int32_t map_length_q(const Cell* map);
void map_put(Cell* map, const Cell* key, const Cell* value, bool case_);
void map_remove(Cell* map, Cell* part, Cell* key);
const Cell* map_select(Cell* map, const Cell* key, const FindOptions& options);

void init_map();

} // namespace kel
